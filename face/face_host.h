// What the toolkit faces' hosts share, with no toolkit in it. Each face's
// host runs the control's events from its own event loop (a GLib main loop,
// a Qt event loop) and tells its surface of them; how it runs an event, hands
// a download's reports to the control, seeds its random numbers and turns a
// size in twips into pixels is the same in every face, and is here.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include "flipreel/host/host.h"
#include "flipreel/net/async_reads.h"
#include "flipreel/platform/files.h"

namespace flipreel {

// What a face hears from its host as the host runs the control.
class FaceSurface {
 public:
  virtual ~FaceSurface() = default;
  virtual void ElementChanged(const Element& element, ElementProperty what) = 0;
  virtual void PropertyNotified(std::string_view name) = 0;
  // A host event (a tick, a download report) has ended.
  virtual void HostEventEnded() = 0;
  // The control failed inside a host event, where there is no caller.
  virtual void HostEventFailed(std::string_view event, const HostError& error) = 0;
  // A download's completion has been handed to the control (and has ended,
  // whether the control loaded what came or trapped the failure).
  virtual void ReadCompleted(const AsyncProp& prop) = 0;
};

// Runs fn, an event of the control's (a tick, a download's report), from the
// face's event loop, where no caller hears of a failure: the surface is told
// of the error fn raises, and of any other exception as an invalid call, for
// nothing may escape into the loop; then, that the event has ended. Without
// a control nothing runs. Surface is any type with HostEventFailed and
// HostEventEnded as FaceSurface has them.
template <typename Surface, typename Fn>
void RunHostEvent(HostedControl* control, Surface& surface, std::string_view event, Fn&& fn) {
  if (!control) return;
  try {
    if (std::optional<HostError> failed = Trap(std::forward<Fn>(fn)))
      surface.HostEventFailed(event, *failed);
  } catch (const std::exception& e) {
    surface.HostEventFailed(event, HostError(err::kInvalidCall, e.what()));
  }
  surface.HostEventEnded();
}

// Hands the reports that have arrived for reads to the control, each as a
// host event: progress as AsyncReadProgress; a completion as
// AsyncReadComplete, with the host's list of trapped errors cleared first
// (so that it holds only what this completion traps), and then to the
// surface.
void DeliverReadReports(AsyncReads& reads, FileHost& host, HostedControl* control,
                        FaceSurface& surface);

// Seconds since local midnight, to the millisecond: what Randomize seeds the
// host's random numbers with.
double SecondsSinceMidnight();

// The control's size in whole pixels, from a size in twips at twips_per_pixel.
// Raises 380 (invalid property value) for a size that is negative, not a
// number or beyond 2^24 pixels.
struct PixelSize {
  int width = 0;
  int height = 0;
  bool operator==(const PixelSize&) const = default;
};
PixelSize PixelSizeOfTwips(float width, float height, float twips_per_pixel);

}  // namespace flipreel
