// Paint-ready copies of pictures, within a memory budget.
//
// The control keeps every frame in its compact form (8-bit indices and a
// palette). Painting wants 32-bit pixels, so the cache converts a picture
// once (RGB32 when it is opaque, ARGB32 premultiplied otherwise) and keeps the
// copy while the copies together stay within the budget. Frames are prepared
// as they load; a picture that no longer fits is converted when it is
// painted, and the last few of those conversions are kept aside so that
// repainting one frame converts it only once.
#pragma once

#include <QImage>
#include <cstddef>
#include <deque>
#include <memory>
#include <unordered_map>

#include "flipreel/host/picture.h"

namespace flipreel {

class PictureCache {
 public:
  static constexpr size_t kDefaultBudget = size_t{64} << 20;  // 64 MB per widget
  // Conversions beyond the budget kept aside: the frame on show, the
  // background picture and one more.
  static constexpr size_t kAsideCount = 3;

  explicit PictureCache(size_t budget_bytes = kDefaultBudget) : budget_(budget_bytes) {}

  // A smaller budget drops kept copies until the rest fits.
  void SetBudget(size_t bytes);
  size_t budget() const { return budget_; }
  size_t kept_bytes() const { return kept_bytes_; }
  size_t kept_count() const { return kept_.size(); }
  // Every conversion done so far, for tests and benchmarks.
  int64_t conversions() const { return conversions_; }

  // Converts a picture ahead of painting and keeps the copy if it fits.
  void Prepare(const Picture& picture);
  // The paint-ready copy, converted now when none is kept. A null image for
  // the empty picture and when memory for the copy cannot be had.
  const QImage& Get(const Picture& picture);
  // Whether every pixel of the picture is opaque (converting it if need be).
  bool IsOpaque(const Picture& picture) {
    return !picture.IsEmpty() && Get(picture).format() == QImage::Format_RGB32;
  }
  // Pictures may have gone away: their copies are dropped at the next use.
  void MarkStale() {
    stale_ = true;
    full_ = false;
  }

 private:
  struct Entry {
    std::weak_ptr<const PictureData> picture;
    QImage image;
  };
  const QImage* Find(const Picture& picture);
  bool Fits(size_t bytes);
  bool Keep(const Picture& picture, QImage image);
  void DropExpired();

  size_t budget_;
  size_t kept_bytes_ = 0;
  int64_t conversions_ = 0;
  bool stale_ = false;
  bool full_ = false;  // expired copies were dropped and the budget is still full
  std::unordered_map<const PictureData*, Entry> kept_;
  std::deque<std::pair<const PictureData*, Entry>> aside_;
};

// One conversion, not cached: RGB32 for opaque pictures, ARGB32 premultiplied
// otherwise. A null image for the empty picture or when memory runs out.
QImage ToPaintImage(const PictureData& data);

// A picture of a QImage's pixels (ARGB, not premultiplied). A null image
// gives the empty picture.
Picture PictureFromImage(const QImage& image);

}  // namespace flipreel
