#include "flipreel/qt/frame_clock.h"

#include <QVarLengthArray>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "flipreel/host/scope.h"

namespace flipreel {

// --- FrameClock -------------------------------------------------------------------

FrameClock& FrameClock::OfThisThread() {
  thread_local FrameClock clock;
  return clock;
}

FrameClock::FrameClock() {
  elapsed_.start();
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setSingleShot(true);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Wake(); });
}

FrameClock::FrameClock(TimeSource now) : source_(std::move(now)) {}

FrameClock::~FrameClock() {
  timer_.stop();
}

int64_t FrameClock::Now() const {
  return source_ ? source_() : elapsed_.elapsed();
}

void FrameClock::Add(TickSchedule* schedule) {
  schedules_.push_back(schedule);
  ++changes_;
}

void FrameClock::Remove(TickSchedule* schedule) {
  std::erase(schedules_, schedule);
  ++changes_;
  if (!waking_ || !firing_at_once_) Arm();
}

void FrameClock::Changed(const TickSchedule* schedule) {
  if (schedule != firing_) ++changes_;
  if (!waking_ || !firing_at_once_) Arm();
}

// The earliest due tick, rounded up to the clock's grain: ticks due within
// one grain of each other are delivered in one wake-up.
std::optional<int64_t> FrameClock::NextWake() const {
  std::optional<int64_t> next;
  for (const TickSchedule* s : schedules_) {
    if (s->in_tick()) continue;  // its tick is under way; it is due again once it ends
    const std::optional<int64_t> due = s->RealDue();
    if (due && (!next || *due < *next)) next = due;
  }
  if (next && kGrainMs > 1) next = (*next + kGrainMs - 1) / kGrainMs * kGrainMs;
  return next;
}

void FrameClock::Arm() {
  firing_at_once_ = false;
  if (source_) return;
  const std::optional<int64_t> next = NextWake();
  if (!next) {
    timer_.stop();
    return;
  }
  const int64_t wait = std::clamp<int64_t>(*next - Now(), 0, std::numeric_limits<int>::max());
  timer_.start(static_cast<int>(wait));
}

// Every tick due by now is delivered, earliest first (of ticks due at once,
// the schedule added first goes first), so that controls see one another's
// ticks in the order they fell due. The schedules due are listed once, in
// that order; a tick that changes only its own schedule puts it back in the
// list if it is due again, and one that changes any other (a slot that
// stops, re-arms, adds or removes a control) has the list made afresh.
//
// A tick may run an event loop of its own (a slot that opens a modal box);
// the timer is armed to fire at once while the wake-up goes on, so that the
// other controls' ticks come from that loop, never the tick under way again.
// Without an event loop inside, the wake-up ends first and arms the timer
// for the next wake.
void FrameClock::Wake() {
  ++wakeups_;
  if (!source_) {
    timer_.start(0);
    firing_at_once_ = true;
  }
  {
    const bool was = std::exchange(waking_, true);
    const TickSchedule* const outer_firing = firing_;  // a wake-up inside a tick's event loop
    const int64_t now = Now();
    struct Due {
      int64_t due;
      size_t order;  // in schedules_
      TickSchedule* schedule;
    };
    // Latest first: the next tick is taken from the back.
    const auto later = [](const Due& a, const Due& b) {
      return a.due != b.due ? a.due > b.due : a.order > b.order;
    };
    QVarLengthArray<Due, 32> due;
    const auto list = [&] {
      due.clear();
      for (size_t i = 0; i < schedules_.size(); ++i)
        if (const std::optional<int64_t> d = schedules_[i]->RealDue();
            d && *d <= now && !schedules_[i]->in_tick())
          due.push_back(Due{*d, i, schedules_[i]});
      std::sort(due.begin(), due.end(), later);
    };
    list();
    while (!due.empty()) {
      const Due next = due.back();
      due.pop_back();
      const uint64_t changes = changes_;
      firing_ = next.schedule;
      next.schedule->Fire();
      firing_ = outer_firing;
      if (changes_ != changes) {
        list();
        continue;
      }
      if (const std::optional<int64_t> d = next.schedule->RealDue(); d && *d <= now) {
        const Due again{*d, next.order, next.schedule};
        due.insert(std::lower_bound(due.begin(), due.end(), again, later), again);
      }
    }
    waking_ = was;
    ++changes_;  // a wake-up this one ran inside looks at the schedules afresh
  }
  Arm();
}

