// Qt Designer's form editor, as the designer application builds it, with
// the plugins of this build, on whatever platform Qt runs on (offscreen in
// tests): a core, its property editor, the integration that connects them
// to the form, the task menus, and one form window.
#pragma once

#include <QCoreApplication>
#include <QWidget>
#include <QtDesigner/QDesignerComponents>
#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerFormWindowInterface>
#include <QtDesigner/QDesignerFormWindowManagerInterface>
#include <QtDesigner/QDesignerIntegration>
#include <QtDesigner/QDesignerPropertyEditorInterface>

namespace designertest {

// A form with one Flipreel, as a user drops it on a new form.
inline constexpr const char* kFlipreelForm = R"(<ui version="4.0">
 <class>Form</class>
 <widget class="QWidget" name="Form">
  <property name="geometry"><rect><x>0</x><y>0</y><width>320</width><height>200</height></rect></property>
  <widget class="flipreel::FlipreelWidget" name="Flipreel1">
   <property name="geometry"><rect><x>10</x><y>10</y><width>205</width><height>130</height></rect></property>
  </widget>
 </widget>
</ui>)";

struct Designer {
  QDesignerFormEditorInterface* core;
  QWidget parent;
  QDesignerFormWindowInterface* form;

  explicit Designer(const char* plugin_dir, const char* contents = kFlipreelForm) {
    QCoreApplication::addLibraryPath(QString::fromUtf8(plugin_dir));
    QDesignerComponents::initializeResources();
    core = QDesignerComponents::createFormEditor(nullptr);
    // The integration connects the property editor it finds when created.
    core->setPropertyEditor(QDesignerComponents::createPropertyEditor(core, &parent));
    new QDesignerIntegration(core, core);
    QDesignerComponents::initializePlugins(core);
    QDesignerComponents::createTaskMenu(core, core);
    form = core->formWindowManager()->createFormWindow(&parent);
    form->setContents(QString::fromUtf8(contents));
    core->formWindowManager()->setActiveFormWindow(form);
  }
  ~Designer() {
    delete form;
    delete core->propertyEditor();  // it uses the core until it goes
    delete core;
  }
  Designer(const Designer&) = delete;
  Designer& operator=(const Designer&) = delete;

  template <typename W>
  W* Find(const char* name) {
    return form->mainContainer()->findChild<W*>(QString::fromUtf8(name));
  }
};

}  // namespace designertest
