// Forms: windows described as data, shown by the host.
//
// A form is a model: a caption, a client area and a table of elements (kind,
// parent frame, position and size in twips, tab index, caption with its
// access key, picture). The host draws it, shows it modal or modeless and
// tells it what the user did (Click); the form's own code reacts, for
// instance by asking the host to unload it. The same model is drawn by the Qt
// host as a dialog and recorded by the headless host, which tests click.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flipreel/host/picture.h"
#include "flipreel/host/text.h"

namespace flipreel {

class Host;
class FormService;

enum class FormElementKind : uint8_t {
  kFrame,          // a group box; elements inside it are placed relative to it
  kImage,          // a picture at natural size
  kLabel,          // a caption; its access key moves the focus to the next element
  kCommandButton,  // a push button; its access key clicks it
  kTextBox,
  kCheckBox,
  kOptionButton,
  kComboBox,
  kControl,  // a control hosted on the form, on a site of its own
};

// A picture made of drawing commands rather than pixels: one text drawn in a
// font family, as a small metafile would hold it. The host draws it with its
// own fonts, so it stays sharp at any scale.
struct TextDrawing {
  Text text;
  std::string font_family;  // a family name, or a generic one ("serif")
  float font_height = 0;    // twips
  int32_t color = 0;        // red in the low byte
};

struct FormElement {
  std::string name;
  FormElementKind kind = FormElementKind::kLabel;
  std::string parent;  // the frame holding it; empty for the form itself
  // Twips, relative to the parent.
  float left = 0, top = 0, width = 0, height = 0;
  std::optional<int16_t> tab_index;  // none: the element has no place in the tab order
  Text caption;                      // "&" marks the access key; "&&" is a plain "&"
  Picture picture;
  std::optional<TextDrawing> drawing;  // images drawn rather than painted
  std::string class_name;              // kControl: the control's programmatic identifier
  bool visible = true;
  bool enabled = true;
};

// The access key a caption marks ("&Ok" gives 'O'), upper case; none when
// the caption marks none.
std::optional<char16_t> AccessKeyOf(TextView caption);
// The caption as shown: marks removed, "&&" shown as "&".
Text CaptionText(TextView caption);
// Whether the user can move the focus to an element of this kind.
bool TakesFocus(FormElementKind kind);

enum class FormShow : int16_t { kModeless = 0, kModal = 1 };

class Form {
 public:
  Form(FormService& forms, std::string name, Text caption, float client_width, float client_height,
       std::vector<FormElement> elements);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::string& name() const { return name_; }
  const Text& caption() const { return caption_; }
  // The client area in twips. Setting it while the form is shown resizes the
  // window.
  float width() const { return width_; }
  float height() const { return height_; }
  void SetSize(float width, float height);
  const std::vector<FormElement>& elements() const { return elements_; }
  // The element of that name; error 340 when the form has none.
  const FormElement& element(std::string_view name) const;
  // The element that has the focus when the form opens: the lowest tab index
  // among the visible, enabled elements that take the focus.
  const FormElement* FirstFocus() const;
  // Where an element stands on the form (its frames' offsets added), twips.
  std::pair<float, float> FormPosition(const FormElement& element) const;

  // Shows the form through the host (modal returns once it is unloaded) and
  // unloads it. Unloading a form that is not shown does nothing.
  void Show(FormShow mode);
  void Unload();
  bool shown() const { return shown_; }

  // --- what the user did, told by the host ---------------------------------
  // A click on an element, or with an empty name on the form's own area.
  virtual void Click(std::string_view element);
  // An access key pressed with Alt: a button is clicked, a label passes the
  // focus on. True when an element took the key.
  bool PressAccessKey(char16_t key);

  // --- for hosts ----------------------------------------------------------------
  // The host marks the form shown when it shows it and not shown when it
  // unloads it, before the form's Unloaded runs.
  void MarkShown(bool shown) { shown_ = shown; }
  virtual void Unloaded() {}

 protected:
  FormService& forms() const { return forms_; }

 private:
  FormService& forms_;
  std::string name_;
  Text caption_;
  float width_, height_;
  std::vector<FormElement> elements_;
  bool shown_ = false;
};

// What a host does with forms.
class FormService {
 public:
  virtual ~FormService() = default;
  // Shows the form. Modal: returns once the form has been unloaded, the focus
  // starting on form.FirstFocus(). Modeless: returns at once; showing a form
  // that is shown already brings it to the front.
  virtual void ShowForm(Form& form, FormShow mode) = 0;
  // Closes the form's window: the form is marked not shown, then its
  // Unloaded runs. Nothing happens for a form that is not shown.
  virtual void UnloadForm(Form& form) = 0;
  // The form's size changed; a shown form's window follows.
  virtual void FormResized(Form& form) = 0;
  // A site for the control that a kControl element of the form holds,
  // sized to the element. The form owns the site and the control on it.
  virtual std::unique_ptr<Host> CreateControlSite(Form& form, const FormElement& element) = 0;
};

}  // namespace flipreel
