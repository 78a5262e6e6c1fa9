// The General page against the headless host: filling, the numeric entries,
// the conversions both ways and the order and failure of applying.
#include <gtest/gtest.h>

#include <map>

#include "flipreel/control/flipreel.h"
#include "flipreel/headless/headless_host.h"
#include "flipreel/headless/page_site.h"
#include "flipreel/propertypage/general_page.h"
#include "tests/support/checks.h"
#include "tests/support/gif_builder.h"
#include "tests/support/test_files.h"

using namespace flipreel;

namespace {

using testsupport::ErrorOf;
using testsupport::Joined;

// The values of a new control, as its getters give them.
std::map<std::string, Variant> NewControlValues() {
  return {{"FlipreelFile", Variant(u"(None)")},  {"AutoStart", Variant::FromBool(true)},
          {"CurrentFrame", Variant(int16_t{0})}, {"AutoRewind", Variant(int16_t{0})},
          {"Stretch", Variant::FromBool(false)}, {"AutoSize", Variant::FromBool(false)},
          {"FrameRate", Variant(int16_t{0})},    {"Frames", Variant(int16_t{0})},
          {"Sequence", Variant(int32_t{0})},     {"BackStyle", Variant(int32_t{1})},
          {"BorderStyle", Variant(int32_t{0})}};
}

// A selected control that writes down every read and write made by name.
// It forwards to a real control, or keeps the values it is given.
class TracedControl : public Dispatch {
 public:
  std::vector<std::string> trace;
  std::map<std::string, Variant> values;  // used without a real control

  explicit TracedControl(Flipreel* control) : control_(control) {}
  // Without a control: the values of a new control, with these changed.
  explicit TracedControl(const std::map<std::string, Variant>& changed = {})
      : values(NewControlValues()), control_(nullptr) {
    for (const auto& [key, value] : changed) values[key] = value;
  }

  Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args) override {
    const std::string key(name);
    if (kind == CallKind::kGet) {
      trace.push_back("get " + key);
      return control_ ? control_->Invoke(name, kind) : values.at(key);
    }
    trace.push_back("let " + key + " " + args[0].Describe());
    if (control_) return control_->Invoke(name, kind, args);
    values[key] = args[0];
    return Variant();
  }
  std::vector<std::string> Writes() const {
    std::vector<std::string> w;
    for (const std::string& t : trace)
      if (t.starts_with("let ")) w.push_back(t.substr(4));
    return w;
  }

 private:
  Flipreel* control_;
};

struct Page {
  HeadlessPageSite site;
  HeadlessHost host;  // the file dialog and the forms
  GeneralPage page{site, host, host};
  PageElements& e = page.elements();

  explicit Page(std::vector<Dispatch*> selected) : site(std::move(selected)) { page.Initialize(); }
  // Opened on one selected control.
  explicit Page(TracedControl& selected) : Page(std::vector<Dispatch*>{&selected}) {
    page.SelectionChanged();
  }
  Text TextOf(std::string_view name) const { return e[name].text; }
  int16_t ValueOf(std::string_view name) const { return e[name].value; }
  std::string SelectedOption() const {
    std::string on;
    for (const PageElement& el : e.all())
      if (el.kind == PageElementKind::kOptionButton && el.value)
        on += (on.empty() ? "" : "+") + el.name;
    return on;
  }
};

// A new control in a designer, selected through a tracing wrapper.
struct DesignerControl {
  HeadlessHost host;
  Flipreel control{host};
  TracedControl selected{&control};
  DesignerControl() {
    host.SetUserMode(false);
    control.InitProperties();
  }
};

}  // namespace

