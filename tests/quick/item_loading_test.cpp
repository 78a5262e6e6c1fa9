// The QML type's loads of a large GIF: run from the event loop as the
// widget's are, a read of a result waits for the load, and an item destroyed
// mid-load takes the load with it (the sanitizers watch the threads and the
// load's own stack).
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QMetaProperty>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "flipreel/quick/flipreel_item.h"
#include "tests/quick/quick_test_support.h"
#include "tests/support/gif_builder.h"

namespace flipreel {
namespace {

constexpr int kFrames = 40;

// Noise frames of 160 x 120, frame i waiting i + 2 hundredths: a few hundred
// kilobytes, well past what loads at once.
std::string LargeGif(int width = 160, int height = 120, int frames = kFrames) {
  testgif::Gif gif;
  gif.width = width;
  gif.height = height;
  gif.global_palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF,
                        0xFFFF00, 0x00FFFF, 0xFF00FF, 0xFFFFFF};
  gif.netscape_loop = true;  // its terminator lets the classic split find frame 0
  std::mt19937 random(7);
  for (int i = 0; i < frames; ++i) {
    testgif::Frame f;
    f.delay_cs = i + 2;
    f.width = gif.width;
    f.height = gif.height;
    f.pixels.resize(static_cast<size_t>(f.width * f.height));
    for (uint8_t& p : f.pixels) p = static_cast<uint8_t>(random() % 8);
    gif.frames.push_back(std::move(f));
  }
  return testgif::Build(gif);
}

// A first frame all red, then many small frames of other colours: a
// composed load puts them into the frame store over many slices.
std::string ManyFramesGif() {
  testgif::Gif gif;
  gif.width = 16;
  gif.height = 16;
  gif.global_palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
  for (int i = 0; i < 1500; ++i) {
    testgif::Frame f;
    f.delay_cs = 2;
    f.width = gif.width;
    f.height = gif.height;
    f.pixels.assign(static_cast<size_t>(f.width * f.height), i == 0 ? 1 : 2 + i % 2);
    gif.frames.push_back(std::move(f));
  }
  return testgif::Build(gif);
}

std::unique_ptr<FlipreelItem> Create(QQmlEngine& engine, const QString& bindings) {
  QQmlComponent component(&engine);
  component.setData(("import Flipreel\nFlipreel { " + bindings + " }").toUtf8(), QUrl());
  std::unique_ptr<FlipreelItem> item(qobject_cast<FlipreelItem*>(component.create()));
  EXPECT_NE(item, nullptr) << component.errorString().toStdString();
  return item;
}

class ItemLoading : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    engine_.addImportPath(QStringLiteral(FLIPREEL_QML_IMPORT_PATH));
    large_ = QUrl::fromLocalFile(WriteFile(dir_, "large.gif", LargeGif()));
  }
  QTemporaryDir dir_;
  QQmlEngine engine_;
  QUrl large_;
};

