// giflib's reader on bytes in memory, for the tests that check our readers
// against it: the bytes, then as many zero bytes past their end as asked (a
// cut file read by a reader that pads it), and colour tables as ARGB; and the
// files those tests read, made by giflib's writer and damaged at random.
#pragma once

#include <gif_lib.h>

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "examples/example_gifs.h"

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

// Small animations of every kind: interlaced, local tables, transparency,
// every disposal, images off the screen, a repeat count.
inline std::vector<std::string> RandomAnimations(std::mt19937& random, int count) {
  std::vector<std::string> files;
  for (int k = 0; k < count; ++k) {
    gifexamples::AnimatedGif gif;
    gif.width = 1 + static_cast<int>(random() % 24);
    gif.height = 1 + static_cast<int>(random() % 16);
    gif.loop_count = static_cast<int>(random() % 3);
    const int colours = 2 << (random() % 8);
    if (random() % 4) {
      for (int i = 0; i < colours; ++i) gif.global_palette.push_back(random() & 0xFFFFFF);
    }
    for (int t = 0; t < 3; ++t) {
      gifexamples::FrameImage f;
      f.width = 1 + static_cast<int>(random() % 20);
      f.height = 1 + static_cast<int>(random() % 14);
      f.left = static_cast<int>(random() % 8), f.top = static_cast<int>(random() % 6);
      f.interlace = random() % 2;
      f.disposal = static_cast<int>(random() % 5);
      f.delay_cs = static_cast<int>(random() % 4);
      f.transparent = random() % 3 ? -1 : static_cast<int>(random() % colours);
      if (gif.global_palette.empty() || random() % 4 == 0) {
        for (int i = 0; i < colours; ++i) f.local_palette.push_back(random() & 0xFFFFFF);
      }
      for (int p = 0; p < f.width * f.height; ++p)
        f.pixels.push_back(static_cast<uint8_t>((random() % 4 ? p / 5 : random()) % colours));
      gif.frames.push_back(std::move(f));
    }
    files.push_back(gifexamples::EncodeGif(gif));
  }
  return files;
}

// The bytes with one to most_edits of them changed, cut, removed or inserted
// anywhere.
inline std::string Damaged(std::string s, std::mt19937& random, int most_edits) {
  for (int edits = 1 + static_cast<int>(random() % most_edits); edits > 0 && !s.empty(); --edits) {
    const size_t at = random() % s.size();
    switch (random() % 5) {
      case 0:
      case 1:
        s[at] = static_cast<char>(random());
        break;
      case 2:
        s.resize(at);
        break;
      case 3:
        s.erase(at, 1 + random() % 4);
        break;
      default:
        s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), static_cast<char>(random()));
    }
  }
  return s;
}

}  // namespace loadingtest
