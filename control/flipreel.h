// The Flipreel control: an embeddable player of animated GIF images.
//
// The control is written only against the host services in host/. It owns
// its six elements (Timer1, shpBorder, imgGif, imgBackGround, the imgBuffer
// array and shpBackGround) and its state record; the host observes the
// elements, drives the timer and delivers resizes, downloads and hit tests.
//
// Every member runs on the host's user-interface thread. A host error raised
// inside a member ends it at that point and reaches the caller; the steps done
// before stay done. Only the frame split, reading a file into Buffer and the
// download request and completion trap errors, as their comments say.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "flipreel/control/events.h"
#include "flipreel/host/dispatch.h"
#include "flipreel/host/elements.h"
#include "flipreel/host/host.h"
#include "flipreel/host/property_bag.h"
#include "flipreel/host/text.h"
#include "flipreel/host/variant.h"

namespace flipreel {

// Values of the Sequence enumeration.
enum SequenceValue : int32_t {
  kSequenceNormal = 0,
  kSequenceReverse = 1,
  kSequenceRandom = 2,
  kSequencePingPong = 3,  // "Ping Pong"
};
// Values of the BackStyle and BorderStyle enumerations.
enum BackStyleValue : int32_t { kBackStyleTransparent = 0, kBackStyleOpaque = 1 };
enum BorderStyleValue : int32_t { kBorderStyleTransparent = 0, kBorderStyleSolid = 1 };

// Buffer's value: the whole GIF file, one character per byte. Bytes read from
// a file are held as they were read (half the memory of their text, and one
// copy for every control that read the same file) and made text only when
// Buffer is read as text; any other value is held as the text it was given.
class BufferText {
 public:
  BufferText() = default;
  BufferText(Text text) : text_(std::move(text)) {}  // NOLINT: Buffer takes text as it is
  explicit BufferText(std::shared_ptr<const std::string> bytes) : bytes_(std::move(bytes)) {}

  // The text: each held byte as the character of its number (BytesToText).
  Text ToText() const { return bytes_ ? BytesToText(*bytes_) : text_; }
  // The value as bytes, a character above 255 as '?' (AppendTextBytes): the
  // held bytes themselves when they are held.
  std::shared_ptr<const std::string> ToBytes() const;
  // The bytes read from a file; null while Buffer holds text.
  const std::shared_ptr<const std::string>& bytes() const { return bytes_; }
  bool empty() const { return bytes_ ? bytes_->empty() : text_.empty(); }
  // Whether the text starts with prefix, which is ASCII.
  bool StartsWith(std::string_view prefix) const;

 private:
  Text text_;
  std::shared_ptr<const std::string> bytes_;
};

// The state record, in declaration order. All zero, False or empty until the
// host initialises or restores the control.
struct FlipreelState {
  bool FramesLoaded = false;
  bool PingPongForward = false;
  bool PingPongBackward = false;
  int16_t MaxFrameTop = 0;
  int16_t MaxFrameLeft = 0;
  int16_t RandomFrame = 0;
  int32_t ElementCounter = 0;
  int32_t FileNumber = 0;
  int32_t FrameIndex = 0;
  int32_t LoopCount = 0;
  int32_t LastFrame = 0;
  int16_t Sequence = 0;
  int16_t FrameRate = 0;
  int16_t AutoRewind = 0;
  bool Playing = false;
  bool Stretch = false;
  bool AutoSize = false;
  bool AutoStart = false;
  Text FlipreelFile;
  Text GifFromURL;
  int16_t Frames = 0;
  int16_t CurrentFrame = 0;
  BufferText Buffer;
  Text ServerUserName;
  Text ServerPassword;
  // Beyond the classic record: composed playback (control/composed.cpp).
  bool Composed = false;
};

inline constexpr std::string_view kFlipreelProgId = "FlipreelControl.Flipreel";
inline constexpr std::string_view kFlipreelLibraryDescription = "Flipreel Control 1.2";
inline constexpr int32_t kDispidShowAbout = -552;

class Flipreel : public HostedControl, public Dispatch {
 public:
  explicit Flipreel(Host& host);
  ~Flipreel() override;
  Flipreel(const Flipreel&) = delete;
  Flipreel& operator=(const Flipreel&) = delete;

  // --- events ---------------------------------------------------------------
  void AddListener(FlipreelEvents* listener);
  void RemoveListener(FlipreelEvents* listener);

  // --- life cycle, raised by the host ---------------------------------------
  void InitProperties();
  void ReadProperties(const PropertyBag& bag);
  void WriteProperties(PropertyBag& bag) const;

