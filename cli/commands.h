// The flipreel tool's subcommands, registered by the part that implements them.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace flipreel::cli {

// Exit statuses, the same for every command. A command that fails says why on
// stderr and ends by throwing CLI::RuntimeError with its status.
inline constexpr int kExitRan = 0;
// The input gave the control no GIF (or the control raised an error while
// loading or playing it).
inline constexpr int kExitNotLoaded = 1;
inline constexpr int kExitUsage = 2;
// The output (a form, a picture) could not be written.
inline constexpr int kExitNotWritten = 3;

// Commands are tables of names and descriptions, looked up by name.
using CommandTable = std::span<const std::pair<const char*, const char*>>;
// The description of the named command in a table of names and
// descriptions. Worked out while compiling: a name not in the table does not
// compile.
consteval const char* Description(CommandTable table, std::string_view name) {
  for (const auto& [command, description] : table)
    if (command == name) return description;
  throw "no such command in the table";
}

// info, simulate, pack: the headless host. Output goes to out and err
// (std::cout and std::cerr by default). When only names one of them, that one
// alone is set up: a parse runs the command named first, and setting up the
// others would only slow the tool's start.
inline constexpr std::pair<const char*, const char*> kHeadlessCommands[] = {
    {"info", "Load GIFs or saved forms and print the control's state"},
    {"simulate", "Load a GIF or a saved form and deliver timer ticks, printing each"},
    {"pack", "Load a GIF into a new control and save it in a saved form"},
};
bool IsHeadlessCommand(std::string_view word);
// Set by a program that cannot download (the statically linked tool): a
// headless command given an address calls it before anything else, and it
// runs the whole command line elsewhere. It returns only when it cannot, with
// the exit status to give.
void SetAddressHandOver(std::function<int()> hand_over);
void AddHeadlessCommands(CLI::App& app, std::string_view only = {});
void AddHeadlessCommands(CLI::App& app, std::ostream& out, std::ostream& err,
                         std::string_view only = {});

// --version, components, and with the Qt library register and unregister.
void AddComponentCommands(CLI::App& app, std::ostream& out, std::ostream& err);
std::string VersionText();

// play, render, frames: the Qt host, and what --help says of them.
inline constexpr std::pair<const char*, const char*> kQtCommands[] = {
    {"play", "Play a GIF or a saved form in a window"},
    {"render", "Render what the control shows after each tick into a contact-sheet PNG"},
    {"register", "Register the component server (the Qt library) for this user"},
    {"unregister", "Remove what register made for this user"},
    {"frames", "Write every frame of a GIF or a saved form as a PNG file, frame-0000.png on"},
};
void AddQtCommands(CLI::App& app, int& argc, char** argv);
// register, unregister: the component server's entry points.
void AddServerCommands(CLI::App& app, std::ostream& out, std::ostream& err);

// The commands a program adds beside the headless and component ones,
// defined by the one source of each program that chooses them: every Qt
// command in flipreel-qt (qt_tool.cpp); in the tool built beside it, the Qt
// commands handed over to it (hand_over.cpp); none in a tool built without
// Qt (headless_tool.cpp). headless says that the command named first is a
// headless one. Returns the exit status when the command line was run
// elsewhere (and a status is all that is left to give).
std::optional<int> AddToolCommands(CLI::App& app, int& argc, char** argv, bool headless);

}  // namespace flipreel::cli
