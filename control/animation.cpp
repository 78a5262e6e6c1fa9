// The animation engine: each tick of Timer1 raises Frame and moves imgGif on
// to the next frame of the sequence, counting passes against AutoRewind.
#include <cmath>

#include "flipreel/control/flipreel.h"
#include "flipreel/host/numbers.h"

namespace flipreel {

void Flipreel::StartAnimation() {
  state_.LoopCount = 0;
  if (Playing()) return;
  if (state_.Composed && state_.FramesLoaded) RestartComposedTimer();
  Timer1_.set_enabled(true);
}

void Flipreel::StopAnimation() {
  if (Playing()) Timer1_.set_enabled(false);
}

void Flipreel::SetPlaying(bool value) {
  state_.Playing = value;
  Notify("Playing");
  if (!host_.UserMode()) return;
  if (value) {
    StartAnimation();
  } else {
    StopAnimation();
  }
}

void Flipreel::SetFrameRate(int16_t value) {
  state_.FrameRate = value;
  Notify("FrameRate");
  // Composed frames keep their own delays.
  if (!state_.Composed) Timer1_.set_interval(value);
}

void Flipreel::SetSequence(int32_t value) {
  const int16_t sequence = CheckedInt16(value);
  state_.Sequence = sequence;
  Notify("Sequence");
  state_.PingPongForward = sequence == kSequencePingPong;
  state_.PingPongBackward = false;
  if (!host_.UserMode()) return;
  if (sequence == kSequenceReverse) {
    state_.FrameIndex = state_.LastFrame;
  } else if (sequence == kSequenceNormal || sequence == kSequencePingPong) {
    state_.FrameIndex = 0;
  }
  if (Timer1_.enabled() && state_.Composed && state_.FramesLoaded) {
    RestartComposedTimer();
  } else if (Timer1_.enabled()) {
    Timer1_.set_enabled(false);
    Timer1_.set_interval(state_.FrameRate);
    Timer1_.set_enabled(true);
  }
}

void Flipreel::SetAutoRewind(int16_t value) {
  state_.AutoRewind = value;
  Notify("AutoRewind");
}

void Flipreel::SetAutoStart(bool value) {
  state_.AutoStart = value;
  Notify("AutoStart");
}

// The argument is ignored: Frames is always computed from LastFrame, and a
// file of one frame reports 0.
void Flipreel::SetFrames(int16_t /*ignored*/) {
  state_.Frames = state_.LastFrame != 0 ? CheckedInt16(int64_t{state_.LastFrame} + 1) : 0;
  Notify("Frames");
}

// Stored and saved; it does not move the animation.
void Flipreel::SetCurrentFrame(int16_t value) {
  state_.CurrentFrame = value;
  Notify("CurrentFrame");
}

// Puts frame i on imgGif: its position (inset by the border) and its picture.
void Flipreel::Show(int32_t index) {
  const Image& frame = imgBuffer_(CheckedInt16(index));
  const float inset = BorderInset();
  imgGif_.set_left(frame.left() + inset);
  imgGif_.set_top(frame.top() + inset);
  imgGif_.set_picture(frame.picture());
}

void Flipreel::FitAfter() {
  if (AutoSize()) {
    ArrangeDisplay();
  } else if (Stretch()) {
    imgGif_.set_height(host_.SurfaceHeight());
    imgGif_.set_width(host_.SurfaceWidth());
  } else {
    imgGif_.set_stretch(false);
  }
}

void Flipreel::FitBefore() {
  if (Stretch()) {
    imgGif_.set_stretch(true);
    imgGif_.set_height(host_.SurfaceHeight());
    imgGif_.set_width(host_.SurfaceWidth());
  } else {
    imgGif_.set_stretch(false);
  }
}

void Flipreel::CountPass() {
  if (state_.AutoRewind != 0) state_.LoopCount = CheckedAdd32(state_.LoopCount, 1);
}

void Flipreel::Rearm() {
  Timer1_.set_interval(state_.FrameRate);
}

// One frame forward: the current frame is shown, then the index moves on.
void Flipreel::StepUp() {
  Show(state_.FrameIndex);
  state_.FrameIndex = CheckedAdd32(state_.FrameIndex, 1);
  FitAfter();
  Rearm();
}

// One frame back: the display is fitted first, then the current frame is
// shown and the index moves back.
void Flipreel::StepDown() {
  FitBefore();
  Show(state_.FrameIndex);
  state_.FrameIndex = CheckedAdd32(state_.FrameIndex, -1);
  Rearm();
  if (AutoSize()) ArrangeDisplay();
}

// Re-seeds from the clock before every draw. floor(r * LastFrame) never
// reaches LastFrame itself.
void Flipreel::DrawRandomFrame() {
  host_.Randomize();
  const float r = host_.Rnd();
  state_.RandomFrame = CheckedInt16(static_cast<int64_t>(
      std::floor(static_cast<double>(r) * static_cast<double>(state_.LastFrame))));
}

void Flipreel::AdvanceFrame() {
  if (state_.Composed) {
    AdvanceComposedFrame();
    return;
  }
  FlipreelState& s = state_;
  // The tick after the last counted pass finishes play and shows nothing.
  if (s.AutoRewind != 0 && s.LoopCount >= int32_t{s.AutoRewind}) {
    s.LoopCount = 0;
    Timer1_.set_enabled(false);
    RaiseEvent("PlayFinished", [](FlipreelEvents& l) { l.PlayFinished(); });
    return;
  }
  switch (s.Sequence) {
    case kSequenceNormal:
      if (s.FrameIndex < s.LastFrame) {
        StepUp();
      } else {
        s.FrameIndex = 0;
        CountPass();
        FitBefore();
        Show(s.LastFrame);
        Rearm();
        if (AutoSize()) ArrangeDisplay();
      }
      break;
    case kSequenceReverse:
      if (s.FrameIndex > 0) {
        StepDown();
      } else {
        CountPass();
        FitBefore();
        imgGif_.set_visible(true);
        Show(0);
        s.FrameIndex = s.LastFrame;
        Rearm();
        if (AutoSize()) ArrangeDisplay();
      }
      break;
    case kSequenceRandom:
      DrawRandomFrame();
      s.FrameIndex = s.RandomFrame;
      Show(s.RandomFrame);
      FitAfter();
      Rearm();
      break;
    case kSequencePingPong:
      // The upward test comes first: the top turn falls through to the
      // downward test in the same tick; the bottom turn does not fall back.
      if (s.PingPongForward) {
        if (s.FrameIndex < s.LastFrame) {
          StepUp();
        } else {
          s.PingPongBackward = true;
          s.PingPongForward = false;
          s.FrameIndex = s.LastFrame;
        }
      }
      if (s.PingPongBackward) {
        if (s.FrameIndex > 0) {
          StepDown();
        } else {
          s.PingPongForward = true;
          s.PingPongBackward = false;
          s.FrameIndex = 0;
          if (s.AutoRewind != 0) {
            // Frame 0's picture where the previous frame stood; the pass ends.
            imgGif_.set_picture(imgBuffer_(0).picture());
            s.LoopCount = CheckedAdd32(s.LoopCount, 1);
          }
        }
      }
      break;
    default:
      break;  // any other sequence value shows nothing
  }
}

}  // namespace flipreel
