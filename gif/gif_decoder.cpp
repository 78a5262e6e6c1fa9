#include "gif/gif_decoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/errors.h"

namespace flipreel {

namespace {

[[noreturn]] void Invalid() {
  Raise(err::kInvalidPicture);
}

// Walks the block structure up to the end of the first image's data. True
// when the data ends exactly where the image's block terminator should be:
// the cut of a file's last frame, which we complete with that terminator.
bool EndsBeforeFirstImageTerminator(std::span<const uint8_t> b) {
  const size_t n = b.size();
  if (n < 13) return false;
  size_t pos = 13;
  if (b[10] & 0x80) pos += size_t{3} << ((b[10] & 7) + 1);
  auto skip_sub_blocks = [&](bool first_image) {
    for (;;) {
      if (pos == n) return first_image;
      if (pos > n) return false;
      const size_t len = b[pos];
      pos += 1 + len;
      if (len == 0) return false;
    }
  };
  while (pos < n) {
    if (b[pos] == 0x21) {
      pos += 2;
      if (skip_sub_blocks(false)) return false;
    } else if (b[pos] == 0x2C) {
      if (pos + 10 > n) return false;
      const uint8_t flags = b[pos + 9];
      pos += 10;
      if (flags & 0x80) pos += size_t{3} << ((flags & 7) + 1);
      pos += 1;  // LZW minimum code size
      return skip_sub_blocks(true);
    } else {
      return false;
    }
  }
  return false;
}

// The file's bytes as a stream, with one 00 byte after them when the data
// stops where the first image's block terminator belongs.
class Stream {
 public:
  Stream(std::span<const uint8_t> bytes, bool add_terminator)
      : data_(bytes.data()), size_(bytes.size() + (add_terminator ? 1 : 0)), real_(bytes.size()) {}

  size_t pos() const { return pos_; }
  size_t left() const { return size_ - pos_; }
  uint8_t At(size_t i) const { return i < real_ ? data_[i] : 0; }

  uint8_t Byte() {
    if (pos_ >= size_) Invalid();
    return At(pos_++);
  }
  int Word() {
    const int low = Byte();
    return low | Byte() << 8;
  }
  // Skips n bytes, all of which must be there.
  void Skip(size_t n) {
    if (n > left()) Invalid();
    pos_ += n;
  }
  // Where the next n bytes start; only valid when they all lie in the data.
  const uint8_t* Here() const { return data_ + pos_; }

 private:
  const uint8_t* data_;
  size_t size_;  // with the added terminator
  size_t real_;  // without it
  size_t pos_ = 0;
};

// Reads a colour table of 2^bits entries into the first entries of palette.
void ReadColourTable(Stream& in, int bits, PictureData::Palette& palette) {
  const int count = 1 << bits;
  const size_t start = in.pos();
  in.Skip(size_t{3} * count);
  for (int i = 0; i < count; ++i)
    palette[i] = 0xFF000000u | uint32_t{in.At(start + 3 * i)} << 16 |
                 uint32_t{in.At(start + 3 * i + 1)} << 8 | in.At(start + 3 * i + 2);
}

// Skips the sub-blocks of an extension or image data up to and including the
// zero-length one; every sub-block must be there whole.
void SkipSubBlocks(Stream& in) {
  for (;;) {
    const uint8_t length = in.Byte();
    if (length == 0) return;
    in.Skip(length);
  }
}

constexpr int kMaxCode = 4095;     // the largest LZW code
constexpr int kNoSuchCode = 4098;  // an unused table entry

// The LZW decoder's tables, kept from one image to the next. It decodes
// exactly as giflib's reader does, on damaged data too: the same pixels for
// every image it accepts and a refusal for every image it refuses.
//
// While the codes since the last clear code are well-formed (each one a pixel,
// a defined entry or the entry being defined), every entry's string already
// stands in the output, where the entry was made: a code is then copied from
// there rather than traced back through the table one pixel at a time. The
// table itself is kept exactly as giflib keeps it, so that at the first code
// that is not well-formed decoding goes on the slow way, as giflib does, and
// a clear code makes the table fresh again.
struct Lzw {
  uint16_t prefix[kMaxCode + 1];
  uint8_t suffix[kMaxCode + 1];
  uint8_t stack[kMaxCode + 1];
  uint32_t start[kMaxCode + 1];   // where an entry's string stands in the output
  uint16_t length[kMaxCode + 1];  // and its length

  // The first character of a code's string, as far as the table tells it.
  int PrefixChar(int code, int clear) const {
    int i = 0;
    while (code > clear && i++ <= kMaxCode) {
      if (code > kMaxCode) return kNoSuchCode;
      code = prefix[code];
    }
    return code;
  }

