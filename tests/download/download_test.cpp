// Downloads from a real server on 127.0.0.1, through the control, on the host
// the rig gives: what the control's clients and the user see.
#include <gtest/gtest.h>

#include <filesystem>

#include "flipreel/control/flipreel.h"
#include "flipreel/saved_form/saved_form.h"
#include "tests/download/download_rig.h"
#include "tests/support/gif_builder.h"
#include "tests/support/http_server.h"
#include "tests/support/test_files.h"

using namespace flipreel;
using namespace std::chrono_literals;
using testhttp::Route;

namespace {

// ":" and "@" in a password pass unescaped.
constexpr char kPassword[] = "p@ss:w0rd";

// Three frames of 16 x 16 pixels: large enough to arrive in several pieces.
std::string ThreeFrames() {
  return testgif::Build(testgif::Animation(3, 16, 16));
}

struct Heard {
  std::string event;
  AsyncProp prop;
  bool file_existed = false;  // the value's file, while the event ran
};

struct Recorder : FlipreelEvents {
  std::vector<Heard> heard;
  void ReadFinished() override { heard.push_back({"ReadFinished", {}, false}); }
  void AsyncReadProgress(AsyncProp& p) override { heard.push_back({"AsyncReadProgress", p}); }
  void AsyncReadComplete(AsyncProp& p) override {
    heard.push_back({"AsyncReadComplete", p, std::filesystem::exists(TextToUtf8(p.ValuePath))});
  }
  std::vector<std::string> Names(bool with_progress = true) const {
    std::vector<std::string> out;
    for (const auto& h : heard)
      if (with_progress || h.event != "AsyncReadProgress") out.push_back(h.event);
    return out;
  }
};

// The password must not leak into anything a user or a log sees.
void ExpectPasswordNowhere(const DownloadRig& rig, const Recorder& events) {
  const Text password = Utf8ToText(kPassword);
  for (const auto& m : rig.messages()) EXPECT_EQ(m.text.find(password), Text::npos);
  for (const auto& line : rig.log()) EXPECT_EQ(line.find(kPassword), std::string::npos);
  for (const auto& h : events.heard) {
    EXPECT_EQ(h.prop.Target.find(password), Text::npos);
    EXPECT_EQ(h.prop.StatusText.find(password), Text::npos);
  }
}

class Download : public testing::Test {
 protected:
  Download() : rig_(MakeRig()), control_(rig_->control()) {
    control_.AddListener(&events_);
    server_.Serve("/anim.gif", Route{.body = ThreeFrames()});
  }

  // Assigns the address and waits for the read to end.
  void Fetch(const std::string& address) {
    control_.SetGifFromURL(Utf8ToText(address));
    ASSERT_TRUE(rig_->WaitForReads(10s)) << "the read did not end";
  }

  std::vector<std::string> DownloadFiles() {
    std::vector<std::string> out;
    for (const auto& e :
         std::filesystem::directory_iterator(TextToUtf8(rig_->host().PrivateFolder())))
      if (e.path().filename().string().starts_with("download")) out.push_back(e.path());
    return out;
  }

  testhttp::HttpServer server_;
  Recorder events_;
  std::unique_ptr<DownloadRig> rig_;
  Flipreel& control_;
};

// A body that arrives in pieces: progress in order, then the completion,
// which loads the GIF and tells the user.
TEST_F(Download, CompletedReadReportsProgressLoadsTheGifAndAnnouncesIt) {
  const std::string body = ThreeFrames();
  server_.Serve("/slow.gif", Route{.body = body, .chunk_size = 100, .chunk_delay = 40ms});
  const std::string address = server_.Url("/slow.gif");
  Fetch(address);

  EXPECT_EQ(control_.FlipreelFile(), u"Gif");
  EXPECT_EQ(control_.GifFromURL(), Utf8ToText(address));
  EXPECT_EQ(control_.GetBuffer(), BytesToText(body));
  EXPECT_EQ(control_.state().LastFrame, 2);
  ASSERT_EQ(rig_->messages().size(), 1u);
  EXPECT_EQ(rig_->messages()[0].text, u"Image Download complete");
  EXPECT_EQ(rig_->messages()[0].style, kMsgInformation);
  EXPECT_EQ(rig_->messages()[0].title, u"Flipreel Control");

  std::vector<int64_t> read;
  for (const auto& h : events_.heard) {
    if (h.event != "AsyncReadProgress") break;
    read.push_back(h.prop.BytesRead);
    EXPECT_EQ(h.prop.BytesMax, static_cast<int64_t>(body.size()));
    EXPECT_EQ(h.prop.PropertyName, u"GifFromURL");
  }
  ASSERT_GE(read.size(), 2u);
  EXPECT_TRUE(std::is_sorted(read.begin(), read.end(), std::less_equal<>()));
  EXPECT_EQ(read.back(), static_cast<int64_t>(body.size()));
  EXPECT_EQ(events_.Names().size(), read.size() + 2);  // then complete, finished
  EXPECT_EQ(events_.Names(false), (std::vector<std::string>{"AsyncReadComplete", "ReadFinished"}));

  const Heard& done = events_.heard[events_.heard.size() - 2];
  EXPECT_EQ(done.prop.PropertyName, u"GifFromURL");
  EXPECT_EQ(done.prop.Status, AsyncStatus::kCompleted);
  EXPECT_TRUE(done.file_existed);
  EXPECT_FALSE(std::filesystem::exists(TextToUtf8(done.prop.ValuePath)));  // deleted after
  EXPECT_TRUE(DownloadFiles().empty());
  // The download went to the host's own folder, which only its owner can open.
  EXPECT_EQ(std::filesystem::path(TextToUtf8(done.prop.ValuePath)).parent_path().string(),
            TextToUtf8(rig_->host().PrivateFolder()));
  EXPECT_EQ(std::filesystem::status(TextToUtf8(rig_->host().PrivateFolder())).permissions() &
                std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  // Empty credentials (":@") mean no authentication.
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].authorization, "");
}

