#include "flipreel/headless/scripted_file_dialog.h"

#include <algorithm>

namespace flipreel {

namespace {

// Writes text and a NUL over the start of a buffer of room bytes, as the
// system dialog does: what stood after the NUL stays.
void WriteOver(std::string& buffer, const std::string& text) {
  if (buffer.size() < text.size() + 1) buffer.resize(text.size() + 1);
  std::copy(text.begin(), text.end(), buffer.begin());
  buffer[text.size()] = '\0';
}

// The bare name, cut to fit room bytes with its NUL, never inside a UTF-8
// sequence.
std::string TitleOf(const std::string& path, int32_t room) {
  std::string title = path.substr(path.find_last_of('/') + 1);
  if (room < 1) return {};
  size_t keep = std::min(title.size(), static_cast<size_t>(room - 1));
  while (keep > 0 && keep < title.size() &&
         (static_cast<unsigned char>(title[keep]) & 0xC0) == 0x80)
    --keep;
  return title.substr(0, keep);
}

}  // namespace

void ScriptedFileDialog::Choose(std::string path) {
  answers_.push_back({std::move(path), 0});
}

void ScriptedFileDialog::Cancel() {
  answers_.push_back({});
}

void ScriptedFileDialog::Fail(int32_t failure_code) {
  answers_.push_back({{}, failure_code});
}

int32_t ScriptedFileDialog::ShowOpenDialog(FileDialogRequest& request) {
  requests_.push_back(request);
  Answer answer;
  if (!answers_.empty()) {
    answer = std::move(answers_.front());
    answers_.pop_front();
  }
  failure_code_ = answer.failure_code;
  if (answer.path.empty()) return 0;
  if (answer.path.size() + 1 > static_cast<size_t>(std::max(request.nMaxFile, 0))) {
    failure_code_ = dialog_failure::kBufferTooSmall;
    return 0;
  }
  WriteOver(request.lpstrFile, answer.path);
  if (request.nMaxFileTitle > 0)
    WriteOver(request.lpstrFileTitle, TitleOf(answer.path, request.nMaxFileTitle));
  return 1;
}

}  // namespace flipreel
