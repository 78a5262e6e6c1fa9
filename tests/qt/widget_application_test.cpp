// What an application sees of the widget: failed loads as signals with their
// numbers (and no modal box when it has turned them off), loading from
// memory, devices and resources, and the Qt conveniences.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "flipreel/host/memory_budget.h"
#include "flipreel/qt/colors.h"

#include "tests/qt/qt_test_support.h"

using namespace flipreel;
using namespace qttest;

namespace {

// Closes a modal box that appears within the call, counting it, so that a box
// the test does not expect fails the test instead of blocking it.
class ModalWatch {
 public:
  ModalWatch() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        ++closed_;
        modal->close();
      }
    });
    timer_.start(10);
  }
  int closed() const { return closed_; }

 private:
  QTimer timer_;
  int closed_ = 0;
};

// The frames as the control holds them: position, delay and pixels.
struct Frames {
  std::vector<QRectF> places;
  std::vector<QImage> images;
  int frame_rate = 0;
  bool operator==(const Frames&) const = default;
};
Frames FramesOf(FlipreelWidget& w) {
  Frames f;
  f.frame_rate = w.FrameRate();
  for (int i = 0; i <= ControlOf(w).state().LastFrame; ++i) {
    f.places.emplace_back(w.FrameLeft(i), w.FrameTop(i), w.FrameWidth(i), w.FrameHeight(i));
    f.images.push_back(w.GetFrame(i));
  }
  return f;
}

// The file at path grown (sparsely) past the longest a GIF file may be.
std::string TooLong(const std::string& path) {
  std::filesystem::resize_file(path, static_cast<uintmax_t>(kMaxGifFileBytes) + 1);
  return path;
}

}  // namespace

// Every load that leaves the control without a GIF reaches the application as
// loadFailed with its number, and as lastError; the control's own message
// comes as messageShown; without boxes nothing modal is shown.
TEST(WidgetInAnApplication, FailedLoadsAreSignalled) {
  testfiles::TempDir dir;
  const std::string gif = testgif::Build(FourFrames());
  testgif::Gif still = GifOf(4, 4, {Block(0, 0, 4, 4, kRed, kRed)});
  still.frames[0].gce = false;
  testgif::Gif slow = FourFrames();
  slow.frames[0].delay_cs = 3277;  // overflows FrameRate
  const struct {
    const char* name;
    QString path;
    int number;
    int messages;
  } rows[] = {
      {"missing", QString::fromStdString(dir.path() + "/missing.gif"), 53, 0},
      {"text", QString::fromStdString(dir.Write("notes.gif", "not a picture")), 481, 0},
      {"folder", QString::fromStdString(dir.path()), 75, 0},
      {"empty", QString::fromStdString(dir.Write("empty.gif", "")), 481, 0},
      {"truncated", QString::fromStdString(dir.Write("cut.gif", gif.substr(0, gif.size() - 6))),
       481, 1},
      {"still", QString::fromStdString(dir.Write("still.gif", testgif::Build(still))), 481, 0},
      {"overflow", QString::fromStdString(dir.Write("slow.gif", testgif::Build(slow))), 6, 0},
      {"resource", ":/no/such.gif", 53, 0},
      // Longer than any GIF file may be: refused before it is read.
      {"too long", QString::fromStdString(TooLong(dir.Write("long.gif", gif))), 7, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FlipreelWidget w;
    w.setComposed(false);  // the classic split, which refuses these files
    w.setShowMessageBoxes(false);
    QSignalSpy failed(&w, &FlipreelWidget::loadFailed);
    QSignalSpy shown(&w, &FlipreelWidget::messageShown);
    ModalWatch watch;
    w.setFlipreelFile(row.path);
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed[0][0].toInt(), row.number);
    EXPECT_EQ(w.lastError().number, row.number);
    EXPECT_EQ(w.lastError().description, failed[0][1].toString());
    EXPECT_EQ(shown.count(), row.messages);
    EXPECT_EQ(watch.closed(), 0);
  }
  // Downloads: refused at the request, or failed when the read ends.
  for (const auto& [address, number] :
       {std::pair{"http://:x/a.gif", 31002}, std::pair{"file:///no/such/file.gif", 53}}) {
    SCOPED_TRACE(address);
    FlipreelWidget w;
    w.setShowMessageBoxes(false);
    QSignalSpy failed(&w, &FlipreelWidget::loadFailed);
    w.setGifFromURL(address);
    if (failed.isEmpty()) failed.wait(5000);
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed[0][0].toInt(), number);
  }
  // A good load after a failed one clears lastError and signals nothing.
  FlipreelWidget w;
  QSignalSpy failed(&w, &FlipreelWidget::loadFailed);
  w.setFlipreelFile(QString::fromStdString(dir.Write("good.gif", gif)));
  EXPECT_EQ(failed.count(), 0);
  EXPECT_FALSE(w.lastError());
}

