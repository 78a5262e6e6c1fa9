// The widget composes by default; a saved form or saved state restores
// exactly what it saved, and one without the key restores the classic
// control; a classic load that composing would change says so once.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <functional>

#include "flipreel/saved_form/saved_form.h"
#include "tests/qt/qt_test_support.h"

using namespace flipreel;
using namespace qttest;

namespace {

// FourFrames: 10 x 6 blocks at growing offsets on a 20 x 12 screen. Composed,
// every frame is the whole screen; classic, each block alone.
constexpr float kScreenWidth = 20, kBlockWidth = 10;

TEST(FlipreelWidgetComposed, AFormRestoresWhatItSavedAndWithoutTheKeyTheClassicControl) {
  EXPECT_TRUE(FlipreelWidget().Composed());  // a new widget composes
  GifFile file(FourFrames());
  testfiles::TempDir dir;
  const QString form = QString::fromStdString(dir.path() + "/form.json");
  struct Row {
    const char* what;
    bool saved_composed;
    bool through_saved_state;  // setSavedState, as code made from a .ui does; else loadForm
  } rows[] = {
      {"a form saved composed", true, false},
      {"a form saved classic", false, false},
      {"a saved state saved composed", true, true},
      {"a saved state saved classic", false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    QString state;
    {
      FlipreelWidget saved;
      saved.setComposed(row.saved_composed);
      saved.setFlipreelFile(file.qpath());
      ASSERT_TRUE(saved.saveForm(form, "Reel"));
      state = saved.SavedState();
    }
    // Saved classic, the form is what the classic control writes: no key.
    EXPECT_EQ(state.contains("\"Composed\""), row.saved_composed);
    FlipreelWidget restored;
    if (row.through_saved_state) {
      restored.setSavedState(state);
    } else {
      ASSERT_TRUE(restored.loadForm(form));
    }
    EXPECT_EQ(restored.Composed(), row.saved_composed);
    EXPECT_EQ(restored.Frames(), 4);
    EXPECT_FLOAT_EQ(restored.FrameWidth(3), row.saved_composed ? kScreenWidth : kBlockWidth);
  }
}

// Warnings the widget logs while fn runs.
QStringList WarningsDuring(const std::function<void()>& fn) {
  static QStringList* seen = nullptr;
  QStringList warnings;
  seen = &warnings;
  const QtMessageHandler previous =
      qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtWarningMsg && text.startsWith("Flipreel:")) seen->append(text);
      });
  fn();
  qInstallMessageHandler(previous);
  seen = nullptr;
  return warnings;
}

TEST(FlipreelWidgetComposed, AClassicLoadThatComposingWouldChangeSaysSoOnce) {
  GifFile partial(FourFrames());
  // Whole frames, one delay: the classic control shows them as drawn.
  GifFile whole(GifOf(4, 4, {Block(0, 0, 4, 4, kRed, kBlue), Block(0, 0, 4, 4, kGreen, kRed)}));
  testgif::Gif uneven_gif =
      GifOf(4, 4, {Block(0, 0, 4, 4, kRed, kBlue), Block(0, 0, 4, 4, kGreen, kRed)});
  uneven_gif.frames[1].delay_cs = 50;
  GifFile uneven(uneven_gif);
  struct Row {
    const char* what;
    bool composed;
    const GifFile& file;
    int warnings;
  } rows[] = {
      {"partial frames, classic", false, partial, 1},
      {"delays of their own, classic", false, uneven, 1},
      {"whole frames of one delay, classic", false, whole, 0},
      {"partial frames, composed", true, partial, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FlipreelWidget w;
    w.setComposed(row.composed);
    const QStringList warnings = WarningsDuring([&] { w.setFlipreelFile(row.file.qpath()); });
    ASSERT_EQ(warnings.size(), row.warnings) << warnings.join("\n").toStdString();
    EXPECT_EQ(w.FlipreelFile(), "Gif");
    if (row.warnings) {
      EXPECT_TRUE(warnings[0].contains("Composed"));
    }
  }
}

}  // namespace
