#pragma once

// Where a JSON text goes wrong, said in words a user can act on: the
// position of a byte, the text around it, and the parser's complaint
// without its internal prefix.

#include <cstddef>
#include <string>
#include <string_view>

namespace flipreel::json_diagnostics {

// The offset of the first object or array nested more than limit deep in a
// JSON text, or npos. Strings are skipped, escapes included; the text need
// not be valid JSON, the parser judges that afterwards.
size_t DeeperThan(std::string_view text, int limit);

// "line 3, column 7" of a byte offset (columns in bytes, both from 1).
std::string Position(std::string_view text, size_t offset);

// Up to 24 bytes of the text before and including the offset, printable.
std::string Excerpt(std::string_view text, size_t offset);

// What the parser found wrong, without its position and its quote:
// "[json.exception.parse_error.101] parse error at line 1, column 5: syntax
// error while parsing value - invalid literal; last read: '...'" gives
// "syntax error while parsing value - invalid literal".
std::string ParseProblem(std::string_view what);

}  // namespace flipreel::json_diagnostics
