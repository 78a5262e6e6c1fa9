// The tool built beside flipreel-qt: the headless commands start without
// loading the Qt libraries, and the Qt commands are handed over, arguments
// untouched, to flipreel-qt (installed beside it). So is every command given
// an address: linked statically, this program cannot load the transfer
// library, and flipreel-qt can.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>

#include "cli/commands.h"

namespace flipreel::cli {

namespace {

constexpr char kQtToolName[] = "flipreel-qt";

bool IsQtCommand(const char* word) {
  for (const auto& [name, description] : kQtCommands)
    if (std::strcmp(word, name) == 0) return true;
  return false;
}

// Runs flipreel-qt from this program's folder with the same arguments;
// returns only when it cannot be started, with the exit status to give.
int HandOverToQtTool(char** argv) {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::string qt_tool = (self.parent_path() / kQtToolName).string();
  if (!ec) ::execv(qt_tool.c_str(), argv);
  std::cerr << "flipreel: " << argv[1] << " needs " << kQtToolName
            << " beside this program: " << (ec ? ec.message() : std::strerror(errno)) << "\n";
  return kExitUsage;
}

}  // namespace

std::optional<int> AddToolCommands(CLI::App& app, int& argc, char** argv, bool headless) {
  if (argc >= 2 && IsQtCommand(argv[1])) return HandOverToQtTool(argv);
  // The help of a Qt command is the Qt tool's.
  if (argc >= 3 && std::string_view(argv[1]) == "help" && IsQtCommand(argv[2]))
    return HandOverToQtTool(argv);
  SetAddressHandOver([argv] { return HandOverToQtTool(argv); });
  // The Qt commands with their descriptions, for the tool's --help.
  if (!headless)
    for (const auto& [name, description] : kQtCommands) app.add_subcommand(name, description);
  return std::nullopt;
}

}  // namespace flipreel::cli
