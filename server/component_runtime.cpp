#include "flipreel/server/component_runtime.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <system_error>

namespace flipreel::component {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// What the runtime keeps for one library, reached through its first data
// slot. It lives as long as the process: objects may outlive every call.
struct LibraryState;

class Factory final : public ClassFactory {
 public:
  Factory(LibraryState& state, const ClassEntry& entry) : state_(state), entry_(entry) {}
  int32_t CreateInstance(std::string_view iid, void** object) override;
  int32_t LockServer(bool lock) override;

 private:
  LibraryState& state_;
  const ClassEntry& entry_;
};

struct LibraryState {
  std::string library_path;
  std::atomic<int> objects{0};
  std::atomic<int> locks{0};
  std::map<const ClassEntry*, std::unique_ptr<Factory>> factories;
};

std::mutex& StatesMutex() {
  static std::mutex m;
  return m;
}

// Never destroyed: the states it reaches outlive every static destructor, so
// objects still alive at exit find their library's counters.
std::map<const ComponentDescription*, LibraryState*>& States() {
  static auto* states = new std::map<const ComponentDescription*, LibraryState*>;
  return *states;
}

// The file a code address lies in, as an absolute path.
std::string ModulePath(const void* address) {
  Dl_info info{};
  if (!address || dladdr(address, &info) == 0 || !info.dli_fname) return {};
  std::error_code ec;
  const fs::path path = fs::canonical(info.dli_fname, ec);
  return ec ? std::string(info.dli_fname) : path.string();
}

LibraryState& StateOf(void** slot1, void** slot2, const ComponentDescription& description) {
  std::lock_guard lock(StatesMutex());
  LibraryState*& known = States()[&description];
  if (slot1 && *slot1) known = static_cast<LibraryState*>(*slot1);
  if (!known) known = new LibraryState;  // lives as long as the process
  if (slot1) *slot1 = known;
  if (known->library_path.empty())
    known->library_path =
        slot2 && *slot2 ? *static_cast<std::string*>(*slot2) : ModulePath(&description);
  return *known;
}

int32_t Factory::CreateInstance(std::string_view iid, void** object) {
  if (!object) return kNullPointer;
  *object = nullptr;
  if (!entry_.create) return kClassNotAvailable;
  LibraryState* state = &state_;
  ++state->objects;
  LiveToken token(nullptr, [state](void*) { --state->objects; });
  void* made = entry_.create(iid, std::move(token));
  if (!made) return kNoInterface;
  *object = made;
  return kOk;
}

int32_t Factory::LockServer(bool lock) {
  if (lock) {
    ++state_.locks;
  } else if (state_.locks > 0) {
    --state_.locks;
  }
  return kOk;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

fs::path EntryFile(const ClassEntry& c) {
  return fs::path(RegistryFolder()) / (std::string(c.class_id) + ".json");
}

// Writes the whole text under a temporary name and renames it into place.
void WriteAtomically(const fs::path& path, const std::string& text) {
  const fs::path temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) throw fs::filesystem_error("cannot write", temporary, std::error_code());
  }
  fs::rename(temporary, path);
}

// The Designer plugin that goes with the library.
fs::path FindDesignerPlugin(const LibraryState& state, const ComponentDescription& d) {
  if (d.designer_plugin.empty() || state.library_path.empty()) return {};
  const fs::path folder = fs::path(state.library_path).parent_path();
  // Beside it, or in a plugins/designer folder of the build or install tree.
  for (const fs::path& candidate :
       {folder / d.designer_plugin, folder / "designer" / d.designer_plugin,
        folder / "plugins/designer" / d.designer_plugin,
        folder / "../plugins/designer" / d.designer_plugin,
        folder / "qt6/plugins/designer" / d.designer_plugin}) {
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) return fs::canonical(candidate, ec);
  }
  return {};
}

// The folders registration made go too, once nothing else is in them: the
// folder and up to levels - 1 of its parents, innermost first.
void RemoveEmptyFolders(fs::path folder, int levels) {
  std::error_code ec;
  for (int i = 0; i < levels; ++i, folder = folder.parent_path())
    if (!fs::is_empty(folder, ec) || !fs::remove(folder, ec)) return;
}

// Links the plugin into Designer's folder; a file of that name that is not
// a link of ours is left alone. Returns the link made, or empty.
std::string LinkDesignerPlugin(const fs::path& plugin) {
  if (plugin.empty()) return {};
  const fs::path link = fs::path(DesignerPluginFolder()) / plugin.filename();
  fs::create_directories(link.parent_path());
  std::error_code ec;
  if (fs::is_symlink(link, ec)) {
    fs::remove(link);
  } else if (fs::exists(link, ec)) {
    return {};
  }
  fs::create_symlink(plugin, link);
  return link.string();
}

json TypeLibraryJson(const TypeLibraryInfo& t) {
  json pages = json::array();
  for (std::string_view p : t.property_pages) pages.push_back(std::string(p));
  return {{"name", std::string(t.name)},
          {"id", std::string(t.library_id)},
          {"version", std::to_string(t.major_version) + "." + std::to_string(t.minor_version)},
          {"locale", t.locale},
          {"description", std::string(t.description)},
          {"property_pages", pages}};
}

}  // namespace

