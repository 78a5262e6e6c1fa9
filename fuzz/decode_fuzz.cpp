// Arbitrary bytes through the GIF picture loader: it must either give a
// picture the size of the first image or raise the invalid-picture error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "flipreel/gif/gif_decoder.h"
#include "flipreel/host/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const flipreel::Picture picture = flipreel::DecodeGif(std::span(data, size));
    if (picture.IsEmpty() || picture.width() <= 0 || picture.height() <= 0) std::abort();
    // Touch the first and the last pixel.
    volatile uint32_t corner = picture.data()->PixelArgb(0, 0) ^
                               picture.data()->PixelArgb(picture.width() - 1, picture.height() - 1);
    (void)corner;
  } catch (const flipreel::HostError& e) {
    if (e.number() != flipreel::err::kInvalidPicture) std::abort();
  }
  return 0;
}
