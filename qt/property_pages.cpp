#include "flipreel/qt/property_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "flipreel/control/type_info.h"
#include "flipreel/qt/colors.h"
#include "flipreel/qt/element_painter.h"
#include "flipreel/qt/flipreel_widget_p.h"
#include "flipreel/qt/picture_cache.h"

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

// An option button whose arrow keys choose the next or the previous button
// of its group (step 1 or -1) rather than move the focus out of it.
class PageOptionButton : public QRadioButton {
 public:
  PageOptionButton(const QString& text, QWidget* parent, std::function<void(int)> step)
      : QRadioButton(text, parent), step_(std::move(step)) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    switch (event->key()) {
      case Qt::Key_Up:
      case Qt::Key_Left:
        return step_(-1);
      case Qt::Key_Down:
      case Qt::Key_Right:
        return step_(1);
      default:
        QRadioButton::keyPressEvent(event);
    }
  }

 private:
  std::function<void(int)> step_;
};

// A swatch of a colour, a small square beside each item of a list of colours.
QIcon Swatch(int32_t color, const QPalette& palette) {
  QPixmap square(16, 12);
  square.fill(ResolveColor(color, palette));
  return QIcon(square);
}

// A picture fitted into size, keeping its proportions; never enlarged.
QPixmap Fitted(const Picture& picture, QSize size) {
  if (picture.IsEmpty()) return QPixmap();
  QImage image = ToPaintImage(*picture.data());
  if (image.width() > size.width() || image.height() > size.height())
    image = image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return QPixmap::fromImage(image);
}

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
  std::span<const MemberInfo> described_members() const override {
    return widget_ ? FlipreelWidgetPrivate::get(*widget_).control().described_members()
                   : std::span<const MemberInfo>();
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
    : QDialog(parent),
      services_{file_dialog_, color_dialog_, forms_,
                [this](TextView path) {
                  // Pictures load as the first selected control's host loads them.
                  const QList<QPointer<FlipreelWidget>>& widgets = tabs_.front().site->selected();
                  if (widgets.isEmpty() || !widgets.front())
                    Raise(err::kInvalidCall, "The selected control no longer exists");
                  return FlipreelWidgetPrivate::get(*widgets.front()).host().LoadPicture(path);
                }},
      runner_(std::move(runner)) {
  setWindowTitle(tr("Property Pages"));
  // The pages' elements are the same for every selection: the widgets are
  // built once, from the first pages.
  tab_widget_ = new QTabWidget(this);
  for (std::string_view name : FlipreelTypeLibrary().property_pages) {
    auto site = std::make_unique<QtPageSite>(QList<FlipreelWidget*>{});
    std::unique_ptr<PropertyPage> page = CreatePropertyPage(name, *site, services_);
    if (!page) continue;
    tabs_.push_back({std::string(name), std::move(site), std::move(page), {}});
    const int tab = static_cast<int>(tabs_.size()) - 1;
    tab_widget_->addTab(BuildPage(tab), ToQString(tabs_.back().page->TabCaption()));
  }

  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  apply_ = buttons->button(QDialogButtonBox::Apply);
  apply_->setEnabled(false);
  connect(buttons, &QDialogButtonBox::accepted, this, &PropertyPagesDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PropertyPagesDialog::reject);
  connect(apply_, &QPushButton::clicked, this, [this] { Apply(); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tab_widget_);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  Open(std::move(selected));
}

PropertyPagesDialog::~PropertyPagesDialog() {
  ClosePages();
}

void PropertyPagesDialog::SetObjects(QList<FlipreelWidget*> selected) {
  Open(std::move(selected));
}

void PropertyPagesDialog::ClosePages() {
  for (Tab& t : tabs_) {
    t.page->elements().set_observer({});
    t.page.reset();
  }
}

void PropertyPagesDialog::Open(QList<FlipreelWidget*> selected) {
  ClosePages();
  if (!selected.isEmpty() && selected.front())
    color_dialog_.set_palette(selected.front()->palette());
  for (size_t i = 0; i < tabs_.size(); ++i) {
    Tab& t = tabs_[i];
    const int tab = static_cast<int>(i);
    t.site = std::make_unique<QtPageSite>(selected);
    t.page = CreatePropertyPage(t.name, *t.site, services_);
    connect(t.site.get(), &QtPageSite::ChangedChanged, this,
            &PropertyPagesDialog::UpdateApplyButton);
    t.page->elements().set_observer([this, tab](const PageElement& e) { ElementChanged(tab, e); });
  }
  UpdateApplyButton();
  for (Tab& t : tabs_) {
    Run([&] { t.page->Initialize(); });
    // With nothing selected there is nothing to read yet.
    if (t.site->SelectedCount() > 0) Run([&] { t.page->SelectionChanged(); });
  }
}

void PropertyPagesDialog::UpdateApplyButton() {
  bool changed = false;
  for (const Tab& t : tabs_) changed = changed || (t.site && t.site->Changed());
  apply_->setEnabled(changed);
}

QWidget* PropertyPagesDialog::ElementWidget(const std::string& name, int tab) const {
  if (tab < 0 || tab >= page_count()) return nullptr;
  const std::map<std::string, QWidget*>& widgets = tabs_[static_cast<size_t>(tab)].widgets;
  auto it = widgets.find(name);
  return it == widgets.end() ? nullptr : it->second;
}

QWidget* PropertyPagesDialog::BuildPage(int tab) {
  Tab& t = tabs_[static_cast<size_t>(tab)];
  auto* surface = new QWidget;
  const double twips_per_pixel = 1440.0 / std::max(1, logicalDpiX());
  const TwipScale scale{static_cast<float>(twips_per_pixel),
                        static_cast<float>(1440.0 / std::max(1, logicalDpiY()))};
  surface->setFixedSize(scale.X(PropertyPage::kWidth), scale.Y(PropertyPage::kHeight));
  // The positions were laid out for an 8-point dialog font; the host's
  // default family at that size keeps the captions inside their boxes.
  QFont font = surface->font();
  font.setPointSizeF(8);
  font.setStretch(QFont::Condensed);
  surface->setFont(font);

  std::vector<const PageElement*> by_tab;
  for (const PageElement& e : t.page->elements().all()) {
    QWidget* parent = e.parent.empty() ? surface : t.widgets.at(e.parent);
    QWidget* w = MakeWidget(tab, e, parent);
    w->setGeometry(scale.Rect(e.left, e.top, e.width, e.height));
    w->setObjectName(QString::fromStdString(e.name));
    t.widgets[e.name] = w;
    by_tab.push_back(&e);
    ElementChanged(tab, e);
  }
  std::stable_sort(by_tab.begin(), by_tab.end(), [](const PageElement* a, const PageElement* b) {
    return a->tab_index < b->tab_index;
  });
  for (size_t i = 1; i < by_tab.size(); ++i) {
    QWidget::setTabOrder(t.widgets[by_tab[i - 1]->name], t.widgets[by_tab[i]->name]);
    // A label's access key goes to the element after it in tab order.
    if (auto* label = qobject_cast<QLabel*>(t.widgets[by_tab[i - 1]->name]);
        label && by_tab[i - 1]->kind == PageElementKind::kLabel &&
        by_tab[i - 1]->caption.find(u'&') != Text::npos)
      label->setBuddy(t.widgets[by_tab[i]->name]);
  }
  return surface;
}

QWidget* PropertyPagesDialog::MakeWidget(int tab, const PageElement& e, QWidget* parent) {
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
      connect(box, &QLineEdit::textEdited, this, [this, tab, box, name](const QString& text) {
        editing_ = name;
        const bool ok = Run([&] { elements(tab).SetText(elements(tab)[name], ToText(text)); });
        editing_.clear();
        if (!ok) return;
        const PageElement& now = elements(tab)[name];
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
              [this, tab, name] { Run([&] { elements(tab).Press(elements(tab)[name]); }); });
      return button;
    }
    case PageElementKind::kCheckBox: {
      auto* box = new PageCheckBox(ToQString(e.caption), parent);
      connect(box, &QCheckBox::clicked, this, [this, tab, box, name] {
        const int16_t v = box->checkState() == Qt::Checked ? kChecked : kUnchecked;
        Run([&] { elements(tab).SetValue(elements(tab)[name], v); });
      });
      return box;
    }
    case PageElementKind::kFrame:
      return new QGroupBox(ToQString(e.caption), parent);
    case PageElementKind::kLabel: {
      auto* label = new QLabel(ToQString(e.caption), parent);
      // A label with a colour of its own is a swatch of that colour.
      if (e.back_color) label->setFrameStyle(QFrame::Box | QFrame::Plain);
      return label;
    }
    case PageElementKind::kDropDownList: {
      auto* list = new QComboBox(parent);
      connect(list, &QComboBox::activated, this, [this, tab, name](int index) {
        Run([&] { elements(tab).SetListIndex(elements(tab)[name], index); });
      });
      return list;
    }
    case PageElementKind::kListBox: {
      auto* list = new QListWidget(parent);
      connect(list, &QListWidget::currentRowChanged, this, [this, tab, name](int row) {
        Run([&] { elements(tab).SetListIndex(elements(tab)[name], row); });
      });
      return list;
    }
    case PageElementKind::kImage: {
      auto* image = new QLabel(parent);
      image->setAlignment(Qt::AlignCenter);
      image->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
      return image;
    }
    case PageElementKind::kOptionButton: {
      auto* option =
          new PageOptionButton(ToQString(e.caption), parent,
                               [this, tab, name](int step) { MoveInGroup(tab, name, step); });
      // The page keeps one button of a frame selected; Qt's own grouping
      // could not show a frame with none selected.
      option->setAutoExclusive(false);
      connect(option, &QRadioButton::clicked, this, [this, tab, name] {
        Run([&] { elements(tab).SetValue(elements(tab)[name], -1); });
        ElementChanged(tab, elements(tab)[name]);
      });
      return option;
    }
  }
  return new QWidget(parent);
}

void PropertyPagesDialog::MoveInGroup(int tab, const std::string& name, int step) {
  const PageElement& from = elements(tab)[name];
  std::vector<const PageElement*> group;
  for (const PageElement& e : elements(tab).all())
    if (e.kind == PageElementKind::kOptionButton && e.parent == from.parent) group.push_back(&e);
  std::stable_sort(group.begin(), group.end(), [](const PageElement* a, const PageElement* b) {
    return a->tab_index < b->tab_index;
  });
  const auto at = std::find(group.begin(), group.end(), &from);
  const auto count = static_cast<ptrdiff_t>(group.size());
  const ptrdiff_t next = ((at - group.begin()) + step + count) % count;
  const std::string to = group[static_cast<size_t>(next)]->name;
  ElementWidget(to, tab)->setFocus(Qt::OtherFocusReason);
  Run([&] { elements(tab).SetValue(elements(tab)[to], -1); });
  ElementChanged(tab, elements(tab)[to]);
}

// Shows what the model holds now, without raising the widget's own signals.
void PropertyPagesDialog::ElementChanged(int tab, const PageElement& e) {
  QWidget* w = ElementWidget(e.name, tab);
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
  } else if (auto* items = qobject_cast<QListWidget*>(w)) {
    // Refilled only when its items changed: a choice in the list comes back
    // here while the list is still telling of it.
    bool same = items->count() == static_cast<int>(e.list.size());
    for (int i = 0; same && i < items->count(); ++i)
      same = items->item(i)->text() == ToQString(e.list[static_cast<size_t>(i)]);
    if (!same) {
      items->clear();
      for (size_t i = 0; i < e.list.size(); ++i) {
        auto* item = new QListWidgetItem(ToQString(e.list[i]), items);
        if (i < e.item_colors.size()) item->setIcon(Swatch(e.item_colors[i], palette()));
      }
    }
    items->setCurrentRow(e.list_index);
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    if (e.kind == PageElementKind::kImage) {
      label->setPixmap(Fitted(e.picture, label->contentsRect().size()));
    } else if (e.back_color) {
      QPalette p = label->palette();
      p.setColor(QPalette::Window, ResolveColor(*e.back_color, palette()));
      label->setPalette(p);
      label->setAutoFillBackground(true);
    }
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

// Every page marked changed applies, in tab order, inside one run (one
// change of the form for a designer); a page that fails ends the apply there
// and keeps its mark, the pages before it have applied.
bool PropertyPagesDialog::Apply() {
  std::vector<Tab*> applied;
  const bool ok = Run([this, &applied] {
    auto apply = [this, &applied] {
      for (Tab& t : tabs_) {
        if (!t.site->Changed()) continue;
        t.page->ApplyChanges();
        applied.push_back(&t);
      }
    };
    if (runner_)
      runner_(apply);
    else
      apply();
  });
  for (Tab* t : applied) t->site->SetChanged(false);
  return ok;
}

void PropertyPagesDialog::accept() {
  if (apply_->isEnabled() && !Apply()) return;
  QDialog::accept();
}

}  // namespace flipreel
