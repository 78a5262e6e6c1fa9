#include "flipreel/qt/picture_cache.h"

#include <QThreadPool>
#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "flipreel/gif/gif_decoder.h"
#include "flipreel/host/background.h"

namespace flipreel {

QImage ToPaintImage(const PictureData& data, QImage reuse) {
  const int w = data.width(), h = data.height();
  if (w <= 0 || h <= 0) return QImage();
  QImage image = reuse.size() == QSize(w, h) && reuse.depth() == 32 && reuse.isDetached()
                     ? std::move(reuse)
                     : QImage(w, h, QImage::Format_ARGB32_Premultiplied);
  image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return image;  // no memory for it
  QRgb opaque = 0xFF000000u;         // stays all ones in alpha while every pixel is opaque
  if (data.format() == PictureData::Format::kIndexed8) {
    std::array<QRgb, 256> colors;
    for (size_t i = 0; i < colors.size(); ++i) colors[i] = qPremultiply(data.palette()[i]);
    const uint8_t* src = data.indices();
    for (int y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < w; ++x) {
        const QRgb c = colors[*src++];
        opaque &= c;
        row[x] = c;
      }
    }
  } else {
    const uint32_t* src = data.argb();
    for (int y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < w; ++x) {
        const QRgb c = qPremultiply(*src++);
        opaque &= c;
        row[x] = c;
      }
    }
  }
  // Opaque pictures paint faster without blending; the pixels are the same.
  if ((opaque & 0xFF000000u) == 0xFF000000u) image.reinterpretAsFormat(QImage::Format_RGB32);
  return image;
}

namespace {

bool AllOpaque(const PictureData& data) {
  const uint32_t* pixel = data.argb();
  const uint32_t* const end = pixel + size_t(data.width()) * size_t(data.height());
  uint32_t alpha = 0xFF000000u;
  for (; pixel != end; ++pixel) alpha &= *pixel;
  return alpha == 0xFF000000u;
}

}  // namespace

QImage PaintImageOf(const Picture& picture, QImage reuse) {
  const PictureData* data = picture.data();
  if (!data || data->width() <= 0 || data->height() <= 0) return QImage();
  if (data->format() == PictureData::Format::kArgb32 && AllOpaque(*data))
    return QImage(reinterpret_cast<const uchar*>(data->argb()), data->width(), data->height(),
                  qsizetype{4} * data->width(), QImage::Format_RGB32);
  return ToPaintImage(*data, std::move(reuse));
}

// The compact frame is let go as soon as its 32-bit pixels are made, so that
// the two are held together for one frame at a time.
void HoldFramesReadyToPaint(ComposedAnimation& animation, size_t bytes,
                            const MemoryBudget* budget) {
  size_t held = 0;
  for (ComposedFrame& frame : animation.frames) {
    const PictureData* data = frame.picture.data();
    if (!data) continue;
    const size_t pixels = size_t(data->width()) * size_t(data->height());
    held += pixels * sizeof(uint32_t);
    if (held > bytes) return;
    if (data->format() != PictureData::Format::kIndexed8) continue;
    std::shared_ptr<const void> reservation;
    if (budget) {
      reservation = budget->TryReserve(static_cast<int64_t>(pixels * sizeof(uint32_t)));
      if (!reservation) return;
    }
    std::vector<uint32_t> argb(pixels);
    const PictureData::Palette& palette = data->palette();
    const uint8_t* index = data->indices();
    uint32_t alpha = 0xFF000000u;
    for (uint32_t& pixel : argb) {
      pixel = palette[*index++];
      alpha &= pixel;
    }
    if (alpha != 0xFF000000u) continue;
    frame.picture =
        KeepReserved(Picture(PictureData::Argb(data->width(), data->height(), std::move(argb))),
                     std::move(reservation));
  }
}

Picture PictureFromImage(const QImage& image) {
  if (image.isNull()) return Picture();
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  if (argb.isNull()) throw std::bad_alloc();
  const int w = argb.width(), h = argb.height();
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    std::copy_n(row, w, pixels.begin() + static_cast<ptrdiff_t>(y) * w);
  }
  return Picture(PictureData::Argb(w, h, std::move(pixels)));
}

