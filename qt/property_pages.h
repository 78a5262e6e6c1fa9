// The property-pages dialog of the Qt host: the General page drawn from its
// model on a tab "Gif", with OK, Cancel and Apply.
//
// The page's elements become Qt widgets at their twip positions (converted
// with the screen's twips per pixel), in the page's tab order, with the
// access keys their captions mark. What the user does goes to the model; what
// the model changes is shown at once. Apply is enabled while the page is
// marked changed; Apply and OK raise the page's ApplyChanges (OK then
// closes), Cancel closes without writing. An error of a page handler is shown
// in a message box and the dialog stays open.
#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "flipreel/host/errors.h"
#include "flipreel/host/page_site.h"
#include "flipreel/propertypage/general_page.h"
#include "flipreel/qt/file_dialog.h"
#include "flipreel/qt/form_window.h"

class QAbstractButton;
class QPushButton;

namespace flipreel {

class FlipreelWidget;

// The Qt host's property-page services for FlipreelWidgets.
class QtPageSite : public QObject, public PropertyPageSite {
  Q_OBJECT
 public:
  explicit QtPageSite(QList<FlipreelWidget*> selected);
  ~QtPageSite() override;

  const QList<QPointer<FlipreelWidget>>& selected() const { return selected_; }

  int32_t SelectedCount() const override { return static_cast<int32_t>(objects_.size()); }
  Dispatch& SelectedControls(int32_t index) override;
  bool Changed() const override { return changed_; }
  void SetChanged(bool changed) override;
  bool IsNumeric(TextView text) const override;

 signals:
  void ChangedChanged(bool changed);

 private:
  class WidgetObject;
  QList<QPointer<FlipreelWidget>> selected_;
  std::vector<std::unique_ptr<WidgetObject>> objects_;
  bool changed_ = false;
};

class PropertyPagesDialog : public QDialog {
  Q_OBJECT
 public:
  // Runs the page's ApplyChanges; a designer wraps it to record the change
  // for undo. Errors pass through.
  using ApplyRunner = std::function<void(const std::function<void()>& apply)>;
  // Shows a page handler's error; the default is a modal message box.
  using ErrorHandler = std::function<void(const HostError&)>;

  // The dialog for the selected widgets (the first one is edited). The page
  // is filled when the dialog is created; with no widgets it waits for
  // SetObjects, as a page the component server made does.
  explicit PropertyPagesDialog(QList<FlipreelWidget*> selected = {}, QWidget* parent = nullptr,
                               ApplyRunner runner = {});
  ~PropertyPagesDialog() override;

  // Gives the page other widgets to edit: a fresh page is filled from the
  // first of them, and edits not applied are dropped.
  void SetObjects(QList<FlipreelWidget*> selected);

  void SetErrorHandler(ErrorHandler handler) { error_handler_ = std::move(handler); }

  GeneralPage& page() { return *page_; }
  QtPageSite& site() { return *site_; }
  // The Qt widget drawing a page element (for tests and screenshots).
  QWidget* ElementWidget(const std::string& name) const;
  QPushButton* OkButton() const { return ok_; }
  QPushButton* ApplyButton() const { return apply_; }
  QtFormService& forms() { return forms_; }

  // Applies the page now; false when a handler failed (shown already).
  bool Apply();

 public slots:
  void accept() override;

 private:
  QWidget* BuildPage();
  // Makes the site and the page for the selection and fills the page.
  void Open(QList<FlipreelWidget*> selected);
  QWidget* MakeWidget(const PageElement& e, QWidget* parent);
  void ElementChanged(const PageElement& e);
  // Runs a page handler, showing its error; false when it failed.
  bool Run(const std::function<void()>& handler);

  std::unique_ptr<QtPageSite> site_;
  // Browse's file dialog and the Preview form; the page, which may hold a
  // Preview, goes first.
  QtFileDialog file_dialog_;
  QtFormService forms_{this};  // the Preview is one of the dialog's windows
  std::unique_ptr<GeneralPage> page_;
  std::map<std::string, QWidget*> widgets_;
  ApplyRunner runner_;
  ErrorHandler error_handler_;
  QPushButton* ok_ = nullptr;
  QPushButton* apply_ = nullptr;
  std::string editing_;  // the element the user is editing right now
};

}  // namespace flipreel
