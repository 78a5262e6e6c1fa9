// Loading a GIF: reading the file into Buffer, cutting Buffer into
// single-frame files and loading each into the frame store imgBuffer.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "flipreel/control/flipreel.h"
#include "flipreel/control/frame_cuts.h"
#include "flipreel/host/numbers.h"

namespace flipreel {

namespace {

constexpr char16_t kNone[] = u"(None)";
constexpr char16_t kGif[] = u"Gif";
// The byte at offset in a chunk of the data.
int32_t ByteAt(std::string_view chunk, size_t offset) {
  if (offset >= chunk.size()) Raise(err::kInvalidCall);  // the chunk is too short
  return static_cast<uint8_t>(chunk[offset]);
}

// How the split reacts to a host error in one of its steps.
enum class TrapMode {
  kEnding,    // end the split with a message
  kSkipping,  // skip the failing step and go on with the next
};

// Runs one step of the split. In the ending mode an error passes to the
// split's handler; in the skipping mode the host hears of it and the split
// goes on.
template <typename Fn>
void Step(TrapMode mode, Host& host, Fn&& step) {
  if (mode == TrapMode::kEnding) {
    step();
    return;
  }
  if (const std::optional<HostError> skipped = Trap(std::forward<Fn>(step)))
    host.ErrorTrapped(*skipped);
}

}  // namespace

void Flipreel::SetFlipreelFile(const Text& value) {
  if (value == kGif) {
    // Only records that the GIF is now held in Buffer.
    state_.FlipreelFile = value;
    Notify("FlipreelFile");
    return;
  }
  if (value == kNone) {
    // Clears the GIF without touching any file.
    state_.Buffer = BufferText();
    buffer_cuts_.reset();
    Notify("Buffer");
    ShowLoadedGif();
    state_.FlipreelFile = kNone;
    Notify("FlipreelFile");
  } else {
    state_.FlipreelFile = value;
    Notify("FlipreelFile");
    state_.FramesLoaded = false;
    if (!LoadGif(value)) {
      state_.FlipreelFile = kNone;
      Notify("FlipreelFile");
    }
  }
  ResetDownloadSettings();
}

// A file always replaces a download, and the credentials are forgotten.
void Flipreel::ResetDownloadSettings() {
  state_.GifFromURL = kNone;
  Notify("GifFromURL");
  state_.ServerPassword.clear();
  Notify("ServerPassword");
  state_.ServerUserName.clear();
  Notify("ServerUserName");
}

// Reads the whole file into Buffer. Failures are absorbed: the control is
// then cleared, and the caller's split fails on the empty Buffer.
void Flipreel::ReadFileToBuffer(const Text& path) {
  state_.FileNumber = host_.FreeFile();
  const int32_t file = state_.FileNumber;
  bool open = false;
  const std::optional<HostError> failed = Trap([&] {
    host_.Open(file, path, FileAccess::kRead);
    open = true;
    const int64_t length = host_.Length(file);
    Host::Contents contents = host_.ReadAllContents(file);
    state_.Buffer = BufferText(std::move(contents.bytes));
    buffer_cuts_ = std::move(contents.cuts);
    open = false;
    host_.Close(file);
    SetFlipreelFile(kGif);
    Notify("Buffer");
    // An empty file is removed (a path that names no file reads as empty).
    if (length == 0 && host_.FileExists(path)) host_.Kill(path);
  });
  if (!failed) return;
  if (open) (void)Trap([&] { host_.Close(file); });
  SetFlipreelFile(kNone);
}

std::shared_ptr<const std::string> BufferText::ToBytes() const {
  if (bytes_) return bytes_;
  auto converted = std::make_shared<std::string>();
  AppendTextBytes(text_, *converted);
  return converted;
}

bool BufferText::StartsWith(std::string_view prefix) const {
  if (bytes_) return std::string_view(*bytes_).starts_with(prefix);
  return text_.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text_.begin());
}

bool Flipreel::LoadGif(const Text& path) {
  ReadFileToBuffer(path);
  return ShowLoadedGif();
}

bool Flipreel::ShowLoadedGif() {
  imgGif_.set_picture(Picture());
  Timer1_.set_enabled(false);
  state_.FrameIndex = 0;
  state_.LastFrame = 0;
  // Nothing can change Buffer while the split runs, so it reads Buffer itself
  // rather than a copy.
  if (state_.Composed ? ComposeFrames(state_.Buffer, imgBuffer_)
                      : SplitFrames(state_.Buffer, imgBuffer_)) {
    state_.FramesLoaded = true;
    const float inset = BorderInset();
    imgGif_.set_left(imgBuffer_(0).left() + inset);
    imgGif_.set_top(imgBuffer_(0).top() + inset);
    imgGif_.set_picture(imgBuffer_(0).picture());
    state_.FrameIndex = 0;
    // The first frame's delay sets the pace; the others stay in their Tag.
    // Composed frames keep their own pace, and FrameRate only tells the
    // first delay, as far as it goes.
    const int32_t first_delay = Variant(imgBuffer_(0).tag()).ToLong();
    SetFrameRate(state_.Composed ? static_cast<int16_t>(std::min(first_delay, 32767))
                                 : CheckedInt16(first_delay));
    SetFrames(CheckedInt16(int64_t{state_.LastFrame} + 1));
    if (AutoSize()) ArrangeDisplay();
    Timer1_.set_interval(FrameRate());
    Timer1_.set_enabled(host_.UserMode() && AutoStart());
    if (state_.Composed) BeginComposedPlay();
    return true;
  }
  imgGif_.set_picture(Picture());
  SetFrames(0);
  SetFrameRate(0);
  if (AutoSize()) ArrangeDisplay();
  return false;
}

