// What FlipreelWidget shows, pixel by pixel, on Qt's offscreen platform, in
// the screen's own pixels (15 twips each at 96 DPI).
#include <gtest/gtest.h>

#include "flipreel/control/flipreel.h"
#include "flipreel/headless/headless_host.h"
#include "tests/qt/qt_test_support.h"

using namespace flipreel;
using namespace qttest;

namespace {

QRgb ButtonFace(const QWidget& w) {
  return w.palette().color(QPalette::Active, QPalette::Button).rgb();
}

// How many pixels of the line from (x, y), dx and dy a step, have the colour.
int CountOnLine(const QImage& s, QRgb colour, int x, int y, int dx, int dy) {
  int count = 0;
  for (; x < s.width() && y < s.height(); x += dx, y += dy) count += At(s, x, y) == colour;
  return count;
}

// A widget driven tick by tick, with a GIF loaded the way the tool does it:
// layout options first, then the file.
struct Loaded {
  GifFile file;
  FlipreelWidget w;
  explicit Loaded(const testgif::Gif& gif, bool border = false, bool autosize = false,
                  bool stretch = false)
      : file(gif) {
    w.setComposed(false);  // the classic frames: each image alone at its offset
    HostOf(w).SetManualTicks(true);
    if (border) w.setBorderStyle(1);
    if (autosize) w.setAutoSize(true);
    if (stretch) w.setStretch(true);
    w.setFlipreelFile(file.qpath());
  }
};

TEST(WidgetPaint, FirstFrameAtTheTopLeftAndLaterFramesAtTheirOffsets) {
  Loaded l(FourFrames());
  ASSERT_FALSE(l.w.lastError()) << l.w.lastError().description.toStdString();
  ASSERT_EQ(l.w.size(), QSize(205, 130));  // 3075 x 1950 twips
  const QRgb face = ButtonFace(l.w);
  ExpectSpots(Shot(l.w), {{0, 0, kRed}, {4, 5, kRed}, {5, 0, kBlue}, {9, 5, kBlue}});
  ExpectSpots(Shot(l.w), {{10, 0, face}, {0, 6, face}});

  // The first tick shows frame 0 again, the second frame 1 at (2, 1).
  HostOf(l.w).DeliverTick();
  HostOf(l.w).DeliverTick();
  const QImage s = Shot(l.w);
  ExpectSpots(s, {{1, 1, face}, {2, 0, face}, {2, 1, kGreen}, {11, 6, kYellow}, {12, 6, face}});
}

TEST(WidgetPaint, BorderInsetsTheFrameAndOutlinesTheControlInBorderColor) {
  GifFile file(FourFrames());
  FlipreelWidget w;
  w.setBorderStyle(1);
  w.setBorderColorValue(ColorValueOf(kMagenta));
  w.setFlipreelFile(file.qpath());
  QImage s = Shot(w);
  // 10 twips in: the frame starts at pixel 1.
  const QRgb face = ButtonFace(w);
  ExpectSpots(s, {{1, 1, kRed}, {10, 6, kBlue}, {11, 1, face}, {1, 128, face}, {203, 100, face}});
  EXPECT_EQ(CountOnLine(s, Rgb(kMagenta), 0, 0, 1, 0), 205);
  EXPECT_EQ(CountOnLine(s, Rgb(kMagenta), 0, 129, 1, 0), 205);
  EXPECT_EQ(CountOnLine(s, Rgb(kMagenta), 0, 0, 0, 1), 130);
  EXPECT_EQ(CountOnLine(s, Rgb(kMagenta), 204, 0, 0, 1), 130);

  // Styles 2 to 5 draw broken outlines, 6 a solid one.
  for (const int style : {2, 3, 4, 5, 6}) {
    w.setBorderStyle(style);
    ASSERT_FALSE(w.lastError());
    s = Shot(w);
    const int on = CountOnLine(s, Rgb(kMagenta), 0, 0, 1, 0);
    EXPECT_EQ(on == s.width(), style == 6) << "style " << style;
    EXPECT_GT(on, 0) << "style " << style;
  }
}

TEST(WidgetPaint, BackColorFillsTheControlWithRgbOrSystemColours) {
  FlipreelWidget probe;
  const QPalette& pal = probe.palette();
  struct Row {
    int32_t value;
    QRgb expected;
  };
  // The palette roles of the system colours are the colour table's business.
  for (const Row& row :
       {Row{0x00336699, 0xFF996633}, Row{SystemColor(5), pal.color(QPalette::Base).rgb()}}) {
    FlipreelWidget w;
    w.setBackColorValue(row.value);
    EXPECT_EQ(w.backColorValue(), row.value);
    EXPECT_EQ(At(Shot(w), 100, 60), row.expected) << std::hex << row.value;
  }
}

// Transparent pixels show what lies below: the back colour, or the background
// picture, which shows only over an opaque background.
TEST(WidgetPaint, TransparentPixelsAndTheBackgroundPicture) {
  testgif::Frame frame = Block(0, 0, 10, 6, kRed, kBlack);
  frame.transparent = kBlack;
  GifFile file(GifOf(10, 6, {frame}));
  FlipreelWidget w;
  w.setBackColorValue(ColorValueOf(kGreen));
  w.setFlipreelFile(file.qpath());
  ExpectSpots(Shot(w), {{2, 2, kRed}, {7, 2, kGreen}});

  QImage picture(30, 20, QImage::Format_RGB32);
  picture.fill(QColor(255, 255, 0));
  w.setBackGroundGraphic(picture);
  ExpectSpots(Shot(w), {{2, 2, kRed}, {7, 2, kYellow}, {40, 10, kGreen}});
  w.setBackStyle(0);
  EXPECT_NE(At(Shot(w), 20, 10), Rgb(kYellow));
  w.setBackStyle(1);  // back without setting the picture again
  EXPECT_EQ(At(Shot(w), 20, 10), Rgb(kYellow));
  EXPECT_EQ(w.BackGroundGraphic().toImage().pixel(5, 5) | 0xFF000000u, Rgb(kYellow));
}

TEST(WidgetPaint, StretchScalesTheFrameToTheControl) {
  testgif::Frame quad;
  quad.width = 2;
  quad.height = 2;
  quad.pixels = {kRed, kBlue, kGreen, kYellow};
  Loaded l(GifOf(2, 2, {quad}), /*border=*/false, /*autosize=*/false, /*stretch=*/true);
  const QImage s = Shot(l.w);
  ExpectSpots(s, {{0, 0, kRed}, {100, 63, kRed}, {104, 66, kYellow}, {150, 30, kBlue}});
  ExpectSpots(s, {{50, 100, kGreen}, {204, 129, kYellow}});
}

TEST(WidgetPaint, AutoSizeSizesTheWidgetToTheFramesPlusTheBorder) {
  struct Row {
    bool border;
    QSize expected;  // first frame 10 x 6 plus the largest offsets (6, 3)
  };
  for (const Row& row : {Row{false, QSize(16, 9)}, Row{true, QSize(18, 11)}}) {
    Loaded l(FourFrames(), row.border, /*autosize=*/true);
    ASSERT_FALSE(l.w.lastError()) << l.w.lastError().description.toStdString();
    EXPECT_EQ(l.w.size(), row.expected) << "border " << row.border;
    EXPECT_EQ(l.w.sizeHint(), row.expected);
    EXPECT_FLOAT_EQ(HostOf(l.w).SurfaceWidth(),
                    row.expected.width() * HostOf(l.w).TwipsPerPixelX());
  }
}

// The widget plays exactly what the control plays on the headless host.
TEST(WidgetPaint, PlayedSequenceMatchesTheHeadlessHostTickByTick) {
  struct Row {
    int sequence;
    int auto_rewind;
    bool border;
  };
  const testgif::Gif gif = FourFrames();
  GifFile file(gif);
  auto shown = [](const Flipreel& c) {
    for (int32_t i = 0; i <= c.state().LastFrame; ++i)
      if (c.imgBuffer()(i).picture() == c.imgGif().picture()) return i;
    return -1;
  };
  for (const Row& row : {Row{0, 1, false}, Row{1, 1, true}, Row{3, 0, false}, Row{3, 2, true}}) {
    HeadlessHost headless;
    Flipreel reference(headless);
    reference.InitProperties();
    FlipreelWidget w;
    w.setComposed(false);  // the reference is the classic control
    HostOf(w).SetManualTicks(true);
    const float tppx = HostOf(w).TwipsPerPixelX(), tppy = HostOf(w).TwipsPerPixelY();
    headless.SetTwipsPerPixel(tppx, tppy);  // the same twips on both
    if (row.border) {
      reference.SetBorderStyle(1);
      w.setBorderStyle(1);
    }
    reference.SetFlipreelFile(Utf8ToText(file.path));
    w.setFlipreelFile(file.qpath());
    reference.SetSequence(row.sequence);
    w.setSequence(row.sequence);
    reference.SetAutoRewind(static_cast<int16_t>(row.auto_rewind));
    w.setAutoRewind(row.auto_rewind);
    for (int tick = 1; tick <= 20; ++tick) {
      SCOPED_TRACE(testing::Message() << "sequence " << row.sequence << " tick " << tick);
      ASSERT_EQ(headless.DeliverTick(), HostOf(w).DeliverTick());
      const Flipreel& c = ControlOf(w);
      const int index = shown(reference);
      ASSERT_GE(index, 0);
      ASSERT_EQ(shown(c), index);
      ASSERT_EQ(c.imgGif().left(), reference.imgGif().left());
      ASSERT_EQ(c.imgGif().top(), reference.imgGif().top());
      ASSERT_EQ(c.CurrentFrame(), reference.CurrentFrame());
      ASSERT_EQ(c.Timer1().enabled(), reference.Timer1().enabled());
      // And on screen: the shown frame's left colour at its place.
      const QImage s = Shot(w);
      const int x = static_cast<int>(std::lround(reference.imgGif().left() / tppx));
      const int y = static_cast<int>(std::lround(reference.imgGif().top() / tppy));
      ASSERT_EQ(At(s, x, y), Rgb(static_cast<Index>(gif.frames[index].pixels[0])));
    }
  }
}

}  // namespace
