#include "flipreel/headless/recorded_forms.h"

#include <algorithm>

#include "flipreel/host/text.h"

namespace flipreel {

namespace {

std::string Twips(float v) {
  return TextToUtf8(FormatSingle(v));
}

}  // namespace

void RecordedForms::Show(Form& form, FormShow mode) {
  if (form.shown()) {
    log_.push_back("front " + form.name());
    return;
  }
  const FormElement* focus = form.FirstFocus();
  log_.push_back("show " + form.name() + (mode == FormShow::kModal ? " modal" : " modeless") +
                 " focus " + (focus ? focus->name : "(none)"));
  form.MarkShown(true);
  open_.push_back(&form);
  if (mode != FormShow::kModal) return;
  if (modal_user_) modal_user_(form);
  Unload(form);  // the modal loop ends with the form unloaded
}

void RecordedForms::Unload(Form& form) {
  if (!form.shown()) return;
  log_.push_back("unload " + form.name());
  form.MarkShown(false);
  std::erase(open_, &form);
  form.Unloaded();
}

void RecordedForms::Resized(Form& form) {
  log_.push_back("resize " + form.name() + " " + Twips(form.width()) + "x" + Twips(form.height()));
}

}  // namespace flipreel
