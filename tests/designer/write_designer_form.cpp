// Writes the form file Qt Designer saves for a form holding a Flipreel with
// a GIF, at build time, for the test of the code uic makes of it. The plugin
// runs in Designer's own form editor (offscreen); the control is given the
// GIF from memory, so no GIF file exists anywhere. Designer's property
// editor sets Sequence to "Ping Pong", BackColor with its colour picker and
// BackGroundGraphic with its pixmap editor (from a picture file removed
// before the form is written); BorderColor is the system colour of
// highlights, as the Color page sets it. The file is what Designer's save
// (File > Save) writes: the form window's contents.
#include <QtDesigner/private/qdesigner_utils_p.h>
#include <QApplication>
#include <QSaveFile>
#include <QtDesigner/QDesignerIntegrationInterface>
#include <cstdio>

#include "flipreel/host/host.h"
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
  d.core->integration()->updateProperty(QStringLiteral("BackColor"), QColor(0, 128, 255));
  reel->setBorderColorValue(flipreel::SystemColor(13));
  {
    testfiles::TempDir dir;
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(QColor(255, 0, 0));
    const QString path = QString::fromStdString(dir.path() + "/picture.png");
    if (!picture.save(path)) return 1;
    d.core->integration()->updateProperty(
        QStringLiteral("BackGroundGraphic"),
        QVariant::fromValue(qdesigner_internal::PropertySheetPixmapValue(path)));
  }
  if (reel->Sequence() != 3 || reel->backColorValue() != 0xFF8000 ||
      reel->BackGroundGraphic().isNull()) {
    std::fprintf(stderr, "Designer's property editor did not set the control\n");
    return 1;
  }

  QSaveFile file(QString::fromLocal8Bit(argv[1]));
  if (!file.open(QIODevice::WriteOnly) || file.write(d.form->contents().toUtf8()) < 0 ||
      !file.commit()) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
