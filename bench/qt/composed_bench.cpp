// Composed playback in FlipreelWidget next to QLabel + QMovie, in one run
// under one X server (Xvfb):
// - a 320 x 240 GIF of optimised frames (a full first frame, then changed
//   rectangles) with mixed delays, played for 60 s by each: how far the start
//   of the last frame shown lies from its ideal time (the sum of the delays
//   of the frames before it), and the CPU time used;
// - the resident memory after loading a 1280 x 720, 200-frame GIF, composed
//   by the widget and cached whole by QMovie (CacheAll).
//
// Each measurement runs in a child process of its own (this program with a
// mode argument), so that one measurement's memory does not reach another.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" flipreel_composed_bench [--seconds S]
//   flipreel_composed_bench write-gifs DIR     (the two GIFs, to look at)
//   flipreel_composed_bench MODE FILE [SECONDS] (one child: drift-widget,
//       drift-movie, memory-widget, memory-movie)
#include <malloc.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QMovie>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "bench/qt/bench_process.h"
#include "examples/example_gifs.h"
#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/flipreel_widget_p.h"

namespace {

using namespace qtbench;

using flipreel::FlipreelWidget;

// The delays of the played GIF, hundredths of a second, in a cycle. None is
// 0 or 1, which players treat differently.
constexpr int kDelaysCs[] = {4, 12, 2, 30, 7, 5, 50, 3};
constexpr int kPlayFrames = 40;

// A ball crossing a gradient: a full first frame, then only the rectangle
// around the ball's old and new places, unchanged pixels transparent
// (disposal 1), as optimisers store animations.
gifexamples::AnimatedGif MakeOptimised(int width, int height, int frames, bool mixed_delays) {
  constexpr uint8_t kKey = 255;
  gifexamples::AnimatedGif gif;
  gif.width = width;
  gif.height = height;
  for (int i = 0; i < 255; ++i)
    gif.global_palette.push_back(i < 128 ? uint32_t(i * 2) << 8 | 0x40
                                         : uint32_t((i - 128) * 2) << 16 | 0x2020);
  gif.global_palette.push_back(0xFF00FF);
  const int radius = height / 8;
  auto scene = [&](int f) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
    const double t = static_cast<double>(f) / frames;
    const int cx = static_cast<int>(width * (0.5 + 0.4 * std::cos(2 * M_PI * t)));
    const int cy = static_cast<int>(height * (0.5 + 0.35 * std::sin(4 * M_PI * t)));
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const int dx = x - cx, dy = y - cy, d2 = dx * dx + dy * dy;
        pixels[static_cast<size_t>(y) * width + x] =
            static_cast<uint8_t>(d2 < radius * radius ? 128 + d2 * 126 / (radius * radius)
                                                      : (x + y) * 127 / (width + height));
      }
    return pixels;
  };
  std::vector<uint8_t> before;
  for (int f = 0; f < frames; ++f) {
    std::vector<uint8_t> now = scene(f);
    gifexamples::FrameImage frame;
    frame.disposal = 1;
    frame.delay_cs = mixed_delays ? kDelaysCs[f % std::size(kDelaysCs)] : 4;
    int x0 = 0, y0 = 0, x1 = width - 1, y1 = height - 1;
    if (f > 0) {
      x0 = width, y0 = height, x1 = -1, y1 = -1;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
          if (now[static_cast<size_t>(y) * width + x] != before[static_cast<size_t>(y) * width + x])
            x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
      if (x1 < 0) x0 = x1 = y0 = y1 = 0;
      frame.transparent = kKey;
    }
    frame.left = x0;
    frame.top = y0;
    frame.width = x1 - x0 + 1;
    frame.height = y1 - y0 + 1;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        const size_t i = static_cast<size_t>(y) * width + x;
        frame.pixels.push_back(f > 0 && now[i] == before[i] ? kKey : now[i]);
      }
    gif.frames.push_back(std::move(frame));
    before = std::move(now);
  }
  return gif;
}

