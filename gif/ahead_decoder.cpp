#include "flipreel/gif/ahead_decoder.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "flipreel/gif/gif_decoder.h"
#include "flipreel/host/background.h"

namespace flipreel {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);
// Frame data below which a load is decoded file by file as it is loaded.
constexpr size_t kSmallLoad = size_t{64} << 10;

// The outcome of one announced file.
struct Slot {
  enum State : uint8_t { kWaiting, kClaimed, kDone };
  State state = kWaiting;
  bool unwanted = false;  // its picture is let go as soon as it is decoded
  Picture picture;
  std::exception_ptr error;
};

}  // namespace

// One announcement: its files and their outcomes. Files are claimed in order,
// by the pool's threads or by the host's thread when it needs one that no
// thread has started.
struct AheadDecoder::Batch {
  Batch(FrameFileList f, std::optional<MemoryBudget> b, std::shared_ptr<const Lookup> l,
        std::shared_ptr<std::atomic<int64_t>> d, std::function<void()> on_decoded)
      : files(std::move(f)),
        budget(std::move(b)),
        lookup(std::move(l)),
        decodes(std::move(d)),
        prepared(on_decoded != nullptr),
        slots(files.chunks.size()),
        decoded(std::move(on_decoded)) {}

  bool Matches(size_t i, std::span<const uint8_t> bytes) const {
    const auto [offset, length] = files.chunks[i];
    const size_t header = files.header_size;
    return bytes.size() == header + length &&
           std::memcmp(bytes.data(), files.bytes->data(), header) == 0 &&
           std::memcmp(bytes.data() + header, files.bytes->data() + offset, length) == 0;
  }

  // The next file no one has started, marked as started; kNone when there is
  // none or the announcement was withdrawn.
  size_t Claim() {
    std::lock_guard lock(mu);
    while (next_claim < slots.size() && slots[next_claim].state != Slot::kWaiting) ++next_claim;
    if (cancelled || next_claim == slots.size()) return kNone;
    slots[next_claim].state = Slot::kClaimed;
    return next_claim++;
  }

  // Decodes file i, which the caller has claimed, and records the outcome.
  void Run(size_t i) {
    // One buffer per thread, reused from file to file unless it is large.
    thread_local std::string file;
    Slot outcome;
    try {
      const auto [offset, length] = files.chunks[i];
      file.assign(files.bytes->data(), files.header_size);
      file.append(files.bytes->data() + offset, length);
      const std::span bytes(reinterpret_cast<const uint8_t*>(file.data()), file.size());
      if (lookup) outcome.picture = (*lookup)(bytes);
      if (outcome.picture.IsEmpty()) {
        ++*decodes;
        outcome.picture = DecodeGif(bytes, budget ? &*budget : nullptr);
      }
    } catch (...) {
      outcome.error = std::current_exception();
    }
    if (file.capacity() > (size_t{4} << 20)) std::string().swap(file);
    std::function<void()> call;
    {
      std::lock_guard lock(mu);
      if (!slots[i].unwanted) {
        slots[i].picture = std::move(outcome.picture);
        slots[i].error = std::move(outcome.error);
      }
      slots[i].state = Slot::kDone;
      done.notify_all();
      if (++done_count == slots.size() && decoded) {
        call = std::exchange(decoded, nullptr);
        calling = std::this_thread::get_id();
      }
    }
    if (!call) return;
    // Called outside the lock, so that it may call the decoder again; Cancel
    // and TakeOver wait for it to end.
    call();
    call = nullptr;
    std::lock_guard lock(mu);
    calling = std::thread::id();
    done.notify_all();
  }

  // The outcome of file i: waits for the thread decoding it, or decodes it
  // here when no thread has started it.
  Picture Take(size_t i) {
    std::unique_lock lock(mu);
    if (slots[i].state == Slot::kWaiting) {
      slots[i].state = Slot::kClaimed;
      lock.unlock();
      Run(i);
      lock.lock();
    }
    done.wait(lock, [&] { return slots[i].state == Slot::kDone; });
    Slot& slot = slots[i];
    if (slot.error) std::rethrow_exception(std::exchange(slot.error, nullptr));
    return std::exchange(slot.picture, Picture());
  }

  // File i's picture is not needed: it is let go now, or once decoded.
  void Drop(size_t i) {
    Picture dropped;
    std::lock_guard lock(mu);
    slots[i].unwanted = true;
    dropped = std::exchange(slots[i].picture, Picture());
    slots[i].error = nullptr;
  }

  // Drops the decodes no one has started.
  void Cancel() { Withdraw(true); }

  // A split announces the files this batch was prepared with.
  void TakeOver() { Withdraw(false); }

  // Once this returns the completion callback is neither running nor going
  // to run, unless this is called from the callback itself.
  void Withdraw(bool cancel) {
    std::unique_lock lock(mu);
    if (cancel) cancelled = true;
    decoded = nullptr;
    done.wait(lock, [&] {
      return calling == std::thread::id() || calling == std::this_thread::get_id();
    });
  }

  const FrameFileList files;
  const std::optional<MemoryBudget> budget;
  const std::shared_ptr<const Lookup> lookup;
  const std::shared_ptr<std::atomic<int64_t>> decodes;
  // Started before its split, while the previous file's frames still held
  // their memory: a decode that failed is done again when its file is loaded,
  // so that the error is the one a decode at that moment gives.
  const bool prepared;
  std::mutex mu;
  std::condition_variable done;
  std::vector<Slot> slots;
  size_t next_claim = 0;
  size_t done_count = 0;
  bool cancelled = false;
  std::function<void()> decoded;
  std::thread::id calling;  // the thread running `decoded`, while it runs
};

