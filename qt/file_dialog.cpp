#include "flipreel/qt/file_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <string>

namespace flipreel {

namespace {

// The text of a NUL-ended member: what stands before the first NUL.
QString Member(const std::string& bytes) {
  return QString::fromUtf8(bytes.c_str());
}

// Writes text and a NUL over the start of the buffer, as UTF-8; false when it
// does not fit into room characters (counted as the caller's text counts
// them, not as bytes of UTF-8).
bool WriteOver(std::string& buffer, const QString& text, int32_t room) {
  if (text.size() + 1 > room) return false;
  const QByteArray bytes = text.toUtf8();
  if (buffer.size() < static_cast<size_t>(bytes.size()) + 1) buffer.resize(bytes.size() + 1);
  std::copy(bytes.begin(), bytes.end(), buffer.begin());
  buffer[static_cast<size_t>(bytes.size())] = '\0';
  return true;
}

}  // namespace

QStringList NameFiltersOf(const FileDialogRequest& request) {
  QStringList filters;
  const std::string& list = request.lpstrFilter;
  size_t at = 0;
  while (at < list.size() && list[at] != '\0') {
    const size_t description_end = list.find('\0', at);
    if (description_end == std::string::npos) break;
    const size_t pattern_end = list.find('\0', description_end + 1);
    const QString description =
        QString::fromUtf8(list.data() + at, static_cast<qsizetype>(description_end - at));
    const QString pattern =
        QString::fromUtf8(
            list.data() + description_end + 1,
            static_cast<qsizetype>((pattern_end == std::string::npos ? list.size() : pattern_end) -
                                   description_end - 1))
            .replace(';', ' ')
            .trimmed();
    const QString suffix = QStringLiteral("(%1)").arg(pattern);
    filters << (description.trimmed().endsWith(suffix) ? description : description + ' ' + suffix);
    if (pattern_end == std::string::npos) break;
    at = pattern_end + 1;
  }
  return filters;
}

int32_t QtFileDialog::ShowOpenDialog(FileDialogRequest& request) {
  failure_code_ = 0;
  QFileDialog dialog(nullptr, Member(request.lpstrTitle), Member(request.lpstrInitialDir));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setObjectName(QStringLiteral("FlipreelFileDialog"));
  const QStringList filters = NameFiltersOf(request);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    const int index = request.nFilterIndex >= 1 ? request.nFilterIndex - 1 : 0;
    dialog.selectNameFilter(filters.value(index, filters.first()));
  }
  if (!request.lpstrDefExt.empty()) dialog.setDefaultSuffix(Member(request.lpstrDefExt));
  const QString initial = Member(request.lpstrFile).trimmed();
  if (!initial.isEmpty()) dialog.selectFile(initial);

  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return 0;
  const QString path = dialog.selectedFiles().first();
  if (!WriteOver(request.lpstrFile, path, request.nMaxFile)) {
    failure_code_ = dialog_failure::kBufferTooSmall;
    return 0;
  }
  // A title too long for its buffer is left out; the path alone counts.
  WriteOver(request.lpstrFileTitle, QFileInfo(path).fileName(), request.nMaxFileTitle);
  return 1;
}

}  // namespace flipreel
