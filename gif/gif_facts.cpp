#include "flipreel/gif/gif_facts.h"

#include <gif_lib.h>

#include <cstring>
#include <memory>

#include "flipreel/gif/gif_block_reader.h"

namespace flipreel {

namespace {

// What stops a reading, in giflib's words, so that both readings tell the
// same problem.
const char kEndsEarly[] = "the file ends before its trailer";
const char kNoScreen[] = "No screen descriptor detected";
const char kWrongRecord[] = "Wrong record type detected";
// giflib fails on a missing minimum code size without saying why.
const char kUnreadable[] = "unreadable block structure";

bool IsLoopExtension(std::span<const uint8_t> block) {
  return block.size() == 11 && (std::memcmp(block.data(), "NETSCAPE2.0", 11) == 0 ||
                                std::memcmp(block.data(), "ANIMEXTS1.0", 11) == 0);
}

// The Graphic Control Extension waiting for the image after it. An
// extension whose data is not 4 bytes long marks the image as having one but
// leaves the values of the one before (all zero before any), as giflib reads
// it.
struct PendingControl {
  bool present = false;
  int disposal = 0, delay_cs = 0;
  int transparent = 0;  // -1 for none

  void Read(std::span<const uint8_t> data) {
    present = true;
    if (data.size() != 4) return;
    disposal = (data[0] >> 2) & 7;
    delay_cs = data[1] | data[2] << 8;
    transparent = (data[0] & 1) ? data[3] : -1;
  }
};

// Adds the facts of the image that follows, with the Graphic Control
// Extension before it.
void AddImage(GifFileFacts& facts, GifImageFacts image, PendingControl& gcb) {
  if (gcb.present) {
    image.delay_cs = gcb.delay_cs;
    image.disposal = gcb.disposal;
    if (gcb.transparent >= 0) image.transparent = gcb.transparent;
  }
  gcb.present = false;  // a control extension applies to the one image after it
  facts.images.push_back(image);
}

// Reads the file block by block with our own reader: a reading stops where
// giflib's stops, with the same problem.
class FactsReader {
 public:
  FactsReader(std::span<const uint8_t> bytes, GifFileFacts& facts) : in_(bytes), facts_(facts) {}

  void Run() {
    GifScreen screen;
    if (!in_.ReadScreen(screen)) {
      facts_.problem = in_.left() < 6 ? kEndsEarly : kNoScreen;
      return;
    }
    facts_.screen_width = screen.width;
    facts_.screen_height = screen.height;
    facts_.global_colors = screen.global_colours;
    facts_.background = screen.background;
    for (;;) {
      const int introducer = in_.ReadByte();
      const char* problem = nullptr;
      if (introducer == 0x3B) break;
      if (introducer == 0x21) {
        problem = ReadExtension();
      } else if (introducer == 0x2C) {
        problem = ReadImage();
      } else {
        problem = introducer < 0 ? kEndsEarly : kWrongRecord;
      }
      if (problem) {
        facts_.problem = problem;
        return;
      }
    }
  }

 private:
  // Reads one extension; a Graphic Control Extension is kept for the next
  // image, a loop extension gives the repeat count. A problem, or null.
  const char* ReadExtension() {
    const int label = in_.ReadByte();
    std::span<const uint8_t> block;
    if (label < 0 || !in_.ReadSubBlock(block)) return kEndsEarly;
    if (block.empty()) return nullptr;
    if (label == 0xF9 && block.size() >= 4) {
      gcb_.Read(block);
    } else if (label == 0xFF && IsLoopExtension(block)) {
      if (!in_.ReadSubBlock(block)) return kEndsEarly;
      if (block.empty()) return nullptr;
      if (block.size() >= 3 && block[0] == 1) facts_.repeat = block[1] | block[2] << 8;
    }
    return in_.SkipSubBlocks() ? nullptr : kEndsEarly;
  }

  const char* ReadImage() {
    GifImageDescriptor desc;
    if (!in_.ReadImageDescriptor(desc)) return kEndsEarly;
    const int code_size = in_.ReadByte();
    if (code_size < 0) return kUnreadable;
    if (code_size > 8) return kEndsEarly;  // giflib's word for a code size it does not take
    GifImageFacts image;
    image.left = desc.left;
    image.top = desc.top;
    image.width = desc.width;
    image.height = desc.height;
    image.interlaced = desc.interlaced;
    image.local_colors = desc.local_colours;
    AddImage(facts_, image, gcb_);
    return in_.SkipSubBlocks() ? nullptr : kEndsEarly;
  }

