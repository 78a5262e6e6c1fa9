// Painting the control's elements, repainting what changed, and hit testing
// with the mouse events that pass to the widget below.
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <utility>

#include "flipreel/qt/colors.h"
#include "flipreel/qt/flipreel_widget_p.h"

namespace flipreel {

namespace {

// Hit results of the HitTest event.
constexpr int16_t kHitOutside = 0;
constexpr int16_t kHitClose = 2;
constexpr int16_t kHitHit = 3;

}  // namespace

TwipScale FlipreelWidgetPrivate::scale() const {
  const QtHost::Twips twips = host_->TwipsPerPixel();
  return TwipScale{twips.x, twips.y};
}

// --- painting -------------------------------------------------------------------

FlipreelWidgetPrivate::Look FlipreelWidgetPrivate::LookOf(PaintedElement which) const {
  const TwipScale s = scale();
  Look look;
  auto of_shape = [&](const Shape& shape) {
    look.rect = ShapeRect(shape, s);
    look.visible = shape.visible();
    look.back_style = shape.back_style();
    look.border_style = shape.border_style();
    look.back_color = shape.back_color();
    look.border_color = shape.border_color();
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

void FlipreelWidgetPrivate::RefreshLooks() {
  if (!control_) return;
  SettleLooks();  // what a tick changed so far is still to be painted
  for (int i = 0; i < kPaintedCount; ++i) looks_[i] = LookOf(static_cast<PaintedElement>(i));
}

// Where everything the control covers is painted opaquely, Qt need not paint
// what lies below first.
void FlipreelWidgetPrivate::UpdateOpaqueness() {
  if (!control_) return;
  SettleLooks();
  const Look& back = looks_[kBackShape];
  const bool opaque = host_->surface_back_style() == 1 ||
                      (back.visible && back.back_style == 1 && back.rect.contains(q_.rect()));
  q_.setAttribute(Qt::WA_OpaquePaintEvent, opaque);
}

void FlipreelWidgetPrivate::ElementChanged(const Element& element, ElementProperty what) {
  if (!control_) return;  // the control is still building its elements
  if (element.index() >= 0) {
    // The frame store: frames become paint-ready as they load.
    if (what == ElementProperty::kPicture) {
      const Picture& picture = static_cast<const Image&>(element).picture();
      if (picture.IsEmpty()) {
        cache_.MarkStale();  // a frame was cleared
      } else if (LoadPending()) {
        // A load run in slices keeps each short: the copies are made on
        // other threads, the first frame's first, to be shown early.
        if (element.index() == 0) {
          preview_.first = picture;
          AskForPreview();
        } else {
          cache_.PrepareElsewhere(picture);
        }
      } else {
        cache_.Prepare(picture);
      }
    } else if (what == ElementProperty::kUnloaded) {
      cache_.MarkStale();
      BetweenLoadSteps();
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
  // A tick sets many sizes and places, most of them to what they were; its
  // elements are looked at once, when it ends (SettleLooks).
  if (host_->in_tick()) {
    unsettled_[which] = true;
    return;
  }
  LookChanged(which);
}

void FlipreelWidgetPrivate::LookChanged(PaintedElement which) {
  const Look look = LookOf(which);
  Look& old = looks_[which];
  if (look == old) return;
  const QRect before = old.rect;
  old = look;
  if (which == kBackShape) UpdateOpaqueness();
  if (!q_.isVisible()) return;  // a hidden widget paints everything when shown
  // Only the old and the new rectangle need painting. A tick's changes are
  // painted together when the tick ends.
  if (host_->in_tick()) {
    AddTickDirty(before);
    AddTickDirty(look.rect);
  } else {
    q_.update(before);
    q_.update(look.rect);
  }
}

// A frame that replaces another in the same place adds one rectangle; the
// rare tick that moves something adds a few.
void FlipreelWidgetPrivate::AddTickDirty(const QRect& rect) {
  if (rect.isEmpty()) return;
  for (const QRect& r : tick_dirty_)
    if (r.contains(rect)) return;
  tick_dirty_.push_back(rect);
}

void FlipreelWidgetPrivate::SettleLooks() {
  for (int i = 0; i < kPaintedCount; ++i)
    if (std::exchange(unsettled_[i], false)) LookChanged(static_cast<PaintedElement>(i));
}

// While a load is pending imgGif is painted as it was shown when the load
// began (the load blanks it first and shows the new first frame only at its
// end).
void FlipreelWidgetPrivate::FreezePreview() {
  const Image& gif = control_->imgGif();
  const TwipScale s = scale();
  preview_ = Preview{gif.picture(),
                     ImagePaintRect(gif, s),
                     s.Rect(gif.left(), gif.top(), gif.width(), gif.height()),
                     gif.stretch(),
                     Picture(),
                     false};
}

// The new first frame is ready to paint: it is shown where the load will
// show it, at imgBuffer(0)'s place (further in by the border's inset), at
// its own size or stretched into imgGif's box.
void FlipreelWidgetPrivate::PreviewReady(const Picture& picture) {
  if (!LoadPending() || preview_.shown || picture.data() != preview_.first.data() ||
      !cache_.Has(picture))
    return;
  const Image& gif = control_->imgGif();
  const Image& first = control_->imgBuffer()(0);
  const float inset = control_->BorderStyle() != 0 ? 10.0f : 0.0f;
  const TwipScale s = scale();
  const QRect before = preview_.rect;
  preview_.stretch = gif.stretch();
  preview_.box = preview_.stretch
                     ? s.Rect(first.left() + inset, first.top() + inset, gif.width(), gif.height())
                     : s.Rect(first.left() + inset, first.top() + inset, picture.width() * s.tppx,
                              picture.height() * s.tppy);
  preview_.rect = gif.visible() ? preview_.box : QRect();
  preview_.picture = picture;
  preview_.shown = true;
  if (!q_.isVisible()) return;
  q_.update(before);
  q_.update(preview_.rect);
}

// What a tick of the clock changed is painted in the update that follows the
// clock's wake-up, together with every other control advanced in it (and
// once, when a control is handed several overdue ticks); a tick delivered by
// hand paints at once.
void FlipreelWidgetPrivate::TickEnded() {
  SettleLooks();
  if (!tick_dirty_.isEmpty()) {
    const DirtyRects dirty = std::exchange(tick_dirty_, DirtyRects());
    if (q_.isVisible() && host_->in_tick_by_hand()) {
      QRegion region;
      for (const QRect& r : dirty) region += r;
      q_.repaint(region);
    } else if (q_.isVisible()) {
      for (const QRect& r : dirty) q_.update(r);
    }
  }
  AnnounceTick();
  // In the normal order the next frames are known: large ones that have no
  // ready copy are converted on other threads before their ticks come, a
  // few ahead, so that a busy machine does not leave one to convert here.
  if (!sight_->seen() || control_->Sequence() != kSequenceNormal || cache_.KeepsAllOffered())
    return;
  const Picture& shown = control_->imgGif().picture();
  if (int64_t{shown.width()} * shown.height() < kConvertAheadPixels) return;
  const ImageArray& frames = control_->imgBuffer();
  int next = ShownFrame();
  if (next < 0) return;
  for (size_t ahead = 0; ahead < PictureCache::kShowAhead; ++ahead) {
    next = next >= frames.UBound() ? 0 : next + 1;
    if (frames.Exists(next)) cache_.PrepareToShow(frames(next).picture());
  }
}

// A tick's changes are announced once, when it ends (TickEnded).
void FlipreelWidgetPrivate::HostEventEnded() {
  if (host_->in_read_completion()) CheckDownloadEnded();
  if (!host_->in_tick()) AnnounceChanges();
}

void FlipreelWidgetPrivate::SurfaceBackChanged() {
  UpdateOpaqueness();
  if (q_.isVisible()) q_.update();
}

void FlipreelWidgetPrivate::RefreshRequested() {
  if (q_.isVisible()) q_.update();
}

void FlipreelWidgetPrivate::Restored() {
  RefreshLooks();
  UpdateOpaqueness();
  q_.update();
}

void FlipreelWidgetPrivate::PropertyNotified(std::string_view name) {
  compare_all_ = true;
  for (std::string_view text : {"FlipreelFile", "GifFromURL", "ServerUserName", "ServerPassword"})
    if (name == text) text_notified_ = true;
  Emit([this, n = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))] {
    emit q_.propertyNotified(n);
  });
}

// Paints bottom to top, but leaves out what an opaque layer above hides: a
// frame that covers the control is then the only thing drawn on a tick.
//
// A repaint while a load is pending shows the control as it was before the
// load, with imgGif as the preview has it (FreezePreview): the event loop
// stays free for the window's repaints, and the load itself asks for a
// repaint of what it changes.
void FlipreelWidgetPrivate::Paint(QPainter& painter, const QRect& clip) {
  FlipreelWidgetPrivate& d = *this;
  const TwipScale s = d.scale();
  const Flipreel& c = *d.control_;
  const bool preview = d.LoadPending();
  const QRect gif = preview ? d.preview_.rect : ImagePaintRect(c.imgGif(), s);
  const Picture& gif_picture = preview ? d.preview_.picture : c.imgGif().picture();
  // A load's first frame is shown where imgGif shows it: one place for both,
  // so that its copy is the one imgGif then shows. The frame's copy is
  // looked up once, for whether it covers what lies below and to draw it,
  // and held while the layers below paint.
  const void* gif_place = &c.imgGif();
  const QImage gif_pixels = gif.intersects(clip) ? d.cache_.Get(gif_picture, gif_place) : QImage();
  const bool gif_opaque = gif_pixels.format() == QImage::Format_RGB32;
  auto draw_gif = [&] {
    if (preview) {
      DrawPixels(painter, gif_pixels, gif, d.preview_.box, d.preview_.stretch);
    } else {
      const Image& image = c.imgGif();
      DrawPixels(painter, gif_pixels, gif,
                 s.Rect(image.left(), image.top(), image.width(), image.height()), image.stretch());
    }
  };
  auto draw_border = [&] {
    if (ShapeRect(c.shpBorder(), s).intersects(clip))
      PaintShape(painter, c.shpBorder(), s, d.Palette());
  };
  // A frame that covers the whole clip opaquely hides every layer below it:
  // the frame and the border above it are all a tick's repaint draws.
  if (gif_opaque && gif.contains(clip)) {
    draw_gif();
    draw_border();
    return;
  }

  const QPalette& pal = d.Palette();
  const QRect back_shape = ShapeRect(c.shpBackGround(), s);
  const QRect back_image = ImagePaintRect(c.imgBackGround(), s);
  // What each layer leaves of the clip to the layers below it.
  QRegion open(clip);
  auto covers = [&](const Picture& picture, const QRect& r, const void* place) {
    return !r.isEmpty() && r.intersects(clip) && d.cache_.IsOpaque(picture, place);
  };
  const QRegion below_gif = gif_opaque ? open.subtracted(gif) : open;
  const QRegion below_back_image =
      covers(c.imgBackGround().picture(), back_image, &c.imgBackGround())
          ? below_gif.subtracted(back_image)
          : below_gif;
  const bool back_filled = c.shpBackGround().back_style() == 1 && !back_shape.isEmpty();
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
  if (d.host_->surface_back_style() == 1) {
    const QColor color = ResolveColor(d.host_->surface_back_color(), pal);
    for (const QRect& r : below_back_shape) painter.fillRect(r, color);
  }
  within(below_back_image, back_shape, [&] { PaintShape(painter, c.shpBackGround(), s, pal); });
  within(below_gif, back_image, [&] { PaintImage(painter, c.imgBackGround(), s, d.cache_); });
  draw_gif();
  draw_border();
}

void FlipreelWidget::paintEvent(QPaintEvent* event) {
  if (!d_ || !d_->control_) return;
  QPainter painter(this);
  d_->Paint(painter, event->rect());
}

void FlipreelWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!d_) return;
  // A resize while a load is pending reaches the control after the load.
  if (d_->LoadPending()) {
    d_->held_resize_ = size();
  } else {
    d_->host_->WidgetResized();
  }
  d_->RefreshLooks();
  d_->UpdateOpaqueness();
}

void FlipreelWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!d_) return;
  d_->RefreshLooks();  // the screen, and so the scale, may differ
  d_->UpdateOpaqueness();
}

