// A load that runs on the GUI thread in slices, between passes of the event
// loop.
//
// The control loads a GIF in one call, as it defines. To keep the event loop
// free during a long load without changing a step of it, the widget runs
// that call on a stack of its own, on the GUI thread: Resume runs it until
// it pauses (Pause, called by the host between two of the load's steps) or
// ends, and returns to the caller; the next Resume goes on where it paused.
// Only one thread ever runs the load, and the control sees exactly the calls
// it would have seen in one go.
#pragma once

#include <chrono>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>

namespace flipreel {

class SlicedLoad {
 public:
  explicit SlicedLoad(std::function<void()> load);
  // A load that has begun must have ended first (Resume until done).
  ~SlicedLoad();
  SlicedLoad(const SlicedLoad&) = delete;
  SlicedLoad& operator=(const SlicedLoad&) = delete;

  // Runs the load until it pauses or ends; true once it has ended. An
  // exception that left the load is thrown here. Not from inside the load.
  // A sliced run is one slice of the event loop's time: the pauses below
  // return to the caller; otherwise they do not, and the load goes on.
  bool Resume(bool sliced = false);
  // From inside the load: returns to the caller of Resume.
  void Pause();
  // From inside a sliced run, between two of the load's steps: returns to
  // the caller while `ready` (what the next step needs is there) is false,
  // and when the slice's time is up.
  void BetweenSteps(const std::function<bool()>& ready);
  // From inside the load, which waits for something made elsewhere: true
  // when the run was sliced and the caller has had its turn (the wait looks
  // again); false when the load must block.
  bool PauseToWait();

  bool running() const { return running_; }
  bool done() const { return done_; }
  bool started() const { return started_; }

  struct Context;

 private:
  static void Entry(unsigned int high, unsigned int low);
  void SwitchIn();
  void SwitchOut(bool ending);

  std::function<void()> load_;
  std::unique_ptr<Context> context_;
  std::exception_ptr failure_;
  bool started_ = false;
  bool running_ = false;
  bool sliced_ = false;
  std::chrono::steady_clock::time_point slice_start_;
  bool done_ = false;
};

}  // namespace flipreel
