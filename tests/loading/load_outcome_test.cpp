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

// What a damaged file gives, loaded on a fresh control, on one that held a
// one-frame GIF and on one that held a three-frame GIF.
struct Outcome {
  int32_t error = 0;  // LoadFailure's number; 0 when the load succeeded
  std::vector<Text> messages;
  int16_t frames = 0;
  bool loaded = false;
};

Outcome LoadAfter(const std::string& before, const std::string& bytes) {
  Loaded l;
  if (!before.empty()) LoadGifBytes(l.control, l.host, before);
  l.host.messages().clear();
  l.host.trapped_errors().clear();
  std::optional<HostError> raised;
  try {
    LoadGifBytes(l.control, l.host, bytes);
  } catch (const HostError& e) {
    raised = e;
  }
  const std::optional<HostError> failure = LoadFailure(l.control, raised, l.host.trapped_errors());
  return {failure ? failure->number() : 0, MessageTexts(l.host), l.control.Frames(),
          l.control.state().FramesLoaded};
}

// The error a load gives is the error the control trapped, carried as a
// value: the same number whatever the control held before. A control that
// held one frame splits exactly as a fresh one (same frames, same
// messages); after several frames the split skips the failing step without
// a message, but the load still gives its error rather than playing the
// frames it could read as if nothing were wrong.
TEST(LoadFailure, SameErrorWhateverTheControlHeld) {
  const std::string good = testgif::Build(testgif::Animation(3));
  const std::string one = testgif::Build(testgif::Animation(1));
  testgif::Gif slow = testgif::Animation(3);
  slow.frames[0].delay_cs = 3277;  // overflows FrameRate
  // The last image's LZW minimum code size (after its 10-byte descriptor)
  // made 12, more than a GIF allows.
  std::string bad_code = good;
  const std::string last_image = testgif::Image(testgif::Animation(3).frames[2]);
  bad_code[good.size() - 1 - last_image.size() + 10] = 12;
  const struct {
    const char* name;
    std::string bytes;
    int32_t number;  // 0: the load succeeded
  } rows[] = {
      {"a GIF", good, 0},
      {"cut inside the last image", good.substr(0, good.size() - 6), 481},
      {"cut inside the last extension", good.substr(0, good.rfind("\x21\xF9") + 5), 5},
      {"an impossible code size", bad_code, 481},
      {"not a GIF: no message", "hello", 481},
      {"empty", "", 481},
      {"raised by the assignment", testgif::Build(slow), 6},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome fresh = LoadAfter("", row.bytes);
    const Outcome after_one = LoadAfter(one, row.bytes);
    const Outcome after_three = LoadAfter(good, row.bytes);
    EXPECT_EQ(fresh.error, row.number);
    EXPECT_EQ(after_one.error, row.number);
    EXPECT_EQ(after_three.error, row.number);
    EXPECT_EQ(after_one.messages, fresh.messages);
    EXPECT_EQ(after_one.frames, fresh.frames);
    EXPECT_EQ(after_one.loaded, fresh.loaded);
  }
}
