// Reading a GIF file's block structure: the logical screen, then records
// (extensions, images, the trailer) whose data comes in sub-blocks of up to
// 255 bytes ended by an empty one. The decoder, the composer and the file's
// facts all walk a file with it; each decides for itself what to make of a
// file that breaks off or goes wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "flipreel/host/picture.h"

namespace flipreel {

// The logical screen descriptor and the global colour table.
struct GifScreen {
  int width = 0, height = 0;
  int background = 0;                     // background colour index
  int global_colours = 0;                 // entries of the global table; 0 without one
  std::span<const uint8_t> global_table;  // red, green, blue of each entry
};

// An image descriptor and the image's local colour table.
struct GifImageDescriptor {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  int local_colours = 0;  // entries of the local table; 0 without one
  std::span<const uint8_t> local_table;
};

// Reads the blocks of a file one after the other. Every field must be there
// whole: a read that cannot be completed fails, and moves nothing. Only
// sub-blocks may run on past the end of the bytes, into `tail` zero bytes
// shared by all of them, so that a file cut inside or just after its last
// image data can still end it.
class GifBlockReader {
 public:
  explicit GifBlockReader(std::span<const uint8_t> bytes, size_t tail = 0)
      : data_(bytes.data()), size_(bytes.size()), tail_left_(tail), tail_(tail) {}

  // From the file's start: the signature and version (not checked), the
  // logical screen descriptor and the global colour table.
  bool ReadScreen(GifScreen& screen);

  // The next byte (a record's introducer, an extension's label, the minimum
  // code size), or -1 at the end of the bytes.
  int ReadByte() { return pos_ < size_ ? data_[pos_++] : -1; }

  // The descriptor after an image separator, and the local colour table.
  bool ReadImageDescriptor(GifImageDescriptor& image);

  // The next sub-block; the empty one is the terminator. False when it is
  // not there whole.
  bool ReadSubBlock(std::span<const uint8_t>& block) {
    if (pos_ < size_ && data_[pos_] < size_ - pos_) {  // there whole
      block = {data_ + pos_ + 1, data_[pos_]};
      pos_ += 1 + block.size();
      return true;
    }
    return ReadSubBlockAtEnd(block);
  }
  // Passes over sub-blocks up to and including the terminator.
  bool SkipSubBlocks();
  // Appends the bytes of the sub-blocks up to the terminator to `data`;
  // false when one is not there whole (the whole ones before it are
  // appended).
  bool JoinSubBlocks(std::vector<uint8_t>& data);

  // Bytes of the file not read yet.
  size_t left() const { return size_ - pos_; }
  // Whether a sub-block has run into the tail.
  bool used_tail() const { return tail_left_ < tail_; }

 private:
  // A sub-block that the bytes do not hold whole: what the tail completes.
  bool ReadSubBlockAtEnd(std::span<const uint8_t>& block);

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  size_t tail_left_;
  size_t tail_;
  uint8_t padded_[255];  // a sub-block that runs into the tail
};

// The palette of a colour table (red, green, blue per entry), opaque, with
// opaque black for the entries beyond the table.
PictureData::Palette PaletteOf(std::span<const uint8_t> table);

}  // namespace flipreel
