// Broken and hostile inputs: each must fail with the host's error (or, for the
// control, its defined reaction) and never crash, hang or throw anything else.
#include <filesystem>
#include <string>

#include "tests/loading/loading_support.h"

using namespace flipreel;
using namespace loadingtest;

namespace {

// "GIF89a", a 4 x 4 screen and the given packed byte, background 0, aspect 0.
std::string Screen(int packed = 0) {
  return "GIF89a" + ByteString({4, 0, 4, 0, packed, 0, 0});
}
const std::string kGce = ByteString({0x21, 0xF9, 4, 0, 10, 0, 0, 0});  // delay 10, no transparency
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

TEST(Malformed, HandMade) {
  struct Row {
    const char* name;
    std::string bytes;
    bool split_message;  // a fresh control shows the split's message
  };
  const Row rows[] = {
      {"signature only", "GIF", false},
      {"screen only", Screen(), false},
      {"global table cut short", Screen(0x81) + ByteString({1, 2, 3}), false},
      {"extension then end of file", Screen() + kGce, true},
      {"extension without terminator", Screen() + kGce + ByteString({0x21, 0xFE, 5, 'a'}), true},
      {"unknown block", Screen() + kGce + ByteString({0x99, 0, 0, 0, 0}), true},
      {"no image before trailer", Screen() + kGce + ";", true},
      {"zero width", Screen() + kGce + Descriptor(0, 4) + kData + ";", true},
      {"zero height", Screen() + kGce + Descriptor(4, 0) + kData + ";", true},
      {"descriptor cut short", Screen() + kGce + Descriptor(2, 1).substr(0, 6), true},
      {"local table cut short", Screen() + kGce + Descriptor(2, 1, 0x82) + ByteString({9, 9}),
       true},
      {"no image data", Screen() + kGce + Descriptor(2, 1), true},
      {"code size 12",
       Screen() + kGce + Descriptor(2, 1) + ByteString({12, 2, 0x04, 0x0A, 0}) + ";", true},
      {"sub-block longer than the file",
       Screen() + kGce + Descriptor(2, 1) + ByteString({2, 200, 4}), true},
      {"end code before the last pixel", Screen() + kGce + Descriptor(3, 3) + kData + ";", true},
      {"empty data", Screen() + kGce + Descriptor(2, 1) + ByteString({2, 0}) + ";", true},
      {"huge image, little data", Screen() + kGce + Descriptor(65535, 65535) + kData + ";", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(DecodeError(row.bytes), err::kInvalidPicture);
    Loaded l;
    l.LoadBytes(row.bytes);
    ExpectBlank(l);
    if (row.split_message) {
      ASSERT_EQ(l.host.messages().size(), 1u);
      EXPECT_EQ(l.host.messages()[0].text, u"Error No. 481 : when reading file");
    } else {
      EXPECT_TRUE(l.host.messages().empty());
    }
  }
  // The well-formed counterpart decodes, so the rows fail for their own fault.
  EXPECT_EQ(DecodeError(Screen() + kGce + Descriptor(2, 1) + kData + ";"), 0);
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
