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

// What a control may decode from a GIF when the application sets no limit of
// its own: a base that holds every real GIF (a film of 300 frames of
// 1920 x 1080 keeps 593 MB of pictures, classic or composed), plus
// kBudgetBytesPerFileByte for every byte of the file, a ratio of pictures to
// file that only a file made to expand reaches, and never more than the
// machine's cap. So a small file that claims huge frames is refused at the
// base, and a large real film still gets the room its size explains.
inline constexpr int64_t kBaseBudgetBytes = int64_t{640} << 20;
inline constexpr int64_t kBudgetBytesPerFileByte = 32;

class MemoryBudget {
 public:
  // The most any control's budget grows to by itself: a quarter of the
  // machine's physical memory, at most 2 GB.
  static int64_t MachineCap();
  // The limit the rule above gives a GIF file of file_bytes.
  static int64_t LimitForFile(int64_t file_bytes);
  // The limit before any file is known: the base, under the cap.
  static int64_t DefaultLimit() { return LimitForFile(0); }

  // A budget that follows the files it is told of (FollowFile) until the
  // application sets a limit of its own.
  MemoryBudget();
  // A budget with a fixed limit.
  explicit MemoryBudget(int64_t limit_bytes);

  int64_t limit() const { return state_->limit.load(); }
  // Fixes the limit, higher or lower than the rule would give: the
  // application's choice, which files no longer change.
  void SetLimit(int64_t limit_bytes);
  // Goes back to the rule, from the last file told.
  void FollowFiles();
  bool follows_files() const { return state_->follows.load(); }
  // Tells the budget of the GIF file whose pictures come next: a budget
  // that follows files takes the rule's limit for its size. Every host calls
  // it where a load hands it a file's bytes, before the first picture.
  void FollowFile(int64_t file_bytes);
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
    std::atomic<bool> follows{false};
    std::atomic<int64_t> file_bytes{0};  // the last file told
  };
  std::shared_ptr<State> state_;
};

// Megabytes for messages, rounded up: "64 MB".
std::string Megabytes(int64_t bytes);

// The message of the out-of-memory error a file larger than kMaxGifFileBytes
// is refused with, before anyone reads it.
std::string FileTooLargeMessage();

}  // namespace flipreel
