#include "bench/bench_gifs.h"

#include <gif_lib.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "examples/example_gifs.h"

namespace benchgifs {

namespace {

constexpr Shape kShapes[] = {
    {"small_4x64x48", 64, 48, 4},
    {"480x270x120", 480, 270, 120},
    {"128x128x2000", 128, 128, 2000},
    {"1280x720x200", 1280, 720, 200},
    {"optimised_480x270x120", 480, 270, 120, Kind::kOptimised},
    {"local_tables_480x270x60", 480, 270, 60, Kind::kLocalTables},
    {"interlaced_480x270x60", 480, 270, 60, Kind::kInterlaced},
};

constexpr int kColours = 64;
constexpr uint8_t kUnchanged = kColours;  // the transparent index of optimised frames

// Frame t of a screen recording or a cartoon: smooth colour gradients that
// drift from frame to frame, a little noise so that the compression has work
// to do, and a moving box. Optimised animations keep the background of their
// first frame, so that only the box moves.
std::vector<uint8_t> Scene(int width, int height, int t, uint32_t& noise, bool still) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  const int drift = still ? 0 : t;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      noise = noise * 1103515245u + 12345u;
      int v = ((x + drift) / 8 + (y / 12)) % kColours;
      if ((noise >> 28) == 0) v = (v + 1) % kColours;
      pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(v);
    }
  }
  const int box_x = (t * 7) % std::max(1, width - 16);
  const int box_y = (t * 3) % std::max(1, height - 16);
  for (int y = box_y; y < std::min(height, box_y + 16); ++y)
    for (int x = box_x; x < std::min(width, box_x + 16); ++x) {
      uint8_t& v = pixels[static_cast<size_t>(y) * width + x];
      v = static_cast<uint8_t>(kColours - 1 - v);
    }
  return pixels;
}

std::vector<uint32_t> Palette(int shift) {
  std::vector<uint32_t> palette;
  for (int i = 0; i < kColours; ++i) {
    const int j = (i + shift) % kColours;
    palette.push_back(static_cast<uint32_t>((j * 4) << 16 | (255 - j * 4) << 8 | 128));
  }
  return palette;
}

// The smallest rectangle holding every pixel that differs between two
// frames; empty frames keep one pixel.
struct Rect {
  int left, top, width, height;
};
Rect Changed(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width, int height) {
  int x0 = width, y0 = height, x1 = -1, y1 = -1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (a[static_cast<size_t>(y) * width + x] != b[static_cast<size_t>(y) * width + x]) {
        x0 = std::min(x0, x), x1 = std::max(x1, x);
        y0 = std::min(y0, y), y1 = std::max(y1, y);
      }
  if (x1 < 0) return {0, 0, 1, 1};
  return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

gifexamples::AnimatedGif Draw(const Shape& shape, uint32_t seed) {
  gifexamples::AnimatedGif gif;
  gif.width = shape.width;
  gif.height = shape.height;
  gif.global_palette = Palette(0);
  if (shape.kind == Kind::kOptimised) gif.global_palette.push_back(0);  // the unchanged index
  uint32_t noise = seed;
  std::vector<uint8_t> previous;
  for (int t = 0; t < shape.frames; ++t) {
    gifexamples::FrameImage f;
    f.width = shape.width;
    f.height = shape.height;
    f.delay_cs = 4;
    const bool optimised = shape.kind == Kind::kOptimised;
    uint32_t frame_noise = optimised ? seed : noise;
    f.pixels = Scene(shape.width, shape.height, t, frame_noise, optimised);
    if (!optimised) noise = frame_noise;
    if (shape.kind == Kind::kLocalTables) f.local_palette = Palette(t);
    if (shape.kind == Kind::kInterlaced) f.interlace = true;
    if (optimised) {
      std::vector<uint8_t> scene = f.pixels;
      if (t > 0) {
        // Only the changed rectangle, with the unchanged pixels in it
        // transparent over the frame before, which stays (disposal 1).
        const Rect r = Changed(previous, scene, shape.width, shape.height);
        f.left = r.left, f.top = r.top, f.width = r.width, f.height = r.height;
        f.transparent = kUnchanged;
        f.disposal = 1;
        f.pixels.assign(static_cast<size_t>(r.width) * r.height, kUnchanged);
        for (int y = 0; y < r.height; ++y)
          for (int x = 0; x < r.width; ++x) {
            const size_t p = static_cast<size_t>(r.top + y) * shape.width + r.left + x;
            if (scene[p] != previous[p]) f.pixels[static_cast<size_t>(y) * r.width + x] = scene[p];
          }
      }
      previous = std::move(scene);
    }
    gif.frames.push_back(std::move(f));
  }
  return gif;
}

int Signatures(const std::string& bytes) {
  static const std::string kSignature("\x00\x21\xF9", 3);
  int count = 0;
  for (size_t at = bytes.find(kSignature); at != std::string::npos;
       at = bytes.find(kSignature, at + 3))
    ++count;
  return count;
}

int64_t StatusField(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::stoll(line.substr(prefix.size())) * 1024;
  return 0;
}

}  // namespace

