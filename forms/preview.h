// Preview: a plain window holding one Flipreel control, Flipreel1, that plays
// the GIF the property page picked. A click on the form's empty area unloads
// it; a click on Flipreel1 does not.
//
// Constructing the form loads it: Flipreel1 is created on a site the host
// provides and restored from the form's saved properties through its own
// ReadProperties. The form is dropped when unloaded; showing it again means
// loading a new one.
#pragma once

#include <memory>

#include "flipreel/control/flipreel.h"
#include "flipreel/host/form.h"
#include "flipreel/host/property_bag.h"

namespace flipreel {

class Preview : public Form {
 public:
  explicit Preview(FormService& forms);
  ~Preview() override;

  Flipreel& Flipreel1() { return *Flipreel1_; }
  void Click(std::string_view element) override;

  // What the form saved for Flipreel1: AutoSize True, BackStyle 0, the
  // button-face colour, no GIF, and its extent in hundredths of a millimetre.
  static PropertyBag SavedFlipreel1();

 private:
  std::unique_ptr<Host> site_;
  std::unique_ptr<Flipreel> Flipreel1_;  // goes before its site
};

}  // namespace flipreel
