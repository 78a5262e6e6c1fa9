#include "flipreel/control/frame_cuts.h"

#include <string_view>
#include <utility>

namespace flipreel {

namespace {

// A block terminator followed by the introducer and label of a Graphic Control
// Extension: where every frame of the file begins.
constexpr std::string_view kFrameSignature("\x00\x21\xF9", 3);

}  // namespace

std::optional<FrameCuts> CutFrames(std::shared_ptr<const std::string> bytes) {
  const std::string_view f(*bytes);
  const size_t first = f.find(kFrameSignature);
  if (first == std::string_view::npos || f.substr(0, 3) != "GIF") return std::nullopt;
  FrameCuts cuts;
  cuts.files.header_size = first + 2;  // up to and including 00 21

  // Every chunk runs from a label F9 through the 00 21 that begins the next
  // frame. The last one runs to two bytes before the end of the data,
  // leaving out the image's block terminator and the trailer of a
  // well-formed file, when there is anything left for it.
  size_t start = first + 3;  // the block-size byte after the first label F9
  for (size_t next; (next = f.find(kFrameSignature, start)) != std::string_view::npos;
       start = next + 3)
    cuts.files.chunks.emplace_back(start - 1, next + 2 - (start - 1));
  cuts.signatures = cuts.files.chunks.size();
  if (start + 1 < f.size()) cuts.files.chunks.emplace_back(start - 1, f.size() - 2 - (start - 1));
  cuts.files.bytes = std::move(bytes);
  return cuts;
}

}  // namespace flipreel
