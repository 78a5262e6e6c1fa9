// The host container services: everything a control reaches outside itself.
//
// A Host is the site of one control. The control owns its elements and calls
// the host for ambient values, its own surface, pictures, files, message
// boxes, property-change notices, random numbers and downloads. The host calls
// back into the control through HostedControl for timer ticks, resizes,
// download progress and completion, and hit tests. The host also shows forms
// (host/form.h: the About box, the Preview form) and, for design-time code,
// the file-open dialog (host/file_dialog.h). Every
// operation either succeeds or throws HostError with the host's error number.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "flipreel/host/animation.h"
#include "flipreel/host/elements.h"
#include "flipreel/host/errors.h"
#include "flipreel/host/file_dialog.h"
#include "flipreel/host/form.h"
#include "flipreel/host/picture.h"
#include "flipreel/host/text.h"
#include "flipreel/host/variant.h"

namespace flipreel {

// Message box styles (icons); the buttons are always OK.
inline constexpr int16_t kMsgCritical = 16;
inline constexpr int16_t kMsgExclamation = 48;
inline constexpr int16_t kMsgInformation = 64;

// System colours have the top bit set and their index in the low byte.
inline constexpr int32_t SystemColor(int index) {
  return static_cast<int32_t>(0x80000000u | index);
}
inline constexpr int32_t kColorWindowBackground = SystemColor(5);
inline constexpr int32_t kColorButtonFace = SystemColor(15);
inline constexpr bool IsSystemColor(int32_t c) {
  return (static_cast<uint32_t>(c) >> 31) != 0;
}

// Asynchronous read kinds.
inline constexpr int32_t kAsyncTypeFile = 1;

// Status of an asynchronous read, as carried by AsyncProp.
enum class AsyncStatus : int32_t {
  kDownloading = 2,
  kCompleted = 3,
  kFailed = 4,
};

// The record of an asynchronous read that the host hands to the control with
// each progress report and with the completion.
struct AsyncProp {
  Text PropertyName;
  int32_t AsyncType = kAsyncTypeFile;
  Text Target;  // the address that was fetched
  int64_t BytesRead = 0;
  int64_t BytesMax = 0;  // 0 when the size is not known
  AsyncStatus Status = AsyncStatus::kDownloading;
  Text StatusText;
  // The path of the local file that holds the bytes. When the read failed,
  // reading the value raises the failure instead.
  Text ValuePath;
  std::optional<HostError> Failure;

  Variant Value() const {
    if (Failure) throw *Failure;
    return Variant(ValuePath);
  }
};

// What the host calls on the control it hosts.
class HostedControl {
 public:
  virtual ~HostedControl() = default;
  virtual void OnTimer() = 0;
  virtual void OnResize() = 0;
  virtual void OnAsyncReadProgress(AsyncProp& prop) = 0;
  virtual void OnAsyncReadComplete(AsyncProp& prop) = 0;
  virtual void OnHitTest(float& x, float& y, int16_t& hit_result) = 0;
};

// The single-frame GIF files a frame split is about to write and load, one
// after the other: file i holds the first header_size bytes of *bytes
// followed by the length bytes of *bytes at chunks[i].
struct FrameFileList {
  std::shared_ptr<const std::string> bytes;
  size_t header_size = 0;
  std::vector<std::pair<size_t, size_t>> chunks;  // offset and length
};

// Where the frame split cuts a GIF's bytes: the frame files, and how many of
// their chunks end at a frame signature (a last chunk after them, when there
// is one, runs to two bytes before the end).
struct FrameCuts {
  FrameFileList files;
  size_t signatures = 0;
};

enum class FileAccess : uint8_t {
  kRead,   // the file's bytes; a path that names no file reads as an empty file
  kWrite,  // created or truncated
};

class Host : public ElementSite, public FileDialogService, public FormService {
 public:
  ~Host() override = default;

  // The control this host sites; events go there. Null detaches.
  virtual void Attach(HostedControl* control) = 0;

  // Ambient: False in a designer, True at run time.
  virtual bool UserMode() const = 0;

