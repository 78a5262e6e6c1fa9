// Small helpers for checks: the host error a statement raises, and a record as one line to compare
// with the line a table row expects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flipreel/host/errors.h"

namespace testsupport {

// The number of the host error the statement raises: 0 when it does not fail.
template <typename F>
int32_t ErrorOf(F&& f) {
  try {
    f();
  } catch (const flipreel::HostError& e) {
    return e.number();
  }
  return 0;
}

// The host error the statement raises, number and description: number 0
// when it does not fail.
struct Raised {
  int32_t number = 0;
  std::string description;
};
template <typename F>
Raised RaisedBy(F&& f) {
  try {
    f();
  } catch (const flipreel::HostError& e) {
    return {e.number(), e.description()};
  }
  return {};
}

inline std::string Joined(const std::vector<std::string>& items, const char* separator = ", ") {
  std::string line;
  for (size_t i = 0; i < items.size(); ++i) line += (i ? separator : "") + items[i];
  return line;
}

}  // namespace testsupport
