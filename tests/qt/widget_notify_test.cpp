// The widget's NOTIFY signals, its saved-form errors, and the Qt host after
// its control has gone.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "flipreel/control/flipreel.h"
#include "flipreel/saved_form/saved_form.h"
#include "tests/qt/qt_test_support.h"
#include "tests/support/checks.h"

// Values in failure messages as text.
inline void PrintTo(const QVariant& value, std::ostream* os) {
  *os << value.toString().toStdString();
}

using namespace flipreel;
using namespace qttest;

namespace {

// What the NOTIFY signals said: per property, how often and the last value.
struct Notice {
  int count;
  QVariant last;
  bool operator==(const Notice&) const = default;
};
using Notices = std::map<std::string, Notice>;

// Every writable property has a NOTIFY signal named for it (SavedState is
// every other property at once: their signals announce it).
class NoticeRecorder {
 public:
  explicit NoticeRecorder(FlipreelWidget& w) {
    const QMetaObject& meta = *w.metaObject();
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
      const QMetaProperty property = meta.property(i);
      if (property.isWritable() && property.name() != QByteArray("SavedState")) {
        EXPECT_EQ(property.notifySignal().name(), QByteArray(property.name()) + "Changed");
      }
      spies_.emplace(property.name(), std::make_unique<QSignalSpy>(
                                          &w, "2" + property.notifySignal().methodSignature()));
    }
  }
  Notices notices() const {
    Notices n;
    for (const auto& [name, spy] : spies_)
      if (!spy->isEmpty()) n[name] = {static_cast<int>(spy->count()), spy->last().value(0)};
    return n;
  }

 private:
  std::map<std::string, std::unique_ptr<QSignalSpy>> spies_;
};

TEST(FlipreelWidgetNotify, EachChangeIsAnnouncedOnceWhoeverMadeIt) {
  GifFile gif(FourFrames());  // delays of 10 hundredths
  testfiles::TempDir dir;
  const QString form = QString::fromStdString(dir.path() + "/form.json");
  {
    FlipreelWidget saved;
    saved.setComposed(false);  // the classic control, saved without the key
    saved.setBorderStyle(1);
    saved.setFlipreelFile(gif.qpath());
    saved.setSequence(3);
    ASSERT_TRUE(saved.saveForm(form, "Reel"));
  }
  auto load = [&](FlipreelWidget& w) { w.setFlipreelFile(gif.qpath()); };
  struct Row {
    const char* what;
    std::function<void(FlipreelWidget&)> before, action;
    Notices expected;
  };
  const std::vector<Row> rows = {
      {"a setter, twice with one value",
       nullptr,
       [](FlipreelWidget& w) {
         w.setSequence(3);
         w.setSequence(3);
       },
       {{"Sequence", {1, 3}}}},
      {"a value the control refuses",
       nullptr,
       [](FlipreelWidget& w) { w.setFrameRate(40000); },
       {}},
      {"a property set by name",
       nullptr,
       [](FlipreelWidget& w) { w.setProperty("BackColor", QColor(255, 0, 0)); },
       {{"BackColor", {1, QColor(255, 0, 0)}}}},
      {"a colour set to what it shows",
       nullptr,
       [](FlipreelWidget& w) { w.setBackColor(w.BackColor()); },
       {}},
      {"the control's own changes on a load",
       nullptr,
       load,
       {{"FlipreelFile", {1, "Gif"}},
        {"FrameRate", {1, 100}},
        {"Frames", {1, 4}},
        {"Playing", {1, true}}}},
      {"ticks until one pass ends the play",
       [&](FlipreelWidget& w) {
         load(w);
         w.setAutoRewind(1);
       },
       // The host is reached once: the ticks after the first compare only
       // what a tick moves.
       [](FlipreelWidget& w) {
         QtHost& host = HostOf(w);
         for (int t = 0; t < 5; ++t) host.DeliverTick();
       },
       {{"CurrentFrame", {4, 0}}, {"Playing", {1, false}}}},
      {"a restore",
       nullptr,
       [&](FlipreelWidget& w) { w.loadForm(form); },
       {{"FlipreelFile", {1, "Gif"}},
        {"FrameRate", {1, 100}},
        {"Frames", {1, 4}},
        {"Playing", {1, true}},
        {"Sequence", {1, 3}},
        {"BorderStyle", {1, 1}},
        {"seeThrough", {1, true}}}},  // restored at run time, the surface is see-through
      {"a designer",
       load,
       [](FlipreelWidget& w) { w.setUserMode(false); },
       {{"UserMode", {1, false}}, {"Playing", {1, false}}}},
      {"the paint cache budget",
       nullptr,
       [](FlipreelWidget& w) { w.setPaintCacheBudget(4096); },
       {{"PaintCacheBudget", {1, qint64{4096}}}}},
  };
  for (const Row& row : rows) {
    FlipreelWidget w;
    w.setComposed(false);  // the classic control's notices
    HostOf(w).SetManualTicks(true);
    if (row.before) row.before(w);
    NoticeRecorder recorder(w);
    row.action(w);
    const Notices seen = recorder.notices();
    EXPECT_EQ(seen.size(), row.expected.size()) << row.what;
    for (const auto& [name, notice] : row.expected) {
      ASSERT_TRUE(seen.count(name)) << row.what << ": no " << name << "Changed";
      EXPECT_EQ(seen.at(name).count, notice.count) << row.what << ": " << name;
      EXPECT_EQ(seen.at(name).last, notice.last) << row.what << ": " << name;
      // The signal carries what the property reads now.
      EXPECT_EQ(w.property(name.c_str()), seen.at(name).last) << row.what << ": " << name;
    }
  }
}