TEST_F(Download, CredentialsAnswerTheChallengeAndAppearNowhere) {
  server_.Serve("/private.gif", Route{.body = ThreeFrames(),
                                      .user = "ann",
                                      .password = kPassword,
                                      .chunk_size = 200,
                                      .chunk_delay = 10ms});
  control_.SetServerUserName(u"ann");
  control_.SetServerPassword(Utf8ToText(kPassword));
  Fetch(server_.Url("/private.gif"));

  EXPECT_EQ(control_.FlipreelFile(), u"Gif");
  EXPECT_EQ(server_.requests().back().authorization,
            "Basic " + EncodeBase64(std::string("ann:") + kPassword));
  ASSERT_FALSE(events_.heard.empty());
  EXPECT_EQ(events_.heard.front().prop.Target, Utf8ToText(server_.Url("/private.gif")));
  ExpectPasswordNowhere(*rig_, events_);
}

TEST_F(Download, FailedReadsShowTheWarningAndRaiseNoEvent) {
  struct Case {
    const char* name;
    std::string address;
    int32_t number;
    Route route;
    DownloadLimits limits = {};
  };
  const std::string gif = ThreeFrames();
  const testfiles::TempDir folder;
  const Case cases[] = {
      {"wrong credentials", "/private.gif", err::kAccessDenied,
       Route{.body = gif, .user = "ann", .password = "other"}},
      {"not found", "/missing.gif", err::kServerError, Route{.status = 404, .body = "no"}},
      {"server error", "/broken.gif", err::kServerError, Route{.status = 500, .body = "oops"}},
      {"refused connection",
       "http://127.0.0.1:" + std::to_string(testhttp::HttpServer::UnusedPort()) + "/a.gif",
       err::kCannotConnect, Route{}},
      {"closed early", "/cut.gif", err::kDownloadFailed,
       Route{.body = gif, .ending = Route::Ending::kCloseEarly}},
      {"server hangs", "/hang.gif", err::kDownloadTimedOut,
       Route{.body = gif, .ending = Route::Ending::kHang}, DownloadLimits{.idle_timeout = 300ms}},
      {"too large", "/big.gif", err::kDownloadTooLarge, Route{.body = gif},
       DownloadLimits{.max_bytes = 100}},
      {"too large, size unannounced", "/big2.gif", err::kDownloadTooLarge,
       Route{.body = gif, .send_length = false}, DownloadLimits{.max_bytes = 100}},
      {"redirect loop", "/loop.gif", err::kTooManyRedirects,
       Route{.status = 302, .location = "/loop.gif"}, DownloadLimits{.max_redirects = 3}},
      {"missing local file", "file:///no/such/dir/a.gif", err::kFileNotFound, Route{}},
      {"local folder", "file://" + folder.path(), err::kPathFileAccess, Route{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recorder events;
    auto rig = MakeRig();
    rig->set_limits(c.limits);
    Flipreel& control = rig->control();
    control.AddListener(&events);
    control.SetServerUserName(u"ann");
    control.SetServerPassword(Utf8ToText(kPassword));
    std::string address = c.address;
    if (address.starts_with("/")) {
      server_.Serve(address, c.route);
      address = server_.Url(address);
    }
    control.SetGifFromURL(Utf8ToText(address));
    ASSERT_TRUE(rig->WaitForReads(10s));

    ASSERT_EQ(rig->messages().size(), 1u);
    const RigMessage box = rig->messages()[0];
    const Text prefix = u"Error No: " + FormatLong(c.number) + u" ";
    EXPECT_EQ(box.text.substr(0, prefix.size()), prefix) << TextToUtf8(box.text);
    EXPECT_EQ(box.style, kMsgExclamation);
    EXPECT_EQ(box.title, u"Flipreel Control");
    EXPECT_EQ(events.Names(false), std::vector<std::string>{});
    EXPECT_EQ(control.FlipreelFile(), u"(None)");
    EXPECT_EQ(control.GifFromURL(), Utf8ToText(address));
    ExpectPasswordNowhere(*rig, events);
  }
}

TEST_F(Download, RefusedRequestResetsTheAddress) {
  for (const char* address : {"gopher://example.com/a.gif", "C:\\pics\\a.gif"}) {
    SCOPED_TRACE(address);
    auto rig = MakeRig();
    Flipreel& control = rig->control();
    control.SetGifFromURL(Utf8ToText(address));

    ASSERT_EQ(rig->messages().size(), 1u);
    const Text prefix = u"Error No:" + FormatLong(err::kAddressNotSupported) + u" ";
    EXPECT_EQ(rig->messages()[0].text.substr(0, prefix.size()), prefix);
    EXPECT_EQ(rig->messages()[0].style, kMsgCritical);
    EXPECT_EQ(rig->messages()[0].title, u"Download Failed");
    EXPECT_EQ(control.GifFromURL(), u"(None)");
    for (const auto& n : rig->notices()) EXPECT_NE(n, "GifFromURL");
  }
}

TEST_F(Download, CancelledReadEndsQuietly) {
  server_.Serve("/slow.gif", Route{.body = ThreeFrames(), .chunk_size = 50, .chunk_delay = 50ms});
  for (bool with_argument : {false, true}) {
    SCOPED_TRACE(with_argument);
    control_.SetGifFromURL(Utf8ToText(server_.Url("/slow.gif")));
    rig_->Pump(80ms);
    control_.CancelAsyncRead(with_argument ? Variant(u"whatever") : Variant::Missing());
    EXPECT_TRUE(rig_->WaitForReads(0ms));
    rig_->Pump(400ms);
    EXPECT_TRUE(rig_->messages().empty());
    EXPECT_EQ(events_.Names(false), std::vector<std::string>{});
    EXPECT_TRUE(DownloadFiles().empty());
  }
}

TEST_F(Download, NewAddressReplacesThePendingRead) {
  server_.Serve("/hang.gif", Route{.body = ThreeFrames(), .ending = Route::Ending::kHang});
  control_.SetGifFromURL(Utf8ToText(server_.Url("/hang.gif")));
  rig_->Pump(50ms);
  Fetch(server_.Url("/anim.gif"));

  EXPECT_EQ(rig_->messages().size(), 1u);
  EXPECT_EQ(events_.Names(false), (std::vector<std::string>{"AsyncReadComplete", "ReadFinished"}));
  EXPECT_EQ(control_.FlipreelFile(), u"Gif");
}

TEST_F(Download, RedirectsAreFollowedWithoutCarryingCredentialsAway) {
  testhttp::HttpServer elsewhere;
  elsewhere.Serve("/anim.gif", Route{.body = ThreeFrames()});
  server_.Serve(
      "/old.gif",
      Route{
          .status = 301, .user = "ann", .password = "pw", .location = elsewhere.Url("/anim.gif")});
  control_.SetServerUserName(u"ann");
  control_.SetServerPassword(u"pw");
  Fetch(server_.Url("/old.gif"));

  EXPECT_EQ(control_.FlipreelFile(), u"Gif");
  ASSERT_FALSE(server_.requests().empty());
  EXPECT_NE(server_.requests().back().authorization, "");
  for (const auto& request : elsewhere.requests()) {
    EXPECT_EQ(request.path, "/anim.gif");
    EXPECT_EQ(request.authorization, "");
  }
}

TEST_F(Download, LocalFilesAreCopiedNotTaken) {
  testfiles::TempDir dir;
  const std::string path = dir.Write("with space.gif", ThreeFrames());
  for (const std::string& address : {"file://" + dir.path() + "/with%20space.gif", path}) {
    SCOPED_TRACE(address);
    Fetch(address);
    EXPECT_EQ(control_.FlipreelFile(), u"Gif");
    EXPECT_EQ(control_.GifFromURL(), Utf8ToText(address));
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_TRUE(DownloadFiles().empty());
  }
  EXPECT_EQ(rig_->messages().size(), 2u);
}

TEST_F(Download, EmptyBodyCompletesWithABlankControl) {
  server_.Serve("/empty.gif", Route{.body = ""});
  Fetch(server_.Url("/empty.gif"));
  EXPECT_EQ(control_.Frames(), 0);
  EXPECT_TRUE(control_.imgGif().picture() == Picture());
  EXPECT_TRUE(DownloadFiles().empty());  // the control deleted the empty file itself
  ASSERT_EQ(rig_->messages().size(), 1u);
  EXPECT_EQ(rig_->messages()[0].text, u"Image Download complete");
  EXPECT_EQ(events_.Names(false), (std::vector<std::string>{"AsyncReadComplete", "ReadFinished"}));
}

// A body whose last frame is cut: the split's box comes first, as the load
// runs before the completion is told.
TEST_F(Download, ABodyCutShortShowsTheSplitsBoxBeforeTheCompletion) {
  const std::string gif = ThreeFrames();
  server_.Serve("/cut.gif", Route{.body = gif.substr(0, gif.size() - 6)});
  Fetch(server_.Url("/cut.gif"));
  ASSERT_EQ(rig_->messages().size(), 2u);
  EXPECT_EQ(rig_->messages()[0].text, u"Error No. 481 : when reading file");
  EXPECT_EQ(rig_->messages()[1].text, u"Image Download complete");
}

}  // namespace
