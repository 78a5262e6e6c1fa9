#include "qt/flipreel_widget.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QtGlobal>
#include <utility>

#include "host/numbers.h"
#include "qt/colors.h"

namespace flipreel {

namespace {

QString ToQString(const Text& text) {
  return QString::fromStdU16String(text);
}

Text ToText(const QString& text) {
  return text.toStdU16String();
}

// Hit results of the HitTest event.
constexpr int16_t kHitOutside = 0;
constexpr int16_t kHitClose = 2;
constexpr int16_t kHitHit = 3;

}  // namespace

FlipreelAsyncProp FlipreelAsyncProp::From(const AsyncProp& prop) {
  FlipreelAsyncProp p;
  p.PropertyName = ToQString(prop.PropertyName);
  p.AsyncType = prop.AsyncType;
  p.Target = ToQString(prop.Target);
  p.BytesRead = prop.BytesRead;
  p.BytesMax = prop.BytesMax;
  p.Status = static_cast<int>(prop.Status);
  p.StatusText = ToQString(prop.StatusText);
  if (prop.Failure) {
    p.ErrorNumber = prop.Failure->number();
    p.ErrorDescription = QString::fromStdString(prop.Failure->description());
  } else {
    p.Value = ToQString(prop.ValuePath);
  }
  return p;
}

// The control's events, turned into the widget's signals.
class FlipreelWidget::EventRelay final : public FlipreelEvents {
 public:
  explicit EventRelay(FlipreelWidget& widget) : w_(widget) {}
  void Frame() override { emit w_.Frame(); }
  void ReadFinished() override { emit w_.ReadFinished(); }
  void PlayFinished() override { emit w_.PlayFinished(); }
  void AsyncReadComplete(AsyncProp& prop) override {
    emit w_.AsyncReadComplete(FlipreelAsyncProp::From(prop));
  }
  void AsyncReadProgress(AsyncProp& prop) override {
    emit w_.AsyncReadProgress(FlipreelAsyncProp::From(prop));
  }
  void HitTest(float& x, float& y, int16_t& hit_result) override {
    int16_t* outer = w_.hit_result_;
    w_.hit_result_ = &hit_result;
    emit w_.HitTest(x, y, hit_result);
    w_.hit_result_ = outer;
  }

