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

  // Runs `cut` on the reading thread once the bytes are cut (the text is
  // made after), and `ready` once the whole result is there; each now when
  // it is already.
  void SetReady(std::function<void()> cut, std::function<void()> ready);
  bool ready();
  // The cuts, once `cut` has run (none before, or for bytes without frames).
  std::optional<FrameCuts> Cuts();
  // The contents, waiting for them; they are handed over once.
  Host::Contents TakeContents();
  // Once this returns, `ready` is neither running nor going to run (unless
  // this is called from it).
  void Forget();

 private:
  ReadAhead() = default;
  void Prepare(const QByteArray& raw, Result& result);
  static std::shared_ptr<ReadAhead> Start(std::function<void(ReadAhead&, Result&)> work);
  // The bytes and their cuts are in result: they are published at once.
  void Cut(Result& result);
  void Finish(Result result);

  std::mutex mu_;
  std::condition_variable done_cv_;
  bool cut_ = false;
  bool done_ = false;
  Result result_;
  std::function<void()> cut_ready_;
  std::function<void()> ready_;
};

}  // namespace flipreel
