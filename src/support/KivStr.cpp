#include "support/KivStr.h"

#include <iconv.h>

#include <cerrno>
#include <climits>
#include <cstring>

// ---------------------------------------------------------------- builder

TStringCatHelper::TStringCatHelper(int32_t ASize) : FBlockSize(ASize > 0 ? ASize : 0) {
  if (FBlockSize > 0) NeedSize(ASize);
}

void TStringCatHelper::NeedSize(int64_t ASize) {
  if (ASize <= FSize) return;
  if (FBlockSize <= 0) throw Exception(u"TStringCatHelper: a builder of size 0 cannot grow");
  int64_t cap = int64_t(FBlockSize) * ((ASize + FBlockSize) / FBlockSize);
  if (cap > INT32_MAX) throw Exception(u"TStringCatHelper: text too long");
  int64_t pos = FDest - FStart;
  FValue.resize(static_cast<size_t>(cap));
  FStart = FValue.data();
  FDest = FStart + pos;
  FSize = static_cast<int32_t>(cap);
}

TStringCatHelper& TStringCatHelper::Cat(const char16_t* p, int64_t len) {
  if (len >= 0) {
    if (len == 0) return *this;
    NeedSize(Position() + len);
    std::memcpy(FDest, p, static_cast<size_t>(len) * sizeof(char16_t));
    FDest += len;
  } else {
    while (*p) {
      if (FDest == FStart + FSize) NeedSize(int64_t(FSize) + (FBlockSize > 0 ? FBlockSize : 1));
      *FDest++ = *p++;
    }
  }
  return *this;
}

TStringCatHelper& TStringCatHelper::Cat(StringView s) {
  return Cat(s.data(), static_cast<int64_t>(s.size()));
}

TStringCatHelper& TStringCatHelper::Cat(int64_t V) {
  char16_t buf[24];
  char16_t* e = buf + 24;
  char16_t* p = e;
  uint64_t u = V < 0 ? 0 - static_cast<uint64_t>(V) : static_cast<uint64_t>(V);
  do {
    *--p = char16_t(u'0' + u % 10);
    u /= 10;
  } while (u);
  if (V < 0) *--p = u'-';
  return Cat(p, e - p);
}

TStringCatHelper& TStringCatHelper::Replicate(StringView V, int64_t Count) {
  if (Count <= 0 || V.empty()) return *this;
  NeedSize(Position() + int64_t(V.size()) * Count);
  for (int64_t i = 0; i < Count; ++i) {
    std::memcpy(FDest, V.data(), V.size() * sizeof(char16_t));
    FDest += V.size();
  }
  return *this;
}

TStringCatHelper& TStringCatHelper::Space(int64_t Count) {
  if (Count <= 0) return *this;
  NeedSize(Position() + Count);
  for (int64_t i = 0; i < Count; ++i) *FDest++ = u' ';
  return *this;
}

TStringCatHelper& TStringCatHelper::Back(int64_t ALen) {
  if (ALen > Position()) ALen = Position();
  if (ALen > 0) FDest -= ALen;
  return *this;
}

TStringCatHelper& TStringCatHelper::IncSize(int64_t V) {
  if (V > 0) NeedSize(Position() + V);
  return *this;
}

void TStringCatHelper::SetCurrent(char16_t* P) {
  if (P < FStart)
    FDest = FStart;
  else if (P > FStart + FSize)
    FDest = FStart + FSize;
  else
    FDest = P;
}

void TStringCatHelper::SetPosition(int64_t P) {
  if (P <= 0) {
    FDest = FStart;
    return;
  }
  NeedSize(P);
  FDest = FStart + P;
}

// ---------------------------------------------------------------- cursor helpers

String TextFromUnits(const char16_t* P, int64_t Count) {
  if (!P || Count <= 0) return String();
  return String(P, static_cast<size_t>(Count));
}

String CopyChars(const char16_t* P, int64_t Offset, int64_t Count) {
  if (!P) return String();
  const char16_t* s = P + Offset;
  const char16_t* e = s;
  while (Count > 0 && *e) {
    e += CharSizeU(e);
    --Count;
  }
  return String(s, e);
}