namespace {

// Conversions run on threads of their own, which give way to the event loop
// (the application's own pool keeps its threads as the application set them).
QThreadPool& ConversionPool() {
  static QThreadPool pool;
  return pool;
}

void ConvertInBackground(std::function<void()> convert) {
  ConversionPool().start([convert = std::move(convert)] {
    thread_local const bool lowered = (RunInBackground(), true);
    (void)lowered;
    convert();
  });
}

// The paint-ready copies every cache on this thread has made, so that
// widgets that show the same picture (controls sharing their frames) paint
// from one copy, converted once. An entry lasts while some cache keeps its
// image: QImage shares its pixels between copies, and the one here being
// the only one left (detached) means every cache has let it go.
struct SharedCopy {
  std::weak_ptr<const PictureData> picture;
  QImage image;
};
uint64_t NewTableId() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

struct SharedCopies {
  // Never the same for two tables, even after a thread and its table have
  // gone, so that a hint at another thread's table is never taken for one here.
  const uint64_t id = NewTableId();
  std::unordered_map<const PictureData*, SharedCopy> copies;
  // Goes up whenever an entry is taken out: an entry found before is where it
  // was while this has not moved (a map's entries stay put until erased).
  uint64_t erasures = 0;
  void Erase(const PictureData* key) {
    copies.erase(key);
    ++erasures;
  }
};

SharedCopies& Shared() {
  thread_local SharedCopies copies;
  return copies;
}

// The thread's shared copy of the picture. A cache that shows another's
// copies of a GIF's frames finds each one again through its hints, without
// looking through the thread's table.
const QImage* FindShared(const Picture& picture, PictureCache::SharedHints& hints) {
  SharedCopies& shared = Shared();
  const PictureData* key = picture.data();
  const auto bits = reinterpret_cast<uintptr_t>(key);
  // Fibonacci hashing: the top bits of the address times 2^64 / phi, one of
  // the 64 hints.
  static_assert(std::tuple_size_v<PictureCache::SharedHints> == 64);
  PictureCache::SharedHint& hint = hints[(bits * 0x9E3779B97F4A7C15u) >> 58];
  auto* copy = static_cast<SharedCopy*>(hint.copy);
  if (hint.key != key || hint.table != shared.id || hint.erasures != shared.erasures) {
    auto it = shared.copies.find(key);
    if (it == shared.copies.end()) return nullptr;
    copy = &it->second;
    hint = {key, shared.id, copy, shared.erasures};
  }
  if (!copy->picture.expired() && !copy->image.isDetached()) return &copy->image;
  shared.Erase(key);
  return nullptr;
}

void Offer(const Picture& picture, const QImage& image) {
  Shared().copies[picture.data()] = SharedCopy{picture.shared(), image};
}

// A cache takes its copy of the picture back, to write over it: the copy is
// no longer offered.
void Withdraw(const PictureData* key, const QImage& image) {
  SharedCopies& shared = Shared();
  if (auto it = shared.copies.find(key);
      it != shared.copies.end() && it->second.image.constBits() == image.constBits())
    shared.Erase(key);
}

// A cache has let go of its copy of the picture.
void Release(const PictureData* key) {
  SharedCopies& shared = Shared();
  if (auto it = shared.copies.find(key); it != shared.copies.end() && it->second.image.isDetached())
    shared.Erase(key);
}

}  // namespace

size_t PictureCache::CountAsideBytes() const {
  size_t bytes = 0;
  for (const auto& [key, entry] : aside_)
    if (!entry.borrows) bytes += static_cast<size_t>(entry.image.sizeInBytes());
  return bytes;
}

void PictureCache::WaitForConversions() {
  ConversionPool().waitForDone();
}

struct PictureCache::Inbox {
  std::mutex mu;
  QObject* receiver = nullptr;  // null once the cache has gone
};

