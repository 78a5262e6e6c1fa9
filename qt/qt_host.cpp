#include "flipreel/qt/qt_host.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QtGlobal>
#include <cmath>
#include <string>
#include <utility>

#include "flipreel/face/face_host.h"
#include "flipreel/gif/gif_decoder.h"
#include "flipreel/gif/gif_facts.h"
#include "flipreel/host/scope.h"
#include "flipreel/qt/picture_cache.h"

namespace flipreel {

namespace {

// The control's size when it is created, in twips.
constexpr float kInitialWidth = 3075;
constexpr float kInitialHeight = 1950;

int ToPixels(float twips, float tpp) {
  return static_cast<int>(std::lround(static_cast<double>(twips) / tpp));
}

}  // namespace

int32_t ShowMessageBox(const MessageBoxRequest& request, QWidget* parent) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (request.style) {
    case kMsgCritical:
      icon = QMessageBox::Critical;
      break;
    case kMsgExclamation:
      icon = QMessageBox::Warning;
      break;
    case kMsgInformation:
      icon = QMessageBox::Information;
      break;
    default:
      break;
  }
  QMessageBox box(icon, request.title, request.text, QMessageBox::Ok, parent);
  box.exec();
  return 1;
}

QtHost::QtHost(QWidget& widget, QtSurface& surface, FrameClock& clock)
    : widget_(widget),
      surface_(surface),
      schedule_([this] { OnTick(); }, clock),
      thread_(QThread::currentThread()),
      reader_(MakeDefaultAsyncReader(*this)) {
  surface_px_ =
      QSize(ToPixels(kInitialWidth, TwipsPerPixelX()), ToPixels(kInitialHeight, TwipsPerPixelY()));
  widget_.resize(surface_px_);
}

QtHost::~QtHost() = default;

// The timer is an element of the control: it goes with the control, which
// detaches on its way out, and belongs to no other control.
// Twips per pixel follow the screen the widget is on: 1440 / logical DPI.
QtHost::Twips QtHost::TwipsNow() const {
  // Inside an event loop the tick runs the screen may change: the twips are
  // read afresh there, and again once the tick goes on.
  const bool ticking = in_tick();
  if (!ticking) {
    tick_twips_.reset();
  } else if (tick_twips_) {
    return *tick_twips_;
  }
  auto of = [](int dpi) { return dpi > 0 ? 1440.0f / static_cast<float>(dpi) : 15.0f; };
  const Twips twips{of(widget_.logicalDpiX()), of(widget_.logicalDpiY())};
  if (ticking) tick_twips_ = twips;
  return twips;
}

float QtHost::TwipsPerPixelX() const {
  return TwipsNow().x;
}

float QtHost::TwipsPerPixelY() const {
  return TwipsNow().y;
}

void QtHost::Attach(HostedControl* control) {
  control_ = control;
  if (!control) schedule_.Forget();
}

void QtHost::ElementDestroyed(const Element& element) {
  schedule_.Forget(&element);
}

void QtHost::ElementChanged(const Element& element, ElementProperty what) {
  if (!schedule_.ElementChanged(element, what)) surface_.ElementChanged(element, what);
}

void QtHost::SetManualTicks(bool manual) {
  schedule_.SetManual(manual);
}

bool QtHost::InLoopRunByTick() const {
  return tick_loop_level_ >= 0 && thread_->loopLevel() != tick_loop_level_;
}

template <typename Fn>
void QtHost::RunTick(Fn&& fn) {
  const ScopedValue level(tick_loop_level_, thread_->loopLevel());
  const ScopeExit forget_twips([this] { tick_twips_.reset(); });
  fn();
}

void QtHost::OnTick() {
  if (surface_.LoadPending()) return;
  RunTick([this] {
    // Whatever a read of the last load kept back is told before the tick.
    surface_.FinishPendingLoad();
    RunHostEvent("Timer1", [this] { control_->OnTimer(); });
    surface_.TickEnded();
  });
}