 private:
  FlipreelWidget& w_;
};

FlipreelWidget::FlipreelWidget(QWidget* parent)
    : QWidget(parent), relay_(std::make_unique<EventRelay>(*this)) {
  host_ = std::make_unique<QtHost>(*this, static_cast<QtSurface&>(*this));
  control_ = std::make_unique<Flipreel>(*host_);
  control_->AddListener(relay_.get());
  control_->InitProperties();
  RefreshLooks();
  UpdateOpaqueness();
}

FlipreelWidget::~FlipreelWidget() {
  control_.reset();
  host_.reset();
}

// --- errors -------------------------------------------------------------------

void FlipreelWidget::Fail(const HostError& error) {
  last_error_ = FlipreelError{error.number(), QString::fromStdString(error.description())};
  emit ErrorRaised(last_error_.number, last_error_.description);
}

void FlipreelWidget::HostEventFailed(std::string_view event, const HostError& error) {
  qWarning("Flipreel: the %.*s event failed with error %d: %s", static_cast<int>(event.size()),
           event.data(), error.number(), error.what());
  Fail(error);
}

// --- properties -----------------------------------------------------------------

QString FlipreelWidget::FlipreelFile() const {
  return ToQString(control_->FlipreelFile());
}
void FlipreelWidget::SetFlipreelFile(const QString& value) {
  Call([&] { control_->SetFlipreelFile(ToText(value)); });
}
int FlipreelWidget::FrameRate() const {
  return control_->FrameRate();
}
void FlipreelWidget::SetFrameRate(int value) {
  Call([&] { control_->SetFrameRate(CheckedInt16(value)); });
}
bool FlipreelWidget::AutoSize() const {
  return control_->AutoSize();
}
void FlipreelWidget::SetAutoSize(bool value) {
  Call([&] { control_->SetAutoSize(value); });
}
int FlipreelWidget::Sequence() const {
  return control_->Sequence();
}
void FlipreelWidget::SetSequence(int value) {
  Call([&] { control_->SetSequence(value); });
}
bool FlipreelWidget::Stretch() const {
  return control_->Stretch();
}
void FlipreelWidget::SetStretch(bool value) {
  Call([&] { control_->SetStretch(value); });
}
int FlipreelWidget::BorderColor() const {
  return control_->BorderColor();
}
void FlipreelWidget::SetBorderColor(int color) {
  Call([&] { control_->SetBorderColor(color); });
}
int FlipreelWidget::AutoRewind() const {
  return control_->AutoRewind();
}
void FlipreelWidget::SetAutoRewind(int value) {
  Call([&] { control_->SetAutoRewind(CheckedInt16(value)); });
}
bool FlipreelWidget::Playing() const {
  return control_->Playing();
}
void FlipreelWidget::SetPlaying(bool value) {
  Call([&] { control_->SetPlaying(value); });
}
bool FlipreelWidget::AutoStart() const {
  return control_->AutoStart();
}
void FlipreelWidget::SetAutoStart(bool value) {
  Call([&] { control_->SetAutoStart(value); });
}
int FlipreelWidget::BackColor() const {
  return control_->BackColor();
}
void FlipreelWidget::SetBackColor(int color) {
  Call([&] { control_->SetBackColor(color); });
}
int FlipreelWidget::BackStyle() const {
  return control_->BackStyle();
}
void FlipreelWidget::SetBackStyle(int value) {
  Call([&] { control_->SetBackStyle(value); });
}
QImage FlipreelWidget::BackGroundGraphic() const {
  const Picture picture = control_->BackGroundGraphic();
  if (picture.IsEmpty()) return QImage();
  return ToPaintImage(*picture.data());
}
void FlipreelWidget::SetBackGroundGraphic(const QImage& image) {
  Call([&] { control_->SetBackGroundGraphic(PictureFromImage(image)); });
}
void FlipreelWidget::SetBackGroundGraphic(const QPixmap& pixmap) {
  SetBackGroundGraphic(pixmap.toImage());
}
int FlipreelWidget::BorderStyle() const {
  return control_->BorderStyle();
}
void FlipreelWidget::SetBorderStyle(int value) {
  Call([&] { control_->SetBorderStyle(value); });
}
int FlipreelWidget::Frames() const {
  return control_->Frames();
}
void FlipreelWidget::SetFrames(int value) {
  Call([&] { control_->SetFrames(CheckedInt16(value)); });
}
int FlipreelWidget::CurrentFrame() const {
  return const_cast<FlipreelWidget*>(this)->Call([&] { return int{control_->CurrentFrame()}; });
}
void FlipreelWidget::SetCurrentFrame(int value) {
  Call([&] { control_->SetCurrentFrame(CheckedInt16(value)); });
}
QString FlipreelWidget::GifFromURL() const {
  return ToQString(control_->GifFromURL());
}
void FlipreelWidget::SetGifFromURL(const QString& value) {
  Call([&] { control_->SetGifFromURL(ToText(value)); });
}
QString FlipreelWidget::ServerUserName() const {
  return ToQString(control_->ServerUserName());
}
void FlipreelWidget::SetServerUserName(const QString& value) {
  Call([&] { control_->SetServerUserName(ToText(value)); });
}
QString FlipreelWidget::ServerPassword() const {
  return ToQString(control_->ServerPassword());
}
void FlipreelWidget::SetServerPassword(const QString& value) {
  Call([&] { control_->SetServerPassword(ToText(value)); });
}

// --- methods --------------------------------------------------------------------

void FlipreelWidget::StartAnimation() {
  Call([&] { control_->StartAnimation(); });
}
void FlipreelWidget::StopAnimation() {
  Call([&] { control_->StopAnimation(); });
}
void FlipreelWidget::RemoveGif() {
  Call([&] { control_->RemoveGif(); });
}
void FlipreelWidget::CancelAsyncRead() {
  Call([&] { control_->CancelAsyncRead(); });
}
void FlipreelWidget::ShowAbout() {
  Call([&] { control_->ShowAbout(); });
}

float FlipreelWidget::FrameWidth(int frame) {
  return Call([&] {
    int16_t f = CheckedInt16(frame);
    return control_->FrameWidth(f);
  });
}
float FlipreelWidget::FrameHeight(int frame) {
  return Call([&] {
    int16_t f = CheckedInt16(frame);
    return control_->FrameHeight(f);
  });
}
float FlipreelWidget::FrameLeft(int frame) {
  return Call([&] {
    int16_t f = CheckedInt16(frame);
    return control_->FrameLeft(f);
  });
}
float FlipreelWidget::FrameTop(int frame) {
  return Call([&] {
    int16_t f = CheckedInt16(frame);
    return control_->FrameTop(f);
  });
}
QImage FlipreelWidget::GetFrame(int frame) {
  return Call([&] {
    int16_t f = CheckedInt16(frame);
    return cache_.Get(control_->GetFrame(f));
  });
}

// --- the widget's own -------------------------------------------------------------

bool FlipreelWidget::UserMode() const {
  return host_->UserMode();
}
void FlipreelWidget::SetUserMode(bool run_time) {
  host_->SetUserMode(run_time);
}
qint64 FlipreelWidget::PaintCacheBudget() const {
  return static_cast<qint64>(cache_.budget());
}
void FlipreelWidget::SetPaintCacheBudget(qint64 bytes) {
  Call([&] {
    if (bytes < 0) Raise(err::kInvalidPropertyValue);
    cache_.SetBudget(static_cast<size_t>(bytes));
  });
}
void FlipreelWidget::SetHitResult(int result) {
  Call([&] {
    if (!hit_result_) Raise(err::kInvalidCall, "SetHitResult is valid only in a HitTest handler");
    *hit_result_ = CheckedInt16(result);
  });
}
int FlipreelWidget::HitResult() const {
  return hit_result_ ? *hit_result_ : 0;
}

void FlipreelWidget::ReadProperties(const PropertyBag& bag) {
  Call([&] { control_->ReadProperties(bag); });
  RefreshLooks();
  UpdateOpaqueness();
  update();
}
void FlipreelWidget::WriteProperties(PropertyBag& bag) {
  Call([&] { control_->WriteProperties(bag); });
}

TwipScale FlipreelWidget::scale() const {
  return TwipScale{host_->TwipsPerPixelX(), host_->TwipsPerPixelY()};
}

QSize FlipreelWidget::sizeHint() const {
  return host_ ? host_->surface_pixels() : QWidget::sizeHint();
}

// --- painting -------------------------------------------------------------------

FlipreelWidget::Look FlipreelWidget::LookOf(PaintedElement which) const {
  const TwipScale s = scale();
  Look look;
  auto of_shape = [&](const Shape& shape) {
    look.rect = ShapeRect(shape, s);
    look.visible = shape.visible();
    look.back_style = shape.backStyle();
    look.border_style = shape.borderStyle();
    look.back_color = shape.backColor();
    look.border_color = shape.borderColor();
  };
  auto of_image = [&](const Image& image) {
    look.rect = ImagePaintRect(image, s);
    look.visible = image.visible();
    look.stretch = image.stretch();
    look.picture = image.picture().data();
  };
  switch (which) {
    case kBackShape:
      of_shape(control_->shpBackGround());
      break;
    case kBackImage:
      of_image(control_->imgBackGround());
      break;
    case kGifImage:
      of_image(control_->imgGif());
      break;
    case kBorderShape:
      of_shape(control_->shpBorder());
      break;
    case kPaintedCount:
      break;
  }
  return look;
}

void FlipreelWidget::RefreshLooks() {
  if (!control_) return;
  for (int i = 0; i < kPaintedCount; ++i) looks_[i] = LookOf(static_cast<PaintedElement>(i));
}

// Where everything the control covers is painted opaquely, Qt need not paint
// what lies below first.
void FlipreelWidget::UpdateOpaqueness() {
  if (!control_) return;
  const Look& back = looks_[kBackShape];
  const bool opaque = host_->surface_back_style() == 1 ||
                      (back.visible && back.back_style == 1 && back.rect.contains(rect()));
  setAttribute(Qt::WA_OpaquePaintEvent, opaque);
}

void FlipreelWidget::ElementChanged(const Element& element, ElementProperty what) {
  if (!control_) return;  // the control is still building its elements
  if (element.index() >= 0) {
    // The frame store: frames become paint-ready as they load.
    if (what == ElementProperty::kPicture) {
      const Picture& picture = static_cast<const Image&>(element).picture();
      if (picture.IsEmpty()) {
        cache_.MarkStale();  // a frame was cleared
      } else {
        cache_.Prepare(picture);
      }
    } else if (what == ElementProperty::kUnloaded) {
      cache_.MarkStale();
    }
    return;
  }
  PaintedElement which;
  if (&element == &control_->imgGif()) {
    which = kGifImage;
  } else if (&element == &control_->shpBackGround()) {
    which = kBackShape;
  } else if (&element == &control_->imgBackGround()) {
    which = kBackImage;
  } else if (&element == &control_->shpBorder()) {
    which = kBorderShape;
  } else {
    return;
  }
  const Look look = LookOf(which);
  Look& old = looks_[which];
  if (look == old) return;
  const QRect before = old.rect;
  old = look;
  if (which == kBackShape) UpdateOpaqueness();
  if (!isVisible()) return;  // a hidden widget paints everything when shown
  // Only the old and the new rectangle need painting. A tick's changes are
  // painted together when the tick ends.
  if (host_->in_tick()) {
    tick_dirty_ += before;
    tick_dirty_ += look.rect;
  } else {
    update(before);
    update(look.rect);
  }
}

// Paints what the tick changed at once, rather than from a later pass of the
// event loop: the frame appears on its tick, and the loop wakes once a frame.
void FlipreelWidget::TickEnded() {
  if (tick_dirty_.isEmpty()) return;
  const QRegion dirty = std::exchange(tick_dirty_, QRegion());
  if (isVisible()) repaint(dirty);
}

void FlipreelWidget::SurfaceBackChanged() {
  UpdateOpaqueness();
  if (isVisible()) update();
}

void FlipreelWidget::RefreshRequested() {
  if (isVisible()) update();
}

void FlipreelWidget::PropertyNotified(std::string_view name) {
  emit PropertyChanged(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}

// Paints bottom to top, but leaves out what an opaque layer above hides: a
// frame that covers the control is then the only thing drawn on a tick.
void FlipreelWidget::PaintElements(QPainter& painter, const QRect& clip) {
  if (!control_) return;
  const QPalette& pal = palette();
  const TwipScale s = scale();
  const Flipreel& c = *control_;
  const QRect back_shape = ShapeRect(c.shpBackGround(), s);
  const QRect back_image = ImagePaintRect(c.imgBackGround(), s);
  const QRect gif = ImagePaintRect(c.imgGif(), s);
  const QRect border = ShapeRect(c.shpBorder(), s);

  // What each layer leaves of the clip to the layers below it.
  QRegion open(clip);
  auto covers = [&](const Image& image, const QRect& r) {
    return !r.isEmpty() && r.intersects(clip) && cache_.IsOpaque(image.picture());
  };
  const QRegion below_gif = covers(c.imgGif(), gif) ? open.subtracted(gif) : open;
  const QRegion below_back_image =
      covers(c.imgBackGround(), back_image) ? below_gif.subtracted(back_image) : below_gif;
  const bool back_filled = c.shpBackGround().backStyle() == 1 && !back_shape.isEmpty();
  const QRegion below_back_shape =
      back_filled ? below_back_image.subtracted(back_shape) : below_back_image;

  // Draws one layer within what the layers above leave open of it.
  auto within = [&](const QRegion& region, const QRect& bounds, auto&& paint) {
    if (!region.intersects(bounds)) return;
    if (region == open) {
      paint();
      return;
    }
    painter.save();
    painter.setClipRegion(region, Qt::IntersectClip);
    paint();
    painter.restore();
  };
  if (host_->surface_back_style() == 1) {
    const QColor color = ResolveColor(host_->surface_back_color(), pal);
    for (const QRect& r : below_back_shape) painter.fillRect(r, color);
  }
  within(below_back_image, back_shape, [&] { PaintShape(painter, c.shpBackGround(), s, pal); });
  within(below_gif, back_image, [&] { PaintImage(painter, c.imgBackGround(), s, cache_); });
  if (gif.intersects(clip)) PaintImage(painter, c.imgGif(), s, cache_);
  if (border.intersects(clip)) PaintShape(painter, c.shpBorder(), s, pal);
}

void FlipreelWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  PaintElements(painter, event->rect());
}

void FlipreelWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!host_) return;
  host_->WidgetResized();
  RefreshLooks();
  UpdateOpaqueness();
}

void FlipreelWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  RefreshLooks();  // the screen, and so the scale, may differ
  UpdateOpaqueness();
}

void FlipreelWidget::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) update();
}

// --- hit testing ------------------------------------------------------------------

// Whether the control paints a pixel that is not fully transparent at pos:
// the elements are painted onto a single transparent pixel.
bool FlipreelWidget::PaintsAt(QPoint pos) {
  QImage probe(1, 1, QImage::Format_ARGB32_Premultiplied);
  probe.fill(Qt::transparent);
  {
    QPainter painter(&probe);
    painter.translate(-pos.x(), -pos.y());
    PaintElements(painter, QRect(pos, QSize(1, 1)));
  }
  return qAlpha(probe.pixel(0, 0)) != 0;
}

bool FlipreelWidget::AskHitTest(QPointF pos) {
  int16_t result =
      rect().contains(pos.toPoint()) && PaintsAt(pos.toPoint()) ? kHitHit : kHitOutside;
  float x = static_cast<float>(pos.x() * host_->TwipsPerPixelX());
  float y = static_cast<float>(pos.y() * host_->TwipsPerPixelY());
  try {
    control_->OnHitTest(x, y, result);
  } catch (const HostError& e) {
    HostEventFailed("HitTest", e);
  }
  return result >= kHitClose;
}

