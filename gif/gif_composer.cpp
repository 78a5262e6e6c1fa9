#include "flipreel/gif/gif_composer.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "flipreel/gif/gif_decoder.h"
#include "flipreel/gif/gif_facts.h"
#include "flipreel/host/errors.h"

namespace flipreel {

namespace {

// Reads the file from memory. Past its end it supplies a few 00 bytes: a
// file cut after its last pixel then still ends its image data (giflib wants
// the terminator after the last row), while a file cut earlier fails where
// the cut is, since 00 ends every block. Blocks that needed the padding are
// not taken as read.
struct Input {
  std::span<const uint8_t> bytes;
  size_t pos = 0;
  int padding_left = 16;
  bool padded() const { return padding_left < 16; }
};

int ReadInput(GifFileType* gif, GifByteType* out, int length) {
  auto* in = static_cast<Input*>(gif->UserData);
  int n = 0;
  while (n < length) {
    if (in->pos < in->bytes.size()) {
      const size_t take =
          std::min<size_t>(static_cast<size_t>(length - n), in->bytes.size() - in->pos);
      std::memcpy(out + n, in->bytes.data() + in->pos, take);
      in->pos += take;
      n += static_cast<int>(take);
    } else if (in->padding_left > 0) {
      --in->padding_left;
      out[n++] = 0;
    } else {
      break;
    }
  }
  return n;
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

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

Palette PaletteOf(const ColorMapObject* map) {
  Palette palette;
  palette.fill(0xFF000000u);
  if (map && map->Colors) {
    const int count = std::min(map->ColorCount, 256);
    for (int i = 0; i < count; ++i) {
      const GifColorType& c = map->Colors[i];
      palette[i] = 0xFF000000u | (uint32_t{c.Red} << 16) | (uint32_t{c.Green} << 8) | c.Blue;
    }
  }
  return palette;
}

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

class Composer {
 public:
  Composer(std::span<const uint8_t> bytes, const MemoryBudget* budget)
      : input_{bytes}, budget_(budget) {}

  ComposedAnimation Run() {
    if (!LooksLikeGif(input_.bytes)) Raise(err::kInvalidPicture);
    int error = 0;
    gif_.reset(DGifOpen(&input_, ReadInput, &error));
    if (!gif_) Raise(err::kInvalidPicture);
    animation_.width = gif_->SWidth;
    animation_.height = gif_->SHeight;
    global_ = PaletteOf(gif_->SColorMap);
    // The file ends at its trailer, at the first damage, or at the frame limit.
    while (static_cast<int>(animation_.frames.size()) < kMaxComposedFrames && ReadRecord()) {
    }
    if (animation_.frames.empty()) Raise(err::kInvalidPicture);
    return std::move(animation_);
  }

 private:
  // Reads one record; false at the end of what can be read.
  bool ReadRecord() {
    GifRecordType type;
    if (DGifGetRecordType(gif_.get(), &type) == GIF_ERROR) return false;
    if (type == EXTENSION_RECORD_TYPE) return ReadExtension();
    if (type == IMAGE_DESC_RECORD_TYPE) return ReadImage();
    return false;  // the trailer
  }

  bool ReadExtension() {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif_.get(), &code, &block) == GIF_ERROR || input_.padded()) return false;
    const bool looping = code == APPLICATION_EXT_FUNC_CODE && block && block[0] == 11 &&
                         (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
                          std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
    if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
      control_.disposal = (block[1] >> 2) & 7;
      control_.delay_cs = block[2] | (block[3] << 8);
      control_.transparent = (block[1] & 1) ? block[4] : -1;
    }
    for (bool first = true; block; first = false) {
      if (looping && !first && block[0] >= 3 && block[1] == 1 && !repeat_seen_) {
        animation_.repeat_count = block[2] | (block[3] << 8);
        repeat_seen_ = true;
      }
      if (DGifGetExtensionNext(gif_.get(), &block) == GIF_ERROR) return false;
    }
    return !input_.padded();
  }

  bool ReadImage() {
    // A descriptor cut short is no image, though the padding completes it.
    if (DGifGetImageDesc(gif_.get()) == GIF_ERROR || input_.padded()) return false;
    const GifImageDesc desc = gif_->Image;
    if (animation_.frames.empty() && !StartCanvas(desc)) return false;
    const int64_t pixels = int64_t{desc.Width} * desc.Height;
    const size_t remaining = input_.bytes.size() - std::min(input_.pos, input_.bytes.size());
    if (desc.Width < 0 || desc.Height < 0 || pixels > kMaxPicturePixels ||
        pixels > MostPixelsEncodable(remaining))
      return false;
    if (pixels == 0 && !SkipImageData()) return false;
    // The frame this image makes is reserved before any of it is decoded.
    std::shared_ptr<const void> reservation = ReserveFrame();

    // The image's rows, in display order; an interlaced image sends every
    // 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1.
    std::vector<uint8_t> indices(static_cast<size_t>(pixels));
    std::vector<bool> decoded(static_cast<size_t>(desc.Height), false);
    bool complete = true;
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    const int passes = desc.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes && complete; ++pass) {
      const int start = desc.Interlace ? kStart[pass] : 0;
      const int step = desc.Interlace ? kStep[pass] : 1;
      for (int row = start; row < desc.Height; row += step) {
        if (DGifGetLine(gif_.get(), indices.data() + static_cast<size_t>(row) * desc.Width,
                        desc.Width) == GIF_ERROR) {
          complete = false;
          break;
        }
        decoded[static_cast<size_t>(row)] = true;
      }
    }
    const bool any_row = std::find(decoded.begin(), decoded.end(), true) != decoded.end();
    if (!complete && !any_row) return false;

    const FrameControl control = std::exchange(control_, FrameControl{});
    const Palette palette = desc.ColorMap ? PaletteOf(desc.ColorMap) : global_;
    const int width = animation_.width;
    const int x0 = std::min(desc.Left, width), x1 = std::min(desc.Left + desc.Width, width);
    const int y0 = std::min(desc.Top, animation_.height);
    const int y1 = std::min(desc.Top + desc.Height, animation_.height);
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
      if (!decoded[static_cast<size_t>(y - desc.Top)]) continue;
      const uint8_t* src = indices.data() + static_cast<size_t>(y - desc.Top) * desc.Width;
      uint32_t* dst = canvas_.data() + static_cast<size_t>(y) * width;
      for (int x = x0; x < x1; ++x) {
        const uint8_t index = src[x - desc.Left];
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

  // An image without pixels still has its data blocks to pass over.
  bool SkipImageData() {
    int code_size = 0;
    GifByteType* block = nullptr;
    if (DGifGetCode(gif_.get(), &code_size, &block) == GIF_ERROR) return false;
    while (block) {
      if (DGifGetCodeNext(gif_.get(), &block) == GIF_ERROR) return false;
    }
    return true;
  }

  // The first image may widen the screen to hold itself, so that a file
  // with a screen too small (often 0 x 0) still shows its first picture.
  bool StartCanvas(const GifImageDesc& desc) {
    animation_.width = std::max(animation_.width, desc.Left + desc.Width);
    animation_.height = std::max(animation_.height, desc.Top + desc.Height);
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

  Input input_;
  const MemoryBudget* budget_;
  std::shared_ptr<const void> canvas_reservation_;
  std::unique_ptr<GifFileType, GifCloser> gif_;
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
