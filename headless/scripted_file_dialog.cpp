#include "flipreel/headless/scripted_file_dialog.h"

#include <algorithm>

#include "flipreel/host/text.h"

namespace flipreel {

namespace {

// Writes text and a NUL over the start of a buffer of room bytes, as the
// system dialog does: what stood after the NUL stays.
void WriteOver(std::string& buffer, const std::string& text) {
  if (buffer.size() < text.size() + 1) buffer.resize(text.size() + 1);
  std::copy(text.begin(), text.end(), buffer.begin());
  buffer[text.size()] = '\0';
}

// The room of a buffer is counted in the characters of the text a path
// gives, not in the bytes of its UTF-8 form.
size_t Characters(const std::string& utf8) {
  return Utf8ToText(utf8).size();
}

// The bare name, cut to fit room characters with its NUL, never inside a
// character.
std::string TitleOf(const std::string& path, int32_t room) {
  std::string title = path.substr(path.find_last_of('/') + 1);
  if (room < 1) return {};
  if (Characters(title) < static_cast<size_t>(room)) return title;
  Text cut = Utf8ToText(title).substr(0, static_cast<size_t>(room - 1));
  if (!cut.empty() && cut.back() >= 0xD800 && cut.back() <= 0xDBFF) cut.pop_back();
  return TextToUtf8(cut);
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
  if (Characters(answer.path) + 1 > static_cast<size_t>(std::max(request.nMaxFile, 0))) {
    failure_code_ = dialog_failure::kBufferTooSmall;
    return 0;
  }
  WriteOver(request.lpstrFile, answer.path);
  if (request.nMaxFileTitle > 0)
    WriteOver(request.lpstrFileTitle, TitleOf(answer.path, request.nMaxFileTitle));
  return 1;
}

}  // namespace flipreel
