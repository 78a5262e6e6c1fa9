// The tool built without Qt: the headless and component commands only.
#include "cli/commands.h"

namespace flipreel::cli {

std::optional<int> AddToolCommands(CLI::App&, int&, char**, bool) {
  return std::nullopt;
}

}  // namespace flipreel::cli
