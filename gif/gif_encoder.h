// Encoding of a picture as a single-image GIF file, for saving pictures with
// a form.
#pragma once

#include <optional>
#include <string>

#include "flipreel/host/picture.h"

namespace flipreel {

// The bytes of a GIF file that decodes (with DecodeGif) to exactly the pixels
// of the picture: one image the size of the picture, a global colour table,
// and a Graphic Control Extension naming the transparent colour when the
// picture has fully transparent pixels. No value when GIF cannot hold the
// picture exactly: more than 256 colours, partly transparent pixels, or no
// pixels at all. The empty picture has no value either.
std::optional<std::string> EncodeGif(const Picture& picture);

}  // namespace flipreel
