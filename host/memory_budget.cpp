#include "flipreel/host/memory_budget.h"

#include <unistd.h>

#include <algorithm>

#include "flipreel/host/errors.h"

namespace flipreel {

int64_t MemoryBudget::MachineCap() {
  static constexpr int64_t kMost = int64_t{2} << 30;
  static const int64_t cap = [] {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page_size = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return kMost;
    return std::min(kMost, int64_t{pages} * page_size / 4);
  }();
  return cap;
}

int64_t MemoryBudget::LimitForFile(int64_t file_bytes) {
  const int64_t cap = MachineCap();
  const int64_t file = std::clamp<int64_t>(file_bytes, 0, cap);  // no overflow below
  return std::min(cap, kBaseBudgetBytes + file * kBudgetBytesPerFileByte);
}

MemoryBudget::MemoryBudget() : state_(std::make_shared<State>()) {
  state_->limit.store(DefaultLimit());
  state_->follows.store(true);
}

MemoryBudget::MemoryBudget(int64_t limit_bytes) : state_(std::make_shared<State>()) {
  state_->limit.store(limit_bytes);
}

void MemoryBudget::SetLimit(int64_t limit_bytes) {
  state_->follows.store(false);
  state_->limit.store(limit_bytes);
}

void MemoryBudget::FollowFiles() {
  state_->follows.store(true);
  state_->limit.store(LimitForFile(state_->file_bytes.load()));
}

void MemoryBudget::FollowFile(int64_t file_bytes) {
  state_->file_bytes.store(file_bytes);
  if (state_->follows.load()) state_->limit.store(LimitForFile(file_bytes));
}

std::shared_ptr<const void> MemoryBudget::Reserve(int64_t bytes, const std::string& what) const {
  const int64_t limit = state_->limit.load();
  int64_t used = state_->used.load();
  do {
    if (bytes > limit - used)
      Raise(err::kOutOfMemory,
            ErrorDescription(err::kOutOfMemory) + ": " + what + " needs " + Megabytes(bytes) +
                ", more than the " + Megabytes(std::max<int64_t>(limit - used, 0)) +
                " left of the memory budget of " + Megabytes(limit) +
                (state_->follows.load() ? " for a file of " + Megabytes(state_->file_bytes.load())
                                        : std::string()));
  } while (!state_->used.compare_exchange_weak(used, used + bytes));
  return Token(bytes);
}

std::shared_ptr<const void> MemoryBudget::TryReserve(int64_t bytes) const {
  const int64_t limit = state_->limit.load();
  int64_t used = state_->used.load();
  do {
    if (bytes > limit - used) return nullptr;
  } while (!state_->used.compare_exchange_weak(used, used + bytes));
  return Token(bytes);
}

// The token is the state itself, kept alive by it and refunding on release.
std::shared_ptr<const void> MemoryBudget::Token(int64_t bytes) const {
  return std::shared_ptr<const void>(
      state_.get(), [state = state_, bytes](const void*) { state->used.fetch_sub(bytes); });
}

std::string Megabytes(int64_t bytes) {
  return std::to_string((bytes + (int64_t{1} << 20) - 1) >> 20) + " MB";
}

std::string FileTooLargeMessage() {
  return ErrorDescription(err::kOutOfMemory) + ": the file is larger than the " +
         Megabytes(kMaxGifFileBytes) + " a GIF file may have";
}

}  // namespace flipreel
