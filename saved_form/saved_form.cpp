#include "flipreel/saved_form/saved_form.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_set>
#include <utility>

#include "flipreel/gif/gif_decoder.h"
#include "flipreel/gif/gif_encoder.h"
#include "flipreel/host/text.h"
#include "flipreel/platform/files.h"
#include "flipreel/saved_form/json_diagnostics.h"

namespace flipreel {

namespace {

using Json = nlohmann::ordered_json;
using json_diagnostics::DeeperThan;
using json_diagnostics::Excerpt;
using json_diagnostics::ParseProblem;
using json_diagnostics::Position;

std::string Quoted(std::string_view s) {
  return "\"" + std::string(s) + "\"";
}

std::string Describe(const std::string& file, const std::string& control, const std::string& key,
                     const std::string& problem) {
  std::string where = file;
  if (!control.empty()) where += ": control " + Quoted(control);
  if (!key.empty()) where += (control.empty() ? ": key " : ", key ") + Quoted(key);
  return where + ": " + problem;
}

// --- texts that JSON strings cannot carry -----------------------------------

// A text with a lone surrogate has no UTF-8 form; it is saved as its UTF-16
// code units instead, so that every text round-trips exactly.
bool IsWellFormedUtf16(TextView t) {
  for (size_t i = 0; i < t.size(); ++i) {
    const char16_t c = t[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= t.size() || t[i + 1] < 0xDC00 || t[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::string_view AsChars(const Bytes& b) {
  return {reinterpret_cast<const char*>(b.data()), b.size()};
}

// --- byte arrays of narrow texts --------------------------------------------

// A text saved as a byte array takes two bytes per character, low byte
// first. A text whose characters are all below 256 (a GIF held one character
// per byte) has every second byte 0: such an array is stored as its low
// bytes alone, half the size, and widened again when read.
constexpr std::string_view kLowBytesEncoding = "low-bytes-base64";

bool HasOnlyLowBytes(const Bytes& b) {
  if (b.empty() || b.size() % 2) return false;
  for (size_t i = 1; i < b.size(); i += 2)
    if (b[i] != 0) return false;
  return true;
}

std::string LowBytes(const Bytes& b) {
  std::string low(b.size() / 2, '\0');
  for (size_t i = 0; i < low.size(); ++i) low[i] = static_cast<char>(b[2 * i]);
  return low;
}

Bytes Widened(std::string_view low) {
  Bytes b(low.size() * 2, 0);
  for (size_t i = 0; i < low.size(); ++i) b[2 * i] = static_cast<uint8_t>(low[i]);
  return b;
}

// --- reading ----------------------------------------------------------------

std::string FoldCase(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Decodes a picture of a form, reserving its memory first.
Picture DecodePicture(const EncodedPicture& p, const MemoryBudget* budget) {
  if (p.encoding == "gif")
    return DecodeGif(std::span(reinterpret_cast<const uint8_t*>(p.bytes.data()), p.bytes.size()),
                     budget);
  const size_t pixels = static_cast<size_t>(p.width) * p.height;
  std::shared_ptr<const void> reservation;
  if (budget)
    reservation = budget->Reserve(
        static_cast<int64_t>(pixels) * 4,
        "a picture of " + std::to_string(p.width) + " x " + std::to_string(p.height) + " pixels");
  std::vector<uint32_t> argb(pixels);
  for (size_t i = 0; i < pixels; ++i) {
    const auto* b = reinterpret_cast<const uint8_t*>(p.bytes.data()) + 4 * i;
    argb[i] =
        uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
  }
  return KeepReserved(Picture(PictureData::Argb(p.width, p.height, std::move(argb))),
                      std::move(reservation));
}

class Reader {
 public:
  Reader(const std::string& file, const SavedFormLimits& limits) : file_(file), limits_(limits) {}

  SavedForm Parse(std::string_view text) {
    // Nesting is bounded before the value is built, so that no hostile file
    // can make the parser or the value's destructor run out of stack. It is
    // measured in a pass of its own: the parser's callback, the other way to
    // bound it, makes parsing quadratic in the number of entries.
    if (const size_t at = DeeperThan(text, limits_.max_nesting); at != std::string_view::npos)
      Fail(err::kInvalidPropertyValue, "values are nested more than " +
                                           std::to_string(limits_.max_nesting) + " deep (" +
                                           Position(text, at) + ")");
    Json root;
    try {
      root = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& e) {
      // Told by position and a short excerpt: the parser's own message quotes
      // what it last read, which can be a whole damaged line of any bytes.
      const size_t at = e.byte > 0 ? std::min<size_t>(e.byte - 1, text.size()) : 0;
      Fail(err::kInvalidPropertyValue, "not valid JSON (" + Position(text, at) + ", " +
                                           ParseProblem(e.what()) + ") near \"" +
                                           Excerpt(text, at) + "\"");
    } catch (const Json::exception& e) {
      Fail(err::kInvalidPropertyValue, "not valid JSON: " + PrintableUtf8(Plain(e.what()), 200));
    }
    if (!root.is_object()) Fail(err::kInvalidPropertyValue, "not a saved form (not a JSON object)");
    const Json* format = Member(root, "format");
    if (!format || !format->is_string() || format->get<std::string>() != kSavedFormFormat)
      Fail(err::kInvalidPropertyValue,
           "not a saved form (its \"format\" is not " + Quoted(kSavedFormFormat) + ")");
    const Json* version = Member(root, "version");
    if (!version || !version->is_number_integer() || version->get<int64_t>() < 1)
      Fail(err::kInvalidPropertyValue, "the \"version\" is missing or not a positive whole number");
    if (version->get<int64_t>() > kSavedFormVersion)
      Fail(err::kInvalidPropertyValue, "written in version " + version->dump() +
                                           " of the format; this program reads version " +
                                           std::to_string(kSavedFormVersion));
    const Json* controls = Member(root, "controls");
    if (!controls || !controls->is_array())
      Fail(err::kInvalidPropertyValue, "\"controls\" is missing or not an array");

    SavedForm form;
    std::unordered_set<std::string> names;  // folded to lower case
    size_t position = 0;
    for (const Json& c : *controls) {
      ++position;
      form.controls.push_back(ParseControl(c, position));
      const std::string& name = form.controls.back().name;
      if (!names.insert(FoldCase(name)).second)
        Fail(err::kInvalidPropertyValue, "two controls are named " + Quoted(name));
    }
    return form;
  }

 private:
  [[noreturn]] void Fail(int32_t number, const std::string& problem) const {
    throw SavedFormError(number, file_, control_, key_, problem);
  }

  // nlohmann's messages start with "[json.exception.parse_error.101] ".
  static std::string Plain(const std::string& what) {
    const size_t close = what.find("] ");
    return what.rfind("[json.exception.", 0) == 0 && close != std::string::npos
               ? what.substr(close + 2)
               : what;
  }

  static const Json* Member(const Json& object, const char* name) {
    auto it = object.find(name);
    return it == object.end() ? nullptr : &*it;
  }

  std::string NonEmptyString(const Json& object, const char* name, const std::string& what) const {
    const Json* v = Member(object, name);
    if (!v || !v->is_string() || v->get_ref<const std::string&>().empty())
      Fail(err::kInvalidPropertyValue, what + " has no \"" + name + "\" text");
    return v->get<std::string>();
  }

  SavedControl ParseControl(const Json& c, size_t position) {
    control_.clear();
    key_.clear();
    const std::string what = "control number " + std::to_string(position);
    if (!c.is_object()) Fail(err::kInvalidPropertyValue, what + " is not an object");
    SavedControl control;
    control.name = NonEmptyString(c, "name", what);
    control_ = control.name;
    control.class_name = NonEmptyString(c, "class", "the control");
    const Json* properties = Member(c, "properties");
    if (!properties || !properties->is_array())
      Fail(err::kInvalidPropertyValue, "\"properties\" is missing or not an array");
    size_t entry_position = 0;
    for (const Json& e : *properties) {
      ++entry_position;
      key_.clear();
      const std::string entry = "entry number " + std::to_string(entry_position);
      if (!e.is_object()) Fail(err::kInvalidPropertyValue, entry + " is not an object");
      key_ = NonEmptyString(e, "key", entry);
      std::optional<EncodedPicture> picture;
      control.bag.Append(key_, ParseValue(e, picture));
      if (picture) control.encoded_pictures.emplace(entry_position - 1, std::move(*picture));
    }
    key_.clear();
    return control;
  }

  // A picture is checked here and left encoded in picture; its entry holds
  // the empty picture until the control is restored.
  Variant ParseValue(const Json& e, std::optional<EncodedPicture>& picture) const {
    const Json* type_json = Member(e, "type");
    if (!type_json || !type_json->is_string()) Fail(err::kInvalidPropertyValue, "no \"type\" text");
    const std::string type = type_json->get<std::string>();
    const Json* value = Member(e, "value");
    const Json null_value;
    const Json& v = value ? *value : null_value;
    auto wrong = [&](const char* expected) {
      Fail(err::kInvalidPropertyValue, "the value of a" + std::string(type[0] == 'I' ? "n " : " ") +
                                           type + " entry must be " + expected + ", not " +
                                           (value ? std::string(v.type_name()) : "missing"));
    };

    if (type == "Empty") {
      if (!v.is_null()) wrong("null");
      return Variant();
    }
    if (type == "Integer" || type == "Long") {
      if (!v.is_number_integer()) wrong("a whole number");
      const bool integer = type == "Integer";
      const int64_t lo = integer ? INT16_MIN : INT32_MIN;
      const int64_t hi = integer ? INT16_MAX : INT32_MAX;
      const bool in_range = v.is_number_unsigned()
                                ? v.get<uint64_t>() <= static_cast<uint64_t>(hi)
                                : (v.get<int64_t>() >= lo && v.get<int64_t>() <= hi);
      if (!in_range)
        Fail(err::kInvalidPropertyValue, v.dump() + " is out of range for " + type + " (" +
                                             std::to_string(lo) + " to " + std::to_string(hi) +
                                             ")");
      const auto n = v.get<int64_t>();
      return integer ? Variant(static_cast<int16_t>(n)) : Variant(static_cast<int32_t>(n));
    }
    if (type == "Single" || type == "Double") {
      if (!v.is_number()) wrong("a number");
      const double d = v.get<double>();
      if (type == "Double") return Variant(d);
      if (!std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max())
        Fail(err::kInvalidPropertyValue, v.dump() + " is out of range for Single");
      return Variant(static_cast<float>(d));
    }
    if (type == "Boolean") {
      if (!v.is_boolean()) wrong("true or false");
      return Variant::FromBool(v.get<bool>());
    }
    if (type == "Text") {
      if (!v.is_string()) wrong("a string");
      const std::string encoding = Encoding(e, "utf-8");
      if (encoding == "utf-8") return Variant(Utf8ToText(v.get_ref<const std::string&>()));
      if (encoding != "utf-16le-base64") UnknownEncoding(encoding);
      const std::string bytes = Base64(v);
      if (bytes.size() % 2)
        Fail(err::kInvalidPropertyValue, "UTF-16 text of an odd number of bytes");
      return Variant(BytePairsToText(Bytes(bytes.begin(), bytes.end())));
    }
    if (type == "Bytes") {
      if (!v.is_string()) wrong("a base64 string");
      const std::string encoding = Encoding(e, "base64");
      if (encoding != "base64" && encoding != kLowBytesEncoding) UnknownEncoding(encoding);
      const std::string bytes = Base64(v);
      if (encoding == kLowBytesEncoding) return Variant(Widened(bytes));
      return Variant(Bytes(bytes.begin(), bytes.end()));
    }
    if (type == "Picture") {
      if (v.is_null()) return Variant(Picture());
      if (!v.is_string()) wrong("a base64 string or null");
      EncodedPicture& p = picture.emplace();
      p.encoding = Encoding(e, "gif");
      if (p.encoding != "gif" && p.encoding != "argb32") UnknownEncoding(p.encoding);
      p.bytes = Base64(v);
      if (p.encoding == "argb32") CheckRawPicture(e, p);
      return Variant(Picture());
    }
    Fail(err::kInvalidPropertyValue, "unknown type " + Quoted(type));
  }

  std::string Encoding(const Json& e, const char* fallback) const {
    const Json* enc = Member(e, "encoding");
    if (!enc) return fallback;
    if (!enc->is_string()) Fail(err::kInvalidPropertyValue, "the \"encoding\" is not a text");
    return enc->get<std::string>();
  }

  [[noreturn]] void UnknownEncoding(const std::string& encoding) const {
    Fail(err::kInvalidPropertyValue, "unknown encoding " + Quoted(encoding));
  }

  std::string Base64(const Json& v) const {
    std::string bytes;
    if (!DecodeBase64(v.get_ref<const std::string&>(), bytes))
      Fail(err::kInvalidPropertyValue, "the value is not valid base64");
    return bytes;
  }

  void CheckRawPicture(const Json& e, EncodedPicture& p) const {
    auto dimension = [&](const char* name) -> int {
      const Json* d = Member(e, name);
      if (!d || !d->is_number_integer() || d->get<int64_t>() < 0 || d->get<int64_t>() > 0xFFFF)
        Fail(err::kInvalidPicture,
             std::string("the picture's \"") + name + "\" is missing or not 0 to 65535");
      return static_cast<int>(d->get<int64_t>());
    };
    p.width = dimension("width");
    p.height = dimension("height");
    const int64_t pixels = int64_t{p.width} * p.height;
    if (pixels > kMaxPicturePixels) Fail(err::kInvalidPicture, "the picture is too large");
    if (static_cast<int64_t>(p.bytes.size()) != pixels * 4)
      Fail(err::kInvalidPicture, "the picture's pixels do not match its size");
  }

  const std::string& file_;
  const SavedFormLimits& limits_;
  std::string control_;
  std::string key_;
};

// --- writing ----------------------------------------------------------------

Json PictureJson(const Picture& picture, const std::string& file, const std::string& control,
                 const std::string& key) {
  Json j;
  j["type"] = "Picture";
  if (picture.IsEmpty()) {
    j["value"] = nullptr;
    return j;
  }
  if (std::optional<std::string> gif = EncodeGif(picture)) {
    j["encoding"] = "gif";
    j["value"] = EncodeBase64(*gif);
    return j;
  }
  // More colours or alpha than GIF holds: the pixels themselves, ARGB words
  // low byte first.
  const PictureData& data = *picture.data();
  if (data.width() > 0xFFFF || data.height() > 0xFFFF ||
      int64_t{data.width()} * data.height() > kMaxPicturePixels)
    throw SavedFormError(err::kInvalidPicture, file, control, key, "the picture is too large");
  std::string bytes;
  bytes.reserve(static_cast<size_t>(data.width()) * data.height() * 4);
  for (int y = 0; y < data.height(); ++y)
    for (int x = 0; x < data.width(); ++x) {
      const uint32_t p = data.PixelArgb(x, y);
      for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<char>(p >> (8 * b)));
    }
  j["encoding"] = "argb32";
  j["width"] = data.width();
  j["height"] = data.height();
  j["value"] = EncodeBase64(bytes);
  return j;
}

// A picture read from a file and never decoded goes back as it came.
Json EncodedPictureJson(const EncodedPicture& p) {
  Json j;
  j["type"] = "Picture";
  j["encoding"] = p.encoding;
  if (p.encoding == "argb32") {
    j["width"] = p.width;
    j["height"] = p.height;
  }
  j["value"] = EncodeBase64(p.bytes);
  return j;
}

Json EntryJson(const PropertyBag::Entry& entry, const std::string& file, const std::string& control,
               const EncodedPicture* encoded) {
  Json j;
  j["key"] = entry.key;
  if (encoded) {
    const Json picture = EncodedPictureJson(*encoded);
    for (const auto& [name, value] : picture.items()) j[name] = value;
    return j;
  }
  const Variant& v = entry.value;
  switch (v.type()) {
    case Variant::Type::kEmpty:
    case Variant::Type::kMissing:
      j["type"] = "Empty";
      j["value"] = nullptr;
      break;
    case Variant::Type::kInteger:
      j["type"] = "Integer";
      j["value"] = v.ToInteger();
      break;
    case Variant::Type::kLong:
      j["type"] = "Long";
      j["value"] = v.ToLong();
      break;
    case Variant::Type::kSingle:
      j["type"] = "Single";
      j["value"] = v.ToSingle();
      break;
    case Variant::Type::kDouble:
      j["type"] = "Double";
      j["value"] = v.ToDouble();
      break;
    case Variant::Type::kBoolean:
      j["type"] = "Boolean";
      j["value"] = v.ToBoolean();
      break;
    case Variant::Type::kString:
      j["type"] = "Text";
      if (IsWellFormedUtf16(v.AsText())) {
        j["value"] = TextToUtf8(v.AsText());
      } else {
        j["encoding"] = "utf-16le-base64";
        j["value"] = EncodeBase64(AsChars(TextToBytePairs(v.AsText())));
      }
      break;
    case Variant::Type::kBytes:
      j["type"] = "Bytes";
      if (HasOnlyLowBytes(v.AsBytes())) {
        j["encoding"] = kLowBytesEncoding;
        j["value"] = EncodeBase64(LowBytes(v.AsBytes()));
      } else {
        j["value"] = EncodeBase64(AsChars(v.AsBytes()));
      }
      break;
    case Variant::Type::kPicture: {
      const Json picture = PictureJson(v.AsPicture(), file, control, entry.key);
      for (const auto& [name, value] : picture.items()) j[name] = value;
      break;
    }
  }
  return j;
}

}  // namespace

SavedFormError::SavedFormError(int32_t number, std::string file, std::string control,
                               std::string key, std::string problem)
    : HostError(number, Describe(file, control, key, problem)),
      file_(std::move(file)),
      control_(std::move(control)),
      key_(std::move(key)),
      problem_(std::move(problem)) {}

const SavedControl* SavedForm::Find(std::string_view name) const {
  for (const SavedControl& c : controls)
    if (EqualsNoCase(c.name, name)) return &c;
  return nullptr;
}

SavedControl* SavedForm::Find(std::string_view name) {
  for (SavedControl& c : controls)
    if (EqualsNoCase(c.name, name)) return &c;
  return nullptr;
}

SavedForm ParseSavedForm(std::string_view json, const std::string& file,
                         const SavedFormLimits& limits) {
  return Reader(file, limits).Parse(json);
}

std::string SerializeSavedForm(const SavedForm& form, const std::string& file) {
  Json root;
  root["format"] = kSavedFormFormat;
  root["version"] = kSavedFormVersion;
  Json controls = Json::array();
  for (const SavedControl& c : form.controls) {
    Json control;
    control["class"] = c.class_name;
    control["name"] = c.name;
    Json properties = Json::array();
    const auto& entries = c.bag.entries();
    for (size_t i = 0; i < entries.size(); ++i) {
      const auto encoded = c.encoded_pictures.find(i);
      properties.push_back(
          EntryJson(entries[i], file, c.name,
                    encoded == c.encoded_pictures.end() ? nullptr : &encoded->second));
    }
    control["properties"] = std::move(properties);
    controls.push_back(std::move(control));
  }
  root["controls"] = std::move(controls);
  // A name given as bytes that are not UTF-8 is written with U+FFFD for them.
  return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

const SavedControl& ChooseControl(const SavedForm& form, const std::string& file,
                                  std::string_view name, std::string_view class_name) {
  const std::string wanted(class_name);
  if (name.empty()) {
    for (const SavedControl& c : form.controls)
      if (EqualsNoCase(c.class_name, class_name)) return c;
    throw SavedFormError(err::kInvalidPropertyValue, file, "", "",
                         "the form holds no " + wanted + " control");
  }
  const SavedControl* c = form.Find(name);
  if (!c)
    throw SavedFormError(err::kInvalidPropertyValue, file, "", "",
                         "the form holds no control named " + Quoted(name));
  if (!EqualsNoCase(c->class_name, class_name))
    throw SavedFormError(err::kInvalidPropertyValue, file, c->name, "",
                         "the control is a " + c->class_name + ", not a " + wanted);
  return *c;
}

void PutControl(SavedForm& form, const std::string& file, SavedControl control) {
  SavedControl* existing = form.Find(control.name);
  if (!existing) {
    form.controls.push_back(std::move(control));
    return;
  }
  if (!EqualsNoCase(existing->class_name, control.class_name))
    throw SavedFormError(err::kInvalidPropertyValue, file, existing->name, "",
                         "the form's control of that name is a " + existing->class_name);
  control.name = existing->name;
  *existing = std::move(control);
}

PropertyBag RestorableBag(const std::string& file, const SavedControl& control,
                          const MemoryBudget* budget) {
  const auto& entries = control.bag.entries();
  // The entries a read can reach: the last of each key, without regard to case.
  std::vector<bool> reachable(entries.size());
  std::unordered_set<std::string> keys;
  for (size_t i = entries.size(); i-- > 0;)
    reachable[i] = keys.insert(FoldCase(entries[i].key)).second;

  PropertyBag bag(control.bag.skip_defaults());
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto encoded = control.encoded_pictures.find(i);
    if (encoded == control.encoded_pictures.end() || !reachable[i]) {
      bag.Append(entries[i].key, entries[i].value);
      continue;
    }
    try {
      bag.Append(entries[i].key, Variant(DecodePicture(encoded->second, budget)));
    } catch (const HostError& e) {
      throw SavedFormError(e.number(), file, control.name, entries[i].key,
                           e.number() == err::kInvalidPicture
                               ? "the picture is not a GIF image that can be decoded"
                               : e.description());
    }
  }
  return bag;
}

void RestoreSavedControl(const std::string& file, const SavedControl& control,
                         const std::function<void(const PropertyBag&)>& restore,
                         const MemoryBudget* budget) {
  // Decoding the pictures names the key itself (481 or 7).
  const PropertyBag decoded =
      control.encoded_pictures.empty() ? PropertyBag() : RestorableBag(file, control, budget);
  const PropertyBag& bag = control.encoded_pictures.empty() ? control.bag : decoded;
  std::string key;  // of the saved value the error came from
  const std::optional<HostError> failed = Trap([&] {
    try {
      restore(bag);
    } catch (const PropertyValueError& e) {
      key = e.key();
      throw;
    }
  });
  if (failed)
    throw SavedFormError(failed->number(), file, control.name, key, failed->description());
}

}  // namespace flipreel
