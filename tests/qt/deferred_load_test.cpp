// Loads the widget finishes later, with the frames decoded on other threads:
// whatever a program can see (the signals, the message boxes in order, the
// properties it reads next) is what the same load made at once gives; a read
// waits for the load without a signal or a box, and the widget's going
// cancels it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QMessageBox>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <span>

#include <sys/stat.h>

#include "flipreel/gif/gif_composer.h"
#include "flipreel/qt/read_ahead.h"
#include "tests/qt/qt_test_support.h"

using flipreel::FlipreelWidget;
using flipreel::FlipreelWidgetPrivate;
using namespace qttest;

namespace {

// Frames of noise (eight of 120 x 100 unless asked otherwise), stored without
// compression: large enough for the widget to decode them on other threads.
testgif::Gif Noise(unsigned seed, int count = 8, int width = 120, int height = 100) {
  std::mt19937 random(seed);
  std::vector<testgif::Frame> frames;
  for (int i = 0; i < count; ++i) {
    testgif::Frame f = Block(i, i, width, height, kRed, kBlue, 3 + i);
    for (uint8_t& p : f.pixels) p = static_cast<uint8_t>(random() % 8);
    frames.push_back(std::move(f));
  }
  return GifOf(width + count + 2, height + count + 2, std::move(frames));
}

bool Pending(FlipreelWidget& w) {
  return FlipreelWidgetPrivate::get(w).LoadPending();
}

// Runs the event loop until the pending load has been finished by it.
void RunUntilFinished(FlipreelWidget& w) {
  ASSERT_TRUE(RunEventsUntil([&] { return !Pending(w); }, 10000));
}

// Every signal a load gives and every message box, in order.
void Listen(FlipreelWidget& w, QStringList& log) {
  FlipreelWidgetPrivate::get(w).host().set_message_box_handler(
      [&log](const flipreel::MessageBoxRequest& box) {
        log << "box " + box.text;
        return 1;
      });
  auto add = [&log](const QString& entry) { log << entry; };
  QObject::connect(&w, &FlipreelWidget::propertyNotified,
                   [add](const QString& n) { add("notice " + n); });
  QObject::connect(&w, &FlipreelWidget::FlipreelFileChanged,
                   [add](const QString& v) { add("FlipreelFile=" + v); });
  QObject::connect(&w, &FlipreelWidget::FramesChanged,
                   [add](int v) { add(QString("Frames=%1").arg(v)); });
  QObject::connect(&w, &FlipreelWidget::FrameRateChanged,
                   [add](int v) { add(QString("FrameRate=%1").arg(v)); });
  QObject::connect(&w, &FlipreelWidget::CurrentFrameChanged,
                   [add](int v) { add(QString("CurrentFrame=%1").arg(v)); });
  QObject::connect(&w, &FlipreelWidget::PlayingChanged,
                   [add](bool v) { add(QString("Playing=%1").arg(v)); });
  QObject::connect(&w, &FlipreelWidget::frameShown,
                   [add](int v) { add(QString("frameShown %1").arg(v)); });
  QObject::connect(&w, &FlipreelWidget::messageShown, [add](const QString& text, int style) {
    add(QString("message %1 %2").arg(text).arg(style));
  });
  QObject::connect(&w, &FlipreelWidget::loadFailed, [add](int n, const QString& description) {
    add(QString("loadFailed %1 %2").arg(n).arg(description));
  });
  QObject::connect(&w, &FlipreelWidget::loaded, [add] { add("loaded"); });
  QObject::connect(&w, &FlipreelWidget::errorRaised,
                   [add](int n) { add(QString("ErrorRaised %1").arg(n)); });
  QObject::connect(&w, &FlipreelWidget::ReadFinished, [add] { add("ReadFinished"); });
  QObject::connect(&w, &FlipreelWidget::AsyncReadComplete,
                   [add](const flipreel::FlipreelAsyncProp& p) {
                     add(QString("AsyncReadComplete %1 %2").arg(p.Status).arg(p.ErrorNumber));
                   });
}

// What a program reads right after: the properties, and every frame.
QStringList Read(FlipreelWidget& w) {
  QStringList out;
  out << w.FlipreelFile() << QString::number(w.Frames()) << QString::number(w.FrameRate())
      << QString::number(w.CurrentFrame()) << QString::number(w.Playing())
      << QString::number(w.lastError().number);
  for (int i = 0; i < ControlOf(w).imgBuffer().count(); ++i) {
    const QImage frame = w.GetFrame(i);
    out << QString("%1 %2 %3 %4 %5")
               .arg(w.FrameLeft(i))
               .arg(w.FrameTop(i))
               .arg(frame.width())
               .arg(frame.height())
               .arg(qHash(QByteArrayView(frame.constBits(), frame.sizeInBytes())));
  }
  return out;
}

struct Files {
  testfiles::TempDir dir;
  QString big = Path("big.gif", testgif::Build(Noise(1)));
  QString other = Path("other.gif", testgif::Build(Noise(2)));
  QString damaged = Path("damaged.gif", testgif::WithMiddleImageTooWide(testgif::Build(Noise(3))));
  QString small = Path("small.gif", testgif::Build(FourFrames()));
  QString missing = QString::fromStdString(dir.path() + "/missing.gif");
  // What the downloader hands over: a file it removes once the completion
  // has been delivered.
  QString downloaded = "download:" + big;
  // Saved states whose Buffer holds a GIF, as form files carry them.
  QString big_state = "state:" + StateAfter({big});
  QString damaged_state = "state:" + StateAfter({small, damaged});
  QString StateAfter(const QStringList& loads) {
    FlipreelWidget w;
    w.setComposed(false);  // a classic state: restoring it splits frames
    w.setShowMessageBoxes(false);
    for (const QString& path : loads) w.setFlipreelFile(path);
    return w.SavedState();
  }
  QString Path(const std::string& name, const std::string& bytes) {
    return QString::fromStdString(dir.Write(name, bytes));
  }
};

enum class After { kRead, kRunLoopThenRead };

struct Outcome {
  QStringList log;         // signals and boxes, up to the reading (or the end)
  QStringList properties;  // what was read at the end
  bool first_pending = false;
};

Outcome LoadAndWatch(Files& f, bool composed, bool deferred, const QString& before,
                     const QStringList& loads, After after) {
  Outcome o;
  auto w = std::make_unique<FlipreelWidget>();
  w->setComposed(composed);
  FlipreelWidgetPrivate::get(*w).SetDeferredLoads(deferred);
  w->setAutoStart(false);  // no ticks whose number would depend on time
  if (!before.isEmpty()) w->setFlipreelFile(before);
  Listen(*w, o.log);
  for (const QString& path : loads) {
    bool pending = false;
    if (path.startsWith("state:")) {
      w->setSavedState(path.mid(6));
      pending = Pending(*w);
    } else if (path.startsWith("download:")) {
      // A download's completion, which loads the file it names.
      flipreel::AsyncProp prop;
      prop.PropertyName = u"GifFromURL";
      prop.Status = flipreel::AsyncStatus::kCompleted;
      prop.ValuePath =
          f.Path("downloaded.gif", testfiles::ReadFile(path.mid(9).toStdString())).toStdU16String();
      flipreel::QtHost& host = HostOf(*w);
      host.DeliverAsyncReadComplete(prop);
      std::filesystem::remove(std::filesystem::path(prop.ValuePath));
      pending = Pending(*w);
    } else if (path.startsWith("bytes:")) {
      w->loadFromData(QByteArray::fromStdString(testfiles::ReadFile(path.mid(6).toStdString())));
      pending = Pending(*w);
    } else {
      w->setFlipreelFile(path);
      pending = Pending(*w);
    }
    if (&path == &loads.front()) o.first_pending = pending;
  }
  if (after == After::kRunLoopThenRead) RunUntilFinished(*w);
  o.properties = Read(*w);
  return o;
}

}  // namespace

