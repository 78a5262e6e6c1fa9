#include "cli/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "flipreel/host/text.h"

namespace flipreel::cli {

namespace {

[[noreturn]] void Fail(std::string_view command, const std::string& line, std::ostream& err,
                       int status = kExitNotWritten) {
  err << PrintableUtf8("flipreel " + std::string(command) + ": " + line, 1000) << "\n";
  throw CLI::RuntimeError(status);
}

// The folder a path names its file in: "." for a bare name.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void CheckFolderExists(std::string_view command, const std::string& path, std::ostream& err) {
  const std::string folder = FolderOf(path);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0)
    Fail(command, path + ": cannot be written: the folder " + folder + " does not exist", err);
  if (!S_ISDIR(st.st_mode))
    Fail(command, path + ": cannot be written: " + folder + " is not a folder", err);
}

}  // namespace

void CheckOutputFile(std::string_view command, const std::string& path, std::ostream& err) {
  if (path == "-") return;
  if (path.empty() || path.back() == '/') Fail(command, path + ": names no file", err, kExitUsage);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) Fail(command, path + ": is a folder; not overwritten", err);
    if (!S_ISREG(st.st_mode)) Fail(command, path + ": is not a regular file; not overwritten", err);
    return;
  }
  if (errno != ENOENT) Fail(command, path + ": cannot be written: " + std::strerror(errno), err);
  CheckFolderExists(command, path, err);
}

void MakeOutputFolder(std::string_view command, const std::string& path, std::ostream& err) {
  if (path == "-")
    Fail(command, "-: standard output cannot take a folder of files; name a folder", err,
         kExitUsage);
  if (path.empty()) Fail(command, "an empty name names no folder", err, kExitUsage);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) Fail(command, path + ": is not a folder", err);
    return;
  }
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  CheckFolderExists(command, trimmed, err);
  if (::mkdir(trimmed.c_str(), 0777) != 0 && errno != EEXIST)
    Fail(command, path + ": the folder cannot be made: " + std::strerror(errno), err);
}

void WriteOutput(std::string_view command, std::ostream& out, std::string_view text,
                 std::ostream& err) {
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  CheckOutput(command, out, err);
}

void CheckOutput(std::string_view command, std::ostream& out, std::ostream& err) {
  errno = 0;
  out.flush();
  if (out) return;
  const int error = errno;
  Fail(command,
       std::string("standard output cannot be written") +
           (error != 0 ? std::string(": ") + std::strerror(error) : std::string()),
       err);
}

void GuardStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

bool CloseStandardOutput() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
  const int error = errno;
  const bool closed = std::fclose(stdout) == 0;
  if (!flushed) errno = error != 0 ? error : EIO;
  return flushed && closed;
}

}  // namespace flipreel::cli
