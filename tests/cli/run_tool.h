// Runs the tool's headless commands in this process, as main() does, and
// keeps what they wrote and the exit status main() would give.
#pragma once

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace clitest {

using Json = nlohmann::ordered_json;

struct Result {
  int status = -1;
  std::string out, err;
  Json json() const { return Json::parse(out); }
};

inline Result RunTool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  CLI::App app{"flipreel"};
  app.require_subcommand(1);
  flipreel::cli::AddHeadlessCommands(app, out, err);
  std::vector<const char*> argv{"flipreel"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  Result r;
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
    r.status = flipreel::cli::kExitRan;
  } catch (const CLI::RuntimeError& e) {
    r.status = e.get_exit_code();
  } catch (const CLI::ParseError& e) {
    app.exit(e, out, err);
    r.status = flipreel::cli::kExitUsage;
  }
  r.out = out.str();
  r.err = err.str();
  return r;
}

}  // namespace clitest
