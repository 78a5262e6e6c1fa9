// A load's bytes made ready on another thread: read from a file (or taken
// from memory), turned into the text the control keeps, and cut into the
// frame files its split will load, so that the GUI thread only hands them
// over.
#pragma once

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "flipreel/control/frame_cuts.h"
#include "flipreel/host/host.h"

namespace flipreel {

class ReadAhead {
 public:
  struct Result {
    bool read = false;  // false: the file could not be read
    Host::Contents contents;
    std::optional<FrameCuts> cuts;
  };

  // Reads the file at path, or takes the bytes, on a thread of its own.
  static std::shared_ptr<ReadAhead> StartFile(const QString& path);
  static std::shared_ptr<ReadAhead> StartBytes(QByteArray bytes);
  // Only cuts bytes the control will take from elsewhere (a saved state).
  static std::shared_ptr<ReadAhead> StartCut(std::shared_ptr<const std::string> bytes);

  // Runs `ready` on the reading thread once the result is there, or now
  // when it is.
  void SetReady(std::function<void()> ready);
  // The result, waiting for it.
  const Result& Wait();
  // The contents, waiting for them; they are handed over once.
  Host::Contents TakeContents();
  // Once this returns, `ready` is neither running nor going to run (unless
  // this is called from it).
  void Forget();

 private:
  ReadAhead() = default;
  static std::shared_ptr<ReadAhead> Start(std::function<void(Result&)> work);
  void Finish(Result result);

  std::mutex mu_;
  std::condition_variable done_cv_;
  bool done_ = false;
  Result result_;
  std::function<void()> ready_;
};

}  // namespace flipreel
