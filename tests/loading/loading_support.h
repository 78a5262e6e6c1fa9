// Helpers shared by the loading tests: a headless host that keeps a copy of
// every frame file the control hands to the picture loader, a control on it
// set up as a new control at run time, and the picture loader called directly.
#pragma once

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "flipreel/control/flipreel.h"
#include "flipreel/gif/gif_decoder.h"
#include "flipreel/headless/headless_host.h"
#include "tests/support/checks.h"
#include "tests/support/gif_builder.h"
#include "tests/support/test_files.h"

namespace loadingtest {

class RecordingHost : public flipreel::HeadlessHost {
 public:
  struct Load {
    std::string path;
    std::string bytes;
  };
  std::vector<Load> loads;
  // When false, each load answers a distinct 1 x 1 picture instead of
  // decoding, for tests about the cut rather than the pixels.
  bool decode = true;

  // The frame file is read through the host's own file services: it may be
  // held in memory rather than on disk.
  flipreel::Picture LoadPicture(flipreel::TextView path) override {
    const int32_t file = FreeFile();
    Open(file, path, flipreel::FileAccess::kRead);
    loads.push_back({flipreel::TextToUtf8(path), ReadAll(file)});
    Close(file);
    if (!decode) return flipreel::Picture::Solid(1, 1, 0xFF000000u | loads.size());
    return HeadlessHost::LoadPicture(path);
  }
};

struct Loaded {
  testfiles::TempDir dir;  // for the files it loads
  RecordingHost host;
  flipreel::Flipreel control{host};
  Loaded() { control.InitProperties(); }
  void Load(const std::string& path) { control.SetFlipreelFile(flipreel::Utf8ToText(path)); }
  // Writes the bytes to a file in dir and loads it.
  void LoadBytes(const std::string& bytes) { Load(dir.Write("test.gif", bytes)); }
  const flipreel::Image& frame(int i) const { return control.imgBuffer()(i); }
};

// The state of a control that holds no GIF.
inline void ExpectBlank(const Loaded& l) {
  EXPECT_EQ(l.control.FlipreelFile(), u"(None)");
  EXPECT_FALSE(l.control.state().FramesLoaded);
  EXPECT_EQ(l.control.Frames(), 0);
  EXPECT_EQ(l.control.FrameRate(), 0);
  EXPECT_TRUE(l.control.imgGif().picture().IsEmpty());
  EXPECT_FALSE(l.control.Timer1().enabled());
}

inline std::span<const uint8_t> Span(std::string_view bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
}

inline flipreel::Picture Decode(const std::string& bytes) {
  return flipreel::DecodeGif(Span(bytes));
}

// The error number the picture loader raises, or 0 when it decodes.
inline int32_t DecodeError(const std::string& bytes) {
  return testsupport::ErrorOf([&] { Decode(bytes); });
}

inline std::string ByteString(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

using testgif::Animation;
using testsupport::ErrorOf;
using testsupport::Joined;

}  // namespace loadingtest
