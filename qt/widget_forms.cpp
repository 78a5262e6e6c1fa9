// Saving the widget's control to a saved-form file and restoring it.
#include <sys/stat.h>

#include "qt/flipreel_widget.h"
#include "saved_form/saved_form.h"

namespace flipreel {

namespace {

const SavedControl& ChooseControl(const SavedForm& form, const std::string& file,
                                  const std::string& name) {
  for (const SavedControl& c : form.controls) {
    if (name.empty() ? EqualsNoCase(c.class_name, kFlipreelProgId) : EqualsNoCase(c.name, name)) {
      if (!EqualsNoCase(c.class_name, kFlipreelProgId))
        throw SavedFormError(
            err::kInvalidPropertyValue, file, c.name, "",
            "the control is a " + c.class_name + ", not a " + std::string(kFlipreelProgId));
      return c;
    }
  }
  throw SavedFormError(err::kInvalidPropertyValue, file, "", "",
                       name.empty()
                           ? "the form holds no " + std::string(kFlipreelProgId) + " control"
                           : "the form holds no control named \"" + name + "\"");
}

// The form already at path, or a new one when there is no file (or an empty
// one). Anything else there must read as a saved form.
SavedForm FormToUpdate(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_size == 0))
    return SavedForm();
  return ReadSavedForm(path);
}

}  // namespace

bool FlipreelWidget::LoadForm(const QString& path, const QString& control_name) {
  Call([&] {
    const std::string file = path.toStdString();
    const SavedForm form = ReadSavedForm(file);
    const SavedControl& saved = ChooseControl(form, file, control_name.toStdString());
    RestoreSavedControl(file, saved,
                        [&](const PropertyBag& bag) { control_->ReadProperties(bag); });
  });
  RefreshLooks();
  UpdateOpaqueness();
  update();
  return !last_error_;
}

bool FlipreelWidget::SaveForm(const QString& path, const QString& control_name) {
  Call([&] {
    const std::string file = path.toStdString();
    const std::string name = control_name.toStdString();
    if (name.empty()) Raise(err::kInvalidPropertyValue, "a saved control needs a name");
    SavedForm form = FormToUpdate(file);
    SavedControl saved{std::string(kFlipreelProgId), name, PropertyBag(/*skip_defaults=*/true)};
    control_->WriteProperties(saved.bag);
    if (SavedControl* existing = form.Find(name)) {
      if (!EqualsNoCase(existing->class_name, kFlipreelProgId))
        throw SavedFormError(err::kInvalidPropertyValue, file, existing->name, "",
                             "the control is a " + existing->class_name + "; not overwritten");
      saved.name = existing->name;
      *existing = std::move(saved);
    } else {
      form.controls.push_back(std::move(saved));
    }
    WriteSavedForm(file, form);
  });
  return !last_error_;
}

}  // namespace flipreel
