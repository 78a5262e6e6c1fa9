// Forms in the Qt host: each shown form is a QDialog whose child widgets sit
// at the elements' twip positions converted with the screen's twips per
// pixel. A control on a form (the Preview's Flipreel1) is drawn by a
// ControlView on a site of its own.
#pragma once

#include <QPointer>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "flipreel/host/form.h"
#include "flipreel/host/host.h"

class QDialog;
class QWidget;

namespace flipreel {

class FormWindow;
class ControlView;

class QtFormService : public FormService {
 public:
  // The forms' windows are windows of owner's when one is given: a form shown
  // modeless from a modal dialog (the Preview of Browse) then takes input
  // while that dialog runs, as the dialog's own windows do in Qt.
  explicit QtFormService(QWidget* owner = nullptr);
  ~QtFormService() override;
  QtFormService(const QtFormService&) = delete;
  QtFormService& operator=(const QtFormService&) = delete;

  // Modal forms run their own event loop (QDialog::exec) until unloaded.
  void ShowForm(Form& form, FormShow mode) override;
  void UnloadForm(Form& form) override;
  void FormResized(Form& form) override;
  // A QtHost on a ControlView that the form's window takes in when shown.
  std::unique_ptr<Host> CreateControlSite(Form& form, const FormElement& element) override;

  // The window of a shown form; null when the form is not shown.
  QDialog* WindowOf(const Form& form) const;

 private:
  friend class FormWindow;
  QPointer<QWidget> owner_;
  std::map<const Form*, QPointer<FormWindow>> windows_;
  std::map<std::pair<const Form*, std::string>, QPointer<ControlView>> views_;
};

}  // namespace flipreel
