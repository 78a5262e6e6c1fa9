// What every property page shares: elements a host draws, filled from the
// first of the selected controls, and written back to it by name when the
// host applies.
//
// A host creates a page, raises Initialize once, SelectionChanged whenever
// the page is shown or the selection changes, and ApplyChanges when the user
// applies or confirms while the page is marked changed. It draws elements()
// and reports what the user does through the element setters of elements().
// No handler traps errors: an error ends the handler where it arose and
// reaches the host.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "flipreel/host/page_site.h"
#include "flipreel/propertypage/page_elements.h"

namespace flipreel {

class PropertyPage {
 public:
  // Every page's client area, in twips.
  static constexpr float kWidth = 5925;
  static constexpr float kHeight = 3420;

  virtual ~PropertyPage();
  PropertyPage(const PropertyPage&) = delete;
  PropertyPage& operator=(const PropertyPage&) = delete;

  virtual std::u16string_view TabCaption() const = 0;

  // --- the host's events ----------------------------------------------------
  virtual void Initialize() {}
  virtual void SelectionChanged() = 0;
  virtual void ApplyChanges() = 0;

  // --- the elements, in creation order ----------------------------------------
  PageElements& elements() { return elements_; }
  const PageElements& elements() const { return elements_; }

 protected:
  PropertyPage(PropertyPageSite& site, std::vector<PageElement> elements);

  // An element raised an event: a change of its value or a click.
  virtual void OnEvent(PageElement& e, PageEvent event) = 0;

  void MarkChanged() { site_.SetChanged(true); }
  // Reads and writes by name on the first selected control.
  Variant Get(std::string_view property);
  void Let(std::string_view property, Variant value, CallKind kind = CallKind::kLet);
  Dispatch& first_selected() { return site_.SelectedControls(0); }

  PropertyPageSite& site_;
  PageElements elements_;
};

// An element of a page, at its position in twips relative to its parent.
PageElement MakeElement(std::string name, PageElementKind kind, Text caption, float left, float top,
                        float width, float height, int tab, std::string parent = {});

}  // namespace flipreel
