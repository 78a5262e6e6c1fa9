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

TEST(EndToEnd, LoadsAndPlaysNormalOnceOnTheVirtualClock) {
  testfiles::TempDir dir;
  const std::string path = dir.Write("four.gif", testgif::Build(testgif::Animation(4)));
  HeadlessHost host;
  Flipreel c(host);
  Recorder rec;
  c.AddListener(&rec);
  c.InitProperties();
  c.SetFlipreelFile(Utf8ToText(path));

  EXPECT_EQ(c.FlipreelFile(), u"Gif");
  EXPECT_TRUE(c.state().FramesLoaded);
  EXPECT_EQ(c.state().LastFrame, 3);
  EXPECT_EQ(c.Frames(), 4);
  EXPECT_EQ(c.FrameRate(), 50);
  int16_t f = 3;
  EXPECT_FLOAT_EQ(c.FrameTop(f), 6);
  EXPECT_EQ(c.imgBuffer()(3).tag(), u"200");
  EXPECT_TRUE(c.Timer1().enabled());
  EXPECT_EQ(ShownIndex(c), 0);
  EXPECT_TRUE(host.messages().empty());

  c.SetAutoRewind(1);
  host.Advance(49);  // the first tick comes a whole FrameRate after the load
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
  EXPECT_FALSE(c.Timer1().enabled());
  EXPECT_EQ(c.state().FrameIndex, 0);
  EXPECT_FALSE(c.Playing());
}
