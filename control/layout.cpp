// Layout and display: sizing the control to the graphic, the resize handler
// and the display properties.
#include "flipreel/control/flipreel.h"
#include "flipreel/host/numbers.h"

namespace flipreel {

namespace {

// A single-precision size as the sizing arithmetic sees it: passed through its
// decimal text, so it keeps at most 7 significant digits.
double ThroughText(float v) {
  const std::optional<double> parsed = ParseNumber(FormatSingle(v));
  return parsed ? *parsed : static_cast<double>(v);
}

}  // namespace

// Sizes the control, both shapes and imgBackGround to the first frame plus
// the largest frame offsets (and the border allowance). It moves nothing.
void Flipreel::ArrangeDisplay() {
  FlipreelState& s = state_;
  s.MaxFrameLeft = 0;
  s.MaxFrameTop = 0;
  const int32_t last = s.LastFrame;
  for (s.ElementCounter = 0; s.ElementCounter <= last; ++s.ElementCounter) {
    const Image& frame = imgBuffer_(CheckedInt16(s.ElementCounter));
    if (frame.left() > static_cast<float>(s.MaxFrameLeft))
      s.MaxFrameLeft = RoundToInt16(frame.left());
    if (frame.top() > static_cast<float>(s.MaxFrameTop)) s.MaxFrameTop = RoundToInt16(frame.top());
  }
  const double allowance = BorderStyle() == 0 ? 0 : 30;
  // The first frame's size is read afresh for every use.
  auto width = [&] { return ThroughText(imgBuffer_(0).width()) + s.MaxFrameLeft; };
  auto height = [&] { return ThroughText(imgBuffer_(0).height()) + s.MaxFrameTop; };

  host_.Size(CheckedSingle(width() + allowance), CheckedSingle(height() + allowance));
  shpBackGround_.setHeight(CheckedSingle(height() + allowance));
  shpBackGround_.setWidth(CheckedSingle(width() + allowance));
  shpBorder_.setHeight(CheckedSingle(height() + allowance));
  shpBorder_.setWidth(CheckedSingle(width() + allowance));
  imgBackGround_.setHeight(CheckedSingle(height()));
  imgBackGround_.setWidth(CheckedSingle(width()));
}

// Called by the host after every real change of the control's size,
// including the ones ArrangeDisplay makes from inside this handler; that
// inner pass finds the size already right, so the recursion ends there.
void Flipreel::OnResize() {
  host_.Refresh();
  if (AutoSize()) {
    imgGif_.setStretch(false);
    SetStretch(false);
    ArrangeDisplay();
    host_.Refresh();
    return;
  }
  if (Stretch()) {
    imgGif_.setWidth(host_.SurfaceWidth());
    imgGif_.setHeight(host_.SurfaceHeight());
    SizeShapesToImgGif();
    imgGif_.setStretch(true);
  }
  const float width = host_.SurfaceWidth();
  const float height = host_.SurfaceHeight();
  imgBackGround_.setHeight(height);
  imgBackGround_.setWidth(width);
  shpBackGround_.setHeight(height);
  shpBackGround_.setWidth(width);
  shpBorder_.setHeight(height);
  shpBorder_.setWidth(width);
}

// shpBackGround, shpBorder and imgBackGround take imgGif's size, height first.
void Flipreel::SizeShapesToImgGif() {
  shpBackGround_.setHeight(imgGif_.height());
  shpBackGround_.setWidth(imgGif_.width());
  shpBorder_.setHeight(imgGif_.height());
  shpBorder_.setWidth(imgGif_.width());
  imgBackGround_.setHeight(imgGif_.height());
  imgBackGround_.setWidth(imgGif_.width());
}

void Flipreel::SetAutoSize(bool value) {
  state_.AutoSize = value;
  Notify("AutoSize");
  if (value && !host_.UserMode()) {
    // In a designer the control shows the first frame at its size at once.
    SetStretch(false);
    imgGif_.setStretch(false);
    ArrangeDisplay();
    const float inset = BorderInset();
    imgGif_.setLeft(imgBuffer_(0).left() + inset);
    imgGif_.setTop(imgBuffer_(0).top() + inset);
    imgGif_.setPicture(imgBuffer_(0).picture());
    imgGif_.setHeight(imgBuffer_(0).height());
    imgGif_.setWidth(imgBuffer_(0).width());
    return;
  }
  // At run time the new size waits for the next resize or animation step.
  SetStretch(false);
  imgGif_.setStretch(false);
}

void Flipreel::SetStretch(bool value) {
  state_.Stretch = value;
  Notify("Stretch");
  imgGif_.setStretch(value);
  imgGif_.setHeight(host_.SurfaceHeight());
  imgGif_.setWidth(host_.SurfaceWidth());
  SizeShapesToImgGif();
}

// Moves the background picture (and, in a designer, imgGif) inside the border.
void Flipreel::PlaceByBorder() {
  const float inset = shpBackGround_.borderStyle() == 0 ? 0.0f : 10.0f;
  if (!host_.UserMode()) {
    imgGif_.setLeft(inset);
    imgGif_.setTop(inset);
  }
  imgBackGround_.setLeft(inset);
  imgBackGround_.setTop(inset);
}

void Flipreel::SetBorderStyle(int32_t value) {
  const int16_t style = CheckedInt16(value);
  shpBackGround_.setBorderStyle(style);
  shpBorder_.setBorderStyle(style);
  Notify("BorderStyle");
  PlaceByBorder();
  if (AutoSize()) ArrangeDisplay();
}

void Flipreel::SetBackGroundGraphic(const Picture& picture) {
  imgBackGround_.setPicture(picture);
  Notify("BackGroundGraphic");
  PlaceByBorder();
  imgBackGround_.setVisible(shpBackGround_.backStyle() == 1);
}

// The background picture shows only over an opaque background.
void Flipreel::SetBackStyle(int32_t value) {
  shpBackGround_.setBackStyle(CheckedInt16(value));
  Notify("BackStyle");
  imgBackGround_.setVisible(shpBackGround_.backStyle() == 1);
}

void Flipreel::SetBackColor(int32_t color) {
  shpBackGround_.setBackColor(color);
  host_.SetSurfaceBackColor(color);
  Notify("BackColor");
}

void Flipreel::SetBorderColor(int32_t color) {
  shpBackGround_.setBorderColor(color);
  shpBorder_.setBorderColor(color);
  Notify("BorderColor");
}

}  // namespace flipreel
