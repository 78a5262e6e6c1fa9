// One clock for every control on the GUI thread.
//
// Each host keeps its control's timer as a TickSchedule: when its next tick
// is due, on the host's own time. The FrameClock the schedules share arms one
// timer for the earliest due tick of them all; when it fires, every tick due
// by then is delivered, in the order of their due times, each at its own due
// time (the host's Now() reads that time during the tick). The clock wakes
// on a grain of a few milliseconds, well under a screen refresh: controls
// whose frames fall due within one grain are so advanced in one wake-up,
// each still seeing its own due time (a tick comes at most a grain late and
// never early), and a surface that repaints from the event loop rather than
// inside each tick (update rather than repaint) paints them all in one pass.
//
// A schedule that is not shown (its control cannot be seen) takes no ticks;
// shown again, it is first handed the ticks that fell due meanwhile, each at
// its due time, so that the control stands where it would had it been seen
// all along, and then runs on from there.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "flipreel/face/timer_due.h"
#include "flipreel/host/elements.h"
#include "flipreel/host/scope.h"

namespace flipreel {

class TickSchedule;

class FrameClock {
 public:
  using TimeSource = std::function<int64_t()>;
  // The clock every host on the calling thread shares (the GUI thread's),
  // made at first use. It goes with the thread.
  static FrameClock& OfThisThread();
  // A clock on real time that arms a timer.
  FrameClock();
  // A clock on `now` that arms none: a test moves time and calls RunUntil.
  explicit FrameClock(TimeSource now);
  ~FrameClock();
  FrameClock(const FrameClock&) = delete;
  FrameClock& operator=(const FrameClock&) = delete;

  // The clock wakes at multiples of this many milliseconds.
  static constexpr int64_t kGrainMs = 8;
  // Milliseconds since the clock began (or what the time source says).
  int64_t Now() const;
  // Times the clock woke to deliver ticks.
  int64_t wakeups() const { return wakeups_; }
  // Whether a wake-up is delivering ticks right now.
  bool waking() const { return waking_; }
  // The real time of the next wake-up; none while no schedule is due.
  std::optional<int64_t> NextWake() const;
  // For a clock on a time source: wakes at every due time up to `until` in
  // turn, as the timer would, the time source reading each wake's time
  // through `set_now`.
  void RunUntil(int64_t until, const std::function<void(int64_t)>& set_now);

 private:
  friend class TickSchedule;
  void Add(TickSchedule* schedule);
  void Remove(TickSchedule* schedule);
  // A schedule's due time changed: the timer follows, at once between
  // wake-ups and inside a tick's own event loop, else once for all when the
  // wake-up under way ends.
  void Changed(const TickSchedule* schedule);
  void Wake();
  void Arm();

  TimeSource source_;
  QElapsedTimer elapsed_;
  QTimer timer_;
  std::vector<TickSchedule*> schedules_;
  int64_t wakeups_ = 0;
  bool waking_ = false;
  // The timer is set to fire at once, for a wake-up under way: a change
  // before it fires need not arm it again. Once it has fired (inside a
  // tick's event loop), changes arm it as they do between wake-ups.
  bool firing_at_once_ = false;
  // The schedule whose tick a wake-up is delivering, and a count of the
  // changes to any other schedule (its due time, a schedule added or gone):
  // while only the ticking schedule changes, a wake-up need not look at the
  // others again.
  const TickSchedule* firing_ = nullptr;
  uint64_t changes_ = 0;
};

// The schedule of one control's timer element (Timer1), on its host's time:
// real time from the clock, run at a pace (speed) and possibly held still.
class TickSchedule {
 public:
  // tick delivers one tick to the control; it runs with in_tick() true.
  explicit TickSchedule(std::function<void()> tick, FrameClock& clock = FrameClock::OfThisThread());
  ~TickSchedule();
  TickSchedule(const TickSchedule&) = delete;
  TickSchedule& operator=(const TickSchedule&) = delete;

  // --- the control's timer ------------------------------------------------------
  // An element of the control changed: a timer's Enabled or Interval re-arms.
  // True when the element is a timer (the host need do nothing more).
  bool ElementChanged(const Element& element, ElementProperty what);
  // The element (or, with none, the whole control) has gone: a timer of it
  // is forgotten and ticks no more.
  void Forget(const Element* element = nullptr);
  const Timer* timer() const { return timer_; }
  // With manual ticks the schedule never ticks by itself.
  void SetManual(bool manual);
  // Whether the timer is armed and ticks by itself (shown or not).
  bool running() const { return due_.armed() && !manual_; }
  int32_t interval() const { return due_.armed() ? due_.interval() : 0; }
  // Runs fn as a tick of the control's: a re-arm inside keeps the running
  // schedule.
  template <typename Fn>
  void RunAsTick(Fn&& fn) {
    const ScopedValue in_tick(in_tick_, true);
    fn();
  }
  // Runs fn as a tick delivered by hand by the host. The clock leaves a
  // schedule out of its wake-ups while its tick runs, so it is told when the
  // tick is over, even when the tick fails (a tick the clock, a catch-up or
  // DeliverTick delivers is followed by an update of its own).
  template <typename Fn>
  void RunByHand(Fn&& fn) {
    const ScopeExit ended([this, nested = in_tick_] {
      if (!nested) clock_.Changed(this);
    });
    RunAsTick(std::forward<Fn>(fn));
  }
  bool in_tick() const { return in_tick_; }
  // Delivers the tick due next now, and the schedule goes on from it.
  bool DeliverTick();
  int64_t ticks_delivered() const { return ticks_delivered_; }

  // --- being seen -----------------------------------------------------------------
  // Not shown, no tick is delivered; shown again, the ticks that fell due
  // meanwhile are delivered at once, each at its due time.
  void SetShown(bool shown);
  bool shown() const { return shown_; }

  // --- the host's time -----------------------------------------------------------
  // Now on this schedule's time: during a tick, the time it was due.
  int64_t Now() const { return now_ ? *now_ : LocalNow(); }
  // The pace of the host's time: 2 runs twice as fast. Values <= 0 are 1.
  void SetSpeed(double speed);
  double speed() const { return speed_; }
  // Held, the host's time stands still and nothing falls due.
  void SetHeld(bool held);
  bool held() const { return held_; }

 private:
  friend class FrameClock;
  // At most this many overdue ticks are delivered at once; beyond them the
  // control starts a new schedule from now.
  static constexpr int kMaxCatchUpTicks = 100000;

  int64_t LocalNow() const;
  void Rebase();
  void Rearm();
  // When, on the clock's real time, the next tick is due; none while the
  // schedule takes no ticks.
  std::optional<int64_t> RealDue() const { return real_due_; }
  // Works RealDue out again after a change, and tells the clock.
  void Update();
  // Delivers the due tick at its due time.
  void Fire();
  void CatchUp();

  FrameClock& clock_;
  std::function<void()> tick_;
  const Timer* timer_ = nullptr;
  double speed_ = 1.0;
  bool held_ = false;
  int64_t base_ = 0;       // local time at base_real_
  int64_t base_real_ = 0;  // clock time
  std::optional<int64_t> now_;
  TimerDue due_;  // on local time
  std::optional<int64_t> real_due_;
  bool manual_ = false;
  bool shown_ = true;
  bool in_tick_ = false;
  int64_t ticks_delivered_ = 0;
};

}  // namespace flipreel
