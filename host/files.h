// Building blocks shared by every host: the table of open files, a private
// folder, and the random-number generator.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/host.h"

namespace flipreel {

// Files opened for byte access under numbers 1..255. Failures raise the host's
// file errors (52 bad file number, 53 file not found, 55 already open,
// 57 device I/O, 67 too many files, 70 permission denied, 75 path/file access).
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

  static void Kill(const std::string& path);
  static bool Exists(const std::string& path);
  // A whole regular file, for picture loading (53 missing, 75 not a file).
  static std::string ReadWholeFile(const std::string& path);

 private:
  struct OpenFile {
    bool open = false;
    int fd = -1;  // -1 for a missing path opened for reading: an empty file
    FileAccess access = FileAccess::kRead;
  };
  OpenFile& Get(int32_t file_number);
  std::array<OpenFile, 256> files_{};
};

// Writes all bytes to a file descriptor, going on after interruptions and
// short writes; false on any other failure (errno says why).
bool WriteAll(int fd, const char* data, size_t size);

// A folder of our own, created with owner-only access on first use and removed
// with everything in it when the owner goes away.
class PrivateFolder {
 public:
  PrivateFolder() = default;
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::string& path();  // raises 75 when no folder can be made

 private:
  std::string path_;
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

}  // namespace flipreel
