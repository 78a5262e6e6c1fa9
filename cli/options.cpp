#include "cli/options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <iostream>

namespace flipreel::cli {

namespace {

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

// One line typed at the terminal with echo off, or read from standard input
// when there is no terminal.
std::string ReadPasswordFromTerminal() {
  const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) {
    std::string line;
    if (!std::getline(std::cin, line))
      throw CLI::ValidationError("--password", "no password on standard input");
    return WithoutLineEnd(line);
  }
  const std::string prompt = "Password: ";
  (void)!::write(tty, prompt.data(), prompt.size());
  termios saved{};
  const bool is_terminal = ::tcgetattr(tty, &saved) == 0;
  if (is_terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  std::string line;
  char c = 0;
  while (::read(tty, &c, 1) == 1 && c != '\n') line.push_back(c);
  if (is_terminal) ::tcsetattr(tty, TCSAFLUSH, &saved);
  (void)!::write(tty, "\n", 1);
  ::close(tty);
  return WithoutLineEnd(line);
}

std::string ReadPasswordFile(const std::string& path) {
  // Not waiting on a pipe that nobody writes to, nor reading a huge file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 65536) {
    if (fd >= 0) ::close(fd);
    throw CLI::ValidationError("--password-file", path + ": not a readable file of at most 64 KB");
  }
  std::string text(static_cast<size_t>(st.st_size), '\0');
  const ssize_t n = ::read(fd, text.data(), text.size());
  ::close(fd);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return WithoutLineEnd(text.substr(0, text.find('\n')));
}

}  // namespace

SetupOptions InputOptions::Setup() const {
  SetupOptions s = setup;
  s.control_name = control_name;
  if (sequence) s.sequence = *sequence;
  if (auto_rewind) s.auto_rewind = static_cast<int16_t>(*auto_rewind);
  if (s.password == "-") {
    s.password = ReadPasswordFromTerminal();
  } else if (!password_file.empty()) {
    s.password = ReadPasswordFile(password_file);
  } else if (const char* env = std::getenv("FLIPREEL_PASSWORD"); s.password.empty() && env) {
    s.password = env;
  }
  return s;
}

void InputOptions::ApplyMemoryBudget(MemoryBudget& budget) const {
  if (memory_budget_mb) budget.SetLimit(*memory_budget_mb << 20);
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
  CLI::Option* password = sub.add_option(
      "--password", o.setup.password,
      "addresses: ServerPassword; - asks for it on the terminal. Seen by every user of the "
      "machine when given here: prefer -, --password-file or FLIPREEL_PASSWORD");
  sub.add_option("--password-file", o.password_file,
                 "addresses: ServerPassword from the first line of this file")
      ->excludes(password);
  sub.add_option("--memory-budget", o.memory_budget_mb,
                 "the most memory, in MB, the control's pictures (and render's sheet) may take "
                 "together (default: " +
                     std::to_string(kBaseBudgetBytes >> 20) + " plus " +
                     std::to_string(kBudgetBytesPerFileByte) +
                     " times the GIF file's size, at most a quarter of the machine's memory "
                     "or 2048)")
      ->check(WholeNumber(1, int64_t{1} << 30));
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

void AddClassicOption(CLI::App& sub, InputOptions& o) {
  CLI::Option* composed = sub.get_option("--composed");
  sub.add_flag("--classic", o.setup.classic,
               "Composed False: the classic control, each image alone at its offset, every "
               "frame for the first frame's delay (by default the GIF is composed, as the widget "
               "shows it)")
      ->excludes(composed);
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
