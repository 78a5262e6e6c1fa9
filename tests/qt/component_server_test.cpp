// The Qt library as a component server: its entry points, the factory that
// makes widgets, the unload query, and the enumeration names Qt users see.
#include <gtest/gtest.h>

#include <QMetaEnum>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>

#include "flipreel/control/type_info.h"
#include "flipreel/qt/component_server.h"
#include "flipreel/qt/enum_names.h"
#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/property_pages.h"
#include "tests/cli/run_tool.h"
#include "tests/support/test_files.h"

namespace {

using namespace flipreel;
namespace component = flipreel::component;

// Each class with a factory makes its widget, counted until it is deleted:
// the control initialised, the General page editing the widgets it is given.
// Locks and refusals are the component runtime's, tested with it.
TEST(ComponentServer, FactoriesMakeWidgetsAndTheUnloadQueryCountsThem) {
  FlipreelWidget edited;
  edited.setFrameRate(70);
  const struct {
    std::string_view class_id;
    std::function<void(QWidget*)> check;
  } rows[] = {
      {kFlipreelClassId,
       [](QWidget* w) {
         ASSERT_NE(qobject_cast<FlipreelWidget*>(w), nullptr);
         EXPECT_EQ(w->property("FlipreelFile").toString(), "(None)");
       }},
      {kGeneralPageClassId,
       [&](QWidget* w) {
         auto* page = qobject_cast<PropertyPagesDialog*>(w);
         ASSERT_NE(page, nullptr);
         EXPECT_EQ(page->site().SelectedCount(), 0);
         page->SetObjects({&edited});
         EXPECT_EQ(page->page().elements()["txtFrameRate"].text, u"70");
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.class_id);
    ASSERT_EQ(DllCanUnloadNow(), component::kOk);
    void* object = nullptr;
    const std::string class_id(row.class_id);
    ASSERT_EQ(DllGetClassObject(class_id.c_str(), "IClassFactory", &object), component::kOk);
    auto* factory = static_cast<component::ClassFactory*>(object);

    void* made = nullptr;
    EXPECT_EQ(factory->CreateInstance("IOther", &made), component::kNoInterface);
    ASSERT_EQ(factory->CreateInstance(component::kWidgetInterface, &made), component::kOk);
    std::unique_ptr<QWidget> widget(static_cast<QWidget*>(made));
    row.check(widget.get());
    EXPECT_EQ(DllCanUnloadNow(), component::kFalse);
    widget.reset();
    EXPECT_EQ(DllCanUnloadNow(), component::kOk);
  }
}

// Qt's enum keys are identifiers; the names users see come from the type
// information, value for value.
TEST(ComponentServer, EnumerationNamesFromTheTypeInformation) {
  const QMetaObject& meta = FlipreelWidget::staticMetaObject;
  const QMetaEnum sequence = meta.enumerator(meta.indexOfEnumerator("SequenceValues"));
  const QList<FlipreelEnumValue> values = FlipreelEnumValues("Sequence");
  ASSERT_EQ(values.size(), sequence.keyCount());
  for (int i = 0; i < sequence.keyCount(); ++i) {
    EXPECT_EQ(values[i].value, sequence.value(i));
    EXPECT_EQ(QString(values[i].name).remove(' '), sequence.key(i));
  }
  EXPECT_TRUE(FlipreelEnumValues("Stretch").isEmpty());
}

}  // namespace

namespace {

// Runs the flipreel tool with HOME in a temporary folder.
clitest::Result RunTool(const std::string& home, const std::string& args) {
  return clitest::RunBinary(args, "",
                            "env HOME='" + home + "' XDG_DATA_HOME= QT_QPA_PLATFORM=offscreen");
}

TEST(ComponentServer, ToolRegistersListsAndUnregisters) {
  testfiles::TempDir home;
  const clitest::Result version = RunTool(home.path(), "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.substr(0, version.out.find('\n')), "flipreel 1.2.0.2");
  EXPECT_NE(version.out.find("OriginalFilename: Flipreel.ocx\n"), std::string::npos);

  EXPECT_EQ(RunTool(home.path(), "components").out, "[]\n");
  const clitest::Result registered = RunTool(home.path(), "register");
  EXPECT_EQ(registered.status, 0) << registered.err;
  const auto list = nlohmann::json::parse(RunTool(home.path(), "components").out);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["prog_id"], "FlipreelControl.Flipreel");
  EXPECT_EQ(list[0]["library"], std::filesystem::canonical(FLIPREEL_QT_LIBRARY).string());
  // The Designer plugin built beside the library is linked for the user's Designer.
  const std::filesystem::path link = list[0]["designer_plugin_link"].get<std::string>();
  EXPECT_EQ(link, home.path() + "/.designer/plugins/libflipreel_designer.so");
  EXPECT_EQ(std::filesystem::canonical(link), std::filesystem::canonical(FLIPREEL_DESIGNER_PLUGIN));
  EXPECT_EQ(RunTool(home.path(), "unregister").status, 0);
  EXPECT_EQ(RunTool(home.path(), "components").out, "[]\n");
  EXPECT_FALSE(std::filesystem::exists(home.path() + "/.local/share/flipreel"));
  EXPECT_FALSE(std::filesystem::is_symlink(std::filesystem::symlink_status(link)));
  // The plugin folder registration made goes with its link.
  EXPECT_FALSE(std::filesystem::exists(home.path() + "/.designer"));
}

}  // namespace
