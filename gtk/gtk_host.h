// The GTK host: the container services for one Flipreel control on GLib and
// GTK 4. Pictures decode with the GIF loader; files, the private folder and
// random numbers are the shared pieces of platform/files.h; downloads run on
// the shared engine's worker thread and report from the GLib main loop; a
// message box is a GtkMessageDialog shown without blocking, or no box at all
// when the application turns them off. Everything else runs on the thread of
// the main loop.
//
// The control's timer is a GLib timeout and runs only while what shows the
// control is shown (SetActive). While it is not, the host's clock stands
// still, so the animation goes on from where it stood when it is shown
// again, and a hidden control costs no wake-ups at all.
#pragma once

#include <glib.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "flipreel/face/face_host.h"
#include "flipreel/face/timer_due.h"
#include "flipreel/gif/ahead_decoder.h"
#include "flipreel/host/host.h"
#include "flipreel/net/async_reads.h"
#include "flipreel/platform/files.h"

namespace flipreel {

// What the face hears from its host.
class GtkSurface : public FaceSurface {
 public:
  // The control shows a message; returns whether a box may appear (it does
  // unless the application turned boxes off).
  virtual bool MessageShown(int16_t style, const Text& text) = 0;
  // The control's surface has a new size.
  virtual void SurfaceResized() {}
  // The host enters the control from the main loop (a tick, a download's
  // report, a finished preparation) between these two: whatever the
  // control's clients do meanwhile, the face and its host must outlive the
  // call. Release is the host's last act of such a call.
  virtual void Hold() {}
  virtual void Release() {}
  // The window a message box belongs to, if any.
  virtual void* MessageParent() { return nullptr; }
};

class GtkHost final : public FileHost {
 public:
  explicit GtkHost(GtkSurface& surface);
  ~GtkHost() override;
  GtkHost(const GtkHost&) = delete;
  GtkHost& operator=(const GtkHost&) = delete;

  // Whether the control is shown: the timer runs only then, and the host's
  // clock stands still while it is not.
  void SetActive(bool active);
  bool active() const { return active_; }
  bool timer_running() const { return source_ != 0; }
  // Ticks delivered to the control so far, for tests and benchmarks.
  int64_t ticks_delivered() const { return ticks_delivered_; }
  // Downloads the control has asked for so far.
  int64_t reads_started() const { return reads_started_; }
  // Delivers one tick now if the control's timer is enabled.
  bool DeliverTick();
  HostedControl* control() const { return control_; }
  void set_show_message_boxes(bool show) { show_message_boxes_ = show; }
  bool show_message_boxes() const { return show_message_boxes_; }

  // Reads a GIF (`read` gives its bytes or raises HostError) and, with
  // `compose`, composes its frames on another thread, so that the load of these bytes that
  // follows finds them done (LoadAnimation). `done` runs on the main loop
  // with the bytes, or with none and the read's error, unless another
  // preparation has begun, the preparation was dropped or the host has gone.
  // FinishPreparation waits for the preparation under way and runs `done`
  // now, for a caller that needs the result at once.
  using PreparedHandler =
      std::function<void(std::shared_ptr<const std::string>, std::optional<HostError>)>;
  void PrepareAnimation(std::function<std::string()> read, PreparedHandler done,
                        bool compose = true);
  bool FinishPreparation();
  void DropPreparedAnimation();
  bool preparing() const { return preparation_ != nullptr; }

  // --- Host ---------------------------------------------------------------------
  void Attach(HostedControl* control) override;
  bool UserMode() const override { return true; }
  float TwipsPerPixelX() const override { return kTwipsPerPixel; }
  float TwipsPerPixelY() const override { return kTwipsPerPixel; }
  void ElementChanged(const Element& element, ElementProperty what) override;
  void ElementDestroyed(const Element& element) override;
  int width() const { return width_; }  // the surface, in pixels
  int height() const { return height_; }
  float SurfaceWidth() const override { return static_cast<float>(width_) * kTwipsPerPixel; }
  float SurfaceHeight() const override { return static_cast<float>(height_) * kTwipsPerPixel; }
  void Size(float width, float height) override;
  void SetSurfaceBackColor(int32_t) override {}
  void SetSurfaceBackStyle(int16_t) override {}
  void Refresh() override {}
  void NotifyPropertyChanged(std::string_view name) override { surface_.PropertyNotified(name); }
  Picture LoadPicture(TextView path) override;
  void ExpectFrameFiles(FrameFileList files) noexcept override {
    BudgetFor(files);
    ahead_.Expect(std::move(files));
  }
  ComposedAnimation LoadAnimation(std::string_view bytes) override;
  int64_t Now() const override;
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

  static constexpr float kTwipsPerPixel = 15.0f;

 private:
  struct Preparation;

  void Rearm();
  void Tick();
  void Schedule();
  void StopSource();
  static gboolean OnTimeout(gpointer self);
  void DeliverReads();

  GtkSurface& surface_;
  HostedControl* control_ = nullptr;
  int width_ = 205;  // the control's initial size, 3075 x 1950 twips
  int height_ = 130;
  // The host's clock: real time while active, standing still while not.
  int64_t base_ = 0;       // the clock when it last started or stopped, ms
  int64_t base_real_ = 0;  // g_get_monotonic_time() then, in microseconds
  guint source_ = 0;
  const Timer* timer_ = nullptr;
  TimerDue due_;
  bool active_ = false;
  bool in_tick_ = false;
  bool show_message_boxes_ = true;
  int64_t ticks_delivered_ = 0;
  int64_t reads_started_ = 0;
  RandomGenerator random_;
  AheadDecoder ahead_;
  std::shared_ptr<Preparation> preparation_;  // under way, or done and not yet handed on
  struct Prepared {
    std::shared_ptr<const std::string> bytes;
    std::optional<ComposedAnimation> animation;
    std::optional<HostError> error;
  };
  std::shared_ptr<Prepared> prepared_;  // composed ahead for the next load
  // Deliveries queued on the main loop find it gone with the host.
  std::shared_ptr<GtkHost*> self_ = std::make_shared<GtkHost*>(this);
  std::atomic<bool> delivery_queued_{false};
  // Last: its worker thread stops before the rest goes.
  AsyncReads reads_;
};

}  // namespace flipreel
