// The tree writer, the string escaper and the text forms of floats, dates and
// blobs. The text is built in one buffer that doubles (realloc), so a large
// document costs a handful of moves instead of one per block.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "json/KivJson.h"
#include "json/KivJsonInternal.h"

#if KIV_JSON_SSE2
#include <emmintrin.h>
#endif

using namespace kiv_json;

namespace {

// Writes straight into the result string, sized up front from the record
// lengths, so the text is neither copied at the end nor moved while growing
// (it grows only when escapes make it longer than the estimate).
class TOut {
 public:
  explicit TOut(size_t AEstimate = 0) {
    FText.resize(AEstimate);
    FCur = FText.data();
    FEnd = FCur + FText.size();
  }

  void Need(size_t n) {
    if (size_t(FEnd - FCur) < n) Grow(n);
  }
  void Put(char16_t c) { *FCur++ = c; }
  void PutN(const char16_t* s, size_t n) {
    std::memcpy(FCur, s, n * sizeof(char16_t));
    FCur += n;
  }
  void Ascii(const char* s) {
    size_t n = std::strlen(s);
    Need(n);
    for (size_t i = 0; i < n; ++i) *FCur++ = char16_t(uint8_t(s[i]));
  }
  void Text(StringView s) {
    Need(s.size());
    PutN(s.data(), s.size());
  }
  void Int(int64_t v) {
    Need(21);
    char16_t buf[24];
    char16_t* e = buf + 24;
    char16_t* p = e;
    uint64_t u = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
    do {
      *--p = char16_t(u'0' + u % 10);
      u /= 10;
    } while (u);
    if (v < 0) *--p = u'-';
    PutN(p, size_t(e - p));
  }
  // The string escaper; stops at a NUL.
  void Escaped(const char16_t* s, size_t len, bool esc) {
    static const char16_t kHex[] = u"0123456789abcdef";
    Need(len);
    const char16_t* end = s + len;
    while (s < end) {
#if KIV_JSON_SSE2
      // Eight code units at a time while none of them needs an escape.
      const __m128i lo = _mm_set1_epi16(31), quote = _mm_set1_epi16(u'"'),
                    bs = _mm_set1_epi16(u'\\'), hi = _mm_set1_epi16(126);
      while (end - s >= 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        __m128i bad = _mm_or_si128(_mm_cmpeq_epi16(_mm_subs_epu16(v, lo), _mm_setzero_si128()),
                                   _mm_or_si128(_mm_cmpeq_epi16(v, quote), _mm_cmpeq_epi16(v, bs)));
        if (esc)
          bad = _mm_or_si128(
              bad, _mm_andnot_si128(_mm_cmpeq_epi16(_mm_subs_epu16(v, hi), _mm_setzero_si128()),
                                    _mm_set1_epi16(-1)));
        if (_mm_movemask_epi8(bad)) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(FCur), v);
        FCur += 8;
        s += 8;
      }
#endif
      if (s >= end) break;
      char16_t c = *s;
      if (c >= 32 && c != u'"' && c != u'\\' && (c < 127 || !esc)) {
        *FCur++ = c;
        ++s;
        continue;
      }
      if (c == 0) break;
      Need(size_t(end - s) + 6);
      char16_t e = 0;
      switch (c) {
        case 7: e = u'a'; break;
        case 8: e = u'b'; break;
        case 9: e = u't'; break;
        case 10: e = u'n'; break;
        case 11: e = u'v'; break;
        case 12: e = u'f'; break;
        case 13: e = u'r'; break;
        case u'"': e = u'"'; break;
        case u'\\': e = u'\\'; break;
        default: break;
      }
      *FCur++ = u'\\';
      if (e) {
        *FCur++ = e;
      } else {
        *FCur++ = u'u';
        *FCur++ = kHex[(c >> 12) & 15];
        *FCur++ = kHex[(c >> 8) & 15];
        *FCur++ = kHex[(c >> 4) & 15];
        *FCur++ = kHex[c & 15];
      }
      ++s;
    }
  }
  String Take() {
    FText.resize(size_t(FCur - FText.data()));
    FCur = FEnd = nullptr;
    return std::move(FText);
  }

 private:
  void Grow(size_t n) {
    size_t used = size_t(FCur - FText.data());
    size_t want = FText.size() ? FText.size() * 2 : 256;
    if (want < used + n) want = used + n;
    FText.resize(want);
    FCur = FText.data() + used;
    FEnd = FText.data() + FText.size();
  }

