// Plays a GIF in a Qt Quick window with the QML type Flipreel (main.qml).
//
//   flipreel_qml_player FILE.gif|URL             plays until the window is closed
//   flipreel_qml_player FILE.gif --check         plays one pass, prints what it
//                                                saw and quits (1 when nothing played)
//   flipreel_qml_player FILE.gif --grab OUT.png  saves the window after a few frames
#include <QDir>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QSize>
#include <QTimer>
#include <QUrl>
#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: flipreel_qml_player FILE.gif|URL [--check] [--grab OUT.png]\n");
    return 2;
  }
  const bool check = args.contains(QStringLiteral("--check"));
  const qsizetype grab_at = args.indexOf(QStringLiteral("--grab"));
  const QString grab = grab_at > 0 && grab_at + 1 < args.size() ? args[grab_at + 1] : QString();

  QQmlApplicationEngine engine;
  engine.addImportPath(QStringLiteral(FLIPREEL_QML_IMPORT_PATH));
  engine.setInitialProperties(
      {{QStringLiteral("source"), QUrl::fromUserInput(args[1], QDir::currentPath())},
       {QStringLiteral("onePass"), check},
       {QStringLiteral("grabPath"), grab}});
  engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
  if (engine.rootObjects().isEmpty()) return 1;
  QObject* root = engine.rootObjects().first();
  // A GIF that never ends its pass ends the check after ten seconds.
  if (check || !grab.isEmpty()) QTimer::singleShot(10000, &app, [] { QGuiApplication::exit(3); });
  const int status = app.exec();
  if (!check) return status;

  QObject* reel = root->findChild<QObject*>(QStringLiteral("reel"));
  const int frames = reel->property("frameCount").toInt();
  const int shown = root->property("framesShown").toInt();
  const QSize size = reel->property("sourceSize").toSize();
  const QString error = reel->property("errorString").toString();
  std::printf("%s: status %d, %d frames, %d shown, %d x %d pixels%s%s\n", qPrintable(args[1]),
              reel->property("status").toInt(), frames, shown, size.width(), size.height(),
              error.isEmpty() ? "" : ", ", qPrintable(error));
  return frames > 0 && shown >= frames ? 0 : 1;
}
