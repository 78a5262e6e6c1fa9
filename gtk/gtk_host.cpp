#include "flipreel/gtk/gtk_host.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "flipreel/gif/gif_composer.h"
#include "flipreel/gif/gif_decoder.h"
#include "flipreel/host/scope.h"

namespace flipreel {

namespace {

// Runs fn once on the main loop, unless the host has gone by then.
template <typename Fn>
void OnMainLoop(std::weak_ptr<GtkHost*> host, Fn fn) {
  struct Call {
    std::weak_ptr<GtkHost*> host;
    Fn fn;
  };
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        auto* call = static_cast<Call*>(data);
        if (std::shared_ptr<GtkHost*> alive = call->host.lock()) call->fn(**alive);
        return G_SOURCE_REMOVE;
      },
      new Call{std::move(host), std::move(fn)},
      [](gpointer data) { delete static_cast<Call*>(data); });
}

}  // namespace

// A read and composition on another thread; whoever comes first (the main
// loop's idle call, or a caller that needs the result now) hands it on.
struct GtkHost::Preparation {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  std::shared_ptr<Prepared> result = std::make_shared<Prepared>();
  std::optional<HostError> unread;
  PreparedHandler handler;
};

GtkHost::GtkHost(GtkSurface& surface)
    : surface_(surface), reads_([this] {
        if (!delivery_queued_.exchange(true))
          OnMainLoop(self_, [](GtkHost& host) {
            host.surface_.Hold();
            host.DeliverReads();
            host.surface_.Release();
          });
      }) {
  ahead_.set_budget(memory_budget());
  base_real_ = g_get_monotonic_time();
}

GtkHost::~GtkHost() {
  StopSource();
}

void GtkHost::Attach(HostedControl* control) {
  control_ = control;
  if (!control) {
    timer_ = nullptr;
    due_.Disarm();
    StopSource();
  }
}

void GtkHost::ElementDestroyed(const Element& element) {
  if (&element != timer_) return;
  timer_ = nullptr;
  due_.Disarm();
  StopSource();
}

void GtkHost::ElementChanged(const Element& element, ElementProperty what) {
  if (element.kind() == ElementKind::kTimer) {
    timer_ = static_cast<const Timer*>(&element);
    if (what == ElementProperty::kEnabled || what == ElementProperty::kInterval) Rearm();
    return;
  }
  surface_.ElementChanged(element, what);
}

int64_t GtkHost::Now() const {
  if (!active_) return base_;
  return base_ + (g_get_monotonic_time() - base_real_) / 1000;
}

void GtkHost::Rearm() {
  due_.Arm(timer_, Now(), in_tick_);
  if (!due_.armed()) {
    StopSource();
    return;
  }
  if (!in_tick_) Schedule();
}

void GtkHost::StopSource() {
  if (source_ != 0) g_source_remove(std::exchange(source_, 0));
}

void GtkHost::Schedule() {
  StopSource();
  if (!due_.armed() || !active_) return;
  const int64_t wait = std::clamp<int64_t>(due_.time() - Now(), 0, G_MAXINT32);
  source_ = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(wait), &GtkHost::OnTimeout,
                               this, nullptr);
}

gboolean GtkHost::OnTimeout(gpointer self) {
  auto* host = static_cast<GtkHost*>(self);
  host->source_ = 0;  // the source ends with this call; Tick schedules the next
  host->surface_.Hold();
  host->Tick();
  host->surface_.Release();
  return G_SOURCE_REMOVE;
}

void GtkHost::Tick() {
  if (!due_.armed() || !control_) return;
  due_.BeginTick();
  {
    const ScopedValue in_tick(in_tick_, true);
    ++ticks_delivered_;
    RunHostEvent(control_, surface_, "Timer1", [this] { control_->OnTimer(); });
  }
  // A schedule that has fallen far behind (a busy main loop) starts again
  // from now.
  due_.EndTick();
  if (due_.armed() && due_.time() < Now() - 1000) due_.Restart(Now());
  Schedule();
}

bool GtkHost::DeliverTick() {
  if (!control_ || !timer_ || !timer_->enabled()) return false;
  Tick();
  return true;
}

void GtkHost::SetActive(bool active) {
  if (active == active_) return;
  base_ = Now();
  base_real_ = g_get_monotonic_time();
  active_ = active;
  Schedule();
}

// Sizes are compared in whole pixels, which ends the resize handler's
// recursion through the control's layout.
void GtkHost::Size(float width, float height) {
  const PixelSize size = PixelSizeOfTwips(width, height, kTwipsPerPixel);
  if (size == PixelSize{width_, height_}) return;
  width_ = size.width;
  height_ = size.height;
  surface_.SurfaceResized();
  if (control_) control_->OnResize();
}