TEST(DeferredLoad, ObservedAsALoadMadeAtOnce) {
  Files f;
  using enum After;
  struct Case {
    const char* name;
    QString before;
    QStringList loads;
    After after;
    bool deferred;  // whether the first load is left pending
  } cases[] = {
      {"good file, read at once", {}, {f.big}, kRead, true},
      {"good file, finished by the event loop", {}, {f.big}, kRunLoopThenRead, true},
      {"damaged middle frame, fresh control: the split ends with a box",
       {},
       {f.damaged},
       kRead,
       true},
      {"damaged middle frame after a multi-frame file: skipped, but told",
       f.small,
       {f.damaged},
       kRead,
       true},
      {"missing file", {}, {f.missing}, kRead, false},
      {"second load at once", {}, {f.damaged, f.other}, kRead, true},
      {"second load, then the event loop", f.small, {f.big, f.damaged}, kRunLoopThenRead, true},
      {"saved state holding a GIF", f.small, {f.big_state}, kRead, true},
      {"saved state whose GIF ends a fresh control's split", {}, {f.damaged_state}, kRead, true},
      {"download, its completion loading the file", f.small, {f.downloaded}, kRead, true},
      {"download, then the event loop", f.small, {f.downloaded}, kRunLoopThenRead, true},
      {"bytes in memory", f.small, {"bytes:" + f.big}, kRead, true},
      {"damaged bytes in memory, then the event loop",
       {},
       {"bytes:" + f.damaged},
       kRunLoopThenRead,
       true},
  };
  for (const bool composed : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (composed ? ", composed" : ", classic"));
      const Outcome at_once = LoadAndWatch(f, composed, false, c.before, c.loads, c.after);
      const Outcome later = LoadAndWatch(f, composed, true, c.before, c.loads, c.after);
      EXPECT_EQ(later.first_pending, c.deferred);
      EXPECT_FALSE(at_once.first_pending);
      EXPECT_FALSE(at_once.log.isEmpty());
      EXPECT_EQ(later.log.join('\n').toStdString(), at_once.log.join('\n').toStdString());
      EXPECT_EQ(later.properties.join('\n').toStdString(),
                at_once.properties.join('\n').toStdString());
    }
  }
}

