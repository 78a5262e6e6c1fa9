// The part of a Qt face's host that serves loads made ready on other threads
// (ReadAhead): the read of a load's file is answered with the bytes (and
// cuts) read ahead, its frame files are decoded ahead by a pool of
// threads, and a composed load takes the animation composed ahead. The widget
// and the QML item load through it alike.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "flipreel/gif/ahead_decoder.h"
#include "flipreel/platform/files.h"
#include "flipreel/qt/read_ahead.h"

namespace flipreel {

class AheadHost : public FileHost {
 public:
  AheadHost();

  // Runs `load` with the next read of the file at path served the contents
  // `ahead` made (waiting for them), when it could make them, and the
  // animation composed of them taken from it.
  void LoadWith(const Text& path, ReadAhead& ahead, const std::function<void()>& load);
  // Whether the next frame file's picture is decoded ahead and ready.
  bool NextFrameDecoded() const { return ahead_.NextDecoded(); }
  // Whether the load under way waits for its animation, composed on another
  // thread.
  bool ComposingAhead() const { return loading_with_ && loading_with_->Composing(); }
  Picture FirstFrameDecoded() const { return ahead_.FirstDecoded(); }
  // Frame files decoded so far, ahead or at their load, for tests.
  int64_t frame_files_decoded() const { return ahead_.decodes(); }
  // Starts decoding the frame files of a load that has not begun
  // (AheadDecoder::Prepare); `decoded` runs on another thread.
  bool PrepareFrameFiles(FrameFileList files, std::function<void()> decoded) noexcept {
    BudgetFor(files);
    return ahead_.Prepare(std::move(files), std::move(decoded));
  }

  void ExpectFrameFiles(FrameFileList files) noexcept override {
    BudgetFor(files);
    ahead_.Expect(std::move(files));
  }
  ComposedAnimation LoadAnimation(std::string_view bytes) override;
  // The bytes of composed frames held ready to paint (HoldFramesReadyToPaint)
  // when a load composes them; 0, the default, keeps every frame compact.
  size_t ready_to_paint_bytes() const { return ready_to_paint_bytes_; }
  void set_ready_to_paint_bytes(size_t bytes) { ready_to_paint_bytes_ = bytes; }
  void Open(int32_t file_number, TextView path, FileAccess access) override;
  int64_t Length(int32_t file_number) override;
  std::string ReadAll(int32_t file_number) override;
  Contents ReadAllContents(int32_t file_number) override;
  void Close(int32_t file_number) override;

 protected:
  // From inside a load that waits for its animation: true when the event
  // loop had a turn (the load runs in slices), so the wait looks again;
  // false when it must block.
  virtual bool PauseLoad() { return false; }
  // The picture of a GIF file's bytes: the one another control holds when
  // there is one (what was decoded ahead for them is then let go), else
  // decoded ahead or now.
  Picture DecodeSharedGif(std::string_view bytes);

  AheadDecoder ahead_;

 private:
  std::optional<ComposedAnimation> ComposedAhead(std::string_view bytes);
  // The next read of the file at path, opened under the number FreeFile
  // gives, reads these contents rather than the file, until that read's Close.
  struct PinnedFile {
    Text path;
    Contents contents;    // handed over by the one read
    int32_t open_as = 0;  // the number it is open under; 0 while closed
  };
  std::optional<PinnedFile> pinned_;
  ReadAhead* loading_with_ = nullptr;  // during LoadWith: where the load's bytes come from
  size_t ready_to_paint_bytes_ = 0;
};

}  // namespace flipreel
