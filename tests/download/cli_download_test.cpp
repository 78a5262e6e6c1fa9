// flipreel info with an address: credentials from the command line, the
// download awaited, the boxes in the JSON, and the password in no output.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "tests/support/gif_builder.h"
#include "tests/support/http_server.h"

namespace {

struct Output {
  std::string out, err;
};

Output Info(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  CLI::App app{"flipreel"};
  app.require_subcommand(1);
  flipreel::cli::AddHeadlessCommands(app, out, err);
  std::vector<const char*> argv{"flipreel", "info", "--json"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  app.parse(static_cast<int>(argv.size()), argv.data());
  return {out.str(), err.str()};
}

TEST(InfoWithAnAddress, WaitsForTheDownloadAndListsItsBoxes) {
  testgif::Gif gif;
  gif.netscape_loop = true;
  gif.frames.resize(2);
  testhttp::HttpServer server;
  server.Serve("/a.gif",
               testhttp::Route{.body = testgif::Build(gif), .user = "ann", .password = "Secr3t-x"});
  struct Case {
    const char* password;
    const char* file;
    const char* box;
    int style;
  };
  for (const Case& c : {Case{"Secr3t-x", "Gif", "Image Download complete", 64},
                        Case{"Wr0ng-x", "(None)",
                             "Error No: 31005 Access denied by the server: "
                             "status 401",
                             48}}) {
    SCOPED_TRACE(c.password);
    const Output o = Info({server.Url("/a.gif"), "--user", "ann", "--password", c.password});
    const auto json = nlohmann::json::parse(o.out);
    EXPECT_EQ(json["FlipreelFile"], c.file);
    ASSERT_EQ(json["messages"].size(), 1u);
    EXPECT_EQ(json["messages"][0]["text"], c.box);
    EXPECT_EQ(json["messages"][0]["style"], c.style);
    EXPECT_EQ(o.out.find(c.password), std::string::npos);
    EXPECT_EQ(o.err.find(c.password), std::string::npos);
  }
}

}  // namespace
