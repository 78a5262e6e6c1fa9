// General: the property page that edits a Flipreel control in a designer.
//
// The page shows eleven of the control's properties in check boxes, text
// boxes, option buttons and two lists, keeps its two numeric boxes numeric
// while they are typed, lets the user pick a GIF with the file-open dialog
// and watch it play on the Preview form, and writes every value back when
// the host applies. It reaches the control only by property name, on the
// first of the selected controls; its elements are its whole state.
//
// A host creates the page, raises Initialize once, SelectionChanged whenever
// the page is shown or the selection changes, and ApplyChanges when the user
// applies or confirms. It draws elements() and reports what the user does
// through the element setters of elements(). No handler traps errors: an
// error ends the handler where it arose and reaches the host.
#pragma once

#include <memory>
#include <string_view>

#include "flipreel/forms/preview.h"
#include "flipreel/host/file_dialog.h"
#include "flipreel/host/form.h"
#include "flipreel/host/page_site.h"
#include "flipreel/propertypage/page_elements.h"

namespace flipreel {

class GeneralPage {
 public:
  static constexpr std::u16string_view kTabCaption = u"Gif";
  // The page's client area, in twips.
  static constexpr float kWidth = 5925;
  static constexpr float kHeight = 3420;

  // The page shows the host's file-open dialog and the Preview form through
  // the services given; all three outlive the page.
  GeneralPage(PropertyPageSite& site, FileDialogService& file_dialog, FormService& forms);
  ~GeneralPage();
  GeneralPage(const GeneralPage&) = delete;
  GeneralPage& operator=(const GeneralPage&) = delete;

  // --- the host's events ----------------------------------------------------
  void Initialize();
  void SelectionChanged();
  void ApplyChanges();

  // --- the elements, in creation order ----------------------------------------
  PageElements& elements() { return elements_; }
  const PageElements& elements() const { return elements_; }

  // The Preview form Browse opened, while it is shown; null otherwise.
  Preview* preview() const { return preview_ && preview_->shown() ? preview_.get() : nullptr; }

 private:
  void OnEvent(PageElement& e, PageEvent event);
  void NumericEntryChanged(PageElement& box);
  void Browse();
  void ClosePreview();
  void MarkChanged() { site_.SetChanged(true); }
  // Reads and writes by name on the first selected control.
  Variant Get(std::string_view property);
  void Let(std::string_view property, Variant value);

  PropertyPageSite& site_;
  FileDialogService& file_dialog_;
  FormService& forms_;
  PageElements elements_;
  std::unique_ptr<Preview> preview_;
};

}  // namespace flipreel
