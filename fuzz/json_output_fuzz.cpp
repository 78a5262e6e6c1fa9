// The tool's output for hostile texts. The input is a file name and the
// file's content ("name\ncontent"); `info` and `simulate` run on it in this
// process, with and without --json. Whatever the bytes (names that are not
// UTF-8, saved forms cut inside a character, control characters), the JSON
// must parse and every line written must be valid UTF-8 without control
// characters other than the line ends.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/input_folder.h"
#include "tests/cli/run_tool.h"

namespace {

// Valid UTF-8 without control characters other than the line end. JSON may
// carry DEL (0x7F) as it is: a JSON reader takes it, and no terminal acts on it.
bool IsCleanUtf8(std::string_view s, bool json) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\n') || (c == 0x7F && !json)) return false;
      ++i;
      continue;
    }
    const size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (len == 0 || c > 0xF4 || i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const InputFolder folder;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  std::string name(input.substr(0, std::min<size_t>(newline, 200)));
  const std::string_view content =
      newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
  for (char& c : name)
    if (c == '/' || c == '\0') c = '_';
  if (name.empty() || name == "." || name == "..") name = "_";
  const std::string path = folder.path() + "/" + name;

  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  if (!content.empty() && ::write(fd, content.data(), content.size()) < 0) std::abort();
  ::close(fd);

  for (const std::vector<std::string>& args : {std::vector<std::string>{"info", "--json", path},
                                               {"info", path},
                                               {"simulate", "--json", "--ticks", "3", path},
                                               {"simulate", "--ticks", "3", path}}) {
    const clitest::Result r = clitest::RunTool(args);
    if (r.status == flipreel::cli::kExitUsage) std::abort();  // the arguments are ours
    const bool json = args[1] == "--json";
    if (!IsCleanUtf8(r.out, json) || !IsCleanUtf8(r.err, false)) std::abort();
    if (json && !nlohmann::json::accept(r.out)) std::abort();
  }
  ::unlink(path.c_str());
  return 0;
}
