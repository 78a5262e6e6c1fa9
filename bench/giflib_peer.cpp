// The peer of `flipreel info` in whole-process timings: a small program that
// opens a GIF with giflib, slurps it, converts every frame to 32-bit pixels
// and prints the number of frames.
#include <cstdio>
#include <vector>

#include "bench/bench_gifs.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: giflib_peer FILE\n");
    return 2;
  }
  std::vector<std::vector<uint32_t>> frames;
  const int count = benchgifs::GiflibSlurpToArgb(argv[1], frames);
  if (count < 0) {
    std::fprintf(stderr, "giflib_peer: cannot read %s\n", argv[1]);
    return 1;
  }
  std::printf("{\"frames\": %d}\n", count);
  return 0;
}
