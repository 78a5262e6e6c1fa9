// The Designer plugin inside Designer's own form editor (the library the
// designer application is built on), on Qt's offscreen platform: a Flipreel
// dropped on a form is a design-time control, the task menu's Properties...
// edits it as one undoable change, the form saves the control's whole state
// and nothing else of it, and QUiLoader brings the saved form back playing,
// with no GIF file anywhere.
#include <gtest/gtest.h>

#include <QtDesigner/private/qdesigner_utils_p.h>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPushButton>
#include <QTreeWidget>
#include <QUiLoader>
#include <QUndoStack>
#include <QtDesigner/QDesignerFormWindowInterface>
#include <QtDesigner/QDesignerIntegrationInterface>
#include <QtDesigner/QDesignerPropertySheetExtension>
#include <QtDesigner/QDesignerTaskMenuExtension>
#include <QtDesigner/QExtensionManager>
#include <memory>

#include "flipreel/host/host.h"
#include "flipreel/qt/enum_names.h"
#include "flipreel/qt/property_pages.h"
#include "tests/designer/designer_harness.h"
#include "tests/qt/qt_test_support.h"

using namespace flipreel;

namespace {

// Designer's form editor with a Flipreel on its form.
struct Designer : designertest::Designer {
  Designer() : designertest::Designer(FLIPREEL_PLUGIN_DIR) {}
  FlipreelWidget* Reel() { return Find<FlipreelWidget>("Flipreel1"); }
  // The Flipreel, selected alone and shown in the property editor.
  FlipreelWidget* SelectReel() {
    FlipreelWidget* reel = Reel();
    if (!reel) return nullptr;
    form->clearSelection(false);
    form->selectWidget(reel);
    core->propertyEditor()->setObject(reel);
    return reel;
  }
  // The property editor's row of a property of the selected widget.
  QTreeWidgetItem* EditorRow(const QString& name) {
    auto* tree = core->propertyEditor()->findChild<QTreeWidget*>();
    if (!tree) return nullptr;
    const auto rows = tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    return rows.isEmpty() ? nullptr : rows.first();
  }
  QAction* TaskAction(const QString& text) {
    auto* menu = qt_extension<QDesignerTaskMenuExtension*>(core->extensionManager(), Reel());
    if (!menu) return nullptr;
    for (QAction* a : menu->taskActions())
      if (a->text() == text) return a;
    return nullptr;
  }
};

// Runs "Properties..." and, once the dialog is up, lets edit fill it in.
void EditProperties(Designer& d, const std::function<void(PropertyPagesDialog&)>& edit) {
  qttest::WhenModalOpens([&](QDialog& modal) {
    auto* dialog = qobject_cast<PropertyPagesDialog*>(&modal);
    ASSERT_NE(dialog, nullptr);
    edit(*dialog);
    dialog->OkButton()->click();
  });
  d.TaskAction("Properties...")->trigger();
}

// A saved form as an application loads it, with QUiLoader and the plugin,
// and the Flipreel on it (none when either is missing).
struct AppForm {
  std::unique_ptr<QWidget> form;
  FlipreelWidget* reel = nullptr;
};
AppForm LoadInApplication(const QString& saved) {
  QUiLoader loader;
  loader.clearPluginPaths();
  loader.addPluginPath(QStringLiteral(FLIPREEL_PLUGIN_DIR "/designer"));
  QByteArray bytes = saved.toUtf8();
  QBuffer file(&bytes);
  AppForm app{std::unique_ptr<QWidget>(loader.load(&file))};
  EXPECT_NE(app.form, nullptr) << loader.errorString().toStdString();
  if (app.form) app.reel = app.form->findChild<FlipreelWidget*>("Flipreel1");
  return app;
}

QStringList NamesOf(const QString& enumeration) {
  QStringList names;
  for (const FlipreelEnumValue& v : FlipreelEnumValues(enumeration)) names << v.name;
  return names;
}

}  // namespace

