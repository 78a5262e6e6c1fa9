// Paint-ready copies of pictures, within a memory budget.
//
// The control keeps every frame in its compact form (8-bit indices and a
// palette). Painting wants 32-bit pixels, so the cache converts a picture
// once (RGB32 when it is opaque, ARGB32 premultiplied otherwise) and keeps the
// copy while the copies together stay within the budget. Frames are prepared
// as they load; a picture that no longer fits is converted when it is
// painted, and that copy is kept aside while its place (the element that
// shows it) shows it or has just shown it, so that repainting one frame
// converts it only once.
//
// The caches of one thread share their copies: a picture several widgets
// show (controls that loaded the same GIF share its frames) is converted
// once, used by the others while the cache that converted it keeps it, and
// charged to that cache's budget alone.
#pragma once

#include <QImage>
#include <QObject>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "flipreel/host/animation.h"
#include "flipreel/host/memory_budget.h"
#include "flipreel/host/picture.h"

namespace flipreel {

class PictureCache {
 public:
  static constexpr size_t kDefaultBudget = size_t{64} << 20;  // 64 MB per widget
  // Conversions beyond the budget kept aside without a place: those of the
  // frames about to be shown, and the last few asked for by callers that
  // name no place.
  static constexpr size_t kShowAhead = 2;
  static constexpr size_t kAsideCount = 2 + kShowAhead;
  // Bytes those copies may take together, at least, the budget's when it is
  // larger: past that only the newest stays aside, so that a file of few
  // but huge frames (a tiny file may claim frames of 256 MB each) holds the
  // copy that shows it and the one converted ahead, rather than kAsideCount
  // of them.
  static constexpr size_t kAsideBytes = size_t{64} << 20;
  // Copies aside a place holds: the picture it shows and those it showed just
  // before.
  static constexpr size_t kCopiesPerPlace = 1;

  explicit PictureCache(size_t budget_bytes = kDefaultBudget);
  // Waits until no conversion runs on another thread (for tests and for
  // measuring memory).
  static void WaitForConversions();
  ~PictureCache();
  PictureCache(const PictureCache&) = delete;
  PictureCache& operator=(const PictureCache&) = delete;

  // A smaller budget drops kept copies until the rest fits.
  void SetBudget(size_t bytes);
  size_t budget() const { return budget_; }
  size_t kept_bytes() const { return kept_bytes_; }
  size_t kept_count() const { return kept_.size(); }
  // Every conversion done so far, for tests and benchmarks.
  int64_t conversions() const { return conversions_; }
  // Bytes of the copies set aside (beyond the budget) that are not a
  // picture's own pixels, for benchmarks.
  size_t CountAsideBytes() const;

  // Converts a picture ahead of painting and keeps the copy if it fits.
  void Prepare(const Picture& picture);
  // The same on another thread: the copy's room in the budget is taken now,
  // and the copy is kept when it comes back, from the event loop (ready is
  // then told of the picture). Nothing is kept for a picture that has gone
  // meanwhile. For large loads, whose conversions would each hold the event
  // loop up for a while.
  void PrepareElsewhere(const Picture& picture) { Convert(picture, false); }
  // The same for a picture about to be shown: one that does not fit the
  // budget goes with the copies kept aside (and ready is told of it too), so
  // that showing it converts nothing on this thread. At most kShowAhead of
  // those convert at once; false when the picture is not converted now for
  // that reason.
  bool PrepareToShow(const Picture& picture) { return Convert(picture, true); }
  // Told of each conversion that ends: with its picture when a copy of it is
  // now ready, else with the empty picture.
  void set_ready(std::function<void(const Picture&)> ready) { ready_ = std::move(ready); }
  // Whether no picture offered so far went without a kept copy for want of
  // room: then none needs preparing again before it is shown.
  bool KeepsAllOffered() const { return !turned_away_ && converting_aside_.empty(); }
  // Whether a copy is kept (or aside) for the picture, ready to paint.
  bool Has(const Picture& picture) { return !picture.IsEmpty() && Find(picture) != nullptr; }
  // The paint-ready copy, converted now when none is kept. A null image for
  // the empty picture and when memory for the copy cannot be had.
  //
  // `place`, when given, names where the picture is shown (an element of the
  // widget, say). A place holds copies aside of the last kCopiesPerPlace
  // pictures it showed: when it shows another, the oldest is let go, and a
  // conversion for the new one writes over it when nothing else holds it. A
  // widget that converts its frames as they are shown so holds a copy or two
  // per place, not the last few conversions whatever showed them.
  const QImage& Get(const Picture& picture, const void* place = nullptr);
  // Get's image for a caller that may keep it past the picture's life or
  // hand it to another thread: an image over the picture's own pixels holds
  // the picture while it lives.
  QImage GetToKeep(const Picture& picture);
  // Whether every pixel of the picture is opaque (converting it if need be).
  bool IsOpaque(const Picture& picture, const void* place = nullptr) {
    return !picture.IsEmpty() && Get(picture, place).format() == QImage::Format_RGB32;
  }
  // Pictures may have gone away: their copies are dropped at the next use.
  void MarkStale() {
    stale_ = true;
    full_ = false;
  }

