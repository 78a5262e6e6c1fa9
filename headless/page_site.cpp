#include "flipreel/headless/page_site.h"

#include "flipreel/host/errors.h"

namespace flipreel {

Dispatch& HeadlessPageSite::SelectedControls(int32_t index) {
  if (index < 0 || index >= SelectedCount()) Raise(err::kSubscriptOutOfRange);
  return *selected_[index];
}

bool HeadlessPageSite::IsNumeric(TextView text) const {
  return ParseNumber(text).has_value();
}

}  // namespace flipreel
