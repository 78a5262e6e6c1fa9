// Layout and display: ArrangeDisplay, the resize handler and the display
// properties, with the exact order of what each setter does to the elements.
#include <gtest/gtest.h>

#include <functional>

#include "tests/core/core_fixture.h"

namespace coretest {
namespace {

using Trace = std::vector<std::string>;

// A first frame of 1500 x 900 twips; the largest offsets are 300 across
// (frame 1) and 150 down (frame 2). Frame 3 reaches beyond the box and is
// clipped; only frame 0's size counts.
const std::vector<FrameShape> kOffsetFrames = {
    {100, 60, 0, 0}, {100, 60, 300, 0}, {50, 30, 150, 150}, {200, 200, 0, 75}};

using Size2 = std::pair<float, float>;  // width, height
template <typename E>
Size2 SizeOf(const E& e) {
  return {e.width(), e.height()};
}
Size2 SurfaceOf(const HeadlessHost& h) {
  return {h.SurfaceWidth(), h.SurfaceHeight()};
}

// ArrangeDisplay through both of its usual callers: AutoSize switched on in
// a designer, and a resize at run time with AutoSize on.
struct ArrangeCase {
  const char* what;
  bool frames;  // kOffsetFrames, or a new control
  int32_t border;
  Size2 control;     // the control and both shapes
  Size2 background;  // imgBackGround: no border allowance
  float inset;       // imgBackGround's (and in a designer imgGif's) position
};

TEST(ArrangeDisplay, SizesTheControlToTheFirstFramePlusTheLargestOffsets) {
  const ArrangeCase cases[] = {
      {"new control", false, 0, {3075, 1950}, {3075, 1950}, 0},
      {"new control, border", false, 1, {3105, 1980}, {3075, 1950}, 10},
      {"frames with offsets", true, 0, {1800, 1050}, {1800, 1050}, 0},
      {"frames with offsets, border", true, 1, {1830, 1080}, {1800, 1050}, 10},
  };
  for (const ArrangeCase& t : cases) {
    for (const bool run_time : {false, true}) {
      SCOPED_TRACE(std::string(t.what) + (run_time ? ", resized at run time" : ", designer"));
      Rig rig(run_time);
      if (t.frames) rig.LoadFrames(kOffsetFrames);
      rig.c.SetBorderStyle(t.border);
      rig.c.SetAutoSize(true);
      if (run_time) {
        // At run time switching AutoSize on waits for the next resize.
        EXPECT_EQ(SurfaceOf(rig.host), (Size2{3075, 1950}));
        rig.host.ResizeSurface(5000, 4000);
      }
      EXPECT_EQ(SurfaceOf(rig.host), t.control);
      EXPECT_EQ(SizeOf(rig.c.shpBackGround()), t.control);
      EXPECT_EQ(SizeOf(rig.c.shpBorder()), t.control);
      EXPECT_EQ(SizeOf(rig.c.imgBackGround()), t.background);
      EXPECT_EQ(rig.c.imgBackGround().left(), t.inset);
      EXPECT_EQ(rig.c.imgBackGround().top(), t.inset);
      EXPECT_EQ(rig.c.state().MaxFrameLeft, t.frames ? 300 : 0);
      EXPECT_EQ(rig.c.state().MaxFrameTop, t.frames ? 150 : 0);
      if (!run_time) {
        // A designer shows frame 0 at once, at its size and offset.
        EXPECT_EQ(rig.c.imgGif().picture(), rig.c.imgBuffer()(0).picture());
        EXPECT_EQ(SizeOf(rig.c.imgGif()), SizeOf(rig.c.imgBuffer()(0)));
        EXPECT_EQ(rig.c.imgGif().left(), t.inset);
        EXPECT_EQ(rig.c.imgGif().top(), t.inset);
      }
    }
  }
}

// A control that sizes itself again and again, across loads with other
// offsets, other frame counts and border changes, ends each step exactly as a
// new control given the same frames and border does.
TEST(ArrangeDisplay, RepeatedSizingMatchesAFreshControlAcrossLoads) {
  const std::vector<std::vector<FrameShape>> loads = {
      kOffsetFrames,
      // As many frames, in other places: smaller offsets.
      {{100, 60, 0, 0}, {90, 50, 75, 0}, {80, 40, 0, 30}, {70, 30, 15, 15}},
      {{100, 60, 0, 0}},  // one frame: the others are removed
      {{40, 40, 0, 0}, {10, 10, 15, 0}},
      {{40, 40, 0, 0}, {10, 10, 0, 45}},  // as many frames, the offset moved down
  };
  Rig rig;
  rig.c.SetAutoSize(true);
  for (size_t i = 0; i < loads.size(); ++i) {
    for (const int32_t border : {0, 1}) {
      SCOPED_TRACE("load " + std::to_string(i) + ", border " + std::to_string(border));
      if (border == 0) rig.LoadFrames(loads[i]);
      rig.c.SetBorderStyle(border);  // sizes the control with AutoSize on
      rig.c.SetBorderStyle(border);  // and again with nothing changed
      Rig fresh;
      fresh.LoadFrames(loads[i]);
      fresh.c.SetAutoSize(true);
      fresh.c.SetBorderStyle(border);
      EXPECT_EQ(rig.c.state().MaxFrameLeft, fresh.c.state().MaxFrameLeft);
      EXPECT_EQ(rig.c.state().MaxFrameTop, fresh.c.state().MaxFrameTop);
      EXPECT_EQ(rig.c.state().ElementCounter, fresh.c.state().ElementCounter);
      EXPECT_EQ(SurfaceOf(rig.host), SurfaceOf(fresh.host));
      EXPECT_EQ(SizeOf(rig.c.imgBackGround()), SizeOf(fresh.c.imgBackGround()));
    }
  }
}

// The sums go through decimal text: 7 significant digits for the first
// frame's size, halves to even for the offsets, overflow from 32767.5 on.
// Twips come from the host's pixels: 7.5 twips a pixel (192 dots an inch)
// gives halves, 0.5 offsets at the limit, large ones more digits than a
// Single holds.
struct NumericCase {
  const char* what;
  float tppx, tppy;
  int width_px, height_px;  // frame 0
  int left_px, top_px;      // frame 1, a pixel
  int32_t error;            // 0: sized
  Size2 control = {};       // when sized
};

TEST(ArrangeDisplay, NumericForms) {
  const NumericCase cases[] = {
      {"whole twips pass unchanged", 15, 15, 100, 60, 20, 10, 0, {1800, 1050}},
      {"seven significant digits", 123456.78f, 12345.675f, 100, 100, 0, 0, 0, {12345680, 1234568}},
      {"offsets round halves to even: 1522.5 down, 907.5 up",
       7.5f,
       7.5f,
       200,
       120,
       3,
       1,
       0,
       {1522, 908}},
      {"1807.5 and 1057.5 up", 7.5f, 7.5f, 200, 120, 41, 21, 0, {1808, 1058}},
      {"largest offset that fits: 32766.5", 0.5f, 0.5f, 200, 120, 65533, 0, 0, {32866, 60}},
      {"left of 32767.5 overflows", 0.5f, 0.5f, 200, 120, 65535, 0, 6},
      {"top of 32767.5 overflows", 0.5f, 0.5f, 200, 120, 0, 65535, 6},
  };
  for (const NumericCase& t : cases) {
    SCOPED_TRACE(t.what);
    Rig rig;
    rig.host.SetTwipsPerPixel(t.tppx, t.tppy);
    rig.LoadFrames({{t.width_px, t.height_px}, {1, 1, t.left_px * t.tppx, t.top_px * t.tppy}});
    rig.c.SetAutoSize(true);  // at run time: Stretch off, no sizing yet
    const Size2 before = SurfaceOf(rig.host);
    const Size2 shape_before = SizeOf(rig.c.shpBackGround());
    const Size2 background_before = SizeOf(rig.c.imgBackGround());
    // Setting BorderStyle while AutoSize is on runs ArrangeDisplay.
    EXPECT_EQ(ErrorOf([&] { rig.c.SetBorderStyle(0); }), t.error);
    // A second sizing with nothing changed fails or succeeds alike.
    EXPECT_EQ(ErrorOf([&] { rig.c.SetBorderStyle(0); }), t.error);
    if (t.error) {
      EXPECT_EQ(SurfaceOf(rig.host), before);
      EXPECT_EQ(SizeOf(rig.c.shpBackGround()), shape_before);
      EXPECT_EQ(SizeOf(rig.c.imgBackGround()), background_before);
    } else {
      EXPECT_EQ(SurfaceOf(rig.host), t.control);
      EXPECT_EQ(SizeOf(rig.c.shpBorder()), t.control);
      EXPECT_EQ(SizeOf(rig.c.imgBackGround()), t.control);
    }
  }
}

// Stretch switched on under AutoSize scales imgGif until the next resize,
// which switches it off again.
TEST(AutoSizeAndStretch, StretchUnderAutoSizeLastsUntilTheNextResize) {
  Rig rig;
  rig.LoadFrames(kOffsetFrames);
  rig.c.SetAutoSize(true);
  rig.c.SetStretch(true);
  EXPECT_TRUE(rig.c.Stretch());
  EXPECT_TRUE(rig.c.imgGif().stretch());
  EXPECT_EQ(SizeOf(rig.c.imgGif()), (Size2{3075, 1950}));
  rig.host.Clear();
  rig.host.ResizeSurface(4000, 3000);
  EXPECT_FALSE(rig.c.Stretch());
  EXPECT_FALSE(rig.c.imgGif().stretch());
  EXPECT_EQ(SurfaceOf(rig.host), (Size2{1800, 1050}));
  EXPECT_EQ(rig.host.notices().front(), "Stretch");
}

// In a designer both images stand by the latest BorderStyle, and a background
// picture that comes after a border takes its place inside it.
TEST(PlaceByBorder, FollowsTheLatestBorderStyle) {
  Rig rig(false);
  rig.LoadFrames(kFourFrames);
  rig.c.SetBorderStyle(1);
  rig.c.SetBorderStyle(0);
  EXPECT_EQ(rig.c.imgGif().left(), 0);
  EXPECT_EQ(rig.c.imgGif().top(), 0);
  EXPECT_EQ(rig.c.imgBackGround().left(), 0);
  rig.c.SetBorderStyle(1);
  rig.c.SetBackGroundGraphic(Picture::Solid(10, 10, 0xFF00FF00u));
  EXPECT_EQ(rig.c.imgGif().top(), 10);
  EXPECT_EQ(rig.c.imgBackGround().left(), 10);
  EXPECT_EQ(rig.c.imgBackGround().top(), 10);
}

TEST(BackStyle, BackgroundPictureShowsOnlyOverAnOpaqueBackground) {
  Rig rig;
  Flipreel& c = rig.c;
  c.SetBackStyle(kBackStyleTransparent);
  const Picture picture = Picture::Solid(40, 20, 0xFFFF0000u);
  c.SetBackGroundGraphic(picture);
  EXPECT_FALSE(c.imgBackGround().visible());
  EXPECT_EQ(c.BackGroundGraphic(), picture);  // the same picture, not a copy
  EXPECT_EQ(SizeOf(c.imgBackGround()), (Size2{600, 300}));
  c.SetBackStyle(kBackStyleOpaque);
  EXPECT_TRUE(c.imgBackGround().visible());
}

// What each display setter does to the host, in order. A bad style value is
// refused before anything changes.
struct SetterCase {
  const char* what;
  bool run_time;
  std::function<void(Flipreel&)> act;
  int32_t error;
  std::string trace;
};

TEST(DisplaySetters, ChangeElementsAndAnnounceInOrder) {
  const std::string shapes =
      "shpBackGround.Height=1950, shpBackGround.Width=3075, shpBorder.Height=1950, "
      "shpBorder.Width=3075, imgBackGround.Height=1950, imgBackGround.Width=3075";
  auto stretch = [&](int on) {
    return "notice Stretch, imgGif.Stretch=" + std::to_string(on) +
           ", imgGif.Height=1950, imgGif.Width=3075, " + shapes;
  };
  const std::string auto_size = "notice AutoSize, " + stretch(0) + ", imgGif.Stretch=0";
  const SetterCase cases[] = {
      {"BackColor", true, [](Flipreel& c) { c.SetBackColor(255); }, 0,
       "shpBackGround.BackColor=255, surface.BackColor=255, notice BackColor"},
      {"BorderColor", true, [](Flipreel& c) { c.SetBorderColor(255); }, 0,
       "shpBackGround.BorderColor=255, shpBorder.BorderColor=255, notice BorderColor"},
      {"BackStyle", true, [](Flipreel& c) { c.SetBackStyle(0); }, 0,
       "shpBackGround.BackStyle=0, notice BackStyle, imgBackGround.Visible=0"},
      {"BorderStyle at run time", true, [](Flipreel& c) { c.SetBorderStyle(1); }, 0,
       "shpBackGround.BorderStyle=1, shpBorder.BorderStyle=1, notice BorderStyle, "
       "imgBackGround.Left=10, imgBackGround.Top=10"},
      {"BorderStyle in a designer", false, [](Flipreel& c) { c.SetBorderStyle(1); }, 0,
       "shpBackGround.BorderStyle=1, shpBorder.BorderStyle=1, notice BorderStyle, imgGif.Left=10, "
       "imgGif.Top=10, imgBackGround.Left=10, imgBackGround.Top=10"},
      {"BackGroundGraphic", true,
       [](Flipreel& c) { c.SetBackGroundGraphic(Picture::Solid(2, 2, 0)); }, 0,
       "imgBackGround.Picture, notice BackGroundGraphic, imgBackGround.Left=0, "
       "imgBackGround.Top=0, imgBackGround.Visible=1"},
      {"Stretch", true, [](Flipreel& c) { c.SetStretch(true); }, 0, stretch(1)},
      {"AutoSize on at run time", true, [](Flipreel& c) { c.SetAutoSize(true); }, 0, auto_size},
      {"AutoSize off in a designer", false, [](Flipreel& c) { c.SetAutoSize(false); }, 0,
       auto_size},
      {"AutoSize on in a designer", false, [](Flipreel& c) { c.SetAutoSize(true); }, 0,
       auto_size + ", Size 3075x1950, " + shapes +
           ", imgGif.Left=0, imgGif.Top=0, imgGif.Picture, imgGif.Height=1950, imgGif.Width=3075"},
      {"BackStyle beyond 16 bits", true, [](Flipreel& c) { c.SetBackStyle(40000); }, 6, ""},
      {"BorderStyle beyond 16 bits", true, [](Flipreel& c) { c.SetBorderStyle(-40000); }, 6, ""},
      {"BackStyle the shape refuses", true, [](Flipreel& c) { c.SetBackStyle(2); }, 380, ""},
      {"BorderStyle the shape refuses", true, [](Flipreel& c) { c.SetBorderStyle(7); }, 380, ""},
  };
  for (const SetterCase& t : cases) {
    SCOPED_TRACE(t.what);
    Rig rig(t.run_time);
    rig.host.Clear();
    EXPECT_EQ(ErrorOf([&] { t.act(rig.c); }), t.error);
    EXPECT_EQ(Joined(rig.host.trace), t.trace);
  }
}

TEST(DisplaySetters, AutoSizeInADesignerAnnouncesStretchAgainOnTheResize) {
  Rig rig(false);
  rig.c.SetBorderStyle(1);
  rig.host.Clear();
  rig.c.SetAutoSize(true);
  EXPECT_EQ(rig.host.notices(), (std::vector<std::string>{"AutoSize", "Stretch", "Stretch"}));
}

// The resize handler: a repaint request first; with AutoSize on, Stretch
// off and ArrangeDisplay, whose size change brings the notification back
// once more; the inner pass finds the size right and the recursion ends.
// (The sizes it ends with are those of the ArrangeDisplay table.)
TEST(ResizeHandler, ReentranceEndsAfterOneInnerPass) {
  Rig rig;
  rig.LoadFrames(kOffsetFrames);
  rig.c.SetAutoSize(true);
  rig.host.Clear();
  rig.host.ResizeSurface(5000, 4000);
  Trace outline;
  for (const std::string& line : rig.host.trace)
    if (line.starts_with("Size") || line == "Refresh" || line.starts_with("notice"))
      outline.push_back(line);
  EXPECT_EQ(Joined(outline),
            "Size 5000x4000 resize, Refresh, notice Stretch, Size 1800x1050 resize, Refresh, "
            "notice Stretch, Size 1800x1050, Refresh, Refresh");
}

TEST(ResizeHandler, WithoutAutoSize) {
  const std::string shapes =
      "shpBackGround.Height=3000, shpBackGround.Width=4000, shpBorder.Height=3000, "
      "shpBorder.Width=4000";
  const std::string background = "imgBackGround.Height=3000, imgBackGround.Width=4000";
  struct Case {
    const char* what;
    bool stretch;
    std::string trace;
  };
  const Case cases[] = {
      {"Stretch off: the shapes and the background follow the control", false,
       "Size 4000x3000 resize, Refresh, " + background + ", " + shapes},
      {"Stretch on: imgGif is scaled to the control first", true,
       "Size 4000x3000 resize, Refresh, imgGif.Width=4000, imgGif.Height=3000, " + shapes + ", " +
           background + ", imgGif.Stretch=1, " + background + ", " + shapes},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    Rig rig;
    if (t.stretch) rig.c.SetStretch(true);
    rig.host.Clear();
    rig.host.ResizeSurface(4000, 3000);
    EXPECT_EQ(Joined(rig.host.trace), t.trace);
  }
}

}  // namespace
}  // namespace coretest