// The widget under the control at a point, found with the control made
// transparent for the moment. Null when only the control's own ancestors are
// there: an ignored event reaches them by plain propagation.
QWidget* FlipreelWidget::WidgetBelow(QPointF global_pos) {
  QWidget* top = window();
  if (top == this) return nullptr;
  const bool was_transparent = testAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_TransparentForMouseEvents, true);
  QWidget* below = top->childAt(top->mapFromGlobal(global_pos).toPoint());
  setAttribute(Qt::WA_TransparentForMouseEvents, was_transparent);
  if (!below || below == this || below->isAncestorOf(this)) return nullptr;
  return below;
}

void FlipreelWidget::Forward(QMouseEvent* event) {
  QWidget* target = forward_to_;
  if (!target) return;
  QMouseEvent copy(event->type(), target->mapFromGlobal(event->globalPosition()),
                   event->scenePosition(), event->globalPosition(), event->button(),
                   event->buttons(), event->modifiers(), event->pointingDevice());
  QCoreApplication::sendEvent(target, &copy);
  event->accept();
}

void FlipreelWidget::mousePressEvent(QMouseEvent* event) {
  if (forward_to_) {
    Forward(event);  // another button of a press that went below
    return;
  }
  if (AskHitTest(event->position())) {
    event->accept();
    return;
  }
  forward_to_ = WidgetBelow(event->globalPosition());
  if (forward_to_) {
    Forward(event);
  } else {
    event->ignore();
  }
}

void FlipreelWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  mousePressEvent(event);
}

void FlipreelWidget::mouseMoveEvent(QMouseEvent* event) {
  if (forward_to_) {
    Forward(event);
  } else {
    QWidget::mouseMoveEvent(event);
  }
}

void FlipreelWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (!forward_to_) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  Forward(event);
  if (event->buttons() == Qt::NoButton) forward_to_ = nullptr;
}

}  // namespace flipreel
