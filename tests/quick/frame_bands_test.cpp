// Frames beyond the texture budget on OpenGL, where they are written over in
// place, in bands: on a real X display (Xvfb) with Qt Quick's OpenGL
// renderer. Each frame shows its own pixels, across the bands' edges too,
// smooth or not, and showing another frame makes no texture.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <string>

#include "flipreel/quick/flipreel_item.h"
#include "flipreel/quick/frame_node.h"
#include "tests/quick/quick_test_support.h"

namespace flipreel {
namespace {

// Two bands of 180 rows (each under 512 KB).
constexpr int kWidth = 400, kHeight = 360, kFrames = 4;

class FrameBands : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
      GTEST_SKIP() << "no X display for OpenGL";
    ASSERT_TRUE(dir_.isValid());
    const QUrl url = Write(QStringLiteral("stripes.gif"), kWidth, kHeight, kFrames);
    engine_.addImportPath(QStringLiteral(FLIPREEL_QML_IMPORT_PATH));
    QQmlComponent component(&engine_);
    component.setData(QStringLiteral("import Flipreel\nFlipreel { playing: false; smooth: false;"
                                     " textureBudget: 0; source: \"%1\" }")
                          .arg(url.toString())
                          .toUtf8(),
                      QUrl());
    reel_ = qobject_cast<FlipreelItem*>(component.create());
    ASSERT_NE(reel_, nullptr) << component.errorString().toStdString();
    reel_->setParentItem(window_.contentItem());
    reel_->setParent(&window_);
    reel_->setSize(QSizeF(kWidth, kHeight));
    window_.resize(kWidth, kHeight);
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    ASSERT_EQ(window_.rendererInterface()->graphicsApi(), QSGRendererInterface::OpenGL);
    ASSERT_EQ(reel_->status(), FlipreelItem::Ready);
  }

  // Writes a stripes GIF into the test's folder; its url.
  QUrl Write(const QString& name, int width, int height, int frames) {
    return QUrl::fromLocalFile(
        WriteFile(dir_, name, testgif::Build(teststripes::Stripes(width, height, frames))));
  }

  // Whether the window shows frame i pixel for pixel, on every row.
  bool Shows(int frame) { return Shows(window_.grabWindow(), frame); }
  static bool Shows(const QImage& grab, int frame) {
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; x += 13) {
        if ((grab.pixel(x, y) & 0xFFFFFFu) != teststripes::RowColour(frame, y)) return false;
      }
    }
    return true;
  }

  QTemporaryDir dir_;
  QQmlEngine engine_;
  QQuickWindow window_;
  FlipreelItem* reel_ = nullptr;
};

TEST_F(FrameBands, EachFrameShowsItsOwnPixelsAndNoneMakesATexture) {
  ASSERT_TRUE(WaitFor([&] { return Shows(0); }));
  const int64_t made = FrameNode::textures_made();
  const int64_t uploads = FrameNode::uploads();
  for (const int frame : {1, 2, 3, 0, 2}) {
    ASSERT_TRUE(reel_->jumpTo(frame));
    ASSERT_TRUE(WaitFor([&] { return Shows(frame); })) << "frame " << frame;
  }
  EXPECT_EQ(FrameNode::textures_made(), made);
  EXPECT_GE(FrameNode::uploads() - uploads, 5);
}

// Scaled up smoothly, the rows on either side of the bands' edge (picture
// row 180) blend with each other as within one texture, rather than each
// band repeating its own last row.
TEST_F(FrameBands, ASmoothFrameBlendsAcrossTheBandsEdge) {
  reel_->setSmooth(true);
  reel_->setSize(QSizeF(kWidth, 2 * kHeight));
  window_.resize(kWidth, 2 * kHeight);
  ASSERT_TRUE(reel_->jumpTo(1));
  // Window row 359 samples picture row 179.75: a quarter of row 180.
  const QColor above(teststripes::RowColour(1, 179)), below(teststripes::RowColour(1, 180));
  auto blended = [&] {
    const QColor got = window_.grabWindow().pixelColor(kWidth / 2, 359);
    auto near = [](int a, int b) { return std::abs(a - b) <= 3; };
    return near(got.red(), (3 * above.red() + below.red()) / 4) &&
           near(got.green(), (3 * above.green() + below.green()) / 4) &&
           near(got.blue(), (3 * above.blue() + below.blue()) / 4);
  };
  EXPECT_TRUE(WaitFor(blended));
}

// A load of frames of another size shows its first frame in new bands, made
// a few a window frame: until they are all there the window goes on showing
// the old frame, never nothing.
TEST_F(FrameBands, ANewSizeKeepsTheOldFrameUntilItsOwnBandsAreThere) {
  ASSERT_TRUE(reel_->jumpTo(1));
  ASSERT_TRUE(WaitFor([&] { return Shows(1); }));
  // Larger than the window, placed at its corner: the window shows the new
  // frame 0 pixel for pixel there.
  reel_->setFillMode(FlipreelItem::Pad);
  reel_->setHorizontalAlignment(FlipreelItem::AlignLeft);
  reel_->setVerticalAlignment(FlipreelItem::AlignTop);
  reel_->setAsynchronous(true);
  const QUrl larger = Write(QStringLiteral("larger.gif"), 2 * kWidth, 2 * kHeight, 40);
  ASSERT_FALSE(larger.isEmpty());
  reel_->setSource(larger);
  int old_frames = 0;
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    QCoreApplication::processEvents();
    const QImage grab = window_.grabWindow();
    if (Shows(grab, 0)) break;
    ASSERT_TRUE(Shows(grab, 1)) << "neither frame, after " << old_frames << " of the old";
    ++old_frames;
    ASSERT_LT(clock.elapsed(), 5000);
  }
  EXPECT_GT(old_frames, 0);
}

}  // namespace
}  // namespace flipreel

#if defined(__SANITIZE_THREAD__)
constexpr bool kOpenGL = false;
#else
constexpr bool kOpenGL = true;
#endif

// The display the test's fixture started, when there is one: the tests run
// on it with OpenGL; without one they are skipped. They are skipped under
// the thread sanitizer too: Qt Quick's render loop and the OpenGL driver are
// not built for it, and their own locking then reads as races.
int main(int argc, char** argv) {
  QFile number(QStringLiteral(FLIPREEL_TEST_DISPLAY_DIR "/number"));
  if (kOpenGL && number.open(QIODevice::ReadOnly)) {
    const QByteArray display = number.readAll().trimmed();
    if (!display.isEmpty()) qputenv("DISPLAY", ":" + display);
  }
  const bool x = kOpenGL && !qEnvironmentVariableIsEmpty("DISPLAY");
  qputenv("QT_QPA_PLATFORM", x ? "xcb" : "offscreen");
  QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
  ::testing::InitGoogleTest(&argc, argv);
  QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