bool CharIn(const char16_t* P, const char16_t* List, int* Size) {
  for (const char16_t* l = List; *l;) {
    if (IsHighSurrogate(*l) && l[1]) {
      if (P[0] == l[0] && P[1] == l[1]) {
        if (Size) *Size = 2;
        return true;
      }
      l += 2;
    } else {
      if (P[0] == *l) {
        if (Size) *Size = 1;
        return true;
      }
      ++l;
    }
  }
  if (Size) *Size = 0;
  return false;
}

int64_t SkipSpaceChars(const char16_t*& P) {
  const char16_t* s = P;
  while (*P && IsBlankChar(*P)) ++P;
  return P - s;
}

int64_t SkipUntilChars(const char16_t*& P, const char16_t* List, char16_t Quote) {
  const char16_t* s = P;
  while (*P) {
    if (Quote != 0 && *P == Quote) {
      ++P;
      for (;;) {
        if (!*P) return P - s;
        if (*P == u'\\') {
          ++P;
          if (!*P) return P - s;
          ++P;
        } else if (*P == Quote) {
          if (P[1] == Quote) {
            P += 2;
          } else {
            ++P;
            break;
          }
        } else {
          ++P;
        }
      }
      continue;
    }
    if (CharIn(P, List)) break;
    P += CharSizeU(P);
  }
  return P - s;
}

bool StartWith(const char16_t* S, const char16_t* Prefix, bool IgnoreCase) {
  if (!Prefix || !*Prefix) return true;
  if (!S) return false;
  for (; *Prefix; ++S, ++Prefix) {
    if (!*S) return false;
    if (IgnoreCase ? UpperAscii(*S) != UpperAscii(*Prefix) : *S != *Prefix) return false;
  }
  return true;
}

const char16_t* LineColumnOf(const char16_t* Start, const char16_t* Pos, int64_t& Col, int64_t& Line) {
  Line = 1;
  Col = 1;
  const char16_t* lineStart = Start;
  const char16_t* p = Start;
  while (p < Pos) {
    if (*p == u'\n') {
      ++Line;
      Col = 1;
      ++p;
      lineStart = p;
    } else {
      int sz = (p + 1 < Pos) ? CharSizeU(p) : 1;
      p += sz;
      ++Col;
    }
  }
  return lineStart;
}

namespace {
// Length of the line break at P (CR LF, LF CR or a single CR); 0 when none.
int BreakAt(const char16_t* P) {
  if (P[0] == u'\r') return P[1] == u'\n' ? 2 : 1;
  if (P[0] == u'\n' && P[1] == u'\r') return 2;
  return 0;
}
}  // namespace

String ReadLine(const char16_t*& P, bool SkipEmpty) {
  for (;;) {
    const char16_t* s = P;
    while (*P && BreakAt(P) == 0) ++P;
    if (P > s) {
      String line(s, P);
      if (*P) P += BreakAt(P);
      return line;
    }
    if (!*P) return String();
    if (!SkipEmpty) return String();
    P += BreakAt(P);
  }
}

String Trim(StringView S) {
  size_t b = 0, e = S.size();
  while (b < e && S[b] <= 32) ++b;
  while (e > b && S[e - 1] <= 32) --e;
  return String(S.substr(b, e - b));
}

String LowerCaseAscii(StringView S) {
  String r(S);
  for (auto& c : r) c = LowerAscii(c);
  return r;
}

bool SameTextAscii(StringView A, StringView B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (LowerAscii(A[i]) != LowerAscii(B[i])) return false;
  return true;
}

bool StartsTextAscii(StringView S, StringView Prefix) {
  return S.size() >= Prefix.size() && SameTextAscii(S.substr(0, Prefix.size()), Prefix);
}

bool EndsTextAscii(StringView S, StringView Suffix) {
  return S.size() >= Suffix.size() && SameTextAscii(S.substr(S.size() - Suffix.size()), Suffix);
}

// ---------------------------------------------------------------- encodings

void SwapByteOrder(void* Bytes, int64_t Len) {
  auto* p = static_cast<unsigned char*>(Bytes);
  for (int64_t i = 0; i + 1 < Len; i += 2) {
    unsigned char t = p[i];
    p[i] = p[i + 1];
    p[i + 1] = t;
  }
}

