// Fetches addresses into local files with libcurl, on a worker thread of its
// own, and queues what happens for the user-interface thread to collect.
//
// Every read gets an id. Its events come in order: progress reports as bytes
// arrive (consecutive reports not yet collected are merged into the latest),
// then one finish, carrying either success (the file is complete) or the
// failure (the file has been removed). After Cancel(id) returns no event of
// that read is collected any more and its file is gone.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "flipreel/net/download.h"

namespace flipreel {

class Downloader {
 public:
  struct Event {
    uint64_t id = 0;
    bool finished = false;  // false: a progress report
    int64_t bytes_read = 0;
    int64_t bytes_max = 0;  // 0 while the size is unknown
    std::optional<HostError> failure;
    std::string file;  // a completed read's file, now the collector's to delete
  };

  // on_events, when given, is called on the worker thread each time events
  // are queued: a host hands them to its own thread from there.
  explicit Downloader(std::function<void()> on_events = {});
  ~Downloader();  // cancels what is running and removes its files
  Downloader(const Downloader&) = delete;
  Downloader& operator=(const Downloader&) = delete;

  // Starts fetching into a new file at file_path (created owner-only; it must
  // not exist). Throws HostError when the request is refused: an address the
  // transfer library cannot parse, or a file that cannot be created.
  uint64_t Start(const DownloadAddress& address, const std::string& file_path,
                 const DownloadLimits& limits);
  void Cancel(uint64_t id);

  // The events queued since the last call, oldest first.
  std::vector<Event> TakeEvents();
  // Waits until an event is queued or the time is up; true when one is.
  bool WaitForEvents(std::chrono::milliseconds timeout);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace flipreel
