// Saving and restoring a control with its form, against the headless host.
#include <gtest/gtest.h>

#include <algorithm>

#include "flipreel/control/flipreel.h"
#include "flipreel/headless/headless_host.h"
#include "flipreel/saved_form/saved_form.h"
#include "tests/support/checks.h"
#include "tests/support/gif_builder.h"

using namespace flipreel;

namespace {

using testsupport::Joined;

struct Restored {
  HeadlessHost host;
  Flipreel control{host};
  explicit Restored(bool run_time) { host.SetUserMode(run_time); }
};

// Three frames; the first one waits 50 ms.
const std::string kGif = testgif::Build(testgif::Animation(3));

// A GIF's bytes as the "Buffer" entry holds them: each byte as one
// character, saved as two bytes, low byte first.
Bytes BufferBytes(const std::string& file) {
  Bytes b;
  for (unsigned char c : file) {
    b.push_back(c);
    b.push_back(0);
  }
  return b;
}

PropertyBag GifBag(std::initializer_list<std::pair<const char*, Variant>> extra = {}) {
  PropertyBag bag;
  bag.Append("Buffer", Variant(BufferBytes(kGif)));
  for (const auto& [key, value] : extra) bag.Append(key, value);
  return bag;
}

}  // namespace

TEST(ReadProperties, EmptyBagRestoresEveryDefault) {
  Restored r(true);
  r.control.ReadProperties(PropertyBag());
  const Flipreel& c = r.control;
  // Saved again into a bag that skips defaults, only Buffer (never equal to
  // its default) is left: every saved property came back as its default.
  PropertyBag again(/*skip_defaults=*/true);
  c.WriteProperties(again);
  ASSERT_EQ(again.entries().size(), 1u);
  EXPECT_EQ(again.entries()[0].key, "Buffer");
  EXPECT_EQ(c.GetBuffer(), u"0");
  EXPECT_EQ(r.host.surface_back_color(), kColorWindowBackground);
  EXPECT_EQ(c.imgBackGround().left(), 0);
  EXPECT_EQ(c.imgBackGround().top(), 0);
  EXPECT_TRUE(c.imgBackGround().visible());
  EXPECT_FALSE(c.state().PingPongForward);
  EXPECT_TRUE(c.imgGif().picture().IsEmpty());
  EXPECT_FALSE(c.Timer1().enabled());
  EXPECT_EQ(r.host.surface_back_style(), 0);  // transparent at run time
  EXPECT_TRUE(r.host.messages().empty());     // "0" holds no GIF: not an error
}

// A bag that keeps everything gets 21 entries in order; one that skips
// defaults keeps only what differs from them.
TEST(WriteProperties, BagsThatKeepEverythingOrOnlyWhatDiffers) {
  Restored r(false);
  r.control.InitProperties();
  r.control.SetAutoSize(true);
  r.control.SetBorderStyle(1);
  r.control.SetBackColor(kColorButtonFace);  // what a new control's shape already has
  r.control.SetBackStyle(0);
  PropertyBag differs(/*skip_defaults=*/true);
  r.control.WriteProperties(differs);
  std::vector<std::string> keys;
  for (const auto& e : differs.entries()) keys.push_back(e.key);
  EXPECT_EQ(Joined(keys), "AutoSize, BorderStyle, BackColor, BackStyle, Buffer");
  // A control without a GIF saves Buffer "0" as two bytes.
  EXPECT_EQ(differs.ReadProperty("Buffer", Variant()).AsBytes(), (Bytes{0x30, 0x00}));

  PropertyBag bag;
  r.control.WriteProperties(bag);
  struct Row {
    const char* key;
    Variant::Type type;
  };
  using T = Variant::Type;
  const Row expected[] = {
      {"FlipreelFile", T::kString},   {"FrameRate", T::kInteger},
      {"AutoSize", T::kBoolean},      {"BorderStyle", T::kInteger},
      {"Sequence", T::kInteger},      {"Stretch", T::kBoolean},
      {"AutoRewind", T::kInteger},    {"Playing", T::kBoolean},
      {"AutoStart", T::kBoolean},     {"BorderColor", T::kLong},
      {"BackColor", T::kLong},        {"BackStyle", T::kInteger},
      {"BorderStyle", T::kInteger},   {"BackGroundGraphic", T::kPicture},
      {"BorderStyle", T::kInteger},   {"Frames", T::kInteger},
      {"CurrentFrame", T::kInteger},  {"Buffer", T::kBytes},
      {"GifFromURL", T::kString},     {"ServerUserName", T::kString},
      {"ServerPassword", T::kString},
  };
  ASSERT_EQ(bag.entries().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bag.entries()[i].key, expected[i].key);
    EXPECT_EQ(bag.entries()[i].value.type(), expected[i].type);
  }
  EXPECT_EQ(bag.ReadProperty("BorderStyle", Variant()).ToInteger(), 1);
  EXPECT_EQ(bag.ReadProperty("BackColor", Variant()).ToLong(), kColorButtonFace);
}

