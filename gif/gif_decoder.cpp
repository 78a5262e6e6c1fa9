#include "gif/gif_decoder.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "host/errors.h"

namespace flipreel {

namespace {

struct MemoryReader {
  const uint8_t* data;
  size_t size;
  size_t pos;
  bool add_terminator;  // supply one 00 byte after the data
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int length) {
  auto* r = static_cast<MemoryReader*>(gif->UserData);
  const size_t want = length < 0 ? 0 : static_cast<size_t>(length);
  const size_t avail = r->pos < r->size ? r->size - r->pos : 0;
  const size_t take = want < avail ? want : avail;
  if (take > 0) std::memcpy(out, r->data + r->pos, take);
  r->pos += take;
  size_t n = take;
  if (n < want && r->add_terminator && r->pos == r->size) {
    out[n++] = 0;
    r->pos = r->size + 1;  // only once
  }
  return static_cast<int>(n);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

[[noreturn]] void Invalid() {
  Raise(err::kInvalidPicture);
}

// Walks the block structure up to the end of the first image's data. True
// when the data ends exactly where the image's block terminator should be:
// the cut of a file's last frame, which we complete with that terminator.
bool EndsBeforeFirstImageTerminator(std::span<const uint8_t> b) {
  const size_t n = b.size();
  if (n < 13) return false;
  size_t pos = 13;
  if (b[10] & 0x80) pos += size_t{3} << ((b[10] & 7) + 1);
  auto skip_sub_blocks = [&](bool first_image) {
    for (;;) {
      if (pos == n) return first_image;
      if (pos > n) return false;
      const size_t len = b[pos];
      pos += 1 + len;
      if (len == 0) return false;
    }
  };
  while (pos < n) {
    if (b[pos] == 0x21) {
      pos += 2;
      if (skip_sub_blocks(false)) return false;
    } else if (b[pos] == 0x2C) {
      if (pos + 10 > n) return false;
      const uint8_t flags = b[pos + 9];
      pos += 10;
      if (flags & 0x80) pos += size_t{3} << ((flags & 7) + 1);
      pos += 1;  // LZW minimum code size
      return skip_sub_blocks(true);
    } else {
      return false;
    }
  }
  return false;
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

Picture DecodeGif(std::span<const uint8_t> bytes) {
  if (!LooksLikeGif(bytes)) Invalid();
  MemoryReader reader{bytes.data(), bytes.size(), 0, EndsBeforeFirstImageTerminator(bytes)};
  int error = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&reader, ReadFromMemory, &error));
  if (!gif) Invalid();

  int transparent = -1;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) Invalid();
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR) Invalid();
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4)
        transparent = (ext[1] & 0x01) ? ext[4] : -1;
      while (ext) {
        if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) Invalid();
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) Invalid();  // a file without an image
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) Invalid();
    break;
  }

  const GifImageDesc& desc = gif->Image;
  const int width = desc.Width;
  const int height = desc.Height;
  const int64_t pixels = int64_t{width} * height;
  const size_t remaining = bytes.size() - std::min(reader.pos, bytes.size());
  if (width <= 0 || height <= 0 || pixels > kMaxPicturePixels ||
      pixels > MostPixelsEncodable(remaining))
    Invalid();

  PictureData::Palette palette;
  palette.fill(0xFF000000u);
  const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  if (map && map->Colors) {
    const int count = map->ColorCount < 256 ? map->ColorCount : 256;
    for (int i = 0; i < count; ++i) {
      const GifColorType& c = map->Colors[i];
      palette[i] = 0xFF000000u | (uint32_t{c.Red} << 16) | (uint32_t{c.Green} << 8) | c.Blue;
    }
  }
  if (transparent >= 0) palette[transparent] &= 0x00FFFFFFu;

  std::vector<uint8_t> indices(static_cast<size_t>(pixels));
  auto read_rows = [&](int row, int count) {
    if (DGifGetLine(gif.get(), indices.data() + static_cast<size_t>(row) * width, width * count) ==
        GIF_ERROR)
      Invalid();
  };
  if (desc.Interlace) {
    // Rows arrive in four passes: every 8th from 0, every 8th from 4, every
    // 4th from 2, every 2nd from 1.
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int row = kStart[pass]; row < height; row += kStep[pass]) read_rows(row, 1);
  } else {
    static_assert(kMaxPicturePixels <= INT32_MAX);
    read_rows(0, height);  // the whole image in one call
  }
  return Picture(PictureData::Indexed(width, height, std::move(indices), palette));
}

}  // namespace flipreel
