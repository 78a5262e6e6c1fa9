#include "flipreel/host/text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace flipreel {

// Both conversions run over whole files, so they go sixteen characters at a
// time with vector instructions where the machine has them.
Text BytesToText(std::string_view bytes) {
  Text text(bytes.size(), u'\0');
  const auto* src = reinterpret_cast<const unsigned char*>(bytes.data());
  char16_t* dst = text.data();
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= bytes.size(); i += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_unpacklo_epi8(b, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8), _mm_unpackhi_epi8(b, zero));
  }
#endif
  for (; i < bytes.size(); ++i) dst[i] = src[i];
  return text;
}

void AppendTextBytes(TextView text, std::string& out) {
  const size_t start = out.size();
  out.resize(start + text.size());
  auto* dst = reinterpret_cast<unsigned char*>(out.data() + start);
  const char16_t* src = text.data();
  size_t i = 0;
#if defined(__SSE2__)
  // A character above 255 becomes '?': kept where its high byte is zero.
  const __m128i zero = _mm_setzero_si128();
  const __m128i question = _mm_set1_epi16('?');
  const auto bytes_of = [&](__m128i c) {
    const __m128i small = _mm_cmpeq_epi16(_mm_srli_epi16(c, 8), zero);
    return _mm_or_si128(_mm_and_si128(small, c), _mm_andnot_si128(small, question));
  };
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                     _mm_packus_epi16(bytes_of(low), bytes_of(high)));
  }
#endif
  for (; i < text.size(); ++i) dst[i] = static_cast<unsigned char>(src[i] <= 0xFF ? src[i] : u'?');
}

std::string TextToBytes(TextView text) {
  std::string out;
  AppendTextBytes(text, out);
  return out;
}

namespace {

// The length of the valid UTF-8 sequence at s[i], or 0 when there is none
// (a stray or missing continuation byte, an overlong form, a surrogate or a
// code point above U+10FFFF).
size_t ValidSequenceAt(std::string_view s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char c = byte(0);
  if (c < 0x80) return 1;
  const size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (len == 0 || c > 0xF4 || i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k)
    if ((byte(k) & 0xC0) != 0x80) return 0;
  if (c == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
  if (c == 0xED && byte(1) >= 0xA0) return 0;  // a surrogate
  if (c == 0xF0 && byte(1) < 0x90) return 0;   // overlong
  if (c == 0xF4 && byte(1) >= 0x90) return 0;  // above U+10FFFF
  return len;
}

}  // namespace

Text PathToText(std::string_view path) {
  Text out;
  out.reserve(path.size());
  for (size_t i = 0; i < path.size();) {
    const size_t len = ValidSequenceAt(path, i);
    if (len == 0) {
      out.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(path[i])));
      ++i;
      continue;
    }
    out += Utf8ToText(path.substr(i, len));
    i += len;
  }
  return out;
}

std::string TextToPath(TextView text) {
  std::string out;
  out.reserve(text.size());
  size_t run = 0;  // start of the text not yet converted
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool escaped_byte =
        c >= 0xDC80 && c <= 0xDCFF && (i == 0 || text[i - 1] < 0xD800 || text[i - 1] > 0xDBFF);
    if (!escaped_byte) continue;
    out += TextToUtf8(text.substr(run, i - run));
    out.push_back(static_cast<char>(c - 0xDC00));
    run = i + 1;
  }
  out += TextToUtf8(text.substr(run));
  return out;
}

std::string PrintableUtf8(std::string_view bytes, size_t max_bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(std::min(bytes.size(), max_bytes));
  for (size_t i = 0; i < bytes.size();) {
    if (out.size() >= max_bytes) {
      out += "...";
      break;
    }
    const auto c = static_cast<unsigned char>(bytes[i]);
    const size_t len = ValidSequenceAt(bytes, i);
    if (len == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
    } else if (c < 0x20 || c == 0x7F) {
      out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    } else {
      out.append(bytes.substr(i, len));
    }
    i += len == 0 ? 1 : len;
  }
  return out;
}

