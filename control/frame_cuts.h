// Where the frame split cuts a GIF's bytes into single-frame files. A host
// that wants the frames decoded before the split runs cuts the same bytes
// the same way and hands the result to its decoder ahead of time.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "flipreel/host/host.h"

namespace flipreel {

struct FrameCuts {
  // The bytes, the size of the header block every frame file begins with,
  // and one chunk per frame, in file order.
  FrameFileList files;
  // How many of the chunks end at a frame signature; a last chunk after
  // them, when there is one, runs to two bytes before the end.
  size_t signatures = 0;
};

// None when the bytes hold no frame signature or do not begin with "GIF".
std::optional<FrameCuts> CutFrames(std::shared_ptr<const std::string> bytes);

}  // namespace flipreel