void FlipreelWidget::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) update();
  // A system colour shows the new palette's colour: BackColor or BorderColor
  // changed for Qt.
  if (d_ && event->type() == QEvent::PaletteChange) {
    d_->palette_.reset();
    d_->AnnounceChanges(false);
  }
}

// --- hit testing ------------------------------------------------------------------

// Whether the control paints a pixel that is not fully transparent at pos:
// the elements are painted onto a single transparent pixel.
bool FlipreelWidgetPrivate::PaintsAt(QPoint pos) {
  QImage probe(1, 1, QImage::Format_ARGB32_Premultiplied);
  probe.fill(Qt::transparent);
  {
    QPainter painter(&probe);
    painter.translate(-pos.x(), -pos.y());
    Paint(painter, QRect(pos, QSize(1, 1)));
  }
  return qAlpha(probe.pixel(0, 0)) != 0;
}

bool FlipreelWidgetPrivate::AskHitTest(QPointF pos) {
  int16_t result =
      q_.rect().contains(pos.toPoint()) && PaintsAt(pos.toPoint()) ? kHitHit : kHitOutside;
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
QWidget* FlipreelWidgetPrivate::WidgetBelow(QPointF global_pos) {
  QWidget* top = q_.window();
  if (top == &q_) return nullptr;
  const bool was_transparent = q_.testAttribute(Qt::WA_TransparentForMouseEvents);
  q_.setAttribute(Qt::WA_TransparentForMouseEvents, true);
  QWidget* below = top->childAt(top->mapFromGlobal(global_pos).toPoint());
  q_.setAttribute(Qt::WA_TransparentForMouseEvents, was_transparent);
  if (!below || below == &q_ || below->isAncestorOf(&q_)) return nullptr;
  return below;
}

void FlipreelWidgetPrivate::Forward(QMouseEvent* event) {
  QWidget* target = forward_to_;
  if (!target) return;
  QMouseEvent copy(event->type(), target->mapFromGlobal(event->globalPosition()),
                   event->scenePosition(), event->globalPosition(), event->button(),
                   event->buttons(), event->modifiers(), event->pointingDevice());
  QCoreApplication::sendEvent(target, &copy);
  event->accept();
}

void FlipreelWidgetPrivate::Press(QMouseEvent* event) {
  FinishLoad();  // the press and its HitTest come after the load
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

void FlipreelWidget::mousePressEvent(QMouseEvent* event) {
  d_->Press(event);
}

void FlipreelWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  mousePressEvent(event);
}

void FlipreelWidget::mouseMoveEvent(QMouseEvent* event) {
  if (d_->forward_to_) {
    d_->Forward(event);
  } else {
    QWidget::mouseMoveEvent(event);
  }
}

void FlipreelWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (!d_->forward_to_) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  d_->Forward(event);
  if (event->buttons() == Qt::NoButton) d_->forward_to_ = nullptr;
}

}  // namespace flipreel
