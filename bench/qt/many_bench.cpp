// A hundred animated GIFs in one window, in one run under one X server (Xvfb):
// 100 FlipreelWidgets in a QScrollArea (20 distinct GIFs of 64 x 64 to
// 320 x 240, five of each), as they play by default (a paint cache of 64 MB
// each: every frame held as 32-bit pixels) and with no paint cache (frames
// compact, the frame on show converted once for the widgets that show it),
// beside
//   - 100 QLabels, each showing a QMovie of its GIF, as QMovie plays by
//     default (only the frame on show is kept);
//   - the same with QMovie::CacheAll (every frame kept, one copy per movie);
//   - the floor: 100 bare widgets that blit frames converted beforehand (one
//     set per distinct GIF), each on a timer of its own, on the same delays;
//   - the baseline: 100 bare widgets of the same sizes that show nothing, so
//     that each contender's memory can also be read above what the window
//     and its widgets cost anyway.
// Each contender plays for the given time in a child process of its own,
// with the scroll area showing all of them, then again showing only a
// quarter. Reported per contender: CPU time (user + system) as a share of
// one core, wake-ups of the GUI thread per second (its voluntary context
// switches), paints per second and resident memory. Showing all of them, the
// floor and the widgets play several rounds in turn (see RunAll).
//
//   xvfb-run -a -s "-screen 0 3400x2000x24" flipreel_many_bench [--seconds S] [--rounds N]
//   flipreel_many_bench write-gifs DIR          (the 20 GIFs, to look at)
//   flipreel_many_bench MODE DIR SECONDS VIEW [PNG]  (one child: widgets,
//       compact, movies, cached, floor, baseline; VIEW all or quarter; PNG: the
//       window at the end)
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QMovie>
#include <QPainter>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/qt/bench_process.h"
#include "examples/example_gifs.h"
#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/flipreel_widget_p.h"
#include "flipreel/qt/frame_clock.h"

namespace {

using namespace qtbench;

constexpr int kDistinct = 20;
constexpr int kCopies = 5;
constexpr int kColumns = 10;

QString GifName(int i) {
  return QString("gif%1.gif").arg(i, 2, 10, QChar('0'));
}

QSize GifSize(int i) {
  return QSize(64 + (320 - 64) * i / (kDistinct - 1), 64 + (240 - 64) * i / (kDistinct - 1));
}

// GIF i of the 20: from 64 x 64 up to 320 x 240, 8 to 27 full frames of a
// ball crossing a gradient, each GIF with delays of its own (20 to 100 ms).
gifexamples::AnimatedGif MakeGif(int i) {
  gifexamples::AnimatedGif gif;
  gif.width = GifSize(i).width();
  gif.height = GifSize(i).height();
  for (int c = 0; c < 256; ++c)
    gif.global_palette.push_back(uint32_t(c) << 16 | uint32_t(255 - c) << 8 | uint32_t(i * 12));
  const int frames = 8 + i;
  const int radius = gif.height / 6;
  for (int f = 0; f < frames; ++f) {
    gifexamples::FrameImage frame;
    frame.width = gif.width;
    frame.height = gif.height;
    frame.delay_cs = 2 + (i * 3 + f % 3) % 9;
    const double t = static_cast<double>(f) / frames;
    const int cx = static_cast<int>(gif.width * (0.5 + 0.35 * std::cos(2 * M_PI * t)));
    const int cy = static_cast<int>(gif.height * (0.5 + 0.3 * std::sin(2 * M_PI * t)));
    for (int y = 0; y < gif.height; ++y)
      for (int x = 0; x < gif.width; ++x) {
        const int dx = x - cx, dy = y - cy;
        frame.pixels.push_back(
            dx * dx + dy * dy < radius * radius
                ? 255
                : static_cast<uint8_t>((x + y) * 254 / (gif.width + gif.height)));
      }
    gif.frames.push_back(std::move(frame));
  }
  return gif;
}

void WriteGifs(const QDir& dir) {
  for (int i = 0; i < kDistinct; ++i)
    gifexamples::WriteGif(dir.filePath(GifName(i)).toStdString(), MakeGif(i));
}

// The floor: frames converted beforehand, blitted on the GIF's delays.
struct Frames {
  std::vector<QImage> images;
  std::vector<int> delays;
};

Frames ReadFrames(const QString& path) {
  Frames frames;
  QImageReader reader(path);
  QImage image;
  while (reader.read(&image)) {
    frames.images.push_back(image.convertToFormat(QImage::Format_RGB32));
    frames.delays.push_back(std::max(reader.nextImageDelay(), 20));
  }
  return frames;
}

class Blitter final : public QWidget {
 public:
  explicit Blitter(const Frames& frames) : frames_(frames) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(frames.images.front().size());
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
      shown_ = (shown_ + 1) % static_cast<int>(frames_.images.size());
      timer_.start(frames_.delays[shown_]);
      update();
    });
    timer_.start(frames_.delays[0]);
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, frames_.images[shown_]); }

 private:
  const Frames& frames_;
  QTimer timer_;
  int shown_ = 0;
};

