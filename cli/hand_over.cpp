#include "cli/hand_over.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

namespace flipreel::cli {

bool IsQtCommand(const char* word) {
  for (const auto& [name, description] : kQtCommands)
    if (std::strcmp(word, name) == 0) return true;
  return false;
}

void ListQtCommands(CLI::App& app) {
  for (const auto& [name, description] : kQtCommands) app.add_subcommand(name, description);
}

int HandOverToQtTool(char** argv) {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::string qt_tool = (self.parent_path() / kQtToolName).string();
  if (!ec) ::execv(qt_tool.c_str(), argv);
  std::cerr << "flipreel: " << argv[1] << " needs " << kQtToolName
            << " beside this program: " << (ec ? ec.message() : std::strerror(errno)) << "\n";
  return kExitUsage;
}

}  // namespace flipreel::cli
