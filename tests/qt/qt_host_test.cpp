// The Qt host and the widget's Qt interface: timer, resizes, message boxes,
// errors, hit tests, repainting and the paint-ready frame cache.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPaintEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <set>
#include <vector>

#include "flipreel/host/property_bag.h"
#include "flipreel/qt/colors.h"
#include "tests/qt/qt_test_support.h"
#include "tests/support/checks.h"

using namespace flipreel;
using namespace qttest;
using testsupport::ErrorOf;

namespace {

TEST(QtHost, TimerTicksAtFrameRateAndStopsForIntervalZero) {
  GifFile file(FourFrames());  // delays of 10 hundredths: FrameRate 100
  FlipreelWidget w;
  w.setComposed(false);  // the classic timer: FrameRate steers it
  w.setFlipreelFile(file.qpath());
  EXPECT_TRUE(HostOf(w).timer_running());
  EXPECT_EQ(HostOf(w).timer_interval_ms(), 100);

  w.setFrameRate(20);
  QSignalSpy frames(&w, &FlipreelWidget::Frame);
  EXPECT_TRUE(frames.wait(2000));
  EXPECT_EQ(HostOf(w).timer_interval_ms(), 20);

  w.setFrameRate(0);  // an interval of 0 never ticks
  EXPECT_FALSE(HostOf(w).timer_running());
  EXPECT_TRUE(w.Playing());
  w.StopAnimation();
  w.setFrameRate(30);
  EXPECT_FALSE(HostOf(w).timer_running());
  EXPECT_FALSE(w.Playing());
}

TEST(QtHost, ResizesReachTheControlOnlyOnARealChange) {
  FlipreelWidget w;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QtHost& host = HostOf(w);
  const int before = host.resizes_delivered();

  w.resize(300, 200);  // as a user or a layout would
  QCoreApplication::processEvents();
  EXPECT_EQ(host.resizes_delivered(), before + 1);
  EXPECT_FLOAT_EQ(host.SurfaceWidth(), 4500);
  EXPECT_FLOAT_EQ(host.SurfaceHeight(), 3000);

  host.Size(4505, 2995);  // rounds to the same pixels: no change
  EXPECT_EQ(host.resizes_delivered(), before + 1);
  host.Size(3000, 1500);
  EXPECT_EQ(host.resizes_delivered(), before + 2);
  EXPECT_EQ(w.size(), QSize(200, 100));
  QCoreApplication::processEvents();
  EXPECT_EQ(host.resizes_delivered(), before + 2);

  // The resize handler lays the shapes out for the new size.
  w.setBorderStyle(1);
  w.resize(120, 80);
  QCoreApplication::processEvents();
  EXPECT_FLOAT_EQ(ControlOf(w).shpBorder().width(), 1800);
  const QImage s = Shot(w);
  EXPECT_EQ(At(s, 119, 79), At(s, 0, 0));  // the outline follows the new size
}

TEST(QtHost, DefaultMessageBoxHasTheIconOfItsStyle) {
  struct Row {
    int16_t style;
    QMessageBox::Icon icon;
  };
  for (const Row& row :
       {Row{kMsgCritical, QMessageBox::Critical}, Row{kMsgExclamation, QMessageBox::Warning},
        Row{kMsgInformation, QMessageBox::Information}}) {
    QString seen;  // the icon, title and text of the box that comes up
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      seen = QString("%1 %2: %3").arg(box->icon()).arg(box->windowTitle(), box->text());
      box->accept();
    });
    EXPECT_EQ(ShowMessageBox({"Image Download complete", row.style, "Flipreel Control"}, nullptr),
              1);
    EXPECT_EQ(seen, QString("%1 Flipreel Control: Image Download complete").arg(row.icon));
  }
}

