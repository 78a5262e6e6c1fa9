// The inside of FlipreelWidget: the control, the QtHost it is sited on and
// the paint-ready frame cache, with the painting and hit-testing state.
//
// Not part of the widget's interface. In-tree code that drives the control
// itself (the command-line tool, benchmarks, tests) reaches it through
// FlipreelWidgetPrivate::get; applications use FlipreelWidget alone.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QRegion>
#include <QSize>
#include <QTimer>
#include <QVarLengthArray>
#include <array>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "flipreel/control/flipreel.h"
#include "flipreel/control/load_outcome.h"
#include "flipreel/qt/element_painter.h"
#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/pending_load.h"
#include "flipreel/qt/picture_cache.h"
#include "flipreel/qt/qt_host.h"
#include "flipreel/qt/sight_watch.h"
#include "flipreel/qt/sliced_load.h"

namespace flipreel {

class FlipreelWidgetPrivate final : private QtSurface {
 public:
  explicit FlipreelWidgetPrivate(FlipreelWidget& widget);
  ~FlipreelWidgetPrivate() override;
  FlipreelWidgetPrivate(const FlipreelWidgetPrivate&) = delete;
  FlipreelWidgetPrivate& operator=(const FlipreelWidgetPrivate&) = delete;

  static FlipreelWidgetPrivate& get(FlipreelWidget& widget) { return *widget.d_; }

  // A property's value as the widget watches it for changes. Pictures compare
  // by identity: the control replaces a picture rather than changing it. A
  // colour is watched as the control's value and the colour it shows, so
  // that a system colour's change with the palette is announced too.
  struct WatchedColor {
    int32_t value;
    QRgb shown;
    bool operator==(const WatchedColor&) const = default;
  };
  using Watched = std::variant<bool, qint64, Text, Picture, WatchedColor>;

  // Members of the control throw HostError; changes made through them are
  // announced (NOTIFY signals, repaints) at the next call through the widget
  // or host event, as for any change the control makes by itself. Each of
  // these first waits for a load the widget has left pending (AwaitLoad).
  // Whoever reaches them may change any value the widget watches: the next
  // announcement compares them all (see AnnounceTick). A reference to them is
  // not kept past the call that took it: a change made through it at a later
  // time would go unannounced by the ticks' short comparison.
  Flipreel& control() {
    AwaitLoad();
    compare_all_ = true;
    return *control_;
  }
  QtHost& host() {
    AwaitLoad();
    compare_all_ = true;
    return *host_;
  }
  PictureCache& cache() {
    AwaitLoad();
    compare_all_ = true;
    return cache_;
  }
  // For getters: they wait for a pending load as the members above do, but
  // reading changes nothing the widget watches, so the ticks keep their short
  // comparison.
  const Flipreel& read_control() {
    AwaitLoad();
    return *control_;
  }
  const QtHost& read_host() {
    AwaitLoad();
    return *host_;
  }
  const PictureCache& read_cache() {
    AwaitLoad();
    return cache_;
  }

  // A load in progress. Loads whose frames are worth decoding on other
  // threads (a large file or resource given to FlipreelFile, bytes given to
  // loadFromData, a download's completion, a saved state given to
  // setSavedState) leave the event loop free: the call returns at once, the
  // GIF is read and cut on another thread, its frames decode on others, and
  // the control's load then runs from the event loop in slices of a few
  // milliseconds each (SlicedLoad), handing the decoded frames over one by
  // one; it pauses where the next frame is not decoded yet. The load has one
  // owner, the widget, and one life: started (pending), then finished or
  // cancelled. It is finished, exactly as it would have run at the call, by
  // its last slice, or at once by the next call through the widget that
  // changes something, a host event other than a tick, or a mouse press
  // (FinishLoad). A read of its result (a getter) finishes it too and sees
  // the final values (AwaitLoad). The load's signals and boxes are held while
  // it runs and come, in the load's order, when it ends: from the event loop
  // when a slice or a read ended it, before the call goes on otherwise. The
  // widget's going finishes it silently (CancelLoad). Until it is finished
  // ticks and resizes from outside are held back (the load re-arms the timer;
  // the resize is delivered after it), and the widget paints what it showed
  // before, then the new GIF's first frame as soon as it is decoded.
  bool LoadPending() const override { return pending_ && pending_->pending(); }
  void FinishLoad();
  void AwaitLoad();
  void CancelLoad();
  // On by default; off, every load runs inside its call (what the benchmark
  // compares with, and the tests' reference).
  void SetDeferredLoads(bool on) {
    FinishLoad();
    deferred_loads_ = on;
  }
  // Whether the widget paints the new GIF's first frame while its load is
  // still pending.
  bool PreviewShown() const { return LoadPending() && preview_.shown; }
  // Whether the pending load has begun handing frames to the control.
  bool LoadStarted() const { return pending_ && pending_->started(); }

