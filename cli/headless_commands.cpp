#include "cli/commands.h"

namespace flipreel::cli {

void AddHeadlessCommands(CLI::App& /*app*/) {}

}  // namespace flipreel::cli
