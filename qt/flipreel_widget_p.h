// The inside of FlipreelWidget: the control, the QtHost it is sited on and
// the paint-ready frame cache, with the painting and hit-testing state.
//
// Not part of the widget's interface. In-tree code that drives the control
// itself (the command-line tool, benchmarks, tests) reaches it through
// FlipreelWidgetPrivate::get; applications use FlipreelWidget alone.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRegion>
#include <QSize>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "flipreel/control/flipreel.h"
#include "flipreel/control/load_outcome.h"
#include "flipreel/qt/element_painter.h"
#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/picture_cache.h"
#include "flipreel/qt/qt_host.h"

namespace flipreel {

class FlipreelWidgetPrivate final : private QtSurface {
 public:
  explicit FlipreelWidgetPrivate(FlipreelWidget& widget);
  ~FlipreelWidgetPrivate() override;
  FlipreelWidgetPrivate(const FlipreelWidgetPrivate&) = delete;
  FlipreelWidgetPrivate& operator=(const FlipreelWidgetPrivate&) = delete;

  static FlipreelWidgetPrivate& get(FlipreelWidget& widget) { return *widget.d_; }

  // Members of the control throw HostError; changes made through them are
  // announced (NOTIFY signals, repaints) at the next call through the widget
  // or host event, as for any change the control makes by itself. Each of
  // these first finishes a load the widget has left pending.
  Flipreel& control() {
    FinishLoad();
    return *control_;
  }
  QtHost& host() {
    FinishLoad();
    return *host_;
  }
  PictureCache& cache() {
    FinishLoad();
    return cache_;
  }

  // Loads whose frames are worth decoding on other threads (a large file or
  // resource given to FlipreelFile, a download's completion, a saved state
  // given to setSavedState) leave the event loop free: the frames start decoding and the call
  // returns. The control runs the load, exactly as it would have at the call, the moment anyone can
  // tell: at the next call through the widget or its inside, at the next host event other than a
  // tick, at a mouse press, at a connection to a signal a load gives (unheard: no one listened when
  // the load was left), when the widget goes, or once the frames are decoded, whichever comes
  // first. Nothing is left pending while someone listens (LoadHeard). Until then ticks and resizes
  // from outside are held back (the load re-arms the timer; the resize is delivered after it) and
  // the widget paints what it showed before. Messages, events and errors are the load's own, in its
  // order.
  bool LoadPending() const override { return static_cast<bool>(pending_load_); }
  void FinishLoad();
  // On by default; off, every load runs inside its call (what the benchmark
  // compares with, and the tests' reference).
  void SetDeferredLoads(bool on) {
    FinishLoad();
    deferred_loads_ = on;
  }

  // Runs a member of the control by name (Flipreel::Invoke) for in-tree
  // callers that need its error, such as the property page: the error is
  // kept as lastError and thrown on; what changed is announced either way.
  Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args = {});

  // Restores the control from a property bag, as a form does, and repaints.
  // False, with lastError(), when the bag holds a value the control refuses.
  bool ReadProperties(const PropertyBag& bag);

 private:
  friend class FlipreelWidget;

  // The values of the widget's properties that have a NOTIFY signal, as last
  // announced. Pictures compare by identity: the control replaces a picture
  // rather than changing it.
  struct Announced {
    Text FlipreelFile, GifFromURL, ServerUserName, ServerPassword;
    int FrameRate = 0, Sequence = 0, BorderColor = 0, AutoRewind = 0, BackColor = 0, BackStyle = 0,
        BorderStyle = 0, Frames = 0, CurrentFrame = 0;
    bool AutoSize = false, Stretch = false, Playing = false, AutoStart = false, UserMode = true,
         Composed = false;
    const PictureData* BackGroundGraphic = nullptr;
    qint64 PaintCacheBudget = 0;
    bool ShowMessageBoxes = true, SeeThrough = false;
    const PictureData* Shown = nullptr;  // imgGif's picture, for frameShown
  };
  Announced Current() const;
  // Emits the NOTIFY signal of every property whose value differs from what
  // was last announced. Runs after every call through the widget and every
  // host event, so a value changed by a setter, by the control itself (a
  // load sets FrameRate and Frames) or by a restore is announced once.
  void AnnounceChanges();

  // QtSurface
  void ElementChanged(const Element& element, ElementProperty what) override;
  void SurfaceBackChanged() override;
  void RefreshRequested() override;
  void TickEnded() override;
  void HostEventEnded() override;
  void PropertyNotified(std::string_view name) override;
  void HostEventFailed(std::string_view event, const HostError& error) override;
  void MessageShown(const MessageBoxRequest& request) override;

  class EventRelay;
  // How each painted element looked when last painted, to repaint only what
  // changed: the old and the new rectangle of an element that changed.
  struct Look {
    QRect rect;
    const PictureData* picture = nullptr;
    bool visible = false, stretch = false;
    int16_t back_style = 0, border_style = 0;
    int32_t back_color = 0, border_color = 0;
    bool operator==(const Look&) const = default;
  };
  enum PaintedElement { kBackShape, kBackImage, kGifImage, kBorderShape, kPaintedCount };
  TwipScale scale() const;
  Look LookOf(PaintedElement which) const;
  void RefreshLooks();
  void UpdateOpaqueness();
  // After a restore: new looks, a full repaint and the changed values.
  void Restored();