void FrameClock::RunUntil(int64_t until, const std::function<void(int64_t)>& set_now) {
  for (std::optional<int64_t> next = NextWake(); next && *next <= until; next = NextWake()) {
    set_now(std::max(*next, Now()));
    Wake();
  }
  set_now(until);
}

// --- TickSchedule -----------------------------------------------------------------

TickSchedule::TickSchedule(std::function<void()> tick, FrameClock& clock)
    : clock_(clock), tick_(std::move(tick)) {
  base_real_ = clock_.Now();
  clock_.Add(this);
}

TickSchedule::~TickSchedule() {
  clock_.Remove(this);
}

bool TickSchedule::ElementChanged(const Element& element, ElementProperty what) {
  if (element.kind() != ElementKind::kTimer) return false;
  timer_ = static_cast<const Timer*>(&element);
  if (what == ElementProperty::kEnabled || what == ElementProperty::kInterval) Rearm();
  return true;
}

void TickSchedule::Forget(const Element* element) {
  if (element && element != timer_) return;
  timer_ = nullptr;
  due_.Disarm();
  Update();
}

void TickSchedule::SetManual(bool manual) {
  manual_ = manual;
  Rearm();
}

void TickSchedule::Rearm() {
  if (manual_) {
    due_.Disarm();
  } else {
    due_.Arm(timer_, Now(), in_tick_);
  }
  Update();
}

int64_t TickSchedule::LocalNow() const {
  if (held_) return base_;
  return base_ + std::llround(static_cast<double>(clock_.Now() - base_real_) * speed_);
}

void TickSchedule::Rebase() {
  base_ = LocalNow();
  base_real_ = clock_.Now();
}

void TickSchedule::SetSpeed(double speed) {
  if (!(speed > 0) || !std::isfinite(speed)) speed = 1.0;
  Rebase();
  speed_ = speed;
  Update();
}

void TickSchedule::SetHeld(bool held) {
  if (held == held_) return;
  Rebase();
  held_ = held;
  if (!held && shown_) CatchUp();
  Update();
}

void TickSchedule::SetShown(bool shown) {
  if (shown == shown_) return;
  shown_ = shown;
  if (shown) CatchUp();
  Update();
}

void TickSchedule::Update() {
  real_due_.reset();
  if (due_.armed() && !manual_ && shown_ && !held_ && !now_) {
    const double wait = static_cast<double>(due_.time() - base_) / speed_;
    real_due_ = base_real_ + static_cast<int64_t>(std::ceil(std::min(wait, 1e15)));
  }
  clock_.Changed(this);
}

void TickSchedule::Fire() {
  if (!due_.armed()) return;
  // Far behind (a machine that slept), the control starts afresh from now.
  if (LocalNow() - due_.time() > int64_t{kMaxCatchUpTicks} * due_.interval())
    due_.Restart(LocalNow());
  {
    const ScopedValue<std::optional<int64_t>> at_due(now_, due_.time());
    if (!DeliverTick()) due_.Disarm();
  }
  Update();
}

bool TickSchedule::DeliverTick() {
  if (!timer_ || !timer_->enabled()) return false;
  due_.BeginTick();
  ++ticks_delivered_;
  RunAsTick(tick_);
  due_.EndTick();
  Update();
  return true;
}

// Inside the schedule's own tick (a slot that hides and shows its control, or
// pauses and resumes it, from an event loop of its own), the ticks due are
// left to the clock, which delivers them once the tick is over: a control is
// never ticked inside its own tick.
void TickSchedule::CatchUp() {
  int delivered = 0;
  while (!in_tick_ && due_.armed() && !manual_ && !held_ && due_.time() <= LocalNow()) {
    if (++delivered > kMaxCatchUpTicks) {
      due_.Restart(LocalNow());
      break;
    }
    const ScopedValue<std::optional<int64_t>> at_due(now_, due_.time());
    DeliverTick();
  }
  Update();
}

}  // namespace flipreel
