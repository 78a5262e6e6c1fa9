// The GIF picture loader: the picture of a file's first image, and the frame
// files exactly as the split cuts them.
#include <random>
#include <string>

#include "examples/example_gifs.h"
#include "tests/loading/loading_support.h"

using namespace flipreel;
using namespace loadingtest;

namespace {

uint32_t ExpectedArgb(const testgif::Gif& gif, const testgif::Frame& f, int x, int y) {
  const std::vector<uint32_t>& table =
      f.local_palette.empty() ? gif.global_palette : f.local_palette;
  const uint8_t index = f.pixels[static_cast<size_t>(y) * f.width + x];
  const uint32_t rgb = index < table.size() ? table[index] : 0;
  return (index == f.transparent ? 0u : 0xFF000000u) | rgb;
}

void ExpectPicture(const Picture& p, const testgif::Gif& gif, const testgif::Frame& f) {
  ASSERT_EQ(p.width(), f.width);
  ASSERT_EQ(p.height(), f.height);
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x)
      ASSERT_EQ(p.data()->PixelArgb(x, y), ExpectedArgb(gif, f, x, y)) << x << "," << y;
}

// A frame whose every row differs from every other, so that a misplaced
// interlaced row shows.
testgif::Frame Rows(int width, int height, int colours) {
  testgif::Frame f;
  f.width = width;
  f.height = height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) f.pixels.push_back(static_cast<uint8_t>((y * 3 + x) % colours));
  return f;
}

}  // namespace

TEST(Decoder, FirstImageOfAFile) {
  const std::vector<uint32_t> local = {0x112233, 0x445566, 0x778899, 0xAABBCC};
  struct Row {
    const char* name;
    testgif::Frame frame;
  };
  auto frame = [](int width, int height, int colours, auto change) {
    testgif::Frame f = Rows(width, height, colours);
    change(f);
    return f;
  };
  std::vector<Row> rows = {
      // The picture is the image's size, not the screen's.
      {"global table, offset image", frame(5, 4, 2, [](auto& f) { f.left = 3; })},
      {"local table", frame(6, 3, 4, [&](auto& f) { f.local_palette = local; })},
      {"transparent index", frame(6, 3, 2, [](auto& f) { f.transparent = 1; })},
      {"no extension", frame(3, 1, 2, [](auto& f) { f.gce = false; })},
  };
  for (int height : {1, 2, 5, 8, 13, 17}) {
    testgif::Frame f = Rows(7, height, 4);
    f.interlace = true;
    f.local_palette = local;
    f.transparent = 2;
    rows.push_back({"interlaced", f});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << row.name << " " << row.frame.width << "x" << row.frame.height);
    testgif::Gif gif;
    gif.width = 16;
    gif.height = 12;
    gif.global_palette = {0xFF0000, 0x00FF00};
    gif.frames = {row.frame, Rows(2, 2, 2)};
    const std::string file = testgif::Build(gif);
    ExpectPicture(Decode(file), gif, row.frame);
    // The cut of a last frame: no trailer and no final block terminator.
    gif.frames.pop_back();
    const std::string cut = testgif::Build(gif);
    ExpectPicture(Decode(cut.substr(0, cut.size() - 2)), gif, row.frame);
  }
}

// Every prefix of a file either lacks some of the image's data (refused) or
// holds all of it, with or without the final block terminator (decoded).
TEST(Decoder, AcceptsOnlyTheMissingFinalTerminator) {
  testgif::Gif gif;
  gif.global_palette.resize(256);
  testgif::Frame f = Rows(40, 30, 256);  // several data sub-blocks
  std::mt19937 random(7);
  for (uint8_t& p : f.pixels) p = static_cast<uint8_t>(random());
  gif.frames = {f};
  const std::string file = testgif::Build(gif);
  const size_t terminator = file.size() - 2;  // the image data's last 00
  ASSERT_EQ(file[terminator], 0);
  for (size_t length = 0; length <= file.size(); ++length) {
    SCOPED_TRACE(length);
    const std::string prefix = file.substr(0, length);
    if (length < terminator) {
      EXPECT_EQ(DecodeError(prefix), err::kInvalidPicture);
    } else {
      ExpectPicture(Decode(prefix), gif, f);
    }
  }
  // Anything may follow the first image.
  ExpectPicture(Decode(file + "\x21\xF9 trailing bytes"), gif, f);
}

// The example animations, encoded by giflib with codes of every width, come
// through the control frame by frame as they were drawn.
TEST(Decoder, ExamplesThroughTheControl) {
  for (const gifexamples::Example& example : gifexamples::Examples()) {
    SCOPED_TRACE(example.file_name);
    const gifexamples::AnimatedGif gif = example.make();
    Loaded l;
    const std::string path = l.dir.path() + "/" + example.file_name;
    gifexamples::WriteGif(path, gif);
    l.Load(path);
    ASSERT_TRUE(l.control.state().FramesLoaded);
    ASSERT_EQ(l.control.state().LastFrame + 1, static_cast<int32_t>(gif.frames.size()));
    for (size_t i = 0; i < gif.frames.size(); ++i) {
      SCOPED_TRACE(i);
      const gifexamples::FrameImage& f = gif.frames[i];
      const Image& element = l.frame(static_cast<int>(i));
      EXPECT_EQ(element.tag(), FormatLong(f.delay_cs * 10));
      if (i > 0) {
        EXPECT_EQ(element.left(), f.left * 15);
        EXPECT_EQ(element.top(), f.top * 15);
      }
      const Picture& p = element.picture();
      ASSERT_EQ(p.width(), f.width);
      ASSERT_EQ(p.height(), f.height);
      for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x)
          ASSERT_EQ(p.data()->PixelArgb(x, y), gifexamples::ExpectedArgb(gif, f, x, y))
              << x << "," << y;
    }
  }
}

// A picture reserves its indices and palette from the budget before they are
// allocated, and gives them back with its last reference; one that does not
// fit is the out-of-memory error, naming the picture.
TEST(Decoder, ReservesFromTheBudget) {
  testgif::Gif gif;
  gif.global_palette = {0xFF0000, 0x00FF00};
  gif.frames = {Rows(40, 30, 2)};
  const std::string file = testgif::Build(gif);
  const auto bytes = Span(file);
  const int64_t needed = 40 * 30 + static_cast<int64_t>(sizeof(PictureData::Palette));
  for (const int64_t limit : {needed, needed - 1}) {
    SCOPED_TRACE(limit);
    MemoryBudget budget(limit);
    if (limit < needed) {
      const testsupport::Raised e = testsupport::RaisedBy([&] { DecodeGif(bytes, &budget); });
      EXPECT_EQ(e.number, err::kOutOfMemory);
      EXPECT_NE(e.description.find("a picture of 40 x 30 pixels"), std::string::npos)
          << e.description;
      EXPECT_EQ(budget.used(), 0);
      continue;
    }
    Picture p = DecodeGif(bytes, &budget);
    EXPECT_EQ(budget.used(), needed);
    p = Picture();
    EXPECT_EQ(budget.used(), 0);
  }
}