  // The control's own surface, in twips. Size() delivers OnResize to the
  // control, synchronously, only when the size really changes.
  virtual float SurfaceWidth() const = 0;
  virtual float SurfaceHeight() const = 0;
  virtual void Size(float width, float height) = 0;
  virtual void SetSurfaceBackColor(int32_t color) = 0;
  virtual void SetSurfaceBackStyle(int16_t style) = 0;  // 0 transparent, 1 opaque
  virtual void Refresh() = 0;                           // repaint request

  virtual void NotifyPropertyChanged(std::string_view name) = 0;

  // Pictures. An empty path gives the empty picture; a file that cannot be
  // decoded is error 481.
  virtual Picture LoadPicture(TextView path) = 0;
  // Announces the frame files about to be loaded, so that the host may
  // decode them ahead; LoadPicture still answers exactly what it would
  // without the announcement. An empty announcement withdraws the last one.
  // Never raises.
  virtual void ExpectFrameFiles(FrameFileList files) noexcept = 0;

  // A whole animated GIF held in memory, every image composed on its logical
  // screen (host/animation.h). Data that holds no frame is error 481.
  virtual ComposedAnimation LoadAnimation(std::string_view bytes) = 0;

  // A point between two steps of a load (a frame put into the frame store):
  // a host that runs loads in slices may give its event loop a turn here.
  virtual void BetweenLoadSteps() noexcept {}

  // A steady clock in milliseconds, for timing that must not drift.
  virtual int64_t Now() const = 0;

  // Message boxes: modal; returns the button pressed (1 for OK).
  virtual int32_t MsgBox(TextView text, int16_t style, TextView title) = 0;
  // The control trapped a host error of a load or a download: a frame split
  // that ends (its message box follows) or skips a failing step, a download
  // request or completion that fails (its message box follows). The error
  // itself, so that a host can hand it to code as a value rather than as a
  // message's text; the control goes on as it would without it.
  virtual void ErrorTrapped(const HostError& /*error*/) noexcept {}

  // Files opened for byte access under a file number.
  virtual int32_t FreeFile() = 0;
  virtual void Open(int32_t file_number, TextView path, FileAccess access) = 0;
  virtual int64_t Length(int32_t file_number) = 0;
  virtual std::string ReadAll(int32_t file_number) = 0;
  // ReadAll, with the bytes shared. A host that has read the file ahead, off
  // its user-interface thread, hands over what it read then (the same bytes
  // as another control's, when it read the same file), with the bytes' frame
  // cuts (CutFrames) when it made them too.
  struct Contents {
    std::shared_ptr<const std::string> bytes;
    std::optional<FrameCuts> cuts;
  };
  virtual Contents ReadAllContents(int32_t file_number) {
    return {std::make_shared<const std::string>(ReadAll(file_number)), std::nullopt};
  }
  virtual void Write(int32_t file_number, std::string_view bytes) = 0;
  virtual void Close(int32_t file_number) = 0;
  virtual void Kill(TextView path) = 0;
  virtual bool FileExists(TextView path) = 0;
  // A folder of this host's own, with owner-only access, removed with the
  // host; nothing else shares it. Files opened in it through this interface
  // may be kept in memory, so the folder need not exist on disk until the
  // host itself puts a file there (a download).
  virtual Text PrivateFolder() = 0;

  // Random numbers: re-seed from the clock, then values in [0, 1).
  virtual void Randomize() = 0;
  virtual float Rnd() = 0;

  // Asynchronous reads into a local file; the result arrives later through
  // OnAsyncReadProgress / OnAsyncReadComplete. A new read under a property
  // name replaces a pending one; a cancelled read reports nothing.
  virtual void AsyncRead(TextView target, int32_t async_type, TextView property_name) = 0;
  virtual void CancelAsyncRead(TextView property_name) = 0;

  // An event handler of the control's client failed; the control goes on.
  virtual void EventHandlerFailed(std::string_view event, const std::string& what) = 0;
};

}  // namespace flipreel
