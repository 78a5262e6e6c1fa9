// Many controls in one window: the shared clock, frames shared between
// controls, and controls that cannot be seen.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QScrollArea>
#include <QTabWidget>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "flipreel/host/scope.h"
#include "flipreel/qt/frame_clock.h"
#include "flipreel/qt/shared_frames.h"
#include "tests/qt/qt_test_support.h"

using namespace flipreel;
using namespace qttest;

namespace {

// A control's timer on the test's clock, recording when each tick came on
// the control's own time.
struct TimedControl final : ElementSite {
  explicit TimedControl(FrameClock& clock, int32_t interval)
      : schedule(
            [this] {
              ticks.push_back(schedule.Now());
              if (on_tick) on_tick();
            },
            clock),
        timer(*this, "Timer1") {
    timer.set_interval(interval);
    timer.set_enabled(true);
  }
  float TwipsPerPixelX() const override { return 15; }
  float TwipsPerPixelY() const override { return 15; }
  void ElementChanged(const Element& e, ElementProperty what) override {
    schedule.ElementChanged(e, what);
  }
  std::vector<int64_t> ticks;
  std::function<void()> on_tick;
  TickSchedule schedule;
  Timer timer;
};

TEST(FrameClock, ControlsWithDifferentDelaysTickExactlyOnTheirSchedulesOverALongRun) {
  int64_t now = 0;
  FrameClock clock([&] { return now; });
  const std::vector<int32_t> intervals = {10, 20, 30, 70, 45, 100, 100};
  std::vector<std::unique_ptr<TimedControl>> controls;
  for (int32_t interval : intervals)
    controls.push_back(std::make_unique<TimedControl>(clock, interval));
  // One of them cannot be seen for a while, twice.
  TimedControl& hidden = *controls[3];
  const auto set_now = [&](int64_t t) { now = t; };
  constexpr int64_t kRun = 10 * 60 * 1000;  // ten minutes
  for (const auto& [hide, show] :
       std::vector<std::pair<int64_t, int64_t>>{{1005, 7003}, {60000, 300050}}) {
    clock.RunUntil(hide, set_now);
    hidden.schedule.SetShown(false);
    const size_t before_hiding = hidden.ticks.size();
    clock.RunUntil(show, set_now);
    EXPECT_EQ(hidden.ticks.size(), before_hiding) << "a hidden control took a tick";
    hidden.schedule.SetShown(true);  // catches up at once, each tick at its due time
    EXPECT_EQ(hidden.ticks.size(), static_cast<size_t>(show / 70));
  }
  clock.RunUntil(kRun, set_now);

  // Ticks due within one grain of the clock share a wake-up.
  constexpr int64_t grain = FrameClock::kGrainMs;
  std::map<int64_t, int> wakes;
  for (size_t c = 0; c < controls.size(); ++c) {
    const std::vector<int64_t>& ticks = controls[c]->ticks;
    ASSERT_EQ(ticks.size(), static_cast<size_t>(kRun / intervals[c]))
        << "interval " << intervals[c];
    for (size_t k = 0; k < ticks.size(); ++k) {
      ASSERT_EQ(ticks[k], static_cast<int64_t>(k + 1) * intervals[c])
          << "interval " << intervals[c];
      if (&*controls[c] != &hidden) ++wakes[(ticks[k] + grain - 1) / grain];
    }
  }
  EXPECT_EQ(clock.wakeups(), static_cast<int64_t>(wakes.size()));
}

// Runs the event loop until done() or ten seconds have passed.
void RunUntil(const std::function<bool()>& done) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!done() && elapsed.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

// A tick that runs an event loop of its own (a slot that opens a modal box)
// does not stop the other controls' ticks, whether they were running, are
// started or are shown again from inside that loop, and is not itself
// ticked again inside it.
TEST(FrameClock, ATickThatRunsAnEventLoopLeavesTheOtherControlsTicking) {
  struct Case {
    const char* other;
    std::function<void(TimedControl&)> before, inside;
  };
  const std::vector<Case> cases = {
      {"running", [](TimedControl&) {}, [](TimedControl&) {}},
      {"started inside", [](TimedControl& o) { o.timer.set_enabled(false); },
       [](TimedControl& o) { o.timer.set_enabled(true); }},
      {"shown again inside", [](TimedControl& o) { o.schedule.SetShown(false); },
       [](TimedControl& o) { o.schedule.SetShown(true); }},
  };
  for (const Case& c : cases) {
    FrameClock clock;
    TimedControl modal(clock, 10);
    TimedControl other(clock, 20);
    c.before(other);
    int depth = 0, deepest = 0;
    size_t other_ticks_inside = 0;
    modal.on_tick = [&] {
      const ScopedValue inside(depth, depth + 1);
      deepest = std::max(deepest, depth);
      if (modal.ticks.size() != 1) return;
      QEventLoop loop;
      QTimer::singleShot(50, &loop, [&] { c.inside(other); });
      QTimer::singleShot(400, &loop, &QEventLoop::quit);
      const size_t before = other.ticks.size();
      loop.exec();
      other_ticks_inside = other.ticks.size() - before;
    };
    RunUntil([&] { return modal.ticks.size() >= 3; });
    // 350 ms at 20 ms a tick after the change, less a shown control's
    // catch-up of the 50 ms it missed.
    EXPECT_GE(other_ticks_inside, 8u) << c.other << ": the other control stood still";
    EXPECT_EQ(deepest, 1) << c.other << ": the tick under way was ticked again inside its own loop";
    EXPECT_GE(modal.ticks.size(), 3u) << c.other;
  }
}

// A control hidden and shown again from inside its own tick (from an event
// loop there) is not ticked inside that tick: the ticks that fell due
// meanwhile come after it, each at its due time.
TEST(FrameClock, AControlShownAgainInsideItsOwnTickCatchesUpAfterIt) {
  FrameClock clock;
  TimedControl control(clock, 10);
  int depth = 0, deepest = 0;
  control.on_tick = [&] {
    const ScopedValue inside(depth, depth + 1);
    deepest = std::max(deepest, depth);
    if (control.ticks.size() != 1) return;
    control.schedule.SetShown(false);
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
    control.schedule.SetShown(true);
  };
  RunUntil([&] { return control.ticks.size() >= 15; });
  EXPECT_EQ(deepest, 1);
  ASSERT_GE(control.ticks.size(), 15u);
  // Its time starts as its timer is set up, which a busy machine may spread
  // over a millisecond: the ticks are counted from the first.
  for (size_t k = 0; k < 15; ++k)
    EXPECT_EQ(control.ticks[k] - control.ticks[0], static_cast<int64_t>(k) * 10);
}

// A tick delivered by hand, whose step re-arms the control's timer, leaves
// the control ticking by itself.
TEST(FrameClock, AControlTickedByHandTicksOnByItself) {
  FrameClock clock;
  TimedControl control(clock, 10);
  RunUntil([&] { return control.ticks.size() >= 3; });
  control.schedule.RunByHand([&] { control.timer.set_interval(10); });
  const size_t before = control.ticks.size();
  RunUntil([&] { return control.ticks.size() >= before + 5; });
  EXPECT_GE(control.ticks.size(), before + 5);
}

// The control's first frame picture.
Picture FirstFrame(FlipreelWidget& w) {
  return ControlOf(w).imgBuffer()(0).picture();
}

// Loads the bytes, and waits for the load when it is read ahead and for the
// paint-ready copies it makes on other threads.
void LoadAndWait(FlipreelWidget& w, const QByteArray& bytes) {
  ASSERT_TRUE(w.loadFromData(bytes));
  QElapsedTimer clock;
  clock.start();
  while (FlipreelWidgetPrivate::get(w).LoadPending() && clock.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  ASSERT_FALSE(FlipreelWidgetPrivate::get(w).LoadPending());
  PictureCache::WaitForConversions();
  QCoreApplication::processEvents();
}

constexpr qint64 kHeldBudget = qint64{64} << 20;

TEST(SharedFrames, ControlsLoadingTheSameBytesShareOneCopyFreedWithTheLastHolder) {
  // A small GIF loads at once; a large one is read and decoded ahead.
  const std::vector<std::pair<const char*, testgif::Gif>> gifs = {
      {"loaded at once", FourFrames()},
      {"read ahead",
       GifOf(480, 300, {Block(0, 0, 480, 300, kRed, kBlue), Block(0, 0, 480, 300, kCyan, kRed)})}};
  for (const auto& [how, gif] : gifs) {
    for (const bool composed : {true, false}) {
      SCOPED_TRACE(std::string(how) + (composed ? ", composed" : ", classic"));
      const QByteArray bytes = QByteArray::fromStdString(testgif::Build(gif));
      auto first = std::make_unique<FlipreelWidget>();
      auto second = std::make_unique<FlipreelWidget>();
      for (FlipreelWidget* w : {first.get(), second.get()}) {
        w->setComposed(composed);
        w->setPaintCacheBudget(kHeldBudget);  // every frame kept paint-ready
        LoadAndWait(*w, bytes);
      }
      ASSERT_FALSE(FirstFrame(*first).IsEmpty());
      EXPECT_EQ(FirstFrame(*first), FirstFrame(*second));
      // One copy of the bytes too, held by the controls alone.
      const std::weak_ptr<const std::string> held = ControlOf(*first).state().Buffer.bytes();
      ASSERT_FALSE(held.expired());
      EXPECT_EQ(ControlOf(*second).state().Buffer.bytes(), held.lock());
      // The pictures count in the budget of the load that made them, once,
      // and identical bytes are decoded once, ahead or not.
      EXPECT_GT(HostOf(*first).memory_budget().used(), 0);
      EXPECT_EQ(HostOf(*second).memory_budget().used(), 0);
      EXPECT_EQ(HostOf(*second).frame_files_decoded(), 0);
      // The paint-ready copies were made once, and charged to one budget. (A
      // load read ahead converts its own first frame, composed or decoded
      // from the file's beginning, to show early, before it finds the frames
      // shared; that copy is kept when it comes back while the early frame is
      // still on show.)
      const bool at_once = std::string(how) == "loaded at once";
      EXPECT_LE(CacheOf(*second).conversions(), at_once ? 0 : 1);
      EXPECT_LE(CacheOf(*second).kept_bytes(), at_once ? 0u : 4u * gif.width * gif.height);
      EXPECT_GT(CacheOf(*first).kept_bytes(), 0u);

      // A control that gives a frame its own picture changes no one else's.
      // (The control gives its elements pictures only from inside; so does the test.)
      const std::weak_ptr<const PictureData> weak = FirstFrame(*second).shared();
      const_cast<Image&>(ControlOf(*first).imgBuffer()(0)).set_picture(Picture::Solid(4, 4, ~0u));
      EXPECT_EQ(FirstFrame(*second).shared(), weak.lock());
      first.reset();
      EXPECT_FALSE(weak.expired()) << "freed while a control holds it";
      second.reset();
      PictureCache::WaitForConversions();  // paint-ready copies still converting
      EXPECT_TRUE(weak.expired()) << "kept after its last holder went";
      EXPECT_TRUE(held.expired()) << "bytes kept after their last holder went";
    }
  }
  EXPECT_EQ(SharedFrames::Of().live_count(), 0u);
}

// Opaque composed frames that the paint cache would keep are held as the
// 32-bit pixels they paint from, with no compact copy beside them; the others
// stay compact. Either way the widget shows what compact frames show, and a
// frame goes with its last holder, though the cache kept an image over it.
TEST(SharedFrames, OpaqueFramesHeldReadyToPaintShowWhatCompactFramesShow) {
  struct Row {
    const char* what;
    testgif::Gif gif;
    bool opaque;
  };
  const std::vector<Row> rows = {
      {"opaque, loaded at once",
       GifOf(8, 6, {Block(0, 0, 8, 6, kRed, kBlue), Block(0, 0, 8, 6, kGreen, kYellow)}), true},
      {"opaque, read ahead",
       GifOf(480, 300, {Block(0, 0, 480, 300, kRed, kBlue), Block(0, 0, 480, 300, kCyan, kRed)}),
       true},
      {"partly see-through", FourFrames(), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const QByteArray bytes = QByteArray::fromStdString(testgif::Build(row.gif));
    const int frames = static_cast<int>(row.gif.frames.size());
    // What a widget shows on each tick of a pass, with its frames held as a
    // paint cache of `budget` bytes has them.
    auto shots = [&](qint64 budget, bool held_32bit) {
      FlipreelWidget w;
      w.setPaintCacheBudget(budget);
      LoadAndWait(w, bytes);
      std::vector<QImage> seen;
      HostOf(w).SetManualTicks(true);
      for (int t = 0; t <= frames; ++t) {
        const Picture& frame = ControlOf(w).imgBuffer()(t % frames).picture();
        EXPECT_EQ(frame.data()->format() == PictureData::Format::kArgb32, held_32bit);
        seen.push_back(Shot(w));
        EXPECT_TRUE(HostOf(w).DeliverTick());
      }
      const std::weak_ptr<const PictureData> first = FirstFrame(w).shared();
      LoadAndWait(w, QByteArray::fromStdString(testgif::Build(FourFrames())));
      EXPECT_TRUE(first.expired()) << "kept after its last holder let it go";
      return seen;
    };
    const std::vector<QImage> compact = shots(0, false);
    EXPECT_EQ(shots(kHeldBudget, row.opaque), compact);
  }
}

// With no paint cache frames stay compact, and the paint-ready copy of the frame on
// show is made when it is painted, never in a tick, once for all the widgets
// that show it; none keeps copies of the frames it no longer shows beyond the
// few set aside.
TEST(SharedFrames, TheFrameOnShowIsConvertedOnceForAllWidgetsShowingIt) {
  const testgif::Gif gif =
      GifOf(40, 30,
            {Block(0, 0, 40, 30, kRed, kBlue), Block(0, 0, 40, 30, kCyan, kRed),
             Block(0, 0, 40, 30, kGreen, kYellow), Block(0, 0, 40, 30, kBlue, kGreen),
             Block(0, 0, 40, 30, kYellow, kCyan), Block(0, 0, 40, 30, kRed, kGreen)});
  const QByteArray bytes = QByteArray::fromStdString(testgif::Build(gif));
  const int frames = static_cast<int>(gif.frames.size());
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  std::vector<FlipreelWidget*> widgets;
  for (int i = 0; i < 5; ++i) {
    widgets.push_back(new FlipreelWidget);
    widgets.back()->setPaintCacheBudget(0);
    layout->addWidget(widgets.back());
    LoadAndWait(*widgets.back(), bytes);
    HostOf(*widgets.back()).SetManualTicks(true);
  }
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto conversions = [&] {
    int64_t n = 0;
    for (FlipreelWidget* w : widgets) n += CacheOf(*w).conversions();
    return n;
  };
  const int64_t before = conversions();
  for (int t = 1; t <= 2 * frames; ++t) {
    for (FlipreelWidget* w : widgets) ASSERT_TRUE(HostOf(*w).DeliverTick());
    EXPECT_EQ(conversions(), before + t - 1) << "converted in a tick";
    for (FlipreelWidget* w : widgets) {
      EXPECT_EQ(ControlOf(*w).imgGif().picture().data()->format(), PictureData::Format::kIndexed8);
      w->repaint();
    }
    EXPECT_EQ(conversions(), before + t) << "tick " << t;
  }
  for (FlipreelWidget* w : widgets) EXPECT_EQ(CacheOf(*w).kept_bytes(), 0u);
}

TEST(FlipreelWidgetSight, ControlsThatCannotBeSeenTakeNoTicksWhenTheyPauseWhenHidden) {
  GifFile file(FourFrames());
  QScrollArea area;
  auto* inside = new QWidget;
  auto* layout = new QVBoxLayout(inside);
  auto* spacer = new QWidget;
  spacer->setFixedSize(100, 2000);
  layout->addWidget(spacer);
  struct Case {
    bool composed;
    std::optional<bool> pause;  // none: the default
    bool pauses;
  };
  const std::vector<Case> cases = {{true, std::nullopt, true},
                                   {false, std::nullopt, false},
                                   {false, true, true},
                                   {true, false, false}};
  std::vector<FlipreelWidget*> widgets;
  for (const Case& c : cases) {
    auto* w = new FlipreelWidget;
    w->setComposed(c.composed);
    if (c.pause) w->setPauseWhenHidden(*c.pause);
    EXPECT_EQ(w->pauseWhenHidden(), c.pauses);
    w->setFlipreelFile(file.qpath());
    layout->addWidget(w);
    widgets.push_back(w);
  }
  area.setWidget(inside);
  area.resize(200, 200);
  area.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(HostOf(*widgets[i]).seen(), !cases[i].pauses);
  }
  area.ensureWidgetVisible(widgets.back(), 0, 0);
  area.ensureWidgetVisible(widgets.front(), 0, 0);
  for (FlipreelWidget* w : widgets) {
    QRect in_view(w->mapTo(area.viewport(), QPoint()), w->size());
    EXPECT_EQ(HostOf(*w).seen(),
              in_view.intersects(area.viewport()->rect()) || !w->pauseWhenHidden());
  }
  area.hide();
  for (FlipreelWidget* w : widgets) EXPECT_EQ(HostOf(*w).seen(), !w->pauseWhenHidden());
}

// Widgets below the same ancestors each follow their own sight, step by step,
// as pages change, widgets go, move to another page, and the window is
// minimised and restored.
TEST(FlipreelWidgetSight, WidgetsBelowOneAncestorFollowTheirOwnSightAsTheyComeAndGo) {
  GifFile file(FourFrames());
  QTabWidget tabs;
  std::vector<QWidget*> pages = {new QWidget, new QWidget};
  std::map<std::string, QPointer<FlipreelWidget>> widgets;  // null once gone
  for (const auto& [name, page] :
       std::vector<std::pair<std::string, int>>{{"a", 0}, {"b", 0}, {"c", 1}, {"d", 1}}) {
    auto* w = new FlipreelWidget(pages[page]);
    w->setGeometry(0, 10 * static_cast<int>(widgets.size()), 40, 10);
    w->setFlipreelFile(file.qpath());
    widgets[name] = w;
  }
  for (QWidget* page : pages) tabs.addTab(page, "page");
  tabs.resize(200, 200);
  tabs.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&tabs));
  struct Step {
    const char* what;
    std::function<void()> act;
    std::string seen;  // the widgets left that can be seen
  };
  const std::vector<Step> steps = {
      {"shown", [] {}, "ab"},
      {"the other page", [&] { tabs.setCurrentIndex(1); }, "cd"},
      {"a widget on the hidden page goes", [&] { delete widgets["a"]; }, "cd"},
      {"back to the first page", [&] { tabs.setCurrentIndex(0); }, "b"},
      {"a widget on the shown page goes", [&] { delete widgets["b"]; }, ""},
      {"one moves to the shown page",
       [&] {
         widgets["c"]->setParent(pages[0]);
         widgets["c"]->show();
       },
       "c"},
      {"the other page again", [&] { tabs.setCurrentIndex(1); }, "d"},
      {"minimised", [&] { tabs.showMinimized(); }, ""},
      {"restored", [&] { tabs.showNormal(); }, "d"},
      {"scrolled out of its page", [&] { widgets["d"]->move(0, 500); }, ""},
      {"back in", [&] { widgets["d"]->move(0, 0); }, "d"},
      {"the first page, without the second",
       [&] {
         tabs.setCurrentIndex(0);
         delete pages[1];
       },
       "c"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    std::string seen;
    for (const auto& [name, w] : widgets)
      if (w && HostOf(*w).seen()) seen += name;
    EXPECT_EQ(seen, step.seen);
  }
}

// A subclass that hands the events it does not handle straight to QWidget,
// as subclasses of plain widgets do, is still seen when shown and unseen when
// hidden: the widget's own show and hide reach the watch whatever event() does.
TEST(FlipreelWidgetSight, ASubclassThatOverridesEventIsSeenWhenShown) {
  class OwnEvents : public FlipreelWidget {
   protected:
    bool event(QEvent* e) override { return QWidget::event(e); }
  };
  GifFile file(FourFrames());
  OwnEvents w;
  w.setFlipreelFile(file.qpath());
  ASSERT_TRUE(w.pauseWhenHidden());
  EXPECT_FALSE(HostOf(w).seen());
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_TRUE(HostOf(w).seen());
  w.hide();
  EXPECT_FALSE(HostOf(w).seen());
}

}  // namespace
