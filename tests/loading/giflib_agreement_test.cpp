// Our GIF decoder against giflib's reader on the same bytes: well-formed
// files, the frame files the split cuts from them, and many damaged variants.
// Both must accept the same files, with the same pixels and colours, and
// refuse the same files.
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "examples/example_gifs.h"
#include "flipreel/gif/gif_facts.h"
#include "tests/loading/giflib_reader.h"
#include "tests/loading/loading_support.h"

using namespace flipreel;
using namespace loadingtest;

namespace {

struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> indices;
  PictureData::Palette palette{};
  bool operator==(const Decoded&) const = default;
};

std::optional<Decoded> Ours(const std::string& bytes) {
  try {
    const Picture p = Decode(bytes);
    const PictureData& d = *p.data();
    return Decoded{p.width(),
                   p.height(),
                   {d.indices(), d.indices() + static_cast<size_t>(p.width()) * p.height()},
                   d.palette()};
  } catch (const HostError&) {
    return std::nullopt;
  }
}

// The first image through giflib's record reader, completed with a block
// terminator where a file's last frame is cut before it, since the picture
// loader accepts a frame file without its final terminator.
std::optional<Decoded> Giflib(const std::string& bytes, bool terminator) {
  GiflibSource source{&bytes, terminator ? 1 : 0};
  const GiflibFile gif = OpenWithGiflib(source);
  if (!gif) return std::nullopt;
  int transparent = -1;
  for (GifRecordType type;;) {
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) return std::nullopt;
    if (type == IMAGE_DESC_RECORD_TYPE) break;
    if (type != EXTENSION_RECORD_TYPE) return std::nullopt;
    int code = 0;
    GifByteType* ext = nullptr;
    if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR) return std::nullopt;
    if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4)
      transparent = (ext[1] & 1) ? ext[4] : -1;
    while (ext)
      if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) return std::nullopt;
  }
  if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return std::nullopt;
  const GifImageDesc& desc = gif->Image;
  const int64_t pixels = int64_t{desc.Width} * desc.Height;
  // Beyond what giflib checks: sizes the decoder refuses before allocating.
  if (desc.Width <= 0 || desc.Height <= 0 || pixels > kMaxPicturePixels) return std::nullopt;
  if (pixels > int64_t{8} * 4096 * static_cast<int64_t>(bytes.size() + 1)) return std::nullopt;
  Decoded d{desc.Width, desc.Height, std::vector<uint8_t>(static_cast<size_t>(pixels)),
            ColoursOf(desc.ColorMap ? desc.ColorMap : gif->SColorMap, transparent)};
  std::vector<uint8_t> rows(d.indices.size());
  if (DGifGetLine(gif.get(), rows.data(), static_cast<int>(pixels)) == GIF_ERROR)
    return std::nullopt;
  if (!desc.Interlace) {
    d.indices = rows;
  } else {
    const uint8_t* in = rows.data();
    for (int pass = 0; pass < 4; ++pass)
      for (int y = kInterlaceStart[pass]; y < desc.Height;
           y += kInterlaceStep[pass], in += desc.Width)
        std::memcpy(d.indices.data() + static_cast<size_t>(y) * desc.Width, in, desc.Width);
  }
  return d;
}

// Frame files as the split cuts them from a file.
std::vector<std::string> CutFrames(const std::string& file) {
  const std::vector<size_t> at = testgif::SignatureOffsets(file);
  std::vector<std::string> out;
  if (at.empty()) return out;
  const std::string header = file.substr(0, at[0] + 2);
  size_t start = at[0] + 3;
  for (size_t i = 1; i < at.size(); start = at[i++] + 3)
    out.push_back(header + file.substr(start - 1, at[i] + 2 - (start - 1)));
  if (start + 1 < file.size())
    out.push_back(header + file.substr(start - 1, file.size() - 2 - (start - 1)));
  return out;
}

}  // namespace

