// giflib's reader on bytes in memory, for the tests that check our readers
// against it: the bytes, then as many zero bytes past their end as asked (a
// cut file read by a reader that pads it), and colour tables as ARGB.
#pragma once

#include <gif_lib.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace loadingtest {

struct GiflibSource {
  const std::string* bytes;
  int padding = 0;  // zero bytes to give after the end
  size_t pos = 0;
  int padded = 0;  // zero bytes given so far
};

inline int ReadGiflibSource(GifFileType* gif, GifByteType* out, int length) {
  auto* s = static_cast<GiflibSource*>(gif->UserData);
  int n = 0;
  for (; n < length && s->pos < s->bytes->size(); ++n) out[n] = (*s->bytes)[s->pos++];
  for (; n < length && s->padded < s->padding; ++n) ++s->padded, out[n] = 0;
  return n;
}

struct GiflibCloser {
  void operator()(GifFileType* gif) const {
    int ignored = 0;
    DGifCloseFile(gif, &ignored);
  }
};
using GiflibFile = std::unique_ptr<GifFileType, GiflibCloser>;

// giflib's reader on the source, or none when it is not a GIF at all.
inline GiflibFile OpenWithGiflib(GiflibSource& source) {
  if (source.bytes->size() < 6 || source.bytes->compare(0, 3, "GIF") != 0) return nullptr;
  int error = 0;
  return GiflibFile(DGifOpen(&source, ReadGiflibSource, &error));
}

// A colour table as 256 ARGB colours, opaque black past its end; the
// transparent index keeps its colour with alpha 0.
inline std::array<uint32_t, 256> ColoursOf(const ColorMapObject* map, int transparent) {
  std::array<uint32_t, 256> colours;
  colours.fill(0xFF000000u);
  for (int i = 0; map && i < map->ColorCount && i < 256; ++i)
    colours[i] |= uint32_t{map->Colors[i].Red} << 16 | uint32_t{map->Colors[i].Green} << 8 |
                  map->Colors[i].Blue;
  if (transparent >= 0) colours[transparent] &= 0x00FFFFFFu;
  return colours;
}

// Rows of an interlaced image: pass p starts at row kInterlaceStart[p] and
// takes every kInterlaceStep[p]th row.
inline constexpr int kInterlaceStart[] = {0, 4, 2, 1};
inline constexpr int kInterlaceStep[] = {8, 8, 4, 2};

}  // namespace loadingtest
