// Arbitrary bytes through the composer of whole animations: it must give at
// least one frame, every one the size of the screen with a delay of at least
// 20 ms, or raise the invalid-picture or out-of-memory error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "flipreel/gif/gif_composer.h"
#include "flipreel/host/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const flipreel::ComposedAnimation animation = flipreel::ComposeGif(std::span(data, size));
    if (animation.frames.empty()) std::abort();
    for (const flipreel::ComposedFrame& frame : animation.frames) {
      const flipreel::Picture& p = frame.picture;
      if (p.width() != animation.width || p.height() != animation.height || frame.delay_ms < 20)
        std::abort();
      volatile uint32_t corner = p.data()->PixelArgb(p.width() - 1, p.height() - 1);
      (void)corner;
    }
  } catch (const flipreel::HostError& e) {
    if (e.number() != flipreel::err::kInvalidPicture && e.number() != flipreel::err::kOutOfMemory)
      std::abort();
  }
  return 0;
}
