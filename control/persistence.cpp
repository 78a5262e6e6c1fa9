// Saving and restoring the control with its form. The GIF itself travels in
// the saved state as "Buffer", so a restored control needs no file.
#include "control/flipreel.h"
#include "host/numbers.h"

namespace flipreel {

namespace {

constexpr char16_t kNone[] = u"(None)";

// Defaults of the saved keys.
const Variant kNoneText{Text(kNone)};
const Variant kEmptyText(Text(u""));
const Variant kZero(int16_t{0});
const Variant kOne(int16_t{1});
const Variant kFalseValue = Variant::FromBool(false);
const Variant kTrueValue = Variant::FromBool(true);
const Variant kBlack(int32_t{0});
const Variant kWindowBackground(kColorWindowBackground);
const Variant kNoPicture(Picture{});

}  // namespace

void Flipreel::InitProperties() {
  state_.Stretch = false;
  state_.Playing = false;
  state_.AutoSize = false;
  state_.AutoStart = true;
  state_.Sequence = kSequenceNormal;
  state_.FrameRate = 0;
  state_.AutoRewind = 0;
  state_.Frames = 0;
  state_.CurrentFrame = 0;
  state_.FlipreelFile = kNone;
  state_.GifFromURL = kNone;
  state_.Buffer = u"0";  // the number 0 as text: what a control without a GIF holds
  state_.ServerUserName.clear();
  state_.ServerPassword.clear();
}

void Flipreel::ReadProperties(const PropertyBag& bag) {
  shpBackGround_.setBorderStyle(bag.ReadProperty("BorderStyle", kZero).ToInteger());
  shpBorder_.setBorderStyle(bag.ReadProperty("BorderStyle", kZero).ToInteger());
  shpBackGround_.setBackColor(bag.ReadProperty("BackColor", kWindowBackground).ToLong());
  host_.SetSurfaceBackColor(bag.ReadProperty("BackColor", kWindowBackground).ToLong());
  shpBackGround_.setBackStyle(bag.ReadProperty("BackStyle", kOne).ToInteger());
  shpBackGround_.setBorderColor(bag.ReadProperty("BorderColor", kBlack).ToLong());
  shpBorder_.setBorderColor(bag.ReadProperty("BorderColor", kBlack).ToLong());

  state_.Sequence = bag.ReadProperty("Sequence", kZero).ToInteger();
  state_.Stretch = bag.ReadProperty("Stretch", kFalseValue).ToBoolean();
  state_.FlipreelFile = bag.ReadProperty("FlipreelFile", kNoneText).ToText();
  state_.FrameRate = bag.ReadProperty("FrameRate", kZero).ToInteger();
  state_.AutoRewind = bag.ReadProperty("AutoRewind", kZero).ToInteger();
  state_.Playing = bag.ReadProperty("Playing", kFalseValue).ToBoolean();
  state_.AutoSize = bag.ReadProperty("AutoSize", kFalseValue).ToBoolean();
  state_.AutoStart = bag.ReadProperty("AutoStart", kTrueValue).ToBoolean();
  state_.Frames = bag.ReadProperty("Frames", kZero).ToInteger();
  state_.CurrentFrame = bag.ReadProperty("CurrentFrame", kZero).ToInteger();
  // A byte array turns back into text two bytes a character, low byte first;
  // the default 0 gives the text "0".
  state_.Buffer = bag.ReadProperty("Buffer", kZero).ToText();
  state_.GifFromURL = bag.ReadProperty("GifFromURL", kNoneText).ToText();
  imgBackGround_.setPicture(bag.ReadProperty("BackGroundGraphic", kNoPicture).ToPicture());
  state_.ServerUserName = bag.ReadProperty("ServerUserName", kEmptyText).ToText();
  state_.ServerPassword = bag.ReadProperty("ServerPassword", kEmptyText).ToText();

  const float inset = BorderStyle() != 0 ? 10.0f : 0.0f;
  imgBackGround_.setLeft(inset);
  imgBackGround_.setTop(inset);
  state_.PingPongForward = state_.Sequence == kSequencePingPong;
  state_.PingPongBackward = false;

  const bool run_time = host_.UserMode();
  // Transparent at run time so the form shows through where nothing paints;
  // opaque in a designer.
  host_.SetSurfaceBackStyle(run_time ? 0 : 1);
  imgBackGround_.setVisible(shpBackGround_.backStyle() != 0);
  imgGif_.setPicture(host_.LoadPicture(Text()));
  Timer1_.setEnabled(false);
  state_.FrameIndex = 0;
  state_.LastFrame = 0;
  if (!SplitFrames(state_.Buffer, imgBuffer_)) {
    // No GIF (a control that never had one holds "0"): nothing to show.
    Timer1_.setEnabled(false);
    imgGif_.setPicture(Picture());
    return;
  }

  // The first frame on show.
  if (BorderStyle() != 0) {
    imgGif_.setLeft(imgBuffer_(0).left() + 10.0f);
    imgGif_.setTop(imgBuffer_(0).top() + 10.0f);
  } else {
    imgGif_.setLeft(imgBuffer_(0).left());
    imgGif_.setTop(imgBuffer_(0).top());
  }
  imgGif_.setPicture(imgBuffer_(0).picture());
  imgGif_.setTag(FormatLong(Variant(imgBuffer_(0).tag()).ToLong()));

  auto frame_count = [&] { return CheckedInt16(CheckedAdd32(state_.LastFrame, 1)); };
  if (run_time) {
    StretchSizing();
    FrameRateCheck();
    const int32_t sequence = Sequence();
    state_.FrameIndex =
        (sequence != kSequenceNormal && sequence != kSequencePingPong) ? state_.LastFrame : 0;
    state_.LoopCount = 0;
    SetFrames(frame_count());
    if (AutoStart()) {
      Timer1_.setInterval(FrameRate());
      Timer1_.setEnabled(true);
    }
    if (AutoSize()) ArrangeDisplay();
  } else {
    FrameRateCheck();
    StretchSizing();
    SetFrames(frame_count());
    Timer1_.setInterval(FrameRate());
    Timer1_.setEnabled(false);
    state_.FrameIndex = 0;
    if (AutoSize()) ArrangeDisplay();
    StretchSizing();
  }
}

// The sizes a Stretch assignment sets, without its change notice.
void Flipreel::StretchSizing() {
  if (!Stretch()) {
    imgGif_.setStretch(false);
    return;
  }
  imgGif_.setStretch(true);
  imgGif_.setHeight(host_.SurfaceHeight());
  imgGif_.setWidth(host_.SurfaceWidth());
  SizeShapesToImgGif();
}

// A saved FrameRate equal to the first frame's delay is applied through its
// setter (arming the timer's interval); a different one stays as saved.
void Flipreel::FrameRateCheck() {
  const int32_t delay = Variant(imgBuffer_(0).tag()).ToLong();
  if (FormatLong(delay) == FormatLong(FrameRate())) SetFrameRate(CheckedInt16(delay));
}

void Flipreel::WriteProperties(PropertyBag& bag) const {
  const FlipreelState& s = state_;
  bag.WriteProperty("FlipreelFile", Variant(s.FlipreelFile), kNoneText);
  bag.WriteProperty("FrameRate", Variant(s.FrameRate), kZero);
  bag.WriteProperty("AutoSize", Variant::FromBool(s.AutoSize), kFalseValue);
  bag.WriteProperty("BorderStyle", Variant(shpBackGround_.borderStyle()), kZero);
  bag.WriteProperty("Sequence", Variant(s.Sequence), kZero);
  bag.WriteProperty("Stretch", Variant::FromBool(s.Stretch), kFalseValue);
  bag.WriteProperty("AutoRewind", Variant(s.AutoRewind), kZero);
  bag.WriteProperty("Playing", Variant::FromBool(s.Playing), kFalseValue);
  bag.WriteProperty("AutoStart", Variant::FromBool(s.AutoStart), kTrueValue);
  bag.WriteProperty("BorderColor", Variant(shpBackGround_.borderColor()), kBlack);
  bag.WriteProperty("BackColor", Variant(shpBackGround_.backColor()), kWindowBackground);
  bag.WriteProperty("BackStyle", Variant(shpBackGround_.backStyle()), kOne);
  bag.WriteProperty("BorderStyle", Variant(shpBackGround_.borderStyle()), kZero);
  bag.WriteProperty("BackGroundGraphic", Variant(imgBackGround_.picture()), kNoPicture);
  bag.WriteProperty("BorderStyle", Variant(shpBorder_.borderStyle()), kZero);
  bag.WriteProperty("Frames", Variant(s.Frames), kZero);
  bag.WriteProperty("CurrentFrame", Variant(s.CurrentFrame), kZero);
  bag.WriteProperty("Buffer", Variant(TextToBytePairs(GetBuffer())), kZero);
  bag.WriteProperty("GifFromURL", Variant(s.GifFromURL), kNoneText);
  bag.WriteProperty("ServerUserName", Variant(s.ServerUserName), kEmptyText);
  bag.WriteProperty("ServerPassword", Variant(s.ServerPassword), kEmptyText);
}

}  // namespace flipreel
