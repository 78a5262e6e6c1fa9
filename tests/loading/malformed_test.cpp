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

// Inputs kept from fuzzing and hand-made oddities, one file each, with what
// the picture loader and a fresh control make of each. Every file of the
// folder has its row.
struct CollectionCase {
  const char* file;
  int32_t decode_error;  // of the whole file, 0 when it decodes
  int32_t frames;        // the frames a fresh control loads, 0: it is cleared
  const char* message;   // the one message box of the load, "" for none
};

TEST(Malformed, Collection) {
  constexpr const char* kReadError = "Error No. 481 : when reading file";
  const CollectionCase cases[] = {
      {"code_size_0.gif", 0, 1, ""},
      // The split's own step fails before any picture is loaded.
      {"empty_extensions.gif", err::kInvalidPicture, 0, "Error No. 5 : when reading file"},
      {"interlaced_first_pass_only.gif", err::kInvalidPicture, 0, kReadError},
      // Signature bytes inside image data make more cuts than images.
      {"nested_signatures.gif", 0, 6, ""},
      {"random_lzw_codes.gif", err::kInvalidPicture, 0, kReadError},
  };
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FLIPREEL_MALFORMED_DIR))
    if (entry.is_regular_file() && entry.path().extension() != ".md") ++files;
  EXPECT_EQ(files, std::size(cases)) << "a file of the collection has no row";
  for (const CollectionCase& t : cases) {
    SCOPED_TRACE(t.file);
    const std::string bytes =
        testfiles::ReadFile(std::string(FLIPREEL_MALFORMED_DIR) + "/" + t.file);
    EXPECT_EQ(DecodeError(bytes), t.decode_error);
    Loaded l;
    l.LoadBytes(bytes);
    if (t.frames == 0) {
      ExpectBlank(l);
    } else {
      EXPECT_EQ(l.control.FlipreelFile(), u"Gif");
      EXPECT_TRUE(l.control.state().FramesLoaded);
      EXPECT_EQ(l.control.imgBuffer().count(), t.frames);
    }
    std::vector<std::string> messages;
    for (const auto& m : l.host.messages()) messages.push_back(TextToUtf8(m.text));
    EXPECT_EQ(messages,
              *t.message ? std::vector<std::string>{t.message} : std::vector<std::string>{});
  }
}
