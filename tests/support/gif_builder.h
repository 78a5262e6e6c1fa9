// Builds GIF files byte by byte for tests, so that every field is known.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testgif {

struct Frame {
  bool gce = true;       // write a Graphic Control Extension before the image
  int delay_cs = 10;     // delay, hundredths of a second
  int transparent = -1;  // transparent colour index, -1 for none
  int disposal = 0;
  int left = 0, top = 0, width = 1, height = 1;
  bool interlace = false;
  std::vector<uint32_t> local_palette;  // 0xRRGGBB; empty: use the global table
  std::vector<uint8_t> pixels;          // width*height indices, row by row; empty: all 0
};

// A GIF89a file with a trailer.
struct Gif {
  int width = 1, height = 1;
  std::vector<uint32_t> global_palette = {0x000000, 0xFFFFFF};  // size padded to 2^n
  bool netscape_loop = false;  // a NETSCAPE2.0 application extension after the header
  int loop_count = 0;          // its repeat count, 0 for ever
  std::vector<Frame> frames;
};

// The whole file.
std::string Build(const Gif& gif);

// A 2-colour GIF89a with a NETSCAPE2.0 loop extension (whose terminator lets
// the split find the first frame) on a 16 x 12 screen: frame i is w x h at
// (i, 2i) pixels, waits 5 (i + 1) hundredths and has a chequered pattern of
// its own.
Gif Animation(int frames, int w = 4, int h = 3);

// The pieces, for tests that assemble files by hand.
std::string Header(const Gif& gif);  // signature, screen descriptor, global table, NETSCAPE
std::string GraphicControlExtension(const Frame& frame);
// Image descriptor, local table and image data (LZW minimum code size byte,
// data sub-blocks and the block terminator). The LZW codes stay 9 bits wide
// (a clear code every 250 pixels), which every decoder must accept.
std::string Image(const Frame& frame);

// Where each 00 21 F9 (a block terminator, then a Graphic Control Extension)
// stands in a file: the places the frame split cuts.
std::vector<size_t> SignatureOffsets(const std::string& file);

// The file with the middle frame's image descriptor claiming a width of
// 255 x 256 more pixels than its data holds (the frame cannot be decoded).
std::string WithMiddleImageTooWide(std::string file);

}  // namespace testgif
