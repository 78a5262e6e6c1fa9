// Texts that cross to the system and back: file names of any bytes, and
// texts made printable for a terminal.
#include <gtest/gtest.h>

#include <string>

#include "flipreel/host/text.h"

namespace flipreel {
namespace {

TEST(PathText, EveryNameRoundTripsAndValidUtf8ReadsAsItself) {
  const std::string names[] = {
      "plain.gif",
      "caf\xC3\xA9.gif",                  // valid UTF-8
      "bad\xFF\x1B[31mname.gif",          // a stray byte and an escape sequence
      "cut\xC3",                          // a sequence cut short at the end
      "\xED\xA0\x80surrogate",            // UTF-8 of a surrogate is not valid
      "\xC0\xAF overlong",                // an overlong "/"
      "\xF4\x90\x80\x80 above U+10FFFF",  // past the last code point
      "\xF0\x9F\x98\x80 emoji",           // four bytes, valid
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(TextToPath(PathToText(name)), name);
  }
  EXPECT_EQ(PathToText("caf\xC3\xA9"), u"caf\u00E9");
  EXPECT_EQ(PathToText("a\xFF"), u"a\xDCFF");
  // A surrogate pair stays a character; only lone escapes are bytes.
  EXPECT_EQ(TextToPath(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

// Buffer holds a file one character per byte; a character above 255 stands
// for '?'. Every length, so that whole blocks and the rest are both covered.
TEST(ByteText, OneCharacterPerByteAtEveryLength) {
  std::string bytes;
  for (int i = 0; i < 70; ++i) bytes += static_cast<char>(i * 37 + 200);
  for (size_t n = 0; n <= bytes.size(); ++n) {
    SCOPED_TRACE(n);
    const std::string b = bytes.substr(0, n);
    Text text = BytesToText(b);
    ASSERT_EQ(text.size(), n);
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(text[i], static_cast<unsigned char>(b[i]));
    ASSERT_EQ(TextToBytes(text), b);
    std::string expected = b;
    for (size_t i = 0; i < n; i += 3) {
      text[i] = static_cast<char16_t>(0x100 + i * 251);  // above 255, any high byte
      expected[i] = '?';
    }
    std::string appended = "x";
    AppendTextBytes(text, appended);
    ASSERT_EQ(appended, "x" + expected);
  }
}

TEST(PrintableText, ReplacesInvalidBytesEscapesControlsAndCuts) {
  struct Row {
    std::string in;
    size_t max;
    std::string out;
  } rows[] = {
      {"plain text", SIZE_MAX, "plain text"},
      {"caf\xC3\xA9", SIZE_MAX, "caf\xC3\xA9"},
      {"bad\xFFname", SIZE_MAX, "bad\xEF\xBF\xBDname"},
      {"\x1B[31mred\x7F", SIZE_MAX, "\\x1B[31mred\\x7F"},
      {"line\nbreak\ttab", SIZE_MAX, "line\\x0Abreak\\x09tab"},
      {"abcdefgh", 4, "abcd..."},
      {"\xC3\xA9\xC3\xA9\xC3\xA9", 3, "\xC3\xA9\xC3\xA9..."},  // whole characters only
  };
  for (const Row& r : rows) EXPECT_EQ(PrintableUtf8(r.in, r.max), r.out) << r.in;
}

}  // namespace
}  // namespace flipreel
