// The component runtime with a description of test classes: the factory and
// the unload query counting objects and locks, and registration in a
// temporary home folder (the real user's folders are never touched).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>

#include "flipreel/server/component_runtime.h"
#include "tests/support/test_files.h"

namespace {

using namespace flipreel;
using namespace flipreel::component;
namespace fs = std::filesystem;

// HOME and XDG_DATA_HOME pointed into a temporary folder for one test.
class TemporaryHome {
 public:
  TemporaryHome() {
    for (const char* name : {"HOME", "XDG_DATA_HOME"}) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    setenv("HOME", dir_.path().c_str(), 1);
    unsetenv("XDG_DATA_HOME");
  }
  ~TemporaryHome() {
    for (const auto& [name, value] : saved_)
      value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  }
  const std::string& path() const { return dir_.path(); }

 private:
  testfiles::TempDir dir_;
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// A test class whose objects are plain ints that hold the runtime's token.
struct Thing {
  LiveToken token;
};
void* MakeThing(std::string_view iid, LiveToken token) {
  return iid == "IThing" ? new Thing{std::move(token)} : nullptr;
}

const ClassEntry kClasses[] = {
    {"Thing", ClassKind::kControl, "{11111111-2222-3333-4444-555555555555}", "Test.Thing", "_Thing",
     "__Thing", &MakeThing},
    {"Page", ClassKind::kPropertyPage, "{66666666-2222-3333-4444-555555555555}", "Test.Page", "",
     "", nullptr},
    {"Hidden", ClassKind::kPrivate, "", "", "", "", nullptr},
};

struct Library {
  ComponentDescription description{&FlipreelTypeLibrary(), &FlipreelVersionRecord(), kClasses,
                                   "libtest_designer.so"};
  void* slot1 = nullptr;
  void* slot2 = nullptr;
  const std::string* lent_path = nullptr;  // a path the test put in slot2 itself
  // A real library keeps its slots for the life of the process; this one
  // gives back the path the runtime put in its second slot.
  ~Library() {
    if (slot2 != lent_path) delete static_cast<std::string*>(slot2);
  }
};

ClassFactory* FactoryOf(Library& lib, std::string_view class_id) {
  void* f = nullptr;
  EXPECT_EQ(
      GetClassObject(&lib.slot1, &lib.slot2, lib.description, class_id, kFactoryInterface, &f),
      kOk);
  return static_cast<ClassFactory*>(f);
}

TEST(ComponentRuntime, FactoryAndUnloadQueryCountObjectsAndLocks) {
  Library lib;
  EXPECT_EQ(LibraryEntry(nullptr, kProcessAttach, nullptr, &lib.slot1, &lib.slot2, lib.description),
            1);
  EXPECT_NE(lib.slot1, nullptr);  // the runtime keeps its state in the slot
  EXPECT_EQ(CanUnloadNow(lib.description), kOk);

  // Class ids match without regard to case; the same factory each time.
  ClassFactory* factory = FactoryOf(lib, "{11111111-2222-3333-4444-555555555555}");
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(FactoryOf(lib, "{11111111-2222-3333-4444-555555555555}"), factory);

  void* object = nullptr;
  ASSERT_EQ(factory->CreateInstance("IThing", &object), kOk);
  auto* first = static_cast<Thing*>(object);
  ASSERT_EQ(factory->CreateInstance("IThing", &object), kOk);
  auto* second = static_cast<Thing*>(object);
  EXPECT_EQ(factory->CreateInstance("IOther", &object), kNoInterface);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory->CreateInstance("IThing", nullptr), kNullPointer);
  EXPECT_EQ(CanUnloadNow(lib.description), kFalse);
  delete first;
  EXPECT_EQ(CanUnloadNow(lib.description), kFalse);
  delete second;
  EXPECT_EQ(CanUnloadNow(lib.description), kOk);

