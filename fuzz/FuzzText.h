// Turns fuzzer bytes into the UTF-16 text the parsers take: an odd first byte
// gives the rest as raw code units (lone surrogates included), an even one
// gives it as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "support/KivTypes.h"

inline String FuzzText(const uint8_t* Data, size_t Size) {
  if (Size == 0) return String();
  if (Data[0] & 1) {
    String s((Size - 1) / 2, u'\0');
    if (!s.empty()) std::memcpy(s.data(), Data + 1, s.size() * 2);
    return s;
  }
  return FromUtf8(std::string_view(reinterpret_cast<const char*>(Data) + 1, Size - 1));
}

// Splits the text at the first unit U+0001 (or keeps it whole).
inline std::pair<String, String> FuzzSplit(const String& S) {
  size_t at = S.find(u'\x01');
  if (at == String::npos) return {S, String()};
  return {S.substr(0, at), S.substr(at + 1)};
}