bool QtHost::DeliverTick() {
  const Timer* timer = schedule_.timer();
  if (!control_ || !timer || !timer->enabled()) return false;
  // The surface hears of the end of the tick even when the tick fails.
  const ScopedValue by_hand(in_tick_by_hand_, true);
  RunTick([this] {
    const ScopeExit end_tick([this] { surface_.TickEnded(); });
    schedule_.RunByHand([this] { control_->OnTimer(); });
  });
  return true;
}

template <typename Fn>
void QtHost::RunHostEvent(std::string_view event, Fn&& fn) {
  flipreel::RunHostEvent(control_, surface_, event, std::forward<Fn>(fn));
}

float QtHost::SurfaceWidth() const {
  return static_cast<float>(surface_px_.width() * double{TwipsPerPixelX()});
}

float QtHost::SurfaceHeight() const {
  return static_cast<float>(surface_px_.height() * double{TwipsPerPixelY()});
}

// Sizes are compared in whole pixels: a size that rounds to the pixels the
// control already has is no change, which is what ends the resize handler's
// recursion through ArrangeDisplay.
void QtHost::Size(float width, float height) {
  if (!(width >= 0) || !(height >= 0) || !std::isfinite(width) || !std::isfinite(height))
    Raise(err::kInvalidPropertyValue);
  const double w = std::round(static_cast<double>(width) / TwipsPerPixelX());
  const double h = std::round(static_cast<double>(height) / TwipsPerPixelY());
  if (w > QWIDGETSIZE_MAX || h > QWIDGETSIZE_MAX) Raise(err::kInvalidPropertyValue);
  const QSize wanted(static_cast<int>(w), static_cast<int>(h));
  if (wanted == surface_px_) return;
  const QSize before = surface_px_;
  // Recorded first, so that the resize event the widget sends on the way is
  // not taken for a resize from outside.
  surface_px_ = wanted;
  widget_.resize(wanted);
  // The widget may hold to its minimum or maximum size.
  surface_px_ = widget_.size();
  if (surface_px_ == before || !control_) return;
  ++resizes_delivered_;
  control_->OnResize();
}

void QtHost::WidgetResized() {
  if (widget_.size() == surface_px_) return;
  surface_px_ = widget_.size();
  RunHostEvent("Resize", [this] {
    ++resizes_delivered_;
    control_->OnResize();
  });
}

void QtHost::SetSurfaceBackColor(int32_t color) {
  surface_back_color_ = color;
  surface_.SurfaceBackChanged();
}

void QtHost::SetSurfaceBackStyle(int16_t style) {
  surface_back_style_ = style;
  surface_.SurfaceBackChanged();
}

void QtHost::Refresh() {
  surface_.RefreshRequested();
}

void QtHost::NotifyPropertyChanged(std::string_view name) {
  surface_.PropertyNotified(name);
}

bool QtHost::DeferLoadOfFile(const Text& path, std::function<void()> load, bool read_now) {
  QFile file(QString::fromStdU16String(path));
  if (!surface_.CanDeferLoad(file.size())) return false;
  std::optional<MemoryBudget> compose;
  if (surface_.LoadsComposed()) compose = memory_budget();
  std::shared_ptr<ReadAhead> ahead;
  if (read_now) {
    if (!file.open(QIODevice::ReadOnly)) return false;
    ahead = ReadAhead::StartBytes(file.readAll(), std::move(compose), ready_to_paint_bytes());
  } else {
    ahead = ReadAhead::StartFile(file.fileName(), std::move(compose), ready_to_paint_bytes());
  }
  surface_.DeferLoad(ahead,
                     [this, path, ahead, load = std::move(load)] { LoadWith(path, *ahead, load); });
  return true;
}

// GIF files decode with our own loader, so that frames stay 8-bit indexed;
// every other format Qt can read comes in as 32-bit pixels.
Picture QtHost::LoadPicture(TextView path) {
  if (path.empty()) return Picture();
  surface_.BetweenLoadSteps();
  return RememberingFailure([&] { return DecodePicture(path); });
}

