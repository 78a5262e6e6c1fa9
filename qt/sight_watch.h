// Whether a widget can be seen: shown, in a window that is not minimised, and
// not wholly clipped away by its ancestors (scrolled out of a scroll area's
// viewport, moved outside its parent). A page behind another tab is hidden,
// so it cannot be seen either. Siblings that cover the widget are not taken
// into account.
#pragma once

#include <QObject>
#include <functional>
#include <vector>

class QEvent;
class QWidget;

namespace flipreel {

class AncestorFilter;

class SightWatch final : public QObject {
 public:
  // `changed` hears of every change, from the event that made it.
  SightWatch(QWidget& widget, std::function<void(bool seen)> changed);
  ~SightWatch() override;
  bool seen() const { return seen_; }
  // Works out again whether the widget can be seen.
  void Check();

 protected:
  // The widget's own events.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class AncestorFilter;
  // An event of the widget or of one of its ancestors.
  void Heard(const QEvent& event);
  bool CanBeSeen() const;
  // Watches the widget's ancestors as they are now (after a reparenting).
  void WatchAncestors();
  void UnwatchAncestors();

  QWidget& widget_;
  std::function<void(bool)> changed_;
  // The filters of the widget's ancestors, each shared with every other
  // watch below that ancestor, nearest ancestor first.
  std::vector<AncestorFilter*> ancestors_;
  bool seen_ = false;
};

}  // namespace flipreel