// Reading a result of a load under way waits for it and gives the final
// value, with no signal and no box inside the read; they come from the event
// loop afterwards, as the same load made at once gave them.
TEST(DeferredLoad, ReadingWaitsAndTellsLater) {
  Files f;
  for (const auto& [file, composed] : {std::pair{f.big, false}, std::pair{f.damaged, false},
                                       std::pair{f.big, true}, std::pair{f.damaged, true}}) {
    SCOPED_TRACE(file.toStdString() + (composed ? ", composed" : ", classic"));
    QStringList at_once_log;
    int at_once_frames = 0;
    {
      FlipreelWidget w;
      w.setComposed(composed);
      FlipreelWidgetPrivate::get(w).SetDeferredLoads(false);
      Listen(w, at_once_log);
      w.setFlipreelFile(file);
      at_once_frames = w.Frames();
    }
    QStringList log;
    FlipreelWidget w;
    w.setComposed(composed);
    Listen(w, log);
    w.setFlipreelFile(file);
    ASSERT_TRUE(Pending(w));
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(w.Frames(), at_once_frames);
    EXPECT_FALSE(Pending(w));
    EXPECT_TRUE(log.isEmpty()) << log.join('\n').toStdString();
    RunEventsUntil([&] { return log.size() >= at_once_log.size(); });
    EXPECT_EQ(log.join('\n').toStdString(), at_once_log.join('\n').toStdString());
  }
}

