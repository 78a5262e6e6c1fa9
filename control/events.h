// The control's events. A client derives from FlipreelEvents, overrides what it
// needs and registers with Flipreel::AddListener. Events are raised
// synchronously, in registration order; arguments are passed by reference, so
// a HitTest handler can set the result for the host.
//
// The control does not own its listeners. A listener stays registered until
// it is removed or the control is destroyed, and must be removed before it is
// destroyed itself. A handler may add or remove listeners, itself included,
// while an event is being delivered: one removed then hears nothing more, not
// even the rest of that event; one added then hears from the next event on.
#pragma once

#include <cstdint>

#include "flipreel/host/host.h"

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

}  // namespace flipreel
