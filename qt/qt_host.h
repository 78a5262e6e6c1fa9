// The Qt host: the container services for one Flipreel control sited on a
// QWidget. The widget's size is the control's size (twips = pixels x twips
// per pixel, 1440 / the widget's logical DPI); Timer1 keeps its schedule on
// the clock every control of the thread shares (frame_clock.h);
// message boxes are QMessageBox; files, the private folder and random
// numbers are the shared building blocks of platform/files.h; pictures decode
// with the GIF loader or QImage. Everything runs on the GUI thread.
//
// The host does no painting itself: it forwards every element change, the
// surface's background and repaint requests to a QtSurface (FlipreelWidget).
#pragma once

#include <QSize>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "flipreel/host/host.h"
#include "flipreel/platform/files.h"
#include "flipreel/qt/ahead_host.h"
#include "flipreel/qt/file_dialog.h"
#include "flipreel/qt/form_window.h"
#include "flipreel/qt/frame_clock.h"
#include "flipreel/qt/read_ahead.h"

class QThread;
class QWidget;

namespace flipreel {

class QtHost;

// A message box as the control asks for it; the buttons are always OK.
struct MessageBoxRequest {
  QString text;
  int16_t style = kMsgInformation;  // kMsgCritical, kMsgExclamation or kMsgInformation
  QString title;
};

// Shows (or, in tests, records) a message box and returns the button pressed,
// 1 for OK.
using MessageBoxHandler = std::function<int32_t(const MessageBoxRequest&)>;

// The default handler: a modal QMessageBox with the style's icon over parent.
int32_t ShowMessageBox(const MessageBoxRequest& request, QWidget* parent);

// The downloader of a QtHost: fetches an address into a local file.
class AsyncReadService {
 public:
  virtual ~AsyncReadService() = default;
  // Starts a read of target under property_name, replacing a pending read of
  // that name. Progress and completion are delivered later from the event
  // loop, never from inside Read, through QtHost::DeliverAsyncReadProgress
  // and QtHost::DeliverAsyncReadComplete. Throws HostError when the request
  // cannot be made.
  virtual void Read(const Text& target, int32_t async_type, const Text& property_name) = 0;
  // Cancels the read of that name; a cancelled read reports nothing more.
  virtual void Cancel(const Text& property_name) = 0;
};

// The downloader every new QtHost starts with; null when this build has none,
// in which case AsyncRead fails with a clear error.
std::unique_ptr<AsyncReadService> MakeDefaultAsyncReader(QtHost& host);

// What the surface widget hears from its host.
class QtSurface {
 public:
  virtual ~QtSurface() = default;
  virtual void ElementChanged(const Element& element, ElementProperty what) = 0;
  virtual void SurfaceBackChanged() = 0;  // background colour or style
  virtual void RefreshRequested() = 0;
  // A tick has been delivered: what it changed can be painted now.
  virtual void TickEnded() = 0;
  // Another host event (a resize from outside, a download report) has ended.
  virtual void HostEventEnded() = 0;
  virtual void PropertyNotified(std::string_view name) = 0;
  // The control failed inside a host event (a tick, a resize, a download
  // report): there is no caller to hand the error to.
  virtual void HostEventFailed(std::string_view event, const HostError& error) = 0;
  // The control shows a message, whether or not a box will appear for it.
  virtual void MessageShown(const MessageBoxRequest&) {}
  // A load the surface made for a client has not reached the control yet.
  // Ticks are not delivered meanwhile (the load sets the timer afresh), and
  // any other host event first has the load finished, so that the control
  // hears of it after the load, as it would had the load run at once.
  virtual bool LoadPending() const { return false; }
  virtual void FinishPendingLoad() {}
  // A point between two steps of a load (before a picture is loaded, after
  // a frame element is removed), where a load run in slices may give the
  // event loop back.
  virtual void BetweenLoadSteps() {}
  // From inside a load that waits for something made on another thread:
  // true when the load gave the event loop a turn (it runs in slices), so
  // the wait looks again; false when it must block.
  virtual bool PauseLoad() { return false; }
  // Keeps `later` (a message box) to be run after the call under way, in
  // order with what else the surface keeps; false when it runs now.
  virtual bool Hold(std::function<void()> /*later*/) { return false; }
  // Whether a load of a GIF of that many bytes, asked for now, is left
  // pending (DeferLoad).
  virtual bool CanDeferLoad(int64_t /*bytes*/) const { return false; }
  // Whether the control loads composed, whole pictures: a deferred load's
  // bytes are then composed ahead.
  virtual bool LoadsComposed() const { return false; }
  // Leaves `load` pending while `ahead` reads and cuts its GIF on another
  // thread; the frames then decode on other threads and the load runs.
  virtual void DeferLoad(std::shared_ptr<ReadAhead> /*ahead*/, std::function<void()> /*load*/) {}
};

class QtHost : public AheadHost {
 public:
  // widget is the control's surface; surface hears of changes. The widget
  // takes the control's initial size, 3075 x 1950 twips. The timer keeps
  // its schedule on clock.
  QtHost(QWidget& widget, QtSurface& surface, FrameClock& clock = FrameClock::OfThisThread());
  ~QtHost() override;
  QtHost(const QtHost&) = delete;
  QtHost& operator=(const QtHost&) = delete;