// A load asked for while the control is in the middle of another (from the
// event loop of a box the control shows, or from a tick's event) runs before
// the control goes on, as it would have.
TEST(DeferredLoad, AskedForInsideAnotherRunsAtOnce) {
  Files f;
  const QString small_damaged =
      f.Path("small_damaged.gif", testgif::WithMiddleImageTooWide(testgif::Build(FourFrames())));
  enum class Inside { kLoadsBox, kDownloadsBox, kTick };
  for (const Inside inside : {Inside::kLoadsBox, Inside::kDownloadsBox, Inside::kTick}) {
    SCOPED_TRACE(static_cast<int>(inside));
    auto run = [&](bool deferred) {
      FlipreelWidget w;
      w.setComposed(false);  // the damaged classic split shows the box
      FlipreelWidgetPrivate::get(w).SetDeferredLoads(deferred);
      bool asked = false;
      auto ask = [&] {
        if (!std::exchange(asked, true)) w.setFlipreelFile(f.big);
      };
      HostOf(w).set_message_box_handler([&](const flipreel::MessageBoxRequest&) {
        ask();
        return 1;
      });
      if (inside == Inside::kLoadsBox) {
        w.setFlipreelFile(small_damaged);
      } else if (inside == Inside::kDownloadsBox) {
        flipreel::AsyncProp prop;
        prop.PropertyName = u"GifFromURL";
        prop.Status = flipreel::AsyncStatus::kCompleted;
        prop.ValuePath = small_damaged.toStdU16String();
        HostOf(w).DeliverAsyncReadComplete(prop);
      } else {
        w.setFlipreelFile(f.small);
        QObject::connect(&w, &FlipreelWidget::Frame, ask);
        HostOf(w).SetManualTicks(true);
        HostOf(w).DeliverTick();
      }
      EXPECT_TRUE(asked);
      return Read(w).join('\n').toStdString();
    };
    EXPECT_EQ(run(true), run(false));
  }
}

