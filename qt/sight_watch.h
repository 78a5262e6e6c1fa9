// Whether a widget can be seen: shown, in a window that is not minimised, and
// not wholly clipped away by its ancestors (scrolled out of a scroll area's
// viewport, moved outside its parent). A page behind another tab is hidden,
// so it cannot be seen either. Siblings that cover the widget are not taken
// into account.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <vector>

class QWidget;

namespace flipreel {

class SightWatch final : public QObject {
 public:
  // `changed` hears of every change, from the event that made it.
  SightWatch(QWidget& widget, std::function<void(bool seen)> changed);
  ~SightWatch() override;
  bool seen() const { return seen_; }
  // Works out again whether the widget can be seen.
  void Check();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool CanBeSeen() const;
  // Watches the widget's ancestors as they are now (after a reparenting).
  void WatchAncestors();

  QWidget& widget_;
  std::function<void(bool)> changed_;
  std::vector<QPointer<QWidget>> ancestors_;
  bool seen_ = false;
};

}  // namespace flipreel
