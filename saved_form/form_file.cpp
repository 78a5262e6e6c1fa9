// Saved forms as files: reading one without blocking, writing one so that no
// crash loses it or leaves litter, and updating one under a lock.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <utility>

#include "flipreel/platform/files.h"
#include "flipreel/saved_form/saved_form.h"

namespace flipreel {

namespace {

[[noreturn]] void FailFile(const std::string& file, const std::string& doing, int error) {
  throw SavedFormError(ErrnoErrorNumber(error), file, "", "", doing + ": " + std::strerror(error));
}

[[noreturn]] void NotARegularFile(const std::string& file, const struct stat& st) {
  throw SavedFormError(
      err::kPathFileAccess, file, "", "",
      S_ISDIR(st.st_mode) ? "is a folder, not a saved form" : "is not a regular file");
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The process's file-creation mask, without changing it.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  return 022;
}

bool HoldsPassword(const SavedForm& form) {
  for (const SavedControl& c : form.controls) {
    const Variant* password = c.bag.Find("ServerPassword");
    if (password && password->type() == Variant::Type::kString && !password->AsText().empty())
      return true;
  }
  return false;
}

// Where a save of path really goes: a link is followed, so that the form it
// points at is replaced and the link stays.
std::string SaveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      std::string target = resolved;
      std::free(resolved);
      return target;
    }
  }
  return path;
}

std::string FolderOf(const std::string& target) {
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
}

std::string BaseName(const std::string& target) {
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? target : target.substr(slash + 1);
}

// The name a temporary file for target gets on the way to its place:
// ".form.json." and six characters.
bool IsTemporaryNameOf(const std::string& name, const std::string& base) {
  const std::string prefix = "." + base + ".";
  return name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0;
}

// Removes the named temporary files of saves killed before they put them in
// place. Called with the folder's lock held, when no other save of ours can
// be half-way.
void RemoveStaleTemporaries(const std::string& folder, const std::string& base) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* e = ::readdir(dir)) {
    if (!IsTemporaryNameOf(e->d_name, base)) continue;
    struct stat st {};
    const std::string path = folder + "/" + e->d_name;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
      ::unlink(path.c_str());
  }
  ::closedir(dir);
}

// Writes text as a new file in folder and returns the descriptor of a file
// with no name yet when the file system allows it (nothing is left if the
// process dies now), else of a named one whose name is put in temp.
int CreateTemporary(const std::string& folder, const std::string& base, std::string& temp) {
  temp.clear();
#ifdef O_TMPFILE
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
#endif
  temp = folder + "/." + base + ".XXXXXX";
  return ::mkostemp(temp.data(), O_CLOEXEC);
}

// Gives an unnamed temporary file a name of the temporary pattern next to
// its target, so that it can be renamed over the target.
bool NameTemporary(int fd, const std::string& folder, const std::string& base, std::string& temp) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = folder + "/." + base + ".";
    for (int k = 0; k < 6; ++k) temp.push_back(kLetters[random() % (sizeof kLetters - 1)]);
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0)
      return true;
    if (errno != EEXIST) break;
  }
  temp.clear();
  return false;
}

// Writes the form with the folder's lock held, first removing what earlier
// saves of it that were killed left behind.
void WriteLocked(const std::string& path, const std::string& target, const SavedForm& form) {
  const std::string text = SerializeSavedForm(form, path);
  mode_t mode = 0666 & ~CurrentUmask();
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) NotARegularFile(path, st);
    mode = st.st_mode & 07777;
  }
  // The password is written as it is; only its owner may read or write it.
  if (HoldsPassword(form)) mode &= 0600;

  const std::string folder = FolderOf(target);
  const std::string base = BaseName(target);
  RemoveStaleTemporaries(folder, base);
  std::string temp;
  Descriptor fd(CreateTemporary(folder, base, temp));
  if (fd.get() < 0) FailFile(path, "cannot create a file in its folder", errno);
  auto fail = [&](const char* doing) {
    const int error = errno;
    if (!temp.empty()) ::unlink(temp.c_str());
    FailFile(path, doing, error);
  };
  if (::fchmod(fd.get(), mode) != 0) fail("cannot set the new file's permissions");
  if (!WriteAll(fd.get(), text)) fail("cannot write it");
  if (::fsync(fd.get()) != 0) fail("cannot flush it to the disk");
  if (temp.empty() && !NameTemporary(fd.get(), folder, base, temp))
    fail("cannot create a file in its folder");
  if (::close(fd.release()) != 0) fail("cannot write it");
  if (::rename(temp.c_str(), target.c_str()) != 0) fail("cannot replace it");
  // The rename itself reaches the disk with the folder.
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

// An exclusive lock on the folder a form lives in, held by every save and
// update of ours. The folder, not the form: a save replaces the form's file,
// so a lock on the file would be left on the old one.
class FolderLock {
 public:
  FolderLock(const std::string& path, const std::string& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_.get() < 0) FailFile(path, "cannot open its folder", errno);
    while (::flock(fd_.get(), LOCK_EX) != 0)
      if (errno != EINTR) FailFile(path, "cannot lock its folder", errno);
  }

 private:
  Descriptor fd_;  // closing it releases the lock
};

}  // namespace

SavedForm ReadSavedForm(const std::string& path, const SavedFormLimits& limits) {
  // Opening does not wait: a named pipe without a writer would otherwise
  // block the caller for good. What is not a regular file is refused.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) FailFile(path, "cannot open it", errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) FailFile(path, "cannot read it", errno);
  if (!S_ISREG(st.st_mode)) NotARegularFile(path, st);
  auto too_large = [&] {
    throw SavedFormError(err::kOutOfMemory, path, "", "",
                         "the file is larger than the " + std::to_string(limits.max_file_bytes) +
                             " bytes a saved form may have");
  };
  if (st.st_size > limits.max_file_bytes) too_large();
  std::string text;
  text.reserve(static_cast<size_t>(st.st_size));
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      FailFile(path, "cannot read it", errno);
    }
    if (n == 0) break;
    text.append(chunk, static_cast<size_t>(n));
    // The file may have grown since it was measured.
    if (static_cast<int64_t>(text.size()) > limits.max_file_bytes) too_large();
  }
  return ParseSavedForm(text, path, limits);
}

void WriteSavedForm(const std::string& path, const SavedForm& form) {
  const std::string target = SaveTarget(path);
  const FolderLock lock(path, FolderOf(target));
  WriteLocked(path, target, form);
}

SavedForm ReadFormToUpdate(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return SavedForm();
  if (!S_ISREG(st.st_mode)) NotARegularFile(path, st);
  if (st.st_size == 0) return SavedForm();
  return ReadSavedForm(path);
}

void UpdateSavedForm(const std::string& path, const std::function<void(SavedForm&)>& change) {
  const std::string target = SaveTarget(path);
  const std::string folder = FolderOf(target);
  const FolderLock lock(path, folder);
  SavedForm form = ReadFormToUpdate(path);
  change(form);
  WriteLocked(path, target, form);
}

}  // namespace flipreel
