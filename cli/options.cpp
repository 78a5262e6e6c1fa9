#include "cli/options.h"

#include <cmath>

namespace flipreel::cli {

SetupOptions InputOptions::Setup() const {
  SetupOptions s = setup;
  s.control_name = control_name;
  if (sequence) s.sequence = *sequence;
  if (auto_rewind) s.auto_rewind = static_cast<int16_t>(*auto_rewind);
  return s;
}

void AddInputOptions(CLI::App& sub, InputOptions& o) {
  sub.add_option("input", o.input, "GIF file, saved form, or address; - reads standard input")
      ->required();
  AddSourceOptions(sub, o);
}

void AddSourceOptions(CLI::App& sub, InputOptions& o) {
  sub.add_option("--control", o.control_name,
                 "saved forms: the control to restore (default: the first Flipreel)");
  sub.add_option("--user", o.setup.user, "addresses: ServerUserName");
  sub.add_option("--password", o.setup.password, "addresses: ServerPassword");
}

void AddPlayOptions(CLI::App& sub, InputOptions& o) {
  sub.add_option("--sequence", o.sequence, "0 Normal, 1 Reverse, 2 Random, 3 Ping Pong")
      ->check(WholeNumber(0, 3));
  sub.add_option("--autorewind", o.auto_rewind, "passes to play; 0 plays for ever")
      ->check(WholeNumber(-32768, 32767));
  sub.add_flag("--border", o.setup.border, "BorderStyle 1");
  sub.add_flag("--autosize", o.setup.autosize, "AutoSize True: the control takes the GIF's size");
  sub.add_flag("--stretch", o.setup.stretch, "Stretch True: the GIF is scaled to the control");
  AddComposedOption(sub, o);
}

void AddComposedOption(CLI::App& sub, InputOptions& o) {
  sub.add_flag("--composed", o.setup.composed,
               "Composed True: whole pictures, each frame for its own delay, as browsers play");
}

CLI::Validator WholeNumber(int64_t min, int64_t max) {
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

}  // namespace flipreel::cli