// By default the control's boxes are shown, as it always shows them; the
// signal comes as well.
TEST(WidgetInAnApplication, MessageBoxesAreShownByDefault) {
  const std::string gif = testgif::Build(FourFrames());
  testfiles::TempDir dir;
  FlipreelWidget w;
  w.setComposed(false);  // the classic split ends at the damage with its message
  EXPECT_TRUE(w.showMessageBoxes());
  QSignalSpy shown(&w, &FlipreelWidget::messageShown);
  ModalWatch watch;
  w.setFlipreelFile(QString::fromStdString(dir.Write("cut.gif", gif.substr(0, gif.size() - 6))));
  EXPECT_EQ(watch.closed(), 1);
  ASSERT_EQ(shown.count(), 1);
  EXPECT_EQ(shown[0][0].toString(), "Error No. 481 : when reading file");
  EXPECT_EQ(shown[0][1].toInt(), 16);
  EXPECT_EQ(shown[0][2].toString(), "Flipreel Control");
}

// Bytes, a device and a resource give the frames the same file gives.
TEST(WidgetInAnApplication, LoadsFromMemoryDevicesAndResources) {
  QFile file(FLIPREEL_TEST_GIF);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  FlipreelWidget from_file;
  from_file.setFlipreelFile(FLIPREEL_TEST_GIF);
  const Frames expected = FramesOf(from_file);
  ASSERT_EQ(expected.images.size(), 12u);

  FlipreelWidget from_data, from_device, from_resource, from_qrc;
  QBuffer buffer;
  buffer.setData(bytes);
  EXPECT_TRUE(from_data.loadFromData(bytes));
  EXPECT_TRUE(from_device.loadFromDevice(&buffer));
  from_resource.setFlipreelFile(":/spinner.gif");
  from_qrc.setFlipreelFile("qrc:/spinner.gif");
  for (FlipreelWidget* w : {&from_data, &from_device, &from_resource, &from_qrc}) {
    EXPECT_EQ(w->FlipreelFile(), "Gif");
    EXPECT_TRUE(FramesOf(*w) == expected);
  }

  FlipreelWidget w;
  w.setComposed(false);  // the classic split refuses a bare header without a box
  QSignalSpy failed(&w, &FlipreelWidget::loadFailed);
  EXPECT_FALSE(w.loadFromData("GIF89a"));
  QBuffer write_only;
  write_only.open(QIODevice::WriteOnly);
  EXPECT_FALSE(w.loadFromDevice(&write_only));
  EXPECT_FALSE(w.loadFromDevice(nullptr));
  ASSERT_EQ(failed.count(), 3);
  EXPECT_EQ(failed[0][0].toInt(), 481);
  EXPECT_EQ(failed[1][0].toInt(), 75);
  EXPECT_EQ(failed[2][0].toInt(), 5);
}

TEST(WidgetInAnApplication, QtConveniences) {
  GifFile file(FourFrames());
  FlipreelWidget w;
  w.setComposed(false);                      // the classic frames: each block at its offset
  EXPECT_EQ(w.sizeHint(), QSize(205, 130));  // a new control's size
  QSignalSpy frames(&w, &FlipreelWidget::frameShown);
  w.setAutoSize(true);
  w.setFlipreelFile(file.qpath());
  EXPECT_EQ(w.sizeHint(), w.size());
  EXPECT_EQ(w.sizeHint(), QSize(16, 9));  // every frame at its offset
  // The first tick shows frame 0 again: no change.
  for (int i = 0; i < 5; ++i) HostOf(w).DeliverTick();
  std::vector<int> shown;
  for (const QList<QVariant>& args : frames) shown.push_back(args[0].toInt());
  EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 3, 0}));
}

