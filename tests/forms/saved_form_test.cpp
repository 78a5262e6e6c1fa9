// Saved-form files: exact round trips of every kind of value, atomic writing,
// and a clear error naming file, control and key for every kind of damage.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "control/flipreel.h"
#include "host/headless_host.h"
#include "host/saved_form.h"
#include "tests/forms/forms_support.h"
#include "tests/support/test_files.h"

using namespace flipreel;

namespace {

bool SamePixels(const Picture& a, const Picture& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.data()->PixelArgb(x, y) != b.data()->PixelArgb(x, y)) return false;
  return true;
}

Picture Argb(int width, int height, uint32_t (*pixel)(int x, int y)) {
  std::vector<uint32_t> p;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) p.push_back(pixel(x, y));
  return Picture(PictureData::Argb(width, height, std::move(p)));
}

SavedForm OneControl(PropertyBag bag, std::string name = "Flipreel1") {
  SavedForm form;
  form.controls.push_back(
      SavedControl{"FlipreelControl.Flipreel", std::move(name), std::move(bag)});
  return form;
}

std::string FormJson(const std::string& entries) {
  return R"({"format": "Flipreel saved form", "version": 1, "controls": [
    {"class": "FlipreelControl.Flipreel", "name": "Gif1", "properties": [)" +
         entries + "]}]}";
}

}  // namespace

