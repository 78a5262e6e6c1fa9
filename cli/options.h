// The options every command of the tool shares, defined once for the
// commands on the headless host and those on the Qt host.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/control_setup.h"

namespace flipreel::cli {

struct InputOptions {
  std::string input;
  std::string control_name;
  std::optional<int> sequence;
  std::optional<int> auto_rewind;
  SetupOptions setup;  // the switches and the credentials go straight here
  std::string password_file;
  std::optional<int64_t> memory_budget_mb;

  // The set-up the options ask for, with the control's name, Sequence and
  // AutoRewind filled in, and the password from where it was given: the
  // terminal for "--password -", the first line of --password-file, or the
  // FLIPREEL_PASSWORD environment variable when no option gives one. A
  // password that cannot be read is a CLI::ValidationError.
  SetupOptions Setup() const;
  // Sets the host's budget as --memory-budget asks; without it, the budget
  // follows the file loaded (MemoryBudget's rule).
  void ApplyMemoryBudget(MemoryBudget& budget) const;
};

// The input (a GIF file, a saved form, an address, or "-" for standard
// input), the credentials for an address, the control to restore from a
// saved form and the memory budget.
void AddInputOptions(CLI::App& sub, InputOptions& o);
// The same without the input, for a command that takes several.
void AddSourceOptions(CLI::App& sub, InputOptions& o);
// How the control plays and lays out: --sequence, --autorewind, --border,
// --autosize, --stretch, --composed.
void AddPlayOptions(CLI::App& sub, InputOptions& o);
// --composed alone, for commands that only load.
void AddComposedOption(CLI::App& sub, InputOptions& o);
// --classic, for the commands that show what the widget shows: they compose
// by default (a saved form restores what it saved), and --classic plays the
// classic control. Added after --composed, which it excludes.
void AddClassicOption(CLI::App& sub, InputOptions& o);

// An option that takes a whole number from min to max, saying which of the
// three a value is not: a number, whole, or in the range.
CLI::Validator WholeNumber(int64_t min, int64_t max);

}  // namespace flipreel::cli
