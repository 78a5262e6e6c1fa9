// A GIF built byte by byte goes through the whole control: read, split,
// decode, show and play on the headless host.
#include <gtest/gtest.h>

#include "control/flipreel.h"
#include "host/headless_host.h"
#include "tests/support/gif_builder.h"
#include "tests/support/test_files.h"

using namespace flipreel;

namespace {

struct Recorder : FlipreelEvents {
  std::vector<std::string> events;
  void Frame() override { events.push_back("Frame"); }
  void PlayFinished() override { events.push_back("PlayFinished"); }
};

int ShownIndex(const Flipreel& c) {
  for (int32_t i = 0; i <= c.state().LastFrame; ++i)
    if (c.imgBuffer()(i).picture() == c.imgGif().picture()) return i;
  return -1;
}

}  // namespace

// On the virtual clock the first tick comes a whole FrameRate (the first
// frame's delay) after the load, and one every FrameRate after it until the
// pass ends.
TEST(EndToEnd, LoadsAndPlaysNormalOnceOnTheVirtualClock) {
  testfiles::TempDir dir;
  HeadlessHost host;
  Flipreel c(host);
  Recorder rec;
  c.AddListener(&rec);
  c.InitProperties();
  c.SetFlipreelFile(Utf8ToText(dir.Write("four.gif", testgif::Build(testgif::Animation(4)))));
  ASSERT_EQ(c.FrameRate(), 50);
  ASSERT_EQ(ShownIndex(c), 0);

  c.SetAutoRewind(1);
  host.Advance(49);
  EXPECT_TRUE(rec.events.empty());
  std::vector<int> shown;
  for (int t = 0; t < 4; ++t) {
    host.Advance(t == 0 ? 1 : 50);
    shown.push_back(ShownIndex(c));
  }
  EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(rec.events.size(), 4u);
  rec.events.clear();
  host.Advance(1000);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"Frame", "PlayFinished"}));
  EXPECT_FALSE(c.Playing());
}
