// The control's enumerations as users should see them, from the type
// information: "Ping Pong" keeps its space, each value has its description.
// Qt's own enum keys (FlipreelWidget::SequenceValues and StyleValues) must be
// identifiers; property editors, Qt Designer's included, show these names.
#pragma once

#include <QList>
#include <QString>

namespace flipreel {

struct FlipreelEnumValue {
  QString name;
  int value = 0;
  QString description;
};

// The values of Sequence, BackStyle or BorderStyle in the type information's
// order; empty for any other name.
QList<FlipreelEnumValue> FlipreelEnumValues(const QString& enumeration);
// The name a user sees for a value; empty when the enumeration has none.
QString FlipreelEnumValueName(const QString& enumeration, int value);

}  // namespace flipreel
