// Plays a GIF in a window with FlipreelWidget.
//
//   flipreel_qt_app FILE.gif            plays until the window is closed
//   flipreel_qt_app FILE.gif --check    plays one pass through the frames,
//                                       then prints what it saw and quits
//                                       (exit status 1 when nothing played)
#include <flipreel/qt/flipreel_widget.h>
#include <flipreel/server/version_record.h>
#include <QApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: flipreel_qt_app FILE.gif [--check]\n");
    return 2;
  }
  const bool check = args.contains(QStringLiteral("--check"));

  flipreel::FlipreelWidget player;
  player.setWindowTitle(args[1]);
  player.setAutoSize(true);
  player.setFlipreelFile(args[1]);
  if (player.lastError()) {
    std::fprintf(stderr, "%s: error %d: %s\n", qPrintable(args[1]), player.lastError().number,
                 qPrintable(player.lastError().description));
    return 1;
  }

  int ticks = 0;
  if (check) {
    // One pass, then the app reports and ends; a GIF that does not play
    // ends it after ten seconds.
    player.setAutoRewind(1);
    QObject::connect(&player, &flipreel::FlipreelWidget::Frame, [&] { ++ticks; });
    QObject::connect(&player, &flipreel::FlipreelWidget::PlayFinished, &app, &QApplication::quit);
    QTimer::singleShot(10000, &app, &QApplication::quit);
  }
  if (!player.Playing()) player.StartAnimation();
  player.show();
  const int status = app.exec();
  if (!check) return status;
  // The core's own functions come from the same library as the widget.
  const std::string_view version = flipreel::FlipreelVersionRecord().Find("FileVersion")->value;
  std::printf("%s: %d frames, %d ticks, %d x %d pixels, Flipreel %.*s\n", qPrintable(args[1]),
              player.Frames(), ticks, player.width(), player.height(),
              static_cast<int>(version.size()), version.data());
  return ticks > 0 && ticks >= player.Frames() ? 0 : 1;
}
