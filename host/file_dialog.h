// The host's file-open dialog: a modal chooser driven by a request record.
//
// The record keeps the layout and member names of the system request that
// design-time code has always filled (its 76-byte form, up to and including
// lpTemplateName), so that code written for it fills ours the same way. Text
// members are in the system's 8-bit encoding (UTF-8 for paths on this
// platform) and stand without their terminating NUL: std::string adds it.
#pragma once

#include <cstdint>
#include <string>

namespace flipreel {

struct FileDialogRequest {
  int32_t lStructSize = 0;
  int32_t hwndOwner = 0;
  int32_t hInstance = 0;
  // Pairs of description and pattern, each followed by a NUL; the list ends
  // with an empty entry (so two NULs with the terminating one).
  std::string lpstrFilter;
  std::string lpstrCustomFilter;
  int32_t nMaxCustFilter = 0;
  int32_t nFilterIndex = 0;  // 1-based; 0 selects the first pair
  // In: the initial name followed by padding. Out: the chosen path, ended by
  // a NUL. nMaxFile is the room in characters, the NUL included: a path fits
  // when the text it gives (UTF-16, as the caller's buffer holds it) is
  // shorter, however many bytes its UTF-8 form takes.
  std::string lpstrFile;
  int32_t nMaxFile = 0;
  // Out: the chosen file's name without its folder, ended by a NUL; the room
  // is counted as for lpstrFile.
  std::string lpstrFileTitle;
  int32_t nMaxFileTitle = 0;
  std::string lpstrInitialDir;
  std::string lpstrTitle;
  int32_t Flags = 0;
  int16_t nFileOffset = 0;
  int16_t nFileExtension = 0;
  std::string lpstrDefExt;  // added to a name typed without an extension
  int32_t lCustData = 0;
  int32_t lpfnHook = 0;
  std::string lpTemplateName;
};

// Codes a file dialog gives for a failure (DialogFailureCode); 0 is none.
namespace dialog_failure {
inline constexpr int32_t kInitialization = 0x0002;   // the dialog could not be shown
inline constexpr int32_t kInvalidFileName = 0x3002;  // the chosen name is not a valid path
inline constexpr int32_t kBufferTooSmall = 0x3003;   // the path does not fit nMaxFile
}  // namespace dialog_failure

class FileDialogService {
 public:
  virtual ~FileDialogService() = default;
  // Shows a modal file-open dialog for the request and returns when the user
  // has closed it. Non-zero when a file was chosen: its path and its bare
  // name are written into lpstrFile and lpstrFileTitle, each ended by a NUL
  // (the title only when nMaxFileTitle leaves room for it). 0 when the user
  // cancelled or the dialog failed; DialogFailureCode then says which.
  virtual int32_t ShowOpenDialog(FileDialogRequest& request) = 0;
  // The failure code of the last dialog: 0 after a choice or a plain cancel.
  virtual int32_t DialogFailureCode() = 0;
};

}  // namespace flipreel
