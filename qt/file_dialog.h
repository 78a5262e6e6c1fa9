// The Qt host's file-open dialog: a modal QFileDialog built from the request
// record.
#pragma once

#include <QStringList>
#include <cstdint>

#include "flipreel/host/file_dialog.h"

class QFileDialog;
class QWidget;

namespace flipreel {

// The record's filter list as Qt name filters: "Description (pattern)", the
// description kept as it is when it already ends with the pattern in
// parentheses; ";" between patterns becomes a space.
QStringList NameFiltersOf(const FileDialogRequest& request);

class QtFileDialog : public FileDialogService {
 public:
  // Shows a modal QFileDialog titled lpstrTitle, opened in lpstrInitialDir
  // with the initial name of lpstrFile (its padding trimmed for display), the
  // filter list with the nFilterIndex-th pair selected, and lpstrDefExt added
  // to a name typed without an extension. The dialog has no owner window.
  int32_t ShowOpenDialog(FileDialogRequest& request) override;
  int32_t DialogFailureCode() override { return failure_code_; }

 private:
  int32_t failure_code_ = 0;
};

}  // namespace flipreel
