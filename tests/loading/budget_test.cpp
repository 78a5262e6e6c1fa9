// The memory budget's rule (a base plus a multiple of the file, under the
// machine's cap), and composed loading inside it.
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "flipreel/gif/gif_composer.h"
#include "flipreel/host/errors.h"
#include "flipreel/host/memory_budget.h"
#include "tests/loading/loading_support.h"
#include "tests/support/checks.h"
#include "tests/support/gif_builder.h"

namespace flipreel {
namespace {

using loadingtest::Span;

using testsupport::Raised;
using testsupport::RaisedBy;

constexpr int64_t kMB = int64_t{1} << 20;

// The limit follows the files told until the application fixes one, and goes
// back to the last file's when it lets go.
TEST(MemoryBudget, FollowsTheFileUntilFixed) {
  const int64_t cap = MemoryBudget::MachineCap();
  const struct {
    int64_t file;
    int64_t limit;
  } rows[] = {
      {0, std::min(cap, kBaseBudgetBytes)},
      {kMB, std::min(cap, kBaseBudgetBytes + 32 * kMB)},
      {64 * kMB, std::min(cap, kBaseBudgetBytes + 64 * 32 * kMB)},
      {int64_t{1} << 62, cap},  // no overflow past the cap
  };
  for (const auto& row : rows) EXPECT_EQ(MemoryBudget::LimitForFile(row.file), row.limit);

  MemoryBudget budget;
  EXPECT_TRUE(budget.follows_files());
  EXPECT_EQ(budget.limit(), MemoryBudget::DefaultLimit());
  budget.FollowFile(kMB);
  EXPECT_EQ(budget.limit(), MemoryBudget::LimitForFile(kMB));
  budget.SetLimit(50 * kMB);
  budget.FollowFile(2 * kMB);
  EXPECT_EQ(budget.limit(), 50 * kMB);
  budget.FollowFiles();
  EXPECT_EQ(budget.limit(), MemoryBudget::LimitForFile(2 * kMB));

  // A budget that follows files says so when a picture does not fit.
  MemoryBudget small;
  small.FollowFile(kMB);
  const Raised e =
      RaisedBy([&] { small.Reserve(int64_t{4} << 30, "a picture of 32768 x 32768 pixels"); });
  EXPECT_EQ(e.number, err::kOutOfMemory);
  EXPECT_NE(e.description.find("memory budget of"), std::string::npos) << e.description;
  EXPECT_NE(e.description.find("for a file of 1 MB"), std::string::npos) << e.description;
}

ComposedAnimation Compose(const std::string& file, const MemoryBudget& budget) {
  return ComposeGif(Span(file), &budget);
}

// Composed frames take their pictures, and the canvas they are drawn on,
// from the budget: a file whose frames claim more than is left is refused
// before anything is decoded, with the limit named, and what fits is held
// while the pictures live.
TEST(ComposedBudget, ChecksWhatTheFileClaims) {
  testgif::Gif gif;
  gif.width = 100;
  gif.height = 50;
  gif.frames.resize(3);
  for (testgif::Frame& f : gif.frames) f.width = 100, f.height = 50;
  const std::string file = testgif::Build(gif);
  const int64_t screen = 100 * 50;
  const int64_t frames = 3 * (screen + static_cast<int64_t>(sizeof(PictureData::Palette)));

  const struct {
    const char* name;
    int64_t limit;
    bool fits;
  } rows[] = {
      {"room for the frames and the canvas", frames + 4 * screen, true},
      {"room for the frames only", frames, false},
      {"room for one frame", screen + 1024, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    MemoryBudget budget(row.limit);
    if (!row.fits) {
      const Raised e = RaisedBy([&] { Compose(file, budget); });
      EXPECT_EQ(e.number, err::kOutOfMemory);
      EXPECT_NE(e.description.find("3 frames of 100 x 50 pixels"), std::string::npos)
          << e.description;
      EXPECT_EQ(budget.used(), 0);
      continue;
    }
    ComposedAnimation animation = Compose(file, budget);
    ASSERT_EQ(animation.frames.size(), 3u);
    EXPECT_EQ(budget.used(), frames);  // the canvas went with the composer
    animation = ComposedAnimation();
    EXPECT_EQ(budget.used(), 0);
  }
}

// A screen larger than any picture is out of memory, saying so, whatever the
// budget.
TEST(ComposedBudget, ScreenLargerThanAnyPicture) {
  testgif::Gif gif;
  gif.width = 65535;
  gif.height = 65535;
  gif.frames.resize(1);
  MemoryBudget budget;
  const Raised e = RaisedBy([&] { Compose(testgif::Build(gif), budget); });
  EXPECT_EQ(e.number, err::kOutOfMemory);
  EXPECT_NE(e.description.find("a screen of 65535 x 65535 pixels"), std::string::npos)
      << e.description;
  EXPECT_EQ(budget.used(), 0);
}

}  // namespace
}  // namespace flipreel
