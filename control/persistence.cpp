// Saving and restoring the control with its form. The GIF itself travels in
// the saved state as "Buffer", so a restored control needs no file.
#include "flipreel/control/flipreel.h"
#include "flipreel/host/numbers.h"

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

// Reads one key and hands its value to apply, which converts it to its field's
// type and stores it. A host error of the conversion or of the element taking
// the value ends the restore there, naming the key.
template <typename Apply>
void Restore(const PropertyBag& bag, std::string_view key, const Variant& default_value,
             Apply&& apply) {
  const Variant value = bag.ReadProperty(key, default_value);
  try {
    apply(value);
  } catch (const PropertyValueError&) {
    throw;
  } catch (const HostError& e) {
    throw PropertyValueError(e, key);
  }
}

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
  state_.Buffer = Text(u"0");  // the number 0 as text: what a control without a GIF holds
  buffer_cuts_.reset();
  state_.ServerUserName.clear();
  state_.ServerPassword.clear();
}

void Flipreel::ReadProperties(const PropertyBag& bag) {
  Restore(bag, "BorderStyle", kZero,
          [&](const Variant& v) { shpBackGround_.set_border_style(v.ToInteger()); });
  Restore(bag, "BorderStyle", kZero,
          [&](const Variant& v) { shpBorder_.set_border_style(v.ToInteger()); });
  Restore(bag, "BackColor", kWindowBackground,
          [&](const Variant& v) { shpBackGround_.set_back_color(v.ToLong()); });
  Restore(bag, "BackColor", kWindowBackground,
          [&](const Variant& v) { host_.SetSurfaceBackColor(v.ToLong()); });
  Restore(bag, "BackStyle", kOne,
          [&](const Variant& v) { shpBackGround_.set_back_style(v.ToInteger()); });
  Restore(bag, "BorderColor", kBlack,
          [&](const Variant& v) { shpBackGround_.set_border_color(v.ToLong()); });
  Restore(bag, "BorderColor", kBlack,
          [&](const Variant& v) { shpBorder_.set_border_color(v.ToLong()); });

  FlipreelState& s = state_;
  Restore(bag, "Sequence", kZero, [&](const Variant& v) { s.Sequence = v.ToInteger(); });
  Restore(bag, "Stretch", kFalseValue, [&](const Variant& v) { s.Stretch = v.ToBoolean(); });
  Restore(bag, "FlipreelFile", kNoneText, [&](const Variant& v) { s.FlipreelFile = v.ToText(); });
  Restore(bag, "FrameRate", kZero, [&](const Variant& v) { s.FrameRate = v.ToInteger(); });
  Restore(bag, "AutoRewind", kZero, [&](const Variant& v) { s.AutoRewind = v.ToInteger(); });
  Restore(bag, "Playing", kFalseValue, [&](const Variant& v) { s.Playing = v.ToBoolean(); });
  Restore(bag, "AutoSize", kFalseValue, [&](const Variant& v) { s.AutoSize = v.ToBoolean(); });
  Restore(bag, "AutoStart", kTrueValue, [&](const Variant& v) { s.AutoStart = v.ToBoolean(); });
  Restore(bag, "Frames", kZero, [&](const Variant& v) { s.Frames = v.ToInteger(); });
  Restore(bag, "CurrentFrame", kZero, [&](const Variant& v) { s.CurrentFrame = v.ToInteger(); });
  // A byte array turns back into text two bytes a character, low byte first;
  // the default 0 gives the text "0".
  Restore(bag, "Buffer", kZero, [&](const Variant& v) {
    s.Buffer = v.ToText();
    buffer_cuts_.reset();
  });
  Restore(bag, "GifFromURL", kNoneText, [&](const Variant& v) { s.GifFromURL = v.ToText(); });
  Restore(bag, "BackGroundGraphic", kNoPicture,
          [&](const Variant& v) { imgBackGround_.set_picture(v.ToPicture()); });
  Restore(bag, "ServerUserName", kEmptyText,
          [&](const Variant& v) { s.ServerUserName = v.ToText(); });
  Restore(bag, "ServerPassword", kEmptyText,
          [&](const Variant& v) { s.ServerPassword = v.ToText(); });
  Restore(bag, "Composed", kFalseValue, [&](const Variant& v) { s.Composed = v.ToBoolean(); });

  const float inset = BorderStyle() != 0 ? 10.0f : 0.0f;
  imgBackGround_.set_left(inset);
  imgBackGround_.set_top(inset);
  state_.PingPongForward = state_.Sequence == kSequencePingPong;
  state_.PingPongBackward = false;

  const bool run_time = host_.UserMode();
  // Transparent at run time so the form shows through where nothing paints;
  // opaque in a designer.
  host_.SetSurfaceBackStyle(run_time ? 0 : 1);
  imgBackGround_.set_visible(shpBackGround_.back_style() != 0);
  imgGif_.set_picture(host_.LoadPicture(Text()));
  Timer1_.set_enabled(false);
  state_.FrameIndex = 0;
  state_.LastFrame = 0;
  if (!(state_.Composed ? ComposeFrames(state_.Buffer, imgBuffer_)
                        : SplitFrames(state_.Buffer, imgBuffer_))) {
    // No GIF (a control that never had one holds "0"): nothing to show.
    Timer1_.set_enabled(false);
    imgGif_.set_picture(Picture());
    return;
  }

  // The first frame on show.
  if (BorderStyle() != 0) {
    imgGif_.set_left(imgBuffer_(0).left() + 10.0f);
    imgGif_.set_top(imgBuffer_(0).top() + 10.0f);
  } else {
    imgGif_.set_left(imgBuffer_(0).left());
    imgGif_.set_top(imgBuffer_(0).top());
  }
  imgGif_.set_picture(imgBuffer_(0).picture());
  imgGif_.set_tag(FormatLong(Variant(imgBuffer_(0).tag()).ToLong()));

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
      Timer1_.set_interval(FrameRate());
      Timer1_.set_enabled(true);
    }
    if (AutoSize()) ArrangeDisplay();
    if (state_.Composed) BeginComposedPlay();
  } else {
    FrameRateCheck();
    StretchSizing();
    SetFrames(frame_count());
    Timer1_.set_interval(FrameRate());
    Timer1_.set_enabled(false);
    state_.FrameIndex = 0;
    if (AutoSize()) ArrangeDisplay();
    StretchSizing();
  }
}

