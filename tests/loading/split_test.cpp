// The frame split: where the file is cut, what each single-frame file holds,
// and where each frame lands in imgBuffer.
#include <string>

#include "tests/loading/loading_support.h"

using namespace flipreel;
using namespace loadingtest;

namespace {

// Offsets of the extension introducer (21) of each frame's Graphic Control
// Extension in a file built from gif.
std::vector<size_t> ExtensionOffsets(const testgif::Gif& gif) {
  std::vector<size_t> offsets;
  size_t at = testgif::Header(gif).size();
  for (const testgif::Frame& f : gif.frames) {
    offsets.push_back(at);
    at += testgif::GraphicControlExtension(f).size() + testgif::Image(f).size();
  }
  return offsets;
}

// Three frames of which the second cannot be decoded: its descriptor promises
// 10 x 10 pixels while its data holds one pixel and the end code.
std::string WithUndecodableSecondFrame() {
  const testgif::Gif gif = Animation(3);
  testgif::Frame f;
  std::string broken = testgif::Image(f);
  broken[5] = 10;  // width
  broken[7] = 10;  // height
  return testgif::Header(gif) + testgif::GraphicControlExtension(gif.frames[0]) +
         testgif::Image(gif.frames[0]) + testgif::GraphicControlExtension(f) + broken +
         testgif::GraphicControlExtension(gif.frames[2]) + testgif::Image(gif.frames[2]) + ";";
}

}  // namespace

TEST(Split, WorkedExample) {
  const testgif::Gif gif = Animation(3);
  const std::string file = testgif::Build(gif);
  const size_t length = file.size();
  // Signature and version (6), screen descriptor (7), a 2-entry global table
  // (6), NETSCAPE2.0 extension (19) whose terminator 00 sits at offset 37.
  ASSERT_EQ(testgif::Header(gif).size(), 38u);
  ASSERT_EQ(file.substr(37, 3), ByteString({0x00, 0x21, 0xF9}));
  ASSERT_EQ(file.substr(length - 2), ByteString({0x00, 0x3B}));
  const std::vector<size_t> ext = ExtensionOffsets(gif);

  Loaded l;
  l.LoadBytes(file);

  const std::string header = file.substr(0, 39);  // through the 00 21 at 37
  ASSERT_EQ(l.host.loads.size(), 3u);
  // Each file: the header block, then from the label F9 through the 00 21 that
  // begins the next frame; the last one stops before the final 00 3B.
  EXPECT_EQ(l.host.loads[0].bytes, header + file.substr(39, ext[1] + 1 - 39));
  EXPECT_EQ(l.host.loads[1].bytes, header + file.substr(ext[1] + 1, ext[2] - ext[1]));
  EXPECT_EQ(l.host.loads[2].bytes, header + file.substr(ext[2] + 1, length - 2 - (ext[2] + 1)));

  const FlipreelState& s = l.control.state();
  EXPECT_TRUE(s.FramesLoaded);
  EXPECT_EQ(s.LastFrame, 2);
  EXPECT_EQ(l.control.Frames(), 3);
  EXPECT_EQ(l.control.imgBuffer().count(), 3);
  EXPECT_EQ(l.control.FrameRate(), 50);  // frame 1's delay, 5 hundredths
  EXPECT_EQ(l.control.FlipreelFile(), u"Gif");
  for (int i = 0; i < 3; ++i) {  // each frame's own delay and chequered pattern
    EXPECT_EQ(l.frame(i).tag(), FormatLong(50 * (i + 1))) << i;
    EXPECT_EQ(l.frame(i).picture().data()->PixelArgb(0, 0), i % 2 ? 0xFFFFFFFFu : 0xFF000000u);
  }
  EXPECT_TRUE(l.control.imgGif().picture() == l.frame(0).picture());
  EXPECT_TRUE(l.host.messages().empty());
}

TEST(Split, PlacesFramesFromTheirImageOffsets) {
  testgif::Gif gif = Animation(3);
  gif.frames[0].left = 7;  // the first frame's own offset is not read
  gif.frames[0].top = 9;
  gif.frames[1].left = 3;
  gif.frames[1].top = 5;
  gif.frames[2].left = 0;
  gif.frames[2].top = 1000;
  Loaded l;
  l.host.SetTwipsPerPixel(12, 20);
  l.control.SetBorderStyle(1);
  l.LoadBytes(testgif::Build(gif));

  ASSERT_EQ(l.control.Frames(), 3);
  EXPECT_EQ(l.frame(0).left(), 0);
  EXPECT_EQ(l.frame(0).top(), 0);
  EXPECT_EQ(l.frame(1).left(), 3 * 12);
  EXPECT_EQ(l.frame(1).top(), 5 * 20);
  EXPECT_EQ(l.frame(2).left(), 0);
  EXPECT_EQ(l.frame(2).top(), 1000 * 20);
  EXPECT_FALSE(l.frame(1).visible());
  // With a border the visible image stands 10 twips further in.
  EXPECT_EQ(l.control.imgGif().left(), 10);
  EXPECT_EQ(l.control.imgGif().top(), 10);
}

