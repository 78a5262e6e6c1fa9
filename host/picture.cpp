#include "flipreel/host/picture.h"

#include <algorithm>
#include <stdexcept>

namespace flipreel {

std::shared_ptr<const PictureData> PictureData::Indexed(int width, int height,
                                                        std::vector<uint8_t> indices,
                                                        const Palette& palette) {
  return Indexed(width, height, std::move(indices), std::make_shared<const Palette>(palette));
}

std::shared_ptr<const PictureData> PictureData::Indexed(int width, int height,
                                                        std::vector<uint8_t> indices,
                                                        std::shared_ptr<const Palette> palette) {
  if (width < 0 || height < 0 || indices.size() != static_cast<size_t>(width) * height)
    throw std::invalid_argument("indexed picture: size does not match its pixels");
  if (!palette) throw std::invalid_argument("indexed picture: no palette");
  auto p = std::shared_ptr<PictureData>(new PictureData);
  p->width_ = width;
  p->height_ = height;
  p->format_ = Format::kIndexed8;
  p->indices_ = std::move(indices);
  p->palette_ = std::move(palette);
  return p;
}

std::shared_ptr<const PictureData> PictureData::Indexed(int width, int height,
                                                        std::shared_ptr<const uint8_t> indices,
                                                        std::shared_ptr<const Palette> palette) {
  if (width < 0 || height < 0 || (!indices && size_t(width) * size_t(height) > 0))
    throw std::invalid_argument("indexed picture: no pixels");
  if (!palette) throw std::invalid_argument("indexed picture: no palette");
  auto p = std::shared_ptr<PictureData>(new PictureData);
  p->width_ = width;
  p->height_ = height;
  p->format_ = Format::kIndexed8;
  p->shared_indices_ = std::move(indices);
  p->palette_ = std::move(palette);
  return p;
}

std::shared_ptr<const PictureData> PictureData::Argb(int width, int height,
                                                     std::vector<uint32_t> pixels) {
  if (width < 0 || height < 0 || pixels.size() != static_cast<size_t>(width) * height)
    throw std::invalid_argument("ARGB picture: size does not match its pixels");
  auto p = std::shared_ptr<PictureData>(new PictureData);
  p->width_ = width;
  p->height_ = height;
  p->format_ = Format::kArgb32;
  p->argb_ = std::move(pixels);
  return p;
}

const PictureData::Palette& PictureData::palette() const {
  static const Palette kNone{};
  return palette_ ? *palette_ : kNone;
}

bool PictureData::SamePixels(const PictureData& other) const {
  if (width_ != other.width_ || height_ != other.height_ || format_ != other.format_) return false;
  if (format_ == Format::kArgb32) return argb_ == other.argb_;
  const size_t count = size_t(width_) * size_t(height_);
  return (count == 0 || std::equal(indices(), indices() + count, other.indices())) &&
         palette() == other.palette();
}

uint32_t PictureData::PixelArgb(int x, int y) const {
  const size_t i = static_cast<size_t>(y) * width_ + x;
  return format_ == Format::kIndexed8 ? (*palette_)[indices()[i]] : argb_[i];
}

Picture Picture::Solid(int width, int height, uint32_t argb) {
  PictureData::Palette palette{};
  palette[0] = argb;
  return Picture(PictureData::Indexed(
      width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height, 0), palette));
}

}  // namespace flipreel
