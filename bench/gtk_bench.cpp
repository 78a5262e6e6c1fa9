// FlipreelView (GTK 4) next to GTK 3's GdkPixbufAnimation in a GtkImage, in
// one run under one X server (Xvfb): the CPU time of playing a 480 x 270,
// 120-frame GIF (40 ms a frame) for some seconds, the CPU time while the
// view is hidden, and the resident memory after loading and showing the
// 1280 x 720, 200-frame GIF. GTK 3 and GTK 4 cannot share a process, so every
// measurement runs in a child process of its own: this program with a mode
// argument, or the GTK 3 peer (gtk3_peer).
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" flipreel_gtk_bench [--seconds S]
//   flipreel_gtk_bench MODE FILE [SECONDS]   (one child: play, hidden, memory)
//
// GTK 3 draws with cairo in software. GTK 4 is measured twice: with the
// renderer an application gets by default (under Xvfb, GL on Mesa's software
// driver) and with GSK's cairo renderer, the like of GTK 3's. Each row names
// the renderer GTK 4 used; the GTK 3 peer runs beside each.
#include <gtk/gtk.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_gifs.h"
#include "flipreel/gtk/flipreel_view.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ResidentMb() {
  malloc_trim(0);
  return static_cast<double>(benchgifs::ResidentBytes()) / (1024.0 * 1024.0);
}

// Runs the main loop, asleep while there is nothing to do.
void RunFor(double seconds) {
  bool done = false;
  g_timeout_add(
      static_cast<guint>(seconds * 1000),
      +[](gpointer flag) {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &done);
  while (!done) g_main_context_iteration(nullptr, TRUE);
}

int Child(const std::string& mode, const char* file, double seconds) {
  gtk_init();
  GtkWidget* window = gtk_window_new();
  GtkWidget* view = flipreel_view_new();
  g_object_set(view, "auto-size", TRUE, nullptr);
  gtk_window_set_child(GTK_WINDOW(window), view);
  gtk_window_present(GTK_WINDOW(window));
  RunFor(0.5);
  const double before_mb = ResidentMb();
  flipreel_view_load_file(FLIPREEL_VIEW(view), file);
  if (flipreel_view_get_error(FLIPREEL_VIEW(view))) {
    std::fprintf(stderr, "cannot load %s\n", file);
    return 1;
  }
  RunFor(1.0);
  std::printf("renderer=%s ", G_OBJECT_TYPE_NAME(gtk_native_get_renderer(GTK_NATIVE(window))));
  if (mode == "memory") {
    std::printf("mb=%.1f base_mb=%.1f\n", ResidentMb(), before_mb);
    return 0;
  }
  if (mode == "hidden") gtk_widget_set_visible(view, FALSE);
  FlipreelPaintable* paintable = flipreel_view_get_paintable(FLIPREEL_VIEW(view));
  const gint64 ticks = flipreel_paintable_get_ticks(paintable);
  const double cpu = CpuSeconds();
  RunFor(seconds);
  std::printf("cpu=%.3f frames=%lld\n", CpuSeconds() - cpu,
              static_cast<long long>(flipreel_paintable_get_ticks(paintable) - ticks));
  return 0;
}

// A child's figures ("name=value" words); numbers and names alike.
struct Figures {
  double operator[](const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? 0 : std::atof(it->second.c_str());
  }
  const char* text(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? "?" : it->second.c_str();
  }
  std::map<std::string, std::string> values;
};

Figures Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  char* out = nullptr;
  int status = 0;
  GError* error = nullptr;
  if (!g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out, nullptr,
                    &status, &error) ||
      !g_spawn_check_wait_status(status, &error)) {
    std::fprintf(stderr, "%s failed: %s\n", argv[0].c_str(), error->message);
    std::exit(1);
  }
  Figures figures;
  char** words = g_strsplit_set(out, " \n", -1);
  for (char** pair = words; *pair; ++pair) {
    if (char* eq = std::strchr(*pair, '='))
      figures.values[std::string(*pair, eq)] = std::string(eq + 1);
  }
  g_strfreev(words);
  g_free(out);
  return figures;
}

double LoadAverage() {
  double load = 0;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = 0;
    std::fclose(f);
  }
  return load;
}

int RunAll(const char* self, double seconds) {
  g_setenv("NO_AT_BRIDGE", "1", TRUE);
  benchgifs::Files files;
  const std::string play = files.Path(*benchgifs::FindShape("480x270x120"));
  const std::string big = files.Path(*benchgifs::FindShape("1280x720x200"));
  const std::string secs = std::to_string(seconds);
  std::printf(
      "GTK 4 FlipreelView beside GTK 3 GdkPixbufAnimation in a GtkImage "
      "(load average %.2f at start)\n\n",
      LoadAverage());
  std::printf("| measure | GTK 4 renderer | FlipreelView | GdkPixbufAnimation | ratio | load |\n");
  std::printf("|---|---|---|---|---|---|\n");
  // The default renderer first, then the cairo one.
  for (const char* renderer : {"", "cairo"}) {
    if (*renderer)
      g_setenv("GSK_RENDERER", renderer, TRUE);
    else
      g_unsetenv("GSK_RENDERER");
    auto reel = Run({self, "play", play, secs});
    auto peer = Run({GTK3_PEER, "play", play, secs});
    std::printf(
        "| CPU s playing 480x270x120 for %.0f s | %s | %.3f (%g frames) | %.3f | %.2f | %.2f |\n",
        seconds, reel.text("renderer"), reel["cpu"], reel["frames"], peer["cpu"],
        reel["cpu"] / peer["cpu"], LoadAverage());
    auto mem = Run({self, "memory", big});
    auto peer_mem = Run({GTK3_PEER, "memory", big});
    std::printf(
        "| resident MB after loading 1280x720x200 | %s | %.1f (+%.1f) | %.1f (+%.1f) | %.2f "
        "(%.2f of the growth) | %.2f |\n",
        mem.text("renderer"), mem["mb"], mem["mb"] - mem["base_mb"], peer_mem["mb"],
        peer_mem["mb"] - peer_mem["base_mb"], mem["mb"] / peer_mem["mb"],
        (mem["mb"] - mem["base_mb"]) / (peer_mem["mb"] - peer_mem["base_mb"]), LoadAverage());
  }
  auto hidden = Run({self, "hidden", play, secs});
  auto peer_hidden = Run({GTK3_PEER, "hidden", play, secs});
  std::printf("| CPU s hidden for %.0f s | %s | %.3f (%g frames) | %.3f | - | %.2f |\n", seconds,
              hidden.text("renderer"), hidden["cpu"], hidden["frames"], peer_hidden["cpu"],
              LoadAverage());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "play" || mode == "hidden" || mode == "memory") {
    if (argc < 3) return 2;
    return Child(mode, argv[2], argc > 3 ? std::atof(argv[3]) : 10);
  }
  double seconds = 10;
  if (mode == "--seconds" && argc > 2) seconds = std::max(1.0, std::atof(argv[2]));
  return RunAll(argv[0], seconds);
}
