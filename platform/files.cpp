#include "flipreel/platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>

namespace flipreel {

std::optional<HostError> CheckGifFile(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0)
    return HostError(errno == EACCES ? err::kPermissionDenied : err::kFileNotFound);
  if (!S_ISREG(info.st_mode)) return HostError(err::kPathFileAccess);
  if (access(path.c_str(), R_OK) != 0) return HostError(err::kPermissionDenied);
  if (info.st_size == 0) return HostError(err::kInvalidPicture);
  if (info.st_size > kMaxGifFileBytes) return HostError(err::kOutOfMemory, FileTooLargeMessage());
  return std::nullopt;
}

namespace {

std::string ReadFd(int fd, int64_t length) {
  if (length > kMaxGifFileBytes) Raise(err::kOutOfMemory, FileTooLargeMessage());
  std::string bytes;
  bytes.resize(static_cast<size_t>(length));
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseErrno(errno);
    }
    if (n == 0) break;  // the file shrank under us
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

// Opens a regular file for reading; anything else is a path/file access
// error. Opening does not wait: a named pipe without a writer would otherwise
// block the caller for good. Returns -1 with errno set when the path cannot be
// opened, and the file's length in *length when asked for.
int OpenRegularForReading(const std::string& path, int64_t* length = nullptr) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Raise(err::kPathFileAccess);
  }
  if (length) *length = st.st_size;
  return fd;
}

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

int32_t ErrnoErrorNumber(int error) {
  switch (error) {
    case ENOENT:
      return err::kFileNotFound;
    case ENOTDIR:
      return err::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return err::kPermissionDenied;
    case EISDIR:
      return err::kPathFileAccess;
    case EMFILE:
    case ENFILE:
      return err::kTooManyFiles;
    default:
      return err::kDeviceIo;
  }
}

void RaiseErrno(int error) {
  if (error == ENOSPC) Raise(err::kDeviceIo, "Disk full");
  Raise(ErrnoErrorNumber(error));
}

FileTable::~FileTable() {
  CloseAll();
}

FileTable::OpenFile& FileTable::Get(int32_t file_number) {
  if (file_number < 1 || file_number > 255 || !files_[file_number].open)
    Raise(err::kBadFileNameOrNumber);
  return files_[file_number];
}

int32_t FileTable::FreeFile() const {
  for (int32_t n = 1; n <= 255; ++n)
    if (!files_[n].open) return n;
  Raise(err::kTooManyFiles);
}

bool FileTable::InMemoryFolder(const std::string& path) const {
  return !memory_folder_.empty() && path.size() > memory_folder_.size() + 1 &&
         path.compare(0, memory_folder_.size(), memory_folder_) == 0 &&
         path[memory_folder_.size()] == '/' &&
         path.find('/', memory_folder_.size() + 1) == std::string::npos;
}

std::string* FileTable::FindInMemory(const std::string& path) {
  auto it = memory_files_.find(path);
  return it == memory_files_.end() ? nullptr : &it->second;
}

void FileTable::Open(int32_t file_number, const std::string& path, FileAccess access) {
  if (file_number < 1 || file_number > 255) Raise(err::kBadFileNameOrNumber);
  if (files_[file_number].open) Raise(err::kFileAlreadyOpen);
  if (path.empty()) Raise(err::kBadFileNameOrNumber);
  if (access == FileAccess::kWrite && InMemoryFolder(path)) {
    std::string& bytes = memory_files_[path];
    bytes.clear();
    files_[file_number] = OpenFile{true, -1, access, &bytes};
    ++open_in_memory_;
    return;
  }
  if (std::string* bytes = access == FileAccess::kRead ? FindInMemory(path) : nullptr) {
    files_[file_number] = OpenFile{true, -1, access, bytes};
    ++open_in_memory_;
    return;
  }
  int fd = -1;
  int64_t length = 0;
  if (access == FileAccess::kRead) {
    fd = OpenRegularForReading(path, &length);
    if (fd < 0 && errno != ENOENT) RaiseErrno(errno);
  } else {
    // Not waiting for a reader either: a named pipe is refused, not written.
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0 && errno == ENXIO) Raise(err::kPathFileAccess);  // a pipe with no reader
    if (fd < 0) RaiseErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
      ::close(fd);
      Raise(err::kPathFileAccess);
    }
  }
  files_[file_number] = OpenFile{true, fd, access, nullptr, length};
}

int64_t FileTable::Length(int32_t file_number) {
  OpenFile& f = Get(file_number);
  if (f.memory) return static_cast<int64_t>(f.memory->size());
  if (f.fd < 0 || f.access == FileAccess::kRead) return f.length;
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) RaiseErrno(errno);
  return st.st_size;
}

std::string FileTable::ReadAll(int32_t file_number) {
  OpenFile& f = Get(file_number);
  if (f.access != FileAccess::kRead) Raise(err::kBadFileNameOrNumber);
  if (f.memory) return *f.memory;
  if (f.fd < 0) return {};
  return ReadFd(f.fd, Length(file_number));
}