namespace {

// Well-formed files and the frame files cut from them, many damaged variants
// of both, and single images whose data is random codes of every code size.
std::vector<std::string> AgreementInputs() {
  std::mt19937 random(2026);
  std::vector<std::string> files;
  for (const gifexamples::Example& example : gifexamples::Examples())
    files.push_back(gifexamples::EncodeGif(example.make()));
  for (std::string& file : RandomAnimations(random, 30)) files.push_back(std::move(file));
  std::vector<std::string> inputs;
  for (const std::string& file : files) {
    inputs.push_back(file);
    for (std::string& frame : CutFrames(file)) inputs.push_back(std::move(frame));
  }
  // Damaged variants: bytes changed, cut, removed and inserted anywhere.
  const size_t whole = inputs.size();
  for (int i = 0; i < 30000; ++i) inputs.push_back(Damaged(inputs[random() % whole], random, 4));
  // Images whose data is random codes, mostly pixels and entries of the
  // table: well-formed for a while, then not.
  for (int i = 0; i < 20000; ++i) {
    // Now and then a code size no decoder takes.
    const int code_size = static_cast<int>(random() % 50 ? random() % 9 : random() % 256);
    const char w = static_cast<char>(1 + random() % 64), h = static_cast<char>(1 + random() % 32);
    std::string s = "GIF89a" + std::string{w, 0, h, 0, static_cast<char>(0x87), 0, 0};
    for (int c = 0; c < 768; ++c) s += static_cast<char>(random());
    s += std::string{0x2C,
                     0,
                     0,
                     0,
                     0,
                     w,
                     0,
                     h,
                     0,
                     static_cast<char>(random() % 2 ? 0x40 : 0),
                     static_cast<char>(code_size)};
    // Codes of one more bit than the code size, for sizes a decoder takes.
    const unsigned code_mask = code_size <= 8 ? (2u << code_size) - 1 : 0xFFFu;
    for (int blocks = 1 + static_cast<int>(random() % 12); blocks > 0; --blocks) {
      const int length = 1 + static_cast<int>(random() % 255);
      s += static_cast<char>(length);
      for (int k = 0; k < length; ++k)
        s += static_cast<char>(random() % 3 ? random() & code_mask : random());
    }
    inputs.push_back(s + '\0');
  }
  return inputs;
}

}  // namespace

TEST(GiflibAgreement, SameFilesSamePixels) {
  const std::vector<std::string> inputs = AgreementInputs();
  int accepted = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const std::string& s = inputs[i];
    const auto ours = Ours(s);
    // giflib alone, and giflib with the terminator a cut last frame lacks.
    auto theirs = Giflib(s, false);
    if (!theirs && ours) theirs = Giflib(s, true);
    ASSERT_EQ(ours.has_value(), theirs.has_value()) << "input " << i;
    if (ours) {
      ASSERT_TRUE(*ours == *theirs) << "input " << i;
      ++accepted;
    }
  }
  EXPECT_GT(accepted, 1000);
}

// What a file says of itself is the same when whole images are read straight
// from the bytes as when giflib reads every one, up to the same problem.
TEST(GiflibAgreement, SkimmedFactsAreGiflibsFacts) {
  const auto same = [](const GifImageFacts& a, const GifImageFacts& b) {
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height &&
           a.delay_cs == b.delay_cs && a.disposal == b.disposal && a.transparent == b.transparent &&
           a.interlaced == b.interlaced && a.local_colors == b.local_colors;
  };
  size_t images = 0, problems = 0;
  for (const std::string& s : AgreementInputs()) {
    const auto skimmed = ReadGifFacts(Span(s));
    const auto giflib = ReadGifFacts(Span(s), FactsReading::kGiflibOnly);
    ASSERT_EQ(skimmed.has_value(), giflib.has_value());
    if (!skimmed) continue;
    ASSERT_EQ(skimmed->problem, giflib->problem);
    ASSERT_EQ(skimmed->repeat, giflib->repeat);
    ASSERT_EQ(skimmed->images.size(), giflib->images.size());
    for (size_t i = 0; i < skimmed->images.size(); ++i)
      ASSERT_TRUE(same(skimmed->images[i], giflib->images[i])) << "image " << i;
    images += skimmed->images.size();
    problems += !skimmed->problem.empty();
  }
  EXPECT_GT(images, 10000u);
  EXPECT_GT(problems, 1000u);
}

namespace {

// LZW codes written as a decoder reads them: least significant bit first,
// each as wide as the decoder's table asks at that point.
class CodeWriter {
 public:
  explicit CodeWriter(int min_code_size) : min_code_size_(min_code_size) { Restart(); }

  // The entry the decoder defines on reading the next code, if the codes are
  // well-formed and the previous code was not a clear code.
  int NextEntry() const { return std::min(running_code_ + 1, 4097) - 2; }

