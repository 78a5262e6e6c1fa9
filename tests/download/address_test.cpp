// The address the control asks for, and how a host reads such an address.
// No network: the headless host only records the read requests here.
#include <gtest/gtest.h>

#include "flipreel/control/flipreel.h"
#include "flipreel/headless/headless_host.h"
#include "flipreel/net/download.h"
#include "tests/support/checks.h"

using namespace flipreel;

namespace {

struct AddressCase {
  const char16_t* user;
  const char16_t* password;
  const char16_t* assigned;
  const char16_t* fetched;  // nullptr: no read starts and an earlier one goes on
};

TEST(DownloadAddress, CredentialsGoAfterTheFirstDoubleSlash) {
  const AddressCase cases[] = {
      {u"", u"", u"www.example.com/a.gif", u"http://:@www.example.com/a.gif"},
      {u"ann", u"pw", u"www.example.com/a.gif", u"http://ann:pw@www.example.com/a.gif"},
      {u"ann", u"pw", u"http://example.com/a.gif", u"http://ann:pw@example.com/a.gif"},
      {u"", u"", u"https://example.com/a.gif", u"https://:@example.com/a.gif"},
      {u"ann", u"pw", u"gopher://h/x//y", u"gopher://ann:pw@h/x//y"},
      {u"ann", u"pw", u"example.com//a.gif", u"example.com//ann:pw@a.gif"},
      {u"a b", u"p@ss/w", u"http://h/x", u"http://a b:p@ss/w@h/x"},  // no escaping
      // Local files and drive-style paths are fetched as they are.
      {u"ann", u"pw", u"file:///tmp/a.gif", u"file:///tmp/a.gif"},
      {u"ann", u"pw", u"C:\\pics\\a.gif", u"C:\\pics\\a.gif"},
      {u"ann", u"pw", u"C:\\pics//a.gif", u"C:\\pics//a.gif"},
      // Only those: the tests are exact and case-sensitive.
      {u"ann", u"pw", u"file://host/a.gif", u"file://ann:pw@host/a.gif"},
      {u"ann", u"pw", u"FILE:///tmp/a.gif", u"FILE://ann:pw@/tmp/a.gif"},
      {u"ann", u"pw", u"\\\\server\\share//a.gif", u"\\\\server\\share//ann:pw@a.gif"},
      {u"ann", u"pw", u"WWW.example.com/a.gif", u"WWW.example.com/a.gif"},
      {u"ann", u"pw", u"example.com/a.gif", u"example.com/a.gif"},
      // Blank values and the marker only record the value, unannounced.
      {u"ann", u"pw", u"(None)", nullptr},
      {u"ann", u"pw", u"", nullptr},
      {u"ann", u"pw", u"   ", nullptr},
  };
  for (const AddressCase& c : cases) {
    SCOPED_TRACE(TextToUtf8(c.assigned));
    HeadlessHost host;
    Flipreel control(host);
    control.InitProperties();
    control.SetServerUserName(c.user);
    control.SetServerPassword(c.password);
    if (!c.fetched) control.SetGifFromURL(u"www.example.com/a.gif");
    host.notices().clear();
    control.SetGifFromURL(c.assigned);

    EXPECT_EQ(control.GifFromURL(), c.assigned);
    ASSERT_EQ(host.pending_reads().size(), 1u);
    if (!c.fetched) {
      EXPECT_EQ(host.pending_reads()[0].target, u"http://ann:pw@www.example.com/a.gif");
      EXPECT_TRUE(host.notices().empty());
      continue;
    }
    EXPECT_EQ(host.pending_reads()[0].target, c.fetched);
    EXPECT_EQ(host.pending_reads()[0].type, kAsyncTypeFile);
    EXPECT_EQ(host.pending_reads()[0].property_name, u"GifFromURL");
    EXPECT_EQ(host.notices(), std::vector<std::string>{"GifFromURL"});
  }
}

TEST(DownloadAddress, HostEventsPassThroughUnchanged) {
  struct Client : FlipreelEvents {
    std::vector<int64_t> progress;
    void AsyncReadProgress(AsyncProp& p) override { progress.push_back(p.BytesRead); }
    void HitTest(float& x, float& y, int16_t& result) override {
      EXPECT_EQ(x, 1.5f);
      EXPECT_EQ(y, 2.5f);
      result = 3;
    }
  } client;
  HeadlessHost host;
  Flipreel control(host);
  control.AddListener(&client);
  float x = 1.5f, y = 2.5f;
  int16_t hit = 0;
  control.OnHitTest(x, y, hit);
  EXPECT_EQ(hit, 3);
  AsyncProp prop;
  prop.BytesRead = 7;
  host.ReportProgress(u"GifFromURL", prop);
  host.ReportProgress(u"Other", prop);
  EXPECT_EQ(client.progress, (std::vector<int64_t>{7, 7}));
  EXPECT_TRUE(host.messages().empty());
}

TEST(DownloadAddress, HostReadsTheAddress) {
  struct Case {
    const char* address;
    const char* url;  // empty for local files
    const char* local_path;
    const char* user;
    const char* password;
  };
  const Case cases[] = {
      {"http://:@127.0.0.1:8080/a.gif", "http://127.0.0.1:8080/a.gif", "", "", ""},
      {"http://ann:p@ss:w@h/x?y#z", "http://h/x?y#z", "", "ann", "p@ss:w"},
      {"http://a%20b:p%2Fw@h", "http://h/", "", "a b", "p/w"},
      {"http://ann:50%off@h/x", "http://h/x", "", "ann", "50%off"},
      {"http://:@ann:pw@h/x", "http://h/x", "", "ann", "pw"},  // the address's own
      {"  HTTPS://[::1]:99/x  ", "https://[::1]:99/x", "", "", ""},
      {"example.com/a.gif", "http://example.com/a.gif", "", "", ""},
      {"file:///tmp/a%20b.gif", "", "/tmp/a b.gif", "", ""},
      {"file://:@localhost/tmp/a.gif", "", "/tmp/a.gif", "", ""},
      {"file:/tmp/a.gif", "", "/tmp/a.gif", "", ""},
      {"/tmp/a%20b.gif", "", "/tmp/a%20b.gif", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    const DownloadAddress a = ParseDownloadAddress(c.address);
    EXPECT_EQ(a.kind, *c.url ? DownloadAddress::Kind::kNetwork : DownloadAddress::Kind::kLocalFile);
    EXPECT_EQ(a.Target(), *c.url ? c.url : c.local_path);
    EXPECT_EQ(a.user, c.user);
    EXPECT_EQ(a.password, c.password);
  }
}

TEST(DownloadAddress, HostRefusesWhatItCannotFetch) {
  for (const char* address :
       {"", "  ", "gopher://h/x", "C:\\pics\\a.gif", "c:/pics/a.gif", "\\\\server\\share\\a.gif",
        "file://elsewhere/a.gif", "file:relative.gif", "http://:@/a.gif",
        "http://ann:secret@h:port/x", "http://h/a\r\nX-Injected: 1", "1http://h/"}) {
    SCOPED_TRACE(address);
    const testsupport::Raised e = testsupport::RaisedBy([&] { ParseDownloadAddress(address); });
    EXPECT_EQ(e.number, err::kAddressNotSupported);
    EXPECT_EQ(e.description.find("secret"), std::string::npos);
  }
}

}  // namespace