TEST(GeneralPage, OpensOnANewControl) {
  DesignerControl d;
  TracedControl& selected = d.selected;
  Page p(selected);

  EXPECT_EQ(p.TextOf("txtFlipreelFile"), u"(None)");
  for (const char* box : {"txtFrames", "txtCurrentFrame", "txtFrameRate", "txtAutoRewind"})
    EXPECT_EQ(p.TextOf(box), u"0") << box;
  EXPECT_EQ(p.ValueOf("chkAutoStart"), kChecked);
  EXPECT_EQ(p.ValueOf("chkStretch"), kUnchecked);
  EXPECT_EQ(p.ValueOf("chkAutosize"), kUnchecked);
  EXPECT_EQ(p.SelectedOption(), "OptionNormal");
  EXPECT_EQ(p.TextOf("cboBackstyle"), u"Opaque");
  EXPECT_EQ(p.TextOf("cboBorderstyle"), u"Transparent");
  EXPECT_EQ(p.e["cboBackstyle"].list, (std::vector<Text>{u"Transparent", u"Opaque"}));
  EXPECT_EQ(p.e["cboBorderstyle"].list, (std::vector<Text>{u"Solid", u"Transparent"}));
  EXPECT_TRUE(p.site.Changed());
  // Each value is read afresh; Sequence once per comparison until it matches.
  EXPECT_EQ(
      Joined(selected.trace),
      "get FlipreelFile, get AutoStart, get CurrentFrame, get AutoRewind, get Stretch, "
      "get AutoSize, get FrameRate, get Frames, get Sequence, get BackStyle, get BorderStyle");

  // Applying without any edit writes back what was read, "(None)" included,
  // so no file is read and the control stays as it was.
  selected.trace.clear();
  p.page.ApplyChanges();
  EXPECT_EQ(Joined(selected.Writes()),
            "AutoStart Boolean True, CurrentFrame Text \"0\", AutoRewind Text \"0\", "
            "Stretch Boolean False, AutoSize Boolean False, FrameRate Text \"0\", "
            "Frames Text \"0\", FlipreelFile Text \"(None)\", Sequence Integer 0, "
            "BackStyle Integer 1, BorderStyle Integer 0");
  EXPECT_EQ(d.control.FlipreelFile(), u"(None)");
  EXPECT_EQ(d.control.BackStyle(), 1);
}

// What the user types or pastes into the Frame Rate box, one text after the
// other, and what the box shows then, with the caret.
TEST(GeneralPage, NumericEntryKeepsTheBoxNumeric) {
  struct Row {
    const char* what;
    std::vector<Text> typed;
    Text shown;
    int32_t caret;
  };
  const Row rows[] = {
      {"a digit, a second digit and a letter", {u"1", u"12", u"12x"}, u"12", 2},
      {"a pasted digit, letter and digit", {u"1a2"}, u"1", 1},
      {"every character deleted", {u"5", u""}, u"0", 1},
      {"a digit with spaces around it", {u"  7 "}, u"7", 1},
      {"a sign alone", {u"-"}, u"0", 1},
      {"a number the property cannot hold", {u"99999"}, u"99999", 5},
  };
  for (const Row& row : rows) {
    TracedControl selected({{"FrameRate", Variant(int16_t{30})}});
    Page p(selected);
    for (const char* box : {"txtFrameRate", "txtAutoRewind"}) {
      p.site.SetChanged(false);
      for (const Text& t : row.typed) p.e.SetText(p.e[box], t);
      EXPECT_EQ(p.TextOf(box), row.shown) << row.what << " in " << box;
      EXPECT_EQ(p.e[box].sel_start, row.caret) << row.what << " in " << box;
      EXPECT_TRUE(p.site.Changed()) << row.what << " in " << box;
    }
  }
}

TEST(GeneralPage, EveryEditMarksThePageChangedButTheFileBoxAndBrowse) {
  TracedControl selected;
  Page p(selected);
  auto changes = [&](auto&& edit) {
    p.site.SetChanged(false);
    edit();
    return p.site.Changed();
  };
  EXPECT_TRUE(changes([&] { p.e.SetValue(p.e["chkStretch"], kChecked); }));
  EXPECT_TRUE(changes([&] { p.e.SetValue(p.e["OptionRandom"], -1); }));
  EXPECT_TRUE(changes([&] { p.e.SetListIndex(p.e["cboBorderstyle"], 0); }));
  EXPECT_TRUE(changes([&] { p.e.SetText(p.e["txtFrames"], u"9"); }));
  EXPECT_FALSE(changes([&] { p.e.SetText(p.e["txtFlipreelFile"], u"/tmp/a.gif"); }));
  // An option button set to True clears the others of its frame.
  EXPECT_EQ(p.SelectedOption(), "OptionRandom");
}

