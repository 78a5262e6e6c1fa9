// Runs a fuzz target's input function on every file under the folders named
// on the command line, in name order, without the fuzzing engine: the seed
// corpus and every input that ever failed replay in the ordinary test suite
// with the ordinary compiler. A failing input aborts, as it does under the
// engine; its name is printed first so that the log says which one it was.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  // The seed corpus is made by scripts/fuzz and not kept in the repository;
  // the regressions folder always is, so a run that finds no folder at all
  // has been given a wrong path.
  int folders = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (!fs::is_directory(argv[i], ec)) continue;
    ++folders;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(argv[i]))
      if (e.is_regular_file() && e.path().filename().string()[0] != '.') inputs.push_back(e.path());
  }
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path& path : inputs) {
    std::fprintf(stderr, "replaying %s\n", path.c_str());
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return folders == 0 ? 1 : 0;
}
