// The Qt host's file-open dialog: a real QFileDialog built from the request
// record, answered here as a user would.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <functional>

#include "flipreel/qt/file_dialog.h"
#include "tests/qt/qt_test_support.h"

namespace {

using namespace flipreel;

FileDialogRequest RequestIn(const std::string& folder, int32_t size) {
  FileDialogRequest r;
  r.lStructSize = 76;
  r.lpstrFilter = std::string("Animated Gif (*.GIF)\0*.GIF\0All files\0*.*;*.gif\0\0", 48);
  r.nFilterIndex = 2;
  r.lpstrFile = "start.gif" + std::string(static_cast<size_t>(size) - 10, ' ') + '\0';
  r.nMaxFile = size;
  r.lpstrFileTitle = std::string(static_cast<size_t>(size) - 1, ' ') + '\0';
  r.nMaxFileTitle = size;
  r.lpstrInitialDir = folder;
  r.lpstrTitle = "Please Select an Animated Gif File";
  r.lpstrDefExt = "gif";
  return r;
}

TEST(QtFileDialog, ShowsTheRequestAndReturnsTheChoice) {
  testfiles::TempDir dir;
  const std::string chosen = dir.Write("clip.gif", "GIF89a");
  FileDialogRequest r = RequestIn(dir.path(), 256);
  QtFileDialog service;
  qttest::WhenFileDialogOpens([&](QFileDialog& d) {
    EXPECT_EQ(d.windowTitle(), "Please Select an Animated Gif File");
    EXPECT_TRUE(d.isModal());
    EXPECT_EQ(d.directory().absolutePath().toStdString(), dir.path());
    EXPECT_EQ(d.nameFilters(), QStringList({"Animated Gif (*.GIF)", "All files (*.* *.gif)"}));
    EXPECT_EQ(d.selectedNameFilter(), "All files (*.* *.gif)");
    EXPECT_EQ(d.defaultSuffix(), "gif");
    // The initial name without its padding; the user then types a name
    // without an extension and the default one is added.
    auto* name = d.findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), "start.gif");
    name->setText("clip");
    static_cast<QDialog&>(d).accept();
  });
  EXPECT_EQ(service.ShowOpenDialog(r), 1);
  EXPECT_EQ(service.DialogFailureCode(), 0);
  EXPECT_EQ(r.lpstrFile.substr(0, r.lpstrFile.find('\0')), chosen);
  EXPECT_EQ(r.lpstrFileTitle.substr(0, r.lpstrFileTitle.find('\0')), "clip.gif");
}

TEST(QtFileDialog, CancelAndAPathTooLongForTheBuffer) {
  testfiles::TempDir dir;
  dir.Write("a-rather-long-name.gif", "GIF89a");
  QtFileDialog service;

  FileDialogRequest cancelled = RequestIn(dir.path(), 256);
  qttest::WhenFileDialogOpens([](QFileDialog& d) { d.reject(); });
  EXPECT_EQ(service.ShowOpenDialog(cancelled), 0);
  EXPECT_EQ(service.DialogFailureCode(), 0);

  FileDialogRequest small = RequestIn(dir.path(), 12);
  qttest::ChooseFileWhenAsked(QString::fromStdString(dir.path() + "/a-rather-long-name.gif"));
  EXPECT_EQ(service.ShowOpenDialog(small), 0);
  EXPECT_EQ(service.DialogFailureCode(), dialog_failure::kBufferTooSmall);
}

}  // namespace
