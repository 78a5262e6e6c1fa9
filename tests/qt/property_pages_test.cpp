// The property-pages dialog on Qt's offscreen platform: the page drawn at
// its twip positions, in its tab order, and Apply, OK and Cancel.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/property_pages.h"
#include "tests/qt/qt_test_support.h"

using namespace flipreel;

namespace {

// A designer's control holding a GIF: applying writes "Gif" back, which
// keeps it.
struct Rig {
  FlipreelWidget reel;
  std::unique_ptr<PropertyPagesDialog> dialog_holder;
  PropertyPagesDialog& dialog;
  std::vector<int> errors;
  Rig() : dialog_holder(Open(reel)), dialog(*dialog_holder) {
    dialog.set_error_handler([this](const HostError& e) { errors.push_back(e.number()); });
  }
  static std::unique_ptr<PropertyPagesDialog> Open(FlipreelWidget& reel) {
    reel.setUserMode(false);
    qttest::GifFile gif(qttest::FourFrames());
    reel.setFlipreelFile(gif.qpath());
    return std::make_unique<PropertyPagesDialog>(QList<FlipreelWidget*>{&reel});
  }
  template <typename W>
  W* Widget(const char* name, int tab = 0) {
    return qobject_cast<W*>(dialog.ElementWidget(name, tab));
  }
  // Chooses a colour of a set on the Color tab, as a click in its lists does.
  void ChooseColor(const char* property, const char* set, const char* color) {
    auto* properties = Widget<QComboBox>("cboProperties", kColorTab);
    properties->setCurrentIndex(properties->findText(property));
    emit properties->activated(properties->currentIndex());
    auto* sets = Widget<QComboBox>("cboColorSet", kColorTab);
    sets->setCurrentIndex(sets->findText(set));
    emit sets->activated(sets->currentIndex());
    auto* colors = Widget<QListWidget>("lstColors", kColorTab);
    colors->setCurrentItem(colors->findItems(color, Qt::MatchExactly).value(0));
  }
  static constexpr int kColorTab = 1;
  static constexpr int kPictureTab = 2;
};

}  // namespace

TEST(PropertyPagesDialog, DrawsThePageAtItsTwipPositionsInTabOrder) {
  Rig r;
  r.dialog.show();
  const double tpp = 1440.0 / r.dialog.logicalDpiX();
  QWidget* browse = r.dialog.ElementWidget("CmdLoadFile");
  const QRect at = browse->geometry();
  EXPECT_NEAR(at.left(), 4200 / tpp, 1);
  EXPECT_NEAR(at.top(), 610 / tpp, 1);
  EXPECT_NEAR(at.width(), 1215 / tpp, 1);
  EXPECT_NEAR(at.height(), 325 / tpp, 1);
  // Inside a frame positions are relative to the frame.
  EXPECT_EQ(r.dialog.ElementWidget("txtFrameRate")->parentWidget(),
            r.dialog.ElementWidget("frmFrames"));
  // The file box lies outside the visible page.
  const QRect file_box = r.dialog.ElementWidget("txtFlipreelFile")->geometry();
  EXPECT_LT(file_box.bottom(), 0);
  EXPECT_EQ(qobject_cast<QPushButton*>(browse)->text(), "&Browse");
  EXPECT_TRUE(r.Widget<QLineEdit>("txtFrames")->isReadOnly());

  // Tab order follows the page: Auto Start, Back Style, Border Style, Normal...
  QWidget* w = r.dialog.ElementWidget("chkAutoStart");
  std::vector<std::string> order;
  for (int i = 0; i < 5; ++i, w = w->nextInFocusChain())
    order.push_back(w->objectName().toStdString());
  EXPECT_EQ(order, (std::vector<std::string>{"chkAutoStart", "cboBackstyle", "cboBorderstyle",
                                             "OptionNormal", "OptionReverse"}));
}

