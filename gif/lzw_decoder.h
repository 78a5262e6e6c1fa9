// Decoding an image's LZW-compressed data into its pixels' colour indices,
// exactly as giflib's reader decodes it, damaged data included.
#pragma once

#include <cstddef>
#include <cstdint>

#include "flipreel/gif/gif_block_reader.h"

namespace flipreel {

// The largest minimum code size of image data: pixels are at most 8 bits.
inline constexpr int kMaxMinCodeSize = 8;

struct DecodedImageData {
  // Pixels decoded, in the order they arrive (the passes of an interlaced
  // image one after the other): all of them, or those before the codes ran
  // out or went wrong.
  size_t pixels = 0;
  // Whether the data's sub-blocks were read up to their terminator.
  bool terminated = false;
};

// Reads the image data's sub-blocks from `in` (just after the minimum code
// size, at most kMaxMinCodeSize) up to their terminator, and decodes the
// width x height pixels of the image into `indices`, row by row, the rows of
// an interlaced image put in their places. Decodes what giflib's reader does
// from the same data, pixel for pixel, and stops where it stops; codes after
// the last pixel are not read.
DecodedImageData DecodeImageData(GifBlockReader& in, int min_code_size, int width, int height,
                                 bool interlaced, uint8_t* indices);

// The row of an interlaced image of the given height that arrives k-th:
// every 8th row from 0, then every 8th from 4, every 4th from 2, every 2nd
// from 1.
int InterlacedRow(int k, int height);

}  // namespace flipreel
