// The About box and the Preview form as models, shown by the headless host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flipreel/control/about_box.h"
#include "flipreel/control/flipreel.h"
#include "flipreel/control/pictures.h"
#include "flipreel/forms/preview.h"
#include "flipreel/headless/headless_host.h"
#include "tests/support/checks.h"

namespace {

using namespace flipreel;
using testsupport::ErrorOf;
using testsupport::Joined;

// An element as one line: name, kind, parent, position, tab index, caption.
std::string Line(const FormElement& e) {
  static const char* kKinds[] = {"frame", "image",  "label",    "button", "textbox",
                                 "check", "option", "combobox", "control"};
  std::string line = e.name + " " + kKinds[static_cast<int>(e.kind)] + " " +
                     (e.parent.empty() ? "form" : e.parent) + " " +
                     TextToUtf8(FormatSingle(e.left)) + "," + TextToUtf8(FormatSingle(e.top)) +
                     " " + TextToUtf8(FormatSingle(e.width)) + "x" +
                     TextToUtf8(FormatSingle(e.height)) + " tab " +
                     (e.tab_index ? std::to_string(*e.tab_index) : "-");
  if (!e.caption.empty()) line += " \"" + TextToUtf8(e.caption) + "\"";
  return line;
}

std::vector<std::string> Lines(const Form& form) {
  std::vector<std::string> lines;
  for (const FormElement& e : form.elements()) lines.push_back(Line(e));
  return lines;
}

TEST(AboutBox, ElementTable) {
  HeadlessHost host;
  frmAboutFlipreel about(host);
  EXPECT_EQ(about.name(), "frmAboutFlipreel");
  EXPECT_EQ(about.caption(), u"About Flipreel Control");
  EXPECT_EQ(about.width(), 6225);
  EXPECT_EQ(about.height(), 2190);
  EXPECT_EQ(Lines(about),
            (std::vector<std::string>{
                "Frame1 frame form 160,90 5895x1455 tab 1",
                "Image1 image Frame1 360,680 285x210 tab -",
                "Label1 label Frame1 960,360 4095x255 tab 4 \"Flipreel Control, version 1.2.02\"",
                "Label2 label Frame1 960,690 3735x255 tab 3 \"Copyright     2026 the Flipreel "
                "authors.\"",
                "Label3 label Frame1 960,1005 3135x255 tab 2 \"Developed by the Flipreel "
                "project.\"",
                "Image2 image Frame1 1680,690 8640x225 tab -",
                "Command1 button form 5100,1680 975x345 tab 0 \"&Ok\"",
                "Label4 label form 160,1725 4695x255 tab 5 \"Questions and reports: "
                "flipreel@example.org\"",
            }));
  // The film strip and the sign drawn in a serif font.
  EXPECT_EQ(about.element("Image1").picture, AboutBoxPicture());
  const FormElement& sign = about.element("Image2");
  ASSERT_TRUE(sign.drawing.has_value());
  EXPECT_EQ(sign.drawing->text, u"\u00A9");
  EXPECT_EQ(sign.drawing->font_family, "Times New Roman");
  EXPECT_EQ(about.FormPosition(sign), std::make_pair(1840.0f, 780.0f));
  EXPECT_EQ(ErrorOf([&] { about.element("Label9"); }), 340);
}

// Pixels of the film strip: perforated bands of film, blue letters on white.
TEST(AboutBox, FilmStripPictures) {
  struct Case {
    Picture picture;
    int width, height;
  };
  for (const Case& t : {Case{AboutBoxPicture(), 19, 14}, Case{ToolboxPicture(), 16, 15}}) {
    SCOPED_TRACE(t.width);
    const PictureData& p = *t.picture.data();
    ASSERT_EQ(p.width(), t.width);
    ASSERT_EQ(p.height(), t.height);
    int blue = 0, white = 0, film = 0, other = 0;
    for (int y = 0; y < p.height(); ++y)
      for (int x = 0; x < p.width(); ++x) {
        const uint32_t c = p.PixelArgb(x, y);
        blue += c == 0xFF0000FF;
        white += c == 0xFFFFFFFF;
        film += c == 0xFF202020;
        other += c != 0xFF0000FF && c != 0xFFFFFFFF && c != 0xFF202020;
      }
    EXPECT_EQ(other, 0);           // opaque, three colours
    EXPECT_EQ(blue, 12 + 9 + 10);  // the ink of G, I and F
    EXPECT_GT(film, 2 * t.width);
    EXPECT_EQ(p.PixelArgb(0, 0), 0xFF202020u);  // the top band
    EXPECT_EQ(p.PixelArgb(1, 1), 0xFFFFFFFFu);  // a hole in it
    EXPECT_EQ(p.PixelArgb(0, t.height - 1), 0xFF202020u);
    EXPECT_GT(white, blue);
  }
}

TEST(AboutBox, ShowAboutShowsAFreshModalBoxEachTime) {
  HeadlessHost host;
  Flipreel control(host);
  control.InitProperties();
  std::vector<const Form*> boxes;
  int step = 0;
  host.forms().set_modal_user([&](Form& form) {
    boxes.push_back(&form);
    EXPECT_EQ(host.forms().open_forms().size(), 1u);  // the first has gone
    // The first box is closed with a click on Command1, the second with Alt+O.
    if (step++ == 0) {
      form.Click("Label1");  // a label does not close it
      EXPECT_TRUE(form.shown());
      form.Click("Command1");
    } else {
      EXPECT_TRUE(form.PressAccessKey(u'o'));
    }
    EXPECT_FALSE(form.shown());
  });
  control.ShowAbout();
  Variant none;
  control.Invoke("showabout", CallKind::kMethod);
  EXPECT_EQ(Joined(host.forms().log(), "; "),
            "show frmAboutFlipreel modal focus Command1; unload frmAboutFlipreel; "
            "show frmAboutFlipreel modal focus Command1; unload frmAboutFlipreel");
  EXPECT_TRUE(host.forms().open_forms().empty());
  EXPECT_EQ(boxes.size(), 2u);

  // With nobody at the keyboard the window's close control ends it.
  host.forms().set_modal_user(nullptr);
  control.ShowAbout();
  EXPECT_TRUE(host.forms().open_forms().empty());
  EXPECT_TRUE(host.notices().empty());  // nothing of the control changed
}

// Every member of the control now answers by name.
TEST(AboutBox, NoMemberRaises438) {
  HeadlessHost host;
  Flipreel control(host);
  control.InitProperties();
  for (const MemberInfo& m : Flipreel::Members()) {
    SCOPED_TRACE(std::string(m.name));
    Variant zero(int16_t{0});
    const bool takes_frame = m.parameters.starts_with("Frame");
    const CallKind kind = m.kind == MemberInfo::Kind::kMethod ? CallKind::kMethod : CallKind::kGet;
    EXPECT_NE(ErrorOf([&] {
                control.Invoke(m.name, kind,
                               takes_frame ? std::span(&zero, 1) : std::span<Variant>());
              }),
              438);
  }
}

TEST(PreviewForm, ElementTableAndRestoredControl) {
  HeadlessHost host;
  host.SetUserMode(false);
  Preview preview(host);
  EXPECT_EQ(preview.caption(), u"Preview");
  EXPECT_EQ(preview.width(), 3450);
  EXPECT_EQ(preview.height(), 2205);
  EXPECT_EQ(Lines(preview),
            (std::vector<std::string>{"Flipreel1 control form 360,360 3075x1950 tab 0"}));
  EXPECT_EQ(preview.element("Flipreel1").class_name, "FlipreelControl.Flipreel");

  Flipreel& c = preview.Flipreel1();
  EXPECT_TRUE(c.AutoSize());
  EXPECT_EQ(c.BackStyle(), 0);
  EXPECT_EQ(c.BackColor(), kColorButtonFace);
  EXPECT_EQ(c.GetBuffer(), u"0");
  EXPECT_EQ(c.FlipreelFile(), u"(None)");
  EXPECT_EQ(c.host().SurfaceWidth(), 3075);
  EXPECT_EQ(c.host().SurfaceHeight(), 1950);
  EXPECT_FALSE(c.host().UserMode());  // the site has its host's ambient values
  const PropertyBag saved = Preview::SavedFlipreel1();
  EXPECT_EQ(saved.Find("_ExtentX")->ToLong(), 5424);
  EXPECT_EQ(saved.Find("_ExtentY")->ToLong(), 3440);
}

TEST(PreviewForm, AClickOnTheFormUnloadsItAClickOnTheControlDoesNot) {
  HeadlessHost host;
  Preview preview(host);
  preview.Show(FormShow::kModeless);
  preview.Show(FormShow::kModeless);
  preview.Click("Flipreel1");
  EXPECT_TRUE(preview.shown());
  preview.SetSize(4000, 3000);
  preview.Click("");
  EXPECT_FALSE(preview.shown());
  preview.Unload();  // unloading again does nothing
  EXPECT_EQ(Joined(host.forms().log(), "; "),
            "show Preview modeless focus Flipreel1; front Preview; resize Preview 4000x3000; "
            "unload Preview");
}

TEST(PreviewForm, DroppedWhileShownTakesItsWindowWithIt) {
  HeadlessHost host;
  {
    Preview preview(host);
    preview.Show(FormShow::kModeless);
    EXPECT_EQ(host.forms().open_forms().size(), 1u);
  }
  EXPECT_TRUE(host.forms().open_forms().empty());
}

TEST(FormModel, AccessKeysAndCaptions) {
  struct Case {
    Text caption;
    std::optional<char16_t> key;
    Text shown;
  };
  const Case cases[] = {
      {u"&Ok", u'O', u"Ok"},
      {u"Auto &size", u'S', u"Auto size"},
      {u"Fish && Chips", std::nullopt, u"Fish & Chips"},
      {u"&&&Go", u'G', u"&Go"},
      {u"Plain", std::nullopt, u"Plain"},
      {u"trailing&", std::nullopt, u"trailing&"},
  };
  for (const Case& t : cases) {
    EXPECT_EQ(AccessKeyOf(t.caption), t.key) << TextToUtf8(t.caption);
    EXPECT_EQ(CaptionText(t.caption), t.shown) << TextToUtf8(t.caption);
  }
}

}  // namespace
