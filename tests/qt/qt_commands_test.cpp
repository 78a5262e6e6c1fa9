// The play and render commands of the flipreel tool.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>

#include "cli/commands.h"
#include "tests/qt/qt_test_support.h"

using namespace qttest;

namespace {

// Runs one of the tool's Qt commands in this process.
void RunQtCommand(std::vector<std::string> args) {
  CLI::App app;
  int argc = 1;
  char name[] = "flipreel";
  char* argv[] = {name, nullptr};
  flipreel::cli::AddQtCommands(app, argc, argv);
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  app.parse(args);
}

TEST(RenderCommand, DrawsEachTickIntoAContactSheetAndOnePngPerTick) {
  GifFile gif(FourFrames());
  testfiles::TempDir out;
  const std::string sheet = out.path() + "/sheet.png";
  const std::string frames = out.path() + "/ticks";
  RunQtCommand({"render", gif.path, "-o", sheet, "--ticks", "4", "--columns", "2", "--frames",
                frames, "--classic"});

  // Without AutoSize the control opens large enough for every frame: 16 x 9.
  const QImage image(QString::fromStdString(sheet));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width(), 2 * (16 + 6) + 6);
  const QImage tick2(QString::fromStdString(frames + "/tick-0002.png"));
  ASSERT_EQ(tick2.size(), QSize(16, 9));
  EXPECT_EQ(At(tick2, 2, 1), Rgb(kGreen));  // frame 1 at its offset
  EXPECT_EQ(QDir(QString::fromStdString(frames)).entryList(QDir::Files).size(), 4);
}

TEST(FramesCommand, WritesEachStoredOrComposedFrame) {
  GifFile gif(FourFrames());
  // Composed by default, as the widget shows the GIF; --classic as stored.
  for (const char* option : {"--classic", "--composed", ""}) {
    SCOPED_TRACE(option);
    const bool composed = option != std::string("--classic");
    testfiles::TempDir out;
    std::vector<std::string> args = {"frames", gif.path, "-o", out.path() + "/f"};
    if (*option) args.push_back(option);
    RunQtCommand(args);
    const QDir dir(QString::fromStdString(out.path() + "/f"));
    ASSERT_EQ(dir.entryList(QDir::Files).size(), 4);
    // As stored, frame 3 is its own 10 x 6 block; composed, the whole 20 x 12
    // screen with frame 2's block still showing beside it.
    const QImage last(dir.filePath("frame-0003.png"));
    EXPECT_EQ(last.size(), composed ? QSize(20, 12) : QSize(10, 6));
    if (composed) {
      EXPECT_EQ(At(last, 4, 2), Rgb(kCyan));
    }
  }
}

TEST(PlayCommand, WithoutADisplaySaysSoAndPointsToRender) {
  GifFile gif(FourFrames());
  QProcess tool;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  tool.setProcessEnvironment(env);
  tool.start(FLIPREEL_TOOL, {"play", gif.qpath()});
  ASSERT_TRUE(tool.waitForFinished(30000));
  EXPECT_EQ(tool.exitCode(), 1);
  const QString err = QString::fromUtf8(tool.readAllStandardError());
  EXPECT_TRUE(err.contains("no display is available")) << err.toStdString();
  EXPECT_TRUE(err.contains("flipreel render")) << err.toStdString();
}

}  // namespace
