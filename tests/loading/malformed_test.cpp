// Broken and hostile inputs: each must fail with the host's error (or, for the
// control, its defined reaction) and never crash, hang or throw anything else.
#include <filesystem>
#include <string>

#include "tests/loading/loading_support.h"

using namespace flipreel;
using namespace loadingtest;

namespace {

// "GIF89a", a 4 x 4 screen without a global table, then a Graphic Control
// Extension: delay 10, no transparency.
const std::string kHead =
    "GIF89a" + ByteString({4, 0, 4, 0, 0, 0, 0}) + ByteString({0x21, 0xF9, 4, 0, 10, 0, 0, 0});
// An image descriptor at 0, 0 of w x h, with the packed byte.
std::string Descriptor(int w, int h, int packed = 0) {
  return ByteString({0x2C, 0, 0, 0, 0, w & 0xFF, w >> 8, h & 0xFF, h >> 8, packed});
}
// Two pixels of index 0 with minimum code size 2: clear, 0, 0, end.
const std::string kData = ByteString({2, 2, 0x04, 0x0A, 0});

// Loads bytes into a fresh control and checks that it ends in one of its
// defined states: loaded, or cleared (with the split's message when the
// split started and failed).
void LoadCleanly(const std::string& bytes) {
  Loaded l;
  try {
    l.LoadBytes(bytes);
  } catch (const HostError& e) {
    // Only a first frame delay that overflows FrameRate reaches the caller.
    EXPECT_EQ(e.number(), err::kOverflow);
    EXPECT_TRUE(l.control.state().FramesLoaded);
    return;
  }
  const FlipreelState& s = l.control.state();
  if (s.FramesLoaded) {
    EXPECT_EQ(l.control.FlipreelFile(), u"Gif");
    EXPECT_EQ(s.LastFrame + 1, l.control.imgBuffer().Count());
  } else {
    EXPECT_EQ(l.control.FlipreelFile(), u"(None)");
    EXPECT_LE(l.host.messages().size(), 1u);
  }
}

}  // namespace

// Each file holds a Graphic Control Extension and then one fault after it,
// so a fresh control's split ends with the picture loader's error. (Files
// cut short anywhere are the decoder's prefix test.)
TEST(Malformed, HandMade) {
  const std::pair<const char*, std::string> rows[] = {
      {"extension without terminator", ByteString({0x21, 0xFE, 5, 'a'})},
      {"unknown block", ByteString({0x99, 0, 0, 0, 0})},
      {"no image before trailer", ";"},
      {"zero width", Descriptor(0, 4) + kData + ";"},
      {"zero height", Descriptor(4, 0) + kData + ";"},
      {"local table cut short", Descriptor(2, 1, 0x82) + ByteString({9, 9})},
      {"code size 12", Descriptor(2, 1) + ByteString({12, 2, 0x04, 0x0A, 0}) + ";"},
      {"sub-block longer than the file", Descriptor(2, 1) + ByteString({2, 200, 4})},
      {"end code before the last pixel", Descriptor(3, 3) + kData + ";"},
      {"empty data", Descriptor(2, 1) + ByteString({2, 0}) + ";"},
      {"huge image, little data", Descriptor(65535, 65535) + kData + ";"},
  };
  for (const auto& [name, bytes] : rows) {
    SCOPED_TRACE(name);
    EXPECT_EQ(DecodeError(kHead + bytes), err::kInvalidPicture);
    Loaded l;
    l.LoadBytes(kHead + bytes);
    ExpectBlank(l);
    ASSERT_EQ(l.host.messages().size(), 1u);
    EXPECT_EQ(l.host.messages()[0].text, u"Error No. 481 : when reading file");
  }
  // The well-formed counterpart decodes, so the rows fail for their own fault.
  EXPECT_EQ(DecodeError(kHead + Descriptor(2, 1) + kData + ";"), 0);
}

// Inputs kept from fuzzing and hand-made oddities, one file each.
TEST(Malformed, Collection) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FLIPREEL_MALFORMED_DIR)) {
    if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
    SCOPED_TRACE(entry.path().filename().string());
    ++files;
    const std::string bytes = testfiles::ReadFile(entry.path().string());
    const int32_t error = DecodeError(bytes);
    EXPECT_TRUE(error == 0 || error == err::kInvalidPicture) << error;
    LoadCleanly(bytes);
  }
  EXPECT_GT(files, 0);
}