// A file with a single signature yields one frame, which Frames counts as 0.
TEST(Split, SingleFrame) {
  Loaded l;
  l.LoadBytes(testgif::Build(Animation(1)));
  EXPECT_TRUE(l.control.state().FramesLoaded);
  EXPECT_EQ(l.control.state().LastFrame, 0);
  EXPECT_EQ(l.control.Frames(), 0);
  EXPECT_EQ(l.control.imgBuffer().count(), 1);
}

// Without an extension right before it, a global colour table ending in a
// non-zero byte hides the first frame's signature: the first image becomes
// part of the header block, so every frame file shows that image, while the
// delays and offsets come from the later extensions.
TEST(Split, FirstExtensionAfterANonZeroByteIsNotFound) {
  testgif::Gif gif = Animation(3);
  gif.netscape_loop = false;  // the table's last byte FF meets 21 F9
  gif.frames[0].pixels.assign(12, 1);
  gif.frames[2].left = 2;
  gif.frames[2].top = 1;
  const std::string file = testgif::Build(gif);
  ASSERT_EQ(file.substr(18, 3), ByteString({0xFF, 0x21, 0xF9}));
  const std::vector<size_t> ext = ExtensionOffsets(gif);

  Loaded l;
  l.LoadBytes(file);

  ASSERT_EQ(l.host.loads.size(), 2u);
  EXPECT_EQ(l.host.loads[0].bytes.substr(0, ext[1] + 1), file.substr(0, ext[1] + 1));
  EXPECT_EQ(l.control.state().LastFrame, 1);
  EXPECT_EQ(l.control.FrameRate(), 100);  // the second frame's delay
  EXPECT_EQ(l.frame(1).tag(), u"150");
  EXPECT_EQ(l.frame(1).left(), 2 * 15);
  EXPECT_EQ(l.frame(1).top(), 1 * 15);
  for (int i = 0; i < 2; ++i) {
    const Picture& p = l.frame(i).picture();
    ASSERT_EQ(p.width(), 4);
    for (int px = 0; px < 12; ++px) EXPECT_EQ(p.data()->PixelArgb(px % 4, px / 4), 0xFFFFFFFFu);
  }
}

