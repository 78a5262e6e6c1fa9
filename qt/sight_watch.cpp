#include "flipreel/qt/sight_watch.h"

#include <QEvent>
#include <QWidget>

namespace flipreel {

SightWatch::SightWatch(QWidget& widget, std::function<void(bool)> changed)
    : widget_(widget), changed_(std::move(changed)) {
  widget_.installEventFilter(this);
  WatchAncestors();
  seen_ = CanBeSeen();
}

SightWatch::~SightWatch() {
  for (const QPointer<QWidget>& ancestor : ancestors_)
    if (ancestor) ancestor->removeEventFilter(this);
}

void SightWatch::WatchAncestors() {
  for (const QPointer<QWidget>& ancestor : ancestors_)
    if (ancestor) ancestor->removeEventFilter(this);
  ancestors_.clear();
  for (QWidget* p = widget_.parentWidget(); p; p = p->parentWidget()) {
    p->installEventFilter(this);
    ancestors_.emplace_back(p);
  }
}

// The widget's rectangle, carried up through its ancestors and clipped by
// each of them in turn.
bool SightWatch::CanBeSeen() const {
  if (!widget_.isVisible() || widget_.window()->isMinimized()) return false;
  QRect rect = widget_.rect();
  for (const QWidget* w = &widget_; !w->isWindow() && w->parentWidget(); w = w->parentWidget()) {
    rect = rect.translated(w->pos()) & w->parentWidget()->rect();
    if (rect.isEmpty()) return false;
  }
  return !rect.isEmpty();
}

void SightWatch::Check() {
  const bool seen = CanBeSeen();
  if (seen == seen_) return;
  seen_ = seen;
  changed_(seen);
}

bool SightWatch::eventFilter(QObject* /*watched*/, QEvent* event) {
  switch (event->type()) {
    case QEvent::ParentChange:
      WatchAncestors();
      Check();
      break;
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
      Check();
      break;
    default:
      break;
  }
  return false;
}

}  // namespace flipreel