// A saved control comes back from its bag, also with the keys in lower case,
// and a Buffer with characters above 255 survives.
TEST(Persistence, SaveAndRestoreWithKeysInAnyCase) {
  const Text buffer = u"GIF\u0100\u20AC\uFFFF\xD800\x00z";
  Restored a(true);
  // Such a Buffer comes from a saved form: one that is not a GIF loads no
  // frames, but is kept.
  PropertyBag source;
  source.Append("Buffer", Variant(buffer));
  a.control.ReadProperties(source);
  ASSERT_EQ(a.control.GetBuffer(), buffer);
  a.control.SetAutoSize(true);
  a.control.SetSequence(kSequencePingPong);
  a.control.SetBorderColor(0x00FF00);
  PropertyBag bag;
  a.control.WriteProperties(bag);
  PropertyBag lower;
  for (const auto& e : bag.entries()) {
    std::string key = e.key;
    std::transform(key.begin(), key.end(), key.begin(), [](char ch) { return std::tolower(ch); });
    lower.Append(key, e.value);
  }
  for (const PropertyBag* saved : {&bag, &lower}) {
    Restored r(true);
    r.control.ReadProperties(*saved);
    EXPECT_TRUE(r.control.AutoSize());
    EXPECT_EQ(r.control.Sequence(), kSequencePingPong);
    EXPECT_EQ(r.control.BorderColor(), 0x00FF00);
    EXPECT_EQ(r.control.GetBuffer(), buffer);
  }
}

// The starting frame follows Sequence at run time; a border shifts the
// background and the first frame.
// The GIF, held one character per byte, travels in a saved form (and so in
// a form file's saved state) at little more than its file's size, and comes
// back byte for byte.
TEST(Persistence, ASavedFormHoldsTheGifAtMostOnePointFourTimesItsFile) {
  const std::string gif = testgif::Build(testgif::Animation(24, 160, 120));
  Restored a(false);
  PropertyBag bag;
  bag.Append("Buffer", Variant(BufferBytes(gif)));
  a.control.ReadProperties(bag);
  ASSERT_EQ(a.control.Frames(), 24);
  PropertyBag saved(/*skip_defaults=*/true);
  a.control.WriteProperties(saved);
  SavedForm form;
  form.controls.push_back({"FlipreelControl.Flipreel", "Flipreel1", saved});
  const std::string text = SerializeSavedForm(form);
  EXPECT_LE(static_cast<double>(text.size()), 1.4 * static_cast<double>(gif.size()))
      << text.size() << " bytes for a GIF of " << gif.size();

  Restored b(true);
  b.control.ReadProperties(ParseSavedForm(text, "form.json").controls.at(0).bag);
  EXPECT_EQ(b.control.GetBuffer(), a.control.GetBuffer());
  EXPECT_EQ(b.control.Frames(), 24);
}

TEST(ReadProperties, StartingFrameAndPlaceBySequenceModeAndBorder) {
  struct Row {
    int16_t sequence;
    bool run_time;
    int32_t frame;
    int16_t border = 0;
  };
  for (const Row& row : {Row{0, true, 0}, Row{1, true, 2, 1}, Row{2, true, 2}, Row{3, true, 0},
                         Row{1, false, 0}, Row{2, false, 0, 1}, Row{3, false, 0}}) {
    SCOPED_TRACE(testing::Message() << "Sequence " << row.sequence << " run time " << row.run_time
                                    << " border " << row.border);
    Restored r(row.run_time);
    r.control.ReadProperties(
        GifBag({{"Sequence", Variant(row.sequence)}, {"BorderStyle", Variant(row.border)}}));
    EXPECT_EQ(r.control.state().FrameIndex, row.frame);
    EXPECT_EQ(r.control.state().PingPongForward, row.sequence == 3);
    EXPECT_EQ(r.control.imgGif().picture(), r.control.imgBuffer()(0).picture());
    EXPECT_EQ(r.control.Timer1().enabled(), row.run_time);  // AutoStart defaults to True
    EXPECT_EQ(r.host.surface_back_style(), row.run_time ? 0 : 1);
    const float d = row.border ? 10.0f : 0.0f;
    EXPECT_EQ(r.control.imgBackGround().top(), d);
    EXPECT_EQ(r.control.imgGif().left(), r.control.imgBuffer()(0).left() + d);
    EXPECT_EQ(r.control.imgGif().top(), r.control.imgBuffer()(0).top() + d);
  }
}

