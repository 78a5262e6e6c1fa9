// Layout and display: sizing the control to the graphic, the resize handler
// and the display properties.
#include <cmath>

#include "flipreel/control/flipreel.h"
#include "flipreel/host/numbers.h"

namespace flipreel {

namespace {

// A single-precision size as the sizing arithmetic sees it: passed through its
// decimal text, so it keeps at most 7 significant digits.
//
// A whole number of up to 7 digits, which sizes in twips nearly always are,
// comes back from its text unchanged, so it is taken as it is: every tick
// that sizes the control would otherwise format and parse its sizes anew.
// Zero is left to the text, which decides what becomes of its sign.
double ThroughText(float v) {
  if (v != 0 && std::fabs(v) < 1e7f && std::trunc(v) == v) return v;
  const std::optional<double> parsed = ParseNumber(FormatSingle(v));
  return parsed ? *parsed : static_cast<double>(v);
}

}  // namespace

// Sizes the control, both shapes and imgBackGround to the first frame plus
// the largest frame offsets (and the border allowance). It moves nothing.
void Flipreel::ArrangeDisplay() {
  FlipreelState& s = state_;
  const int32_t last = s.LastFrame;
  if (frame_extent_ && frame_extent_->last == last && frame_extent_->moves == imgBuffer_.moves()) {
    // Nothing the loop below reads has changed since it last ran to its end:
    // its results, and where it leaves the counter, are what they were.
    s.MaxFrameLeft = frame_extent_->left;
    s.MaxFrameTop = frame_extent_->top;
    s.ElementCounter = last >= 0 ? last + 1 : 0;
  } else {
    frame_extent_.reset();
    s.MaxFrameLeft = 0;
    s.MaxFrameTop = 0;
    for (s.ElementCounter = 0; s.ElementCounter <= last; ++s.ElementCounter) {
      const Image& frame = imgBuffer_(CheckedInt16(s.ElementCounter));
      if (frame.left() > static_cast<float>(s.MaxFrameLeft))
        s.MaxFrameLeft = RoundToInt16(frame.left());
      if (frame.top() > static_cast<float>(s.MaxFrameTop))
        s.MaxFrameTop = RoundToInt16(frame.top());
    }
    // Kept only once the loop has finished: one that failed runs (and
    // fails) again next time.
    frame_extent_ = FrameExtent{last, imgBuffer_.moves(), s.MaxFrameLeft, s.MaxFrameTop};
  }
  const double allowance = BorderStyle() == 0 ? 0 : 30;
  // The first frame's size is read afresh for every use.
  auto width = [&] { return ThroughText(imgBuffer_(0).width()) + s.MaxFrameLeft; };
  auto height = [&] { return ThroughText(imgBuffer_(0).height()) + s.MaxFrameTop; };

  host_.Size(CheckedSingle(width() + allowance), CheckedSingle(height() + allowance));
  shpBackGround_.set_height(CheckedSingle(height() + allowance));
  shpBackGround_.set_width(CheckedSingle(width() + allowance));
  shpBorder_.set_height(CheckedSingle(height() + allowance));
  shpBorder_.set_width(CheckedSingle(width() + allowance));
  imgBackGround_.set_height(CheckedSingle(height()));
  imgBackGround_.set_width(CheckedSingle(width()));
}

// Called by the host after every real change of the control's size,
// including the ones ArrangeDisplay makes from inside this handler; that
// inner pass finds the size already right, so the recursion ends there.
void Flipreel::OnResize() {
  host_.Refresh();
  if (AutoSize()) {
    imgGif_.set_stretch(false);
    SetStretch(false);
    ArrangeDisplay();
    host_.Refresh();
    return;
  }
  if (Stretch()) {
    imgGif_.set_width(host_.SurfaceWidth());
    imgGif_.set_height(host_.SurfaceHeight());
    SizeShapesToImgGif();
    imgGif_.set_stretch(true);
  }
  const float width = host_.SurfaceWidth();
  const float height = host_.SurfaceHeight();
  imgBackGround_.set_height(height);
  imgBackGround_.set_width(width);
  shpBackGround_.set_height(height);
  shpBackGround_.set_width(width);
  shpBorder_.set_height(height);
  shpBorder_.set_width(width);
}

// shpBackGround, shpBorder and imgBackGround take imgGif's size, height first.
void Flipreel::SizeShapesToImgGif() {
  shpBackGround_.set_height(imgGif_.height());
  shpBackGround_.set_width(imgGif_.width());
  shpBorder_.set_height(imgGif_.height());
  shpBorder_.set_width(imgGif_.width());
  imgBackGround_.set_height(imgGif_.height());
  imgBackGround_.set_width(imgGif_.width());
}

void Flipreel::SetAutoSize(bool value) {
  state_.AutoSize = value;
  Notify("AutoSize");
  if (value && !host_.UserMode()) {
    // In a designer the control shows the first frame at its size at once.
    SetStretch(false);
    imgGif_.set_stretch(false);
    ArrangeDisplay();
    const float inset = BorderInset();
    imgGif_.set_left(imgBuffer_(0).left() + inset);
    imgGif_.set_top(imgBuffer_(0).top() + inset);
    imgGif_.set_picture(imgBuffer_(0).picture());
    imgGif_.set_height(imgBuffer_(0).height());
    imgGif_.set_width(imgBuffer_(0).width());
    return;
  }
  // At run time the new size waits for the next resize or animation step.
  SetStretch(false);
  imgGif_.set_stretch(false);
}

void Flipreel::SetStretch(bool value) {
  state_.Stretch = value;
  Notify("Stretch");
  imgGif_.set_stretch(value);
  imgGif_.set_height(host_.SurfaceHeight());
  imgGif_.set_width(host_.SurfaceWidth());
  SizeShapesToImgGif();
}

// Moves the background picture (and, in a designer, imgGif) inside the border.
void Flipreel::PlaceByBorder() {
  const float inset = shpBackGround_.border_style() == 0 ? 0.0f : 10.0f;
  if (!host_.UserMode()) {
    imgGif_.set_left(inset);
    imgGif_.set_top(inset);
  }
  imgBackGround_.set_left(inset);
  imgBackGround_.set_top(inset);
}

void Flipreel::SetBorderStyle(int32_t value) {
  const int16_t style = CheckedInt16(value);
  shpBackGround_.set_border_style(style);
  shpBorder_.set_border_style(style);
  Notify("BorderStyle");
  PlaceByBorder();
  if (AutoSize()) ArrangeDisplay();
}

void Flipreel::SetBackGroundGraphic(const Picture& picture) {
  imgBackGround_.set_picture(picture);
  Notify("BackGroundGraphic");
  PlaceByBorder();
  imgBackGround_.set_visible(shpBackGround_.back_style() == 1);
}

// The background picture shows only over an opaque background.
void Flipreel::SetBackStyle(int32_t value) {
  shpBackGround_.set_back_style(CheckedInt16(value));
  Notify("BackStyle");
  imgBackGround_.set_visible(shpBackGround_.back_style() == 1);
}

void Flipreel::SetBackColor(int32_t color) {
  shpBackGround_.set_back_color(color);
  host_.SetSurfaceBackColor(color);
  Notify("BackColor");
}

void Flipreel::SetBorderColor(int32_t color) {
  shpBackGround_.set_border_color(color);
  shpBorder_.set_border_color(color);
  Notify("BorderColor");
}

}  // namespace flipreel
