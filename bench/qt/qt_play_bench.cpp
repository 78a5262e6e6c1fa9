// FlipreelWidget next to QLabel + QMovie, in one run under one X server
// (Xvfb): the CPU time of playing a 480 x 270, 25 frames-per-second GIF for
// 10 s, the CPU time while the widget is hidden, the longest time the event
// loop is blocked while a 1280 x 720, 200-frame GIF loads (from its file and
// from memory) and while a 400 x 300, 380-frame GIF loads from memory, with
// the times until the first frame is painted and until the load is done, and
// the resident memory after loading the large one (QMovie with CacheAll).
//
// Each measurement runs in a child process of its own (this program with a
// mode argument), so that one measurement's memory and caches do not reach
// another; the parent generates the GIFs, runs the children one after the
// other and prints the figures and their ratios.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" flipreel_qt_bench [--seconds S]
//   flipreel_qt_bench loads [ROUNDS]         (only the load figures)
//   flipreel_qt_bench write-gifs DIR        (the two GIFs, to look at)
//   flipreel_qt_bench MODE FILE [SECONDS]   (one child: play-widget,
//       hidden-widget, play-movie, play-floor, load-widget,
//       load-widget-at-once, load-widget-data, load-widget-data-at-once,
//       load-movie, load-movie-data,
//       memory-widget, memory-movie)
#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMovie>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/qt/bench_process.h"
#include "examples/example_gifs.h"
#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/flipreel_widget_p.h"

namespace {

using namespace qtbench;

using flipreel::FlipreelWidget;

// The widget's paint-ready frame copies.
const flipreel::PictureCache& CacheOf(FlipreelWidget& w) {
  return flipreel::FlipreelWidgetPrivate::get(w).cache();
}

// An animation of full frames: a diagonal gradient in 64 shades with a disc
// and a bar moving over it, so that every frame differs everywhere a little
// and compresses the way real footage does.
gifexamples::AnimatedGif MakeAnimation(int width, int height, int frames, int delay_cs) {
  gifexamples::AnimatedGif gif;
  gif.width = width;
  gif.height = height;
  for (int i = 0; i < 256; ++i) {
    const int shade = i % 64 * 4;
    switch (i / 64) {
      case 0:
        gif.global_palette.push_back(uint32_t(shade) << 16 | uint32_t(64) << 8 | uint32_t(160));
        break;
      case 1:
        gif.global_palette.push_back(uint32_t(255) << 16 | uint32_t(shade) << 8);
        break;
      case 2:
        gif.global_palette.push_back(uint32_t(shade) << 8 | uint32_t(255 - shade));
        break;
      default:
        gif.global_palette.push_back(uint32_t(shade) * 0x010101u);
        break;
    }
  }
  for (int f = 0; f < frames; ++f) {
    gifexamples::FrameImage frame;
    frame.width = width;
    frame.height = height;
    frame.delay_cs = delay_cs;
    frame.disposal = 1;
    frame.pixels.resize(static_cast<size_t>(width) * height);
    const double t = static_cast<double>(f) / frames;
    const int cx = static_cast<int>(width * (0.5 + 0.35 * std::cos(2 * M_PI * t)));
    const int cy = static_cast<int>(height * (0.5 + 0.35 * std::sin(4 * M_PI * t)));
    const int radius = height / 5;
    const int bar = static_cast<int>(width * t);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        int index = ((x + y + f * 3) * 64 / (width + height)) % 64;
        const int dx = x - cx, dy = y - cy;
        if (dx * dx + dy * dy < radius * radius)
          index = 64 + (dx * dx + dy * dy) * 63 / (radius * radius);
        if (std::abs(x - bar) < width / 40) index = 128 + y * 63 / height;
        frame.pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(index);
      }
    }
    gif.frames.push_back(std::move(frame));
  }
  return gif;
}

// --- the children ----------------------------------------------------------------

