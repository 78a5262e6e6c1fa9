// The Qt Designer plugin of FlipreelWidget: the widget box entry, the widget
// as Designer creates it, and the design-time glue (the task menu, the saved
// state in the form file).
//
// A widget the plugin creates on a form that Designer edits is a design-time
// control (UserMode False: its timer stays off). Designer's preview, and
// QUiLoader in an application, get run-time controls from the same plugin.
#pragma once

#include <QObject>
#include <QPointer>
#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

class QDesignerFormWindowInterface;

namespace flipreel {

class FlipreelDesignerPlugin : public QObject, public QDesignerCustomWidgetInterface {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetInterface")
  Q_INTERFACES(QDesignerCustomWidgetInterface)

 public:
  explicit FlipreelDesignerPlugin(QObject* parent = nullptr);

  QString name() const override;
  QString group() const override;
  QString toolTip() const override;
  QString whatsThis() const override;
  QString includeFile() const override;
  QIcon icon() const override;
  bool isContainer() const override { return false; }
  QWidget* createWidget(QWidget* parent) override;
  bool isInitialized() const override { return !core_.isNull(); }
  void initialize(QDesignerFormEditorInterface* core) override;
  QString domXml() const override;

 private:
  void WatchFormWindow(QDesignerFormWindowInterface* form);

  // The form editor the plugin serves. Designer has one, but a program may
  // make another after the first is gone: the plugin (one per process) then
  // counts as uninitialized again and registers its extensions with it.
  QPointer<QDesignerFormEditorInterface> core_;
};

}  // namespace flipreel
