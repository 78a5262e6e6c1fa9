#include "flipreel/gtk/texture_cache.h"

#include <vector>

namespace flipreel {

namespace {

// Textures hold premultiplied 0xAARRGGBB words, the form GTK's renderers
// draw without converting: in memory that is B, G, R, A on a little-endian
// machine and A, R, G, B on a big-endian one.
constexpr GdkMemoryFormat kWordFormat = G_BYTE_ORDER == G_LITTLE_ENDIAN
                                            ? GDK_MEMORY_B8G8R8A8_PREMULTIPLIED
                                            : GDK_MEMORY_A8R8G8B8_PREMULTIPLIED;

uint32_t Premultiplied(uint32_t argb) {
  const uint32_t a = argb >> 24;
  if (a == 255) return argb;
  if (a == 0) return 0;
  auto scale = [a](uint32_t c) { return (c * a + 127) / 255; };
  return (a << 24) | (scale((argb >> 16) & 0xFF) << 16) | (scale((argb >> 8) & 0xFF) << 8) |
         scale(argb & 0xFF);
}

// Writes the picture's pixels as premultiplied words, rows `stride` bytes
// apart.
void WritePixels(const PictureData& picture, uint8_t* out, size_t stride) {
  const size_t width = static_cast<size_t>(picture.width());
  PictureData::Palette palette;
  if (picture.format() == PictureData::Format::kIndexed8) {
    palette = picture.palette();
    for (uint32_t& colour : palette) colour = Premultiplied(colour);
  }
  for (int y = 0; y < picture.height(); ++y) {
    auto* words = reinterpret_cast<uint32_t*>(out + static_cast<size_t>(y) * stride);
    const size_t first = static_cast<size_t>(y) * width;
    if (picture.format() == PictureData::Format::kArgb32) {
      const uint32_t* argb = picture.argb() + first;
      for (size_t x = 0; x < width; ++x) words[x] = Premultiplied(argb[x]);
    } else {
      const uint8_t* indices = picture.indices() + first;
      for (size_t x = 0; x < width; ++x) words[x] = palette[indices[x]];
    }
  }
}

size_t PixelBytes(const PictureData& picture) {
  return static_cast<size_t>(picture.width()) * static_cast<size_t>(picture.height()) * 4;
}

}  // namespace

GdkTexture* MakeTexture(const PictureData& picture) {
  const size_t stride = static_cast<size_t>(picture.width()) * 4;
  auto* words = static_cast<uint8_t*>(g_malloc(PixelBytes(picture)));
  WritePixels(picture, words, stride);
  GBytes* bytes = g_bytes_new_take(words, PixelBytes(picture));
  GdkTexture* texture =
      gdk_memory_texture_new(picture.width(), picture.height(), kWordFormat, bytes, stride);
  g_bytes_unref(bytes);
  return texture;
}

// cairo's ARGB32 is the same premultiplied word as the textures'.
cairo_surface_t* MakeSurface(const PictureData& picture, cairo_surface_t* like) {
  cairo_surface_t* surface = cairo_surface_create_similar_image(like, CAIRO_FORMAT_ARGB32,
                                                                picture.width(), picture.height());
  cairo_surface_flush(surface);
  if (uint8_t* data = cairo_image_surface_get_data(surface))
    WritePixels(picture, data, static_cast<size_t>(cairo_image_surface_get_stride(surface)));
  cairo_surface_mark_dirty(surface);
  return surface;
}

TextureCache::Entry& TextureCache::Touch(const Picture& picture, size_t bytes) {
  auto it = entries_.find(picture.data());
  if (it == entries_.end()) {
    ages_.push_front(picture.data());
    it = entries_.emplace(picture.data(), Entry{}).first;
    it->second.picture = picture.shared();
    it->second.age = ages_.begin();
  } else {
    ages_.splice(ages_.begin(), ages_, it->second.age);
  }
  // The oldest go until the new copy fits; the one drawn now always stays.
  while (bytes > 0 && ages_.size() > 1 && kept_bytes_ + bytes > budget_) {
    auto oldest = entries_.find(ages_.back());
    kept_bytes_ -= oldest->second.bytes;
    Release(oldest->second);
    entries_.erase(oldest);
    ages_.pop_back();
  }
  kept_bytes_ += bytes;
  it->second.bytes += bytes;
  return it->second;
}

GdkTexture* TextureCache::Get(const Picture& picture) {
  if (picture.IsEmpty()) return nullptr;
  auto it = entries_.find(picture.data());
  const bool kept = it != entries_.end() && it->second.texture;
  Entry& entry = Touch(picture, kept ? 0 : PixelBytes(*picture.data()));
  if (!kept) {
    entry.texture = MakeTexture(*picture.data());
    ++made_;
  }
  return entry.texture;
}

cairo_surface_t* TextureCache::GetSurface(const Picture& picture, cairo_surface_t* like) {
  if (picture.IsEmpty()) return nullptr;
  auto it = entries_.find(picture.data());
  const bool kept = it != entries_.end() && it->second.surface;
  Entry& entry = Touch(picture, kept ? 0 : PixelBytes(*picture.data()));
  if (!kept) {
    entry.surface = MakeSurface(*picture.data(), like);
    ++made_;
  }
  return entry.surface;
}

void TextureCache::Release(Entry& entry) {
  if (entry.texture) g_object_unref(entry.texture);
  if (entry.surface) cairo_surface_destroy(entry.surface);
}

void TextureCache::Clear() {
  for (auto& [key, entry] : entries_) Release(entry);
  entries_.clear();
  ages_.clear();
  kept_bytes_ = 0;
}

}  // namespace flipreel
