// A property bag: the saved state of one control, typed values under keys.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "flipreel/host/errors.h"
#include "flipreel/host/variant.h"

namespace flipreel {

// Two kinds of bag, as hosts differ:
// - A bag that keeps every write (the default) appends an entry for each
//   WriteProperty, so a key written three times appears three times, in the
//   order of the writes.
// - A bag that skips defaults stores nothing for a value equal to its default
//   and keeps one entry per key: a write replaces the earlier value in place,
//   and a write of the default removes it.
// Either way a read gets the last value written under the key, or the default.
class PropertyBag {
 public:
  struct Entry {
    std::string key;
    Variant value;
  };

  explicit PropertyBag(bool skip_defaults = false) : skip_defaults_(skip_defaults) {}

  // The last value stored under the key, or the default when the key is
  // absent. Keys match without regard to letter case.
  Variant ReadProperty(std::string_view key, const Variant& default_value) const;
  void WriteProperty(std::string_view key, const Variant& value, const Variant& default_value);

  // Direct access for hosts that load and save bags: Append adds an entry as
  // it comes (a loaded bag keeps the entries of its file, duplicates
  // included); Find gives the value a read would get.
  void Append(std::string_view key, Variant value);
  const Variant* Find(std::string_view key) const;
  const std::vector<Entry>& entries() const { return entries_; }
  bool skip_defaults() const { return skip_defaults_; }

 private:
  bool skip_defaults_;
  std::vector<Entry> entries_;
};

// A value read from a bag that its field refused (a text where a number
// belongs, a number outside the field's range, a style the element does not
// accept). It is the host error the conversion or the element raised, with
// the same number and description, and it names the key, so that a host can
// tell the user which saved value is damaged.
class PropertyValueError : public HostError {
 public:
  PropertyValueError(const HostError& error, std::string_view key)
      : HostError(error.number(), error.description()), key_(key) {}
  const std::string& key() const { return key_; }

 private:
  std::string key_;
};

}  // namespace flipreel
