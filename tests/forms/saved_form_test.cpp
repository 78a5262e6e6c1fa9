// Saved-form files: exact round trips of every kind of value, atomic writing,
// and a clear error naming file, control and key for every kind of damage.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <tuple>

#include "flipreel/saved_form/saved_form.h"
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

SavedForm OneControl(PropertyBag bag) {
  SavedForm form;
  form.controls.push_back(SavedControl{"FlipreelControl.Flipreel", "Flipreel1", std::move(bag)});
  return form;
}

std::string FormJson(const std::string& entries) {
  return R"({"format": "Flipreel saved form", "version": 1, "controls": [
    {"class": "FlipreelControl.Flipreel", "name": "Gif1", "properties": [)" +
         entries + "]}]}";
}

}  // namespace

TEST(Base64, EncodesAndDecodesTheStandardVectors) {
  // The standard's vectors: "foobar" cut after each letter.
  const char* const encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (size_t n = 0; n < std::size(encoded); ++n) {
    const std::string plain = std::string("foobar").substr(0, n);
    EXPECT_EQ(EncodeBase64(plain), encoded[n]);
    std::string back;
    EXPECT_TRUE(DecodeBase64(encoded[n], back));
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
  const PropertyBag restored = RestorableBag("form.json", back.controls[0]);
  const auto& out = restored.entries();
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

// A byte array whose every second byte is 0 (a text of characters below 256,
// two bytes a character) is stored as its low bytes; any other goes whole.
// Both come back exactly, and forms written before keep loading.
TEST(SavedForm, ByteArraysOfNarrowTextsAreStoredAsTheirLowBytes) {
  struct Row {
    Bytes value;
    const char* stored;  // the entry's fields after "type"
  };
  const Row rows[] = {
      {{0x30, 0}, R"("encoding":"low-bytes-base64","value":"MA==")"},
      {{0x47, 0, 0xFF, 0, 0, 0}, R"("encoding":"low-bytes-base64","value":"R/8A")"},
      {{0x30, 0x01}, R"("value":"MAE=")"},
      {{0x30, 0, 0x31}, R"("value":"MAAx")"},
      {{0, 0x30}, R"("value":"ADA=")"},
      {{}, R"("value":"")"},
  };
  for (const Row& row : rows) {
    PropertyBag bag;
    bag.Append("Buffer", Variant(row.value));
    const std::string text = SerializeSavedForm(OneControl(bag));
    EXPECT_NE(text.find(R"("version": 2)"), std::string::npos);
    std::string compact = text;
    std::erase_if(compact, [](char c) { return c == ' ' || c == '\n'; });
    EXPECT_NE(compact.find(std::string(R"("type":"Bytes",)") + row.stored), std::string::npos)
        << compact;
    const Variant back =
        ParseSavedForm(text, "form.json").controls.at(0).bag.ReadProperty("Buffer", Variant());
    EXPECT_TRUE(back.SameValue(Variant(row.value))) << row.stored;
  }
  // A form of the first version holds every byte.
  const SavedForm old = ParseSavedForm(
      FormJson(R"({"key": "Buffer", "type": "Bytes", "value": "MAA="})"), "old.json");
  EXPECT_TRUE(
      old.controls.at(0).bag.ReadProperty("Buffer", Variant()).SameValue(Variant(Bytes{0x30, 0})));
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
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

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
  auto expect_refused = [](const std::string& json, int32_t number, const std::string& control,
                           const std::string& key, const std::string& problem) {
    SCOPED_TRACE(json.substr(0, 200));
    try {
      ParseSavedForm(json, "form.json");
      ADD_FAILURE() << "no error";
    } catch (const SavedFormError& e) {
      EXPECT_EQ(e.number(), number);
      EXPECT_EQ(e.file(), "form.json");
      EXPECT_EQ(e.control(), control);
      EXPECT_EQ(e.key(), key);
      EXPECT_NE(e.problem().find(problem), std::string::npos) << e.problem();
      const std::string what = e.what();
      EXPECT_EQ(what.rfind("form.json: ", 0), 0u) << what;
      EXPECT_TRUE(key.empty() || what.find(", key \"K\": ") != std::string::npos) << what;
    }
  };
  // Damage to the document, to a control or to an entry without its key.
  const std::string head = R"({"format": "Flipreel saved form", "version": )";
  const std::pair<std::string, const char*> documents[] = {
      {"{\"format\": ", "not valid JSON"},
      {"[1, 2]", "not a saved form"},
      {R"({"format": "something else", "version": 1, "controls": []})", "format"},
      {head + R"(3, "controls": []})", "version 3"},
      {head + R"("1", "controls": []})", "version"},
      {head + R"(1, "controls": {}})", "controls"},
      {head + R"(1, "controls": [7]})", "not an object"},
      {head + R"(1, "controls": [{"class": "X"}]})", "name"},
      {FormJson(std::string(5000, '[') + std::string(5000, ']')), "nested"},
  };
  for (const auto& [json, problem] : documents) expect_refused(json, 380, "", "", problem);
  expect_refused(head + R"(1, "controls": [{"class": "X", "name": "A", "properties": []},
                 {"class": "X", "name": "a", "properties": []}]})",
                 380, "a", "", "two controls");
  expect_refused(FormJson("3"), 380, "Gif1", "", "not an object");
  expect_refused(FormJson(R"({"type": "Integer", "value": 1})"), 380, "Gif1", "", "key");

  // Damage to the value of the entry "K" of the control "Gif1".
  const std::string argb = R"("type": "Picture", "encoding": "argb32", )";
  const std::tuple<std::string, int32_t, const char*> entries[] = {
      {R"("value": 1)", 380, "type"},
      {R"("type": "Currency", "value": 1)", 380, "unknown type"},
      {R"("type": "Integer", "value": "5")", 380, "not string"},
      {R"("type": "Integer", "value": 1.5)", 380, "whole number"},
      {R"("type": "Integer", "value": 32768)", 380, "out of range"},
      {R"("type": "Long", "value": -2147483649)", 380, "out of range"},
      {R"("type": "Long", "value": 18446744073709551615)", 380, "out of range"},
      {R"("type": "Single", "value": 1e300)", 380, "out of range"},
      {R"("type": "Boolean", "value": 1)", 380, "true or false"},
      {R"("type": "Text")", 380, "missing"},
      {R"("type": "Text", "encoding": "utf-16le-base64", "value": "YQ==")", 380, "odd"},
      {R"("type": "Text", "encoding": "latin-9", "value": "")", 380, "encoding"},
      {R"("type": "Bytes", "value": "R0lG@@==")", 380, "base64"},
      {R"("type": "Bytes", "value": "R0lGO")", 380, "base64"},
      {R"("type": "Bytes", "encoding": "low-bytes-base64", "value": "R0lGO")", 380, "base64"},
      {R"("type": "Bytes", "encoding": "utf-16le-base64", "value": "R0lG")", 380, "encoding"},
      {argb + R"("width": 2, "height": 2, "value": "AAAAAA==")", 481, "do not match"},
      {argb + R"("width": 70000, "height": 1, "value": "")", 481, "width"},
  };
  for (const auto& [body, number, problem] : entries)
    expect_refused(FormJson("{\"key\": \"K\", " + body + "}"), number, "Gif1", "K", problem);
}

