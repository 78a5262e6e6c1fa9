// The task menu Designer shows for a Flipreel on a form: "Properties..."
// opens the property-pages dialog on the selected Flipreels, "About..."
// shows the control's About box.
//
// The dialog writes through the control's own setters; the change it made
// is then recorded on the form window's undo stack as one command that
// swaps the control's whole saved state, so that undo brings back even a
// GIF the dialog replaced, and the form is marked modified.
#pragma once

#include <QAction>
#include <QPointer>
#include <QtDesigner/QDesignerTaskMenuExtension>
#include <QtDesigner/QExtensionFactory>

class QDesignerFormWindowInterface;

namespace flipreel {

class FlipreelWidget;

class FlipreelTaskMenu : public QObject, public QDesignerTaskMenuExtension {
  Q_OBJECT
  Q_INTERFACES(QDesignerTaskMenuExtension)

 public:
  FlipreelTaskMenu(FlipreelWidget* widget, QObject* parent);

  QAction* preferredEditAction() const override { return properties_; }
  QList<QAction*> taskActions() const override { return {properties_, about_}; }

 private:
  void ShowProperties();
  QList<FlipreelWidget*> Selected(QDesignerFormWindowInterface* form) const;

  QPointer<FlipreelWidget> widget_;
  QAction* properties_;
  QAction* about_;
};

class FlipreelTaskMenuFactory : public QExtensionFactory {
  Q_OBJECT
 public:
  using QExtensionFactory::QExtensionFactory;

 protected:
  QObject* createExtension(QObject* object, const QString& iid, QObject* parent) const override;
};

// Records a change of a control's saved state on the form's undo stack. The
// change has already been made; undo restores before, redo after.
void RecordStateChange(QDesignerFormWindowInterface* form, FlipreelWidget* widget,
                       const QString& before, const QString& after);

}  // namespace flipreel
