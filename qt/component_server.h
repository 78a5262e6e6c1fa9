// The in-process component server: the library that holds the Qt widget
// exports the four standard entry points and a library entry, each handing
// its call to the component runtime (server/component_runtime.h) with the
// library's component description.
#pragma once

#include <cstdint>

#include "flipreel/server/component_runtime.h"

#define FLIPREEL_EXPORT __attribute__((visibility("default")))

extern "C" {
FLIPREEL_EXPORT int32_t DllMain(void* module, int32_t reason, void* reserved);
FLIPREEL_EXPORT int32_t DllRegisterServer();
FLIPREEL_EXPORT int32_t DllUnregisterServer();
// class_id and iid are texts: "{9F68D828-...}" and "IClassFactory".
FLIPREEL_EXPORT int32_t DllGetClassObject(const char* class_id, const char* iid, void** factory);
FLIPREEL_EXPORT int32_t DllCanUnloadNow();
}

namespace flipreel {

// The classes Flipreel (with _Flipreel and __Flipreel), the page General, and
// the private classes clsCommonDialog, frmAboutFlipreel and Preview, with the
// type library and the version record.
const component::ComponentDescription& FlipreelComponentDescription();

}  // namespace flipreel
