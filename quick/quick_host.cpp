#include "flipreel/quick/quick_host.h"

#include <QCoreApplication>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <utility>

#include "flipreel/gif/gif_decoder.h"
#include "flipreel/host/scope.h"

namespace flipreel {

QuickHost::QuickHost(QuickSurface& surface, FrameClock& clock)
    : surface_(surface),
      // The control's initial size, 3075 x 1950 twips.
      size_(205, 130),
      schedule_([this] { Tick(); }, clock),
      reads_([this] {
        if (!delivery_queued_.exchange(true))
          QMetaObject::invokeMethod(
              &context_, [this] { DeliverReads(); }, Qt::QueuedConnection);
      }) {}

QuickHost::~QuickHost() = default;

void QuickHost::Attach(HostedControl* control) {
  control_ = control;
  if (!control) schedule_.Forget();
}

void QuickHost::ElementDestroyed(const Element& element) {
  schedule_.Forget(&element);
}

void QuickHost::ElementChanged(const Element& element, ElementProperty what) {
  if (!schedule_.ElementChanged(element, what)) surface_.ElementChanged(element, what);
}

void QuickHost::Tick() {
  if (!control_ || surface_.LoadPending()) return;
  RunHostEvent("Timer1", [this] { control_->OnTimer(); });
}

bool QuickHost::DeliverTick() {
  return control_ && schedule_.DeliverTick();
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
    return DecodeSharedGif(bytes);
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