  GifBlockReader in_;
  GifFileFacts& facts_;
  PendingControl gcb_;
};

// giflib's reading, to check ours against.
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
  if (error == D_GIF_ERR_READ_FAILED) return kEndsEarly;
  const char* text = GifErrorString(error);
  return text ? text : kUnreadable;
}

// The sub-blocks of an extension or of image data, up to their terminator.
bool SkipSubBlocks(GifFileType* gif, GifByteType* block, bool extension) {
  while (block != nullptr) {
    if ((extension ? DGifGetExtensionNext(gif, &block) : DGifGetCodeNext(gif, &block)) != GIF_OK)
      return false;
  }
  return true;
}

// The control extension's values as giflib reads them; it keeps them when
// the data is not 4 bytes long.
void ReadControl(const GifByteType* block, GraphicsControlBlock& last, PendingControl& gcb) {
  DGifExtensionToGCB(block[0], block + 1, &last);
  gcb.present = true;
  gcb.disposal = last.DisposalMode;
  gcb.delay_cs = last.DelayTime;
  gcb.transparent = last.TransparentColor == NO_TRANSPARENT_COLOR ? -1 : last.TransparentColor;
}

bool ReadExtension(GifFileType* gif, GifFileFacts& facts, GraphicsControlBlock& last,
                   PendingControl& gcb) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
  if (block == nullptr) return true;  // an extension with no data at all
  if (code == GRAPHICS_EXT_FUNC_CODE && block[0] >= 4) {
    ReadControl(block, last, gcb);
  } else if (code == APPLICATION_EXT_FUNC_CODE && IsLoopExtension({block + 1, block[0]})) {
    if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
    if (block != nullptr && block[0] >= 3 && block[1] == 1) facts.repeat = block[2] | block[3] << 8;
  }
  return SkipSubBlocks(gif, block, /*extension=*/true);
}

bool ReadImage(GifFileType* gif, GifFileFacts& facts, PendingControl& gcb) {
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

void ReadWithGiflib(std::span<const uint8_t> bytes, GifFileFacts& facts) {
  Reader reader{bytes};
  int error = 0;
  const std::unique_ptr<GifFileType, Closer> gif(DGifOpen(&reader, Read, &error));
  if (!gif) {
    facts.problem = Problem(error);
    return;
  }
  facts.screen_width = gif->SWidth;
  facts.screen_height = gif->SHeight;
  facts.global_colors = gif->SColorMap ? gif->SColorMap->ColorCount : 0;
  facts.background = gif->SBackGroundColor;

  GraphicsControlBlock last{};
  PendingControl gcb;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    bool ok = DGifGetRecordType(gif.get(), &type) == GIF_OK;
    if (ok && type == TERMINATE_RECORD_TYPE) break;
    if (ok && type == EXTENSION_RECORD_TYPE) ok = ReadExtension(gif.get(), facts, last, gcb);
    if (ok && type == IMAGE_DESC_RECORD_TYPE) ok = ReadImage(gif.get(), facts, gcb);
    if (!ok) {
      facts.problem = Problem(gif->Error);
      break;
    }
  }
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
  if (reading == FactsReading::kGiflibOnly) {
    ReadWithGiflib(bytes, facts);
  } else {
    FactsReader(bytes, facts).Run();
  }
  return facts;
}

bool ComposingChangesLook(const GifFileFacts& facts) {
  const std::vector<GifImageFacts>& images = facts.images;
  if (images.size() < 2) return false;
  const std::optional<int> first_delay = images.front().delay_cs;
  for (size_t i = 0; i < images.size(); ++i) {
    const GifImageFacts& image = images[i];
    if (!image.delay_cs || image.delay_cs != first_delay || *image.delay_cs <= 1) return true;
    const bool away = image.left > 0 || image.top > 0;
    if (i == 0) {
      if (away) return true;
      continue;
    }
    const bool partial = away || image.left + image.width < facts.screen_width ||
                         image.top + image.height < facts.screen_height;
    if (partial || image.transparent) return true;
  }
  return false;
}

}  // namespace flipreel
