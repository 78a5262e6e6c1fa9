// GdkTextures of the control's pictures, within a memory budget.
//
// The control keeps every frame compact (8-bit indices and a palette). GTK
// draws textures, so a picture becomes a texture the first time it is drawn
// and that texture is reused each time the frame comes round again, while
// the textures together stay within the budget; beyond it the ones drawn
// longest ago are let go. (An animation whose frames do not all fit would
// only churn through the budget: its owner sets a budget of a few frames.)
//
// GSK's cairo renderer copies a texture into a new image on every draw, and
// the X server gets that copy uploaded again. For that renderer the cache
// also keeps each picture as an image surface made like the window's
// surface (on X11 one whose memory the X server shares), which cairo draws
// without copying it on the client at all.
#pragma once

#include <cairo.h>
#include <gdk/gdk.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>

#include "flipreel/host/picture.h"

namespace flipreel {

class TextureCache {
 public:
  static constexpr size_t kDefaultBudget = size_t{64} << 20;  // 64 MB per control

  explicit TextureCache(size_t budget_bytes = kDefaultBudget) : budget_(budget_bytes) {}
  ~TextureCache() { Clear(); }
  TextureCache(const TextureCache&) = delete;
  TextureCache& operator=(const TextureCache&) = delete;

  // Textures beyond the budget are let go, the ones drawn longest ago first.
  void set_budget(size_t bytes) { budget_ = bytes; }
  // The picture's texture, made now if none is kept; null for the empty
  // picture. The cache keeps the reference.
  GdkTexture* Get(const Picture& picture);
  // The picture as an image surface made like `like` (cairo's similar
  // image), made now if none is kept; null for the empty picture. The cache
  // keeps the reference. Clear the cache before `like`'s display goes.
  cairo_surface_t* GetSurface(const Picture& picture, cairo_surface_t* like);
  void Clear();
  // Textures and images made so far, for tests and benchmarks.
  int64_t made() const { return made_; }
  size_t kept_bytes() const { return kept_bytes_; }

 private:
  struct Entry {
    std::shared_ptr<const PictureData> picture;
    GdkTexture* texture = nullptr;
    cairo_surface_t* surface = nullptr;
    size_t bytes = 0;
    std::list<const PictureData*>::iterator age;
  };
  // The picture's entry, the most recently drawn now; `bytes` more are
  // about to be kept in it.
  Entry& Touch(const Picture& picture, size_t bytes);
  static void Release(Entry& entry);
  size_t budget_;
  size_t kept_bytes_ = 0;
  int64_t made_ = 0;
  std::unordered_map<const PictureData*, Entry> entries_;
  std::list<const PictureData*> ages_;  // most recently drawn first
};

// A new texture of the picture's pixels.
GdkTexture* MakeTexture(const PictureData& picture);
// A new image surface of the picture's pixels, made like `like`.
cairo_surface_t* MakeSurface(const PictureData& picture, cairo_surface_t* like);
// A surface to make the images drawn in `window` like (see GetSurface).
cairo_surface_t* SurfaceLikeWindow(GdkSurface* window);

}  // namespace flipreel
