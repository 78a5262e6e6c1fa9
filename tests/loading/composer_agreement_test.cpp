// The composer against giflib's reader on the same bytes: whole files, every
// prefix of them and damaged variants. giflib reads the images row by row
// (a file cut short gets a few zero bytes after its end, as the composer
// gives it), and a model of our own composes what it read, pixel by pixel;
// the composer must give the same frames, delays and repeat count, and fail
// on the same files.
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "flipreel/gif/gif_composer.h"
#include "flipreel/gif/gif_decoder.h"
#include "flipreel/gif/gif_facts.h"
#include "tests/loading/giflib_reader.h"
#include "tests/loading/loading_support.h"
#include "tests/support/gif_builder.h"

using namespace flipreel;
using namespace loadingtest;

namespace {

// One image as giflib read it.
struct Read {
  GifImageDesc desc{};
  std::array<uint32_t, 256> colours;  // of its indices; alpha 0 for the transparent one
  std::vector<uint8_t> indices;       // display order
  std::vector<bool> rows;             // the rows that arrived whole
  int disposal = 0;
  int delay = 0;  // hundredths; 0 without a Graphic Control Extension
};

struct Composed {
  int width = 0, height = 0, repeat = 0;
  std::vector<int32_t> delays;
  std::vector<std::vector<uint32_t>> frames;  // ARGB
  bool operator==(const Composed&) const = default;
};

// Frame n at (x, y), looking back from image n for the last one that left a
// colour there: one taken back by disposal 3 or 4 left nothing, one cleared
// by disposal 2 left transparency.
uint32_t Model(const std::vector<Read>& images, size_t n, int x, int y, int w, int h) {
  for (size_t j = n + 1; j-- > 0;) {
    const Read& r = images[j];
    const GifImageDesc& d = r.desc;
    if (x < d.Left || x >= d.Left + d.Width || y < d.Top || y >= d.Top + d.Height || x >= w ||
        y >= h)
      continue;
    if (j < n && (r.disposal == 3 || r.disposal == 4)) continue;
    if (j < n && r.disposal == 2) return 0;
    if (!r.rows[static_cast<size_t>(y - d.Top)]) continue;
    const uint32_t argb =
        r.colours[r.indices[static_cast<size_t>(y - d.Top) * d.Width + (x - d.Left)]];
    if (argb >> 24) return argb;
  }
  return 0;
}

std::optional<Composed> Giflib(const std::string& bytes) {
  GiflibSource source{&bytes, 16};  // a file cut short gets a few zero bytes
  const GiflibFile gif = OpenWithGiflib(source);
  if (!gif) return std::nullopt;
  Composed c{gif->SWidth, gif->SHeight, ComposedAnimation::kPlayOnce, {}, {}};
  std::vector<Read> images;
  int disposal = 0, delay = 0, transparent = -1;
  bool repeat_seen = false;
  for (GifRecordType type; images.size() < size_t{kMaxComposedFrames};) {
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) break;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* b = nullptr;
      if (DGifGetExtension(gif.get(), &code, &b) == GIF_ERROR || source.padded) break;
      const bool loop =
          code == 0xFF && b && b[0] == 11 &&
          (!std::memcmp(b + 1, "NETSCAPE2.0", 11) || !std::memcmp(b + 1, "ANIMEXTS1.0", 11));
      if (code == 0xF9 && b && b[0] >= 4)
        disposal = (b[1] >> 2) & 7, delay = b[2] | b[3] << 8, transparent = b[1] & 1 ? b[4] : -1;
      bool ok = true;
      for (bool first = true; b && ok; first = false) {
        if (loop && !first && b[0] >= 3 && b[1] == 1 && !repeat_seen)
          c.repeat = b[2] | b[3] << 8, repeat_seen = true;
        ok = DGifGetExtensionNext(gif.get(), &b) == GIF_OK;
      }
      if (!ok || source.padded) break;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) break;
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR || source.padded) break;
    Read r;
    r.desc = gif->Image;
    const GifImageDesc& d = r.desc;
    if (images.empty()) {  // a screen without width or height takes the first image's extent
      if (c.width == 0) c.width = d.Left + d.Width;
      if (c.height == 0) c.height = d.Top + d.Height;
      if (int64_t{c.width} * c.height <= 0 || int64_t{c.width} * c.height > kMaxPicturePixels)
        break;
    }
    const int64_t pixels = int64_t{d.Width} * d.Height;
    if (pixels > kMaxPicturePixels ||
        pixels > MostPixelsEncodable(bytes.size() - std::min(source.pos, bytes.size())))
      break;
    r.indices.resize(static_cast<size_t>(pixels));
    r.rows.assign(static_cast<size_t>(d.Height), pixels == 0);
    bool complete = true;
    if (pixels == 0) {  // nothing to draw: its data is passed over
      int size = 0;
      GifByteType* b = nullptr;
      bool ok = DGifGetCode(gif.get(), &size, &b) == GIF_OK;
      while (ok && b) ok = DGifGetCodeNext(gif.get(), &b) == GIF_OK;
      if (!ok) break;
    }
    for (int pass = 0; pass < (d.Interlace ? 4 : 1) && complete && pixels > 0; ++pass)
      for (int y = d.Interlace ? kInterlaceStart[pass] : 0; y < d.Height && complete;
           y += d.Interlace ? kInterlaceStep[pass] : 1) {
        complete = DGifGetLine(gif.get(), r.indices.data() + static_cast<size_t>(y) * d.Width,
                               d.Width) == GIF_OK;
        r.rows[static_cast<size_t>(y)] = complete;
      }
    if (!complete && std::find(r.rows.begin(), r.rows.end(), true) == r.rows.end()) break;
    r.colours = ColoursOf(d.ColorMap ? d.ColorMap : gif->SColorMap, transparent);
    r.disposal = disposal;
    r.delay = delay;
    disposal = 0, delay = 0, transparent = -1;
    images.push_back(std::move(r));
    if (!complete) break;
  }
  if (images.empty()) return std::nullopt;
  // A delayed image ends a frame of everything drawn since the last; images
  // after the last delayed one make one more. A file that loops without any
  // delay (as giflib reads the whole file) shows each image for 100 ms.
  const std::optional<GifFileFacts> facts = ReadGifFacts(Span(bytes), FactsReading::kGiflibOnly);
  const bool each_image = facts && facts->repeat &&
                          std::none_of(facts->images.begin(), facts->images.end(),
                                       [](const GifImageFacts& i) { return i.delay_cs > 0; });
  auto frame = [&](size_t n, int delay_cs) {
    c.delays.push_back((delay_cs <= 1 ? 10 : delay_cs) * 10);
    c.frames.emplace_back();
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        c.frames.back().push_back(Model(images, n, x, y, c.width, c.height));
  };
  for (size_t n = 0; n < images.size(); ++n) {
    if (each_image || images[n].delay > 0) frame(n, each_image ? 10 : images[n].delay);
  }
  if (!each_image && images.back().delay == 0) frame(images.size() - 1, 0);
  return c;
}

