// Taking the GIF from an address: the host downloads it into a local file
// and the control loads that file like any other.

#include "flipreel/control/flipreel.h"
#include "flipreel/host/numbers.h"

namespace flipreel {

namespace {
constexpr char16_t kNone[] = u"(None)";
constexpr char16_t kPropertyName[] = u"GifFromURL";
constexpr char16_t kControlTitle[] = u"Flipreel Control";

bool IsBlank(TextView t) {
  return t.find_first_not_of(u' ') == TextView::npos;
}
}  // namespace

// The address to fetch, with the credentials put in after the scheme. Local
// files and drive-style paths are fetched as they are.
Text Flipreel::BuildAddress(const Text& url) const {
  const TextView u(url);
  if (u.substr(0, 8) == u"file:///") return url;
  if (u.find(u'\\') == 2) return url;
  const Text credentials = ServerUserName() + u":" + ServerPassword() + u"@";
  if (u.substr(0, 3) == u"www") return u"http://" + credentials + url;
  const size_t slashes = u.find(u"//");
  if (slashes != TextView::npos) {
    const size_t prefix = slashes + 2;
    return Text(u.substr(0, prefix)) + credentials + Text(u.substr(prefix));
  }
  return url;
}

void Flipreel::SetGifFromURL(const Text& value) {
  const Text address = BuildAddress(value);
  state_.GifFromURL = value;
  if (IsBlank(value) || value == kNone) return;
  const std::optional<HostError> failed = Trap([&] {
    host_.AsyncRead(address, kAsyncTypeFile, kPropertyName);
    Notify("GifFromURL");
  });
  if (failed) {
    SetGifFromURL(kNone);
    host_.ErrorTrapped(*failed);
    host_.MsgBox(
        u"Error No:" + FormatLong(failed->number()) + u" " + Utf8ToText(failed->description()),
        kMsgCritical, u"Download Failed");
  }
}

void Flipreel::SetServerUserName(const Text& value) {
  state_.ServerUserName = value;
  Notify("ServerUserName");
}

void Flipreel::SetServerPassword(const Text& value) {
  state_.ServerPassword = value;
  Notify("ServerPassword");
}

// The argument is accepted for compatibility and not used: the control has
// only one read.
void Flipreel::CancelAsyncRead(const Variant& /*property*/) {
  host_.CancelAsyncRead(kPropertyName);
}

void Flipreel::OnAsyncReadComplete(AsyncProp& prop) {
  if (prop.PropertyName == kPropertyName) {
    // A download too big to hold is reported like any other failed load.
    const std::optional<HostError> failed = Trap([&] {
      const Text path = prop.Value().ToText();
      LoadGif(path);
      host_.MsgBox(u"Image Download complete", kMsgInformation, kControlTitle);
    });
    if (failed) {
      host_.ErrorTrapped(*failed);
      host_.MsgBox(
          u"Error No: " + FormatLong(failed->number()) + u" " + Utf8ToText(failed->description()),
          kMsgExclamation, kControlTitle);
      return;
    }
  }
  RaiseEvent("AsyncReadComplete", [&](FlipreelEvents& l) { l.AsyncReadComplete(prop); });
  RaiseEvent("ReadFinished", [](FlipreelEvents& l) { l.ReadFinished(); });
}

}  // namespace flipreel
