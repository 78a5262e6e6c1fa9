#include "flipreel/qt/property_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "flipreel/qt/colors.h"
#include "flipreel/qt/element_painter.h"
#include "flipreel/qt/flipreel_widget_p.h"

namespace flipreel {

namespace {

QString ToQString(TextView t) {
  return QString::fromUtf16(t.data(), static_cast<qsizetype>(t.size()));
}
Text ToText(const QString& s) {
  return s.toStdU16String();
}

Qt::CheckState CheckState(int16_t value) {
  return value == kChecked ? Qt::Checked : value == kGreyed ? Qt::PartiallyChecked : Qt::Unchecked;
}

// A click on a check box checks an unchecked box and clears a checked or
// greyed one; only the page's code greys a box.
class PageCheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  void nextCheckState() override {
    setCheckState(checkState() == Qt::Unchecked ? Qt::Checked : Qt::Unchecked);
  }
};

}  // namespace

// --- the site ------------------------------------------------------------------------

// A selected widget's control, reached by name through the widget, which
// keeps the error as its lastError and announces what changed.
class QtPageSite::WidgetObject : public Dispatch {
 public:
  explicit WidgetObject(FlipreelWidget* widget) : widget_(widget) {}

  Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args) override {
    // A control deleted while the page is open is an object that is gone.
    if (!widget_) Raise(err::kInvalidCall, "The selected control no longer exists");
    return FlipreelWidgetPrivate::get(*widget_).Invoke(name, kind, args);
  }

 private:
  QPointer<FlipreelWidget> widget_;
};

QtPageSite::QtPageSite(QList<FlipreelWidget*> selected) {
  for (FlipreelWidget* w : selected) {
    selected_.append(w);
    objects_.push_back(std::make_unique<WidgetObject>(w));
  }
}

QtPageSite::~QtPageSite() = default;

Dispatch& QtPageSite::SelectedControls(int32_t index) {
  if (index < 0 || index >= SelectedCount()) Raise(err::kSubscriptOutOfRange);
  return *objects_[index];
}

void QtPageSite::SetChanged(bool changed) {
  if (changed_ == changed) return;
  changed_ = changed;
  emit ChangedChanged(changed);
}

bool QtPageSite::IsNumeric(TextView text) const {
  return ParseNumber(text).has_value();
}

// --- the dialog ----------------------------------------------------------------------