  // Runs a member of the control by name (Flipreel::Invoke) for in-tree
  // callers that need its error, such as the property page: the error is
  // kept as lastError and thrown on; what changed is announced either way.
  Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args = {});

  // Whether the control takes no ticks while it cannot be seen: as set by
  // setPauseWhenHidden, else when it plays composed.
  bool PausesWhenHidden() const { return pause_when_hidden_.value_or(control_->Composed()); }
  // Tells the host whether the control is to take ticks now.
  void UpdateTicking();

  // Restores the control from a property bag, as a form does, and repaints.
  // False, with lastError(), when the bag holds a value the control refuses.
  bool ReadProperties(const PropertyBag& bag);

 private:
  friend class FlipreelWidget;

#define FLIPREEL_WIDGET_COUNT(source, Type, Name, setName) +1
  static constexpr size_t kWatchedCount = 0 FLIPREEL_WIDGET_PROPERTIES(FLIPREEL_WIDGET_COUNT);
#undef FLIPREEL_WIDGET_COUNT
  // Each property's place in FLIPREEL_WIDGET_PROPERTIES.
  enum WatchedIndex : size_t {
#define FLIPREEL_WIDGET_INDEX(source, Type, Name, setName) kWatched##Name,
    FLIPREEL_WIDGET_PROPERTIES(FLIPREEL_WIDGET_INDEX)
#undef FLIPREEL_WIDGET_INDEX
  };
  // The values of the properties of FLIPREEL_WIDGET_PROPERTIES, in its order,
  // as last announced, and imgGif's picture, for frameShown.
  struct Announced {
    std::array<Watched, kWatchedCount> values;
    const PictureData* shown = nullptr;
  };
  // Each property's value as it stands: read from the control, the host or
  // the cache without finishing a pending load.
#define FLIPREEL_WIDGET_WATCH(source, Type, Name, setName) Watched Watch##Name() const;
  FLIPREEL_WIDGET_PROPERTIES(FLIPREEL_WIDGET_WATCH)
#undef FLIPREEL_WIDGET_WATCH
  Announced Current() const;
  Watched WatchColor(int32_t value) const;
  // The widget's palette, read once after each change of it: the colours
  // are watched on every tick, and reading the palette walks to the window.
  const QPalette& Palette() const;
  // Emits the NOTIFY signal of every property whose value differs from what
  // was last announced. Runs after every call through the widget and every
  // host event, so a value changed by a setter, by the control itself (a
  // load sets FrameRate and Frames) or by a restore is announced once.
  // Without with_texts the text properties are taken as unchanged: a tick
  // that announced none of them leaves them as they were, and comparing
  // them would make every tick cost as much as the longest text.
  void AnnounceChanges(bool with_texts = true);
  // The announcement at the end of a tick. A tick moves the frame: of the
  // watched values it changes CurrentFrame, and Playing when play ends, and
  // any other only through a setter, which the control announces
  // (PropertyNotified), or through a call through the widget, which
  // announces its own changes. So unless something announced itself, or the
  // control, host or cache was reached from outside, since the last full
  // comparison, only those two and the frame on show are compared; else
  // AnnounceChanges(false) compares them all.
  void AnnounceTick();
  // Records imgGif's picture as announced; true when it is another than
  // before. AnnounceShown then emits frameShown for it.
  bool RecordShown();
  void AnnounceShown();

