#include "flipreel/qt/read_ahead.h"

#include <QFile>
#include <algorithm>
#include <cstdint>
#include <exception>
#include <span>
#include <thread>
#include <utility>

#include "flipreel/gif/gif_decoder.h"
#include "flipreel/host/background.h"
#include "flipreel/platform/files.h"
#include "flipreel/qt/picture_cache.h"
#include "flipreel/qt/shared_frames.h"

namespace flipreel {

// Bytes another control holds already are taken in place of these, so that
// every control that reads one file holds one copy of it; the cuts first, so
// that the frames start decoding. A composed load splits no frames: it is not
// cut.
void ReadAhead::Prepare(std::string raw, Result& result) {
  const std::shared_ptr<const std::string> bytes =
      SharedFrames::Of().ShareBytes(std::make_shared<const std::string>(std::move(raw)));
  if (!composing_) result.contents.cuts = result.cuts = CutFrames(bytes);
  result.contents.bytes = bytes;
  result.read = true;
  Cut(result);
}

// A composed load shows its first frame as soon as the bytes that settle it
// are at hand, long before the whole file is read, made into text and
// composed.
bool ReadAhead::ComposeFirst(std::string_view beginning) {
  {
    const std::lock_guard lock(mu_);
    if (!composing_ || !first_composed_.IsEmpty()) return false;
  }
  std::optional<ComposedFrame> first = ComposeFirstFrame(
      std::span(reinterpret_cast<const uint8_t*>(beginning.data()), beginning.size()));
  if (!first) return true;
  const std::lock_guard lock(mu_);
  if (first_composed_.IsEmpty()) first_composed_ = std::move(first->picture);
  return false;
}

void ReadAhead::Cut(Result& result) {
  const std::lock_guard lock(mu_);
  result_.cuts = result.cuts;
  cut_ = true;
  if (cut_ready_) std::exchange(cut_ready_, nullptr)();
}

namespace {

// A file is read in chunks, the first ones small: the beginning of a composed
// load's file is composed as soon as it arrives, until its first frame is had
// or kFirstFrameBytes have been looked at.
constexpr qint64 kFirstChunk = qint64{256} << 10;
constexpr qint64 kLargestChunk = qint64{4} << 20;
constexpr size_t kFirstFrameBytes = size_t{4} << 20;

// Reads the whole file into bytes, straight into the string the load keeps;
// `arrived` hears of each chunk read. False when the file cannot be read.
bool ReadFile(const QString& path, std::string& bytes,
              const std::function<void(std::string_view)>& arrived) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  // One byte more than the file has, so that the read that finds its end
  // moves nothing. A pipe or a device tells no size: it is read to its end.
  const qint64 size = std::max<qint64>(file.size(), 0);
  bytes.reserve(static_cast<size_t>(size) + 1);
  for (qint64 chunk = kFirstChunk;; chunk = std::min(chunk * 2, kLargestChunk)) {
    const size_t had = bytes.size();
    // Within what was reserved, unless the file has grown.
    const qint64 room = static_cast<qint64>(bytes.capacity() - had);
    const qint64 want = size > 0 && room > 0 ? std::min(chunk, room) : chunk;
    bytes.resize(had + static_cast<size_t>(want));
    const qint64 got = file.read(bytes.data() + had, want);
    bytes.resize(had + static_cast<size_t>(std::max<qint64>(got, 0)));
    if (got <= 0) return got == 0 && file.error() == QFileDevice::NoError;
    arrived(bytes);
  }
}

}  // namespace

std::optional<HostError> CheckGifFile(const QString& path) {
  return CheckGifFile(QFile::encodeName(path).toStdString());
}

std::shared_ptr<ReadAhead> ReadAhead::StartFile(const QString& path,
                                                std::optional<MemoryBudget> compose,
                                                size_t ready_to_paint_bytes) {
  return Start(
      [path](ReadAhead& ahead, Result& result) {
        std::string bytes;
        const bool read = ReadFile(path, bytes, [&](std::string_view beginning) {
          if (beginning.size() <= kFirstFrameBytes) ahead.ComposeFirst(beginning);
        });
        if (read) ahead.Prepare(std::move(bytes), result);
      },
      std::move(compose), ready_to_paint_bytes);
}

std::shared_ptr<ReadAhead> ReadAhead::StartBytes(QByteArray bytes,
                                                 std::optional<MemoryBudget> compose,
                                                 size_t ready_to_paint_bytes) {
  return Start(
      [bytes = std::move(bytes)](ReadAhead& ahead, Result& result) {
        const std::string_view all(bytes.constData(), static_cast<size_t>(bytes.size()));
        for (size_t size = kFirstChunk; ahead.ComposeFirst(all.substr(0, size)); size *= 2) {
          if (size >= all.size() || size >= kFirstFrameBytes) break;
        }
        ahead.Prepare(std::string(bytes.constData(), static_cast<size_t>(bytes.size())), result);
      },
      std::move(compose), ready_to_paint_bytes);
}

std::shared_ptr<ReadAhead> ReadAhead::StartCut(std::shared_ptr<const std::string> bytes) {
  return Start([bytes = std::move(bytes)](ReadAhead& ahead, Result& result) {
    result.cuts = CutFrames(bytes);
    ahead.Cut(result);
  });
}

