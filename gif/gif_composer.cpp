#include "flipreel/gif/gif_composer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "flipreel/gif/gif_block_reader.h"
#include "flipreel/gif/gif_decoder.h"
#include "flipreel/gif/gif_facts.h"
#include "flipreel/gif/lzw_decoder.h"
#include "flipreel/host/errors.h"

namespace flipreel {

namespace {

// What the Graphic Control Extension before an image says about it.
struct FrameControl {
  int disposal = 0;
  int delay_cs = 0;
  int transparent = -1;
};

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
Picture CompactPicture(const std::vector<uint32_t>& canvas, int width, int height) {
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
  std::vector<uint8_t> indices(canvas.size());
  uint32_t last = 0;
  int last_index = -1;
  for (size_t i = 0; i < canvas.size(); ++i) {
    if (canvas[i] != last || last_index < 0) {
      last = canvas[i];
      last_index = index_of(last);
      if (last_index < 0) return Picture(PictureData::Argb(width, height, canvas));
    }
    indices[i] = static_cast<uint8_t>(last_index);
  }
  return Picture(PictureData::Indexed(width, height, std::move(indices), palette));
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
  Composer(std::span<const uint8_t> bytes, const MemoryBudget* budget)
      : bytes_(bytes), in_(bytes, 16), budget_(budget) {}

  ComposedAnimation Run() {
    if (!LooksLikeGif(bytes_)) Raise(err::kInvalidPicture);
    GifScreen screen;
    if (!in_.ReadScreen(screen)) Raise(err::kInvalidPicture);
    animation_.width = screen.width;
    animation_.height = screen.height;
    global_ = PaletteOf(screen.global_table);
    // The file ends at its trailer, at the first damage, or at the frame limit.
    while (static_cast<int>(animation_.frames.size()) < kMaxComposedFrames && ReadRecord()) {
    }
    if (animation_.frames.empty()) Raise(err::kInvalidPicture);
    return std::move(animation_);
  }

 private:
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
    if (animation_.frames.empty() && !StartCanvas(desc)) return false;
    const int64_t pixels = int64_t{desc.width} * desc.height;
    if (pixels > kMaxPicturePixels || pixels > MostPixelsEncodable(in_.left())) return false;
    // The frame this image makes is reserved before any of it is decoded.
    std::shared_ptr<const void> reservation = ReserveFrame();

    // The image's rows, in display order, and which of them arrived whole.
    std::vector<uint8_t> indices(static_cast<size_t>(pixels));
    std::vector<bool> decoded(static_cast<size_t>(desc.height), false);
    const int arrived = ReadRows(desc, min_code_size, indices.data());
    if (arrived < 0) return false;
    for (int k = 0; k < arrived; ++k)
      decoded[static_cast<size_t>(desc.interlaced ? InterlacedRow(k, desc.height) : k)] = true;
    const bool complete = arrived == desc.height;
    if (!complete && arrived == 0) return false;

    const FrameControl control = std::exchange(control_, FrameControl{});
    const Palette palette = desc.local_colours > 0 ? PaletteOf(desc.local_table) : global_;
    const int width = animation_.width;
    const int x0 = std::min(desc.left, width), x1 = std::min(desc.left + desc.width, width);
    const int y0 = std::min(desc.top, animation_.height);
    const int y1 = std::min(desc.top + desc.height, animation_.height);
    const Disposal disposal = DisposalOf(control.disposal);
    std::vector<uint32_t> saved;
    std::shared_ptr<const void> saved_reservation;
    if (disposal == kRestorePrevious) {
      if (budget_)
        saved_reservation = budget_->Reserve(static_cast<int64_t>(canvas_.size() * 4),
                                             ScreenName() + " kept to restore");
      saved = canvas_;
    }

    for (int y = y0; y < y1; ++y) {
      if (!decoded[static_cast<size_t>(y - desc.top)]) continue;
      const uint8_t* src = indices.data() + static_cast<size_t>(y - desc.top) * desc.width;
      uint32_t* dst = canvas_.data() + static_cast<size_t>(y) * width;
      for (int x = x0; x < x1; ++x) {
        const uint8_t index = src[x - desc.left];
        if (index != control.transparent) dst[x] = palette[index];
      }
    }
    AddFrame(control.delay_cs, std::move(reservation));

    if (disposal == kClear) {
      for (int y = y0; y < y1; ++y)
        std::fill_n(canvas_.data() + static_cast<size_t>(y) * width + x0, x1 - x0, 0u);
    } else if (disposal == kRestorePrevious) {
      canvas_ = std::move(saved);
    }
    return complete;
  }

