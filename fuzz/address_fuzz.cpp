// Arbitrary text as a download address: through the address parser, and
// through a control's GifFromURL setter with credentials taken from the same
// input. The parser either refuses the address (31002) or gives one that
// names its scheme, carries no control characters and keeps the user
// information out of the reported target; the setter either asks the host
// for a read or shows its "Download Failed" box, and nothing else escapes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "flipreel/control/flipreel.h"
#include "flipreel/headless/headless_host.h"
#include "flipreel/net/download.h"

namespace {

bool HasControlCharacters(std::string_view s) {
  for (const char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

void CheckParsed(std::string_view text) {
  using flipreel::DownloadAddress;
  DownloadAddress a;
  try {
    a = flipreel::ParseDownloadAddress(text);
  } catch (const flipreel::HostError& e) {
    if (e.number() != flipreel::err::kAddressNotSupported) std::abort();
    return;
  }
  if (a.kind == DownloadAddress::Kind::kLocalFile) {
    if (a.local_path.empty() || a.local_path[0] != '/' || a.HasCredentials()) std::abort();
    return;
  }
  if (!a.url.starts_with("http://") && !a.url.starts_with("https://")) std::abort();
  if (a.host.empty() || HasControlCharacters(a.url)) std::abort();
  // The authority of the reported target holds no user information.
  const std::string_view rest = std::string_view(a.url).substr(a.url.find("://") + 3);
  if (rest.substr(0, rest.find_first_of("/?#")).find('@') != std::string_view::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace flipreel;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckParsed(text);

  // "user\npassword\naddress": the credentials go into the address the
  // control builds, so they must not break what the parser accepted.
  std::string_view user, password, address = text;
  if (const size_t a = text.find('\n'); a != std::string_view::npos) {
    user = text.substr(0, a);
    const std::string_view rest = text.substr(a + 1);
    const size_t b = rest.find('\n');
    password = rest.substr(0, b);
    address = b == std::string_view::npos ? std::string_view() : rest.substr(b + 1);
  }
  HeadlessHost host;
  Flipreel control(host);
  control.InitProperties();
  try {
    control.SetServerUserName(BytesToText(user));
    control.SetServerPassword(BytesToText(password));
    control.SetGifFromURL(BytesToText(address));
  } catch (const HostError&) {
    std::abort();  // the setter traps the request's errors itself
  }
  for (const HeadlessHost::PendingRead& read : host.pending_reads())
    CheckParsed(TextToUtf8(read.target));  // as the host reads it
  control.CancelAsyncRead();
  return 0;
}
