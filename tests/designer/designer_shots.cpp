// Screenshots of the design-time editors for people to look at, taken on a
// real X display (a virtual one will do): Designer's form editor and property
// editor with the pixmap editor's menu open on BackGroundGraphic and the
// colour picker open on BackColor, and the property-pages dialog on its Color
// and Picture tabs.
//
//   xvfb-run -s "-screen 0 1280x800x24" flipreel_designer_shots OUT_FOLDER
//
// writes designer-pixmap-editor.png, designer-backcolor-picker.png,
// pages-color.png and pages-picture.png into OUT_FOLDER.
#include <QtDesigner/private/qdesigner_utils_p.h>
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtDesigner/QDesignerIntegrationInterface>
#include <QtDesigner/QDesignerTaskMenuExtension>
#include <QtDesigner/QExtensionManager>
#include <cstdio>

#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/property_pages.h"
#include "tests/designer/designer_harness.h"
#include "tests/support/gif_builder.h"
#include "tests/support/test_files.h"

namespace {

QString out_folder;
int failures = 0;

void Shoot(const char* name) {
  QApplication::processEvents();
  QTest::qWait(400);
  const QString path = out_folder + QLatin1Char('/') + QLatin1String(name);
  if (!QGuiApplication::primaryScreen()->grabWindow(0).save(path)) ++failures;
  std::printf("%s\n", qPrintable(path));
}

// Runs shoot once the modal window that is about to open is up.
void WhenModalOpens(std::function<void(QWidget&)> shoot) {
  QTimer::singleShot(600, [shoot] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) {
      ++failures;
      std::fprintf(stderr, "no modal window opened\n");
      return;
    }
    shoot(*modal);
  });
}

// Opens the property editor's editor on a property's row and gives its tool
// button that `is` picks; nullptr, with a message, when there is none.
QToolButton* EditorButton(QTreeWidget& tree, const char* property,
                          const std::function<bool(QToolButton&)>& is) {
  const auto rows =
      tree.findItems(QString::fromLatin1(property), Qt::MatchExactly | Qt::MatchRecursive);
  if (rows.isEmpty()) {
    std::fprintf(stderr, "the property editor has no %s\n", property);
    return nullptr;
  }
  // The editor of a row edited before goes first: it is deleted later.
  tree.setCurrentItem(nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  tree.scrollToItem(rows.first(), QAbstractItemView::PositionAtCenter);
  tree.setCurrentItem(rows.first(), 1);
  tree.editItem(rows.first(), 1);
  QApplication::processEvents();
  for (auto* button : tree.viewport()->findChildren<QToolButton*>())
    if (is(*button)) return button;
  std::fprintf(stderr, "the editor of %s has no such button\n", property);
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_FOLDER\n", argv[0]);
    return 2;
  }
  out_folder = QString::fromLocal8Bit(argv[1]);
  designertest::Designer d(FLIPREEL_PLUGIN_DIR);
  auto* reel = d.Find<flipreel::FlipreelWidget>("Flipreel1");
  if (!reel) return 1;
  const std::string gif = testgif::Build(testgif::Animation(4, 120, 80));
  reel->loadFromData(QByteArray(gif.data(), static_cast<qsizetype>(gif.size())));
  QImage sky(160, 100, QImage::Format_RGB32);
  for (int y = 0; y < sky.height(); ++y)
    for (int x = 0; x < sky.width(); ++x) sky.setPixel(x, y, qRgb(40 + x, 90 + y, 230));
  // The picture comes from a file through Designer's pixmap editor, so that
  // the editor's row shows it.
  testfiles::TempDir dir;
  const QString sky_path = QString::fromStdString(dir.path() + "/sky.png");
  if (!sky.save(sky_path)) return 1;

  // Designer's window, as far as the shots need it: the form and the
  // property editor side by side (kept to the end of the program).
  auto* window = new QWidget;
  window->setWindowTitle(QStringLiteral("Qt Designer"));
  auto* layout = new QHBoxLayout(window);
  layout->addWidget(d.form, 3);
  layout->addWidget(d.core->propertyEditor(), 2);
  window->resize(1100, 640);
  window->move(10, 10);
  window->show();
  if (!QTest::qWaitForWindowExposed(window)) return 1;
  d.form->clearSelection(false);
  d.form->selectWidget(reel);
  d.core->propertyEditor()->setObject(reel);
  d.core->integration()->updateProperty(
      QStringLiteral("BackGroundGraphic"),
      QVariant::fromValue(qdesigner_internal::PropertySheetPixmapValue(sky_path)));

  // Designer's pixmap editor on BackGroundGraphic, its menu open.
  auto* tree = d.core->propertyEditor()->findChild<QTreeWidget*>();
  if (!tree) return 1;
  QToolButton* choose =
      EditorButton(*tree, "BackGroundGraphic", [](QToolButton& b) { return b.menu() != nullptr; });
  if (!choose) return 1;
  QTimer::singleShot(600, [] {
    Shoot("designer-pixmap-editor.png");
    if (QWidget* menu = QApplication::activePopupWidget()) menu->close();
  });
  choose->showMenu();

  // The colour picker of Designer's property editor on BackColor: the row's
  // editor has the picker's "..." button and the reset arrow.
  QToolButton* pick = EditorButton(
      *tree, "BackColor", [](QToolButton& b) { return b.text() == QStringLiteral("..."); });
  if (!pick) return 1;
  WhenModalOpens([](QWidget& picker) {
    Shoot("designer-backcolor-picker.png");
    if (auto* dialog = qobject_cast<QDialog*>(&picker)) dialog->reject();
  });
  pick->click();

  // The property-pages dialog of the task menu, on its Color and Picture tabs.
  auto* menu = qt_extension<QDesignerTaskMenuExtension*>(d.core->extensionManager(), reel);
  QAction* properties = nullptr;
  for (QAction* a : menu ? menu->taskActions() : QList<QAction*>())
    if (a->text() == QStringLiteral("Properties...")) properties = a;
  if (!properties) return 1;
  WhenModalOpens([](QWidget& modal) {
    auto* dialog = qobject_cast<flipreel::PropertyPagesDialog*>(&modal);
    if (!dialog) {
      ++failures;
      return;
    }
    dialog->tab_widget()->setCurrentIndex(1);
    auto* sets = qobject_cast<QComboBox*>(dialog->ElementWidget("cboColorSet", 1));
    auto* colors = qobject_cast<QListWidget*>(dialog->ElementWidget("lstColors", 1));
    if (sets && colors) {
      sets->setCurrentIndex(1);
      emit sets->activated(1);
      colors->setCurrentItem(
          colors->findItems(QStringLiteral("Highlight"), Qt::MatchExactly).value(0));
    }
    Shoot("pages-color.png");
    dialog->tab_widget()->setCurrentIndex(2);
    Shoot("pages-picture.png");
    dialog->reject();
  });
  properties->trigger();
  return failures == 0 ? 0 : 1;
}
