// Decoded frames, and the bytes they are made of, shared between controls
// that load the same bytes.
//
// A window that shows the same GIF many times over holds one copy of its
// bytes and one decoded copy of its frames: the composed animation, or each
// classic frame's picture, is kept here by the bytes it was made from, and a
// control that loads those bytes again is handed the pictures that are
// already made. Pictures never change once made (a control that gives a frame
// another picture replaces its own reference and leaves everyone else's
// alone), so they are shared read-only with no copying. Nothing is kept alive
// here: a kept entry lasts while some control still holds its pictures and
// the bytes it was made of, and goes with the last of them. The memory the
// pictures take is so counted once, by the load that made them.
//
// Bytes shared here are known by their address, with their hash, so that
// looking them up again hashes nothing: only sharing them does, where they
// are read, off the GUI thread.
//
// Safe to use from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "flipreel/host/animation.h"
#include "flipreel/host/picture.h"

namespace flipreel {

class SharedFrames {
 public:
  // The process's store.
  static SharedFrames& Of();

  // Bytes equal to bytes shared earlier and still held are those, so that
  // every control that reads one file holds one copy; other bytes are shared
  // from now on, while someone holds them. Hashes the bytes: for where a
  // load's bytes are read, not for the GUI thread.
  std::shared_ptr<const std::string> ShareBytes(std::shared_ptr<const std::string> bytes);

  // The animation composed of bytes: the one some control holds, when there
  // is one, else what compose makes (kept for the next). Errors of compose
  // are thrown on and nothing is kept.
  ComposedAnimation Animation(std::string_view bytes,
                              const std::function<ComposedAnimation()>& compose);
  // Whether an animation of these bytes is held by some control.
  bool HasAnimation(std::string_view bytes);
  // The picture of a GIF file of these bytes: the one some control holds,
  // else what decode makes (kept for the next). decode runs either way, so
  // that a decoder that hands out pictures in file order stays in step.
  Picture SharedPicture(std::string_view bytes, const std::function<Picture()>& decode);
  // The picture of a GIF file of these bytes some control holds; else the
  // empty picture.
  Picture FindPicture(std::string_view bytes);
  // Entries whose pictures some control still holds, for tests.
  size_t live_count();

 private:
  // Bytes as the store knows them: their hash, and themselves when they were
  // shared (else null).
  struct Key {
    size_t hash = 0;
    std::shared_ptr<const std::string> shared;
  };
  struct Entry {
    // What the entry was made of: shared bytes, held weakly, or (bytes that
    // were not shared, as a classic frame's file) a copy of its own.
    std::weak_ptr<const std::string> bytes;
    std::shared_ptr<const std::string> own_bytes;
    std::vector<std::weak_ptr<const PictureData>> pictures;
    std::vector<int32_t> delays;
    int32_t width = 0, height = 0, repeat_count = 0;
    bool animation = false;
    bool Live() const;
  };
  struct SharedBytes {
    std::weak_ptr<const std::string> bytes;
    size_t hash = 0;
  };
  Key KeyOf(std::string_view bytes);
  // The live entry of these bytes and kind; expired ones met are dropped.
  Entry* Find(std::string_view bytes, const Key& key, bool animation);
  // The picture of a live entry of a GIF file of these bytes; else empty.
  Picture KeptPicture(std::string_view bytes, const Key& key);
  void Insert(Entry entry, const Key& key, std::string_view bytes);
  void DropExpired();

  std::mutex mu_;
  std::unordered_multimap<size_t, Entry> entries_;       // by the hash of their bytes
  std::unordered_map<const char*, SharedBytes> shared_;  // by the address of the bytes
  size_t inserts_since_sweep_ = 0;
};

}  // namespace flipreel
