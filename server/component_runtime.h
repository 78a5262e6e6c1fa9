// The component runtime: what makes a library an in-process component server
// on this platform. The library's exported entry points hand each call,
// with the library's component description and its two data slots, to the
// functions here, and return their answer.
//
// - Registration writes a per-user registry entry, a JSON file named after
//   the class id in $XDG_DATA_HOME/flipreel/components/ (class id, prog id,
//   library path, version, type library), and links the library's Qt
//   Designer plugin, when it has one beside it, into ~/.designer/plugins,
//   where the user's Designer looks. The entry records what was made, and
//   unregistration removes exactly that. Both may be repeated.
// - The class object is a factory that creates objects of a class by class
//   id; the runtime counts live objects and factory locks, and the unload
//   query answers whether any is left.
//
// Results follow the published contract of in-process servers: 0 success,
// 1 "false", and the failure codes below.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "flipreel/control/type_info.h"
#include "flipreel/server/version_record.h"

namespace flipreel::component {

inline constexpr int32_t kOk = 0;
inline constexpr int32_t kFalse = 1;
inline constexpr int32_t kNoInterface = static_cast<int32_t>(0x80004002);
inline constexpr int32_t kNullPointer = static_cast<int32_t>(0x80004003);
inline constexpr int32_t kFail = static_cast<int32_t>(0x80004005);
inline constexpr int32_t kClassNotAvailable = static_cast<int32_t>(0x80040111);
inline constexpr int32_t kRegistrationFailed = static_cast<int32_t>(0x80040201);

// The interface id of the factory itself, and of a created object's widget
// (a QWidget*) for libraries that make widgets.
inline constexpr std::string_view kFactoryInterface = "IClassFactory";
inline constexpr std::string_view kWidgetInterface = "QWidget";

// Reasons the library entry is called for.
inline constexpr int32_t kProcessDetach = 0;
inline constexpr int32_t kProcessAttach = 1;

// Held by every object a factory made; the object is counted as alive until
// its token goes.
using LiveToken = std::shared_ptr<void>;

enum class ClassKind : uint8_t { kControl, kPropertyPage, kPrivate };

struct ClassEntry {
  std::string_view name;
  ClassKind kind;
  std::string_view class_id;  // empty for private classes: no factory
  std::string_view prog_id;
  std::string_view default_interface;
  std::string_view event_interface;
  // Makes an object and answers its interface iid (null when it has none:
  // the object is then dropped). The object keeps token as long as it lives.
  void* (*create)(std::string_view iid, LiveToken token) = nullptr;
};

struct ComponentDescription {
  const TypeLibraryInfo* type_library;
  const VersionRecord* version;
  std::span<const ClassEntry> classes;
  // The Qt Designer plugin that registration links, looked for beside the
  // library; empty when there is none.
  std::string_view designer_plugin;
};

class ClassFactory {
 public:
  virtual ~ClassFactory() = default;
  virtual int32_t CreateInstance(std::string_view iid, void** object) = 0;
  virtual int32_t LockServer(bool lock) = 0;
};

// The runtime's services, as the entry points call them.
int32_t LibraryEntry(void* module, int32_t reason, void* reserved, void** slot1, void** slot2,
                     const ComponentDescription& description);
int32_t RegisterServer(void** slot1, void** slot2, const ComponentDescription& description);
int32_t UnregisterServer(void** slot1, void** slot2, const ComponentDescription& description);
int32_t GetClassObject(void** slot1, void** slot2, const ComponentDescription& description,
                       std::string_view class_id, std::string_view iid, void** factory);
int32_t CanUnloadNow(const ComponentDescription& description);

// --- reading what is registered ----------------------------------------------
struct Registration {
  std::string class_id;
  std::string prog_id;
  std::string class_name;
  std::string library;
  std::string version;
  std::string entry_file;     // the registry entry itself
  std::string designer_link;  // the plugin link registration made; empty when none
};
// Every component registered for this user, by class id.
std::vector<Registration> RegisteredComponents();
// The registry folder and Designer's plugin folder of this user.
std::string RegistryFolder();
std::string DesignerPluginFolder();

}  // namespace flipreel::component
