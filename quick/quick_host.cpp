#include "flipreel/quick/quick_host.h"

#include <QCoreApplication>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <utility>

#include "flipreel/gif/gif_decoder.h"
#include "flipreel/host/scope.h"

namespace flipreel {

QuickHost::QuickHost(QuickSurface& surface)
    : surface_(surface),
      // The control's initial size, 3075 x 1950 twips.
      size_(205, 130),
      reads_([this] {
        if (!delivery_queued_.exchange(true))
          QMetaObject::invokeMethod(
              &context_, [this] { DeliverReads(); }, Qt::QueuedConnection);
      }) {
  qtimer_.setTimerType(Qt::PreciseTimer);
  qtimer_.setSingleShot(true);
  clock_.start();
  QObject::connect(&qtimer_, &QTimer::timeout, [this] { Tick(); });
}

QuickHost::~QuickHost() {
  qtimer_.stop();
}

void QuickHost::Attach(HostedControl* control) {
  control_ = control;
  if (!control) {
    timer_ = nullptr;
    armed_ = false;
    qtimer_.stop();
  }
}

void QuickHost::ElementDestroyed(const Element& element) {
  if (&element != timer_) return;
  timer_ = nullptr;
  armed_ = false;
  qtimer_.stop();
}

void QuickHost::ElementChanged(const Element& element, ElementProperty what) {
  if (element.kind() == ElementKind::kTimer) {
    timer_ = static_cast<const Timer*>(&element);
    if (what == ElementProperty::kEnabled || what == ElementProperty::kInterval) Rearm();
    return;
  }
  surface_.ElementChanged(element, what);
}

// Switching the timer on or setting its interval starts a fresh interval; an
// interval of 0 never ticks. Inside a tick, arming with the interval already
// running keeps the schedule: the next interval counts from this tick's due
// time, not from when its work ends.
void QuickHost::Rearm() {
  if (!timer_ || !timer_->enabled() || timer_->interval() <= 0) {
    armed_ = false;
    qtimer_.stop();
    return;
  }
  const int32_t interval = timer_->interval();
  if (in_tick_ && armed_ && interval == armed_interval_) {
    due_ += interval;
  } else {
    due_ = Now() + interval;
  }
  armed_ = true;
  armed_interval_ = interval;
  rearmed_ = true;
  if (!in_tick_) Schedule();
}

int64_t QuickHost::ClockNow() const {
  if (held_) return base_;
  return base_ + std::llround(static_cast<double>(clock_.elapsed() - base_real_) * speed_);
}

void QuickHost::Rebase() {
  base_ = ClockNow();
  base_real_ = clock_.elapsed();
}

void QuickHost::SetSpeed(double speed) {
  if (!(speed > 0) || !std::isfinite(speed)) speed = 1.0;
  Rebase();
  speed_ = speed;
  Schedule();
}

void QuickHost::SetHeld(bool held) {
  if (held == held_) return;
  Rebase();
  held_ = held;
  if (!held && active_) CatchUp();
  Schedule();
}

void QuickHost::Schedule() {
  if (!armed_ || !active_ || held_ || now_) {
    qtimer_.stop();
    return;
  }
  const double wait = static_cast<double>(std::max<int64_t>(0, due_ - ClockNow())) / speed_;
  qtimer_.start(static_cast<int>(std::min(wait, 1e9)));
}

void QuickHost::Tick() {
  if (!armed_ || !control_ || surface_.LoadPending()) return;
  rearmed_ = false;
  {
    const ScopedValue in_tick(in_tick_, true);
    ++ticks_delivered_;
    RunHostEvent("Timer1", [this] { control_->OnTimer(); });
  }
  // A timer the tick left alone runs on at its interval.
  if (armed_ && !rearmed_) due_ += armed_interval_;
  Schedule();
}

bool QuickHost::DeliverTick() {
  if (!control_ || !timer_ || !timer_->enabled()) return false;
  Tick();
  return true;
}

void QuickHost::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (active) CatchUp();
  Schedule();
}

void QuickHost::CatchUp() {
  int delivered = 0;
  while (armed_ && control_ && !held_ && !surface_.LoadPending() && due_ <= ClockNow()) {
    if (++delivered > kMaxCatchUpTicks) {
      due_ = ClockNow();
      break;
    }
    now_ = due_;
    Tick();
  }
  now_.reset();
}

template <typename Fn>
void QuickHost::RunHostEvent(std::string_view event, Fn&& fn) {
  if (!control_) return;
  try {
    if (std::optional<HostError> failed = Trap(std::forward<Fn>(fn)))
      surface_.HostEventFailed(event, *failed);
  } catch (const std::exception& e) {
    // Nothing may escape into the event loop.
    surface_.HostEventFailed(event, HostError(err::kInvalidCall, e.what()));
  }
  surface_.HostEventEnded();
}

// Sizes are compared in whole pixels, which ends the resize handler's
// recursion through the control's layout.
void QuickHost::Size(float width, float height) {
  if (!(width >= 0) || !(height >= 0) || !std::isfinite(width) || !std::isfinite(height))
    Raise(err::kInvalidPropertyValue);
  const double w = std::round(static_cast<double>(width) / kTwipsPerPixel);
  const double h = std::round(static_cast<double>(height) / kTwipsPerPixel);
  if (w > 1 << 24 || h > 1 << 24) Raise(err::kInvalidPropertyValue);
  const QSize wanted(static_cast<int>(w), static_cast<int>(h));
  if (wanted == size_) return;
  size_ = wanted;
  if (control_) control_->OnResize();
}

Picture QuickHost::LoadPicture(TextView path) {
  if (path.empty()) return Picture();
  surface_.BetweenLoadSteps();
  return RememberingFailure([&] {
    std::string storage;
    const std::string_view bytes = ReadWholeFile(path, storage);
    const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.data()),
                                        bytes.size());
    if (!LooksLikeGif(data)) Raise(err::kInvalidPicture);
    return ahead_.Decode(data);
  });
}

// No box is ever shown: the item reports errors as values.
int32_t QuickHost::MsgBox(TextView text, int16_t style, TextView /*title*/) {
  surface_.MessageShown(style, Text(text));
  return 1;
}

// Seeded from the wall clock: seconds since midnight.
void QuickHost::Randomize() {
  random_.Seed(QTime::currentTime().msecsSinceStartOfDay() / 1000.0);
}

void QuickHost::AsyncRead(TextView target, int32_t async_type, TextView property_name) {
  reads_.Start(target, async_type, property_name, MadePrivateFolderPath());
}

void QuickHost::CancelAsyncRead(TextView property_name) {
  reads_.Cancel(property_name);
}

void QuickHost::DeliverReads() {
  delivery_queued_ = false;
  reads_.Deliver([this](AsyncProp& prop, bool finished) {
    if (finished) {
      trapped_errors().clear();
      RunHostEvent("AsyncReadComplete", [&] { control_->OnAsyncReadComplete(prop); });
      surface_.ReadCompleted(prop);
    } else {
      RunHostEvent("AsyncReadProgress", [&] { control_->OnAsyncReadProgress(prop); });
    }
  });
}

void QuickHost::EventHandlerFailed(std::string_view event, const std::string& what) {
  qWarning("Flipreel: a handler of the %.*s event failed: %s", static_cast<int>(event.size()),
           event.data(), what.c_str());
}

}  // namespace flipreel