TEST(ReadProperties, FrameRateCheckAppliesOnlyTheFirstFramesDelay) {
  struct Row {
    int16_t saved;
    bool run_time;
    bool auto_start;
    bool announced;
    int32_t interval;
  };
  // The first frame's delay is 50 ms.
  for (const Row& row : {Row{50, true, true, true, 50}, Row{250, true, true, false, 250},
                         Row{250, true, false, false, 0}, Row{250, false, true, false, 250},
                         Row{50, false, false, true, 50}}) {
    SCOPED_TRACE(testing::Message() << row.saved << " " << row.run_time << " " << row.auto_start);
    Restored r(row.run_time);
    r.control.ReadProperties(GifBag(
        {{"FrameRate", Variant(row.saved)}, {"AutoStart", Variant::FromBool(row.auto_start)}}));
    const auto& n = r.host.notices();
    EXPECT_EQ(std::count(n.begin(), n.end(), "FrameRate"), row.announced ? 1 : 0);
    EXPECT_EQ(r.control.FrameRate(), row.saved);
    EXPECT_EQ(r.control.Timer1().interval(), row.interval);
  }
}

// Saved values the restore only records, or computes again from the GIF.
TEST(ReadProperties, SavedValuesThatAreRecordedOrRecounted) {
  Restored r(true);
  r.control.ReadProperties(GifBag({{"FlipreelFile", Variant(Text(u"/no/such/folder/gone.gif"))},
                                   {"GifFromURL", Variant(Text(u"http://127.0.0.1:9/never.gif"))},
                                   {"Playing", Variant::FromBool(true)},
                                   {"AutoStart", Variant::FromBool(false)},
                                   {"Frames", Variant(int16_t{99})}}));
  // The path and the address are text only: nothing is read or fetched.
  EXPECT_EQ(r.control.FlipreelFile(), u"/no/such/folder/gone.gif");
  EXPECT_EQ(r.control.GifFromURL(), u"http://127.0.0.1:9/never.gif");
  EXPECT_TRUE(r.host.pending_reads().empty());
  EXPECT_TRUE(r.host.messages().empty());
  EXPECT_TRUE(r.control.state().FramesLoaded);
  EXPECT_EQ(r.control.Frames(), 3);
  EXPECT_EQ(r.control.state().LastFrame, 2);
  EXPECT_EQ(r.control.imgGif().tag(), u"50");
  // Playing saved True without AutoStart stays still, and is written back.
  EXPECT_FALSE(r.control.Timer1().enabled());
  EXPECT_FALSE(r.control.Playing());  // at run time it reports the timer
  PropertyBag out;
  r.control.WriteProperties(out);
  EXPECT_TRUE(out.ReadProperty("Playing", Variant()).ToBoolean());
}

TEST(ReadProperties, NoGifKeepsTheRestoredFrames) {
  Restored r(true);
  PropertyBag bag;
  bag.Append("Frames", Variant(int16_t{5}));
  r.control.ReadProperties(bag);
  EXPECT_EQ(r.control.Frames(), 5);
  EXPECT_FALSE(r.control.Timer1().enabled());
  EXPECT_TRUE(r.control.imgGif().picture().IsEmpty());
}

TEST(ReadProperties, StretchSizesTheImageToTheControl) {
  Restored r(true);
  r.host.ResizeSurface(1500, 900);
  r.control.ReadProperties(GifBag({{"Stretch", Variant::FromBool(true)}}));
  EXPECT_TRUE(r.control.imgGif().stretch());
  EXPECT_EQ(r.control.imgGif().width(), 1500);
  EXPECT_EQ(r.control.imgGif().height(), 900);
  EXPECT_EQ(r.control.shpBorder().width(), 1500);
  EXPECT_EQ(r.control.imgBackGround().height(), 900);
}

