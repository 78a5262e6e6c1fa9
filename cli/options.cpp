#include "cli/options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace flipreel::cli {

SetupOptions InputOptions::Setup() const {
  SetupOptions s = setup;
  s.control_name = control_name;
  if (sequence) s.sequence = *sequence;
  if (auto_rewind) s.auto_rewind = static_cast<int16_t>(*auto_rewind);
  return s;
}

void AddInputOptions(CLI::App& sub, InputOptions& o) {
  sub.add_option("input", o.input, "GIF file, saved form, or address")->required();
  sub.add_option("--control", o.control_name,
                 "saved forms: the control to restore (default: the first Flipreel)");
  sub.add_option("--user", o.setup.user, "addresses: ServerUserName");
  sub.add_option("--password", o.setup.password, "addresses: ServerPassword");
}

void AddPlayOptions(CLI::App& sub, InputOptions& o) {
  sub.add_option("--sequence", o.sequence, "0 Normal, 1 Reverse, 2 Random, 3 Ping Pong")
      ->check(CLI::Range(0, 3));
  sub.add_option("--autorewind", o.auto_rewind, "passes to play; 0 plays for ever")
      ->check(CLI::Range(-32768, 32767));
  sub.add_flag("--border", o.setup.border, "BorderStyle 1");
  sub.add_flag("--autosize", o.setup.autosize, "AutoSize True: the control takes the GIF's size");
  sub.add_flag("--stretch", o.setup.stretch, "Stretch True: the GIF is scaled to the control");
  AddComposedOption(sub, o);
}

void AddComposedOption(CLI::App& sub, InputOptions& o) {
  sub.add_flag("--composed", o.setup.composed,
               "Composed True: whole pictures, each frame for its own delay, as browsers play");
}

std::optional<std::string> DiagnoseGifFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return errno == ENOENT ? "no such file" : std::string(std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return "is a folder, not a GIF file";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "cannot be read: " + std::string(std::strerror(errno));
  char head[3] = {};
  const ssize_t n = ::read(fd, head, sizeof head);
  ::close(fd);
  if (n < 0) return "cannot be read: " + std::string(std::strerror(errno));
  if (st.st_size == 0) return "is empty";
  if (n < 3 || std::memcmp(head, "GIF", 3) != 0) return "is not a GIF file";
  return std::nullopt;
}

}  // namespace flipreel::cli
