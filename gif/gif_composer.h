// Reading a whole animated GIF the way browsers play it: every image of the
// file is a frame, composed on the logical screen over what the previous
// frames and their disposal methods left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "flipreel/host/animation.h"
#include "flipreel/host/memory_budget.h"

namespace flipreel {

// Most frames we keep of one file: frames are addressed by 16-bit indices.
inline constexpr int kMaxComposedFrames = 32767;
// Most bytes the composed pictures of one file may take together.
inline constexpr size_t kMaxComposedBytes = size_t{1} << 30;

// Walks the file's block structure as giflib does and composes each image:
// - the picture is the logical screen: images are clipped to it and it never
//   grows; a screen without width or height takes the first image's extent
//   (its right and bottom edges);
// - an image with a delay ends a frame; images without one (no Graphic
//   Control Extension, or a delay of 0) are drawn at once, together with the
//   next delayed image, and those after the last delayed image make one more
//   frame. A file without any delay is thus one still picture, unless it
//   asks to loop: then each image is a frame of 100 ms;
// - images without width or height draw nothing;
// - pixels of the transparent index leave the canvas as it was; indices
//   beyond the colour table, and images without any table, are opaque black;
// - disposal 2 clears the image's rectangle to transparent after it was
//   shown, 3 (and 4, which some encoders write for it) restores the canvas as
//   it was before the image, anything else keeps the image;
// - a delay of 1 hundredth is shown for 10 hundredths;
// - the repeat count comes from a NETSCAPE2.0 (or ANIMEXTS1.0) extension.
// Each composed picture is 8-bit indices with a palette when its colours fit
// in 256, else 32-bit ARGB.
//
// A damaged file keeps every frame decoded before the damage (a frame cut
// short keeps its complete rows). No frame at all, or data that is no GIF,
// is the invalid-picture error (481). With a budget, the canvas and every
// frame's picture are reserved from it, from the sizes the file claims,
// before they are allocated or any of the image is decoded; without one,
// pictures beyond kMaxComposedBytes are refused. Both are the out-of-memory
// error (7), saying which limit, as is a screen larger than any picture.
// `composed`, when given, hears of each frame as soon as it is composed (a
// host shows the first before the rest are done).
// `memory` kBlocks puts the indices of a large GIF's frames into blocks of
// many frames each, in fewer and larger pages (far fewer page faults as they
// are first written); a block's memory goes with the last of its frames, so
// it is for hosts that keep the frames together.
using FrameComposed = std::function<void(const ComposedFrame&)>;
enum class FrameMemory { kEach, kBlocks };
ComposedAnimation ComposeGif(std::span<const uint8_t> bytes, const MemoryBudget* budget = nullptr,
                             const FrameComposed& composed = {},
                             FrameMemory memory = FrameMemory::kEach);

// The first frame ComposeGif gives a whole file, composed from as much of the
// file as has arrived, when that settles it: the frame's images arrived whole
// and the last of them has a delay (so that neither the frames the rest of the
// file makes nor where it breaks off can change it). No value otherwise, and
// for data ComposeGif refuses. A host shows it while the rest is read and
// composed; nothing is reserved from a budget for it.
std::optional<ComposedFrame> ComposeFirstFrame(std::span<const uint8_t> beginning);

}  // namespace flipreel