  // Reads the image's data and returns how many of its rows arrived whole,
  // in the order they arrive, as giflib's reader gives them row by row: a row
  // is whole when its pixels were decoded and, for the last one, the data
  // then ended with its terminator. -1 when not even the data of an image
  // without pixels can be read.
  int ReadRows(const GifImageDescriptor& desc, int min_code_size, uint8_t* indices) {
    if (desc.width == 0 || desc.height == 0) {
      if (!in_.SkipSubBlocks()) return -1;
      // giflib reads an image of no width row by row all the same, and at
      // each row, having all of its (no) pixels, reads on to a terminator.
      int rows = 0;
      while (rows < desc.height && in_.SkipSubBlocks()) ++rows;
      return rows;
    }
    const DecodedImageData data =
        DecodeImageData(in_, min_code_size, desc.width, desc.height, desc.interlaced, indices);
    const size_t count = static_cast<size_t>(desc.width) * static_cast<size_t>(desc.height);
    if (data.pixels < count) return static_cast<int>(data.pixels / static_cast<size_t>(desc.width));
    return data.terminated ? desc.height : desc.height - 1;
  }

  // The first image may widen the screen to hold itself, so that a file
  // with a screen too small (often 0 x 0) still shows its first picture.
  bool StartCanvas(const GifImageDescriptor& desc) {
    animation_.width = std::max(animation_.width, desc.left + desc.width);
    animation_.height = std::max(animation_.height, desc.top + desc.height);
    const int64_t screen = int64_t{animation_.width} * animation_.height;
    if (screen <= 0) return false;
    if (screen > kMaxPicturePixels)
      Raise(err::kOutOfMemory, ErrorDescription(err::kOutOfMemory) + ": " + ScreenName() +
                                   " is larger than a picture may be (" +
                                   std::to_string(kMaxPicturePixels) + " pixels)");
    if (budget_)
      canvas_reservation_ = budget_->Reserve(screen * 4, ScreenName() + " to compose on");
    canvas_.assign(static_cast<size_t>(screen), 0u);  // transparent
    return true;
  }

  std::string ScreenName() const {
    return "a screen of " + std::to_string(animation_.width) + " x " +
           std::to_string(animation_.height) + " pixels";
  }

  // The least a frame's picture takes (indices and a palette), reserved from
  // the budget; none without one.
  std::shared_ptr<const void> ReserveFrame() const {
    if (!budget_) return nullptr;
    const int64_t pixels = int64_t{animation_.width} * animation_.height;
    return budget_->ReserveNamed(pixels + static_cast<int64_t>(sizeof(Palette)), [&] {
      return "frame " + std::to_string(animation_.frames.size() + 1) + " of " + ScreenName();
    });
  }

  void AddFrame(int delay_cs, std::shared_ptr<const void> reservation) {
    Picture picture = CompactPicture(canvas_, animation_.width, animation_.height);
    const size_t pixels = size_t(animation_.width) * size_t(animation_.height);
    const bool indexed = picture.data()->format() == PictureData::Format::kIndexed8;
    stored_bytes_ += indexed ? pixels + sizeof(Palette) : pixels * sizeof(uint32_t);
    if (budget_) {
      // A picture of more than 256 colours keeps its pixels whole.
      if (!indexed) {
        reservation.reset();
        reservation = budget_->Reserve(
            static_cast<int64_t>(pixels * sizeof(uint32_t)),
            "frame " + std::to_string(animation_.frames.size() + 1) + " of " + ScreenName());
      }
      picture = KeepReserved(std::move(picture), std::move(reservation));
    } else if (stored_bytes_ > kMaxComposedBytes) {
      Raise(err::kOutOfMemory, ErrorDescription(err::kOutOfMemory) +
                                   ": the composed frames need more than " +
                                   Megabytes(static_cast<int64_t>(kMaxComposedBytes)));
    }
    animation_.frames.push_back(ComposedFrame{std::move(picture), DelayMs(delay_cs)});
  }

  std::span<const uint8_t> bytes_;
  GifBlockReader in_;
  const MemoryBudget* budget_;
  std::shared_ptr<const void> canvas_reservation_;
  ComposedAnimation animation_;
  Palette global_{};
  FrameControl control_;
  bool repeat_seen_ = false;
  std::vector<uint32_t> canvas_;
  size_t stored_bytes_ = 0;
};

// The least the file's frames claim together: one picture of the screen per
// image, and the canvas they are composed on. A file that claims more than
// the budget has left is refused before anything is decoded.
void CheckClaimedSize(std::span<const uint8_t> bytes, const MemoryBudget& budget) {
  const std::optional<GifFileFacts> facts = ReadGifFacts(bytes);
  if (!facts || facts->images.empty()) return;
  const GifImageFacts& first = facts->images.front();
  const int64_t width = std::max(facts->screen_width, first.left + first.width);
  const int64_t height = std::max(facts->screen_height, first.top + first.height);
  const int64_t frames = std::min<int64_t>(facts->images.size(), kMaxComposedFrames);
  const int64_t screen = width * height;
  if (screen <= 0 || screen > kMaxPicturePixels) return;  // the composer says why
  budget.Reserve(
      screen * 4 + frames * (screen + static_cast<int64_t>(sizeof(PictureData::Palette))),
      std::to_string(frames) + (frames == 1 ? " frame" : " frames") + " of " +
          std::to_string(width) + " x " + std::to_string(height) + " pixels");
}

}  // namespace

ComposedAnimation ComposeGif(std::span<const uint8_t> bytes, const MemoryBudget* budget) {
  if (budget) CheckClaimedSize(bytes, *budget);
  return Composer(bytes, budget).Run();
}

}  // namespace flipreel
