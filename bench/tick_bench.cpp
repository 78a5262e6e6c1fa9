// Ticks per second of a loaded control on the headless host, for Normal and
// Ping Pong, with and without AutoSize, measured next to a peer that does
// only what a tick must do: copy one picture reference and two coordinates
// onto an image element and re-arm the timer. The ratios to that peer are
// printed after the run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "examples/example_gifs.h"
#include "flipreel/control/flipreel.h"
#include "flipreel/control/load_outcome.h"
#include "flipreel/headless/headless_host.h"

namespace {

using namespace flipreel;

constexpr int kFrames = 12;
constexpr const char* kPeer = "CopyFrameByHand";

// Loads a twelve-frame GIF of 100 x 60 pixels, each frame at its own
// offset.
void PutFrames(Flipreel& c, Host& host) {
  static const std::string bytes = [] {
    gifexamples::AnimatedGif gif;
    gif.width = 100 + kFrames;
    gif.height = 64;
    for (int i = 0; i < kFrames; ++i) gif.global_palette.push_back(0x101010u * i);
    for (int i = 0; i < kFrames; ++i) {
      gifexamples::FrameImage frame;
      frame.left = i;
      frame.top = 2 * (i % 3);
      frame.width = 100;
      frame.height = 60;
      frame.pixels.assign(100 * 60, static_cast<uint8_t>(i));
      gif.frames.push_back(frame);
    }
    return gifexamples::EncodeGif(gif);
  }();
  LoadGifBytes(c, host, bytes);
  if (c.Frames() != kFrames) std::abort();
}

void Tick(benchmark::State& state, int32_t sequence, bool auto_size) {
  HeadlessHost host;
  Flipreel c(host);
  c.InitProperties();
  PutFrames(c, host);
  c.SetFrameRate(100);
  c.SetAutoRewind(0);  // never finishes
  if (auto_size) c.SetAutoSize(true);
  c.StartAnimation();
  c.SetSequence(sequence);
  for (auto _ : state) {
    host.DeliverTick();
    benchmark::DoNotOptimize(c.state().FrameIndex);
  }
  state.SetItemsProcessed(state.iterations());
}

// The floor: the copies a tick cannot avoid, on the same host's elements.
void CopyFrameByHand(benchmark::State& state) {
  HeadlessHost host;
  Flipreel c(host);
  PutFrames(c, host);
  Image target(host, "target");
  Timer timer(host, "timer");
  timer.set_enabled(true);
  int index = 0;
  for (auto _ : state) {
    const Image& frame = c.imgBuffer()(index);
    target.set_left(frame.left());
    target.set_top(frame.top());
    target.set_picture(frame.picture());
    timer.set_interval(100);
    index = index + 1 < kFrames ? index + 1 : 0;
  }
  state.SetItemsProcessed(state.iterations());
}

// Console output as usual, plus the time per iteration of every run kept for
// the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration)
        times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
  }
  void PrintRatios() const {
    const auto peer = times_.find(kPeer);
    if (peer == times_.end() || peer->second <= 0) return;
    std::printf("\nTime per tick relative to %s (%.1f ns):\n", kPeer, peer->second);
    for (const auto& [name, time] : times_)
      if (name != kPeer)
        std::printf("  %-28s %6.1fx  (%.0f ticks/s)\n", name.c_str(), time / peer->second,
                    1e9 / time);
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark(kPeer, CopyFrameByHand);
  benchmark::RegisterBenchmark("Tick/Normal", Tick, kSequenceNormal, false);
  benchmark::RegisterBenchmark("Tick/PingPong", Tick, kSequencePingPong, false);
  benchmark::RegisterBenchmark("Tick/Normal/AutoSize", Tick, kSequenceNormal, true);
  benchmark::RegisterBenchmark("Tick/PingPong/AutoSize", Tick, kSequencePingPong, true);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
