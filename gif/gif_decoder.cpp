#include "flipreel/gif/gif_decoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "flipreel/gif/gif_block_reader.h"
#include "flipreel/gif/lzw_decoder.h"
#include "flipreel/host/errors.h"

namespace flipreel {

namespace {

[[noreturn]] void Invalid() {
  Raise(err::kInvalidPicture);
}

// The palette as a shared one: the last one this thread made when it has the
// same colours (the frames of a GIF mostly do), else a new one.
std::shared_ptr<const PictureData::Palette> SharedPalette(const PictureData::Palette& palette) {
  thread_local std::shared_ptr<const PictureData::Palette> last;
  if (!last || *last != palette) last = std::make_shared<const PictureData::Palette>(palette);
  return last;
}

}  // namespace

// Codes are at least one bit wide, and the k-th code after a clear
// adds at most k pixels (a string one longer than the longest so far), never
// more than the 4096 of a full code table.
int64_t MostPixelsEncodable(size_t bytes) {
  constexpr int64_t kLongest = 4096;
  const int64_t codes = static_cast<int64_t>(std::min<size_t>(bytes, size_t{1} << 40)) * 8;
  if (codes <= kLongest) return codes * (codes + 1) / 2;
  return kLongest * (kLongest + 1) / 2 + (codes - kLongest) * kLongest;
}

bool LooksLikeGif(std::span<const uint8_t> bytes) {
  return bytes.size() >= 6 && std::memcmp(bytes.data(), "GIF", 3) == 0;
}

Picture KeepReserved(Picture picture, std::shared_ptr<const void> reservation) {
  if (picture.IsEmpty() || !reservation) return picture;
  // A second owner of the same data whose deleter holds both the first owner
  // and the reservation: when the last copy goes, both are released.
  const PictureData* data = picture.data();
  return Picture(std::shared_ptr<const PictureData>(
      data,
      [owner = picture.shared(), reservation = std::move(reservation)](const PictureData*) mutable {
        owner.reset();
        reservation.reset();
      }));
}

Picture DecodeGif(std::span<const uint8_t> bytes, const MemoryBudget* budget) {
  if (!LooksLikeGif(bytes)) Invalid();
  // The frame file of a file's last frame is cut just before its image
  // data's terminator: one zero byte after the end stands for it.
  GifBlockReader in(bytes, 1);
  GifScreen screen;
  if (!in.ReadScreen(screen)) Invalid();
  PictureData::Palette palette = PaletteOf(screen.global_table);

  // Extensions up to the first image; the last Graphic Control Extension
  // before it gives the transparent index.
  int transparent = -1;
  for (;;) {
    const int introducer = in.ReadByte();
    if (introducer == 0x2C) break;
    if (introducer != 0x21) Invalid();  // the trailer, junk or the end: no image
    const int label = in.ReadByte();
    std::span<const uint8_t> block;
    if (label < 0 || !in.ReadSubBlock(block)) Invalid();
    if (block.empty()) continue;
    if (label == 0xF9 && block.size() >= 4) transparent = (block[0] & 0x01) ? block[3] : -1;
    if (!in.SkipSubBlocks()) Invalid();
  }

  GifImageDescriptor image;
  if (!in.ReadImageDescriptor(image)) Invalid();
  if (image.local_colours > 0) palette = PaletteOf(image.local_table);
  const int min_code_size = in.ReadByte();
  if (min_code_size < 0 || min_code_size > kMaxMinCodeSize) Invalid();
  const int width = image.width, height = image.height;
  const int64_t pixels = int64_t{width} * height;
  if (width <= 0 || height <= 0 || pixels > kMaxPicturePixels ||
      pixels > MostPixelsEncodable(in.left()))
    Invalid();
  if (transparent >= 0) palette[transparent] &= 0x00FFFFFFu;
  std::shared_ptr<const void> reservation;
  if (budget)
    reservation =
        budget->ReserveNamed(pixels + static_cast<int64_t>(sizeof(PictureData::Palette)), [&] {
          return "a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels";
        });

  std::vector<uint8_t> indices(static_cast<size_t>(pixels));
  const DecodedImageData decoded =
      DecodeImageData(in, min_code_size, width, height, image.interlaced, indices.data());
  if (!decoded.terminated || decoded.pixels < indices.size()) Invalid();
  return KeepReserved(
      Picture(PictureData::Indexed(width, height, std::move(indices), SharedPalette(palette))),
      std::move(reservation));
}

}  // namespace flipreel