void FileTable::Write(int32_t file_number, std::string_view bytes) {
  OpenFile& f = Get(file_number);
  if (f.access != FileAccess::kWrite) Raise(err::kBadFileNameOrNumber);
  if (f.memory) {
    f.memory->append(bytes);
    return;
  }
  if (!WriteAll(f.fd, bytes)) RaiseErrno(errno);
}

void FileTable::Close(int32_t file_number) {
  OpenFile& f = Get(file_number);
  const int fd = f.fd;
  if (f.memory) --open_in_memory_;
  f = OpenFile{};
  if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) RaiseErrno(errno);
}

void FileTable::CloseAll() {
  for (auto& f : files_) {
    if (f.open && f.fd >= 0) ::close(f.fd);
    f = OpenFile{};
  }
  open_in_memory_ = 0;
}

void FileTable::Kill(const std::string& path) {
  if (auto it = memory_files_.find(path); it != memory_files_.end()) {
    // A file still open keeps its bytes until it is closed.
    for (size_t n = 0; open_in_memory_ > 0 && n < files_.size(); ++n)
      if (files_[n].memory == &it->second) Raise(err::kPathFileAccess);
    memory_files_.erase(it);
    return;
  }
  if (::unlink(path.c_str()) == 0) return;
  // Kill removes files only; a folder is not found as a file.
  if (errno == EISDIR) Raise(err::kFileNotFound);
  RaiseErrno(errno);
}

bool FileTable::Exists(const std::string& path) const {
  if (memory_files_.count(path)) return true;
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string_view FileTable::ReadWholeFile(const std::string& path, std::string& storage) const {
  if (auto it = memory_files_.find(path); it != memory_files_.end()) return it->second;
  int64_t length = 0;
  const int fd = OpenRegularForReading(path, &length);
  if (fd < 0) RaiseErrno(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  storage = ReadFd(fd, length);
  return storage;
}

void FileHost::Open(int32_t file_number, TextView path, FileAccess access) {
  files_.Open(file_number, SystemPath(path), access);
}

void FileHost::ErrorTrapped(const HostError& error) noexcept {
  try {
    trapped_errors_.push_back(error);
  } catch (const std::bad_alloc&) {
    // The record goes short; the control goes on.
  }
}

const std::string& FileHost::SystemPath(TextView path) const {
  if (path != last_text_) {
    last_path_ = TextToPath(path);
    last_text_ = path;
  }
  return last_path_;
}

const std::string& FileHost::PrivateFolderPath() {
  const std::string& path = folder_.path();
  files_.set_memory_folder(path);
  return path;
}

const std::string& FileHost::MadePrivateFolderPath() {
  folder_.Make();  // which may choose another name
  return PrivateFolderPath();
}

namespace {

// The private folders of this process, for removal when a signal ends it: a
// fixed table of paths, since a signal handler may not allocate.
constexpr int kMaxRemovedOnSignal = 64;
std::atomic<const char*> removed_on_signal[kMaxRemovedOnSignal];

// Removes a folder of files with calls a signal handler may make: the
// folders hold no folders of their own.
void RemoveFolderOfFiles(const char* path) {
  const int dir = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    alignas(8) char buffer[4096];
    for (;;) {
      const long n = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
      if (n <= 0) break;
      for (long offset = 0; offset < n;) {
        struct Entry {
          uint64_t inode;
          int64_t next;
          unsigned short length;
          unsigned char type;
          char name[1];
        };
        const auto* e = reinterpret_cast<const Entry*>(buffer + offset);
        const bool dots =
            e->name[0] == '.' && (e->name[1] == '\0' || (e->name[1] == '.' && e->name[2] == '\0'));
        if (!dots) ::unlinkat(dir, e->name, 0);
        offset += e->length;
      }
    }
    ::close(dir);
  }
  ::rmdir(path);
}

void RemovePrivateFoldersAndDie(int signal_number) {
  for (auto& slot : removed_on_signal)
    if (const char* path = slot.load()) RemoveFolderOfFiles(path);
  // The handler was reset on entry: the signal now ends the process as it
  // would have, with the same status.
  ::raise(signal_number);
}

// Interrupting, terminating or hanging up the process removes the private
// folders first, with the partial downloads in them. Only signals that
// would end the process without a handler get one: a program that handles
// them itself keeps its handlers (and must let the folders' owners go).
void RemoveOnSignals(const char* path) {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction current {};
      if (::sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
        continue;
      struct sigaction action {};
      action.sa_handler = RemovePrivateFoldersAndDie;
      action.sa_flags = SA_RESETHAND;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal_number, &action, nullptr);
    }
  });
  for (auto& slot : removed_on_signal) {
    const char* empty = nullptr;
    if (slot.compare_exchange_strong(empty, path)) return;
  }
}

void ForgetOnSignals(const char* path) {
  for (auto& slot : removed_on_signal) {
    const char* expected = path;
    if (slot.compare_exchange_strong(expected, nullptr)) return;
  }
}

}  // namespace

