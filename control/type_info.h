// The control's type information: what designers, property editors and the
// component server learn about Flipreel without creating one. The library's
// identity, the enumerations with each value's name and description, the
// dispatch interface (Flipreel::Members) and the event interface, the
// property flags and the property pages the control names.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "flipreel/host/dispatch.h"

namespace flipreel {

// The control's class identifier and that of its General property page.
inline constexpr std::string_view kFlipreelClassId = "{9F68D828-7D6F-4C2E-A7F7-45E64A66639F}";
inline constexpr std::string_view kGeneralPageClassId = "{AEEE6CDD-B27D-4E55-89F0-7C4E434D3C5A}";

// An event of the event interface, with the index the control raises it by.
struct EventInfo {
  int32_t index;
  std::string_view name;
  std::string_view parameters;
  std::string_view description;
};

struct EnumValueInfo {
  std::string_view name;  // "Ping Pong" keeps its space
  int32_t value;
  std::string_view description;
};

struct EnumInfo {
  std::string_view name;  // the name of the property that uses it
  std::span<const EnumValueInfo> values;
};

// How a host may bind a property to a data field.
struct PropertyFlags {
  std::string_view property;
  bool bindable;
  bool display_bind;
  bool default_bind;
};

struct TypeLibraryInfo {
  std::string_view name;  // FlipreelControl
  int16_t major_version;
  int16_t minor_version;
  int32_t locale;  // 1033
  std::string_view description;
  std::string_view library_id;
  std::string_view class_name;         // Flipreel
  std::string_view class_description;  // what designers show for the control
  std::string_view class_id;
  std::string_view prog_id;             // FlipreelControl.Flipreel
  std::string_view dispatch_interface;  // _Flipreel
  std::string_view dispatch_interface_id;
  std::string_view event_interface;  // __Flipreel, the default source
  std::string_view event_interface_id;
  std::span<const EnumInfo> enums;
  std::span<const PropertyFlags> property_flags;
  std::span<const std::string_view> property_pages;  // in the control's order
  std::span<const MemberInfo> members;
  std::span<const EventInfo> events;  // in index order (FlipreelEvents' members)
};

const TypeLibraryInfo& FlipreelTypeLibrary();

// The enumeration of that name (Sequence, BackStyle, BorderStyle), if any.
const EnumInfo* FindEnum(std::string_view name);
// The name of a value of an enumeration; empty when it has none.
std::string_view EnumValueName(std::string_view enum_name, int32_t value);

}  // namespace flipreel