TEST(QtHost, LoadPictureDecodesGifsAndOtherFormats) {
  testfiles::TempDir dir;
  QImage png(3, 2, QImage::Format_ARGB32);
  png.fill(QColor(10, 20, 30));
  const std::string png_path = dir.path() + "/p.png";
  ASSERT_TRUE(png.save(QString::fromStdString(png_path)));
  GifFile gif(FourFrames());
  const std::string junk = dir.Write("junk.png", "not a picture");

  FlipreelWidget w;
  QtHost& host = HostOf(w);
  const Picture from_png = host.LoadPicture(Utf8ToText(png_path));
  EXPECT_EQ(from_png.width(), 3);
  EXPECT_EQ(from_png.data()->PixelArgb(1, 1), 0xFF0A141Eu);
  const Picture from_gif = host.LoadPicture(Utf8ToText(gif.path));
  EXPECT_EQ(from_gif.data()->format(), PictureData::Format::kIndexed8);  // kept compact
  EXPECT_TRUE(host.LoadPicture(u"").IsEmpty());
  EXPECT_EQ(ErrorOf([&] { host.LoadPicture(Utf8ToText(junk)); }), err::kInvalidPicture);
  EXPECT_EQ(ErrorOf([&] { host.LoadPicture(Utf8ToText(dir.path() + "/missing.png")); }),
            err::kFileNotFound);
}

TEST(QtHost, DownloadsGoToTheReaderThatIsPluggedIn) {
  struct Recorder : AsyncReadService {
    std::vector<std::string> calls;
    void Read(const Text& target, int32_t, const Text& name) override {
      calls.push_back("read " + TextToUtf8(name) + " " + TextToUtf8(target));
    }
    void Cancel(const Text& name) override { calls.push_back("cancel " + TextToUtf8(name)); }
  };
  FlipreelWidget w;
  auto reader = std::make_unique<Recorder>();
  Recorder& r = *reader;
  HostOf(w).set_async_reader(std::move(reader));
  w.setGifFromURL("http://example.invalid/a.gif");
  w.CancelAsyncRead();
  ASSERT_EQ(r.calls.size(), 2u);
  EXPECT_EQ(r.calls[0], "read GifFromURL http://:@example.invalid/a.gif");
  EXPECT_EQ(r.calls[1], "cancel GifFromURL");

  // Without a reader, the request fails and the control's message box goes to
  // the handler instead of the screen.
  std::vector<MessageBoxRequest> boxes;
  HostOf(w).set_message_box_handler([&](const MessageBoxRequest& b) {
    boxes.push_back(b);
    return 1;
  });
  HostOf(w).set_async_reader(nullptr);
  w.setGifFromURL("http://example.invalid/b.gif");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "Download Failed");
  EXPECT_EQ(boxes[0].style, kMsgCritical);
  EXPECT_TRUE(boxes[0].text.startsWith("Error No:31001 ")) << boxes[0].text.toStdString();
}

TEST(FlipreelWidgetInterface, ErrorsBecomeLastErrorAndASignal) {
  struct Row {
    const char* what;
    std::function<void(FlipreelWidget&)> call;
    int number;
  };
  const std::vector<Row> rows = {
      {"FrameRate beyond 16 bits", [](FlipreelWidget& w) { w.setFrameRate(40000); }, 6},
      {"Sequence beyond 16 bits", [](FlipreelWidget& w) { w.setSequence(1 << 20); }, 6},
      {"frame that does not exist", [](FlipreelWidget& w) { w.FrameWidth(3); }, 340},
      {"BackStyle the shape refuses", [](FlipreelWidget& w) { w.setBackStyle(2); }, 380},
      {"negative cache budget", [](FlipreelWidget& w) { w.setPaintCacheBudget(-1); }, 380},
      {"hit result outside HitTest", [](FlipreelWidget& w) { w.setHitResult(3); }, 5},
      {"property set by name", [](FlipreelWidget& w) { w.setProperty("AutoRewind", 99999); }, 6},
  };
  for (const Row& row : rows) {
    FlipreelWidget w;
    QSignalSpy raised(&w, &FlipreelWidget::errorRaised);
    row.call(w);
    EXPECT_EQ(w.lastError().number, row.number) << row.what;
    EXPECT_FALSE(w.lastError().description.isEmpty()) << row.what;
    ASSERT_EQ(raised.count(), 1) << row.what;
    EXPECT_EQ(raised[0][0].toInt(), row.number) << row.what;
    w.setFrameRate(50);  // the next call that succeeds clears it
    EXPECT_FALSE(w.lastError()) << row.what;
  }
}