// A slot of Frame that runs an event loop (a modal box) sees what host events
// change in that loop announced as each ends, as anywhere else; the tick's
// own changes are still announced once, when it ends.
TEST(FlipreelWidgetNotify, HostEventsInAnEventLoopATickRunsAreAnnouncedAsTheyEnd) {
  GifFile four(FourFrames());
  GifFile two(GifOf(8, 6, {Block(0, 0, 8, 6, kRed, kBlue), Block(0, 0, 8, 6, kGreen, kYellow)}));
  FlipreelWidget w;
  w.setComposed(false);
  w.setShowMessageBoxes(false);
  HostOf(w).SetManualTicks(true);
  w.setFlipreelFile(four.qpath());
  NoticeRecorder recorder(w);
  std::optional<Notices> in_loop;
  QObject::connect(&w, &FlipreelWidget::Frame, &w, [&] {
    if (in_loop) return;
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
      AsyncProp prop;  // a download that completes while the box is open
      prop.PropertyName = u"GifFromURL";
      prop.Status = AsyncStatus::kCompleted;
      prop.ValuePath = two.qpath().toStdU16String();
      HostOf(w).DeliverAsyncReadComplete(prop);
      in_loop = recorder.notices();
      loop.quit();
    });
    loop.exec();
  });
  ASSERT_TRUE(HostOf(w).DeliverTick());
  ASSERT_TRUE(in_loop.has_value());
  ASSERT_TRUE(in_loop->count("Frames"));
  EXPECT_EQ(in_loop->at("Frames").count, 1);
  EXPECT_EQ(in_loop->at("Frames").last, 2);
  EXPECT_EQ(recorder.notices().at("Frames").count, 1);
}

// A widget hidden and seen again inside that loop catches up on its ticks
// only once the tick under way has ended: Frame never comes inside itself.
TEST(FlipreelWidgetNotify, AWidgetSeenAgainInAnEventLoopATickRunsIsNotTickedInsideIt) {
  GifFile four(FourFrames());
  FlipreelWidget w;
  w.setComposed(false);
  w.setShowMessageBoxes(false);
  w.setPauseWhenHidden(true);
  w.resize(40, 30);
  w.show();
  w.setFlipreelFile(four.qpath());
  int depth = 0, deepest = 0;
  bool opened = false, closed = false;
  QObject::connect(&w, &FlipreelWidget::Frame, &w, [&] {
    deepest = std::max(deepest, ++depth);
    if (!std::exchange(opened, true)) {
      QEventLoop loop;
      QTimer::singleShot(10, &loop, [&] { w.hide(); });
      QTimer::singleShot(400, &loop, [&] { w.show(); });
      QTimer::singleShot(500, &loop, [&] { loop.quit(); });
      loop.exec();
      closed = true;
    }
    --depth;
  });
  w.setPlaying(true);
  ASSERT_TRUE(RunEventsUntil([&] { return closed; }, 5000));
  RunEventsUntil([] { return false; }, 100);
  EXPECT_EQ(deepest, 1);
}

