#include "flipreel/saved_form/json_diagnostics.h"

#include <algorithm>

#include "flipreel/host/text.h"

namespace flipreel::json_diagnostics {

size_t DeeperThan(std::string_view text, int limit) {
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return i;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return std::string_view::npos;
}

std::string Position(std::string_view text, size_t offset) {
  offset = std::min(offset, text.size());
  const std::string_view before = text.substr(0, offset);
  const size_t line = static_cast<size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
  const size_t line_start = before.rfind('\n');
  const size_t column = offset - (line_start == std::string_view::npos ? 0 : line_start + 1) + 1;
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string Excerpt(std::string_view text, size_t offset) {
  constexpr size_t kBefore = 23;
  const size_t end = std::min(offset + 1, text.size());
  const size_t start = end > kBefore + 1 ? end - kBefore - 1 : 0;
  return (start > 0 ? "..." : "") + PrintableUtf8(text.substr(start, end - start));
}

std::string ParseProblem(std::string_view what) {
  if (const size_t colon = what.find(": "); colon != std::string_view::npos)
    what.remove_prefix(colon + 2);
  what = what.substr(0, what.find("; last read"));
  return PrintableUtf8(what, 120);
}

}  // namespace flipreel::json_diagnostics