TEST(GeneralPage, ValuesOutsideTheListsLeaveThePageAsItWas) {
  TracedControl selected({{"Sequence", Variant(int32_t{2})}});
  Page p(selected);
  ASSERT_EQ(p.SelectedOption(), "OptionRandom");

  selected.values["Sequence"] = Variant(int32_t{5});
  selected.values["BackStyle"] = Variant(int32_t{7});
  selected.values["BorderStyle"] = Variant(int32_t{-1});
  selected.values["FrameRate"] = Variant(int16_t{80});
  selected.trace.clear();
  p.page.SelectionChanged();
  EXPECT_EQ(p.SelectedOption(), "OptionRandom");
  EXPECT_EQ(p.TextOf("cboBackstyle"), u"Opaque");
  EXPECT_EQ(p.TextOf("cboBorderstyle"), u"Transparent");
  EXPECT_EQ(p.TextOf("txtFrameRate"), u"80");
  EXPECT_EQ(std::count(selected.trace.begin(), selected.trace.end(), "get Sequence"), 4);

  // Applying writes the button that is selected; with none, no Sequence.
  selected.trace.clear();
  p.page.ApplyChanges();
  EXPECT_EQ(selected.values["Sequence"].Describe(), "Integer 2");
  p.e["OptionRandom"].value = 0;
  selected.trace.clear();
  p.page.ApplyChanges();
  EXPECT_EQ(std::count(selected.trace.begin(), selected.trace.end(), "let Sequence Integer 2"), 0);
}

TEST(GeneralPage, GreyedBoxesAndListTextsConvertExactly) {
  TracedControl selected;
  Page p(selected);
  p.e.SetValue(p.e["chkAutoStart"], kGreyed);
  p.e.SetValue(p.e["chkStretch"], kChecked);
  p.e.SetListIndex(p.e["cboBackstyle"], -1);  // nothing selected: no text
  p.e.SetText(p.e["cboBorderstyle"], u"Solid");
  EXPECT_EQ(ErrorOf([&] { p.e.SetText(p.e["cboBorderstyle"], u"solid"); }), 383);
  p.page.ApplyChanges();
  EXPECT_EQ(selected.values["AutoStart"].Describe(), "Boolean False");
  EXPECT_EQ(selected.values["Stretch"].Describe(), "Boolean True");
  EXPECT_EQ(selected.values["BorderStyle"].Describe(), "Integer 1");
  EXPECT_EQ(Joined(selected.Writes()).find("BackStyle"), std::string::npos);
}

TEST(GeneralPage, OnlyTheFirstOfSeveralSelectedControlsIsReadAndWritten) {
  TracedControl first, second({{"FrameRate", Variant(int16_t{70})}}), third;
  Page p({&first, &second, &third});
  p.page.SelectionChanged();
  p.e.SetText(p.e["txtAutoRewind"], u"3");
  p.page.ApplyChanges();
  EXPECT_EQ(first.values["AutoRewind"].Describe(), "Text \"3\"");
  EXPECT_TRUE(second.trace.empty());
  EXPECT_TRUE(third.trace.empty());
}

