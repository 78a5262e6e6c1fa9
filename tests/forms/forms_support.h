// GIFs and bags shared by the persistence and saved-form tests.
#pragma once

#include <string>

#include "host/variant.h"
#include "tests/support/gif_builder.h"

namespace formstest {

// Three frames: delays 10, 20 and 30 hundredths; frames 2 and 3 placed
// 2, 1 and 4, 2 pixels in.
inline std::string ThreeFrameGif() {
  testgif::Gif gif;
  gif.width = 8;
  gif.height = 4;
  // The table must end in a 00 byte, or the split would not see the first
  // Graphic Control Extension.
  gif.global_palette = {0xFFFFFF, 0x000000};
  for (int i = 0; i < 3; ++i) {
    testgif::Frame f;
    f.delay_cs = 10 * (i + 1);
    f.left = 2 * i;
    f.top = i;
    f.width = 3 + i;
    f.height = 2;
    f.pixels.assign(static_cast<size_t>(f.width) * f.height, static_cast<uint8_t>(i % 2));
    gif.frames.push_back(f);
  }
  return testgif::Build(gif);
}

// The "Buffer" entry of a control holding these file bytes: each byte as one
// character, saved as two bytes, low byte first.
inline flipreel::Bytes BufferBytes(const std::string& file) {
  flipreel::Bytes b;
  for (unsigned char c : file) {
    b.push_back(c);
    b.push_back(0);
  }
  return b;
}

}  // namespace formstest
