// Threads that work ahead for a host (reading, decoding and converting a
// load's frames) give way to the thread that serves the user: on a machine
// with few cores, the host's event loop must not wait for a core while they
// run.
#pragma once

#include <cerrno>

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace flipreel {

// Steps of niceness a background thread goes down: enough that a busy core
// is handed to the event loop as soon as it wakes, few enough that the work
// still gets its share beside other programs' work and a load ends promptly
// on a loaded machine.
inline constexpr int kBackgroundNiceness = 5;

// Lowers the calling thread's scheduling priority (its own, not the
// process's) by kBackgroundNiceness. A thread can always lower its priority;
// nothing is done where that fails.
inline void RunInBackground() noexcept {
#if defined(__linux__)
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int now = getpriority(PRIO_PROCESS, tid);
  if (errno == 0) setpriority(PRIO_PROCESS, tid, now + kBackgroundNiceness);
#endif
}

}  // namespace flipreel
