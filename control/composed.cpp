// Composed playback: the opt-in way of playing a GIF as browsers do. The
// host reads the file by its block structure and composes every image on the
// logical screen; the control keeps one whole picture per frame in imgBuffer,
// shows each for its own delay on a schedule that does not drift, and ends
// play after the file's repeat count unless AutoRewind says otherwise.
#include <algorithm>
#include <cmath>

#include "flipreel/control/flipreel.h"
#include "flipreel/host/numbers.h"

namespace flipreel {

namespace {

// A tick this much behind its schedule (the machine slept, a modal dialog
// held the thread) restarts the schedule rather than rushing through the
// frames it missed.
constexpr int64_t kMaxLatenessMs = 1000;

}  // namespace

void Flipreel::SetComposed(bool value) {
  const bool changed = value != state_.Composed;
  state_.Composed = value;
  Notify("Composed");
  // A GIF already held in Buffer is loaded again the new way.
  if (changed && state_.Buffer.StartsWith("GIF")) ShowLoadedGif();
}

void Flipreel::ReportReadError(const HostError& error) {
  host_.ErrorTrapped(error);
  host_.MsgBox(u"Error No. " + FormatLong(error.number()) + u" : when reading file", kMsgCritical,
               u"Flipreel Control");
}

// Loads every frame of the GIF in data into frames: element i holds the
// logical screen as it stands after the file's image i, at element 0's
// position, with its delay in ms as Tag. Data that is no GIF fails quietly;
// a GIF without a single readable frame fails with a message.
bool Flipreel::ComposeFrames(const BufferText& data, ImageArray& frames) {
  state_.FramesLoaded = false;
  state_.LastFrame = 0;
  if (!data.StartsWith("GIF")) return false;
  const std::optional<HostError> failed = Trap([&] {
    for (int32_t i = frames.UBound(); i >= 1; --i) {
      if (frames.Exists(i)) frames.Unload(i);
    }
    std::shared_ptr<const std::string> bytes = data.ToBytes();
    ComposedAnimation animation = host_.LoadAnimation(*bytes);
    bytes.reset();
    composed_.delays.clear();
    for (size_t i = 0; i < animation.frames.size(); ++i) {
      const auto index = static_cast<int32_t>(i);
      if (index > 0) {
        host_.BetweenLoadSteps();
        frames.Load(index);  // takes element 0's position
      }
      frames(index).set_tag(FormatLong(animation.frames[i].delay_ms));
      frames(index).set_picture(std::move(animation.frames[i].picture));
      composed_.delays.push_back(animation.frames[i].delay_ms);
    }
    composed_.repeat_count = animation.repeat_count;
    composed_.shown = 0;
    state_.LastFrame = frames.count() - 1;
    state_.FramesLoaded = true;
  });
  if (!failed) return true;
  ReportReadError(*failed);
  return false;
}

// After a load or a restore has shown frame 0: the next tick shows the frame
// that follows it in the play order (a reverse play starts from the last),
// frame 0 staying on show for its own delay.
void Flipreel::BeginComposedPlay() {
  FlipreelState& s = state_;
  composed_.shown = 0;
  if (host_.UserMode()) {
    if (s.Sequence == kSequenceNormal || s.Sequence == kSequencePingPong) {
      s.FrameIndex = s.LastFrame > 0 ? 1 : 0;
    } else if (s.Sequence == kSequenceReverse) {
      s.FrameIndex = s.LastFrame;
    }
  }
  RestartComposedTimer();
}

// The frame on show gets its whole delay again, counted from now.
void Flipreel::RestartComposedTimer() {
  const int32_t delay = composed_.delays.empty() ? 0 : composed_.delays[composed_.shown];
  composed_.due = host_.Now() + delay;
  Timer1_.set_interval(delay);
}

// Passes before play ends: AutoRewind when set; else the file's repeat
// count, read as browsers read it (the repeats after the first play, 0 for
// ever, one play without the extension).
int32_t Flipreel::ComposedPassLimit() const {
  if (state_.AutoRewind != 0) return state_.AutoRewind;
  if (composed_.repeat_count == ComposedAnimation::kPlayOnce) return 1;
  if (composed_.repeat_count == 0) return 0;
  return composed_.repeat_count + 1;
}

void Flipreel::AdvanceComposedFrame() {
  FlipreelState& s = state_;
  const int32_t limit = ComposedPassLimit();
  if (limit != 0 && s.LoopCount >= limit) {
    s.LoopCount = 0;
    Timer1_.set_enabled(false);
    RaiseEvent("PlayFinished", [](FlipreelEvents& l) { l.PlayFinished(); });
    return;
  }
  if (s.Sequence < kSequenceNormal || s.Sequence > kSequencePingPong) return;
  if (s.Sequence == kSequenceRandom) {
    // Every frame can be drawn, the last one included.
    host_.Randomize();
    const double r = host_.Rnd();
    s.RandomFrame = CheckedInt16(
        std::min<int64_t>(static_cast<int64_t>(std::floor(r * (s.LastFrame + 1.0))), s.LastFrame));
    s.FrameIndex = s.RandomFrame;
  }
  const int32_t shown = std::clamp(s.FrameIndex, 0, s.LastFrame);
  FitBefore();
  Show(shown);
  if (AutoSize()) ArrangeDisplay();

  // The next tick is due one delay after this one was due, not after it
  // came, so that a late tick does not push every later frame back.
  composed_.shown = shown;
  const int64_t now = host_.Now();
  const int64_t due = now - composed_.due > kMaxLatenessMs ? now : composed_.due;
  composed_.due = due + composed_.delays[shown];
  Timer1_.set_interval(CheckedInt32(std::max<int64_t>(composed_.due - now, 1)));
  StepComposedOrder(shown);
}

// Moves FrameIndex to the frame the next tick shows and counts a pass where
// the order completes one: after the last frame going forward, after frame 0
// going backward, and in Ping Pong back at frame 0 after the turn at the top.
// Random never completes a pass.
void Flipreel::StepComposedOrder(int32_t shown) {
  FlipreelState& s = state_;
  const int32_t last = s.LastFrame;
  bool pass = false;
  switch (s.Sequence) {
    case kSequenceNormal:
      pass = shown >= last;
      s.FrameIndex = pass ? 0 : shown + 1;
      break;
    case kSequenceReverse:
      pass = shown <= 0;
      s.FrameIndex = pass ? last : shown - 1;
      break;
    case kSequencePingPong: {
      bool down = s.PingPongBackward;
      if (last == 0) {
        pass = true;
        down = false;
      } else if (!down && shown >= last) {
        down = true;
      } else if (down && shown <= 0) {
        pass = true;
        down = false;
      }
      s.PingPongForward = !down;
      s.PingPongBackward = down;
      s.FrameIndex = last == 0 ? 0 : (down ? shown - 1 : shown + 1);
      break;
    }
    default:
      break;
  }
  if (pass && ComposedPassLimit() != 0) s.LoopCount = CheckedAdd32(s.LoopCount, 1);
}

}  // namespace flipreel