  // Runs a member for a Qt client: clears lastError, keeps the error raised,
  // then announces what changed.
  template <typename Fn>
  auto Call(Fn&& fn) -> decltype(fn());
  void Fail(const HostError& error);

  // Loads for a Qt client: runs the load as a call through the widget, then
  // tells why the control holds no GIF afterwards (problem, when the caller
  // found one before the control was given the load). True when it loaded.
  template <typename Fn>
  bool Load(const std::optional<HostError>& problem, Fn&& load);
  // Bytes read from a resource or a device, or why they could not be.
  bool LoadBytes(std::string_view bytes);
  // Leaves `load` pending (FinishLoad) with the frames of these bytes
  // decoding on other threads. False, with nothing started, when the load
  // should run now: the frames are not worth it, or the load would change
  // the widget's geometry, which QWidget's own members show at once.
  bool DeferLoad(std::shared_ptr<const std::string> bytes, std::function<void()> load) override;
  void FinishPendingLoad() override { FinishLoad(); }
  // Whether code outside the widget listens to a signal a load can give: it
  // would hear of a load left pending later than of one made in its call.
  bool LoadHeard() const;
  void LoadFailed(const HostError& error);
  // After a host event: a download that ended without a GIF.
  void CheckDownloadEnded();
  // The index of the imgBuffer element whose picture imgGif shows; -1 for
  // none.
  int ShownFrame() const;

  // Paints the elements that touch clip (widget pixels), as the control
  // stands: a load still pending is not finished for a repaint.
  void Paint(QPainter& painter, const QRect& clip);

  // Hit testing and passing mouse events to the widget below.
  bool PaintsAt(QPoint pos);
  bool AskHitTest(QPointF pos);
  QWidget* WidgetBelow(QPointF global_pos);
  void Forward(QMouseEvent* event);
  void Press(QMouseEvent* event);

  FlipreelWidget& q_;
  PictureCache cache_;
  std::array<Look, kPaintedCount> looks_{};
  QRegion tick_dirty_;  // what the tick being delivered has changed so far
  FlipreelError last_error_;
  int16_t* hit_result_ = nullptr;
  QPointer<QWidget> forward_to_;
  Announced announced_;
  // Messages the control showed during the load being made for a client
  // (loading_) or the read completion being delivered.
  std::vector<Text> messages_;
  bool loading_ = false;
  int calls_ = 0;  // calls through the widget under way (Call, Invoke)
  // Counts a call under way, so that a load asked for meanwhile is made at
  // once, and announces the control's changes when it ends, however it ends.
  class CallScope {
   public:
    explicit CallScope(FlipreelWidgetPrivate& d) : d_(d) { ++d_.calls_; }
    ~CallScope() {
      --d_.calls_;
      d_.AnnounceChanges();
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

   private:
    FlipreelWidgetPrivate& d_;
  };
  std::function<void()> pending_load_;
  uint64_t load_serial_ = 0;  // tells a finished decode which load it was for
  bool finishing_load_ = false;
  bool deferred_loads_ = true;
  std::optional<QSize> held_resize_;  // the size a resize held back gave
  QObject load_finisher_;             // decodes that end post to it; it goes with the widget
  // Frames a finished load left to be made paint-ready one per pass of the
  // event loop, rather than all inside the load: the next to look at.
  int32_t next_to_prepare_ = -1;
  QTimer preparer_;
  void PrepareNextFrame();
  std::unique_ptr<EventRelay> relay_;
  std::unique_ptr<QtHost> host_;
  std::unique_ptr<Flipreel> control_;
};

// A host error (or running out of memory) ends the member and becomes
// lastError; the steps done before stay done.
template <typename Fn>
auto FlipreelWidgetPrivate::Call(Fn&& fn) -> decltype(fn()) {
  using Result = decltype(fn());
  const CallScope scope(*this);
  FinishLoad();
  last_error_ = {};
  try {
    return fn();
  } catch (const HostError& e) {
    Fail(e);
  } catch (const std::bad_alloc&) {
    Fail(HostError(err::kOutOfMemory));
  }
  if constexpr (!std::is_void_v<Result>) return Result{};
}

template <typename Fn>
bool FlipreelWidgetPrivate::Load(const std::optional<HostError>& problem, Fn&& load) {
  FinishLoad();
  messages_.clear();
  loading_ = true;
  Call(std::forward<Fn>(load));
  loading_ = false;
  std::optional<HostError> raised;
  if (last_error_) raised = HostError(last_error_.number, last_error_.description.toStdString());
  const std::optional<HostError> failure =
      problem && !raised ? problem : LoadFailure(*control_, raised, messages_);
  messages_.clear();
  if (failure) LoadFailed(*failure);
  return !failure;
}

}  // namespace flipreel
