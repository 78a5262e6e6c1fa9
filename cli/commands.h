// The flipreel tool's subcommands, registered by the part that implements them.
#pragma once

#include <CLI/CLI.hpp>

namespace flipreel::cli {

// Exit status of a command that ran (whatever the control made of its input)
// and of a usage error.
inline constexpr int kExitRan = 0;
inline constexpr int kExitUsage = 2;

// info, simulate, pack: the headless host.
void AddHeadlessCommands(CLI::App& app);

#ifdef FLIPREEL_WITH_QT
// play, render: the Qt host.
void AddQtCommands(CLI::App& app, int& argc, char** argv);
#endif

}  // namespace flipreel::cli
