// Composed playback on the headless host's virtual clock: each frame for its
// own delay on a schedule that does not drift, play ended by the file's
// repeat count, every order on whole pictures, and the saved form.
#include <algorithm>
#include <functional>

#include "tests/composed/composed_support.h"
#include "tests/support/checks.h"

namespace composedtest {
namespace {

// Writes down, as "time:frame", every picture the control puts on imgGif,
// and the time of every PlayFinished.
class ShowLog : public HeadlessHost, public FlipreelEvents {
 public:
  Flipreel* control = nullptr;
  std::vector<std::string> shows;
  std::vector<int64_t> finishes;

  void ElementChanged(const Element& e, ElementProperty what) override {
    HeadlessHost::ElementChanged(e, what);
    if (!control || what != ElementProperty::kPicture || e.name() != "imgGif") return;
    const Picture& shown = control->imgGif().picture();
    if (shown.IsEmpty()) return;
    for (int16_t i = 0; i <= control->state().LastFrame; ++i)
      if (shown == control->GetFrame(i))
        shows.push_back(std::to_string(Now()) + ":" + std::to_string(i));
  }
  void PlayFinished() override { finishes.push_back(Now()); }
  std::string Shows(size_t count) const {
    return testsupport::Joined({shows.begin(), shows.begin() + std::min(count, shows.size())}, " ");
  }
};

struct Player {
  testfiles::TempDir dir;
  ShowLog host;
  Flipreel control{host};
  explicit Player(std::function<void(Flipreel&)> before_load = nullptr) {
    host.control = &control;
    control.AddListener(&host);
    control.InitProperties();
    control.SetComposed(true);
    if (before_load) before_load(control);
  }
  void Load(const testgif::Gif& gif) {
    control.SetFlipreelFile(Utf8ToText(dir.Write("test.gif", testgif::Build(gif))));
  }
};

// Solid frames of the given delays (hundredths) on a 2 x 1 screen: frame i
// is red, green, blue or white, whole.
testgif::Gif Delays(std::vector<int> delays_cs, bool loop = true, int loop_count = 0) {
  std::vector<testgif::Frame> frames;
  for (size_t i = 0; i < delays_cs.size(); ++i)
    frames.push_back(Patch(0, 0, {std::string(2, kLetters[1 + i % 4])}, 1, delays_cs[i]));
  testgif::Gif gif = Screen(2, 1, frames);
  gif.netscape_loop = loop;
  gif.loop_count = loop_count;
  return gif;
}

TEST(ComposedPlay, EachFrameForItsOwnDelay) {
  struct Row {
    std::vector<int> delays_cs;
    const char* shows;
  } rows[] = {
      {{5, 100, 30}, "0:0 50:1 1050:2 1350:0 1400:1 2400:2 2700:0"},
      // 1 hundredth is shown for 10, 2 stays 2; an image without a delay is
      // drawn with the next one (frame 1 is images 1 and 2).
      {{1, 0, 2}, "0:0 100:1 120:0 220:1 240:0 340:1 360:0"},
  };
  for (const Row& r : rows) {
    Player p;
    p.Load(Delays(r.delays_cs));
    p.host.Advance(3000);
    EXPECT_EQ(p.host.Shows(7), r.shows);
  }
}

TEST(ComposedPlay, RepeatCountEndsPlayUnlessAutoRewindIsSet) {
  struct Row {
    const char* name;
    bool loop;
    int loop_count;
    int16_t auto_rewind;
    std::vector<int64_t> finishes;
  } rows[] = {
      {"no looping extension: once", false, 0, 0, {300}},
      {"repeat twice: three passes", true, 2, 0, {900}},
      {"repeat for ever", true, 0, 0, {}},
      {"AutoRewind wins over for ever", true, 0, 2, {600}},
      {"AutoRewind wins over once", false, 0, 3, {900}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Player p([&](Flipreel& c) { c.SetAutoRewind(r.auto_rewind); });
    p.Load(Delays({10, 10, 10}, r.loop, r.loop_count));
    p.host.Advance(5000);
    EXPECT_EQ(p.host.finishes, r.finishes);
    if (r.finishes.empty()) continue;
    // The last frame of the last pass stays on show; play starts again in full.
    EXPECT_FALSE(p.control.Timer1().enabled());
    EXPECT_EQ(p.host.shows.back(), std::to_string(r.finishes[0] - 100) + ":2");
    p.control.StartAnimation();
    p.host.Advance(5000);
    EXPECT_EQ(p.host.finishes.size(), 2u);
  }
}

// Frame i of four stores only a one-pixel patch, so every picture the play
// shows must be the composed whole (GetFrame), in the order's sequence, each
// for its own delay of (i + 1) tenths.
TEST(ComposedPlay, AllFourOrdersShowWholePicturesForTheirOwnDelays) {
  testgif::Gif patches = Screen(3, 1,
                                {Patch(0, 0, {"RRR"}, 1, 10), Patch(0, 0, {"G"}, 1, 20),
                                 Patch(1, 0, {"B"}, 1, 30), Patch(2, 0, {"W"}, 1, 40)});
  patches.netscape_loop = true;
  struct Row {
    int32_t sequence;
    std::vector<float> draws;
    const char* shows;
  } rows[] = {
      {kSequenceNormal, {}, "0:0 100:1 300:2 600:3 1000:0 1100:1"},
      {kSequenceReverse, {}, "0:0 100:3 500:2 800:1 1000:0 1100:3"},
      {kSequencePingPong, {}, "0:0 100:1 300:2 600:3 1000:2 1300:1 1500:0 1600:1"},
      {kSequenceRandom, {0.99f, 0.0f, 0.5f, 0.3f}, "0:0 100:3 500:0 600:2 900:1"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.sequence);
    Player p([&](Flipreel& c) { c.SetSequence(r.sequence); });
    size_t next = 0;
    p.host.set_random_source([&] { return r.draws[next++ % r.draws.size()]; });
    p.Load(patches);
    int16_t last = 3;
    EXPECT_EQ(Grid(p.control.GetFrame(last)), "GBW");
    p.host.Advance(1650);
    const std::string expected = r.shows;
    EXPECT_EQ(p.host.Shows(std::count(expected.begin(), expected.end(), ' ') + 1), expected);
  }
}

// A host whose ticks come late by a given amount: the clock the control
// reads is set by the test, and ticks are delivered by hand.
class LateHost : public HeadlessHost {
 public:
  int64_t clock = 0;
  int64_t Now() const override { return clock; }
};

TEST(ComposedPlay, LateTicksDoNotPushLaterFramesBack) {
  testfiles::TempDir dir;
  LateHost host;
  Flipreel control(host);
  control.InitProperties();
  control.SetComposed(true);
  control.SetFlipreelFile(Utf8ToText(dir.Write("t.gif", testgif::Build(Delays({4, 7, 13})))));
  const int64_t delays[] = {40, 70, 130};
  int64_t ideal = 0;
  for (int tick = 0; tick < 3000; ++tick) {
    ideal += delays[tick % 3];
    // Each tick comes up to 15 ms after the time it was asked for, and one
    // comes very late (the machine slept).
    const int64_t late = tick == 2000 ? 5000 : (tick * 7919) % 16;
    host.clock += control.Timer1().interval() + late;
    ASSERT_TRUE(host.DeliverTick());
    ASSERT_EQ(host.clock - ideal, late) << tick;
    if (tick == 2000) ideal = host.clock;  // the schedule starts again from here
  }
}

TEST(ComposedPlay, SavedWithItsFormOnlyWhenOn) {
  testgif::Gif gif = Screen(2, 1, {Patch(0, 0, {"RR"}, 1, 30), Patch(1, 0, {"G"}, 1, 50)});
  gif.netscape_loop = true;
  PropertyBag classic_bag, composed_bag;
  {
    Player p([](Flipreel& c) { c.SetComposed(false); });
    p.Load(gif);
    p.control.WriteProperties(classic_bag);
    p.control.SetComposed(true);
    p.control.WriteProperties(composed_bag);
  }
  EXPECT_EQ(classic_bag.Find("Composed"), nullptr);
  ASSERT_NE(composed_bag.Find("Composed"), nullptr);
  EXPECT_TRUE(composed_bag.Find("Composed")->ToBoolean());

  ShowLog host;
  Flipreel restored(host);
  host.control = &restored;
  restored.ReadProperties(composed_bag);
  EXPECT_TRUE(restored.Composed());
  host.Advance(900);
  EXPECT_EQ(testsupport::Joined(host.shows, " "), "0:0 300:1 800:0");
  int16_t second = 1;
  EXPECT_EQ(Grid(restored.GetFrame(second)), "RG");
}

// The switch works either way round: on a GIF already loaded it loads the
// held bytes again. The classic load loses the first frame of a file whose
// first extension follows the colour table directly; composed keeps all.
TEST(ComposedPlay, TurningItOnOrOffLoadsTheHeldGifAgain) {
  testgif::Gif gif = Delays({10, 20, 30}, false);
  gif.global_palette.back() = 0x0000FF;
  Player p([](Flipreel& c) { c.SetComposed(false); });
  p.Load(gif);
  EXPECT_EQ(p.control.Frames(), 2);
  p.control.SetComposed(true);
  EXPECT_EQ(p.control.Frames(), 3);
  EXPECT_EQ(p.control.FrameRate(), 100);
  p.control.SetComposed(false);
  EXPECT_EQ(p.control.Frames(), 2);
}

}  // namespace
}  // namespace composedtest