TEST(DesignerPlugin, EditsSavesAndRestoresTheControlWithItsGif) {
  Designer d;
  FlipreelWidget* reel = d.Reel();
  ASSERT_NE(reel, nullptr) << "the plugin was not loaded from " FLIPREEL_PLUGIN_DIR;
  EXPECT_FALSE(reel->UserMode());
  ASSERT_NE(d.TaskAction("About..."), nullptr);
  d.form->setDirty(false);

  QString saved;
  {
    qttest::GifFile gif(qttest::FourFrames());
    EditProperties(d, [&](PropertyPagesDialog& dialog) {
      PageElements& e = dialog.page().elements();
      e.SetText(e["txtFlipreelFile"], gif.path.size() ? Utf8ToText(gif.path) : Text());
      e.SetText(e["txtAutoRewind"], u"7");
    });
    EXPECT_EQ(reel->FlipreelFile(), "Gif");
    EXPECT_EQ(reel->Frames(), 4);
    EXPECT_EQ(reel->AutoRewind(), 7);
    EXPECT_FALSE(reel->Playing());  // design time: the timer stays off
    EXPECT_TRUE(d.form->isDirty());
    ASSERT_EQ(d.form->commandHistory()->count(), 1);

    // One undo takes the whole apply back, the GIF included; redo brings it.
    d.form->commandHistory()->undo();
    EXPECT_EQ(reel->Frames(), 0);
    EXPECT_EQ(reel->AutoRewind(), 0);
    EXPECT_EQ(reel->FlipreelFile(), "(None)");
    d.form->commandHistory()->redo();
    EXPECT_EQ(reel->Frames(), 4);
    saved = d.form->contents();
  }  // the GIF file is gone from here on

  // The form holds the control's state in SavedState and none of its
  // properties one by one.
  EXPECT_TRUE(saved.contains("name=\"SavedState\""));
  EXPECT_TRUE(saved.contains("<string notr=\"true\">{"));  // data, not text to translate
  EXPECT_FALSE(saved.contains("name=\"AutoRewind\""));
  EXPECT_FALSE(saved.contains("name=\"FlipreelFile\""));

  {  // Designer opens the saved form again with the control as it was.
    designertest::Designer reopened(FLIPREEL_PLUGIN_DIR, saved.toUtf8().constData());
    auto* again = reopened.Find<FlipreelWidget>("Flipreel1");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Frames(), 4);
    EXPECT_EQ(again->AutoRewind(), 7);
    EXPECT_FALSE(again->UserMode());
  }

  const AppForm app = LoadInApplication(saved);
  FlipreelWidget* played = app.reel;
  ASSERT_NE(played, nullptr);
  EXPECT_TRUE(played->UserMode());
  EXPECT_EQ(played->Frames(), 4);
  EXPECT_EQ(played->AutoRewind(), 7);
  EXPECT_TRUE(played->Playing());  // AutoStart: playing at once in the application

  app.form->show();
  qttest::ExpectEachTickShowsAnotherPicture(*played);
}

// A control dropped on a form composes; turned classic in the property
// editor, it stays classic in the form Designer saves, whoever reads it.
TEST(DesignerPlugin, AFormKeepsComposedAsItWasSaved) {
  for (const bool composed : {true, false}) {
    SCOPED_TRACE(composed);
    QString saved;
    {
      Designer d;
      FlipreelWidget* reel = d.Reel();
      ASSERT_NE(reel, nullptr);
      EXPECT_TRUE(reel->Composed());
      if (!composed) {
        d.form->selectWidget(reel);
        d.core->propertyEditor()->setObject(reel);
        d.core->integration()->updateProperty(QStringLiteral("Composed"), false);
      }
      ASSERT_EQ(reel->Composed(), composed);
      saved = d.form->contents();
    }
    designertest::Designer reopened(FLIPREEL_PLUGIN_DIR, saved.toUtf8().constData());
    auto* again = reopened.Find<FlipreelWidget>("Flipreel1");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Composed(), composed);
    const AppForm app = LoadInApplication(saved);
    FlipreelWidget* played = app.reel;
    ASSERT_NE(played, nullptr);
    EXPECT_EQ(played->Composed(), composed);
  }
}

