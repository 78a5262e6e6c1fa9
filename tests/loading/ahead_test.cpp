// Frame files decoded ahead on other threads: a load gives exactly what a
// load that decodes each file only when it is loaded gives, whether the split
// ends at a damaged frame (a fresh control) or skips it (after a multi-frame
// file).
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "examples/example_gifs.h"
#include "tests/loading/loading_support.h"

using namespace flipreel;
using namespace loadingtest;

namespace {

// A host that ignores the announcements: every file is decoded when loaded.
class OneByOneHost : public HeadlessHost {
 public:
  void ExpectFrameFiles(FrameFileList) noexcept override {}
};

// Everything a program can see of a control after a load.
struct Observed {
  int32_t error = 0;  // of the assignment
  std::vector<std::string> notices;
  std::vector<std::u16string> messages;
  std::u16string file;
  int16_t frames = 0, frame_rate = 0;
  bool loaded = false, timer = false;
  int32_t last = 0;
  struct Element {
    float left, top;
    std::u16string tag;
    int same_picture_as;  // the first element showing the same picture
    int width, height;
    std::vector<uint32_t> pixels;
    bool operator==(const Element&) const = default;
  };
  std::vector<Element> elements;  // imgBuffer, then imgGif
  bool operator==(const Observed&) const = default;
};

template <typename H>
Observed LoadWith(const std::string& path, const std::string& before, int64_t* ahead = nullptr) {
  H host;
  Flipreel control(host);
  control.InitProperties();
  if (!before.empty()) control.SetFlipreelFile(Utf8ToText(before));
  host.notices().clear();
  host.messages().clear();
  const int64_t ahead_before = host.pictures_decoded_ahead();
  Observed o;
  o.error = ErrorOf([&] { control.SetFlipreelFile(Utf8ToText(path)); });
  o.notices = host.notices();
  for (const auto& m : host.messages()) o.messages.push_back(m.text);
  o.file = control.FlipreelFile();
  o.frames = control.Frames();
  o.frame_rate = control.FrameRate();
  o.loaded = control.state().FramesLoaded;
  o.last = control.state().LastFrame;
  o.timer = control.Timer1().enabled();
  std::vector<const Image*> images;
  for (int i = 0; i < control.imgBuffer().count(); ++i) images.push_back(&control.imgBuffer()(i));
  images.push_back(&control.imgGif());
  for (const Image* image : images) {
    const Picture& p = image->picture();
    Observed::Element e{image->left(), image->top(), image->tag(), 0, p.width(), p.height(), {}};
    while (!(images[e.same_picture_as]->picture() == p)) ++e.same_picture_as;
    for (int y = 0; y < p.height(); ++y)
      for (int x = 0; x < p.width(); ++x) e.pixels.push_back(p.data()->PixelArgb(x, y));
    o.elements.push_back(std::move(e));
  }
  if (ahead) *ahead = host.pictures_decoded_ahead() - ahead_before;
  return o;
}

// An animation whose frames are encoded with giflib, with codes of every width.
std::string Encoded(int frames, int width, int height, bool interlace) {
  gifexamples::AnimatedGif gif;
  gif.width = width;
  gif.height = height;
  for (int c = 0; c < 64; ++c) gif.global_palette.push_back(static_cast<uint32_t>(c * 0x040404));
  std::mt19937 random(static_cast<uint32_t>(frames));
  for (int t = 0; t < frames; ++t) {
    gifexamples::FrameImage f;
    f.width = width - t % 3;
    f.height = height - t % 2;
    f.left = t % 3;
    f.delay_cs = 3 + t;
    f.interlace = interlace;
    f.transparent = t % 4 == 1 ? 5 : -1;
    if (t % 5 == 2) f.local_palette = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    const int colours = f.local_palette.empty() ? 64 : 4;
    // Half the pixels noise, so that the file is large enough to be
    // decoded ahead.
    for (int p = 0; p < f.width * f.height; ++p)
      f.pixels.push_back(static_cast<uint8_t>((random() % 2 ? random() : p / 5 + t) % colours));
    gif.frames.push_back(std::move(f));
  }
  return gifexamples::EncodeGif(gif);
}

// The same file with the image data of its middle frame damaged: the LZW
// data cut short, bytes of it changed, or a descriptor that promises more
// pixels than the data holds.
std::vector<std::pair<std::string, std::string>> DamagedMiddles(const std::string& file) {
  const std::vector<size_t> at = testgif::SignatureOffsets(file);
  const size_t mid = at[at.size() / 2];
  const size_t image = mid + 9;  // past 00 21 F9 04 and the four bytes of the extension
  const size_t data = image + 11;
  std::vector<std::pair<std::string, std::string>> out;
  std::string cut = file;
  cut.erase(data + 4, at[at.size() / 2 + 1] - (data + 4) - 1);
  out.emplace_back("data cut short", cut);
  std::string changed = file;
  for (size_t p = data + 2; p < data + 12 && p < changed.size(); p += 3) changed[p] ^= 0x5A;
  out.emplace_back("data changed", changed);
  out.emplace_back("descriptor too wide", testgif::WithMiddleImageTooWide(file));
  return out;
}

}  // namespace

