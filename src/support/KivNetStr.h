// String helpers of the HTTP client: its text builder, searches and strict decoders.
#pragma once

#include <cstdint>
#include <vector>

#include "support/KivTypes.h"

// The HTTP client's builder: block and first capacity at least 8192 units, in
// multiples of 1024; grows to the smallest multiple of the block not below the need.
class TStringCatHelperW {
 public:
  TStringCatHelperW() : TStringCatHelperW(8192) {}
  explicit TStringCatHelperW(int32_t ASize);

  TStringCatHelperW& Cat(const char16_t* p, int64_t len);
  TStringCatHelperW& Cat(StringView s);
  TStringCatHelperW& Cat(const String& s) { return Cat(StringView(s)); }
  TStringCatHelperW& Cat(const char16_t* s) { return Cat(s, -1); }
  TStringCatHelperW& Cat(char16_t c);
  TStringCatHelperW& Cat(int64_t V);
  TStringCatHelperW& Replicate(StringView S, int64_t Count);
  void Reset() { FDest = FStart; }

  String Value() const;
  char16_t* Start() const { return FStart; }
  char16_t* Current() const { return FDest; }
  void SetCurrent(char16_t* P);
  int64_t Position() const { return FDest - FStart; }
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

// 0-based index of Sub in S at or after Offset; -1 when absent.
int64_t PosStr(StringView Sub, StringView S, int64_t Offset = 0);
// The last occurrence of Sub in S; -1 when absent.
int64_t PosStrRev(StringView Sub, StringView S);
String AnsiBytesToString(const void* Bytes, int64_t Len);
// Strict UTF-8: empty text when any sequence is invalid.
String UTF8BytesToString(const void* Bytes, int64_t Len);
