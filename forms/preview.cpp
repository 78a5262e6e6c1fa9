#include "flipreel/forms/preview.h"

namespace flipreel {

namespace {

std::vector<FormElement> PreviewElements() {
  FormElement control;
  control.name = "Flipreel1";
  control.kind = FormElementKind::kControl;
  control.class_name = std::string(kFlipreelProgId);
  control.left = 360;
  control.top = 360;
  control.width = 3075;
  control.height = 1950;
  control.tab_index = 0;
  return {control};
}

}  // namespace

PropertyBag Preview::SavedFlipreel1() {
  PropertyBag bag;
  bag.Append("_ExtentX", int32_t{5424});
  bag.Append("_ExtentY", int32_t{3440});
  bag.Append("AutoSize", Variant::FromBool(true));
  bag.Append("BackStyle", int16_t{kBackStyleTransparent});
  bag.Append("BackColor", kColorButtonFace);
  bag.Append("Buffer", TextToBytePairs(u"0"));  // no GIF
  return bag;
}

Preview::Preview(FormService& forms)
    : Form(forms, "Preview", u"Preview", 3450, 2205, PreviewElements()) {
  site_ = forms.CreateControlSite(*this, element("Flipreel1"));
  Flipreel1_ = std::make_unique<Flipreel>(*site_);
  Flipreel1_->ReadProperties(SavedFlipreel1());
}

Preview::~Preview() {
  Unload();
}

void Preview::Click(std::string_view element) {
  if (element.empty()) Unload();
}

}  // namespace flipreel
