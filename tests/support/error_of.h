// Runs a statement that must fail with a host error and returns the error's
// number: 0 when it did not fail.
#pragma once

#include <cstdint>

#include "host/errors.h"

namespace testsupport {

template <typename F>
int32_t ErrorOf(F&& f) {
  try {
    f();
  } catch (const flipreel::HostError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace testsupport