TEST(Ahead, LoadsExactlyAsOneByOne) {
  testfiles::TempDir dir;
  std::vector<std::pair<std::string, std::string>> files;
  for (const gifexamples::Example& example : gifexamples::Examples())
    files.emplace_back(example.file_name, gifexamples::EncodeGif(example.make()));
  for (int n : {1, 2, 3, 7}) files.emplace_back("animation", testgif::Build(Animation(n)));
  const std::string plain = Encoded(9, 200, 150, false);
  files.emplace_back("encoded", plain);
  files.emplace_back("encoded, interlaced", Encoded(6, 17, 13, true));
  for (auto& damaged : DamagedMiddles(plain)) files.push_back(damaged);
  for (auto& damaged : DamagedMiddles(Encoded(6, 17, 13, true))) files.push_back(damaged);
  for (const auto& entry : std::filesystem::directory_iterator(FLIPREEL_MALFORMED_DIR))
    if (entry.path().extension() == ".gif")
      files.emplace_back(entry.path().filename(), testfiles::ReadFile(entry.path()));

  const std::string before = dir.Write("before.gif", testgif::Build(Animation(4)));
  int64_t decoded_ahead = 0;
  for (const auto& [name, bytes] : files) {
    for (bool skipping : {false, true}) {
      SCOPED_TRACE(name + (skipping ? ", after a multi-frame file" : ", fresh control"));
      const std::string path = dir.Write("test.gif", bytes);
      const std::string earlier = skipping ? before : "";
      int64_t ahead = 0;
      const Observed one_by_one = LoadWith<OneByOneHost>(path, earlier);
      const Observed parallel = LoadWith<HeadlessHost>(path, earlier, &ahead);
      EXPECT_TRUE(parallel == one_by_one);
      decoded_ahead += ahead;
    }
  }
  // The comparison is between two different paths, not one path twice.
  EXPECT_GT(decoded_ahead, 20);
}

// The damaged middle frame ends a fresh control's split with the decoder's
// message and is skipped after a multi-frame file, with the files after it
// still decoded ahead.
TEST(Ahead, DamagedMiddleFrameInBothTrapModes) {
  testfiles::TempDir dir;
  const std::string before = dir.Write("before.gif", testgif::Build(Animation(4)));
  const std::string plain = Encoded(9, 200, 150, false);
  const std::string path = dir.Write("test.gif", DamagedMiddles(plain)[2].second);
  const Observed fresh = LoadWith<HeadlessHost>(path, "");
  ASSERT_EQ(fresh.messages.size(), 1u);
  EXPECT_EQ(fresh.messages[0], u"Error No. 481 : when reading file");
  EXPECT_FALSE(fresh.loaded);
  EXPECT_EQ(fresh.elements.size(), 5u + 1);  // frames 0 to 4, then imgGif

  int64_t ahead = 0;
  const Observed skipping = LoadWith<HeadlessHost>(path, before, &ahead);
  EXPECT_TRUE(skipping.messages.empty());
  EXPECT_TRUE(skipping.loaded);
  EXPECT_EQ(skipping.last, 8);
  EXPECT_EQ(skipping.elements[4].same_picture_as, 0);  // kept the copy of element 0
  EXPECT_EQ(ahead, 9);
}
