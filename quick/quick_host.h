// The Qt Quick host: the container services for one Flipreel control inside
// a QML item. Nothing here is a widget and nothing is modal: message boxes
// are answered OK at once and handed to the item as values, forms and the
// file dialog are not offered. Pictures decode with the GIF loader; files,
// the private folder and random numbers are the shared pieces of
// platform/files.h; downloads run on the shared engine's worker thread and
// report from the event loop. Everything else runs on the GUI thread.
//
// The timer keeps its schedule on the clock every control of the thread
// shares (qt/frame_clock.h), and runs only while the item is shown
// (SetActive). While it is not, the control's schedule is kept, and showing
// the item again delivers the ticks that fell due meanwhile at once, each at
// its own due time on the host's clock, so that the animation stands where
// it would had it been shown all along.
#pragma once

#include <QObject>
#include <QSize>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "flipreel/face/face_host.h"
#include "flipreel/host/host.h"
#include "flipreel/net/async_reads.h"
#include "flipreel/platform/files.h"
#include "flipreel/qt/ahead_host.h"
#include "flipreel/qt/frame_clock.h"

namespace flipreel {

// What the item hears from its host.
class QuickSurface : public FaceSurface {
 public:
  // The control shows a message; no box appears.
  virtual void MessageShown(int16_t /*style*/, const Text& /*text*/) {}
  // A load the item made has not reached its end: no tick is delivered
  // meanwhile (the load sets the timer afresh).
  virtual bool LoadPending() const { return false; }
  // Between two steps of a load, and from inside a load that waits for its
  // animation: as QtSurface's (a load run in slices gives the event loop a
  // turn; PauseLoad is false when the load must block).
  virtual void BetweenLoadSteps() {}
  virtual bool PauseLoad() { return false; }
  // The load under way is being dropped: what it would still decode is
  // not decoded.
  virtual bool DroppingLoad() const { return false; }
};

class QuickHost final : public AheadHost {
 public:
  explicit QuickHost(QuickSurface& surface, FrameClock& clock = FrameClock::OfThisThread());
  ~QuickHost() override;
  QuickHost(const QuickHost&) = delete;
  QuickHost& operator=(const QuickHost&) = delete;

  // Whether the item is shown: the timer runs only then. Becoming active
  // delivers the ticks that fell due while it was not.
  void SetActive(bool active) { schedule_.SetShown(active); }
  bool active() const { return schedule_.shown(); }
  // The pace of the host's clock: 2 plays twice as fast. Values <= 0 are
  // taken as 1.
  void SetSpeed(double speed) { schedule_.SetSpeed(speed); }
  double speed() const { return schedule_.speed(); }
  // A held clock stands still: no tick falls due until it is released, and
  // the animation goes on from where it stood.
  void SetHeld(bool held) { schedule_.SetHeld(held); }
  bool held() const { return schedule_.held(); }
  bool timer_running() const {
    return schedule_.running() && schedule_.shown() && !schedule_.held();
  }
  // Ticks delivered to the control so far, for tests and benchmarks.
  int64_t ticks_delivered() const { return schedule_.ticks_delivered(); }
  // Delivers one tick now if the control's timer is enabled.
  bool DeliverTick();
  HostedControl* control() const { return control_; }
  // Download engine limits, for reads started afterwards.
  void SetDownloadLimits(const DownloadLimits& limits) { reads_.set_limits(limits); }

  // --- Host ---------------------------------------------------------------------
  void Attach(HostedControl* control) override;
  bool UserMode() const override { return true; }
  float TwipsPerPixelX() const override { return kTwipsPerPixel; }
  float TwipsPerPixelY() const override { return kTwipsPerPixel; }
  void ElementChanged(const Element& element, ElementProperty what) override;
  void ElementDestroyed(const Element& element) override;
  float SurfaceWidth() const override { return static_cast<float>(size_.width()) * kTwipsPerPixel; }
  float SurfaceHeight() const override {
    return static_cast<float>(size_.height()) * kTwipsPerPixel;
  }
  void Size(float width, float height) override;
  void SetSurfaceBackColor(int32_t) override {}
  void SetSurfaceBackStyle(int16_t) override {}
  void Refresh() override {}
  void NotifyPropertyChanged(std::string_view name) override { surface_.PropertyNotified(name); }
  Picture LoadPicture(TextView path) override;
  void BetweenLoadSteps() noexcept override { surface_.BetweenLoadSteps(); }
  int64_t Now() const override { return schedule_.Now(); }
  int32_t MsgBox(TextView text, int16_t style, TextView title) override;
  void Randomize() override;
  float Rnd() override { return random_.Next(); }
  void AsyncRead(TextView target, int32_t async_type, TextView property_name) override;
  void CancelAsyncRead(TextView property_name) override;
  void EventHandlerFailed(std::string_view event, const std::string& what) override;
  int32_t ShowOpenDialog(FileDialogRequest&) override { return DialogFailureCode(); }
  int32_t DialogFailureCode() override { return err::kInvalidCall; }
  void ShowForm(Form&, FormShow) override { Raise(err::kInvalidCall); }
  void UnloadForm(Form&) override {}
  void FormResized(Form&) override {}
  std::unique_ptr<Host> CreateControlSite(Form&, const FormElement&) override {
    Raise(err::kInvalidCall);
  }

 private:
  // The item draws in its own coordinates; the control's twips are 1/15 px.
  static constexpr float kTwipsPerPixel = 15.0f;
  void Tick();
  void DeliverReads();
  bool PauseLoad() override { return surface_.PauseLoad(); }

  QuickSurface& surface_;
  HostedControl* control_ = nullptr;
  QSize size_;
  TickSchedule schedule_;
  RandomGenerator random_;
  QObject context_;  // download deliveries queued on it die with the host
  std::atomic<bool> delivery_queued_{false};
  // Last: its worker thread stops before the rest goes.
  AsyncReads reads_;
};

}  // namespace flipreel
