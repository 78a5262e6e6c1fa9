// Construction, events, getters and the frame queries.
#include "flipreel/control/flipreel.h"

#include <algorithm>

#include "flipreel/control/about_box.h"
#include "flipreel/host/numbers.h"

namespace flipreel {

Flipreel::Flipreel(Host& host)
    : host_(host),
      Timer1_(host, "Timer1"),
      shpBorder_(host, "shpBorder"),
      imgGif_(host, "imgGif"),
      imgBackGround_(host, "imgBackGround"),
      imgBuffer_(host, "imgBuffer"),
      shpBackGround_(host, "shpBackGround") {
  // The elements as they stand in the control's design, bottom layer first.
  shpBackGround_.set_width(3075);
  shpBackGround_.set_height(1950);
  shpBackGround_.set_back_style(1);
  shpBackGround_.set_border_style(0);
  shpBackGround_.set_back_color(kColorButtonFace);
  shpBackGround_.set_border_color(0);

  Image& frame0 = imgBuffer_(0);
  frame0.set_width(3075);
  frame0.set_height(1950);
  frame0.set_visible(false);

  imgBackGround_.set_width(3055);
  imgBackGround_.set_height(1930);
  imgBackGround_.set_visible(false);
  imgBackGround_.set_stretch(false);

  imgGif_.set_width(3075);
  imgGif_.set_height(1950);
  imgGif_.set_stretch(false);

  shpBorder_.set_width(3075);
  shpBorder_.set_height(1950);
  shpBorder_.set_back_style(0);
  shpBorder_.set_border_style(0);
  shpBorder_.set_back_color(kColorButtonFace);
  shpBorder_.set_border_color(0);

  Timer1_.set_enabled(false);
  Timer1_.set_interval(0);

  host_.Attach(this);
}

Flipreel::~Flipreel() {
  host_.Attach(nullptr);
}

void Flipreel::AddListener(FlipreelEvents* listener) {
  if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
    listeners_.push_back(listener);
}

void Flipreel::RemoveListener(FlipreelEvents* listener) {
  auto it = std::find(listeners_.begin(), listeners_.end(), listener);
  if (it == listeners_.end()) return;
  if (raising_ > 0) {
    *it = nullptr;  // compacted once the dispatch in progress has ended
  } else {
    listeners_.erase(it);
  }
}

// Delivers an event to every listener. A failing handler does not stop the
// control: the failure goes to the host and the other listeners still hear
// of the event, as with any event source whose clients are out of its hands.
void Flipreel::RaiseEvent(std::string_view event,
                          const std::function<void(FlipreelEvents&)>& call) {
  ++raising_;
  const size_t count = listeners_.size();  // listeners added now hear the next event
  for (size_t i = 0; i < count; ++i) {
    FlipreelEvents* listener = listeners_[i];
    if (!listener) continue;
    try {
      call(*listener);
    } catch (const std::exception& e) {
      host_.EventHandlerFailed(event, e.what());
    }
  }
  if (--raising_ == 0) std::erase(listeners_, nullptr);
}

bool Flipreel::Playing() const {
  return host_.UserMode() ? Timer1_.enabled() : state_.Playing;
}

int16_t Flipreel::CurrentFrame() const {
  return CheckedInt16(state_.FrameIndex);
}

float Flipreel::FrameWidth(int16_t& frame) const {
  return static_cast<float>(imgBuffer_(frame).width() / double{host_.TwipsPerPixelX()});
}

float Flipreel::FrameHeight(int16_t& frame) const {
  return static_cast<float>(imgBuffer_(frame).height() / double{host_.TwipsPerPixelY()});
}

float Flipreel::FrameLeft(int16_t& frame) const {
  return static_cast<float>(imgBuffer_(frame).left() / double{host_.TwipsPerPixelX()});
}

float Flipreel::FrameTop(int16_t& frame) const {
  return static_cast<float>(imgBuffer_(frame).top() / double{host_.TwipsPerPixelY()});
}

Picture Flipreel::GetFrame(int16_t& frame) const {
  return imgBuffer_(frame).picture();
}

// A fresh About box each time, shown modally and dropped when the modal loop
// returns; a failure to show it is the error of this call.
void Flipreel::ShowAbout() {
  frmAboutFlipreel about(host_);
  about.Show(FormShow::kModal);
}

void Flipreel::OnTimer() {
  if (!state_.FramesLoaded) return;
  RaiseEvent("Frame", [](FlipreelEvents& l) { l.Frame(); });
  AdvanceFrame();
}

void Flipreel::OnAsyncReadProgress(AsyncProp& prop) {
  RaiseEvent("AsyncReadProgress", [&](FlipreelEvents& l) { l.AsyncReadProgress(prop); });
}

void Flipreel::OnHitTest(float& x, float& y, int16_t& hit_result) {
  RaiseEvent("HitTest", [&](FlipreelEvents& l) { l.HitTest(x, y, hit_result); });
}

}  // namespace flipreel
