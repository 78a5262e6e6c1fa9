// Loading a GIF through FlipreelFile (the whole file read into Buffer, split,
// every frame written to the scratch file, decoded and deleted) next to
// giflib's own whole-file DGifSlurp plus conversion of every frame to 32-bit
// pixels, on the same files in the same run. After the runs it prints, per
// shape, the ratio of our median time to giflib's.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "control/flipreel.h"
#include "examples/example_gifs.h"
#include "headless/headless_host.h"

namespace {

struct Shape {
  const char* name;
  int width, height, frames;
};

constexpr Shape kShapes[] = {
    {"small_4x64x48", 64, 48, 4},
    {"480x270x120", 480, 270, 120},
    {"128x128x2000", 128, 128, 2000},
    {"1280x720x200", 1280, 720, 200},
};

// Frames like those of a screen recording or a cartoon: smooth colour
// gradients in a 64-colour table that drift from frame to frame, a moving
// box, and a little noise so that the compression has work to do.
gifexamples::AnimatedGif Draw(const Shape& shape, uint32_t seed) {
  gifexamples::AnimatedGif gif;
  gif.width = shape.width;
  gif.height = shape.height;
  for (int i = 0; i < 64; ++i)
    gif.global_palette.push_back(static_cast<uint32_t>((i * 4) << 16 | (255 - i * 4) << 8 | 128));
  uint32_t noise = seed;
  for (int t = 0; t < shape.frames; ++t) {
    gifexamples::FrameImage f;
    f.width = shape.width;
    f.height = shape.height;
    f.delay_cs = 4;
    f.pixels.resize(static_cast<size_t>(f.width) * f.height);
    const int box_x = (t * 7) % std::max(1, shape.width - 16);
    const int box_y = (t * 3) % std::max(1, shape.height - 16);
    for (int y = 0; y < f.height; ++y) {
      for (int x = 0; x < f.width; ++x) {
        noise = noise * 1103515245u + 12345u;
        int v = ((x + t) / 8 + (y / 12)) % 64;
        if ((noise >> 28) == 0) v = (v + 1) % 64;
        if (x >= box_x && x < box_x + 16 && y >= box_y && y < box_y + 16) v = 63 - v;
        f.pixels[static_cast<size_t>(y) * f.width + x] = static_cast<uint8_t>(v);
      }
    }
    gif.frames.push_back(std::move(f));
  }
  return gif;
}

int Signatures(const std::string& bytes) {
  static const std::string kSignature("\x00\x21\xF9", 3);
  int count = 0;
  for (size_t at = bytes.find(kSignature); at != std::string::npos;
       at = bytes.find(kSignature, at + 3))
    ++count;
  return count;
}

class Files {
 public:
  Files() {
    std::string templ =
        (std::filesystem::temp_directory_path() / "flipreel-load-bench-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    folder_ = templ;
  }
  ~Files() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  const std::string& Path(const Shape& shape) {
    auto it = paths_.find(shape.name);
    if (it != paths_.end()) return it->second;
    // Compressed data can hold the bytes 00 21 F9 by chance, and the split
    // would then see a frame more; such a file is drawn again with other noise.
    std::string bytes;
    for (uint32_t seed = 1;; ++seed) {
      bytes = gifexamples::EncodeGif(Draw(shape, seed));
      if (Signatures(bytes) == shape.frames) break;
    }
    const std::string path = folder_ + "/" + shape.name + ".gif";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0)
      throw std::runtime_error("cannot write " + path);
    std::fprintf(stderr, "%s: %zu bytes\n", shape.name, bytes.size());
    return paths_[shape.name] = path;
  }

