#include "flipreel/qt/form_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QtGlobal>
#include <algorithm>
#include <cmath>

#include "flipreel/control/flipreel.h"
#include "flipreel/qt/colors.h"
#include "flipreel/qt/element_painter.h"
#include "flipreel/qt/picture_cache.h"
#include "flipreel/qt/qt_host.h"

namespace flipreel {

namespace {

constexpr char kElementName[] = "flipreelElement";

QString ToQString(TextView text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// An image element that draws its text drawing: the picture of a sign kept as
// drawing commands, drawn with the host's own serif font.
class DrawingView : public QWidget {
 public:
  DrawingView(const TextDrawing& drawing, float tppy, QWidget* parent)
      : QWidget(parent), drawing_(drawing), font_(QString::fromStdString(drawing.font_family)) {
    font_.setStyleHint(QFont::Serif);
    font_.setPixelSize(std::max(1, static_cast<int>(std::lround(drawing.font_height / tppy))));
  }
  int TextWidth() const { return QFontMetrics(font_).horizontalAdvance(ToQString(drawing_.text)); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font_);
    painter.setPen(ResolveColor(drawing_.color, palette()));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, ToQString(drawing_.text));
  }

 private:
  TextDrawing drawing_;
  QFont font_;
};

}  // namespace

// A control sited on a form: paints the control's elements bottom to top and
// keeps the mouse to itself, so that a click on it is not a click on the form.
class ControlView : public QWidget, public QtSurface {
 public:
  void SetHost(QtHost* host) { host_ = host; }

 protected:
  void paintEvent(QPaintEvent*) override {
    const auto* control = host_ ? dynamic_cast<const Flipreel*>(host_->control()) : nullptr;
    if (!control) return;
    QPainter painter(this);
    const TwipScale scale{host_->TwipsPerPixelX(), host_->TwipsPerPixelY()};
    PaintShape(painter, control->shpBackGround(), scale, palette());
    PaintImage(painter, control->imgBackGround(), scale, cache_);
    PaintImage(painter, control->imgGif(), scale, cache_);
    PaintShape(painter, control->shpBorder(), scale, palette());
  }
  void mousePressEvent(QMouseEvent* event) override { event->accept(); }
  void mouseReleaseEvent(QMouseEvent* event) override { event->accept(); }

 private:
  void ElementChanged(const Element&, ElementProperty) override { update(); }
  void SurfaceBackChanged() override { update(); }
  void RefreshRequested() override { update(); }
  void TickEnded() override {}
  void HostEventEnded() override {}
  void PropertyNotified(std::string_view) override {}
  void HostEventFailed(std::string_view event, const HostError& error) override {
    qWarning("Flipreel on a form: %.*s failed: %d %s", static_cast<int>(event.size()), event.data(),
             error.number(), error.what());
  }

  QtHost* host_ = nullptr;
  PictureCache cache_;
};

namespace {

// The view goes first, so that the host can be built on it.
struct ViewHolder {
  std::unique_ptr<ControlView> view = std::make_unique<ControlView>();
};

class FormControlSite : private ViewHolder, public QtHost {
 public:
  FormControlSite() : QtHost(*view, *view) { view->SetHost(this); }
  ~FormControlSite() override { view->SetHost(nullptr); }
  ControlView* control_view() const { return view.get(); }
};

}  // namespace

class FormWindow : public QDialog {
 public:
  FormWindow(Form& form, QtFormService& service)
      : QDialog(service.owner_), form_(&form), service_(service) {
    setWindowTitle(ToQString(form.caption()));
    setObjectName(QString::fromStdString(form.name()));
    // The small font forms of this kind have always used, so that captions
    // fit the element sizes the forms were laid out for.
    QFont small = font();
    small.setPointSizeF(8);
    small.setStretch(QFont::SemiCondensed);
    setFont(small);
    Build();
    Resize();
  }

  void Resize() {
    if (form_) setFixedSize(X(form_->width()), Y(form_->height()));
  }

