#include "flipreel/quick/quick_host.h"

#include <QCoreApplication>
#include <algorithm>
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
  RunHostEvent(control_, surface_, "Timer1", [this] { control_->OnTimer(); });
}

bool QuickHost::DeliverTick() {
  return control_ && schedule_.DeliverTick();
}

// Sizes are compared in whole pixels, which ends the resize handler's
// recursion through the control's layout.
void QuickHost::Size(float width, float height) {
  const PixelSize wanted = PixelSizeOfTwips(width, height, kTwipsPerPixel);
  if (wanted == PixelSize{size_.width(), size_.height()}) return;
  size_ = QSize(wanted.width, wanted.height);
  if (control_) control_->OnResize();
}

Picture QuickHost::LoadPicture(TextView path) {
  if (path.empty()) return Picture();
  if (surface_.DroppingLoad()) Raise(err::kInvalidCall);
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

void QuickHost::Randomize() {
  random_.Seed(SecondsSinceMidnight());
}

void QuickHost::AsyncRead(TextView target, int32_t async_type, TextView property_name) {
  reads_.Start(target, async_type, property_name, MadePrivateFolderPath());
}

void QuickHost::CancelAsyncRead(TextView property_name) {
  reads_.Cancel(property_name);
}

void QuickHost::DeliverReads() {
  delivery_queued_ = false;
  DeliverReadReports(reads_, *this, control_, surface_);
}

void QuickHost::EventHandlerFailed(std::string_view event, const std::string& what) {
  qWarning("Flipreel: a handler of the %.*s event failed: %s", static_cast<int>(event.size()),
           event.data(), what.c_str());
}

}  // namespace flipreel
