// The QML type Flipreel next to Qt Quick's AnimatedImage, in one run under one
// X server (Xvfb): the CPU time of playing a 480 x 270, 25 frames-per-second
// GIF for 10 s, the CPU time while the item is hidden, the resident memory
// after loading a 1280 x 720, 200-frame GIF (AnimatedImage caching every
// frame, its default), and the longest time between two frames of a window
// that animates all along while that GIF loads.
//
// Each measurement runs in a child process of its own (this program with a
// mode argument); the GIFs are the Qt benchmark's (flipreel_qt_bench
// write-gifs), so that both benchmarks measure the same files.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" flipreel_quick_bench [--seconds S]
//   flipreel_quick_bench MODE FILE [SECONDS]   (one child: play-reel,
//       hidden-reel, play-animated, play-floor, memory-reel, memory-animated,
//       load-reel, load-reel-async, load-animated)
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/qt/bench_process.h"
#include "flipreel/quick/flipreel_item.h"

namespace {

using qtbench::CpuSeconds;
using qtbench::ResidentMb;
using qtbench::RunChild;
using qtbench::RunEventsFor;

// A window of the GIF's size holding one item: the Flipreel type or an
// AnimatedImage, playing `file` from the start; `spinner` adds a rectangle
// that turns all along, so that the window draws a frame every vsync.
class Scene {
 public:
  Scene(bool reel, const QString& file, int width, int height, bool spinner = false,
        bool load_now = true, bool asynchronous = false, bool floor = false)
      : floor_(floor) {
    engine_.addImportPath(QStringLiteral(FLIPREEL_QML_IMPORT_PATH));
    const QString type =
        reel ? QStringLiteral("import Flipreel\nFlipreel { id: shown; asynchronous: %1; ")
                   .arg(asynchronous ? "true" : "false")
             : QStringLiteral("AnimatedImage { id: shown; cache: true; ");
    const QString source =
        load_now ? "source: \"" + QUrl::fromLocalFile(file).toString() + "\"" : "";
    const QString qml = "import QtQuick\n" + type + source + " }";
    QQmlComponent component(&engine_);
    component.setData(qml.toUtf8(), QUrl());
    item_ = qobject_cast<QQuickItem*>(component.create());
    if (!item_) {
      std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
      std::exit(1);
    }
    item_->setSize(QSizeF(width, height));
    item_->setParentItem(window_.contentItem());
    if (spinner) {
      QQmlComponent spin(&engine_);
      spin.setData(
          "import QtQuick\nRectangle { width: 40; height: 40; color: \"red\";"
          " RotationAnimation on rotation { from: 0; to: 360; duration: 1000;"
          " loops: Animation.Infinite } }",
          QUrl());
      auto* r = qobject_cast<QQuickItem*>(spin.create());
      r->setParentItem(window_.contentItem());
    }
    window_.resize(width, height);
    window_.show();
  }
  QQuickItem& item() { return *item_; }
  QQuickWindow& window() { return window_; }

