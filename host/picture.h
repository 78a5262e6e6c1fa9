// Pictures: immutable decoded images shared by reference.
//
// A picture is either 8-bit indices with a palette (what GIF frames decode to,
// and the compact form we keep in memory) or 32-bit ARGB pixels. Colours are
// 0xAARRGGBB, not premultiplied. Element pictures are shared: assigning a
// picture from one element to another copies a reference, never pixels.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace flipreel {

class PictureData {
 public:
  enum class Format : uint8_t { kIndexed8, kArgb32 };
  using Palette = std::array<uint32_t, 256>;

  static std::shared_ptr<const PictureData> Indexed(int width, int height,
                                                    std::vector<uint8_t> indices,
                                                    const Palette& palette);
  // The same with a palette shared with other pictures: the frames of a GIF
  // mostly have one and the same.
  static std::shared_ptr<const PictureData> Indexed(int width, int height,
                                                    std::vector<uint8_t> indices,
                                                    std::shared_ptr<const Palette> palette);
  // The same with width*height indices that lie in memory shared with other
  // pictures (a block of many frames' indices): `indices` keeps it alive.
  static std::shared_ptr<const PictureData> Indexed(int width, int height,
                                                    std::shared_ptr<const uint8_t> indices,
                                                    std::shared_ptr<const Palette> palette);
  static std::shared_ptr<const PictureData> Argb(int width, int height,
                                                 std::vector<uint32_t> pixels);

  int width() const { return width_; }
  int height() const { return height_; }
  Format format() const { return format_; }
  // Indexed pictures: width*height indices, row by row, and their palette.
  const uint8_t* indices() const {
    return shared_indices_ ? shared_indices_.get() : indices_.data();
  }
  const Palette& palette() const;  // all zero for ARGB pictures
  // ARGB pictures: width*height pixels, row by row.
  const uint32_t* argb() const { return argb_.data(); }

  uint32_t PixelArgb(int x, int y) const;
  // Whether the other picture has the same size, format and pixels (and, for
  // indexed pictures, the same palette).
  bool SamePixels(const PictureData& other) const;

 private:
  PictureData() = default;
  int width_ = 0;
  int height_ = 0;
  Format format_ = Format::kArgb32;
  std::vector<uint8_t> indices_;
  std::shared_ptr<const uint8_t> shared_indices_;  // instead of indices_, when shared
  std::shared_ptr<const Palette> palette_;         // none for ARGB pictures
  std::vector<uint32_t> argb_;
};

// A reference to a picture, or the empty picture. Equality is identity: two
// references are equal when they share the same decoded image.
class Picture {
 public:
  Picture() = default;  // the empty picture
  explicit Picture(std::shared_ptr<const PictureData> data) : data_(std::move(data)) {}

  bool IsEmpty() const { return data_ == nullptr; }
  int width() const { return data_ ? data_->width() : 0; }    // pixels
  int height() const { return data_ ? data_->height() : 0; }  // pixels
  const PictureData* data() const { return data_.get(); }
  const std::shared_ptr<const PictureData>& shared() const { return data_; }

  friend bool operator==(const Picture& a, const Picture& b) { return a.data_ == b.data_; }

  // A picture of one opaque colour, for tests and placeholders.
  static Picture Solid(int width, int height, uint32_t argb);

 private:
  std::shared_ptr<const PictureData> data_;
};

}  // namespace flipreel
