#include "flipreel/qt/color_dialog.h"

#include <QColorDialog>

#include "flipreel/qt/colors.h"

namespace flipreel {

bool QtColorDialog::ChooseColor(int32_t& color) {
  QColorDialog dialog(ResolveColor(color, palette_));
  dialog.setObjectName(QStringLiteral("FlipreelColorDialog"));
  dialog.setOption(QColorDialog::DontUseNativeDialog);
  if (dialog.exec() != QDialog::Accepted || !dialog.selectedColor().isValid()) return false;
  color = ColorValue(dialog.selectedColor());
  return true;
}

}  // namespace flipreel
