// Where the frame split cuts a GIF's bytes into single-frame files. A host
// that wants the frames decoded before the split runs cuts the same bytes
// the same way and hands the result to its decoder ahead of time.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "flipreel/host/host.h"

namespace flipreel {

// None when the bytes hold no frame signature or do not begin with "GIF".
std::optional<FrameCuts> CutFrames(std::shared_ptr<const std::string> bytes);

}  // namespace flipreel
