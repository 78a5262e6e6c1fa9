// What FlipreelPaintable and FlipreelView share inside the library: the
// control and its host behind the paintable, and the control's properties
// as GObject properties, installed on both classes.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "flipreel/control/events.h"
#include "flipreel/control/flipreel.h"
#include "flipreel/gtk/flipreel_paintable.h"
#include "flipreel/gtk/gtk_host.h"
#include "flipreel/gtk/texture_cache.h"

namespace flipreel {

// The control's properties, in the order their ids are given from 1.
enum ControlProperty : guint {
  kPropFlipreelFile = 1,
  kPropFrameRate,
  kPropAutoSize,
  kPropSequence,
  kPropStretch,
  kPropBorderColor,
  kPropAutoRewind,
  kPropPlaying,
  kPropAutoStart,
  kPropBackColor,
  kPropBackStyle,
  kPropBorderStyle,
  kPropFrames,
  kPropCurrentFrame,
  kPropGifFromUrl,
  kPropServerUserName,
  kPropServerPassword,
  kPropComposed,
  kPropShowMessageBoxes,
  kPropLoading,
  kPropCount
};

// A control colour (0x00BBGGRR, or a system colour) as GTK gives colours.
GdkRGBA ColorToRgba(int32_t value);

// Installs the control's properties on a class, with ids from 1; their
// GParamSpecs go into properties[1 ..].
void InstallControlProperties(GObjectClass* klass, GParamSpec** properties);

// The signals both classes have, in this order.
enum ControlSignal : guint {
  kSignalFrame,
  kSignalReadFinished,
  kSignalPlayFinished,
  kSignalAsyncReadProgress,
  kSignalAsyncReadComplete,
  kSignalLoaded,
  kSignalLoadFailed,
  kSignalMessageShown,
  kSignalHitTest,
  kSignalCount
};
// Creates the signals on a class type; ids go into `ids`.
void CreateControlSignals(GType type, guint* ids);

// The control behind a paintable.
class PaintableCore final : public GtkSurface, public FlipreelEvents {
 public:
  PaintableCore(FlipreelPaintable* owner, const guint* signals, GParamSpec** properties);
  ~PaintableCore() override;

  void GetProperty(guint id, GValue* value);
  void SetProperty(guint id, const GValue* value);

  // Loads: the reader runs on another thread.
  void Load(std::function<std::string()> read);
  void LoadUrl(const char* url);
  void RemoveGif();
  // Hands a load under way to the control now.
  void FinishLoading() { host_.FinishPreparation(); }
  const GError* error() {
    FinishLoading();
    return error_;
  }
  // Runs a call on the control; its error is logged, and what changed is
  // announced.
  template <typename Fn>
  bool Call(Fn&& fn) {
    FlipreelPaintable* owner = FLIPREEL_PAINTABLE(g_object_ref(owner_));
    FinishLoading();
    std::optional<HostError> failed = Trap(std::forward<Fn>(fn));
    if (failed) g_warning("Flipreel: %s (error %d)", failed->what(), failed->number());
    Announce();
    g_object_unref(owner);  // the last act: a handler may have let go of the paintable
    return !failed;
  }
  int FrameDelay(int frame);

  // Asks the control whether a press at (x, y), in pixels from its top left
  // corner, belongs to it, starting from `result`; "hit-test" handlers may
  // change the answer. True for 2 (close) and 3 (hit): the press is the
  // control's.
  bool AskHitTest(double x, double y, int16_t result);
  // Changes the answer of the hit test under way; false when none is.
  bool SetHitResult(int16_t result);
  // The answer of the hit test under way; 0 when none is.
  int hit_result() const { return hit_result_ ? *hit_result_ : 0; }

  // Drawing: the frame on show in the box all frames lie in. Snapshot is a
  // draw that keeps the animation playing; Draw only draws.
  void Snapshot(GdkSnapshot* snapshot, double width, double height);
  void Draw(GdkSnapshot* snapshot, double width, double height);
  int intrinsic_width() const { return bounds_w_; }
  int intrinsic_height() const { return bounds_h_; }
  // Whoever shows the control says whether it is shown; a paintable nobody
  // says so of, or one said to be hidden, plays while it is drawn.
  void SetShown(bool shown);
  void Drawn();

  Flipreel& control() { return *control_; }
  GtkHost& host() { return host_; }
  TextureCache& textures() { return textures_; }
  void set_message_parent(GtkWidget* widget) { message_parent_ = widget; }
  void set_resized(std::function<void()> resized) { resized_ = std::move(resized); }

  // --- GtkSurface -------------------------------------------------------------
  void ElementChanged(const Element& element, ElementProperty what) override;
  void PropertyNotified(std::string_view) override {}
  void Hold() override { g_object_ref(owner_); }
  void Release() override { g_object_unref(owner_); }
  void SurfaceResized() override {
    if (resized_) resized_();
  }
  void HostEventEnded() override { Announce(); }
  void HostEventFailed(std::string_view event, const HostError& error) override;
  void ReadCompleted(const AsyncProp& prop) override;
  bool MessageShown(int16_t style, const Text& text) override;
  void* MessageParent() override;

  // --- FlipreelEvents ---------------------------------------------------------
  void Frame() override;
  void ReadFinished() override;
  void PlayFinished() override;
  void AsyncReadComplete(AsyncProp& prop) override;
  void AsyncReadProgress(AsyncProp& prop) override;
  void HitTest(float& x, float& y, int16_t& hit_result) override;

 private:
  struct Values {
    int64_t numbers[kPropCount] = {};
    Text texts[kPropCount];
  };
  Values Current() const;
  void Announce();
  void Ended(const std::optional<HostError>& raised);
  void LoadBytes(std::string_view bytes, const std::optional<HostError>& raised);
  void FramesChanged();
  void SetError(const std::optional<HostError>& error);
  void SetLoading(bool loading);

  FlipreelPaintable* owner_;
  const guint* signals_;
  GParamSpec** properties_;
  GtkHost host_;
  std::unique_ptr<Flipreel> control_;
  TextureCache textures_;
  Values announced_;
  GError* error_ = nullptr;
  bool loading_ = false;
  bool downloading_ = false;
  bool shown_ = false;         // as told by a view; otherwise it plays while drawn
  int64_t undrawn_since_ = 0;  // a new frame waits to be drawn since then, µs
  GtkWidget* message_parent_ = nullptr;
  int16_t* hit_result_ = nullptr;  // while a hit test's signal runs
  std::function<void()> resized_;
  std::unordered_map<const PictureData*, int> index_;  // frame of each picture
  int bounds_x_ = 0, bounds_y_ = 0, bounds_w_ = 0, bounds_h_ = 0;
};

PaintableCore& CoreOf(FlipreelPaintable* paintable);

}  // namespace flipreel
