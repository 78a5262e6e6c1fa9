#include "flipreel/gif/gif_decoder.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "flipreel/host/errors.h"

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
  // Copies the next n bytes, all of which must be there, and moves past them.
  void Read(uint8_t* to, size_t n) {
    if (n > left()) Invalid();
    const size_t real = pos_ < real_ ? std::min(n, real_ - pos_) : 0;
    std::memcpy(to, data_ + pos_, real);
    std::fill(to + real, to + n, uint8_t{0});
    pos_ += n;
  }

 private:
  const uint8_t* data_;
  size_t size_;  // with the added terminator
  size_t real_;  // without it
  size_t pos_ = 0;
};

// Reads a colour table of 2^bits entries into the first entries of palette.
void ReadColourTable(Stream& in, int bits, PictureData::Palette& palette) {
  const int count = 1 << bits;
  uint8_t rgb[3 * 256];
  in.Read(rgb, size_t{3} * count);
  for (int i = 0; i < count; ++i)
    palette[i] =
        0xFF000000u | uint32_t{rgb[3 * i]} << 16 | uint32_t{rgb[3 * i + 1]} << 8 | rgb[3 * i + 2];
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

// Gives a buffer kept for the next image back when it is large.
void ReleaseIfLarge(std::vector<uint8_t>& buffer) {
  if (buffer.capacity() > (size_t{4} << 20)) std::vector<uint8_t>().swap(buffer);
}

constexpr int kMaxCode = 4095;     // the largest LZW code
constexpr int kNoSuchCode = 4098;  // an unused table entry
constexpr size_t kChunk = 16;      // strings are copied in pieces of this size

// Copies a piece of a string through a register-sized buffer: the piece read
// may reach into the one written just before (past the string's end).
inline void CopyChunk(uint8_t* to, const uint8_t* from) {
  uint8_t chunk[kChunk];
  std::memcpy(chunk, from, kChunk);
  std::memcpy(to, chunk, kChunk);
}

// Copies the string of n pixels at out + from to out + i, where from + n <= i:
// in whole pieces when the output has room for the last one to run over (what
// runs over is overwritten by the pixels that follow), else exactly, as far as
// the output goes. Returns the new i.
inline size_t CopyString(uint8_t* out, size_t from, size_t i, size_t n, size_t count) {
  if (count - i >= n + kChunk - 1) {
    CopyChunk(out + i, out + from);
    for (size_t k = kChunk; k < n; k += kChunk) CopyChunk(out + i + k, out + from + k);
    return i + n;
  }
  n = std::min(n, count - i);
  std::memcpy(out + i, out + from, n);
  return i + n;
}

// The LZW decoder's tables, kept from one image to the next. It decodes
// exactly as giflib's reader does, on damaged data too: the same pixels for
// every image it accepts and a refusal for every image it refuses.
//
// While the codes since the last clear code are well-formed (each one a pixel,
// a defined entry or the entry being defined), the entries are defined one
// after the other, and every entry's string already stands in the output,
// where the entry was made: a code is then copied from there in whole pieces
// rather than traced back through the table one pixel at a time. At the first
// code that is not well-formed the table is completed to what giflib keeps
// (the unused entries marked, the suffixes read from the output), and decoding
// goes on the slow way, as giflib does, until a clear code.
struct Lzw {
  struct Entry {
    uint32_t start;   // where the entry's string stands in the output
    uint16_t length;  // its length
    uint16_t prefix;  // the code of the string without its last pixel
  };
  Entry table[kMaxCode + 1];
  uint8_t suffix[kMaxCode + 1];
  uint8_t stack[kMaxCode + 1];
  // The image data's sub-blocks joined, followed by zero bytes for the code
  // reader to run over.
  std::vector<uint8_t> data;

  // The first character of a code's string, as far as the table tells it.
  int PrefixChar(int code, int clear) const {
    int i = 0;
    while (code > clear && i++ <= kMaxCode) {
      if (code > kMaxCode) return kNoSuchCode;
      code = table[code].prefix;
    }
    return code;
  }

  // Joins the image data's sub-blocks, from the stream's position (just after
  // the minimum code size) up to and including the zero-length one; every
  // sub-block must be there whole. Returns the number of data bytes.
  size_t JoinSubBlocks(Stream& in) {
    size_t size = 0;
    for (;;) {
      const uint8_t length = in.Byte();
      if (length == 0) break;
      data.resize(size + length);
      in.Read(data.data() + size, length);
      size += length;
    }
    data.resize(size + sizeof(uint64_t));
    std::fill_n(data.begin() + static_cast<ptrdiff_t>(size), sizeof(uint64_t), 0);
    return size;
  }

  // The codes of the image data: read least significant bit first, each as
  // wide as the table's size asks, from 1 + the minimum code size up to 12
  // bits; the code count is kept as giflib keeps it.
  struct Codes {
    const uint8_t* data;
    uint64_t total_bits;
    uint64_t bit = 0;  // the next code's first bit
    int min_code_size;
    int running_code;  // the next entry to define, plus 2
    int running_bits;
    int max_code1;  // the code count at which the width grows
    uint32_t mask;

    Codes(const uint8_t* d, size_t size, int min_bits)
        : data(d), total_bits(uint64_t{size} * 8), min_code_size(min_bits) {
      Restart();
    }
    // After a clear code.
    void Restart() {
      running_code = (1 << min_code_size) + 2;
      running_bits = min_code_size + 1;
      mask = (1u << running_bits) - 1;
      max_code1 = 1 << running_bits;
    }
    int Next() {
      if (bit + static_cast<uint64_t>(running_bits) > total_bits) Invalid();
      uint64_t word;
      std::memcpy(&word, data + (bit >> 3), sizeof word);
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
      const int code = static_cast<int>((word >> (bit & 7)) & mask);
      bit += static_cast<uint64_t>(running_bits);
      running_code += running_code < kMaxCode + 2 ? 1 : 0;
      if (running_code > max_code1) {
        ++running_bits;
        mask = mask << 1 | 1;
        max_code1 = running_bits < 12 ? max_code1 << 1 : kMaxCode + 2;
      }
      return code;
    }
  };

  // Decodes count pixels into out from the image data at the stream's
  // position (just after the minimum code size), reading the data's
  // sub-blocks up to their terminator. Fails when the codes run out first.
  void Decode(Stream& in, int min_code_size, uint8_t* const out, const size_t count) {
    const size_t size = JoinSubBlocks(in);
    Codes codes(data.data(), size, min_code_size);
    const int eof = (1 << min_code_size) + 1;
    size_t i = 0;
    while (i < count) {
      int last_code = kNoSuchCode;
      int defined_end = eof + 1;
      const int code = DecodeWellFormed(codes, out, count, i, last_code, defined_end);
      if (i == count) break;
      CompleteTable(eof, defined_end, out);
      DecodeTraced(codes, code, out, count, i, last_code);
    }
  }

  // Decodes from a fresh table (at the start, or after a clear code) while
  // the codes are well-formed. The entries from eof + 1 up to defined_end are
  // then defined, one more with every code after the first, and no other, so
  // the table's size tells how far the code count has gone: it is not kept
  // apart. Returns the first code that is not well-formed, with the reader
  // and the table as giflib has them on reading it, or -1 when the output is
  // complete.
  [[gnu::noinline]] int DecodeWellFormed(Codes& codes, uint8_t* const out, const size_t count,
                                         size_t& i_io, int& last_code_io, int& defined_end_io) {
    const int clear = 1 << codes.min_code_size;
    const int eof = clear + 1;
    const uint8_t* const data = codes.data;
    const uint64_t total_bits = codes.total_bits;
    uint64_t bit = codes.bit;
    int running_bits = codes.running_bits;
    uint32_t mask = codes.mask;
    int max_code1 = codes.max_code1;
    size_t i = i_io;
    int defined_end = eof + 1;
    int last_code = kNoSuchCode;
    uint32_t last_start = 0;  // where the previous code's string was put
    uint32_t last_length = 0;
    int code = -1;

    auto read = [&] {
      if (bit + static_cast<uint64_t>(running_bits) > total_bits) Invalid();
      uint64_t word;
      std::memcpy(&word, data + (bit >> 3), sizeof word);
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
      code = static_cast<int>((word >> (bit & 7)) & mask);
      bit += static_cast<uint64_t>(running_bits);
    };
    // The code count after the code just read is running_code; codes grow
    // wider when it passes max_code1, up to 12 bits.
    auto grow = [&](int running_code) {
      if (running_code > max_code1) {
        ++running_bits;
        mask = mask << 1 | 1;
        max_code1 = running_bits < 12 ? max_code1 << 1 : kMaxCode + 2;
      }
    };
    auto restart = [&] {
      codes.Restart();
      running_bits = codes.running_bits;
      mask = codes.mask;
      max_code1 = codes.max_code1;
      defined_end = eof + 1;
      last_code = kNoSuchCode;
    };
    // Leaves with the reader's state as giflib has it after the code read.
    auto leave = [&](int running_code) {
      codes.bit = bit;
      codes.running_code = running_code;
      codes.running_bits = running_bits;
      codes.mask = mask;
      codes.max_code1 = max_code1;
      i_io = i;
      last_code_io = last_code;
      defined_end_io = defined_end;
      return code;
    };

    for (;;) {
      // The first code of a fresh table: a pixel, in well-formed data.
      if (i == count) break;
      read();
      grow(eof + 2);
      if (code == clear) {
        restart();
        continue;
      }
      if (code == eof) Invalid();  // the end before the last pixel
      if (code > eof) return leave(eof + 2);
      last_start = static_cast<uint32_t>(i);
      last_length = 1;
      out[i++] = static_cast<uint8_t>(code);
      last_code = code;

      // Then every code defines the next entry, until the table is full.
      while (i < count) {
        read();
        const size_t at = i;
        uint32_t n;
        if (code < clear) {
          out[i++] = static_cast<uint8_t>(code);
          n = 1;
        } else if (code > eof && code < defined_end) {
          const Entry e = table[code];
          n = e.length;
          i = CopyString(out, e.start, i, n, count);
        } else if (code == defined_end && defined_end <= kMaxCode) {
          // The entry being defined: the previous string and its own first
          // pixel.
          n = last_length + 1;
          const uint8_t first = out[last_start];
          i = CopyString(out, last_start, i, last_length, count);
          if (i < count) out[i++] = first;
        } else if (code == clear) {
          break;
        } else if (code == eof) {
          Invalid();  // the end before the last pixel
        } else {
          const int running_code = std::min(defined_end + 2, kMaxCode + 2);
          grow(running_code);
          return leave(running_code);
        }
        // The new entry: the previous string and the first pixel of this one.
        if (defined_end <= kMaxCode) {
          table[defined_end] = {last_start, static_cast<uint16_t>(last_length + 1),
                                static_cast<uint16_t>(last_code)};
          ++defined_end;
          grow(defined_end + 1);
        }
        last_code = code;
        last_start = static_cast<uint32_t>(at);
        last_length = n;
      }
      if (i == count) break;
      restart();
    }
    i_io = i;  // the output is complete
    return -1;
  }

  // The table as giflib has it after the well-formed codes since the last
  // clear: the entries from eof + 1 up to defined_end defined, each with the
  // last pixel of its string (where it stands in the output) as suffix, and
  // every other entry unused.
  [[gnu::noinline]] void CompleteTable(int eof, int defined_end, const uint8_t* out) {
    for (int e = 0; e <= eof; ++e) table[e].prefix = kNoSuchCode;
    for (int e = eof + 1; e < defined_end; ++e)
      suffix[e] = out[table[e].start + table[e].length - 1u];
    for (int e = defined_end; e <= kMaxCode; ++e) table[e].prefix = kNoSuchCode;
  }

  // Decodes the way giflib does, from code on (which has been read) up to a
  // clear code or the output's end, tracing each string back through the
  // table one pixel at a time.
  [[gnu::noinline]] void DecodeTraced(Codes& codes, int code, uint8_t* out, size_t count, size_t& i,
                                      int last_code) {
    const int clear = 1 << codes.min_code_size;
    const int eof = clear + 1;
    for (;;) {
      const int running_code = codes.running_code;
      // The first character of the code's string when the table defines it
      // (a traced string ends there); -1 when it must be looked up.
      int first = code;
      if (code > eof) {
        int sp = 0;
        int current_prefix;
        if (table[code].prefix == kNoSuchCode) {
          current_prefix = last_code;
          const int c = PrefixChar(code == running_code - 2 ? last_code : code, clear);
          suffix[running_code - 2] = stack[sp++] = static_cast<uint8_t>(c);
          first = -1;
        } else {
          current_prefix = code;
        }
        while (sp < kMaxCode && current_prefix > clear && current_prefix <= kMaxCode) {
          stack[sp++] = suffix[current_prefix];
          current_prefix = table[current_prefix].prefix;
        }
        if (sp >= kMaxCode || current_prefix > kMaxCode) Invalid();
        stack[sp++] = static_cast<uint8_t>(current_prefix);
        if (first >= 0) first = current_prefix;
        // What does not fit is dropped: the image is complete.
        while (sp != 0 && i < count) out[i++] = stack[--sp];
      } else {
        out[i++] = static_cast<uint8_t>(code);
      }
      if (last_code != kNoSuchCode && table[running_code - 2].prefix == kNoSuchCode) {
        // The new entry does not lie on the traced string (it was undefined
        // and the trace met no undefined entry), so its first character is
        // still the one the trace ended on.
        table[running_code - 2].prefix = static_cast<uint16_t>(last_code);
        const int c =
            first >= 0 ? first : PrefixChar(code == running_code - 2 ? last_code : code, clear);
        suffix[running_code - 2] = static_cast<uint8_t>(c);
      }
      last_code = code;
      if (i == count) return;
      code = codes.Next();
      if (code == eof) Invalid();  // the end before the last pixel
      if (code == clear) {
        codes.Restart();
        return;
      }
    }
  }
};

// The decoder of this thread. Reached once per image: every access to a
// thread-local object costs a call to the runtime.
[[gnu::noinline]] Lzw& ThreadLzw() {
  thread_local Lzw lzw;
  return lzw;
}

// The palette as a shared one: the last one this thread made when it has the
// same colours (the frames of a GIF mostly do), else a new one.
std::shared_ptr<const PictureData::Palette> SharedPalette(const PictureData::Palette& palette) {
  thread_local std::shared_ptr<const PictureData::Palette> last;
  if (!last || *last != palette) last = std::make_shared<const PictureData::Palette>(palette);
  return last;
}

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
    reservation =
        budget->ReserveNamed(pixels + static_cast<int64_t>(sizeof(PictureData::Palette)), [&] {
          return "a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels";
        });

  Lzw& lzw = ThreadLzw();
  struct ReleaseData {
    Lzw& lzw;
    ~ReleaseData() { ReleaseIfLarge(lzw.data); }
  } release_data{lzw};
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
      ~Release() { ReleaseIfLarge(passes); }
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
  return KeepReserved(
      Picture(PictureData::Indexed(width, height, std::move(indices), SharedPalette(palette))),
      std::move(reservation));
}

}  // namespace flipreel