TEST(PropertyPagesDialog, ShowsTheControlAndAppliesWhatTheUserChanged) {
  Rig r;
  r.dialog.show();
  EXPECT_EQ(r.Widget<QLineEdit>("txtFrameRate")->text(), "100");
  EXPECT_EQ(r.Widget<QLineEdit>("txtFlipreelFile")->text(), "Gif");
  EXPECT_TRUE(r.Widget<QCheckBox>("chkAutoStart")->isChecked());
  EXPECT_TRUE(r.Widget<QRadioButton>("OptionNormal")->isChecked());
  EXPECT_EQ(r.Widget<QComboBox>("cboBackstyle")->currentText(), "Opaque");
  // Filling marks the page changed: Apply is enabled at once.
  EXPECT_TRUE(r.dialog.ApplyButton()->isEnabled());

  QLineEdit* rate = r.Widget<QLineEdit>("txtFrameRate");
  rate->selectAll();
  QTest::keyClicks(rate, "75x");
  EXPECT_EQ(rate->text(), "75");
  EXPECT_EQ(rate->cursorPosition(), 2);
  QTest::mouseClick(r.Widget<QRadioButton>("OptionRandom"), Qt::LeftButton);
  EXPECT_FALSE(r.Widget<QRadioButton>("OptionNormal")->isChecked());
  r.Widget<QCheckBox>("chkAutoStart")->click();

  r.dialog.ApplyButton()->click();
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(r.reel.FrameRate(), 75);
  EXPECT_EQ(r.reel.Sequence(), 2);
  EXPECT_FALSE(r.reel.AutoStart());
  EXPECT_FALSE(r.dialog.ApplyButton()->isEnabled());
}

TEST(PropertyPagesDialog, CancelWritesNothingAndAFailedApplyKeepsTheDialogOpen) {
  {
    Rig r;
    r.dialog.show();
    r.Widget<QCheckBox>("chkStretch")->click();
    r.dialog.reject();
    EXPECT_FALSE(r.reel.Stretch());
  }
  Rig r;
  r.dialog.show();
  QLineEdit* rate = r.Widget<QLineEdit>("txtFrameRate");
  rate->selectAll();
  QTest::keyClicks(rate, "40000");
  QTest::keyClicks(r.Widget<QLineEdit>("txtAutoRewind"), "4");
  r.dialog.OkButton()->click();
  EXPECT_EQ(r.errors, std::vector<int>{err::kOverflow});
  EXPECT_TRUE(r.dialog.isVisible());
  EXPECT_EQ(r.reel.AutoRewind(), 4);  // written before the failing Frame Rate
  EXPECT_TRUE(r.dialog.ApplyButton()->isEnabled());
}

// Browse shows the Preview modeless while the dialog is modal: the Preview
// belongs to the dialog's windows, so a click on it (through the window
// system, which holds back input from windows a modal dialog blocks) closes it.
TEST(PropertyPagesDialog, ThePreviewOfBrowseTakesClicksWhileTheDialogIsModal) {
  Rig r;
  qttest::GifFile gif(qttest::FourFrames());
  bool closed = false;
  qttest::WhenModalOpens([&](QDialog&) {
    qttest::ChooseFileWhenAsked(gif.qpath());
    r.Widget<QPushButton>("CmdLoadFile")->click();
    QPointer<QWidget> preview;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "Preview" && w->isVisible()) preview = w;
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(preview));
    QTest::mouseClick(preview->windowHandle(), Qt::LeftButton, {}, QPoint(3, 3));
    // Unloading the Preview deletes it.
    closed = preview.isNull() || !preview->isVisible();
    r.dialog.reject();
  });
  r.dialog.exec();
  EXPECT_TRUE(closed);
}

