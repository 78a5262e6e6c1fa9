#include "flipreel/propertypage/page_elements.h"

#include <algorithm>

#include "flipreel/host/errors.h"

namespace flipreel {

namespace {
// The text of a drop-down list can only be one of its items.
constexpr int32_t kTextReadOnly = 383;
}  // namespace

PageElement& PageElements::operator[](std::string_view name) {
  for (PageElement& e : elements_)
    if (e.name == name) return e;
  flipreel::Raise(err::kElementMissing);
}

const PageElement& PageElements::operator[](std::string_view name) const {
  return const_cast<PageElements&>(*this)[name];
}

void PageElements::SetText(PageElement& e, TextView text) {
  if (e.kind == PageElementKind::kDropDownList || e.kind == PageElementKind::kListBox) {
    for (size_t i = 0; i < e.list.size(); ++i)
      if (e.list[i] == text) return SetListIndex(e, static_cast<int32_t>(i));
    flipreel::Raise(kTextReadOnly, "'Text' property is read-only");
  }
  if (e.text == text) return;
  e.text = Text(text);
  e.sel_start = 0;
  Changed(e);
  Raise(e, PageEvent::kChange);
}

void PageElements::SetSelStart(PageElement& e, int32_t position) {
  if (position < 0) flipreel::Raise(err::kInvalidPropertyValue);
  e.sel_start = std::min<int32_t>(position, static_cast<int32_t>(e.text.size()));
  Changed(e);
}

void PageElements::SetValue(PageElement& e, int16_t value) {
  if (e.kind == PageElementKind::kOptionButton) {
    const int16_t v = value != 0 ? -1 : 0;
    if (e.value == v) return;
    e.value = v;
    Changed(e);
    if (v == 0) return;
    for (PageElement& other : elements_) {
      if (&other != &e && other.kind == PageElementKind::kOptionButton &&
          other.parent == e.parent && other.value != 0) {
        other.value = 0;
        Changed(other);
      }
    }
    return Raise(e, PageEvent::kClick);
  }
  if (value < kUnchecked || value > kGreyed) flipreel::Raise(err::kInvalidPropertyValue);
  if (e.value == value) return;
  e.value = value;
  Changed(e);
  Raise(e, PageEvent::kClick);
}

void PageElements::SetListIndex(PageElement& e, int32_t index) {
  if (index < -1 || index >= static_cast<int32_t>(e.list.size()))
    flipreel::Raise(err::kInvalidPropertyValue);
  if (e.list_index == index) return;
  e.list_index = index;
  e.text = index < 0 ? Text() : e.list[index];
  Changed(e);
  Raise(e, PageEvent::kClick);
}

void PageElements::AddItem(PageElement& e, TextView item) {
  e.list.emplace_back(item);
  Changed(e);
}

void PageElements::SetItems(PageElement& e, std::vector<Text> items, std::vector<int32_t> colors) {
  e.list = std::move(items);
  e.item_colors = std::move(colors);
  e.list_index = -1;
  e.text.clear();
  Changed(e);
}

void PageElements::SetPicture(PageElement& e, Picture picture) {
  e.picture = std::move(picture);
  Changed(e);
}

void PageElements::SetBackColor(PageElement& e, std::optional<int32_t> color) {
  e.back_color = color;
  Changed(e);
}

void PageElements::Press(PageElement& e) {
  Raise(e, PageEvent::kClick);
}

void PageElements::Raise(PageElement& e, PageEvent event) {
  if (handler_) handler_(e, event);
}

void PageElements::Changed(const PageElement& e) {
  if (observer_) observer_(e);
}

}  // namespace flipreel
