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

}  // namespace
