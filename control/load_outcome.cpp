#include "flipreel/control/load_outcome.h"

#include "flipreel/host/scope.h"

namespace flipreel {

namespace {

// The name of the file that carries bytes to the control.
constexpr char16_t kBytesFileName[] = u"loaded-bytes.gif";

}  // namespace

std::optional<HostError> LoadFailure(const Flipreel& control,
                                     const std::optional<HostError>& raised,
                                     std::span<const HostError> trapped) {
  if (raised) return raised;
  if (!trapped.empty()) return trapped.front();
  if (control.state().FramesLoaded) return std::nullopt;
  return HostError(err::kInvalidPicture);
}

Text BytesFilePath(Host& host) {
  return host.PrivateFolder() + u"/" + kBytesFileName;
}

void LoadGifBytes(Flipreel& control, Host& host, std::string_view bytes) {
  const Text path = BytesFilePath(host);
  const int32_t file = host.FreeFile();
  host.Open(file, path, FileAccess::kWrite);
  try {
    host.Write(file, bytes);
  } catch (...) {
    host.Close(file);
    host.Kill(path);
    throw;
  }
  host.Close(file);
  // Removed whatever the assignment does; the control deletes an empty one
  // itself.
  // A file left in the private folder goes with the folder.
  const ScopeExit remove([&] {
    (void)Trap([&] {
      if (host.FileExists(path)) host.Kill(path);
    });
  });
  control.SetFlipreelFile(path);
}

}  // namespace flipreel
