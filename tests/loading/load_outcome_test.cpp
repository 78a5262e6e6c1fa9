// Loading bytes through the control's own path, and telling why a load gave
// the control no GIF.
#include <filesystem>

#include "flipreel/control/load_outcome.h"
#include "tests/loading/loading_support.h"

using namespace flipreel;
using namespace loadingtest;

namespace {

std::vector<std::string> FrameFiles(const RecordingHost& host) {
  std::vector<std::string> files;
  for (const RecordingHost::Load& load : host.loads) files.push_back(load.bytes);
  return files;
}

std::vector<Text> MessageTexts(HeadlessHost& host) {
  std::vector<Text> texts;
  for (const HeadlessHost::Message& m : host.messages()) texts.push_back(m.text);
  return texts;
}

}  // namespace

// Bytes from memory are cut into the same frame files, and give the same state
// and messages, as the same bytes in a file; nothing is left behind.
TEST(LoadGifBytes, AsTheSameFileWould) {
  const std::string good = testgif::Build(Animation(3));
  const struct {
    const char* name;
    std::string bytes;
  } rows[] = {
      {"a GIF", good},
      {"cut short", good.substr(0, good.size() - 6)},
      {"not a GIF", "hello"},
      {"empty", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Loaded from_file, from_bytes;
    from_file.LoadBytes(row.bytes);
    LoadGifBytes(from_bytes.control, from_bytes.host, row.bytes);
    EXPECT_EQ(FrameFiles(from_bytes.host), FrameFiles(from_file.host));
    EXPECT_EQ(from_bytes.control.GetBuffer(), from_file.control.GetBuffer());
    EXPECT_EQ(from_bytes.control.FlipreelFile(), from_file.control.FlipreelFile());
    EXPECT_EQ(from_bytes.control.state().LastFrame, from_file.control.state().LastFrame);
    EXPECT_EQ(MessageTexts(from_bytes.host), MessageTexts(from_file.host));
    const std::string folder = TextToUtf8(from_bytes.host.PrivateFolder());
    EXPECT_FALSE(from_bytes.host.FileExists(Utf8ToText(folder + "/loaded-bytes.gif")));
  }
}

TEST(LoadFailure, FromWhatTheControlLeft) {
  const std::string good = testgif::Build(Animation(3));
  testgif::Gif slow = Animation(3);
  slow.frames[0].delay_cs = 3277;  // overflows FrameRate
  const struct {
    const char* name;
    std::string bytes;
    int32_t number;  // 0: the load succeeded
  } rows[] = {
      {"a GIF", good, 0},
      {"cut short: the split's message", good.substr(0, good.size() - 6), 481},
      {"not a GIF: no message", "hello", 481},
      {"raised by the assignment", testgif::Build(slow), 6},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Loaded l;
    std::optional<HostError> raised;
    try {
      LoadGifBytes(l.control, l.host, row.bytes);
    } catch (const HostError& e) {
      raised = e;
    }
    const std::optional<HostError> failure = LoadFailure(l.control, raised, MessageTexts(l.host));
    EXPECT_EQ(failure ? failure->number() : 0, row.number);
  }
}

TEST(ErrorInMessage, TheControlsThreeErrorMessages) {
  const struct {
    std::u16string text;
    int32_t number;  // 0: not an error message
    std::string description;
  } rows[] = {
      {u"Error No. 481 : when reading file", 481, "Invalid picture"},
      {u"Error No:31002 The address is not supported", 31002, "The address is not supported"},
      {u"Error No: 31003 Cannot connect", 31003, "Cannot connect"},
      {u"Image Download complete", 0, ""},
      {u"Error No. 481 : when reading files", 0, ""},
      {u"Error No. : when reading file", 0, ""},
      {u"Error No: 99999999999 Too large", 0, ""},
  };
  for (const auto& row : rows) {
    const std::optional<HostError> e = ErrorInMessage(row.text);
    EXPECT_EQ(e ? e->number() : 0, row.number) << TextToUtf8(row.text);
    if (e) {
      EXPECT_EQ(e->description(), row.description);
    }
  }
}
