// The download tests on the headless host, with libcurl.
#include <thread>

#include "flipreel/headless/headless_host.h"
#include "tests/download/download_rig.h"

namespace {

class HeadlessRig final : public DownloadRig {
 public:
  HeadlessRig() {
    host_.EnableDownloads();
    control_.InitProperties();
  }
  flipreel::Flipreel& control() override { return control_; }
  flipreel::Host& host() override { return host_; }
  void set_limits(const flipreel::DownloadLimits& limits) override {
    host_.EnableDownloads(limits);
  }
  bool WaitForReads(std::chrono::milliseconds timeout) override {
    return host_.WaitForReads(timeout);
  }
  void Pump(std::chrono::milliseconds time) override {
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
      host_.ProcessEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  std::vector<RigMessage> messages() const override { return host_.messages(); }
  std::vector<std::string> notices() const override { return host_.notices(); }
  std::vector<std::string> log() const override { return host_.handler_failures(); }

 private:
  mutable flipreel::HeadlessHost host_;
  flipreel::Flipreel control_{host_};
};

}  // namespace

std::unique_ptr<DownloadRig> MakeRig() {
  return std::make_unique<HeadlessRig>();
}
