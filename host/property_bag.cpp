#include "host/property_bag.h"

#include <algorithm>

#include "host/text.h"

namespace flipreel {

std::vector<PropertyBag::Entry>::iterator PropertyBag::Locate(std::string_view key) {
  return std::find_if(entries_.begin(), entries_.end(),
                      [&](const Entry& e) { return EqualsNoCase(e.key, key); });
}

const Variant* PropertyBag::Find(std::string_view key) const {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return EqualsNoCase(e.key, key); });
  return it == entries_.end() ? nullptr : &it->value;
}

Variant PropertyBag::ReadProperty(std::string_view key, const Variant& default_value) const {
  const Variant* v = Find(key);
  return v ? *v : default_value;
}

void PropertyBag::WriteProperty(std::string_view key, const Variant& value,
                                const Variant& default_value) {
  if (skip_defaults_ && value.SameValue(default_value)) {
    auto it = Locate(key);
    if (it != entries_.end()) entries_.erase(it);
    return;
  }
  Set(key, value);
}

void PropertyBag::Set(std::string_view key, Variant value) {
  auto it = Locate(key);
  if (it != entries_.end()) {
    it->value = std::move(value);
  } else {
    entries_.push_back(Entry{std::string(key), std::move(value)});
  }
}

}  // namespace flipreel
