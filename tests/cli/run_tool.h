// Runs the tool's headless commands in this process, as main() does, or the
// tool itself, and keeps what they wrote and the exit status.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "tests/support/test_files.h"

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

#ifdef FLIPREEL_TOOL
// Runs the tool itself, with stdin fed from the given bytes: for what main()
// does (usage, --version, exit statuses) and for standard input and output.
// env goes before the tool's name (for example "env -u NAME"); stdout_to,
// when given, is where standard output goes instead (">/dev/full", ">&-").
inline Result RunBinary(const std::string& args, const std::string& stdin_bytes = "",
                        const std::string& env = "", const std::string& stdout_to = "") {
  testfiles::TempDir io;
  const std::string in = io.Write("stdin", stdin_bytes);
  const std::string command = env + " " + FLIPREEL_TOOL + " " + args + " <" + in + " " +
                              (stdout_to.empty() ? ">" + io.path() + "/stdout" : stdout_to) +
                              " 2>" + io.path() + "/stderr";
  const int raw = std::system(command.c_str());
  Result r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = testfiles::ReadFile(io.path() + "/stdout");
  r.err = testfiles::ReadFile(io.path() + "/stderr");
  return r;
}
#endif

}  // namespace clitest
