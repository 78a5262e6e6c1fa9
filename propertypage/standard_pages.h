// The standard Color and Picture pages, which edit every property of one
// type that the selected control's type information lists: Color its
// colours, Picture its pictures.
//
// Each page lists those properties, in name order, in "cboProperties" and
// keeps the value of each while it is open: SelectionChanged reads them all
// from the first selected control, choosing another property shows its value,
// an edit changes the value of the property shown and marks the page
// changed, and ApplyChanges writes every listed property back by name, in
// list order, through its setter. Filling the page and choosing a property
// change nothing and leave the page unchanged.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "flipreel/host/color_dialog.h"
#include "flipreel/host/file_dialog.h"
#include "flipreel/host/form.h"
#include "flipreel/propertypage/property_page.h"

namespace flipreel {

class StandardPage : public PropertyPage {
 public:
  void SelectionChanged() override;
  void ApplyChanges() override;

  // The value the page holds for a listed property; error 340 for others.
  const Variant& value_of(std::string_view property) const;

 protected:
  // A page for the properties whose type information names type.
  StandardPage(PropertyPageSite& site, std::vector<PageElement> elements, std::string_view type,
               CallKind write_kind);

  void OnEvent(PageElement& e, PageEvent event) final;
  // An event of the page's own elements, beside the list of properties.
  virtual void OnPageEvent(PageElement& e, PageEvent event) = 0;
  // Shows the value of the property now chosen (current()).
  virtual void ShowValue() = 0;

  // The value of the property chosen in the list; null when there is none.
  Variant* current();
  // Gives the chosen property a new value, shows it and marks the page changed.
  void Edit(Variant value);
  // Runs fill with the page's own events ignored: what the page sets on its
  // elements is not an edit of the user's.
  void Filling(const std::function<void()>& fill);

 private:
  std::string_view type_;
  CallKind write_kind_;
  std::vector<std::pair<std::string, Variant>> values_;  // in list order
  bool filling_ = false;
};

// Color: the colour properties, each chosen from the standard colours, from
// the system colours (which stay system colours: they paint with the colour
// the system gives them at the time) or with the colour dialog.
class ColorPage : public StandardPage {
 public:
  static constexpr std::u16string_view kTabCaption = u"Color";
  // The two sets of cboColorSet, in its order.
  static constexpr std::u16string_view kStandardColors = u"Standard Colors";
  static constexpr std::u16string_view kSystemColors = u"System Colors";

  ColorPage(PropertyPageSite& site, ColorDialogService& color_dialog);

  std::u16string_view TabCaption() const override { return kTabCaption; }
  void Initialize() override;

 private:
  void OnPageEvent(PageElement& e, PageEvent event) override;
  void ShowValue() override;
  // Lists the colours of the set cboColorSet shows and selects the value's.
  void ShowColorSet(int32_t value);

  ColorDialogService& color_dialog_;
};

// Picture: the picture properties, each loaded from a file or cleared.
class PicturePage : public StandardPage {
 public:
  static constexpr std::u16string_view kTabCaption = u"Picture";
  // Decodes a picture file; a host error when it cannot.
  using PictureLoader = std::function<Picture(TextView path)>;

  PicturePage(PropertyPageSite& site, FileDialogService& file_dialog, PictureLoader load);

  std::u16string_view TabCaption() const override { return kTabCaption; }

 private:
  void OnPageEvent(PageElement& e, PageEvent event) override;
  void ShowValue() override;
  void Browse();

  FileDialogService& file_dialog_;
  PictureLoader load_;
};

// The services the pages a control names may need; the host keeps them
// alive as long as its pages.
struct PageServices {
  FileDialogService& file_dialog;
  ColorDialogService& color_dialog;
  FormService& forms;
  PicturePage::PictureLoader load_picture;
};

// The page of that name in a control's list of pages ("General",
// "StandardColor", "StandardPicture"); null for a name this program has no
// page for.
std::unique_ptr<PropertyPage> CreatePropertyPage(std::string_view name, PropertyPageSite& site,
                                                 PageServices& services);

}  // namespace flipreel