TEST(Base64, EncodesAndDecodesTheStandardVectors) {
  const std::pair<const char*, const char*> rows[] = {{"", ""},
                                                      {"f", "Zg=="},
                                                      {"fo", "Zm8="},
                                                      {"foo", "Zm9v"},
                                                      {"foob", "Zm9vYg=="},
                                                      {"fooba", "Zm9vYmE="},
                                                      {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : rows) {
    EXPECT_EQ(EncodeBase64(plain), encoded);
    std::string back;
    EXPECT_TRUE(DecodeBase64(encoded, back));
    EXPECT_EQ(back, plain);
  }
  std::string ignored;
  for (const char* bad : {"Zg=", "Z===", "Zg=a", "Zm9v\n", "Zh==", "Zm9=", "Z!==", "=Zm9"})
    EXPECT_FALSE(DecodeBase64(bad, ignored)) << bad;
}

TEST(SavedForm, EveryKindOfValueRoundTripsInOrder) {
  // Pictures go as GIF where GIF holds them exactly, else as raw pixels.
  const Picture indexed = Picture::Solid(3, 2, 0xFF336699);
  const Picture transparent = Argb(5, 3, [](int x, int y) -> uint32_t {
    return (x + y) % 3 == 0 ? 0x00ABCDEF : 0xFF000000u | static_cast<uint32_t>(x * 40 + y);
  });
  const Picture many_colours = Argb(17, 17, [](int x, int y) -> uint32_t {
    return 0xFF000000u | static_cast<uint32_t>(y * 17 + x);
  });
  const Picture translucent = Argb(300, 2, [](int x, int y) -> uint32_t {
    return (static_cast<uint32_t>(x % 256) << 24) | static_cast<uint32_t>(x * 7 + y);
  });
  PropertyBag bag;
  bag.Append("Empty", Variant());
  bag.Append("Integer", Variant(int16_t{-32768}));
  bag.Append("Long", Variant(int32_t{INT32_MIN}));
  bag.Append("Single", Variant(1.25f));
  bag.Append("Double", Variant(-2.5e300));
  bag.Append("Boolean", Variant::FromBool(true));
  bag.Append("Text", Variant(Text(u"gr\u00FC\u00DF \u20AC \U0001F600 \"q\"\n")));
  bag.Append("LoneSurrogate", Variant(Text(u"a\xDC00"
                                           u"b\xD800")));
  bag.Append("Bytes", Variant(Bytes{0, 0x30, 0xFF, 0x80}));
  bag.Append("NoBytes", Variant(Bytes{}));
  bag.Append("NoPicture", Variant(Picture()));
  bag.Append("Indexed", Variant(indexed));
  bag.Append("Translucent", Variant(translucent));
  bag.Append("Transparent", Variant(transparent));
  bag.Append("ManyColours", Variant(many_colours));
  bag.Append("Integer", Variant(int16_t{7}));  // a key written twice keeps both entries

  const SavedForm back = ParseSavedForm(SerializeSavedForm(OneControl(bag)), "form.json");
  ASSERT_EQ(back.controls.size(), 1u);
  EXPECT_EQ(back.controls[0].class_name, "FlipreelControl.Flipreel");
  const auto& in = bag.entries();
  const auto& out = back.controls[0].bag.entries();
  ASSERT_EQ(out.size(), in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    SCOPED_TRACE(in[i].key);
    EXPECT_EQ(out[i].key, in[i].key);
    ASSERT_EQ(out[i].value.type(), in[i].value.type());
    if (in[i].value.type() == Variant::Type::kPicture) {
      EXPECT_TRUE(SamePixels(out[i].value.AsPicture(), in[i].value.AsPicture()));
    } else {
      EXPECT_TRUE(out[i].value.SameValue(in[i].value));
    }
  }
  EXPECT_EQ(back.controls[0].bag.ReadProperty("integer", Variant()).ToInteger(), 7);
}

TEST(SavedForm, WritesAtomicallyAndKeepsPermissions) {
  testfiles::TempDir dir;
  const std::string path = dir.Write("form.json", "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  PropertyBag bag;
  bag.Append("AutoSize", Variant::FromBool(true));
  WriteSavedForm(path, OneControl(bag));

  const SavedForm back = ReadSavedForm(path);
  EXPECT_TRUE(back.controls.at(0).bag.ReadProperty("AutoSize", Variant()).ToBoolean());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // Nothing but the form is left in the folder.
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    files += 1 + 0 * e.is_regular_file();
  EXPECT_EQ(files, 1u);

  // A write that cannot happen leaves no trace and names the file.
  const std::string missing = dir.path() + "/no/such/folder/form.json";
  try {
    WriteSavedForm(missing, OneControl(bag));
    ADD_FAILURE() << "no error";
  } catch (const SavedFormError& e) {
    EXPECT_EQ(e.file(), missing);
    EXPECT_EQ(e.number(), err::kFileNotFound);
  }
  EXPECT_THROW(WriteSavedForm(dir.path(), OneControl(bag)), SavedFormError);
  EXPECT_EQ(testfiles::ReadFile(path).substr(0, 1), "{");
}

TEST(SavedForm, DamageIsReportedWithFileControlAndKey) {
  const std::string not_gif = EncodeBase64("GIF89a\x01\x00\x01\x00garbage");
  struct Row {
    std::string json;
    int32_t number;
    std::string control, key, problem;
  };
  auto entry = [](const std::string& body) { return FormJson("{\"key\": \"K\", " + body + "}"); };
  const Row rows[] = {
      {"{\"format\": ", 380, "", "", "not valid JSON"},
      {"[1, 2]", 380, "", "", "not a saved form"},
      {R"({"format": "something else", "version": 1, "controls": []})", 380, "", "", "format"},
      {R"({"format": "Flipreel saved form", "version": 2, "controls": []})", 380, "", "",
       "version 2"},
      {R"({"format": "Flipreel saved form", "version": "1", "controls": []})", 380, "", "",
       "version"},
      {R"({"format": "Flipreel saved form", "version": 1, "controls": {}})", 380, "", "",
       "controls"},
      {R"({"format": "Flipreel saved form", "version": 1, "controls": [7]})", 380, "", "",
       "not an object"},
      {R"({"format": "Flipreel saved form", "version": 1, "controls": [{"class": "X"}]})", 380, "",
       "", "name"},
      {R"({"format": "Flipreel saved form", "version": 1, "controls": [
          {"class": "X", "name": "A", "properties": []},
          {"class": "X", "name": "a", "properties": []}]})",
       380, "a", "", "two controls"},
      {FormJson("3"), 380, "Gif1", "", "not an object"},
      {FormJson(R"({"type": "Integer", "value": 1})"), 380, "Gif1", "", "key"},
      {entry(R"("value": 1)"), 380, "Gif1", "K", "type"},
      {entry(R"("type": "Currency", "value": 1)"), 380, "Gif1", "K", "unknown type"},
      {entry(R"("type": "Integer", "value": "5")"), 380, "Gif1", "K", "not string"},
      {entry(R"("type": "Integer", "value": 1.5)"), 380, "Gif1", "K", "whole number"},
      {entry(R"("type": "Integer", "value": 32768)"), 380, "Gif1", "K", "out of range"},
      {entry(R"("type": "Long", "value": -2147483649)"), 380, "Gif1", "K", "out of range"},
      {entry(R"("type": "Long", "value": 18446744073709551615)"), 380, "Gif1", "K", "out of range"},
      {entry(R"("type": "Single", "value": 1e300)"), 380, "Gif1", "K", "out of range"},
      {entry(R"("type": "Boolean", "value": 1)"), 380, "Gif1", "K", "true or false"},
      {entry(R"("type": "Text")"), 380, "Gif1", "K", "missing"},
      {entry(R"("type": "Text", "encoding": "utf-16le-base64", "value": "YQ==")"), 380, "Gif1", "K",
       "odd"},
      {entry(R"("type": "Text", "encoding": "latin-9", "value": "")"), 380, "Gif1", "K",
       "encoding"},
      {entry(R"("type": "Bytes", "value": "R0lG@@==")"), 380, "Gif1", "K", "base64"},
      {entry(R"("type": "Bytes", "value": "R0lGO")"), 380, "Gif1", "K", "base64"},
      {entry(R"("type": "Picture", "value": ")" + not_gif + "\""), 481, "Gif1", "K", "GIF"},
      {entry(
           R"("type": "Picture", "encoding": "argb32", "width": 2, "height": 2, "value": "AAAAAA==")"),
       481, "Gif1", "K", "do not match"},
      {entry(
           R"("type": "Picture", "encoding": "argb32", "width": 70000, "height": 1, "value": "")"),
       481, "Gif1", "K", "width"},
      {FormJson(std::string(5000, '[') + std::string(5000, ']')), 380, "", "", "nested"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.json.substr(0, 200));
    try {
      ParseSavedForm(row.json, "form.json");
      ADD_FAILURE() << "no error";
    } catch (const SavedFormError& e) {
      EXPECT_EQ(e.number(), row.number);
      EXPECT_EQ(e.file(), "form.json");
      EXPECT_EQ(e.control(), row.control);
      EXPECT_EQ(e.key(), row.key);
      EXPECT_NE(e.problem().find(row.problem), std::string::npos) << e.problem();
      const std::string what = e.what();
      EXPECT_EQ(what.rfind("form.json: ", 0), 0u) << what;
      if (!row.key.empty()) {
        EXPECT_NE(what.find(", key \"K\": "), std::string::npos) << what;
      }
    }
  }
}