// The sizes a Stretch assignment sets, without its change notice.
void Flipreel::StretchSizing() {
  if (!Stretch()) {
    imgGif_.set_stretch(false);
    return;
  }
  imgGif_.set_stretch(true);
  imgGif_.set_height(host_.SurfaceHeight());
  imgGif_.set_width(host_.SurfaceWidth());
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
  bag.WriteProperty("BorderStyle", Variant(shpBackGround_.border_style()), kZero);
  bag.WriteProperty("Sequence", Variant(s.Sequence), kZero);
  bag.WriteProperty("Stretch", Variant::FromBool(s.Stretch), kFalseValue);
  bag.WriteProperty("AutoRewind", Variant(s.AutoRewind), kZero);
  bag.WriteProperty("Playing", Variant::FromBool(s.Playing), kFalseValue);
  bag.WriteProperty("AutoStart", Variant::FromBool(s.AutoStart), kTrueValue);
  bag.WriteProperty("BorderColor", Variant(shpBackGround_.border_color()), kBlack);
  bag.WriteProperty("BackColor", Variant(shpBackGround_.back_color()), kWindowBackground);
  bag.WriteProperty("BackStyle", Variant(shpBackGround_.back_style()), kOne);
  bag.WriteProperty("BorderStyle", Variant(shpBackGround_.border_style()), kZero);
  bag.WriteProperty("BackGroundGraphic", Variant(imgBackGround_.picture()), kNoPicture);
  bag.WriteProperty("BorderStyle", Variant(shpBorder_.border_style()), kZero);
  bag.WriteProperty("Frames", Variant(s.Frames), kZero);
  bag.WriteProperty("CurrentFrame", Variant(s.CurrentFrame), kZero);
  bag.WriteProperty("Buffer", Variant(TextToBytePairs(GetBuffer())), kZero);
  bag.WriteProperty("GifFromURL", Variant(s.GifFromURL), kNoneText);
  bag.WriteProperty("ServerUserName", Variant(s.ServerUserName), kEmptyText);
  bag.WriteProperty("ServerPassword", Variant(s.ServerPassword), kEmptyText);
  // Written only when on, so that the saved form of a classic control stays
  // as it always was; readers that do not know the key pass over it.
  if (s.Composed) bag.WriteProperty("Composed", Variant::FromBool(true), kFalseValue);
}

}  // namespace flipreel