Text Utf8ToText(std::string_view s) {
  Text out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xFFFD;
    size_t len = 1;
    auto cont = [&](size_t k) {
      return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    };
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0 && cont(1)) {
      cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
      len = cp >= 0x80 ? 2 : 1;
      if (len == 1) cp = 0xFFFD;
    } else if ((c & 0xF0) == 0xE0 && cont(1) && cont(2)) {
      cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
      len = 3;
      if (cp < 0x800) cp = 0xFFFD;
    } else if ((c & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
      cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) |
           (s[i + 3] & 0x3F);
      len = 4;
      if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string TextToUtf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

namespace {
template <typename C>
C FoldAscii(C c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<C>(c - 'A' + 'a') : c;
}
template <typename View>
bool EqualsNoCaseImpl(View a, View b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

Text AsciiToText(const char* s) {
  Text t;
  while (*s) t.push_back(static_cast<char16_t>(*s++));
  return t;
}

// printf's %g with the exponent written the host's way ("1E+07").
Text FormatG(double value, int digits) {
  if (std::isnan(value)) return u"NaN";
  if (std::isinf(value)) return value > 0 ? u"Infinity" : u"-Infinity";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", digits, value);
  return AsciiToText(buf);
}
}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return EqualsNoCaseImpl(a, b);
}
bool EqualsNoCase(TextView a, TextView b) {
  return EqualsNoCaseImpl(a, b);
}

Text FormatLong(int64_t value) {
  return AsciiToText(std::to_string(value).c_str());
}
Text FormatSingle(float value) {
  return FormatG(value, 7);
}
Text FormatDouble(double value) {
  return FormatG(value, 15);
}

std::optional<double> ParseNumber(TextView text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == u' ' || text[b] == u'\t')) ++b;
  while (e > b && (text[e - 1] == u' ' || text[e - 1] == u'\t')) --e;
  if (b == e) return std::nullopt;
  std::string ascii;
  for (size_t i = b; i < e; ++i) {
    if (text[i] > 0x7F) return std::nullopt;
    ascii.push_back(static_cast<char>(text[i]));
  }
  if (ascii.size() > 2 && ascii[0] == '&' &&
      (ascii[1] == 'H' || ascii[1] == 'h' || ascii[1] == 'O' || ascii[1] == 'o')) {
    const int base = (ascii[1] == 'H' || ascii[1] == 'h') ? 16 : 8;
    uint64_t v = 0;
    for (size_t i = 2; i < ascii.size(); ++i) {
      const int c = std::tolower(static_cast<unsigned char>(ascii[i]));
      int d = std::isdigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
      if (d >= base) return std::nullopt;
      v = v * base + d;
      if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    // Hexadecimal and octal literals of up to 32 bits read as signed Longs.
    if (v > 0xFFFF) return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(v)));
    if (ascii.size() <= 6 && base == 16)
      return static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(v)));
    return static_cast<double>(v);
  }
  // Only plain decimal forms: strtod would also take "inf", "nan" and 0x.
  size_t i = 0;
  if (ascii[i] == '+' || ascii[i] == '-') ++i;
  bool digits = false;
  while (i < ascii.size() && std::isdigit(static_cast<unsigned char>(ascii[i]))) ++i, digits = true;
  if (i < ascii.size() && ascii[i] == '.') {
    ++i;
    while (i < ascii.size() && std::isdigit(static_cast<unsigned char>(ascii[i])))
      ++i, digits = true;
  }
  if (!digits) return std::nullopt;
  if (i < ascii.size() &&
      (ascii[i] == 'e' || ascii[i] == 'E' || ascii[i] == 'd' || ascii[i] == 'D')) {
    ascii[i] = 'e';
    ++i;
    if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) ++i;
    bool exp_digits = false;
    while (i < ascii.size() && std::isdigit(static_cast<unsigned char>(ascii[i])))
      ++i, exp_digits = true;
    if (!exp_digits) return std::nullopt;
  }
  if (i != ascii.size()) return std::nullopt;
  return std::strtod(ascii.c_str(), nullptr);
}

}  // namespace flipreel
