// The flipreel tool's info, simulate and pack commands: their JSON contract on
// GIFs built byte by byte, bad input, saved forms in place of GIFs, and exit
// statuses.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/control_setup.h"
#include "tests/cli/run_tool.h"
#include "tests/support/gif_builder.h"
#include "tests/support/test_files.h"

using clitest::Json;
using clitest::Result;
using clitest::RunBinary;
using clitest::RunTool;
using flipreel::cli::InputKind;

namespace {

// Three frames of 4 x 3 pixels at (0, 0), (1, 2) and (2, 4), delays 5, 10
// and 15 hundredths, the first one's delay given.
std::string ThreeFrames(int first_delay_cs = 5) {
  testgif::Gif gif = testgif::Animation(3);
  gif.frames[0].delay_cs = first_delay_cs;
  return testgif::Build(gif);
}

testgif::Gif OneImage() {
  testgif::Gif gif;
  gif.frames.resize(1);
  return gif;
}

}  // namespace

TEST(Info, JsonContract) {
  testfiles::TempDir dir;
  const std::string path = dir.Write("three.gif", ThreeFrames());
  const Result r = RunTool({"info", path, "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // The keys in this order; frame offsets in pixels, delays in milliseconds.
  EXPECT_EQ(r.json(), Json::parse(R"({"FlipreelFile": "Gif", "FramesLoaded": true,
    "LastFrame": 2, "Frames": 3, "FrameRate": 50, "frames": [
      {"index": 0, "delay": 50, "left": 0, "top": 0, "width": 4, "height": 3},
      {"index": 1, "delay": 100, "left": 1, "top": 2, "width": 4, "height": 3},
      {"index": 2, "delay": 150, "left": 2, "top": 4, "width": 4, "height": 3}],
    "messages": [], "error": null, "gif": {"version": "89a",
      "screen": {"width": 16, "height": 12}, "global_colors": 2, "background": 0, "repeat": 0,
      "images": [
      {"index": 0, "left": 0, "top": 0, "width": 4, "height": 3, "delay": 50, "disposal": 0,
       "transparent": null, "interlaced": false, "local_colors": 0},
      {"index": 1, "left": 1, "top": 2, "width": 4, "height": 3, "delay": 100, "disposal": 0,
       "transparent": null, "interlaced": false, "local_colors": 0},
      {"index": 2, "left": 2, "top": 4, "width": 4, "height": 3, "delay": 150, "disposal": 0,
       "transparent": null, "interlaced": false, "local_colors": 0}],
      "problem": null}, "input": ")" +
                                  path + R"("})"));
}

// The "gif" key reports the file's own fields, whatever the control makes of
// them, as far as the block structure can be read.
TEST(Info, WhatTheFileSaysOfItself) {
  testgif::Gif gif = testgif::Animation(3);
  gif.frames[1].disposal = 2;
  gif.frames[1].transparent = 1;
  gif.frames[1].interlace = true;
  gif.frames[1].local_palette = {0xFF0000, 0x00FF00, 0x0000FF};  // padded to 4
  gif.frames[2].gce = false;
  std::string bytes = testgif::Build(gif);
  bytes[bytes.find("NETSCAPE2.0") + 13] = 7;  // loop count 7 (low byte of the sub-block)
  testfiles::TempDir dir;
  const Json images =
      RunTool({"info", dir.Write("a.gif", bytes), "--json"}).json()["gif"]["images"];
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(images[1], Json::parse(R"({"index": 1, "left": 1, "top": 2, "width": 4, "height": 3,
    "delay": 100, "disposal": 2, "transparent": 1, "interlaced": true, "local_colors": 4})"));
  EXPECT_EQ(images[2]["delay"], nullptr);  // no Graphic Control Extension
  EXPECT_EQ(images[2]["disposal"], nullptr);

  const struct {
    std::string content;
    Json repeat;
    size_t images;
    Json problem;
  } rows[] = {
      {bytes, 7, 3, nullptr},
      // Cut inside the last image's data: its descriptor was read.
      {bytes.substr(0, bytes.size() - 6), 7, 3, "the file ends before its trailer"},
      {bytes.substr(0, 40), 7, 0, "the file ends before its trailer"},
      {testgif::Build(OneImage()), nullptr, 1, nullptr},
  };
  for (const auto& row : rows) {
    const Json j = RunTool({"info", dir.Write("b.gif", row.content), "--json"}).json()["gif"];
    EXPECT_EQ(j["repeat"], row.repeat);
    EXPECT_EQ(j["images"].size(), row.images);
    EXPECT_EQ(j["problem"], row.problem);
  }
  EXPECT_EQ(RunTool({"info", dir.Write("c.gif", "not a gif"), "--json"}).json()["gif"], nullptr);
}

// Every command exits with 1 when its input gives the control no GIF; the JSON
// says why in "error" and the control's state is still printed. The user's
// file is never changed, not even an empty one (the control deletes an empty
// file assigned to it: here it only ever sees a private copy).
TEST(Tool, InputThatDoesNotLoad) {
  testfiles::TempDir dir;
  const std::string gif = ThreeFrames();
  testgif::Gif still;  // one image, no Graphic Control Extension
  still.frames.resize(1);
  still.frames[0].gce = false;
  struct Row {
    std::string input;
    int number;
    std::string reason;  // on stderr, after the input's name
    size_t messages;
  };
  const Row rows[] = {
      {dir.path() + "/missing.gif", 53, "no such file", 0},
      {dir.Write("text.gif", "hello, not a picture"), 481, "is not a GIF file", 0},
      {dir.path(), 75, "is a folder", 0},
      {dir.Write("empty.gif", ""), 481, "is empty", 0},
      // The last frame's image data is cut short: the split's message.
      {dir.Write("truncated.gif", gif.substr(0, gif.size() - 6)), 481,
       "the control loaded no frames", 1},
      {dir.Write("header.gif", gif.substr(0, 20)), 481, "the control loaded no frames", 0},
      // Cut inside the last Graphic Control Extension: the split's message
      // with the number of the short chunk, 5.
      {dir.Write("cut-extension.gif", gif.substr(0, gif.rfind("\x21\xF9") + 5)), 5,
       "the control loaded no frames", 1},
      {dir.Write("still.gif", testgif::Build(still)), 481, "the control loaded no frames", 0},
      // Refused at the request: the control's "Download Failed" box.
      {"http://:x/a.gif", 31002, "the control loaded no frames", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    const std::string form = dir.path() + "/form.json";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"info", row.input, "--json"},
          {"simulate", row.input, "--ticks", "2", "--json"},
          {"pack", row.input, "-o", form}}) {
      SCOPED_TRACE(args[0]);
      const Result r = RunTool(args);
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find(row.input + ": " + row.reason), std::string::npos) << r.err;
      if (args[0] == "pack") {
        EXPECT_FALSE(std::filesystem::exists(form));
        continue;
      }
      const Json j = r.json();
      EXPECT_EQ(j["error"]["number"], row.number) << j["error"];
      EXPECT_EQ(j["FlipreelFile"], "(None)");
      EXPECT_EQ(j["FramesLoaded"], false);
      EXPECT_EQ(j["frames"], Json::array());
      EXPECT_EQ(j["messages"].size(), row.messages);
    }
#ifdef FLIPREEL_WITH_QT
    EXPECT_EQ(
        RunBinary("render '" + row.input + "' -o " + dir.path() + "/sheet.png --classic").status,
        1);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/sheet.png"));
#endif
  }
  EXPECT_TRUE(std::filesystem::exists(dir.path() + "/empty.gif"));
  EXPECT_EQ(RunTool({"info", dir.path() + "/truncated.gif", "--json"}).json()["messages"][0],
            Json::parse(R"({"text": "Error No. 481 : when reading file", "style": 16,
                            "title": "Flipreel Control"})"));
}