// A load pending when the widget goes with its window is cancelled: no box,
// no signal, nothing posted to the widget afterwards.
TEST(DeferredLoad, DestroyingTheWidgetCancelsTheLoad) {
  Files f;
  for (const auto& [file, composed] : {std::pair{f.big, false}, std::pair{f.damaged, false},
                                       std::pair{f.big, true}, std::pair{f.damaged, true}}) {
    SCOPED_TRACE(file.toStdString() + (composed ? ", composed" : ", classic"));
    QStringList log;
    auto* window = new QMainWindow;
    auto* w = new FlipreelWidget;
    w->setComposed(composed);
    window->setCentralWidget(w);
    window->show();
    Listen(*w, log);
    w->setFlipreelFile(file);
    ASSERT_TRUE(Pending(*w));
    delete window;
    RunEventsUntil([] { return false; }, 300);
    EXPECT_TRUE(log.isEmpty()) << log.join('\n').toStdString();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
}

// A resize while a load is pending reaches the control after the load; the
// size the widget tells is the one it has all the same.
TEST(DeferredLoad, SizeHintFollowsAResizeWhileTheLoadIsPending) {
  Files f;
  auto hints = [&](bool deferred) {
    FlipreelWidget w;
    FlipreelWidgetPrivate::get(w).SetDeferredLoads(deferred);
    w.show();
    w.resize(60, 50);
    w.setFlipreelFile(f.big);
    w.resize(90, 70);
    const QSize pending = w.sizeHint();
    w.Frames();
    return std::make_pair(pending, w.sizeHint());
  };
  EXPECT_EQ(hints(true), hints(false));
  EXPECT_EQ(hints(true).first, QSize(90, 70));
}

// Until the load is finished the widget shows what it showed before, and the
// earlier animation's ticks are held back: the load sets the timer afresh.
TEST(DeferredLoad, PaintsAndTicksWaitForTheLoad) {
  Files f;
  FlipreelWidget w;
  w.setAutoStart(false);
  w.setFlipreelFile(f.small);
  w.show();
  const QImage before = Shot(w);
  w.setFlipreelFile(f.big);
  ASSERT_TRUE(Pending(w));
  EXPECT_EQ(Shot(w), before);
  EXPECT_TRUE(Pending(w));  // painting does not finish the load
  EXPECT_EQ(w.Frames(), 8);
  EXPECT_NE(Shot(w), before);  // now the new GIF's first frame

  int ticks = 0;
  QObject::connect(&w, &FlipreelWidget::Frame, [&] { ++ticks; });
  for (int i = 0; i < 20; ++i) {
    w.setFlipreelFile(i % 2 ? f.big : f.other);
    ASSERT_TRUE(Pending(w));
    w.setFrameRate(1);  // finishes the load, then plays fast
    w.StartAnimation();
    ASSERT_TRUE(
        RunEventsUntil([&] { return ticks > 0; }, 2000));  // ticks come while nothing is pending
    const int before_load = ticks;
    w.setFlipreelFile(i % 2 ? f.other : f.big);
    ASSERT_TRUE(Pending(w));
    RunUntilFinished(w);
    // The load left the timer off (AutoStart is off): a tick after it would
    // be one held back from before.
    ASSERT_EQ(ticks, before_load);
    ticks = 0;
  }
}

// Damaged files give the widget the same error whatever it held before: the
// number the control trapped, handed over as a value. After several frames
// the control skips the failing frame without a box and plays the rest, but
// the load is still told as failed.
TEST(WidgetLoad, SameErrorWhateverItHeld) {
  const std::string good = testgif::Build(Noise(4));
  const std::string small = testgif::Build(FourFrames());
  const struct {
    const char* name;
    std::string bytes;
    int number;
  } rows[] = {
      {"a GIF", good, 0},
      {"cut inside the last image", good.substr(0, good.size() - 6), 481},
      {"cut inside the last extension", good.substr(0, good.rfind("\x21\xF9") + 5), 5},
      {"damaged middle frame", testgif::WithMiddleImageTooWide(good), 481},
      {"not a GIF", "hello", 481},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const std::string& before : {std::string(), small}) {
      FlipreelWidget w;
      w.setComposed(false);  // the numbers are the classic split's
      w.setShowMessageBoxes(false);
      if (!before.empty()) {
        ASSERT_TRUE(w.loadFromData(QByteArray::fromStdString(before)));
      }
      int told = -1;
      QObject::connect(&w, &FlipreelWidget::loadFailed, [&](int n) { told = n; });
      QObject::connect(&w, &FlipreelWidget::loaded, [&] { told = 0; });
      // A large GIF's load has only begun when the call returns; a small
      // one's is done.
      const bool large = row.bytes.size() >= (64u << 10);
      EXPECT_EQ(w.loadFromData(QByteArray::fromStdString(row.bytes)), large || row.number == 0);
      EXPECT_EQ(Pending(w), large);
      EXPECT_EQ(w.lastError().number, row.number);
      QCoreApplication::processEvents();
      EXPECT_EQ(told, row.number);
    }
  }
}

// While a large GIF loads, composed or classic, the event loop keeps
// running: a zero-interval timer fires again and again before the load is
// done, and the load is then done by the event loop alone, with the values a
// load made at once gives.
TEST(DeferredLoad, EventLoopRunsWhileALargeGifLoads) {
  Files f;
  const QString large = f.Path("large.gif", testgif::Build(Noise(5, 40, 200, 160)));
  for (const auto& [composed, from_memory] :
       {std::pair{true, false}, std::pair{true, true}, std::pair{false, false}}) {
    SCOPED_TRACE(std::string(composed ? "composed" : "classic") +
                 (from_memory ? ", from memory" : ", from a file"));
    FlipreelWidget at_once;
    FlipreelWidgetPrivate::get(at_once).SetDeferredLoads(false);
    at_once.setComposed(composed);
    at_once.setAutoStart(false);  // no ticks whose number would depend on time
    FlipreelWidget w;
    w.setComposed(composed);
    w.setAutoStart(false);
    w.show();
    int fired_while_pending = 0;
    QTimer busy;
    QObject::connect(&busy, &QTimer::timeout, [&] { fired_while_pending += Pending(w); });
    busy.start(0);
    if (from_memory) {
      EXPECT_TRUE(
          w.loadFromData(QByteArray::fromStdString(testfiles::ReadFile(large.toStdString()))));
    } else {
      w.setFlipreelFile(large);
    }
    ASSERT_TRUE(Pending(w));
    RunUntilFinished(w);
    EXPECT_GT(fired_while_pending, 1);
    // Loaded afterwards: loaded first, it would hand w its frames ready made.
    at_once.setFlipreelFile(large);
    EXPECT_EQ(Read(w).join('\n').toStdString(), Read(at_once).join('\n').toStdString());
  }
}

