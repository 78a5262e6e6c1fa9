// The control's type information and the library's version record, against
// the control they describe.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <set>
#include <span>
#include <string>

#include "flipreel/control/about_box.h"
#include "flipreel/control/flipreel.h"
#include "flipreel/control/type_info.h"
#include "flipreel/headless/headless_host.h"
#include "flipreel/server/version_record.h"
#include "tests/support/checks.h"

namespace {

using namespace flipreel;

// The type information as a designer reads it, against a control: every
// property it lists answers by name, every enumeration value is one its
// property takes and gives back, and the identifiers a host registers are
// distinct.
TEST(TypeInfo, DescribesTheControlAsItAnswers) {
  const TypeLibraryInfo& t = FlipreelTypeLibrary();
  HeadlessHost host;
  Flipreel c(host);
  c.InitProperties();
  for (const MemberInfo& m : t.members) {
    if (m.kind != MemberInfo::Kind::kProperty) continue;
    SCOPED_TRACE(std::string(m.name));
    EXPECT_EQ(testsupport::ErrorOf([&] { c.Invoke(m.name, CallKind::kGet); }), 0);
  }
  ASSERT_EQ(t.enums.size(), 3u);
  for (const EnumInfo& e : t.enums) {
    SCOPED_TRACE(std::string(e.name));
    ASSERT_NE(FindEnum(e.name), nullptr);
    for (const EnumValueInfo& v : e.values) {
      EXPECT_EQ(v.description, v.name);
      EXPECT_EQ(EnumValueName(e.name, v.value), v.name);
      Variant value(v.value);
      c.Invoke(e.name, CallKind::kLet, std::span(&value, 1));
      EXPECT_EQ(c.Invoke(e.name, CallKind::kGet).ToLong(), v.value);
    }
  }
  EXPECT_EQ(EnumValueName("Sequence", kSequencePingPong), "Ping Pong");
  EXPECT_EQ(EnumValueName("Sequence", 4), "");
  EXPECT_EQ(FindEnum("Stretch"), nullptr);

  const std::set<std::string_view> ids = {t.library_id, t.class_id, t.dispatch_interface_id,
                                          t.event_interface_id, kGeneralPageClassId};
  EXPECT_EQ(ids.size(), 5u);
  std::set<int32_t> dispids;
  for (const MemberInfo& m : t.members) dispids.insert(m.dispid);
  EXPECT_EQ(dispids.size(), t.members.size());
  EXPECT_TRUE(dispids.count(kDispidShowAbout));
}

// One version: the package's is the record's numbers, which its texts and
// the About box spell in their own ways (1.02.0002 and 1.2.02); the keys a
// host reads are there.
TEST(VersionRecord, OneVersionEverywhere) {
  const VersionRecord& v = FlipreelVersionRecord();
  const std::array<uint16_t, 4>& n = v.file_version;
  EXPECT_EQ(v.product_version, n);
  char dotted[32], record[32], about[64];
  std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", n[0], n[1], n[2], n[3]);
  std::snprintf(record, sizeof record, "%u.%02u.%04u", n[0], n[1], n[3]);
  std::snprintf(about, sizeof about, "Flipreel Control, version %u.%u.%02u", n[0], n[1], n[3]);
  EXPECT_STREQ(dotted, FLIPREEL_PROJECT_VERSION);
  for (const char* key : {"FileVersion", "ProductVersion"}) {
    ASSERT_NE(v.Find(key), nullptr) << key;
    EXPECT_EQ(v.Find(key)->value, record) << key;
  }
  for (const char* key : {"CompanyName", "LegalCopyright", "ProductName", "FileDescription",
                          "InternalName", "OriginalFilename"}) {
    ASSERT_NE(v.Find(key), nullptr) << key;
    EXPECT_FALSE(v.Find(key)->value.empty()) << key;
  }
  ASSERT_NE(v.Find("OLESelfRegister"), nullptr);
  EXPECT_EQ(v.Find("Comments"), nullptr);
  HeadlessHost host;
  frmAboutFlipreel box(host);
  EXPECT_EQ(TextToUtf8(box.element("Label1").caption), about);
}

}  // namespace
