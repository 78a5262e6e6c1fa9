// A property bag: the saved state of one control, typed values under keys.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/variant.h"

namespace flipreel {

class PropertyBag {
 public:
  struct Entry {
    std::string key;
    Variant value;
  };

  // A bag that skips defaults does not store a value equal to its default
  // (and forgets an earlier value under that key, so the last write wins).
  explicit PropertyBag(bool skip_defaults = false) : skip_defaults_(skip_defaults) {}

  // The stored value, or the default when the key is absent. Keys match
  // without regard to letter case.
  Variant ReadProperty(std::string_view key, const Variant& default_value) const;
  void WriteProperty(std::string_view key, const Variant& value, const Variant& default_value);

  // Direct access for hosts that load and save bags.
  void Set(std::string_view key, Variant value);
  const Variant* Find(std::string_view key) const;
  const std::vector<Entry>& entries() const { return entries_; }
  bool skip_defaults() const { return skip_defaults_; }

 private:
  std::vector<Entry>::iterator Locate(std::string_view key);
  bool skip_defaults_;
  std::vector<Entry> entries_;  // in the order keys were first written
};

}  // namespace flipreel
