// flipreel-qt's commands beside the headless ones: every Qt command, run here.
#include <iostream>

#include "cli/commands.h"

namespace flipreel::cli {

std::optional<int> AddToolCommands(CLI::App& app, int& argc, char** argv, bool /*headless*/) {
  AddQtCommands(app, argc, argv);
  AddServerCommands(app, std::cout, std::cerr);
  return std::nullopt;
}

}  // namespace flipreel::cli
