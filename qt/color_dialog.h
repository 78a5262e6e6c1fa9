// The Qt host's colour dialog: a modal QColorDialog.
#pragma once

#include <QPalette>

#include "flipreel/host/color_dialog.h"

namespace flipreel {

class QtColorDialog : public ColorDialogService {
 public:
  // System colours are resolved through palette for the dialog's start.
  explicit QtColorDialog(QPalette palette = {}) : palette_(std::move(palette)) {}
  void set_palette(const QPalette& palette) { palette_ = palette; }

  // Shows a modal QColorDialog, named "FlipreelColorDialog", without an
  // owner window.
  bool ChooseColor(int32_t& color) override;

 private:
  QPalette palette_;
};

}  // namespace flipreel
