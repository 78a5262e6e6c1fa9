#include "flipreel/gif/gif_encoder.h"

#include <gif_lib.h>

#include <array>
#include <memory>
#include <unordered_map>
#include <vector>

namespace flipreel {

namespace {

// A picture as GIF sees it: indices into at most 256 colours, one of which
// may stand for every fully transparent pixel.
struct IndexedImage {
  std::vector<GifPixelType> indices;
  std::vector<uint32_t> colors;  // 0xRRGGBB
  int transparent = -1;
};

std::optional<IndexedImage> ToIndexed(const PictureData& data) {
  IndexedImage out;
  out.indices.resize(static_cast<size_t>(data.width()) * data.height());
  std::unordered_map<uint32_t, GifPixelType> index_of;
  // Maps one colour to its index, adding it when new; -1 when it cannot be
  // held (partial alpha, or a 257th colour).
  auto index_for = [&](uint32_t argb) -> int {
    const uint32_t alpha = argb >> 24;
    if (alpha != 0 && alpha != 0xFF) return -1;
    // Every fully transparent pixel shares one entry: its colour is not seen.
    const uint32_t key = alpha == 0 ? 0u : argb;
    auto it = index_of.find(key);
    if (it != index_of.end()) return it->second;
    if (out.colors.size() == 256) return -1;
    const auto index = static_cast<GifPixelType>(out.colors.size());
    out.colors.push_back(argb & 0xFFFFFFu);
    if (alpha == 0) out.transparent = index;
    index_of.emplace(key, index);
    return index;
  };

  size_t i = 0;
  if (data.format() == PictureData::Format::kIndexed8) {
    // Each palette entry is mapped once, on its first use.
    std::array<int, 256> mapped;
    mapped.fill(-2);
    const uint8_t* src = data.indices();
    for (; i < out.indices.size(); ++i) {
      int& m = mapped[src[i]];
      if (m == -2) m = index_for(data.palette()[src[i]]);
      if (m < 0) return std::nullopt;
      out.indices[i] = static_cast<GifPixelType>(m);
    }
  } else {
    const uint32_t* src = data.argb();
    for (; i < out.indices.size(); ++i) {
      const int m = index_for(src[i]);
      if (m < 0) return std::nullopt;
      out.indices[i] = static_cast<GifPixelType>(m);
    }
  }
  return out;
}

int AppendToString(GifFileType* gif, const GifByteType* bytes, int length) {
  auto* out = static_cast<std::string*>(gif->UserData);
  out->append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
  return length;
}

struct EncoderCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    EGifCloseFile(gif, &error);
  }
};

struct MapFree {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

}  // namespace

std::optional<std::string> EncodeGif(const Picture& picture) {
  const PictureData* data = picture.data();
  if (!data || data->width() <= 0 || data->height() <= 0 || data->width() > 0xFFFF ||
      data->height() > 0xFFFF)
    return std::nullopt;
  std::optional<IndexedImage> image = ToIndexed(*data);
  if (!image) return std::nullopt;

  // The table has a power-of-two size of at least two entries.
  int table_size = 2;
  while (table_size < static_cast<int>(image->colors.size())) table_size *= 2;
  std::vector<GifColorType> table(static_cast<size_t>(table_size), GifColorType{0, 0, 0});
  for (size_t c = 0; c < image->colors.size(); ++c) {
    const uint32_t rgb = image->colors[c];
    table[c] = GifColorType{static_cast<GifByteType>(rgb >> 16), static_cast<GifByteType>(rgb >> 8),
                            static_cast<GifByteType>(rgb)};
  }
  std::unique_ptr<ColorMapObject, MapFree> map(GifMakeMapObject(table_size, table.data()));
  if (!map) return std::nullopt;

  std::string out;
  int error = 0;
  GifFileType* raw = EGifOpen(&out, AppendToString, &error);
  if (!raw) return std::nullopt;
  std::unique_ptr<GifFileType, EncoderCloser> gif(raw);
  EGifSetGifVersion(gif.get(), true);
  const int width = data->width();
  const int height = data->height();
  if (EGifPutScreenDesc(gif.get(), width, height, 8, 0, map.get()) == GIF_ERROR)
    return std::nullopt;
  if (image->transparent >= 0) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.UserInputFlag = false;
    gcb.DelayTime = 0;
    gcb.TransparentColor = image->transparent;
    GifByteType extension[4];
    const size_t length = EGifGCBToExtension(&gcb, extension);
    if (EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) ==
        GIF_ERROR)
      return std::nullopt;
  }
  if (EGifPutImageDesc(gif.get(), 0, 0, width, height, false, nullptr) == GIF_ERROR)
    return std::nullopt;
  for (int y = 0; y < height; ++y) {
    if (EGifPutLine(gif.get(), image->indices.data() + static_cast<size_t>(y) * width, width) ==
        GIF_ERROR)
      return std::nullopt;
  }
  // Closing writes the trailer and frees the encoder whatever the outcome.
  const int closed = EGifCloseFile(gif.release(), &error);
  if (closed == GIF_ERROR) return std::nullopt;
  return out;
}

}  // namespace flipreel
