#include "flipreel/server/version_record.h"

namespace flipreel {

namespace {

// The numeric file and product version. The build reads the package's
// version from this line (CMakeLists.txt), so that there is one version.
constexpr std::array<uint16_t, 4> kVersion = {1, 2, 0, 2};

constexpr VersionEntry kStrings[] = {
    {"CompanyName", "The Flipreel project"},
    {"FileDescription", "Flipreel Active X"},
    {"FileVersion", "1.02.0002"},
    {"InternalName", "Flipreel"},
    {"LegalCopyright", "Copyright 2026 the Flipreel authors"},
    {"OriginalFilename", "Flipreel.ocx"},
    {"ProductName", "Flipreel Control"},
    {"ProductVersion", "1.02.0002"},
    // Present and empty: the library registers itself.
    {"OLESelfRegister", ""},
};

}  // namespace

const VersionEntry* VersionRecord::Find(std::string_view key) const {
  for (const VersionEntry& e : strings)
    if (e.key == key) return &e;
  return nullptr;
}

const VersionRecord& FlipreelVersionRecord() {
  static const VersionRecord kRecord{kVersion, kVersion, kStrings};
  return kRecord;
}

}  // namespace flipreel
