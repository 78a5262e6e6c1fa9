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

}  // namespace

GdkTexture* MakeTexture(const PictureData& picture) {
  const size_t count = static_cast<size_t>(picture.width()) * static_cast<size_t>(picture.height());
  auto* words = static_cast<uint32_t*>(g_malloc(count * 4));
  if (picture.format() == PictureData::Format::kArgb32) {
    const uint32_t* argb = picture.argb();
    for (size_t i = 0; i < count; ++i) words[i] = Premultiplied(argb[i]);
  } else {
    PictureData::Palette palette = picture.palette();
    for (uint32_t& colour : palette) colour = Premultiplied(colour);
    const uint8_t* indices = picture.indices();
    for (size_t i = 0; i < count; ++i) words[i] = palette[indices[i]];
  }
  GBytes* bytes = g_bytes_new_take(words, count * 4);
  GdkTexture* texture = gdk_memory_texture_new(picture.width(), picture.height(), kWordFormat,
                                               bytes, static_cast<size_t>(picture.width()) * 4);
  g_bytes_unref(bytes);
  return texture;
}

GdkTexture* TextureCache::Get(const Picture& picture) {
  if (picture.IsEmpty()) return nullptr;
  if (auto it = entries_.find(picture.data()); it != entries_.end()) {
    ages_.splice(ages_.begin(), ages_, it->second.age);
    return it->second.texture;
  }
  Entry entry;
  entry.picture = picture.shared();
  entry.texture = MakeTexture(*picture.data());
  entry.bytes = static_cast<size_t>(picture.width()) * static_cast<size_t>(picture.height()) * 4;
  ++made_;
  // The oldest go until the new one fits; the one drawn now always stays.
  while (!ages_.empty() && kept_bytes_ + entry.bytes > budget_) {
    auto oldest = entries_.find(ages_.back());
    kept_bytes_ -= oldest->second.bytes;
    g_object_unref(oldest->second.texture);
    entries_.erase(oldest);
    ages_.pop_back();
  }
  ages_.push_front(picture.data());
  entry.age = ages_.begin();
  kept_bytes_ += entry.bytes;
  return entries_.emplace(picture.data(), std::move(entry)).first->second.texture;
}

void TextureCache::Clear() {
  for (auto& [key, entry] : entries_) g_object_unref(entry.texture);
  entries_.clear();
  ages_.clear();
  kept_bytes_ = 0;
}

}  // namespace flipreel
