// Composed frames compared pixel by pixel with pictures worked out by hand,
// never by the code under test (the agreement with giflib's reader, composed
// by a per-pixel rule of our own, is checked with the loading tests).
#include <algorithm>

#include "tests/composed/composed_support.h"
#include "tests/support/checks.h"

namespace composedtest {
namespace {

using testgif::Build;
using testgif::Gif;

// An image drawn at once, without a Graphic Control Extension.
testgif::Frame Undelayed(testgif::Frame f) {
  f.gce = false;
  return f;
}

// An image with no pixels, w x h where one of them is 0.
testgif::Frame Empty(int left, int top, int w, int h) {
  testgif::Frame f;
  f.left = left;
  f.top = top;
  f.width = w;
  f.height = h;
  return f;
}

Gif Looping(Gif gif) {
  gif.netscape_loop = true;
  return gif;
}

Gif WithoutColourTables() {
  Gif gif = Screen(2, 1, {Patch(0, 0, {"RG"})});
  gif.global_palette.clear();
  return gif;
}

Gif WithLocalTable() {
  testgif::Frame local = Patch(0, 0, {"KR", "RK"});  // indices 0 1 / 1 0 of its own table
  local.local_palette = {0x0000FF, 0xFFFF00};
  return Screen(3, 2, {Patch(0, 0, {"WWW", "WWW"}, 1), local, Patch(2, 1, {"R"})});
}

Gif IndexBeyondTheTable() {
  Gif gif = Screen(2, 1, {Patch(0, 0, {"RW"})});
  gif.global_palette = {0x000000, 0xFF0000};  // two entries: white (4) is beyond
  return gif;
}

struct ComposeCase {
  const char* name;
  Gif gif;
  std::vector<std::string> expected;  // one grid per frame
  std::string delays_ms = "";         // each frame's delay; empty: 100 each
};

// Which images make a frame, what each frame shows, and how large the
// picture is.
TEST(ComposedFrames, DisposalTransparencyClippingColourTablesAndDelays) {
  const std::vector<testgif::Frame> tiles = {
      Undelayed(Patch(0, 0, {"R"})), Undelayed(Patch(1, 0, {"G"})), Undelayed(Patch(0, 1, {"B"})),
      Undelayed(Patch(1, 1, {"W"}))};
  const ComposeCase cases[] = {
      {"keep (unspecified and 1)",
       Screen(3, 2, {Patch(0, 0, {"RRR", "RRR"}, 1), Patch(1, 0, {"G"}, 0), Patch(0, 1, {"BB"})}),
       {"RRR/RRR", "RGR/RRR", "RGR/BBR"}},
      {"restore to background clears to transparent",
       Screen(3, 2,
              {Patch(0, 0, {"RRR", "RRR"}, 1), Patch(1, 0, {"GG", "GG"}, 2), Patch(0, 0, {"B"})}),
       {"RRR/RRR", "RGG/RGG", "B../R.."}},
      {"restore to previous",
       Screen(3, 2, {Patch(0, 0, {"RRR", "RRR"}, 1), Patch(0, 0, {"GG"}, 3), Patch(2, 1, {"B"})}),
       {"RRR/RRR", "GGR/RRR", "RRR/RRB"}},
      {"disposal 4 restores as 3 does",
       Screen(2, 1, {Patch(0, 0, {"RR"}, 1), Patch(0, 0, {"G"}, 4), Patch(1, 0, {"B"})}),
       {"RR", "GR", "RB"}},
      {"restore to previous on the first frame leaves the empty screen",
       Screen(2, 1, {Patch(0, 0, {"RR"}, 3), Patch(1, 0, {"G"})}),
       {"RR", ".G"}},
      {"transparent pixels over a coloured frame, and over nothing",
       Screen(3, 2,
              {Patch(0, 0, {".R.", "R.R"}, 1), Patch(0, 0, {"YYY", "YYY"}),
               Patch(0, 0, {"G.G", ".B."})}),
       {".R./R.R", "YYY/YYY", "GYG/YBY"}},
      {"a frame partly off the screen is clipped",
       Screen(3, 2,
              {Patch(0, 0, {"RRR", "RRR"}, 1), Patch(2, 1, {"GW", "BY"}, 2), Patch(0, 0, {"K"})}),
       {"RRR/RRR", "RRR/RRG", "KRR/RR."}},
      {"a frame wholly off the screen changes nothing",
       Screen(2, 1, {Patch(0, 0, {"RR"}), Patch(5, 5, {"G"})}),
       {"RR", "RR"}},
      {"a local table for its own frame only", WithLocalTable(), {"WWW/WWW", "BYW/YBW", "BYW/YBR"}},
      {"no colour table at all draws black", WithoutColourTables(), {"KK"}},
      {"an index beyond the table draws black", IndexBeyondTheTable(), {"RK"}},
      {"tiles without delays are one still picture", Screen(2, 2, tiles), {"RG/BW"}},
      {"tiles without delays that loop are a frame each",
       Looping(Screen(2, 2, tiles)),
       {"R./..", "RG/..", "RG/B.", "RG/BW"}},
      {"a background without a delay is drawn with the first frame",
       Screen(
           3, 1,
           {Undelayed(Patch(0, 0, {"KKK"})), Patch(0, 0, {"R"}, 1, 20), Patch(1, 0, {"G"}, 1, 30)}),
       {"RKK", "RGK"},
       "200 300"},
      {"a delay of 0 joins the next image; images after the last delay make a frame",
       Screen(3, 1,
              {Patch(0, 0, {"RRR"}, 1, 10), Patch(0, 0, {"G"}, 1, 0), Patch(1, 0, {"B"}, 1, 20),
               Patch(2, 0, {"W"}, 1, 0)}),
       {"RRR", "GBR", "GBW"},
       "100 200 100"},
      {"restore to previous after an undelayed first image",
       Screen(2, 1, {Patch(0, 0, {"RR"}, 3, 0), Patch(1, 0, {"G"}, 1, 10)}),
       {".G"}},
      {"an undelayed image cleared before the next is drawn",
       Screen(2, 1, {Patch(0, 0, {"RR"}, 1), Patch(0, 0, {"GG"}, 2, 0), Patch(1, 0, {"B"}, 1)}),
       {"RR", ".B"}},
      {"the last image keeps its disposal undone",
       Screen(2, 1, {Patch(0, 0, {"RR"}, 1), Patch(0, 0, {"G"}, 2, 0)}),
       {"RR", "GR"}},
      {"a first image larger than the screen does not grow it",
       Screen(2, 1, {Patch(1, 0, {"GGG", "GGG"})}),
       {".G"}},
      {"a 0 x 0 screen takes the first image's extent",
       Screen(0, 0, {Patch(1, 1, {"RR"}, 1), Patch(0, 0, {"GGGG"})}),
       {".../.RR", "GGG/.RR"}},
      {"images without width or height draw nothing",
       Screen(2, 1, {Empty(0, 0, 0, 1), Patch(0, 0, {"RR"}, 1), Empty(1, 0, 1, 0)}),
       {"..", "RR", "RR"}},
  };
  for (const ComposeCase& c : cases) {
    SCOPED_TRACE(c.name);
    ComposedControl l;
    l.LoadBytes(Build(c.gif));
    EXPECT_TRUE(l.host.messages().empty());
    EXPECT_EQ(testsupport::Joined(l.grids(), " "), testsupport::Joined(c.expected, " "));
    std::vector<std::string> delays;
    for (int16_t i = 0; i < l.frames(); ++i)
      delays.push_back(TextToUtf8(l.control.imgBuffer()(i).tag()));
    const std::vector<std::string> each(c.expected.size(), "100");
    EXPECT_EQ(testsupport::Joined(delays, " "),
              c.delays_ms.empty() ? testsupport::Joined(each, " ") : c.delays_ms);
  }
}

// A picture of more colours than one table holds, in tiles of 256 colours
// each with a table of its own, is one picture with every tile's colours.
TEST(ComposedFrames, HighColourTilesMakeOnePicture) {
  constexpr int kTile = 16;  // 16 x 16 pixels: every index once
  auto colour = [](int tile, int index) {
    return static_cast<uint32_t>(tile == 0 ? index << 16 | 0x40 : index << 8 | 0x80);
  };
  Gif gif = Screen(kTile, 2 * kTile, {});
  for (int t = 0; t < 2; ++t) {
    testgif::Frame f;
    f.gce = false;
    f.top = t * kTile;
    f.width = f.height = kTile;
    for (int i = 0; i < kTile * kTile; ++i) {
      f.local_palette.push_back(colour(t, i));
      f.pixels.push_back(static_cast<uint8_t>(i));
    }
    gif.frames.push_back(f);
  }
  ComposedControl l;
  l.LoadBytes(Build(gif));
  ASSERT_EQ(l.frames(), 1);
  const Picture p = l.frame(0);
  ASSERT_EQ(p.width(), kTile);
  ASSERT_EQ(p.height(), 2 * kTile);
  int wrong = 0;
  for (int y = 0; y < 2 * kTile; ++y)
    for (int x = 0; x < kTile; ++x)
      wrong +=
          p.data()->PixelArgb(x, y) != (0xFF000000u | colour(y / kTile, (y % kTile) * kTile + x));
  EXPECT_EQ(wrong, 0);
}

// Image data whose bytes hold 00 21 F9: with a minimum code size of 8 the
// builder writes 9-bit literal codes after a clear code, so pixels 7 to 10
// set data bytes 10 to 12 to exactly 00 21 F9.
std::string FileWithSignatureInImageData(std::vector<testgif::Frame>& frames) {
  testgif::Frame f;
  f.width = 12;
  f.height = 1;
  f.pixels = {1, 1, 1, 1, 1, 1, 1, 1, 128, 72, 31, 1};
  frames = {Patch(0, 0, {"RRRRRRRRRRRR"}, 1, 20), f, Patch(0, 0, {"G"}, 0, 30)};
  Gif gif = Screen(12, 1, frames);
  gif.global_palette.resize(256, 0x808080);
  return Build(gif);
}

// Every image is a frame, wherever the bytes 00 21 F9 occur and whether or
// not a Graphic Control Extension comes first or directly follows the table.
TEST(ComposedFrames, EveryImageIsAFrameWhateverItsBytes) {
  std::vector<testgif::Frame> frames;
  const std::string signature_in_data = FileWithSignatureInImageData(frames);
  const std::string image = testgif::Image(frames[1]);
  ASSERT_NE(image.find(std::string("\x00\x21\xF9", 3)), std::string::npos);

  // The global table ends in a colour that is not 00, and the extension
  // follows it at once.
  Gif after_table = Screen(
      2, 1, {Patch(0, 0, {"RR"}, 1, 20), Patch(0, 0, {"G"}, 1, 30), Patch(1, 0, {"B"}, 1, 40)});
  after_table.global_palette.back() = 0x0000FF;
  Gif without_extensions = after_table;
  for (testgif::Frame& f : without_extensions.frames) f.gce = false;

  struct Row {
    const char* name;
    std::string bytes;
    int frames;
    std::vector<const char*> delays;
  } rows[] = {
      {"00 21 F9 inside image data", signature_in_data, 3, {"200", "100", "300"}},
      {"extension right after the table", Build(after_table), 3, {"200", "300", "400"}},
      {"images without extensions are one picture", Build(without_extensions), 1, {"100"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ComposedControl l;
    l.LoadBytes(r.bytes);
    ASSERT_EQ(l.frames(), r.frames);
    EXPECT_TRUE(l.host.messages().empty());
    for (int16_t i = 0; i < r.frames; ++i)
      EXPECT_EQ(l.control.imgBuffer()(i).tag(), Utf8ToText(r.delays[i])) << i;
  }
  ComposedControl l;
  l.LoadBytes(Build(after_table));
  EXPECT_EQ(testsupport::Joined(l.grids(), " "), "RR GR GB");
}

// A damaged file keeps what came before the damage; a file with no frame
// that can be read fails as the classic load does, with the message.
TEST(ComposedFrames, DamagedFilesKeepWhatCanBeRead) {
  const Gif gif = Screen(
      2, 2,
      {Patch(0, 0, {"RR", "RR"}, 1), Patch(0, 0, {"GG", "GG"}, 1), Patch(0, 0, {"BB", "BB"}, 1)});
  const std::string whole = Build(gif);
  const std::string header = testgif::Header(gif);
  size_t third = header.size();
  for (int i = 0; i < 2; ++i)
    third += testgif::GraphicControlExtension(gif.frames[i]).size() +
             testgif::Image(gif.frames[i]).size();
  std::string bad_record = whole.substr(0, third) + "\x99";

  struct Row {
    const char* name;
    std::string bytes;
    std::string grids;
    int32_t message_error;  // the number in the message, 0 for none
  } rows[] = {
      {"no trailer", whole.substr(0, whole.size() - 1), "RR/RR GG/GG BB/BB", 0},
      {"cut after the second image", whole.substr(0, third), "RR/RR GG/GG", 0},
      {"an unknown block after the second image", bad_record, "RR/RR GG/GG", 0},
      {"a header without images", header + ";", "", err::kInvalidPicture},
      {"cut inside the first image", whole.substr(0, header.size() + 14), "", err::kInvalidPicture},
      {"not a GIF", "PNG", "", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ComposedControl l;
    l.LoadBytes(r.bytes);
    EXPECT_EQ(testsupport::Joined(l.grids(), " "), r.grids);
    if (r.grids.empty()) {
      EXPECT_EQ(l.control.FlipreelFile(), u"(None)");
    }
    ASSERT_EQ(l.host.messages().size(), r.message_error ? 1u : 0u);
    if (r.message_error) {
      EXPECT_EQ(l.host.messages()[0].text,
                u"Error No. " + FormatLong(r.message_error) + u" : when reading file");
    }
  }
}

}  // namespace
}  // namespace composedtest
