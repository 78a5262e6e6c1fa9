// The Flipreel QML type in a real Qt Quick window, drawn by the software
// renderer: what it loads, what the window shows tick by tick, its orders and
// passes, its errors as values, and that a hidden item takes no ticks.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <memory>
#include <span>
#include <vector>

#include "flipreel/gif/gif_composer.h"
#include "flipreel/quick/flipreel_item.h"
#include "tests/support/gif_builder.h"
#include "tests/support/http_server.h"

namespace flipreel {
namespace {

constexpr int kScale = 10;  // window pixels per GIF pixel

// Four frames on an 8 x 6 screen: a red background, then a 4 x 3 block of
// its own colour at (i, i) over what the last frame left, 20 ms each.
testgif::Gif Blocks(int loop_count = 0) {
  testgif::Gif gif;
  gif.width = 8;
  gif.height = 6;
  gif.global_palette = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00};
  gif.netscape_loop = true;
  gif.loop_count = loop_count;
  for (int i = 0; i < 4; ++i) {
    testgif::Frame f;
    f.delay_cs = 2;
    f.left = i == 0 ? 0 : i;
    f.top = i == 0 ? 0 : i;
    f.width = i == 0 ? 8 : 4;
    f.height = i == 0 ? 6 : 3;
    f.pixels.assign(f.width * f.height, static_cast<uint8_t>(i));
    gif.frames.push_back(f);
  }
  return gif;
}

// Runs the event loop until `done` holds or the time is up; whether it holds.
template <typename Done>
bool WaitFor(Done&& done, int ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < ms) QTest::qWait(5);
  return done();
}

class QuickItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    engine_.addImportPath(QStringLiteral(FLIPREEL_QML_IMPORT_PATH));
    window_.resize(8 * kScale, 6 * kScale);
    window_.setColor(Qt::white);
    window_.show();
  }

  QString Write(const QString& name, const std::string& bytes) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return path;
  }

  // A Flipreel item made by QML, with these property bindings, in the window.
  FlipreelItem* Create(const QString& bindings) {
    QQmlComponent component(&engine_);
    component.setData(
        ("import Flipreel\nFlipreel { width: " + QString::number(8 * kScale) +
         "; height: " + QString::number(6 * kScale) + "; smooth: false; " + bindings + " }")
            .toUtf8(),
        QUrl::fromLocalFile(dir_.filePath("test.qml")));
    QObject* made = component.create();
    EXPECT_NE(made, nullptr) << component.errorString().toStdString();
    auto* item = qobject_cast<FlipreelItem*>(made);
    EXPECT_NE(item, nullptr);
    item->setParentItem(window_.contentItem());
    item->setParent(&window_);
    return item;
  }

  // The GIF pixel (x, y) as the window shows it now.
  QRgb Shown(const QImage& grab, int x, int y) {
    return grab.pixel(x * kScale + kScale / 2, y * kScale + kScale / 2) & 0xFFFFFFu;
  }

  QTemporaryDir dir_;
  QQmlEngine engine_;
  QQuickWindow window_;
};

TEST_F(QuickItemTest, EachFrameTheWindowShowsIsTheComposedFrameOnShow) {
  const std::string bytes = testgif::Build(Blocks());
  const ComposedAnimation composed =
      ComposeGif(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  FlipreelItem* reel = Create("source: \"blocks.gif\"");
  (void)Write("blocks.gif", bytes);
  reel->setSource(QUrl());
  reel->setSource(QUrl(QStringLiteral("blocks.gif")));
  ASSERT_EQ(reel->status(), FlipreelItem::Ready) << reel->errorString().toStdString();
  EXPECT_EQ(reel->frameCount(), 4);
  EXPECT_EQ(reel->sourceSize(), QSize(8, 6));
  EXPECT_TRUE(reel->composed());
  EXPECT_TRUE(reel->playing());
  QSignalSpy frames(reel, &FlipreelItem::frameChanged);
  std::vector<int> seen;
  for (int round = 0; round < 6; ++round) {
    const int frame = reel->currentFrame();
    ASSERT_GE(frame, 0);
    const QImage grab = window_.grabWindow();
    // Grabbing may have let a tick through: the frame is read again.
    if (reel->currentFrame() != frame) continue;
    seen.push_back(frame);
    const PictureData& want = *composed.frames[static_cast<size_t>(frame)].picture.data();
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x)
        ASSERT_EQ(Shown(grab, x, y), want.PixelArgb(x, y) & 0xFFFFFFu)
            << "frame " << frame << " at " << x << "," << y;
    ASSERT_TRUE(frames.wait(1000));
  }
  // The frames went by in order, each a different picture.
  ASSERT_GE(seen.size(), 3u);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_NE(seen[i], seen[i - 1]);
}