TEST(Simulate, TicksUntilPlayFinishes) {
  testfiles::TempDir dir;
  const std::string path = dir.Write("three.gif", ThreeFrames());
  const Result r = RunTool({"simulate", path, "--ticks", "10", "--autorewind", "1", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Json ticks = r.json()["ticks"];
  // The timer stops after the fourth tick. The keys in this order.
  const Json expected = Json::parse(R"([
    {"tick": 1, "events": ["Frame"], "picture": 0, "left": 0, "top": 0, "visible": true,
     "FrameIndex": 1, "LoopCount": 0, "timer": true},
    {"tick": 2, "events": ["Frame"], "picture": 1, "left": 15, "top": 30, "visible": true,
     "FrameIndex": 2, "LoopCount": 0, "timer": true},
    {"tick": 3, "events": ["Frame"], "picture": 2, "left": 30, "top": 60, "visible": true,
     "FrameIndex": 0, "LoopCount": 1, "timer": true},
    {"tick": 4, "events": ["Frame", "PlayFinished"], "picture": 2, "left": 30, "top": 60,
     "visible": true, "FrameIndex": 0, "LoopCount": 0, "timer": false}])");
  EXPECT_EQ(ticks, expected);

  const Json bordered = RunTool({"simulate", path, "--ticks", "1", "--border", "--json"}).json();
  EXPECT_EQ(bordered["ticks"][0]["left"], 10);
  EXPECT_EQ(RunTool({"simulate", path, "--ticks", "5", "--design-time", "--json"}).json()["ticks"],
            Json::array());  // the timer never starts in a designer
}

// A GIF packed into a form and restored gives what the GIF gives, at run time
// and in a designer, with the same settings given to pack or to simulate.
TEST(Pack, FormPlaysLikeItsGif) {
  testfiles::TempDir dir;
  const std::string gif = dir.Write("three.gif", ThreeFrames());
  const std::vector<std::vector<std::string>> settings = {{},
                                                          {"--sequence", "1", "--autorewind", "2"},
                                                          {"--border", "--autosize"},
                                                          {"--stretch", "--sequence", "3"},
                                                          {"--sequence", "2"}};
  int n = 0;
  for (const auto& options : settings) {
    const std::string form = dir.path() + "/form" + std::to_string(++n) + ".json";
    std::vector<std::string> pack = {"pack", gif, "-o", form};
    pack.insert(pack.end(), options.begin(), options.end());
    ASSERT_EQ(RunTool(pack).status, 0);
    for (const char* mode : {"--json", "--design-time"}) {
      SCOPED_TRACE(form + " " + mode);
      std::vector<std::string> from_gif = {"simulate", gif, "--ticks", "12", "--json", mode};
      from_gif.insert(from_gif.end(), options.begin(), options.end());
      EXPECT_EQ(RunTool({"simulate", form, "--ticks", "12", "--json", mode}).out,
                RunTool(from_gif).out);
      auto info = [&](const std::string& input) {
        Json j = RunTool({"info", input, "--json", mode}).json();
        j.erase("input");
        return j;
      };
      EXPECT_EQ(info(form), info(gif));
    }
  }
}

TEST(Pack, AddsOrReplacesControls) {
  testfiles::TempDir dir;
  const std::string gif = dir.Write("three.gif", ThreeFrames());
  const std::string form = dir.path() + "/form.json";

  ASSERT_EQ(RunTool({"pack", gif, "-o", form}).status, 0);
  ASSERT_EQ(RunTool({"pack", gif, "-o", form, "--sequence", "1"}).status, 0);
  ASSERT_EQ(RunTool({"pack", gif, "-o", form, "--name", "flipreel1", "--autorewind", "5"}).status,
            0);
  const Json saved = Json::parse(testfiles::ReadFile(form));
  ASSERT_EQ(saved["controls"].size(), 2u);
  EXPECT_EQ(saved["controls"][0]["name"], "Flipreel1");
  EXPECT_EQ(saved["controls"][1]["name"], "Flipreel2");
  EXPECT_EQ(RunTool({"info", form, "--control", "FLIPREEL2", "--json"}).json()["FramesLoaded"],
            true);
  const Json first = RunTool({"simulate", form, "--ticks", "100", "--json"}).json();
  EXPECT_EQ(first["ticks"].back()["events"].back(), "PlayFinished");  // AutoRewind 5 was saved
}

// An error of the load or of the restore is the JSON's "error" and a line on
// stderr, and the command fails.
TEST(Info, ErrorOfTheLoadOrTheRestore) {
  testfiles::TempDir dir;
  const std::string form = dir.Write("form.gif", R"({"format": "Flipreel saved form",
    "version": 1, "controls": [{"class": "FlipreelControl.Flipreel", "name": "Intro",
    "properties": [{"key": "AutoSize", "type": "Text", "value": "very"}]}]})");
  const std::string broken = dir.Write("broken.json", "{\"format\": ");
  const struct {
    std::string path;
    int number;
    std::string description;
  } rows[] = {
      // The first frame's delay overflows FrameRate, after frame 0 is shown.
      {dir.Write("slow.gif", ThreeFrames(3277)), 6, "Overflow"},
      {form, 13, form + ": control \"Intro\", key \"AutoSize\": Type mismatch"},
      {broken, 380, broken + ": not valid JSON"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    const Result r = RunTool({"info", row.path, "--json"});
    EXPECT_EQ(r.status, 1);
    const Json error = r.json()["error"];
    EXPECT_EQ(error["number"], row.number);
    EXPECT_EQ(error["description"].get<std::string>().rfind(row.description, 0), 0u) << error;
    const std::string line = "error " + std::to_string(row.number) + ": " + row.description;
    EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
  }
}

TEST(ClassifyInput, ByPrefixAndByContent) {
  testfiles::TempDir dir;
  const struct {
    std::string input;
    InputKind kind;
  } rows[] = {
      {"http://example.invalid/a.gif", InputKind::kUrl},
      {"HTTPS://example.invalid/a.gif", InputKind::kUrl},
      {"file:///tmp/a.gif", InputKind::kUrl},
      {"www.example.invalid/a.gif", InputKind::kUrl},
      {dir.Write("form.gif", " \n{\"format\": 1}"), InputKind::kSavedForm},
      {dir.Write("bom.txt", "\xEF\xBB\xBF{}"), InputKind::kSavedForm},
      {dir.Write("a.json", ThreeFrames()), InputKind::kGifFile},
      {dir.path() + "/missing.json", InputKind::kGifFile},
      {dir.path(), InputKind::kGifFile},
  };
  for (const auto& row : rows)
    EXPECT_EQ(flipreel::cli::ClassifyInput(row.input), row.kind) << row.input;
}

// Usage errors (2) say what is wrong; the input not loading is 1, an output
// that cannot be written 3.
TEST(Tool, ExitStatusAndUsageMessages) {
  testfiles::TempDir dir;
  const std::string gif = dir.Write("three.gif", ThreeFrames());
  const std::string notes = dir.Write("notes.txt", "my notes");
  const struct {
    std::string args;
    int status;
    std::string said;  // on stderr
  } rows[] = {
      {"", 2, "a command is required"},
      {"foo", 2, "unknown command \"foo\""},
      {"info", 2, "input is required"},
      {"info " + gif + " --frobnicate", 2, "--frobnicate"},
      {"simulate " + gif, 2, "--ticks is required"},
      {"simulate " + gif + " --ticks abc", 2, "--ticks: \"abc\" is not a number"},
      {"simulate " + gif + " --ticks 1.5", 2, "--ticks: \"1.5\" is not a whole number"},
      {"simulate " + gif + " --ticks -1", 2, "--ticks: -1 is not in the range 0 to 1000000"},
      {"simulate " + gif + " --ticks 3 --sequence 4", 2, "--sequence"},
      {"simulate " + gif + " --ticks 3 --autorewind 40000", 2, "--autorewind"},
      {"pack " + gif, 2, "--output is required"},
      // Every message names the tool and the command; usage errors too.
      {"info " + gif + " --frobnicate", 2, "flipreel info: "},
      {"simulate " + gif + " --ticks abc", 2, "flipreel simulate: --ticks"},
      {"help simulate", 0, ""},
      {"help nope", 2, "flipreel help: unknown command \"nope\""},
      {"-V", 0, ""},
      {"info " + gif, 0, ""},
      {"simulate " + gif + " --ticks 3", 0, ""},
      {"pack " + gif + " -o " + notes, 3, "not a saved form"},
#ifdef FLIPREEL_WITH_QT
      {"render " + gif + " -o " + dir.path() + "/sheet.xyz", 2, "xyz"},
      {"render " + gif + " -o " + dir.path() + "/no/such/folder/sheet.png", 3, "cannot be written"},
#endif
  };
  for (const auto& row : rows) {
    const Result r = RunBinary(row.args);
    EXPECT_EQ(r.status, row.status) << row.args;
    EXPECT_NE(r.err.find(row.said), std::string::npos) << row.args << ": " << r.err;
  }
  EXPECT_EQ(testfiles::ReadFile(notes), "my notes");
}

// Every command that writes fails with status 3 and says so when its output
// cannot take what it writes: standard output on a full device or closed,
// a file or folder whose folder does not exist (nothing is made for it).
TEST(Tool, OutputsThatCannotBeWritten) {
  testfiles::TempDir dir;
  const std::string gif = dir.Write("three.gif", ThreeFrames());
  const std::string missing = dir.path() + "/missing";
  const std::string out = dir.path() + "/out";
  const struct {
    std::string args;
    bool to_stdout;  // writes standard output (else a file or folder under missing)
    std::string said;
  } rows[] = {
      {"info " + gif, true, "flipreel info: standard output cannot be written"},
      {"info " + gif + " --json", true, "flipreel info: standard output cannot be written"},
      {"simulate " + gif + " --ticks 2", true, "flipreel simulate: standard output"},
      {"simulate " + gif + " --ticks 2 --json", true, "flipreel simulate: standard output"},
      {"pack " + gif + " -o -", true, "flipreel pack: standard output cannot be written"},
      {"pack " + gif + " -o " + out + ".json", true, "flipreel pack: standard output"},
      {"components", true, "flipreel components: standard output cannot be written"},
      {"--version", true, "flipreel: standard output cannot be written"},
      {"help", true, "flipreel help: standard output cannot be written"},
      {"pack " + gif + " -o " + missing + "/form.json", false, "does not exist"},
#ifdef FLIPREEL_WITH_QT
      {"render " + gif + " -o -", true, "flipreel render: standard output cannot be written"},
      {"render " + gif + " -o " + out + ".png", true, "flipreel render: standard output"},
      {"frames " + gif + " -o " + out, true, "flipreel frames: standard output"},
      {"render " + gif + " -o " + missing + "/sheet.png", false, "does not exist"},
      {"render " + gif + " -o " + out + ".png --frames " + missing + "/ticks", false,
       "does not exist"},
      {"frames " + gif + " -o " + missing + "/frames", false, "does not exist"},
#endif
  };
  for (const auto& row : rows) {
    for (const char* stdout_to : {">/dev/full", ">&-"}) {
      if (!row.to_stdout && std::string(stdout_to) == ">&-") continue;
      const Result r = RunBinary(row.args, "", "", row.to_stdout ? stdout_to : "");
      EXPECT_EQ(r.status, 3) << row.args << " " << stdout_to;
      EXPECT_NE(r.err.find(row.said), std::string::npos) << row.args << ": " << r.err;
      // One message, ours: no library's own around it.
      EXPECT_EQ(r.err.find("libpng"), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
#ifdef FLIPREEL_WITH_QT
  // A folder cannot be standard output; a device is never replaced.
  Result r = RunBinary("frames " + gif + " -o -");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("flipreel frames: -: standard output cannot take a folder"),
            std::string::npos)
      << r.err;
  r = RunBinary("render " + gif + " -o /dev/null");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("/dev/null: is not a regular file"), std::string::npos) << r.err;
#endif
}

// "-" reads the input from standard input, "-o -" writes to standard output;
// the output's format follows its extension.
TEST(Tool, StandardStreamsAndFormats) {
  testfiles::TempDir dir;
  const std::string gif = ThreeFrames();
  Result r = RunBinary("info - --json", gif);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.json()["Frames"], 3);
  EXPECT_EQ(RunBinary("info - --json", "").json()["error"]["number"], 481);

  const Result form = RunBinary("pack - -o -", gif);
  ASSERT_EQ(form.status, 0) << form.err;
  r = RunBinary("simulate - --ticks 2 --json", form.out);  // a saved form on stdin
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.json()["ticks"].size(), 2u);

#ifdef FLIPREEL_WITH_QT
  const std::string path = dir.Write("three.gif", gif);
  r = RunBinary("render - -o -", gif);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 4), "\x89PNG");
  const struct {
    const char* name;
    std::string magic;
  } formats[] = {{"sheet.png", "\x89PNG"}, {"sheet.JPG", "\xFF\xD8"}, {"sheet.bmp", "BM"}};
  for (const auto& f : formats) {
    const std::string out = dir.path() + "/" + f.name;
    // Without XDG_RUNTIME_DIR Qt would warn about it on every start.
    r = RunBinary("render " + path + " -o " + out, "", "env -u XDG_RUNTIME_DIR");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(testfiles::ReadFile(out).substr(0, f.magic.size()), f.magic) << f.name;
  }
#endif
}

// Several inputs in one info: one object each, in order, in an array; the
// command fails when one of them does not load.
TEST(Info, SeveralInputs) {
  testfiles::TempDir dir;
  const std::string gif = dir.Write("three.gif", ThreeFrames());
  const std::string missing = dir.path() + "/missing.gif";
  const Result r = RunTool({"info", gif, missing, gif, "--json"});
  EXPECT_EQ(r.status, 1);
  const Json j = r.json();
  ASSERT_EQ(j.size(), 3u);
  EXPECT_EQ(j[0]["input"], gif);
  EXPECT_EQ(j[0]["Frames"], 3);
  EXPECT_EQ(j[1]["error"]["number"], 53);
  EXPECT_EQ(j[2]["Frames"], 3);
  EXPECT_EQ(RunTool({"info", gif, gif}).status, 0);
}