// Sequence, BackStyle and BorderStyle are ints to Qt; Designer's property
// editor shows them with the type information's names, and a name chosen in
// its drop-down list sets the control as one undoable change of the form.
TEST(DesignerPlugin, ThePropertyEditorNamesTheEnumerationsValues) {
  struct Case {
    const char* property;
    int value;
    const char* shown;
    int chosen;  // the value chosen next in the editor's list
  };
  const Case cases[] = {
      {"Sequence", 3, "Ping Pong", 1},
      {"BackStyle", 0, "Transparent", 1},
      {"BorderStyle", 1, "Solid", 0},
  };
  Designer d;
  FlipreelWidget* reel = d.Reel();
  ASSERT_NE(reel, nullptr);
  d.form->clearSelection(false);
  d.form->selectWidget(reel);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.property);
    reel->setProperty(c.property, c.value);
    d.core->propertyEditor()->setObject(reel);
    QTreeWidgetItem* row = d.EditorRow(c.property);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(1), c.shown);

    QTreeWidget* tree = row->treeWidget();
    tree->setCurrentItem(row, 1);
    tree->editItem(row, 1);
    auto* list = tree->viewport()->findChild<QComboBox*>();
    ASSERT_NE(list, nullptr);
    QStringList shown;
    for (int i = 0; i < list->count(); ++i) shown << list->itemText(i);
    EXPECT_EQ(shown, NamesOf(c.property));
    const int undo_steps = d.form->commandHistory()->count();
    d.form->setDirty(false);
    list->setCurrentIndex(list->findText(FlipreelEnumValueName(c.property, c.chosen)));
    EXPECT_EQ(reel->property(c.property).toInt(), c.chosen);
    EXPECT_TRUE(d.form->isDirty());
    EXPECT_EQ(d.form->commandHistory()->count(), undo_steps + 1);
    d.form->commandHistory()->undo();
    EXPECT_EQ(reel->property(c.property).toInt(), c.value);
    d.form->commandHistory()->redo();
    tree->setCurrentItem(nullptr);  // closes the list, deleted later
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  // The form file holds the choices in SavedState only: nothing of the
  // enumerations' names, which uic and QUiLoader would not know.
  const QString saved = d.form->contents();
  for (const Case& c : cases)
    EXPECT_FALSE(saved.contains(QStringLiteral("name=\"%1\"").arg(c.property))) << c.property;
  EXPECT_FALSE(saved.contains("Ping Pong"));
}

