// Undoing a change when a scope ends, however it ends: by return, by a host
// error or by any other exception.
#pragma once

#include <utility>

namespace flipreel {

// Runs fn when the scope ends. fn must not throw.
template <typename Fn>
class ScopeExit {
 public:
  explicit ScopeExit(Fn fn) : fn_(std::move(fn)) {}
  ~ScopeExit() { fn_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Fn fn_;
};

// Gives a variable a value for the scope and puts its earlier value back when
// the scope ends: a flag that says "inside this call", a handler that may
// capture the scope's locals.
template <typename T>
class ScopedValue {
 public:
  ScopedValue(T& variable, T value)
      : variable_(variable), earlier_(std::exchange(variable, std::move(value))) {}
  ~ScopedValue() { variable_ = std::move(earlier_); }
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;

 private:
  T& variable_;
  T earlier_;
};

}  // namespace flipreel