namespace {

// The threads that decode ahead, shared by every host of the process: at
// most one per core (and never more than kMaxThreads), started when work
// arrives and ended once they have been idle for kIdleTime. Each takes the
// oldest announcement that still has files no one has started.
class Pool {
 public:
  static constexpr unsigned kMaxThreads = 8;
  static constexpr std::chrono::milliseconds kIdleTime{2000};

  static Pool& Instance() {
    static Pool pool;
    return pool;
  }

  // False when no thread could be started: the files are then decoded as
  // they are loaded.
  bool Add(std::shared_ptr<AheadDecoder::Batch> batch) {
    std::lock_guard lock(mu_);
    const unsigned limit = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
    const size_t wanted = std::min<size_t>(limit, batch->slots.size());
    while (live_ < wanted) {
      try {
        std::thread([this] { Work(); }).detach();
      } catch (const std::system_error&) {
        if (live_ == 0) return false;
        break;
      }
      ++live_;
    }
    queue_.push_back(std::move(batch));
    work_.notify_all();
    return true;
  }

  // Threads still working at exit finish their file and end.
  ~Pool() {
    std::unique_lock lock(mu_);
    stopping_ = true;
    work_.notify_all();
    gone_.wait(lock, [&] { return live_ == 0; });
  }

 private:
  Pool() = default;

  void Work() {
    RunInBackground();
    std::unique_lock lock(mu_);
    for (;;) {
      if (!work_.wait_for(lock, kIdleTime, [&] { return stopping_ || !queue_.empty(); }) ||
          stopping_)
        break;
      std::shared_ptr<AheadDecoder::Batch> batch = queue_.front();
      lock.unlock();
      const size_t i = batch->Claim();
      if (i != kNone) batch->Run(i);
      lock.lock();
      // A batch with nothing left to start leaves the queue; the last
      // reference to it is dropped outside the lock.
      if (i == kNone && !queue_.empty() && queue_.front() == batch) queue_.pop_front();
      lock.unlock();
      batch.reset();
      lock.lock();
    }
    --live_;
    gone_.notify_all();
  }

  std::mutex mu_;
  std::condition_variable work_;
  std::condition_variable gone_;
  std::deque<std::shared_ptr<AheadDecoder::Batch>> queue_;
  size_t live_ = 0;
  bool stopping_ = false;
};

}  // namespace

AheadDecoder::AheadDecoder() = default;

AheadDecoder::~AheadDecoder() {
  if (batch_) batch_->Cancel();
}

namespace {

// Whether two announcements cut the same bytes at the same places (each file
// a prepared decode hands out is still compared with the file loaded).
bool SameCuts(const FrameFileList& a, const FrameFileList& b) {
  return a.bytes && b.bytes && a.bytes->size() == b.bytes->size() &&
         a.header_size == b.header_size && a.chunks == b.chunks;
}

// A single file, or a few small ones, gain nothing from another thread:
// waking one costs more than decoding them here.
bool WorthDecodingAhead(const FrameFileList& files) {
  if (!files.bytes || files.chunks.size() < 2) return false;
  size_t bytes = 0;
  for (const auto& [offset, length] : files.chunks) bytes += length;
  return bytes >= kSmallLoad;
}

}  // namespace

void AheadDecoder::Expect(FrameFileList files) noexcept {
  next_ = 0;
  if (batch_ && batch_->prepared && SameCuts(batch_->files, files)) {
    batch_->TakeOver();
    return;
  }
  (void)Start(std::move(files), nullptr);
}

bool AheadDecoder::Prepare(FrameFileList files, std::function<void()> decoded) noexcept {
  next_ = 0;
  return decoded && Start(std::move(files), std::move(decoded));
}

bool AheadDecoder::Start(FrameFileList files, std::function<void()> decoded) noexcept {
  if (batch_) batch_->Cancel();
  batch_.reset();
  if (!WorthDecodingAhead(files)) return false;
  try {
    // Held before the threads may start: their callback may call this
    // decoder, which then finds the batch in place.
    batch_ =
        std::make_shared<Batch>(std::move(files), budget_, lookup_, decodes_, std::move(decoded));
    if (Pool::Instance().Add(batch_)) return true;
    batch_.reset();
    return false;
  } catch (const std::exception&) {
    // Without decodes ahead every file is decoded as it is loaded.
    return false;
  }
}

bool AheadDecoder::NextDecoded() const {
  if (!batch_) return true;
  const std::lock_guard lock(batch_->mu);
  return next_ >= batch_->slots.size() || batch_->slots[next_].state == Slot::kDone;
}

Picture AheadDecoder::FirstDecoded() const {
  if (!batch_ || batch_->slots.empty()) return Picture();
  const std::lock_guard lock(batch_->mu);
  return batch_->slots[0].state == Slot::kDone ? batch_->slots[0].picture : Picture();
}

size_t AheadDecoder::Next(std::span<const uint8_t> bytes) {
  if (!batch_) return kNone;
  const size_t end = std::min(next_ + 2, batch_->slots.size());
  for (size_t i = next_; i < end; ++i) {
    if (!batch_->Matches(i, bytes)) continue;
    next_ = i + 1;
    return i;
  }
  return kNone;
}

Picture AheadDecoder::Decode(std::span<const uint8_t> bytes) {
  if (const size_t i = Next(bytes); i != kNone) {
    ++taken_;
    if (!batch_->prepared) return batch_->Take(i);
    try {
      return batch_->Take(i);
    } catch (...) {
      // decoded again below
    }
  }
  ++*decodes_;
  return DecodeGif(bytes, budget_ ? &*budget_ : nullptr);
}

void AheadDecoder::Skip(std::span<const uint8_t> bytes) {
  if (const size_t i = Next(bytes); i != kNone) batch_->Drop(i);
}

}  // namespace flipreel
