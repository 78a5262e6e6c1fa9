#include "saved_form/saved_form.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "gif/gif_decoder.h"
#include "gif/gif_encoder.h"
#include "host/text.h"
#include "platform/files.h"

namespace flipreel {

namespace {

using Json = nlohmann::ordered_json;

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

// --- reading ----------------------------------------------------------------

class Reader {
 public:
  Reader(const std::string& file, const SavedFormLimits& limits) : file_(file), limits_(limits) {}

  SavedForm Parse(std::string_view text) {
    Json root;
    try {
      // Nesting is bounded before the value is built, so no hostile file can
      // make the parser or the value's destructor run out of stack.
      Json::parser_callback_t guard = [&](int depth, Json::parse_event_t, Json&) {
        if (depth > limits_.max_nesting)
          Fail(err::kInvalidPropertyValue,
               "values are nested more than " + std::to_string(limits_.max_nesting) + " deep");
        return true;
      };
      root = Json::parse(text.begin(), text.end(), guard);
    } catch (const Json::exception& e) {
      Fail(err::kInvalidPropertyValue, "not valid JSON: " + Plain(e.what()));
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
    size_t position = 0;
    for (const Json& c : *controls) {
      ++position;
      form.controls.push_back(ParseControl(c, position));
      const std::string& name = form.controls.back().name;
      for (size_t i = 0; i + 1 < form.controls.size(); ++i)
        if (EqualsNoCase(form.controls[i].name, name))
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
      control.bag.Append(key_, ParseValue(e));
    }
    key_.clear();
    return control;
  }

  Variant ParseValue(const Json& e) const {
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
      const std::string bytes = Base64(v);
      return Variant(Bytes(bytes.begin(), bytes.end()));
    }
    if (type == "Picture") {
      if (v.is_null()) return Variant(Picture());
      if (!v.is_string()) wrong("a base64 string or null");
      const std::string encoding = Encoding(e, "gif");
      const std::string bytes = Base64(v);
      if (encoding == "gif") {
        try {
          return Variant(
              DecodeGif(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())));
        } catch (const HostError&) {
          Fail(err::kInvalidPicture, "the picture is not a GIF image that can be decoded");
        }
      }
      if (encoding != "argb32") UnknownEncoding(encoding);
      return Variant(RawPicture(e, bytes));
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

  Picture RawPicture(const Json& e, const std::string& bytes) const {
    auto dimension = [&](const char* name) -> int {
      const Json* d = Member(e, name);
      if (!d || !d->is_number_integer() || d->get<int64_t>() < 0 || d->get<int64_t>() > 0xFFFF)
        Fail(err::kInvalidPicture,
             std::string("the picture's \"") + name + "\" is missing or not 0 to 65535");
      return static_cast<int>(d->get<int64_t>());
    };
    const int width = dimension("width");
    const int height = dimension("height");
    const int64_t pixels = int64_t{width} * height;
    if (pixels > kMaxPicturePixels) Fail(err::kInvalidPicture, "the picture is too large");
    if (static_cast<int64_t>(bytes.size()) != pixels * 4)
      Fail(err::kInvalidPicture, "the picture's pixels do not match its size");
    std::vector<uint32_t> argb(static_cast<size_t>(pixels));
    for (size_t i = 0; i < argb.size(); ++i) {
      const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + 4 * i;
      argb[i] =
          uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
    }
    return Picture(PictureData::Argb(width, height, std::move(argb)));
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

Json EntryJson(const PropertyBag::Entry& entry, const std::string& file,
               const std::string& control) {
  Json j;
  j["key"] = entry.key;
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
      j["value"] = EncodeBase64(AsChars(v.AsBytes()));
      break;
    case Variant::Type::kPicture: {
      const Json picture = PictureJson(v.AsPicture(), file, control, entry.key);
      for (const auto& [name, value] : picture.items()) j[name] = value;
      break;
    }
  }
  return j;
}

[[noreturn]] void FailFile(const std::string& file, const std::string& doing, int error) {
  throw SavedFormError(ErrnoErrorNumber(error), file, "", "", doing + ": " + std::strerror(error));
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The process's file-creation mask, without changing it.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  return 022;
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

SavedForm ReadSavedForm(const std::string& path, const SavedFormLimits& limits) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) FailFile(path, "cannot open it", errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) FailFile(path, "cannot read it", errno);
  if (S_ISDIR(st.st_mode))
    throw SavedFormError(err::kPathFileAccess, path, "", "", "is a folder, not a saved form");
  if (!S_ISREG(st.st_mode))
    throw SavedFormError(err::kPathFileAccess, path, "", "", "is not a regular file");
  auto too_large = [&] {
    throw SavedFormError(err::kOutOfMemory, path, "", "",
                         "the file is larger than the " + std::to_string(limits.max_file_bytes) +
                             " bytes a saved form may have");
  };
  if (st.st_size > limits.max_file_bytes) too_large();
  std::string text;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      FailFile(path, "cannot read it", errno);
    }
    if (n == 0) break;
    text.append(chunk, static_cast<size_t>(n));
    // The file may have grown since it was measured.
    if (static_cast<int64_t>(text.size()) > limits.max_file_bytes) too_large();
  }
  return ParseSavedForm(text, path, limits);
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
    for (const PropertyBag::Entry& e : c.bag.entries())
      properties.push_back(EntryJson(e, file, c.name));
    control["properties"] = std::move(properties);
    controls.push_back(std::move(control));
  }
  root["controls"] = std::move(controls);
  return root.dump(2) + "\n";
}

void WriteSavedForm(const std::string& path, const SavedForm& form) {
  const std::string text = SerializeSavedForm(form, path);

  // A link is followed, so the form it points at is replaced, not the link.
  std::string target = path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  mode_t mode = 0666 & ~CurrentUmask();
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode))
      throw SavedFormError(err::kPathFileAccess, path, "", "", "is a folder");
    mode = st.st_mode & 07777;
  }

  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = (slash == std::string::npos ? std::string() : folder) + "." + base + ".XXXXXX";
  Descriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) FailFile(path, "cannot create a file in its folder", errno);

  auto fail = [&](const char* doing) {
    const int error = errno;
    ::unlink(temp.c_str());
    FailFile(path, doing, error);
  };
  if (::fchmod(fd.get(), mode) != 0) fail("cannot set the new file's permissions");
  if (!WriteAll(fd.get(), text)) fail("cannot write it");
  if (::fsync(fd.get()) != 0) fail("cannot flush it to the disk");
  if (::close(fd.release()) != 0) fail("cannot write it");
  if (::rename(temp.c_str(), target.c_str()) != 0) fail("cannot replace it");
  // The rename itself reaches the disk with the folder.
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
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

SavedForm ReadFormToUpdate(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_size == 0))
    return SavedForm();
  return ReadSavedForm(path);
}

void RestoreSavedControl(const std::string& file, const SavedControl& control,
                         const std::function<void(const PropertyBag&)>& restore) {
  std::string key;  // of the saved value the error came from
  const std::optional<HostError> failed = Trap([&] {
    try {
      restore(control.bag);
    } catch (const PropertyValueError& e) {
      key = e.key();
      throw;
    }
  });
  if (failed)
    throw SavedFormError(failed->number(), file, control.name, key, failed->description());
}

}  // namespace flipreel
