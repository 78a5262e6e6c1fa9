// The host services a property page relies on: the controls selected in the
// designer, reached by name only, the page's "changed" mark, and the host's
// test of whether a text reads as a number.
//
// A page never holds a typed reference to a control. It reads and writes
// properties by name on one of the selected controls, and the host converts
// each value to the property's type on the way in (a text that is no number
// is error 13, a number out of the property's range error 6) before the
// property's own setter runs.
#pragma once

#include <cstdint>
#include <string_view>

#include "flipreel/host/dispatch.h"
#include "flipreel/host/text.h"

namespace flipreel {

class PropertyPageSite {
 public:
  virtual ~PropertyPageSite() = default;

  // The controls selected when the page was shown, in the designer's order.
  // An index outside 0 .. count - 1 is error 9.
  virtual int32_t SelectedCount() const = 0;
  virtual Dispatch& SelectedControls(int32_t index) = 0;

  // True once the page holds edits that are not applied: the host then
  // enables applying and later raises the page's ApplyChanges. The host sets
  // it back to False after a successful apply.
  virtual bool Changed() const = 0;
  virtual void SetChanged(bool changed) = 0;

  // Whether the text reads as a number.
  virtual bool IsNumeric(TextView text) const = 0;
};

}  // namespace flipreel