// Properties read by name after a load are checked with their notices;
// here a property set by name, the frame queries in pixels, the events and
// a method called by name.
TEST(FlipreelWidgetInterface, PropertiesAndEventsAreReachableByName) {
  GifFile file(FourFrames());
  FlipreelWidget w;
  w.setComposed(false);  // the classic frames: each image alone at its offset
  HostOf(w).SetManualTicks(true);
  QSignalSpy frame(&w, &FlipreelWidget::Frame);
  QSignalSpy finished(&w, &FlipreelWidget::PlayFinished);
  ASSERT_TRUE(w.setProperty("FlipreelFile", file.qpath()));
  EXPECT_EQ(w.property("FlipreelFile").toString(), "Gif");
  w.setProperty("AutoRewind", 1);
  EXPECT_FLOAT_EQ(w.FrameLeft(2), 4);
  EXPECT_FLOAT_EQ(w.FrameHeight(3), 6);
  EXPECT_EQ(w.GetFrame(1).pixel(0, 0) | 0xFF000000u, Rgb(kGreen));

  for (int t = 0; t < 5; ++t) HostOf(w).DeliverTick();
  EXPECT_EQ(frame.count(), 5);
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(w.Playing());
  ASSERT_TRUE(QMetaObject::invokeMethod(&w, "StartAnimation"));
  EXPECT_TRUE(w.Playing());
}

// A widget that records the presses it gets.
class PressRecorder : public QWidget {
 public:
  using QWidget::QWidget;
  std::vector<QPoint> presses;

 protected:
  void mousePressEvent(QMouseEvent* e) override { presses.push_back(e->position().toPoint()); }
};

TEST(FlipreelWidgetInterface, ClicksOutsideTheHitAreaPassToTheWidgetBelow) {
  testgif::Frame frame = Block(0, 0, 10, 6, kRed, kBlack);
  frame.transparent = kBlack;
  GifFile file(GifOf(10, 6, {frame}));

  QWidget form;
  form.resize(120, 80);
  PressRecorder below(&form);
  below.setGeometry(0, 0, 120, 80);
  FlipreelWidget w(&form);
  // A restored control at run time has a transparent surface; BackStyle 0
  // leaves only the picture's opaque pixels.
  PropertyBag bag;
  bag.WriteProperty("BackStyle", Variant(int16_t{0}), Variant(int16_t{1}));
  FlipreelWidgetPrivate::get(w).ReadProperties(bag);
  w.setFlipreelFile(file.qpath());
  w.move(10, 10);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

  std::vector<std::pair<float, float>> asked;
  std::vector<int> preset;
  int answer = -1;
  QObject::connect(&w, &FlipreelWidget::HitTest, [&](float x, float y, int result) {
    asked.emplace_back(x, y);
    preset.push_back(result);
    if (answer >= 0) w.setHitResult(answer);
  });

  QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(2, 2));  // opaque red
  EXPECT_TRUE(below.presses.empty());
  QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(8, 2));  // transparent pixel
  ASSERT_EQ(below.presses.size(), 1u);
  EXPECT_EQ(below.presses[0], QPoint(18, 12));                // in the lower widget's coordinates
  QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(50, 50));  // nothing painted there
  EXPECT_EQ(below.presses.size(), 2u);
  answer = 0;  // the client says outside, even over the picture
  QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_EQ(below.presses.size(), 3u);

  ASSERT_EQ(asked.size(), 4u);
  EXPECT_FLOAT_EQ(asked[0].first, 30);  // twips
  EXPECT_FLOAT_EQ(asked[0].second, 30);
  EXPECT_EQ(preset, (std::vector<int>{3, 0, 0, 3}));
}

// A widget that records the rectangles it paints.
class PaintRecorder : public FlipreelWidget {
 public:
  using FlipreelWidget::FlipreelWidget;
  std::vector<QRect> painted;

 protected:
  void paintEvent(QPaintEvent* e) override {
    painted.push_back(e->rect());
    FlipreelWidget::paintEvent(e);
  }
};