std::span<const Shape> Shapes() {
  return kShapes;
}

const Shape* FindShape(const std::string& name) {
  for (const Shape& s : kShapes)
    if (name == s.name) return &s;
  return nullptr;
}

Files::Files() {
  std::string templ =
      (std::filesystem::temp_directory_path() / "flipreel-load-bench-XXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  folder_ = templ;
}

Files::~Files() {
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

const std::string& Files::Path(const Shape& shape) {
  auto it = paths_.find(shape.name);
  if (it != paths_.end()) return it->second;
  // Compressed data can hold the bytes 00 21 F9 by chance, and the split
  // would then see a frame more; such a file is drawn again with other noise.
  std::string bytes;
  for (uint32_t seed = 1;; ++seed) {
    bytes = gifexamples::EncodeGif(Draw(shape, seed));
    if (Signatures(bytes) == shape.frames) break;
  }
  const std::string path = folder_ + "/" + shape.name + ".gif";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
      std::fclose(file) != 0)
    throw std::runtime_error("cannot write " + path);
  std::fprintf(stderr, "%s: %zu bytes\n", shape.name, bytes.size());
  return paths_[shape.name] = path;
}

int GiflibSlurpToArgb(const char* path, std::vector<std::vector<uint32_t>>& frames) {
  struct Closer {
    void operator()(GifFileType* gif) const {
      int error = 0;
      DGifCloseFile(gif, &error);
    }
  };
  int error = 0;
  std::unique_ptr<GifFileType, Closer> gif(DGifOpenFileName(path, &error));
  if (!gif || DGifSlurp(gif.get()) == GIF_ERROR) return -1;
  frames.clear();
  frames.reserve(static_cast<size_t>(gif->ImageCount));
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& image = gif->SavedImages[i];
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    DGifSavedExtensionToGCB(gif.get(), i, &gcb);
    const ColorMapObject* map =
        image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    uint32_t palette[256];
    for (int c = 0; c < 256; ++c) {
      const GifColorType rgb = map && c < map->ColorCount ? map->Colors[c] : GifColorType{};
      palette[c] = (c == gcb.TransparentColor ? 0u : 0xFF000000u) | uint32_t{rgb.Red} << 16 |
                   uint32_t{rgb.Green} << 8 | rgb.Blue;
    }
    const size_t pixels = static_cast<size_t>(image.ImageDesc.Width) * image.ImageDesc.Height;
    std::vector<uint32_t> argb(pixels);
    for (size_t p = 0; p < pixels; ++p) argb[p] = palette[image.RasterBits[p]];
    frames.push_back(std::move(argb));
  }
  return gif->ImageCount;
}

int64_t PeakResidentBytes() {
  return StatusField("VmHWM");
}

int64_t ResidentBytes() {
  return StatusField("VmRSS");
}

void ResetPeakResident() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace benchgifs
