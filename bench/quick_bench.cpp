// The QML type Flipreel next to Qt Quick's AnimatedImage, in one run under one
// X server (Xvfb): the CPU time of playing a 480 x 270, 25 frames-per-second
// GIF for 10 s (beside AnimatedImage with and without its cache, and a bare
// Rectangle changing at the same rate), the CPU time while the item is
// hidden, the resident memory after loading a 1280 x 720, 200-frame GIF
// (AnimatedImage caching every frame, its default), and the longest time
// between two frames of a window that animates all along while that GIF
// loads (beside an Image of that GIF's first frame, loaded asynchronously:
// what showing that one picture alone adds).
//
// Each measurement runs in a child process of its own (this program with a
// mode argument); the GIFs are the Qt benchmark's (flipreel_qt_bench
// write-gifs), so that both benchmarks measure the same files.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" flipreel_quick_bench [--seconds S] [--play]
//       [--load] [--rounds N] [--play-rounds N]
//   flipreel_quick_bench MODE FILE [SECONDS]   (one child: play-reel,
//       hidden-reel, play-animated, play-animated-uncached, play-picture,
//       play-floor, memory-reel, memory-animated, load-reel, load-reel-async,
//       load-animated, load-still, load-none)
// FLIPREEL_LOAD_TRACE=1 makes a load-* child print its five longest gaps on
// stderr, each split into the wait for the GUI thread, the sync, the render
// pass and the swap, and any stretch of more than 2 ms in which the GUI
// thread ran without sleeping.
// QSG_RENDER_LOOP=basic (or threaded) in the environment runs every child
// with that render loop.
// --play runs only the comparison while playing (in 5 rounds, or N with
// --play-rounds N), --load only the stalls while loading (in 9 rounds, or N
// with --rounds N).
#include <QAbstractEventDispatcher>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QMutex>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bench/qt/bench_process.h"
#include "flipreel/quick/flipreel_item.h"
#include "flipreel/quick/frame_node.h"

namespace {

using qtbench::CpuSeconds;
using qtbench::ResidentMb;
using qtbench::RunChild;
using qtbench::RunEventsFor;

// What a window holds: the Flipreel type, an AnimatedImage caching its
// frames (its default) or not, or a floor: a bare Rectangle of the same size
// whose colour changes at the GIF's rate, the least any item that changes 25
// times a second can make the window cost, or an Image of the GIF's first
// frame mirrored at that rate, the least a textured item costs.
// kStill is an Image of the GIF's first frame loaded asynchronously: while a
// large GIF loads, the least any item showing that picture adds to a window.
enum class Kind { kReel, kAnimated, kAnimatedUncached, kFloor, kPicture, kStill };

// A window of the GIF's size holding one item, playing `file` from the
// start; `spinner` adds a rectangle that turns all along, so that the window
// draws a frame every vsync.
class Scene {
 public:
  Scene(Kind kind, const QString& file, int width, int height, bool spinner = false,
        bool load_now = true, bool asynchronous = false) {
    engine_.addImportPath(QStringLiteral(FLIPREEL_QML_IMPORT_PATH));
    const QString source =
        load_now ? "source: \"" + QUrl::fromLocalFile(file).toString() + "\"" : "";
    QString type;
    switch (kind) {
      case Kind::kReel:
        type = QStringLiteral("import Flipreel\nFlipreel { asynchronous: %1; %2 }")
                   .arg(asynchronous ? "true" : "false", source);
        break;
      case Kind::kAnimated:
      case Kind::kAnimatedUncached:
        type = QStringLiteral("AnimatedImage { cache: %1; %2 }")
                   .arg(kind == Kind::kAnimated ? "true" : "false", source);
        break;
      case Kind::kPicture:
        type = QStringLiteral(
                   "Image { smooth: false; %1; Timer { interval: 40; running: true; repeat: true;"
                   " onTriggered: parent.mirror = !parent.mirror } }")
                   .arg(source);
        break;
      case Kind::kStill:
        type = QStringLiteral("Image { asynchronous: true; smooth: false; %1 }").arg(source);
        break;
      case Kind::kFloor:
        type = QStringLiteral(
            "Rectangle { color: \"red\"; Timer { interval: 40; running: true; repeat: true;"
            " onTriggered: parent.color = parent.color == \"#ff0000\" ? \"blue\" : \"red\" } }");
        break;
    }
    item_ = Make("import QtQuick\n" + type);
    item_->setSize(QSizeF(width, height));
    if (spinner) {
      Make(
          "import QtQuick\nRectangle { width: 40; height: 40; color: \"red\";"
          " RotationAnimation on rotation { from: 0; to: 360; duration: 1000;"
          " loops: Animation.Infinite } }");
    }
    window_.resize(width, height);
    window_.show();
  }
  QQuickItem& item() { return *item_; }
  QQuickWindow& window() { return window_; }