TEST(FlipreelWidgetPainting, TicksRepaintOnlyWhatChangedAndNothingWhileHidden) {
  GifFile file(FourFrames());
  PaintRecorder w;
  w.setComposed(false);  // classic frames: only each frame's own rectangle changes
  HostOf(w).SetManualTicks(true);
  w.setFlipreelFile(file.qpath());
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QCoreApplication::processEvents();
  w.painted.clear();

  HostOf(w).DeliverTick();  // shows frame 0 again: nothing changes on screen
  QCoreApplication::processEvents();
  EXPECT_TRUE(w.painted.empty());

  HostOf(w).DeliverTick();  // frame 0 at (0, 0) gives way to frame 1 at (2, 1)
  QCoreApplication::processEvents();
  ASSERT_FALSE(w.painted.empty());
  for (const QRect& r : w.painted) EXPECT_TRUE(QRect(0, 0, 12, 7).contains(r)) << r.width();

  w.hide();
  w.painted.clear();
  const int64_t conversions = CacheOf(w).conversions();
  for (int t = 0; t < 8; ++t) HostOf(w).DeliverTick();
  QCoreApplication::processEvents();
  EXPECT_TRUE(w.painted.empty());
  EXPECT_EQ(CacheOf(w).conversions(), conversions);
}

TEST(PictureCache, KeepsCopiesWithinTheBudgetAndConvertsTheRestWhenShown) {
  const Picture a = Picture::Solid(10, 10, 0xFFFF0000);
  const Picture b = Picture::Solid(10, 10, 0xFF00FF00);
  Picture c = Picture::Solid(10, 10, 0x00000000);
  PictureCache cache(2 * 400);  // room for two 10 x 10 copies
  cache.Prepare(a);
  cache.Prepare(b);
  cache.Prepare(c);
  EXPECT_EQ(cache.kept_count(), 2u);
  EXPECT_EQ(cache.conversions(), 2);
  EXPECT_EQ(cache.Get(a).pixel(3, 3), 0xFFFF0000u);
  EXPECT_EQ(cache.Get(a).format(), QImage::Format_RGB32);  // opaque
  EXPECT_EQ(cache.conversions(), 2);

  EXPECT_EQ(cache.Get(c).format(), QImage::Format_ARGB32_Premultiplied);
  EXPECT_EQ(cache.Get(c).pixel(0, 0), 0u);
  EXPECT_EQ(cache.conversions(), 3);  // converted once when shown, then kept aside
  EXPECT_LE(cache.kept_bytes(), cache.budget());

  {
    Picture gone = Picture::Solid(10, 10, 0xFF0000FF);
    cache.Get(gone);
  }
  cache.SetBudget(400);
  EXPECT_EQ(cache.kept_count(), 1u);
  cache.MarkStale();
  cache.Prepare(Picture::Solid(5, 5, 0xFF000000));  // freed pictures make room
  EXPECT_LE(cache.kept_bytes(), 400u);
}

// A cache paints from another cache's copy of a picture while that cache
// keeps it, but holds none of those copies itself: two caches showing one GIF
// beyond their budgets never each collect every frame's copy.
TEST(PictureCache, CopiesFoundInAnotherCacheAreUsedWhileItKeepsThemAndNeverHeldBeyondTheBudget) {
  std::vector<Picture> frames;
  for (uint32_t i = 0; i < 12; ++i) frames.push_back(Picture::Solid(10, 10, 0xFF000000u | i));
  auto colour = [&](const Picture& frame) {
    return 0xFF000000u | static_cast<uint32_t>(&frame - frames.data());
  };
  auto converter = std::make_unique<PictureCache>(0);
  PictureCache viewer(0);
  for (const Picture& frame : frames) {
    converter->Get(frame);  // converted on show, kept aside
    EXPECT_TRUE(viewer.Has(frame));
    EXPECT_EQ(viewer.Get(frame).pixel(0, 0), colour(frame));
  }
  EXPECT_EQ(viewer.conversions(), 0);
  EXPECT_EQ(viewer.kept_count(), 0u);
  EXPECT_EQ(viewer.kept_bytes(), 0u);
  EXPECT_FALSE(viewer.Has(frames.front())) << "held after the converter let it go";
  converter.reset();
  EXPECT_FALSE(viewer.Has(frames.back()));
  EXPECT_EQ(viewer.Get(frames.back()).pixel(0, 0), colour(frames.back()));
  EXPECT_EQ(viewer.conversions(), 1);

  // Conversions on show write over copies set aside before them, but never
  // over one held elsewhere.
  const QImage kept = viewer.GetToKeep(frames.front());
  for (const Picture& frame : frames) EXPECT_EQ(viewer.Get(frame).pixel(9, 9), colour(frame));
  EXPECT_EQ(kept.pixel(9, 9), colour(frames.front()));
}

