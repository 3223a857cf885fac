#include "support/KivNetStr.h"

#include <climits>
#include <cstring>

#include "support/KivStr.h"

TStringCatHelperW::TStringCatHelperW(int32_t ASize) {
  int64_t size = ASize < 8192 ? 8192 : ASize;
  size = (size + 1023) / 1024 * 1024;
  if (size > INT32_MAX) size = INT32_MAX / 1024 * 1024;
  FBlockSize = static_cast<int32_t>(size);
  FValue.resize(static_cast<size_t>(size));
  FStart = FDest = FValue.data();
  FSize = FBlockSize;
}

void TStringCatHelperW::NeedSize(int64_t ASize) {
  if (ASize <= FSize) return;
  int64_t cap = (ASize + FBlockSize - 1) / FBlockSize * int64_t(FBlockSize);
  if (cap > INT32_MAX) throw Exception(u"TStringCatHelperW: text too long");
  int64_t pos = FDest - FStart;
  FValue.resize(static_cast<size_t>(cap));
  FStart = FValue.data();
  FDest = FStart + pos;
  FSize = static_cast<int32_t>(cap);
}

TStringCatHelperW& TStringCatHelperW::Cat(const char16_t* p, int64_t len) {
  if (len < 0) {
    len = 0;
    while (p[len]) ++len;
  }
  if (len == 0) return *this;
  NeedSize(Position() + len);
  std::memcpy(FDest, p, static_cast<size_t>(len) * sizeof(char16_t));
  FDest += len;
  return *this;
}

TStringCatHelperW& TStringCatHelperW::Cat(StringView s) {
  return Cat(s.data(), static_cast<int64_t>(s.size()));
}

TStringCatHelperW& TStringCatHelperW::Cat(char16_t c) {
  if (FDest == FStart + FSize) NeedSize(int64_t(FSize) + 1);
  *FDest++ = c;
  return *this;
}

TStringCatHelperW& TStringCatHelperW::Cat(int64_t V) { return Cat(StringView(IntToStr(V))); }

TStringCatHelperW& TStringCatHelperW::Replicate(StringView S, int64_t Count) {
  for (int64_t i = 0; i < Count; ++i) Cat(S);
  return *this;
}

String TStringCatHelperW::Value() const {
  if (FDest == FStart) return String();
  return String(FStart, FDest);
}

void TStringCatHelperW::SetCurrent(char16_t* P) {
  if (P >= FStart && P < FStart + FSize) FDest = P;
}

int64_t PosStr(StringView Sub, StringView S, int64_t Offset) {
  if (Offset < 0) Offset = 0;
  if (Sub.empty() || static_cast<size_t>(Offset) >= S.size()) return -1;
  size_t r = S.find(Sub, static_cast<size_t>(Offset));
  return r == StringView::npos ? -1 : static_cast<int64_t>(r);
}

int64_t PosStrRev(StringView Sub, StringView S) {
  if (Sub.empty() || Sub.size() > S.size()) return -1;
  size_t r = S.rfind(Sub);
  return r == StringView::npos ? -1 : static_cast<int64_t>(r);
}

String AnsiBytesToString(const void* Bytes, int64_t Len) { return AnsiDecode(Bytes, Len); }

String UTF8BytesToString(const void* Bytes, int64_t Len) {
  const auto* p = static_cast<const unsigned char*>(Bytes);
  if (!p || Len <= 0) return String();
  const unsigned char* end = p + Len;
  String out(size_t(Len), u'\0');
  char16_t* d = out.data();
  while (p < end) {
    uint32_t cp;
    const int n = kiv_detail::DecodeUtf8Char(p, end, cp);
    if (n < 0) return String();
    d = kiv_detail::AppendCodePoint(d, cp);
    p += n;
  }
  out.resize(size_t(d - out.data()));
  return out;
}