// What a designer edits and how: the colours with Designer's colour picker
// (a system colour kept as long as the colour read is written back), and
// nothing of what belongs to the host or must not be shown in clear.
TEST(DesignerPlugin, ThePropertyEditorOffersColoursAndHidesTheHostsSettings) {
  Designer d;
  FlipreelWidget* reel = d.SelectReel();
  ASSERT_NE(reel, nullptr);
  for (const char* hidden : {"UserMode", "PaintCacheBudget", "ServerPassword"})
    EXPECT_EQ(d.EditorRow(QString::fromLatin1(hidden)), nullptr) << hidden;
  for (const char* shown : {"FlipreelFile", "BackColor", "BorderColor", "ServerUserName"})
    EXPECT_NE(d.EditorRow(QString::fromLatin1(shown)), nullptr) << shown;
  EXPECT_STREQ(reel->metaObject()->userProperty().name(), "FlipreelFile");

  auto* sheet = qt_extension<QDesignerPropertySheetExtension*>(d.core->extensionManager(), reel);
  ASSERT_NE(sheet, nullptr);
  const int back = sheet->indexOf(QStringLiteral("BackColor"));
  // A new control's background is the button face of the palette.
  const QVariant shown = sheet->property(back);
  ASSERT_EQ(shown.metaType(), QMetaType::fromType<QColor>());
  EXPECT_EQ(shown.value<QColor>(), reel->palette().color(QPalette::Button));
  sheet->setProperty(back, shown);  // the colour read, written back
  EXPECT_EQ(reel->backColorValue(), kColorButtonFace);

  // A colour chosen in the editor is one undoable change; its undo brings
  // the system colour back, and redo the colour.
  const int steps = d.form->commandHistory()->count();
  d.core->integration()->updateProperty(QStringLiteral("BackColor"), QColor(255, 0, 0));
  EXPECT_EQ(reel->backColorValue(), 0x0000FF);
  EXPECT_EQ(d.form->commandHistory()->count(), steps + 1);
  d.form->commandHistory()->undo();
  EXPECT_EQ(reel->backColorValue(), kColorButtonFace);
  d.form->commandHistory()->redo();
  EXPECT_EQ(reel->backColorValue(), 0x0000FF);
  // The editor's reset gives a new control's colour, the system colour.
  d.core->integration()->resetProperty(QStringLiteral("BackColor"));
  EXPECT_EQ(reel->backColorValue(), kColorButtonFace);
}

// BackGroundGraphic is edited with Designer's pixmap editor: a picture file
// chosen there is the control's picture, as one undoable change, and goes
// into the form with the control's saved state, not as a file reference.
TEST(DesignerPlugin, ThePixmapEditorSetsTheBackgroundPicture) {
  QStringList unsupported;
  static QStringList* warnings = &unsupported;
  const QtMessageHandler previous =
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        if (text.contains(QStringLiteral("not supported yet"))) *warnings << text;
      });
  Designer d;
  FlipreelWidget* reel = d.SelectReel();
  ASSERT_NE(reel, nullptr);
  qInstallMessageHandler(previous);
  EXPECT_TRUE(unsupported.isEmpty()) << unsupported.join('\n').toStdString();
  EXPECT_NE(d.EditorRow(QStringLiteral("BackGroundGraphic")), nullptr);

  QString saved;
  {
    testfiles::TempDir dir;
    QImage sky(24, 16, QImage::Format_RGB32);
    sky.fill(QColor(0, 0, 255));
    const QString path = QString::fromStdString(dir.path() + "/sky.png");
    ASSERT_TRUE(sky.save(path));
    const int steps = d.form->commandHistory()->count();
    d.core->integration()->updateProperty(
        QStringLiteral("BackGroundGraphic"),
        QVariant::fromValue(qdesigner_internal::PropertySheetPixmapValue(path)));
    EXPECT_EQ(reel->BackGroundGraphic().size(), QSize(24, 16));
    EXPECT_EQ(d.form->commandHistory()->count(), steps + 1);
    d.form->commandHistory()->undo();
    EXPECT_TRUE(reel->BackGroundGraphic().isNull());
    d.form->commandHistory()->redo();
    EXPECT_EQ(reel->BackGroundGraphic().size(), QSize(24, 16));
    saved = d.form->contents();
  }  // the picture file is gone from here on
  EXPECT_FALSE(saved.contains("name=\"BackGroundGraphic\""));
  EXPECT_FALSE(saved.contains("sky.png"));
  d.core->integration()->resetProperty(QStringLiteral("BackGroundGraphic"));
  EXPECT_TRUE(reel->BackGroundGraphic().isNull());

  const AppForm app = LoadInApplication(saved);
  FlipreelWidget* played = app.reel;
  ASSERT_NE(played, nullptr);
  const QImage picture = played->BackGroundGraphic().toImage();
  ASSERT_EQ(picture.size(), QSize(24, 16));
  EXPECT_EQ(picture.pixel(3, 3), qRgb(0, 0, 255));
}
