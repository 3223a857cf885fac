// Helpers shared by the parts of the JSON module. Private to the layer.
#pragma once

#include <cstdint>
#include <functional>

#include "json/KivJson.h"

// The parser's and writer's SSE2 loops; without SSE2, or with
// TANVORK_JSON_SCALAR, the scalar loops after them do all the work alone and
// give the same results.
#if defined(__SSE2__) && !defined(TANVORK_JSON_SCALAR)
#define KIV_JSON_SSE2 1
#else
#define KIV_JSON_SSE2 0
#endif

namespace kiv_json {

inline constexpr const char16_t* kMsgNotJson = u"当前内容不是有效的JSON字符串.";
inline constexpr const char16_t* kMsgOutOfRange = u"Argument out of range";
inline constexpr const char16_t* kMsgNameNotFound = u"项目名称未找到.";

// Text to a signed 32-bit integer (blanks, sign, decimal or "$"/"0x" hex); false
// when the text is not one or does not fit.
bool TextToInt32(StringView S, int32_t& V);
// Text to a decimal number with "." as separator; false when it is not one.
bool TextToFloat(StringView S, long double& V);
// Name of a type tag in conversion errors.
const char16_t* TypeName(JSONDataType T);
[[noreturn]] void ThrowConvert(JSONDataType From, const char16_t* To);

// A float record holds a double (8 bytes), a long double (10), or a long
// double followed by the number's text as read (10 + 2 per character): the
// text of a number its value cannot give back (beyond the range, or with more
// digits than the writer keeps), written back unchanged.
long double StoredFloat(const uint8_t* P, uint32_t Len);
StringView StoredFloatText(const uint8_t* P, uint32_t Len);

String Base64Encode(const void* P, size_t Len);
bool Base64Decode(StringView S, Bytes& Out);

// Date-time numbers <-> calendar fields (days since 1899-12-30).
bool EncodeDate(int Y, int M, int D, double& V);
void DecodeDateTime(double V, int& Y, int& M, int& D, int& H, int& N, int& S, int& Z);

// Reads one value named AName into T from NUL-terminated text; false on a
// syntax error (escape errors throw). Used by PutJSON.
bool ReadOneValue(JSONBase* T, StringView AName, const char16_t* Text);
// Reads a container into T from [P, ...) NUL-terminated; false on a syntax error.
bool ReadContainerAt(JSONBase* T, const char16_t* P);

// The writer's text of T straight in UTF-8 (the same bytes as
// EncodeUTF8(T->ToString(AIndent, ADoEscape))).
Bytes EncodeUtf8Text(const JSONBase* T, int AIndent, bool ADoEscape);
// The same bytes handed to AWrite in pieces as they are produced.
void StreamUtf8Text(const JSONBase* T, int AIndent, bool ADoEscape,
                    const std::function<void(const char*, size_t)>& AWrite);

}  // namespace kiv_json
