// The flipreel tool's subcommands, registered by the part that implements them.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>

namespace flipreel::cli {

// Exit status of a command that ran (whatever the control made of its input)
// and of a usage error.
inline constexpr int kExitRan = 0;
inline constexpr int kExitUsage = 2;

// info, simulate, pack: the headless host. Output goes to out and err
// (std::cout and std::cerr by default). A command that ran exits with 0; pack
// exits with 1 when it wrote no form, by throwing CLI::RuntimeError(1).
void AddHeadlessCommands(CLI::App& app);
void AddHeadlessCommands(CLI::App& app, std::ostream& out, std::ostream& err);

#ifdef FLIPREEL_WITH_QT
// play, render, frames: the Qt host.
void AddQtCommands(CLI::App& app, int& argc, char** argv);
#endif

}  // namespace flipreel::cli
