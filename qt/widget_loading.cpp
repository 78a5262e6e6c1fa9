// Loading for Qt applications: files, Qt resources, bytes in memory and
// devices through the control's own loading path, and telling code why a load
// left the control without a GIF.
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include "qt/flipreel_widget_p.h"

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

void FlipreelWidgetPrivate::LoadFailed(const HostError& error) {
  last_error_ = FlipreelError{error.number(), QString::fromStdString(error.description())};
  emit q_.loadFailed(last_error_.number, last_error_.description);
}

bool FlipreelWidgetPrivate::LoadBytes(const QByteArray& bytes) {
  return Load(std::nullopt, [&] {
    LoadGifBytes(*control_, *host_,
                 std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  });
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

void FlipreelWidget::SetFlipreelFile(const QString& value) {
  FlipreelWidgetPrivate& d = *d_;
  // The two markers load nothing: "Gif" is only stored, "(None)" clears.
  if (value == QLatin1String("Gif") || value == QLatin1String("(None)")) {
    d.Call([&] { d.control_->SetFlipreelFile(value.toStdU16String()); });
    return;
  }
  if (!IsResourcePath(value)) {
    d.Load(CheckFile(value), [&] { d.control_->SetFlipreelFile(value.toStdU16String()); });
    return;
  }
  QFile resource(value.startsWith(QLatin1String("qrc:")) ? value.mid(3) : value);
  if (resource.open(QIODevice::ReadOnly)) {
    d.LoadBytes(resource.readAll());
  } else {
    // As for a missing file: the control is cleared by an empty load.
    d.Load(HostError(err::kFileNotFound), [&] { LoadGifBytes(*d.control_, *d.host_, {}); });
  }
}

void FlipreelWidget::SetGifFromURL(const QString& value) {
  FlipreelWidgetPrivate& d = *d_;
  d.messages_.clear();
  d.loading_ = true;
  d.Call([&] { d.control_->SetGifFromURL(value.toStdU16String()); });
  d.loading_ = false;
  // A request the host refused is told at once; the rest when the read ends.
  for (const Text& message : std::exchange(d.messages_, {})) {
    if (std::optional<HostError> e = ErrorInMessage(message)) d.LoadFailed(*e);
  }
}

bool FlipreelWidget::loadFromData(const QByteArray& data) {
  return d_->LoadBytes(data);
}

bool FlipreelWidget::loadFromDevice(QIODevice* device) {
  FlipreelWidgetPrivate& d = *d_;
  if (device == nullptr) {
    d.LoadFailed(HostError(err::kInvalidCall, "no device to load from"));
    return false;
  }
  if (!device->isOpen() ? !device->open(QIODevice::ReadOnly) : !device->isReadable()) {
    return d.Load(HostError(err::kPathFileAccess),
                  [&] { LoadGifBytes(*d.control_, *d.host_, {}); });
  }
  return d.LoadBytes(device->readAll());
}

bool FlipreelWidget::showMessageBoxes() const {
  return d_->host_->show_message_boxes();
}

void FlipreelWidget::setShowMessageBoxes(bool show) {
  d_->host_->SetShowMessageBoxes(show);
  d_->AnnounceChanges();
}

}  // namespace flipreel
