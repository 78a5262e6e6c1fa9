#include "tests/support/gif_builder.h"

namespace testgif {

namespace {

void Put16(std::string& s, int v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}

// Size field n of a colour table with at least count entries (2^(n+1)).
int TableBits(size_t count) {
  int n = 0;
  while ((size_t{2} << n) < count && n < 7) ++n;
  return n;
}

void PutTable(std::string& s, const std::vector<uint32_t>& colours, int bits) {
  const size_t entries = size_t{2} << bits;
  for (size_t i = 0; i < entries; ++i) {
    const uint32_t c = i < colours.size() ? colours[i] : 0;
    s.push_back(static_cast<char>((c >> 16) & 0xFF));
    s.push_back(static_cast<char>((c >> 8) & 0xFF));
    s.push_back(static_cast<char>(c & 0xFF));
  }
}

std::string ImageData(const std::vector<uint8_t>& indices) {
  const int kMinCodeSize = 8;
  const int kClear = 256, kEnd = 257;
  std::string packed;
  uint32_t acc = 0;
  int nbits = 0;
  auto emit = [&](int code) {
    acc |= static_cast<uint32_t>(code) << nbits;
    nbits += 9;
    while (nbits >= 8) {
      packed.push_back(static_cast<char>(acc & 0xFF));
      acc >>= 8;
      nbits -= 8;
    }
  };
  emit(kClear);
  int since_clear = 0;
  for (uint8_t index : indices) {
    if (since_clear == 250) {
      emit(kClear);
      since_clear = 0;
    }
    emit(index);
    ++since_clear;
  }
  emit(kEnd);
  if (nbits > 0) packed.push_back(static_cast<char>(acc & 0xFF));

  std::string s(1, static_cast<char>(kMinCodeSize));
  for (size_t i = 0; i < packed.size(); i += 255) {
    const size_t n = packed.size() - i < 255 ? packed.size() - i : 255;
    s.push_back(static_cast<char>(n));
    s.append(packed, i, n);
  }
  s.push_back(0);  // block terminator
  return s;
}

std::vector<uint8_t> Interlace(const std::vector<uint8_t>& rows, int width, int height) {
  std::vector<uint8_t> out;
  out.reserve(rows.size());
  static constexpr int kStart[] = {0, 4, 2, 1};
  static constexpr int kStep[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int y = kStart[pass]; y < height; y += kStep[pass])
      out.insert(out.end(), rows.begin() + static_cast<long>(y) * width,
                 rows.begin() + static_cast<long>(y + 1) * width);
  return out;
}

}  // namespace

std::string Header(const Gif& gif) {
  std::string s = "GIF89a";
  Put16(s, gif.width);
  Put16(s, gif.height);
  const bool has_global = !gif.global_palette.empty();
  const int bits = has_global ? TableBits(gif.global_palette.size()) : 0;
  s.push_back(static_cast<char>((has_global ? 0x80 : 0) | 0x70 | bits));  // packed fields
  s.push_back(0);                                                         // background index
  s.push_back(0);                                                         // aspect ratio
  if (has_global) PutTable(s, gif.global_palette, bits);
  if (gif.netscape_loop) {
    s += "\x21\xFF\x0B";  // application extension, block size 11
    s += "NETSCAPE2.0";
    s += std::string("\x03\x01", 2);  // loop sub-block: size 3, id 1
    Put16(s, gif.loop_count);         // repeat count, 0 for ever
    s.push_back(0);                   // terminator
  }
  return s;
}

std::string GraphicControlExtension(const Frame& f) {
  std::string s = "\x21\xF9\x04";  // introducer, label, block size 4
  s.push_back(static_cast<char>(((f.disposal & 7) << 2) | (f.transparent >= 0 ? 1 : 0)));
  Put16(s, f.delay_cs);
  s.push_back(static_cast<char>(f.transparent >= 0 ? f.transparent : 0));
  s.push_back(0);  // block terminator
  return s;
}

std::string Image(const Frame& f) {
  std::string s = "\x2C";  // image separator
  Put16(s, f.left);
  Put16(s, f.top);
  Put16(s, f.width);
  Put16(s, f.height);
  const bool has_local = !f.local_palette.empty();
  const int bits = has_local ? TableBits(f.local_palette.size()) : 0;
  s.push_back(static_cast<char>((has_local ? 0x80 : 0) | (f.interlace ? 0x40 : 0) | bits));
  if (has_local) PutTable(s, f.local_palette, bits);
  std::vector<uint8_t> pixels = f.pixels;
  pixels.resize(static_cast<size_t>(f.width) * f.height, 0);
  s += ImageData(f.interlace ? Interlace(pixels, f.width, f.height) : pixels);
  return s;
}

std::string Build(const Gif& gif) {
  std::string s = Header(gif);
  for (const Frame& f : gif.frames) {
    if (f.gce) s += GraphicControlExtension(f);
    s += Image(f);
  }
  return s + ";";
}

Gif Animation(int frames, int w, int h) {
  Gif gif;
  gif.width = 16;
  gif.height = 12;
  gif.netscape_loop = true;
  for (int i = 0; i < frames; ++i) {
    Frame f;
    f.delay_cs = 5 * (i + 1);
    f.left = i;
    f.top = 2 * i;
    f.width = w;
    f.height = h;
    for (int p = 0; p < w * h; ++p) f.pixels.push_back(static_cast<uint8_t>((p + i) % 2));
    gif.frames.push_back(f);
  }
  return gif;
}

std::vector<size_t> SignatureOffsets(const std::string& file) {
  const std::string signature("\x00\x21\xF9", 3);
  std::vector<size_t> at;
  for (size_t p = file.find(signature); p != std::string::npos; p = file.find(signature, p + 3))
    at.push_back(p);
  return at;
}

std::string WithMiddleImageTooWide(std::string file) {
  const std::vector<size_t> at = SignatureOffsets(file);
  const size_t image = at[at.size() / 2] + 9;  // past 00 21 F9 04, four bytes and 00
  file[image + 6] = static_cast<char>(0xFF);   // the width's high byte
  return file;
}

}  // namespace testgif