// BackColor and BorderColor are QColors to Qt; the control's values behind
// them, system colours included, stay what the control saves and paints.
TEST(WidgetInAnApplication, ColourPropertiesShowTheControlsColourValues) {
  struct Row {
    const char* what;
    std::function<void(FlipreelWidget&)> action;
    int32_t back, border;  // the control's values afterwards
    int error;             // the error the last call raised (0: none)
  };
  const Row rows[] = {
      {"a new control", [](FlipreelWidget&) {}, kColorButtonFace, 0, 0},
      {"a colour, as red, green and blue",
       [](FlipreelWidget& w) { w.setBackColor(QColor(255, 0, 0)); }, 0x0000FF, 0, 0},
      {"a colour's alpha is dropped",
       [](FlipreelWidget& w) { w.setBorderColor(QColor(0, 0, 255, 128)); }, kColorButtonFace,
       0xFF0000, 0},
      {"the colour a system colour shows, written back, keeps it",
       [](FlipreelWidget& w) { w.setBackColor(w.BackColor()); }, kColorButtonFace, 0, 0},
      {"a system colour, by value",
       [](FlipreelWidget& w) { w.setBorderColorValue(SystemColor(13)); }, kColorButtonFace,
       SystemColor(13), 0},
      {"no colour is refused",
       [](FlipreelWidget& w) {
         w.setBackColor(QColor(1, 2, 3));
         w.setBackColor(QColor());
       },
       0x030201, 0, err::kInvalidPropertyValue},
      {"reset by the property",
       [](FlipreelWidget& w) {
         w.setBackColor(QColor(1, 2, 3));
         w.setBorderColor(QColor(1, 2, 3));
         for (const char* name : {"BackColor", "BorderColor"}) {
           const QMetaObject& meta = *w.metaObject();
           EXPECT_TRUE(meta.property(meta.indexOfProperty(name)).reset(&w)) << name;
         }
       },
       kColorButtonFace, 0, 0},
  };
  for (const Row& row : rows) {
    FlipreelWidget w;
    row.action(w);
    EXPECT_EQ(w.backColorValue(), row.back) << row.what;
    EXPECT_EQ(w.borderColorValue(), row.border) << row.what;
    EXPECT_EQ(w.BackColor(), ResolveColor(row.back, w.palette())) << row.what;
    EXPECT_EQ(w.BorderColor(), ResolveColor(row.border, w.palette())) << row.what;
    EXPECT_EQ(w.lastError().number, row.error) << row.what;
  }
}

// A system colour's QColor follows the palette, whether set on the widget or
// handed down from its parent, and says so and paints it; a plain colour does
// not change with it.
TEST(WidgetInAnApplication, ASystemColourFollowsThePaletteAndIsAnnounced) {
  for (const bool on_parent : {false, true}) {
    SCOPED_TRACE(on_parent ? "set on the parent" : "set on the widget");
    QWidget parent;
    auto* w = new FlipreelWidget(&parent);
    w->setBorderColor(QColor(10, 20, 30));
    const QImage before = Shot(*w);  // the palette as it was is read and painted
    QSignalSpy back(w, &FlipreelWidget::BackColorChanged);
    QSignalSpy border(w, &FlipreelWidget::BorderColorChanged);
    QWidget& target = on_parent ? parent : *w;
    QPalette palette = target.palette();
    palette.setColor(QPalette::Active, QPalette::Button, QColor(1, 2, 3));
    target.setPalette(palette);
    EXPECT_EQ(w->BackColor(), QColor(1, 2, 3));
    ASSERT_EQ(back.count(), 1);
    EXPECT_EQ(back[0][0].value<QColor>(), QColor(1, 2, 3));
    EXPECT_EQ(border.count(), 0);
    EXPECT_EQ(w->backColorValue(), kColorButtonFace);
    EXPECT_NE(At(before, 5, 5), qRgb(1, 2, 3));
    EXPECT_EQ(At(Shot(*w), 5, 5), qRgb(1, 2, 3));
  }
}

// See-through over the parent, and HitTest's position in pixels.
TEST(WidgetInAnApplication, SeeThroughAndHitsInPixels) {
  GifFile file(GifOf(4, 4, {Block(0, 0, 4, 4, kRed, kRed), Block(0, 0, 4, 4, kBlue, kBlue)}));
  QWidget parent;
  parent.resize(40, 40);
  parent.setAutoFillBackground(true);
  QPalette palette = parent.palette();
  palette.setColor(QPalette::Window, QColor(0, 255, 0));
  parent.setPalette(palette);
  auto* w = new FlipreelWidget(&parent);
  w->setFlipreelFile(file.qpath());
  w->setBackStyle(0);
  QSignalSpy changed(w, &FlipreelWidget::seeThroughChanged);
  EXPECT_FALSE(w->seeThrough());
  w->setSeeThrough(true);
  EXPECT_TRUE(w->seeThrough());
  EXPECT_EQ(changed.count(), 1);
  parent.show();
  const QImage shot = parent.grab().toImage();
  ExpectSpots(shot, {{1, 1, kRed}, {20, 20, kGreen}});

  QSignalSpy hits(w, &FlipreelWidget::hitTestAt);
  QSignalSpy twips(w, &FlipreelWidget::HitTest);
  QTest::mousePress(w, Qt::LeftButton, {}, QPoint(2, 3));
  ASSERT_EQ(hits.count(), 1);
  EXPECT_EQ(hits[0][0].toPointF(), QPointF(2, 3));
  EXPECT_EQ(hits[0][1].toInt(), 3);
  EXPECT_FLOAT_EQ(twips[0][0].toFloat(), 2 * HostOf(*w).TwipsPerPixelX());
}
