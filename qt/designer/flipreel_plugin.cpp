#include "flipreel/qt/designer/flipreel_plugin.h"

#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerFormWindowInterface>
#include <QtDesigner/QDesignerFormWindowManagerInterface>
#include <QtDesigner/QDesignerPropertySheetExtension>
#include <QtDesigner/QExtensionManager>

#include "flipreel/control/flipreel.h"
#include "flipreel/control/pictures.h"
#include "flipreel/control/type_info.h"
#include "flipreel/qt/designer/flipreel_property_sheet.h"
#include "flipreel/qt/designer/flipreel_task_menu.h"
#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/picture_cache.h"

namespace flipreel {

namespace {

constexpr auto kClassName = "flipreel::FlipreelWidget";

QString Escaped(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toHtmlEscaped();
}

}  // namespace

FlipreelDesignerPlugin::FlipreelDesignerPlugin(QObject* parent) : QObject(parent) {}

QString FlipreelDesignerPlugin::name() const {
  return kClassName;
}

QString FlipreelDesignerPlugin::group() const {
  return QStringLiteral("Display Widgets");
}

// The control class's description in the type information.
QString FlipreelDesignerPlugin::toolTip() const {
  const std::string_view description = FlipreelTypeLibrary().class_description;
  return QString::fromUtf8(description.data(), static_cast<qsizetype>(description.size()));
}

QString FlipreelDesignerPlugin::whatsThis() const {
  return tr(
      "Plays an animated GIF. The GIF is saved with the form, so the application needs no "
      "GIF file. Right-click it and choose Properties... to pick a GIF and set how it "
      "plays.");
}

// As an application includes it from the installed package, so that the code
// uic makes of a form compiles there.
QString FlipreelDesignerPlugin::includeFile() const {
  return QStringLiteral("flipreel/qt/flipreel_widget.h");
}

// The control's toolbox picture: 16 x 15 pixels, the film strip with GIF.
QIcon FlipreelDesignerPlugin::icon() const {
  const Picture picture = ToolboxPicture();
  return QIcon(QPixmap::fromImage(ToPaintImage(*picture.data())));
}

QWidget* FlipreelDesignerPlugin::createWidget(QWidget* parent) {
  auto* widget = new FlipreelWidget(parent);
  // On a form that Designer edits the control is at design time: its timer
  // stays off. Anywhere else (Designer's preview, QUiLoader in an
  // application) it is at run time.
  const bool on_edited_form =
      core_ && parent && QDesignerFormWindowInterface::findFormWindow(parent) != nullptr;
  widget->setUserMode(!on_edited_form);
  return widget;
}

void FlipreelDesignerPlugin::initialize(QDesignerFormEditorInterface* core) {
  if (core_) return;
  core_ = core;
  QExtensionManager* manager = core->extensionManager();
  manager->registerExtensions(new FlipreelTaskMenuFactory(manager),
                              Q_TYPEID(QDesignerTaskMenuExtension));
  RegisterFlipreelPropertySheet(manager);
  QDesignerFormWindowManagerInterface* forms = core->formWindowManager();
  for (int i = 0; i < forms->formWindowCount(); ++i) WatchFormWindow(forms->formWindow(i));
  connect(forms, &QDesignerFormWindowManagerInterface::formWindowAdded, this,
          &FlipreelDesignerPlugin::WatchFormWindow);
}

// Every Flipreel on a form saves its whole state with the form, through the
// SavedState property, and nothing else of its own: restoring runs
// ReadProperties, never the property setters one by one.
void FlipreelDesignerPlugin::WatchFormWindow(QDesignerFormWindowInterface* form) {
  connect(form, &QDesignerFormWindowInterface::widgetManaged, this, [this](QWidget* w) {
    if (!qobject_cast<FlipreelWidget*>(w)) return;
    auto* sheet = qt_extension<QDesignerPropertySheetExtension*>(core_->extensionManager(), w);
    if (!sheet) return;
    const int index = sheet->indexOf(QStringLiteral("SavedState"));
    if (index >= 0) sheet->setChanged(index, true);
  });
}

// The widget box entry, with each property's description from the control's
// type information as its tool tip in the property editor.
QString FlipreelDesignerPlugin::domXml() const {
  QString tips;
  for (const MemberInfo& m : Flipreel::Members()) {
    if (m.kind == MemberInfo::Kind::kMethod) continue;
    tips += QStringLiteral("    <tooltip name=\"%1\">%2</tooltip>\n")
                .arg(Escaped(m.name), Escaped(m.description));
  }
  return QStringLiteral(
             "<ui language=\"c++\">\n"
             " <widget class=\"%1\" name=\"Flipreel1\"/>\n"
             " <customwidgets>\n"
             "  <customwidget>\n"
             "   <class>%1</class>\n"
             "   <propertyspecifications>\n%2"
             // The saved state, the file, the address and the user name are
             // data, not text for translators.
             "    <stringpropertyspecification name=\"SavedState\" notr=\"true\" "
             "type=\"multiline\"/>\n"
             "    <stringpropertyspecification name=\"FlipreelFile\" notr=\"true\" "
             "type=\"singleline\"/>\n"
             "    <stringpropertyspecification name=\"GifFromURL\" notr=\"true\" "
             "type=\"singleline\"/>\n"
             "    <stringpropertyspecification name=\"ServerUserName\" notr=\"true\" "
             "type=\"singleline\"/>\n"
             "   </propertyspecifications>\n"
             "  </customwidget>\n"
             " </customwidgets>\n"
             "</ui>\n")
      .arg(kClassName, tips);
}

}  // namespace flipreel
