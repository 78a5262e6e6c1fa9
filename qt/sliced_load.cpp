#include "flipreel/qt/sliced_load.h"

#include <sys/mman.h>
#include <ucontext.h>

#include <cstdint>
#include <new>
#include <utility>

// The sanitizers follow a switch of stacks only when told of it.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#define FLIPREEL_ASAN_FIBERS 1
#endif
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define FLIPREEL_TSAN_FIBERS 1
#endif

namespace flipreel {

namespace {

// The load's own stack: the control's steps are shallow, but the sanitizers
// make frames larger. Only the pages touched are ever made.
constexpr size_t kStackSize = size_t{4} << 20;
constexpr size_t kGuardSize = size_t{64} << 10;

}  // namespace

struct SlicedLoad::Context {
  ucontext_t caller{};
  ucontext_t load{};
  void* mapping = nullptr;
  char* stack = nullptr;
#if FLIPREEL_ASAN_FIBERS
  void* caller_fake_stack = nullptr;
  void* load_fake_stack = nullptr;
  const void* caller_bottom = nullptr;
  size_t caller_size = 0;
#endif
#if FLIPREEL_TSAN_FIBERS
  void* caller_fiber = nullptr;
  void* load_fiber = nullptr;
#endif

  Context() {
    mapping = mmap(nullptr, kStackSize + kGuardSize, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED) throw std::bad_alloc();
    // The stack grows down, towards the guard at the mapping's start.
    mprotect(mapping, kGuardSize, PROT_NONE);
    stack = static_cast<char*>(mapping) + kGuardSize;
#if FLIPREEL_TSAN_FIBERS
    load_fiber = __tsan_create_fiber(0);
#endif
  }
  ~Context() {
#if FLIPREEL_TSAN_FIBERS
    __tsan_destroy_fiber(load_fiber);
#endif
    munmap(mapping, kStackSize + kGuardSize);
  }
};

SlicedLoad::SlicedLoad(std::function<void()> load)
    : load_(std::move(load)), context_(std::make_unique<Context>()) {}

SlicedLoad::~SlicedLoad() = default;

bool SlicedLoad::Resume(bool sliced) {
  if (done_ || running_) return done_;
  sliced_ = sliced;
  slice_start_ = std::chrono::steady_clock::now();
  Context& c = *context_;
  if (!started_) {
    started_ = true;
    getcontext(&c.load);
    c.load.uc_stack.ss_sp = c.stack;
    c.load.uc_stack.ss_size = kStackSize;
    c.load.uc_link = &c.caller;
    const auto self = reinterpret_cast<uintptr_t>(this);
    makecontext(&c.load, reinterpret_cast<void (*)()>(&SlicedLoad::Entry), 2,
                static_cast<unsigned int>(self >> 32), static_cast<unsigned int>(self));
  }
  running_ = true;
  SwitchIn();
  running_ = false;
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  return done_;
}

void SlicedLoad::Pause() {
  if (running_) SwitchOut(false);
}

void SlicedLoad::BetweenSteps(const std::function<bool()>& ready) {
  // Long enough to cost little in switches, short enough that the event loop
  // keeps its frames on time.
  constexpr auto kSlice = std::chrono::microseconds(1500);
  while (running_ && sliced_ &&
         (!ready() || std::chrono::steady_clock::now() - slice_start_ >= kSlice)) {
    Pause();
  }
}

bool SlicedLoad::PauseToWait() {
  if (!running_ || !sliced_) return false;
  Pause();
  return true;
}

void SlicedLoad::Entry(unsigned int high, unsigned int low) {
  auto* self = reinterpret_cast<SlicedLoad*>(uintptr_t{high} << 32 | uintptr_t{low});
#if FLIPREEL_ASAN_FIBERS
  __sanitizer_finish_switch_fiber(nullptr, &self->context_->caller_bottom,
                                  &self->context_->caller_size);
#endif
  try {
    self->load_();
  } catch (...) {
    self->failure_ = std::current_exception();
  }
  self->load_ = nullptr;
  self->done_ = true;
  self->SwitchOut(true);
}

void SlicedLoad::SwitchIn() {
  Context& c = *context_;
#if FLIPREEL_TSAN_FIBERS
  c.caller_fiber = __tsan_get_current_fiber();
  __tsan_switch_to_fiber(c.load_fiber, 0);
#endif
#if FLIPREEL_ASAN_FIBERS
  __sanitizer_start_switch_fiber(&c.caller_fake_stack, c.stack, kStackSize);
#endif
  swapcontext(&c.caller, &c.load);
#if FLIPREEL_ASAN_FIBERS
  __sanitizer_finish_switch_fiber(c.caller_fake_stack, nullptr, nullptr);
#endif
}

void SlicedLoad::SwitchOut(bool ending) {
  Context& c = *context_;
#if FLIPREEL_ASAN_FIBERS
  __sanitizer_start_switch_fiber(ending ? nullptr : &c.load_fake_stack, c.caller_bottom,
                                 c.caller_size);
#endif
#if FLIPREEL_TSAN_FIBERS
  __tsan_switch_to_fiber(c.caller_fiber, 0);
#endif
  swapcontext(&c.load, &c.caller);
  // Resumed.
#if FLIPREEL_ASAN_FIBERS
  __sanitizer_finish_switch_fiber(c.load_fake_stack, &c.caller_bottom, &c.caller_size);
#endif
  (void)ending;
}

}  // namespace flipreel
