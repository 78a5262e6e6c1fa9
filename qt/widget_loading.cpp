// Loading for Qt applications: files, Qt resources, bytes in memory and
// devices through the control's own loading path, and telling code why a load
// left the control without a GIF.
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QTimer>

#include "flipreel/control/frame_cuts.h"
#include "flipreel/host/scope.h"
#include "flipreel/qt/flipreel_widget_p.h"

namespace flipreel {

namespace {

bool IsResourcePath(const QString& value) {
  return value.startsWith(QLatin1String(":/")) || value.startsWith(QLatin1String("qrc:/"));
}

// Why a path names no file the control can read, found before the control is
// given it: the control says nothing of a file it cannot read, and deletes an
// empty one.
std::optional<HostError> CheckFile(const QString& path) {
  const QFileInfo file(path);
  if (!file.exists()) return HostError(err::kFileNotFound);
  if (!file.isFile()) return HostError(err::kPathFileAccess);  // a folder, a device
  if (!file.isReadable()) return HostError(err::kPermissionDenied);
  if (file.size() == 0) return HostError(err::kInvalidPicture);
  return std::nullopt;
}

}  // namespace

bool FlipreelWidgetPrivate::DeferLoad(std::shared_ptr<const std::string> bytes,
                                      std::function<void()> load) {
  // A load asked for while the control is in the middle of something (a
  // call through the widget, a tick, a download's completion, from their
  // events or from the event loop of a message box they show) runs at once,
  // before that goes on, as it would have; composed frames are not decoded
  // ahead. Who listens to the widget's signals plays no part.
  if (!deferred_loads_ || finishing_load_ || calls_ > 0 || host_->in_tick() ||
      host_->in_read_completion() || control_->AutoSize() || control_->Composed() || !bytes)
    return false;
  std::optional<FrameCuts> cuts = CutFrames(std::move(bytes));
  if (!cuts) return false;
  const uint64_t serial = ++load_serial_;
  // Runs on a decoding thread: the load is finished from the event loop,
  // unless it has been finished (or another has begun) by then.
  auto decoded = [this, serial] {
    QMetaObject::invokeMethod(
        &load_finisher_,
        [this, serial] {
          if (serial == load_serial_) FinishLoad();
        },
        Qt::QueuedConnection);
  };
  if (!host_->PrepareFrameFiles(std::move(cuts->files), std::move(decoded))) return false;
  pending_load_ = std::move(load);
  return true;
}

void FlipreelWidgetPrivate::FinishLoad() {
  ReleaseHeld();
  if (!pending_load_) return;
  const std::function<void()> load = std::exchange(pending_load_, nullptr);
  {
    const ScopedValue finishing(finishing_load_, true);
    load();
  }
  // A resize from outside held back meanwhile.
  held_resize_.reset();
  host_->WidgetResized();
}

// The load's signals and boxes are kept, so that reading a value neither
// emits nor shows anything; the event loop releases them, unless a call
// through the widget does first.
void FlipreelWidgetPrivate::AwaitLoad() {
  if (!pending_load_ || holding_ || finishing_load_) return;
  {
    const ScopedValue holding(holding_, true);
    FinishLoad();
  }
  if (!held_.empty()) QTimer::singleShot(0, &load_finisher_, [this] { ReleaseHeld(); });
}

// Nothing of the load reaches the control or the program: the decodes are
// dropped and a decode that ends meanwhile finds its load gone.
void FlipreelWidgetPrivate::CancelLoad() {
  pending_load_ = nullptr;
  ++load_serial_;
  held_.clear();
  host_->ExpectFrameFiles({});
}

bool FlipreelWidgetPrivate::Hold(std::function<void()> later) {
  if (!holding_) return false;
  held_.push_back(std::move(later));
  return true;
}

void FlipreelWidgetPrivate::ReleaseHeld() {
  if (holding_) return;
  while (!held_.empty()) {
    std::vector<std::function<void()>> held = std::exchange(held_, {});
    for (const std::function<void()>& release : held) release();
  }
}

void FlipreelWidgetPrivate::LoadFailed(const HostError& error) {
  last_error_ = FlipreelError{error.number(), QString::fromStdString(error.description())};
  Emit([this, e = last_error_] { emit q_.loadFailed(e.number, e.description); });
}

bool FlipreelWidgetPrivate::LoadBytes(std::string_view bytes) {
  return Load(std::nullopt, [&] { LoadGifBytes(*control_, *host_, bytes); });
}

void FlipreelWidgetPrivate::MessageShown(const MessageBoxRequest& request) {
  Emit([this, request] { emit q_.messageShown(request.text, request.style, request.title); });
}

// A download ends in the control's completion handler: it loads the file
// (ReadFinished follows, whether frames loaded or not) or tells of the
// failure in a box; the host has kept the errors the completion trapped.
void FlipreelWidgetPrivate::CheckDownloadEnded() {
  if (std::optional<HostError> e = LoadFailure(*control_, std::nullopt, host_->trapped_errors()))
    LoadFailed(*e);
  host_->trapped_errors().clear();
}

void FlipreelWidget::setFlipreelFile(QString value) {
  FlipreelWidgetPrivate& d = *d_;
  d.FinishLoad();
  // The two markers load nothing: "Gif" is only stored, "(None)" clears.
  if (value == QLatin1String("Gif") || value == QLatin1String("(None)")) {
    d.Call([&] { d.control_->SetFlipreelFile(value.toStdU16String()); });
    return;
  }
  if (!IsResourcePath(value)) {
    const std::optional<HostError> problem = CheckFile(value);
    const Text path = value.toStdU16String();
    auto load = [&d, problem, path] {
      d.Load(problem, [&] { d.control_->SetFlipreelFile(path); });
    };
    // The file is read now, when a load made at once would read it.
    if (!problem && d.host_->DeferLoadOfFile(path, load)) return;
    load();
    return;
  }
  QFile resource(value.startsWith(QLatin1String("qrc:")) ? value.mid(3) : value);
  if (resource.open(QIODevice::ReadOnly)) {
    const QByteArray read = resource.readAll();
    auto bytes = std::make_shared<const std::string>(read.constData(), read.size());
    if (!d.DeferLoad(bytes, [&d, bytes] { d.LoadBytes(*bytes); })) d.LoadBytes(*bytes);
  } else {
    // As for a missing file: the control is cleared by an empty load.
    d.Load(HostError(err::kFileNotFound), [&] { LoadGifBytes(*d.control_, *d.host_, {}); });
  }
}

void FlipreelWidget::setGifFromURL(QString value) {
  FlipreelWidgetPrivate& d = *d_;
  d.FinishLoad();
  d.host_->trapped_errors().clear();
  d.Call([&] { d.control_->SetGifFromURL(value.toStdU16String()); });
  // A request the host refused is told at once; the rest when the read ends.
  for (const HostError& e : std::exchange(d.host_->trapped_errors(), {})) d.LoadFailed(e);
}

// These two answer whether the control loaded frames, so they load at once.
bool FlipreelWidget::loadFromData(const QByteArray& data) {
  d_->FinishLoad();
  return d_->LoadBytes(std::string_view(data.constData(), static_cast<size_t>(data.size())));
}

bool FlipreelWidget::loadFromDevice(QIODevice* device) {
  FlipreelWidgetPrivate& d = *d_;
  d.FinishLoad();
  if (device == nullptr) {
    d.LoadFailed(HostError(err::kInvalidCall, "no device to load from"));
    return false;
  }
  if (!device->isOpen() ? !device->open(QIODevice::ReadOnly) : !device->isReadable()) {
    return d.Load(HostError(err::kPathFileAccess),
                  [&] { LoadGifBytes(*d.control_, *d.host_, {}); });
  }
  const QByteArray bytes = device->readAll();
  return d.LoadBytes(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

bool FlipreelWidget::showMessageBoxes() const {
  return d_->host().show_message_boxes();
}

void FlipreelWidget::setShowMessageBoxes(bool show) {
  d_->host().set_show_message_boxes(show);
  d_->AnnounceChanges();
}

}  // namespace flipreel