PictureCache::PictureCache(size_t budget_bytes)
    : budget_(budget_bytes), inbox_(std::make_shared<Inbox>()) {
  inbox_->receiver = &receiver_;
}

PictureCache::~PictureCache() {
  {
    const std::lock_guard lock(inbox_->mu);
    inbox_->receiver = nullptr;
  }
  std::vector<const PictureData*> keys;
  for (const auto& [key, entry] : kept_) keys.push_back(key);
  for (const auto& [key, entry] : aside_) keys.push_back(key);
  kept_.clear();
  aside_.clear();
  for (const PictureData* key : keys) Release(key);
}

bool PictureCache::AsideFull(size_t bytes) const {
  size_t count = 0;
  size_t held = 0;
  for (const auto& [key, entry] : aside_) {
    if (entry.place) continue;
    ++count;
    if (!entry.borrows) held += static_cast<size_t>(entry.image.sizeInBytes());
  }
  return count > 0 &&
         (count + (bytes > 0) > kAsideCount || held + bytes > std::max(budget_, kAsideBytes));
}

// Copies aside without a place are the last kAsideCount made, within
// kAsideBytes: past that, the oldest of them go. A place holds its one copy
// until it shows another.
void PictureCache::Aside(const Picture& picture, QImage image, const void* place) {
  Offer(picture, image);
  const PictureData* data = picture.data();
  const bool borrows = data && data->format() == PictureData::Format::kArgb32 &&
                       image.constBits() == reinterpret_cast<const uchar*>(data->argb());
  aside_.emplace_back(picture.data(), Entry{picture.shared(), std::move(image), 0, borrows, place});
  while (AsideFull(0)) {
    const auto oldest =
        std::ranges::find(aside_, nullptr, [](const auto& e) { return e.second.place; });
    if (oldest == std::prev(aside_.end())) break;  // the newest stays
    const PictureData* key = oldest->first;
    aside_.erase(oldest);
    Release(key);
  }
}

// A place now shows picture: a copy of it set aside is the place's from now
// on, and of the copies of what the place showed before it keeps the latest
// kCopiesPerPlace - 1 (none at one copy per place: a control playing the
// same frames a little behind converts its own). The oldest it lets go is
// handed back to be written over when it can be (see Spare).
QImage PictureCache::MoveToPlace(const Picture& picture, const void* place) {
  const PictureData* key = picture.data();
  if (const auto it = std::ranges::find(aside_, key, [](const auto& e) { return e.first; });
      it != aside_.end() && it->second.place != place) {
    auto entry = std::move(*it);
    aside_.erase(it);
    entry.second.place = place;
    aside_.push_back(std::move(entry));  // the latest the place shows
  }
  const auto before = [&](const auto& e) { return e.second.place == place && e.first != key; };
  QImage spare;
  while (std::ranges::count_if(aside_, before) >= static_cast<ptrdiff_t>(kCopiesPerPlace)) {
    const auto oldest = std::ranges::find_if(aside_, before);
    auto entry = std::move(*oldest);
    aside_.erase(oldest);
    spare = Spare(std::move(entry));
  }
  return spare;
}

// A copy taken out of the aside, to be written over when nothing else holds
// it. A copy that is a picture's own pixels is never written over: they are
// the picture's, and may be gone already.
QImage PictureCache::Spare(std::pair<const PictureData*, Entry> aside) {
  auto& [key, entry] = aside;
  Withdraw(key, entry.image);
  return !entry.borrows && entry.image.isDetached() ? std::move(entry.image) : QImage();
}

void PictureCache::Drop(Kept::iterator it) {
  const PictureData* key = it->first;
  last_found_ = nullptr;
  kept_bytes_ -= it->second.charged;
  kept_.erase(it);
  Release(key);
}