PropertyPagesDialog::PropertyPagesDialog(QList<FlipreelWidget*> selected, QWidget* parent,
                                         ApplyRunner runner)
    : QDialog(parent), runner_(std::move(runner)) {
  setWindowTitle(tr("Property Pages"));
  // The page's elements are the same for every selection: the widgets are
  // built once, from the first page.
  site_ = std::make_unique<QtPageSite>(QList<FlipreelWidget*>{});
  page_ = std::make_unique<GeneralPage>(*site_, file_dialog_, forms_);
  auto* tabs = new QTabWidget(this);
  tabs->addTab(BuildPage(), ToQString(GeneralPage::kTabCaption));

  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  apply_ = buttons->button(QDialogButtonBox::Apply);
  apply_->setEnabled(false);
  connect(buttons, &QDialogButtonBox::accepted, this, &PropertyPagesDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PropertyPagesDialog::reject);
  connect(apply_, &QPushButton::clicked, this, [this] { Apply(); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  Open(std::move(selected));
}

PropertyPagesDialog::~PropertyPagesDialog() {
  page_->elements().SetObserver({});
}

void PropertyPagesDialog::SetObjects(QList<FlipreelWidget*> selected) {
  Open(std::move(selected));
}

void PropertyPagesDialog::Open(QList<FlipreelWidget*> selected) {
  // The old page goes first: it refers to the old site and may hold a Preview.
  page_->elements().SetObserver({});
  page_.reset();
  site_ = std::make_unique<QtPageSite>(std::move(selected));
  page_ = std::make_unique<GeneralPage>(*site_, file_dialog_, forms_);
  apply_->setEnabled(false);
  connect(site_.get(), &QtPageSite::ChangedChanged, apply_, &QWidget::setEnabled);

  page_->elements().SetObserver([this](const PageElement& e) { ElementChanged(e); });
  Run([this] { page_->Initialize(); });
  // With nothing selected there is nothing to read yet.
  if (site_->SelectedCount() > 0) Run([this] { page_->SelectionChanged(); });
}

QWidget* PropertyPagesDialog::ElementWidget(const std::string& name) const {
  auto it = widgets_.find(name);
  return it == widgets_.end() ? nullptr : it->second;
}

QWidget* PropertyPagesDialog::BuildPage() {
  auto* surface = new QWidget;
  const double twips_per_pixel = 1440.0 / std::max(1, logicalDpiX());
  const TwipScale scale{static_cast<float>(twips_per_pixel),
                        static_cast<float>(1440.0 / std::max(1, logicalDpiY()))};
  surface->setFixedSize(scale.X(GeneralPage::kWidth), scale.Y(GeneralPage::kHeight));
  // The positions were laid out for an 8-point dialog font; the host's
  // default family at that size keeps the captions inside their boxes.
  QFont font = surface->font();
  font.setPointSizeF(8);
  font.setStretch(QFont::Condensed);
  surface->setFont(font);

  std::vector<const PageElement*> by_tab;
  for (const PageElement& e : page_->elements().all()) {
    QWidget* parent = e.parent.empty() ? surface : widgets_.at(e.parent);
    QWidget* w = MakeWidget(e, parent);
    w->setGeometry(scale.Rect(e.left, e.top, e.width, e.height));
    w->setObjectName(QString::fromStdString(e.name));
    widgets_[e.name] = w;
    by_tab.push_back(&e);
  }
  std::stable_sort(by_tab.begin(), by_tab.end(), [](const PageElement* a, const PageElement* b) {
    return a->tab_index < b->tab_index;
  });
  for (size_t i = 1; i < by_tab.size(); ++i)
    QWidget::setTabOrder(widgets_[by_tab[i - 1]->name], widgets_[by_tab[i]->name]);
  return surface;
}

QWidget* PropertyPagesDialog::MakeWidget(const PageElement& e, QWidget* parent) {
  const std::string name = e.name;
  switch (e.kind) {
    case PageElementKind::kTextBox: {
      auto* box = new QLineEdit(parent);
      box->setReadOnly(!e.editable);
      if (e.back_color) {
        QPalette p = box->palette();
        p.setColor(QPalette::Base, ResolveColor(*e.back_color, p));
        box->setPalette(p);
      }
      connect(box, &QLineEdit::textEdited, this, [this, box, name](const QString& text) {
        editing_ = name;
        const bool ok =
            Run([&] { page_->elements().SetText(page_->elements()[name], ToText(text)); });
        editing_.clear();
        if (!ok) return;
        const PageElement& now = page_->elements()[name];
        if (ToQString(now.text) != box->text() || now.sel_start != 0) {
          box->setText(ToQString(now.text));
          box->setCursorPosition(now.sel_start);
        }
      });
      return box;
    }
    case PageElementKind::kButton: {
      auto* button = new QPushButton(ToQString(e.caption), parent);
      connect(button, &QPushButton::clicked, this,
              [this, name] { Run([&] { page_->elements().Press(page_->elements()[name]); }); });
      return button;
    }
    case PageElementKind::kCheckBox: {
      auto* box = new PageCheckBox(ToQString(e.caption), parent);
      connect(box, &QCheckBox::clicked, this, [this, box, name] {
        const int16_t v = box->checkState() == Qt::Checked ? kChecked : kUnchecked;
        Run([&] { page_->elements().SetValue(page_->elements()[name], v); });
      });
      return box;
    }
    case PageElementKind::kFrame:
      return new QGroupBox(ToQString(e.caption), parent);
    case PageElementKind::kLabel:
      return new QLabel(ToQString(e.caption), parent);
    case PageElementKind::kDropDownList: {
      auto* list = new QComboBox(parent);
      connect(list, &QComboBox::activated, this, [this, name](int index) {
        Run([&] { page_->elements().SetListIndex(page_->elements()[name], index); });
      });
      return list;
    }
    case PageElementKind::kOptionButton: {
      auto* option = new QRadioButton(ToQString(e.caption), parent);
      // The page keeps one button of a frame selected; Qt's own grouping
      // could not show a frame with none selected.
      option->setAutoExclusive(false);
      connect(option, &QRadioButton::clicked, this, [this, name] {
        Run([&] { page_->elements().SetValue(page_->elements()[name], -1); });
        ElementChanged(page_->elements()[name]);
      });
      return option;
    }
  }
  return new QWidget(parent);
}

// Shows what the model holds now, without raising the widget's own signals.
void PropertyPagesDialog::ElementChanged(const PageElement& e) {
  QWidget* w = ElementWidget(e.name);
  if (!w || e.name == editing_) return;
  const QSignalBlocker block(w);
  if (auto* box = qobject_cast<QLineEdit*>(w)) {
    if (box->text() != ToQString(e.text)) box->setText(ToQString(e.text));
    box->setCursorPosition(e.sel_start);
  } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
    check->setCheckState(CheckState(e.value));
  } else if (auto* option = qobject_cast<QRadioButton*>(w)) {
    option->setChecked(e.value != 0);
  } else if (auto* list = qobject_cast<QComboBox*>(w)) {
    if (list->count() != static_cast<int>(e.list.size())) {
      list->clear();
      for (const Text& item : e.list) list->addItem(ToQString(item));
    }
    list->setCurrentIndex(e.list_index);
  }
}

bool PropertyPagesDialog::Run(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (const HostError& e) {
    if (error_handler_) {
      error_handler_(e);
    } else {
      QMessageBox::critical(
          this, windowTitle(),
          tr("Error %1: %2").arg(e.number()).arg(QString::fromStdString(e.description())));
    }
    return false;
  }
}

bool PropertyPagesDialog::Apply() {
  const bool ok = Run([this] {
    auto apply = [this] { page_->ApplyChanges(); };
    if (runner_)
      runner_(apply);
    else
      apply();
  });
  if (ok) site_->SetChanged(false);
  return ok;
}

void PropertyPagesDialog::accept() {
  if (site_->Changed() && !Apply()) return;
  QDialog::accept();
}

}  // namespace flipreel
