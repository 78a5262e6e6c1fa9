#include "flipreel/face/face_host.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace flipreel {

void DeliverReadReports(AsyncReads& reads, FileHost& host, HostedControl* control,
                        FaceSurface& surface) {
  reads.Deliver([&](AsyncProp& prop, bool finished) {
    if (finished) {
      host.trapped_errors().clear();
      RunHostEvent(control, surface, "AsyncReadComplete",
                   [&] { control->OnAsyncReadComplete(prop); });
      surface.ReadCompleted(prop);
    } else {
      RunHostEvent(control, surface, "AsyncReadProgress",
                   [&] { control->OnAsyncReadProgress(prop); });
    }
  });
}

double SecondsSinceMidnight() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      now - std::chrono::system_clock::from_time_t(seconds))
                      .count();
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ms / 1000.0;
}

PixelSize PixelSizeOfTwips(float width, float height, float twips_per_pixel) {
  if (!(width >= 0) || !(height >= 0) || !std::isfinite(width) || !std::isfinite(height))
    Raise(err::kInvalidPropertyValue);
  const double w = std::round(static_cast<double>(width) / twips_per_pixel);
  const double h = std::round(static_cast<double>(height) / twips_per_pixel);
  if (w > 1 << 24 || h > 1 << 24) Raise(err::kInvalidPropertyValue);
  return {static_cast<int>(w), static_cast<int>(h)};
}

}  // namespace flipreel