// Counts the paint events of the widgets it watches.
class PaintCounter final : public QObject {
 public:
  int64_t paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

int64_t GuiThreadWakeups() {
  rusage ru{};
  getrusage(RUSAGE_THREAD, &ru);
  return ru.ru_nvcsw;
}

// One contender: 100 cells in a scroll area, the GIFs spread so that each
// part of the grid holds a mix of sizes.
int Play(const QString& mode, const QDir& dir, int seconds, bool quarter, const QString& shot) {
  std::map<int, Frames> floor_frames;
  std::vector<std::unique_ptr<QMovie>> movies;
  std::vector<flipreel::FlipreelWidget*> widgets;
  // Paint-ready copies made by all the widgets so far.
  auto conversions = [&] {
    int64_t n = 0;
    for (flipreel::FlipreelWidget* w : widgets)
      n += flipreel::FlipreelWidgetPrivate::get(*w).cache().conversions();
    return n;
  };
  // Paint-ready copies the widgets hold beyond their budgets, in MB.
  auto aside_mb = [&] {
    size_t bytes = 0;
    for (flipreel::FlipreelWidget* w : widgets)
      bytes += flipreel::FlipreelWidgetPrivate::get(*w).cache().CountAsideBytes();
    return static_cast<double>(bytes) / (1 << 20);
  };
  PaintCounter counter;
  auto* grid = new QWidget;
  auto* layout = new QGridLayout(grid);
  layout->setSpacing(2);
  for (int cell = 0; cell < kDistinct * kCopies; ++cell) {
    const int gif = (cell * 7) % kDistinct;
    const QString path = dir.filePath(GifName(gif));
    QWidget* shown = nullptr;
    if (mode == "widgets" || mode == "compact") {
      auto* w = new flipreel::FlipreelWidget;
      if (mode == "compact") w->setPaintCacheBudget(0);
      w->setAutoSize(true);
      w->setFlipreelFile(path);
      widgets.push_back(w);
      shown = w;
    } else if (mode == "movies" || mode == "cached") {
      auto* label = new QLabel;
      movies.push_back(std::make_unique<QMovie>(path));
      if (mode == "cached") movies.back()->setCacheMode(QMovie::CacheAll);
      label->setMovie(movies.back().get());
      movies.back()->start();
      shown = label;
    } else if (mode == "baseline") {
      shown = new QWidget;
      shown->setFixedSize(GifSize(gif));
    } else {
      auto [it, made] = floor_frames.try_emplace(gif);
      if (made) it->second = ReadFrames(path);
      if (it->second.images.empty()) {
        std::fprintf(stderr, "flipreel_many_bench: no frames in %s\n", qPrintable(path));
        return 1;
      }
      shown = new Blitter(it->second);
    }
    shown->installEventFilter(&counter);
    layout->addWidget(shown, cell / kColumns, cell % kColumns);
  }
  QScrollArea area;
  area.setFrameShape(QFrame::NoFrame);
  area.setWidget(grid);
  RunEventsFor(200);  // loads, layouts
  const QSize full = grid->sizeHint();
  area.resize(full.width(), quarter ? full.height() / 4 : full.height());
  area.show();
  RunEventsFor(1000);  // settles
  const double cpu0 = CpuSeconds();
  const int64_t wakes0 = GuiThreadWakeups();
  const int64_t paints0 = counter.paints;
  const int64_t clock0 = flipreel::FrameClock::OfThisThread().wakeups();
  const int64_t conversions0 = conversions();
  QElapsedTimer clock;
  clock.start();
  RunEventsFor(seconds * 1000);
  const double elapsed = clock.elapsed() / 1000.0;
  std::printf("cpu=%.4f wakeups=%.1f paints=%.1f mb=%.1f clock=%.1f conversions=%.1f aside=%.1f\n",
              (CpuSeconds() - cpu0) / elapsed, (GuiThreadWakeups() - wakes0) / elapsed,
              (counter.paints - paints0) / elapsed, ResidentMb(),
              (flipreel::FrameClock::OfThisThread().wakeups() - clock0) / elapsed,
              static_cast<double>(conversions() - conversions0) / elapsed, aside_mb());
  if (!shot.isEmpty()) area.grab().save(shot);
  return 0;
}

// The median of a few values (the middle one; of an even count, the mean of
// the two middle ones).
double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t mid = v.size() / 2;
  return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

// Whole-process CPU moves with whatever else the machine runs, by a third
// between two runs of the same contender. The ratio of the widgets to the
// floor is so measured over rounds: in each the floor and the widgets play
// one after the other, and each figure reported for them is the median of
// the rounds (the ratio is the median of the rounds' ratios, each taken
// within one round). Which of the two plays first alternates from round to
// round, so that a load that rises or falls across a round (another build
// starting or ending) weighs on each of them as often, and over an even
// number of rounds each goes first as often. The other contenders, far from
// the floor or measured for memory, play once.
int RunAll(int seconds, int rounds) {
  QTemporaryDir dir;
  WriteGifs(QDir(dir.path()));
  double load = 0;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = 0;
    std::fclose(f);
  }
  std::printf(
      "100 GIFs in a scroll area (20 distinct, 64x64 to 320x240, five of each), %d s "
      "each; load average %.2f at the start\n"
      "Showing all of them, the floor and the widgets play %d rounds, one after the other, "
      "which goes first alternating; their figures are the rounds' medians\n\n",
      seconds, load, rounds);
  std::printf("%-8s %-16s %8s %10s %9s %8s %10s\n", "view", "contender", "cpu", "wakeups/s",
              "paints/s", "rss MB", "above MB");
  using Values = std::map<std::string, double>;
  auto child = [&](const std::string& mode, const char* view) {
    return RunChild("flipreel_many_bench",
                    {QString::fromStdString(mode), dir.path(), QString::number(seconds), view}, 10);
  };
  const std::vector<std::pair<std::string, const char*>> contenders = {
      {"baseline", "bare widgets"}, {"widgets", "FlipreelWidget"}, {"compact", "Widget compact"},
      {"movies", "QLabel+QMovie"},  {"cached", "QMovie CacheAll"}, {"floor", "floor"}};
  for (const char* view : {"all", "quarter"}) {
    const int view_rounds = std::string(view) == "all" ? rounds : 1;
    std::map<std::string, Values> got;
    // The rounds of the floor and the widgets: each value's median.
    std::map<std::string, std::vector<Values>> runs;
    std::vector<double> round_ratios, round_cpu_ratios_per_paint;
    for (int r = 0; r < view_rounds; ++r) {
      const std::array<const char*, 2> order =
          r % 2 == 0 ? std::array{"floor", "widgets"} : std::array{"widgets", "floor"};
      for (const char* mode : order) runs[mode].push_back(child(mode, view));
      const Values& f = runs["floor"].back();
      const Values& w = runs["widgets"].back();
      round_ratios.push_back(f.at("cpu") > 0 ? w.at("cpu") / f.at("cpu") : 0);
      round_cpu_ratios_per_paint.push_back(f.at("cpu") > 0 && w.at("paints") > 0
                                               ? (w.at("cpu") / w.at("paints")) /
                                                     (f.at("cpu") / f.at("paints"))
                                               : 0);
    }
    for (auto& [mode, list] : runs) {
      Values& v = got[mode];
      for (const auto& [key, unused] : list.front()) {
        std::vector<double> each;
        for (const Values& one : list) each.push_back(one.at(key));
        v[key] = Median(each);
      }
    }
    for (const auto& [mode, name] : contenders) {
      auto& v = got[mode];
      if (!runs.contains(mode)) v = child(mode, view);
      v["above"] = v["mb"] - got["baseline"]["mb"];
      std::printf("%-8s %-16s %7.1f%% %10.0f %9.0f %8.1f %10.1f\n", view, name, v["cpu"] * 100,
                  v["wakeups"], v["paints"], v["mb"], v["above"]);
    }
    auto ratio = [&](const char* a, const char* b, const char* what) {
      return got[b][what] > 0 ? got[a][what] / got[b][what] : 0.0;
    };
    if (view_rounds > 1) {
      std::printf("%-8s rounds (floor cpu, widget cpu, ratio):", view);
      for (int r = 0; r < view_rounds; ++r)
        std::printf("%s %.1f%% %.1f%% %.2fx", r ? ";" : "", runs["floor"][r].at("cpu") * 100,
                    runs["widgets"][r].at("cpu") * 100, round_ratios[r]);
      std::printf("\n");
    }
    std::printf(
        "%-8s widget cpu: %.2fx floor (median of %d round%s; %.2fx per frame painted), %.2fx "
        "QMovie; compact: %.2fx floor, %.2fx QMovie\n",
        view, Median(round_ratios), view_rounds, view_rounds > 1 ? "s" : "",
        Median(round_cpu_ratios_per_paint), ratio("widgets", "movies", "cpu"),
        ratio("compact", "floor", "cpu"), ratio("compact", "movies", "cpu"));
    std::printf(
        "%-8s widget memory: %.2fx QMovie, %.2fx QMovie CacheAll, %.2fx floor; above the "
        "baseline: %.2fx QMovie, %.2fx QMovie CacheAll, %.2fx floor\n",
        view, ratio("widgets", "movies", "mb"), ratio("widgets", "cached", "mb"),
        ratio("widgets", "floor", "mb"), ratio("widgets", "movies", "above"),
        ratio("widgets", "cached", "above"), ratio("widgets", "floor", "above"));
    std::printf("%-8s compact memory above the baseline: %.2fx QMovie, %.2fx floor\n", view,
                ratio("compact", "movies", "above"), ratio("compact", "floor", "above"));
    std::printf(
        "%-8s frames converted for painting per second: widget %.0f, compact %.0f; copies set "
        "aside: widget %.1f MB, compact %.1f MB\n\n",
        view, got["widgets"]["conversions"], got["compact"]["conversions"], got["widgets"]["aside"],
        got["compact"]["aside"]);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  const QString mode = args.value(0);
  if (mode == "widgets" || mode == "compact" || mode == "movies" || mode == "cached" ||
      mode == "floor" || mode == "baseline")
    return Play(mode, QDir(args.value(1)), std::max(1, args.value(2).toInt()),
                args.value(3) == "quarter", args.value(4));
  if (mode == "write-gifs") {
    const QDir dir(args.value(1, "."));
    if (!dir.mkpath(".")) {
      std::fprintf(stderr, "flipreel_many_bench: cannot make %s\n", qPrintable(dir.path()));
      return 1;
    }
    WriteGifs(dir);
    return 0;
  }
  int seconds = 20;
  int rounds = 3;
  for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--seconds") seconds = std::max(1, args[i + 1].toInt());
    if (args[i] == "--rounds") rounds = std::max(1, args[i + 1].toInt());
  }
  return RunAll(seconds, rounds);
}