  // The form has been unloaded: the window no longer speaks for it, and the
  // controls' views go back to their sites.
  void Detach() {
    for (const auto& [key, view] : service_.views_)
      if (key.first == form_ && view && view->parent() == this) {
        view->hide();
        view->setParent(nullptr);
      }
    form_ = nullptr;
  }

  void FocusFirst() {
    if (const FormElement* first = form_ ? form_->FirstFocus() : nullptr)
      if (QWidget* w = widgets_[first->name]) w->setFocus(Qt::OtherFocusReason);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    pressed_ = event->button() == Qt::LeftButton;
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (!pressed_ || event->button() != Qt::LeftButton || !form_) return;
    pressed_ = false;
    if (!rect().contains(event->position().toPoint())) return;
    // A click on an element that leaves the mouse to the form (a label, an
    // image, a frame) is that element's click; elsewhere the form's own.
    std::string name;
    for (QWidget* w = childAt(event->position().toPoint()); w && w != this; w = w->parentWidget()) {
      const QVariant v = w->property(kElementName);
      if (v.isValid()) {
        name = v.toString().toStdString();
        break;
      }
    }
    form_->Click(name);
  }
  // The close control unloads the form through the form itself.
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    if (form_) form_->Unload();
  }
  // Escape closes nothing: the forms have no cancel button.
  void reject() override {}

 private:
  int X(float twips) const { return static_cast<int>(std::lround(twips / Tpp(true))); }
  int Y(float twips) const { return static_cast<int>(std::lround(twips / Tpp(false))); }
  float Tpp(bool across) const {
    const int dpi = across ? logicalDpiX() : logicalDpiY();
    return dpi > 0 ? 1440.0f / static_cast<float>(dpi) : 15.0f;
  }

  QWidget* Make(const FormElement& e, QWidget* parent) {
    const QString caption = ToQString(e.caption);
    switch (e.kind) {
      case FormElementKind::kFrame:
        return new QGroupBox(ToQString(CaptionText(e.caption)), parent);
      case FormElementKind::kImage: {
        if (e.drawing) return new DrawingView(*e.drawing, Tpp(false), parent);
        auto* label = new QLabel(parent);
        if (!e.picture.IsEmpty()) label->setPixmap(QPixmap::fromImage(cache_.GetToKeep(e.picture)));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
      }
      case FormElementKind::kLabel: {
        auto* label = new QLabel(ToQString(CaptionText(e.caption)), parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
      }
      case FormElementKind::kCommandButton: {
        auto* button = new QPushButton(caption, parent);
        const std::string name = e.name;
        connect(button, &QPushButton::clicked, this, [this, name] {
          if (form_) form_->Click(name);
        });
        return button;
      }
      case FormElementKind::kTextBox:
        return new QLineEdit(caption, parent);
      case FormElementKind::kCheckBox:
        return new QCheckBox(caption, parent);
      case FormElementKind::kOptionButton:
        return new QRadioButton(caption, parent);
      case FormElementKind::kComboBox:
        return new QComboBox(parent);
      case FormElementKind::kControl: {
        const auto it = service_.views_.find({form_, e.name});
        QWidget* view = it != service_.views_.end() ? it->second.data() : nullptr;
        if (!view) return new QWidget(parent);  // a control that was never sited
        view->setParent(parent);
        return view;
      }
    }
    return new QWidget(parent);
  }

  void Build() {
    std::vector<std::pair<int16_t, QWidget*>> tab_order;
    for (const FormElement& e : form_->elements()) {
      QWidget* parent = e.parent.empty() ? this : widgets_[e.parent];
      if (!parent) parent = this;
      QWidget* w = Make(e, parent);
      w->setProperty(kElementName, QString::fromStdString(e.name));
      w->setObjectName(QString::fromStdString(e.name));
      if (e.kind == FormElementKind::kControl) {
        w->move(X(e.left), Y(e.top));  // the control keeps the size it gave its site
      } else {
        w->setGeometry(X(e.left), Y(e.top), X(e.width), Y(e.height));
      }
      if (e.kind == FormElementKind::kImage) w->setAttribute(Qt::WA_TransparentForMouseEvents);
      w->setVisible(e.visible);
      w->setEnabled(e.enabled);
      if (!TakesFocus(e.kind)) w->setFocusPolicy(Qt::NoFocus);
      if (TakesFocus(e.kind) && e.tab_index) tab_order.emplace_back(*e.tab_index, w);
      widgets_[e.name] = w;
    }
    PlaceDrawingsInGaps();
    // Later elements stack above earlier ones (the About box's sign above the
    // gap in its rights line), as Qt stacks siblings in creation order.
    std::stable_sort(tab_order.begin(), tab_order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < tab_order.size(); ++i)
      setTabOrder(tab_order[i - 1].second, tab_order[i].second);
  }

  // A drawing laid over a gap of spaces in a label's caption (the About box's
  // sign after the first word of its rights line) goes to the middle of that
  // gap as the label's font draws it: the form was laid out for a font this
  // host may not have, and with a wider one the gap moves right and the sign
  // would touch the word before it.
  void PlaceDrawingsInGaps() {
    for (const FormElement& d : form_->elements()) {
      auto* drawing = d.drawing ? dynamic_cast<DrawingView*>(widgets_[d.name]) : nullptr;
      if (!drawing) continue;
      for (const FormElement& l : form_->elements()) {
        if (l.kind != FormElementKind::kLabel || l.parent != d.parent || d.top < l.top ||
            d.top >= l.top + l.height || d.left < l.left || d.left >= l.left + l.width)
          continue;
        const QString text = ToQString(CaptionText(l.caption));
        const qsizetype gap = text.indexOf(QStringLiteral("  "));
        if (gap < 0) continue;
        qsizetype end = gap;
        while (end < text.size() && text[end] == u' ') ++end;
        const QWidget* label = widgets_[l.name];
        const QFontMetrics metrics(label->font());
        const int from = metrics.horizontalAdvance(text.left(gap));
        const int to = metrics.horizontalAdvance(text.left(end));
        drawing->move(label->x() + (from + to - drawing->TextWidth()) / 2, drawing->y());
      }
    }
  }

  Form* form_;
  QtFormService& service_;
  std::map<std::string, QWidget*> widgets_;
  PictureCache cache_;
  bool pressed_ = false;
};

