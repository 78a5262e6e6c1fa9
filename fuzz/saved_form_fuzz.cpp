// Arbitrary bytes read as a saved form. A form that parses must write back to
// a text that parses to the same entries, and each control of it is restored
// into a control on the headless host; every failure must be a host error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "flipreel/control/flipreel.h"
#include "flipreel/headless/headless_host.h"
#include "flipreel/saved_form/saved_form.h"

namespace {

bool SameEntries(const flipreel::PropertyBag& a, const flipreel::PropertyBag& b) {
  if (a.entries().size() != b.entries().size()) return false;
  for (size_t i = 0; i < a.entries().size(); ++i) {
    const auto& x = a.entries()[i];
    const auto& y = b.entries()[i];
    if (x.key != y.key || x.value.type() != y.value.type()) return false;
    if (x.value.type() != flipreel::Variant::Type::kPicture && !x.value.SameValue(y.value) &&
        x.value.type() != flipreel::Variant::Type::kDouble)  // NaN is not equal to itself
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace flipreel;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SavedForm form;
  try {
    form = ParseSavedForm(text, "fuzz.json");
  } catch (const SavedFormError&) {
    return 0;
  }
  const SavedForm again = ParseSavedForm(SerializeSavedForm(form), "again.json");
  if (again.controls.size() != form.controls.size()) std::abort();
  for (size_t i = 0; i < form.controls.size(); ++i)
    if (!SameEntries(form.controls[i].bag, again.controls[i].bag)) std::abort();

  for (const SavedControl& saved : form.controls) {
    for (bool run_time : {true, false}) {
      HeadlessHost host;
      host.SetUserMode(run_time);
      Flipreel control(host);
      try {
        RestoreSavedControl("fuzz.json", saved,
                            [&](const PropertyBag& bag) { control.ReadProperties(bag); });
        for (int t = 0; t < 4; ++t) host.DeliverTick();
      } catch (const HostError&) {
      }
    }
  }
  return 0;
}
