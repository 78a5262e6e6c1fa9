// Loading for Qt applications: files, Qt resources, bytes in memory and
// devices through the control's own loading path, and telling code why a load
// left the control without a GIF.
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QMetaMethod>
#include <QSignalBlocker>
#include <QThread>
#include <algorithm>
#include <iterator>

#include "flipreel/control/frame_cuts.h"
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
  // ahead.
  // So does one that someone listens to.
  if (!deferred_loads_ || finishing_load_ || calls_ > 0 || host_->in_tick() ||
      host_->in_read_completion() || LoadHeard() || control_->AutoSize() || control_->Composed() ||
      !bytes)
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

namespace {

// Ticks, mouse presses and a download's progress give these; a load never
// does.
bool GivenByALoad(const QMetaMethod& signal) {
  static const QMetaMethod not_by_loads[] = {
      QMetaMethod::fromSignal(&FlipreelWidget::Frame),
      QMetaMethod::fromSignal(&FlipreelWidget::PlayFinished),
      QMetaMethod::fromSignal(&FlipreelWidget::HitTest),
      QMetaMethod::fromSignal(&FlipreelWidget::hitTestAt),
      QMetaMethod::fromSignal(&FlipreelWidget::AsyncReadProgress)};
  return signal.methodType() == QMetaMethod::Signal &&
         signal.enclosingMetaObject() == &FlipreelWidget::staticMetaObject &&
         std::ranges::find(not_by_loads, signal) == std::end(not_by_loads);
}

}  // namespace

bool FlipreelWidgetPrivate::LoadHeard() const {
  const QMetaObject& meta = FlipreelWidget::staticMetaObject;
  for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
    if (GivenByALoad(meta.method(i)) && q_.isSignalConnected(meta.method(i))) return true;
  return false;
}

// No one listened when the load was left pending, so whoever connects now
// would not have heard of it had it been made in its call: it is finished
// first, unheard.
void FlipreelWidget::connectNotify(const QMetaMethod& signal) {
  QWidget::connectNotify(signal);
  if (!d_ || !d_->LoadPending() || !GivenByALoad(signal) || QThread::currentThread() != thread())
    return;
  const QSignalBlocker unheard(this);
  d_->FinishLoad();
}

void FlipreelWidgetPrivate::FinishLoad() {
  if (!pending_load_) return;
  const std::function<void()> load = std::exchange(pending_load_, nullptr);
  struct Finishing {
    bool& flag;
    explicit Finishing(bool& f) : flag(f) { flag = true; }
    ~Finishing() { flag = false; }
  } finishing{finishing_load_};
  load();
  // A resize from outside held back meanwhile.
  held_resize_.reset();
  host_->WidgetResized();
}

void FlipreelWidgetPrivate::LoadFailed(const HostError& error) {
  last_error_ = FlipreelError{error.number(), QString::fromStdString(error.description())};
  emit q_.loadFailed(last_error_.number, last_error_.description);
}

bool FlipreelWidgetPrivate::LoadBytes(std::string_view bytes) {
  return Load(std::nullopt, [&] { LoadGifBytes(*control_, *host_, bytes); });
}

void FlipreelWidgetPrivate::MessageShown(const MessageBoxRequest& request) {
  if (loading_ || host_->in_read_completion()) messages_.push_back(request.text.toStdU16String());
  emit q_.messageShown(request.text, request.style, request.title);
}

// A download ends in the control's completion handler: it loads the file
// (ReadFinished follows, whether frames loaded or not) or tells of the
// failure in a box.
void FlipreelWidgetPrivate::CheckDownloadEnded() {
  const std::vector<Text> messages = std::exchange(messages_, {});
  for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
    if (std::optional<HostError> e = ErrorInMessage(*it)) return LoadFailed(*e);
  }
  if (!control_->state().FramesLoaded) LoadFailed(HostError(err::kInvalidPicture));
}

void FlipreelWidget::setFlipreelFile(const QString& value) {
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

void FlipreelWidget::setGifFromURL(const QString& value) {
  FlipreelWidgetPrivate& d = *d_;
  d.FinishLoad();
  d.messages_.clear();
  d.loading_ = true;
  d.Call([&] { d.control_->SetGifFromURL(value.toStdU16String()); });
  d.loading_ = false;
  // A request the host refused is told at once; the rest when the read ends.
  for (const Text& message : std::exchange(d.messages_, {})) {
    if (std::optional<HostError> e = ErrorInMessage(message)) d.LoadFailed(*e);
  }
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
  d_->host().SetShowMessageBoxes(show);
  d_->AnnounceChanges();
}

}  // namespace flipreel
