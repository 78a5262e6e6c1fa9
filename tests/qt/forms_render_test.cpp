// The About box and the Preview form drawn by the Qt host, offscreen: where
// the elements land, the film strip's pixels, the keyboard, and the clicks.
// With FLIPREEL_RENDER_DIR set, each form is also saved there as a PNG.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <functional>

#include "flipreel/control/about_box.h"
#include "flipreel/forms/preview.h"
#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/form_window.h"
#include "tests/qt/qt_test_support.h"

namespace {

using namespace flipreel;
using namespace qttest;

// Twips per pixel of the screen the forms are shown on, counted as the host
// counts them (15 at 96 DPI).
double Tpp() {
  return 1440.0 / FlipreelWidget().logicalDpiX();
}

QImage Render(QWidget& window, const char* name) {
  const QImage shot = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
  if (const QByteArray dir = qgetenv("FLIPREEL_RENDER_DIR"); !dir.isEmpty()) {
    shot.save(QString::fromUtf8(dir) + "/" + name + ".png");
    shot.scaled(shot.size() * 3).save(QString::fromUtf8(dir) + "/" + name + "_x3.png");
  }
  return shot;
}

int Px(float twips) {
  static const double tpp = Tpp();
  return static_cast<int>(std::lround(twips / tpp));
}

QRect Pixels(float left, float top, float width, float height) {
  return QRect(Px(left), Px(top), Px(width), Px(height));
}

TEST(QtForms, AboutBoxFromTheWidgetsSlot) {
  FlipreelWidget widget;
  int shown = 0;
  WhenModalOpens([&](QDialog& d) {
    ++shown;
    EXPECT_EQ(d.windowTitle(), "About Flipreel Control");
    EXPECT_EQ(d.size(), QSize(Px(6225), Px(2190)));
    auto* ok = d.findChild<QPushButton*>("Command1");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->geometry(), Pixels(5100, 1680, 975, 345));
    EXPECT_EQ(ok->text(), "&Ok");
    EXPECT_EQ(d.focusWidget(), ok);
    auto* frame = d.findChild<QGroupBox*>("Frame1");
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->geometry(), Pixels(160, 90, 5895, 1455));
    // Labels inside the frame stand relative to it.
    auto* label1 = d.findChild<QLabel*>("Label1");
    ASSERT_NE(label1, nullptr);
    EXPECT_EQ(label1->parentWidget(), frame);
    EXPECT_EQ(label1->geometry(), Pixels(960, 360, 4095, 255));
    EXPECT_EQ(label1->text(), "Flipreel Control, version 1.2.02");
    EXPECT_EQ(d.findChild<QLabel*>("Label4")->geometry(), Pixels(160, 1725, 4695, 255));

    const QImage shot = Render(d, "about_box");
    // The film strip at Frame1 + Image1 (160 + 360, 90 + 680 twips): the top
    // band, a hole in it, and the first column of the G in blue on white.
    const int x0 = Px(160) + Px(360), y0 = Px(90) + Px(680);
    ExpectSpots(shot, {{x0, y0, qRgb(0x20, 0x20, 0x20)},
                       {x0 + 1, y0 + 1, qRgb(255, 255, 255)},
                       {x0 + 3, y0 + 6, qRgb(0, 0, 255)},
                       {x0 + 2, y0 + 5, qRgb(255, 255, 255)},
                       {x0 + 18, y0 + 13, qRgb(0x20, 0x20, 0x20)}});
    // The copyright sign sits in the gap of the rights line, clear of the
    // word before it and of the year after it, whatever the font's widths.
    auto* label2 = d.findChild<QLabel*>("Label2");
    ASSERT_NE(label2, nullptr);
    const QFontMetrics metrics(label2->font());
    const QPoint line = label2->mapTo(&d, QPoint(0, 0));
    const int word_end = line.x() + metrics.horizontalAdvance("Copyright");
    const int gap_end = line.x() + metrics.horizontalAdvance("Copyright     ");
    auto ink = [&](int x0, int x1) {
      int n = 0;
      for (int y = line.y(); y < line.y() + label2->height(); ++y)
        for (int x = x0; x <= x1; ++x) n += qGray(At(shot, x, y)) < 100;
      return n;
    };
    EXPECT_EQ(ink(word_end + 1, word_end + 1), 0) << "the sign touches the word";
    EXPECT_EQ(ink(gap_end - 1, gap_end - 1), 0) << "the sign touches the year";
    EXPECT_GT(ink(word_end + 2, gap_end - 2), 10) << "no sign in the gap";
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    QTest::keyClick(&d, Qt::Key_O, Qt::AltModifier);
  });
  widget.ShowAbout();
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(widget.lastError());

  // The second box comes after the first has gone; its close control ends it.
  WhenModalOpens([&](QDialog& d) {
    ++shown;
    d.close();
  });
  widget.ShowAbout();
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(QtForms, AboutBoxByNameAndClickOnOk) {
  FlipreelWidget widget;
  Flipreel& control = ControlOf(widget);
  WhenModalOpens(
      [](QDialog& d) { QTest::mouseClick(d.findChild<QPushButton*>("Command1"), Qt::LeftButton); });
  control.Invoke("ShowAbout", CallKind::kMethod);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(QtForms, PreviewPlaysItsControlAndClosesOnAClickBesideIt) {
  // A 40 x 30 GIF, red on the left and blue on the right.
  GifFile gif(
      GifOf(40, 30, {Block(0, 0, 40, 30, kRed, kBlue), Block(0, 0, 40, 30, kGreen, kYellow)}));
  QtFormService forms;
  Preview preview(forms);
  preview.Show(FormShow::kModeless);
  QDialog* window = forms.WindowOf(preview);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), "Preview");
  EXPECT_EQ(window->size(), QSize(Px(3450), Px(2205)));
  QWidget* view = window->findChild<QWidget*>("Flipreel1");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->geometry(), Pixels(360, 360, 3075, 1950));

  // What the property page does after a choice: load, size to the GIF.
  Flipreel& c = preview.Flipreel1();
  c.SetFlipreelFile(Utf8ToText(gif.path));
  c.SetAutoSize(true);
  EXPECT_EQ(c.FlipreelFile(), u"Gif");
  EXPECT_EQ(view->size(), QSize(40, 30));
  const QImage shot = Render(*window, "preview");
  ExpectSpots(shot, {{24 + 5, 24 + 5, kRed},
                     {24 + 35, 24 + 25, kBlue},
                     {24 + 45, 24 + 5, window->palette().color(QPalette::Window).rgb()}});

  QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(preview.shown());
  QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(150, 100));
  EXPECT_FALSE(preview.shown());
  EXPECT_EQ(forms.WindowOf(preview), nullptr);
}

}  // namespace
