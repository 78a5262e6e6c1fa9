#include "flipreel/gif/lzw_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace flipreel {

namespace {

constexpr int kMaxCode = 4095;     // the largest LZW code
constexpr int kNoSuchCode = 4098;  // an unused table entry
constexpr size_t kChunk = 16;      // strings are copied in pieces of this size

// Gives a buffer kept for the next image back when it is large.
void ReleaseIfLarge(std::vector<uint8_t>& buffer) {
  if (buffer.capacity() > (size_t{4} << 20)) std::vector<uint8_t>().swap(buffer);
}

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

// The codes of the image data: read least significant bit first, each as
// wide as the table's size asks, from 1 + the minimum code size up to 12
// bits. The data is followed by zero bytes, so that every code is taken
// from one 64-bit word.
struct CodeReader {
  const uint8_t* data;
  uint64_t total_bits;
  uint64_t bit = 0;  // the next code's first bit
  int min_code_size;
  int running_code = 0;  // the next entry to define, plus 2, as giflib counts
  int running_bits = 0;
  int max_code1 = 0;  // the count at which codes grow wider
  uint32_t mask = 0;

  CodeReader(const uint8_t* d, size_t size, int min_bits)
      : data(d), total_bits(uint64_t{size} * 8), min_code_size(min_bits) {
    Restart();
  }
  // At the start and after a clear code.
  void Restart() {
    running_code = (1 << min_code_size) + 2;
    running_bits = min_code_size + 1;
    mask = (1u << running_bits) - 1;
    max_code1 = 1 << running_bits;
  }
  // The next code; false when the data holds fewer bits than it needs.
  bool Read(int& code) {
    if (bit + static_cast<uint64_t>(running_bits) > total_bits) return false;
    uint64_t word;
    std::memcpy(&word, data + (bit >> 3), sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    code = static_cast<int>((word >> (bit & 7)) & mask);
    bit += static_cast<uint64_t>(running_bits);
    return true;
  }
  // Codes grow one bit wider when the count passes max_code1, up to 12 bits.
  void Grow(int count) {
    if (count > max_code1) {
      ++running_bits;
      mask = mask << 1 | 1;
      max_code1 = running_bits < 12 ? max_code1 << 1 : kMaxCode + 2;
    }
  }
  // Read, counted as giflib counts every code.
  bool Next(int& code) {
    if (!Read(code)) return false;
    running_code += running_code < kMaxCode + 2 ? 1 : 0;
    Grow(running_code);
    return true;
  }
};

// The fast decoder's answer when the output is complete.
constexpr int kComplete = -1;

// Thrown by the fast decoder when the codes run out or end too soon, with
// the pixels decoded by then: a throw keeps the failure out of its loop.
struct CodesEnded {
  size_t pixels;
};
[[noreturn, gnu::cold, gnu::noinline]] void EndCodes(size_t pixels) {
  throw CodesEnded{pixels};
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
  // The pixels of an interlaced image in the order they arrive.
  std::vector<uint8_t> passes;

  // The first character of a code's string, as far as the table tells it.
  int PrefixChar(int code, int clear) const {
    int i = 0;
    while (code > clear && i++ <= kMaxCode) {
      if (code > kMaxCode) return kNoSuchCode;
      code = table[code].prefix;
    }
    return code;
  }

  // Decodes count pixels into out from the joined data; returns how many it
  // decoded before the codes ran out or went wrong, count when complete.
  size_t Decode(size_t size, int min_code_size, uint8_t* const out, const size_t count) {
    CodeReader codes(data.data(), size, min_code_size);
    const int eof = (1 << min_code_size) + 1;
    size_t i = 0;
    try {
      while (i < count) {
        int last_code = kNoSuchCode;
        int defined_end = eof + 1;
        const int code = DecodeWellFormed(codes, out, count, i, last_code, defined_end);
        if (code == kComplete) break;
        CompleteTable(eof, defined_end, out);
        if (!DecodeTraced(codes, code, out, count, i, last_code)) break;
      }
    } catch (const CodesEnded& ended) {
      return ended.pixels;
    }
    return i;
  }

  // Decodes from a fresh table (at the start, or after a clear code) while
  // the codes are well-formed. The entries from eof + 1 up to defined_end are
  // then defined, one more with every code after the first, and no other, so
  // the table's size tells how far the code count has gone: it is not kept
  // apart. Returns the first code that is not well-formed, with the reader
  // and the table as giflib has them on reading it, or kComplete when the
  // output is complete; throws CodesEnded when the codes run out or end too
  // soon.
  [[gnu::noinline]] int DecodeWellFormed(CodeReader& codes_io, uint8_t* const out,
                                         const size_t count, size_t& i_io, int& last_code_io,
                                         int& defined_end_io) {
    // A copy of the reader, so that its state can stay in registers.
    CodeReader codes = codes_io;
    const int clear = 1 << codes.min_code_size;
    const int eof = clear + 1;
    size_t i = i_io;
    int defined_end = eof + 1;
    int last_code = kNoSuchCode;
    uint32_t last_start = 0;  // where the previous code's string was put
    uint32_t last_length = 0;
    int code = -1;

    auto restart = [&] {
      codes.Restart();
      defined_end = eof + 1;
      last_code = kNoSuchCode;
    };
    // Leaves with the reader's state as giflib has it after the code read
    // (running_code is its count of codes).
    auto leave = [&](int result, int running_code) {
      codes.running_code = running_code;
      codes_io = codes;
      i_io = i;
      last_code_io = last_code;
      defined_end_io = defined_end;
      return result;
    };

    for (;;) {
      // The first code of a fresh table: a pixel, in well-formed data.
      if (i == count) break;
      if (!codes.Read(code)) EndCodes(i);
      codes.Grow(eof + 2);
      if (code == clear) {
        restart();
        continue;
      }
      if (code == eof) EndCodes(i);  // the end before the last pixel
      if (code > eof) return leave(code, eof + 2);
      last_start = static_cast<uint32_t>(i);
      last_length = 1;
      out[i++] = static_cast<uint8_t>(code);
      last_code = code;

      // Then every code defines the next entry, until the table is full.
      while (i < count) {
        if (!codes.Read(code)) EndCodes(i);
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
          EndCodes(i);  // the end before the last pixel
        } else {
          const int running_code = std::min(defined_end + 2, kMaxCode + 2);
          codes.Grow(running_code);
          return leave(code, running_code);
        }
        // The new entry: the previous string and the first pixel of this one.
        if (defined_end <= kMaxCode) {
          table[defined_end] = {last_start, static_cast<uint16_t>(last_length + 1),
                                static_cast<uint16_t>(last_code)};
          ++defined_end;
          codes.Grow(defined_end + 1);
        }
        last_code = code;
        last_start = static_cast<uint32_t>(at);
        last_length = n;
      }
      if (i == count) break;
      restart();
    }
    return leave(kComplete, codes.running_code);
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
  // table one pixel at a time. False when the codes run out, end too soon or
  // trace a string that cannot be.
  [[gnu::noinline]] bool DecodeTraced(CodeReader& codes, int code, uint8_t* out, size_t count,
                                      size_t& i, int last_code) {
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
        if (sp >= kMaxCode || current_prefix > kMaxCode) return false;
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
      if (i == count) return true;
      if (!codes.Next(code) || code == eof) return false;  // eof: the end before the last pixel
      if (code == clear) {
        codes.Restart();
        return true;
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

constexpr int kPassStart[] = {0, 4, 2, 1};
constexpr int kPassStep[] = {8, 8, 4, 2};

}  // namespace

DecodedImageData DecodeImageData(GifBlockReader& in, int min_code_size, int width, int height,
                                 bool interlaced, uint8_t* indices) {
  Lzw& lzw = ThreadLzw();
  struct Release {
    Lzw& lzw;
    ~Release() {
      ReleaseIfLarge(lzw.data);
      ReleaseIfLarge(lzw.passes);
    }
  } release{lzw};
  DecodedImageData result;
  lzw.data.clear();
  result.terminated = in.JoinSubBlocks(lzw.data);
  const size_t size = lzw.data.size();
  lzw.data.resize(size + sizeof(uint64_t), 0);

  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (!interlaced) {
    result.pixels = lzw.Decode(size, min_code_size, indices, count);
    return result;
  }
  // The passes are decoded whole, then their rows put in place.
  lzw.passes.resize(count);
  result.pixels = lzw.Decode(size, min_code_size, lzw.passes.data(), count);
  const uint8_t* row_in = lzw.passes.data();
  for (int pass = 0; pass < 4; ++pass)
    for (int row = kPassStart[pass]; row < height; row += kPassStep[pass], row_in += width)
      std::memcpy(indices + static_cast<size_t>(row) * width, row_in, width);
  return result;
}

int InterlacedRow(int k, int height) {
  for (int pass = 0; pass < 4; ++pass) {
    const int rows = height > kPassStart[pass]
                         ? (height - kPassStart[pass] + kPassStep[pass] - 1) / kPassStep[pass]
                         : 0;
    if (k < rows) return kPassStart[pass] + k * kPassStep[pass];
    k -= rows;
  }
  return -1;
}

}  // namespace flipreel