// The split knows nothing of the block structure: 00 21 F9 in the middle of
// compressed image data starts a frame like any other.
TEST(Split, SignatureInsideImageDataStartsAFrame) {
  testgif::Gif gif = Animation(2);
  gif.global_palette.resize(256);
  // A clear code (256) then the codes 144 and 62, nine bits each, pack into
  // the bytes 00 21 F9.
  gif.frames[0].width = 12;
  gif.frames[0].height = 1;
  gif.frames[0].pixels = {144, 62, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::string file = testgif::Build(gif);
  const std::vector<size_t> ext = ExtensionOffsets(gif);
  const size_t inside = file.find(ByteString({0x00, 0x21, 0xF9}), ext[0] + 2);
  ASSERT_LT(inside, ext[1]);

  Loaded l;
  l.host.decode = false;
  l.LoadBytes(file);

  ASSERT_EQ(l.host.loads.size(), 3u);
  const std::string header = file.substr(0, ext[0] + 1);
  EXPECT_EQ(l.host.loads[0].bytes, header + file.substr(ext[0] + 1, inside + 1 - ext[0]));
  EXPECT_EQ(l.host.loads[1].bytes, header + file.substr(inside + 2, ext[1] + 1 - (inside + 2)));
  EXPECT_EQ(l.control.state().LastFrame, 2);
}

// The last chunk always stops two bytes before the end of the data, and only
// exists when something is left after the last signature's block size byte.
// The control held a multi-frame file before, so a chunk too short for its
// fields is skipped over rather than ending the split.
TEST(Split, LastChunkStopsTwoBytesBeforeTheEnd) {
  const testgif::Gif gif = Animation(2);
  const std::string file = testgif::Build(gif);
  const size_t last_label = ExtensionOffsets(gif)[1] + 1;
  const std::string header = file.substr(0, 39);
  const std::string body = file.substr(0, file.size() - 1);  // without the trailer
  struct Row {
    const char* name;
    std::string data;
    size_t loads;
    std::string last_file;
    Text last_tag;
  };
  const Row rows[] = {
      {"trailing bytes", file + "XYZ", 2, header + file.substr(last_label) + "X", u"100"},
      {"no trailer", body, 2, header + body.substr(last_label, body.size() - 2 - last_label),
       u"100"},
      {"ends with the block size byte", file.substr(0, last_label + 2), 1, "", u"50"},
      // A delay that cannot be read leaves the one of the frame before.
      {"ends one byte later", file.substr(0, last_label + 3), 2, header + ByteString({0xF9}),
       u"50"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Loaded l;
    l.host.decode = false;
    l.LoadBytes(testgif::Build(Animation(3)));
    l.host.loads.clear();
    l.LoadBytes(row.data);
    ASSERT_EQ(l.host.loads.size(), row.loads);
    if (!row.last_file.empty()) {
      EXPECT_EQ(l.host.loads.back().bytes, row.last_file);
    }
    EXPECT_TRUE(l.host.messages().empty());
    EXPECT_TRUE(l.control.state().FramesLoaded);
    EXPECT_EQ(l.control.state().LastFrame, static_cast<int32_t>(row.loads) - 1);
    EXPECT_EQ(l.frame(static_cast<int>(row.loads) - 1).tag(), row.last_tag);
  }
}

// A fresh control ends the split at the first frame that fails, with a
// message naming the error; the elements made so far stay.
TEST(Split, FailureEndsTheSplitOfAFreshControlWithAMessage) {
  const testgif::Gif two = Animation(2);
  const std::string two_frames = testgif::Build(two);
  const size_t last_label = ExtensionOffsets(two)[1] + 1;
  // The frame counter is 16 bits wide: with 32768 signatures it passes 32767
  // on the search after the last one.
  std::string many = testgif::Header(two);
  testgif::Frame tiny;
  const std::string frame = testgif::GraphicControlExtension(tiny) + testgif::Image(tiny);
  for (int i = 0; i < 32768; ++i) many += frame;
  many += ";";
  struct Row {
    const char* name;
    std::string data;
    const char16_t* message;
    int32_t elements;
    bool decode = false;  // the picture loader decodes, or answers 1 x 1 pictures
  };
  const Row rows[] = {
      {"chunk too short for its delay", two_frames.substr(0, last_label + 3),
       u"Error No. 5 : when reading file", 1},
      {"frame the picture loader refuses", WithUndecodableSecondFrame(),
       u"Error No. 481 : when reading file", 2, true},
      {"frame counter overflow", many, u"Error No. 6 : when reading file", 32767},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Loaded l;
    l.host.decode = row.decode;
    l.LoadBytes(row.data);
    ASSERT_EQ(l.host.messages().size(), 1u);
    EXPECT_EQ(l.host.messages()[0].text, row.message);
    EXPECT_EQ(l.host.messages()[0].style, 16);
    EXPECT_EQ(l.host.messages()[0].title, u"Flipreel Control");
    ExpectBlank(l);
    EXPECT_EQ(l.control.state().LastFrame, 0);
    EXPECT_EQ(l.control.imgBuffer().count(), row.elements);
  }
}

// After a multi-frame file the split skips a frame that fails, silently.
TEST(Split, FailureIsSkippedAfterAMultiFrameFile) {
  Loaded l;
  l.LoadBytes(testgif::Build(Animation(5)));
  l.LoadBytes(WithUndecodableSecondFrame());
  EXPECT_TRUE(l.host.messages().empty());
  const FlipreelState& s = l.control.state();
  EXPECT_TRUE(s.FramesLoaded);
  EXPECT_EQ(s.LastFrame, 2);
  EXPECT_EQ(l.control.imgBuffer().count(), 3);  // the earlier file's 1..4 removed
  EXPECT_EQ(l.control.Frames(), 3);
  EXPECT_EQ(l.control.FlipreelFile(), u"Gif");
  // The skipped frame keeps the picture its new element copied from element 0.
  EXPECT_TRUE(l.frame(1).picture() == l.frame(0).picture());
  EXPECT_EQ(l.frame(1).tag(), u"100");
  EXPECT_EQ(l.frame(2).picture().width(), 4);
  EXPECT_TRUE(l.control.Timer1().enabled());
}
