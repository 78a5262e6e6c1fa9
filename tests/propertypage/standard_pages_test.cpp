// The standard Color and Picture pages against the headless host: what they
// list and show, what each edit does to the values they apply, the changed
// mark, and the pages of the control's list.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "flipreel/control/flipreel.h"
#include "flipreel/control/type_info.h"
#include "flipreel/headless/headless_host.h"
#include "flipreel/headless/page_site.h"
#include "flipreel/propertypage/standard_pages.h"
#include "tests/support/checks.h"

using namespace flipreel;

namespace {

using testsupport::ErrorOf;
using testsupport::Joined;

// A new control in a designer, reached by name, with every write written down.
class SelectedControl : public Dispatch {
 public:
  HeadlessHost host;
  Flipreel control{host};
  std::vector<std::string> writes;

  SelectedControl() {
    host.SetUserMode(false);
    control.InitProperties();
  }
  Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args) override {
    if (kind != CallKind::kGet) writes.push_back(std::string(name) + " " + args[0].Describe());
    return control.Invoke(name, kind, args);
  }
  std::span<const MemberInfo> described_members() const override {
    return control.described_members();
  }
};

// A colour dialog that answers with the colour given, or cancels.
struct ColorDialog : ColorDialogService {
  std::optional<int32_t> answer;
  std::vector<int32_t> asked;
  bool ChooseColor(int32_t& color) override {
    asked.push_back(color);
    if (answer) color = *answer;
    return answer.has_value();
  }
};

struct Pages {
  SelectedControl selected;
  HeadlessPageSite site{{&selected}};
  ColorDialog colors;
  std::vector<Text> loaded;  // the paths the Picture page loaded
  std::function<Picture(TextView)> loader = [this](TextView path) {
    loaded.emplace_back(path);
    if (path == u"/pictures/not-a-picture.txt") Raise(err::kInvalidPicture);
    return Picture::Solid(4, 3, 0xFF00FF00u);
  };
  PageServices services{selected.host, colors, selected.host, loader};

  std::unique_ptr<PropertyPage> Open(std::string_view name) {
    std::unique_ptr<PropertyPage> page = CreatePropertyPage(name, site, services);
    page->Initialize();
    page->SelectionChanged();
    return page;
  }
};

std::string Selected(const PageElement& list) {
  return list.list_index < 0 ? "(none)" : TextToUtf8(list.list[list.list_index]);
}

void Choose(PageElements& e, const char* list, std::u16string_view item) {
  e.SetText(e[list], item);
}

}  // namespace

TEST(ColorPage, ListsTheColourPropertiesAndShowsEachInItsSet) {
  Pages p;
  auto page = p.Open("StandardColor");
  PageElements& e = page->elements();
  EXPECT_EQ(e["cboProperties"].list, (std::vector<Text>{u"BackColor", u"BorderColor"}));
  EXPECT_EQ(e["cboColorSet"].list, (std::vector<Text>{u"Standard Colors", u"System Colors"}));
  // A new control's background is the system's button face; its border black.
  EXPECT_EQ(Selected(e["cboProperties"]), "BackColor");
  EXPECT_EQ(Selected(e["cboColorSet"]), "System Colors");
  EXPECT_EQ(Selected(e["lstColors"]), "Button Face");
  EXPECT_EQ(e["lstColors"].item_colors.size(), 25u);
  EXPECT_EQ(e["shpColor"].back_color, kColorButtonFace);
  Choose(e, "cboProperties", u"BorderColor");
  EXPECT_EQ(Selected(e["cboColorSet"]), "Standard Colors");
  EXPECT_EQ(Selected(e["lstColors"]), "Black");
  EXPECT_EQ(e["shpColor"].back_color, 0);
  // Opening and looking change nothing.
  EXPECT_FALSE(p.site.Changed());
  EXPECT_TRUE(p.selected.writes.empty());
}

