// When a control's timer element (Timer1) ticks next, in milliseconds on its
// host's clock: the arithmetic every face's timer shares. When ticks are
// delivered, and how far behind a schedule may fall before it starts again,
// is each host's own.
#pragma once

#include <cstdint>

#include "flipreel/host/elements.h"

namespace flipreel {

class TimerDue {
 public:
  // Arms from the timer's Enabled and Interval at `now`, or disarms (no
  // timer, not enabled, an interval of 0 or less, which never ticks);
  // in_tick says a tick is under way. Switching the timer on or setting its
  // interval starts a fresh interval. The control re-arms its timer with the
  // same interval on every step: inside a tick that keeps the schedule, the
  // next interval counting from this tick's due time rather than from when
  // its work ends, which would slow every animation down by its own
  // processing time.
  void Arm(const Timer* timer, int64_t now, bool in_tick) {
    if (!timer || !timer->enabled() || timer->interval() <= 0) {
      armed_ = false;
      return;
    }
    const int32_t interval = timer->interval();
    if (in_tick && armed_ && interval == interval_) {
      time_ += interval;
    } else {
      time_ = now + interval;
    }
    armed_ = true;
    interval_ = interval;
    rearmed_ = true;
  }
  void Disarm() { armed_ = false; }
  // Around the delivery of one tick: a timer the tick left alone (neither
  // stopped nor re-armed) runs on at its interval.
  void BeginTick() { rearmed_ = false; }
  void EndTick() {
    if (armed_ && !rearmed_) time_ += interval_;
  }
  // Starts the schedule again from `now` (one that has fallen far behind).
  void Restart(int64_t now) { time_ = now; }

  bool armed() const { return armed_; }
  // When the next tick is due; meaningful while armed.
  int64_t time() const { return time_; }
  // The interval the timer was armed with; meaningful while armed.
  int32_t interval() const { return interval_; }

 private:
  int64_t time_ = 0;
  int32_t interval_ = 0;
  bool armed_ = false;
  bool rearmed_ = false;  // the tick under way armed the timer again
};

}  // namespace flipreel
