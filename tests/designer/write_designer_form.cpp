// Writes the form file Qt Designer saves for a form holding a Flipreel with
// a GIF, at build time, for the test of the code uic makes of it. The plugin
// runs in Designer's own form editor (offscreen); the control is given the
// GIF from memory, so no GIF file exists anywhere, and Sequence is set to
// "Ping Pong" the way Designer's property editor sets it. The file is what
// Designer's save writes.
#include <QApplication>
#include <QSaveFile>
#include <QtDesigner/QDesignerIntegrationInterface>
#include <cstdio>

#include "flipreel/qt/flipreel_widget.h"
#include "tests/designer/designer_harness.h"
#include "tests/qt/qt_test_support.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FORM.ui\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  designertest::Designer d(FLIPREEL_PLUGIN_DIR);
  auto* reel = d.Find<flipreel::FlipreelWidget>("Flipreel1");
  if (!reel) {
    std::fprintf(stderr, "the Flipreel plugin was not loaded from %s\n", FLIPREEL_PLUGIN_DIR);
    return 1;
  }
  const std::string gif = testgif::Build(qttest::FourFrames());
  if (!reel->loadFromData(QByteArray(gif.data(), static_cast<qsizetype>(gif.size())))) return 1;
  d.form->selectWidget(reel);
  d.core->propertyEditor()->setObject(reel);
  d.core->integration()->updateProperty(QStringLiteral("Sequence"), 3);
  if (reel->Sequence() != 3) return 1;

  QSaveFile file(QString::fromLocal8Bit(argv[1]));
  if (!file.open(QIODevice::WriteOnly) || file.write(d.form->contents().toUtf8()) < 0 ||
      !file.commit()) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