  // Where the copies of other caches on this thread that this one found
  // are in the thread's table of them, while none has been taken out of it.
  struct SharedHint {
    const PictureData* key = nullptr;
    uint64_t table = 0;  // the table's id (none is 0)
    void* copy = nullptr;
    uint64_t erasures = 0;
  };
  using SharedHints = std::array<SharedHint, 64>;

 private:
  struct Entry {
    std::weak_ptr<const PictureData> picture;
    QImage image;
    size_t charged = 0;           // bytes counted in kept_bytes_
    bool borrows = false;         // image is over the picture's own pixels
    const void* place = nullptr;  // where the picture is shown, for a copy aside
  };
  using Kept = std::unordered_map<const PictureData*, Entry>;
  void Drop(Kept::iterator it);
  void Aside(const Picture& picture, QImage image, const void* place = nullptr);
  QImage MoveToPlace(const Picture& picture, const void* place);
  QImage Spare(std::pair<const PictureData*, Entry> aside);
  const QImage* Find(const Picture& picture);
  bool Fits(size_t bytes);
  bool Keep(const Picture& picture, QImage image);
  QImage TakeSpare(size_t bytes);
  // Whether the copies aside without a place leave no room for another of
  // `bytes` (a count of 0: none past those there are).
  bool AsideFull(size_t bytes) const;
  void DropExpired();

  bool Convert(const Picture& picture, bool aside_if_full);
  void Arrived(const PictureData* key, const Picture& picture, QImage image, size_t reserved);

  size_t budget_;
  size_t kept_bytes_ = 0;
  size_t converting_bytes_ = 0;                       // room taken by conversions on other threads
  std::vector<const PictureData*> converting_aside_;  // to be kept aside
  std::function<void(const Picture&)> ready_;
  // Conversions done elsewhere post back to the receiver while it lives.
  struct Inbox;
  std::shared_ptr<Inbox> inbox_;
  QObject receiver_;
  int64_t conversions_ = 0;
  bool stale_ = false;
  bool full_ = false;         // expired copies were dropped and the budget is still full
  bool turned_away_ = false;  // a copy did not fit the budget, since the cache was last empty
  Kept kept_;
  // The kept copy found last: a paint looks the frame on show up twice, and a
  // tick the frames after it. Forgotten when any copy is dropped.
  Kept::value_type* last_found_ = nullptr;
  std::deque<std::pair<const PictureData*, Entry>> aside_;
  SharedHints shared_hints_{};
};

// One conversion, not cached: RGB32 for opaque pictures, ARGB32 premultiplied
// otherwise. A null image for the empty picture or when memory runs out.
// `reuse`, an image of the same size that nothing else shares, is written
// over instead of new memory.
QImage ToPaintImage(const PictureData& data, QImage reuse = QImage());

// What the cache keeps to paint a picture: a picture of opaque 32-bit pixels
// paints from its own pixels (an RGB32 image over them, no copy, which must
// not outlive the picture), any other from a copy (ToPaintImage, written
// over `reuse` when it can be).
QImage PaintImageOf(const Picture& picture, QImage reuse = QImage());

// Holds the opaque frames of an animation as 32-bit pixels, which paint as
// they are, rather than in their compact form beside a paint-ready copy of
// each: the same memory as the copies alone. Frames are looked at in order
// while their 32-bit pixels together stay within `bytes` (what the paint
// cache would keep) and the budget has room for them; the others, and any
// frame that is not opaque, stay as they are.
void HoldFramesReadyToPaint(ComposedAnimation& animation, size_t bytes, const MemoryBudget* budget);

// A picture of a QImage's pixels (ARGB, not premultiplied). A null image
// gives the empty picture.
Picture PictureFromImage(const QImage& image);

}  // namespace flipreel
