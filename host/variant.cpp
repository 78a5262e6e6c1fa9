#include "flipreel/host/variant.h"

#include <cmath>

#include "flipreel/host/errors.h"
#include "flipreel/host/numbers.h"

namespace flipreel {

namespace {
bool IsTrueText(TextView t) {
  return EqualsNoCase(t, u"True");
}
bool IsFalseText(TextView t) {
  return EqualsNoCase(t, u"False");
}

Text Trimmed(TextView t) {
  size_t b = 0, e = t.size();
  while (b < e && t[b] == u' ') ++b;
  while (e > b && t[e - 1] == u' ') --e;
  return Text(t.substr(b, e - b));
}
}  // namespace

bool Variant::IsNumeric() const {
  switch (type()) {
    case Type::kInteger:
    case Type::kLong:
    case Type::kSingle:
    case Type::kDouble:
    case Type::kBoolean:
      return true;
    default:
      return false;
  }
}

double Variant::ToDouble() const {
  switch (type()) {
    case Type::kEmpty:
      return 0;
    case Type::kInteger:
      return std::get<int16_t>(value_);
    case Type::kLong:
      return std::get<int32_t>(value_);
    case Type::kSingle:
      return std::get<float>(value_);
    case Type::kDouble:
      return std::get<double>(value_);
    case Type::kBoolean:
      return std::get<BoolValue>(value_).v ? -1 : 0;
    case Type::kString: {
      const Text t = Trimmed(AsText());
      if (IsTrueText(t)) return -1;
      if (IsFalseText(t)) return 0;
      if (auto n = ParseNumber(t)) return *n;
      Raise(err::kTypeMismatch);
    }
    default:
      Raise(err::kTypeMismatch);
  }
}

int16_t Variant::ToInteger() const {
  switch (type()) {
    case Type::kInteger:
      return std::get<int16_t>(value_);
    case Type::kLong:
      return CheckedInt16(std::get<int32_t>(value_));
    default:
      return RoundToInt16(ToDouble());
  }
}

int32_t Variant::ToLong() const {
  switch (type()) {
    case Type::kInteger:
      return std::get<int16_t>(value_);
    case Type::kLong:
      return std::get<int32_t>(value_);
    default:
      return RoundToInt32(ToDouble());
  }
}

float Variant::ToSingle() const {
  if (type() == Type::kSingle) return std::get<float>(value_);
  return CheckedSingle(ToDouble());
}

bool Variant::ToBoolean() const {
  if (type() == Type::kBoolean) return std::get<BoolValue>(value_).v;
  const double d = ToDouble();
  return d != 0;
}

Text Variant::ToText() const {
  switch (type()) {
    case Type::kEmpty:
      return Text();
    case Type::kInteger:
      return FormatLong(std::get<int16_t>(value_));
    case Type::kLong:
      return FormatLong(std::get<int32_t>(value_));
    case Type::kSingle:
      return FormatSingle(std::get<float>(value_));
    case Type::kDouble:
      return FormatDouble(std::get<double>(value_));
    case Type::kBoolean:
      return std::get<BoolValue>(value_).v ? u"True" : u"False";
    case Type::kString:
      return AsText();
    case Type::kBytes:
      return BytePairsToText(AsBytes());
    default:
      Raise(err::kTypeMismatch);
  }
}

Picture Variant::ToPicture() const {
  if (type() == Type::kPicture) return AsPicture();
  if (type() == Type::kEmpty) return Picture();
  Raise(err::kTypeMismatch);
}

Bytes Variant::ToBytes() const {
  if (type() == Type::kBytes) return AsBytes();
  if (type() == Type::kString) return TextToBytePairs(AsText());
  Raise(err::kTypeMismatch);
}

bool Variant::SameValue(const Variant& other) const {
  if (IsNumeric() && other.IsNumeric()) return ToDouble() == other.ToDouble();
  if (type() != other.type()) {
    // An empty picture and Empty both mean "no picture".
    auto no_picture = [](const Variant& v) {
      return v.type() == Type::kEmpty || (v.type() == Type::kPicture && v.AsPicture().IsEmpty());
    };
    return no_picture(*this) && no_picture(other) &&
           (type() == Type::kPicture || other.type() == Type::kPicture);
  }
  switch (type()) {
    case Type::kEmpty:
    case Type::kMissing:
      return true;
    case Type::kString:
      return AsText() == other.AsText();
    case Type::kBytes:
      return AsBytes() == other.AsBytes();
    case Type::kPicture:
      return AsPicture() == other.AsPicture();
    default:
      return false;
  }
}

std::string Variant::Describe() const {
  switch (type()) {
    case Type::kEmpty:
      return "Empty";
    case Type::kInteger:
      return "Integer " + TextToUtf8(ToText());
    case Type::kLong:
      return "Long " + TextToUtf8(ToText());
    case Type::kSingle:
      return "Single " + TextToUtf8(ToText());
    case Type::kDouble:
      return "Double " + TextToUtf8(ToText());
    case Type::kBoolean:
      return "Boolean " + TextToUtf8(ToText());
    case Type::kString:
      return "Text \"" + TextToUtf8(AsText()) + "\"";
    case Type::kBytes:
      return "byte array of " + std::to_string(AsBytes().size()) + " bytes";
    case Type::kPicture:
      return AsPicture().IsEmpty() ? "empty picture"
                                   : "picture " + std::to_string(AsPicture().width()) + "x" +
                                         std::to_string(AsPicture().height());
    case Type::kMissing:
      return "Missing";
  }
  return "?";
}

Text BytePairsToText(const Bytes& bytes) {
  Text text((bytes.size() + 1) / 2, u'\0');
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text[i / 2] = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  if (bytes.size() % 2) text.back() = bytes.back();
  return text;
}

Bytes TextToBytePairs(TextView text) {
  Bytes bytes(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return bytes;
}

}  // namespace flipreel