TEST(SavedForm, FileThatCannotBeAFormIsRefusedByName) {
  testfiles::TempDir dir;
  SavedFormLimits small;
  small.max_file_bytes = 4096;
  const std::string huge =
      dir.Write("huge.json", FormJson(R"({"key": "Buffer", "type": "Bytes", "value": ")" +
                                      std::string(8000, 'A') + "\"}"));
  const struct {
    std::string path;
    int32_t number;
  } rows[] = {{dir.path() + "/missing.json", err::kFileNotFound},
              {dir.path(), err::kPathFileAccess},
              {huge, err::kOutOfMemory}};
  for (const auto& row : rows) {
    try {
      ReadSavedForm(row.path, small);
      ADD_FAILURE() << row.path;
    } catch (const SavedFormError& e) {
      EXPECT_EQ(e.number(), row.number) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind(row.path + ": ", 0), 0u) << e.what();
    }
  }
  EXPECT_NO_THROW(ReadSavedForm(huge));  // within the usual limit
}

// A value that the file carries correctly but its field refuses is applied up
// to that key, as the control's restore does, and named in the error.
TEST(SavedForm, RestoreNamesTheKeyItsFieldRefused) {
  const SavedForm form =
      ParseSavedForm(FormJson(R"({"key": "BorderStyle", "type": "Integer", "value": 1},
                  {"key": "Sequence", "type": "Text", "value": "Ping Pong"})"),
                     "form.json");
  HeadlessHost host;
  Flipreel control(host);
  try {
    RestoreSavedControl("form.json", form.controls[0],
                        [&](const PropertyBag& bag) { control.ReadProperties(bag); });
    ADD_FAILURE() << "no error";
  } catch (const SavedFormError& e) {
    EXPECT_EQ(std::string(e.what()),
              "form.json: control \"Gif1\", key \"Sequence\": Type mismatch");
    EXPECT_EQ(e.number(), err::kTypeMismatch);
  }
  EXPECT_EQ(control.BorderStyle(), 1);
  EXPECT_EQ(control.Sequence(), 0);
}

TEST(SavedForm, ControlSavedIntoAFileComesBackPlaying) {
  testfiles::TempDir dir;
  HeadlessHost a;
  Flipreel saved(a);
  saved.InitProperties();
  saved.SetBackGroundGraphic(Picture::Solid(4, 4, 0xFF00FF00));
  saved.SetFlipreelFile(Utf8ToText(dir.Write("three.gif", formstest::ThreeFrameGif())));
  SavedForm form;
  form.controls.push_back({"FlipreelControl.Flipreel", "Flipreel1", PropertyBag(true)});
  saved.WriteProperties(form.controls[0].bag);
  WriteSavedForm(dir.path() + "/form.json", form);

  HeadlessHost b;
  Flipreel restored(b);
  restored.ReadProperties(ReadSavedForm(dir.path() + "/form.json").controls.at(0).bag);
  EXPECT_EQ(restored.GetBuffer(), saved.GetBuffer());
  EXPECT_TRUE(SamePixels(restored.BackGroundGraphic(), saved.BackGroundGraphic()));
  EXPECT_EQ(restored.Frames(), 3);
  EXPECT_TRUE(restored.Timer1().enabled());
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(SamePixels(restored.imgBuffer()(i).picture(), saved.imgBuffer()(i).picture()));
    EXPECT_EQ(restored.imgBuffer()(i).left(), saved.imgBuffer()(i).left());
  }
}
