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
  return !bytes.expired() && !pictures.empty() &&
         std::none_of(pictures.begin(), pictures.end(), [](const auto& p) { return p.expired(); });
}

// Few files are held at once: they are looked through one by one, and those
// that have gone are dropped on the way.
std::shared_ptr<const std::string> SharedFrames::ShareBytes(
    std::shared_ptr<const std::string> bytes) {
  if (!bytes) return bytes;
  const size_t hash = std::hash<std::string_view>{}(*bytes);
  const std::lock_guard lock(mu_);
  for (auto it = shared_.begin(); it != shared_.end();) {
    std::shared_ptr<const std::string> held = it->second.bytes.lock();
    if (!held) {
      it = shared_.erase(it);
    } else if (it->second.hash == hash && *held == *bytes) {
      return held;
    } else {
      ++it;
    }
  }
  shared_.emplace(bytes->data(), SharedBytes{bytes, hash});
  return bytes;
}

// Shared bytes are known by their address; any others are hashed here,
// outside the lock.
SharedFrames::Key SharedFrames::KeyOf(std::string_view bytes) {
  {
    const std::lock_guard lock(mu_);
    if (auto it = shared_.find(bytes.data()); it != shared_.end()) {
      std::shared_ptr<const std::string> held = it->second.bytes.lock();
      if (held && held->size() == bytes.size()) return Key{it->second.hash, std::move(held)};
    }
  }
  return Key{std::hash<std::string_view>{}(bytes), nullptr};
}

SharedFrames::Entry* SharedFrames::Find(std::string_view bytes, const Key& key, bool animation) {
  auto [first, last] = entries_.equal_range(key.hash);
  for (auto it = first; it != last;) {
    if (!it->second.Live()) {
      it = entries_.erase(it);
      continue;
    }
    if (it->second.animation == animation) {
      const std::shared_ptr<const std::string> made_of = it->second.bytes.lock();
      if (made_of && (made_of == key.shared || *made_of == bytes)) return &it->second;
    }
    ++it;
  }
  return nullptr;
}

// Entries of pictures that have all gone are swept now and then, so that
// the store never holds more than about twice what is live. An entry of
// shared bytes refers to them; any other keeps a copy of its bytes.
void SharedFrames::Insert(Entry entry, const Key& key, std::string_view bytes) {
  if (++inserts_since_sweep_ > entries_.size() / 2) DropExpired();
  if (key.shared) {
    entry.bytes = key.shared;
  } else {
    entry.own_bytes = std::make_shared<const std::string>(bytes);
    entry.bytes = entry.own_bytes;
  }
  entries_.emplace(key.hash, std::move(entry));
}

void SharedFrames::DropExpired() {
  inserts_since_sweep_ = 0;
  std::erase_if(entries_, [](const auto& e) { return !e.second.Live(); });
  std::erase_if(shared_, [](const auto& b) { return b.second.bytes.expired(); });
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
  const Key key = KeyOf(bytes);
  {
    const std::lock_guard lock(mu_);
    if (std::optional<ComposedAnimation> kept = from_entry(Find(bytes, key, true))) return *kept;
  }
  ComposedAnimation made = compose();
  if (made.frames.empty()) return made;
  const std::lock_guard lock(mu_);
  if (std::optional<ComposedAnimation> kept = from_entry(Find(bytes, key, true))) return *kept;
  Entry entry{{}, {}, {}, {}, made.width, made.height, made.repeat_count, true};
  for (const ComposedFrame& frame : made.frames) {
    // An animation with an empty picture cannot tell when it has gone.
    if (frame.picture.IsEmpty()) return made;
    entry.pictures.push_back(frame.picture.shared());
    entry.delays.push_back(frame.delay_ms);
  }
  Insert(std::move(entry), key, bytes);
  return made;
}

bool SharedFrames::HasAnimation(std::string_view bytes) {
  const Key key = KeyOf(bytes);
  const std::lock_guard lock(mu_);
  return Find(bytes, key, true) != nullptr;
}

// Bytes some control holds decoded give their picture without decoding
// them again; decoding runs outside the lock, as composing does.
Picture SharedFrames::SharedPicture(std::string_view bytes,
                                    const std::function<Picture()>& decode) {
  const Key key = KeyOf(bytes);
  auto kept = [&] { return KeptPicture(bytes, key); };
  {
    const std::lock_guard lock(mu_);
    if (Picture found = kept(); !found.IsEmpty()) return found;
  }
  Picture made = decode();
  if (made.IsEmpty()) return made;
  const std::lock_guard lock(mu_);
  if (Picture found = kept(); !found.IsEmpty()) return found;
  Insert(Entry{{}, {}, {made.shared()}, {}, made.width(), made.height(), 0, false}, key, bytes);
  return made;
}

Picture SharedFrames::FindPicture(std::string_view bytes) {
  const Key key = KeyOf(bytes);
  const std::lock_guard lock(mu_);
  return KeptPicture(bytes, key);
}

Picture SharedFrames::KeptPicture(std::string_view bytes, const Key& key) {
  const Entry* e = Find(bytes, key, false);
  return e ? Picture(e->pictures.front().lock()) : Picture();
}

size_t SharedFrames::live_count() {
  const std::lock_guard lock(mu_);
  DropExpired();
  return entries_.size();
}

}  // namespace flipreel
