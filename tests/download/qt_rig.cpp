// The download tests on the Qt host, with QNetworkAccessManager, through the
// widget users embed. Message boxes are recorded instead of shown.
#include <QEventLoop>
#include <QTimer>

#include "flipreel/qt/async_reader.h"
#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/flipreel_widget_p.h"
#include "tests/download/download_rig.h"

namespace {

// Qt's own warnings go to the log of the rig that is alive.
std::vector<std::string>* g_qt_log = nullptr;

void RecordQtMessage(QtMsgType, const QMessageLogContext&, const QString& text) {
  if (g_qt_log) g_qt_log->push_back(text.toStdString());
}

class QtRig final : public DownloadRig {
 public:
  QtRig() {
    g_qt_log = &log_;
    previous_handler_ = qInstallMessageHandler(RecordQtMessage);
    // The same classic control as on the headless host.
    widget_.setComposed(false);
    inside().host().set_message_box_handler([this](const flipreel::MessageBoxRequest& box) {
      messages_.push_back({box.text.toStdU16String(), box.style, box.title.toStdU16String()});
      return 1;
    });
    QObject::connect(&widget_, &flipreel::FlipreelWidget::propertyNotified,
                     [this](const QString& name) { notices_.push_back(name.toStdString()); });
  }
  ~QtRig() override {
    qInstallMessageHandler(previous_handler_);
    g_qt_log = nullptr;
  }
  flipreel::Flipreel& control() override { return inside().control(); }
  flipreel::Host& host() override { return inside().host(); }
  void set_limits(const flipreel::DownloadLimits& limits) override { reader().set_limits(limits); }
  bool WaitForReads(std::chrono::milliseconds timeout) override {
    return reader().WaitForReads(timeout);
  }
  void Pump(std::chrono::milliseconds time) override {
    QEventLoop loop;
    QTimer::singleShot(time, &loop, &QEventLoop::quit);
    loop.exec();
  }
  std::vector<RigMessage> messages() const override { return messages_; }
  std::vector<std::string> notices() const override { return notices_; }
  std::vector<std::string> log() const override { return log_; }

 private:
  flipreel::FlipreelWidgetPrivate& inside() {
    return flipreel::FlipreelWidgetPrivate::get(widget_);
  }
  flipreel::AsyncReader& reader() {
    return dynamic_cast<flipreel::AsyncReader&>(*inside().host().async_reader());
  }

  QtMessageHandler previous_handler_ = nullptr;
  std::vector<RigMessage> messages_;
  std::vector<std::string> notices_;
  std::vector<std::string> log_;
  flipreel::FlipreelWidget widget_;
};

}  // namespace

std::unique_ptr<DownloadRig> MakeRig() {
  return std::make_unique<QtRig>();
}