// Each row edits the page of a new control, then applies.
TEST(ColorPage, EditsChangeTheValuesItApplies) {
  struct Row {
    const char* what;
    std::function<void(PageElements&, ColorDialog&)> edit;
    bool changed;
    const char* applied;  // the writes, in list order
    const char* shown;    // the set and the colour selected after the edit
  };
  const Row rows[] = {
      {"nothing", [](PageElements&, ColorDialog&) {}, false,
       "BackColor Long -2147483633, BorderColor Long 0", "System Colors: Button Face"},
      {"a standard colour",
       [](PageElements& e, ColorDialog&) {
         Choose(e, "cboColorSet", u"Standard Colors");
         Choose(e, "lstColors", u"Red");
       },
       true, "BackColor Long 255, BorderColor Long 0", "Standard Colors: Red"},
      {"another set only",
       [](PageElements& e, ColorDialog&) { Choose(e, "cboColorSet", u"Standard Colors"); }, false,
       "BackColor Long -2147483633, BorderColor Long 0", "Standard Colors: (none)"},
      {"a system colour for the border",
       [](PageElements& e, ColorDialog&) {
         Choose(e, "cboProperties", u"BorderColor");
         Choose(e, "cboColorSet", u"System Colors");
         Choose(e, "lstColors", u"Highlight");
       },
       true, "BackColor Long -2147483633, BorderColor Long -2147483635",
       "System Colors: Highlight"},
      {"a custom colour",
       [](PageElements& e, ColorDialog& d) {
         d.answer = 0x123456;
         e.Press(e["CmdCustom"]);
       },
       true, "BackColor Long 1193046, BorderColor Long 0", "Standard Colors: (none)"},
      {"a custom colour that is a standard one",
       [](PageElements& e, ColorDialog& d) {
         d.answer = 0xFF0000;
         e.Press(e["CmdCustom"]);
       },
       true, "BackColor Long 16711680, BorderColor Long 0", "Standard Colors: Blue"},
      {"the colour dialog cancelled",
       [](PageElements& e, ColorDialog&) { e.Press(e["CmdCustom"]); }, false,
       "BackColor Long -2147483633, BorderColor Long 0", "System Colors: Button Face"},
      {"both edited, each keeping its value",
       [](PageElements& e, ColorDialog&) {
         Choose(e, "cboColorSet", u"Standard Colors");
         Choose(e, "lstColors", u"Navy");
         Choose(e, "cboProperties", u"BorderColor");
         Choose(e, "lstColors", u"White");
         Choose(e, "cboProperties", u"BackColor");
       },
       true, "BackColor Long 8388608, BorderColor Long 16777215", "Standard Colors: Navy"},
  };
  for (const Row& row : rows) {
    Pages p;
    auto page = p.Open("StandardColor");
    PageElements& e = page->elements();
    row.edit(e, p.colors);
    EXPECT_EQ(Selected(e["cboColorSet"]) + ": " + Selected(e["lstColors"]), row.shown) << row.what;
    EXPECT_EQ(p.site.Changed(), row.changed) << row.what;
    EXPECT_TRUE(p.selected.writes.empty()) << row.what;  // nothing before applying
    page->ApplyChanges();
    EXPECT_EQ(Joined(p.selected.writes), row.applied) << row.what;
  }
}

TEST(ColorPage, TheDialogStartsAtTheValueShownAndAppliedColoursReachTheControl) {
  Pages p;
  auto page = p.Open("StandardColor");
  PageElements& e = page->elements();
  p.colors.answer = 0x00FF00;
  e.Press(e["CmdCustom"]);
  Choose(e, "cboProperties", u"BorderColor");
  Choose(e, "cboColorSet", u"System Colors");
  Choose(e, "lstColors", u"Window Text");
  e.Press(e["CmdCustom"]);
  // A system colour goes to the dialog as it is, for the host to resolve.
  EXPECT_EQ(p.colors.asked, (std::vector<int32_t>{kColorButtonFace, SystemColor(8)}));
  page->ApplyChanges();
  EXPECT_EQ(p.selected.control.BackColor(), 0x00FF00);
  EXPECT_EQ(p.selected.control.BorderColor(), 0x00FF00);
}

