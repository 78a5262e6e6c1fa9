// A load left pending while its GIF is made ready on another thread
// (ReadAhead), then handed to the control in slices from the event loop
// (SlicedLoad): the loading pipeline the widget and the QML item share.
//
// Once the GIF is read and cut, its frames start decoding on the host's
// pool; once it is ready (composed, for a composed load), slices run the
// load from the event loop until it ends, each pausing where its time is up
// or the next frame or the animation is not there yet.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

#include "flipreel/qt/ahead_host.h"
#include "flipreel/qt/read_ahead.h"
#include "flipreel/qt/sliced_load.h"

namespace flipreel {

class PendingLoad {
 public:
  struct Face {
    // A slice ended the load.
    std::function<void()> ended;
    // Runs `run` (a run of the load) with whatever the face keeps in force
    // around it; none: runs it as it is.
    std::function<void(const std::function<void()>& run)> around = {};
    // Before each slice (the widget looks for the first frame to show).
    std::function<void()> before_slice = {};
  };
  PendingLoad(AheadHost& host, Face face);
  // A load that has begun must have ended or been cancelled first.
  ~PendingLoad();
  PendingLoad(const PendingLoad&) = delete;
  PendingLoad& operator=(const PendingLoad&) = delete;

  // Leaves `load` pending while `ahead` makes its GIF ready.
  void Start(std::shared_ptr<ReadAhead> ahead, std::function<void()> load);
  bool pending() const { return load_ != nullptr; }
  bool started() const { return load_ && load_->started(); }
  bool running() const { return load_ && load_->running(); }
  SlicedLoad& load() { return *load_; }
  ReadAhead& ahead() { return *ahead_; }

  // From outside the load: runs it to its end; false when there is none, or
  // when this is the load's own call.
  bool RunToEnd();
  // Runs the load until it pauses (sliced) or ends; true once it has ended.
  bool Run(bool sliced);
  // Forgets the load once it has ended.
  void Clear();
  // Drops the load: one that has begun runs to its end first (its steps may
  // be half done), one still waiting for its bytes is dropped.
  void Cancel();

  // The host's pauses inside the load (SlicedLoad::BetweenSteps and
  // PauseToWait, with the host's decoder saying what is ready).
  void BetweenSteps();
  bool PauseToWait() { return load_ && load_->PauseToWait(); }

 private:
  void AheadCut(uint64_t serial);
  void Slice();

  AheadHost& host_;
  Face face_;
  std::unique_ptr<SlicedLoad> load_;
  std::shared_ptr<ReadAhead> ahead_;  // what load_ reads its GIF from
  uint64_t serial_ = 0;               // tells a finished read which load it was for
  QTimer slicer_;                     // runs the next slice
  QObject context_;                   // reads that end post to it; it goes with this
};

}  // namespace flipreel
