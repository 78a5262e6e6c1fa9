#include "flipreel/qt/designer/flipreel_property_sheet.h"

#include "flipreel/qt/enum_names.h"
#include "flipreel/qt/flipreel_widget.h"

namespace flipreel {

using qdesigner_internal::DesignerMetaEnum;
using qdesigner_internal::PropertySheetEnumValue;
using qdesigner_internal::PropertySheetStringValue;

FlipreelPropertySheet::FlipreelPropertySheet(FlipreelWidget* widget, QObject* parent)
    : QDesignerPropertySheet(widget, parent) {
  for (const QString& name :
       {QStringLiteral("Sequence"), QStringLiteral("BackStyle"), QStringLiteral("BorderStyle")}) {
    const int index = indexOf(name);
    if (index < 0) continue;
    DesignerMetaEnum meta(name, QStringLiteral("FlipreelWidget"), QStringLiteral("::"));
    for (const FlipreelEnumValue& v : FlipreelEnumValues(name)) meta.addKey(v.value, v.name);
    enums_.insert(index, meta);
  }
  saved_state_ = indexOf(QStringLiteral("SavedState"));
}

QVariant FlipreelPropertySheet::property(int index) const {
  const QVariant value = QDesignerPropertySheet::property(index);
  if (index == saved_state_) {
    PropertySheetStringValue text = value.canConvert<PropertySheetStringValue>()
                                        ? qvariant_cast<PropertySheetStringValue>(value)
                                        : PropertySheetStringValue(value.toString());
    text.setTranslatable(false);
    return QVariant::fromValue(text);
  }
  const auto it = enums_.constFind(index);
  if (it == enums_.constEnd()) return value;
  return QVariant::fromValue(PropertySheetEnumValue(value.toInt(), *it));
}

void FlipreelPropertySheet::setProperty(int index, const QVariant& value) {
  if (enums_.contains(index) && value.canConvert<PropertySheetEnumValue>()) {
    QDesignerPropertySheet::setProperty(index, qvariant_cast<PropertySheetEnumValue>(value).value);
    return;
  }
  if (index == saved_state_ && value.canConvert<PropertySheetStringValue>()) {
    QDesignerPropertySheet::setProperty(index,
                                        qvariant_cast<PropertySheetStringValue>(value).value());
    return;
  }
  QDesignerPropertySheet::setProperty(index, value);
}

void RegisterFlipreelPropertySheet(QExtensionManager* manager) {
  // The manager asks the factory registered last first.
  QDesignerPropertySheetFactory<FlipreelWidget, FlipreelPropertySheet>::registerExtension(manager);
}

}  // namespace flipreel