  String FText;
  char16_t* FCur = nullptr;
  char16_t* FEnd = nullptr;
};

// Length of the text without escapes: a cheap pass over the records only.
size_t EstimateLength(const JSONBase* T, int indent, int level) {
  size_t n = 2 + (indent ? 2 + size_t(indent) * size_t(level) : 0);
  for (PJSONValue r : *T) {
    n += (indent ? 2 + size_t(indent) * size_t(level + 1) : 0) + r->FNameLen + 5;
    switch (r->FType) {
      case jdtString:
        n += r->FValueLen / 2 + 2;
        break;
      case jdtObject:
        if (r->FObject) n += EstimateLength(r->FObject, indent, level + 1);
        break;
      case jdtBytes:
        n += r->FValueLen * 2 + 16;
        break;
      default:
        n += 24;
        break;
    }
  }
  return n;
}

}  // namespace

namespace {

double StoredDouble(const JSONValue* r) {
  if (r->FValueLen != 8) return 0;
  double d;
  std::memcpy(&d, r->ValueData(), 8);
  return d;
}

String JavaScriptDateText(double v) {
  int64_t m = int64_t(std::trunc((v - 25569.0) * 86400000.0));
  String s = u"/DATE(";
  if (JsonTimeZone >= -12 && JsonTimeZone <= 12) {
    int64_t n = m - int64_t(JsonTimeZone) * 3600000;
    if (JsonDateInSeconds) n /= 1000;
    s += IntToStr(n);
    if (JsonTimeZone >= 0) s += u'+';
    s += IntToStr(JsonTimeZone);
  } else {
    s += IntToStr(m);
  }
  s += u")/";
  return s;
}

}  // namespace

