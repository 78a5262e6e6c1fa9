// Building blocks shared by every host: the table of open files, a private
// folder, and the random-number generator.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "flipreel/host/host.h"
#include "flipreel/host/memory_budget.h"

namespace flipreel {

// Files opened for byte access under numbers 1..255. Failures raise the host's
// file errors (52 bad file number, 53 file not found, 55 already open,
// 57 device I/O, 67 too many files, 70 permission denied, 75 path/file access).
// Only regular files are opened for reading, without waiting (a named pipe or
// a device is 75), and a file larger than kMaxGifFileBytes is read by nobody:
// reading it whole is out of memory (7), before any of it is read.
//
// Files written directly into the memory folder, when one is set, are kept in
// memory rather than on disk; reading, deleting and testing such a path finds
// them there first. The hosts point it at their private folder, which nothing
// outside the host can reach, so the frame split's scratch file costs no
// system calls. Files that others put into that folder stay ordinary files.
// Why a path names no file a GIF can be read from, found before it is read:
// none there (53), not a regular file (a folder, a device: 75), not readable
// (70), empty (481), or larger than any GIF file may be (7), which nobody
// reads whole into memory to find out. The faces check a path with it before
// they hand it to the control, which says nothing of a file it cannot read.
std::optional<HostError> CheckGifFile(const std::string& path);

class FileTable {
 public:
  FileTable() = default;
  ~FileTable();
  FileTable(const FileTable&) = delete;
  FileTable& operator=(const FileTable&) = delete;

  int32_t FreeFile() const;
  void Open(int32_t file_number, const std::string& path, FileAccess access);
  int64_t Length(int32_t file_number);
  std::string ReadAll(int32_t file_number);
  void Write(int32_t file_number, std::string_view bytes);
  void Close(int32_t file_number);
  void CloseAll();

  void set_memory_folder(const std::string& folder) { memory_folder_ = folder; }
  void Kill(const std::string& path);
  bool Exists(const std::string& path) const;
  // A whole regular file, for picture loading (53 missing, 75 not a file):
  // the bytes of a file kept in memory where they are, else read into
  // storage. The view holds until a file is next written or deleted.
  std::string_view ReadWholeFile(const std::string& path, std::string& storage) const;

 private:
  struct OpenFile {
    bool open = false;
    int fd = -1;  // -1 for a missing path opened for reading: an empty file
    FileAccess access = FileAccess::kRead;
    std::string* memory = nullptr;  // the bytes of a file kept in memory
    // Files opened for reading: the length when opened, which is what
    // Length and ReadAll answer (saving the system a question per call).
    int64_t length = 0;
  };
  OpenFile& Get(int32_t file_number);
  bool InMemoryFolder(const std::string& path) const;
  std::string* FindInMemory(const std::string& path);
  std::array<OpenFile, 256> files_{};
  int open_in_memory_ = 0;  // files of files_ kept in memory
  std::string memory_folder_;
  std::unordered_map<std::string, std::string> memory_files_;
};

// Writes all bytes to a file descriptor, going on after interruptions and
// short writes; false on any other failure (errno says why).
bool WriteAll(int fd, std::string_view bytes);

// The host's error number for an error of the operating system (errno):
// 53 file not found, 76 path not found, 70 permission denied, 75 path/file
// access (a folder where a file is wanted), 67 too many files, 57 device I/O
// for a full disk and anything else.
int32_t ErrnoErrorNumber(int error);
[[noreturn]] void RaiseErrno(int error);

// A folder of our own with owner-only access, removed with everything in it
// when the owner goes away. An owner killed before it could remove it leaves
// it locked by nobody: the next folder made in the same place removes such
// folders when they are empty. Its name is chosen on first use, but the folder is
// made only when a real file must go into it: files kept in memory need no
// more than the name, and a command that writes none pays nothing for it.
class PrivateFolder {
 public:
  PrivateFolder() = default;
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  // The folder's path; raises 75 when no folder can be made where it goes.
  const std::string& path();
  // The path of the folder, made now if it is not yet (under another name
  // when one is taken); raises 75 when it cannot be made.
  const std::string& Make();

 private:
  std::string path_;
  bool made_ = false;
  int lock_fd_ = -1;  // the folder, locked while this process lives
};

// The host's pseudo-random generator: a 24-bit linear congruential sequence,
// re-seedable from a clock reading, giving single-precision values in [0, 1).
class RandomGenerator {
 public:
  void Seed(double clock_seconds);
  float Next();

 private:
  uint32_t state_ = 0x50000;
};

// The file services of a host: numbered files, the private folder (its
// scratch files kept in memory; made on disk for downloads) and whole-file
// reads for pictures. Real hosts derive from it.
class FileHost : public Host {
 public:
  int32_t FreeFile() override { return files_.FreeFile(); }
  void Open(int32_t file_number, TextView path, FileAccess access) override;
  int64_t Length(int32_t file_number) override { return files_.Length(file_number); }
  std::string ReadAll(int32_t file_number) override { return files_.ReadAll(file_number); }
  void Write(int32_t file_number, std::string_view bytes) override {
    files_.Write(file_number, bytes);
  }
  void Close(int32_t file_number) override { files_.Close(file_number); }
  void Kill(TextView path) override { files_.Kill(SystemPath(path)); }
  bool FileExists(TextView path) override { return files_.Exists(SystemPath(path)); }
  Text PrivateFolder() override { return PathToText(PrivateFolderPath()); }

  // What the pictures this host decodes for its control may take together.
  // It follows the GIF being loaded (MemoryBudget::FollowFile) until the
  // application fixes its limit.
  MemoryBudget& memory_budget() { return budget_; }
  // The error the last failed picture load raised. The control's own message
  // names only its number; a host can tell the user why.
  const std::optional<HostError>& last_picture_error() const { return last_picture_error_; }
  // The errors the control trapped (Host::ErrorTrapped), in order, for
  // whoever tells code why a load failed; they clear the list as they need.
  void ErrorTrapped(const HostError& error) noexcept override;
  std::vector<HostError>& trapped_errors() { return trapped_errors_; }
  // The private folder, made on disk: for files written there by others
  // (downloads), which are not kept in memory. Raises 75 when it cannot be.
  const std::string& MadePrivateFolderPath();

 protected:
  // Runs a picture load, remembering the error it raises.
  template <typename Load>
  auto RememberingFailure(Load&& load) -> decltype(load()) {
    try {
      return load();
    } catch (const HostError& e) {
      last_picture_error_ = e;
      throw;
    }
  }
  const std::string& PrivateFolderPath();
  // Where a load hands the host a GIF's bytes (its frame files, or the file
  // to compose): the budget follows that file from here on.
  void BudgetFor(const FrameFileList& files) noexcept {
    if (files.bytes) budget_.FollowFile(static_cast<int64_t>(files.bytes->size()));
  }
  void BudgetFor(std::string_view gif) noexcept {
    budget_.FollowFile(static_cast<int64_t>(gif.size()));
  }
  std::string_view ReadWholeFile(TextView path, std::string& storage) const {
    return files_.ReadWholeFile(SystemPath(path), storage);
  }

 private:
  // The system's form of a path, converted once for the scratch file's
  // write, load and delete (the last path converted is kept).
  const std::string& SystemPath(TextView path) const;
  mutable Text last_text_;
  mutable std::string last_path_;

  MemoryBudget budget_;
  std::optional<HostError> last_picture_error_;
  std::vector<HostError> trapped_errors_;
  // The folder outlives the table's files, so it is declared first.
  flipreel::PrivateFolder folder_;
  FileTable files_;
};

}  // namespace flipreel