  // --- settings ---------------------------------------------------------------
  // Ambient UserMode: True (run time) unless a designer says otherwise.
  void SetUserMode(bool run_time) { user_mode_ = run_time; }
  // Null restores the default, a modal QMessageBox.
  void set_message_box_handler(MessageBoxHandler handler) { message_box_ = std::move(handler); }
  // Without boxes the default handler shows nothing and answers OK, as a
  // user who closes the box at once; the surface still hears of every
  // message. A handler that is set is called either way.
  void set_show_message_boxes(bool show) { show_message_boxes_ = show; }
  bool show_message_boxes() const { return show_message_boxes_; }
  // Whether a classic load of a GIF whose frames look different composed
  // says so with a warning (by default it does, once per load).
  void set_warn_of_classic_look(bool warn) { warn_of_classic_look_ = warn; }
  void set_async_reader(std::unique_ptr<AsyncReadService> reader) { reader_ = std::move(reader); }
  AsyncReadService* async_reader() const { return reader_.get(); }
  // With manual ticks the QTimer stays off and only DeliverTick drives the
  // control: rendering tick by tick, and tests.
  void SetManualTicks(bool manual);

  // Whether the control can be seen: while it cannot, it takes no ticks;
  // seen again, it is handed the ticks that fell due meanwhile.
  void SetSeen(bool seen) { schedule_.SetShown(seen); }
  bool seen() const { return schedule_.shown(); }

  // --- ticks --------------------------------------------------------------------
  // Delivers one tick now if Timer1 is enabled, whatever its interval. Errors
  // of the tick reach the caller.
  bool DeliverTick();
  // The control's timer once it has changed; null until then and after the
  // control has gone.
  const Timer* timer() const { return schedule_.timer(); }
  bool timer_running() const { return schedule_.running(); }
  int timer_interval_ms() const { return schedule_.interval(); }
  int64_t ticks_delivered() const { return schedule_.ticks_delivered(); }
  // Whether a tick is being delivered to the control right now, and whether
  // by hand (DeliverTick) rather than by the clock. An event loop the tick
  // runs (a slot of Frame that opens a modal box) is not in the tick: what
  // host events change there is painted and announced as they end.
  bool in_tick() const { return schedule_.in_tick() && !InLoopRunByTick(); }
  // Whether a tick is under way at all, in an event loop it runs too: a
  // tick is never delivered inside another.
  bool tick_under_way() const { return schedule_.in_tick(); }
  bool in_tick_by_hand() const { return in_tick_by_hand_; }
  // Whether a read's completion is being delivered (until its HostEventEnded).
  bool in_read_completion() const { return in_read_completion_; }

  // --- for the surface ----------------------------------------------------------
  HostedControl* control() const { return control_; }
  QWidget& widget() const { return widget_; }
  int16_t surface_back_style() const { return surface_back_style_; }
  int32_t surface_back_color() const { return surface_back_color_; }
  // The size the control has, in pixels.
  QSize surface_pixels() const { return surface_px_; }
  // Resize notifications the control has had, for tests.
  int resizes_delivered() const { return resizes_delivered_; }
  // The widget was resized by someone else (a user, a layout, the window
  // system): the control hears of it once, if the size really changed.
  void WidgetResized();

  // --- for the downloader -------------------------------------------------------
  // Hand a read's progress and completion to the control; errors the control
  // raises go to the surface.
  void DeliverAsyncReadProgress(AsyncProp& prop);
  void DeliverAsyncReadComplete(AsyncProp& prop);