int PlayWidget(const QString& file, int seconds, bool hidden) {
  FlipreelWidget w;
  w.setFlipreelFile(file);
  w.resize(480, 270);  // the GIF's size, as the label has
  if (w.lastError() || w.Frames() == 0) {
    std::cerr << "the widget did not load " << file.toStdString() << "\n";
    return 1;
  }
  int paints = 0, frames = 0;
  struct PaintCounter : QObject {
    int* count;
    explicit PaintCounter(int* c) : count(c) {}
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++*count;
      return false;
    }
  } counter(&paints);
  w.installEventFilter(&counter);
  QObject::connect(&w, &FlipreelWidget::Frame, [&] { ++frames; });
  w.show();
  RunEventsFor(1000);  // shown, painted, playing
  if (hidden) {
    w.hide();
    RunEventsFor(200);
  }
  paints = frames = 0;
  const int64_t conversions = CacheOf(w).conversions();
  const double cpu = CpuSeconds();
  RunEventsFor(seconds * 1000);
  std::printf("cpu=%.4f frames=%d paints=%d conversions=%lld width=%d height=%d\n",
              CpuSeconds() - cpu, frames, paints,
              static_cast<long long>(CacheOf(w).conversions() - conversions), w.width(),
              w.height());
  return 0;
}

int PlayMovie(const QString& file, int seconds) {
  QLabel label;
  QMovie movie(file);
  if (!movie.isValid()) {
    std::cerr << "QMovie cannot read " << file.toStdString() << "\n";
    return 1;
  }
  int frames = 0;
  QObject::connect(&movie, &QMovie::frameChanged, [&] { ++frames; });
  label.setMovie(&movie);
  movie.start();
  label.resize(movie.currentPixmap().size());
  label.show();
  RunEventsFor(1000);
  frames = 0;
  const double cpu = CpuSeconds();
  RunEventsFor(seconds * 1000);
  std::printf("cpu=%.4f frames=%d width=%d height=%d\n", CpuSeconds() - cpu, frames, label.width(),
              label.height());
  return 0;
}

// The floor for any player that converts frames ahead: a bare widget that
// draws pre-converted images on a precise timer, nothing else.
int PlayFloor(const QString& file, int seconds) {
  QImageReader reader(file);
  std::vector<QImage> images;
  int delay = 40;
  for (QImage image; reader.read(&image);) {
    if (images.empty() && reader.nextImageDelay() > 0) delay = reader.nextImageDelay();
    images.push_back(image.convertToFormat(QImage::Format_RGB32));
  }
  if (images.empty()) return 1;
  struct Bare : QWidget {
    const std::vector<QImage>* images = nullptr;
    size_t shown = 0;
    void paintEvent(QPaintEvent*) override {
      QPainter painter(this);
      painter.drawImage(0, 0, (*images)[shown]);
    }
  } bare;
  bare.images = &images;
  bare.setAttribute(Qt::WA_OpaquePaintEvent);
  bare.resize(images.front().size());
  int frames = 0;
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    bare.shown = (bare.shown + 1) % images.size();
    ++frames;
    bare.repaint();
  });
  timer.start(delay);
  bare.show();
  RunEventsFor(1000);
  frames = 0;
  const double cpu = CpuSeconds();
  RunEventsFor(seconds * 1000);
  std::printf("cpu=%.4f frames=%d\n", CpuSeconds() - cpu, frames);
  return 0;
}

// How long the event loop is blocked while a GIF loads: a 5 ms timer records
// how late each of its ticks comes, from just before the load is started
// (from the event loop, as a user's click would) until 2 s after it.
// Beside it, the most CPU time the GUI thread spent between two ticks: on a
// busy machine the lateness also counts the time the thread waited for a
// core, which this does not.
qint64 ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return qint64{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

struct Lateness {
  QElapsedTimer clock;
  qint64 last = 0, worst = 0;
  qint64 last_cpu = ThreadCpuNs(), worst_cpu = 0;
  QTimer timer;
  Lateness() {
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      const qint64 now = clock.nsecsElapsed();
      const qint64 cpu = ThreadCpuNs();
      worst = std::max(worst, now - last - 5'000'000);
      worst_cpu = std::max(worst_cpu, cpu - last_cpu);
      last = now;
      last_cpu = cpu;
    });
    clock.start();
    timer.start(5);
  }
};

// When a widget first paints the loaded GIF's first frame (as the preview of
// a load still pending, or the load done), and when its load was done, from
// the moment the load was asked for.
class FirstPaint : public QObject {
 public:
  FirstPaint(QWidget& w, const QElapsedTimer& load, std::function<bool()> shows_frame)
      : load_(load), shows_frame_(std::move(shows_frame)) {
    w.installEventFilter(this);
  }
  qint64 ns() const { return ns_; }
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::Paint && ns_ == 0 && load_.isValid() && shows_frame_())
      ns_ = load_.nsecsElapsed();
    return false;
  }

 private:
  const QElapsedTimer& load_;
  std::function<bool()> shows_frame_;
  qint64 ns_ = 0;
};

