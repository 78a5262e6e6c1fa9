// General: the property page that edits a Flipreel control in a designer.
//
// The page shows eleven of the control's properties in check boxes, text
// boxes, option buttons and two lists, keeps its two numeric boxes numeric
// while they are typed, lets the user pick a GIF with the file-open dialog
// and watch it play on the Preview form, and writes every value back when
// the host applies. It reaches the control only by property name, on the
// first of the selected controls; its elements are its whole state.
//
// The host drives it as every property page (propertypage/property_page.h).
#pragma once

#include <memory>
#include <string_view>

#include "flipreel/forms/preview.h"
#include "flipreel/host/file_dialog.h"
#include "flipreel/host/form.h"
#include "flipreel/propertypage/property_page.h"

namespace flipreel {

class GeneralPage : public PropertyPage {
 public:
  static constexpr std::u16string_view kTabCaption = u"Gif";

  // The page shows the host's file-open dialog and the Preview form through
  // the services given; all three outlive the page.
  GeneralPage(PropertyPageSite& site, FileDialogService& file_dialog, FormService& forms);
  ~GeneralPage() override;

  std::u16string_view TabCaption() const override { return kTabCaption; }
  void Initialize() override;
  void SelectionChanged() override;
  void ApplyChanges() override;

  // The Preview form Browse opened, while it is shown; null otherwise.
  Preview* preview() const { return preview_ && preview_->shown() ? preview_.get() : nullptr; }

 private:
  void OnEvent(PageElement& e, PageEvent event) override;
  void NumericEntryChanged(PageElement& box);
  void Browse();
  void ClosePreview();

  FileDialogService& file_dialog_;
  FormService& forms_;
  std::unique_ptr<Preview> preview_;
};

}  // namespace flipreel
