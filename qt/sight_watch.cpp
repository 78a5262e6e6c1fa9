#include "flipreel/qt/sight_watch.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <unordered_map>

namespace flipreel {

namespace {

// The events after which a widget may have come into sight or gone out of it.
bool CanChangeSight(QEvent::Type type) {
  switch (type) {
    case QEvent::ParentChange:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
      return true;
    default:
      return false;
  }
}

}  // namespace

// The one filter on an ancestor, for the watches of every widget below it: an
// ancestor of a hundred widgets (a scroll area's viewport, the window) has
// each of its events, its repaints among them, looked at once rather than a
// hundred times. The watches hear an event in the order separate filters
// would hear it, the last to start watching first.
class AncestorFilter final : public QObject {
 public:
  // The filter on ancestor, made by the first watch that joins it.
  static AncestorFilter* Join(QWidget* ancestor, SightWatch* watch) {
    auto& filters = OnAncestors();
    auto [it, made] = filters.try_emplace(ancestor, nullptr);
    if (!made && !it->second->ancestor_) {
      // An ancestor that went while watches below it were left behind, and
      // another widget at its address: that filter is left to its watches.
      it->second->registered_ = false;
      made = true;
    }
    if (made) it->second = new AncestorFilter(ancestor);
    it->second->watches_.push_back(watch);
    return it->second;
  }

  // A watch leaves; the filter goes with the last of them.
  void Leave(SightWatch* watch) {
    if (auto it = std::find(watches_.begin(), watches_.end(), watch); it != watches_.end())
      watches_.erase(it);
    if (watches_.empty() && dispatching_ == 0) Remove();
  }

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (!CanChangeSight(event->type())) return false;
    // A watch may leave or join while it hears the event (a reparenting, a
    // widget deleted in a slot): those that left are skipped.
    ++dispatching_;
    const std::vector<SightWatch*> watches = watches_;
    for (auto it = watches.rbegin(); it != watches.rend(); ++it)
      if (std::find(watches_.begin(), watches_.end(), *it) != watches_.end()) (*it)->Heard(*event);
    if (--dispatching_ == 0 && watches_.empty()) Remove();
    return false;
  }

 private:
  explicit AncestorFilter(QWidget* ancestor) : ancestor_(ancestor), key_(ancestor) {
    ancestor->installEventFilter(this);
  }
  ~AncestorFilter() override {
    if (ancestor_) ancestor_->removeEventFilter(this);
  }

  void Remove() {
    if (registered_) OnAncestors().erase(key_);
    delete this;
  }

  // The filters by the ancestor they are on. Widgets live on the GUI thread
  // alone, so one map serves them all; it is never destroyed, so that a
  // widget that outlives the statics can still leave.
  static std::unordered_map<const QWidget*, AncestorFilter*>& OnAncestors() {
    static auto* const filters = new std::unordered_map<const QWidget*, AncestorFilter*>;
    return *filters;
  }

  QPointer<QWidget> ancestor_;
  const QWidget* key_;
  bool registered_ = true;            // the map still lists this filter under key_
  std::vector<SightWatch*> watches_;  // in the order they joined
  int dispatching_ = 0;               // events being handed to the watches
};

SightWatch::SightWatch(QWidget& widget, std::function<void(bool)> changed)
    : widget_(widget), changed_(std::move(changed)) {
  widget_.installEventFilter(this);
  WatchAncestors();
  seen_ = CanBeSeen();
}

SightWatch::~SightWatch() {
  UnwatchAncestors();
}

void SightWatch::UnwatchAncestors() {
  for (AncestorFilter* filter : ancestors_) filter->Leave(this);
  ancestors_.clear();
}

void SightWatch::WatchAncestors() {
  UnwatchAncestors();
  for (QWidget* p = widget_.parentWidget(); p; p = p->parentWidget())
    ancestors_.push_back(AncestorFilter::Join(p, this));
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
  if (CanChangeSight(event->type())) Heard(*event);
  return false;
}

void SightWatch::Heard(const QEvent& event) {
  if (event.type() == QEvent::ParentChange) WatchAncestors();
  Check();
}

}  // namespace flipreel