// Each key in the order the restore reads it, with a good value whose effect
// can be seen and a damaged one its field refuses. A damaged value ends the
// restore with the key named; everything read before it stays applied and
// nothing after it is.
TEST(ReadProperties, DamagedValueStopsAtItsStepInReadOrder) {
  const Picture graphic = Picture::Solid(2, 2, 0xFF102030);
  const Variant bad_number(Text(u"not a number"));
  const Variant bad_text(Picture::Solid(1, 1, 0xFF000000));
  struct Key {
    const char* key;
    Variant good;
    Variant bad;
    int32_t error;
    bool (*applied)(const Restored&);
  };
  const Key keys[] = {
      {"BorderStyle", Variant(int16_t{1}), bad_number, 13,
       [](const Restored& r) { return r.control.shpBorder().border_style() == 1; }},
      {"BackColor", Variant(int32_t{0x123456}), bad_number, 13,
       [](const Restored& r) { return r.host.surface_back_color() == 0x123456; }},
      {"BackStyle", Variant(int16_t{0}), Variant(int16_t{2}), 380,
       [](const Restored& r) { return r.control.BackStyle() == 0; }},
      {"BorderColor", Variant(int32_t{0xFF00}), bad_number, 13,
       [](const Restored& r) { return r.control.shpBorder().border_color() == 0xFF00; }},
      {"Sequence", Variant(int16_t{2}), Variant(int32_t{70000}), 6,
       [](const Restored& r) { return r.control.state().Sequence == 2; }},
      {"Stretch", Variant::FromBool(true), bad_number, 13,
       [](const Restored& r) { return r.control.state().Stretch; }},
      {"FlipreelFile", Variant(Text(u"gone.gif")), bad_text, 13,
       [](const Restored& r) { return r.control.state().FlipreelFile == u"gone.gif"; }},
      {"FrameRate", Variant(int16_t{70}), bad_number, 13,
       [](const Restored& r) { return r.control.state().FrameRate == 70; }},
      {"AutoRewind", Variant(int16_t{3}), bad_number, 13,
       [](const Restored& r) { return r.control.state().AutoRewind == 3; }},
      {"Playing", Variant::FromBool(true), bad_number, 13,
       [](const Restored& r) { return r.control.state().Playing; }},
      {"AutoSize", Variant::FromBool(true), bad_number, 13,
       [](const Restored& r) { return r.control.state().AutoSize; }},
      {"AutoStart", Variant::FromBool(true), bad_number, 13,
       [](const Restored& r) { return r.control.state().AutoStart; }},
      {"Frames", Variant(int16_t{9}), bad_number, 13,
       [](const Restored& r) { return r.control.state().Frames == 9; }},
      {"CurrentFrame", Variant(int16_t{4}), bad_number, 13,
       [](const Restored& r) { return r.control.state().CurrentFrame == 4; }},
      {"Buffer", Variant(Text(u"no gif")), bad_text, 13,
       [](const Restored& r) { return r.control.GetBuffer() == u"no gif"; }},
      {"GifFromURL", Variant(Text(u"www.example.invalid/a.gif")), bad_text, 13,
       [](const Restored& r) { return !r.control.state().GifFromURL.empty(); }},
      {"BackGroundGraphic", Variant(graphic), bad_number, 13,
       [](const Restored& r) { return !r.control.BackGroundGraphic().IsEmpty(); }},
      {"ServerUserName", Variant(Text(u"user")), bad_text, 13,
       [](const Restored& r) { return r.control.state().ServerUserName == u"user"; }},
      {"ServerPassword", Variant(Text(u"secret")), bad_text, 13,
       [](const Restored& r) { return r.control.state().ServerPassword == u"secret"; }},
  };
  for (size_t damaged = 0; damaged < std::size(keys); ++damaged) {
    SCOPED_TRACE(keys[damaged].key);
    PropertyBag bag;
    for (size_t i = 0; i < std::size(keys); ++i)
      bag.Append(keys[i].key, i == damaged ? keys[i].bad : keys[i].good);
    Restored r(true);  // never initialised: every field starts 0, False or empty
    try {
      r.control.ReadProperties(bag);
      ADD_FAILURE() << "no error";
    } catch (const PropertyValueError& e) {
      EXPECT_EQ(e.key(), keys[damaged].key);
      EXPECT_EQ(e.number(), keys[damaged].error);
    }
    for (size_t i = 0; i < std::size(keys); ++i)
      EXPECT_EQ(keys[i].applied(r), i < damaged) << keys[i].key;
    EXPECT_TRUE(r.control.imgBackGround().left() == 0 && !r.control.Timer1().enabled());
  }
}
