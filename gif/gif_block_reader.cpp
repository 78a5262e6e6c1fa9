#include "flipreel/gif/gif_block_reader.h"

#include <algorithm>
#include <cstring>

namespace flipreel {

namespace {

int Word(const uint8_t* p) {
  return p[0] | p[1] << 8;
}

// Entries of the colour table that the packed fields announce, if any.
int TableColours(uint8_t flags) {
  return (flags & 0x80) ? 1 << ((flags & 7) + 1) : 0;
}

}  // namespace

bool GifBlockReader::ReadScreen(GifScreen& screen) {
  constexpr size_t kHeader = 13;  // signature, version and screen descriptor
  if (size_ < kHeader) return false;
  const int colours = TableColours(data_[10]);
  const size_t table = size_t{3} * static_cast<size_t>(colours);
  if (size_ - kHeader < table) return false;
  screen.width = Word(data_ + 6);
  screen.height = Word(data_ + 8);
  screen.background = data_[11];
  screen.global_colours = colours;
  screen.global_table = {data_ + kHeader, table};
  pos_ = kHeader + table;
  return true;
}

bool GifBlockReader::ReadImageDescriptor(GifImageDescriptor& image) {
  constexpr size_t kDescriptor = 9;  // after the separator
  if (left() < kDescriptor) return false;
  const uint8_t* d = data_ + pos_;
  const int colours = TableColours(d[8]);
  const size_t table = size_t{3} * static_cast<size_t>(colours);
  if (left() - kDescriptor < table) return false;
  image.left = Word(d);
  image.top = Word(d + 2);
  image.width = Word(d + 4);
  image.height = Word(d + 6);
  image.interlaced = (d[8] & 0x40) != 0;
  image.local_colours = colours;
  image.local_table = {d + kDescriptor, table};
  pos_ += kDescriptor + table;
  return true;
}

bool GifBlockReader::ReadSubBlockAtEnd(std::span<const uint8_t>& block) {
  if (pos_ == size_) {
    // Past the end only the tail's zeros are left, each one a terminator.
    if (tail_left_ == 0) return false;
    --tail_left_;
    block = {};
    return true;
  }
  const size_t length = data_[pos_];
  const size_t there = size_ - pos_ - 1;
  if (length - there > tail_left_) return false;
  std::memcpy(padded_, data_ + pos_ + 1, there);
  std::fill(padded_ + there, padded_ + length, uint8_t{0});
  tail_left_ -= length - there;
  pos_ = size_;
  block = {padded_, length};
  return true;
}

bool GifBlockReader::SkipSubBlocks() {
  for (std::span<const uint8_t> block;;) {
    if (!ReadSubBlock(block)) return false;
    if (block.empty()) return true;
  }
}

bool GifBlockReader::JoinSubBlocks(std::vector<uint8_t>& data) {
  for (std::span<const uint8_t> block;;) {
    if (!ReadSubBlock(block)) return false;
    if (block.empty()) return true;
    data.insert(data.end(), block.begin(), block.end());
  }
}

PictureData::Palette PaletteOf(std::span<const uint8_t> table) {
  PictureData::Palette palette;
  palette.fill(0xFF000000u);
  const size_t count = std::min(table.size() / 3, palette.size());
  for (size_t i = 0; i < count; ++i)
    palette[i] = 0xFF000000u | uint32_t{table[3 * i]} << 16 | uint32_t{table[3 * i + 1]} << 8 |
                 table[3 * i + 2];
  return palette;
}

}  // namespace flipreel
