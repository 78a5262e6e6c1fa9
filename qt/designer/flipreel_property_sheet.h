// Qt Designer's property sheet for a Flipreel on a form.
//
// Sequence, BackStyle and BorderStyle are ints in Qt's property system (the
// control's own type), and a Qt enum could only offer identifiers: "Ping
// Pong" cannot be one. This sheet hands Designer's property editor those
// three properties as enumerations named by the control's type information,
// so the editor shows a drop-down list with "Normal", "Reverse", "Random" and
// "Ping Pong" (and "Transparent"/"Opaque", "Transparent"/"Solid"). A choice
// comes back as the value's number and is written through the widget's own
// setter by Designer's undoable property command. Everything else is
// Designer's standard sheet.
//
// BackColor and BorderColor are the control's colour values (ints, system
// colours included). The sheet hands them to the editor as the colours they
// paint with now, so that Designer's colour picker edits them, and a colour
// chosen there comes back as the control's value of that colour. A colour
// equal to what the control paints already changes nothing: writing back the
// colour read keeps a system colour a system colour.
//
// The three enumerations are not stored one by one in form files (SavedState
// carries them), so nothing of these names reaches uic or QUiLoader.
// SavedState, FlipreelFile, GifFromURL and ServerUserName are data, not text
// for translators: the sheet marks them untranslatable, so a form file holds
// them as <string notr="true"> and uic's code sets them without a
// translate() call.
#pragma once

#include <QtDesigner/private/qdesigner_propertysheet_p.h>
#include <QtDesigner/private/qdesigner_utils_p.h>
#include <QHash>
#include <QSet>

namespace flipreel {

class FlipreelWidget;

class FlipreelPropertySheet : public QDesignerPropertySheet {
  Q_OBJECT
 public:
  FlipreelPropertySheet(FlipreelWidget* widget, QObject* parent);

  QVariant property(int index) const override;
  void setProperty(int index, const QVariant& value) override;

 private:
  QHash<int, qdesigner_internal::DesignerMetaEnum> enums_;  // by property index
  QSet<int> data_texts_;  // the untranslatable texts, by property index
  QSet<int> colors_;      // the colour properties, by property index
  FlipreelWidget* widget_;
};

// Registers the sheet for FlipreelWidgets ahead of Designer's standard one.
void RegisterFlipreelPropertySheet(QExtensionManager* manager);

}  // namespace flipreel
