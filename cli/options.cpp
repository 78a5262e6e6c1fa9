#include "cli/options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string_view>

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

int64_t InputOptions::MemoryBudgetBytes() const {
  return memory_budget_mb ? *memory_budget_mb << 20 : MemoryBudget::DefaultLimit();
}

void AddInputOptions(CLI::App& sub, InputOptions& o) {
  sub.add_option("input", o.input, "GIF file, saved form, or address")->required();
  sub.add_option("--control", o.control_name,
                 "saved forms: the control to restore (default: the first Flipreel)");
  sub.add_option("--user", o.setup.user, "addresses: ServerUserName");
  CLI::Option* password = sub.add_option(
      "--password", o.setup.password,
      "addresses: ServerPassword; \"-\" asks for it on the terminal. Visible to every user "
      "of the machine: prefer -, --password-file or FLIPREEL_PASSWORD");
  sub.add_option("--password-file", o.password_file,
                 "addresses: ServerPassword from the first line of this file")
      ->excludes(password);
  sub.add_option("--memory-budget", o.memory_budget_mb,
                 "the most memory, in MB, the control's decoded pictures may take together "
                 "(default: a quarter of the machine's memory, at most 2048)")
      ->check(CLI::Range(int64_t{1}, int64_t{1} << 30));
}

void AddPlayOptions(CLI::App& sub, InputOptions& o) {
  sub.add_option("--sequence", o.sequence, "0 Normal, 1 Reverse, 2 Random, 3 Ping Pong")
      ->check(CLI::Range(0, 3));
  sub.add_option("--autorewind", o.auto_rewind, "passes to play; 0 plays for ever")
      ->check(CLI::Range(-32768, 32767));
  sub.add_flag("--border", o.setup.border, "BorderStyle 1");
  sub.add_flag("--autosize", o.setup.autosize, "AutoSize True: the control takes the GIF's size");
  sub.add_flag("--stretch", o.setup.stretch, "Stretch True: the GIF is scaled to the control");
}

std::optional<std::string> DiagnoseGifFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return errno == ENOENT ? "no such file" : std::string(std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return "is a folder, not a GIF file";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (st.st_size > kMaxGifFileBytes)
    return "is larger than the " + Megabytes(kMaxGifFileBytes) + " a GIF file may have";
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "cannot be read: " + std::string(std::strerror(errno));
  std::string head(static_cast<size_t>(std::min<off_t>(st.st_size, 65536)), '\0');
  const ssize_t n = ::read(fd, head.data(), head.size());
  ::close(fd);
  if (n < 0) return "cannot be read: " + std::string(std::strerror(errno));
  if (st.st_size == 0) return "is empty";
  head.resize(static_cast<size_t>(n));
  if (n < 3 || head.compare(0, 3, "GIF") != 0) return "is not a GIF file";
  // The first frame starts at the first Graphic Control Extension after a
  // block terminator (00 21 F9); its extension's four bytes and the image
  // descriptor's ten must follow before the file can hold a frame.
  const size_t first = head.find(std::string_view("\0\x21\xF9", 3));
  if (first != std::string::npos && static_cast<off_t>(first + 3 + 6 + 10) > st.st_size)
    return "ends inside its first frame";
  return std::nullopt;
}

}  // namespace flipreel::cli
