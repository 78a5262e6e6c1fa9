#include "flipreel/qt/ahead_host.h"

#include <span>
#include <utility>

#include "flipreel/gif/gif_composer.h"
#include "flipreel/host/scope.h"
#include "flipreel/qt/picture_cache.h"
#include "flipreel/qt/shared_frames.h"

namespace flipreel {

// Frame files another control holds decoded are found before they are
// decoded ahead, so that identical bytes decode once.
AheadHost::AheadHost() {
  ahead_.set_budget(memory_budget());
  ahead_.set_lookup([](std::span<const uint8_t> bytes) {
    return SharedFrames::Of().FindPicture(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  });
}

void AheadHost::LoadWith(const Text& path, ReadAhead& ahead, const std::function<void()>& load) {
  Contents contents = ahead.TakeContents();
  if (contents.bytes) pinned_ = PinnedFile{path, std::move(contents)};
  const ScopeExit unpin([this] { pinned_.reset(); });
  const ScopedValue loading_with(loading_with_, &ahead);
  load();
}

void AheadHost::Open(int32_t file_number, TextView path, FileAccess access) {
  if (pinned_ && pinned_->open_as == 0 && access == FileAccess::kRead && path == pinned_->path &&
      file_number == FreeFile()) {
    pinned_->open_as = file_number;
    return;
  }
  FileHost::Open(file_number, path, access);
}

int64_t AheadHost::Length(int32_t file_number) {
  if (pinned_ && pinned_->open_as == file_number)
    return pinned_->contents.bytes ? static_cast<int64_t>(pinned_->contents.bytes->size()) : 0;
  return FileHost::Length(file_number);
}

std::string AheadHost::ReadAll(int32_t file_number) {
  if (pinned_ && pinned_->open_as == file_number)
    return pinned_->contents.bytes ? *std::exchange(pinned_->contents, {}).bytes : std::string();
  return FileHost::ReadAll(file_number);
}

// A file read now, by a load made at once, is shared as one read ahead is:
// its bytes are those of any control that holds the same.
Host::Contents AheadHost::ReadAllContents(int32_t file_number) {
  if (pinned_ && pinned_->open_as == file_number) return std::exchange(pinned_->contents, {});
  Contents contents = FileHost::ReadAllContents(file_number);
  contents.bytes = SharedFrames::Of().ShareBytes(std::move(contents.bytes));
  return contents;
}

void AheadHost::Close(int32_t file_number) {
  if (pinned_ && pinned_->open_as == file_number) {
    pinned_.reset();
    return;
  }
  FileHost::Close(file_number);
}

Picture AheadHost::DecodeSharedGif(std::string_view bytes) {
  const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  bool decoded = false;
  Picture picture = SharedFrames::Of().SharedPicture(bytes, [&] {
    decoded = true;
    return ahead_.Decode(data);
  });
  if (!decoded) ahead_.Skip(data);
  return picture;
}

// Controls that load the same bytes share one animation. A load read ahead
// has its animation composed, or found shared, on the reading thread; any
// other load looks its bytes up here.
ComposedAnimation AheadHost::LoadAnimation(std::string_view bytes) {
  BudgetFor(bytes);
  if (std::optional<ComposedAnimation> made = ComposedAhead(bytes)) return std::move(*made);
  return SharedFrames::Of().Animation(bytes, [&] {
    return RememberingFailure([&] {
      ComposedAnimation animation =
          ComposeGif(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                     &memory_budget());
      HoldFramesReadyToPaint(animation, ready_to_paint_bytes_, &memory_budget());
      return animation;
    });
  });
}

// A deferred load's animation was composed on another thread; a load run in
// slices gives the event loop its turns until it is. Out of memory there
// (the old frames were still held) is tried again here, as at once.
std::optional<ComposedAnimation> AheadHost::ComposedAhead(std::string_view bytes) {
  if (!loading_with_) return std::nullopt;
  while (loading_with_->Composing() && PauseLoad()) {
  }
  std::optional<ReadAhead::Composition> made = loading_with_->TakeComposition(bytes);
  if (!made) return std::nullopt;
  if (!made->error) return std::move(*made->animation);
  if (made->error->number() == err::kOutOfMemory) return std::nullopt;
  const HostError error = *made->error;
  return RememberingFailure([&]() -> ComposedAnimation { throw error; });
}

}  // namespace flipreel