 private:
  QQuickItem* Make(const QString& qml) {
    QQmlComponent component(&engine_);
    component.setData(qml.toUtf8(), QUrl());
    auto* item = qobject_cast<QQuickItem*>(component.create());
    if (!item) {
      std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
      std::exit(1);
    }
    item->setParentItem(window_.contentItem());
    return item;
  }

  QQmlEngine engine_;
  QQuickWindow window_;
  QQuickItem* item_ = nullptr;
};

// CPU time each of this process's threads has run, in seconds, by the
// thread's name: the GUI thread, Qt Quick's render thread, the rasteriser's
// threads (llvmpipe-N, summed as "raster") and the rest.
std::map<std::string, double> ThreadSeconds() {
  std::map<std::string, double> seconds;
  const QString gui = QString::number(QCoreApplication::applicationPid());
  for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs)) {
    if (task.startsWith('.')) continue;
    QFile comm("/proc/self/task/" + task + "/comm");
    QFile sched("/proc/self/task/" + task + "/schedstat");
    if (!comm.open(QIODevice::ReadOnly) || !sched.open(QIODevice::ReadOnly)) continue;
    const QString name = QString::fromUtf8(comm.readAll()).trimmed();
    const double ns = QString::fromUtf8(sched.readAll()).section(' ', 0, 0).toDouble();
    const std::string key = task == gui                   ? "gui"
                            : name == "QSGRenderThread"   ? "render"
                            : name.startsWith("llvmpipe") ? "raster"
                                                          : "other";
    seconds[key] += ns / 1e9;
  }
  return seconds;
}

int Play(Kind kind, const QString& file, int seconds, bool hidden) {
  Scene scene(kind, file, 480, 270);
  int frames = 0;
  QObject::connect(&scene.window(), &QQuickWindow::frameSwapped, [&] { ++frames; });
  RunEventsFor(1000);  // loaded and running
  if (hidden) scene.item().setVisible(false);
  const double cpu0 = CpuSeconds();
  std::map<std::string, double> threads = ThreadSeconds();
  const int frames0 = frames;
  auto ticks = [&] {
    auto* item = qobject_cast<flipreel::FlipreelItem*>(&scene.item());
    return item ? item->ticksTaken() : 0;
  };
  const qint64 ticks0 = ticks();
  const int64_t uploads0 = flipreel::FrameNode::uploads();
  RunEventsFor(seconds * 1000);
  for (const auto& [name, s] : ThreadSeconds()) threads[name] = s - threads[name];
  std::printf(
      "cpu=%.3f frames=%d ticks=%lld uploads=%lld gui=%.3f render=%.3f raster=%.3f other=%.3f\n",
      CpuSeconds() - cpu0, frames - frames0, ticks() - ticks0,
      static_cast<long long>(flipreel::FrameNode::uploads() - uploads0), threads["gui"],
      threads["render"], threads["raster"], threads["other"]);
  return 0;
}

