#include "cli/input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "flipreel/host/memory_budget.h"
#include "flipreel/net/download.h"
#include "flipreel/saved_form/saved_form.h"

namespace flipreel::cli {

namespace {

// Reads everything from fd, up to most bytes, straight into out (sized for
// expected bytes at first, then grown as more come); false with errno on a
// read error, or with EFBIG when there is more.
bool ReadAll(int fd, std::string& out, int64_t most, int64_t expected = 0) {
  const size_t limit = static_cast<size_t>(most) + 1;  // a byte past most says there is more
  size_t got = out.size();
  // One byte more than expected, so that the end shows without growing.
  out.resize(std::min(got + (expected > 0 ? static_cast<size_t>(expected) + 1 : 65536), limit));
  for (;;) {
    if (got == out.size()) out.resize(std::min(std::max<size_t>(out.size() * 2, 65536), limit));
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) out.resize(got);
    if (n < 0) return false;
    if (n == 0) return true;
    got += static_cast<size_t>(n);
    if (static_cast<int64_t>(got) > most) {
      out.resize(got);
      errno = EFBIG;
      return false;
    }
  }
}

// The first frame starts at the first Graphic Control Extension after a
// block terminator (00 21 F9); its extension's other six bytes and the image
// descriptor's ten must follow before the file can hold a frame.
bool EndsInsideFirstFrame(std::string_view bytes) {
  const size_t first = bytes.find(std::string_view("\0\x21\xF9", 3));
  return first != std::string_view::npos && first + 3 + 6 + 10 > bytes.size();
}

std::string TooLarge(int64_t most, bool form) {
  return "is larger than the " + Megabytes(most) +
         (form ? " a saved form may have" : " a GIF file may have");
}

// The most bytes an input may have: a saved form (known by its first bytes)
// up to the forms' limit, anything else as much as the control reads of a
// GIF file.
int64_t MostBytes(std::string_view head) {
  return ClassifyContent(head) == InputKind::kSavedForm ? SavedFormLimits().max_file_bytes
                                                        : kMaxGifFileBytes;
}

// Reads an input whole, never past the most its kind may have: its first
// bytes tell the kind, and the rest is read up to that limit (a file that
// grows while it is read, or endless standard input, stops there). A
// regular file's size (expected) is checked before anything past its first
// bytes is read. False with errno on a read error, EFBIG when there is more.
bool ReadInput(int fd, std::string& out, int64_t expected = 0) {
  constexpr int64_t kHead = 4096;
  if (ReadAll(fd, out, kHead, std::min(expected, kHead))) return true;
  if (errno != EFBIG) return false;
  const int64_t most = MostBytes(out);
  if (expected > most) return false;  // errno is still EFBIG
  return ReadAll(fd, out, most, expected);
}

void Problem(PreparedInput& in, int32_t number, std::string reason) {
  in.problem = HostError(number);
  in.reason = std::move(reason);
}

// After ReadInput failed: too large, or a read error.
void ReadFailed(PreparedInput& in) {
  if (errno == EFBIG) {
    const int64_t most = MostBytes(in.bytes);
    return Problem(in, err::kOutOfMemory, TooLarge(most, most != kMaxGifFileBytes));
  }
  Problem(in, err::kDeviceIo, std::string("cannot be read: ") + strerror(errno));
}

// Reads a file the user named; what stops it is the input's problem.
void ReadFile(PreparedInput& in) {
  const int fd = ::open(in.name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Problem(in, err::kFileNotFound, "no such file");
    if (errno == EACCES || errno == EPERM)
      return Problem(in, err::kPermissionDenied, "cannot be read: permission denied");
    return Problem(in, err::kPathFileAccess, std::string("cannot be read: ") + strerror(errno));
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && S_ISDIR(st.st_mode)) {
    Problem(in, err::kPathFileAccess, "is a folder, not a GIF file");
  } else if (ok && !S_ISREG(st.st_mode)) {
    // A pipe or a device could block or never end; "-" reads standard input.
    Problem(in, err::kPathFileAccess, "is not a regular file");
  } else if (!ok || !ReadInput(fd, in.bytes, st.st_size)) {
    ReadFailed(in);
  }
  ::close(fd);
}

}  // namespace

PreparedInput PrepareInput(const std::string& input) {
  PreparedInput in;
  in.name = input;
  in.kind = ClassifyInput(input);
  if (in.kind == InputKind::kUrl) return in;
  if (input == "-") {
    if (!ReadInput(STDIN_FILENO, in.bytes)) ReadFailed(in);
  } else {
    ReadFile(in);
  }
  if (in.problem) {
    // The control is given nothing of an input that was refused.
    in.bytes = std::string();
    return in;
  }
  in.kind = ClassifyContent(in.bytes);
  if (in.bytes.empty()) {
    Problem(in, err::kInvalidPicture, "is empty");
  } else if (in.kind == InputKind::kGifFile && in.bytes.compare(0, 3, "GIF") != 0) {
    Problem(in, err::kInvalidPicture, "is not a GIF file");
  } else if (in.kind == InputKind::kGifFile && EndsInsideFirstFrame(in.bytes)) {
    in.note = "the file ends inside its first frame";
  }
  return in;
}

std::string ShownInput(const std::string& input) {
  return IsAddress(input) ? AddressWithoutPassword(input) : input;
}

}  // namespace flipreel::cli