TEST_F(QuickItemTest, EverySourceKindLoadsTheSameFrames) {
  const std::string bytes = testgif::Build(Blocks());
  const QString path = Write("blocks.gif", bytes);
  testhttp::HttpServer server;
  testhttp::Route slow;
  slow.body = bytes;
  slow.chunk_size = bytes.size() / 4 + 1;
  slow.chunk_delay = std::chrono::milliseconds(20);
  server.Serve("/blocks.gif", slow);
  server.Serve("/missing.gif", testhttp::Route{404});
  const struct {
    QString source;
    int frames;  // -1: the load fails; 0: any number above one
  } cases[] = {
      {QUrl::fromLocalFile(path).toString(), 4},
      {QStringLiteral("blocks.gif"), 4},  // relative to the QML file
      {QStringLiteral("qrc:/spinner.gif"), 0},
      {QString::fromStdString(server.Url("/blocks.gif")), 4},
      {QString::fromStdString(server.Url("/missing.gif")), -1},
  };
  for (const auto& c : cases) {
    FlipreelItem* reel = Create("source: \"" + c.source + "\"");
    std::vector<qreal> progress;
    QObject::connect(reel, &FlipreelItem::progressChanged, [&](qreal p) { progress.push_back(p); });
    if (c.source.startsWith(QLatin1String("http"))) {
      EXPECT_EQ(reel->status(), FlipreelItem::Loading);
      ASSERT_TRUE(WaitFor([&] { return reel->status() != FlipreelItem::Loading; }))
          << c.source.toStdString();
    }
    if (c.frames == -1) {
      EXPECT_EQ(reel->status(), FlipreelItem::Error) << c.source.toStdString();
      EXPECT_NE(reel->errorNumber(), 0);
      EXPECT_FALSE(reel->errorString().isEmpty());
      continue;
    }
    ASSERT_EQ(reel->status(), FlipreelItem::Ready)
        << c.source.toStdString() << ": " << reel->errorString().toStdString();
    if (c.frames > 0) {
      EXPECT_EQ(reel->frameCount(), c.frames) << c.source.toStdString();
    }
    EXPECT_GT(reel->frameCount(), 1);
    EXPECT_EQ(reel->progress(), 1.0);
    if (c.source.startsWith(QLatin1String("http"))) {
      // The download told of its way there.
      EXPECT_GE(progress.size(), 2u);
      EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    }
    delete reel;
  }
}

TEST_F(QuickItemTest, AnAsynchronousLoadIsReadyLaterAndTheLastSourceWins) {
  (void)Write("blocks.gif", testgif::Build(Blocks()));
  testgif::Gif two = Blocks();
  two.frames.resize(2);
  (void)Write("two.gif", testgif::Build(two));
  FlipreelItem* reel = Create("asynchronous: true; source: \"blocks.gif\"");
  EXPECT_EQ(reel->status(), FlipreelItem::Loading);
  reel->setSource(QUrl(QStringLiteral("two.gif")));
  EXPECT_EQ(reel->status(), FlipreelItem::Loading);
  ASSERT_TRUE(WaitFor([&] { return reel->status() != FlipreelItem::Loading; }));
  EXPECT_EQ(reel->status(), FlipreelItem::Ready);
  EXPECT_EQ(reel->frameCount(), 2);
  QTest::qWait(50);  // the first file's frames, composed meanwhile, are not loaded
  EXPECT_EQ(reel->frameCount(), 2);
  EXPECT_TRUE(reel->playing());
}