// The widget's saved-form errors are the saved-form library's, word for word.
TEST(FlipreelWidgetForms, RefusalsSayWhatTheSavedFormLibrarySays) {
  testfiles::TempDir dir;
  const std::string path = dir.path() + "/form.json";
  SavedForm other;
  other.controls.push_back({"Other.Control", "Reel", PropertyBag(/*skip_defaults=*/true)});
  WriteSavedForm(path, other);
  const std::string before = testfiles::ReadFile(path);
  const QString qpath = QString::fromStdString(path);

  auto library_says = [](const std::function<void()>& call) {
    return testsupport::RaisedBy(call).description;
  };
  struct Row {
    const char* what;
    std::function<bool(FlipreelWidget&)> widget;
    std::function<void()> library;
  };
  const std::vector<Row> rows = {
      {"no control of that name", [&](FlipreelWidget& w) { return w.loadForm(qpath, "Nobody"); },
       [&] { ChooseControl(other, path, "Nobody", kFlipreelProgId); }},
      {"no control of the class", [&](FlipreelWidget& w) { return w.loadForm(qpath); },
       [&] { ChooseControl(other, path, "", kFlipreelProgId); }},
      {"a load from a control of another class",
       [&](FlipreelWidget& w) { return w.loadForm(qpath, "reel"); },
       [&] { ChooseControl(other, path, "reel", kFlipreelProgId); }},
      {"a save over a control of another class",
       [&](FlipreelWidget& w) { return w.saveForm(qpath, "REEL"); },
       [&] {
         SavedForm copy = other;
         PutControl(copy, path, {std::string(kFlipreelProgId), "REEL", PropertyBag()});
       }},
  };
  for (const Row& row : rows) {
    FlipreelWidget w;
    EXPECT_FALSE(row.widget(w)) << row.what;
    EXPECT_EQ(w.lastError().number, err::kInvalidPropertyValue) << row.what;
    EXPECT_EQ(w.lastError().description.toStdString(), library_says(row.library)) << row.what;
  }
  EXPECT_EQ(testfiles::ReadFile(path), before);
}

// A surface that ignores everything: the host alone is under test.
struct NoSurface final : QtSurface {
  void ElementChanged(const Element&, ElementProperty) override {}
  void SurfaceBackChanged() override {}
  void RefreshRequested() override {}
  void TickEnded() override {}
  void HostEventEnded() override {}
  void PropertyNotified(std::string_view) override {}
  void HostEventFailed(std::string_view, const HostError&) override {}
};

TEST(QtHost, ForgetsTheTimerOfAControlThatHasGone) {
  GifFile gif(FourFrames());
  QWidget widget;
  NoSurface surface;
  QtHost host(widget, surface);
  {
    Flipreel control(host);
    control.InitProperties();
    control.SetFlipreelFile(Utf8ToText(gif.path));
    ASSERT_TRUE(host.timer_running());
    ASSERT_NE(host.timer(), nullptr);
  }
  // The timer went with the control: nothing ticks and nothing reads it.
  EXPECT_EQ(host.timer(), nullptr);
  EXPECT_FALSE(host.timer_running());
  EXPECT_FALSE(host.DeliverTick());

  // A control sited later ticks with its own timer.
  Flipreel next(host);
  next.InitProperties();
  EXPECT_FALSE(host.DeliverTick());
  next.SetFlipreelFile(Utf8ToText(gif.path));
  EXPECT_TRUE(host.DeliverTick());
}

}  // namespace