 private:
  std::string folder_;
  std::map<std::string, std::string> paths_;
};

Files& TheFiles() {
  static Files files;
  return files;
}

// One control loads the file again and again, as a player does that is given
// one file after another; its host's private folder is made on the first load.
void FlipreelLoad(benchmark::State& state, const Shape* shape) {
  const flipreel::Text path = flipreel::Utf8ToText(TheFiles().Path(*shape));
  flipreel::HeadlessHost host;
  flipreel::Flipreel control(host);
  control.InitProperties();
  for (auto _ : state) {
    control.SetFlipreelFile(path);
    if (control.Frames() != shape->frames) state.SkipWithError("wrong frame count");
    benchmark::DoNotOptimize(control.imgGif().picture().data());
  }
}

struct DecoderCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

void GiflibSlurp(benchmark::State& state, const Shape* shape) {
  const std::string path = TheFiles().Path(*shape);
  for (auto _ : state) {
    int error = 0;
    std::unique_ptr<GifFileType, DecoderCloser> gif(DGifOpenFileName(path.c_str(), &error));
    if (!gif || DGifSlurp(gif.get()) == GIF_ERROR) {
      state.SkipWithError("giflib could not read the file");
      break;
    }
    std::vector<std::vector<uint32_t>> frames;
    frames.reserve(static_cast<size_t>(gif->ImageCount));
    for (int i = 0; i < gif->ImageCount; ++i) {
      const SavedImage& image = gif->SavedImages[i];
      GraphicsControlBlock gcb{};
      gcb.TransparentColor = NO_TRANSPARENT_COLOR;
      DGifSavedExtensionToGCB(gif.get(), i, &gcb);
      const ColorMapObject* map =
          image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
      uint32_t palette[256];
      for (int c = 0; c < 256; ++c) {
        const GifColorType rgb = map && c < map->ColorCount ? map->Colors[c] : GifColorType{};
        palette[c] = (c == gcb.TransparentColor ? 0u : 0xFF000000u) | uint32_t{rgb.Red} << 16 |
                     uint32_t{rgb.Green} << 8 | rgb.Blue;
      }
      const size_t pixels = static_cast<size_t>(image.ImageDesc.Width) * image.ImageDesc.Height;
      std::vector<uint32_t> argb(pixels);
      for (size_t p = 0; p < pixels; ++p) argb[p] = palette[image.RasterBits[p]];
      frames.push_back(std::move(argb));
    }
    if (static_cast<int>(frames.size()) != shape->frames) state.SkipWithError("wrong frame count");
    benchmark::DoNotOptimize(frames.data());
  }
}

// Keeps the median time of every run and prints the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians_[run.run_name.function_name] = {run.GetAdjustedRealTime(),
                                                run.GetAdjustedCPUTime()};
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    std::printf(
        "\nflipreel load / giflib slurp + 32-bit conversion, medians (goal <= 0.80)\n"
        "  %-16s %10s %10s\n",
        "shape", "real time", "CPU time");
    for (const Shape& shape : kShapes) {
      const auto ours = medians_.find(std::string("FlipreelLoad/") + shape.name);
      const auto theirs = medians_.find(std::string("GiflibSlurp/") + shape.name);
      if (ours == medians_.end() || theirs == medians_.end()) continue;
      std::printf("  %-16s %10.2f %10.2f\n", shape.name, ours->second.first / theirs->second.first,
                  ours->second.second / theirs->second.second);
    }
  }

 private:
  std::map<std::string, std::pair<double, double>> medians_;  // real, CPU
};

}  // namespace

int main(int argc, char** argv) {
  for (const Shape& shape : kShapes) {
    const double min_time = shape.frames * shape.width * shape.height > 10'000'000 ? 2.0 : 0.5;
    benchmark::RegisterBenchmark((std::string("FlipreelLoad/") + shape.name).c_str(), FlipreelLoad,
                                 &shape)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(min_time)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark((std::string("GiflibSlurp/") + shape.name).c_str(), GiflibSlurp,
                                 &shape)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(min_time)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
  }
  // Repetitions of the two run interleaved in random order, so that both
  // meet the same load from the rest of the machine.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  argc = static_cast<int>(args.size());
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
