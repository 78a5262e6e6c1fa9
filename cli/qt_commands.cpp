#include "cli/commands.h"

namespace flipreel::cli {

void AddQtCommands(CLI::App& /*app*/, int& /*argc*/, char** /*argv*/) {}

}  // namespace flipreel::cli
