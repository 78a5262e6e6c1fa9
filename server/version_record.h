// The version record of the component library: the keys a file of this kind
// has always carried, as data. Shown by `flipreel --version` and read through
// the component runtime.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace flipreel {

struct VersionEntry {
  std::string_view key;
  std::string_view value;
};

struct VersionRecord {
  std::array<uint16_t, 4> file_version;     // 1.2.0.2
  std::array<uint16_t, 4> product_version;  // 1.2.0.2
  std::span<const VersionEntry> strings;    // in the record's order

  // The value of a key; none when the record has no such key (a key that is
  // present with an empty value, OLESelfRegister, gives an empty text).
  const VersionEntry* Find(std::string_view key) const;
};

const VersionRecord& FlipreelVersionRecord();

}  // namespace flipreel
