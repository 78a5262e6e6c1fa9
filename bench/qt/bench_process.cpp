#include "bench/qt/bench_process.h"

#include <malloc.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMovie>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

namespace qtbench {

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(ru.ru_utime) + seconds(ru.ru_stime);
}

double ResidentMb() {
  malloc_trim(0);
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0;
}

void RunEventsFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

int MemoryMovie(const QString& file) {
  QLabel label;
  label.show();
  RunEventsFor(300);
  const double before = ResidentMb();
  QMovie movie(file);
  movie.setCacheMode(QMovie::CacheAll);
  label.setMovie(&movie);
  // CacheAll keeps every frame it has decoded: one pass through the file.
  const int count = movie.frameCount();
  for (int i = 0; i < count; ++i) movie.jumpToFrame(i);
  RunEventsFor(300);
  const double after = ResidentMb();
  std::printf("mb=%.1f frames=%d\n", after - before, count);
  return 0;
}

std::map<std::string, double> RunChild(const char* program, const QStringList& args,
                                       int timeout_minutes) {
  QProcess child;
  child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  child.start(QCoreApplication::applicationFilePath(), args);
  if (!child.waitForFinished(timeout_minutes * 60 * 1000) || child.exitCode() != 0) {
    std::cerr << program << ": " << args.join(' ').toStdString() << " failed\n";
    std::exit(1);
  }
  std::map<std::string, double> values;
  for (const QString& pair :
       QString::fromUtf8(child.readAllStandardOutput()).simplified().split(' ')) {
    const QStringList kv = pair.split('=');
    if (kv.size() == 2) values[kv[0].toStdString()] = kv[1].toDouble();
  }
  return values;
}

}  // namespace qtbench
