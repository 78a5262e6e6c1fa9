// Forms in the headless host: nothing is drawn; each show and unload is
// written down, and the test (or tool) plays the user through a handler that
// runs while a modal form is open.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "flipreel/host/form.h"

namespace flipreel {

class RecordedForms {
 public:
  // Runs while a modal form is shown, standing in for the user: it clicks
  // (form.Click), presses access keys (form.PressAccessKey) or closes the
  // window (Close). A modal form still shown when it returns is closed, as
  // by the window's close control; so is every modal form when no handler
  // is set.
  using ModalUser = std::function<void(Form&)>;
  void set_modal_user(ModalUser user) { modal_user_ = std::move(user); }

  // The window's own close control.
  void Close(Form& form) { Unload(form); }

  // In order: "show <form> modal|modeless focus <element>", "front <form>",
  // "resize <form> <width>x<height>", "unload <form>".
  const std::vector<std::string>& log() const { return log_; }
  // The forms shown now, oldest first.
  const std::vector<Form*>& open_forms() const { return open_; }

  void Show(Form& form, FormShow mode);
  void Unload(Form& form);
  void Resized(Form& form);

 private:
  ModalUser modal_user_;
  std::vector<std::string> log_;
  std::vector<Form*> open_;
};

}  // namespace flipreel