TEST(GeneralPage, AFailingWriteEndsTheApplyThere) {
  DesignerControl d;
  TracedControl& selected = d.selected;
  Page p(selected);
  p.e.SetValue(p.e["chkAutoStart"], kUnchecked);
  p.e.SetText(p.e["txtAutoRewind"], u"4");
  p.e.SetText(p.e["txtFrameRate"], u"40000");  // numeric, but not a 16-bit number
  p.e.SetValue(p.e["OptionReverse"], -1);
  selected.trace.clear();
  EXPECT_EQ(ErrorOf([&] { p.page.ApplyChanges(); }), err::kOverflow);
  EXPECT_EQ(Joined(selected.Writes()),
            "AutoStart Boolean False, CurrentFrame Text \"0\", AutoRewind Text \"4\", "
            "Stretch Boolean False, AutoSize Boolean False, FrameRate Text \"40000\"");
  EXPECT_FALSE(d.control.AutoStart());
  EXPECT_EQ(d.control.AutoRewind(), 4);
  EXPECT_EQ(d.control.Sequence(), kSequenceNormal);
}

TEST(GeneralPage, NoSelectedControlIsSubscriptOutOfRange) {
  Page p({});
  EXPECT_EQ(ErrorOf([&] { p.page.SelectionChanged(); }), err::kSubscriptOutOfRange);
}

// Browse with a file chosen and cancelled: the dialog's request, the file
// box, the Preview form fitted around the GIF, and what applying then does.
TEST(GeneralPage, BrowseShowsTheChosenGifOnThePreviewAndApplyLoadsIt) {
  testfiles::TempDir dir;
  // 300 x 200 pixels, 4500 x 3000 twips: taller and wider than the Preview.
  const std::string path = dir.Write("big.gif", testgif::Build(testgif::Animation(2, 300, 200)));
  struct Row {
    const char* what;
    bool choose;
    Text file_box;
    Text applied;  // FlipreelFile after applying
  };
  const Row rows[] = {{"chosen", true, Utf8ToText(path), u"Gif"},
                      {"cancelled", false, u"", u"(None)"}};
  for (const Row& row : rows) {
    DesignerControl d;
    Page p(d.selected);
    if (row.choose) p.host.file_dialog().Choose(path);
    p.site.SetChanged(false);
    p.e.Press(p.e["CmdLoadFile"]);

    ASSERT_EQ(p.host.file_dialog().requests().size(), 1u) << row.what;
    const FileDialogRequest& asked = p.host.file_dialog().requests()[0];
    EXPECT_EQ(asked.lpstrFilter, std::string("Animated Gif (*.GIF)\0*.GIF\0\0", 28)) << row.what;
    EXPECT_EQ(asked.lpstrTitle, "Please Select an Animated Gif File");
    EXPECT_EQ(asked.nMaxFile, 256);
    EXPECT_EQ(p.TextOf("txtFlipreelFile"), row.file_box) << row.what;
    EXPECT_FALSE(p.site.Changed()) << row.what;
    EXPECT_EQ(p.page.preview() != nullptr, row.choose) << row.what;
    // The Preview (3450 x 2205) grows to the control's height + 1200 when
    // the control is taller, and to its width + 1000 when it is less than
    // 500 narrower than the control. Without a GIF the control keeps its
    // 3075 twips of width, which is already too wide.
    std::vector<std::string> forms = {"show Preview modeless focus Flipreel1"};
    if (row.choose) {
      const Flipreel& reel = p.page.preview()->Flipreel1();
      EXPECT_EQ(reel.Frames(), 2);
      const int w = static_cast<int>(reel.host().SurfaceWidth());
      const int h = static_cast<int>(reel.host().SurfaceHeight());
      ASSERT_GT(h, 2205);
      forms.push_back("resize Preview 3450x" + std::to_string(h + 1200));
      forms.push_back("resize Preview " + std::to_string(w + 1000) + "x" +
                      std::to_string(h + 1200));
    } else {
      forms.push_back("resize Preview 4075x2205");
    }
    forms.push_back("unload Preview");

    p.page.ApplyChanges();
    EXPECT_EQ(Joined(p.host.forms().log()), Joined(forms)) << row.what;
    EXPECT_EQ(d.control.FlipreelFile(), row.applied) << row.what;
    EXPECT_EQ(d.control.Frames(), row.choose ? 2 : 0) << row.what;
  }
}
