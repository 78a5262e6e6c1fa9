// clsCommonDialog: asks the user for a file through the host's file-open
// dialog.
//
// A caller creates an instance, sets a few properties, calls ShowOpen and reads
// FileName back. The instance fills a request record from its properties,
// hands it to the host's FileDialogService and turns the answer back into
// properties. It holds no window and keeps nothing outside its own fields. A
// new instance holds the zero value of every property; ShowOpen may be called
// any number of times, each call starting from the properties as they are (a
// chosen FileName is the next call's initial name).
//
// Every member is also reachable by name (Invoke), which is how property
// pages use the class.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "flipreel/host/dispatch.h"
#include "flipreel/host/file_dialog.h"
#include "flipreel/host/text.h"
#include "flipreel/host/variant.h"

namespace flipreel {

class clsCommonDialog : public Dispatch {
 public:
  explicit clsCommonDialog(FileDialogService& service) : service_(service) {}

  int16_t Action() const { return 0; }  // nothing sets it
  // When True, a cancelled or failed dialog ends ShowOpen with error 2001.
  bool CancelError() const { return CancelError_; }
  void SetCancelError(bool value) { CancelError_ = value; }
  const Text& DefaultExt() const { return DefaultExt_; }
  void SetDefaultExt(const Text& value) { DefaultExt_ = value; }
  const Text& DialogTitle() const { return DialogTitle_; }
  void SetDialogTitle(const Text& value) { DialogTitle_ = value; }
  // In: the name shown first. Out: the chosen path.
  const Text& FileName() const { return FileName_; }
  void SetFileName(const Text& value) { FileName_ = value; }
  // In: the title buffer's first content. Out: the chosen file's bare name.
  const Text& FileTitle() const { return FileTitle_; }
  void SetFileTitle(const Text& value) { FileTitle_ = value; }
  // Description and pattern pairs separated by "|" or NUL characters.
  const Text& Filter() const { return Filter_; }
  void SetFilter(const Text& value) { Filter_ = value; }
  int16_t FilterIndex() const { return FilterIndex_; }
  void SetFilterIndex(int16_t value) { FilterIndex_ = value; }
  // The dialog's option bits, passed to the host unchanged.
  int32_t flags() const { return flags_; }
  void Setflags(int32_t value) { flags_ = value; }
  const Text& InitDir() const { return InitDir_; }
  void SetInitDir(const Text& value) { InitDir_ = value; }
  // Characters of the FileName and FileTitle buffers, the NUL included; 256
  // when 0 or less.
  int32_t MaxFileSize() const { return MaxFileSize_; }
  void SetMaxFileSize(int32_t value) { MaxFileSize_ = value; }
  // Stored only: hdc, Max, Min and Object have no effect on the dialog.
  int32_t hdc() const { return hdc_; }
  void Sethdc(int32_t value) { hdc_ = value; }
  int32_t Max() const { return Max_; }
  void SetMax(int32_t value) { Max_ = value; }
  int32_t Min() const { return Min_; }
  void SetMin(int32_t value) { Min_ = value; }
  const Variant& Object() const { return Object_; }
  void SetObject(const Variant& value) { Object_ = value; }
  // The outcome of the last ShowOpen: what the dialog returned (0 cancelled
  // or failed) and the dialog's failure code (0 for none).
  int32_t APIReturn() const { return APIReturn_; }
  int32_t ExtendedError() const { return ExtendedError_; }

  // Shows the file-open dialog modally. After a choice FileName and FileTitle
  // hold the path and the bare name. After a cancel or a failure they keep
  // their values, and with CancelError the call fails with error 2001. Any
  // other error on the way (a text the system encoding cannot carry, either
  // way) is absorbed: the call returns and the properties stay as they were.
  void ShowOpen();

  Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args = {}) override;
  static std::span<const MemberInfo> Members();

  // "|" becomes NUL, other characters stay, and one NUL ends the list.
  static Text ConvertFilter(TextView filter);
  // The text before the first NUL, or all of it.
  static Text TrimAtNull(TextView text);

 private:
  enum class DialogAction : uint8_t { kOpen };
  void ShowFileDialog(DialogAction action);
  FileDialogRequest BuildRequest() const;

  FileDialogService& service_;
  bool CancelError_ = false;
  Text DefaultExt_;
  Text DialogTitle_;
  Text FileName_;
  Text FileTitle_;
  Text Filter_;
  int16_t FilterIndex_ = 0;
  int32_t flags_ = 0;
  int32_t hdc_ = 0;
  Text InitDir_;
  int32_t Max_ = 0;
  int32_t MaxFileSize_ = 0;
  int32_t Min_ = 0;
  Variant Object_;
  int32_t APIReturn_ = 0;
  int32_t ExtendedError_ = 0;
};

}  // namespace flipreel