// A conversion on show never writes over a copy set aside that is a
// picture's own pixels: they went with the picture. Whether the copies are
// set aside as the last few conversions or for the place that shows them.
TEST(PictureCache, ConversionsOnShowNeverWriteOverAPicturesOwnPixels) {
  const int place = 0;
  for (const void* where : {static_cast<const void*>(nullptr), static_cast<const void*>(&place)}) {
    PictureCache cache(0);
    {
      std::vector<Picture> gone;
      for (uint32_t i = 0; i < PictureCache::kAsideCount; ++i) {
        std::vector<uint32_t> pixels(64 * 64, 0xFF000000u | i);
        gone.push_back(Picture(PictureData::Argb(64, 64, std::move(pixels))));
        EXPECT_EQ(cache.Get(gone.back(), where).pixel(0, 0), 0xFF000000u | i);
      }
    }
    const Picture clear = Picture::Solid(64, 64, 0x00000000u);
    EXPECT_EQ(cache.Get(clear, where).pixel(63, 63), 0u);
  }
}

// Copies set aside stay within kAsideBytes together, whatever size a file
// claims for its frames: of frames larger than that, only the one just shown
// is held, and its memory is written over for the next.
TEST(PictureCache, HugeFramesSetAsideHoldOneCopy) {
  PictureData::Palette palette{};
  for (uint32_t i = 0; i < 256; ++i) palette[i] = 0xFF000000u | i;
  const int side = 3000;  // 36 MB a copy
  std::vector<Picture> frames;
  for (uint8_t i = 0; i < 3; ++i)
    frames.push_back(Picture(
        PictureData::Indexed(side, side, std::vector<uint8_t>(size_t{side} * side, i), palette)));
  PictureCache cache(0);
  std::set<const uchar*> memory;
  for (const Picture& frame : frames) {
    const QImage& shown = cache.Get(frame);
    EXPECT_EQ(shown.pixel(side - 1, side - 1), 0xFF000000u | (&frame - frames.data()));
    memory.insert(shown.constBits());
    EXPECT_LE(cache.CountAsideBytes(), size_t{4} * side * side);
  }
  EXPECT_EQ(memory.size(), 1u);
  // One frame larger than the aside may hold still converts ahead of its
  // showing, rather than on this thread when shown; a second does not.
  const int huge = 4200;  // 70 MB a copy
  std::vector<Picture> large;
  for (uint8_t i = 0; i < 2; ++i)
    large.push_back(Picture(PictureData::Indexed(
        huge, huge, std::vector<uint8_t>(static_cast<size_t>(huge) * huge, i), palette)));
  PictureCache ahead(0);
  EXPECT_TRUE(ahead.PrepareToShow(large[0]));
  EXPECT_FALSE(ahead.PrepareToShow(large[1]));
}

// A widget converting its frames as it shows them holds a copy per place
// (the frame on show, its background), not the last few conversions: the
// copy of a frame no longer shown goes, its memory written over by the next,
// and a background shown beside the frames is never converted again.
TEST(PictureCache, APlaceHoldsTheCopyOfWhatItShowsAndWritesOverItForTheNext) {
  PictureData::Palette palette{};
  for (uint32_t i = 0; i < 256; ++i) palette[i] = 0xFF000000u | i;
  auto indexed = [&](uint8_t index) {
    return Picture(PictureData::Indexed(16, 16, std::vector<uint8_t>(16 * 16, index), palette));
  };
  std::vector<Picture> frames;
  for (uint8_t i = 0; i < 8; ++i) frames.push_back(indexed(i));
  const Picture background = indexed(200);
  const int frame_place = 0, back_place = 0;
  PictureCache cache(0);
  PictureCache viewer(0);  // sees which copies the cache still holds
  std::set<const uchar*> memory;
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(cache.Get(background, &back_place).pixel(0, 0), 0xFF0000C8u);
    const uchar* shown = cache.Get(frames[i], &frame_place).constBits();
    EXPECT_EQ(cache.Get(frames[i], &frame_place).pixel(15, 15), 0xFF000000u | i);
    EXPECT_EQ(cache.Get(frames[i], &frame_place).constBits(), shown);  // repainted as it is
    memory.insert(shown);
    for (size_t j = 0; j <= i; ++j)
      EXPECT_EQ(viewer.Has(frames[j]), i - j < PictureCache::kCopiesPerPlace) << i << " " << j;
  }
  EXPECT_EQ(cache.conversions(), static_cast<int64_t>(frames.size()) + 1);
  EXPECT_EQ(memory.size(), PictureCache::kCopiesPerPlace);
  EXPECT_EQ(viewer.conversions(), 0);

  // A copy held elsewhere is not written over: the place lets it go instead.
  const QImage kept = cache.GetToKeep(frames.back());
  EXPECT_EQ(cache.Get(frames.front(), &frame_place).pixel(0, 0), 0xFF000000u);
  EXPECT_EQ(kept.pixel(0, 0), 0xFF000007u);
}