TTextEncoding DetectTextEncoding(const void* P, int64_t Len, bool& HasBOM) {
  const auto* b = static_cast<const unsigned char*>(P);
  HasBOM = false;
  if (Len < 2) return teAnsi;
  if (b[0] == 0xFF && b[1] == 0xFE) {
    HasBOM = true;
    return teUnicode16LE;
  }
  if (b[0] == 0xFE && b[1] == 0xFF) {
    HasBOM = true;
    return teUnicode16BE;
  }
  if (Len < 3) return teAnsi;
  if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
    HasBOM = true;
    return teUTF8;
  }
  int64_t i = 0;
  while (i < Len - 1) {
    unsigned c = b[i];
    if (c < 0x80) {
      if (c == 0 && b[i + 1] < 0x80) return teUnicode16BE;
      if (c != 0 && b[i + 1] == 0) return teUnicode16LE;
      ++i;
      continue;
    }
    if (Len - i >= 6 && c == 0xC1 && b[i + 1] == 0xAA && b[i + 2] == 0xCD && b[i + 3] == 0xA8) {
      i += 4;
      continue;
    }
    int n = c >= 0xFC ? 6 : c >= 0xF8 ? 5 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (n == 1) return teAnsi;
    // A sequence cut off by the end of the data counts as invalid.
    if (i + n > Len) return teAnsi;
    for (int k = 1; k < n; ++k)
      if (b[i + k] < 0x80) return teAnsi;
    if (n >= 3) return teUTF8;
    i += 2;
  }
  return teAnsi;
}

namespace {

// One converter per thread and direction: iconv descriptors are not shareable.
class TIconv {
 public:
  TIconv(const char* to, const char* from, bool AThrow = true) : FCd(iconv_open(to, from)) {
    if (!Valid() && AThrow) throw Exception(FromUtf8(std::string("iconv: no converter ") + from + " -> " + to));
  }
  ~TIconv() {
    if (Valid()) iconv_close(FCd);
  }
  bool Valid() const { return FCd != reinterpret_cast<iconv_t>(-1); }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  // Converts as far as possible; returns (size_t)-1 with errno on a stop.
  size_t Convert(char** in, size_t* inLeft, char** out, size_t* outLeft) {
    return iconv(FCd, in, inLeft, out, outLeft);
  }
  void Reset() { iconv(FCd, nullptr, nullptr, nullptr, nullptr); }

 private:
  iconv_t FCd;
};

TIconv& ToGbk() {
  thread_local TIconv cv("CP936", "UTF-16LE");
  return cv;
}
// GB18030 reads everything GBK does, and the four-byte sequences besides
// (characters outside the BMP, and those GBK lacks).
TIconv& FromGb18030() {
  thread_local TIconv cv("UTF-16LE", "GB18030");
  return cv;
}

// UTF-16 through an encoder; an unmappable character or a lone surrogate gives '?'.
Bytes EncodeThrough(TIconv& cv, StringView S) {
  Bytes out;
  if (S.empty()) return out;
  cv.Reset();
  out.resize(S.size() * 2 + 8);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(S.data()));
  size_t inLeft = S.size() * 2;
  char* o = out.data();
  size_t oLeft = out.size();
  while (inLeft > 0) {
    if (cv.Convert(&in, &inLeft, &o, &oLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = static_cast<size_t>(o - out.data());
      out.resize(out.size() * 2);
      o = out.data() + used;
      oLeft = out.size() - used;
      continue;
    }
    // Unmappable or a lone surrogate: '?' for the character, as the code page does.
    if (oLeft < 1) {
      size_t used = static_cast<size_t>(o - out.data());
      out.resize(out.size() * 2);
      o = out.data() + used;
      oLeft = out.size() - used;
    }
    *o++ = '?';
    --oLeft;
    const auto* u = reinterpret_cast<const char16_t*>(in);
    size_t skip = (inLeft >= 4 && IsHighSurrogate(u[0]) && IsLowSurrogate(u[1])) ? 4 : 2;
    if (skip > inLeft) skip = inLeft;
    in += skip;
    inLeft -= skip;
    cv.Reset();
  }
  out.resize(static_cast<size_t>(o - out.data()));
  return out;
}

}  // namespace

