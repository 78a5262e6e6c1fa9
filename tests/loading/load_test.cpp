// Loading through FlipreelFile: the three kinds of value, what is announced
// and in which order, files that are not animations, the first frame's delay,
// RemoveGif, bad paths and the scratch file.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/loading/loading_support.h"

using namespace flipreel;
using namespace loadingtest;

namespace {

// What a load that succeeds or clears the control announces last.
const std::string kResetDownload = "GifFromURL, ServerPassword, ServerUserName";

// Runs a block in another current directory.
class InDirectory {
 public:
  explicit InDirectory(const std::string& path) : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~InDirectory() { std::filesystem::current_path(saved_); }

 private:
  std::filesystem::path saved_;
};

}  // namespace

TEST(Load, AnnouncesInOrder) {
  testfiles::TempDir dir;
  const std::string read = "FlipreelFile, FlipreelFile, Buffer, ";  // path, "Gif", Buffer
  const std::string clear = "Frames, FrameRate, FlipreelFile, " + kResetDownload;
  const struct {
    const char* name;
    std::string path;
    std::string expected;
  } rows[] = {
      {"a GIF", dir.Write("good.gif", testgif::Build(Animation(2))),
       read + "FrameRate, Frames, " + kResetDownload},
      {"not an animation", dir.Write("still.gif", "GIF89a not an animation"), read + clear},
      // A folder cannot be read: the read clears the control through the
      // "(None)" assignment, and the load then fails on the empty Buffer.
      {"a folder", dir.path(), "FlipreelFile, Buffer, " + clear + ", " + clear},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Loaded l;
    l.host.notices().clear();
    l.Load(row.path);
    EXPECT_EQ(Joined(l.host.notices()), row.expected);
  }
}

TEST(Load, AfterASuccessfulLoad) {
  testfiles::TempDir dir;
  const std::string file = testgif::Build(Animation(3));
  const std::string path = dir.Write("a.gif", file);
  for (const bool run_time : {true, false}) {
    SCOPED_TRACE(run_time ? "run time" : "designer");
    Loaded l;
    l.host.SetUserMode(run_time);
    l.control.SetGifFromURL(u"www.example.com/a.gif");  // forgotten by the load
    l.control.SetServerUserName(u"user");
    l.control.SetServerPassword(u"secret");
    l.Load(path);
    EXPECT_EQ(l.control.FlipreelFile(), u"Gif");
    EXPECT_EQ(l.control.GetBuffer(), BytesToText(file));
    EXPECT_EQ(l.control.GifFromURL(), u"(None)");
    EXPECT_EQ(l.control.ServerUserName(), u"");
    EXPECT_EQ(l.control.ServerPassword(), u"");
    EXPECT_EQ(l.control.state().FrameIndex, 0);
    EXPECT_EQ(l.control.Timer1().enabled(), run_time);  // with AutoStart
    EXPECT_EQ(l.control.Timer1().interval(), 50);
    EXPECT_TRUE(std::filesystem::exists(path));  // the file itself is left alone
  }
}

// The first frame's delay becomes FrameRate. Beyond 32767 ms it overflows:
// the assignment fails after frame 0 is shown, and what follows in the load
// never runs.
TEST(Load, FirstFrameDelay) {
  struct Row {
    int delay_cs;
    int16_t frame_rate;  // -1: overflow
  };
  for (const Row& row : {Row{0, 0}, Row{1, 10}, Row{3276, 32760}, Row{3277, -1}, Row{65535, -1}}) {
    SCOPED_TRACE(row.delay_cs);
    testgif::Gif gif = Animation(2);
    gif.frames[0].delay_cs = row.delay_cs;
    Loaded l;
    l.LoadBytes(testgif::Build(Animation(4)));
    l.host.notices().clear();
    const std::string bytes = testgif::Build(gif);
    if (row.frame_rate >= 0) {
      l.LoadBytes(bytes);
      EXPECT_EQ(l.control.FrameRate(), row.frame_rate);
      EXPECT_EQ(l.frame(0).tag(), FormatLong(row.delay_cs * 10));
      continue;
    }
    EXPECT_EQ(ErrorOf([&] { l.LoadBytes(bytes); }), err::kOverflow);
    const FlipreelState& s = l.control.state();
    EXPECT_TRUE(s.FramesLoaded);
    EXPECT_EQ(s.LastFrame, 1);
    EXPECT_TRUE(l.control.imgGif().picture() == l.frame(0).picture());
    EXPECT_EQ(l.control.FrameRate(), 50);  // the earlier file's
    EXPECT_EQ(l.control.Frames(), 4);
    EXPECT_FALSE(l.control.Timer1().enabled());
    EXPECT_EQ(l.control.FlipreelFile(), u"Gif");
    EXPECT_EQ(Joined(l.host.notices()), "FlipreelFile, FlipreelFile, Buffer");
    EXPECT_TRUE(l.host.messages().empty());
  }
}

