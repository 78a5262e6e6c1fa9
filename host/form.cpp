#include "flipreel/host/form.h"

#include "flipreel/host/errors.h"

namespace flipreel {

std::optional<char16_t> AccessKeyOf(TextView caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != u'&') continue;
    const char16_t next = caption[i + 1];
    if (next == u'&') {
      ++i;  // "&&" is a plain "&"
      continue;
    }
    return (next >= u'a' && next <= u'z') ? static_cast<char16_t>(next - u'a' + u'A') : next;
  }
  return std::nullopt;
}

Text CaptionText(TextView caption) {
  Text shown;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&' && i + 1 < caption.size()) ++i;
    shown.push_back(caption[i]);
  }
  return shown;
}

bool TakesFocus(FormElementKind kind) {
  switch (kind) {
    case FormElementKind::kCommandButton:
    case FormElementKind::kTextBox:
    case FormElementKind::kCheckBox:
    case FormElementKind::kOptionButton:
    case FormElementKind::kComboBox:
    case FormElementKind::kControl:
      return true;
    case FormElementKind::kFrame:
    case FormElementKind::kImage:
    case FormElementKind::kLabel:
      return false;
  }
  return false;
}

Form::Form(FormService& forms, std::string name, Text caption, float client_width,
           float client_height, std::vector<FormElement> elements)
    : forms_(forms),
      name_(std::move(name)),
      caption_(std::move(caption)),
      width_(client_width),
      height_(client_height),
      elements_(std::move(elements)) {}

Form::~Form() {
  // A form dropped while shown takes its window with it.
  if (shown_) forms_.UnloadForm(*this);
}

void Form::SetSize(float width, float height) {
  if (width < 0 || height < 0) Raise(err::kInvalidPropertyValue);
  width_ = width;
  height_ = height;
  if (shown_) forms_.FormResized(*this);
}

const FormElement& Form::element(std::string_view name) const {
  for (const FormElement& e : elements_)
    if (EqualsNoCase(e.name, name)) return e;
  Raise(err::kElementMissing);
}

const FormElement* Form::FirstFocus() const {
  const FormElement* first = nullptr;
  for (const FormElement& e : elements_) {
    if (!TakesFocus(e.kind) || !e.visible || !e.enabled || !e.tab_index) continue;
    if (!first || *e.tab_index < *first->tab_index) first = &e;
  }
  return first;
}

std::pair<float, float> Form::FormPosition(const FormElement& element) const {
  float left = element.left, top = element.top;
  for (const FormElement* e = &element; !e->parent.empty();) {
    e = &this->element(e->parent);
    left += e->left;
    top += e->top;
  }
  return {left, top};
}

void Form::Show(FormShow mode) {
  forms_.ShowForm(*this, mode);
}

void Form::Unload() {
  forms_.UnloadForm(*this);
}

void Form::Click(std::string_view) {}

bool Form::PressAccessKey(char16_t key) {
  if (key >= u'a' && key <= u'z') key = static_cast<char16_t>(key - u'a' + u'A');
  for (size_t i = 0; i < elements_.size(); ++i) {
    const FormElement& e = elements_[i];
    if (!e.visible || !e.enabled || AccessKeyOf(e.caption) != key) continue;
    if (e.kind == FormElementKind::kCommandButton || e.kind == FormElementKind::kCheckBox ||
        e.kind == FormElementKind::kOptionButton) {
      Click(e.name);
      return true;
    }
    return TakesFocus(e.kind) || e.kind == FormElementKind::kLabel;
  }
  return false;
}

}  // namespace flipreel
