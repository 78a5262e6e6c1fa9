#include "flipreel/qt/shared_frames.h"

#include <algorithm>

namespace flipreel {

// Never destroyed: threads that read ahead may still consult it while the
// process exits. It holds no pictures, only weak references and keys.
SharedFrames& SharedFrames::Of() {
  static SharedFrames* const frames = new SharedFrames;
  return *frames;
}

bool SharedFrames::Entry::Live() const {
  return !pictures.empty() &&
         std::none_of(pictures.begin(), pictures.end(), [](const auto& p) { return p.expired(); });
}

SharedFrames::Entry* SharedFrames::Find(std::string_view bytes, bool animation) {
  auto [first, last] = entries_.equal_range(std::hash<std::string_view>{}(bytes));
  for (auto it = first; it != last;) {
    if (!it->second.Live()) {
      it = entries_.erase(it);
    } else if (it->second.animation == animation && it->second.bytes == bytes) {
      return &it->second;
    } else {
      ++it;
    }
  }
  return nullptr;
}

// Entries of pictures that have all gone are swept now and then, so that
// the store never holds more than about twice what is live.
void SharedFrames::Insert(Entry entry) {
  if (++inserts_since_sweep_ > entries_.size() / 2) DropExpired();
  const size_t key = std::hash<std::string_view>{}(entry.bytes);
  entries_.emplace(key, std::move(entry));
}

void SharedFrames::DropExpired() {
  inserts_since_sweep_ = 0;
  std::erase_if(entries_, [](const auto& e) { return !e.second.Live(); });
}

// Composing runs outside the lock: two controls that compose the same bytes
// at once both compose, and the second takes the first's pictures.
ComposedAnimation SharedFrames::Animation(std::string_view bytes,
                                          const std::function<ComposedAnimation()>& compose) {
  // A picture may go on another thread at any time: an entry whose pictures
  // cannot all be had is no longer live.
  auto from_entry = [](const Entry* e) -> std::optional<ComposedAnimation> {
    if (!e) return std::nullopt;
    ComposedAnimation kept;
    kept.width = e->width;
    kept.height = e->height;
    kept.repeat_count = e->repeat_count;
    kept.frames.reserve(e->pictures.size());
    for (size_t i = 0; i < e->pictures.size(); ++i) {
      Picture picture(e->pictures[i].lock());
      if (picture.IsEmpty()) return std::nullopt;
      kept.frames.push_back(ComposedFrame{std::move(picture), e->delays[i]});
    }
    return kept;
  };
  {
    const std::lock_guard lock(mu_);
    if (std::optional<ComposedAnimation> kept = from_entry(Find(bytes, true))) return *kept;
  }
  ComposedAnimation made = compose();
  if (made.frames.empty()) return made;
  const std::lock_guard lock(mu_);
  if (std::optional<ComposedAnimation> kept = from_entry(Find(bytes, true))) return *kept;
  Entry entry{std::string(bytes), {}, {}, made.width, made.height, made.repeat_count, true};
  for (const ComposedFrame& frame : made.frames) {
    entry.pictures.push_back(frame.picture.shared());
    entry.delays.push_back(frame.delay_ms);
  }
  // An animation with an empty picture cannot tell when it has gone.
  if (entry.Live()) Insert(std::move(entry));
  return made;
}

bool SharedFrames::HasAnimation(std::string_view bytes) {
  const std::lock_guard lock(mu_);
  return Find(bytes, true) != nullptr;
}

// Bytes some control holds decoded give their picture without decoding
// them again; decoding runs outside the lock, as composing does.
Picture SharedFrames::SharedPicture(std::string_view bytes,
                                    const std::function<Picture()>& decode) {
  auto kept = [&]() -> Picture {
    const Entry* e = Find(bytes, false);
    return e ? Picture(e->pictures.front().lock()) : Picture();
  };
  {
    const std::lock_guard lock(mu_);
    if (Picture found = kept(); !found.IsEmpty()) return found;
  }
  Picture made = decode();
  if (made.IsEmpty()) return made;
  const std::lock_guard lock(mu_);
  if (Picture found = kept(); !found.IsEmpty()) return found;
  Insert(Entry{std::string(bytes), {made.shared()}, {}, made.width(), made.height(), 0, false});
  return made;
}

size_t SharedFrames::live_count() {
  const std::lock_guard lock(mu_);
  DropExpired();
  return entries_.size();
}

}  // namespace flipreel
