// The control's members reachable by name: the interface as hosts, property
// pages and scripts see it. Arguments are converted to the member's types
// before the member runs, so a bad value changes nothing.
#include <array>

#include "flipreel/control/flipreel.h"
#include "flipreel/host/numbers.h"

namespace flipreel {

namespace {

using Kind = MemberInfo::Kind;
using Binding = Member<Flipreel>;

Binding Property(MemberInfo info, Variant (*get)(Flipreel&),
                 void (*let)(Flipreel&, const Variant&)) {
  return PropertyMember<Flipreel>(info, get, let);
}

Binding Method(MemberInfo info, Variant (*call)(Flipreel&, std::span<Variant>), size_t min_args = 0,
               size_t max_args = 0) {
  return MethodMember<Flipreel>(info, call, min_args, max_args);
}

Variant Bool(bool b) {
  return Variant::FromBool(b);
}

// The frame queries take the frame index by reference and leave it as it is.
template <typename Result>
Variant FrameQuery(Flipreel& c, std::span<Variant> args,
                   Result (Flipreel::*query)(int16_t&) const) {
  int16_t frame = args[0].ToInteger();
  return Variant((c.*query)(frame));
}

const std::array<Binding, 29>& Bindings() {
  static const std::array<Binding, 29> kBindings = {{
      Property(
          {"FlipreelFile", Kind::kProperty, 1, "String", "", "sets the GIF file to animate"},
          [](Flipreel& c) { return Variant(c.FlipreelFile()); },
          [](Flipreel& c, const Variant& v) { c.SetFlipreelFile(v.ToText()); }),
      Property(
          {"FrameRate", Kind::kProperty, 2, "Integer", "",
           "time interval between the frames, in milliseconds"},
          [](Flipreel& c) { return Variant(c.FrameRate()); },
          [](Flipreel& c, const Variant& v) { c.SetFrameRate(v.ToInteger()); }),
      Method({"ShowAbout", Kind::kMethod, kDispidShowAbout, "", "", "Shows the about dialog box."},
             [](Flipreel& c, std::span<Variant>) {
               c.ShowAbout();
               return Variant();
             }),
      Property(
          {"AutoSize", Kind::kProperty, 4, "Boolean", "",
           "whether the control is sized to the graphic"},
          [](Flipreel& c) { return Bool(c.AutoSize()); },
          [](Flipreel& c, const Variant& v) { c.SetAutoSize(v.ToBoolean()); }),
      Property(
          {"Sequence", Kind::kProperty, 5, "Sequence", "",
           "the order in which frames are shown: 0 Normal, 1 Reverse, 2 Random, 3 Ping Pong"},
          [](Flipreel& c) { return Variant(c.Sequence()); },
          [](Flipreel& c, const Variant& v) { c.SetSequence(v.ToLong()); }),
      Property(
          {"Stretch", Kind::kProperty, 6, "Boolean", "",
           "Returns/Sets a value that determines whether a graphic resizes to fit the size of gif "
           "control or not."},
          [](Flipreel& c) { return Bool(c.Stretch()); },
          [](Flipreel& c, const Variant& v) { c.SetStretch(v.ToBoolean()); }),
      Property(
          {"BorderColor", Kind::kProperty, 7, "OLE_COLOR", "",
           "Returns/sets the color of gif controls border."},
          [](Flipreel& c) { return Variant(c.BorderColor()); },
          [](Flipreel& c, const Variant& v) { c.SetBorderColor(v.ToLong()); }),
      Method({"StartAnimation", Kind::kMethod, 8, "", "", "Starts gif animation."},
             [](Flipreel& c, std::span<Variant>) {
               c.StartAnimation();
               return Variant();
             }),
      Method({"StopAnimation", Kind::kMethod, 9, "", "", "Stops gif animation."},
             [](Flipreel& c, std::span<Variant>) {
               c.StopAnimation();
               return Variant();
             }),
      Property(
          {"AutoRewind", Kind::kProperty, 10, "Integer", "",
           "Returns/Sets the number of times to loop through animation frames,0-to loop infinitely "
           "or a integer representing the number of loops."},
          [](Flipreel& c) { return Variant(c.AutoRewind()); },
          [](Flipreel& c, const Variant& v) { c.SetAutoRewind(v.ToInteger()); }),
      Property(
          {"Playing", Kind::kProperty, 11, "Boolean", "",
           "Returns/Sets the value indicating whether the graphic is animating or not. (Run time)"},
          [](Flipreel& c) { return Bool(c.Playing()); },
          [](Flipreel& c, const Variant& v) { c.SetPlaying(v.ToBoolean()); }),
      Property(
          {"AutoStart", Kind::kProperty, 12, "Boolean", "",
           "Returns/Sets the value indicating whether to start gif animation automatically at run "
           "time or not."},
          [](Flipreel& c) { return Bool(c.AutoStart()); },
          [](Flipreel& c, const Variant& v) { c.SetAutoStart(v.ToBoolean()); }),
      Property(
          {"BackColor", Kind::kProperty, 13, "OLE_COLOR", "",
           "Returns/sets the background color used to display graphics in gif control."},
          [](Flipreel& c) { return Variant(c.BackColor()); },
          [](Flipreel& c, const Variant& v) { c.SetBackColor(v.ToLong()); }),
      Property(
          {"BackStyle", Kind::kProperty, 14, "BackStyle", "",
           "Returns/Sets the value Indicating whether the background of gif control is transparent "
           "or opaque."},
          [](Flipreel& c) { return Variant(c.BackStyle()); },
          [](Flipreel& c, const Variant& v) { c.SetBackStyle(v.ToLong()); }),
      Method({"RemoveGif", Kind::kMethod, 15, "", "", "clears the GIF from the control"},
             [](Flipreel& c, std::span<Variant>) {
               c.RemoveGif();
               return Variant();
             }),
      Method(
          {"FrameHeight", Kind::kMethod, 16, "Variant", "Frame As Integer",
           "Returns the height of a gif frame(pixels)."},
          [](Flipreel& c, std::span<Variant> a) {
            return FrameQuery(c, a, &Flipreel::FrameHeight);
          },
          1, 1),
      Method(
          {"FrameWidth", Kind::kMethod, 17, "Variant", "Frame As Integer",
           "Returns the width of a gif frame(pixels)."},
          [](Flipreel& c, std::span<Variant> a) { return FrameQuery(c, a, &Flipreel::FrameWidth); },
          1, 1),
      Method(
          {"FrameLeft", Kind::kMethod, 18, "Variant", "Frame As Integer",
           "Returns the distance between the left edge of a frame and the left edge of  gif "
           "logical "
           "screen(pixels)."},
          [](Flipreel& c, std::span<Variant> a) { return FrameQuery(c, a, &Flipreel::FrameLeft); },
          1, 1),
      Method(
          {"FrameTop", Kind::kMethod, 19, "Variant", "Frame As Integer",
           " Returns the distance between the top edge of a frame and the top edge of\ngif "
           "logical "
           "screen(pixels)."},
          [](Flipreel& c, std::span<Variant> a) { return FrameQuery(c, a, &Flipreel::FrameTop); },
          1, 1),
      Method(
          {"GetFrame", Kind::kMethod, 20, "Picture", "Frame As Integer",
           "Gets a gif frame graphic."},
          [](Flipreel& c, std::span<Variant> a) { return FrameQuery(c, a, &Flipreel::GetFrame); },
          1, 1),
      Property(
          {"BackGroundGraphic", Kind::kObjectProperty, 21, "Picture", "",
           "Returns/Sets the background graphic to be displayed in gif control."},
          [](Flipreel& c) { return Variant(c.BackGroundGraphic()); },
          [](Flipreel& c, const Variant& v) { c.SetBackGroundGraphic(v.ToPicture()); }),
      Property(
          {"BorderStyle", Kind::kProperty, 22, "BorderStyle", "",
           "Returns/sets the object's border visibility state,either transparent or solid."},
          [](Flipreel& c) { return Variant(c.BorderStyle()); },
          [](Flipreel& c, const Variant& v) { c.SetBorderStyle(v.ToLong()); }),
      Property(
          {"Frames", Kind::kProperty, 23, "Integer", "",
           "the number of frames in the GIF file (read only)"},
          [](Flipreel& c) { return Variant(c.Frames()); },
          [](Flipreel& c, const Variant& v) { c.SetFrames(v.ToInteger()); }),
      Property(
          {"CurrentFrame", Kind::kProperty, 24, "Integer", "",
           "Returns the current gif frame number (Run time & Read only)."},
          [](Flipreel& c) { return Variant(c.CurrentFrame()); },
          [](Flipreel& c, const Variant& v) { c.SetCurrentFrame(v.ToInteger()); }),
      Property(
          {"GifFromURL", Kind::kProperty, 25, "String", "",
           "sets the GIF file from a URL by asynchronous download"},
          [](Flipreel& c) { return Variant(c.GifFromURL()); },
          [](Flipreel& c, const Variant& v) { c.SetGifFromURL(v.ToText()); }),
      Property(
          {"ServerUserName", Kind::kProperty, 26, "String", "",
           "Sets the user name when connecting to a  password protected server."},
          [](Flipreel& c) { return Variant(c.ServerUserName()); },
          [](Flipreel& c, const Variant& v) { c.SetServerUserName(v.ToText()); }),
      Property(
          {"ServerPassword", Kind::kProperty, 27, "String", "",
           "Sets the password when connecting to a  password protected server."},
          [](Flipreel& c) { return Variant(c.ServerPassword()); },
          [](Flipreel& c, const Variant& v) { c.SetServerPassword(v.ToText()); }),
      Method(
          {"CancelAsyncRead", Kind::kMethod, 28, "", "[Property As Variant]",
           "Cancels asynchronous gif download request."},
          [](Flipreel& c, std::span<Variant> a) {
            c.CancelAsyncRead(a.empty() ? Variant::Missing() : a[0]);
            return Variant();
          },
          0, 1),
      // Beyond the classic interface.
      Property(
          {"Composed", Kind::kProperty, 29, "Boolean", "",
           "Returns/Sets a value that determines whether frames are composed on the gif's logical "
           "screen and shown for their own delays, as web browsers play them."},
          [](Flipreel& c) { return Bool(c.Composed()); },
          [](Flipreel& c, const Variant& v) { c.SetComposed(v.ToBoolean()); }),
  }};
  return kBindings;
}

}  // namespace

std::span<const MemberInfo> Flipreel::Members() {
  static const auto kInfos = [] {
    std::array<MemberInfo, 29> infos{};
    for (size_t i = 0; i < infos.size(); ++i) infos[i] = Bindings()[i].info;
    return infos;
  }();
  return kInfos;
}

Variant Flipreel::Invoke(std::string_view name, CallKind kind, std::span<Variant> args) {
  return InvokeMember<Flipreel>(Bindings(), *this, name, kind, args);
}

}  // namespace flipreel