  EXPECT_EQ(factory->LockServer(true), kOk);
  EXPECT_EQ(factory->LockServer(true), kOk);
  EXPECT_EQ(factory->LockServer(false), kOk);
  EXPECT_EQ(CanUnloadNow(lib.description), kFalse);
  EXPECT_EQ(factory->LockServer(false), kOk);
  EXPECT_EQ(factory->LockServer(false), kOk);  // one unlock too many changes nothing
  EXPECT_EQ(CanUnloadNow(lib.description), kOk);
}

TEST(ComponentRuntime, ClassObjectRefusals) {
  Library lib;
  void* f = reinterpret_cast<void*>(1);
  const std::string thing = "{11111111-2222-3333-4444-555555555555}";
  EXPECT_EQ(GetClassObject(&lib.slot1, &lib.slot2, lib.description,
                           "{00000000-0000-0000-0000-"
                           "000000000000}",
                           kFactoryInterface, &f),
            kClassNotAvailable);
  EXPECT_EQ(f, nullptr);
  EXPECT_EQ(GetClassObject(&lib.slot1, &lib.slot2, lib.description, "", kFactoryInterface, &f),
            kClassNotAvailable);  // private classes have no factory
  EXPECT_EQ(GetClassObject(&lib.slot1, &lib.slot2, lib.description, thing, "IThing", &f),
            kNoInterface);
  EXPECT_EQ(
      GetClassObject(&lib.slot1, &lib.slot2, lib.description, thing, kFactoryInterface, nullptr),
      kNullPointer);
  // A class without a maker hands out a factory that makes nothing.
  void* object = nullptr;
  auto* page = FactoryOf(lib, "{66666666-2222-3333-4444-555555555555}");
  EXPECT_EQ(page->CreateInstance("IThing", &object), kClassNotAvailable);
  EXPECT_EQ(CanUnloadNow(lib.description), kOk);
}

nlohmann::json ReadJson(const fs::path& path) {
  std::ifstream in(path);
  return nlohmann::json::parse(in);
}

TEST(ComponentRuntime, RegisterUnregisterRegisterAgain) {
  TemporaryHome home;
  // A library file with its Designer plugin beside it, and one of the
  // user's own files in Designer's folder that registration must not touch.
  testfiles::TempDir install;
  const std::string library = install.Write("libflipreel_qt.so", "library");
  install.Write("libtest_designer.so", "plugin");
  const fs::path plugins = fs::path(home.path()) / ".designer/plugins";
  fs::create_directories(plugins);
  std::ofstream(plugins / "users_own.so") << "mine";

  Library lib;
  std::string path = library;
  lib.slot2 = &path;
  lib.lent_path = &path;
  const fs::path registry = fs::path(home.path()) / ".local/share/flipreel/components";
  const fs::path thing_entry = registry / "{11111111-2222-3333-4444-555555555555}.json";
  const fs::path link = plugins / "libtest_designer.so";

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(RegisterServer(&lib.slot1, &lib.slot2, lib.description), kOk);
    ASSERT_EQ(RegisterServer(&lib.slot1, &lib.slot2, lib.description), kOk);  // again: the same
    const nlohmann::json entry = ReadJson(thing_entry);
    EXPECT_EQ(entry["class_id"], "{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(entry["prog_id"], "Test.Thing");
    EXPECT_EQ(entry["library"], library);
    EXPECT_EQ(entry["version"], "1.02.0002");
    EXPECT_EQ(entry["type_library"]["name"], "FlipreelControl");
    EXPECT_EQ(entry["designer_plugin_link"], link.string());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), fs::canonical(install.path() + "/libtest_designer.so"));
    const std::vector<Registration> found = RegisteredComponents();
    ASSERT_EQ(found.size(), 2u);  // the control and the page; private classes are not registered
    EXPECT_EQ(found[0].prog_id, "Test.Thing");
    EXPECT_EQ(found[1].prog_id, "Test.Page");

    ASSERT_EQ(UnregisterServer(&lib.slot1, &lib.slot2, lib.description), kOk);
    ASSERT_EQ(UnregisterServer(&lib.slot1, &lib.slot2, lib.description), kOk);
    EXPECT_FALSE(fs::exists(fs::path(home.path()) / ".local/share/flipreel"));
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_TRUE(fs::exists(plugins / "users_own.so"));
    EXPECT_TRUE(RegisteredComponents().empty());
  }
}

TEST(ComponentRuntime, RegistryFollowsXdgDataHome) {
  TemporaryHome home;
  setenv("XDG_DATA_HOME", (home.path() + "/data").c_str(), 1);
  EXPECT_EQ(RegistryFolder(), home.path() + "/data/flipreel/components");
  setenv("XDG_DATA_HOME", "relative/data", 1);  // not absolute: ignored
  EXPECT_EQ(RegistryFolder(), home.path() + "/.local/share/flipreel/components");
  EXPECT_EQ(DesignerPluginFolder(), home.path() + "/.designer/plugins");
}

}  // namespace
