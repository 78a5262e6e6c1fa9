// The GIFs the loading benchmarks measure: synthetic shapes (full frames in
// one global table) and the shapes real files come in (optimised frames that
// only hold the changed rectangle, a local colour table per frame, interlaced
// frames), written once per run into a temporary folder.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace benchgifs {

enum class Kind : uint8_t {
  kFull,         // every frame the whole screen, one global table
  kOptimised,    // a full first frame, then only the changed rectangle
  kLocalTables,  // every frame with a colour table of its own
  kInterlaced,   // full frames stored in the four interlaced passes
};

struct Shape {
  const char* name;
  int width, height, frames;
  Kind kind = Kind::kFull;
};

std::span<const Shape> Shapes();
const Shape* FindShape(const std::string& name);

// The GIF files of the shapes, drawn on first use into a folder that goes
// away with the object.
class Files {
 public:
  Files();
  ~Files();
  Files(const Files&) = delete;
  Files& operator=(const Files&) = delete;
  const std::string& Path(const Shape& shape);
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  std::map<std::string, std::string> paths_;
};

// What giflib's own whole-file reader makes of a file: DGifSlurp, then every
// frame converted to 32-bit ARGB through its colour table. Returns the number
// of frames, or -1 when giflib cannot read the file.
int GiflibSlurpToArgb(const char* path, std::vector<std::vector<uint32_t>>& frames);

// Peak resident memory of this process since the last reset, and the reset
// (the kernel's high-water mark of VmRSS), in bytes.
int64_t PeakResidentBytes();
int64_t ResidentBytes();
void ResetPeakResident();

}  // namespace benchgifs
