// Write access to a control's state record and frame store, for tests and
// benchmarks that set up play state directly instead of loading a GIF.
#pragma once

#include "flipreel/control/flipreel.h"

namespace flipreel {

class FlipreelTestPeer {
 public:
  static FlipreelState& State(Flipreel& c) { return c.state_; }
  static ImageArray& Frames(Flipreel& c) { return c.imgBuffer_; }
};

}  // namespace flipreel