// Without `asynchronous` the load looks done to whoever reads the item at
// once; with it, `status` says Loading while the event loop runs on, and the
// frames are then loaded by the event loop alone. Either way the item then
// holds every frame, with its own delay, and tells of the load once.
TEST_F(ItemLoading, ALargeGifLoadsFromTheEventLoopAndReadsWaitForIt) {
  for (const bool asynchronous : {false, true}) {
    for (const bool composed : {true, false}) {
      SCOPED_TRACE(std::string(asynchronous ? "asynchronous" : "at once") +
                   (composed ? ", composed" : ", classic"));
      auto reel =
          Create(engine_, QStringLiteral("composed: %1; asynchronous: %2; "
                                         "property real implicit: implicitWidth; "
                                         "property int widths: 0; onWidthChanged: widths++")
                              .arg(composed ? "true" : "false", asynchronous ? "true" : "false"));
      ASSERT_NE(reel, nullptr);
      QSignalSpy counted(reel.get(), &FlipreelItem::frameCountChanged);
      int fired_while_loading = 0;
      QTimer busy;
      QObject::connect(&busy, &QTimer::timeout, [&] { fired_while_loading += 1; });
      busy.start(0);
      reel->setSource(large_);
      if (asynchronous) {
        EXPECT_EQ(reel->status(), FlipreelItem::Loading);
        for (int i = 0; i < 5000 && reel->status() == FlipreelItem::Loading; ++i) QTest::qWait(1);
        EXPECT_GT(fired_while_loading, 1);
      }
      EXPECT_EQ(reel->frameCount(), kFrames);  // a read waits for the load
      EXPECT_EQ(reel->status(), FlipreelItem::Ready);
      EXPECT_EQ(reel->errorNumber(), 0);
      EXPECT_EQ(reel->frameDelay(kFrames - 1), (kFrames + 1) * 10);
      QTest::qWait(20);
      EXPECT_GE(counted.count(), 1);
      EXPECT_EQ(counted.last().at(0).toInt(), kFrames);
      // Bindings on the implicit size, and handlers of the size it gives an
      // item with none, hear of it too.
      EXPECT_EQ(reel->property("implicit").toReal(), 160);
      EXPECT_EQ(reel->property("widths").toInt(), 1);
    }
  }
}

// A binding on `status` of an item without `asynchronous` is told of the
// load as it ends, not as it starts: reading `status` then would wait for
// the whole load, holding the event loop.
TEST_F(ItemLoading, ABindingOnStatusLetsTheEventLoopRunWhileALargeGifLoads) {
  auto reel = Create(engine_, QStringLiteral("property int seen: status"));
  ASSERT_NE(reel, nullptr);
  int fired_while_loading = 0;
  QTimer busy;
  QObject::connect(&busy, &QTimer::timeout, [&] { fired_while_loading += 1; });
  busy.start(0);
  reel->setSource(large_);
  ASSERT_TRUE(WaitFor([&] { return reel->property("seen").toInt() == FlipreelItem::Ready; }));
  EXPECT_GT(fired_while_loading, 1);
  EXPECT_EQ(reel->frameCount(), kFrames);

  // Another GIF of the same shape, its load ended by a read, changes none of
  // these: only the end of the load and the new GIF's first frame are told
  // (statusChanged and frameChanged, as for a small GIF and as Image and
  // AnimatedImage tell them).
  ASSERT_TRUE(QFile::copy(large_.toLocalFile(), dir_.filePath("same.gif")));
  std::vector<std::unique_ptr<QSignalSpy>> told;
  for (const char* name : {"status", "progress", "errorNumber", "errorString", "frameCount",
                           "sourceSize", "playing", "currentFrame", "implicitWidth"}) {
    const QMetaProperty property =
        reel->metaObject()->property(reel->metaObject()->indexOfProperty(name));
    told.push_back(std::make_unique<QSignalSpy>(
        reel.get(), QByteArray("2" + property.notifySignal().methodSignature()).constData()));
  }
  reel->setSource(QUrl::fromLocalFile(dir_.filePath("same.gif")));
  EXPECT_EQ(reel->frameCount(), kFrames);
  QTest::qWait(20);
  for (const auto& spy : told) {
    const bool ended =
        spy->signal() == "statusChanged(Status)" || spy->signal() == "frameChanged()";
    EXPECT_EQ(spy->count(), ended ? 1 : 0) << spy->signal().toStdString();
  }

  // Made asynchronous while such a load waits, the item tells that it loads.
  ASSERT_TRUE(QFile::copy(large_.toLocalFile(), dir_.filePath("again.gif")));
  reel->setSource(QUrl::fromLocalFile(dir_.filePath("again.gif")));
  reel->setAsynchronous(true);
  EXPECT_EQ(reel->property("seen").toInt(), FlipreelItem::Loading);
  ASSERT_TRUE(WaitFor([&] { return reel->property("seen").toInt() == FlipreelItem::Ready; }));
}

