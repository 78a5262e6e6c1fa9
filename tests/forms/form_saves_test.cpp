// Saves raced by another process or killed part-way: two updates of one form
// at once both land, and a save that dies at its write or its rename leaves
// the old form byte for byte, with nothing of it left after the next save.
// The other process is a child; it is stopped at a chosen step by the
// kernel (a file-size limit, a system-call filter), never by timing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "flipreel/saved_form/saved_form.h"
#include "tests/support/test_files.h"

using namespace flipreel;

namespace {

SavedControl Control(std::string name, size_t buffer_bytes = 0) {
  PropertyBag bag;
  bag.Append("AutoSize", Variant::FromBool(true));
  if (buffer_bytes) bag.Append("Buffer", Variant(Bytes(buffer_bytes, 0x5a)));
  return {"FlipreelControl.Flipreel", std::move(name), std::move(bag)};
}

void Put(const std::string& path, SavedControl control) {
  UpdateSavedForm(path, [&](SavedForm& form) { PutControl(form, path, std::move(control)); });
}

std::vector<std::string> Names(const SavedForm& form) {
  std::vector<std::string> names;
  for (const SavedControl& c : form.controls) names.push_back(c.name);
  return names;
}

std::vector<std::string> FolderContents(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs body in a child process, which exits 0 when body returns and 1 (with
// the error on stderr) when it throws.
pid_t Fork(const std::function<void()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    try {
      body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      ::_exit(1);
    }
    ::_exit(0);
  }
  return pid;
}

int WaitFor(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// Whether the process waits for a lock: /proc/locks marks waiters with "->".
bool WaitsForALock(pid_t pid) {
  std::ifstream locks("/proc/locks");
  const std::string id = " " + std::to_string(pid) + " ";
  for (std::string line; std::getline(locks, line);)
    if (line.find("->") != std::string::npos && line.find(id) != std::string::npos) return true;
  return false;
}

TEST(FormSaves, TwoUpdatesAtOnceBothLand) {
  testfiles::TempDir dir;
  const std::string path = dir.path() + "/form.json";
  Put(path, Control("Flipreel1"));

  int go[2], done[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(done), 0);
  // The second program starts its update when told to, and says when it has
  // finished (or its end of the pipe closes when it dies).
  const pid_t second = Fork([&] {
    char c;
    if (::read(go[0], &c, 1) != 1) ::_exit(2);
    Put(path, Control("Second"));
    if (::write(done[1], "x", 1) != 1) ::_exit(2);
  });
  ::close(done[1]);

  // The first one, between reading the form and writing it back, lets the
  // second start and waits, for ten seconds at most, until that one has
  // either finished (it did not wait: the lock failed) or waits for the lock.
  UpdateSavedForm(path, [&](SavedForm& form) {
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    pollfd finished{done[0], POLLIN, 0};
    bool second_ran = false;
    for (int wait = 0; wait < 1000 && !second_ran; ++wait)
      second_ran = ::poll(&finished, 1, 10) != 0 || WaitsForALock(second);
    EXPECT_TRUE(second_ran) << "the second update neither waited for the lock nor ended";
    PutControl(form, path, Control("First"));
  });
  EXPECT_EQ(WaitFor(second), 0);
  for (int fd : {go[0], go[1], done[0]}) ::close(fd);

  EXPECT_EQ(Names(ReadSavedForm(path)), (std::vector<std::string>{"Flipreel1", "First", "Second"}));
  EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"form.json"});
}

// The signals the kernel stops the child with become SIGKILL, as if the
// user killed it right there: no handler of ours runs and no core is dumped.
void KillSelf(int) {
  ::kill(::getpid(), SIGKILL);
}

// A system-call filter: rename fails with SIGSYS (which kills), and opening
// an unnamed temporary file fails as on a file system without them.
void Filter(bool kill_at_rename, bool without_unnamed_files) {
  std::vector<sock_filter> f = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
  if (kill_at_rename) {
    for (int nr : {SYS_rename, SYS_renameat, SYS_renameat2}) {
      f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(nr), 0, 1));
      f.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP));
    }
  }
  if (without_unnamed_files) {
    f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 3));
    f.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])));
    f.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1));
    f.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP));
  }
  f.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  const sock_fprog program{static_cast<unsigned short>(f.size()), f.data()};
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
    ::_exit(3);
}

TEST(FormSaves, ASaveKilledPartWayLeavesTheOldFormAndNothingAfterTheNextSave) {
  const struct {
    const char* step;
    bool at_rename;         // else while writing, past a 256 KiB file-size limit
    bool unnamed_file;      // the folder allows unnamed temporary files
    size_t left_till_next;  // temporary files left until the next save
  } rows[] = {
      {"writing an unnamed file", false, true, 0},
      {"writing a named file", false, false, 1},
      {"renaming into place", true, true, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.step);
    testfiles::TempDir dir;
    const std::string path = dir.path() + "/form.json";
    Put(path, Control("Flipreel1"));
    const std::string old = testfiles::ReadFile(path);

    const pid_t saver = Fork([&] {
      ::signal(SIGXFSZ, KillSelf);
      ::signal(SIGSYS, KillSelf);
      const rlimit size{256 << 10, 256 << 10};
      if (!row.at_rename) ::setrlimit(RLIMIT_FSIZE, &size);
      Filter(row.at_rename, !row.unnamed_file);
      Put(path, Control("Big", 4 << 20));
    });
    const int status = WaitFor(saver);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    EXPECT_EQ(testfiles::ReadFile(path), old);
    const std::vector<std::string> left = FolderContents(dir.path());
    ASSERT_EQ(left.size(), 1 + row.left_till_next);
    EXPECT_EQ(left.back(), "form.json");  // a temporary file's name starts with ".form.json."

    // The next save, of any kind, clears what the killed one left.
    WriteSavedForm(path, ReadSavedForm(path));
    EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"form.json"});
    EXPECT_EQ(testfiles::ReadFile(path), old);
  }
}

}  // namespace