std::string RegistryFolder() {
  std::string data = Env("XDG_DATA_HOME");
  if (data.empty() || data.front() != '/') {
    const std::string home = Env("HOME");
    if (home.empty()) return {};
    data = home + "/.local/share";
  }
  return data + "/flipreel/components";
}

std::string DesignerPluginFolder() {
  const std::string home = Env("HOME");
  return home.empty() ? std::string() : home + "/.designer/plugins";
}

int32_t LibraryEntry(void* module, int32_t reason, void*, void** slot1, void** slot2,
                     const ComponentDescription& description) {
  if (reason == kProcessAttach) {
    if (slot2 && !*slot2) *slot2 = new std::string(ModulePath(module));
    StateOf(slot1, slot2, description);
  }
  return 1;  // the library may stay loaded
}

int32_t RegisterServer(void** slot1, void** slot2, const ComponentDescription& description) {
  LibraryState& state = StateOf(slot1, slot2, description);
  if (RegistryFolder().empty() || state.library_path.empty()) return kRegistrationFailed;
  try {
    fs::create_directories(RegistryFolder());
    for (const ClassEntry& c : description.classes) {
      if (c.class_id.empty()) continue;  // private classes are not registered
      const fs::path file = EntryFile(c);
      // Registering again replaces the entry and the link of the last time.
      std::string link;
      if (c.kind == ClassKind::kControl)
        link = LinkDesignerPlugin(FindDesignerPlugin(state, description));
      const json entry = {
          {"class_id", std::string(c.class_id)},
          {"prog_id", std::string(c.prog_id)},
          {"class", std::string(c.name)},
          {"kind", c.kind == ClassKind::kControl ? "control" : "property page"},
          {"library", state.library_path},
          {"version", std::string(description.version->Find("FileVersion")->value)},
          {"default_interface", std::string(c.default_interface)},
          {"event_interface", std::string(c.event_interface)},
          {"type_library", TypeLibraryJson(*description.type_library)},
          {"designer_plugin_link", link},
      };
      WriteAtomically(file, entry.dump(2) + "\n");
    }
  } catch (const std::exception&) {
    return kRegistrationFailed;
  }
  return kOk;
}

int32_t UnregisterServer(void** slot1, void** slot2, const ComponentDescription& description) {
  StateOf(slot1, slot2, description);
  if (RegistryFolder().empty()) return kRegistrationFailed;
  try {
    for (const ClassEntry& c : description.classes) {
      if (c.class_id.empty()) continue;
      const fs::path file = EntryFile(c);
      std::error_code ec;
      if (!fs::exists(file, ec)) continue;
      std::ifstream in(file);
      const json entry = json::parse(in, nullptr, /*allow_exceptions=*/false);
      if (entry.is_object() && entry.value("designer_plugin_link", "") != "") {
        const fs::path link = entry["designer_plugin_link"].get<std::string>();
        if (fs::is_symlink(link, ec) && fs::remove(link, ec))
          RemoveEmptyFolders(link.parent_path(), 2);  // .../.designer/plugins
      }
      fs::remove(file);
    }
    RemoveEmptyFolders(RegistryFolder(), 2);  // .../flipreel/components
  } catch (const std::exception&) {
    return kRegistrationFailed;
  }
  return kOk;
}

int32_t GetClassObject(void** slot1, void** slot2, const ComponentDescription& description,
                       std::string_view class_id, std::string_view iid, void** factory) {
  if (!factory) return kNullPointer;
  *factory = nullptr;
  LibraryState& state = StateOf(slot1, slot2, description);
  for (const ClassEntry& c : description.classes) {
    if (c.class_id.empty() || Lower(c.class_id) != Lower(class_id)) continue;
    if (iid != kFactoryInterface) return kNoInterface;
    std::lock_guard lock(StatesMutex());
    std::unique_ptr<Factory>& f = state.factories[&c];
    if (!f) f = std::make_unique<Factory>(state, c);
    *factory = static_cast<ClassFactory*>(f.get());
    return kOk;
  }
  return kClassNotAvailable;
}

int32_t CanUnloadNow(const ComponentDescription& description) {
  LibraryState& state = StateOf(nullptr, nullptr, description);
  return state.objects == 0 && state.locks == 0 ? kOk : kFalse;
}

std::vector<Registration> RegisteredComponents() {
  std::vector<Registration> found;
  std::error_code ec;
  const std::string folder = RegistryFolder();
  if (folder.empty() || !fs::is_directory(folder, ec)) return found;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    if (e.path().extension() != ".json") continue;
    std::ifstream in(e.path());
    const json entry = json::parse(in, nullptr, /*allow_exceptions=*/false);
    if (!entry.is_object()) continue;
    found.push_back({entry.value("class_id", ""), entry.value("prog_id", ""),
                     entry.value("class", ""), entry.value("library", ""),
                     entry.value("version", ""), e.path().string(),
                     entry.value("designer_plugin_link", "")});
  }
  std::sort(found.begin(), found.end(),
            [](const Registration& a, const Registration& b) { return a.class_id < b.class_id; });
  return found;
}

}  // namespace flipreel::component