TEST_F(QuickItemTest, OrdersVisitTheFramesAsTheirNamesSay) {
  const QString path = Write("blocks.gif", testgif::Build(Blocks()));
  const struct {
    const char* sequence;
    std::vector<int> frames;  // shown after the load's frame 0
  } cases[] = {
      {"Flipreel.Normal", {1, 2, 3, 0, 1, 2}},
      {"Flipreel.Reverse", {3, 2, 1, 0, 3, 2}},
      {"Flipreel.PingPong", {1, 2, 3, 2, 1, 0, 1}},
  };
  for (const auto& c : cases) {
    FlipreelItem* reel =
        Create(QStringLiteral("sequence: %1; source: \"%2\"")
                   .arg(QLatin1String(c.sequence), QUrl::fromLocalFile(path).toString()));
    std::vector<int> seen;
    QObject::connect(reel, &FlipreelItem::frameChanged,
                     [&] { seen.push_back(reel->currentFrame()); });
    ASSERT_TRUE(WaitFor([&] { return seen.size() >= c.frames.size(); })) << c.sequence;
    seen.resize(c.frames.size());
    EXPECT_EQ(seen, c.frames) << c.sequence;
    delete reel;
  }
  FlipreelItem* random = Create("sequence: Flipreel.Random; source: \"blocks.gif\"");
  std::vector<int> seen;
  QObject::connect(random, &FlipreelItem::frameChanged,
                   [&] { seen.push_back(random->currentFrame()); });
  ASSERT_TRUE(WaitFor([&] { return seen.size() >= 12; }));
  for (int frame : seen) EXPECT_TRUE(frame >= 0 && frame < 4) << frame;
}

TEST_F(QuickItemTest, LoopsEndPlayWithFinishedOnTheLastPass) {
  (void)Write("blocks.gif", testgif::Build(Blocks()));
  FlipreelItem* reel = Create("loops: 2; source: \"blocks.gif\"");
  QSignalSpy finished(reel, &FlipreelItem::finished);
  QSignalSpy frames(reel, &FlipreelItem::frameChanged);
  ASSERT_TRUE(finished.wait(3000));
  EXPECT_FALSE(reel->playing());
  // Two passes of four frames, the first frame shown by the load.
  EXPECT_EQ(frames.count(), 7);
  QTest::qWait(100);
  EXPECT_EQ(finished.count(), 1);
  EXPECT_EQ(frames.count(), 7);
}

TEST_F(QuickItemTest, AFileThatGivesNoGifIsAnErrorStatusWithItsReason) {
  const std::string whole = testgif::Build(Blocks());
  const struct {
    const char* name;
    std::string bytes;  // none: the file is not written
    bool write;
    int number;
  } cases[] = {
      {"missing.gif", "", false, 53},
      {"empty.gif", "", true, 481},
      {"header-only.gif", whole.substr(0, 13), true, 481},
      {"not-a-gif.gif", "this is text, not a picture", true, 481},
  };
  for (const auto& c : cases) {
    if (c.write) (void)Write(c.name, c.bytes);
    FlipreelItem* reel = Create(QStringLiteral("source: \"%1\"").arg(QLatin1String(c.name)));
    EXPECT_EQ(reel->status(), FlipreelItem::Error) << c.name;
    EXPECT_EQ(reel->errorNumber(), c.number) << c.name;
    EXPECT_FALSE(reel->errorString().isEmpty()) << c.name;
    EXPECT_EQ(reel->frameCount(), 0) << c.name;
    // A good file afterwards clears the error.
    (void)Write("good.gif", whole);
    reel->setSource(QUrl(QStringLiteral("good.gif")));
    EXPECT_EQ(reel->status(), FlipreelItem::Ready) << c.name;
    EXPECT_EQ(reel->errorNumber(), 0);
    EXPECT_TRUE(reel->errorString().isEmpty());
    delete reel;
  }
}

TEST_F(QuickItemTest, AFileCutShortKeepsTheFramesBeforeTheCut) {
  const std::string whole = testgif::Build(Blocks());
  (void)Write("cut.gif", whole.substr(0, whole.size() - 20));
  FlipreelItem* reel = Create("source: \"cut.gif\"");
  EXPECT_GE(reel->frameCount(), 1);
  EXPECT_LT(reel->frameCount(), 4);
  // What could be read plays, as a browser shows it: not an error.
  EXPECT_EQ(reel->status(), FlipreelItem::Ready);
  EXPECT_EQ(reel->errorNumber(), 0);
}

TEST_F(QuickItemTest, AHiddenItemTakesNoTicksAndCatchesUpWhenShown) {
  (void)Write("blocks.gif", testgif::Build(Blocks()));
  FlipreelItem* reel = Create("source: \"blocks.gif\"");
  QTest::qWait(100);
  EXPECT_GT(reel->ticksTaken(), 0);
  reel->setVisible(false);
  const qint64 hidden_at = reel->ticksTaken();
  QTest::qWait(300);
  EXPECT_EQ(reel->ticksTaken(), hidden_at);
  // Shown again, the ticks that fell due are taken at once: about fifteen.
  reel->setVisible(true);
  EXPECT_GE(reel->ticksTaken(), hidden_at + 10);
  // The same for a window that is hidden.
  window_.hide();
  const qint64 window_hidden_at = reel->ticksTaken();
  QTest::qWait(200);
  EXPECT_EQ(reel->ticksTaken(), window_hidden_at);
}