TEST(Load, RemoveGifDuringPlay) {
  struct Recorder : FlipreelEvents {
    int frames = 0;
    void Frame() override { ++frames; }
  } recorder;
  Loaded l;
  l.control.AddListener(&recorder);
  l.LoadBytes(testgif::Build(Animation(4)));
  l.host.Advance(120);
  ASSERT_EQ(recorder.frames, 2);
  l.host.notices().clear();
  l.control.RemoveGif();

  EXPECT_TRUE(l.host.notices().empty());
  EXPECT_TRUE(l.control.GetBuffer().empty());
  EXPECT_TRUE(l.control.imgGif().picture().IsEmpty());
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(l.frame(i).picture().IsEmpty());
  EXPECT_EQ(l.control.Frames(), 4);
  EXPECT_EQ(l.control.FrameRate(), 50);
  EXPECT_EQ(l.control.FlipreelFile(), u"Gif");
  EXPECT_EQ(l.frame(3).tag(), u"200");
  EXPECT_TRUE(l.control.state().FramesLoaded);
  EXPECT_TRUE(l.control.Timer1().enabled());
  l.host.Advance(100);
  EXPECT_EQ(recorder.frames, 4);  // still ticking, over blank frames
  EXPECT_TRUE(l.control.imgGif().picture().IsEmpty());
  l.control.RemoveListener(&recorder);
}

// The two markers are not paths: "Gif" is only recorded, "(None)" clears the
// control without touching any file.
TEST(Load, MarkersAreNotPaths) {
  testfiles::TempDir dir;
  // Files named like the markers in the current directory: read as paths, the
  // empty one would be deleted.
  dir.Write("(None)", "");
  dir.Write("Gif", testgif::Build(Animation(3)));
  InDirectory in(dir.path());
  Loaded l;
  l.LoadBytes(testgif::Build(Animation(2)));
  l.control.SetServerUserName(u"user");
  const Text buffer = l.control.GetBuffer();
  const size_t loads = l.host.loads.size();
  l.host.notices().clear();
  l.control.SetFlipreelFile(u"Gif");
  EXPECT_EQ(Joined(l.host.notices()), "FlipreelFile");
  EXPECT_EQ(l.control.GetBuffer(), buffer);
  EXPECT_EQ(l.control.ServerUserName(), u"user");
  EXPECT_TRUE(l.control.state().FramesLoaded);

  l.host.notices().clear();
  l.control.SetFlipreelFile(u"(None)");
  EXPECT_EQ(Joined(l.host.notices()), "Buffer, Frames, FrameRate, FlipreelFile, " + kResetDownload);
  EXPECT_TRUE(std::filesystem::exists(dir.path() + "/(None)"));
  EXPECT_EQ(l.host.loads.size(), loads);
  EXPECT_TRUE(l.control.GetBuffer().empty());
  ExpectBlank(l);
}

