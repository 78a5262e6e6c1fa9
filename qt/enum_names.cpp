#include "flipreel/qt/enum_names.h"

#include "flipreel/control/type_info.h"

namespace flipreel {

namespace {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QList<FlipreelEnumValue> FlipreelEnumValues(const QString& enumeration) {
  QList<FlipreelEnumValue> values;
  if (const EnumInfo* e = FindEnum(enumeration.toStdString()))
    for (const EnumValueInfo& v : e->values)
      values.push_back({ToQString(v.name), v.value, ToQString(v.description)});
  return values;
}

QString FlipreelEnumValueName(const QString& enumeration, int value) {
  return ToQString(EnumValueName(enumeration.toStdString(), value));
}

}  // namespace flipreel
