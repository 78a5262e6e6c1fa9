// Helpers of the Qt tests: GIFs with known colours, widgets set up on them,
// and what the widget shows as pixels.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/flipreel_widget_p.h"
#include "tests/support/gif_builder.h"
#include "tests/support/test_files.h"

namespace qttest {

// Runs user against the modal dialog that is open once the event loop runs.
inline void WhenModalOpens(std::function<void(QDialog&)> user) {
  QTimer::singleShot(0, [user] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog) ADD_FAILURE() << "no modal dialog is open";
    if (dialog) user(*dialog);
  });
}

// Runs user against the modal file dialog once it is open.
inline void WhenFileDialogOpens(std::function<void(QFileDialog&)> user) {
  WhenModalOpens([user](QDialog& d) {
    auto* files = qobject_cast<QFileDialog*>(&d);
    if (!files) ADD_FAILURE() << "the modal dialog is not a file dialog";
    if (files) user(*files);
  });
}

// Chooses path in the file dialog that opens next, as a user would.
inline void ChooseFileWhenAsked(const QString& path) {
  WhenFileDialogOpens([path](QFileDialog& d) {
    d.selectFile(path);
    static_cast<QDialog&>(d).accept();  // QFileDialog::accept takes the selected file
  });
}

// Runs the event loop until done() holds or ms milliseconds have passed;
// returns done() at the end.
inline bool RunEventsUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

// Palette indices of the test GIFs, and their colours.
enum Index : uint8_t { kBlack, kWhite, kRed, kGreen, kBlue, kYellow, kCyan, kMagenta };
inline const std::vector<uint32_t> kPalette = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00,
                                               0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF};
inline QRgb Rgb(Index i) {
  return 0xFF000000u | kPalette[i];
}
// Colour values of the control (red in the low byte).
inline int ColorValueOf(Index i) {
  const uint32_t c = kPalette[i];
  return static_cast<int>(((c >> 16) & 0xFF) | (c & 0xFF00) | ((c & 0xFF) << 16));
}

// A frame of one colour, or split in a left and a right half.
inline testgif::Frame Block(int left, int top, int width, int height, Index left_half,
                            Index right_half, int delay_cs = 10) {
  testgif::Frame f;
  f.left = left;
  f.top = top;
  f.width = width;
  f.height = height;
  f.delay_cs = delay_cs;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) f.pixels.push_back(x < width / 2 ? left_half : right_half);
  return f;
}

inline testgif::Gif GifOf(int width, int height, std::vector<testgif::Frame> frames) {
  testgif::Gif gif;
  gif.width = width;
  gif.height = height;
  gif.global_palette = kPalette;
  gif.netscape_loop = true;  // frames are found after a block terminator
  gif.frames = std::move(frames);
  return gif;
}

// Four frames of 10 x 6 pixels, each of its own colours, at growing offsets.
inline testgif::Gif FourFrames() {
  return GifOf(20, 12,
               {Block(0, 0, 10, 6, kRed, kBlue), Block(2, 1, 10, 6, kGreen, kYellow),
                Block(4, 2, 10, 6, kCyan, kMagenta), Block(6, 3, 10, 6, kWhite, kRed)});
}

// The widget's insides, for tests that drive the host tick by tick or look at
// the control's elements and the paint cache.
inline flipreel::QtHost& HostOf(flipreel::FlipreelWidget& w) {
  return flipreel::FlipreelWidgetPrivate::get(w).host();
}
inline flipreel::Flipreel& ControlOf(flipreel::FlipreelWidget& w) {
  return flipreel::FlipreelWidgetPrivate::get(w).control();
}
inline flipreel::PictureCache& CacheOf(flipreel::FlipreelWidget& w) {
  return flipreel::FlipreelWidgetPrivate::get(w).cache();
}

// What the widget shows, as opaque pixels.
inline QImage Shot(flipreel::FlipreelWidget& w) {
  return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Drives the widget's timer by hand: after the first tick, which shows frame
// 0 again, each of the next ticks changes what the widget shows.
inline void ExpectEachTickShowsAnotherPicture(flipreel::FlipreelWidget& w, int ticks = 3) {
  HostOf(w).SetManualTicks(true);
  ASSERT_TRUE(HostOf(w).DeliverTick());
  QImage before = Shot(w);
  for (int tick = 1; tick <= ticks; ++tick) {
    ASSERT_TRUE(HostOf(w).DeliverTick());
    const QImage after = Shot(w);
    EXPECT_NE(after, before) << "tick " << tick;
    before = after;
  }
}

inline QRgb At(const QImage& image, int x, int y) {
  return image.pixel(x, y) | 0xFF000000u;
}

// Checks the colours at some places of a shot.
struct Spot {
  Spot(int x, int y, QRgb colour) : x(x), y(y), colour(colour) {}
  Spot(int x, int y, Index colour) : Spot(x, y, Rgb(colour)) {}
  int x, y;
  QRgb colour;
};
inline void ExpectSpots(const QImage& image, std::initializer_list<Spot> spots) {
  for (const Spot& p : spots) EXPECT_EQ(At(image, p.x, p.y), p.colour) << p.x << "," << p.y;
}

// A GIF written to a temporary folder.
struct GifFile {
  testfiles::TempDir dir;
  std::string path;
  explicit GifFile(const testgif::Gif& gif, const std::string& name = "test.gif")
      : path(dir.Write(name, testgif::Build(gif))) {}
  QString qpath() const { return QString::fromStdString(path); }
};

}  // namespace qttest
