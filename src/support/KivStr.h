// Text builder, character and cursor helpers, encoding detection and
// conversion, and text loading/saving through streams.
#pragma once

#include <cstdint>
#include <vector>

#include "support/KivStream.h"
#include "support/KivTypes.h"

enum TTextEncoding { teUnknown, teAuto, teAnsi, teUnicode16LE, teUnicode16BE, teUTF8 };

// Append-only UTF-16 builder growing in whole blocks.
class TStringCatHelper {
 public:
  TStringCatHelper() : TStringCatHelper(4096) {}
  explicit TStringCatHelper(int32_t ASize);

  TStringCatHelper& Cat(const char16_t* p, int64_t len);
  TStringCatHelper& Cat(StringView s);
  TStringCatHelper& Cat(const String& s) { return Cat(StringView(s)); }
  TStringCatHelper& Cat(const char16_t* s) { return Cat(s, -1); }
  TStringCatHelper& Cat(char16_t c) {
    if (FDest == FStart + FSize) NeedSize(FSize + 1);
    *FDest++ = c;
    return *this;
  }
  TStringCatHelper& Cat(int64_t V);
  TStringCatHelper& Cat(int32_t V) { return Cat(static_cast<int64_t>(V)); }
  TStringCatHelper& Replicate(StringView V, int64_t Count);
  TStringCatHelper& Space(int64_t Count);
  TStringCatHelper& Back(int64_t ALen);
  TStringCatHelper& IncSize(int64_t V);
  void Reset() { FDest = FStart; }
  void Clear() { FDest = FStart; }

  String Value() const { return String(FStart, FDest); }
  StringView View() const { return StringView(FStart, static_cast<size_t>(FDest - FStart)); }
  char16_t* Start() const { return FStart; }
  char16_t* Current() const { return FDest; }
  void SetCurrent(char16_t* P);
  char16_t* Last() const { return FDest > FStart ? FDest - 1 : nullptr; }
  char16_t* EndChar() const { return FStart + FSize; }
  int64_t Position() const { return FDest - FStart; }
  void SetPosition(int64_t P);
  char16_t Chars(int64_t AIndex) const { return FStart[AIndex]; }
  int32_t BlockSize() const { return FBlockSize; }
  int32_t Capacity() const { return FSize; }

 private:
  void NeedSize(int64_t ASize);

  std::vector<char16_t> FValue;
  char16_t* FStart = nullptr;
  char16_t* FDest = nullptr;
  int32_t FBlockSize = 0;
  int32_t FSize = 0;
};

// Cursor and character helpers. Texts are zero-terminated unless a length is given.
String TextFromUnits(const char16_t* P, int64_t Count);
String CopyChars(const char16_t* P, int64_t Offset, int64_t Count);
inline bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
inline int CharSizeU(const char16_t* P) {
  return (IsHighSurrogate(P[0]) && IsLowSurrogate(P[1])) ? 2 : 1;
}
bool CharIn(const char16_t* P, const char16_t* List, int* Size = nullptr);
inline bool IsBlankChar(char16_t c) {
  return c == 9 || c == 10 || c == 13 || c == 32 || c == 0x3000;
}
inline bool IsBlankChar(const char16_t* P) { return IsBlankChar(*P); }
int64_t SkipSpaceChars(const char16_t*& P);
int64_t SkipUntilChars(const char16_t*& P, const char16_t* List, char16_t Quote = 0);
bool StartWith(const char16_t* S, const char16_t* Prefix, bool IgnoreCase);
inline bool StartWithIgnoreCase(const char16_t* S, const char16_t* Prefix) {
  return StartWith(S, Prefix, true);
}
inline char16_t UpperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }
inline char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }
inline bool IsHexChar(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
inline int HexCharValue(char16_t c) {
  if (c <= u'9') return c - u'0';
  if (c >= u'a') return c - u'a' + 10;
  return c - u'A' + 10;
}
const char16_t* LineColumnOf(const char16_t* Start, const char16_t* Pos, int64_t& Col,
                             int64_t& Line);
String ReadLine(const char16_t*& P, bool SkipEmpty);

// Trimming and case rules of the application (codes <= 32 trimmed; A-Z only).
String Trim(StringView S);
String LowerCaseAscii(StringView S);
// ASCII-only case folding for protocol names (header, scheme and cookie names).
bool SameTextAscii(StringView A, StringView B);
bool StartsTextAscii(StringView S, StringView Prefix);
bool EndsTextAscii(StringView S, StringView Suffix);

// Encodings.
void SwapByteOrder(void* Bytes, int64_t Len);
TTextEncoding DetectTextEncoding(const void* P, int64_t Len, bool& HasBOM);
Bytes AnsiEncode(StringView S);                 // UTF-16 -> GBK; unmappable -> '?'
// UTF-16 -> a charset the system's iconv knows by name (Big5, GB18030, ...);
// unmappable -> '?'. False (AOut untouched) for a name it does not know.
bool EncodeCharset(StringView S, const char* ACharset, Bytes& AOut);
String AnsiDecode(const void* Bytes, int64_t Len);  // GB18030 (GBK and more) -> UTF-16; invalid -> U+FFFD
inline String AnsiDecode(const Bytes& B) { return AnsiDecode(B.data(), int64_t(B.size())); }
Bytes EncodeUTF8(StringView S);
String DecodeUTF8(const void* Bytes, int64_t Len);
// The fallback decoder by the UTF-8 bit layout; raises "无效的UTF8字符:%d" for a
// continuation byte in lead position. Never reads past Len.
String DecodeUTF8Own(const void* Bytes, int64_t Len);
inline String DecodeUTF8(const Bytes& B) { return DecodeUTF8(B.data(), int64_t(B.size())); }

// Text through streams.
String LoadTextW(TStream& Stream, TTextEncoding Encoding);
Bytes LoadTextA(TStream& Stream, TTextEncoding Encoding);
void SaveTextW(TStream& Stream, StringView S, bool WriteBOM);
void SaveTextWBE(TStream& Stream, StringView S, bool WriteBOM);
void SaveTextA(TStream& Stream, const Bytes& B, bool WriteBOM, bool RawAnsi);
void WriteAnsiBytes(TStream& Stream, const Bytes& B);
