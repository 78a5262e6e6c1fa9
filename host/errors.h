// Host errors: the one way the host and the control report failure.
#pragma once

#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace flipreel {

// Error numbers of the host. They follow the numbering that containers of this
// kind of control have always used, so that client code written against other
// hosts recognises them.
namespace err {
inline constexpr int32_t kInvalidCall = 5;                // invalid procedure call or argument
inline constexpr int32_t kOverflow = 6;                   // overflow
inline constexpr int32_t kOutOfMemory = 7;                // out of memory
inline constexpr int32_t kSubscriptOutOfRange = 9;        // subscript out of range
inline constexpr int32_t kTypeMismatch = 13;              // type mismatch
inline constexpr int32_t kBadFileNameOrNumber = 52;       // bad file name or number
inline constexpr int32_t kFileNotFound = 53;              // file not found
inline constexpr int32_t kFileAlreadyOpen = 55;           // file already open
inline constexpr int32_t kDeviceIo = 57;                  // device I/O error
inline constexpr int32_t kTooManyFiles = 67;              // too many files
inline constexpr int32_t kPermissionDenied = 70;          // permission denied
inline constexpr int32_t kPathFileAccess = 75;            // path/file access error
inline constexpr int32_t kPathNotFound = 76;              // path not found
inline constexpr int32_t kElementMissing = 340;           // control array element doesn't exist
inline constexpr int32_t kAlreadyLoaded = 360;            // object already loaded
inline constexpr int32_t kCantUnloadDesignElement = 362;  // element created at design time
inline constexpr int32_t kInvalidPropertyValue = 380;     // invalid property value
inline constexpr int32_t kNoSuchMember = 438;             // object doesn't support this member
inline constexpr int32_t kWrongArguments = 450;           // wrong number of arguments
inline constexpr int32_t kInvalidPicture = 481;           // invalid picture
inline constexpr int32_t kDownloadFailed = 31001;         // a download did not complete
inline constexpr int32_t kDialogCancelled = 2001;         // file dialog cancelled
// The other download failures (net/download.h says when each is raised).
inline constexpr int32_t kAddressNotSupported = 31002;  // the read request was refused
inline constexpr int32_t kCannotConnect = 31003;        // no connection to the server
inline constexpr int32_t kServerError = 31004;          // the server answered an error status
inline constexpr int32_t kAccessDenied = 31005;         // the server wants other credentials
inline constexpr int32_t kDownloadTimedOut = 31006;     // no data, or the whole read too long
inline constexpr int32_t kDownloadTooLarge = 31007;     // more bytes than the host accepts
inline constexpr int32_t kTooManyRedirects = 31008;     // more redirects than the host follows
}  // namespace err

// The standard description of a host error number ("Overflow", "Type mismatch", ...).
std::string ErrorDescription(int32_t number);

class HostError : public std::runtime_error {
 public:
  explicit HostError(int32_t number) : HostError(number, ErrorDescription(number)) {}
  HostError(int32_t number, const std::string& description)
      : std::runtime_error(description), number_(number) {}

  int32_t number() const { return number_; }
  std::string description() const { return what(); }

 private:
  int32_t number_;
};

[[noreturn]] inline void Raise(int32_t number) {
  throw HostError(number);
}
[[noreturn]] inline void Raise(int32_t number, const std::string& description) {
  throw HostError(number, description);
}

// Runs fn and hands back the host error it raised, if any; running out of
// memory counts as the host's error 7. Every other exception passes. The one
// way code that traps host errors catches them.
template <typename Fn>
[[nodiscard]] std::optional<HostError> Trap(Fn&& fn) {
  try {
    std::forward<Fn>(fn)();
    return std::nullopt;
  } catch (const HostError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return HostError(err::kOutOfMemory);
  }
}

}  // namespace flipreel
