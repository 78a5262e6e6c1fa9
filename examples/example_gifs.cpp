#include "examples/example_gifs.h"

#include <gif_lib.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

namespace gifexamples {

namespace {

[[noreturn]] void Fail(int code) {
  const char* text = GifErrorString(code);
  throw std::runtime_error(std::string("GIF encoding failed: ") + (text ? text : "unknown error"));
}

int AppendOutput(GifFileType* gif, const GifByteType* bytes, int length) {
  static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(bytes), length);
  return length;
}

struct MapDeleter {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using ColorMap = std::unique_ptr<ColorMapObject, MapDeleter>;

// A giflib colour map of the colours, padded with black to a power of two.
ColorMap MakeMap(const std::vector<uint32_t>& colours) {
  if (colours.empty()) return nullptr;
  int count = 2;
  while (count < static_cast<int>(colours.size()) && count < 256) count *= 2;
  ColorMap map(GifMakeMapObject(count, nullptr));
  if (!map) Fail(E_GIF_ERR_NOT_ENOUGH_MEM);
  for (int i = 0; i < count; ++i) {
    const uint32_t c = i < static_cast<int>(colours.size()) ? colours[i] : 0;
    map->Colors[i] = GifColorType{static_cast<GifByteType>(c >> 16),
                                  static_cast<GifByteType>(c >> 8), static_cast<GifByteType>(c)};
  }
  return map;
}

struct EncoderCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    EGifCloseFile(gif, &error);
  }
};

void Check(GifFileType* gif, int result) {
  if (result == GIF_ERROR) Fail(gif->Error);
}

void PutFrame(GifFileType* gif, const FrameImage& f) {
  GraphicsControlBlock gcb{};
  gcb.DisposalMode = f.disposal;
  gcb.UserInputFlag = false;
  gcb.DelayTime = f.delay_cs;
  gcb.TransparentColor = f.transparent >= 0 ? f.transparent : NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  const size_t length = EGifGCBToExtension(&gcb, extension);
  Check(gif, EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension));

  const ColorMap local = MakeMap(f.local_palette);
  Check(gif, EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, local.get()));
  if (f.pixels.size() != static_cast<size_t>(f.width) * f.height)
    throw std::invalid_argument("frame pixels do not match its size");
  // giflib masks the indices of a line in place, so it gets a copy.
  std::vector<GifPixelType> row(static_cast<size_t>(f.width));
  auto put_row = [&](int y) {
    std::copy_n(f.pixels.begin() + static_cast<ptrdiff_t>(y) * f.width, f.width, row.begin());
    Check(gif, EGifPutLine(gif, row.data(), f.width));
  };
  if (f.interlace) {
    // Rows go into the file in the four passes of an interlaced image.
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int y = kStart[pass]; y < f.height; y += kStep[pass]) put_row(y);
  } else {
    for (int y = 0; y < f.height; ++y) put_row(y);
  }
  // The local table is written; giflib would lose its copy if the next image
  // has none, so it is released here.
  if (gif->Image.ColorMap) {
    GifFreeMapObject(gif->Image.ColorMap);
    gif->Image.ColorMap = nullptr;
  }
}

// --- drawing helpers ---------------------------------------------------------

uint32_t Rgb(double r, double g, double b) {
  auto channel = [](double v) {
    return static_cast<uint32_t>(std::clamp(std::lround(v * 255.0), 0L, 255L));
  };
  return (channel(r) << 16) | (channel(g) << 8) | channel(b);
}

uint32_t Mix(uint32_t a, uint32_t b, double t) {
  auto ch = [&](int shift) {
    const double x = (a >> shift) & 0xFF, y = (b >> shift) & 0xFF;
    return (x + (y - x) * t) / 255.0;
  };
  return Rgb(ch(16), ch(8), ch(0));
}

