#include "flipreel/propertypage/property_page.h"

namespace flipreel {

PropertyPage::PropertyPage(PropertyPageSite& site, std::vector<PageElement> elements)
    : site_(site), elements_(std::move(elements)) {
  elements_.set_event_handler([this](PageElement& e, PageEvent event) { OnEvent(e, event); });
}

PropertyPage::~PropertyPage() = default;

Variant PropertyPage::Get(std::string_view property) {
  return first_selected().Invoke(property, CallKind::kGet);
}

void PropertyPage::Let(std::string_view property, Variant value, CallKind kind) {
  first_selected().Invoke(property, kind, std::span<Variant>(&value, 1));
}

PageElement MakeElement(std::string name, PageElementKind kind, Text caption, float left, float top,
                        float width, float height, int tab, std::string parent) {
  PageElement e{};
  e.name = std::move(name);
  e.kind = kind;
  e.caption = std::move(caption);
  e.left = left, e.top = top, e.width = width, e.height = height;
  e.tab_index = tab;
  e.parent = std::move(parent);
  return e;
}

}  // namespace flipreel
