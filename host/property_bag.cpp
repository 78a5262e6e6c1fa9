#include "flipreel/host/property_bag.h"

#include <algorithm>

#include "flipreel/host/text.h"

namespace flipreel {

const Variant* PropertyBag::Find(std::string_view key) const {
  auto it = std::find_if(entries_.rbegin(), entries_.rend(),
                         [&](const Entry& e) { return EqualsNoCase(e.key, key); });
  return it == entries_.rend() ? nullptr : &it->value;
}

Variant PropertyBag::ReadProperty(std::string_view key, const Variant& default_value) const {
  const Variant* v = Find(key);
  return v ? *v : default_value;
}

void PropertyBag::WriteProperty(std::string_view key, const Variant& value,
                                const Variant& default_value) {
  if (!skip_defaults_) {
    Append(key, value);
    return;
  }
  auto same_key = [&](const Entry& e) { return EqualsNoCase(e.key, key); };
  if (value.SameValue(default_value)) {
    std::erase_if(entries_, same_key);
    return;
  }
  auto it = std::find_if(entries_.begin(), entries_.end(), same_key);
  if (it == entries_.end()) {
    Append(key, value);
    return;
  }
  it->value = value;
  // Later entries under the key (a loaded bag may hold several) would
  // otherwise shadow the value just written.
  entries_.erase(std::remove_if(std::next(it), entries_.end(), same_key), entries_.end());
}

void PropertyBag::Append(std::string_view key, Variant value) {
  entries_.push_back(Entry{std::string(key), std::move(value)});
}

}  // namespace flipreel