  // Sets a property through the control's setter, the value converted from
  // Qt's type to the setter's (a 16-bit value is checked), as a call through
  // the widget.
  template <typename Param, typename Value>
  void Forward(void (Flipreel::*set)(Param), const Value& value);
  // A colour property as it shows now, and set to color as a call through
  // the widget, unless color is what it shows already.
  using ColorGetter = int32_t (Flipreel::*)() const;
  using ColorSetter = void (Flipreel::*)(int32_t);
  QColor ShownColor(ColorGetter get);
  void SetShownColor(ColorGetter get, ColorSetter set, const QColor& color);
  // Runs one of the control's frame queries as a call through the widget.
  template <typename Result>
  Result Query(Result (Flipreel::*query)(int16_t&) const, int frame);

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
  // Compares an element's look with how it was last painted and asks for
  // the old and the new rectangle to be repainted if it changed.
  void LookChanged(PaintedElement which);
  // Looks at the elements a tick has changed so far.
  void SettleLooks();
  // Adds to what the tick being delivered has to repaint.
  void AddTickDirty(const QRect& rect);
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
  // Loads bytes in memory (a resource's, loadFromData's) as LoadBytes does,
  // left pending when that is worth it; true when it was.
  bool DeferLoadOfBytes(const QByteArray& bytes);
  // Leaves `load` pending (FinishLoad) while `ahead` reads its GIF, and
  // starts its slices once it has.
  bool CanDeferLoad(int64_t bytes) const override;
  bool LoadsComposed() const override;
  void DeferLoad(std::shared_ptr<ReadAhead> ahead, std::function<void()> load) override;
  void FinishPendingLoad() override {
    FinishLoad();
  }
  // The pieces of a load's life.
  void LookForPreview();
  void AroundLoad(const std::function<void()>& run);
  void EndLoad(bool release_now);
  void BetweenLoadSteps() override;
  bool PauseLoad() override;
  void LoadFailed(const HostError& error);
  // Emits a signal now, or keeps it for later while a load finished by a
  // read is being run (AwaitLoad); ReleaseHeld emits what was kept, in order.
  template <typename Fn>
  void Emit(Fn&& emit_it);
  bool Hold(std::function<void()> later) override;
  void ReleaseHeld();
  // After a host event: a download that ended without a GIF.
  void CheckDownloadEnded();
  // The index of the imgBuffer element whose picture imgGif shows; -1 for
  // none.
  int ShownFrame() const;
  mutable int32_t shown_hint_ = 0;  // where ShownFrame last found it

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
  // By default frames are kept paint-ready within 64 MB, each converted once
  // and painted from then on. With a budget of 0 frames stay compact (a
  // quarter of 32-bit pixels), shared with every widget that loaded the same
  // bytes, and the frame on show is converted once for all the widgets that
  // show it (PictureCache shares its copies): less memory, for a conversion
  // per frame shown.
  static constexpr size_t kDefaultPaintCacheBudget = PictureCache::kDefaultBudget;
  // Frames of at least this many pixels are converted on other threads
  // before their ticks come, so that painting one does not hold the event
  // loop up; smaller ones are converted when painted, which costs less than
  // handing them to another thread.
  static constexpr int64_t kConvertAheadPixels = 256 * 256;
  PictureCache cache_{kDefaultPaintCacheBudget};
  std::array<Look, kPaintedCount> looks_{};
  using DirtyRects = QVarLengthArray<QRect, 2>;
  DirtyRects tick_dirty_;                        // what the tick being delivered has changed so far
  std::array<bool, kPaintedCount> unsettled_{};  // changed in it, not yet looked at
  FlipreelError last_error_;
  int16_t* hit_result_ = nullptr;
  QPointer<QWidget> forward_to_;
  Announced announced_;
  mutable std::optional<QPalette> palette_;  // forgotten on a palette change
  bool text_notified_ = false;               // a text property was announced during the tick
  // A watched value other than those a tick moves may have changed since
  // AnnounceChanges last compared them all.
  bool compare_all_ = true;
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
  bool finishing_load_ = false;              // the pending load is running
  bool holding_ = false;                     // signals and boxes are kept
  std::vector<std::function<void()>> held_;  // for ReleaseHeld
  bool deferred_loads_ = true;
  std::optional<QSize> held_resize_;  // the size a resize held back gave
  QObject load_finisher_;             // what a load holds back is posted to it
  // What the widget paints for imgGif while a load is pending: what it
  // showed before, then the new first frame once it is ready to paint.
  struct Preview {
    Picture picture;  // what is painted, in rect, from box's corner or stretched
    QRect rect, box;
    bool stretch = false;
    Picture first;       // the new first frame, once the load has it
    bool shown = false;  // first is painted
    bool asked = false;  // first's conversion was taken on
  } preview_;
  void FreezePreview();
  void AskForPreview();
  void PreviewReady(const Picture& picture);
  std::unique_ptr<EventRelay> relay_;
  std::unique_ptr<QtHost> host_;
  std::unique_ptr<Flipreel> control_;
  std::unique_ptr<PendingLoad> pending_;   // the load left pending, once the host is there
  std::optional<bool> pause_when_hidden_;  // none: follow Composed
  std::unique_ptr<SightWatch> sight_;
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
void FlipreelWidgetPrivate::Emit(Fn&& emit_it) {
  if (holding_) {
    held_.emplace_back(std::forward<Fn>(emit_it));
  } else {
    emit_it();
  }
}

template <typename Fn>
bool FlipreelWidgetPrivate::Load(const std::optional<HostError>& problem, Fn&& load) {
  FinishLoad();
  host_->trapped_errors().clear();
  Call(std::forward<Fn>(load));
  std::optional<HostError> raised;
  if (last_error_) raised = HostError(last_error_.number, last_error_.description.toStdString());
  const std::optional<HostError> failure =
      problem && !raised ? problem : LoadFailure(*control_, raised, host_->trapped_errors());
  if (failure) {
    LoadFailed(*failure);
  } else {
    Emit([this] { emit q_.loaded(); });
  }
  return !failure;
}

}  // namespace flipreel
