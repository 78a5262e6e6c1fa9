// Animated GIFs of our own: a small description of an animation, a writer
// that encodes it with giflib's encoder, and the example animations that the
// flipreel_examples target writes into the build folder.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace gifexamples {

// One image of an animation, with the Graphic Control Extension before it.
struct FrameImage {
  int left = 0, top = 0, width = 1, height = 1;
  int delay_cs = 10;     // hundredths of a second
  int transparent = -1;  // transparent colour index, -1 for none
  int disposal = 0;      // 0 unspecified, 1 keep, 2 restore background, 3 previous
  bool interlace = false;
  std::vector<uint32_t> local_palette;  // 0xRRGGBB; empty: the global table
  std::vector<uint8_t> pixels;          // width * height indices in display order
};

struct AnimatedGif {
  int width = 1, height = 1;
  std::vector<uint32_t> global_palette;  // 0xRRGGBB; empty: no global table
  int loop_count = 0;                    // NETSCAPE2.0 loop count, 0 for ever
  std::vector<FrameImage> frames;
};

// Encodes the animation as a GIF89a file with giflib: header, global table,
// a NETSCAPE2.0 loop extension, then per frame a Graphic Control Extension
// and the image, and the trailer. Colour tables are padded to a power of two.
// Throws std::runtime_error with giflib's message when encoding fails.
std::string EncodeGif(const AnimatedGif& gif);

// Writes the encoded file atomically (a temporary file renamed over path).
void WriteGif(const std::string& path, const AnimatedGif& gif);

// The colour of pixel (x, y) of a frame as 0xAARRGGBB: its table's colour,
// alpha 0 for the transparent index. What a decoder should produce.
uint32_t ExpectedArgb(const AnimatedGif& gif, const FrameImage& frame, int x, int y);

// The examples: a spinner (full frames, global table), a bouncing ball
// (transparency, small frames at offsets with disposal to background), an
// interlaced scrolling rainbow, frames with their own local tables, and an
// optimised file of changed rectangles.
AnimatedGif Spinner();
AnimatedGif BouncingBall();
AnimatedGif InterlacedRainbow();
AnimatedGif LocalPalettes();
// Only the changed rectangles after a full first frame, disposal 1 and 3,
// mixed delays: what GIF optimisers write, played right only when composed.
AnimatedGif Optimised();

struct Example {
  const char* file_name;  // stable: scripts and documentation name these files
  AnimatedGif (*make)();
};
std::span<const Example> Examples();

}  // namespace gifexamples
