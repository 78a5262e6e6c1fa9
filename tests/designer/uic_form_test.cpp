// The code uic made, at build time, of forms with a Flipreel: one Qt Designer
// saved with the control holding a GIF (write_designer_form.cpp), whose
// setupUi restores the control from its saved state, and one written by hand
// that sets the properties one by one.
#include <gtest/gtest.h>

#include <QVariant>
#include <utility>

#include "tests/qt/qt_test_support.h"
#include "ui_designer_form.h"
#include "ui_hand_written_form.h"

TEST(UicForm, SetupUiRestoresTheControlPlayingItsGif) {
  QWidget form;
  Ui::Form ui;
  ui.setupUi(&form);
  flipreel::FlipreelWidget* reel = ui.Flipreel1;
  EXPECT_TRUE(reel->UserMode());
  EXPECT_TRUE(reel->Composed());  // dropped on the form composing, saved so
  EXPECT_EQ(reel->FlipreelFile(), "Gif");
  EXPECT_EQ(reel->Frames(), 4);
  EXPECT_EQ(reel->Sequence(), 3);
  EXPECT_TRUE(reel->Playing());
  form.show();
  qttest::ExpectEachTickShowsAnotherPicture(*reel);
}

// Each property the form sets reads back as set (FlipreelFile as "Gif", the
// GIF being loaded), with no error on the way, and the GIF plays.
TEST(UicForm, AHandWrittenFormSetsEachPropertyThroughItsSetter) {
  QWidget form;
  Ui::HandWrittenForm ui;
  ui.setupUi(&form);
  flipreel::FlipreelWidget& reel = *ui.reel;
  EXPECT_EQ(reel.lastError().number, 0) << reel.lastError().description.toStdString();
  const std::pair<const char*, QVariant> expected[] = {
      {"showMessageBoxes", false},
      {"Composed", false},
      {"FlipreelFile", "Gif"},
      {"FrameRate", 40},
      {"Sequence", 3},
      {"AutoRewind", 5},
      {"Stretch", true},
      {"AutoStart", true},
      {"Playing", true},
      {"BackStyle", 0},
      {"BorderStyle", 1},
      {"seeThrough", true},
      {"ServerUserName", "ann"},
      {"ServerPassword", "secret"},
  };
  for (const auto& [name, value] : expected) EXPECT_EQ(reel.property(name), value) << name;
  EXPECT_GT(reel.Frames(), 1);
  form.show();
  qttest::ExpectEachTickShowsAnotherPicture(reel);
}
