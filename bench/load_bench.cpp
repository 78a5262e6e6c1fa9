// Loading a GIF through FlipreelFile (the whole file read into Buffer, split,
// every frame written to the scratch file, decoded and deleted) next to
// giflib's own whole-file DGifSlurp plus conversion of every frame to 32-bit
// pixels, on the same files in the same run. After the runs it prints, per
// shape, the ratio of our median time to giflib's, and the peak resident
// memory that one load of each adds to a fresh process.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_gifs.h"
#include "flipreel/control/flipreel.h"
#include "flipreel/headless/headless_host.h"

namespace {

using benchgifs::Shape;

benchgifs::Files& TheFiles() {
  static benchgifs::Files files;
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

void GiflibSlurp(benchmark::State& state, const Shape* shape) {
  const std::string path = TheFiles().Path(*shape);
  std::vector<std::vector<uint32_t>> frames;
  for (auto _ : state) {
    const int count = benchgifs::GiflibSlurpToArgb(path.c_str(), frames);
    if (count < 0) {
      state.SkipWithError("giflib could not read the file");
      break;
    }
    if (count != shape->frames) state.SkipWithError("wrong frame count");
    benchmark::DoNotOptimize(frames.data());
  }
}

// Loads the file times times, as the timed runs do, by one control or by
// giflib.
void Load(const std::string& who, const std::string& path, int times) {
  if (who == "ours") {
    flipreel::HeadlessHost host;
    flipreel::Flipreel control(host);
    control.InitProperties();
    for (int i = 0; i < times; ++i) {
      control.SetFlipreelFile(flipreel::Utf8ToText(path));
      benchmark::DoNotOptimize(control.imgGif().picture().data());
    }
  } else {
    std::vector<std::vector<uint32_t>> frames;
    for (int i = 0; i < times; ++i) {
      benchgifs::GiflibSlurpToArgb(path.c_str(), frames);
      benchmark::DoNotOptimize(frames.data());
    }
  }
}

// One load in this fresh process (started with --peak-child ours|giflib
// FILE): prints the most resident memory the load added, in MiB.
int PeakChild(const std::string& who, const std::string& path) {
  const int64_t before = benchgifs::ResidentBytes();
  benchgifs::ResetPeakResident();
  Load(who, path, 1);
  std::printf("%.2f\n", static_cast<double>(benchgifs::PeakResidentBytes() - before) / 1048576.0);
  return 0;
}

// The most resident memory one load adds to a fresh process, in MiB.
double PeakLoadMiB(const char* self, const Shape& shape, const char* who) {
  const std::string command =
      std::string(self) + " --peak-child " + who + " '" + TheFiles().Path(shape) + "'";
  std::FILE* child = ::popen(command.c_str(), "r");
  double mib = -1;
  if (!child) return mib;
  if (std::fscanf(child, "%lf", &mib) != 1) mib = -1;
  ::pclose(child);
  return mib;
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
  // The peaks are measured in fresh processes after the timings, for the
  // shapes that were timed.
  void PrintRatios(const char* self) const {
    std::printf(
        "\nflipreel load / giflib slurp + 32-bit conversion, medians, %u cores (goal <= 0.35)\n"
        "(CPU time: every thread of the process)\n"
        "  %-24s %10s %10s %14s %14s\n",
        std::thread::hardware_concurrency(), "shape", "real time", "CPU time", "peak MiB ours",
        "peak MiB giflib");
    for (const Shape& shape : benchgifs::Shapes()) {
      const auto ours = medians_.find(std::string("FlipreelLoad/") + shape.name);
      const auto theirs = medians_.find(std::string("GiflibSlurp/") + shape.name);
      if (ours == medians_.end() || theirs == medians_.end()) continue;
      std::printf("  %-24s %10.2f %10.2f %14.1f %14.1f\n", shape.name,
                  ours->second.first / theirs->second.first,
                  ours->second.second / theirs->second.second, PeakLoadMiB(self, shape, "ours"),
                  PeakLoadMiB(self, shape, "giflib"));
    }
  }

 private:
  std::map<std::string, std::pair<double, double>> medians_;  // real, CPU
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--peak-child") return PeakChild(argv[2], argv[3]);
  // Loads without timing, to count instructions under a profiler:
  // --repeat ours|giflib FILE TIMES (the shapes' files: process_bench --write).
  if (argc == 5 && std::string(argv[1]) == "--repeat") {
    Load(argv[2], argv[3], std::max(1, std::atoi(argv[4])));
    return 0;
  }
  for (const Shape& shape : benchgifs::Shapes()) {
    const double min_time = shape.frames * shape.width * shape.height > 10'000'000 ? 1.0 : 0.2;
    benchmark::RegisterBenchmark((std::string("FlipreelLoad/") + shape.name).c_str(), FlipreelLoad,
                                 &shape)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(min_time)
        ->Repetitions(5)
        ->MeasureProcessCPUTime()
        ->UseRealTime()
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark((std::string("GiflibSlurp/") + shape.name).c_str(), GiflibSlurp,
                                 &shape)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(min_time)
        ->Repetitions(5)
        ->MeasureProcessCPUTime()
        ->UseRealTime()
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
  reporter.PrintRatios(argv[0]);
  benchmark::Shutdown();
  return 0;
}
