#include "flipreel/propertypage/general_page.h"

#include <array>

#include "flipreel/dialog/common_dialog.h"
#include "flipreel/host/host.h"

namespace flipreel {

namespace {

using K = PageElementKind;

// A box that shows a value the user cannot type over.
PageElement ReadOnlyBox(std::string name, float left, float width, int tab) {
  PageElement e =
      MakeElement(std::move(name), K::kTextBox, {}, left, 250, width, 285, tab, "frmFrames");
  e.editable = false;
  e.back_color = kColorButtonFace;
  return e;
}

// The page's elements in creation order. The file box lies outside the
// visible area: the user sees only the label and the Browse button, while the
// box carries the value that is applied.
std::vector<PageElement> GeneralElements() {
  return {
      MakeElement("txtFlipreelFile", K::kTextBox, {}, -2520, -480, 2655, 310, 22),
      MakeElement("CmdLoadFile", K::kButton, u"&Browse", 4200, 610, 1215, 325, 21),
      MakeElement("txtAutoRewind", K::kTextBox, {}, 4780, 1165, 600, 285, 8),
      MakeElement("chkStretch", K::kCheckBox, u"Stretch", 2725, 1165, 825, 270, 7),
      MakeElement("chkAutosize", K::kCheckBox, u"Auto Size", 1630, 1165, 1020, 270, 6),
      MakeElement("chkAutoStart", K::kCheckBox, u"Auto Start", 475, 1165, 1020, 270, 0),
      MakeElement("frmFrames", K::kFrame, u"Frames", 480, 1570, 4935, 690, 11),
      MakeElement("txtFrameRate", K::kTextBox, {}, 4215, 250, 600, 285, 9, "frmFrames"),
      ReadOnlyBox("txtCurrentFrame", 2570, 570, 13),
      ReadOnlyBox("txtFrames", 770, 555, 12),
      MakeElement("lblFrameRate", K::kLabel, u"Frame Rate:", 3270, 285, 900, 240, 16, "frmFrames"),
      MakeElement("lblCurrentFrame", K::kLabel, u"Current Frame:", 1440, 285, 1125, 240, 15,
                  "frmFrames"),
      MakeElement("lblFrames", K::kLabel, u"Frames:", 120, 285, 660, 240, 14, "frmFrames"),
      MakeElement("cboBorderstyle", K::kDropDownList, {}, 2040, 610, 1455, 315, 2),
      MakeElement("cboBackstyle", K::kDropDownList, {}, 475, 610, 1455, 315, 1),
      MakeElement("frmSequence", K::kFrame, u"Sequence", 480, 2380, 4915, 660, 10),
      MakeElement("Optionpingpong", K::kOptionButton, u"Ping Pong", 3640, 270, 1030, 255, 20,
                  "frmSequence"),
      MakeElement("OptionRandom", K::kOptionButton, u"Random", 2480, 270, 900, 255, 5,
                  "frmSequence"),
      MakeElement("OptionNormal", K::kOptionButton, u"Normal", 240, 270, 855, 255, 3,
                  "frmSequence"),
      MakeElement("OptionReverse", K::kOptionButton, u"Reverse", 1310, 270, 900, 250, 4,
                  "frmSequence"),
      MakeElement("lblGiffile", K::kLabel, u"Gif File:", 3600, 680, 540, 225, 23),
      MakeElement("lblAutorewind", K::kLabel, u"Auto Rewind:", 3720, 1195, 1020, 240, 19),
      MakeElement("lblBorderstyle", K::kLabel, u"Border Style:", 2040, 380, 900, 240, 18),
      MakeElement("lblBackstyle", K::kLabel, u"Back Style:", 475, 380, 900, 240, 17),
  };
}

// The option buttons in the order of the Sequence values they stand for.
constexpr std::array<std::string_view, 4> kSequenceOptions = {"OptionNormal", "OptionReverse",
                                                              "OptionRandom", "Optionpingpong"};

// The list texts of the two style properties, indexed by value.
constexpr std::array<std::u16string_view, 2> kBackStyleTexts = {u"Transparent", u"Opaque"};
constexpr std::array<std::u16string_view, 2> kBorderStyleTexts = {u"Transparent", u"Solid"};

// A check box shows a Boolean And 1: True (-1) checks it, False clears it.
int16_t CheckValue(const Variant& v) {
  return static_cast<int16_t>(v.ToLong() & 1);
}

// Only a checked box reads as True; a greyed one counts as False.
Variant Checked(const PageElement& box) {
  return Variant::FromBool(box.value == kChecked);
}

// The value whose text the list shows, compared exactly; -1 for any other.
int16_t StyleValue(const PageElement& list, std::span<const std::u16string_view> texts) {
  for (size_t i = 0; i < texts.size(); ++i)
    if (list.text == texts[i]) return static_cast<int16_t>(i);
  return -1;
}

Text TrimSpaces(TextView t) {
  const size_t b = t.find_first_not_of(u' ');
  if (b == TextView::npos) return Text();
  return Text(t.substr(b, t.find_last_not_of(u' ') - b + 1));
}

}  // namespace

GeneralPage::GeneralPage(PropertyPageSite& site, FileDialogService& file_dialog, FormService& forms)
    : PropertyPage(site, GeneralElements()), file_dialog_(file_dialog), forms_(forms) {}

GeneralPage::~GeneralPage() = default;

void GeneralPage::Initialize() {
  for (std::u16string_view t : kBackStyleTexts) elements_.AddItem(elements_["cboBackstyle"], t);
  elements_.AddItem(elements_["cboBorderstyle"], kBorderStyleTexts[1]);
  elements_.AddItem(elements_["cboBorderstyle"], kBorderStyleTexts[0]);
}

void GeneralPage::SelectionChanged() {
  PageElements& e = elements_;
  auto text_of = [this](std::string_view name) { return Get(name).ToText(); };
  auto check_of = [this](std::string_view name) { return CheckValue(Get(name)); };
  e.SetText(e["txtFlipreelFile"], text_of("FlipreelFile"));
  e.SetValue(e["chkAutoStart"], check_of("AutoStart"));
  e.SetText(e["txtCurrentFrame"], text_of("CurrentFrame"));
  e.SetText(e["txtAutoRewind"], text_of("AutoRewind"));
  e.SetValue(e["chkStretch"], check_of("Stretch"));
  e.SetValue(e["chkAutosize"], check_of("AutoSize"));
  e.SetText(e["txtFrameRate"], text_of("FrameRate"));
  e.SetText(e["txtFrames"], text_of("Frames"));

  // Sequence is read afresh for each comparison; a value outside 0..3 leaves
  // the buttons as they were.
  for (int32_t value = 0; value < 4; ++value) {
    if (Get("Sequence").ToLong() != value) continue;
    for (int32_t i = 0; i < 4; ++i)
      e.SetValue(e[kSequenceOptions[i]], i == value ? int16_t{-1} : int16_t{0});
    break;
  }

  const int32_t back_style = Get("BackStyle").ToLong();
  if (back_style == 0 || back_style == 1) e.SetText(e["cboBackstyle"], kBackStyleTexts[back_style]);
  const int32_t border_style = Get("BorderStyle").ToLong();
  if (border_style == 0 || border_style == 1)
    e.SetText(e["cboBorderstyle"], kBorderStyleTexts[border_style]);
}

void GeneralPage::ApplyChanges() {
  const PageElements& e = elements_;
  Let("AutoStart", Checked(e["chkAutoStart"]));
  Let("CurrentFrame", Variant(e["txtCurrentFrame"].text));
  Let("AutoRewind", Variant(e["txtAutoRewind"].text));
  Let("Stretch", Checked(e["chkStretch"]));
  Let("AutoSize", Checked(e["chkAutosize"]));
  Let("FrameRate", Variant(e["txtFrameRate"].text));
  Let("Frames", Variant(e["txtFrames"].text));
  Let("FlipreelFile", Variant(e["txtFlipreelFile"].text));
  for (int16_t value = 0; value < 4; ++value) {
    if (e[kSequenceOptions[value]].value == 0) continue;
    Let("Sequence", Variant(value));
    break;
  }
  if (int16_t v = StyleValue(e["cboBackstyle"], kBackStyleTexts); v >= 0)
    Let("BackStyle", Variant(v));
  if (int16_t v = StyleValue(e["cboBorderstyle"], kBorderStyleTexts); v >= 0)
    Let("BorderStyle", Variant(v));
  ClosePreview();
}

void GeneralPage::OnEvent(PageElement& e, PageEvent event) {
  if (e.name == "txtFrameRate" || e.name == "txtAutoRewind") {
    if (event == PageEvent::kChange) NumericEntryChanged(e);
    return;
  }
  if (e.name == "CmdLoadFile") return Browse();
  // Every other element but the file box marks the page changed when it
  // changes or is clicked.
  if (e.name != "txtFlipreelFile") MarkChanged();
}

// Keeps the box numeric as it is typed: an emptied box shows "0", a numeric
// text loses its surrounding spaces, and a character that makes the text
// non-numeric is taken away again. Setting the text re-enters this handler,
// which is how a pasted text loses characters from its end until it is
// numeric; the element raises nothing when the text is already the same.
void GeneralPage::NumericEntryChanged(PageElement& box) {
  if (box.text.empty()) {
    elements_.SetText(box, u"0");
  } else if (site_.IsNumeric(box.text)) {
    elements_.SetText(box, TrimSpaces(box.text));
    elements_.SetSelStart(box, static_cast<int32_t>(box.text.size()));
  } else {
    elements_.SetText(box, TextView(box.text).substr(0, box.text.size() - 1));
    elements_.SetSelStart(box, static_cast<int32_t>(box.text.size()));
  }
  MarkChanged();
}

// Asks for a GIF with a new file-open dialog, puts the answer in the file
// box (empty after a cancel) and plays it on the Preview form, which grows to
// fit it; after a cancel the Preview closes again at once.
void GeneralPage::Browse() {
  Text chosen;
  {
    clsCommonDialog dialog(file_dialog_);
    auto let = [&dialog](std::string_view member, Variant value) {
      dialog.Invoke(member, CallKind::kLet, std::span<Variant>(&value, 1));
    };
    let("Filter", Variant(Text(u"Animated Gif (*.GIF)") + u'\0' + u"*.GIF" + u'\0'));
    let("MaxFileSize", Variant(int16_t{256}));
    let("Max", Variant(int16_t{256}));
    let("FileTitle", Variant(Text()));
    let("DialogTitle", Variant(u"Please Select an Animated Gif File"));
    dialog.Invoke("ShowOpen", CallKind::kMethod);
    chosen = dialog.Invoke("FileName", CallKind::kGet).ToText();
    elements_.SetText(elements_["txtFlipreelFile"],
                      dialog.Invoke("FileName", CallKind::kGet).ToText());
  }

  if (!preview()) preview_ = std::make_unique<Preview>(forms_);
  Preview& form = *preview_;
  form.Show(FormShow::kModeless);
  Flipreel& reel = form.Flipreel1();
  Variant file(elements_["txtFlipreelFile"].text), on = Variant::FromBool(true);
  reel.Invoke("FlipreelFile", CallKind::kLet, std::span<Variant>(&file, 1));
  reel.Invoke("AutoSize", CallKind::kLet, std::span<Variant>(&on, 1));

  const float reel_height = reel.host().SurfaceHeight();
  const float reel_width = reel.host().SurfaceWidth();
  if (reel_height > form.height()) form.SetSize(form.width(), reel_height + 1200);
  if (form.width() - 500 < reel_width) form.SetSize(reel_width + 1000, form.height());
  if (chosen.empty()) form.Unload();
}

// Closing the Preview is the one step of the page that ignores its errors.
void GeneralPage::ClosePreview() {
  if (preview_) (void)Trap([&] { preview_->Unload(); });
}

}  // namespace flipreel