bool PictureCache::Convert(const Picture& picture, bool aside_if_full) {
  if (picture.IsEmpty()) return false;
  if (Find(picture) || std::ranges::count(converting_aside_, picture.data())) return true;
  size_t bytes = size_t{4} * picture.width() * picture.height();
  if (Fits(converting_bytes_ + bytes)) {
    converting_bytes_ += bytes;
  } else if (aside_if_full && converting_aside_.size() < kShowAhead &&
             (converting_aside_.empty() ||
              bytes * (converting_aside_.size() + 1) <= std::max(budget_, kAsideBytes))) {
    // One frame converts ahead whatever its size, so that frames too large
    // for the rest of the aside are not all converted on this thread as they
    // are shown; further ones only while they fit kAsideBytes together.
    converting_aside_.push_back(picture.data());
    bytes = 0;  // takes no room in the budget
    turned_away_ = true;
  } else {
    turned_away_ = true;
    return false;  // converted when shown
  }
  ++conversions_;
  // A compact picture's copy is allocated here, not on the converting thread:
  // memory a pool thread allocates stays in that thread's own heap arena
  // once freed, where the next conversions on this thread cannot use it.
  QImage target;
  if (picture.data()->format() == PictureData::Format::kIndexed8)
    target = QImage(picture.width(), picture.height(), QImage::Format_ARGB32_Premultiplied);
  // The thread holds the picture's data only while it converts: a picture
  // dropped meanwhile is not kept alive past that.
  ConvertInBackground([this, inbox = inbox_, key = picture.data(), data = picture.shared(), bytes,
                       target = std::move(target)]() mutable {
    QImage image = PaintImageOf(Picture(data), std::move(target));
    const std::weak_ptr<const PictureData> weak = data;
    data.reset();
    const std::lock_guard lock(inbox->mu);
    if (!inbox->receiver) return;
    QMetaObject::invokeMethod(
        inbox->receiver,
        // Runs on the GUI thread only while the receiver, a member of
        // the cache, lives.
        [this, key, weak, image = std::move(image), bytes]() mutable {
          Arrived(key, Picture(weak.lock()), std::move(image), bytes);
        },
        Qt::QueuedConnection);
  });
  return true;
}

void PictureCache::Arrived(const PictureData* key, const Picture& picture, QImage image,
                           size_t reserved) {
  if (reserved == 0) std::erase(converting_aside_, key);
  converting_bytes_ -= std::min(converting_bytes_, reserved);
  // A conversion that ends without a new copy still tells ready, with the
  // empty picture: one that was not started for want of a free slot can be
  // asked for again now.
  const auto ended = [&](const Picture& ready) {
    if (ready_) ready_(ready);
  };
  if (picture.IsEmpty() || image.isNull() || Find(picture)) return ended(Picture());
  if (Fits(static_cast<size_t>(image.sizeInBytes())))
    return ended(Keep(picture, std::move(image)) ? picture : Picture());
  turned_away_ = true;
  if (reserved != 0) return ended(Picture());
  Aside(picture, std::move(image));
  ended(picture);
}

void PictureCache::SetBudget(size_t bytes) {
  budget_ = bytes;
  DropExpired();
  // Drops the largest copies first; what remains is kept.
  while (kept_bytes_ > budget_ && !kept_.empty()) {
    turned_away_ = true;
    Drop(std::max_element(kept_.begin(), kept_.end(), [](const auto& a, const auto& b) {
      return a.second.charged < b.second.charged;
    }));
  }
}

// An entry is valid while its picture lives: only then can no other picture
// have taken its address. A copy another cache made is used while that cache
// keeps it, and never kept here: it stays charged to that cache's budget
// alone, and goes when that cache lets it go, so that two caches showing one
// large GIF never each end up holding every frame's copy.
const QImage* PictureCache::Find(const Picture& picture) {
  if (stale_) DropExpired();
  const PictureData* key = picture.data();
  if (last_found_ && last_found_->first == key && !last_found_->second.picture.expired())
    return &last_found_->second.image;
  if (auto it = kept_.find(key); it != kept_.end()) {
    if (!it->second.picture.expired()) {
      last_found_ = &*it;
      return &it->second.image;
    }
    Drop(it);
  }
  for (auto it = aside_.begin(); it != aside_.end(); ++it) {
    if (it->first != key) continue;
    if (!it->second.picture.expired()) return &it->second.image;
    aside_.erase(it);
    Release(key);
    break;
  }
  return FindShared(picture, shared_hints_);
}

