// The headless host's property-page services: the selected controls are the
// objects the caller hands over, the changed mark is a plain flag, and the
// numeric-text test is the host's own number reader. Deterministic, for
// tests and tools.
#pragma once

#include <vector>

#include "flipreel/host/page_site.h"

namespace flipreel {

class HeadlessPageSite : public PropertyPageSite {
 public:
  explicit HeadlessPageSite(std::vector<Dispatch*> selected = {})
      : selected_(std::move(selected)) {}

  void Select(std::vector<Dispatch*> selected) { selected_ = std::move(selected); }

  int32_t SelectedCount() const override { return static_cast<int32_t>(selected_.size()); }
  Dispatch& SelectedControls(int32_t index) override;
  bool Changed() const override { return changed_; }
  void SetChanged(bool changed) override { changed_ = changed; }
  // Signs, decimal points, exponents, &H and &O literals and surrounding
  // spaces count as numeric, as the host's text-to-number conversion reads
  // them.
  bool IsNumeric(TextView text) const override;

 private:
  std::vector<Dispatch*> selected_;
  bool changed_ = false;
};

}  // namespace flipreel
