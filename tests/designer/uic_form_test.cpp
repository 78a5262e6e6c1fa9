// The code uic made, at build time, of forms with a Flipreel: one Qt Designer
// saved with the control holding a GIF (write_designer_form.cpp), whose
// setupUi restores the control from its saved state, and one written by hand
// that sets every property Designer offers one by one.
#include <gtest/gtest.h>

#include <QFile>
#include <QMetaProperty>
#include <QUiLoader>
#include <QVariant>
#include <algorithm>
#include <iterator>
#include <memory>
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
  // The colours and the picture set in Designer's editors, the system colour
  // still one.
  EXPECT_EQ(reel->backColorValue(), 0xFF8000);
  EXPECT_EQ(reel->borderColorValue(), flipreel::SystemColor(13));
  EXPECT_EQ(reel->BorderColor(), reel->palette().color(QPalette::Highlight));
  EXPECT_EQ(reel->BackGroundGraphic().size(), QSize(40, 30));
  form.show();
  qttest::ExpectEachTickShowsAnotherPicture(*reel);
}

// Each property the form sets reads back as set (FlipreelFile as "Gif", the
// GIF being loaded; Frames and CurrentFrame as the control reads them), with
// no error on the way; the colours and the picture paint, and the GIF plays.
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
      {"GifFromURL", "(None)"},
      {"ServerUserName", "ann"},
      {"ServerPassword", "secret"},
      {"AutoSize", false},
      {"FrameRate", 40},
      {"Sequence", 3},
      {"AutoRewind", 5},
      {"Stretch", false},
      {"Frames", 12},       // the GIF's count: the control ignores a value set
      {"CurrentFrame", 0},  // the frame shown: the value set is kept aside
      {"AutoStart", true},
      {"Playing", true},
      {"BackStyle", 1},
      {"BackColor", QColor(255, 255, 0)},
      {"BorderStyle", 1},
      {"BorderColor", QColor(0, 0, 255)},
      {"seeThrough", true},
      {"pauseWhenHidden", true},
  };
  const QMetaObject& meta = *reel.metaObject();
  for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
    const QMetaProperty property = meta.property(i);
    if (!property.isDesignable() || property.name() == QByteArray("BackGroundGraphic")) continue;
    EXPECT_TRUE(std::any_of(std::begin(expected), std::end(expected),
                            [&](const auto& e) { return property.name() == QByteArray(e.first); }))
        << "the form does not set " << property.name();
  }
  for (const auto& [name, value] : expected) EXPECT_EQ(reel.property(name), value) << name;
  EXPECT_EQ(reel.backColorValue(), 0x00FFFF);
  EXPECT_EQ(reel.borderColorValue(), 0xFF0000);
  EXPECT_EQ(reel.BackGroundGraphic().size(), QSize(80, 64));

  form.show();
  // The border, the picture beside the GIF, and the background colour.
  qttest::ExpectSpots(qttest::Shot(reel), {{0, 0, qRgb(0, 0, 255)},
                                           {159, 119, qRgb(0, 0, 255)},
                                           {70, 55, qRgb(255, 0, 0)},
                                           {120, 100, qRgb(255, 255, 0)}});
  qttest::ExpectEachTickShowsAnotherPicture(reel);
}

// QUiLoader builds the same form from the file at run time, through the
// plugin: every property Designer offers reads as in the code uic made.
TEST(UicForm, QUiLoaderBuildsTheHandWrittenFormAsUicsCodeDoes) {
  QWidget form;
  Ui::HandWrittenForm ui;
  ui.setupUi(&form);
  QUiLoader loader;
  loader.clearPluginPaths();
  loader.addPluginPath(QStringLiteral(FLIPREEL_PLUGIN_DIR "/designer"));
  QFile file(QStringLiteral(FLIPREEL_HAND_WRITTEN_FORM));
  const std::unique_ptr<QWidget> loaded(loader.load(&file));
  ASSERT_NE(loaded, nullptr) << loader.errorString().toStdString();
  auto* reel = loaded->findChild<flipreel::FlipreelWidget*>("reel");
  ASSERT_NE(reel, nullptr);
  EXPECT_EQ(reel->lastError().number, 0) << reel->lastError().description.toStdString();
  const QMetaObject& meta = *reel->metaObject();
  for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
    const QMetaProperty property = meta.property(i);
    if (!property.isDesignable()) continue;
    if (property.name() == QByteArray("BackGroundGraphic")) {
      EXPECT_EQ(reel->BackGroundGraphic().toImage(), ui.reel->BackGroundGraphic().toImage());
    } else {
      EXPECT_EQ(property.read(reel), property.read(ui.reel)) << property.name();
    }
  }
}
