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
// BackColor and BorderColor are QColors to Qt, edited with Designer's colour
// picker; the widget keeps the control's value behind them, which may name a
// system colour. Designer's undo writes back the colour it read before a
// change, which for a system colour is the colour it showed: the sheet
// remembers the system colour a change replaced, and a colour written back
// that is still what that system colour shows restores the system colour.
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
#include <cstdint>
#include <optional>

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
  // The colour properties, by property index: the control's value, and the
  // system colour a colour set here replaced last.
  struct ColorProperty {
    int (FlipreelWidget::*get)() const;
    void (FlipreelWidget::*set)(int);
    std::optional<int32_t> replaced_system;
  };
  QHash<int, ColorProperty> colors_;
  FlipreelWidget* widget_;
};

// Registers the sheet for FlipreelWidgets ahead of Designer's standard one.
void RegisterFlipreelPropertySheet(QExtensionManager* manager);

}  // namespace flipreel
