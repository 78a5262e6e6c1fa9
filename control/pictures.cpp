#include "flipreel/control/pictures.h"

#include <array>
#include <string_view>

namespace flipreel {

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr uint32_t kFilm = 0xFF202020;
constexpr uint32_t kBlue = 0xFF0000FF;

// The letters, five rows each; '#' is ink.
constexpr std::array<std::array<std::string_view, 5>, 3> kLetters = {{
    {" ###", "#   ", "# ##", "#  #", " ###"},  // G
    {"###", " # ", " # ", " # ", "###"},       // I
    {"####", "#   ", "### ", "#   ", "#   "},  // F
}};
constexpr int kLetterHeight = 5;
constexpr int kBandHeight = 3;  // film with one row of holes in its middle

}  // namespace

Picture FilmStripPicture(int width, int height) {
  std::vector<uint32_t> px(static_cast<size_t>(width) * height, kWhite);
  auto set = [&](int x, int y, uint32_t c) {
    if (x >= 0 && x < width && y >= 0 && y < height) px[static_cast<size_t>(y) * width + x] = c;
  };
  // The perforated bands: film, with a hole two pixels wide every four.
  for (int band : {0, height - kBandHeight}) {
    for (int y = band; y < band + kBandHeight; ++y)
      for (int x = 0; x < width; ++x) set(x, y, kFilm);
    for (int x = 1; x + 1 < width; x += 4) {
      set(x, band + 1, kWhite);
      set(x + 1, band + 1, kWhite);
    }
  }
  // The letters, one column apart, centred in the white between the bands.
  int letters_width = -1;
  for (const auto& letter : kLetters) letters_width += static_cast<int>(letter[0].size()) + 1;
  int x0 = (width - letters_width) / 2;
  const int y0 = kBandHeight + (height - 2 * kBandHeight - kLetterHeight) / 2;
  for (const auto& letter : kLetters) {
    for (int row = 0; row < kLetterHeight; ++row)
      for (size_t col = 0; col < letter[row].size(); ++col)
        if (letter[row][col] == '#') set(x0 + static_cast<int>(col), y0 + row, kBlue);
    x0 += static_cast<int>(letter[0].size()) + 1;
  }
  return Picture(PictureData::Argb(width, height, std::move(px)));
}

Picture AboutBoxPicture() {
  static const Picture kPicture = FilmStripPicture(19, 14);
  return kPicture;
}

Picture ToolboxPicture() {
  static const Picture kPicture = FilmStripPicture(16, 15);
  return kPicture;
}

}  // namespace flipreel