// A widget destroyed while its load is handing frames over to the control
// takes the load with it: no signal, no box, nothing left running (the
// sanitizers watch the threads and the load's own stack).
TEST(DeferredLoad, DestroyingTheWidgetMidLoad) {
  Files f;
  const QString large = f.Path("large.gif", testgif::Build(Noise(6, 120, 200, 160)));
  for (int round = 0; round < 3; ++round) {
    QStringList log;
    auto w = std::make_unique<FlipreelWidget>();
    w->setFlipreelFile(f.small);  // frames of its own to remove first
    Listen(*w, log);
    w->setFlipreelFile(large);
    FlipreelWidgetPrivate& d = FlipreelWidgetPrivate::get(*w);
    for (int i = 0; i < 10000 && d.LoadPending() && !d.LoadStarted(); ++i)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    for (int i = 0; i < round && d.LoadPending(); ++i) QCoreApplication::processEvents();
    // A load already done (on a fast machine) has told its signals.
    const bool mid_load = d.LoadPending();
    w.reset();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (mid_load) {
      EXPECT_TRUE(log.isEmpty()) << log.join('\n').toStdString();
    }
  }
}

// A composed load shows its first frame once the bytes that settle it have
// been read, while the rest of the file has not yet been written; the
// animation composed in the end, whole or cut short, has that very picture
// (converted once to paint) as its first frame.
TEST(DeferredLoad, AComposedFilesFirstFrameComesBeforeTheRestIsRead) {
  const std::string file = testgif::Build(Noise(7, 12, 300, 200));
  const size_t beginning = size_t{300} << 10;
  ASSERT_GT(file.size(), beginning * 2);
  for (const size_t end : {file.size(), file.size() - beginning / 2}) {
    const std::string written = file.substr(0, end);
    QTemporaryDir dir;
    const QString fifo = dir.filePath("growing.gif");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    std::shared_ptr<flipreel::ReadAhead> ahead =
        flipreel::ReadAhead::StartFile(fifo, flipreel::MemoryBudget());
    QFile writer(fifo);
    ASSERT_TRUE(writer.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    ASSERT_EQ(writer.write(written.data(), beginning), qint64(beginning));
    QElapsedTimer clock;
    clock.start();
    while (ahead->FirstComposed().IsEmpty() && clock.elapsed() < 10000) QThread::msleep(1);
    const flipreel::Picture first = ahead->FirstComposed();
    ASSERT_FALSE(first.IsEmpty());
    EXPECT_FALSE(ahead->ready());  // the rest is still to come

    const qint64 rest = qint64(written.size() - beginning);
    ASSERT_EQ(writer.write(written.data() + beginning, rest), rest);
    writer.close();
    const flipreel::Host::Contents contents = ahead->TakeContents();
    ASSERT_TRUE(contents.bytes);
    EXPECT_EQ(*contents.bytes, written);
    std::optional<flipreel::ReadAhead::Composition> made = ahead->TakeComposition(*contents.bytes);
    ASSERT_TRUE(made && made->animation);
    const flipreel::ComposedAnimation expected = flipreel::ComposeGif(
        std::span(reinterpret_cast<const uint8_t*>(written.data()), written.size()));
    ASSERT_EQ(made->animation->frames.size(), expected.frames.size());
    EXPECT_EQ(made->animation->frames.front().picture, first);
    EXPECT_TRUE(first.data()->SamePixels(*expected.frames.front().picture.data()));
  }
}