// An image got to keep holds its picture, which may go meanwhile; a
// conversion that ends without a copy, its picture gone, still tells ready.
TEST(PictureCache, AnImageGotToKeepOutlivesItsPictureAndEachConversionEndTellsReady) {
  PictureCache cache(1 << 20);
  QImage kept;
  {
    const Picture red = Picture::Solid(8, 8, 0xFFFF0000);
    const uchar* painted = cache.Get(red).constBits();
    kept = cache.GetToKeep(red);
    EXPECT_EQ(kept.constBits(), painted);  // the same pixels, not a copy
  }
  EXPECT_EQ(kept.pixel(7, 7), 0xFFFF0000u);

  std::vector<const PictureData*> told;
  cache.set_ready([&](const Picture& picture) { told.push_back(picture.data()); });
  {
    const Picture gone = Picture::Solid(8, 8, 0xFF00FF00);
    ASSERT_TRUE(cache.PrepareToShow(gone));
  }
  const Picture stays = Picture::Solid(8, 8, 0xFF0000FF);
  ASSERT_TRUE(cache.PrepareToShow(stays));
  PictureCache::WaitForConversions();
  QCoreApplication::processEvents();
  std::sort(told.begin(), told.end());
  EXPECT_EQ(told, (std::vector<const PictureData*>{nullptr, stays.data()}));
}

// A 4 x 2 frame of the palette's first colours, with the given index at its
// last pixel.
Picture IndexedFrame(const PictureData::Palette& palette, uint8_t last) {
  return Picture(PictureData::Indexed(4, 2, {0, 1, 2, 0, 1, 2, 0, last}, palette));
}