// A fully saturated colour of the given hue (0..1).
uint32_t Hue(double h) {
  const double x = 6.0 * (h - std::floor(h));
  const int sector = static_cast<int>(x) % 6;
  const double f = x - std::floor(x);
  switch (sector) {
    case 0:
      return Rgb(1, f, 0);
    case 1:
      return Rgb(1 - f, 1, 0);
    case 2:
      return Rgb(0, 1, f);
    case 3:
      return Rgb(0, 1 - f, 1);
    case 4:
      return Rgb(f, 0, 1);
    default:
      return Rgb(1, 0, 1 - f);
  }
}

constexpr double kPi = 3.14159265358979323846;

}  // namespace

std::string EncodeGif(const AnimatedGif& a) {
  std::string out;
  int error = 0;
  std::unique_ptr<GifFileType, EncoderCloser> gif(EGifOpen(&out, AppendOutput, &error));
  if (!gif) Fail(error);
  EGifSetGifVersion(gif.get(), true);
  const ColorMap global = MakeMap(a.global_palette);
  Check(gif.get(), EGifPutScreenDesc(gif.get(), a.width, a.height, 8, 0, global.get()));

  Check(gif.get(), EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE));
  Check(gif.get(), EGifPutExtensionBlock(gif.get(), 11, "NETSCAPE2.0"));
  const GifByteType loop[3] = {1, static_cast<GifByteType>(a.loop_count & 0xFF),
                               static_cast<GifByteType>((a.loop_count >> 8) & 0xFF)};
  Check(gif.get(), EGifPutExtensionBlock(gif.get(), 3, loop));
  Check(gif.get(), EGifPutExtensionTrailer(gif.get()));

  for (const FrameImage& f : a.frames) PutFrame(gif.get(), f);

  // Closing writes the trailer.
  if (EGifCloseFile(gif.release(), &error) == GIF_ERROR) Fail(error);
  return out;
}

void WriteGif(const std::string& path, const AnimatedGif& gif) {
  const std::string bytes = EncodeGif(gif);
  const std::string temporary = path + ".part";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) throw std::runtime_error("cannot create " + temporary);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    throw std::runtime_error("cannot write " + path);
  }
}

uint32_t ExpectedArgb(const AnimatedGif& gif, const FrameImage& frame, int x, int y) {
  const std::vector<uint32_t>& table =
      frame.local_palette.empty() ? gif.global_palette : frame.local_palette;
  const uint8_t index = frame.pixels[static_cast<size_t>(y) * frame.width + x];
  const uint32_t rgb = index < table.size() ? table[index] : 0;  // padding is black
  return (index == frame.transparent ? 0u : 0xFF000000u) | rgb;
}

// Twelve dots on a circle; a bright head runs round with a fading tail.
AnimatedGif Spinner() {
  constexpr int kSize = 48, kDots = 12, kShades = 8;
  AnimatedGif gif;
  gif.width = gif.height = kSize;
  gif.global_palette.push_back(0xF4F4F4);  // background
  for (int s = 0; s < kShades; ++s)
    gif.global_palette.push_back(Mix(0xC8D2E6, 0x1E50C8, s / double(kShades - 1)));
  for (int k = 0; k < kDots; ++k) {
    FrameImage f;
    f.width = f.height = kSize;
    f.delay_cs = 8;
    f.pixels.assign(kSize * kSize, 0);
    for (int i = 0; i < kDots; ++i) {
      const int age = (k - i + kDots) % kDots;
      const uint8_t shade = static_cast<uint8_t>(age < kShades ? kShades - age : 1);
      const double angle = 2 * kPi * i / kDots - kPi / 2;
      const double cx = 23.5 + 16 * std::cos(angle), cy = 23.5 + 16 * std::sin(angle);
      for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
          if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= 4.2 * 4.2)
            f.pixels[y * kSize + x] = shade;
    }
    gif.frames.push_back(std::move(f));
  }
  return gif;
}