Picture QtHost::DecodePicture(TextView path) {
  std::string storage;
  const std::string_view bytes = ReadWholeFile(path, storage);
  const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (LooksLikeGif(data)) return DecodeSharedGif(bytes);
  QByteArray raw = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&raw);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  // The size the file claims is checked and reserved before its pixels exist.
  const QSize size = reader.size();
  if (!size.isValid() || int64_t{size.width()} * size.height() > kMaxPicturePixels)
    Raise(err::kInvalidPicture);
  std::shared_ptr<const void> reservation =
      memory_budget().Reserve(int64_t{size.width()} * size.height() * 4,
                              "a picture of " + std::to_string(size.width()) + " x " +
                                  std::to_string(size.height()) + " pixels");
  const QImage image = reader.read();
  if (image.isNull() || image.size() != size) Raise(err::kInvalidPicture);
  return KeepReserved(PictureFromImage(image), std::move(reservation));
}

// Most GIFs made today are optimised (partial frames, delays of their own);
// the classic control shows them as patches at one pace. Whoever turned
// Composed off may not know what it would show.
void QtHost::WarnOfClassicLook(const std::string& bytes) noexcept {
  try {
    const std::optional<GifFileFacts> facts =
        ReadGifFacts(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    if (facts && ComposingChangesLook(*facts))
      qWarning(
          "Flipreel: this GIF's frames look different composed (partial frames or delays of "
          "their own); set the Composed property to show them as drawn");
  } catch (const std::exception&) {
    // Only a warning: a file that cannot be looked into is not told of.
  }
}

int32_t QtHost::MsgBox(TextView text, int16_t style, TextView title) {
  const MessageBoxRequest request{QString::fromStdU16String(Text(text)), style,
                                  QString::fromStdU16String(Text(title))};
  surface_.MessageShown(request);
  // Every box has only OK, so one shown later answers the same.
  if (surface_.Hold([this, request] { (void)ShowBox(request); })) return 1;
  return ShowBox(request);
}

int32_t QtHost::ShowBox(const MessageBoxRequest& request) {
  if (message_box_) return message_box_(request);
  if (!show_message_boxes_) return 1;
  return ShowMessageBox(request, &widget_);
}

// Seeded from the wall clock: seconds since midnight.
void QtHost::Randomize() {
  random_.Seed(SecondsSinceMidnight());
}

void QtHost::AsyncRead(TextView target, int32_t async_type, TextView property_name) {
  if (!reader_)
    Raise(err::kDownloadFailed, "Downloads are not available: this build has no downloader");
  reader_->Read(Text(target), async_type, Text(property_name));
}

void QtHost::CancelAsyncRead(TextView property_name) {
  if (reader_) reader_->Cancel(Text(property_name));
}

void QtHost::DeliverAsyncReadProgress(AsyncProp& prop) {
  surface_.FinishPendingLoad();
  RunHostEvent("AsyncReadProgress", [&] { control_->OnAsyncReadProgress(prop); });
}

void QtHost::DeliverAsyncReadComplete(AsyncProp& prop) {
  surface_.FinishPendingLoad();
  // The control loads the file a GifFromURL read brought when it hears of
  // it; the file goes once this returns, so a completion left pending keeps
  // its bytes.
  if (!prop.Failure && !prop.ValuePath.empty() && prop.PropertyName == u"GifFromURL" &&
      DeferLoadOfFile(
          prop.ValuePath, [this, prop]() mutable { CompleteAsyncRead(prop); }, true))
    return;
  CompleteAsyncRead(prop);
}

void QtHost::CompleteAsyncRead(AsyncProp& prop) {
  struct Delivering {
    bool& flag;
    explicit Delivering(bool& f) : flag(f) { flag = true; }
    ~Delivering() { flag = false; }
  } delivering{in_read_completion_};
  // The surface reads what this completion traps once it has ended.
  trapped_errors().clear();
  RunHostEvent("AsyncReadComplete", [&] { control_->OnAsyncReadComplete(prop); });
}

void QtHost::EventHandlerFailed(std::string_view event, const std::string& what) {
  qWarning("Flipreel: a handler of the %.*s event failed: %s", static_cast<int>(event.size()),
           event.data(), what.c_str());
}

}  // namespace flipreel
