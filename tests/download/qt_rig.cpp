// The download tests on the Qt host, with QNetworkAccessManager. Message
// boxes are recorded instead of shown.
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include "qt/async_reader.h"
#include "qt/qt_host.h"
#include "tests/download/download_rig.h"

namespace {

class QtRig final : public DownloadRig, private flipreel::QtSurface {
 public:
  QtRig() : host_(widget_, *this) {
    host_.SetMessageBoxHandler([this](const flipreel::MessageBoxRequest& box) {
      messages_.push_back({box.text.toStdU16String(), box.style, box.title.toStdU16String()});
      return 1;
    });
  }
  flipreel::Host& host() override { return host_; }
  void SetLimits(const flipreel::DownloadLimits& limits) override { reader().SetLimits(limits); }
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
  flipreel::AsyncReader& reader() {
    return dynamic_cast<flipreel::AsyncReader&>(*host_.async_reader());
  }
  void ElementChanged(const flipreel::Element&, flipreel::ElementProperty) override {}
  void SurfaceBackChanged() override {}
  void RefreshRequested() override {}
  void PropertyNotified(std::string_view name) override { notices_.emplace_back(name); }
  void HostEventFailed(std::string_view event, const flipreel::HostError& error) override {
    log_.push_back(std::string(event) + ": " + error.description());
  }

  QWidget widget_;
  flipreel::QtHost host_;
  std::vector<RigMessage> messages_;
  std::vector<std::string> notices_;
  std::vector<std::string> log_;
};

}  // namespace

std::unique_ptr<DownloadRig> MakeRig() {
  return std::make_unique<QtRig>();
}
