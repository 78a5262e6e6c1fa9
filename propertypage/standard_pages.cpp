#include "flipreel/propertypage/standard_pages.h"

#include <algorithm>
#include <array>

#include "flipreel/dialog/common_dialog.h"
#include "flipreel/host/host.h"
#include "flipreel/propertypage/general_page.h"

namespace flipreel {

namespace {

using K = PageElementKind;

struct NamedColor {
  std::u16string_view name;
  int32_t value;
};

// Red, green and blue, red in the low byte.
constexpr int32_t Rgb(int red, int green, int blue) {
  return red | (green << 8) | (blue << 16);
}

constexpr std::array<NamedColor, 16> kStandardColorList = {{
    {u"Black", Rgb(0, 0, 0)},
    {u"Maroon", Rgb(128, 0, 0)},
    {u"Green", Rgb(0, 128, 0)},
    {u"Olive", Rgb(128, 128, 0)},
    {u"Navy", Rgb(0, 0, 128)},
    {u"Purple", Rgb(128, 0, 128)},
    {u"Teal", Rgb(0, 128, 128)},
    {u"Gray", Rgb(128, 128, 128)},
    {u"Silver", Rgb(192, 192, 192)},
    {u"Red", Rgb(255, 0, 0)},
    {u"Lime", Rgb(0, 255, 0)},
    {u"Yellow", Rgb(255, 255, 0)},
    {u"Blue", Rgb(0, 0, 255)},
    {u"Fuchsia", Rgb(255, 0, 255)},
    {u"Aqua", Rgb(0, 255, 255)},
    {u"White", Rgb(255, 255, 255)},
}};

// The system colours by index.
constexpr std::array<std::u16string_view, 25> kSystemColorNames = {
    u"Scroll Bars",
    u"Desktop",
    u"Active Title Bar",
    u"Inactive Title Bar",
    u"Menu Bar",
    u"Window Background",
    u"Window Frame",
    u"Menu Text",
    u"Window Text",
    u"Active Title Bar Text",
    u"Active Border",
    u"Inactive Border",
    u"Application Workspace",
    u"Highlight",
    u"Highlight Text",
    u"Button Face",
    u"Button Shadow",
    u"Disabled Text",
    u"Button Text",
    u"Inactive Title Bar Text",
    u"Button Highlight",
    u"Button Dark Shadow",
    u"Button Light Shadow",
    u"ToolTip Text",
    u"ToolTip",
};

std::vector<PageElement> ColorElements() {
  PageElement swatch = MakeElement("shpColor", K::kLabel, {}, 120, 1560, 2415, 600, 6);
  swatch.back_color = Rgb(0, 0, 0);
  return {
      MakeElement("lblProperties", K::kLabel, u"&Properties:", 120, 120, 2415, 240, 0),
      MakeElement("cboProperties", K::kDropDownList, {}, 120, 360, 2415, 315, 1),
      MakeElement("lblColorSet", K::kLabel, u"Color &Set:", 120, 840, 2415, 240, 2),
      MakeElement("cboColorSet", K::kDropDownList, {}, 120, 1080, 2415, 315, 3),
      std::move(swatch),
      MakeElement("lblColors", K::kLabel, u"Color &Palette:", 2760, 120, 3045, 240, 4),
      MakeElement("lstColors", K::kListBox, {}, 2760, 360, 3045, 2520, 5),
      MakeElement("CmdCustom", K::kButton, u"&Edit Custom Color...", 2760, 2985, 3045, 325, 7),
  };
}

std::vector<PageElement> PictureElements() {
  return {
      MakeElement("lblProperties", K::kLabel, u"&Properties:", 120, 120, 2415, 240, 0),
      MakeElement("cboProperties", K::kDropDownList, {}, 120, 360, 2415, 315, 1),
      MakeElement("CmdBrowse", K::kButton, u"&Browse...", 120, 840, 1455, 325, 2),
      MakeElement("CmdClear", K::kButton, u"&Clear", 120, 1260, 1455, 325, 3),
      MakeElement("lblPicture", K::kLabel, u"Picture:", 2760, 120, 3045, 240, 4),
      MakeElement("imgPicture", K::kImage, {}, 2760, 360, 3045, 2520, 5),
  };
}

}  // namespace

// --- the shared part ------------------------------------------------------------------

StandardPage::StandardPage(PropertyPageSite& site, std::vector<PageElement> elements,
                           std::string_view type, CallKind write_kind)
    : PropertyPage(site, std::move(elements)), type_(type), write_kind_(write_kind) {}

void StandardPage::SelectionChanged() {
  std::vector<std::string> names;
  for (const MemberInfo& m : first_selected().described_members())
    if (m.kind != MemberInfo::Kind::kMethod && m.type == type_) names.emplace_back(m.name);
  std::sort(names.begin(), names.end());
  values_.clear();
  std::vector<Text> items;
  for (std::string& name : names) {
    values_.emplace_back(name, Get(name));
    items.push_back(Utf8ToText(name));
  }
  Filling([&] {
    PageElement& list = elements_["cboProperties"];
    elements_.SetItems(list, std::move(items));
    if (!list.list.empty()) elements_.SetListIndex(list, 0);
    ShowValue();
  });
}

void StandardPage::ApplyChanges() {
  for (const auto& [name, value] : values_) Let(name, value, write_kind_);
}

const Variant& StandardPage::value_of(std::string_view property) const {
  for (const auto& [name, value] : values_)
    if (name == property) return value;
  Raise(err::kElementMissing);
}

Variant* StandardPage::current() {
  const int32_t index = elements_["cboProperties"].list_index;
  if (index < 0 || index >= static_cast<int32_t>(values_.size())) return nullptr;
  return &values_[static_cast<size_t>(index)].second;
}

void StandardPage::Edit(Variant value) {
  Variant* shown = current();
  if (!shown) return;
  *shown = std::move(value);
  Filling([this] { ShowValue(); });
  MarkChanged();
}

void StandardPage::Filling(const std::function<void()>& fill) {
  const bool was = filling_;
  filling_ = true;
  try {
    fill();
  } catch (...) {
    filling_ = was;
    throw;
  }
  filling_ = was;
}

void StandardPage::OnEvent(PageElement& e, PageEvent event) {
  if (filling_) return;
  if (e.name == "cboProperties") return Filling([this] { ShowValue(); });
  OnPageEvent(e, event);
}

// --- Color ----------------------------------------------------------------------------

ColorPage::ColorPage(PropertyPageSite& site, ColorDialogService& color_dialog)
    : StandardPage(site, ColorElements(), "OLE_COLOR", CallKind::kLet),
      color_dialog_(color_dialog) {}

void ColorPage::Initialize() {
  PageElement& sets = elements_["cboColorSet"];
  elements_.AddItem(sets, kStandardColors);
  elements_.AddItem(sets, kSystemColors);
}

void ColorPage::ShowValue() {
  const Variant* value = current();
  const int32_t color = value ? value->ToLong() : 0;
  elements_.SetBackColor(elements_["shpColor"], color);
  elements_.SetText(elements_["cboColorSet"],
                    IsSystemColor(color) ? kSystemColors : kStandardColors);
  ShowColorSet(color);
}

void ColorPage::ShowColorSet(int32_t value) {
  std::vector<Text> names;
  std::vector<int32_t> colors;
  if (elements_["cboColorSet"].text == kSystemColors) {
    for (size_t i = 0; i < kSystemColorNames.size(); ++i) {
      names.emplace_back(kSystemColorNames[i]);
      colors.push_back(SystemColor(static_cast<int>(i)));
    }
  } else {
    for (const NamedColor& c : kStandardColorList) {
      names.emplace_back(c.name);
      colors.push_back(c.value);
    }
  }
  PageElement& list = elements_["lstColors"];
  const auto at = std::find(colors.begin(), colors.end(), value);
  elements_.SetItems(list, std::move(names), colors);
  if (at != colors.end()) elements_.SetListIndex(list, static_cast<int32_t>(at - colors.begin()));
}

void ColorPage::OnPageEvent(PageElement& e, PageEvent) {
  if (e.name == "cboColorSet") {
    const Variant* value = current();
    return Filling([&] { ShowColorSet(value ? value->ToLong() : 0); });
  }
  if (e.name == "lstColors" && e.list_index >= 0)
    return Edit(Variant(e.item_colors.at(static_cast<size_t>(e.list_index))));
  if (e.name == "CmdCustom" && current()) {
    int32_t color = current()->ToLong();
    if (color_dialog_.ChooseColor(color)) Edit(Variant(color));
  }
}

// --- Picture --------------------------------------------------------------------------

PicturePage::PicturePage(PropertyPageSite& site, FileDialogService& file_dialog, PictureLoader load)
    : StandardPage(site, PictureElements(), "Picture", CallKind::kSet),
      file_dialog_(file_dialog),
      load_(std::move(load)) {}

void PicturePage::ShowValue() {
  const Variant* value = current();
  elements_.SetPicture(elements_["imgPicture"], value ? value->ToPicture() : Picture());
}

void PicturePage::OnPageEvent(PageElement& e, PageEvent) {
  if (!current()) return;
  if (e.name == "CmdBrowse") return Browse();
  if (e.name == "CmdClear") Edit(Variant(Picture()));
}

// Asks for a picture file with a new file-open dialog and loads it; a cancel
// changes nothing. A file that is no picture is the loader's error.
void PicturePage::Browse() {
  clsCommonDialog dialog(file_dialog_);
  auto let = [&dialog](std::string_view member, Variant value) {
    dialog.Invoke(member, CallKind::kLet, std::span<Variant>(&value, 1));
  };
  let("Filter", Variant(u"Pictures (*.gif;*.png;*.jpg;*.jpeg;*.bmp;*.ico)|"
                        u"*.gif;*.png;*.jpg;*.jpeg;*.bmp;*.ico|All Files (*.*)|*.*"));
  // Room for any path the system allows.
  let("MaxFileSize", Variant(int32_t{4096}));
  let("DialogTitle", Variant(u"Load Picture"));
  dialog.Invoke("ShowOpen", CallKind::kMethod);
  const Text chosen = dialog.Invoke("FileName", CallKind::kGet).ToText();
  if (chosen.empty()) return;
  Edit(Variant(load_(chosen)));
}

// --- the control's list of pages ------------------------------------------------------

std::unique_ptr<PropertyPage> CreatePropertyPage(std::string_view name, PropertyPageSite& site,
                                                 PageServices& services) {
  if (name == "General")
    return std::make_unique<GeneralPage>(site, services.file_dialog, services.forms);
  if (name == "StandardColor") return std::make_unique<ColorPage>(site, services.color_dialog);
  if (name == "StandardPicture")
    return std::make_unique<PicturePage>(site, services.file_dialog, services.load_picture);
  return nullptr;
}

}  // namespace flipreel
