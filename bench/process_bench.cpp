// Whole-process timings: `flipreel info FILE` beside giflib_peer FILE (giflib
// opens, slurps and converts every frame to 32-bit pixels), run alternately
// as separate processes, medians of wall and CPU time (user + system) and
// their ratios; and the start-up of `flipreel info` on a small GIF.
//
//   process_bench [--runs N] [FLIPREEL GIFLIB_PEER]
//   process_bench --write DIR      (the benchmark's GIFs, to look at or profile)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_gifs.h"

namespace {

struct Timing {
  double wall_ms, cpu_ms;
};

Timing Run(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // Spawned rather than forked: a fork copies this process's page tables,
  // which grow with the GIFs it has made, and would add their cost to both
  // programs' times.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = -1;
  const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::fprintf(stderr, "process_bench: cannot run %s: %s\n", command[0].c_str(),
                 std::strerror(spawned));
    std::exit(1);
  }
  int status = 0;
  rusage ru{};
  ::wait4(child, &status, 0, &ru);
  const double wall =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "process_bench: %s failed\n", command[0].c_str());
    std::exit(1);
  }
  auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return {wall, ms(ru.ru_utime) + ms(ru.ru_stime)};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

struct Medians {
  double wall_ms, cpu_ms;
};

// Runs the commands alternately, runs times each; medians per command.
std::vector<Medians> Alternate(const std::vector<std::vector<std::string>>& commands, int runs) {
  std::vector<std::vector<double>> wall(commands.size()), cpu(commands.size());
  for (const auto& c : commands) Run(c);  // warm the page cache
  for (int r = 0; r < runs; ++r)
    for (size_t i = 0; i < commands.size(); ++i) {
      const Timing t = Run(commands[i]);
      wall[i].push_back(t.wall_ms);
      cpu[i].push_back(t.cpu_ms);
    }
  std::vector<Medians> result;
  for (size_t i = 0; i < commands.size(); ++i) result.push_back({Median(wall[i]), Median(cpu[i])});
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
    benchgifs::Files files;
    for (const benchgifs::Shape& shape : benchgifs::Shapes())
      std::filesystem::copy_file(
          files.Path(shape), std::filesystem::path(argv[2]) / (std::string(shape.name) + ".gif"),
          std::filesystem::copy_options::overwrite_existing);
    return 0;
  }
  int runs = 11;
  std::vector<std::string> programs;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      programs.push_back(argv[i]);
    }
  }
  const std::string flipreel = programs.size() > 0 ? programs[0] : FLIPREEL_TOOL;
  const std::string peer = programs.size() > 1 ? programs[1] : GIFLIB_PEER;

  benchgifs::Files files;
  std::printf(
      "flipreel info / giflib_peer, whole processes, medians of %d alternating runs, "
      "%u cores (goal: wall <= 0.5)\n  %-24s %9s %9s %9s %9s %7s %7s\n",
      runs, std::thread::hardware_concurrency(), "shape", "wall ms", "peer", "CPU ms", "peer",
      "wall", "CPU");
  for (const char* name : {"480x270x120", "128x128x2000", "optimised_480x270x120",
                           "local_tables_480x270x60", "interlaced_480x270x60"}) {
    const std::string path = files.Path(*benchgifs::FindShape(name));
    const auto m = Alternate({{flipreel, "info", path}, {peer, path}}, runs);
    std::printf("  %-24s %9.1f %9.1f %9.1f %9.1f %7.2f %7.2f\n", name, m[0].wall_ms, m[1].wall_ms,
                m[0].cpu_ms, m[1].cpu_ms, m[0].wall_ms / m[1].wall_ms, m[0].cpu_ms / m[1].cpu_ms);
  }

  // Start-up: a small GIF of about 30 KB, where nearly all of the time is the
  // process starting (goal: at most 5 ms of CPU).
  const benchgifs::Shape small{"startup_128x96x10", 128, 96, 10};
  const std::string path = files.Path(small);
  const auto m = Alternate({{flipreel, "info", path}, {peer, path}}, runs * 2);
  std::printf(
      "\nstart-up, `flipreel info` of a small GIF (goal: CPU <= 5 ms)\n"
      "  flipreel info   wall %6.2f ms  CPU %6.2f ms\n"
      "  giflib_peer     wall %6.2f ms  CPU %6.2f ms\n",
      m[0].wall_ms, m[0].cpu_ms, m[1].wall_ms, m[1].cpu_ms);
  return 0;
}