TEST(PicturePage, LoadsAPictureFromAFileOrClearsIt) {
  const Picture earlier = Picture::Solid(2, 2, 0xFFFF0000u);
  struct Row {
    const char* what;
    std::optional<std::string> chosen;  // none: the file dialog is cancelled
    bool clear;
    int error;
    bool changed;
    const char* applied;  // the picture the control holds then
  };
  const Row rows[] = {
      {"a file chosen", "/pictures/sky.png", false, 0, true, "4x3"},
      {"the dialog cancelled", std::nullopt, false, 0, false, "2x2"},
      {"cleared", std::nullopt, true, 0, true, "none"},
      {"a file that is no picture", "/pictures/not-a-picture.txt", false, err::kInvalidPicture,
       false, "2x2"},
  };
  for (const Row& row : rows) {
    Pages p;
    p.selected.control.SetBackGroundGraphic(earlier);
    auto page = p.Open("StandardPicture");
    PageElements& e = page->elements();
    EXPECT_EQ(e["cboProperties"].list, (std::vector<Text>{u"BackGroundGraphic"})) << row.what;
    EXPECT_EQ(e["imgPicture"].picture, earlier) << row.what;
    if (row.chosen) p.selected.host.file_dialog().Choose(*row.chosen);
    EXPECT_EQ(ErrorOf([&] { e.Press(e[row.clear ? "CmdClear" : "CmdBrowse"]); }), row.error)
        << row.what;
    EXPECT_EQ(p.site.Changed(), row.changed) << row.what;
    if (!row.clear) {
      ASSERT_EQ(p.selected.host.file_dialog().requests().size(), 1u) << row.what;
      EXPECT_EQ(p.selected.host.file_dialog().requests()[0].lpstrTitle, "Load Picture");
      EXPECT_EQ(p.loaded.size(), row.chosen ? 1u : 0u) << row.what;
    }
    page->ApplyChanges();
    const Picture now = p.selected.control.BackGroundGraphic();
    const std::string shown = now.IsEmpty() ? "none"
                                            : std::to_string(now.data()->width()) + "x" +
                                                  std::to_string(now.data()->height());
    EXPECT_EQ(shown, row.applied) << row.what;
    EXPECT_EQ(e["imgPicture"].picture, now) << row.what;
  }
}

TEST(StandardPages, AnObjectWithoutSuchPropertiesListsNoneAndAppliesNothing) {
  struct Plain : Dispatch {
    int calls = 0;
    Variant Invoke(std::string_view, CallKind, std::span<Variant>) override {
      ++calls;
      return Variant();
    }
  } plain;
  Pages p;
  p.site.Select({&plain});
  for (const char* name : {"StandardColor", "StandardPicture"}) {
    auto page = p.Open(name);
    PageElements& e = page->elements();
    EXPECT_TRUE(e["cboProperties"].list.empty()) << name;
    for (const PageElement& el : e.all())
      if (el.kind == PageElementKind::kButton) e.Press(e[el.name]);
    page->ApplyChanges();
    EXPECT_EQ(plain.calls, 0) << name;
    EXPECT_FALSE(p.site.Changed()) << name;
  }
}

// The dialog shows a tab for each page of the control's list this program
// has, in the list's order.
TEST(StandardPages, TheControlsListGivesGifColorAndPicture) {
  Pages p;
  std::vector<std::string> tabs;
  for (std::string_view name : FlipreelTypeLibrary().property_pages)
    if (auto page = CreatePropertyPage(name, p.site, p.services))
      tabs.push_back(TextToUtf8(page->TabCaption()));
  EXPECT_EQ(Joined(tabs), "Gif, Color, Picture");
}