// A shaded ball that bounces along a parabola and sways left and right. The
// first frame covers the whole screen; the others are small frames at the
// ball's position, on a transparent background, restored to the background
// after showing.
AnimatedGif BouncingBall() {
  constexpr int kScreen = 96, kBox = 24, kFrames = 16, kShades = 14;
  constexpr uint8_t kClear = 0, kOutline = 1;
  AnimatedGif gif;
  gif.width = gif.height = kScreen;
  gif.global_palette = {0xFF00FF, 0x5A0A0A};
  for (int s = 0; s < kShades; ++s)
    gif.global_palette.push_back(Mix(0x8C1414, 0xFFD2C8, s / double(kShades - 1)));

  auto draw_ball = [&](std::vector<uint8_t>& pixels, int stride, int ox, int oy) {
    const double r = 11.0, c = kBox / 2.0;
    const double lx = -0.4, ly = -0.5, lz = 0.77;  // light from the upper left
    for (int y = 0; y < kBox; ++y) {
      for (int x = 0; x < kBox; ++x) {
        const double dx = x + 0.5 - c, dy = y + 0.5 - c;
        const double d = std::sqrt(dx * dx + dy * dy);
        if (d > r) continue;
        uint8_t index = kOutline;
        if (d <= r - 1.2) {
          const double nz = std::sqrt(std::max(0.0, 1 - (d * d) / (r * r)));
          const double light = std::max(0.0, (dx / r) * lx + (dy / r) * ly + nz * lz);
          const double shade = std::clamp(0.1 + 0.9 * light * light, 0.0, 1.0);
          index = static_cast<uint8_t>(2 + std::lround(shade * (kShades - 1)));
        }
        pixels[static_cast<size_t>(oy + y) * stride + ox + x] = index;
      }
    }
  };

  for (int t = 0; t < kFrames; ++t) {
    const int x = 36 + static_cast<int>(std::lround(30 * std::sin(2 * kPi * t / kFrames)));
    const int y = 72 - t * (kFrames - t);  // floor at t = 0, top of the arc at t = 8
    FrameImage f;
    f.delay_cs = 5;
    f.transparent = kClear;
    f.disposal = 2;
    if (t == 0) {
      f.width = f.height = kScreen;
      f.pixels.assign(kScreen * kScreen, kClear);
      draw_ball(f.pixels, kScreen, x, y);
    } else {
      f.left = x;
      f.top = y;
      f.width = f.height = kBox;
      f.pixels.assign(kBox * kBox, kClear);
      draw_ball(f.pixels, kBox, 0, 0);
    }
    gif.frames.push_back(std::move(f));
  }
  return gif;
}

// Diagonal rainbow bands that scroll, stored interlaced.
AnimatedGif InterlacedRainbow() {
  constexpr int kWidth = 80, kHeight = 60, kFrames = 8, kHues = 32;
  AnimatedGif gif;
  gif.width = kWidth;
  gif.height = kHeight;
  for (int h = 0; h < kHues; ++h) gif.global_palette.push_back(Hue(h / double(kHues)));
  gif.global_palette.push_back(0xFFFFFF);
  const uint8_t kWhite = kHues;
  for (int t = 0; t < kFrames; ++t) {
    FrameImage f;
    f.width = kWidth;
    f.height = kHeight;
    f.delay_cs = 12;
    f.interlace = true;
    f.pixels.resize(kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        f.pixels[y * kWidth + x] = static_cast<uint8_t>(((x + y) * kHues / kWidth + t * 4) % kHues);
    // A white bar every tenth row shows at once whether rows land in place.
    for (int y = 5; y < kHeight; y += 10)
      for (int x = 10; x < kWidth - 10; ++x) f.pixels[y * kWidth + x] = kWhite;
    gif.frames.push_back(std::move(f));
  }
  return gif;
}

// Concentric squares that move outwards; every frame but one brings its own
// four-colour table, and that one uses the grey global table.
AnimatedGif LocalPalettes() {
  constexpr int kSize = 64, kFrames = 6, kGlobalFrame = 3;
  AnimatedGif gif;
  gif.width = gif.height = kSize;
  gif.global_palette = {0x202020, 0x606060, 0xA0A0A0, 0xE0E0E0};
  for (int t = 0; t < kFrames; ++t) {
    FrameImage f;
    f.width = f.height = kSize;
    f.delay_cs = 25;
    if (t != kGlobalFrame) {
      const uint32_t base = Hue(t / double(kFrames));
      for (int s = 0; s < 4; ++s) f.local_palette.push_back(Mix(0x101010, base, 0.25 + 0.25 * s));
    }
    f.pixels.resize(kSize * kSize);
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        const double ring = std::max(std::fabs(x - 31.5), std::fabs(y - 31.5));
        f.pixels[y * kSize + x] =
            static_cast<uint8_t>((static_cast<int>(ring) / 4 + 4 - t % 4) % 4);
      }
    }
    gif.frames.push_back(std::move(f));
  }
  return gif;
}

