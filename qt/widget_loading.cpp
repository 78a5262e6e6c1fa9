// Loading for Qt applications: files, Qt resources, bytes in memory and
// devices through the control's own loading path, and telling code why a load
// left the control without a GIF.
#include <QFile>
#include <QIODevice>
#include <QTimer>

#include "flipreel/control/frame_cuts.h"
#include "flipreel/host/scope.h"
#include "flipreel/qt/flipreel_widget_p.h"
#include "flipreel/qt/read_ahead.h"

namespace flipreel {

namespace {

bool IsResourcePath(const QString& value) {
  return value.startsWith(QLatin1String(":/")) || value.startsWith(QLatin1String("qrc:/"));
}

}  // namespace

// A small GIF loads faster than another thread could even start on it. A
// load asked for while the control is in the middle of something (a call
// through the widget, a tick, a download's completion, from their events or
// from the event loop of a message box they show) runs at once, before that
// goes on, as it would have. Who listens to the widget's signals plays no
// part.
bool FlipreelWidgetPrivate::CanDeferLoad(int64_t bytes) const {
  constexpr int64_t kSmallGif = int64_t{64} << 10;
  return bytes >= kSmallGif && deferred_loads_ && !finishing_load_ && calls_ == 0 &&
         !host_->in_tick() && !host_->in_read_completion() && !control_->AutoSize();
}

bool FlipreelWidgetPrivate::LoadsComposed() const {
  return control_->Composed();
}

void FlipreelWidgetPrivate::DeferLoad(std::shared_ptr<ReadAhead> ahead,
                                      std::function<void()> load) {
  FinishLoad();
  pending_->Start(std::move(ahead), std::move(load));
  FreezePreview();
}

// Before each slice: the new first frame is shown as soon as it is decoded
// (or composed).
void FlipreelWidgetPrivate::LookForPreview() {
  if (!preview_.first.IsEmpty()) return;
  preview_.first = host_->FirstFrameDecoded();
  if (preview_.first.IsEmpty()) preview_.first = pending_->ahead().FirstComposed();
  if (!preview_.first.IsEmpty()) AskForPreview();
}

// The first frame's copy is made on another thread, when one is free.
void FlipreelWidgetPrivate::AskForPreview() {
  preview_.asked = cache_.PrepareToShow(preview_.first);
  PreviewReady(preview_.first);
}

// A run of the load holds its signals and boxes.
void FlipreelWidgetPrivate::AroundLoad(const std::function<void()>& run) {
  const ScopedValue holding(holding_, true);
  const ScopedValue finishing(finishing_load_, true);
  run();
}

// After the load: what it held back goes out (now, or from the event loop
// when a read ended it), a resize from outside held back meanwhile reaches
// the control, and the widget paints the control as it stands.
void FlipreelWidgetPrivate::EndLoad(bool release_now) {
  compare_all_ = true;  // the load changed what the widget watches
  pending_->Clear();
  preview_ = Preview();
  {
    const ScopedValue holding(holding_, !release_now);
    held_resize_.reset();
    host_->WidgetResized();
  }
  RefreshLooks();
  q_.update();
  if (release_now) {
    ReleaseHeld();
  } else if (!held_.empty()) {
    QTimer::singleShot(0, &load_finisher_, [this] { ReleaseHeld(); });
  }
}

void FlipreelWidgetPrivate::FinishLoad() {
  if (pending_->running()) return;  // the load's own call
  if (pending_->RunToEnd()) {
    EndLoad(true);
    return;
  }
  ReleaseHeld();
}

// The load's signals and boxes are kept, so that reading a value neither
// emits nor shows anything; the event loop releases them, unless a call
// through the widget does first.
void FlipreelWidgetPrivate::AwaitLoad() {
  if (pending_->RunToEnd()) EndLoad(false);
}

// Nothing of the load reaches the program: a load that has begun runs to its
// end (its steps may be half done) with whatever it would tell dropped; one
// still waiting for its GIF's bytes is dropped.
void FlipreelWidgetPrivate::CancelLoad() {
  pending_->Cancel();
  held_.clear();
}

// Between two steps of a sliced load: the event loop gets its turn when the
// slice has used its time, or when the next frame is still decoding (the
// load would wait for it here).
void FlipreelWidgetPrivate::BetweenLoadSteps() {
  pending_->BetweenSteps();
}

bool FlipreelWidgetPrivate::PauseLoad() {
  return pending_->PauseToWait();
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

// The bytes are read into the control as LoadBytes reads them, through the
// file that carries bytes to the control; that file is served from what the
// read ahead made rather than written.
bool FlipreelWidgetPrivate::DeferLoadOfBytes(const QByteArray& bytes) {
  if (!CanDeferLoad(bytes.size())) return false;
  std::optional<MemoryBudget> compose;
  if (LoadsComposed()) compose = host_->memory_budget();
  std::shared_ptr<ReadAhead> ahead =
      ReadAhead::StartBytes(bytes, std::move(compose), host_->ready_to_paint_bytes());
  DeferLoad(ahead, [this, ahead] {
    Load(std::nullopt, [&] {
      const Text path = BytesFilePath(*host_);
      host_->LoadWith(path, *ahead, [&] { control_->SetFlipreelFile(path); });
    });
  });
  return true;
}

void FlipreelWidgetPrivate::MessageShown(const MessageBoxRequest& request) {
  Emit([this, request] { emit q_.messageShown(request.text, request.style, request.title); });
}

// A download ends in the control's completion handler: it loads the file
// (ReadFinished follows, whether frames loaded or not) or tells of the
// failure in a box; the host has kept the errors the completion trapped.
void FlipreelWidgetPrivate::CheckDownloadEnded() {
  if (std::optional<HostError> e = LoadFailure(*control_, std::nullopt, host_->trapped_errors())) {
    LoadFailed(*e);
  } else {
    Emit([this] { emit q_.loaded(); });
  }
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
    // Found before the control is given the path: the control says nothing
    // of a file it cannot read, and deletes an empty one.
    const std::optional<HostError> problem = CheckGifFile(value);
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
    if (!d.DeferLoadOfBytes(read))
      d.LoadBytes(std::string_view(read.constData(), static_cast<size_t>(read.size())));
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

// The bytes are shared, not copied (QByteArray's own sharing), and read on
// another thread; what comes of them is told as for a file.
bool FlipreelWidget::loadFromData(const QByteArray& data) {
  FlipreelWidgetPrivate& d = *d_;
  d.FinishLoad();
  if (d.DeferLoadOfBytes(data)) return true;
  return d.LoadBytes(std::string_view(data.constData(), static_cast<size_t>(data.size())));
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
  return loadFromData(device->readAll());
}

bool FlipreelWidget::showMessageBoxes() const {
  return d_->read_host().show_message_boxes();
}

void FlipreelWidget::setShowMessageBoxes(bool show) {
  d_->host().set_show_message_boxes(show);
  d_->AnnounceChanges();
}

}  // namespace flipreel