// Resident memory added by loading the large GIF and showing every frame once
// (AnimatedImage keeps each frame it has decoded; the Flipreel type keeps its
// indexed frames and the textures within its budget).
int Memory(bool reel, const QString& file) {
  Scene scene(reel ? Kind::kReel : Kind::kAnimated, QString(), 1280, 720, false, false);
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

// Where the window's longest frames go, for FLIPREEL_LOAD_TRACE: each
// frame's sync (the GUI thread waits), render pass and swap (where the
// software rasteriser draws) on the render thread, and the stretches in which
// the GUI thread's event loop ran for more than 2 ms without sleeping.
class FrameTrace {
 public:
  FrameTrace(QQuickWindow& window, const QElapsedTimer& clock) : clock_(clock) {
    auto on_render_thread = [&](auto signal, qint64 Frame::*field) {
      QObject::connect(
          &window, signal, &window,
          [this, field] {
            const QMutexLocker lock(&mutex_);
            next_.*field = clock_.nsecsElapsed();
            if (field == &Frame::swapped && on_) frames_.push_back(next_);
          },
          Qt::DirectConnection);
    };
    on_render_thread(&QQuickWindow::beforeSynchronizing, &Frame::sync);
    on_render_thread(&QQuickWindow::beforeRendering, &Frame::render);
    on_render_thread(&QQuickWindow::afterRendering, &Frame::rendered);
    on_render_thread(&QQuickWindow::frameSwapped, &Frame::swapped);
    auto* dispatcher = QAbstractEventDispatcher::instance();
    // The window is the context: the connections go with it, before the trace.
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, &window, [this] {
      if (awake_ < 0) awake_ = clock_.nsecsElapsed();
    });
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &window, [this] {
      const qint64 now = clock_.nsecsElapsed();
      if (on_ && awake_ >= 0 && now - awake_ > 2'000'000) busy_.emplace_back(awake_, now - awake_);
      awake_ = -1;
    });
  }
  void Start() {
    const QMutexLocker lock(&mutex_);
    on_ = true;
  }
  // Prints the longest gaps between two swaps, in ms from `start`.
  void Report(qint64 start) {
    std::vector<Frame> frames;
    {
      const QMutexLocker lock(&mutex_);
      on_ = false;
      frames = frames_;
    }
    std::vector<std::pair<qint64, size_t>> gaps;  // length, frame that ended it
    for (size_t i = 1; i < frames.size(); ++i)
      gaps.emplace_back(frames[i].swapped - frames[i - 1].swapped, i);
    std::sort(gaps.rbegin(), gaps.rend());
    auto ms = [](qint64 ns) { return ns / 1e6; };
    for (size_t k = 0; k < std::min<size_t>(5, gaps.size()); ++k) {
      const Frame& f = frames[gaps[k].second];
      const qint64 from = frames[gaps[k].second - 1].swapped;
      // A frame the render thread drew again without a sync keeps the last one's.
      const qint64 sync = f.sync > from ? f.sync : f.render;
      std::fprintf(stderr,
                   "gap %5.1f ms at %7.1f: waited %4.1f, sync %4.1f, render %4.1f, swap %4.1f\n",
                   ms(gaps[k].first), ms(from - start), ms(sync - from), ms(f.render - sync),
                   ms(f.rendered - f.render), ms(f.swapped - f.rendered));
    }
    for (auto [at, length] : busy_)
      std::fprintf(stderr, "GUI thread busy %.1f ms at %.1f\n", ms(length), ms(at - start));
  }

 private:
  struct Frame {
    qint64 sync = 0, render = 0, rendered = 0, swapped = 0;
  };
  const QElapsedTimer& clock_;
  QMutex mutex_;
  bool on_ = false;
  Frame next_;
  std::vector<Frame> frames_;
  qint64 awake_ = -1;
  std::vector<std::pair<qint64, qint64>> busy_;
};

// The longest time between two frames of the window while the large GIF
// loads, from the assignment until the first second after it is ready, and
// how long that was (`span`). An empty `file` measures the same window for
// 6 s without loading anything: the window's own longest gap on this
// machine, the baseline of the others, over the first 4 s (`stall`) and over
// the first k quarter seconds (`within<k>`), so that a load is set against
// the window's own longest gap over as long a time as it was measured (the
// longest of more gaps is longer). The end of the load is heard from
// statusChanged: reading `status` of an item that is not asynchronous would
// wait for its load.
constexpr int kOwnGapQuarters = 24;  // how long the window is measured without a load

