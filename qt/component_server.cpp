#include "flipreel/qt/component_server.h"

#include <QObject>

#include "flipreel/control/flipreel.h"
#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/property_pages.h"

namespace flipreel {

namespace {

using component::ClassEntry;
using component::ClassKind;

// Keeps a created object counted while its widget lives.
class LiveTokenHolder : public QObject {
 public:
  LiveTokenHolder(QObject* owner, component::LiveToken token)
      : QObject(owner), token_(std::move(token)) {}

 private:
  component::LiveToken token_;
};

// A new widget of the class, counted as a live object until it is deleted;
// its caller owns it. The General page waits for the widgets it is to edit
// (PropertyPagesDialog::SetObjects).
template <typename W>
void* CreateWidget(std::string_view iid, component::LiveToken token) {
  if (iid != component::kWidgetInterface) return nullptr;
  auto* widget = new W;
  new LiveTokenHolder(widget, std::move(token));
  return static_cast<QWidget*>(widget);
}

const ClassEntry kClasses[] = {
    {"Flipreel", ClassKind::kControl, kFlipreelClassId, kFlipreelProgId, "_Flipreel", "__Flipreel",
     &CreateWidget<FlipreelWidget>},
    {"General", ClassKind::kPropertyPage, kGeneralPageClassId, "FlipreelControl.General", "", "",
     &CreateWidget<PropertyPagesDialog>},
    {"clsCommonDialog", ClassKind::kPrivate, "", "", "", "", nullptr},
    {"frmAboutFlipreel", ClassKind::kPrivate, "", "", "", "", nullptr},
    {"Preview", ClassKind::kPrivate, "", "", "", "", nullptr},
};

// Storage the runtime owns for this library; the library passes only their
// addresses.
void* g_slot1 = nullptr;
void* g_slot2 = nullptr;

// The library entry runs when the library is loaded and unloaded.
__attribute__((constructor)) void OnLoad() {
  DllMain(reinterpret_cast<void*>(&OnLoad), component::kProcessAttach, nullptr);
}
__attribute__((destructor)) void OnUnload() {
  DllMain(reinterpret_cast<void*>(&OnLoad), component::kProcessDetach, nullptr);
}

}  // namespace

const component::ComponentDescription& FlipreelComponentDescription() {
  static const component::ComponentDescription kDescription{
      &FlipreelTypeLibrary(), &FlipreelVersionRecord(), kClasses, "libflipreel_designer.so"};
  return kDescription;
}

}  // namespace flipreel

using flipreel::FlipreelComponentDescription;
using flipreel::g_slot1;
using flipreel::g_slot2;

int32_t DllMain(void* module, int32_t reason, void* reserved) {
  return flipreel::component::LibraryEntry(module, reason, reserved, &g_slot1, &g_slot2,
                                           FlipreelComponentDescription());
}

int32_t DllRegisterServer() {
  return flipreel::component::RegisterServer(&g_slot1, &g_slot2, FlipreelComponentDescription());
}

int32_t DllUnregisterServer() {
  return flipreel::component::UnregisterServer(&g_slot1, &g_slot2, FlipreelComponentDescription());
}

int32_t DllGetClassObject(const char* class_id, const char* iid, void** factory) {
  return flipreel::component::GetClassObject(&g_slot1, &g_slot2, FlipreelComponentDescription(),
                                             class_id ? class_id : "", iid ? iid : "", factory);
}

int32_t DllCanUnloadNow() {
  return flipreel::component::CanUnloadNow(FlipreelComponentDescription());
}