// One frame put on show: when (ns after play started) and which.
struct Start {
  qint64 ns;
  int frame;
};

// How far the start of the last frame shown lies from its ideal time: the
// start of the first frame plus the delays of every frame shown in between
// (by their own numbers, so that a player that gives a frame another frame's
// delay shows as what it is). Also the same for the last start of frame 0,
// where a whole number of cycles has gone by.
void PrintDrift(const std::vector<Start>& starts, double cpu) {
  double ideal_ms = 0;
  double last_cycle_drift = 0;
  for (size_t k = 1; k < starts.size(); ++k) {
    ideal_ms += kDelaysCs[starts[k - 1].frame % std::size(kDelaysCs)] * 10;
    const double drift = (starts[k].ns - starts[0].ns) / 1e6 - ideal_ms;
    if (starts[k].frame == 0) last_cycle_drift = drift;
  }
  const double last_drift = (starts.back().ns - starts[0].ns) / 1e6 - ideal_ms;
  std::printf("cpu=%.4f changes=%zu drift_ms=%.2f cycle_drift_ms=%.2f\n", cpu, starts.size() - 1,
              last_drift, last_cycle_drift);
}

int DriftWidget(const QString& file, int seconds) {
  FlipreelWidget w;
  w.setComposed(true);
  w.setAutoStart(false);
  w.setFlipreelFile(file);
  w.resize(320, 240);
  if (w.Frames() != kPlayFrames) {
    std::cerr << "the widget did not load " << file.toStdString() << "\n";
    return 1;
  }
  w.show();
  RunEventsFor(500);
  QElapsedTimer clock;
  std::vector<Start> starts;
  // Frame comes before the step; CurrentFrame is then the frame it shows.
  QObject::connect(&w, &FlipreelWidget::Frame, [&] {
    starts.push_back({clock.nsecsElapsed(), w.CurrentFrame()});
  });
  const double cpu = CpuSeconds();
  clock.start();
  starts.push_back({0, 0});  // frame 0 is on show from the start
  w.StartAnimation();
  RunEventsFor(seconds * 1000);
  PrintDrift(starts, CpuSeconds() - cpu);
  return 0;
}

int DriftMovie(const QString& file, int seconds) {
  QLabel label;
  QMovie movie(file);
  if (!movie.isValid()) {
    std::cerr << "QMovie cannot read " << file.toStdString() << "\n";
    return 1;
  }
  label.setMovie(&movie);
  label.resize(320, 240);
  label.show();
  RunEventsFor(500);
  QElapsedTimer clock;
  std::vector<Start> starts;
  QObject::connect(&movie, &QMovie::frameChanged, [&](int frame) {
    starts.push_back({clock.nsecsElapsed(), frame});
  });
  const double cpu = CpuSeconds();
  clock.start();
  movie.start();  // shows frame 0 at once, with a frameChanged
  RunEventsFor(seconds * 1000);
  PrintDrift(starts, CpuSeconds() - cpu);
  return 0;
}

int MemoryWidget(const QString& file) {
  FlipreelWidget w;
  w.setComposed(true);
  w.show();
  RunEventsFor(300);
  const double before = ResidentMb();
  w.setFlipreelFile(file);
  RunEventsFor(300);
  const double after = ResidentMb();
  // A frame beyond the paint cache's budget is converted to 32-bit pixels
  // when it is painted: what one such conversion costs.
  const flipreel::Flipreel& control = flipreel::FlipreelWidgetPrivate::get(w).control();
  QElapsedTimer clock;
  clock.start();
  qint64 converted = 0;
  for (int16_t i = 0; i < w.Frames(); ++i) {
    int16_t frame = i;
    converted += flipreel::ToPaintImage(*control.GetFrame(frame).data()).sizeInBytes();
  }
  const double convert_ms = clock.nsecsElapsed() / 1e6 / std::max(1, w.Frames());
  std::printf("mb=%.1f frames=%d kept_mb=%.1f convert_ms=%.3f indexed=%d\n", after - before,
              w.Frames(), flipreel::FlipreelWidgetPrivate::get(w).cache().kept_bytes() / 1048576.0,
              converted > 0 ? convert_ms : 0.0,
              control.imgBuffer()(0).picture().data()->format() ==
                  flipreel::PictureData::Format::kIndexed8);
  return 0;
}

