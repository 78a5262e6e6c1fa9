// The flipreel tool's subcommands, registered by the part that implements them.
#pragma once

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>

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

// An option that takes a whole number from min to max, saying which of the
// three a value is not: a number, whole, or in the range.
inline CLI::Validator WholeNumber(int64_t min, int64_t max) {
  return CLI::Validator(
      [min, max](std::string& value) -> std::string {
        double number = 0;
        size_t used = 0;
        try {
          number = std::stod(value, &used);
        } catch (const std::exception&) {
          used = 0;
        }
        if (used == 0 || used != value.size() || !std::isfinite(number))
          return "\"" + value + "\" is not a number";
        if (number != std::floor(number)) return "\"" + value + "\" is not a whole number";
        if (number < static_cast<double>(min) || number > static_cast<double>(max))
          return value + " is not in the range " + std::to_string(min) + " to " +
                 std::to_string(max);
        return {};
      },
      "INT in [" + std::to_string(min) + " - " + std::to_string(max) + "]");
}

// info, simulate, pack: the headless host. Output goes to out and err
// (std::cout and std::cerr by default).
void AddHeadlessCommands(CLI::App& app);
void AddHeadlessCommands(CLI::App& app, std::ostream& out, std::ostream& err);

#ifdef FLIPREEL_WITH_QT
// play, render: the Qt host.
void AddQtCommands(CLI::App& app, int& argc, char** argv);
#endif

}  // namespace flipreel::cli
