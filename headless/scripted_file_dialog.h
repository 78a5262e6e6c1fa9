// A file-open dialog that answers from a script: the headless host's dialog,
// for tests and tools that drive design-time code without a user.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "flipreel/host/file_dialog.h"

namespace flipreel {

class ScriptedFileDialog : public FileDialogService {
 public:
  // What the next dialogs answer, in order. A dialog shown with nothing
  // scripted is cancelled, as by a user who closes it.
  void Choose(std::string path);  // the user picks this path (bytes as given)
  void Cancel();
  void Fail(int32_t failure_code);

  // Every request shown, oldest first, as the dialog received it.
  const std::vector<FileDialogRequest>& requests() const { return requests_; }
  size_t pending_answers() const { return answers_.size(); }

  int32_t ShowOpenDialog(FileDialogRequest& request) override;
  int32_t DialogFailureCode() override { return failure_code_; }

 private:
  struct Answer {
    std::string path;  // empty: cancel or fail
    int32_t failure_code = 0;
  };
  std::deque<Answer> answers_;
  std::vector<FileDialogRequest> requests_;
  int32_t failure_code_ = 0;
};

}  // namespace flipreel
