#include "json/KivJsonVariant.h"

#include "json/KivJson.h"

String TJsonVariant::ToText() const {
  switch (FKind) {
    case vkEmpty:
    case vkNull:
      return String();
    case vkBoolean:
      return FInt ? u"true" : u"false";
    case vkString:
      return FText;
    case vkSingle:
    case vkDouble:
    case vkCurrency:
    case vkDate:
      return JsonFloatText(FFloat);
    case vkBytes:
    case vkArray:
      return String();
    default:
      return IntToStr(FInt);
  }
}

bool TJsonVariant::operator==(const TJsonVariant& o) const {
  if (IsInteger() && o.IsInteger()) return FInt == o.FInt;
  if ((IsInteger() || IsFloat()) && (o.IsInteger() || o.IsFloat())) return AsDouble() == o.AsDouble();
  if (FKind != o.FKind) return false;
  switch (FKind) {
    case vkBoolean:
      return FInt == o.FInt;
    case vkString:
      return FText == o.FText;
    case vkBytes:
      return FBytes == o.FBytes;
    case vkArray:
      return FItems == o.FItems;
    default:
      return true;
  }
}
