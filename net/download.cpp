#include "flipreel/net/download.h"

#include <algorithm>
#include <cctype>

namespace flipreel {

namespace {

[[noreturn]] void Refuse(std::string_view why) {
  Raise(err::kAddressNotSupported,
        ErrorDescription(err::kAddressNotSupported) + ": " + std::string(why));
}

HostError Failure(int32_t number, std::string_view detail) {
  return HostError(number, ErrorDescription(number) + ": " + std::string(detail));
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsSchemeText(std::string_view s) {
  if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes valid %XX escapes and keeps every other character, so that a raw
// "%" in a password ("50%off") survives.
std::string Unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

bool IsDriveStyle(std::string_view a) {
  return a.size() >= 3 && std::isalpha(static_cast<unsigned char>(a[0])) && a[1] == ':' &&
         (a[2] == '\\' || a[2] == '/');
}

DownloadAddress LocalFile(std::string path) {
  if (path.empty() || path[0] != '/') Refuse("a file address needs an absolute path");
  DownloadAddress a;
  a.kind = DownloadAddress::Kind::kLocalFile;
  a.local_path = std::move(path);
  return a;
}

// file://[localhost]/path: the user information, if any, is ignored.
DownloadAddress FileUrl(std::string_view rest) {
  const size_t slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos)
    authority.remove_prefix(at + 1);
  if (!authority.empty() && Lower(authority) != "localhost")
    Refuse("files on another machine cannot be read");
  if (slash == std::string_view::npos) Refuse("a file address needs an absolute path");
  std::string_view path = rest.substr(slash);
  path = path.substr(0, path.find_first_of("?#"));
  return LocalFile(Unescape(path));
}

DownloadAddress NetworkUrl(std::string scheme, std::string_view rest) {
  const size_t end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, end);
  const std::string_view path = end == std::string_view::npos ? "/" : rest.substr(end);

  DownloadAddress a;
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
    std::string_view userinfo = authority.substr(0, at);
    authority.remove_prefix(at + 1);
    // Empty credentials put in front of the address's own.
    if (userinfo.starts_with(":@")) userinfo.remove_prefix(2);
    const size_t colon = userinfo.find(':');
    a.user = Unescape(userinfo.substr(0, colon));
    if (colon != std::string_view::npos) a.password = Unescape(userinfo.substr(colon + 1));
  }

  // host, [v6 literal] or either with :port
  std::string_view host = authority;
  std::string_view port;
  if (host.starts_with('[')) {
    const size_t close = host.find(']');
    if (close == std::string_view::npos) Refuse("the host name is malformed");
    port = host.substr(close + 1);
    host = host.substr(0, close + 1);
    if (!port.empty() && port[0] != ':') Refuse("the host name is malformed");
    if (!port.empty()) port.remove_prefix(1);
  } else if (const size_t colon = host.rfind(':'); colon != std::string_view::npos) {
    port = host.substr(colon + 1);
    host = host.substr(0, colon);
  }
  if (host.empty()) Refuse("the address names no server");
  if (host.find_first_of(" \\") != std::string_view::npos) Refuse("the host name is malformed");
  if (port.size() > 5 ||
      !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
    Refuse("the port is not a number");
  if (!port.empty() && std::stoi(std::string(port)) > 65535) Refuse("the port is not a number");

  a.kind = DownloadAddress::Kind::kNetwork;
  a.host = std::string(host);
  a.url = scheme + "://" + std::string(authority) + std::string(path);
  return a;
}

}  // namespace

std::string AddressWithoutPassword(std::string_view address) {
  const size_t scheme_end = address.find("://");
  const size_t start = scheme_end == std::string_view::npos ? 0 : scheme_end + 3;
  const size_t end = std::min(address.find_first_of("/?#", start), address.size());
  const size_t at = address.substr(start, end - start).rfind('@');
  if (at == std::string_view::npos) return std::string(address);
  const size_t colon = address.find(':', start);
  if (colon >= start + at || colon + 1 == start + at) return std::string(address);
  return std::string(address.substr(0, colon + 1)) + "***" +
         std::string(address.substr(start + at));
}

DownloadAddress ParseDownloadAddress(std::string_view address) {
  const size_t first = address.find_first_not_of(" \t");
  if (first == std::string_view::npos) Refuse("the address is empty");
  address = address.substr(first, address.find_last_not_of(" \t") - first + 1);
  if (std::any_of(address.begin(), address.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
    Refuse("the address contains control characters");
  if (IsDriveStyle(address) || address.starts_with("\\\\"))
    Refuse("drive letters and network shares name nothing on this system");

  if (const size_t sep = address.find("://"); sep != std::string_view::npos) {
    const std::string_view scheme_text = address.substr(0, sep);
    if (!IsSchemeText(scheme_text)) Refuse("the scheme is malformed");
    std::string scheme = Lower(scheme_text);
    const std::string_view rest = address.substr(sep + 3);
    if (scheme == "http" || scheme == "https") return NetworkUrl(std::move(scheme), rest);
    if (scheme == "file") return FileUrl(rest);
    Refuse("the scheme " + scheme + " is not fetched (only http, https and file)");
  }
  if (Lower(address.substr(0, 5)) == "file:") return LocalFile(Unescape(address.substr(5)));
  if (address[0] == '/') return LocalFile(std::string(address));
  return NetworkUrl("http", address);
}

HostError CannotConnect(ConnectProblem problem) {
  switch (problem) {
    case ConnectProblem::kRefused:
      return Failure(err::kCannotConnect, "the connection was refused");
    case ConnectProblem::kHostNotFound:
      return Failure(err::kCannotConnect, "the server's name is unknown");
    case ConnectProblem::kUnreachable:
      return Failure(err::kCannotConnect, "the server cannot be reached");
    case ConnectProblem::kOther:
      break;
  }
  return Failure(err::kCannotConnect, "the connection failed");
}

HostError HttpStatusError(long status) {
  const std::string detail = "status " + std::to_string(status);
  if (status == 401 || status == 407) return Failure(err::kAccessDenied, detail);
  return Failure(err::kServerError, detail);
}

HostError TimedOut(const DownloadLimits& limits, bool whole_read) {
  const auto& limit = whole_read ? limits.total_timeout : limits.idle_timeout;
  return Failure(err::kDownloadTimedOut,
                 (whole_read ? "the read took longer than " : "no data arrived for ") +
                     std::to_string(limit.count()) + " ms");
}

HostError TooLarge(const DownloadLimits& limits) {
  return Failure(err::kDownloadTooLarge,
                 "more than " + std::to_string(limits.max_bytes) + " bytes");
}

HostError TooManyRedirects(const DownloadLimits& limits) {
  return Failure(err::kTooManyRedirects, "more than " + std::to_string(limits.max_redirects));
}

HostError NotHttp() {
  return Failure(err::kDownloadFailed, "the server's answer is not an HTTP response");
}

HostError RedirectRefused() {
  return Failure(err::kDownloadFailed, "the server redirected to an address that is not followed");
}

HostError ConnectionBroken() {
  return Failure(err::kDownloadFailed, "the connection broke off before the end");
}

HostError TransferFailed(std::string_view reason) {
  return Failure(err::kDownloadFailed, reason);
}

HostError LocalFileMissing(const std::string& path) {
  return Failure(err::kFileNotFound, path);
}

HostError LocalFileUnreadable(const std::string& path) {
  return Failure(err::kPathFileAccess, path);
}

HostError CannotStore() {
  return Failure(err::kPathFileAccess, "the downloaded bytes could not be stored");
}

}  // namespace flipreel
