#include "flipreel/gtk/gtk_host.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
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
    armed_ = false;
    StopSource();
  }
}

void GtkHost::ElementDestroyed(const Element& element) {
  if (&element != timer_) return;
  timer_ = nullptr;
  armed_ = false;
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

// Switching the timer on or setting its interval starts a fresh interval; an
// interval of 0 never ticks. Inside a tick, arming with the interval already
// running keeps the schedule: the next interval counts from this tick's due
// time, not from when its work ends.
void GtkHost::Rearm() {
  if (!timer_ || !timer_->enabled() || timer_->interval() <= 0) {
    armed_ = false;
    StopSource();
    return;
  }
  const int32_t interval = timer_->interval();
  if (in_tick_ && armed_ && interval == armed_interval_) {
    due_ += interval;
  } else {
    due_ = Now() + interval;
  }
  armed_ = true;
  armed_interval_ = interval;
  rearmed_ = true;
  if (!in_tick_) Schedule();
}

void GtkHost::StopSource() {
  if (source_ != 0) g_source_remove(std::exchange(source_, 0));
}

void GtkHost::Schedule() {
  StopSource();
  if (!armed_ || !active_) return;
  const int64_t wait = std::clamp<int64_t>(due_ - Now(), 0, G_MAXINT32);
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
  if (!armed_ || !control_) return;
  rearmed_ = false;
  {
    const ScopedValue in_tick(in_tick_, true);
    ++ticks_delivered_;
    RunHostEvent("Timer1", [this] { control_->OnTimer(); });
  }
  // A timer the tick left alone runs on at its interval; a schedule that
  // has fallen far behind (a busy main loop) starts again from now.
  if (armed_ && !rearmed_) due_ += armed_interval_;
  if (armed_ && due_ < Now() - 1000) due_ = Now();
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

template <typename Fn>
void GtkHost::RunHostEvent(std::string_view event, Fn&& fn) {
  if (!control_) return;
  try {
    if (std::optional<HostError> failed = Trap(std::forward<Fn>(fn)))
      surface_.HostEventFailed(event, *failed);
  } catch (const std::exception& e) {
    // Nothing may escape into the main loop.
    surface_.HostEventFailed(event, HostError(err::kInvalidCall, e.what()));
  }
  surface_.HostEventEnded();
}

// Sizes are compared in whole pixels, which ends the resize handler's
// recursion through the control's layout.
void GtkHost::Size(float width, float height) {
  if (!(width >= 0) || !(height >= 0) || !std::isfinite(width) || !std::isfinite(height))
    Raise(err::kInvalidPropertyValue);
  const double w = std::round(static_cast<double>(width) / kTwipsPerPixel);
  const double h = std::round(static_cast<double>(height) / kTwipsPerPixel);
  if (w > 1 << 24 || h > 1 << 24) Raise(err::kInvalidPropertyValue);
  if (static_cast<int>(w) == width_ && static_cast<int>(h) == height_) return;
  width_ = static_cast<int>(w);
  height_ = static_cast<int>(h);
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

// Seeded from the wall clock: seconds since midnight.
void GtkHost::Randomize() {
  GDateTime* now = g_date_time_new_now_local();
  random_.Seed(g_date_time_get_hour(now) * 3600.0 + g_date_time_get_minute(now) * 60.0 +
               g_date_time_get_seconds(now));
  g_date_time_unref(now);
}

void GtkHost::AsyncRead(TextView target, int32_t async_type, TextView property_name) {
  reads_.Start(target, async_type, property_name, MadePrivateFolderPath());
}

void GtkHost::CancelAsyncRead(TextView property_name) {
  reads_.Cancel(property_name);
}

void GtkHost::DeliverReads() {
  delivery_queued_ = false;
  reads_.Deliver([this](AsyncProp& prop, bool finished) {
    if (finished) {
      trapped_errors().clear();
      RunHostEvent("AsyncReadComplete", [&] { control_->OnAsyncReadComplete(prop); });
      surface_.ReadCompleted(prop);
    } else {
      RunHostEvent("AsyncReadProgress", [&] { control_->OnAsyncReadProgress(prop); });
    }
  });
}

void GtkHost::EventHandlerFailed(std::string_view event, const std::string& what) {
  g_warning("Flipreel: a handler of the %.*s event failed: %s", static_cast<int>(event.size()),
            event.data(), what.c_str());
}

}  // namespace flipreel