int Load(Kind kind, const QString& file, bool asynchronous = false) {
  // Declared before the scene, so that they outlive its window, whose render
  // thread may still swap a frame while it goes.
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0, longest = 0;
  bool measuring = false;
  std::vector<std::pair<qint64, qint64>> gaps;  // when each ended, and its length
  std::optional<FrameTrace> trace;
  Scene scene(kind, QString(), 1280, 720, true, false, asynchronous);
  QObject::connect(&scene.window(), &QQuickWindow::frameSwapped, [&] {
    const qint64 now = clock.nsecsElapsed();
    if (measuring) {
      longest = std::max(longest, now - last);
      gaps.emplace_back(now, now - last);
    }
    last = now;
  });
  if (qEnvironmentVariableIsSet("FLIPREEL_LOAD_TRACE")) trace.emplace(scene.window(), clock);
  RunEventsFor(1000);
  measuring = true;
  last = clock.nsecsElapsed();
  const qint64 start = last;
  if (trace) trace->Start();
  if (file.isEmpty()) {
    RunEventsFor(kOwnGapQuarters * 250);
    if (trace) trace->Report(start);
    // The longest gap that ended within the first k quarter seconds.
    auto within = [&](int k) {
      qint64 most = 0;
      for (auto [at, length] : gaps)
        if (at - start <= k * qint64{250'000'000}) most = std::max(most, length);
      return most / 1e6;
    };
    std::printf("stall=%.1f assign=0 ready=0", within(16));
    for (int k = 1; k <= kOwnGapQuarters; ++k) std::printf(" within%d=%.1f", k, within(k));
    std::printf("\n");
    return 0;
  }
  bool done = false;
  auto* item = qobject_cast<flipreel::FlipreelItem*>(&scene.item());
  if (item) {
    QObject::connect(item, &flipreel::FlipreelItem::statusChanged,
                     [&](flipreel::FlipreelItem::Status status) {
                       done = status == flipreel::FlipreelItem::Ready;
                     });
  }
  scene.item().setProperty("source", QUrl::fromLocalFile(file));
  const qint64 assigned = clock.nsecsElapsed() - start;
  while (!done && clock.elapsed() < 60000) {
    RunEventsFor(5);
    if (!item) done = scene.item().property("status").toInt() == 1;  // Ready
  }
  const qint64 ready = clock.nsecsElapsed() - start;
  RunEventsFor(1000);
  measuring = false;
  const qint64 span = clock.nsecsElapsed() - start;
  if (trace) trace->Report(start);
  std::printf("stall=%.1f assign=%.1f ready=%.1f span=%.1f\n", longest / 1e6, assigned / 1e6,
              ready / 1e6, span / 1e6);
  return 0;
}