// A red box crossing a field, stored as optimisers store it: one full
// frame, then only the rectangle that changed, its unchanged pixels
// transparent and the rest kept (disposal 1). After every fourth step a
// white flash shows once and is taken back (disposal 3). Delays vary.
AnimatedGif Optimised() {
  constexpr int kWidth = 64, kHeight = 48, kSteps = 12, kBox = 8, kGround = 36;
  constexpr uint8_t kSky = 0, kGrass = 1, kRed = 2, kWhite = 3, kKey = 4;
  constexpr int kDelays[] = {20, 100, 5, 50};
  AnimatedGif gif;
  gif.width = kWidth;
  gif.height = kHeight;
  gif.global_palette = {0x87CEEB, 0x3C8C3C, 0xC83232, 0xFFFFFF, 0xFF00FF};
  auto scene = [&](int t) {
    std::vector<uint8_t> pixels(kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const bool box = x >= 4 + 4 * t && x < 4 + 4 * t + kBox && y >= 28 && y < 28 + kBox;
        pixels[y * kWidth + x] = box ? kRed : (y < kGround ? kSky : kGrass);
      }
    return pixels;
  };
  FrameImage first;
  first.width = kWidth;
  first.height = kHeight;
  first.delay_cs = kDelays[0];
  first.disposal = 1;
  first.pixels = scene(0);
  gif.frames.push_back(std::move(first));
  for (int t = 1; t < kSteps; ++t) {
    const std::vector<uint8_t> before = scene(t - 1), after = scene(t);
    int x0 = kWidth, y0 = kHeight, x1 = -1, y1 = -1;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        if (before[y * kWidth + x] != after[y * kWidth + x]) {
          x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
    FrameImage f;
    f.left = x0;
    f.top = y0;
    f.width = x1 - x0 + 1;
    f.height = y1 - y0 + 1;
    f.delay_cs = kDelays[t % 4];
    f.disposal = 1;
    f.transparent = kKey;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        const uint8_t now = after[y * kWidth + x];
        f.pixels.push_back(now == before[y * kWidth + x] ? kKey : now);
      }
    gif.frames.push_back(std::move(f));
    if (t % 4 == 3) {
      FrameImage flash;
      flash.left = 50;
      flash.top = 4;
      flash.width = flash.height = kBox;
      flash.delay_cs = 10;
      flash.disposal = 3;
      flash.pixels.assign(kBox * kBox, kWhite);
      gif.frames.push_back(std::move(flash));
    }
  }
  return gif;
}

std::span<const Example> Examples() {
  static constexpr Example kExamples[] = {
      {"spinner.gif", Spinner},
      {"bouncing_ball.gif", BouncingBall},
      {"interlaced.gif", InterlacedRainbow},
      {"local_palettes.gif", LocalPalettes},
      {"optimised.gif", Optimised},
  };
  return kExamples;
}

}  // namespace gifexamples
