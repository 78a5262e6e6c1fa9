// flipreel info with an address: credentials from the command line, the
// download awaited, the boxes in the JSON, and the password in no output.
#include <gtest/gtest.h>

#include "tests/cli/run_tool.h"
#include "tests/support/gif_builder.h"
#include "tests/support/http_server.h"

namespace {

TEST(InfoWithAnAddress, WaitsForTheDownloadAndListsItsBoxes) {
  testhttp::HttpServer server;
  server.Serve("/a.gif", testhttp::Route{.body = testgif::Build(testgif::Animation(2)),
                                         .user = "ann",
                                         .password = "Secr3t-x"});
  struct Case {
    const char* password;
    const char* file;
    const char* box;
    int style;
    int error;  // 0: none
  };
  for (const Case& c : {Case{"Secr3t-x", "Gif", "Image Download complete", 64, 0},
                        Case{"Wr0ng-x", "(None)",
                             "Error No: 31005 Access denied by the server: "
                             "status 401",
                             48, 31005}}) {
    SCOPED_TRACE(c.password);
    const clitest::Result o = clitest::RunTool(
        {"info", "--json", server.Url("/a.gif"), "--user", "ann", "--password", c.password});
    EXPECT_EQ(o.status, c.error ? 1 : 0);
    const clitest::Json json = o.json();
    EXPECT_EQ(json["FlipreelFile"], c.file);
    EXPECT_EQ(json["error"].is_null() ? 0 : json["error"]["number"].get<int>(), c.error);
    ASSERT_EQ(json["messages"].size(), 1u);
    EXPECT_EQ(json["messages"][0]["text"], c.box);
    EXPECT_EQ(json["messages"][0]["style"], c.style);
    EXPECT_EQ(o.out.find(c.password), std::string::npos);
    EXPECT_EQ(o.err.find(c.password), std::string::npos);
  }
}

}  // namespace