// In the Sequence group the arrow keys choose the next or the previous
// option, round the group, as in any group of option buttons.
TEST(PropertyPagesDialog, ArrowKeysChooseWithinTheSequenceGroup) {
  Rig r;
  r.dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&r.dialog));
  struct Row {
    const char* from;
    Qt::Key key;
    const char* to;
  };
  const Row rows[] = {
      {"OptionNormal", Qt::Key_Right, "OptionReverse"},
      {"OptionReverse", Qt::Key_Down, "OptionRandom"},
      {"OptionNormal", Qt::Key_Left, "Optionpingpong"},
      {"Optionpingpong", Qt::Key_Down, "OptionNormal"},
      {"OptionRandom", Qt::Key_Up, "OptionReverse"},
  };
  for (const Row& row : rows) {
    auto* from = r.Widget<QRadioButton>(row.from);
    QTest::mouseClick(from, Qt::LeftButton);
    from->setFocus();
    QTest::keyClick(from, row.key);
    auto* to = r.Widget<QRadioButton>(row.to);
    EXPECT_TRUE(to->isChecked()) << row.from << " " << row.to;
    EXPECT_FALSE(from->isChecked()) << row.from << " " << row.to;
    EXPECT_TRUE(to->hasFocus()) << row.from << " " << row.to;
  }
  r.dialog.ApplyButton()->click();
  EXPECT_EQ(qttest::ControlOf(r.reel).Sequence(), 1);
}

// Each page applies its own edits, through the control's properties, and
// has its own changed mark; Cancel writes nothing.
TEST(PropertyPagesDialog, TheColorAndPictureTabsApplyTheirEdits) {
  Rig r;
  r.dialog.show();
  ASSERT_TRUE(r.dialog.Apply());  // the General page, marked changed by its filling
  EXPECT_FALSE(r.dialog.ApplyButton()->isEnabled());
  r.ChooseColor("BackColor", "Standard Colors", "Red");
  EXPECT_TRUE(r.dialog.ApplyButton()->isEnabled());
  EXPECT_TRUE(r.dialog.site(Rig::kColorTab).Changed());
  EXPECT_FALSE(r.dialog.site(0).Changed());
  r.dialog.ApplyButton()->click();
  EXPECT_EQ(qttest::ControlOf(r.reel).BackColor(), 0x0000FF);
  EXPECT_FALSE(r.dialog.ApplyButton()->isEnabled());

  // A picture chosen in the file dialog, through the control's host.
  testfiles::TempDir dir;
  QImage picture(24, 16, QImage::Format_RGB32);
  picture.fill(QColor(0, 0, 255));
  const QString path = QString::fromStdString(dir.path() + "/sky.png");
  ASSERT_TRUE(picture.save(path));
  qttest::ChooseFileWhenAsked(path);
  r.Widget<QPushButton>("CmdBrowse", Rig::kPictureTab)->click();
  EXPECT_FALSE(r.Widget<QLabel>("imgPicture", Rig::kPictureTab)->pixmap().isNull());
  r.dialog.OkButton()->click();
  EXPECT_TRUE(r.errors.empty());
  const Picture shown = qttest::ControlOf(r.reel).BackGroundGraphic();
  ASSERT_FALSE(shown.IsEmpty());
  EXPECT_EQ(shown.data()->width(), 24);

  // Cleared, then cancelled: the control keeps its picture and colour.
  Rig again;
  again.dialog.show();
  again.Widget<QPushButton>("CmdClear", Rig::kPictureTab)->click();
  again.ChooseColor("BorderColor", "Standard Colors", "White");
  again.dialog.reject();
  EXPECT_EQ(qttest::ControlOf(again.reel).BorderColor(), 0);
}

// A system colour chosen in the page stays a system colour through the
// control's saved state, restored and saved again. (How a system colour
// resolves against the palette, and is painted when that changes, is
// checked with the widget's colours.)
TEST(PropertyPagesDialog, ASystemColourStaysOneThroughSaveAndRestore) {
  Rig r;
  r.dialog.show();
  r.ChooseColor("BackColor", "System Colors", "Highlight");
  r.dialog.OkButton()->click();
  ASSERT_EQ(qttest::ControlOf(r.reel).BackColor(), SystemColor(13));

  FlipreelWidget restored;
  restored.setSavedState(r.reel.SavedState());
  EXPECT_EQ(qttest::ControlOf(restored).BackColor(), SystemColor(13));
  EXPECT_FALSE(restored.lastError());
  restored.grab();  // painted with the palette's colour, it stays the system colour
  // Saved again, it is still the system colour, not the colour it showed.
  FlipreelWidget again;
  again.setSavedState(restored.SavedState());
  EXPECT_EQ(qttest::ControlOf(again).BackColor(), SystemColor(13));
}
