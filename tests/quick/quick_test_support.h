// What the QML type's tests share: waiting on the event loop, writing their
// GIFs, and GIFs of large frames for its drawing tests.
#pragma once

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>
#include <iterator>

#include "tests/support/gif_builder.h"

namespace flipreel {

// Runs the event loop until `done` holds or the time is up; whether it holds.
template <typename Done>
bool WaitFor(Done&& done, int ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < ms) QTest::qWait(5);
  return done();
}

// Writes the bytes to a file of that name in the folder; its path.
inline QString WriteFile(const QTemporaryDir& dir, const QString& name, const std::string& bytes) {
  QFile file(dir.filePath(name));
  // A file that cannot be written whole fails the test here, and its empty
  // name fails the load that follows.
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
          static_cast<qint64>(bytes.size()) ||
      !file.flush()) {
    ADD_FAILURE() << "cannot write " << name.toStdString();
    return QString();
  }
  return file.fileName();
}

// Frame i of w x h has rows of eight colours in turn, shifted by i rows, so
// that every frame differs from the others on every row and every row from
// its neighbours.
namespace teststripes {

inline constexpr uint32_t kColours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00,
                                        0x00FFFF, 0xFF00FF, 0xFFFFFF, 0x000000};

// The colour (0xRRGGBB) of row y of frame i.
inline uint32_t RowColour(int frame, int y) {
  return kColours[(y + frame) % 8];
}

inline testgif::Gif Stripes(int width, int height, int frames) {
  testgif::Gif gif;
  gif.width = width;
  gif.height = height;
  gif.global_palette.assign(std::begin(kColours), std::end(kColours));
  gif.netscape_loop = true;
  for (int i = 0; i < frames; ++i) {
    testgif::Frame f;
    f.delay_cs = 4;
    f.width = width;
    f.height = height;
    f.pixels.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        f.pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>((y + i) % 8);
    gif.frames.push_back(f);
  }
  return gif;
}

}  // namespace teststripes
}  // namespace flipreel
