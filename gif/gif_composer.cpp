#include "flipreel/gif/gif_composer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "flipreel/gif/gif_block_reader.h"
#include "flipreel/gif/gif_decoder.h"
#include "flipreel/gif/gif_facts.h"
#include "flipreel/gif/lzw_decoder.h"
#include "flipreel/host/errors.h"

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace flipreel {

namespace {

// Room for the indices of a large GIF's frames, cut from blocks of fresh
// memory of many frames each rather than asked of the allocator frame by
// frame. Fresh memory is touched a 4 KB page at a time as it is first
// written, each page a fault of its own: in a virtual machine the 184 MB of
// indices of 200 frames of 1280 x 720 took about half a second of the
// composing, most of its time, on a core the application's drawing needs
// too. A block is aligned to 2 MB and asks Linux for pages of that size
// (transparent huge pages, where the system gives them to those who ask),
// 512 times fewer faults; elsewhere, or when the system refuses, frames
// take memory of their own as before. A block's memory goes with the last
// frame cut from it, so blocks are for hosts that keep a GIF's frames
// together.
class IndexBlocks {
 public:
  // Blocks for the frames of `bytes` each that a file claims: none when they
  // take less than kLeast together.
  IndexBlocks(size_t bytes, int64_t frames) : bytes_(bytes), left_(frames) {
    on_ = bytes_ > 0 && frames > 0 && bytes_ * static_cast<uint64_t>(frames) >= kLeast;
  }

  // Room for one frame's indices; none when blocks are off or the system has
  // no memory to map (the frame then takes memory of its own).
  std::shared_ptr<uint8_t> Take() {
#ifdef __linux__
    if (!on_) return nullptr;
    if (!block_ || size_ - used_ < bytes_) {
      // Frames beyond the file's claim take memory of their own.
      if (left_ <= 0) return nullptr;
      NewBlock();
    }
    if (!block_) return nullptr;
    last_ = used_;
    used_ += bytes_;
    --left_;
    return std::shared_ptr<uint8_t>(block_, block_.get() + last_);
#else
    return nullptr;
#endif
  }

  // The room last taken is not used after all (the frame has more than 256
  // colours): the next frame takes it.
  void GiveBack() {
    used_ = last_;
    ++left_;
  }

 private:
  static constexpr uint64_t kLeast = uint64_t{8} << 20;
  static constexpr size_t kHugePage = size_t{2} << 20;
  static constexpr size_t kBlock = size_t{32} << 20;

#ifdef __linux__
  // A block for the frames still to come, up to kBlock (at least one frame),
  // rounded up to whole 2 MB pages.
  void NewBlock() {
    block_.reset();
    used_ = last_ = 0;
    const size_t frames = std::clamp<size_t>(static_cast<size_t>(std::max<int64_t>(left_, 1)), 1,
                                             std::max<size_t>(kBlock / bytes_, 1));
    size_ = (frames * bytes_ + kHugePage - 1) / kHugePage * kHugePage;
    // Mapped one page larger, to cut out a range aligned to 2 MB.
    const size_t mapped = size_ + kHugePage;
    void* at = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) {
      on_ = false;
      return;
    }
    auto* start = static_cast<uint8_t*>(at);
    auto* aligned = reinterpret_cast<uint8_t*>(
        (reinterpret_cast<uintptr_t>(start) + kHugePage - 1) & ~uintptr_t{kHugePage - 1});
    if (aligned > start) munmap(start, static_cast<size_t>(aligned - start));
    if (const size_t tail = mapped - size_ - static_cast<size_t>(aligned - start); tail > 0)
      munmap(aligned + size_, tail);
    (void)madvise(aligned, size_, MADV_HUGEPAGE);  // a hint: refused, pages are 4 KB
    const size_t size = size_;
    block_ = std::shared_ptr<uint8_t>(aligned, [size](uint8_t* p) { munmap(p, size); });
  }
#endif

  const size_t bytes_;
  int64_t left_;  // frames the file claims that have no room yet
  bool on_ = false;
  std::shared_ptr<uint8_t> block_;
  size_t size_ = 0, used_ = 0, last_ = 0;
};

// What the Graphic Control Extension before an image says about it. An
// image without one has no delay.
struct FrameControl {
  int disposal = 0;
  int delay_cs = 0;
  int transparent = -1;
};

// How the images of a file become frames, read from the file's facts before
// anything is decoded.
struct FramePlan {
  int width = 0, height = 0;  // the picture: the logical screen
  int64_t frames = 0;         // frames the file makes
  // A file in which no image has a delay but that asks to loop is played as
  // every reader plays it: each image a frame of its own.
  bool each_image_a_frame = false;
};

// The delay the images of a file that loops without any delay are shown for.
constexpr int kUndelayedLoopDelayCs = 10;

// An image with a delay ends a frame; the images without one before it are
// drawn at once, together with it. Images without a delay after the last
// delayed one make one more frame, so that a file without any delay is one
// still picture.
FramePlan PlanFrames(const GifFileFacts& facts) {
  FramePlan plan;
  plan.width = facts.screen_width;
  plan.height = facts.screen_height;
  if (!facts.images.empty()) {
    // A screen without width or height takes the first image's extent.
    const GifImageFacts& first = facts.images.front();
    if (plan.width == 0) plan.width = first.left + first.width;
    if (plan.height == 0) plan.height = first.top + first.height;
  }
  bool pending = false;
  for (const GifImageFacts& image : facts.images) {
    const bool delayed = image.delay_cs.value_or(0) > 0;
    plan.frames += delayed ? 1 : 0;
    pending = !delayed;
  }
  plan.each_image_a_frame = plan.frames == 0 && facts.repeat.has_value();
  if (plan.each_image_a_frame) {
    plan.frames = static_cast<int64_t>(facts.images.size());
  } else if (pending) {
    ++plan.frames;
  }
  return plan;
}

enum Disposal { kKeep, kClear, kRestorePrevious };

Disposal DisposalOf(int method) {
  switch (method) {
    case 2:
      return kClear;
    case 3:
    case 4:
      return kRestorePrevious;
    default:
      return kKeep;
  }
}

// Browsers show the tiny delays of old files at 10 hundredths, so that they
// do not race.
int32_t DelayMs(int delay_cs) {
  return (delay_cs <= 1 ? 10 : delay_cs) * 10;
}

using Palette = PictureData::Palette;

// The picture of the canvas: indices and a palette when its colours fit in
// 256 (transparent counts as one), else a copy of its ARGB pixels.
// With `blocks`, the indices go into room cut from them.
Picture CompactPicture(const std::vector<uint32_t>& canvas, int width, int height,
                       IndexBlocks* blocks) {
  constexpr size_t kSlots = 1024;  // a hash table kept at most a quarter full
  std::array<uint32_t, kSlots> keys;
  std::array<int16_t, kSlots> values;
  values.fill(-1);
  Palette palette{};
  int count = 0;
  auto index_of = [&](uint32_t colour) -> int {
    size_t slot = (colour * 2654435761u) >> 22;
    for (;; slot = (slot + 1) % kSlots) {
      if (values[slot] < 0) {
        if (count == 256) return -1;
        keys[slot] = colour;
        values[slot] = static_cast<int16_t>(count);
        palette[count] = colour;
        return count++;
      }
      if (keys[slot] == colour) return values[slot];
    }
  };
  std::shared_ptr<uint8_t> room = blocks ? blocks->Take() : nullptr;
  std::vector<uint8_t> own;
  if (!room) own.resize(canvas.size());
  uint8_t* const indices = room ? room.get() : own.data();
  uint32_t last = 0;
  int last_index = -1;
  for (size_t i = 0; i < canvas.size(); ++i) {
    if (canvas[i] != last || last_index < 0) {
      last = canvas[i];
      last_index = index_of(last);
      if (last_index < 0) {
        if (room) blocks->GiveBack();
        return Picture(PictureData::Argb(width, height, canvas));
      }
    }
    indices[i] = static_cast<uint8_t>(last_index);
  }
  if (room)
    return Picture(PictureData::Indexed(width, height, std::shared_ptr<const uint8_t>(room),
                                        std::make_shared<const Palette>(palette)));
  return Picture(PictureData::Indexed(width, height, std::move(own), palette));
}

// Reads the file's records one after the other, the way giflib's reader
// does: an image's rows are kept as far as they arrive whole, and a file cut
// short gets a few zero bytes after its end, so that a file cut after its
// last pixel still ends its image data (giflib wants the terminator after the
// last row), while a file cut earlier fails where the cut is, since a zero
// ends every chain of sub-blocks. Blocks that needed those zeros are not
// taken as read.
class Composer {
 public:
  Composer(std::span<const uint8_t> bytes, const FramePlan& plan, const MemoryBudget* budget,
           const FrameComposed& composed, FrameMemory memory = FrameMemory::kEach)
      : bytes_(bytes),
        in_(bytes, 16),
        plan_(plan),
        budget_(budget),
        composed_(composed),
        memory_(memory) {}

  ComposedAnimation Run() {
    Start();
    // The file ends at its trailer, at the first damage, or at the frame limit.
    while (static_cast<int>(animation_.frames.size()) < kMaxComposedFrames && ReadRecord()) {
    }
    // Images drawn since the last frame (no delay of their own, or a file
    // that breaks off) are shown as they stand.
    if (drawn_since_frame_ && static_cast<int>(animation_.frames.size()) < kMaxComposedFrames)
      AddFrame(0);
    if (animation_.frames.empty()) Raise(err::kInvalidPicture);
    return std::move(animation_);
  }

  // Reads up to the end of the first frame, which counts only when its last
  // image arrived whole, without the zeros read past the end (the plan makes
  // a frame of delayed images alone).
  std::optional<ComposedFrame> RunToFirstFrame() {
    Start();
    bool whole = true;
    while (animation_.frames.empty() && (whole = ReadRecord() && !in_.used_tail())) {
    }
    if (animation_.frames.empty() || !whole) return std::nullopt;
    return std::move(animation_.frames.front());
  }

 private:
  // What the last image's disposal asks of the canvas, done when the next
  // image is drawn: a picture shown as the file ends keeps that image.
  struct PendingDisposal {
    Disposal disposal = kKeep;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // the image's rectangle on the canvas
    std::vector<uint32_t> saved;         // the canvas before it, for kRestorePrevious
    std::shared_ptr<const void> reservation;
  };

  void Start() {
    if (!LooksLikeGif(bytes_)) Raise(err::kInvalidPicture);
    GifScreen screen;
    if (!in_.ReadScreen(screen)) Raise(err::kInvalidPicture);
    global_ = PaletteOf(screen.global_table);
  }

  // Reads one record; false at the end of what can be read.
  bool ReadRecord() {
    const int introducer = in_.ReadByte();
    if (introducer == 0x21) return ReadExtension();
    if (introducer == 0x2C) return ReadImage();
    return false;  // the trailer, junk or the end
  }

  bool ReadExtension() {
    const int code = in_.ReadByte();
    std::span<const uint8_t> block;
    if (code < 0 || !in_.ReadSubBlock(block) || in_.used_tail()) return false;
    const bool looping = code == 0xFF && block.size() == 11 &&
                         (std::memcmp(block.data(), "NETSCAPE2.0", 11) == 0 ||
                          std::memcmp(block.data(), "ANIMEXTS1.0", 11) == 0);
    if (code == 0xF9 && block.size() >= 4) {
      control_.disposal = (block[0] >> 2) & 7;
      control_.delay_cs = block[1] | (block[2] << 8);
      control_.transparent = (block[0] & 1) ? block[3] : -1;
    }
    for (bool first = true; !block.empty(); first = false) {
      if (looping && !first && block.size() >= 3 && block[0] == 1 && !repeat_seen_) {
        animation_.repeat_count = block[1] | (block[2] << 8);
        repeat_seen_ = true;
      }
      if (!in_.ReadSubBlock(block)) return false;
    }
    return !in_.used_tail();
  }

  bool ReadImage() {
    GifImageDescriptor desc;
    if (!in_.ReadImageDescriptor(desc)) return false;
    const int min_code_size = in_.ReadByte();
    if (min_code_size < 0 || min_code_size > kMaxMinCodeSize) return false;
    if (canvas_.empty() && !StartCanvas()) return false;
    const int64_t pixels = int64_t{desc.width} * desc.height;
    if (pixels > kMaxPicturePixels || pixels > MostPixelsEncodable(in_.left())) return false;

    // The image's rows, in display order, and which of them arrived whole.
    std::vector<uint8_t> indices(static_cast<size_t>(pixels));
    std::vector<bool> decoded(static_cast<size_t>(desc.height), false);
    const int arrived = ReadRows(desc, min_code_size, indices.data());
    if (arrived < 0) return false;
    for (int k = 0; k < arrived; ++k)
      decoded[static_cast<size_t>(desc.interlaced ? InterlacedRow(k, desc.height) : k)] = true;
    const bool complete = arrived == desc.height;
    if (!complete && arrived == 0) return false;

    Dispose();
    const FrameControl control = std::exchange(control_, FrameControl{});
    const Palette palette = desc.local_colours > 0 ? PaletteOf(desc.local_table) : global_;
    // The picture is the logical screen: what lies beyond it is not drawn.
    const int width = animation_.width;
    PendingDisposal& next = disposal_;
    next.disposal = DisposalOf(control.disposal);
    next.x0 = std::min(desc.left, width);
    next.x1 = std::min(desc.left + desc.width, width);
    next.y0 = std::min(desc.top, animation_.height);
    next.y1 = std::min(desc.top + desc.height, animation_.height);
    if (next.disposal == kRestorePrevious) {
      if (budget_)
        next.reservation = budget_->Reserve(static_cast<int64_t>(canvas_.size() * 4),
                                            ScreenName() + " kept to restore");
      next.saved = canvas_;
    }

    for (int y = next.y0; y < next.y1; ++y) {
      if (!decoded[static_cast<size_t>(y - desc.top)]) continue;
      const uint8_t* src = indices.data() + static_cast<size_t>(y - desc.top) * desc.width;
      uint32_t* dst = canvas_.data() + static_cast<size_t>(y) * width;
      for (int x = next.x0; x < next.x1; ++x) {
        const uint8_t index = src[x - desc.left];
        if (index != control.transparent) dst[x] = palette[index];
      }
    }
    drawn_since_frame_ = true;
    if (plan_.each_image_a_frame) {
      AddFrame(kUndelayedLoopDelayCs);
    } else if (control.delay_cs > 0) {
      AddFrame(control.delay_cs);
    }
    return complete;
  }

  // Does what the last image's disposal asks before the next is drawn.
  void Dispose() {
    PendingDisposal& last = disposal_;
    const int width = animation_.width;
    if (last.disposal == kClear) {
      for (int y = last.y0; y < last.y1; ++y)
        std::fill_n(canvas_.data() + static_cast<size_t>(y) * width + last.x0, last.x1 - last.x0,
                    0u);
    } else if (last.disposal == kRestorePrevious) {
      canvas_ = std::move(last.saved);
    }
    last = PendingDisposal{};
  }

  // Reads the image's data and returns how many of its rows arrived whole,
  // in the order they arrive, as giflib's reader gives them row by row: a row
  // is whole when its pixels were decoded and, for the last one, the data
  // then ended with its terminator. An image without width or height has no
  // rows to wait for: it is whole once its data is passed over. -1 when the
  // data cannot be read.
  int ReadRows(const GifImageDescriptor& desc, int min_code_size, uint8_t* indices) {
    if (desc.width == 0 || desc.height == 0) return in_.SkipSubBlocks() ? desc.height : -1;
    const DecodedImageData data =
        DecodeImageData(in_, min_code_size, desc.width, desc.height, desc.interlaced, indices);
    const size_t count = static_cast<size_t>(desc.width) * static_cast<size_t>(desc.height);
    if (data.pixels < count) return static_cast<int>(data.pixels / static_cast<size_t>(desc.width));
    return data.terminated ? desc.height : desc.height - 1;
  }

  // The canvas is the logical screen, or where the screen has no width or
  // height the first image's extent; it never grows.
  bool StartCanvas() {
    animation_.width = plan_.width;
    animation_.height = plan_.height;
    const int64_t screen = int64_t{animation_.width} * animation_.height;
    if (screen <= 0) return false;
    if (screen > kMaxPicturePixels)
      Raise(err::kOutOfMemory, ErrorDescription(err::kOutOfMemory) + ": " + ScreenName() +
                                   " is larger than a picture may be (" +
                                   std::to_string(kMaxPicturePixels) + " pixels)");
    if (budget_)
      canvas_reservation_ = budget_->Reserve(screen * 4, ScreenName() + " to compose on");
    canvas_.assign(static_cast<size_t>(screen), 0u);  // transparent
    if (memory_ == FrameMemory::kBlocks)
      blocks_.emplace(static_cast<size_t>(screen),
                      std::min<int64_t>(plan_.frames, kMaxComposedFrames));
    return true;
  }

  std::string ScreenName() const {
    return "a screen of " + std::to_string(animation_.width) + " x " +
           std::to_string(animation_.height) + " pixels";
  }

  // The canvas as it stands becomes a frame. Its picture is reserved from the
  // budget before it is made: the least it takes (indices and a palette), or
  // its whole pixels when it has more than 256 colours.
  void AddFrame(int delay_cs) {
    drawn_since_frame_ = false;
    const size_t pixels = size_t(animation_.width) * size_t(animation_.height);
    auto frame_name = [&] {
      return "frame " + std::to_string(animation_.frames.size() + 1) + " of " + ScreenName();
    };
    std::shared_ptr<const void> reservation;
    if (budget_)
      reservation =
          budget_->ReserveNamed(static_cast<int64_t>(pixels + sizeof(Palette)), frame_name);
    Picture picture =
        CompactPicture(canvas_, animation_.width, animation_.height, blocks_ ? &*blocks_ : nullptr);
    const bool indexed = picture.data()->format() == PictureData::Format::kIndexed8;
    stored_bytes_ += indexed ? pixels + sizeof(Palette) : pixels * sizeof(uint32_t);
    if (budget_) {
      if (!indexed) {
        reservation.reset();
        reservation =
            budget_->Reserve(static_cast<int64_t>(pixels * sizeof(uint32_t)), frame_name());
      }
      picture = KeepReserved(std::move(picture), std::move(reservation));
    } else if (stored_bytes_ > kMaxComposedBytes) {
      Raise(err::kOutOfMemory, ErrorDescription(err::kOutOfMemory) +
                                   ": the composed frames need more than " +
                                   Megabytes(static_cast<int64_t>(kMaxComposedBytes)));
    }
    animation_.frames.push_back(ComposedFrame{std::move(picture), DelayMs(delay_cs)});
    if (composed_) composed_(animation_.frames.back());
  }

  std::span<const uint8_t> bytes_;
  GifBlockReader in_;
  const FramePlan plan_;
  const MemoryBudget* budget_;
  const FrameComposed& composed_;
  std::shared_ptr<const void> canvas_reservation_;
  ComposedAnimation animation_;
  Palette global_{};
  FrameControl control_;
  PendingDisposal disposal_;
  bool repeat_seen_ = false;
  bool drawn_since_frame_ = false;
  std::vector<uint32_t> canvas_;
  size_t stored_bytes_ = 0;
  const FrameMemory memory_;
  std::optional<IndexBlocks> blocks_;
};

// The least the file's frames claim together: one picture of the screen per
// frame, and the canvas they are composed on. A file that claims more than
// the budget has left is refused before anything is decoded.
void CheckClaimedSize(const FramePlan& plan, const MemoryBudget& budget) {
  const int64_t frames = std::min<int64_t>(plan.frames, kMaxComposedFrames);
  const int64_t screen = int64_t{plan.width} * plan.height;
  if (frames == 0 || screen <= 0 || screen > kMaxPicturePixels) return;  // the composer says why
  budget.Reserve(
      screen * 4 + frames * (screen + static_cast<int64_t>(sizeof(PictureData::Palette))),
      std::to_string(frames) + (frames == 1 ? " frame" : " frames") + " of " +
          std::to_string(plan.width) + " x " + std::to_string(plan.height) + " pixels");
}

}  // namespace

ComposedAnimation ComposeGif(std::span<const uint8_t> bytes, const MemoryBudget* budget,
                             const FrameComposed& composed, FrameMemory memory) {
  const std::optional<GifFileFacts> facts = ReadGifFacts(bytes);
  const FramePlan plan = facts ? PlanFrames(*facts) : FramePlan{};
  if (budget) CheckClaimedSize(plan, *budget);
  return Composer(bytes, plan, budget, composed, memory).Run();
}

std::optional<ComposedFrame> ComposeFirstFrame(std::span<const uint8_t> beginning) {
  const std::optional<GifFileFacts> facts = ReadGifFacts(beginning);
  if (!facts) return std::nullopt;
  // Only a delayed image ends the frame: a file without any delay makes its
  // frames otherwise, which only its end tells.
  FramePlan plan = PlanFrames(*facts);
  plan.each_image_a_frame = false;
  const FrameComposed none;
  try {
    return Composer(beginning, plan, nullptr, none).RunToFirstFrame();
  } catch (const std::exception&) {  // a refusal, or out of memory
    return std::nullopt;
  }
}

}  // namespace flipreel
