// Texts and numbers as the host sees them.
//
// Texts are UTF-16 code units. Bytes cross to and from text through the host's
// 8-bit code page, Latin-1, so every byte 0..255 round-trips exactly; a
// character above 255 that has to become a byte becomes '?'.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace flipreel {

using Text = std::u16string;
using TextView = std::u16string_view;

Text BytesToText(std::string_view bytes);
std::string TextToBytes(TextView text);
// Appends the bytes of text[from, from + count) to out (Latin-1, '?' above 255).
void AppendTextBytes(TextView text, std::string& out);

Text Utf8ToText(std::string_view utf8);
std::string TextToUtf8(TextView text);

// File names are bytes that need not be UTF-8. PathToText reads them as UTF-8
// and carries each byte that is not part of a valid sequence as the lone
// surrogate U+DC80 + byte; TextToPath turns those back into the same bytes, so
// every name the system gives round-trips through a Text unchanged.
Text PathToText(std::string_view path);
std::string TextToPath(TextView text);

// Bytes made fit for a terminal or a message: what is not valid UTF-8
// becomes U+FFFD and control characters are written as \xHH, so that a name
// or an error text that came from a file or a server can neither garble nor
// steer the terminal. Text longer than max_bytes is cut (at a character) and
// ends with "...".
std::string PrintableUtf8(std::string_view bytes, size_t max_bytes = SIZE_MAX);

// ASCII-only case folding, enough for property names and keys.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(TextView a, TextView b);

// Number to text the way the host prints them: whole numbers plainly,
// single-precision values with at most 7 significant digits, doubles with 15.
Text FormatLong(int64_t value);
Text FormatSingle(float value);
Text FormatDouble(double value);

// Reads a numeric text: optional surrounding spaces, sign, digits, decimal
// point and exponent, or &H / &O prefixed hexadecimal and octal. No value when
// the text is not a number.
std::optional<double> ParseNumber(TextView text);

}  // namespace flipreel
