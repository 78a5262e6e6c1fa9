// Writes the example GIFs into a folder: make_examples FOLDER
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "examples/example_gifs.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_examples FOLDER\n");
    return 2;
  }
  try {
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    for (const gifexamples::Example& example : gifexamples::Examples())
      gifexamples::WriteGif((folder / example.file_name).string(), example.make());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_examples: %s\n", e.what());
    return 1;
  }
  return 0;
}