TEST(PictureCache, OpaqueFramesHeldAs32BitPixelsPaintAsTheirCompactFormWithoutACopy) {
  PictureData::Palette palette{};
  for (uint32_t i = 0; i < 256; ++i) palette[i] = 0xFF000000u | i * 0x010203u;
  palette[9] = 0x80FF0000u;  // half transparent
  const Picture opaque = IndexedFrame(palette, 1);
  const Picture hole = IndexedFrame(palette, 9);
  const Picture many_colours = Picture::Solid(4, 2, 0xFF123456);  // 32-bit already
  constexpr size_t kFrame = 4 * 2 * 4;                            // bytes of one at 32 bits
  enum Held { kCompact, k32Bit };
  struct Row {
    const char* what;
    std::vector<Picture> frames;
    size_t bytes;
    int64_t budget;
    std::vector<Held> held;
  };
  const std::vector<Row> rows = {
      {"opaque frames within the bytes",
       {opaque, opaque, opaque},
       3 * kFrame,
       1 << 20,
       {k32Bit, k32Bit, k32Bit}},
      {"a frame with a see-through pixel stays compact",
       {opaque, hole, opaque},
       3 * kFrame,
       1 << 20,
       {k32Bit, kCompact, k32Bit}},
      {"frames past the bytes stay compact",
       {opaque, many_colours, opaque, opaque},
       2 * kFrame,
       1 << 20,
       {k32Bit, k32Bit, kCompact, kCompact}},
      {"no room left in the memory budget",
       {opaque, opaque},
       2 * kFrame,
       kFrame,
       {k32Bit, kCompact}},
      {"none held so by default", {opaque}, 0, 1 << 20, {kCompact}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ComposedAnimation animation;
    for (const Picture& frame : row.frames)
      animation.frames.push_back(ComposedFrame{Picture(frame.shared()), 100});
    MemoryBudget budget(row.budget);
    HoldFramesReadyToPaint(animation, row.bytes, &budget);
    ASSERT_EQ(animation.frames.size(), row.held.size());
    int64_t reserved = 0;
    for (size_t i = 0; i < row.held.size(); ++i) {
      const Picture& was = row.frames[i];
      const Picture& now = animation.frames[i].picture;
      EXPECT_EQ(now.data()->format() == PictureData::Format::kArgb32, row.held[i] == k32Bit)
          << "frame " << i;
      if (now != was) reserved += kFrame;
      // Painted, it shows the same pixels; opaque 32-bit pixels are painted
      // as they are.
      const QImage painted = PaintImageOf(now);
      EXPECT_EQ(painted, ToPaintImage(*was.data())) << "frame " << i;
      const bool borrowed =
          painted.constBits() == reinterpret_cast<const uchar*>(now.data()->argb());
      EXPECT_EQ(borrowed, row.held[i] == k32Bit) << "frame " << i;
    }
    EXPECT_EQ(budget.used(), reserved);
  }
  // The reservation goes with the frame.
  MemoryBudget budget(1 << 20);
  {
    ComposedAnimation animation;
    animation.frames.push_back(ComposedFrame{IndexedFrame(palette, 1), 100});
    HoldFramesReadyToPaint(animation, kFrame, &budget);
    EXPECT_EQ(budget.used(), static_cast<int64_t>(kFrame));
  }
  EXPECT_EQ(budget.used(), 0);
}

TEST(Colors, ControlColourValuesResolveAgainstThePalette) {
  QPalette pal;
  pal.setColor(QPalette::Base, QColor(1, 2, 3));
  pal.setColor(QPalette::Button, QColor(4, 5, 6));
  pal.setColor(QPalette::WindowText, QColor(7, 8, 9));
  pal.setColor(QPalette::Highlight, QColor(10, 11, 12));
  struct Row {
    uint32_t value;
    QColor expected;
  };
  for (const Row& row : {Row{0x000000FF, QColor(255, 0, 0)}, Row{0x00FF0000, QColor(0, 0, 255)},
                         Row{0x80000005, QColor(1, 2, 3)}, Row{0x8000000F, QColor(4, 5, 6)},
                         Row{0x80000008, QColor(7, 8, 9)}, Row{0x8000000D, QColor(10, 11, 12)},
                         Row{0x800000FF, QColor(0, 0, 0)}}) {
    EXPECT_EQ(ResolveColor(static_cast<int32_t>(row.value), pal), row.expected)
        << std::hex << row.value;
  }
  EXPECT_EQ(ColorValue(QColor(0x11, 0x22, 0x33)), 0x00332211);
}

TEST(FlipreelWidgetForms, SavesAndRestoresThroughASavedFormFile) {
  GifFile gif(FourFrames());
  testfiles::TempDir dir;
  const QString form = QString::fromStdString(dir.path() + "/form.json");
  {
    FlipreelWidget w;
    w.setBorderStyle(1);
    w.setFlipreelFile(gif.qpath());
    w.setSequence(3);
    w.setBackColorValue(ColorValueOf(kGreen));
    ASSERT_TRUE(w.saveForm(form, "Reel")) << w.lastError().description.toStdString();
  }
  FlipreelWidget w;
  HostOf(w).SetManualTicks(true);
  ASSERT_TRUE(w.loadForm(form)) << w.lastError().description.toStdString();
  EXPECT_EQ(w.Frames(), 4);
  EXPECT_EQ(w.Sequence(), 3);
  EXPECT_EQ(w.BorderStyle(), 1);
  ExpectSpots(Shot(w), {{1, 1, kRed}, {50, 50, kGreen}});

  // What cannot be read or must not be overwritten is refused.
  const std::string notes = dir.Write("notes.txt", "not a form");
  EXPECT_FALSE(w.saveForm(QString::fromStdString(notes), "Reel"));
  EXPECT_EQ(testfiles::ReadFile(notes), "not a form");
  EXPECT_FALSE(w.loadForm(QString::fromStdString(dir.path() + "/missing.json")));
  EXPECT_NE(w.lastError().number, 0);
}

}  // namespace
