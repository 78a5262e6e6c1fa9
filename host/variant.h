// Variants: the values that cross the host's by-name interfaces and live in
// property bags, with the host's conversions between them.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "flipreel/host/picture.h"
#include "flipreel/host/text.h"

namespace flipreel {

using Bytes = std::vector<uint8_t>;

class Variant {
 public:
  enum class Type : uint8_t {
    kEmpty,
    kInteger,  // 16-bit signed
    kLong,     // 32-bit signed
    kSingle,
    kDouble,
    kBoolean,
    kString,
    kBytes,
    kPicture,
    kMissing,  // an optional argument that was not passed
  };

  Variant() = default;
  Variant(int16_t v) : value_(v) {}
  Variant(int32_t v) : value_(v) {}
  Variant(float v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(Text v) : value_(std::move(v)) {}
  Variant(const char16_t* v) : value_(Text(v)) {}
  Variant(Bytes v) : value_(std::move(v)) {}
  Variant(Picture v) : value_(std::move(v)) {}
  static Variant FromBool(bool b) { return Variant(BoolValue{b}); }
  static Variant Missing() { return Variant(MissingValue{}); }

  Type type() const { return static_cast<Type>(value_.index()); }
  bool IsNumeric() const;  // Integer, Long, Single, Double or Boolean

  // Conversions; a value that cannot be converted raises type mismatch (13),
  // a value outside the target's range raises overflow (6).
  int16_t ToInteger() const;
  int32_t ToLong() const;
  float ToSingle() const;
  double ToDouble() const;
  bool ToBoolean() const;
  Text ToText() const;
  Picture ToPicture() const;  // Empty gives the empty picture
  Bytes ToBytes() const;      // a text gives its UTF-16 code units, low byte first

  // Exact accessors; they throw std::bad_variant_access on the wrong type.
  const Text& AsText() const { return std::get<Text>(value_); }
  const Bytes& AsBytes() const { return std::get<Bytes>(value_); }
  const Picture& AsPicture() const { return std::get<Picture>(value_); }

  // Loose equality as the property bag uses it to skip defaults: numbers by
  // value, texts by content, pictures by identity; different kinds differ.
  bool SameValue(const Variant& other) const;

  // "Integer 5", "Text \"abc\"" - for diagnostics.
  std::string Describe() const;

 private:
  struct BoolValue {
    bool v;
  };
  struct MissingValue {};
  explicit Variant(BoolValue b) : value_(b) {}
  explicit Variant(MissingValue m) : value_(m) {}

  std::variant<std::monostate, int16_t, int32_t, float, double, BoolValue, Text, Bytes, Picture,
               MissingValue>
      value_;
};

// Bytes of a byte array read two at a time, low byte first, as UTF-16 code
// units; the inverse of Variant::ToBytes on a text. An odd last byte becomes a
// character of its own.
Text BytePairsToText(const Bytes& bytes);
Bytes TextToBytePairs(TextView text);

}  // namespace flipreel
