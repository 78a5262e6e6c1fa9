#include "flipreel/qt/designer/flipreel_task_menu.h"

#include <QUndoCommand>
#include <QUndoStack>
#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerFormWindowCursorInterface>
#include <QtDesigner/QDesignerFormWindowInterface>
#include <QtDesigner/QDesignerPropertyEditorInterface>

#include "flipreel/qt/flipreel_widget.h"
#include "flipreel/qt/property_pages.h"

namespace flipreel {

namespace {

// Shows the widget's new values in Designer's property editor.
void RefreshPropertyEditor(QDesignerFormWindowInterface* form, FlipreelWidget* widget) {
  QDesignerPropertyEditorInterface* editor = form->core()->propertyEditor();
  if (editor && editor->object() == widget) editor->setObject(widget);
}

class StateChangeCommand : public QUndoCommand {
 public:
  StateChangeCommand(QDesignerFormWindowInterface* form, FlipreelWidget* widget, QString before,
                     QString after)
      : QUndoCommand(QObject::tr("Change properties of %1").arg(widget->objectName())),
        form_(form),
        widget_(widget),
        before_(std::move(before)),
        after_(std::move(after)) {}

  void undo() override { Restore(before_); }
  void redo() override {
    // The change is made when the command is pushed.
    if (std::exchange(done_, false)) return;
    Restore(after_);
  }

 private:
  void Restore(const QString& state) {
    if (!widget_ || !form_) return;
    widget_->setSavedState(state);
    RefreshPropertyEditor(form_, widget_);
  }

  QPointer<QDesignerFormWindowInterface> form_;
  QPointer<FlipreelWidget> widget_;
  QString before_, after_;
  bool done_ = true;
};

}  // namespace

void RecordStateChange(QDesignerFormWindowInterface* form, FlipreelWidget* widget,
                       const QString& before, const QString& after) {
  if (!form || before == after) return;
  form->commandHistory()->push(new StateChangeCommand(form, widget, before, after));
  RefreshPropertyEditor(form, widget);
}

FlipreelTaskMenu::FlipreelTaskMenu(FlipreelWidget* widget, QObject* parent)
    : QObject(parent),
      widget_(widget),
      properties_(new QAction(tr("Properties..."), this)),
      about_(new QAction(tr("About..."), this)) {
  connect(properties_, &QAction::triggered, this, &FlipreelTaskMenu::ShowProperties);
  connect(about_, &QAction::triggered, this, [this] {
    if (widget_) widget_->ShowAbout();
  });
}

// The widget the menu belongs to first, then the other selected Flipreels.
QList<FlipreelWidget*> FlipreelTaskMenu::Selected(QDesignerFormWindowInterface* form) const {
  QList<FlipreelWidget*> selected{widget_};
  if (QDesignerFormWindowCursorInterface* cursor = form ? form->cursor() : nullptr) {
    for (int i = 0; i < cursor->selectedWidgetCount(); ++i) {
      auto* w = qobject_cast<FlipreelWidget*>(cursor->selectedWidget(i));
      if (w && !selected.contains(w)) selected.append(w);
    }
  }
  return selected;
}

void FlipreelTaskMenu::ShowProperties() {
  if (!widget_) return;
  QDesignerFormWindowInterface* form = QDesignerFormWindowInterface::findFormWindow(widget_);
  const QList<FlipreelWidget*> selected = Selected(form);
  FlipreelWidget* edited = selected.first();
  // Only the first selected control is written: its state before and after
  // an apply make one undoable change, recorded even when the apply failed
  // part-way, since the writes before the failure stay made.
  auto runner = [form, edited](const std::function<void()>& apply) {
    const QString before = edited->SavedState();
    try {
      apply();
    } catch (...) {
      RecordStateChange(form, edited, before, edited->SavedState());
      throw;
    }
    RecordStateChange(form, edited, before, edited->SavedState());
  };
  PropertyPagesDialog dialog(selected, form ? form->core()->topLevel() : nullptr, runner);
  dialog.exec();
}

QObject* FlipreelTaskMenuFactory::createExtension(QObject* object, const QString& iid,
                                                  QObject* parent) const {
  if (iid != Q_TYPEID(QDesignerTaskMenuExtension)) return nullptr;
  if (auto* widget = qobject_cast<FlipreelWidget*>(object))
    return new FlipreelTaskMenu(widget, parent);
  return nullptr;
}

}  // namespace flipreel