// Cuts the GIF at every frame signature into a small GIF file of its own
// (the header block plus that frame's bytes), has the host decode it and puts
// frame i into imgBuffer(i) at the frame's offset with its delay as Tag.
//
// A fresh control (only element 0 loaded) ends the split with a message at
// the first error. Once elements of an earlier file have been removed, a
// failing step is skipped and the split goes on.
bool Flipreel::SplitFrames(const BufferText& data, ImageArray& frames) {
  state_.FramesLoaded = false;
  state_.LastFrame = 0;
  if (data.empty()) return false;

  TrapMode mode = TrapMode::kEnding;
  bool split = false;
  const std::optional<HostError> failed = Trap([&] {
    const int32_t count = frames.count();
    for (int32_t i = 1; i <= count - 1; ++i) {
      mode = TrapMode::kSkipping;
      Step(mode, host_, [&] { frames.Unload(CheckedInt16(i)); });
    }

    // The data as bytes, once: every frame file is cut from them. (A
    // character of Buffer above 255 stands for the byte '?', which is
    // neither of the signature's bytes, so the cuts fall where they fall in
    // the text.) Bytes cut ahead are not cut again.
    const std::shared_ptr<const std::string> bytes = data.ToBytes();
    std::optional<FrameCuts> cuts =
        bytes == data.bytes() && buffer_cuts_ && buffer_cuts_->files.bytes == bytes
            ? buffer_cuts_
            : CutFrames(bytes);
    if (!cuts) return;
    const std::string_view f(*bytes);
    const std::string_view header = f.substr(0, cuts->files.header_size);
    const size_t signatures = cuts->signatures;
    const FrameFileList& files = cuts->files;
    // The host may decode the files ahead while they are written one by one;
    // whatever is left is withdrawn when the split ends.
    struct Withdraw {
      Host& host;
      ~Withdraw() { host.ExpectFrameFiles({}); }
    } withdraw{host_};
    host_.ExpectFrameFiles(files);

    // The scratch file lives in the host's private folder, never in the
    // current directory, so that it cannot clash with a file of the user's or
    // with another control. A folder that cannot be made fails each step that
    // uses the file, as a file that cannot be opened would.
    Text scratch_path;
    const auto scratch = [&]() -> const Text& {
      if (scratch_path.empty()) scratch_path = host_.PrivateFolder() + u"/temp.gif";
      return scratch_path;
    };
    const float tppx = host_.TwipsPerPixelX();
    const float tppy = host_.TwipsPerPixelY();
    int16_t n = 0;
    int32_t delay = 0, left = 0, top = 0;

    // Writes, loads and deletes the single-frame file of one chunk (which
    // starts at the extension's label F9) and places it in element n - 1.
    auto load_frame = [&](std::pair<size_t, size_t> at) {
      const std::string_view chunk = f.substr(at.first, at.second);
      Step(mode, host_, [&] { state_.FileNumber = host_.FreeFile(); });
      Step(mode, host_, [&] { host_.Open(state_.FileNumber, scratch(), FileAccess::kWrite); });
      Step(mode, host_, [&] {
        host_.Write(state_.FileNumber, header);
        host_.Write(state_.FileNumber, chunk);
      });
      Step(mode, host_, [&] { host_.Close(state_.FileNumber); });
      Step(mode, host_, [&] { delay = (ByteAt(chunk, 3) + 256 * ByteAt(chunk, 4)) * 10; });
      if (n > 1) {
        Step(mode, host_, [&] { left = ByteAt(chunk, 8) + 256 * ByteAt(chunk, 9); });
        Step(mode, host_, [&] { top = ByteAt(chunk, 10) + 256 * ByteAt(chunk, 11); });
        Step(mode, host_, [&] { frames.Load(n - 1); });
        Step(mode, host_, [&] {
          frames(n - 1).set_left(
              static_cast<float>(frames(0).left() + static_cast<double>(left) * tppx));
        });
        Step(mode, host_, [&] {
          frames(n - 1).set_top(
              static_cast<float>(frames(0).top() + static_cast<double>(top) * tppy));
        });
      }
      Step(mode, host_, [&] { frames(n - 1).set_tag(FormatLong(delay)); });
      Step(mode, host_, [&] { frames(n - 1).set_picture(host_.LoadPicture(scratch())); });
      Step(mode, host_, [&] { host_.Kill(scratch()); });
    };

    // The frame counter moves on before each signature is looked for, and
    // once more when none is left; the last chunk takes the counter as it is.
    for (size_t k = 0;; ++k) {
      Step(mode, host_, [&] { n = CheckedInt16(int32_t{n} + 1); });
      if (k == signatures) break;
      load_frame(files.chunks[k]);
    }
    if (files.chunks.size() > signatures) load_frame(files.chunks.back());

    state_.LastFrame = frames.count() - 1;
    state_.FramesLoaded = true;
    split = true;
  });
  if (!failed) return split;
  ReportReadError(*failed);
  state_.FramesLoaded = false;
  return false;
}

void Flipreel::RemoveGif() {
  state_.Buffer = BufferText();
  buffer_cuts_.reset();
  const int32_t last = state_.LastFrame;
  FlipreelState& s = state_;
  for (s.ElementCounter = 0; s.ElementCounter <= last; ++s.ElementCounter)
    imgBuffer_(CheckedInt16(s.ElementCounter)).set_picture(Picture());
  imgGif_.set_picture(Picture());
}

}  // namespace flipreel
