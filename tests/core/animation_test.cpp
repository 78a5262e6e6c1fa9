// The animation engine on the headless host's virtual clock: the four
// sequences, passes and the finish, and the members that steer play.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tests/core/core_fixture.h"

namespace coretest {
namespace {

using Strings = std::vector<std::string>;
constexpr int16_t kInterval = 100;

// Starts play at run time the way a host would, plays two frames when there
// are more than two (Normal, so that FrameIndex stands at 2), then sets the
// play's AutoRewind and Sequence.
void StartPlay(Rig& rig, int32_t sequence, int16_t auto_rewind, int32_t border = 0) {
  Flipreel& c = rig.c;
  if (border != 0) c.SetBorderStyle(border);
  c.SetFrameRate(kInterval);
  c.SetAutoRewind(0);
  c.StartAnimation();
  if (c.Frames() > 2) rig.host.Advance(2 * kInterval);
  EXPECT_EQ(c.CurrentFrame(), c.Frames() > 2 ? 2 : 0);
  c.SetAutoRewind(auto_rewind);
  c.SetSequence(sequence);
  rig.host.Clear();
  rig.events.entries.clear();
}

// One tick on the clock, seen as a user would: "p@q" for frame p's picture at
// frame q's position (-1: none), then "!" when PlayFinished came as well.
std::string Tick(Rig& rig) {
  const size_t first = rig.events.entries.size();
  rig.host.Advance(kInterval);
  std::string seen = std::to_string(rig.ShownPicture()) + "@" + std::to_string(rig.ShownPosition());
  Strings names;
  for (size_t i = first; i < rig.events.entries.size(); ++i)
    names.push_back(rig.events.entries[i].name);
  if (names == Strings{"Frame", "PlayFinished"}) return seen + "!";
  if (names != Strings{"Frame"}) return seen + " events?" + std::to_string(names.size());
  return seen;
}

// Rows of the sequence table. The ticks and the CurrentFrame read inside
// each Frame handler are written as space-separated lists.
struct SequenceCase {
  const char* what;
  int32_t sequence;
  int16_t auto_rewind;
  const char* ticks;
  const char* in_handler;
  int32_t frame_index_after;
  bool playing_after;
  size_t frames = 4;        // the first frames of kFourFrames
  const char* random = "";  // what the random source answers, in turn
  int32_t border = 0;
};

TEST(Sequences, OnTheVirtualClock) {
  const SequenceCase cases[] = {
      {"Normal, one pass", kSequenceNormal, 1, "0@0 1@1 2@2 3@3 3@3!", "0 1 2 3 0", 0, false},
      {"Reverse, one pass", kSequenceReverse, 1, "3@3 2@2 1@1 0@0 0@0!", "3 2 1 0 3", 3, false},
      {"Ping Pong, one pass: the bottom turn puts frame 0 where frame 1 stood", kSequencePingPong,
       1, "0@0 1@1 2@2 3@3 2@2 1@1 0@1 0@1!", "0 1 2 3 2 1 0 0", 0, false},
      {"Normal, two passes", kSequenceNormal, 2, "0@0 1@1 2@2 3@3 0@0 1@1 2@2 3@3 3@3!",
       "0 1 2 3 0 1 2 3 0", 0, false},
      {"Normal for ever", kSequenceNormal, 0, "0@0 1@1 2@2 3@3 0@0 1@1 2@2 3@3 0@0",
       "0 1 2 3 0 1 2 3 0", 1, true},
      {"Reverse for ever", kSequenceReverse, 0, "3@3 2@2 1@1 0@0 3@3 2@2 1@1 0@0 3@3",
       "3 2 1 0 3 2 1 0 3", 2, true},
      {"Ping Pong for ever: cycles of 2 x LastFrame + 1 ticks, the turn changes nothing",
       kSequencePingPong, 0, "0@0 1@1 2@2 3@3 2@2 1@1 1@1 0@0 1@1 2@2 3@3 2@2 1@1 1@1 0@0",
       "0 1 2 3 2 1 0 0 1 2 3 2 1 0 0", 1, true},
      {"Random shows only 0..LastFrame - 1 and never finishes", kSequenceRandom, 1,
       "0@0 1@1 2@2 2@2 1@1 0@0", "2 0 1 2 2 1", 0, true, 4, "0 0.34 0.67 0.9999999 0.5 0.1"},
      {"Random with one frame", kSequenceRandom, 1, "0@0 0@0", "0 0", 0, true, 1, "0.9 0.5"},
      {"negative AutoRewind finishes on the first tick, frame 1 still shown", kSequenceNormal, -1,
       "1@1!", "0", 0, false},
      {"Sequence 5 raises Frame and changes nothing", 5, 1, "1@1 1@1 1@1", "2 2 2", 2, true},
      {"one frame, Normal: a pass every tick", kSequenceNormal, 3, "0@0 0@0 0@0 0@0!", "0 0 0 0", 0,
       false, 1},
      {"one frame, Reverse", kSequenceReverse, 3, "0@0 0@0 0@0 0@0!", "0 0 0 0", 0, false, 1},
      {"one frame, Ping Pong", kSequencePingPong, 3, "0@0 0@0 0@0 0@0!", "0 0 0 0", 0, false, 1},
      {"Ping Pong inside a border", kSequencePingPong, 1, "0@0 1@1 2@2 3@3 2@2 1@1 0@1 0@1!",
       "0 1 2 3 2 1 0 0", 0, false, 4, "", 1},
  };
  for (const SequenceCase& t : cases) {
    SCOPED_TRACE(t.what);
    Rig rig;
    rig.LoadFrames({kFourFrames.begin(), kFourFrames.begin() + t.frames});
    std::istringstream random(t.random);
    rig.host.set_random_source([&] {
      float r = 0;
      EXPECT_TRUE(static_cast<bool>(random >> r)) << "the random source was asked once too often";
      return r;
    });
    StartPlay(rig, t.sequence, t.auto_rewind, t.border);
    const auto ticks = static_cast<size_t>(std::ranges::count(std::string_view(t.ticks), ' ')) + 1;
    Strings seen;
    for (size_t i = 0; i < ticks; ++i) seen.push_back(Tick(rig));
    EXPECT_EQ(Joined(seen, " "), t.ticks);
    Strings in_handler;
    for (const EventLog::Entry& e : rig.events.entries)
      if (e.name == "Frame") in_handler.push_back(std::to_string(e.current_frame));
    EXPECT_EQ(Joined(in_handler, " "), t.in_handler);
    EXPECT_EQ(rig.c.state().FrameIndex, t.frame_index_after);
    EXPECT_EQ(rig.c.CurrentFrame(), t.frame_index_after);
    EXPECT_EQ(rig.c.Playing(), t.playing_after);
    if (!t.playing_after) {
      EXPECT_EQ(rig.c.state().LoopCount, 0);
      // A finished control stays quiet.
      const size_t events = rig.events.entries.size();
      rig.host.Advance(10 * kInterval);
      EXPECT_EQ(rig.events.entries.size(), events);
    }
  }
}

TEST(Sequences, NothingHappensWhileNoFramesAreLoaded) {
  Rig rig;
  rig.c.SetFrameRate(kInterval);
  rig.c.StartAnimation();
  rig.host.Clear();
  rig.host.Advance(5 * kInterval);
  EXPECT_TRUE(rig.events.entries.empty());
  EXPECT_TRUE(rig.host.trace.empty());
  EXPECT_TRUE(rig.c.Playing());
}

TEST(PlayMembers, StartAnimationWhilePlayingClearsThePassesAndKeepsTheTimer) {
  Rig rig;
  rig.LoadFrames(kFourFrames);
  StartPlay(rig, kSequenceNormal, 2);
  for (int i = 0; i < 4; ++i) Tick(rig);
  ASSERT_EQ(rig.c.state().LoopCount, 1);
  rig.host.Advance(kInterval / 2);
  rig.host.Clear();
  rig.c.StartAnimation();
  EXPECT_EQ(rig.c.state().LoopCount, 0);
  EXPECT_TRUE(rig.host.trace.empty());  // the timer is neither stopped nor re-armed
  rig.host.Advance(kInterval / 2);      // so the running interval still ends on time
  EXPECT_EQ(rig.ShownPicture(), 0);
  // Two more full passes before the finish.
  Strings seen;
  for (int i = 0; i < 8; ++i) seen.push_back(Tick(rig));
  EXPECT_EQ(seen.back(), "3@3!");
}

// A tick that fails (the step re-arms the timer with FrameRate -1, which the
// timer refuses) still counts: the clock stands at it, and the next tick
// comes one interval later instead of again at once.
TEST(PlayMembers, AFailingTickMovesTheClockOn) {
  Rig rig;
  rig.LoadFrames(kFourFrames);
  StartPlay(rig, kSequenceNormal, 0);
  ASSERT_EQ(ErrorOf([&] { rig.c.SetFrameRate(-1); }), err::kInvalidPropertyValue);
  const int64_t start = rig.host.Now();
  EXPECT_EQ(ErrorOf([&] { rig.host.Advance(kInterval + 50); }), err::kInvalidPropertyValue);
  EXPECT_EQ(rig.host.Now(), start + kInterval);
  EXPECT_EQ(rig.events.entries.size(), 1u);
  rig.host.Advance(kInterval - 1);
  EXPECT_EQ(rig.events.entries.size(), 1u);
  EXPECT_EQ(ErrorOf([&] { rig.host.Advance(1); }), err::kInvalidPropertyValue);
  EXPECT_EQ(rig.host.Now(), start + 2 * kInterval);
  EXPECT_EQ(rig.events.entries.size(), 2u);
  // The same holds for a tick delivered by hand.
  EXPECT_EQ(ErrorOf([&] { rig.host.DeliverTick(); }), err::kInvalidPropertyValue);
  rig.host.Advance(kInterval - 1);
  EXPECT_EQ(rig.events.entries.size(), 3u);
}

TEST(PlayMembers, StopAnimation) {
  Rig rig;
  rig.LoadFrames(kFourFrames);
  rig.c.StopAnimation();  // while stopped it does nothing
  EXPECT_TRUE(rig.host.trace.empty());
  StartPlay(rig, kSequenceNormal, 0);
  Tick(rig);
  // From a Frame handler: that tick's step still runs, the next tick never
  // comes.
  rig.events.on_frame = [&] { rig.c.StopAnimation(); };
  EXPECT_EQ(Tick(rig), "1@1");
  EXPECT_FALSE(rig.c.Playing());
  rig.events.on_frame = nullptr;
  rig.host.Advance(10 * kInterval);
  EXPECT_EQ(rig.events.entries.size(), 2u);
  rig.c.StartAnimation();  // resumes where play stopped
  EXPECT_EQ(Tick(rig), "2@2");
}

// In a designer Playing only stores and announces, and the getter reads the
// stored value; at run time the getter reads the timer, never that value.
TEST(PlayMembers, PlayingInADesignerAndAtRunTime) {
  Rig designer(false);
  designer.LoadFrames(kFourFrames);
  designer.c.SetPlaying(true);
  EXPECT_EQ(Joined(designer.host.trace), "notice Playing");
  EXPECT_TRUE(designer.c.Playing());
  EXPECT_FALSE(designer.c.Timer1().enabled());

  Rig rig(true);
  rig.c.SetPlaying(true);
  EXPECT_EQ(Joined(rig.host.trace), "notice Playing, Timer1.Enabled=1");
  rig.c.StopAnimation();
  EXPECT_FALSE(rig.c.Playing());
  EXPECT_TRUE(rig.c.state().Playing);
  rig.c.SetPlaying(false);
  rig.c.StartAnimation();
  EXPECT_TRUE(rig.c.Playing());
  EXPECT_FALSE(rig.c.state().Playing);
}

// The play setters: what each stores, announces and does to the timer.
struct PlaySetterCase {
  const char* what;
  bool run_time;
  std::function<void(Flipreel&)> act;
  int32_t error;
  const char* trace;
  int32_t frame_index_after;  // FrameIndex stood at 2 with LastFrame 3
};

TEST(PlayMembers, SettersAnnounceAndSteerTheTimer) {
  const char* restart = "notice Sequence, Timer1.Enabled=0, Timer1.Interval=100, Timer1.Enabled=1";
  const PlaySetterCase cases[] = {
      {"FrameRate goes to the timer in a designer too", false,
       [](Flipreel& c) { c.SetFrameRate(40); }, 0, "notice FrameRate, Timer1.Interval=40", 2},
      {"Sequence at run time restarts a running timer", true,
       [](Flipreel& c) { c.SetSequence(kSequenceReverse); }, 0, restart, 3},
      {"Sequence Normal at run time goes back to frame 0", true,
       [](Flipreel& c) { c.SetSequence(kSequenceNormal); }, 0, restart, 0},
      {"Sequence Random keeps the frame", true, [](Flipreel& c) { c.SetSequence(kSequenceRandom); },
       0, restart, 2},
      {"Sequence in a designer moves neither the frame nor the timer", false,
       [](Flipreel& c) { c.SetSequence(kSequenceNormal); }, 0, "notice Sequence", 2},
      {"Sequence beyond 16 bits stores and announces nothing", true,
       [](Flipreel& c) { c.SetSequence(32768); }, 6, "", 2},
      {"AutoRewind", true, [](Flipreel& c) { c.SetAutoRewind(-3); }, 0, "notice AutoRewind", 2},
      {"AutoStart", true, [](Flipreel& c) { c.SetAutoStart(true); }, 0, "notice AutoStart", 2},
      {"Frames ignores its argument", true, [](Flipreel& c) { c.SetFrames(99); }, 0,
       "notice Frames", 2},
      {"CurrentFrame is only stored", true, [](Flipreel& c) { c.SetCurrentFrame(1); }, 0,
       "notice CurrentFrame", 2},
  };
  for (const PlaySetterCase& t : cases) {
    SCOPED_TRACE(t.what);
    Rig rig(t.run_time);
    rig.LoadFrames(kFourFrames);
    rig.c.SetFrameRate(kInterval);
    rig.c.SetSequence(kSequencePingPong);
    rig.c.SetAutoRewind(5);
    rig.c.StartAnimation();
    // Ping Pong until one pass is counted and frame 2 is next.
    for (int tick = 0; tick < 20 && !(rig.c.state().LoopCount == 1 && rig.c.CurrentFrame() == 2);
         ++tick)
      rig.host.Advance(kInterval);
    ASSERT_EQ(rig.c.state().LoopCount, 1);
    ASSERT_EQ(rig.c.CurrentFrame(), 2);
    rig.host.Clear();
    const FlipreelState before = rig.c.state();
    EXPECT_EQ(ErrorOf([&] { t.act(rig.c); }), t.error);
    EXPECT_EQ(Joined(rig.host.trace), t.trace);
    EXPECT_EQ(rig.c.state().FrameIndex, t.frame_index_after);
    EXPECT_EQ(rig.c.state().LoopCount, 1);  // no setter touches the pass count
    if (t.error) {
      EXPECT_EQ(rig.c.state().Sequence, before.Sequence);
      EXPECT_EQ(rig.c.state().PingPongForward, before.PingPongForward);
    }
  }
}

TEST(PlayMembers, SequenceSetsThePingPongFlags) {
  Rig rig;
  rig.LoadFrames(kFourFrames);
  rig.c.SetSequence(kSequencePingPong);
  EXPECT_TRUE(rig.c.state().PingPongForward);
  // Up to the top turn, and one step down.
  rig.c.SetFrameRate(kInterval);
  rig.c.StartAnimation();
  rig.host.Advance(5 * kInterval);
  ASSERT_TRUE(rig.c.state().PingPongBackward);
  rig.c.SetSequence(kSequencePingPong);
  EXPECT_TRUE(rig.c.state().PingPongForward);
  EXPECT_FALSE(rig.c.state().PingPongBackward);
  rig.c.SetSequence(kSequenceRandom);
  EXPECT_FALSE(rig.c.state().PingPongForward);
  EXPECT_FALSE(rig.c.state().PingPongBackward);
}

// What one step does to the host, in order, on each kind of path: Show
// (position, then picture), the fit before or after it, and the re-arm.
struct StepCase {
  const char* what;
  int32_t sequence;
  bool stretch;
  int16_t auto_rewind;
  int ticks_before;  // played before the step, from the start of play
  std::string trace;
};

TEST(Steps, EachPathInOrder) {
  // kFourFrames: frame 1 stands at (150, 75), frame 3 at (45, 150).
  const std::string frame1 = "imgGif.Left=150, imgGif.Top=75, imgGif.Picture";
  const std::string frame3 = "imgGif.Left=45, imgGif.Top=150, imgGif.Picture";
  const std::string fit = "imgGif.Height=1950, imgGif.Width=3075";
  const std::string rearm = ", Timer1.Interval=100";
  const StepCase cases[] = {
      {"Normal step, fit after", kSequenceNormal, true, 0, 1, frame1 + ", " + fit + rearm},
      {"Normal wrap, fit before", kSequenceNormal, true, 0, 3,
       "imgGif.Stretch=1, " + fit + ", " + frame3 + rearm},
      {"Reverse step", kSequenceReverse, false, 0, 2, "imgGif.Stretch=0, " + frame1 + rearm},
      {"Reverse wrap", kSequenceReverse, false, 0, 3,
       "imgGif.Stretch=0, imgGif.Visible=1, imgGif.Left=0, imgGif.Top=0, imgGif.Picture" + rearm},
      {"Random", kSequenceRandom, false, 0, 0, frame1 + ", imgGif.Stretch=0" + rearm},
      {"Ping Pong up", kSequencePingPong, false, 0, 1, frame1 + ", imgGif.Stretch=0" + rearm},
      {"Ping Pong top turn shows the last frame at once", kSequencePingPong, false, 0, 3,
       "imgGif.Stretch=0, " + frame3 + rearm},
      {"Ping Pong bottom turn: the picture only", kSequencePingPong, false, 1, 6, "imgGif.Picture"},
      {"Ping Pong bottom turn playing for ever: nothing", kSequencePingPong, false, 0, 6, ""},
      {"finish: the timer stops", kSequenceNormal, false, -1, 0, "Timer1.Enabled=0"},
  };
  for (const StepCase& t : cases) {
    SCOPED_TRACE(t.what);
    Rig rig;
    rig.LoadFrames(kFourFrames);
    rig.host.set_random_source([] { return 0.4f; });  // frame 1 of 3
    if (t.stretch) rig.c.SetStretch(true);
    StartPlay(rig, t.sequence, t.auto_rewind);
    for (int i = 0; i < t.ticks_before; ++i) rig.host.Advance(kInterval);
    rig.host.Clear();
    rig.host.Advance(kInterval);
    EXPECT_EQ(Joined(rig.host.trace), t.trace);
  }
}

// Where the step puts imgGif and how it fits it to the control without
// Stretch and with AutoSize, through the paths that fit before (wraps,
// Reverse) and after (Normal steps) the frame is shown. The step traces show
// what Stretch alone does.
struct FitCase {
  const char* what;
  bool stretch, auto_size;
  int32_t sequence;
  int ticks;
  float control_w, control_h;
  float gif_w, gif_h;
  bool gif_stretch;
  int32_t border = 0;
};

TEST(Fit, StretchAndAutoSize) {
  // kFourFrames: 1500 x 900, 1350 x 750, 1200 x 600 and 1050 x 450 twips;
  // the largest offsets are 300 and 150.
  const FitCase cases[] = {
      {"neither: imgGif takes the picture's size", false, false, kSequenceNormal, 2, 3075, 1950,
       1350, 750, false},
      {"neither, on the wrap", false, false, kSequenceNormal, 4, 3075, 1950, 1050, 450, false},
      {"AutoSize: the control takes frame 0 plus the offsets", false, true, kSequenceNormal, 2,
       1800, 1050, 1350, 750, false},
      {"AutoSize on the Reverse path", false, true, kSequenceReverse, 2, 1800, 1050, 1200, 600,
       false},
      {"AutoSize with a border", false, true, kSequenceNormal, 2, 1830, 1080, 1350, 750, false, 1},
      {"AutoSize wins over Stretch at the first resize", true, true, kSequenceNormal, 2, 1800, 1050,
       1350, 750, false},
  };
  for (const FitCase& t : cases) {
    SCOPED_TRACE(t.what);
    Rig rig;
    rig.LoadFrames(kFourFrames);
    if (t.auto_size) rig.c.SetAutoSize(true);
    if (t.stretch) rig.c.SetStretch(true);
    StartPlay(rig, t.sequence, 0, t.border);
    for (int i = 0; i < t.ticks; ++i) Tick(rig);
    EXPECT_EQ(rig.host.SurfaceWidth(), t.control_w);
    EXPECT_EQ(rig.host.SurfaceHeight(), t.control_h);
    EXPECT_EQ(rig.c.imgGif().width(), t.gif_w);
    EXPECT_EQ(rig.c.imgGif().height(), t.gif_h);
    EXPECT_EQ(rig.c.imgGif().stretch(), t.gif_stretch);
    EXPECT_EQ(rig.c.Stretch(), t.stretch && !t.auto_size);
    EXPECT_GE(rig.ShownPosition(), 0);  // at the frame's offset, inside any border
  }
}

}  // namespace
}  // namespace coretest
