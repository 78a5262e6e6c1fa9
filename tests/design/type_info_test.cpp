// The control's type information and the library's version record as data.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "flipreel/control/about_box.h"
#include "flipreel/control/flipreel.h"
#include "flipreel/control/type_info.h"
#include "flipreel/headless/headless_host.h"
#include "flipreel/server/version_record.h"

namespace {

using namespace flipreel;

std::string ValuesOf(const EnumInfo& e) {
  std::string line;
  for (const EnumValueInfo& v : e.values) {
    EXPECT_EQ(v.description, v.name);  // each value's description is its name
    line += std::string(v.name) + "=" + std::to_string(v.value) + ";";
  }
  return line;
}

TEST(TypeInfo, Enumerations) {
  const TypeLibraryInfo& t = FlipreelTypeLibrary();
  ASSERT_EQ(t.enums.size(), 3u);
  EXPECT_EQ(t.enums[0].name, "Sequence");
  EXPECT_EQ(ValuesOf(t.enums[0]), "Normal=0;Reverse=1;Random=2;Ping Pong=3;");
  EXPECT_EQ(t.enums[1].name, "BackStyle");
  EXPECT_EQ(ValuesOf(t.enums[1]), "Transparent=0;Opaque=1;");
  EXPECT_EQ(t.enums[2].name, "BorderStyle");
  EXPECT_EQ(ValuesOf(t.enums[2]), "Transparent=0;Solid=1;");
  EXPECT_EQ(EnumValueName("Sequence", 3), "Ping Pong");
  EXPECT_EQ(EnumValueName("Sequence", 4), "");
  EXPECT_EQ(FindEnum("Stretch"), nullptr);
  // Each enumeration names a property that uses it.
  for (const EnumInfo& e : t.enums) {
    bool found = false;
    for (const MemberInfo& m : t.members) found |= m.name == e.name && m.type == e.name;
    EXPECT_TRUE(found) << e.name;
  }
}

TEST(TypeInfo, LibraryIdentityFlagsAndPages) {
  const TypeLibraryInfo& t = FlipreelTypeLibrary();
  EXPECT_EQ(t.name, "FlipreelControl");
  EXPECT_EQ(t.major_version, 1);
  EXPECT_EQ(t.minor_version, 0);
  EXPECT_EQ(t.locale, 1033);
  EXPECT_EQ(t.description, "Flipreel Control 1.2");
  EXPECT_EQ(t.class_name, "Flipreel");
  EXPECT_EQ(t.prog_id, "FlipreelControl.Flipreel");
  EXPECT_EQ(t.dispatch_interface, "_Flipreel");
  EXPECT_EQ(t.event_interface, "__Flipreel");
  const std::set<std::string_view> ids = {t.library_id, t.class_id, t.dispatch_interface_id,
                                          t.event_interface_id, kGeneralPageClassId};
  EXPECT_EQ(ids.size(), 5u);
  ASSERT_EQ(t.property_flags.size(), 1u);
  const PropertyFlags& f = t.property_flags[0];
  EXPECT_TRUE(f.property == "FlipreelFile" && f.bindable && f.display_bind && f.default_bind);
  EXPECT_EQ(std::vector<std::string_view>(t.property_pages.begin(), t.property_pages.end()),
            (std::vector<std::string_view>{"General", "Gif", "StandardColor", "StandardPicture"}));
  // Distinct dispatch identifiers; ShowAbout carries the About command's.
  std::set<int32_t> dispids;
  for (const MemberInfo& m : t.members) dispids.insert(m.dispid);
  EXPECT_EQ(dispids.size(), t.members.size());
  EXPECT_TRUE(dispids.count(-552));
  EXPECT_EQ(t.events.size(), 6u);
  EXPECT_EQ(t.events[5].name, "HitTest");
}

TEST(VersionRecord, KeysAndValues) {
  const VersionRecord& v = FlipreelVersionRecord();
  EXPECT_EQ(v.file_version, (std::array<uint16_t, 4>{1, 2, 0, 2}));
  EXPECT_EQ(v.product_version, v.file_version);
  const std::pair<const char*, const char*> fixed[] = {
      {"FileVersion", "1.02.0002"},
      {"ProductVersion", "1.02.0002"},
      {"FileDescription", "Flipreel Active X"},
      {"InternalName", "Flipreel"},
      {"OriginalFilename", "Flipreel.ocx"},
      {"OLESelfRegister", ""},
  };
  for (const auto& [key, value] : fixed) {
    ASSERT_NE(v.Find(key), nullptr) << key;
    EXPECT_EQ(v.Find(key)->value, value) << key;
  }
  for (const char* key : {"CompanyName", "LegalCopyright", "ProductName"}) {
    ASSERT_NE(v.Find(key), nullptr) << key;
    EXPECT_FALSE(v.Find(key)->value.empty()) << key;
  }
  EXPECT_EQ(v.Find("Comments"), nullptr);
}

}  // namespace

// One version: the package's is the record's numbers, which its texts and
// the About box spell in their own ways (1.02.0002 and 1.2.02).
TEST(VersionRecord, OneVersionEverywhere) {
  const std::array<uint16_t, 4>& n = FlipreelVersionRecord().file_version;
  char dotted[32], record[32], about[64];
  std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", n[0], n[1], n[2], n[3]);
  std::snprintf(record, sizeof record, "%u.%02u.%04u", n[0], n[1], n[3]);
  std::snprintf(about, sizeof about, "Flipreel Control, version %u.%u.%02u", n[0], n[1], n[3]);
  EXPECT_STREQ(dotted, FLIPREEL_PROJECT_VERSION);
  EXPECT_EQ(FlipreelVersionRecord().Find("FileVersion")->value, record);
  HeadlessHost host;
  frmAboutFlipreel box(host);
  EXPECT_EQ(TextToUtf8(box.element("Label1").caption), about);
}
