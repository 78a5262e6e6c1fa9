// The control's events. A client derives from FlipreelEvents, overrides what it
// needs and registers with Flipreel::AddListener. Events are raised
// synchronously, in registration order; arguments are passed by reference, so
// a HitTest handler can set the result for the host.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "host/host.h"

namespace flipreel {

class FlipreelEvents {
 public:
  virtual ~FlipreelEvents() = default;
  virtual void Frame() {}                            // 1
  virtual void ReadFinished() {}                     // 2
  virtual void PlayFinished() {}                     // 3
  virtual void AsyncReadComplete(AsyncProp&) {}      // 4
  virtual void AsyncReadProgress(AsyncProp&) {}      // 5
  virtual void HitTest(float&, float&, int16_t&) {}  // 6
};

struct EventInfo {
  int32_t index;
  std::string_view name;
  std::string_view parameters;
  std::string_view description;
};

// The event interface, in index order.
std::span<const EventInfo> FlipreelEventTable();

}  // namespace flipreel