  // --- properties and methods, in the interface's order ---------------------
  Text FlipreelFile() const { return state_.FlipreelFile; }
  void SetFlipreelFile(const Text& value);
  int16_t FrameRate() const { return state_.FrameRate; }
  void SetFrameRate(int16_t value);
  void ShowAbout();
  bool AutoSize() const { return state_.AutoSize; }
  void SetAutoSize(bool value);
  int32_t Sequence() const { return state_.Sequence; }
  void SetSequence(int32_t value);
  bool Stretch() const { return state_.Stretch; }
  void SetStretch(bool value);
  int32_t BorderColor() const { return shpBorder_.border_color(); }
  void SetBorderColor(int32_t color);
  void StartAnimation();
  void StopAnimation();
  int16_t AutoRewind() const { return state_.AutoRewind; }
  void SetAutoRewind(int16_t value);
  bool Playing() const;
  void SetPlaying(bool value);
  bool AutoStart() const { return state_.AutoStart; }
  void SetAutoStart(bool value);
  int32_t BackColor() const { return shpBackGround_.back_color(); }
  void SetBackColor(int32_t color);
  int32_t BackStyle() const { return shpBackGround_.back_style(); }
  void SetBackStyle(int32_t value);
  void RemoveGif();
  float FrameHeight(int16_t& frame) const;
  float FrameWidth(int16_t& frame) const;
  float FrameLeft(int16_t& frame) const;
  float FrameTop(int16_t& frame) const;
  Picture GetFrame(int16_t& frame) const;
  Picture BackGroundGraphic() const { return imgBackGround_.picture(); }
  void SetBackGroundGraphic(const Picture& picture);
  int32_t BorderStyle() const { return shpBackGround_.border_style(); }
  void SetBorderStyle(int32_t value);
  int16_t Frames() const { return state_.Frames; }
  void SetFrames(int16_t ignored);
  int16_t CurrentFrame() const;
  void SetCurrentFrame(int16_t value);
  Text GifFromURL() const { return state_.GifFromURL; }
  void SetGifFromURL(const Text& value);
  Text ServerUserName() const { return state_.ServerUserName; }
  void SetServerUserName(const Text& value);
  Text ServerPassword() const { return state_.ServerPassword; }
  void SetServerPassword(const Text& value);
  void CancelAsyncRead(const Variant& property = Variant::Missing());
  // Composed playback, off by default: frames read by the GIF's block
  // structure and composed on its logical screen, each shown for its own
  // delay, play ended by the file's repeat count unless AutoRewind is set.
  bool Composed() const { return state_.Composed; }
  void SetComposed(bool value);

  // --- by-name access (host/dispatch.h) ----------------------------------------
  Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args = {}) override;
  static std::span<const MemberInfo> Members();
  std::span<const MemberInfo> described_members() const override { return Members(); }

  // --- the host's events ------------------------------------------------------
  void OnTimer() override;
  void OnResize() override;
  void OnAsyncReadProgress(AsyncProp& prop) override;
  void OnAsyncReadComplete(AsyncProp& prop) override;
  void OnHitTest(float& x, float& y, int16_t& hit_result) override;

  // --- the elements, for hosts that draw them; the state record, read-only,
  // for reports of the control's state (the tool's info) ---------------------
  Host& host() const { return host_; }
  const Timer& Timer1() const { return Timer1_; }
  const Shape& shpBorder() const { return shpBorder_; }
  const Image& imgGif() const { return imgGif_; }
  const Image& imgBackGround() const { return imgBackGround_; }
  const ImageArray& imgBuffer() const { return imgBuffer_; }
  const Shape& shpBackGround() const { return shpBackGround_; }
  const FlipreelState& state() const { return state_; }
  // Returns a copy of Buffer.
  Text GetBuffer() const { return state_.Buffer.ToText(); }

 private:
  // Loading and splitting.
  bool LoadGif(const Text& path);
  bool ShowLoadedGif();  // LoadGif after the read: split, show frame 0, arm
  void ReadFileToBuffer(const Text& path);
  bool SplitFrames(const BufferText& data, ImageArray& frames);
  void ResetDownloadSettings();

  // Animation.
  void AdvanceFrame();
  void Show(int32_t index);
  void FitBefore();
  void FitAfter();
  void CountPass();
  void Rearm();
  void StepUp();
  void StepDown();
  void DrawRandomFrame();

  // Composed playback.
  bool ComposeFrames(const BufferText& data, ImageArray& frames);
  void BeginComposedPlay();
  void RestartComposedTimer();
  void AdvanceComposedFrame();
  void StepComposedOrder(int32_t shown);
  int32_t ComposedPassLimit() const;
  // The split's message for the error that ended it; the host hears of the
  // error itself first.
  void ReportReadError(const HostError& error);

  // Layout.
  void ArrangeDisplay();
  void PlaceByBorder();
  void SizeShapesToImgGif();
  float BorderInset() const { return BorderStyle() != 0 ? 10.0f : 0.0f; }

  // Persistence.
  void StretchSizing();
  void FrameRateCheck();

  // Download.
  Text BuildAddress(const Text& url) const;

  void Notify(std::string_view property) { host_.NotifyPropertyChanged(property); }
  void RaiseEvent(std::string_view event, const std::function<void(FlipreelEvents&)>& call);

  Host& host_;
  FlipreelState state_;
  // Where the split cuts Buffer's bytes, when the host cut them ahead as it
  // read them; forgotten (with the bytes it holds) whenever Buffer changes.
  std::optional<FrameCuts> buffer_cuts_;
  // The frames' largest offsets as ArrangeDisplay last found them, with the
  // last frame and imgBuffer's count of moves they were found at: the same
  // two again means the same frames in the same places.
  struct FrameExtent {
    int32_t last = 0;
    uint64_t moves = 0;
    int16_t left = 0, top = 0;
  };
  std::optional<FrameExtent> frame_extent_;

  Timer Timer1_;
  Shape shpBorder_;
  Image imgGif_;
  Image imgBackGround_;
  ImageArray imgBuffer_;
  Shape shpBackGround_;

  // What composed playback keeps besides the frame elements.
  struct ComposedPlay {
    std::vector<int32_t> delays;  // ms, per frame
    int32_t repeat_count = ComposedAnimation::kPlayOnce;
    int32_t shown = 0;  // the frame on show
    int64_t due = 0;    // when the next tick should come, host clock
  } composed_;

  std::vector<FlipreelEvents*> listeners_;
  int raising_ = 0;  // depth of event dispatch; removals wait until it is 0
};

}  // namespace flipreel