namespace {

// The UTF-8 sink: the same text as TOut, transcoded while it is written, so
// a UTF-8 save needs neither the UTF-16 text nor a separate conversion.
// Lone surrogates become U+FFFD, as in EncodeUTF8.
class TOut8 {
 public:
  // With a flush callback the buffer is handed on whenever it fills, so a
  // save streams the text instead of holding all of it.
  using TFlush = std::function<void(const char*, size_t)>;
  explicit TOut8(size_t AEstimate, TFlush AFlush = nullptr) : FFlush(std::move(AFlush)) {
    FText.resize(AEstimate);
    FCur = FText.data();
    FEnd = FCur + FText.size();
  }
  void Need(size_t n) {
    if (size_t(FEnd - FCur) < n) Grow(n);
  }
  void Put(char16_t c) { *FCur++ = char(c); }  // ASCII punctuation only
  void PutN(const char16_t* s, size_t n) {
    for (size_t i = 0; i < n; ++i) FCur[i] = char(s[i]);
    FCur += n;
  }
  void Ascii(const char* s) {
    size_t n = std::strlen(s);
    Need(n);
    std::memcpy(FCur, s, n);
    FCur += n;
  }
  void Text(StringView s) { Escaped(s.data(), s.size(), false, false); }
  void Int(int64_t v) {
    Need(21);
    char buf[24];
    char* e = buf + 24;
    char* p = e;
    uint64_t u = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
    do {
      *--p = char('0' + u % 10);
      u /= 10;
    } while (u);
    if (v < 0) *--p = '-';
    std::memcpy(FCur, p, size_t(e - p));
    FCur += e - p;
  }
  void Escaped(const char16_t* s, size_t len, bool esc, bool json = true) {
    static const char kHex[] = "0123456789abcdef";
    Need(len);
    const char16_t* end = s + len;
#if KIV_JSON_SSE2
    const __m128i lo = _mm_set1_epi16(31), quote = _mm_set1_epi16(u'"'),
                  bs = _mm_set1_epi16(u'\\'), hi = _mm_set1_epi16(126);
#endif
    while (s < end) {
#if KIV_JSON_SSE2
      // Eight ASCII code units that need no escape go out as eight bytes.
      while (end - s >= 8 && size_t(FEnd - FCur) >= 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        __m128i bad = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi16(_mm_subs_epu16(v, lo), _mm_setzero_si128()),
                         _mm_or_si128(_mm_cmpeq_epi16(v, quote), _mm_cmpeq_epi16(v, bs))),
            _mm_andnot_si128(_mm_cmpeq_epi16(_mm_subs_epu16(v, hi), _mm_setzero_si128()),
                             _mm_set1_epi16(-1)));
        if (!json) bad = _mm_andnot_si128(_mm_cmpeq_epi16(_mm_subs_epu16(v, hi), _mm_setzero_si128()),
                                          _mm_set1_epi16(-1));
        if (_mm_movemask_epi8(bad)) break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(FCur), _mm_packus_epi16(v, v));
        FCur += 8;
        s += 8;
      }
#endif
      if (s >= end) break;
      Need(size_t(end - s) * 3 + 12);
      uint32_t c = *s;
      if (json) {
        if (c == 0) break;
        if (c < 32 || c == u'"' || c == u'\\' || (esc && c >= 127)) {
          char e = 0;
          switch (c) {
            case 7: e = 'a'; break;
            case 8: e = 'b'; break;
            case 9: e = 't'; break;
            case 10: e = 'n'; break;
            case 11: e = 'v'; break;
            case 12: e = 'f'; break;
            case 13: e = 'r'; break;
            case u'"': e = '"'; break;
            case u'\\': e = '\\'; break;
            default: break;
          }
          *FCur++ = '\\';
          if (e) {
            *FCur++ = e;
          } else {
            *FCur++ = 'u';
            *FCur++ = kHex[(c >> 12) & 15];
            *FCur++ = kHex[(c >> 8) & 15];
            *FCur++ = kHex[(c >> 4) & 15];
            *FCur++ = kHex[c & 15];
          }
          ++s;
          continue;
        }
      }
      ++s;
      if (c >= 0xD800 && c <= 0xDBFF && s < end && *s >= 0xDC00 && *s <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(*s) - 0xDC00);
        ++s;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        c = 0xFFFD;
      }
      if (c < 0x80) {
        *FCur++ = char(c);
      } else if (c < 0x800) {
        *FCur++ = char(0xC0 | (c >> 6));
        *FCur++ = char(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        *FCur++ = char(0xE0 | (c >> 12));
        *FCur++ = char(0x80 | ((c >> 6) & 0x3F));
        *FCur++ = char(0x80 | (c & 0x3F));
      } else {
        *FCur++ = char(0xF0 | (c >> 18));
        *FCur++ = char(0x80 | ((c >> 12) & 0x3F));
        *FCur++ = char(0x80 | ((c >> 6) & 0x3F));
        *FCur++ = char(0x80 | (c & 0x3F));
      }
    }
  }
  Bytes Take() {
    FText.resize(size_t(FCur - FText.data()));
    return std::move(FText);
  }
  void Flush() {
    if (FFlush && FCur > FText.data()) FFlush(FText.data(), size_t(FCur - FText.data()));
    FCur = FText.data();
  }

 private:
  void Grow(size_t n) {
    if (FFlush) {
      Flush();
      if (size_t(FEnd - FCur) >= n) return;
    }
    size_t used = size_t(FCur - FText.data());
    size_t want = FText.size() ? FText.size() * 2 : 256;
    if (want < used + n) want = used + n;
    FText.resize(want);
    FCur = FText.data() + used;
    FEnd = FText.data() + FText.size();
  }

  TFlush FFlush;
  Bytes FText;
  char* FCur = nullptr;
  char* FEnd = nullptr;
};

}  // namespace

class TJsonWriter {
 public:
  TJsonWriter(int AIndent, bool ADoEscape, bool ANameSpace = JsonNameAfterSpace)
      : FIndent(AIndent > 0 ? AIndent : 0), FEscape(ADoEscape), FNameSpace(ANameSpace) {}

  template <class S>
  void Write(S& FOut, const JSONBase* T, int level) {
    const auto& items = T->FItems;
    const bool isArray = T->FIsArray;
    if (items.empty()) {
      FOut.Need(2);
      FOut.Put(isArray ? u'[' : u'{');
      FOut.Put(isArray ? u']' : u'}');
      return;
    }
    FOut.Need(1);
    FOut.Put(isArray ? u'[' : u'{');
    const size_t n = items.size();
    for (size_t i = 0; i < n; ++i) {
      const JSONValue* r = items[i];
      if (FIndent) LineBreak(FOut, level + 1);
      if (r->FNameLen || !isArray) {
        FOut.Need(r->FNameLen + 4);
        FOut.Put(u'"');
        FOut.Escaped(r->FNamePtr, r->FNameLen, FEscape);
        FOut.Need(3);
        FOut.Put(u'"');
        FOut.Put(u':');
        if (FNameSpace) FOut.Put(u' ');
      }
      WriteValue(FOut, T, r, i, level);
      if (i + 1 < n) {
        FOut.Need(1);
        FOut.Put(u',');
      }
    }
    if (FIndent) LineBreak(FOut, level);
    FOut.Need(1);
    FOut.Put(isArray ? u']' : u'}');
  }

