// The tool with --composed: info and simulate on the headless host. Without
// the option the JSON is the classic contract the other tests check.
#include <gtest/gtest.h>

#include "tests/cli/run_tool.h"
#include "tests/support/gif_builder.h"
#include "tests/support/test_files.h"

using clitest::Json;
using clitest::RunTool;

namespace {

// Three frames of 4 x 3 pixels at (0, 0), (1, 2) and (2, 4) on a 16 x 12
// screen, delays 5, 10 and 15 hundredths, looping for ever.
TEST(ComposedTool, WholeFramesAndTicksAtTheirOwnTimes) {
  testfiles::TempDir dir;
  const std::string path = dir.Write("three.gif", testgif::Build(testgif::Animation(3)));

  const Json info = RunTool({"info", path, "--composed", "--json"}).json();
  EXPECT_EQ(info["Composed"], true);
  EXPECT_EQ(info["FrameRate"], 50);
  for (const Json& f : info["frames"]) {
    EXPECT_EQ(f["width"], 16);
    EXPECT_EQ(f["height"], 12);
    EXPECT_EQ(f["left"], 0);
    EXPECT_EQ(f["top"], 0);
  }
  EXPECT_FALSE(RunTool({"info", path, "--json"}).json().contains("Composed"));

  const Json ticks = RunTool({"simulate", path, "--composed", "--ticks", "4", "--json"}).json();
  std::vector<std::string> seen;
  for (const Json& t : ticks["ticks"])
    seen.push_back(t["time"].dump() + ":" + t["picture"].dump() + "+" + t["interval"].dump());
  EXPECT_EQ(seen, (std::vector<std::string>{"50:1+100", "150:2+150", "300:0+50", "350:1+100"}));
}

// A classic load whose frames look different composed says so once on stderr,
// naming the option that composes; the JSON output stays as it was.
TEST(ComposedTool, AClassicLoadThatComposingWouldChangeSaysSo) {
  testfiles::TempDir dir;
  const std::string partial = dir.Write("three.gif", testgif::Build(testgif::Animation(3)));
  testgif::Gif whole_gif;  // two whole frames of one delay on a 1 x 1 screen
  whole_gif.frames.resize(2);
  const std::string whole = dir.Write("whole.gif", testgif::Build(whole_gif));
  const std::string note = "its frames look different composed";
  struct Row {
    std::vector<std::string> args;
    int notes;
  } rows[] = {
      {{"info", partial}, 1},
      {{"simulate", partial, "--ticks", "2"}, 1},
      {{"info", partial, "--composed"}, 0},
      {{"info", partial, "--json"}, 0},
      {{"info", whole}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[0] + " " + row.args.back());
    const clitest::Result r = RunTool(row.args);
    EXPECT_EQ(r.status, 0) << r.err;
    size_t count = 0;
    for (size_t at = r.err.find(note); at != std::string::npos; at = r.err.find(note, at + 1))
      ++count;
    EXPECT_EQ(count, static_cast<size_t>(row.notes)) << r.err;
    if (row.notes) {
      EXPECT_NE(r.err.find("--composed shows them as drawn"), std::string::npos);
    }
  }
}

}  // namespace
