// The Qt host's downloader: QNetworkAccessManager fetches http, https and
// file addresses (net/download.h says which and how) into files in the
// host's private folder.
//
// Progress is reported as the bytes arrive; the completion is handed to the
// control from the event loop, never from inside a network signal, and the
// file is deleted once the control has handled it. A failed read completes
// with the failure in AsyncProp (its value raises it). Credentials from the
// address answer the server's authentication challenge once, and only for
// the server the address names. A cancelled or replaced read reports
// nothing more.
#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/download.h"
#include "qt/qt_host.h"

namespace flipreel {

class AsyncReader final : public AsyncReadService {
 public:
  explicit AsyncReader(QtHost& host, const DownloadLimits& limits = {});
  ~AsyncReader() override;
  AsyncReader(const AsyncReader&) = delete;
  AsyncReader& operator=(const AsyncReader&) = delete;

  // For reads started afterwards.
  void SetLimits(const DownloadLimits& limits) { limits_ = limits; }

  void Read(const Text& target, int32_t async_type, const Text& property_name) override;
  void Cancel(const Text& property_name) override;

  // Reads not yet completed (or whose completion waits to be handed over).
  int pending() const { return static_cast<int>(reads_.size()); }
  // Runs the event loop until no read is pending or the time is up; true
  // when none is pending.
  bool WaitForReads(std::chrono::milliseconds timeout);

 private:
  struct State;
  State* Find(uint64_t serial);
  std::unique_ptr<State> Take(uint64_t serial);
  void OnData(State& read);
  void OnFinished(State& read);
  void Fail(State& read, HostError error);
  void DeliverCompletion(uint64_t serial);
  static void Detach(State& read);

  QtHost& host_;
  QObject context_;  // completions queued on it die with the reader
  DownloadLimits limits_;
  std::vector<std::unique_ptr<State>> reads_;
  uint64_t serial_ = 0;
};

}  // namespace flipreel
