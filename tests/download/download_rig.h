// A control on a host that really downloads, with what a test needs to watch
// them. The same download tests run on every host that has a rig.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "flipreel/control/flipreel.h"
#include "flipreel/headless/headless_host.h"
#include "flipreel/net/download.h"

// A message box the control asked for: text, style and title.
using RigMessage = flipreel::HeadlessHost::Message;

class DownloadRig {
 public:
  virtual ~DownloadRig() = default;
  // A new control, initialised (InitProperties), at run time.
  virtual flipreel::Flipreel& control() = 0;
  virtual flipreel::Host& host() = 0;
  // For reads started afterwards.
  virtual void set_limits(const flipreel::DownloadLimits& limits) = 0;
  // Delivers events until no read is pending; false when time ran out.
  virtual bool WaitForReads(std::chrono::milliseconds timeout) = 0;
  // Delivers whatever arrives during this time.
  virtual void Pump(std::chrono::milliseconds time) = 0;
  virtual std::vector<RigMessage> messages() const = 0;
  virtual std::vector<std::string> notices() const = 0;
  // Everything the host wrote down besides message boxes: failed handlers,
  // errors of host events, warnings.
  virtual std::vector<std::string> log() const = 0;
};

std::unique_ptr<DownloadRig> MakeRig();