void WriteGifs(const QString& play, const QString& big) {
  gifexamples::WriteGif(play.toStdString(), MakeOptimised(320, 240, kPlayFrames, true));
  gifexamples::WriteGif(big.toStdString(), MakeOptimised(1280, 720, 200, false));
}

int RunAll(int seconds) {
  QTemporaryDir dir;
  const QString play = dir.filePath("optimised-320x240-mixed-delays.gif");
  const QString big = dir.filePath("optimised-1280x720-200.gif");
  WriteGifs(play, big);
  std::printf(
      "GIFs: 320 x 240 x %d frames, delays of 20 to 500 ms (%.2f MB); "
      "1280 x 720 x 200 frames (%.1f MB)\n",
      kPlayFrames, QFileInfo(play).size() / 1048576.0, QFileInfo(big).size() / 1048576.0);

  const QString secs = QString::number(seconds);
  auto widget = RunChild("flipreel_composed_bench", {"drift-widget", play, secs}, 15);
  auto movie = RunChild("flipreel_composed_bench", {"drift-movie", play, secs}, 15);
  auto widget_mem = RunChild("flipreel_composed_bench", {"memory-widget", big}, 15);
  auto movie_mem = RunChild("flipreel_composed_bench", {"memory-movie", big}, 15);

  std::printf("\nPlaying for %d s: start of the last frame against its ideal time, CPU:\n",
              seconds);
  std::printf(
      "  FlipreelWidget, composed  drift %+8.1f ms after %d frames (%+.1f ms at the last "
      "frame 0), CPU %7.3f s\n",
      widget["drift_ms"], int(widget["changes"]), widget["cycle_drift_ms"], widget["cpu"]);
  std::printf(
      "  QLabel + QMovie           drift %+8.1f ms after %d frames (%+.1f ms at the last "
      "frame 0), CPU %7.3f s\n",
      movie["drift_ms"], int(movie["changes"]), movie["cycle_drift_ms"], movie["cpu"]);
  std::printf("  CPU ratio to QMovie       %7.3f\n", widget["cpu"] / movie["cpu"]);
  std::printf("\nResident memory after loading 1280 x 720 x 200 frames:\n");
  std::printf(
      "  FlipreelWidget, composed  %7.1f MB (%d frames, %.1f MB of it paint-ready copies)\n",
      widget_mem["mb"], int(widget_mem["frames"]), widget_mem["kept_mb"]);
  std::printf("    frames stored as %s; one converted for painting in %.2f ms\n",
              widget_mem["indexed"] ? "8-bit indices and a palette" : "32-bit pixels",
              widget_mem["convert_ms"]);
  std::printf("  QMovie, CacheAll          %7.1f MB (%d frames)\n", movie_mem["mb"],
              int(movie_mem["frames"]));
  std::printf("  ratio                     %7.3f\n", widget_mem["mb"] / movie_mem["mb"]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  const QString mode = args.value(0);
  if (mode == "drift-widget") return DriftWidget(args.value(1), args.value(2).toInt());
  if (mode == "drift-movie") return DriftMovie(args.value(1), args.value(2).toInt());
  if (mode == "memory-widget") return MemoryWidget(args.value(1));
  if (mode == "memory-movie") return MemoryMovie(args.value(1));
  if (mode == "write-gifs") {
    const QDir dir(args.value(1, "."));
    WriteGifs(dir.filePath("optimised-320x240-mixed-delays.gif"),
              dir.filePath("optimised-1280x720-200.gif"));
    return 0;
  }
  int seconds = 60;
  if (mode == "--seconds") seconds = std::max(1, args.value(1).toInt());
  return RunAll(seconds);
}
