// The code uic made, at build time, of a form Qt Designer saved with a
// Flipreel holding a GIF (write_designer_form.cpp): setupUi restores the
// control from its saved state, and it plays the GIF with no GIF file.
#include <gtest/gtest.h>

#include "tests/qt/qt_test_support.h"
#include "ui_designer_form.h"

TEST(UicForm, SetupUiRestoresTheControlPlayingItsGif) {
  QWidget form;
  Ui::Form ui;
  ui.setupUi(&form);
  flipreel::FlipreelWidget* reel = ui.Flipreel1;
  EXPECT_TRUE(reel->UserMode());
  EXPECT_EQ(reel->FlipreelFile(), "Gif");
  EXPECT_EQ(reel->Frames(), 4);
  EXPECT_EQ(reel->Sequence(), 3);
  EXPECT_TRUE(reel->Playing());
  form.show();
  qttest::ExpectEachTickShowsAnotherPicture(*reel);
}