std::optional<Composed> Ours(const std::string& bytes) {
  try {
    const ComposedAnimation a = ComposeGif(Span(bytes));
    Composed c{a.width, a.height, a.repeat_count, {}, {}};
    for (const ComposedFrame& f : a.frames) {
      c.delays.push_back(f.delay_ms);
      c.frames.emplace_back();
      for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
          c.frames.back().push_back(f.picture.data()->PixelArgb(x, y));
    }
    return c;
  } catch (const HostError&) {
    return std::nullopt;
  }
}

}  // namespace

TEST(ComposerAgreement, SameFramesAsGiflibReads) {
  std::mt19937 random(22);
  const std::vector<std::string> files = RandomAnimations(random, 40);
  std::vector<std::string> inputs;
  for (const std::string& file : files)
    for (size_t n = 0; n <= file.size(); ++n) inputs.push_back(file.substr(0, n));
  // Damaged variants: bytes changed, removed and inserted anywhere.
  for (int i = 0; i < 10000; ++i)
    inputs.push_back(Damaged(files[random() % files.size()], random, 3));
  int composed = 0, partial = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const auto ours = Ours(inputs[i]);
    const auto theirs = Giflib(inputs[i]);
    ASSERT_EQ(ours.has_value(), theirs.has_value()) << "input " << i;
    if (!ours) continue;
    ASSERT_TRUE(*ours == *theirs) << "input " << i;
    ++composed;
    partial += ours->frames.size() < 3;
  }
  EXPECT_GT(composed, 10000);
  EXPECT_GT(partial, 1000);
}