  // Decodes count pixels into out from the image data at the stream's
  // position (just after the minimum code size), then skips the data's
  // remaining sub-blocks.
  void Decode(Stream& in, int min_code_size, uint8_t* out, size_t count) {
    const int clear = 1 << min_code_size;
    const int eof = clear + 1;
    int running_code = eof + 1;
    int running_bits = min_code_size + 1;
    int max_code1 = 1 << running_bits;
    int last_code = kNoSuchCode;
    uint32_t shift_state = 0;
    uint64_t shift_word = 0;
    size_t block_left = 0;  // bytes of the current sub-block not read yet
    std::fill(std::begin(prefix), std::end(prefix), kNoSuchCode);

    auto next_code = [&]() -> int {
      if (running_bits > 12) Invalid();
      while (shift_state < static_cast<uint32_t>(running_bits)) {
        if (block_left == 0) {
          // A whole sub-block is read at once; an empty one inside the data
          // is an error.
          const uint8_t length = in.Byte();
          if (length == 0) Invalid();
          if (length > in.left()) Invalid();
          block_left = length;
        }
        shift_word |= uint64_t{in.At(in.pos())} << shift_state;
        in.Skip(1);
        --block_left;
        shift_state += 8;
      }
      const int code = static_cast<int>(shift_word & ((1u << running_bits) - 1));
      shift_word >>= running_bits;
      shift_state -= running_bits;
      if (running_code < kMaxCode + 2 && ++running_code > max_code1 && running_bits < 12) {
        max_code1 <<= 1;
        ++running_bits;
      }
      return code;
    };

    size_t i = 0;
    bool well_formed = true;
    size_t last_start = 0;  // where the previous code's string was put
    uint32_t last_length = 0;
    while (i < count) {
      const int code = next_code();
      if (code == eof) Invalid();  // the end before the last pixel
      if (code == clear) {
        std::fill(std::begin(prefix), std::end(prefix), kNoSuchCode);
        running_code = eof + 1;
        running_bits = min_code_size + 1;
        max_code1 = 1 << running_bits;
        last_code = kNoSuchCode;
        well_formed = true;
        continue;
      }
      if (well_formed && code > clear && prefix[code] == kNoSuchCode &&
          (code != running_code - 2 || last_code == kNoSuchCode))
        well_formed = false;
      if (well_formed) {
        const size_t at = i;
        uint32_t n;
        uint8_t first;
        if (code < clear) {
          first = static_cast<uint8_t>(code);
          out[i++] = first;
          n = 1;
        } else if (prefix[code] != kNoSuchCode) {
          n = length[code];
          const uint8_t* from = out + start[code];
          first = from[0];
          const size_t take = std::min<size_t>(n, count - i);
          std::memcpy(out + i, from, take);
          i += take;
        } else {
          // The entry being defined: the previous string and its own first
          // pixel.
          n = last_length + 1;
          const uint8_t* from = out + last_start;
          first = from[0];
          const size_t take = std::min<size_t>(last_length, count - i);
          std::memcpy(out + i, from, take);
          i += take;
          if (i < count) out[i++] = first;
        }
        if (last_code != kNoSuchCode && prefix[running_code - 2] == kNoSuchCode) {
          const int entry = running_code - 2;
          prefix[entry] = static_cast<uint16_t>(last_code);
          suffix[entry] = first;
          start[entry] = static_cast<uint32_t>(last_start);
          length[entry] = static_cast<uint16_t>(last_length + 1);
        }
        last_code = code;
        last_start = at;
        last_length = n;
        continue;
      }
      // The first character of the code's string when the table defines it
      // (a traced string ends there); -1 when it must be looked up.
      int first = code;
      if (code >= clear) {
        int sp = 0;
        int current_prefix;
        if (prefix[code] == kNoSuchCode) {
          current_prefix = last_code;
          const int c = PrefixChar(code == running_code - 2 ? last_code : code, clear);
          suffix[running_code - 2] = stack[sp++] = static_cast<uint8_t>(c);
          first = -1;
        } else {
          current_prefix = code;
        }
        while (sp < kMaxCode && current_prefix > clear && current_prefix <= kMaxCode) {
          stack[sp++] = suffix[current_prefix];
          current_prefix = prefix[current_prefix];
        }
        if (sp >= kMaxCode || current_prefix > kMaxCode) Invalid();
        stack[sp++] = static_cast<uint8_t>(current_prefix);
        if (first >= 0) first = current_prefix;
        // What does not fit is dropped: the image is complete.
        while (sp != 0 && i < count) out[i++] = stack[--sp];
      } else {
        out[i++] = static_cast<uint8_t>(code);
      }
      if (last_code != kNoSuchCode && prefix[running_code - 2] == kNoSuchCode) {
        // The new entry does not lie on the traced string (it was undefined
        // and the trace met no undefined entry), so its first character is
        // still the one the trace ended on.
        prefix[running_code - 2] = static_cast<uint16_t>(last_code);
        const int c =
            first >= 0 ? first : PrefixChar(code == running_code - 2 ? last_code : code, clear);
        suffix[running_code - 2] = static_cast<uint8_t>(c);
      }
      last_code = code;
    }
    // The rest of the current sub-block was read with it; the sub-blocks
    // after it are skipped up to the terminator.
    in.Skip(block_left);
    SkipSubBlocks(in);
  }
};

}  // namespace

// Codes are at least one bit wide, and the k-th code after a clear
// adds at most k pixels (a string one longer than the longest so far), never
// more than the 4096 of a full code table.
int64_t MostPixelsEncodable(size_t bytes) {
  constexpr int64_t kLongest = 4096;
  const int64_t codes = static_cast<int64_t>(std::min<size_t>(bytes, size_t{1} << 40)) * 8;
  if (codes <= kLongest) return codes * (codes + 1) / 2;
  return kLongest * (kLongest + 1) / 2 + (codes - kLongest) * kLongest;
}

bool LooksLikeGif(std::span<const uint8_t> bytes) {
  return bytes.size() >= 6 && std::memcmp(bytes.data(), "GIF", 3) == 0;
}

Picture KeepReserved(Picture picture, std::shared_ptr<const void> reservation) {
  if (picture.IsEmpty() || !reservation) return picture;
  // A second owner of the same data whose deleter holds both the first owner
  // and the reservation: when the last copy goes, both are released.
  const PictureData* data = picture.data();
  return Picture(std::shared_ptr<const PictureData>(
      data,
      [owner = picture.shared(), reservation = std::move(reservation)](const PictureData*) mutable {
        owner.reset();
        reservation.reset();
      }));
}

Picture DecodeGif(std::span<const uint8_t> bytes, const MemoryBudget* budget) {
  if (!LooksLikeGif(bytes)) Invalid();
  Stream in(bytes, EndsBeforeFirstImageTerminator(bytes));
  in.Skip(10);  // signature, version and the logical screen's size
  const uint8_t screen_flags = in.Byte();
  in.Skip(2);  // background colour and aspect ratio
  PictureData::Palette palette;
  palette.fill(0xFF000000u);
  if (screen_flags & 0x80) ReadColourTable(in, (screen_flags & 7) + 1, palette);

  // Extensions up to the first image; the last Graphic Control Extension
  // before it gives the transparent index.
  int transparent = -1;
  for (;;) {
    const uint8_t introducer = in.Byte();
    if (introducer == 0x2C) break;
    if (introducer != 0x21) Invalid();  // the trailer or junk: no image
    const uint8_t label = in.Byte();
    const uint8_t length = in.Byte();
    if (length == 0) continue;
    const size_t body = in.pos();
    in.Skip(length);
    if (label == 0xF9 && length >= 4) transparent = (in.At(body) & 0x01) ? in.At(body + 3) : -1;
    SkipSubBlocks(in);
  }

  in.Skip(4);  // the image's offset: the frame split places frames itself
  const int width = in.Word();
  const int height = in.Word();
  const uint8_t image_flags = in.Byte();
  if (image_flags & 0x80) {
    palette.fill(0xFF000000u);
    ReadColourTable(in, (image_flags & 7) + 1, palette);
  }
  const int min_code_size = in.Byte();
  if (min_code_size > 8) Invalid();  // pixels are at most 8 bits
  const int64_t pixels = int64_t{width} * height;
  if (width <= 0 || height <= 0 || pixels > kMaxPicturePixels ||
      pixels > MostPixelsEncodable(bytes.size() - std::min(in.pos(), bytes.size())))
    Invalid();
  if (transparent >= 0) palette[transparent] &= 0x00FFFFFFu;
  std::shared_ptr<const void> reservation;
  if (budget)
    reservation = budget->Reserve(
        pixels + static_cast<int64_t>(sizeof(PictureData::Palette)),
        "a picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");

  thread_local Lzw lzw;
  std::vector<uint8_t> indices(static_cast<size_t>(pixels));
  if (!(image_flags & 0x40)) {
    lzw.Decode(in, min_code_size, indices.data(), indices.size());
  } else {
    // Rows arrive in four passes: every 8th from 0, every 8th from 4, every
    // 4th from 2, every 2nd from 1.
    // The buffer for the passes is kept for the next interlaced image unless
    // it is large.
    thread_local std::vector<uint8_t> passes;
    struct Release {
      ~Release() {
        if (passes.capacity() > (size_t{4} << 20)) std::vector<uint8_t>().swap(passes);
      }
    } release;
    passes.resize(indices.size());
    lzw.Decode(in, min_code_size, passes.data(), passes.size());
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    const uint8_t* row_in = passes.data();
    for (int pass = 0; pass < 4; ++pass)
      for (int row = kStart[pass]; row < height; row += kStep[pass], row_in += width)
        std::memcpy(indices.data() + static_cast<size_t>(row) * width, row_in, width);
  }
  return KeepReserved(Picture(PictureData::Indexed(width, height, std::move(indices), palette)),
                      std::move(reservation));
}

}  // namespace flipreel
