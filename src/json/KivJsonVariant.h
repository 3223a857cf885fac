// The small variant the JSON records convert to and from: null, boolean, the
// integer widths, floats, currency, date, text, bytes and arrays of variants.
#pragma once

#include <cstdint>
#include <vector>

#include "support/KivTypes.h"

class TJsonVariant {
 public:
  enum TKind : uint8_t {
    vkEmpty,
    vkNull,
    vkBoolean,
    vkInt8,
    vkUInt8,
    vkInt16,
    vkUInt16,
    vkInt32,
    vkUInt32,
    vkInt64,
    vkSingle,
    vkDouble,
    vkCurrency,  // fixed point, 4 decimals, kept as its value
    vkDate,
    vkString,
    vkBytes,  // byte array (stream values)
    vkArray
  };

  TJsonVariant() = default;
  static TJsonVariant Null() { return TJsonVariant(vkNull); }
  TJsonVariant(bool v) : FKind(vkBoolean), FInt(v ? 1 : 0) {}
  TJsonVariant(int8_t v) : FKind(vkInt8), FInt(v) {}
  TJsonVariant(uint8_t v) : FKind(vkUInt8), FInt(v) {}
  TJsonVariant(int16_t v) : FKind(vkInt16), FInt(v) {}
  TJsonVariant(uint16_t v) : FKind(vkUInt16), FInt(v) {}
  TJsonVariant(int32_t v) : FKind(vkInt32), FInt(v) {}
  TJsonVariant(uint32_t v) : FKind(vkUInt32), FInt(v) {}
  TJsonVariant(int64_t v) : FKind(vkInt64), FInt(v) {}
  TJsonVariant(float v) : FKind(vkSingle), FFloat(v) {}
  TJsonVariant(double v) : FKind(vkDouble), FFloat(v) {}
  TJsonVariant(const String& v) : FKind(vkString), FText(v) {}
  TJsonVariant(StringView v) : FKind(vkString), FText(v) {}
  TJsonVariant(const char16_t* v) : FKind(vkString), FText(v ? v : u"") {}
  TJsonVariant(std::vector<TJsonVariant> items) : FKind(vkArray), FItems(std::move(items)) {}
  static TJsonVariant Currency(double v) {
    TJsonVariant r(vkCurrency);
    r.FFloat = v;
    return r;
  }
  static TJsonVariant Date(double v) {
    TJsonVariant r(vkDate);
    r.FFloat = v;
    return r;
  }
  static TJsonVariant ByteArray(Bytes b) {
    TJsonVariant r(vkBytes);
    r.FBytes = std::move(b);
    return r;
  }

  TKind Kind() const { return FKind; }
  bool IsEmpty() const { return FKind == vkEmpty; }
  bool IsNull() const { return FKind == vkNull; }
  bool IsEmptyOrNull() const { return FKind == vkEmpty || FKind == vkNull; }
  bool IsInteger() const { return FKind >= vkInt8 && FKind <= vkInt64; }
  bool IsFloat() const { return FKind >= vkSingle && FKind <= vkDate; }
  bool IsArray() const { return FKind == vkArray; }

  bool AsBoolean() const { return IsFloat() ? FFloat != 0 : FInt != 0; }
  int64_t AsInt64() const { return IsFloat() ? static_cast<int64_t>(FFloat) : FInt; }
  double AsDouble() const { return IsFloat() ? FFloat : static_cast<double>(FInt); }
  const String& AsString() const { return FText; }
  const Bytes& AsBytes() const { return FBytes; }
  const std::vector<TJsonVariant>& Items() const { return FItems; }
  // Text of any kind (used to compare values in text searches).
  String ToText() const;

  bool operator==(const TJsonVariant& o) const;

 private:
  explicit TJsonVariant(TKind k) : FKind(k) {}

  TKind FKind = vkEmpty;
  int64_t FInt = 0;
  double FFloat = 0;
  String FText;
  Bytes FBytes;
  std::vector<TJsonVariant> FItems;
};
