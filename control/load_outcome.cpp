#include "flipreel/control/load_outcome.h"

#include "flipreel/host/scope.h"

namespace flipreel {

namespace {

bool Consume(TextView& text, TextView prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

// The name of the file that carries bytes to the control.
constexpr char16_t kBytesFileName[] = u"loaded-bytes.gif";

}  // namespace

std::optional<HostError> ErrorInMessage(TextView text) {
  // The split says "Error No. N : when reading file"; the download request
  // "Error No:N description"; the download completion "Error No: N description".
  if (!Consume(text, u"Error No")) return std::nullopt;
  const bool split = Consume(text, u". ");
  if (!split && !Consume(text, u":")) return std::nullopt;
  if (!split) Consume(text, u" ");
  int64_t number = 0;
  size_t digits = 0;
  while (digits < text.size() && digits < 10 && text[digits] >= u'0' && text[digits] <= u'9')
    number = number * 10 + (text[digits++] - u'0');
  if (digits == 0 || number > INT32_MAX) return std::nullopt;
  text.remove_prefix(digits);
  const auto n = static_cast<int32_t>(number);
  if (split) return text == u" : when reading file" ? std::optional(HostError(n)) : std::nullopt;
  if (!Consume(text, u" ")) return std::nullopt;
  return HostError(n, TextToUtf8(text));
}

std::optional<HostError> LoadFailure(const Flipreel& control,
                                     const std::optional<HostError>& raised,
                                     std::span<const Text> messages) {
  if (raised) return raised;
  if (control.state().FramesLoaded) return std::nullopt;
  for (auto it = messages.rbegin(); it != messages.rend(); ++it)
    if (std::optional<HostError> e = ErrorInMessage(*it)) return e;
  return HostError(err::kInvalidPicture);
}

void LoadGifBytes(Flipreel& control, Host& host, std::string_view bytes) {
  const Text path = host.PrivateFolder() + u"/" + kBytesFileName;
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
