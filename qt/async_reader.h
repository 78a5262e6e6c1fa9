// The Qt host's downloader: the shared download engine (net/async_reads.h)
// fetches into files in the host's private folder on its own thread; its
// reports reach the control from the GUI thread's event loop, through a
// queued call, never from inside AsyncRead.
#pragma once

#include <QObject>
#include <atomic>
#include <chrono>

#include "flipreel/net/async_reads.h"
#include "flipreel/qt/qt_host.h"

namespace flipreel {

class AsyncReader final : public AsyncReadService {
 public:
  explicit AsyncReader(QtHost& host);
  ~AsyncReader() override;
  AsyncReader(const AsyncReader&) = delete;
  AsyncReader& operator=(const AsyncReader&) = delete;

  // For reads started afterwards.
  void set_limits(const DownloadLimits& limits) { reads_.set_limits(limits); }

  void Read(const Text& target, int32_t async_type, const Text& property_name) override;
  void Cancel(const Text& property_name) override;

  // Runs the event loop until no read is pending or the time is up; true
  // when none is pending.
  bool WaitForReads(std::chrono::milliseconds timeout);

 private:
  void Deliver();

  QtHost& host_;
  QObject context_;  // deliveries queued on it die with the reader
  std::atomic<bool> delivery_queued_{false};
  // Last: its worker thread stops before the rest goes.
  AsyncReads reads_;
};

}  // namespace flipreel