  // --- Host -------------------------------------------------------------------
  // Detaching also forgets the timer: the control's elements go with it.
  void Attach(HostedControl* control) override;
  bool UserMode() const override { return user_mode_; }
  float TwipsPerPixelX() const override;
  float TwipsPerPixelY() const override;
  // Both at once, with one look at the screen (a paint wants both).
  struct Twips {
    float x, y;
  };
  Twips TwipsPerPixel() const { return TwipsNow(); }
  void ElementChanged(const Element& element, ElementProperty what) override;
  void ElementDestroyed(const Element& element) override;
  float SurfaceWidth() const override;
  float SurfaceHeight() const override;
  void Size(float width, float height) override;
  void SetSurfaceBackColor(int32_t color) override;
  void SetSurfaceBackStyle(int16_t style) override;
  void Refresh() override;
  void NotifyPropertyChanged(std::string_view name) override;
  Picture LoadPicture(TextView path) override;
  int64_t Now() const override { return schedule_.Now(); }
  void ExpectFrameFiles(FrameFileList files) noexcept override {
    if (warn_of_classic_look_ && files.bytes) WarnOfClassicLook(*files.bytes);
    AheadHost::ExpectFrameFiles(std::move(files));
  }
  void BetweenLoadSteps() noexcept override { surface_.BetweenLoadSteps(); }
  // Has the surface leave `load`, a load of the GIF file at path, pending
  // (QtSurface::DeferLoad). The file is read at once on another thread (or
  // here with read_now, for a file that goes once this returns), and the
  // control's read of it inside `load` is served what was read; a file that
  // could not be read there is read by the control itself. False, with
  // nothing left pending, when the load should run now.
  bool DeferLoadOfFile(const Text& path, std::function<void()> load, bool read_now = false);
  int32_t MsgBox(TextView text, int16_t style, TextView title) override;
  void Randomize() override;
  float Rnd() override { return random_.Next(); }
  void AsyncRead(TextView target, int32_t async_type, TextView property_name) override;
  void CancelAsyncRead(TextView property_name) override;
  void EventHandlerFailed(std::string_view event, const std::string& what) override;
  int32_t ShowOpenDialog(FileDialogRequest& request) override {
    return file_dialog_.ShowOpenDialog(request);
  }
  int32_t DialogFailureCode() override { return file_dialog_.DialogFailureCode(); }
  void ShowForm(Form& form, FormShow mode) override { forms_.ShowForm(form, mode); }
  void UnloadForm(Form& form) override { forms_.UnloadForm(form); }
  void FormResized(Form& form) override { forms_.FormResized(form); }
  std::unique_ptr<Host> CreateControlSite(Form& form, const FormElement& element) override {
    return forms_.CreateControlSite(form, element);
  }
  QtFormService& forms() { return forms_; }

 private:
  Picture DecodePicture(TextView path);  // GIF with our loader, the rest with Qt's
  int32_t ShowBox(const MessageBoxRequest& request);
  void OnTick();
  // Twips per pixel as the widget's screen gives them; within a tick, read
  // once (a tick asks for them many times, and each read finds the screen).
  Twips TwipsNow() const;
  // Whether the thread runs an event loop the tick being delivered started.
  bool InLoopRunByTick() const;
  // Runs fn as the tick's own event, at the event loop level it came in.
  template <typename Fn>
  void RunTick(Fn&& fn);
  // Runs a host event on the control, handing any error to the surface, and
  // tells the surface when it has ended.
  template <typename Fn>
  void RunHostEvent(std::string_view event, Fn&& fn);
  void CompleteAsyncRead(AsyncProp& prop);
  bool PauseLoad() override { return surface_.PauseLoad(); }
  // Warns once when the classic frames of this GIF look different composed.
  static void WarnOfClassicLook(const std::string& bytes) noexcept;

  QWidget& widget_;
  QtSurface& surface_;
  HostedControl* control_ = nullptr;
  bool user_mode_ = true;
  QSize surface_px_;
  int32_t surface_back_color_ = kColorButtonFace;
  int16_t surface_back_style_ = 1;

  TickSchedule schedule_;
  bool in_tick_by_hand_ = false;
  mutable std::optional<Twips> tick_twips_;  // read during the tick being delivered
  int tick_loop_level_ = -1;                 // the event loop level the tick came in at
  // The thread the host lives on, the widget's: asked for its event loop
  // level on every element change of a tick, without looking it up each time.
  QThread* const thread_;
  int resizes_delivered_ = 0;

  MessageBoxHandler message_box_;
  bool show_message_boxes_ = true;
  bool warn_of_classic_look_ = true;
  bool in_read_completion_ = false;
  std::unique_ptr<AsyncReadService> reader_;
  RandomGenerator random_;
  QtFileDialog file_dialog_;
  QtFormService forms_;
};

}  // namespace flipreel