  void Put(int code) {
    bits_ |= uint64_t(code) << count_;
    count_ += running_bits_;
    while (count_ >= 8) {
      data_ += static_cast<char>(bits_ & 0xFF);
      bits_ >>= 8;
      count_ -= 8;
    }
    if (running_code_ < 4097 && ++running_code_ > max_code1_ && running_bits_ < 12) {
      max_code1_ <<= 1;
      ++running_bits_;
    }
    if (code == 1 << min_code_size_) Restart();
  }

  // The data in sub-blocks of random sizes, with the terminator.
  std::string SubBlocks(std::mt19937& random) {
    if (count_ > 0) data_ += static_cast<char>(bits_ & 0xFF);
    std::string out;
    for (size_t at = 0; at < data_.size();) {
      const size_t n = std::min<size_t>(data_.size() - at, 1 + random() % 255);
      out += static_cast<char>(n);
      out.append(data_, at, n);
      at += n;
    }
    return out + '\0';
  }

 private:
  void Restart() {
    running_code_ = (1 << min_code_size_) + 2;
    running_bits_ = min_code_size_ + 1;
    max_code1_ = 1 << running_bits_;
  }
  int min_code_size_, running_code_ = 0, running_bits_ = 0, max_code1_ = 0;
  uint64_t bits_ = 0;
  int count_ = 0;
  std::string data_;
};

}  // namespace

// Long code streams that stay well-formed (pixels, defined entries, the
// entry being defined), so that strings grow long and the table fills up and
// stays full until a clear code, some with one code now and then that is not
// well-formed; images end before, at or after the codes' last pixel.
TEST(GiflibAgreement, LongCodeStreams) {
  std::mt19937 random(16);
  int accepted = 0;
  for (int k = 0; k < 400; ++k) {
    const int min_code_size = 2 + static_cast<int>(random() % 7);
    const int clear = 1 << min_code_size, eof = clear + 1;
    const bool clears = random() % 2, damaged = random() % 4 == 0;
    CodeWriter writer(min_code_size);
    std::vector<size_t> length(4096, 0);
    int next_entry = eof + 1, last = -1;
    size_t pixels = 0;
    for (int codes = 2000 + static_cast<int>(random() % 8000); codes > 0; --codes) {
      const int pick = static_cast<int>(random() % 100);
      const bool can_define = last >= 0 && writer.NextEntry() == next_entry && next_entry < 4096;
      int code;
      if (clears && pick < 1) {
        writer.Put(clear);
        next_entry = eof + 1, last = -1;
        continue;
      } else if (last < 0 || pick < 35 || next_entry == eof + 1) {
        code = static_cast<int>(random() % clear);
      } else if (damaged && pick < 37) {
        code = std::min(4095, next_entry + 1 + static_cast<int>(random() % 8));
      } else if (can_define && pick < 45) {
        code = next_entry;  // the entry being defined
      } else if (pick < 70) {
        code = next_entry - 1;  // the longest so far, mostly
      } else {
        code = eof + 1 + static_cast<int>(random() % (next_entry - eof - 1));
      }
      writer.Put(code);
      const size_t n = code < clear ? 1 : code < next_entry ? length[code] : length[last] + 1;
      if (can_define) length[next_entry++] = length[last] + 1;
      pixels += n;
      last = code;
    }
    const int width = 1 + static_cast<int>(random() % 300);
    const size_t wanted = pixels + (random() % 3 == 0 ? 0 : random() % 2 ? 37 : size_t(0) - 40);
    const int height = std::max(1, static_cast<int>(std::min<size_t>(wanted / width, 65535)));
    auto word = [](int v) {
      return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    };
    std::string s =
        "GIF89a" + word(width) + word(height) + std::string{static_cast<char>(0x87), 0, 0};
    for (int c = 0; c < 768; ++c) s += static_cast<char>(random());
    s += std::string{0x2C, 0, 0, 0, 0} + word(width) + word(height) +
         static_cast<char>(random() % 4 ? 0 : 0x40) + static_cast<char>(min_code_size);
    s += writer.SubBlocks(random);
    SCOPED_TRACE(k);
    const auto ours = Ours(s);
    const auto theirs = Giflib(s, false);
    ASSERT_EQ(ours.has_value(), theirs.has_value());
    if (ours) {
      ASSERT_TRUE(*ours == *theirs);
      ++accepted;
    }
  }
  EXPECT_GT(accepted, 150);
}