Bytes AnsiEncode(StringView S) { return EncodeThrough(ToGbk(), S); }

bool EncodeCharset(StringView S, const char* ACharset, Bytes& AOut) {
  TIconv cv(ACharset, "UTF-16LE", false);
  if (!cv.Valid()) return false;
  AOut = EncodeThrough(cv, S);
  return true;
}

String AnsiDecode(const void* Bytes, int64_t Len) {
  String out;
  if (!Bytes || Len <= 0) return out;
  TIconv& cv = FromGb18030();
  cv.Reset();
  out.resize(static_cast<size_t>(Len) + 4);
  char* in = const_cast<char*>(static_cast<const char*>(Bytes));
  size_t inLeft = static_cast<size_t>(Len);
  char* o = reinterpret_cast<char*>(out.data());
  size_t oLeft = out.size() * 2;
  auto grow = [&]() {
    size_t used = static_cast<size_t>(o - reinterpret_cast<char*>(out.data()));
    out.resize(out.size() * 2);
    o = reinterpret_cast<char*>(out.data()) + used;
    oLeft = out.size() * 2 - used;
  };
  while (inLeft > 0) {
    if (cv.Convert(&in, &inLeft, &o, &oLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      grow();
      continue;
    }
    if (oLeft < 2) grow();
    // The code page's single byte 0x80 is the euro sign; GB18030 has no such byte.
    char16_t r = (errno == EILSEQ && static_cast<unsigned char>(*in) == 0x80) ? u'\u20AC' : u'\uFFFD';
    std::memcpy(o, &r, 2);
    o += 2;
    oLeft -= 2;
    if (errno == EINVAL) break;  // incomplete sequence at the end
    ++in;
    --inLeft;
    cv.Reset();
  }
  out.resize(static_cast<size_t>(o - reinterpret_cast<char*>(out.data())) / 2);
  return out;
}

Bytes EncodeUTF8(StringView S) { return ToUtf8(S); }

String DecodeUTF8Own(const void* Bytes, int64_t Len) {
  const auto* p = static_cast<const unsigned char*>(Bytes);
  const unsigned char* end = p + (Len > 0 ? Len : 0);
  String out;
  out.reserve(static_cast<size_t>(end - p));
  while (p < end) {
    unsigned c = *p;
    if (c < 0x80) {
      out.push_back(char16_t(c));
      ++p;
      continue;
    }
    if (c <= 0xBF) throw Exception(Format(u"无效的UTF8字符:%d", int(c)));
    int n = c >= 0xFC ? 6 : c >= 0xF8 ? 5 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    // A sequence cut off by the end ends the decoding there.
    if (end - p < n) break;
    uint32_t cp;
    if (n == 2) {
      cp = ((c & 0x1F) << 6) | (p[1] & 0x3F);
    } else if (n == 3) {
      cp = ((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    } else if (n == 4) {
      cp = ((c & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
    } else {
      // Five- and six-byte forms lie outside Unicode: consumed, one U+FFFD.
      out.push_back(u'\uFFFD');
      p += n;
      continue;
    }
    if (cp >= 0x10000) {
      cp = (cp - 0x10000) & 0xFFFFF;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
    p += n;
  }
  return out;
}

String DecodeUTF8(const void* Bytes, int64_t Len) {
  if (!Bytes || Len <= 0) return String();
  String s = FromUtf8(std::string_view(static_cast<const char*>(Bytes), size_t(Len)));
  // The system conversion gives text for any non-empty input; the own decoder
  // stays as the fallback for the case it does not.
  if (s.empty()) return DecodeUTF8Own(Bytes, Len);
  return s;
}

// ---------------------------------------------------------------- text through streams

namespace {

String Utf16FromBytes(Bytes& b, size_t skip, bool bigEndian) {
  if (bigEndian) SwapByteOrder(b.data(), static_cast<int64_t>(b.size()));
  size_t units = b.size() >= skip ? (b.size() - skip) / 2 : 0;
  String s(units, u'\0');
  if (units) std::memcpy(s.data(), b.data() + skip, units * 2);
  return s;
}

bool StartsWithBytes(const Bytes& b, const char* mark, size_t n) {
  return b.size() >= n && std::memcmp(b.data(), mark, n) == 0;
}

}  // namespace

String LoadTextW(TStream& Stream, TTextEncoding Encoding) {
  Bytes b = Stream.ReadRest();
  if (b.empty()) return String();
  bool hasBom = false;
  if (StartsWithBytes(b, "\xFF\xFE", 2)) {
    Encoding = teUnicode16LE, hasBom = true;
  } else if (StartsWithBytes(b, "\xFE\xFF", 2)) {
    Encoding = teUnicode16BE, hasBom = true;
  } else if (b.size() > 3 && StartsWithBytes(b, "\xEF\xBB\xBF", 3)) {
    Encoding = teUTF8, hasBom = true;
  } else if (Encoding == teUnknown || Encoding == teAuto) {
    Encoding = DetectTextEncoding(b.data(), static_cast<int64_t>(b.size()), hasBom);
  }
  switch (Encoding) {
    case teUTF8:
      return hasBom ? DecodeUTF8(b.data() + 3, static_cast<int64_t>(b.size()) - 3)
                    : DecodeUTF8(b.data(), static_cast<int64_t>(b.size()));
    case teUnicode16LE:
      return Utf16FromBytes(b, hasBom ? 2 : 0, false);
    case teUnicode16BE:
      return Utf16FromBytes(b, hasBom ? 2 : 0, true);
    default:
      return AnsiDecode(b.data(), static_cast<int64_t>(b.size()));
  }
}

Bytes LoadTextA(TStream& Stream, TTextEncoding Encoding) {
  Bytes b = Stream.ReadRest();
  if (b.empty()) return b;
  bool hasBom = false;
  if (Encoding == teUnknown || Encoding == teAuto) {
    Encoding = DetectTextEncoding(b.data(), static_cast<int64_t>(b.size()), hasBom);
  } else if (Encoding == teUnicode16LE) {
    hasBom = StartsWithBytes(b, "\xFF\xFE", 2);
  } else if (Encoding == teUTF8) {
    hasBom = StartsWithBytes(b, "\xEF\xBB\xBF", 3);
  }
  switch (Encoding) {
    case teUnicode16LE:
    case teUnicode16BE:
      return AnsiEncode(Utf16FromBytes(b, hasBom ? 2 : 0, Encoding == teUnicode16BE));
    case teUTF8:
      if (hasBom) {
        if (b.size() < 4) return Bytes();
        return AnsiEncode(DecodeUTF8(b.data() + 3, static_cast<int64_t>(b.size()) - 3));
      }
      return AnsiEncode(DecodeUTF8(b.data(), static_cast<int64_t>(b.size())));
    default:
      return b;
  }
}

void SaveTextW(TStream& Stream, StringView S, bool WriteBOM) {
  if (WriteBOM) Stream.WriteBuffer("\xFF\xFE", 2);
  Stream.WriteBuffer(S.data(), static_cast<int64_t>(S.size()) * 2);
}

void SaveTextWBE(TStream& Stream, StringView S, bool WriteBOM) {
  if (WriteBOM) Stream.WriteBuffer("\xFE\xFF", 2);
  Bytes b(reinterpret_cast<const char*>(S.data()), S.size() * 2);
  SwapByteOrder(b.data(), static_cast<int64_t>(b.size()));
  Stream.WriteBuffer(b.data(), static_cast<int64_t>(b.size()));
}

void SaveTextA(TStream& Stream, const Bytes& B, bool WriteBOM, bool RawAnsi) {
  if (WriteBOM) Stream.WriteBuffer("\xEF\xBB\xBF", 3);
  if (RawAnsi) {
    Stream.WriteBuffer(B.data(), static_cast<int64_t>(B.size()));
  } else {
    Bytes u = EncodeUTF8(AnsiDecode(B));
    Stream.WriteBuffer(u.data(), static_cast<int64_t>(u.size()));
  }
}

void WriteAnsiBytes(TStream& Stream, const Bytes& B) {
  Stream.WriteBuffer(B.data(), static_cast<int64_t>(B.size()));
}