Picture GtkHost::LoadPicture(TextView path) {
  if (path.empty()) return Picture();
  return RememberingFailure([&] {
    std::string storage;
    const std::string_view bytes = ReadWholeFile(path, storage);
    const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.data()),
                                        bytes.size());
    if (!LooksLikeGif(data)) Raise(err::kInvalidPicture);
    return ahead_.Decode(data);
  });
}

void GtkHost::PrepareAnimation(std::function<std::string()> read, PreparedHandler done,
                               bool compose) {
  DropPreparedAnimation();
  auto preparation = std::make_shared<Preparation>();
  preparation->handler = std::move(done);
  preparation_ = preparation;
  std::thread([read = std::move(read), budget = memory_budget(), preparation, compose,
               host = std::weak_ptr<GtkHost*>(self_)]() mutable {
    Prepared& result = *preparation->result;
    std::optional<HostError> unread = Trap([&] {
      result.bytes = std::make_shared<const std::string>(read());
      budget.FollowFile(static_cast<int64_t>(result.bytes->size()));
    });
    if (!unread && compose) {
      const std::string& bytes = *result.bytes;
      result.error = Trap([&] {
        result.animation = ComposeGif(
            std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), &budget);
      });
    }
    {
      const std::lock_guard lock(preparation->mutex);
      preparation->unread = std::move(unread);
      preparation->done = true;
    }
    preparation->cv.notify_all();
    OnMainLoop(host, [preparation](GtkHost& alive) {
      if (alive.preparation_ != preparation) return;
      alive.surface_.Hold();
      alive.FinishPreparation();
      alive.surface_.Release();
    });
  }).detach();
}

bool GtkHost::FinishPreparation() {
  std::shared_ptr<Preparation> preparation = std::exchange(preparation_, nullptr);
  if (!preparation) return false;
  {
    std::unique_lock lock(preparation->mutex);
    preparation->cv.wait(lock, [&] { return preparation->done; });
  }
  if (!preparation->unread) prepared_ = preparation->result;
  preparation->handler(preparation->result->bytes, preparation->unread);
  return true;
}

void GtkHost::DropPreparedAnimation() {
  preparation_.reset();
  prepared_.reset();
}

ComposedAnimation GtkHost::LoadAnimation(std::string_view bytes) {
  BudgetFor(bytes);
  if (std::shared_ptr<Prepared> ready = std::exchange(prepared_, nullptr);
      ready && (ready->animation || ready->error) && *ready->bytes == bytes) {
    if (ready->error) {
      const HostError error = *ready->error;
      return RememberingFailure([&]() -> ComposedAnimation { throw error; });
    }
    return std::move(*ready->animation);
  }
  return RememberingFailure([&] {
    return ComposeGif(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                      &memory_budget());
  });
}

// The box is shown without blocking the main loop; its only button is OK, so
// the control is answered OK at once.
int32_t GtkHost::MsgBox(TextView text, int16_t style, TextView title) {
  if (!surface_.MessageShown(style, Text(text)) || !show_message_boxes_) return 1;
  const GtkMessageType type = style == kMsgCritical      ? GTK_MESSAGE_ERROR
                              : style == kMsgExclamation ? GTK_MESSAGE_WARNING
                                                         : GTK_MESSAGE_INFO;
  auto* parent = static_cast<GtkWindow*>(surface_.MessageParent());
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  GtkWidget* box = gtk_message_dialog_new(parent, parent ? GTK_DIALOG_MODAL : GtkDialogFlags{},
                                          type, GTK_BUTTONS_OK, "%s", TextToUtf8(text).c_str());
  if (!title.empty()) gtk_window_set_title(GTK_WINDOW(box), TextToUtf8(title).c_str());
  g_signal_connect(box, "response", G_CALLBACK(gtk_window_destroy), nullptr);
  G_GNUC_END_IGNORE_DEPRECATIONS
  gtk_widget_show(box);
  return 1;
}

void GtkHost::Randomize() {
  random_.Seed(SecondsSinceMidnight());
}

void GtkHost::AsyncRead(TextView target, int32_t async_type, TextView property_name) {
  reads_.Start(target, async_type, property_name, MadePrivateFolderPath());
  ++reads_started_;
}

void GtkHost::CancelAsyncRead(TextView property_name) {
  reads_.Cancel(property_name);
}

void GtkHost::DeliverReads() {
  delivery_queued_ = false;
  DeliverReadReports(reads_, *this, control_, surface_);
}

void GtkHost::EventHandlerFailed(std::string_view event, const std::string& what) {
  g_warning("Flipreel: a handler of the %.*s event failed: %s", static_cast<int>(event.size()),
            event.data(), what.c_str());
}

}  // namespace flipreel
