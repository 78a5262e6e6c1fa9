// A load's bytes made ready on another thread: read from a file (or taken
// from memory), shared with controls that hold the same bytes, and cut into
// the frame files its split will load (or, for a composed load, composed into
// whole pictures), so that the GUI thread only hands them over.
#pragma once

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "flipreel/control/frame_cuts.h"
#include "flipreel/gif/gif_composer.h"
#include "flipreel/host/errors.h"
#include "flipreel/host/host.h"
#include "flipreel/host/memory_budget.h"

namespace flipreel {

// The platform's check of a GIF file (CheckGifFile), for a path as Qt has it.
std::optional<HostError> CheckGifFile(const QString& path);

class ReadAhead {
 public:
  struct Result {
    bool read = false;  // false: the file could not be read
    Host::Contents contents;
    std::optional<FrameCuts> cuts;
  };

  // What composing the bytes gave: the animation, or the error composing
  // them at once would have raised.
  struct Composition {
    std::optional<ComposedAnimation> animation;
    std::optional<HostError> error;
  };

  // Reads the file at path, or takes the bytes, on a thread of its own. With
  // a budget (a copy of the host's) the bytes are composed there too, once
  // their contents are ready, rather than cut, with up to
  // `ready_to_paint_bytes` of their frames held ready to paint
  // (HoldFramesReadyToPaint).
  static std::shared_ptr<ReadAhead> StartFile(const QString& path,
                                              std::optional<MemoryBudget> compose = {},
                                              size_t ready_to_paint_bytes = 0);
  static std::shared_ptr<ReadAhead> StartBytes(QByteArray bytes,
                                               std::optional<MemoryBudget> compose = {},
                                               size_t ready_to_paint_bytes = 0);
  // Only cuts bytes the control will take from elsewhere (a saved state).
  static std::shared_ptr<ReadAhead> StartCut(std::shared_ptr<const std::string> bytes);

  // Runs `cut` on the reading thread once the bytes are cut, and `ready` once
  // the whole result is there; each now when it is already.
  void SetReady(std::function<void()> cut, std::function<void()> ready);
  bool ready();
  // The cuts, once `cut` has run (none before, or for bytes without frames).
  std::optional<FrameCuts> Cuts();
  // Whether the bytes could be read, waiting for the read.
  bool Read();
  // The contents, waiting for them; they are handed over once.
  Host::Contents TakeContents();
  // Whether the bytes are being composed ahead and are not yet.
  bool Composing();
  // The first frame composed ahead, as soon as it is; empty before.
  Picture FirstComposed();
  // What composing gave, waiting for it, when it was composed of exactly
  // these bytes (and is handed over once); none otherwise.
  std::optional<Composition> TakeComposition(std::string_view bytes);
  // Once this returns, `ready` is neither running nor going to run (unless
  // this is called from it).
  void Forget();

 private:
  ReadAhead() = default;
  void Prepare(std::string raw, Result& result);
  // Composes the first frame from the beginning of the bytes, for a composed
  // load that has not had it; true when more of the bytes may give it.
  bool ComposeFirst(std::string_view beginning);
  static std::shared_ptr<ReadAhead> Start(std::function<void(ReadAhead&, Result&)> work,
                                          std::optional<MemoryBudget> compose = {},
                                          size_t ready_to_paint_bytes = 0);
  void Compose(std::shared_ptr<const std::string> bytes, MemoryBudget budget,
               size_t ready_to_paint_bytes);
  // The bytes and their cuts are in result: they are published at once.
  void Cut(Result& result);
  void Finish(Result result);

  std::mutex mu_;
  std::condition_variable done_cv_;
  bool cut_ = false;
  bool done_ = false;
  Result result_;
  bool composing_ = false;
  std::shared_ptr<const std::string> composed_bytes_;  // what composition_ was made of
  std::optional<Composition> composition_;
  Picture first_composed_;
  std::function<void()> cut_ready_;
  std::function<void()> ready_;
};

}  // namespace flipreel
