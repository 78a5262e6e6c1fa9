#include "flipreel/qt/pending_load.h"

#include <QtGlobal>
#include <exception>
#include <optional>
#include <utility>

namespace flipreel {

PendingLoad::PendingLoad(AheadHost& host, Face face) : host_(host), face_(std::move(face)) {
  slicer_.setSingleShot(true);
  QObject::connect(&slicer_, &QTimer::timeout, [this] { Slice(); });
}

PendingLoad::~PendingLoad() {
  if (ahead_) ahead_->Forget();
}

void PendingLoad::Start(std::shared_ptr<ReadAhead> ahead, std::function<void()> load) {
  const uint64_t serial = ++serial_;
  load_ = std::make_unique<SlicedLoad>(std::move(load));
  ahead_ = std::move(ahead);
  // These run on the reading thread: the frames start decoding, then the
  // slices start, from the event loop, unless the load has been finished
  // (or another has begun) by then. Until then the slices only poll, so that
  // a first frame made early is shown.
  ahead_->SetReady(
      [this, serial] {
        QMetaObject::invokeMethod(
            &context_, [this, serial] { AheadCut(serial); }, Qt::QueuedConnection);
      },
      [this, serial] {
        QMetaObject::invokeMethod(
            &context_,
            [this, serial] {
              if (serial == serial_) slicer_.start(0);
            },
            Qt::QueuedConnection);
      });
  slicer_.start(2);
}

// The GIF is read and cut: its frames start decoding (the slices look for
// decoded frames themselves, and need no word when all are).
void PendingLoad::AheadCut(uint64_t serial) {
  if (serial != serial_ || !load_ || load_->started()) return;
  if (const std::optional<FrameCuts> cuts = ahead_->Cuts())
    host_.PrepareFrameFiles(cuts->files, [] {});
  slicer_.start(1);
}

// One slice: the load runs until its time is up or the next frame is not
// decoded yet, and goes on from the next pass of the event loop. Until its
// GIF is ready it only polls.
void PendingLoad::Slice() {
  if (!load_ || load_->running()) return;
  if (face_.before_slice) face_.before_slice();
  if (!ahead_->ready()) {
    slicer_.start(2);
    return;
  }
  if (Run(true)) {
    face_.ended();
    return;
  }
  // Waiting for a decode or the animation polls gently; a slice that ran
  // out of time goes on at once.
  slicer_.start(host_.NextFrameDecoded() && !host_.ComposingAhead() ? 0 : 2);
}

bool PendingLoad::Run(bool sliced) {
  bool ended = false;
  const std::function<void()> run = [&] {
    try {
      ended = load_->Resume(sliced);
    } catch (const std::exception& e) {
      // The load's own errors are caught inside it; nothing else may reach
      // the event loop.
      qWarning("Flipreel: a load failed: %s", e.what());
      ended = load_->done();
    }
  };
  if (face_.around) {
    face_.around(run);
  } else {
    run();
  }
  return ended;
}

bool PendingLoad::RunToEnd() {
  if (!load_ || load_->running()) return false;
  while (!Run(false)) {
  }
  return true;
}

void PendingLoad::Clear() {
  if (!running()) {
    load_.reset();
    if (ahead_) ahead_->Forget();
    ahead_.reset();
  }
  ++serial_;
  slicer_.stop();
}

void PendingLoad::Cancel() {
  if (started()) RunToEnd();
  Clear();
  host_.ExpectFrameFiles({});
}

void PendingLoad::BetweenSteps() {
  if (load_) load_->BetweenSteps([this] { return host_.NextFrameDecoded(); });
}

}  // namespace flipreel
