// The options every command of the tool shares, defined once for the
// commands on the headless host and those on the Qt host, and the plain-words
// diagnosis of an input file that both give.
#pragma once

#include <CLI/CLI.hpp>
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

  // The set-up the options ask for, with the control's name, Sequence and
  // AutoRewind filled in.
  SetupOptions Setup() const;
};

// The input (a GIF file, a saved form or an address), the credentials for an
// address and the control to restore from a saved form.
void AddInputOptions(CLI::App& sub, InputOptions& o);
// How the control plays and lays out: --sequence, --autorewind, --border,
// --autosize, --stretch, --composed.
void AddPlayOptions(CLI::App& sub, InputOptions& o);
// --composed alone, for commands that only load.
void AddComposedOption(CLI::App& sub, InputOptions& o);

// Why a path the user gave is not a GIF the control can read, in plain words
// ("no such file", "is empty", ...); none when it starts like a GIF file.
std::optional<std::string> DiagnoseGifFile(const std::string& path);

}  // namespace flipreel::cli