QtFormService::QtFormService(QWidget* owner) : owner_(owner) {}

QtFormService::~QtFormService() {
  for (auto& [form, window] : windows_)
    if (window) {
      window->Detach();
      delete window.data();
    }
}

QDialog* QtFormService::WindowOf(const Form& form) const {
  const auto it = windows_.find(&form);
  return it == windows_.end() ? nullptr : it->second.data();
}

void QtFormService::ShowForm(Form& form, FormShow mode) {
  if (QDialog* window = WindowOf(form)) {
    window->raise();
    window->activateWindow();
    return;
  }
  auto* window = new FormWindow(form, *this);
  windows_[&form] = window;
  form.MarkShown(true);
  if (mode == FormShow::kModal) {
    window->setModal(true);
    window->show();
    window->FocusFirst();
    window->exec();
    UnloadForm(form);  // ended some other way: the form is unloaded all the same
    return;
  }
  window->show();
  window->FocusFirst();
}

void QtFormService::UnloadForm(Form& form) {
  const auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  QPointer<FormWindow> window = it->second;
  windows_.erase(it);
  form.MarkShown(false);
  if (window) {
    window->Detach();
    window->done(0);  // ends a modal loop
    window->hide();
    window->deleteLater();
  }
  form.Unloaded();
}

void QtFormService::FormResized(Form& form) {
  const auto it = windows_.find(&form);
  if (it != windows_.end() && it->second) it->second->Resize();
}

std::unique_ptr<Host> QtFormService::CreateControlSite(Form& form, const FormElement& element) {
  auto site = std::make_unique<FormControlSite>();
  site->Size(element.width, element.height);
  views_[{&form, element.name}] = site->control_view();
  return site;
}

}  // namespace flipreel
