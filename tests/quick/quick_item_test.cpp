// The Flipreel QML type in a real Qt Quick window, drawn by the software
// renderer: what it loads, what the window shows tick by tick, its orders and
// passes, its errors as values, and that an item that cannot be seen takes
// no ticks.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <span>
#include <vector>

#include "flipreel/gif/gif_composer.h"
#include "flipreel/host/memory_budget.h"
#include "flipreel/qt/picture_cache.h"
#include "flipreel/quick/flipreel_item.h"
#include "flipreel/quick/frame_node.h"
#include "tests/quick/quick_test_support.h"
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

class QuickItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    engine_.addImportPath(QStringLiteral(FLIPREEL_QML_IMPORT_PATH));
    window_.resize(8 * kScale, 6 * kScale);
    window_.setColor(Qt::white);
    window_.show();
    blocks_ = Write("blocks.gif", testgif::Build(Blocks()));
  }

  QString Write(const QString& name, const std::string& bytes) {
    return WriteFile(dir_, name, bytes);
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
  QString blocks_;  // Blocks() as blocks.gif, beside the QML file
  QQmlEngine engine_;
  QQuickWindow window_;
};

TEST_F(QuickItemTest, EachFrameTheWindowShowsIsTheComposedFrameOnShow) {
  const std::string bytes = testgif::Build(Blocks());
  const ComposedAnimation composed =
      ComposeGif(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  FlipreelItem* reel = Create("source: \"missing.gif\"");
  reel->setSource(QUrl());
  reel->setSource(QUrl(QStringLiteral("blocks.gif")));
  ASSERT_EQ(reel->status(), FlipreelItem::Ready) << reel->errorString().toStdString();
  EXPECT_EQ(reel->frameCount(), 4);
  EXPECT_EQ(reel->sourceSize(), QSize(8, 6));
  // As Image's, the item's implicit size is the picture's.
  EXPECT_EQ(QSizeF(reel->implicitWidth(), reel->implicitHeight()), QSizeF(8, 6));
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
  testhttp::HttpServer server;
  testhttp::Route slow;
  slow.body = bytes;
  slow.chunk_size = bytes.size() / 4 + 1;
  slow.chunk_delay = std::chrono::milliseconds(20);
  server.Serve("/blocks.gif", slow);
  const struct {
    QString source;
    int frames;  // 0: any number above one
  } cases[] = {
      {QUrl::fromLocalFile(blocks_).toString(), 4},
      {QStringLiteral("blocks.gif"), 4},  // relative to the QML file
      {QStringLiteral("qrc:/spinner.gif"), 0},
      {QString::fromStdString(server.Url("/blocks.gif")), 4},
  };
  for (const auto& c : cases) {
    FlipreelItem* reel = Create("source: \"" + c.source + "\"");
    std::vector<qreal> progress;
    QObject::connect(reel, &FlipreelItem::progressChanged, [&](qreal p) { progress.push_back(p); });
    // Play starts with the frames loaded and the status told.
    QObject::connect(reel, &FlipreelItem::playingChanged, [&](bool playing) {
      if (playing) {
        EXPECT_EQ(reel->status(), FlipreelItem::Ready) << c.source.toStdString();
        EXPECT_GT(reel->frameCount(), 0) << c.source.toStdString();
      }
    });
    if (c.source.startsWith(QLatin1String("http"))) {
      EXPECT_EQ(reel->status(), FlipreelItem::Loading);
      ASSERT_TRUE(WaitFor([&] { return reel->status() != FlipreelItem::Loading; }))
          << c.source.toStdString();
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

// Made in C++ rather than by QML, an item is complete at once: it loads
// what it is given, and plays while its window shows it; with no window, it
// takes no ticks.
TEST_F(QuickItemTest, AnItemMadeInCppLoadsItsSourceAndPlays) {
  auto reel = std::make_unique<FlipreelItem>(window_.contentItem());
  reel->setSize(QSizeF(8 * kScale, 6 * kScale));
  reel->setSource(QUrl::fromLocalFile(blocks_));
  EXPECT_EQ(reel->status(), FlipreelItem::Ready);
  EXPECT_EQ(reel->frameCount(), 4);
  QSignalSpy frames(reel.get(), &FlipreelItem::frameChanged);
  EXPECT_TRUE(frames.wait(1000));
  auto alone = std::make_unique<FlipreelItem>();
  alone->setSource(QUrl::fromLocalFile(blocks_));
  EXPECT_EQ(alone->frameCount(), 4);
  window_.hide();
  const qint64 hidden_at = reel->ticksTaken();
  QTest::qWait(200);
  EXPECT_EQ(reel->ticksTaken(), hidden_at);
  EXPECT_EQ(alone->ticksTaken(), 0);
}

TEST_F(QuickItemTest, AnAsynchronousLoadIsReadyLaterAndTheLastSourceWins) {
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
                   .arg(QLatin1String(c.sequence), QUrl::fromLocalFile(blocks_).toString()));
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
  // A number that names no order is refused: play goes on in the order it had.
  random->setSequence(static_cast<FlipreelItem::Sequence>(9));
  EXPECT_EQ(random->sequence(), FlipreelItem::Random);
}

TEST_F(QuickItemTest, LoopsEndPlayWithFinishedOnTheLastPass) {
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

TEST_F(QuickItemTest, ASourceThatGivesNoGifIsAnErrorStatusWithTheControlsOwnError) {
  const std::string whole = testgif::Build(Blocks());
  testgif::Gif huge = Blocks();
  huge.width = huge.height = 65535;  // a screen beyond the memory budget
  testhttp::HttpServer server;
  server.Serve("/missing.gif", testhttp::Route{404});
  const struct {
    QString source;
    std::string bytes;  // written to the file named, unless it is "missing"
    int number;         // 0: Ready, with part of the frames
    const char* says;
    qint64 grown_to = 0;  // the file made this long, past its bytes
  } cases[] = {
      {"missing.gif", "", 53, "File not found"},
      {"empty.gif", "", 481, "Invalid picture"},
      {"header-only.gif", whole.substr(0, 13), 481, "Invalid picture"},
      {"not-a-gif.gif", "this is text, not a picture", 481, "Invalid picture"},
      // The control tells of these in a message; its error is the item's.
      {"huge.gif", testgif::Build(huge), 7, "memory"},
      // Refused before it is read, as any host's file reads refuse it.
      {"too-long.gif", whole, 7, "64 MB", kMaxGifFileBytes + 1},
      {QString::fromStdString(server.Url("/missing.gif")), "", 31004, "404"},
      // What could be read plays, as a browser shows it.
      {"cut.gif", whole.substr(0, whole.size() - 20), 0, ""},
  };
  (void)Write("good.gif", whole);
  for (const auto& c : cases) {
    const std::string name = c.source.toStdString();
    if (!c.source.contains(u':') && !c.source.startsWith(u"missing"))
      (void)Write(c.source, c.bytes);
    if (c.grown_to > 0) {
      ASSERT_TRUE(QFile::resize(dir_.filePath(c.source), c.grown_to));
    }
    // The item showed a GIF before: an error leaves nothing on show.
    FlipreelItem* reel = Create("source: \"good.gif\"");
    reel->setSource(QUrl(c.source));
    ASSERT_TRUE(WaitFor([&] { return reel->status() != FlipreelItem::Loading; })) << name;
    EXPECT_EQ(reel->status(), c.number ? FlipreelItem::Error : FlipreelItem::Ready) << name;
    EXPECT_EQ(reel->errorNumber(), c.number) << name;
    EXPECT_TRUE(reel->errorString().contains(QLatin1String(c.says)))
        << name << ": " << reel->errorString().toStdString();
    if (c.number) {
      EXPECT_EQ(reel->frameCount(), 0) << name;
      EXPECT_FALSE(reel->playing()) << name;
    } else {
      EXPECT_TRUE(reel->frameCount() > 0 && reel->frameCount() < 4) << name;
    }
    // A good file afterwards clears the error.
    reel->setSource(QUrl(QStringLiteral("good.gif")));
    EXPECT_EQ(reel->status(), FlipreelItem::Ready) << name;
    EXPECT_EQ(reel->errorNumber(), 0);
    EXPECT_TRUE(reel->errorString().isEmpty());
    delete reel;
  }
  // The end of each load is told, as Image tells it, when the status stays
  // what it was too: a handler that falls back to another source on Error
  // hears each failure, and one waiting for Ready each new GIF. The new
  // GIF's first frame is told as AnimatedImage tells it, though its number
  // is the old frame's.
  FlipreelItem* reel = Create("playing: false; source: \"good.gif\"");
  QSignalSpy told(reel, &FlipreelItem::statusChanged);
  QSignalSpy frames(reel, &FlipreelItem::frameChanged);
  for (const char* source : {"cut.gif", "missing.gif", "empty.gif", "", ""})
    reel->setSource(QUrl(QString::fromLatin1(source)));
  EXPECT_EQ(told.count(), 4);
  EXPECT_EQ(frames.count(), 2);  // cut.gif's frame 0, then none
}

TEST_F(QuickItemTest, AHiddenItemTakesNoTicksAndCatchesUpAtItsSpeedWhenShown) {
  const struct {
    qreal set;
    qreal pace;  // nonsense is taken as 1
  } cases[] = {{1, 1}, {3, 3}, {0.5, 0.5}, {0, 1}, {-2, 1}};
  for (const auto& c : cases) {
    QElapsedTimer outer, inner;
    outer.start();  // before the item's clock starts
    FlipreelItem* reel = Create(QStringLiteral("speed: %1; source: \"blocks.gif\"").arg(c.set));
    EXPECT_EQ(reel->speed(), c.pace) << c.set;
    reel->setVisible(false);
    const qint64 ticks = reel->ticksTaken();
    inner.start();
    QTest::qWait(300);
    EXPECT_EQ(reel->ticksTaken(), ticks) << c.set;
    const qint64 least = inner.elapsed();
    // Shown again, it takes at once the ticks that fell due on its clock:
    // one per 20 ms frame at pace 1.
    reel->setVisible(true);
    const qint64 most = outer.elapsed();
    const qint64 caught = reel->ticksTaken() - ticks;
    EXPECT_GE(caught, static_cast<qint64>(std::floor(least * c.pace / 20)) - 1) << c.set;
    EXPECT_LE(caught, static_cast<qint64>(std::ceil(most * c.pace / 20)) + 1) << c.set;
    delete reel;
  }
  // The same for a window that is hidden, or minimised (shown, but not seen).
  FlipreelItem* reel = Create("source: \"blocks.gif\"");
  for (const bool minimised : {false, true}) {
    if (minimised) {
      window_.showMinimized();
    } else {
      window_.hide();
    }
    const qint64 window_hidden_at = reel->ticksTaken();
    QTest::qWait(200);
    EXPECT_EQ(reel->ticksTaken(), window_hidden_at) << minimised;
    window_.showNormal();
    EXPECT_GT(reel->ticksTaken(), window_hidden_at) << minimised;
  }
}

TEST_F(QuickItemTest, AnItemThatCannotBeSeenTakesNoTicksAndCatchesUpWhenSeenAgain) {
  // The item fills a Flickable that clips it and fills the window.
  QQmlComponent component(&engine_);
  component.setData(QStringLiteral("import QtQuick\nimport Flipreel\n"
                                   "Flickable { objectName: 'view'; width: %1; height: %2; "
                                   "clip: true; contentWidth: %1; contentHeight: 10 * %2\n"
                                   "  Item { objectName: 'holder'\n"
                                   "    Flipreel { objectName: 'reel'; width: %1; height: %2; "
                                   "source: 'blocks.gif' } } }")
                        .arg(8 * kScale)
                        .arg(6 * kScale)
                        .toUtf8(),
                    QUrl::fromLocalFile(dir_.filePath("test.qml")));
  auto* view = qobject_cast<QQuickItem*>(component.create());
  ASSERT_NE(view, nullptr) << component.errorString().toStdString();
  view->setParentItem(window_.contentItem());
  view->setParent(&window_);
  auto* reel = view->findChild<FlipreelItem*>(QStringLiteral("reel"));
  ASSERT_NE(reel, nullptr);
  ASSERT_EQ(reel->status(), FlipreelItem::Ready);
  const struct {
    const char* name;
    const char* object;
    const char* property;
    QVariant away, back;
    bool seen;  // whether any of it is still seen, away
  } cases[] = {
      {"scrolled out of the Flickable", "view", "contentY", 6 * kScale, 0, false},
      {"its last row scrolled in", "view", "contentY", 6 * kScale - 1, 0, true},
      {"outside the window", "view", "x", 8 * kScale, 0, false},
      {"its first column in the window", "view", "x", 8 * kScale - 1, 0, true},
      {"transparent", "reel", "opacity", 0.0, 1.0, false},
      {"nearly transparent", "reel", "opacity", 0.01, 1.0, true},
      {"in a transparent item", "holder", "opacity", 0.0, 1.0, false},
  };
  for (const auto& c : cases) {
    QObject* target = window_.findChild<QObject*>(QString::fromLatin1(c.object));
    ASSERT_NE(target, nullptr) << c.name;
    QElapsedTimer away;
    away.start();
    ASSERT_TRUE(target->setProperty(c.property, c.away)) << c.name;
    QTest::qWait(40);  // the window draws the change
    const qint64 away_at = reel->ticksTaken();
    if (c.seen) {
      EXPECT_TRUE(WaitFor([&] { return reel->ticksTaken() > away_at + 3; }, 2000)) << c.name;
    } else {
      QTest::qWait(300);
      EXPECT_EQ(reel->ticksTaken(), away_at) << c.name;
    }
    // Seen again, it takes the ticks that fell due meanwhile, one per 20 ms.
    const qint64 least = away.elapsed();
    ASSERT_TRUE(target->setProperty(c.property, c.back)) << c.name;
    EXPECT_TRUE(
        WaitFor([&] { return reel->ticksTaken() >= away_at + (least - 40) / 20 - 1; }, 1000))
        << c.name;
    EXPECT_LE(reel->ticksTaken() - away_at, away.elapsed() / 20 + 2) << c.name;
  }
  // Told not to pause, it plays on out of sight (an effect may show it).
  reel->setPauseWhenHidden(false);
  view->setProperty("contentY", 6 * kScale);
  QTest::qWait(40);
  const qint64 out_at = reel->ticksTaken();
  EXPECT_TRUE(WaitFor([&] { return reel->ticksTaken() > out_at + 3; }, 2000));
}

TEST_F(QuickItemTest, PausedHoldsTheFrameAndGoesOnFromIt) {
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
  const std::string bytes = testgif::Build(gif);
  (void)Write("blocks.gif", bytes);
  testhttp::HttpServer server;
  testhttp::Route route;
  route.body = bytes;
  server.Serve("/blocks.gif", route);
  // A frame declared beside the source is where the loaded GIF stands, a
  // download's included.
  for (const QString& source :
       {QStringLiteral("blocks.gif"), QString::fromStdString(server.Url("/blocks.gif"))}) {
    FlipreelItem* declared = Create("playing: false; currentFrame: 3; source: \"" + source + "\"");
    ASSERT_TRUE(WaitFor([&] { return declared->status() == FlipreelItem::Ready; }))
        << source.toStdString();
    EXPECT_EQ(declared->currentFrame(), 3) << source.toStdString();
    delete declared;
  }
  FlipreelItem* reel = Create("source: \"blocks.gif\"; playing: false; currentFrame: 3");
  // Told not to play, the item loads without starting, and stays so.
  EXPECT_FALSE(reel->playing());
  EXPECT_EQ(reel->frameDelay(0), 20);
  EXPECT_EQ(reel->frameDelay(2), 500);
  EXPECT_EQ(reel->frameDelay(4), -1);
  // A jump tells of the frame it reaches, not of the frames it passed on the
  // way (0 and 1) nor of a play that lasted no longer than the jump.
  QSignalSpy frames(reel, &FlipreelItem::frameChanged);
  QSignalSpy playing(reel, &FlipreelItem::playingChanged);
  EXPECT_TRUE(reel->jumpTo(2));
  EXPECT_EQ(reel->currentFrame(), 2);
  EXPECT_EQ(frames.count(), 1);
  EXPECT_EQ(playing.count(), 0);
  EXPECT_EQ(Shown(window_.grabWindow(), 2, 2), 0x0000FFu);
  EXPECT_FALSE(reel->jumpTo(7));
  EXPECT_FALSE(reel->playing());
}

// Qt's messages while it lives.
class Logged {
 public:
  Logged() : previous_(qInstallMessageHandler(&Logged::Keep)) { lines().clear(); }
  ~Logged() { qInstallMessageHandler(previous_); }
  static QStringList& lines() {
    static QStringList kept;
    return kept;
  }

 private:
  static void Keep(QtMsgType, const QMessageLogContext&, const QString& text) { lines() << text; }
  QtMessageHandler previous_;
};

// A handler that reads its own property by name, as QML developers write
// them (onStatusChanged: if (status === Flipreel.Error) ...), reads the new
// value, and nothing is logged on the way.
TEST_F(QuickItemTest, ChangeHandlersReadTheirPropertyByNameWithoutAWarning) {
  const struct {
    const char* property;
    QVariant value;  // invalid: changed by the load of the missing file
  } changes[] = {
      {"playing", false},
      {"paused", true},
      {"speed", 2},
      {"sequence", FlipreelItem::Reverse},
      {"loops", 3},
      {"composed", false},
      {"fillMode", FlipreelItem::Pad},
      {"horizontalAlignment", FlipreelItem::AlignLeft},
      {"verticalAlignment", FlipreelItem::AlignTop},
      {"smooth", true},
      {"asynchronous", true},
      {"pauseWhenHidden", false},
      {"textureBudget", 0},
      {"source", QUrl(QStringLiteral("missing.gif"))},
      {"status", {}},
      {"progress", {}},
      {"errorString", {}},
      {"errorNumber", {}},
      {"frameCount", {}},
      {"sourceSize", {}},
  };
  QString handlers = QStringLiteral("property var heard: ({}); source: \"blocks.gif\"");
  for (const auto& c : changes) {
    const QString name = QString::fromLatin1(c.property);
    handlers += QStringLiteral("\non%1%2Changed: heard['%3'] = String(%3)")
                    .arg(name.left(1).toUpper(), name.mid(1), name);
  }
  FlipreelItem* reel = Create(handlers);
  const Logged logged;
  for (const auto& c : changes) {
    if (c.value.isValid()) {
      ASSERT_TRUE(reel->setProperty(c.property, c.value)) << c.property;
    }
  }
  // Each handler ran, and the last value it read is the property's.
  const QVariantMap heard = reel->property("heard").toMap();
  for (const auto& c : changes) {
    const QString name = QString::fromLatin1(c.property);
    QQmlExpression now(qmlContext(reel), reel, "String(" + name + ")");
    EXPECT_EQ(heard.value(name).toString(), now.evaluate().toString()) << c.property;
  }
  EXPECT_EQ(heard.value(QStringLiteral("status")).toInt(), FlipreelItem::Error);
  EXPECT_TRUE(logged.lines().isEmpty()) << logged.lines().join(u'\n').toStdString();
}

TEST_F(QuickItemTest, ClassicPlayShowsEachImageAloneAtItsOffset) {
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
  window_.resize(170, 60);
  FlipreelItem* reel = Create("source: \"blocks.gif\"; playing: false");
  ASSERT_TRUE(reel->jumpTo(1));  // red, with a green block from GIF pixel (1, 1)
  // A value that is not one of Image's fill modes (3 is its Tile) is refused.
  reel->setFillMode(static_cast<FlipreelItem::FillMode>(3));
  EXPECT_EQ(reel->fillMode(), FlipreelItem::Stretch);
  const struct {
    FlipreelItem::FillMode mode;
    int width;
    bool smooth;
    int left;   // first window column of the picture
    int right;  // last
  } cases[] = {
      {FlipreelItem::Stretch, 160, false, 0, 159},
      {FlipreelItem::PreserveAspectFit, 160, false, 40, 119},
      {FlipreelItem::Pad, 160, false, 76, 83},
      // Centred in an odd width, the picture lies on whole pixels, where
      // Image puts it: drawn smooth at 1:1 it is the GIF's own pixels.
      {FlipreelItem::PreserveAspectFit, 161, true, 40, 119},
      {FlipreelItem::Pad, 161, true, 76, 83},
      {FlipreelItem::Pad, 167, true, 79, 86},
  };
  for (const auto& c : cases) {
    reel->setWidth(c.width);
    reel->setSmooth(c.smooth);
    reel->setFillMode(c.mode);
    const QImage grab = window_.grabWindow();
    int left = -1, right = -1;
    for (int x = 0; x < grab.width(); ++x) {
      const QRgb pixel = grab.pixel(x, 3 * grab.height() / 6 + 1) & 0xFFFFFFu;
      if (pixel == 0xFFFFFFu) continue;
      if (left < 0) left = x;
      right = x;
      EXPECT_TRUE(c.mode != FlipreelItem::Pad || pixel == 0xFF0000u || pixel == 0x00FF00u)
          << c.mode << " " << c.width << " at " << x << ": " << std::hex << pixel;
    }
    EXPECT_EQ(left, c.left) << c.mode << " " << c.width;
    EXPECT_EQ(right, c.right) << c.mode << " " << c.width;
  }
}

TEST_F(QuickItemTest, ASmoothFrameScaledUpBlendsItsPixels) {
  FlipreelItem* reel = Create("source: \"blocks.gif\"; playing: false");
  ASSERT_TRUE(reel->jumpTo(1));  // red, with a green block from GIF pixel (1, 1)
  // Across the edge at window x 10: red, then green; smooth, a mix between.
  const int y = 2 * kScale;
  for (const bool smooth : {false, true}) {
    reel->setSmooth(smooth);
    const QImage grab = window_.grabWindow();
    const QRgb edge = grab.pixel(kScale, y) & 0xFFFFFFu;
    EXPECT_EQ(grab.pixel(0, y) & 0xFFFFFFu, 0xFF0000u) << smooth;
    EXPECT_EQ(grab.pixel(2 * kScale, y) & 0xFFFFFFu, 0x00FF00u) << smooth;
    EXPECT_EQ(edge != 0xFF0000u && edge != 0x00FF00u, smooth) << std::hex << edge;
  }
}

TEST_F(QuickItemTest, EachFrameIsUploadedOnceWithinTheTextureBudgetAndDrawnOnlyWhenItChanges) {
  testgif::Gif still = Blocks();
  still.frames.resize(1);
  (void)Write("still.gif", testgif::Build(still));
  const struct {
    const char* bindings;
    bool reused;  // four textures serve every pass
  } cases[] = {
      {"source: \"blocks.gif\"", true},
      {"textureBudget: 0; source: \"blocks.gif\"", false},
  };
  for (const auto& c : cases) {
    const int64_t uploads = FrameNode::uploads();
    FlipreelItem* reel = Create(c.bindings);
    QSignalSpy frames(reel, &FlipreelItem::frameChanged);
    ASSERT_TRUE(WaitFor([&] { return frames.count() >= 12; })) << c.bindings;
    if (c.reused) {
      EXPECT_LE(FrameNode::uploads() - uploads, 4) << c.bindings;
    } else {
      EXPECT_GT(FrameNode::uploads() - uploads, 4) << c.bindings;
    }
    delete reel;
  }
  // A tick that leaves the same picture on show draws nothing.
  FlipreelItem* reel = Create("sequence: Flipreel.Random; source: \"still.gif\"");
  QTest::qWait(50);
  int drawn = 0;
  QObject::connect(&window_, &QQuickWindow::afterRendering, [&] { ++drawn; });
  const qint64 ticks = reel->ticksTaken();
  QTest::qWait(200);
  EXPECT_GT(reel->ticksTaken(), ticks);
  EXPECT_EQ(drawn, 0);
}

// Frames too large to convert where they are shown are converted on other
// threads, within the texture budget and beyond it: until a frame's copy is
// back the window shows the frame it showed (never nothing), then exactly
// the composed frame.
TEST_F(QuickItemTest, LargeFramesConvertedElsewhereShowTheirOwnPixelsAndNeverNothing) {
  constexpr int kWidth = 160, kHeight = 120;
  static_assert(kWidth * kHeight > FrameNode::kConvertHere);
  const std::string bytes = testgif::Build(teststripes::Stripes(kWidth, kHeight, 4));
  const ComposedAnimation composed =
      ComposeGif(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  (void)Write("large.gif", bytes);
  // The item is away from the window's corner: a picture shown once its copy
  // is there is drawn where the item is.
  constexpr int kLeft = 10, kTop = 6;
  window_.resize(kLeft + kWidth, kTop + kHeight);
  // The frame the window shows, if it is one of the GIF's; -1 otherwise.
  auto shown = [&] {
    const QImage grab = window_.grabWindow();
    for (int frame = 0; frame < 4; ++frame) {
      const PictureData& want = *composed.frames[static_cast<size_t>(frame)].picture.data();
      bool same = true;
      for (int y = 0; y < kHeight && same; ++y)
        for (int x = 0; x < kWidth && same; x += 7)
          same =
              (grab.pixel(kLeft + x, kTop + y) & 0xFFFFFFu) == (want.PixelArgb(x, y) & 0xFFFFFFu);
      if (same) return frame;
    }
    return -1;
  };
  for (const char* budget : {"", "textureBudget: 0;"}) {
    FlipreelItem* reel =
        Create(QStringLiteral("playing: false; %1 source: \"large.gif\"").arg(budget));
    reel->setSize(QSizeF(kWidth, kHeight));
    reel->setPosition(QPointF(kLeft, kTop));
    ASSERT_EQ(reel->status(), FlipreelItem::Ready) << budget;
    ASSERT_TRUE(WaitFor([&] { return shown() == 0; })) << budget;
    int before = 0;
    for (const int frame : {1, 2, 3, 0, 2, 1}) {
      ASSERT_TRUE(reel->jumpTo(frame)) << budget;
      const int at_once = shown();
      EXPECT_TRUE(at_once == before || at_once == frame) << budget << " " << at_once;
      ASSERT_TRUE(WaitFor([&] { return shown() == frame; })) << budget << " frame " << frame;
      before = frame;
    }
    delete reel;
  }
}

// A texture's image is converted into the memory of the last one only when
// nothing else holds that memory: an image a texture has not uploaded yet
// keeps its pixels.
TEST(TextureImage, AConversionWritesOverOnlyMemoryNothingElseHolds) {
  const auto red = PictureData::Argb(4, 3, std::vector<uint32_t>(12, 0xFFFF0000u));
  const auto half = PictureData::Argb(4, 3, std::vector<uint32_t>(12, 0x80FFFFFFu));
  const auto small = PictureData::Argb(2, 2, std::vector<uint32_t>(4, 0xFF0000FFu));
  const struct {
    const char* name;
    const PictureData* picture;
    bool held;  // another image shares the last one's memory
    bool same_memory;
    QRgb pixel;  // premultiplied
  } cases[] = {
      {"unshared, same size", red.get(), false, true, 0xFFFF0000u},
      {"shared", red.get(), true, false, 0xFFFF0000u},
      {"translucent into an opaque one", half.get(), false, true, 0x80808080u},
      {"another size", small.get(), false, false, 0xFF0000FFu},
  };
  for (const auto& c : cases) {
    QImage last(4, 3, QImage::Format_RGB32);
    last.fill(0xFF00FF00u);
    const uchar* memory = last.constBits();
    const QImage holder = c.held ? last : QImage();
    const QImage image = ToPaintImage(*c.picture, std::move(last));
    EXPECT_EQ(image.constBits() == memory, c.same_memory) << c.name;
    EXPECT_EQ(image.size(), QSize(c.picture->width(), c.picture->height())) << c.name;
    EXPECT_EQ(reinterpret_cast<const QRgb*>(image.constScanLine(1))[1], c.pixel) << c.name;
    if (c.held) {
      EXPECT_EQ(holder.pixel(1, 1), 0xFF00FF00u) << c.name;
    }
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
