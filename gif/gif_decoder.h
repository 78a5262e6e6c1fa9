// Decoding of the first image of a GIF file into a picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "flipreel/host/memory_budget.h"
#include "flipreel/host/picture.h"

namespace flipreel {

// Largest image we agree to decode, in pixels (8192 x 8192).
inline constexpr int64_t kMaxPicturePixels = int64_t{1} << 26;

bool LooksLikeGif(std::span<const uint8_t> bytes);

// The most pixels that LZW data of the given number of bytes can decode to,
// so that a descriptor promising more is refused before its pixels are
// allocated.
int64_t MostPixelsEncodable(size_t bytes);

// Decodes the first image of a GIF into an indexed picture the size of that
// image's own descriptor, with its local colour table (or the global one),
// de-interlaced, and the transparent index of the Graphic Control Extension
// before it as alpha 0.
//
// It keeps its code tables and buffers from one call to the next (one set per
// thread), so that a small frame costs little more than its pixels, and copies
// each code's string whole from where it already stands in the picture; it
// accepts and refuses exactly what giflib's reader does, with the same pixels.
//
// Besides whole files it accepts the single-frame files the frame split cuts:
// no trailer, anything after the first image, and for the last frame of a file
// the image data's final block terminator missing. Anything else that does not
// decode completely, and any image larger than kMaxPicturePixels or larger than
// its data could possibly encode, is the invalid-picture error (481).
//
// With a budget, the picture's storage is reserved from it once the image
// descriptor has been read and before any pixel is allocated; a picture that
// does not fit is the out-of-memory error (7), and the picture gives its
// bytes back when its last reference goes.
Picture DecodeGif(std::span<const uint8_t> bytes, const MemoryBudget* budget = nullptr);

// Ties a reservation to a picture: the bytes are given back when the last
// reference to the returned picture goes.
Picture KeepReserved(Picture picture, std::shared_ptr<const void> reservation);

}  // namespace flipreel
