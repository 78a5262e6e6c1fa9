#include "flipreel/control/type_info.h"

#include "flipreel/control/flipreel.h"

namespace flipreel {

namespace {

// Each value's description is its name.
constexpr EnumValueInfo kSequence[] = {
    {"Normal", kSequenceNormal, "Normal"},
    {"Reverse", kSequenceReverse, "Reverse"},
    {"Random", kSequenceRandom, "Random"},
    {"Ping Pong", kSequencePingPong, "Ping Pong"},
};
constexpr EnumValueInfo kBackStyle[] = {
    {"Transparent", kBackStyleTransparent, "Transparent"},
    {"Opaque", kBackStyleOpaque, "Opaque"},
};
constexpr EnumValueInfo kBorderStyle[] = {
    {"Transparent", kBorderStyleTransparent, "Transparent"},
    {"Solid", kBorderStyleSolid, "Solid"},
};
constexpr EnumInfo kEnums[] = {
    {"Sequence", kSequence},
    {"BackStyle", kBackStyle},
    {"BorderStyle", kBorderStyle},
};

// FlipreelFile is the property a host binds to a data field.
constexpr PropertyFlags kPropertyFlags[] = {{"FlipreelFile", true, true, true}};

constexpr EventInfo kEvents[] = {
    {1, "Frame", "", ""},
    {2, "ReadFinished", "", ""},
    {3, "PlayFinished", "", "Occurs when playing is finished (as per Autorewind value)."},
    {4, "AsyncReadComplete", "AsyncProp",
     "Occurs when the gif contol has completed an asynchronous read request.\n\n"},
    {5, "AsyncReadProgress", "AsyncProp",
     "Occurs when more data is available as a result of an AsyncRead method.\n\n"},
    {6, "HitTest", "X As Single, Y As Single, HitResult As Integer", ""},
};

constexpr std::string_view kPropertyPages[] = {"General", "Gif", "StandardColor",
                                               "StandardPicture"};

}  // namespace

const TypeLibraryInfo& FlipreelTypeLibrary() {
  static const TypeLibraryInfo kLibrary{
      .name = "FlipreelControl",
      .major_version = 1,
      .minor_version = 0,
      .locale = 1033,
      .description = kFlipreelLibraryDescription,
      .library_id = "{951D86E7-A446-4767-BA7A-728393083835}",
      .class_name = "Flipreel",
      .class_description = "Plays an animated GIF, saved with its form",
      .class_id = kFlipreelClassId,
      .prog_id = kFlipreelProgId,
      .dispatch_interface = "_Flipreel",
      .dispatch_interface_id = "{5FDDA919-1E2E-4F4C-90F1-F0E17E0A55A9}",
      .event_interface = "__Flipreel",
      .event_interface_id = "{D85E3FA5-04DF-4D5F-BE37-F87E10BAB536}",
      .enums = kEnums,
      .property_flags = kPropertyFlags,
      .property_pages = kPropertyPages,
      .members = Flipreel::Members(),
      .events = kEvents,
  };
  return kLibrary;
}

const EnumInfo* FindEnum(std::string_view name) {
  for (const EnumInfo& e : kEnums)
    if (e.name == name) return &e;
  return nullptr;
}

std::string_view EnumValueName(std::string_view enum_name, int32_t value) {
  if (const EnumInfo* e = FindEnum(enum_name))
    for (const EnumValueInfo& v : e->values)
      if (v.value == value) return v.name;
  return {};
}

}  // namespace flipreel
