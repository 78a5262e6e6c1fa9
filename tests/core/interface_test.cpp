// The control's public interface: getters, frame queries, the member table
// reached by name with the host's conversions, and event delivery.
#include <gtest/gtest.h>

#include "tests/core/core_fixture.h"

namespace coretest {
namespace {

// By name Sequence comes back as a 32-bit value (its enumeration's); and
// CurrentFrame reads FrameIndex, never the value assigned to it.
TEST(Getters, SequenceIsALongAndCurrentFrameReadsTheStateRecord) {
  Rig rig;
  Flipreel& c = rig.c;
  c.SetSequence(kSequencePingPong);
  Variant sequence = c.Invoke("Sequence", CallKind::kGet);
  EXPECT_EQ(sequence.type(), Variant::Type::kLong);
  EXPECT_EQ(sequence.ToLong(), 3);

  rig.LoadFrames(kFourFrames);
  c.StartAnimation();
  rig.host.Advance(2 * c.FrameRate());
  ASSERT_EQ(c.CurrentFrame(), 2);
  c.SetCurrentFrame(7);
  EXPECT_EQ(c.CurrentFrame(), 2);
  EXPECT_EQ(c.state().CurrentFrame, 7);
}

// Frame queries answer in pixels with the host's own conversion, and fail
// with error 340 for an element that does not exist.
struct FrameQueryCase {
  const char* what;
  bool loaded;  // a GIF of three frames, or a new control
  float tppx, tppy;
  int16_t frame;
  int32_t error;  // 0: answers
  float width = 0, height = 0, left = 0, top = 0;
  float tppx_later = 0;  // the host's pixels after the load (another screen)
};

TEST(FrameQueries, AnswerInPixelsOrFailForMissingElements) {
  const FrameQueryCase cases[] = {
      {"before any load frame 0 is element 0 as designed", false, 15, 15, 0, 0, 205, 130, 0, 0},
      {"negative before any load", false, 15, 15, -1, 340},
      {"first frame", true, 15, 15, 0, 0, 100, 60, 0, 0},
      {"last frame", true, 15, 15, 2, 0, 80, 40, 20, 2},
      {"other twips per pixel", true, 12, 10, 2, 0, 80, 40, 25, 3},
      {"fractional pixels", true, 15, 15, 1, 0, 1350.0f / 16, 50, 7.5f, 4, 16},
      {"above LastFrame", true, 15, 15, 3, 340},
      {"negative", true, 15, 15, -32768, 340},
  };
  for (const FrameQueryCase& t : cases) {
    SCOPED_TRACE(t.what);
    Rig rig;
    Flipreel& c = rig.c;
    rig.host.SetTwipsPerPixel(t.tppx, t.tppy);
    if (t.loaded) {
      // Pictures are sized with the host's conversion when they are set.
      rig.LoadFrames({{100, 60, 0, 0}, {90, 50, 120, 60}, {80, 40, 300, 30}});
    }
    if (t.tppx_later) rig.host.SetTwipsPerPixel(t.tppx_later, t.tppy);
    int16_t frame = t.frame;
    if (t.error) {
      EXPECT_EQ(ErrorOf([&] { c.FrameWidth(frame); }), t.error);
      EXPECT_EQ(ErrorOf([&] { c.FrameHeight(frame); }), t.error);
      EXPECT_EQ(ErrorOf([&] { c.FrameLeft(frame); }), t.error);
      EXPECT_EQ(ErrorOf([&] { c.FrameTop(frame); }), t.error);
      EXPECT_EQ(ErrorOf([&] { c.GetFrame(frame); }), t.error);
      EXPECT_EQ(frame, t.frame);
      continue;
    }
    EXPECT_FLOAT_EQ(c.FrameWidth(frame), t.width);
    EXPECT_FLOAT_EQ(c.FrameHeight(frame), t.height);
    EXPECT_FLOAT_EQ(c.FrameLeft(frame), t.left);
    EXPECT_FLOAT_EQ(c.FrameTop(frame), t.top);
    // The frame's own picture, shared rather than copied.
    EXPECT_EQ(c.GetFrame(frame), c.imgBuffer()(frame).picture());
    EXPECT_EQ(c.GetFrame(frame).IsEmpty(), !t.loaded);
    EXPECT_EQ(frame, t.frame);  // taken by reference, never changed
    // By name the answer is a single-precision number in a variant.
    Variant arg(t.frame);
    Variant width = c.Invoke("FrameWidth", CallKind::kMethod, std::span(&arg, 1));
    EXPECT_EQ(width.type(), Variant::Type::kSingle);
    EXPECT_FLOAT_EQ(width.ToSingle(), t.width);
  }
}

TEST(Members, TableInTheInterfaceOrder) {
  std::vector<std::string> names;
  for (const MemberInfo& m : Flipreel::Members()) names.emplace_back(m.name);
  EXPECT_EQ(Joined(names, " "),
            "FlipreelFile FrameRate ShowAbout AutoSize Sequence Stretch BorderColor StartAnimation "
            "StopAnimation AutoRewind Playing AutoStart BackColor BackStyle RemoveGif FrameHeight "
            "FrameWidth FrameLeft FrameTop GetFrame BackGroundGraphic BorderStyle Frames "
            "CurrentFrame GifFromURL ServerUserName ServerPassword CancelAsyncRead Composed");
  EXPECT_EQ(Flipreel::Members()[2].dispid, kDispidShowAbout);
  EXPECT_EQ(Flipreel::Members()[20].kind, MemberInfo::Kind::kObjectProperty);
}

// Arguments are converted to the member's type before the member runs: a bad
// one is refused with the host's error, and nothing changes or is announced.
struct ConversionCase {
  const char* name;  // any letter case
  CallKind kind;
  Variant argument;
  int32_t error;          // 0: accepted
  int32_t read_back = 0;  // when accepted: a property's getter afterwards, a method's answer
};

TEST(Members, ConvertArgumentsBeforeTheMemberRuns) {
  const ConversionCase cases[] = {
      {"FrameRate", CallKind::kLet, Variant(Text(u"250")), 0, 250},
      {"framerate", CallKind::kLet, Variant(Text(u" 12 ")), 0, 12},
      {"FRAMERATE", CallKind::kLet, Variant(2.5), 0, 2},  // halves to even
      {"FrameRate", CallKind::kLet, Variant(Text(u"12x")), 13},
      {"FrameRate", CallKind::kLet, Variant(Text(u"")), 13},
      {"FrameRate", CallKind::kLet, Variant(int32_t{32768}), 6},
      {"FrameRate", CallKind::kLet, Variant(32767.5), 6},
      {"AutoRewind", CallKind::kLet, Variant(int32_t{-40000}), 6},
      {"CurrentFrame", CallKind::kLet, Variant(int32_t{40000}), 6},
      {"Frames", CallKind::kLet, Variant(Text(u"four")), 13},
      {"Sequence", CallKind::kLet, Variant(int32_t{32768}), 6},
      {"Sequence", CallKind::kLet, Variant(Text(u"Ping Pong")), 13},
      {"BackStyle", CallKind::kLet, Variant(int32_t{65536}), 6},
      {"BorderStyle", CallKind::kLet, Variant(int32_t{-32769}), 6},
      {"AutoSize", CallKind::kLet, Variant(Text(u"yes")), 13},
      {"BorderColor", CallKind::kLet, Variant(Text(u"&H80000005")), 0, kColorWindowBackground},
      {"NoSuchMember", CallKind::kLet, Variant(int16_t{1}), 438},
      {"FrameTop", CallKind::kMethod, Variant(Text(u"first")), 13},
      {"GetFrame", CallKind::kMethod, Variant(int32_t{70000}), 6},
      {"frameheight", CallKind::kMethod, Variant(Text(u"0")), 0, 130},
  };
  for (const ConversionCase& t : cases) {
    SCOPED_TRACE(std::string(t.name) + " <- " + t.argument.Describe());
    Rig rig;
    rig.host.Clear();
    Variant arg = t.argument;
    Variant answer;
    const int32_t error =
        ErrorOf([&] { answer = rig.c.Invoke(t.name, t.kind, std::span(&arg, 1)); });
    EXPECT_EQ(error, t.error);
    if (t.error) {
      // Every setter announces and every shape change is traced: nothing ran.
      EXPECT_TRUE(rig.host.trace.empty());
    } else if (t.kind == CallKind::kMethod) {
      EXPECT_EQ(answer.ToLong(), t.read_back);
    } else {
      EXPECT_EQ(rig.c.Invoke(t.name, CallKind::kGet).ToLong(), t.read_back);
    }
  }
}

TEST(Events, DeliveredSynchronouslyToEveryListenerInOrder) {
  Rig rig;
  rig.LoadFrames(kFourFrames);
  rig.c.StartAnimation();
  ASSERT_TRUE(rig.host.DeliverTick());  // shows frame 0
  EventLog second(rig.c);
  rig.c.AddListener(&second);
  std::vector<std::string> order;
  rig.events.on_frame = [&] {
    order.push_back("first");
    // The step has not run yet: imgGif still shows frame 0.
    EXPECT_EQ(rig.ShownPicture(), 0);
  };
  second.on_frame = [&] { order.push_back("second"); };
  ASSERT_TRUE(rig.host.DeliverTick());
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(rig.ShownPicture(), 1);

  // A listener that goes away no longer hears anything; the other still does.
  rig.c.RemoveListener(&rig.events);
  ASSERT_TRUE(rig.host.DeliverTick());
  EXPECT_EQ(order.size(), 3u);
  EXPECT_EQ(second.entries.size(), 2u);
}

// Handlers that change the listeners while an event is delivered: one removed
// by an earlier handler hears nothing more, not even the rest of that event;
// one that removes itself finishes; one added hears from the next event on.
TEST(Events, ListenersRemovedOrAddedDuringDispatch) {
  Rig rig;
  rig.LoadFrames(kFourFrames);
  rig.c.RemoveListener(&rig.events);
  EventLog self_removing(rig.c), removed(rig.c), added(rig.c);
  self_removing.on_frame = [&] {
    rig.c.RemoveListener(&self_removing);
    rig.c.RemoveListener(&removed);
    rig.c.AddListener(&added);
  };
  rig.c.AddListener(&self_removing);
  rig.c.AddListener(&removed);
  rig.c.StartAnimation();
  for (int tick = 0; tick < 2; ++tick) ASSERT_TRUE(rig.host.DeliverTick());
  EXPECT_EQ(self_removing.entries.size(), 1u);
  EXPECT_TRUE(removed.entries.empty());
  EXPECT_EQ(added.entries.size(), 1u);
}

// The host forgets the timer with the control: after the control is gone the
// clock runs on with nothing to deliver.
TEST(Events, HostAfterItsControlIsGone) {
  TracingHost host;
  {
    Flipreel c(host);
    LoadGifBytes(c, host, testgif::Build(testgif::Animation(2)));
    ASSERT_EQ(c.Frames(), 2);
    c.SetFrameRate(100);
    c.StartAnimation();
    host.Advance(100);
    ASSERT_NE(host.timer(), nullptr);
  }
  EXPECT_EQ(host.timer(), nullptr);
  EXPECT_FALSE(host.DeliverTick());
  host.Advance(1000);
  EXPECT_EQ(host.Now(), 1100);
}

}  // namespace
}  // namespace coretest
