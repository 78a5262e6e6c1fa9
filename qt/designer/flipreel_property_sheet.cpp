#include "flipreel/qt/designer/flipreel_property_sheet.h"

#include "flipreel/host/host.h"
#include "flipreel/qt/colors.h"
#include "flipreel/qt/enum_names.h"
#include "flipreel/qt/flipreel_widget.h"

namespace flipreel {

using qdesigner_internal::DesignerMetaEnum;
using qdesigner_internal::PropertySheetEnumValue;
using qdesigner_internal::PropertySheetStringValue;

FlipreelPropertySheet::FlipreelPropertySheet(FlipreelWidget* widget, QObject* parent)
    : QDesignerPropertySheet(widget, parent), widget_(widget) {
  if (const int index = indexOf(QStringLiteral("BackColor")); index >= 0)
    colors_.insert(index,
                   {&FlipreelWidget::backColorValue, &FlipreelWidget::setBackColorValue, {}});
  if (const int index = indexOf(QStringLiteral("BorderColor")); index >= 0)
    colors_.insert(index,
                   {&FlipreelWidget::borderColorValue, &FlipreelWidget::setBorderColorValue, {}});
  for (const QString& name :
       {QStringLiteral("Sequence"), QStringLiteral("BackStyle"), QStringLiteral("BorderStyle")}) {
    const int index = indexOf(name);
    if (index < 0) continue;
    DesignerMetaEnum meta(name, QStringLiteral("FlipreelWidget"), QStringLiteral("::"));
    for (const FlipreelEnumValue& v : FlipreelEnumValues(name)) meta.addKey(v.value, v.name);
    enums_.insert(index, meta);
  }
  for (const char* name : {"SavedState", "FlipreelFile", "GifFromURL", "ServerUserName"})
    if (const int index = indexOf(QString::fromLatin1(name)); index >= 0) data_texts_.insert(index);
}

QVariant FlipreelPropertySheet::property(int index) const {
  const QVariant value = QDesignerPropertySheet::property(index);
  if (data_texts_.contains(index)) {
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
  if (const auto it = colors_.find(index);
      it != colors_.end() && value.metaType() == QMetaType::fromType<QColor>()) {
    const QRgb color = value.value<QColor>().rgb();
    const int32_t now = (widget_->*it->get)();
    const QPalette& palette = widget_->palette();
    if (IsSystemColor(now) && color != ResolveColor(now, palette).rgb()) {
      it->replaced_system = now;
    } else if (it->replaced_system && !IsSystemColor(now) &&
               color == ResolveColor(*it->replaced_system, palette).rgb()) {
      (widget_->*it->set)(*it->replaced_system);
      return;
    }
  }
  if (data_texts_.contains(index) && value.canConvert<PropertySheetStringValue>()) {
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
