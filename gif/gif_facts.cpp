#include "flipreel/gif/gif_facts.h"

#include <gif_lib.h>

#include <cstring>
#include <memory>

namespace flipreel {

namespace {

struct Reader {
  std::span<const uint8_t> bytes;
  size_t pos = 0;
};

int Read(GifFileType* gif, GifByteType* out, int length) {
  auto* r = static_cast<Reader*>(gif->UserData);
  const size_t want = length < 0 ? 0 : static_cast<size_t>(length);
  const size_t take = std::min(want, r->bytes.size() - r->pos);
  if (take > 0) std::memcpy(out, r->bytes.data() + r->pos, take);
  r->pos += take;
  return static_cast<int>(take);
}

struct Closer {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

std::string Problem(int error) {
  if (error == D_GIF_ERR_READ_FAILED) return "the file ends before its trailer";
  const char* text = GifErrorString(error);
  return text ? text : "unreadable block structure";
}

// The sub-blocks of an extension or of image data, up to their terminator.
bool SkipSubBlocks(GifFileType* gif, GifByteType* block, bool extension) {
  while (block != nullptr) {
    if ((extension ? DGifGetExtensionNext(gif, &block) : DGifGetCodeNext(gif, &block)) != GIF_OK)
      return false;
  }
  return true;
}

bool IsLoopExtension(const GifByteType* block) {
  return block[0] == 11 && (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
                            std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
}

// The Graphic Control Extension waiting for the image after it.
struct PendingControl {
  bool present = false;
  GraphicsControlBlock block{};
};

// Reads one extension; a Graphic Control Extension is kept for the next
// image, a loop extension gives the repeat count.
bool ReadExtension(GifFileType* gif, GifFileFacts& facts, PendingControl& gcb) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
  if (block == nullptr) return true;  // an extension with no data at all
  if (code == GRAPHICS_EXT_FUNC_CODE && block[0] >= 4) {
    DGifExtensionToGCB(block[0], block + 1, &gcb.block);
    gcb.present = true;
  } else if (code == APPLICATION_EXT_FUNC_CODE && IsLoopExtension(block)) {
    if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
    if (block != nullptr && block[0] >= 3 && block[1] == 1) facts.repeat = block[2] | block[3] << 8;
  }
  return SkipSubBlocks(gif, block, /*extension=*/true);
}

// Adds the facts of the image that follows, with the Graphic Control
// Extension before it.
void AddImage(GifFileFacts& facts, GifImageFacts image, PendingControl& gcb) {
  if (gcb.present) {
    image.delay_cs = gcb.block.DelayTime;
    image.disposal = gcb.block.DisposalMode;
    if (gcb.block.TransparentColor != NO_TRANSPARENT_COLOR)
      image.transparent = gcb.block.TransparentColor;
  }
  gcb.present = false;  // a control extension applies to the one image after it
  facts.images.push_back(image);
}

uint16_t Word(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// Reads an image that is whole, straight from the bytes: its descriptor, its
// colour table, a code size giflib takes (at most 8 bits) and every sub-block of its
// data up to the terminator. giflib would read it without an error and give
// the same facts, but it sets up its decompressor for every image, which
// costs more than the rest of the reading together. False, with the reader
// where it was, for an image that is not whole: giflib then reads it, and
// fails as it does.
bool SkimWholeImage(Reader& r, GifFileFacts& facts, PendingControl& gcb) {
  const std::span<const uint8_t> rest = r.bytes.subspan(r.pos);
  if (rest.size() < 9) return false;
  const uint8_t flags = rest[8];
  const int local_colors = (flags & 0x80) ? 1 << ((flags & 7) + 1) : 0;
  size_t at = 9 + size_t{3} * static_cast<size_t>(local_colors);
  if (at >= rest.size() || rest[at] > 8) return false;  // the code size
  ++at;
  for (;;) {
    if (at >= rest.size()) return false;
    const size_t length = rest[at++];
    if (length == 0) break;
    if (rest.size() - at < length) return false;
    at += length;
  }
  GifImageFacts image;
  image.left = Word(&rest[0]);
  image.top = Word(&rest[2]);
  image.width = Word(&rest[4]);
  image.height = Word(&rest[6]);
  image.interlaced = (flags & 0x40) != 0;
  image.local_colors = local_colors;
  AddImage(facts, image, gcb);
  r.pos += at;
  return true;
}

bool ReadImage(GifFileType* gif, Reader& r, GifFileFacts& facts, PendingControl& gcb,
               FactsReading reading) {
  if (reading == FactsReading::kSkimWholeImages && SkimWholeImage(r, facts, gcb)) return true;
  if (DGifGetImageDesc(gif) != GIF_OK) return false;
  GifImageFacts image;
  const GifImageDesc& desc = gif->Image;
  image.left = desc.Left;
  image.top = desc.Top;
  image.width = desc.Width;
  image.height = desc.Height;
  image.interlaced = desc.Interlace;
  image.local_colors = desc.ColorMap ? desc.ColorMap->ColorCount : 0;
  AddImage(facts, image, gcb);
  int code_size = 0;
  GifByteType* block = nullptr;
  return DGifGetCode(gif, &code_size, &block) == GIF_OK &&
         SkipSubBlocks(gif, block, /*extension=*/false);
}

std::string Version(std::span<const uint8_t> bytes) {
  std::string version;
  for (size_t i = 3; i < 6 && i < bytes.size(); ++i)
    version += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '?';
  return version;
}

}  // namespace

std::optional<GifFileFacts> ReadGifFacts(std::span<const uint8_t> bytes, FactsReading reading) {
  if (bytes.size() < 3 || std::memcmp(bytes.data(), "GIF", 3) != 0) return std::nullopt;
  GifFileFacts facts;
  facts.version = Version(bytes);
  Reader reader{bytes};
  int error = 0;
  const std::unique_ptr<GifFileType, Closer> gif(DGifOpen(&reader, Read, &error));
  if (!gif) {
    facts.problem = Problem(error);
    return facts;
  }
  facts.screen_width = gif->SWidth;
  facts.screen_height = gif->SHeight;
  facts.global_colors = gif->SColorMap ? gif->SColorMap->ColorCount : 0;
  facts.background = gif->SBackGroundColor;

  PendingControl gcb;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    bool ok = DGifGetRecordType(gif.get(), &type) == GIF_OK;
    if (ok && type == TERMINATE_RECORD_TYPE) break;
    if (ok && type == EXTENSION_RECORD_TYPE) ok = ReadExtension(gif.get(), facts, gcb);
    if (ok && type == IMAGE_DESC_RECORD_TYPE)
      ok = ReadImage(gif.get(), reader, facts, gcb, reading);
    if (!ok) {
      facts.problem = Problem(gif->Error);
      break;
    }
  }
  return facts;
}

}  // namespace flipreel