  int Indent() const { return FIndent; }

 private:
  template <class S>
  void LineBreak(S& FOut, int level) {
    size_t need = 2 + size_t(FIndent) * size_t(level);
    if (FBreak.size() < need) {
      FBreak = u"\r\n";
      FBreak.append(need * 2, u' ');
    }
    FOut.Need(need);
    FOut.PutN(FBreak.data(), need);
  }

  template <class S>
  void WriteValue(S& FOut, const JSONBase* T, const JSONValue* r, size_t index, int level) {
    switch (r->FType) {
      case jdtString:
        FOut.Need(r->FValueLen / 2 + 2);
        FOut.Put(u'"');
        FOut.Escaped(reinterpret_cast<const char16_t*>(r->ValueData()), r->FValueLen / 2, FEscape);
        FOut.Need(1);
        FOut.Put(u'"');
        break;
      case jdtInteger:
        FOut.Int(r->AsInt64());
        break;
      case jdtFloat: {
        StringView text = StoredFloatText(r->ValueData(), r->FValueLen);
        if (!text.empty()) {
          FOut.Text(text);
          break;
        }
        const long double v = StoredFloat(r->ValueData(), r->FValueLen);
        // No JSON reader takes INF or NAN back: such a value (set by code, as
        // parsing keeps the text) is refused rather than written wrong.
        if (!std::isfinite(v))
          throw Exception(Format(u"对象 %s 的第 %d 个子结点 \"%s\" 的数值不是有限数 (%s), 无法写成JSON.",
                                 T->Name(), int64_t(index), r->Name(), JsonFloatText(v)));
        FOut.Text(JsonFloatText(v));
        break;
      }
      case jdtBoolean:
        FOut.Ascii(r->AsBoolean() ? "true" : "false");
        break;
      case jdtDateTime: {
        double v = StoredDouble(r);
        String t = (StrictJson || JsonDateAsJavaScript) ? JavaScriptDateText(v) : JsonDateText(v);
        FOut.Need(1);
        FOut.Put(u'"');
        FOut.Text(t);
        FOut.Need(1);
        FOut.Put(u'"');
        break;
      }
      case jdtObject:
        if (!r->FObject) {
          FOut.Ascii("null");
          break;
        }
        if (!r->FObject->FIsArray && !T->FIsArray && r->FNameLen == 0)
          throw Exception(Format(u"对象 %s 的第 %d 个子结点名称未赋值, 编码输出前必需赋值.",
                                 T->Name(), int64_t(index)));
        Write(FOut, r->FObject, level + 1);
        break;
      case jdtBytes: {
        String t = JsonBlobText(r->ValueData(), r->FValueLen);
        FOut.Need(t.size() + 2);
        FOut.Put(u'"');
        FOut.Escaped(t.data(), t.size(), FEscape);
        FOut.Need(1);
        FOut.Put(u'"');
        break;
      }
      default:
        FOut.Ascii("null");
        break;
    }
  }

  int FIndent;
  bool FEscape;
  bool FNameSpace;
  String FBreak;
};

String JSONBase::Encode(int AIndent, bool ADoEscape) const {
  TJsonWriter w(AIndent, ADoEscape);
  TOut out(EstimateLength(this, w.Indent(), 0));
  w.Write(out, this, 0);
  return out.Take();
}

String JSONBase::EncodeCompact() const {
  TJsonWriter w(0, false, false);
  TOut out(EstimateLength(this, 0, 0));
  w.Write(out, this, 0);
  return out.Take();
}

namespace kiv_json {

Bytes EncodeUtf8Text(const JSONBase* T, int AIndent, bool ADoEscape) {
  TJsonWriter w(AIndent, ADoEscape);
  size_t est = EstimateLength(T, w.Indent(), 0);
  TOut8 out(est + est / 4);
  w.Write(out, T, 0);
  return out.Take();
}

void StreamUtf8Text(const JSONBase* T, int AIndent, bool ADoEscape,
                    const std::function<void(const char*, size_t)>& AWrite) {
  TJsonWriter w(AIndent, ADoEscape);
  TOut8 out(size_t(1) << 20, AWrite);
  w.Write(out, T, 0);
  out.Flush();
}

}  // namespace kiv_json

void JSONBase::CatJson(TStringCatHelper& ABuilder, StringView AValue, bool ADoEscape) {
  TOut o;
  o.Escaped(AValue.data(), AValue.size(), ADoEscape);
  ABuilder.Cat(o.Take());
}