void PictureCache::DropExpired() {
  stale_ = false;
  full_ = false;
  for (auto it = kept_.begin(); it != kept_.end();) {
    auto next = std::next(it);
    if (it->second.picture.expired()) Drop(it);
    it = next;
  }
  std::vector<const PictureData*> gone;
  std::erase_if(aside_, [&](const auto& e) {
    if (!e.second.picture.expired()) return false;
    gone.push_back(e.first);
    return true;
  });
  for (const PictureData* key : gone) Release(key);
  if (kept_.empty() && aside_.empty() && converting_bytes_ == 0 && converting_aside_.empty())
    turned_away_ = false;
}

// Whether a copy of that many bytes fits the budget. Copies of pictures that
// have gone away are looked for once after each change that may have freed
// some, not on every frame of a large GIF that does not fit.
bool PictureCache::Fits(size_t bytes) {
  if (kept_bytes_ + bytes <= budget_) return true;
  if (!full_) {
    DropExpired();
    full_ = true;
  }
  return kept_bytes_ + bytes <= budget_;
}

bool PictureCache::Keep(const Picture& picture, QImage image) {
  const auto bytes = static_cast<size_t>(image.sizeInBytes());
  if (!Fits(bytes)) {
    turned_away_ = true;
    return false;
  }
  kept_bytes_ += bytes;
  Offer(picture, image);
  kept_[picture.data()] = Entry{picture.shared(), std::move(image), bytes};
  return true;
}

void PictureCache::Prepare(const Picture& picture) {
  if (picture.IsEmpty() || Find(picture)) return;
  if (!Fits(size_t{4} * picture.width() * picture.height())) {
    turned_away_ = true;
    return;  // converted when shown
  }
  QImage image = PaintImageOf(picture);
  ++conversions_;
  if (!image.isNull()) Keep(picture, std::move(image));
}

// A full aside gives its oldest copy without a place up to be written over:
// a frame converted as it is shown then reuses the memory of one shown
// before rather than having new pages mapped in.
QImage PictureCache::TakeSpare(size_t bytes) {
  const auto placeless = [](const auto& e) { return e.second.place == nullptr; };
  if (!AsideFull(bytes)) return QImage();
  const auto oldest = std::ranges::find_if(aside_, placeless);
  auto entry = std::move(*oldest);
  aside_.erase(oldest);
  return Spare(std::move(entry));
}

const QImage& PictureCache::Get(const Picture& picture, const void* place) {
  static const QImage kNone;
  if (picture.IsEmpty()) return kNone;
  QImage spare = place ? MoveToPlace(picture, place) : QImage();
  if (const QImage* found = Find(picture)) return *found;
  const bool fits = Fits(size_t{4} * picture.width() * picture.height());
  if (!fits && spare.isNull()) spare = TakeSpare(size_t{4} * picture.width() * picture.height());
  QImage image = PaintImageOf(picture, fits ? QImage() : std::move(spare));
  ++conversions_;
  if (image.isNull()) return kNone;
  if (Keep(picture, image)) return kept_.at(picture.data()).image;
  Aside(picture, std::move(image), place);
  return aside_.back().second.image;
}

QImage PictureCache::GetToKeep(const Picture& picture) {
  const QImage& image = Get(picture);
  const PictureData* data = picture.data();
  if (image.isNull() || !data || image.constBits() != reinterpret_cast<const uchar*>(data->argb()))
    return image;
  using Hold = std::shared_ptr<const PictureData>;
  return QImage(
      image.constBits(), image.width(), image.height(), image.bytesPerLine(), image.format(),
      [](void* hold) { delete static_cast<Hold*>(hold); }, new Hold(picture.shared()));
}

}  // namespace flipreel
