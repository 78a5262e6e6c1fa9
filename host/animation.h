// An animation read whole from a GIF: every image of the file composed on the
// logical screen, with the time each is shown and the file's repeat count.
#pragma once

#include <cstdint>
#include <vector>

#include "flipreel/host/picture.h"

namespace flipreel {

struct ComposedFrame {
  Picture picture;       // the whole logical screen as it stands after this image
  int32_t delay_ms = 0;  // how long the picture is shown
};

struct ComposedAnimation {
  int32_t width = 0;  // the logical screen, pixels
  int32_t height = 0;
  std::vector<ComposedFrame> frames;
  // The file's repeat count: kPlayOnce without a looping extension, 0 to
  // repeat for ever, otherwise the number of repeats after the first play.
  static constexpr int32_t kPlayOnce = -1;
  int32_t repeat_count = kPlayOnce;
};

}  // namespace flipreel