TEST_F(QuickItemTest, PausedHoldsTheFrameAndGoesOnFromIt) {
  (void)Write("blocks.gif", testgif::Build(Blocks()));
  FlipreelItem* reel = Create("source: \"blocks.gif\"");
  reel->setPaused(true);
  const int frame = reel->currentFrame();
  const qint64 ticks = reel->ticksTaken();
  QTest::qWait(200);
  EXPECT_EQ(reel->currentFrame(), frame);
  reel->setPaused(false);
  // No ticks fell due while paused.
  EXPECT_LE(reel->ticksTaken(), ticks + 1);
  QSignalSpy frames(reel, &FlipreelItem::frameChanged);
  EXPECT_TRUE(frames.wait(1000));
}

TEST_F(QuickItemTest, FrameDelaysAndJumpsFollowTheFile) {
  testgif::Gif gif = Blocks();
  gif.frames[2].delay_cs = 50;
  (void)Write("blocks.gif", testgif::Build(gif));
  FlipreelItem* reel = Create("source: \"blocks.gif\"; playing: false");
  // Told not to play, the item loads without starting, and stays so.
  EXPECT_FALSE(reel->playing());
  EXPECT_EQ(reel->frameDelay(0), 20);
  EXPECT_EQ(reel->frameDelay(2), 500);
  EXPECT_EQ(reel->frameDelay(4), -1);
  EXPECT_TRUE(reel->jumpTo(2));
  EXPECT_EQ(reel->currentFrame(), 2);
  EXPECT_EQ(Shown(window_.grabWindow(), 2, 2), 0x0000FFu);
  EXPECT_FALSE(reel->jumpTo(7));
  EXPECT_FALSE(reel->playing());
}

TEST_F(QuickItemTest, ClassicPlayShowsEachImageAloneAtItsOffset) {
  (void)Write("blocks.gif", testgif::Build(Blocks()));
  FlipreelItem* reel = Create("composed: false; source: \"blocks.gif\"; playing: false");
  ASSERT_EQ(reel->status(), FlipreelItem::Ready);
  EXPECT_EQ(reel->sourceSize(), QSize(8, 6));
  ASSERT_TRUE(reel->jumpTo(1));
  const QImage grab = window_.grabWindow();
  EXPECT_EQ(Shown(grab, 1, 1), 0x00FF00u);  // the block at (1, 1)
  EXPECT_EQ(Shown(grab, 0, 0), 0xFFFFFFu);  // nothing of frame 0 left
  // Switched on, the same frames are composed.
  reel->setComposed(true);
  ASSERT_TRUE(reel->jumpTo(1));
  EXPECT_EQ(Shown(window_.grabWindow(), 0, 0), 0xFF0000u);
}

TEST_F(QuickItemTest, FillModesPlaceTheFrameAsImageDoes) {
  (void)Write("blocks.gif", testgif::Build(Blocks()));
  window_.resize(160, 60);
  FlipreelItem* reel = Create("source: \"blocks.gif\"; playing: false");
  reel->setWidth(160);
  const struct {
    FlipreelItem::FillMode mode;
    int left;   // first window column of the picture
    int right;  // last
  } cases[] = {
      {FlipreelItem::Stretch, 0, 159},
      {FlipreelItem::PreserveAspectFit, 40, 119},
      {FlipreelItem::Pad, 76, 83},
  };
  for (const auto& c : cases) {
    reel->setFillMode(c.mode);
    const QImage grab = window_.grabWindow();
    int left = -1, right = -1;
    for (int x = 0; x < grab.width(); ++x) {
      if ((grab.pixel(x, 3 * grab.height() / 6 + 1) & 0xFFFFFFu) == 0xFFFFFFu) continue;
      if (left < 0) left = x;
      right = x;
    }
    EXPECT_EQ(left, c.left) << c.mode;
    EXPECT_EQ(right, c.right) << c.mode;
  }
}

}  // namespace
}  // namespace flipreel

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  ::testing::InitGoogleTest(&argc, argv);
  QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