// Paths that cannot be read, and files the split rejects, leave the control
// blank without a message; nothing is created, and only an empty file is
// deleted.
TEST(Load, WhatCannotBeShownLeavesTheControlBlank) {
  testfiles::TempDir dir;
  const std::string regular = dir.Write("file.gif", testgif::Build(Animation(2)));
  const std::string fifo = dir.path() + "/pipe.gif";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  testgif::Gif still = Animation(1);
  still.frames[0].gce = false;
  std::string lower_case = testgif::Build(Animation(2));
  lower_case[0] = 'g';
  static constexpr char kPng[] = "\x89PNG\r\n\x1a\n\x00\x21\xF9\x04 with a signature";
  struct Row {
    const char* name;
    std::string path;
    bool read;  // Buffer holds the file's bytes
    bool kept;  // the path exists afterwards
  };
  std::vector<Row> rows = {
      {"missing file", dir.path() + "/missing.gif", false, false},
      {"missing folder", dir.path() + "/nowhere/missing.gif", false, false},
      {"folder", dir.path(), false, true},
      {"below a file", regular + "/x.gif", false, false},
      {"named pipe", fifo, false, true},  // must not wait for a writer
      {"device", "/dev/zero", false, true},
      {"still GIF without an extension", dir.Write("still.gif", testgif::Build(still)), true, true},
      {"not a GIF", dir.Write("png.gif", std::string(kPng, sizeof kPng - 1)), true, true},
      {"lower-case signature", dir.Write("lower.gif", lower_case), true, true},
      {"empty", dir.Write("empty.gif", ""), true, false},
  };
  // Permissions do not bind the superuser.
  if (::geteuid() != 0) {
    rows.push_back({"unreadable", dir.Write("locked.gif", lower_case), false, true});
    ::chmod(rows.back().path.c_str(), 0);
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Loaded l;
    l.Load(regular);
    const Text before = row.read ? BytesToText(testfiles::ReadFile(row.path)) : Text();
    l.Load(row.path);
    ExpectBlank(l);
    EXPECT_EQ(l.control.GetBuffer(), before);
    EXPECT_TRUE(l.host.messages().empty());
    EXPECT_EQ(std::filesystem::exists(row.path), row.kept);
  }
  EXPECT_TRUE(std::filesystem::exists(regular));
}

// Frame files go to a folder of the host's own, never the current directory,
// and are gone once a load succeeds.
TEST(Load, ScratchFile) {
  testfiles::TempDir work;
  InDirectory in(work.path());
  const std::string path = work.Write("a.gif", testgif::Build(Animation(3)));
  Loaded one, two;
  one.Load(path);
  two.Load(path);
  ASSERT_EQ(one.host.loads.size(), 3u);
  const std::filesystem::path scratch(one.host.loads[0].path);
  EXPECT_EQ(scratch.filename().string(), "temp.gif");
  EXPECT_EQ(scratch.parent_path().string(), TextToUtf8(one.host.PrivateFolder()));
  EXPECT_NE(scratch.parent_path().string(), work.path());
  EXPECT_NE(one.host.PrivateFolder(), two.host.PrivateFolder());
  for (const auto& load : one.host.loads) EXPECT_EQ(load.path, scratch.string());
  EXPECT_FALSE(one.host.FileExists(Utf8ToText(scratch.string())));
  // The frame files never reach the disk, so the folder is not even made.
  EXPECT_FALSE(std::filesystem::exists(scratch.parent_path()));
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(work.path()))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"a.gif"});
}

// A file written into the host's private folder is kept in memory: it reads
// back whole, with its length, and cannot be deleted while a number has it
// open, for writing or for reading; once closed, deleting removes it.
TEST(Load, FilesKeptInMemory) {
  HeadlessHost host;
  const Text path = host.PrivateFolder() + u"/kept.gif";
  const int32_t out = host.FreeFile();
  host.Open(out, path, FileAccess::kWrite);
  host.Write(out, "GIF89a");
  EXPECT_EQ(testsupport::ErrorOf([&] { host.Kill(path); }), err::kPathFileAccess);
  host.Close(out);
  const int32_t in = host.FreeFile();
  host.Open(in, path, FileAccess::kRead);
  EXPECT_EQ(host.Length(in), 6);
  EXPECT_EQ(host.ReadAll(in), "GIF89a");
  EXPECT_EQ(testsupport::ErrorOf([&] { host.Kill(path); }), err::kPathFileAccess);
  host.Close(in);
  EXPECT_TRUE(host.FileExists(path));
  host.Kill(path);
  EXPECT_FALSE(host.FileExists(path));
  EXPECT_FALSE(std::filesystem::exists(TextToUtf8(host.PrivateFolder())));
}