// The first frame composed from a file's beginning, shown while the rest is
// read, is the whole file's first frame (with its delay), or nothing: for
// every beginning of whole and damaged files, however the file goes on.
TEST(ComposerAgreement, AFirstFrameFromTheBeginningIsTheWholeFilesFirstFrame) {
  std::mt19937 random(23);
  std::vector<std::string> files = RandomAnimations(random, 40);
  const size_t whole = files.size();
  for (int i = 0; i < 400; ++i) files.push_back(Damaged(files[random() % whole], random, 1));
  int early = 0;
  for (size_t f = 0; f < files.size(); ++f) {
    std::optional<ComposedAnimation> all;
    try {
      all = ComposeGif(Span(files[f]));
    } catch (const HostError&) {
    }
    for (size_t n = 0; n <= files[f].size(); ++n) {
      const std::optional<ComposedFrame> first =
          ComposeFirstFrame(Span(std::string_view(files[f]).substr(0, n)));
      if (!first) continue;
      ASSERT_TRUE(all) << "file " << f << " cut at " << n;
      const ComposedFrame& expected = all->frames.front();
      ASSERT_TRUE(first->picture.data()->SamePixels(*expected.picture.data()))
          << "file " << f << " cut at " << n;
      ASSERT_EQ(first->delay_ms, expected.delay_ms) << "file " << f << " cut at " << n;
      if (f < whole && n < files[f].size()) ++early;
    }
  }
  // Most whole files give it well before their end.
  EXPECT_GT(early, 200);
}

// A large GIF's frames composed into blocks of many frames are the frames
// composed one by one: whole, cut short in its last frame (the last frame's
// rows that came) and with a frame of more than 256 colours among them (its
// room in a block goes to the next frame).
TEST(ComposerAgreement, FramesInBlocksAreTheFramesComposedOneByOne) {
  constexpr int kSide = 1024;  // nine frames of 1 MB: enough for blocks
  testgif::Gif gif;
  gif.width = gif.height = kSide;
  for (int i = 0; i < 9; ++i) {
    testgif::Frame frame;
    frame.width = frame.height = kSide;
    frame.pixels.resize(size_t{kSide} * kSide);
    for (size_t p = 0; p < frame.pixels.size(); ++p)
      frame.pixels[p] = static_cast<uint8_t>((p / kSide + p % kSide + static_cast<size_t>(i)) % 2);
    if (i == 3) {
      // Two halves, each with 256 colours of its own, drawn in one frame.
      frame.gce = false;
      frame.height = kSide / 2;
      frame.pixels.resize(size_t{kSide} * kSide / 2);
      for (size_t p = 0; p < frame.pixels.size(); ++p) frame.pixels[p] = p % 256;
      for (uint32_t c = 0; c < 256; ++c) frame.local_palette.push_back(c << 8);
      gif.frames.push_back(frame);
      frame.gce = true;
      frame.top = kSide / 2;
      for (uint32_t& c : frame.local_palette) c |= 0x80;
    }
    gif.frames.push_back(frame);
  }
  const std::string whole = testgif::Build(gif);
  for (const std::string& bytes : {whole, whole.substr(0, whole.size() - whole.size() / 20)}) {
    const ComposedAnimation each = ComposeGif(Span(bytes));
    const ComposedAnimation blocks = ComposeGif(Span(bytes), nullptr, {}, FrameMemory::kBlocks);
    ASSERT_EQ(blocks.frames.size(), each.frames.size());
    int argb = 0, adjacent = 0;
    for (size_t f = 0; f < each.frames.size(); ++f) {
      const PictureData& got = *blocks.frames[f].picture.data();
      EXPECT_TRUE(got.SamePixels(*each.frames[f].picture.data())) << "frame " << f;
      EXPECT_EQ(blocks.frames[f].delay_ms, each.frames[f].delay_ms) << "frame " << f;
      argb += got.format() == PictureData::Format::kArgb32;
      // Frames one after the other in one block: blocks were used.
      if (f > 0 && got.format() == PictureData::Format::kIndexed8 &&
          blocks.frames[f - 1].picture.data()->format() == PictureData::Format::kIndexed8)
        adjacent +=
            got.indices() == blocks.frames[f - 1].picture.data()->indices() + size_t{kSide} * kSide;
    }
    EXPECT_EQ(argb, 1);
#ifdef __linux__
    EXPECT_GT(adjacent, 2);
#endif
  }
}
