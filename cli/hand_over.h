// The Qt commands seen from the tool without Qt: the headless commands start
// without loading the Qt libraries, and play and render are handed over,
// arguments untouched, to the tool built with them (flipreel-qt, installed
// beside it).
#pragma once

#include <CLI/CLI.hpp>

#include "cli/commands.h"

namespace flipreel::cli {

inline constexpr char kQtToolName[] = "flipreel-qt";

bool IsQtCommand(const char* word);
// The Qt commands with their descriptions, for the tool's --help.
void ListQtCommands(CLI::App& app);
// Runs flipreel-qt from this program's folder with the same arguments;
// returns only when it cannot be started, with the exit status to give.
int HandOverToQtTool(char** argv);

}  // namespace flipreel::cli