QByteArray ReadBytes(const QString& file) {
  QFile f(file);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The widget as it loads by default (the GIF read and composed on another
// thread, or with classic frames read and decoded on other threads, handed
// to the control in slices from the event loop), or with every load run
// inside its call, from the file (FlipreelFile) or from memory
// (loadFromData): how long the call took, when the first frame was painted
// and when the load was done.
int LoadWidget(const QString& file, bool at_once, bool from_memory, bool classic = false) {
  FlipreelWidget w;
  flipreel::FlipreelWidgetPrivate& d = flipreel::FlipreelWidgetPrivate::get(w);
  d.SetDeferredLoads(!at_once);
  if (classic) w.setComposed(false);
  w.show();
  RunEventsFor(300);
  const QByteArray bytes = from_memory ? ReadBytes(file) : QByteArray();
  Lateness lateness;
  QElapsedTimer load;
  qint64 call_ns = 0, loaded_ns = 0;
  bool asked = false;
  FirstPaint shown(w, load, [&] { return asked && (d.PreviewShown() || !d.LoadPending()); });
  QTimer done;
  QObject::connect(&done, &QTimer::timeout, [&] {
    if (asked && loaded_ns == 0 && !d.LoadPending()) loaded_ns = load.nsecsElapsed();
  });
  done.start(1);
  QTimer::singleShot(20, [&] {
    load.start();
    asked = true;
    if (from_memory) {
      w.loadFromData(bytes);
    } else {
      w.setFlipreelFile(file);
    }
    call_ns = load.nsecsElapsed();
    if (!d.LoadPending()) loaded_ns = call_ns;
  });
  RunEventsFor(3000);
  std::printf("blocked_ms=%.1f busy_ms=%.1f call_ms=%.1f shown_ms=%.1f loaded_ms=%.1f frames=%d\n",
              lateness.worst / 1e6, lateness.worst_cpu / 1e6, call_ns / 1e6, shown.ns() / 1e6,
              loaded_ns / 1e6, w.Frames());
  return 0;
}

int LoadMovie(const QString& file, bool from_memory) {
  QLabel label;
  label.show();
  RunEventsFor(300);
  QBuffer buffer;
  buffer.setData(from_memory ? ReadBytes(file) : QByteArray());
  Lateness lateness;
  QMovie movie;
  QElapsedTimer load;
  FirstPaint shown(label, load, [&] { return movie.currentFrameNumber() >= 0; });
  QTimer::singleShot(20, [&] {
    load.start();
    if (from_memory) {
      movie.setDevice(&buffer);
    } else {
      movie.setFileName(file);
    }
    movie.setCacheMode(QMovie::CacheAll);
    label.setMovie(&movie);
    movie.start();
  });
  RunEventsFor(3000);
  std::printf("blocked_ms=%.1f busy_ms=%.1f shown_ms=%.1f frames=%d\n", lateness.worst / 1e6,
              lateness.worst_cpu / 1e6, shown.ns() / 1e6, movie.frameCount());
  return 0;
}

int MemoryWidget(const QString& file) {
  FlipreelWidget w;
  w.show();
  RunEventsFor(300);
  const double before = ResidentMb();
  w.setFlipreelFile(file);
  const int frames = w.Frames();  // the load is finished by then
  RunEventsFor(300);
  const double after = ResidentMb();
  std::printf("mb=%.1f frames=%d kept_mb=%.1f\n", after - before, frames,
              CacheOf(w).kept_bytes() / 1048576.0);
  return 0;
}

// --- the parent --------------------------------------------------------------------

void WriteGifs(const QString& play, const QString& big, const QString& long_gif = {}) {
  gifexamples::WriteGif(play.toStdString(), MakeAnimation(480, 270, 50, 4));
  gifexamples::WriteGif(big.toStdString(), MakeAnimation(1280, 720, 200, 4));
  if (!long_gif.isEmpty())
    gifexamples::WriteGif(long_gif.toStdString(), MakeAnimation(400, 300, 380, 4));
}

// The longest block of the event loop while a GIF loads: the widget as it
// loads by default (composed), the same with classic frames, the widget with
// the (composed) load run inside the call, and QMovie
// with CacheAll, each in fresh processes, taken in turn `rounds` times;
// medians. `memory`: from bytes in memory (loadFromData, QMovie on a
// QBuffer) rather than from the file.
void ReportLoad(const QString& file, const char* what, bool memory, int rounds) {
  std::map<std::string, std::vector<double>> runs;
  auto median = [&](const std::string& key) {
    std::vector<double>& v = runs[key];
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  const std::vector<std::string> modes =
      memory ? std::vector<std::string>{"load-widget-data", "load-widget-data-at-once",
                                        "load-movie-data", "load-widget-data-classic"}
             : std::vector<std::string>{"load-widget", "load-widget-at-once", "load-movie",
                                        "load-widget-classic"};
  for (int r = 0; r < rounds; ++r) {
    for (const std::string& mode : modes) {
      for (const auto& [key, value] :
           RunChild("flipreel_qt_bench", {QString::fromStdString(mode), file}, 10))
        runs[mode + "." + key].push_back(value);
    }
  }
  const double widget = median(modes[0] + ".blocked_ms");
  const double at_once = median(modes[1] + ".blocked_ms");
  const double movie = median(modes[2] + ".blocked_ms");
  double load[3] = {};
  getloadavg(load, 3);
  std::printf(
      "\nLongest time the event loop is blocked, loading %s %s\n"
      "(a 5 ms timer's worst lateness over 3 s from the call; medians of %d runs, %u cores,"
      " load average %.2f):\n",
      what, memory ? "from memory" : "from a file", rounds, std::thread::hardware_concurrency(),
      load[0]);
  const double classic = median(modes[3] + ".blocked_ms");
  std::printf(
      "  FlipreelWidget        %7.1f ms (composed; goal: at most 4; the thread's own CPU %.1f ms;"
      " call %.1f ms, first frame painted at %.1f ms, loaded at %.1f ms, %d frames)\n",
      widget, median(modes[0] + ".busy_ms"), median(modes[0] + ".call_ms"),
      median(modes[0] + ".shown_ms"), median(modes[0] + ".loaded_ms"),
      int(median(modes[0] + ".frames")));
  std::printf(
      "  the same, classic     %7.1f ms (the thread's own CPU %.1f ms; call %.1f ms, first frame"
      " painted at %.1f ms, loaded at %.1f ms, %d frames)\n",
      classic, median(modes[3] + ".busy_ms"), median(modes[3] + ".call_ms"),
      median(modes[3] + ".shown_ms"), median(modes[3] + ".loaded_ms"),
      int(median(modes[3] + ".frames")));
  std::printf("  loaded in the call    %7.1f ms (call %.1f ms)\n", at_once,
              median(modes[1] + ".call_ms"));
  std::printf(
      "  QMovie, CacheAll      %7.1f ms (decoding as it plays; the thread's own CPU %.1f ms;"
      " first frame painted at %.1f ms, %d frames)\n",
      movie, median(modes[2] + ".busy_ms"), median(modes[2] + ".shown_ms"),
      int(median(modes[2] + ".frames")));
  std::printf("  ratio to QMovie       %7.2f    (classic: %.2f; loaded in the call: %.2f)\n",
              widget / movie, classic / movie, at_once / movie);
}

void ReportLoads(const QString& big, const QString& long_gif, int rounds) {
  ReportLoad(big, "1280 x 720 x 200 frames", false, rounds);
  ReportLoad(big, "1280 x 720 x 200 frames", true, rounds);
  ReportLoad(long_gif, "400 x 300 x 380 frames", true, rounds);
}

int RunAll(int seconds) {
  QTemporaryDir dir;
  const QString play = dir.filePath("play-480x270-25fps.gif");
  const QString big = dir.filePath("load-1280x720-200.gif");
  const QString long_gif = dir.filePath("load-400x300-380.gif");
  WriteGifs(play, big, long_gif);
  std::printf("GIFs: 480 x 270 x 50 frames (%.1f MB), 1280 x 720 x 200 frames (%.1f MB)\n",
              QFileInfo(play).size() / 1048576.0, QFileInfo(big).size() / 1048576.0);

  const QString secs = QString::number(seconds);
  auto widget = RunChild("flipreel_qt_bench", {"play-widget", play, secs}, 10);
  auto movie = RunChild("flipreel_qt_bench", {"play-movie", play, secs}, 10);
  auto floor = RunChild("flipreel_qt_bench", {"play-floor", play, secs}, 10);
  auto hidden = RunChild("flipreel_qt_bench", {"hidden-widget", play, secs}, 10);
  auto widget_mem = RunChild("flipreel_qt_bench", {"memory-widget", big}, 10);
  auto movie_mem = RunChild("flipreel_qt_bench", {"memory-movie", big}, 10);

  std::printf("\nPlaying 480 x 270 at 25 fps for %d s (CPU seconds of the process):\n", seconds);
  std::printf("  FlipreelWidget        %7.3f s  (%d frames, %d paints, %d x %d)\n", widget["cpu"],
              int(widget["frames"]), int(widget["paints"]), int(widget["width"]),
              int(widget["height"]));
  std::printf("  QLabel + QMovie       %7.3f s  (%d frames, %d x %d)\n", movie["cpu"],
              int(movie["frames"]), int(movie["width"]), int(movie["height"]));
  std::printf("  bare QWidget          %7.3f s  (%d frames: pre-converted images on a timer)\n",
              floor["cpu"], int(floor["frames"]));
  std::printf("  ratio to QMovie       %7.3f    (goal: at most 0.2; the bare widget: %.3f)\n",
              widget["cpu"] / movie["cpu"], floor["cpu"] / movie["cpu"]);
  std::printf("Hidden FlipreelWidget   %7.3f s  (%d ticks, %d paints, %d conversions)\n",
              hidden["cpu"], int(hidden["frames"]), int(hidden["paints"]),
              int(hidden["conversions"]));
  ReportLoads(big, long_gif, 3);
  std::printf("\nResident memory after loading 1280 x 720 x 200 frames:\n");
  std::printf("  FlipreelWidget        %7.1f MB (%.1f MB of it paint-ready copies)\n",
              widget_mem["mb"], widget_mem["kept_mb"]);
  std::printf("  QMovie, CacheAll      %7.1f MB (%d frames)\n", movie_mem["mb"],
              int(movie_mem["frames"]));
  std::printf("  ratio                 %7.3f    (goal: at most 0.5)\n",
              widget_mem["mb"] / movie_mem["mb"]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  const QString mode = args.value(0);
  if (mode == "play-widget") return PlayWidget(args.value(1), args.value(2).toInt(), false);
  if (mode == "hidden-widget") return PlayWidget(args.value(1), args.value(2).toInt(), true);
  if (mode == "play-movie") return PlayMovie(args.value(1), args.value(2).toInt());
  if (mode == "play-floor") return PlayFloor(args.value(1), args.value(2).toInt());
  if (mode == "load-widget") return LoadWidget(args.value(1), false, false);
  if (mode == "load-widget-at-once") return LoadWidget(args.value(1), true, false);
  if (mode == "load-widget-data") return LoadWidget(args.value(1), false, true);
  if (mode == "load-widget-data-at-once") return LoadWidget(args.value(1), true, true);
  if (mode == "load-widget-classic") return LoadWidget(args.value(1), false, false, true);
  if (mode == "load-widget-data-classic") return LoadWidget(args.value(1), false, true, true);
  if (mode == "load-movie") return LoadMovie(args.value(1), false);
  if (mode == "load-movie-data") return LoadMovie(args.value(1), true);
  if (mode == "memory-widget") return MemoryWidget(args.value(1));
  if (mode == "memory-movie") return MemoryMovie(args.value(1));
  if (mode == "write-gifs") {  // the two GIFs, to look at or to profile with
    const QDir dir(args.value(1, "."));
    WriteGifs(dir.filePath("play-480x270-25fps.gif"), dir.filePath("load-1280x720-200.gif"),
              dir.filePath("load-400x300-380.gif"));
    return 0;
  }
  if (mode == "loads") {  // only the load figures
    QTemporaryDir dir;
    const QString play = dir.filePath("play.gif"), big = dir.filePath("big.gif"),
                  long_gif = dir.filePath("long.gif");
    WriteGifs(play, big, long_gif);
    ReportLoads(big, long_gif, std::max(1, args.value(1, "5").toInt()));
    return 0;
  }
  int seconds = 10;
  if (mode == "--seconds") seconds = std::max(1, args.value(1).toInt());
  return RunAll(seconds);
}
