// The property-pages dialog of the Qt host: the pages of the control's list
// that this program has, in the list's order (General on the tab "Gif", then
// Color and Picture), each drawn from its model on a tab of its own, with OK,
// Cancel and Apply.
//
// A page's elements become Qt widgets at their twip positions (converted with
// the screen's twips per pixel), in the page's tab order, with the access
// keys their captions mark. What the user does goes to the model; what the
// model changes is shown at once. Each page has its own changed mark: Apply
// is enabled while any page is marked changed, and Apply and OK raise
// ApplyChanges on each page so marked, in tab order (OK then closes); Cancel
// closes without writing. An error of a page handler is shown in a message
// box and the dialog stays open.
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
#include "flipreel/propertypage/standard_pages.h"
#include "flipreel/qt/color_dialog.h"
#include "flipreel/qt/file_dialog.h"
#include "flipreel/qt/form_window.h"

class QAbstractButton;
class QPushButton;
class QTabWidget;

namespace flipreel {

class FlipreelWidget;

// The Qt host's property-page services for FlipreelWidgets.
class QtPageSite : public QObject, public PropertyPageSite {
  Q_OBJECT
  // Whether a page has changes not yet applied; the dialog's Apply follows it.
  Q_PROPERTY(bool Changed READ Changed WRITE SetChanged NOTIFY ChangedChanged)
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

  // Gives the pages other widgets to edit: fresh pages are filled from the
  // first of them, and edits not applied are dropped.
  void SetObjects(QList<FlipreelWidget*> selected);

  void set_error_handler(ErrorHandler handler) { error_handler_ = std::move(handler); }

  // The pages in tab order; the first is General.
  int page_count() const { return static_cast<int>(tabs_.size()); }
  PropertyPage& page(int tab) { return *tabs_.at(tab).page; }
  GeneralPage& page() { return static_cast<GeneralPage&>(page(0)); }
  QtPageSite& site(int tab = 0) { return *tabs_.at(tab).site; }
  QTabWidget* tab_widget() const { return tab_widget_; }
  // The Qt widget drawing an element of a page (for tests and screenshots).
  QWidget* ElementWidget(const std::string& name, int tab = 0) const;
  QPushButton* OkButton() const { return ok_; }
  QPushButton* ApplyButton() const { return apply_; }
  QtFormService& forms() { return forms_; }

  // Applies the page now; false when a handler failed (shown already).
  bool Apply();

 public slots:
  void accept() override;

 private:
  // One page: its site, its model and the widgets that draw it.
  struct Tab {
    std::string name;  // in the control's list of pages
    std::unique_ptr<QtPageSite> site;
    std::unique_ptr<PropertyPage> page;
    std::map<std::string, QWidget*> widgets;
  };

  QWidget* BuildPage(int tab);
  // Makes the sites and the pages for the selection and fills the pages.
  void Open(QList<FlipreelWidget*> selected);
  // Drops the pages, which refer to their sites and may hold a Preview.
  void ClosePages();
  QWidget* MakeWidget(int tab, const PageElement& e, QWidget* parent);
  void ElementChanged(int tab, const PageElement& e);
  // The arrow keys in a group of option buttons choose the next or the
  // previous one, in tab order, round the group.
  void MoveInGroup(int tab, const std::string& name, int step);
  PageElements& elements(int tab) { return tabs_[static_cast<size_t>(tab)].page->elements(); }
  void UpdateApplyButton();
  // Runs a page handler, showing its error; false when it failed.
  bool Run(const std::function<void()>& handler);

  // Browse's file dialog, the colour dialog and the Preview form; the pages,
  // which may hold a Preview, go first.
  QtFileDialog file_dialog_;
  QtColorDialog color_dialog_;
  QtFormService forms_{this};  // the Preview is one of the dialog's windows
  PageServices services_;
  std::vector<Tab> tabs_;
  QTabWidget* tab_widget_ = nullptr;
  ApplyRunner runner_;
  ErrorHandler error_handler_;
  QPushButton* ok_ = nullptr;
  QPushButton* apply_ = nullptr;
  std::string editing_;  // the element the user is editing right now
};

}  // namespace flipreel