std::shared_ptr<ReadAhead> ReadAhead::Start(std::function<void(ReadAhead&, Result&)> work,
                                            std::optional<MemoryBudget> compose,
                                            size_t ready_to_paint_bytes) {
  std::shared_ptr<ReadAhead> ahead(new ReadAhead());
  ahead->composing_ = compose.has_value();
  auto run = [ahead, work = std::move(work), compose = std::move(compose), ready_to_paint_bytes] {
    RunInBackground();
    Result result;
    try {
      work(*ahead, result);
    } catch (const std::exception&) {
      // Out of memory: the load reads the file itself, and fails as it would.
      result = Result();
    }
    std::shared_ptr<const std::string> bytes = result.contents.bytes;
    {
      const std::lock_guard lock(ahead->mu_);
      ahead->result_ = std::move(result);
      ahead->cut_ = ahead->done_ = true;
      // Unread bytes are not composed: the load reads them itself.
      if (!bytes) ahead->composing_ = false;
      ahead->done_cv_.notify_all();
      if (ahead->cut_ready_) std::exchange(ahead->cut_ready_, nullptr)();
      if (ahead->ready_) std::exchange(ahead->ready_, nullptr)();
    }
    if (compose && bytes) ahead->Compose(std::move(bytes), *compose, ready_to_paint_bytes);
  };
  try {
    std::thread(std::move(run)).detach();
  } catch (const std::exception&) {
    // No thread to be had: the load reads the file itself.
    const std::lock_guard lock(ahead->mu_);
    ahead->cut_ = ahead->done_ = true;
    ahead->composing_ = false;
  }
  return ahead;
}

// As the host composes inside the load: the budget follows the file first.
// An error is kept to be raised inside the load, where composing at once
// would raise it; anything else leaves the load to compose the bytes itself.
void ReadAhead::Compose(std::shared_ptr<const std::string> bytes, MemoryBudget budget,
                        size_t ready_to_paint_bytes) {
  Composition made;
  try {
    budget.FollowFile(static_cast<int64_t>(bytes->size()));
    // Bytes some control holds composed already give their frames; looking
    // them up here costs the event loop nothing.
    made.error = Trap([&] {
      made.animation = SharedFrames::Of().Animation(*bytes, [&] {
        // Frames kept compact for the whole animation go into blocks of
        // many frames (fewer page faults); frames held ready to paint let
        // their compact pictures go one by one, so those take memory of
        // their own.
        ComposedAnimation animation = ComposeGif(
            std::span(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()), &budget,
            [this](const ComposedFrame& frame) {
              const std::lock_guard lock(mu_);
              if (first_composed_.IsEmpty()) first_composed_ = frame.picture;
            },
            ready_to_paint_bytes == 0 ? FrameMemory::kBlocks : FrameMemory::kEach);
        // The first frame shown before the rest was composed is the
        // animation's own, so that what the host made of it to paint serves
        // the load too. It keeps the frame composed now, with the memory
        // reserved for it, while it lives.
        const Picture shown = FirstComposed();
        if (!animation.frames.empty() && !shown.IsEmpty()) {
          Picture& first = animation.frames.front().picture;
          if (first != shown && first.data()->SamePixels(*shown.data()))
            first = KeepReserved(shown, first.shared());
        }
        HoldFramesReadyToPaint(animation, ready_to_paint_bytes, &budget);
        return animation;
      });
    });
  } catch (const std::exception&) {
    bytes.reset();
  }
  const std::lock_guard lock(mu_);
  if (bytes) {
    composed_bytes_ = std::move(bytes);
    composition_ = std::move(made);
  }
  composing_ = false;
  done_cv_.notify_all();
}

bool ReadAhead::Composing() {
  const std::lock_guard lock(mu_);
  return composing_;
}

Picture ReadAhead::FirstComposed() {
  const std::lock_guard lock(mu_);
  return first_composed_;
}

std::optional<ReadAhead::Composition> ReadAhead::TakeComposition(std::string_view bytes) {
  std::unique_lock lock(mu_);
  done_cv_.wait(lock, [&] { return done_ && !composing_; });
  if (!composition_ || !composed_bytes_) return std::nullopt;
  // The load asks with the very bytes read here, unless it converted them
  // from elsewhere: only those are compared.
  const bool same =
      (composed_bytes_->data() == bytes.data() && composed_bytes_->size() == bytes.size()) ||
      *composed_bytes_ == bytes;
  if (!same) return std::nullopt;
  composed_bytes_.reset();
  return std::exchange(composition_, std::nullopt);
}

void ReadAhead::SetReady(std::function<void()> cut, std::function<void()> ready) {
  const std::lock_guard lock(mu_);
  if (cut_) {
    cut();
  } else {
    cut_ready_ = std::move(cut);
  }
  if (done_) {
    ready();
  } else {
    ready_ = std::move(ready);
  }
}

bool ReadAhead::ready() {
  const std::lock_guard lock(mu_);
  return done_;
}

std::optional<FrameCuts> ReadAhead::Cuts() {
  const std::lock_guard lock(mu_);
  return result_.cuts;
}

bool ReadAhead::Read() {
  std::unique_lock lock(mu_);
  done_cv_.wait(lock, [&] { return done_; });
  return result_.read;
}

Host::Contents ReadAhead::TakeContents() {
  std::unique_lock lock(mu_);
  done_cv_.wait(lock, [&] { return done_; });
  return std::exchange(result_.contents, {});
}

void ReadAhead::Forget() {
  const std::lock_guard lock(mu_);
  cut_ready_ = nullptr;
  ready_ = nullptr;
}

}  // namespace flipreel