TEST(SavedForm, PicturesDecodeOnlyWhenRestoredAndReachedByARead) {
  const Picture dot = Picture::Solid(1, 1, 0xFF102030);
  PropertyBag with_dot;
  with_dot.Append("K", Variant(dot));
  const std::string dot_gif = ParseSavedForm(SerializeSavedForm(OneControl(with_dot)), "f")
                                  .controls[0]
                                  .encoded_pictures.at(0)
                                  .bytes;
  const std::string broken = R"({"key": "K", "type": "Picture", "value": ")" +
                             EncodeBase64("GIF89a\x01\x00\x01\x00garbage") + "\"}";
  const std::string good =
      R"({"key": "k", "type": "Picture", "value": ")" + EncodeBase64(dot_gif) + "\"}";
  // Gif1 holds a broken picture that a later entry of the same key
  // overrides; Gif2 holds only the broken one. Reading decodes neither.
  std::string json = FormJson(broken + ", " + good);
  json.insert(json.size() - 2, R"(, {"class": "FlipreelControl.Flipreel", "name": "Gif2",
      "properties": [)" + broken + "]}");
  const SavedForm form = ParseSavedForm(json, "form.json");

  const PropertyBag bag = RestorableBag("form.json", form.controls[0]);
  EXPECT_TRUE(bag.entries()[0].value.AsPicture().IsEmpty());  // never decoded
  EXPECT_TRUE(SamePixels(bag.ReadProperty("K", Variant()).ToPicture(), dot));

  const auto refused = [&](const SavedControl& c, const MemoryBudget* budget) -> SavedFormError {
    try {
      RestoreSavedControl(
          "form.json", c, [](const PropertyBag&) {}, budget);
    } catch (const SavedFormError& e) {
      return e;
    }
    ADD_FAILURE() << "restored";
    return SavedFormError(0, "", "", "", "");
  };
  const SavedFormError bad = refused(form.controls[1], nullptr);
  EXPECT_EQ(bad.number(), err::kInvalidPicture);
  EXPECT_EQ(bad.control(), "Gif2");
  EXPECT_EQ(bad.key(), "K");
  const MemoryBudget tiny(16);
  const SavedFormError over = refused(form.controls[0], &tiny);
  EXPECT_EQ(over.number(), err::kOutOfMemory);
  EXPECT_EQ(over.key(), "k");
  EXPECT_NE(over.problem().find("memory budget of 1 MB"), std::string::npos) << over.problem();

  // Written back as they were read, broken one included.
  EXPECT_EQ(SerializeSavedForm(form), SerializeSavedForm(ParseSavedForm(json, "form.json")));
  EXPECT_NE(SerializeSavedForm(form).find(EncodeBase64("GIF89a\x01\x00\x01\x00garbage")),
            std::string::npos);
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