// The window shows the new first frame while the rest still loads, not
// nothing until the load ends.
TEST_F(ItemLoading, TheFirstFrameShowsWhileTheRestLoads) {
  const QString many = WriteFile(dir_, "many.gif", ManyFramesGif());
  QQuickWindow window;
  window.resize(160, 120);
  window.show();
  auto reel = Create(engine_, QStringLiteral("asynchronous: true"));
  ASSERT_NE(reel, nullptr);
  reel->setParentItem(window.contentItem());
  reel->setSize(QSizeF(160, 120));
  reel->setSource(QUrl::fromLocalFile(many));
  bool shown_while_loading = false;
  for (int i = 0; i < 50000 && reel->status() == FlipreelItem::Loading; ++i) {
    shown_while_loading |= (window.grabWindow().pixel(80, 60) & 0xFFFFFFu) == 0xFF0000u;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  EXPECT_TRUE(shown_while_loading);
  EXPECT_EQ(reel->status(), FlipreelItem::Ready);
  EXPECT_EQ(reel->frameCount(), 1500);
  reel.reset();
}

TEST_F(ItemLoading, AnItemDestroyedMidLoadTakesTheLoadWithIt) {
  for (int turns = 0; turns < 4; ++turns) {
    auto reel = Create(engine_, QStringLiteral("asynchronous: true"));
    ASSERT_NE(reel, nullptr);
    bool told = false;
    QObject::connect(reel.get(), &FlipreelItem::statusChanged, [&] { told = true; });
    reel->setSource(large_);
    for (int i = 0; i < turns; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    told = false;
    reel.reset();
    QTest::qWait(50);
    EXPECT_FALSE(told);
  }
}

// A load dropped while it waits for its frames, by the item going or by a
// newer source, ends at once rather than holding the event loop until the
// frames nobody will show are made: dropped at any point of its way, it
// takes a small part of what the whole load takes in the same run. A newer
// source then loads as it would have.
TEST_F(ItemLoading, ALoadDroppedMidwayHoldsTheEventLoopNoLonger) {
  const QUrl film = QUrl::fromLocalFile(WriteFile(dir_, "film.gif", LargeGif(640, 480, 100)));
  for (const bool composed : {true, false}) {
    SCOPED_TRACE(composed ? "composed" : "classic");
    const QString bindings =
        QStringLiteral("asynchronous: true; composed: %1").arg(composed ? "true" : "false");
    QElapsedTimer clock;
    auto whole = Create(engine_, bindings);
    ASSERT_NE(whole, nullptr);
    clock.start();
    whole->setSource(film);
    ASSERT_TRUE(WaitFor([&] { return whole->status() != FlipreelItem::Loading; }, 60000));
    const qint64 full = clock.elapsed();
    whole.reset();
    // The file is read first, and the load only begins once it is: the
    // drops fall in the second half, where the load waits for its frames.
    qint64 longest = 0;
    for (int eighths = 4; eighths < 8; ++eighths) {
      const bool replaced = eighths % 2 == 1;
      auto reel = Create(engine_, bindings);
      ASSERT_NE(reel, nullptr);
      reel->setSource(film);
      QTest::qWait(static_cast<int>(full * eighths / 8));
      clock.restart();
      if (replaced) {
        reel->setSource(large_);
      } else {
        reel.reset();
      }
      longest = std::max(longest, clock.elapsed());
      if (replaced) {
        EXPECT_EQ(reel->frameCount(), kFrames);  // waits for the newer load
        EXPECT_EQ(reel->status(), FlipreelItem::Ready);
      }
    }
    // Only a composed load has a wait to give up this late (its frames are
    // composed on the reading thread to the end): a classic one's frames are
    // decoded ahead by then, so its drops are quick with or without one, and
    // a time compared for them could only fail by the machine's noise.
    if (composed) {
      EXPECT_LT(longest, full / 4) << "the whole load took " << full << " ms";
    }
  }
}

}  // namespace
}  // namespace flipreel