// The machine's load average over the last minute, told beside each figure:
// on a shared machine a figure is worth as much as the quiet it was taken in.
double LoadAverage() {
  QFile file(QStringLiteral("/proc/loadavg"));
  if (!file.open(QIODevice::ReadOnly)) return -1;
  return QString::fromUtf8(file.readAll()).section(' ', 0, 0).toDouble();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The median of one figure over runs.
double Median(const std::vector<std::map<std::string, double>>& runs, const std::string& key) {
  std::vector<double> v;
  for (const auto& run : runs) v.push_back(run.at(key));
  return Median(v);
}

// The contenders play in turn, round after round, so that a load that comes
// and goes on a shared machine meets each alike; medians are reported, with
// each one's CPU time split by thread.
void ComparePlay(const QString& play, int seconds, int rounds) {
  const struct {
    const char* mode;
    const char* name;
  } contenders[] = {
      {"play-reel", "Flipreel"},
      {"play-animated", "AnimatedImage"},
      {"play-animated-uncached", "AnimatedImage, cache: false"},
      {"play-picture", "an Image changing (textured)"},
      {"play-floor", "a bare Rectangle (the floor)"},
  };
  std::map<std::string, std::vector<std::map<std::string, double>>> runs;
  const double load_before = LoadAverage();
  // Each round's ratio to AnimatedImage is taken within the round; the order
  // moves on each round, so that no contender always follows the same one.
  std::map<std::string, std::vector<double>> ratios;
  const size_t count = std::size(contenders);
  for (int round = 0; round < rounds; ++round) {
    std::map<std::string, double> cpu;
    for (size_t i = 0; i < count; ++i) {
      const auto& c = contenders[(i + static_cast<size_t>(round)) % count];
      runs[c.mode].push_back(
          RunChild("flipreel_quick_bench", {c.mode, play, QString::number(seconds)}, 10));
      cpu[c.mode] = runs[c.mode].back().at("cpu");
    }
    for (const auto& c : contenders) ratios[c.mode].push_back(cpu[c.mode] / cpu["play-animated"]);
  }
  std::printf(
      "Playing 480 x 270 at 25 fps for %d s, CPU seconds of the process (median of %d rounds;\n"
      "threads: GUI, Qt Quick's render thread, the rasteriser's threads; the pixels\n"
      "Flipreel uploaded meanwhile; load %.2f before, %.2f after):\n",
      seconds, rounds, load_before, LoadAverage());
  std::printf("  %-30s %7s %7s %7s %7s %7s %7s %7s %s\n", "", "cpu", "gui", "render", "raster",
              "frames", "uploads", "ratio", "  (least, most in a round)");
  const double peer = Median(runs["play-animated"], "cpu");
  for (const auto& c : contenders) {
    const auto& r = runs[c.mode];
    const auto [least, most] = std::minmax_element(ratios[c.mode].begin(), ratios[c.mode].end());
    std::printf("  %-30s %7.3f %7.3f %7.3f %7.3f %7.0f %7.0f %7.3f   (%.2f, %.2f)\n", c.name,
                Median(r, "cpu"), Median(r, "gui"), Median(r, "render"), Median(r, "raster"),
                Median(r, "frames"), Median(r, "uploads"), Median(ratios[c.mode]), *least, *most);
  }
  const double reel = Median(runs["play-reel"], "cpu");
  std::printf(
      "  ratio: the median of the rounds' own ratios. goal: at most 0.5 against AnimatedImage.\n"
      "  Above each floor (medians):\n");
  for (const char* floor_mode : {"play-floor", "play-picture"}) {
    const double floor = Median(runs[floor_mode], "cpu");
    std::printf("    %-14s Flipreel %.3f s, AnimatedImage %.3f s (ratio %.3f)\n", floor_mode,
                reel - floor, peer - floor, (reel - floor) / (peer - floor));
  }
}

// What a load does to the frames of a window that animates all along.
void CompareLoads(const QString& big, int rounds) {
  // Each round measures the window with nothing loading too: what a load
  // adds is told against that round's own longest gap over as long a time
  // as the load was measured (its span, rounded up to a quarter second;
  // the longest of more gaps is longer, whatever loads). The contenders
  // take turns in an order that moves on each round, so that none is
  // always measured next to the same neighbour or at the same point of a
  // round.
  std::map<std::string, std::vector<double>> stalls;
  const double load_before = LoadAverage();
  const std::vector<std::string> modes = {"load-none", "load-reel", "load-reel-async",
                                          "load-animated", "load-still"};
  for (int round = 0; round < rounds; ++round) {
    std::map<std::string, std::map<std::string, double>> r;
    for (size_t i = 0; i < modes.size(); ++i) {
      const std::string& mode = modes[(i + static_cast<size_t>(round)) % modes.size()];
      r[mode] = RunChild("flipreel_quick_bench", {QString::fromStdString(mode), big}, 10);
    }
    for (const std::string& mode : modes) {
      const double span = mode == "load-none" ? 4000 : r[mode]["span"];
      const int quarters = std::clamp(static_cast<int>(std::ceil(span / 250)), 1, kOwnGapQuarters);
      stalls[mode].push_back(r[mode]["stall"]);
      stalls[mode + "-ready"].push_back(r[mode]["ready"]);
      stalls[mode + "-added"].push_back(r[mode]["stall"] -
                                        r["load-none"]["within" + std::to_string(quarters)]);
    }
  }
  std::printf(
      "\nLongest time between two frames while 1280 x 720 x 200 frames load, and what the\n"
      "load adds to the window's own longest gap over as long a time in the same round\n"
      "(medians of %d rounds, and the most it added in one; load %.2f before, %.2f after):\n",
      rounds, load_before, LoadAverage());
  std::printf("  %-30s %8s %8s %8s %8s\n", "", "longest", "added", "most", "ready");
  const struct {
    const char* mode;
    const char* name;
  } loads[] = {
      {"load-reel", "Flipreel"},
      {"load-reel-async", "Flipreel, asynchronous: true"},
      {"load-animated", "AnimatedImage"},
      {"load-still", "an Image of its first frame"},
      {"load-none", "nothing loading (4 s)"},
  };
  for (const auto& l : loads) {
    const std::string mode = l.mode;
    const std::vector<double>& added = stalls[mode + "-added"];
    std::printf("  %-30s %5.1f ms %5.1f ms %5.1f ms %5.0f ms\n", l.name, Median(stalls[mode]),
                Median(added), *std::max_element(added.begin(), added.end()),
                Median(stalls[mode + "-ready"]));
  }
  std::printf("  goal: at most 4 ms added\n");
}

int RunAll(int seconds, int play_rounds, int load_rounds, bool play_only, bool load_only) {
  QTemporaryDir dir;
  QProcess writer;
  writer.start(QStringLiteral(FLIPREEL_QT_BENCH), {QStringLiteral("write-gifs"), dir.path()});
  if (!writer.waitForFinished(600000) || writer.exitCode() != 0) {
    std::fprintf(stderr, "flipreel_quick_bench: the GIFs could not be written\n");
    return 1;
  }
  const QString play = dir.filePath("play-480x270-25fps.gif");
  const QString big = dir.filePath("load-1280x720-200.gif");
  if (load_only) {
    CompareLoads(big, load_rounds);
    return 0;
  }
  ComparePlay(play, seconds, play_rounds);
  if (play_only) return 0;
  auto hidden =
      RunChild("flipreel_quick_bench", {"hidden-reel", play, QString::number(seconds)}, 10);
  auto reel_mem = RunChild("flipreel_quick_bench", {"memory-reel", big}, 10);
  auto animated_mem = RunChild("flipreel_quick_bench", {"memory-animated", big}, 10);
  std::printf("Hidden Flipreel    %7.3f s  (%d ticks, %d frames drawn)\n", hidden["cpu"],
              int(hidden["ticks"]), int(hidden["frames"]));
  std::printf("\nResident memory after loading 1280 x 720 x 200 frames and showing each:\n");
  std::printf("  Flipreel         %7.1f MB\n", reel_mem["mb"]);
  std::printf("  AnimatedImage    %7.1f MB (cache: true, %d frames)\n", animated_mem["mb"],
              int(animated_mem["frames"]));
  std::printf("  ratio            %7.3f    (goal: at most 0.5)\n",
              reel_mem["mb"] / animated_mem["mb"]);
  CompareLoads(big, load_rounds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  const QString mode = args.value(0);
  const QString file = args.value(1);
  const int seconds_arg = args.value(2).toInt();
  if (mode == "play-reel") return Play(Kind::kReel, file, seconds_arg, false);
  if (mode == "hidden-reel") return Play(Kind::kReel, file, seconds_arg, true);
  if (mode == "play-animated") return Play(Kind::kAnimated, file, seconds_arg, false);
  if (mode == "play-animated-uncached")
    return Play(Kind::kAnimatedUncached, file, seconds_arg, false);
  if (mode == "play-picture") return Play(Kind::kPicture, file, seconds_arg, false);
  if (mode == "play-floor") return Play(Kind::kFloor, file, seconds_arg, false);
  if (mode == "memory-reel") return Memory(true, file);
  if (mode == "memory-animated") return Memory(false, file);
  if (mode == "load-reel") return Load(Kind::kReel, file);
  if (mode == "load-reel-async") return Load(Kind::kReel, file, true);
  if (mode == "load-animated") return Load(Kind::kAnimated, file);
  if (mode == "load-still") return Load(Kind::kStill, file);
  if (mode == "load-none") return Load(Kind::kReel, QString());
  int seconds = 10;
  if (const qsizetype at = args.indexOf("--seconds"); at >= 0)
    seconds = std::max(1, args.value(at + 1).toInt());
  int load_rounds = 9;
  if (const qsizetype at = args.indexOf("--rounds"); at >= 0)
    load_rounds = std::max(1, args.value(at + 1).toInt());
  int play_rounds = 5;
  if (const qsizetype at = args.indexOf("--play-rounds"); at >= 0)
    play_rounds = std::max(1, args.value(at + 1).toInt());
  return RunAll(seconds, play_rounds, load_rounds, args.contains("--play"),
                args.contains("--load"));
}
