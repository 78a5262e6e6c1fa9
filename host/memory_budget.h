// The memory one control's decoded pictures may take together: its frames,
// its background picture and the pictures restored from a saved form. Each
// picture reserves its pixel storage before it is allocated, from the size
// its data claims, and gives it back when the last reference to it goes, so
// a hostile file is refused before it costs the memory, not after.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace flipreel {

// The largest GIF file a control reads, from a disk or from a server: larger
// ones are not worth holding as text, and a file that claims to be a GIF is
// not read whole before this is checked.
inline constexpr int64_t kMaxGifFileBytes = int64_t{64} << 20;

class MemoryBudget {
 public:
  // A quarter of the machine's physical memory, at most 2 GB.
  static int64_t DefaultLimit();

  explicit MemoryBudget(int64_t limit_bytes = DefaultLimit());

  int64_t limit() const { return state_->limit.load(); }
  void SetLimit(int64_t limit_bytes) { state_->limit.store(limit_bytes); }
  int64_t used() const { return state_->used.load(); }

  // Reserves bytes for what is about to be allocated (what names it in the
  // error: "a picture of 8192 x 8192 pixels"). When they do not fit, raises
  // the out-of-memory error (7) saying which limit. The bytes are given back
  // when the last copy of the returned token goes; the token may outlive the
  // budget.
  std::shared_ptr<const void> Reserve(int64_t bytes, const std::string& what) const;
  // The same, with what named only when the bytes do not fit, for callers
  // that reserve often.
  template <typename Name>
  std::shared_ptr<const void> ReserveNamed(int64_t bytes, Name&& name) const {
    if (std::shared_ptr<const void> token = TryReserve(bytes)) return token;
    return Reserve(bytes, name());
  }
  // The reservation, or none when the bytes do not fit.
  std::shared_ptr<const void> TryReserve(int64_t bytes) const;

 private:
  std::shared_ptr<const void> Token(int64_t bytes) const;
  struct State {
    std::atomic<int64_t> limit;
    std::atomic<int64_t> used{0};
  };
  std::shared_ptr<State> state_;
};

// Megabytes for messages, rounded up: "64 MB".
std::string Megabytes(int64_t bytes);

}  // namespace flipreel
