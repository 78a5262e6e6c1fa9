// Saving the widget's control to a saved-form file and restoring it: the
// saved-form library chooses, reads and puts the control.
#include "flipreel/qt/flipreel_widget_p.h"
#include "flipreel/saved_form/saved_form.h"

namespace flipreel {

bool FlipreelWidget::loadForm(const QString& path, const QString& control_name) {
  FlipreelWidgetPrivate& d = *d_;
  d.FinishLoad();
  d.host_->trapped_errors().clear();
  d.Call([&] {
    const std::string file = path.toStdString();
    const SavedForm form = ReadSavedForm(file);
    const SavedControl& saved =
        ChooseControl(form, file, control_name.toStdString(), kFlipreelProgId);
    RestoreSavedControl(
        file, saved, [&](const PropertyBag& bag) { d.control_->ReadProperties(bag); },
        &d.host_->memory_budget());
  });
  d.Restored();
  // A form that cannot be read or restored is a failed load, and so is a
  // saved GIF whose frames do not decode; a saved control without a GIF is
  // not.
  std::optional<HostError> failure;
  if (d.last_error_) {
    failure = HostError(d.last_error_.number, d.last_error_.description.toStdString());
  } else if (!d.host_->trapped_errors().empty()) {
    failure = d.host_->trapped_errors().front();
  }
  if (failure) d.LoadFailed(*failure);
  return !failure;
}

bool FlipreelWidget::saveForm(const QString& path, const QString& control_name) {
  FlipreelWidgetPrivate& d = *d_;
  d.Call([&] {
    const std::string file = path.toStdString();
    const std::string name = control_name.toStdString();
    if (name.empty()) Raise(err::kInvalidPropertyValue, "a saved control needs a name");
    SavedControl saved{std::string(kFlipreelProgId), name, PropertyBag(/*skip_defaults=*/true)};
    d.control_->WriteProperties(saved.bag);
    // Read, changed and written under the form's lock: saves at the same
    // time all land.
    UpdateSavedForm(file, [&](SavedForm& form) { PutControl(form, file, std::move(saved)); });
  });
  return !d.last_error_;
}

namespace {
constexpr const char* kSavedStateName = "SavedState";
}  // namespace

QString FlipreelWidget::SavedState() const {
  try {
    SavedForm form;
    const std::string name = objectName().isEmpty() ? "Flipreel1" : objectName().toStdString();
    form.controls.push_back(
        SavedControl{std::string(kFlipreelProgId), name, PropertyBag(/*skip_defaults=*/true)});
    d_->read_control().WriteProperties(form.controls.back().bag);
    return QString::fromStdString(SerializeSavedForm(form, kSavedStateName));
  } catch (const HostError& e) {
    qWarning("Flipreel: the control's state cannot be saved: %s", e.what());
    return {};
  }
}

namespace {

// The bytes the control's split cuts when it restores this control: its
// Buffer as the control reads it. None when it restores AutoSize or composed
// playback, which are restored inside the call, or holds no readable Buffer.
std::shared_ptr<const std::string> BytesToSplit(const SavedControl& saved) {
  const PropertyBag& bag = saved.bag;
  auto is_set = [&](std::string_view key) {
    const Variant* value = bag.Find(key);
    return value && value->ToBoolean();
  };
  const Variant* buffer = bag.Find("Buffer");
  if (!buffer || is_set("AutoSize") || is_set("Composed")) return nullptr;
  auto bytes = std::make_shared<std::string>();
  AppendTextBytes(buffer->ToText(), *bytes);
  return bytes;
}

}  // namespace

// A saved state holding a large GIF is restored later, as a large file is
// loaded (see FlipreelWidgetPrivate::LoadPending): parsed now, its frames
// decoding on other threads, and read into the control when anyone can tell.
void FlipreelWidget::setSavedState(const QString& state) {
  FlipreelWidgetPrivate& d = *d_;
  d.FinishLoad();
  if (state.isEmpty()) return;
  std::shared_ptr<const SavedForm> form;
  std::shared_ptr<const std::string> bytes;
  try {
    form = std::make_shared<const SavedForm>(ParseSavedForm(state.toStdString(), kSavedStateName));
    bytes = BytesToSplit(ChooseControl(*form, kSavedStateName, "", kFlipreelProgId));
  } catch (const std::exception&) {
    // Told by the restore below, inside the call.
    form.reset();
  }
  auto restore = [&d, form, state] {
    d.Call([&] {
      const SavedForm parsed =
          form ? SavedForm() : ParseSavedForm(state.toStdString(), kSavedStateName);
      const SavedControl& saved =
          ChooseControl(form ? *form : parsed, kSavedStateName, "", kFlipreelProgId);
      RestoreSavedControl(kSavedStateName, saved,
                          [&](const PropertyBag& bag) { d.control_->ReadProperties(bag); });
    });
    if (d.last_error_)
      qWarning("Flipreel: the saved state was not restored: %s",
               qPrintable(d.last_error_.description));
    d.Restored();
  };
  if (bytes && d.CanDeferLoad(static_cast<int64_t>(bytes->size()))) {
    d.DeferLoad(ReadAhead::StartCut(std::move(bytes)), restore);
    return;
  }
  restore();
}

}  // namespace flipreel