PrivateFolder::~PrivateFolder() {
  if (!made_) return;
  ForgetOnSignals(path_.c_str());
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

namespace {

[[noreturn]] void CannotMakeFolder(const std::string& base, int error) {
  Raise(err::kPathFileAccess, ErrorDescription(err::kPathFileAccess) +
                                  ": cannot make a private folder in " + base + ": " +
                                  std::strerror(error));
}

// A name no one can guess, in the form mkdtemp gives: six letters and digits
// from the system's random source.
std::string RandomName() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  uint8_t random[6] = {};
  if (::getentropy(random, sizeof random) != 0) {
    // No random source: the process and the clock still set folders apart.
    uint64_t mix =
        static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15u ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (uint8_t& r : random) r = static_cast<uint8_t>(mix >>= 8);
  }
  std::string name = "flipreel-";
  for (const uint8_t r : random) name += kChars[r % (sizeof kChars - 1)];
  return name;
}

// Why no folder of ours could be made in base now (an errno value), or 0:
// what mkdir would find wrong, asked without making one. Only a full quota
// goes unseen until a folder is really made.
int WhyNoFolderIn(const std::string& base, size_t name_length) {
  struct stat st {};
  if (::stat(base.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if (::access(base.c_str(), W_OK | X_OK) != 0) return errno;
  if (base.size() + 1 + name_length >= PATH_MAX) return ENAMETOOLONG;
  // A folder takes an inode and a block (a file system that keeps no count
  // of inodes says it has none).
  struct statvfs fs {};
  if (::statvfs(base.c_str(), &fs) == 0) {
    const auto blocks = ::geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
    if ((fs.f_files != 0 && fs.f_favail == 0) || (fs.f_blocks != 0 && blocks == 0)) return ENOSPC;
  }
  return 0;
}

}  // namespace

namespace {

bool IsFolderName(const char* name) {
  constexpr size_t kPrefix = sizeof "flipreel-" - 1;
  return std::strncmp(name, "flipreel-", kPrefix) == 0 && std::strlen(name) == kPrefix + 6;
}

// Removes the empty private folders that runs killed before they could
// remove their own (SIGKILL) left in base. A folder's owner holds a lock on
// it for as long as it lives, so only a folder whose lock is free, of this
// user, and older than a minute (not one being made right now) is taken.
void RemoveStaleFolders(const std::string& base, const std::string& own) {
  DIR* dir = ::opendir(base.c_str());
  if (!dir) return;
  const auto now = std::chrono::system_clock::now();
  while (const dirent* e = ::readdir(dir)) {
    if (!IsFolderName(e->d_name)) continue;
    const std::string path = base + "/" + e->d_name;
    struct stat st {};
    if (path == own || ::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid() ||
        now - std::chrono::system_clock::from_time_t(st.st_mtime) < std::chrono::minutes(1))
      continue;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::rmdir(path.c_str());  // only when empty
    ::close(fd);
  }
  ::closedir(dir);
}

}  // namespace

const std::string& PrivateFolder::path() {
  if (!path_.empty()) return path_;
  std::string base;
  for (const char* var : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char* v = std::getenv(var);
    if (v && *v && ::access(v, W_OK | X_OK) == 0) {
      base = v;
      break;
    }
  }
  if (base.empty()) base = "/tmp";
  // The folder is made later, when it is needed; a base where it could not
  // be made fails now, as making it would.
  const std::string name = RandomName();
  if (const int why = WhyNoFolderIn(base, name.size())) CannotMakeFolder(base, why);
  path_ = base + "/" + name;
  return path_;
}

const std::string& PrivateFolder::Make() {
  path();
  if (made_) return path_;
  // Made, never taken over: a folder of the name that is already there (put
  // there by someone else, or by a copy of this process made by fork) is left
  // alone, and another name tried.
  const std::string base = path_.substr(0, path_.rfind('/'));
  for (int attempt = 0; ::mkdir(path_.c_str(), 0700) != 0; ++attempt) {
    if (errno != EEXIST || attempt == 100) CannotMakeFolder(base, errno);
    path_ = base + "/" + RandomName();
  }
  made_ = true;
  RemoveOnSignals(path_.c_str());
  // Held until the process ends, however it ends: a free lock tells a later
  // run that the folder's owner is gone.
  lock_fd_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock_fd_ >= 0) ::flock(lock_fd_, LOCK_EX | LOCK_NB);
  RemoveStaleFolders(base, path_);
  return path_;
}

void RandomGenerator::Seed(double clock_seconds) {
  // Fold the clock reading's bits into the middle of the state, keeping the
  // low byte, so that re-seeding at the same instant still moves on.
  uint64_t bits = 0;
  std::memcpy(&bits, &clock_seconds, sizeof bits);
  const uint32_t high = static_cast<uint32_t>(bits >> 32);
  const uint32_t folded = ((high >> 16) ^ high ^ static_cast<uint32_t>(bits)) & 0xFFFF;
  state_ = (state_ & 0xFF) | (folded << 8);
}

float RandomGenerator::Next() {
  state_ = (state_ * 0x43FD43FDu + 0xC39EC3u) & 0xFFFFFFu;
  return static_cast<float>(state_) / 16777216.0f;
}

}  // namespace flipreel
