// A GIF built byte by byte goes through the whole control: read, split,
// decode, show and play on the headless host.
#include <gtest/gtest.h>

#include "tests/core/core_fixture.h"
#include "tests/support/gif_builder.h"
#include "tests/support/test_files.h"

namespace coretest {
namespace {

// On the virtual clock the first tick comes a whole FrameRate (the first
// frame's delay) after the load, and one every FrameRate after it until the
// pass ends.
TEST(EndToEnd, LoadsAndPlaysNormalOnceOnTheVirtualClock) {
  testfiles::TempDir dir;
  Rig rig;
  rig.c.InitProperties();
  rig.c.SetFlipreelFile(Utf8ToText(dir.Write("four.gif", testgif::Build(testgif::Animation(4)))));
  ASSERT_EQ(rig.c.FrameRate(), 50);
  ASSERT_EQ(rig.ShownPicture(), 0);

  rig.c.SetAutoRewind(1);
  rig.host.Advance(49);
  EXPECT_TRUE(rig.events.entries.empty());
  std::vector<int> shown;
  for (int t = 0; t < 4; ++t) {
    rig.host.Advance(t == 0 ? 1 : 50);
    shown.push_back(rig.ShownPicture());
  }
  EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(rig.events.entries.size(), 4u);
  rig.host.Advance(1000);  // one more tick ends the pass, and nothing after it
  ASSERT_EQ(rig.events.entries.size(), 6u);
  EXPECT_EQ(rig.events.entries[4].name, "Frame");
  EXPECT_EQ(rig.events.entries[5].name, "PlayFinished");
  EXPECT_FALSE(rig.c.Playing());
}

}  // namespace
}  // namespace coretest
