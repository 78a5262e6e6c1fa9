// Decodes prepared before the split that announces them: the split takes
// them over, and what it is handed is what a decode at load time gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "examples/example_gifs.h"
#include "flipreel/control/frame_cuts.h"
#include "flipreel/gif/ahead_decoder.h"
#include "flipreel/gif/gif_decoder.h"
#include "tests/loading/loading_support.h"

using namespace flipreel;
using loadingtest::Span;

namespace {

// Seven frames of noise, large enough to be decoded ahead.
FrameFileList Files() {
  gifexamples::AnimatedGif gif;
  gif.width = 160;
  gif.height = 120;
  for (uint32_t c = 0; c < 64; ++c) gif.global_palette.push_back(c * 0x040404);
  std::mt19937 random(7);
  for (int t = 0; t < 7; ++t) {
    gifexamples::FrameImage f;
    f.width = gif.width;
    f.height = gif.height;
    for (int p = 0; p < f.width * f.height; ++p) f.pixels.push_back(random() % 64);
    gif.frames.push_back(std::move(f));
  }
  return CutFrames(std::make_shared<std::string>(gifexamples::EncodeGif(gif)))->files;
}

std::string FileBytes(const FrameFileList& files, size_t i) {
  const auto [offset, length] = files.chunks[i];
  return files.bytes->substr(0, files.header_size) + files.bytes->substr(offset, length);
}

// Waits for the prepared decodes to report that they are done.
struct DoneSignal {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  std::function<void()> Callback() {
    return [this] {
      std::lock_guard lock(mu);
      done = true;
      cv.notify_all();
    };
  }
  void Wait() {
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return done; });
  }
};

// Pixels of a picture, to compare with a decode made at load time.
std::vector<uint32_t> Pixels(const Picture& p) {
  std::vector<uint32_t> out;
  for (int y = 0; y < p.height(); ++y)
    for (int x = 0; x < p.width(); ++x) out.push_back(p.data()->PixelArgb(x, y));
  return out;
}

}  // namespace

// Cases: the split announces the same cuts (taken over, whatever the memory
// the decodes found when they ran) or other cuts (dropped, and the announced
// files decoded ahead afresh; the seventh file is then decoded when loaded).
TEST(Prepared, TakenOverOnlyBySameCutsAndFailuresDecodedAgain) {
  const FrameFileList files = Files();
  ASSERT_EQ(files.chunks.size(), 7u);
  struct Case {
    const char* name;
    bool same_cuts;
    int64_t budget_while_preparing;
    int64_t taken;
  } cases[] = {
      {"same cuts", true, int64_t{1} << 30, 7},
      // Every prepared decode failed for want of memory; at load time there
      // is enough, so the files decode then.
      {"same cuts, no memory while preparing", true, 1000, 7},
      {"other cuts", false, int64_t{1} << 30, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryBudget budget(c.budget_while_preparing);
    AheadDecoder decoder;
    decoder.set_budget(budget);
    DoneSignal signal;
    ASSERT_TRUE(decoder.Prepare(files, signal.Callback()));
    signal.Wait();
    budget.SetLimit(int64_t{1} << 30);
    FrameFileList announced = files;
    if (!c.same_cuts) announced.chunks.pop_back();
    decoder.Expect(announced);
    for (size_t i = 0; i < files.chunks.size(); ++i) {
      const std::string bytes = FileBytes(files, i);
      EXPECT_EQ(Pixels(decoder.Decode(Span(bytes))), Pixels(DecodeGif(Span(bytes))));
    }
    EXPECT_EQ(decoder.taken(), c.taken);
  }
}

// Files too few or too small to gain from other threads are not prepared.
TEST(Prepared, SmallLoadsAreNotPrepared) {
  FrameFileList files = Files();
  files.chunks.resize(1);
  AheadDecoder decoder;
  EXPECT_FALSE(decoder.Prepare(files, [] {}));
}

namespace {

// Threads of this process, as the system counts them.
size_t ProcessThreads() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ++n;
  return n;
}

// Polls `holds` every 20 ms for at most `limit`.
template <typename Fn>
bool WithinTime(std::chrono::milliseconds limit, Fn&& holds) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!holds()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace

// The callback that says the decodes are done may call the decoder again
// (here: drop the decodes and prepare the same files afresh) without a
// deadlock, and the decoder's destructor waits for a callback under way.
TEST(Prepared, CallbackMayCallTheDecoder) {
  const FrameFileList files = Files();
  DoneSignal second;
  std::promise<bool> reentered;
  AheadDecoder decoder;
  ASSERT_TRUE(decoder.Prepare(files, [&] {
    decoder.Expect({});
    reentered.set_value(decoder.Prepare(files, second.Callback()));
  }));
  std::future<bool> result = reentered.get_future();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_TRUE(result.get());
  second.Wait();
}

// The pool starts no more threads than it may and ends them once idle.
TEST(Prepared, PoolIsBoundedAndReleasesIdleThreads) {
  // One decode first (a sanitizer starts a thread of its own with the first
  // thread), then two idle seconds for the pool's threads to end.
  {
    DoneSignal warm_up;
    AheadDecoder decoder;
    ASSERT_TRUE(decoder.Prepare(Files(), warm_up.Callback()));
    warm_up.Wait();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  const size_t before = ProcessThreads();
  {
    DoneSignal signal;
    AheadDecoder decoder;
    ASSERT_TRUE(decoder.Prepare(Files(), signal.Callback()));
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t threads = ProcessThreads();
    EXPECT_GT(threads, before);
    EXPECT_LE(threads, before + std::min<size_t>(cores, 7));
    signal.Wait();
  }
  EXPECT_TRUE(WithinTime(std::chrono::seconds(15), [&] { return ProcessThreads() <= before; }));
}
