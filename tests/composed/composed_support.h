// Shared by the composed-playback tests: a control in composed mode on the
// headless host, pictures written as letter grids, and GIFs drawn with the
// same letters.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "flipreel/control/flipreel.h"
#include "flipreel/headless/headless_host.h"
#include "tests/support/gif_builder.h"
#include "tests/support/test_files.h"

namespace composedtest {

using namespace flipreel;

// The global table of the test GIFs, by letter: black, red, green, blue,
// white, yellow, magenta. '.' is index 7, the transparent index of frames
// that use it (and cyan in the table, which no grid expects).
inline constexpr std::string_view kLetters = "KRGBWYM";
inline const std::vector<uint32_t> kColours = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF,
                                               0xFFFFFF, 0xFFFF00, 0xFF00FF, 0x00FFFF};
inline constexpr int kKey = 7;

// An image of the given rows of letters at (left, top).
inline testgif::Frame Patch(int left, int top, std::vector<std::string> rows, int disposal = 0,
                            int delay_cs = 10) {
  testgif::Frame f;
  f.left = left;
  f.top = top;
  f.height = static_cast<int>(rows.size());
  f.width = static_cast<int>(rows[0].size());
  f.disposal = disposal;
  f.delay_cs = delay_cs;
  for (const std::string& row : rows)
    for (char c : row) {
      if (c == '.') f.transparent = kKey;
      f.pixels.push_back(static_cast<uint8_t>(c == '.' ? kKey : kLetters.find(c)));
    }
  return f;
}

inline testgif::Gif Screen(int width, int height, std::vector<testgif::Frame> frames) {
  testgif::Gif gif;
  gif.width = width;
  gif.height = height;
  gif.global_palette = kColours;
  gif.frames = std::move(frames);
  return gif;
}

// A picture as rows of letters joined by '/': '.' for a transparent pixel,
// '?' for a colour without a letter.
inline std::string Grid(const Picture& picture) {
  std::string grid;
  for (int y = 0; y < picture.height(); ++y) {
    if (y) grid += '/';
    for (int x = 0; x < picture.width(); ++x) {
      const uint32_t argb = picture.data()->PixelArgb(x, y);
      char letter = '?';
      for (size_t i = 0; i < kLetters.size(); ++i)
        if (argb == (0xFF000000u | kColours[i])) letter = kLetters[i];
      grid += (argb >> 24) == 0 ? '.' : letter;
    }
  }
  return grid;
}

// A control at run time, set to composed playback before its file is loaded.
struct ComposedControl {
  testfiles::TempDir dir;
  HeadlessHost host;
  Flipreel control{host};
  explicit ComposedControl(bool composed = true) {
    control.InitProperties();
    control.SetComposed(composed);
  }
  void LoadBytes(const std::string& bytes) {
    control.SetFlipreelFile(Utf8ToText(dir.Write("test.gif", bytes)));
  }
  int frames() const { return control.state().FramesLoaded ? control.state().LastFrame + 1 : 0; }
  Picture frame(int16_t i) const { return control.GetFrame(i); }
  std::vector<std::string> grids() const {
    std::vector<std::string> out;
    for (int i = 0; i < frames(); ++i) out.push_back(Grid(frame(static_cast<int16_t>(i))));
    return out;
  }
};

}  // namespace composedtest
