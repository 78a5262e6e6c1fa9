#include "flipreel/control/about_box.h"

#include "flipreel/control/pictures.h"

namespace flipreel {

namespace {

FormElement Element(std::string name, FormElementKind kind, std::string parent, float left,
                    float top, float width, float height, std::optional<int16_t> tab,
                    Text caption = {}) {
  FormElement e;
  e.name = std::move(name);
  e.kind = kind;
  e.parent = std::move(parent);
  e.left = left;
  e.top = top;
  e.width = width;
  e.height = height;
  e.tab_index = tab;
  e.caption = std::move(caption);
  return e;
}

std::vector<FormElement> AboutElements() {
  using K = FormElementKind;
  std::vector<FormElement> e;
  e.push_back(Element("Frame1", K::kFrame, "", 160, 90, 5895, 1455, 1));
  e.push_back(Element("Image1", K::kImage, "Frame1", 360, 680, 285, 210, std::nullopt));
  e.back().picture = AboutBoxPicture();
  e.push_back(Element("Label1", K::kLabel, "Frame1", 960, 360, 4095, 255, 4,
                      u"Flipreel Control, version 1.2.02"));
  // Five spaces after the first word leave room for the sign Image2 draws.
  e.push_back(Element("Label2", K::kLabel, "Frame1", 960, 690, 3735, 255, 3,
                      u"Copyright     2026 the Flipreel authors."));
  e.push_back(Element("Label3", K::kLabel, "Frame1", 960, 1005, 3135, 255, 2,
                      u"Developed by the Flipreel project."));
  // The copyright sign, drawn in a serif font rather than stored as pixels.
  e.push_back(Element("Image2", K::kImage, "Frame1", 1680, 690, 8640, 225, std::nullopt));
  e.back().drawing = TextDrawing{u"\u00A9", "Times New Roman", 180, 0};
  e.push_back(Element("Command1", K::kCommandButton, "", 5100, 1680, 975, 345, 0, u"&Ok"));
  e.push_back(Element("Label4", K::kLabel, "", 160, 1725, 4695, 255, 5,
                      u"Questions and reports: flipreel@example.org"));
  return e;
}

}  // namespace

frmAboutFlipreel::frmAboutFlipreel(FormService& forms)
    : Form(forms, "frmAboutFlipreel", u"About Flipreel Control", 6225, 2190, AboutElements()) {}

void frmAboutFlipreel::Click(std::string_view element) {
  if (element == "Command1") Unload();
}

}  // namespace flipreel
