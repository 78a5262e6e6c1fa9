// The reads one host has running, by property name: started with the
// download engine, cancelled or replaced by name, and their events turned
// into the AsyncProp reports a control hears. Every host uses it; each
// decides when reports are delivered. The engine calls the wake function, on
// its own thread, whenever events arrive; the host then calls Deliver on its
// user-interface thread (the Qt host from its event loop), or calls Deliver
// or Wait when it likes (the headless host).
//
// A read's reports come in order: progress as bytes arrive, then one
// completion, carrying the local file on success (deleted once the control
// has handled it) or the failure (AsyncProp::Value raises it). A cancelled or
// replaced read reports nothing more.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flipreel/host/host.h"
#include "flipreel/net/download.h"

namespace flipreel {

class Downloader;

class AsyncReads {
 public:
  // Receives one report; finished marks the completion.
  using Sink = std::function<void(AsyncProp& prop, bool finished)>;

  explicit AsyncReads(std::function<void()> wake = {});
  ~AsyncReads();  // cancels what is running and removes its files
  AsyncReads(const AsyncReads&) = delete;
  AsyncReads& operator=(const AsyncReads&) = delete;

  // For reads started afterwards.
  void set_limits(const DownloadLimits& limits) { limits_ = limits; }

  // Starts a read of target into a new file in folder, replacing a read of
  // the same property name. Throws HostError when the request is refused
  // (net/download.h).
  void Start(TextView target, int32_t async_type, TextView property_name,
             const std::string& folder);
  void Cancel(TextView property_name);

  // Hands the reports that have arrived to sink, oldest first; returns how
  // many. The sink may start and cancel reads.
  int Deliver(const Sink& sink);
  // Delivers reports as they arrive until no read is running or the time is
  // up; true when none is.
  bool Wait(std::chrono::milliseconds timeout, const Sink& sink);
  // Reads started and not yet completed.
  bool empty() const { return reads_.empty(); }

 private:
  struct Read {
    uint64_t id;
    Text property_name;
    Text target;  // the address without user information
    std::string path;
  };

  std::function<void()> wake_;
  DownloadLimits limits_;
  std::vector<Read> reads_;
  uint64_t serial_ = 0;
  std::unique_ptr<Downloader> downloader_;  // made with the first read
};

}  // namespace flipreel