 private:
  bool floor_;
  QQmlEngine engine_;
  QQuickWindow window_;
  QQuickItem* item_ = nullptr;
};

int Play(bool reel, const QString& file, int seconds, bool hidden, bool floor = false) {
  Scene scene(reel, file, 480, 270, false, true, false, floor);
  int frames = 0;
  QObject::connect(&scene.window(), &QQuickWindow::frameSwapped, [&] { ++frames; });
  RunEventsFor(1000);  // loaded and running
  if (hidden) scene.item().setVisible(false);
  const double cpu0 = CpuSeconds();
  const int frames0 = frames;
  auto ticks = [&] {
    auto* item = qobject_cast<flipreel::FlipreelItem*>(&scene.item());
    return item ? item->ticksTaken() : 0;
  };
  const qint64 ticks0 = ticks();
  RunEventsFor(seconds * 1000);
  std::printf("cpu=%.3f frames=%d ticks=%lld\n", CpuSeconds() - cpu0, frames - frames0,
              ticks() - ticks0);
  return 0;
}

// Resident memory added by loading the large GIF and showing every frame once
// (AnimatedImage keeps each frame it has decoded; the Flipreel type keeps its
// indexed frames and the textures within its budget).
int Memory(bool reel, const QString& file) {
  Scene scene(reel, QString(), 1280, 720, false, false);
  RunEventsFor(300);
  const double before = ResidentMb();
  scene.item().setProperty("source", QUrl::fromLocalFile(file));
  QElapsedTimer clock;
  clock.start();
  while (scene.item().property("status").toInt() != 1 && clock.elapsed() < 60000) RunEventsFor(10);
  scene.item().setProperty("playing", false);
  const int count = scene.item().property("frameCount").toInt();
  for (int i = 0; i < count; ++i) {
    scene.item().setProperty("currentFrame", i);
    RunEventsFor(1);
  }
  RunEventsFor(300);
  std::printf("mb=%.1f frames=%d\n", ResidentMb() - before, count);
  return 0;
}

// The longest time between two frames of the window while the large GIF
// loads, from the assignment until the first second after it is ready.
int Load(bool reel, const QString& file, bool asynchronous = false) {
  Scene scene(reel, QString(), 1280, 720, true, false, asynchronous);
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0, longest = 0;
  bool measuring = false;
  QObject::connect(&scene.window(), &QQuickWindow::frameSwapped, [&] {
    const qint64 now = clock.nsecsElapsed();
    if (measuring) longest = std::max(longest, now - last);
    last = now;
  });
  RunEventsFor(1000);
  measuring = true;
  last = clock.nsecsElapsed();
  const qint64 start = last;
  scene.item().setProperty("source", QUrl::fromLocalFile(file));
  const qint64 assigned = clock.nsecsElapsed() - start;
  while (scene.item().property("status").toInt() != 1 && clock.elapsed() < 60000) RunEventsFor(5);
  const qint64 ready = clock.nsecsElapsed() - start;
  RunEventsFor(1000);
  std::printf("stall=%.1f assign=%.1f ready=%.1f\n", longest / 1e6, assigned / 1e6, ready / 1e6);
  return 0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int RunAll(int seconds) {
  QTemporaryDir dir;
  QProcess writer;
  writer.start(QStringLiteral(FLIPREEL_QT_BENCH), {QStringLiteral("write-gifs"), dir.path()});
  if (!writer.waitForFinished(600000) || writer.exitCode() != 0) {
    std::fprintf(stderr, "flipreel_quick_bench: the GIFs could not be written\n");
    return 1;
  }
  const QString play = dir.filePath("play-480x270-25fps.gif");
  const QString big = dir.filePath("load-1280x720-200.gif");
  const QString secs = QString::number(seconds);
  auto reel = RunChild("flipreel_quick_bench", {"play-reel", play, secs}, 10);
  auto animated = RunChild("flipreel_quick_bench", {"play-animated", play, secs}, 10);
  auto floor = RunChild("flipreel_quick_bench", {"play-floor", play, secs}, 10);
  auto hidden = RunChild("flipreel_quick_bench", {"hidden-reel", play, secs}, 10);
  auto reel_mem = RunChild("flipreel_quick_bench", {"memory-reel", big}, 10);
  auto animated_mem = RunChild("flipreel_quick_bench", {"memory-animated", big}, 10);
  std::map<std::string, std::vector<double>> stalls;
  for (int round = 0; round < 3; ++round) {
    for (const char* mode : {"load-reel", "load-reel-async", "load-animated"}) {
      auto r = RunChild("flipreel_quick_bench", {mode, big}, 10);
      stalls[mode].push_back(r["stall"]);
      stalls[std::string(mode) + "-ready"].push_back(r["ready"]);
    }
  }

  std::printf("Playing 480 x 270 at 25 fps for %d s (CPU seconds of the process):\n", seconds);
  std::printf("  Flipreel         %7.3f s  (%d frames drawn, %d ticks)\n", reel["cpu"],
              int(reel["frames"]), int(reel["ticks"]));
  std::printf("  AnimatedImage    %7.3f s  (%d frames drawn)\n", animated["cpu"],
              int(animated["frames"]));
  std::printf("  a bare Rectangle %7.3f s  (%d frames drawn: a colour changed on a timer)\n",
              floor["cpu"], int(floor["frames"]));
  std::printf("  ratio            %7.3f    (goal: at most 0.5; the bare Rectangle: %.3f)\n",
              reel["cpu"] / animated["cpu"], floor["cpu"] / animated["cpu"]);
  std::printf("Hidden Flipreel    %7.3f s  (%d ticks, %d frames drawn)\n", hidden["cpu"],
              int(hidden["ticks"]), int(hidden["frames"]));
  std::printf("\nResident memory after loading 1280 x 720 x 200 frames and showing each:\n");
  std::printf("  Flipreel         %7.1f MB\n", reel_mem["mb"]);
  std::printf("  AnimatedImage    %7.1f MB (cache: true, %d frames)\n", animated_mem["mb"],
              int(animated_mem["frames"]));
  std::printf("  ratio            %7.3f    (goal: at most 0.5)\n",
              reel_mem["mb"] / animated_mem["mb"]);
  std::printf("\nLongest time between two frames while it loads (median of 3):\n");
  std::printf("  Flipreel         %7.1f ms (ready after %.0f ms; the load in the assignment)\n",
              Median(stalls["load-reel"]), Median(stalls["load-reel-ready"]));
  std::printf("  the same, asynchronous: true %5.1f ms (ready after %.0f ms)\n",
              Median(stalls["load-reel-async"]), Median(stalls["load-reel-async-ready"]));
  std::printf("  AnimatedImage    %7.1f ms (ready after %.0f ms)\n",
              Median(stalls["load-animated"]), Median(stalls["load-animated-ready"]));
  std::printf("  goal: at most 4 ms\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  const QString mode = args.value(0);
  const QString file = args.value(1);
  if (mode == "play-reel") return Play(true, file, args.value(2).toInt(), false);
  if (mode == "hidden-reel") return Play(true, file, args.value(2).toInt(), true);
  if (mode == "play-animated") return Play(false, file, args.value(2).toInt(), false);
  if (mode == "play-floor") return Play(false, file, args.value(2).toInt(), false, true);
  if (mode == "memory-reel") return Memory(true, file);
  if (mode == "memory-animated") return Memory(false, file);
  if (mode == "load-reel") return Load(true, file);
  if (mode == "load-reel-async") return Load(true, file, true);
  if (mode == "load-animated") return Load(false, file);
  int seconds = 10;
  if (mode == "--seconds") seconds = std::max(1, args.value(1).toInt());
  return RunAll(seconds);
}
