// frmAboutFlipreel: the About box that ShowAbout opens, as a form model the
// control hands to its host. The host draws it modal; Command1 (or Alt+O, or
// the window's close control) unloads it.
#pragma once

#include "flipreel/host/form.h"

namespace flipreel {

class frmAboutFlipreel : public Form {
 public:
  explicit frmAboutFlipreel(FormService& forms);
  void Click(std::string_view element) override;
};

}  // namespace flipreel