String JsonFloatText(long double V) {
  if (std::isnan(V)) return u"NAN";
  if (std::isinf(V)) return V > 0 ? u"INF" : u"-INF";
  if (V == 0) return u"0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14Le", V);
  // buf: [-]d.dddddddddddddde[+-]x
  const char* p = buf;
  bool neg = *p == '-';
  if (neg) ++p;
  std::string digits;
  for (; *p && *p != 'e'; ++p)
    if (*p != '.') digits.push_back(*p);
  int x = *p == 'e' ? std::atoi(p + 1) : 0;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int E = x + 1;
  std::string out;
  if (neg) out.push_back('-');
  if (E >= -3 && E <= 15) {
    if (E <= 0) {
      out += "0.";
      out.append(size_t(-E), '0');
      out += digits;
    } else {
      if (int(digits.size()) <= E) {
        out += digits;
        out.append(size_t(E) - digits.size(), '0');
      } else {
        out.append(digits, 0, size_t(E));
        out.push_back('.');
        out.append(digits, size_t(E), std::string::npos);
      }
    }
  } else {
    out.push_back(digits[0]);
    if (digits.size() > 1) {
      out.push_back('.');
      out.append(digits, 1, std::string::npos);
    }
    out.push_back('E');
    if (x < 0) out.push_back('-');
    out += std::to_string(x < 0 ? -x : x);
  }
  if (JsonFloatDigits > 0) {
    // The cut touches the fraction only; an exponent stays, and a fraction
    // cut down to zeros takes its "." with it.
    size_t ep = out.find('E');
    std::string exp = ep == std::string::npos ? std::string() : out.substr(ep);
    std::string m = ep == std::string::npos ? out : out.substr(0, ep);
    size_t dot = m.find('.');
    if (dot != std::string::npos && m.size() - dot - 1 > size_t(JsonFloatDigits)) {
      m.resize(dot + 1 + size_t(JsonFloatDigits));
      while (m.back() == '0') m.pop_back();
      if (m.back() == '.') m.pop_back();
      if (m == "-0") m = "0";
      out = m + exp;
    }
  }
  return String(out.begin(), out.end());
}

namespace {

String FormatDate(StringView fmt, double v) {
  int Y, M, D, H, N, S, Z;
  DecodeDateTime(v, Y, M, D, H, N, S, Z);
  String out;
  auto num = [&out](int value, int width) {
    char16_t b[12];
    int n = 0;
    unsigned u = unsigned(value < 0 ? -value : value);
    do {
      b[n++] = char16_t(u'0' + u % 10);
      u /= 10;
    } while (u);
    while (n < width) b[n++] = u'0';
    while (n) out.push_back(b[--n]);
  };
  size_t i = 0;
  while (i < fmt.size()) {
    StringView r = fmt.substr(i);
    if (r.substr(0, 4) == u"yyyy") {
      num(Y, 4);
      i += 4;
    } else if (r.substr(0, 3) == u"zzz") {
      num(Z, 3);
      i += 3;
    } else if (r.substr(0, 2) == u"mm") {
      num(M, 2);
      i += 2;
    } else if (r.substr(0, 2) == u"dd") {
      num(D, 2);
      i += 2;
    } else if (r.substr(0, 2) == u"hh") {
      num(H, 2);
      i += 2;
    } else if (r.substr(0, 2) == u"nn") {
      num(N, 2);
      i += 2;
    } else if (r.substr(0, 2) == u"ss") {
      num(S, 2);
      i += 2;
    } else {
      out.push_back(fmt[i++]);
    }
  }
  return out;
}

}  // namespace

String JsonDateText(double V) {
  double d = std::trunc(V);
  if (d != 0) return FormatDate(V == d ? JsonDateFormat : JsonDateTimeFormat, V);
  return FormatDate(V == 0 ? JsonDateFormat : JsonTimeFormat, V);
}

String JsonBlobText(const void* P, size_t Len) {
  if (!Len) return String();
  String s = u"[blob]<";
  if (JsonBlobBase64) {
    s += u"[BS]";
    s += Base64Encode(P, Len);
  } else {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    const auto* b = static_cast<const uint8_t*>(P);
    for (size_t i = 0; i < Len; ++i) {
      s.push_back(kHex[b[i] >> 4]);
      s.push_back(kHex[b[i] & 15]);
    }
  }
  s += u">";
  return s;
}
