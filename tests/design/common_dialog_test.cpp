// clsCommonDialog against the headless host's scripted file dialog: the request
// record it fills, and what it makes of each answer.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "flipreel/dialog/common_dialog.h"
#include "flipreel/headless/scripted_file_dialog.h"
#include "tests/support/checks.h"

namespace {

using namespace flipreel;
using testsupport::ErrorOf;

std::string Repeated(const std::string& piece, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += piece;
  return out;
}

std::string Spaces(size_t n) {
  return std::string(n, ' ');
}

struct BufferCase {
  int32_t max_file_size;
  Text file_name;
  int32_t size;      // nMaxFile and nMaxFileTitle
  std::string file;  // lpstrFile as sent
};

TEST(CommonDialog, BuffersHoldExactlyTheirSize) {
  const BufferCase cases[] = {
      {0, u"", 256, Spaces(255) + '\0'},  // a new instance
      {-3, u"a.gif", 256, "a.gif" + Spaces(250) + '\0'},
      {10, u"abcdefghijklmnop", 10, std::string("abcdefghi") + '\0'},  // 16 characters cut
      {256, u"", 256, Spaces(255) + '\0'},
      {255, u"x", 255, "x" + Spaces(253) + '\0'},  // announced as 255, not 0
      {1, u"abc", 1, std::string(1, '\0')},
  };
  for (const BufferCase& t : cases) {
    SCOPED_TRACE(t.max_file_size);
    ScriptedFileDialog service;
    clsCommonDialog dialog(service);
    dialog.SetMaxFileSize(t.max_file_size);
    dialog.SetFileName(t.file_name);
    dialog.SetFileTitle(u"title");
    dialog.ShowOpen();
    ASSERT_EQ(service.requests().size(), 1u);
    const FileDialogRequest& r = service.requests()[0];
    EXPECT_EQ(r.nMaxFile, t.size);
    EXPECT_EQ(r.nMaxFileTitle, t.size);
    EXPECT_EQ(r.lpstrFile, t.file);
    EXPECT_EQ(r.lpstrFileTitle.size(), static_cast<size_t>(t.size));
    EXPECT_EQ(r.lpstrFileTitle.back(), '\0');
  }
}

TEST(CommonDialog, RequestCarriesThePropertiesAndNothingElse) {
  ScriptedFileDialog service;
  clsCommonDialog dialog(service);
  dialog.SetDialogTitle(u"Pick a GIF");
  dialog.SetInitDir(u"/tmp/gifs");
  dialog.SetDefaultExt(u"gif");
  dialog.Setflags(0x1004);
  dialog.SetFilterIndex(-2);
  dialog.Sethdc(7);
  dialog.SetMax(300);
  dialog.SetMin(1);
  dialog.ShowOpen();
  const FileDialogRequest& r = service.requests().at(0);
  EXPECT_EQ(r.lStructSize, 76);
  EXPECT_EQ(r.hwndOwner, 0);
  EXPECT_EQ(r.lpstrTitle, "Pick a GIF");
  EXPECT_EQ(r.lpstrInitialDir, "/tmp/gifs");
  EXPECT_EQ(r.lpstrDefExt, "gif");
  EXPECT_EQ(r.Flags, 0x1004);
  EXPECT_EQ(r.nFilterIndex, -2);
  EXPECT_EQ(r.lpstrFilter, std::string(1, '\0'));  // no filter: an empty list
  EXPECT_EQ(r.nMaxFile, 256);                      // Max is stored only
  EXPECT_EQ(
      r.hInstance + r.nMaxCustFilter + r.nFileOffset + r.nFileExtension + r.lCustData + r.lpfnHook,
      0);
  EXPECT_TRUE(r.lpstrCustomFilter.empty() && r.lpTemplateName.empty());
}

TEST(CommonDialog, FilterSeparatorsMayBeMixed) {
  const std::string expected("Gif\0*.gif\0All\0*.*\0", 18);
  for (const Text& filter : {Text(u"Gif|*.gif|All|*.*"), Text(u"Gif\0*.gif\0All\0*.*", 17),
                             Text(u"Gif|*.gif\0All|*.*", 17)}) {
    ScriptedFileDialog service;
    clsCommonDialog dialog(service);
    dialog.SetFilter(filter);
    dialog.ShowOpen();
    EXPECT_EQ(service.requests().at(0).lpstrFilter, expected);
  }
  // The property page's own filter, ended by a NUL, ends the list with two.
  EXPECT_EQ(clsCommonDialog::ConvertFilter(Text(u"Animated Gif (*.GIF)\0*.GIF\0", 27)),
            Text(u"Animated Gif (*.GIF)\0*.GIF\0\0", 28));
}

enum class Answer { kChoose, kCancel, kFail };

struct OutcomeCase {
  const char* name;
  Answer answer;
  std::string chosen;  // bytes the user picks, or the failure code as text
  bool cancel_error;
  int32_t error;  // of ShowOpen
  int32_t api_return;
  int32_t extended_error;
  Text file_name;   // afterwards; "old" when unchanged
  Text file_title;  // afterwards
};

TEST(CommonDialog, OutcomesOfTheDialog) {
  const OutcomeCase cases[] = {
      {"chosen", Answer::kChoose, "/tmp/a b/clip.gif", true, 0, 1, 0, u"/tmp/a b/clip.gif",
       u"clip.gif"},
      {"chosen, not ASCII", Answer::kChoose, "/tmp/\xc3\xa9t\xc3\xa9.gif", false, 0, 1, 0,
       u"/tmp/\u00e9t\u00e9.gif", u"\u00e9t\u00e9.gif"},
      {"cancelled", Answer::kCancel, "", false, 0, 0, 0, u"old", u"oldtitle"},
      {"cancelled, CancelError", Answer::kCancel, "", true, 2001, 0, 0, u"old", u"oldtitle"},
      {"failed", Answer::kFail, "", false, 0, 0, dialog_failure::kInitialization, u"old",
       u"oldtitle"},
      {"failed, CancelError", Answer::kFail, "", true, 2001, 0, dialog_failure::kInitialization,
       u"old", u"oldtitle"},
      {"path too long", Answer::kChoose, "/" + std::string(300, 'p'), true, 2001, 0,
       dialog_failure::kBufferTooSmall, u"old", u"oldtitle"},
      // Room is counted in characters: 201 of them fit, in 401 bytes of UTF-8.
      {"a long path in two-byte characters", Answer::kChoose, "/" + Repeated("\xc3\xa9", 200), true,
       0, 1, 0, u"/" + Text(200, u'\u00e9'), Text(200, u'\u00e9')},
      // An answer the system encoding cannot carry is absorbed, CancelError or not.
      {"answer not UTF-8", Answer::kChoose, "/tmp/\xff.gif", true, 0, 1, 0, u"old", u"oldtitle"},
  };
  for (const OutcomeCase& t : cases) {
    SCOPED_TRACE(t.name);
    ScriptedFileDialog service;
    if (t.answer == Answer::kChoose) service.Choose(t.chosen);
    if (t.answer == Answer::kCancel) service.Cancel();
    if (t.answer == Answer::kFail) service.Fail(dialog_failure::kInitialization);
    clsCommonDialog dialog(service);
    dialog.SetFileName(u"old");
    dialog.SetFileTitle(u"oldtitle");
    dialog.SetCancelError(t.cancel_error);
    EXPECT_EQ(ErrorOf([&] { dialog.ShowOpen(); }), t.error);
    EXPECT_EQ(dialog.APIReturn(), t.api_return);
    EXPECT_EQ(dialog.ExtendedError(), t.extended_error);
    EXPECT_EQ(dialog.FileName(), t.file_name);
    EXPECT_EQ(dialog.FileTitle(), t.file_title);
    EXPECT_EQ(dialog.Action(), 0);
  }
}

// Running out of memory while the dialog is up is absorbed like any other
// trouble of the dialog's own.
TEST(CommonDialog, AnErrorOfAnyKindInTheDialogIsAbsorbed) {
  struct Failing : FileDialogService {
    int32_t ShowOpenDialog(FileDialogRequest&) override { throw std::bad_alloc(); }
    int32_t DialogFailureCode() override { return 0; }
  } service;
  clsCommonDialog dialog(service);
  dialog.SetFileName(u"old");
  dialog.SetCancelError(true);
  EXPECT_EQ(ErrorOf([&] { dialog.ShowOpen(); }), 0);
  EXPECT_EQ(dialog.FileName(), u"old");
  EXPECT_EQ(dialog.APIReturn(), 0);
}

TEST(CommonDialog, EachCallStartsFromThePropertiesAsTheyAre) {
  ScriptedFileDialog service;
  service.Choose("/gifs/one.gif");
  service.Cancel();
  service.Cancel();
  clsCommonDialog dialog(service);
  dialog.SetMaxFileSize(20);
  dialog.ShowOpen();
  EXPECT_EQ(dialog.FileName(), u"/gifs/one.gif");
  dialog.ShowOpen();
  dialog.ShowOpen();  // two cancels leave the choice in place
  EXPECT_EQ(dialog.FileName(), u"/gifs/one.gif");
  EXPECT_EQ(dialog.APIReturn(), 0);
  // The chosen name was the initial name of the next dialog.
  EXPECT_EQ(service.requests().at(1).lpstrFile, "/gifs/one.gif" + Spaces(6) + '\0');
  EXPECT_EQ(service.requests().at(1).lpstrFileTitle, "one.gif" + Spaces(12) + '\0');
}

TEST(CommonDialog, TextTheSystemCannotCarryIsAbsorbedBeforeTheDialog) {
  ScriptedFileDialog service;
  clsCommonDialog dialog(service);
  const Text lone_surrogate = u"bad\xD800name";
  dialog.SetFileName(lone_surrogate);
  dialog.SetCancelError(true);
  EXPECT_EQ(ErrorOf([&] { dialog.ShowOpen(); }), 0);
  EXPECT_TRUE(service.requests().empty());
  EXPECT_EQ(dialog.FileName(), lone_surrogate);
}

// The property page reaches the class by name only.
TEST(CommonDialog, EveryMemberByName) {
  ScriptedFileDialog service;
  service.Choose("/gifs/by-name.gif");
  clsCommonDialog dialog(service);
  auto let = [&](const char* name, Variant value) {
    return ErrorOf([&] { dialog.Invoke(name, CallKind::kLet, std::span(&value, 1)); });
  };
  EXPECT_EQ(let("Filter", Text(u"Animated Gif (*.GIF)|*.GIF")), 0);
  EXPECT_EQ(let("MAXFILESIZE", Text(u"256")), 0);
  EXPECT_EQ(let("Max", int16_t{256}), 0);
  EXPECT_EQ(let("FileTitle", Text()), 0);
  EXPECT_EQ(let("DialogTitle", Text(u"Please Select an Animated Gif File")), 0);
  EXPECT_EQ(let("flags", int32_t{4}), 0);
  EXPECT_EQ(let("CancelError", Variant::FromBool(true)), 0);
  EXPECT_EQ(let("FilterIndex", int32_t{70000}), 6);
  EXPECT_EQ(let("hdc", Text(u"x")), 13);
  EXPECT_EQ(let("Action", int16_t{1}), 450);
  EXPECT_EQ(let("APIReturn", int16_t{1}), 450);
  EXPECT_EQ(let("ExtendedError", int16_t{1}), 450);
  EXPECT_EQ(let("ShowSave", int16_t{1}), 438);
  Variant picture(Picture::Solid(1, 1, 0xFF000000));
  dialog.Invoke("Object", CallKind::kSet, std::span(&picture, 1));
  EXPECT_EQ(dialog.Invoke("Object", CallKind::kGet).AsPicture(), picture.AsPicture());

  dialog.Invoke("ShowOpen", CallKind::kMethod);
  EXPECT_EQ(dialog.Invoke("FileName", CallKind::kGet).ToText(), u"/gifs/by-name.gif");
  EXPECT_EQ(dialog.Invoke("filetitle", CallKind::kGet).ToText(), u"by-name.gif");
  EXPECT_EQ(dialog.Invoke("APIReturn", CallKind::kGet).ToLong(), 1);
  EXPECT_EQ(dialog.Invoke("Action", CallKind::kGet).ToLong(), 0);
  EXPECT_EQ(service.requests().at(0).lpstrTitle, "Please Select an Animated Gif File");
  EXPECT_EQ(service.requests().at(0).Flags, 4);

  std::string names;
  for (const MemberInfo& m : clsCommonDialog::Members()) names += std::string(m.name) + " ";
  EXPECT_EQ(names,
            "Action CancelError DefaultExt DialogTitle FileName FileTitle Filter FilterIndex flags "
            "hdc InitDir Max MaxFileSize Min Object APIReturn ExtendedError ShowOpen ");
}

}  // namespace
