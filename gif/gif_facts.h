// What a GIF file says about itself, block by block: the logical screen, the
// repeat count and, for each image, its placement, delay, disposal,
// transparent index, interlacing and colour table. Read for `flipreel info`;
// the control never uses any of it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace flipreel {

struct GifImageFacts {
  int left = 0, top = 0, width = 0, height = 0;
  // From the Graphic Control Extension before the image; no value when the
  // image has none.
  std::optional<int> delay_cs;
  std::optional<int> disposal;     // 0 unspecified, 1 leave, 2 background, 3 previous, 4-7
  std::optional<int> transparent;  // the transparent colour index
  bool interlaced = false;
  int local_colors = 0;  // size of the image's own colour table; 0 when it has none
};

struct GifFileFacts {
  std::string version;  // "87a", "89a", or what the file says
  int screen_width = 0, screen_height = 0;
  int global_colors = 0;  // size of the global colour table; 0 when there is none
  int background = 0;     // background colour index
  // Loop count of the NETSCAPE2.0 (or ANIMEXTS1.0) application extension: 0
  // loops for ever; no value when the file has no such extension.
  std::optional<int> repeat;
  std::vector<GifImageFacts> images;
  // Empty when the file was read up to its trailer; else what stopped the
  // reading (the images before it are listed).
  std::string problem;
};

// How the file is read: by our own block reader, or by giflib's (to check
// ours against: both give the same facts and stop at the same problem).
enum class FactsReading { kOwnReader, kGiflibOnly };

// No value when the bytes do not begin with "GIF".
std::optional<GifFileFacts> ReadGifFacts(std::span<const uint8_t> bytes,
                                         FactsReading reading = FactsReading::kOwnReader);

// Whether the file's frames look different composed than as the classic
// control shows them: images after the first that cover only part of the
// screen or keep pixels transparent (they rely on what lies below them), a
// first image away from the screen's origin, images without a Graphic Control
// Extension, or delays that differ from the first image's or are too short
// to be kept as they are (0 or 1 hundredth). A single image never does.
bool ComposingChangesLook(const GifFileFacts& facts);

}  // namespace flipreel
