// The lenient parser: one moving cursor over NUL-terminated UTF-16 text, no
// tokenizer. Records of a container are gathered on one shared stack and
// handed to the container in one block when it ends (or when reading fails,
// so a failed parse keeps what was read).
#include <cmath>
#include <cstring>

#include "json/KivJson.h"
#include "json/KivJsonArena.h"
#include "json/KivJsonInternal.h"

#if KIV_JSON_SSE2
#include <emmintrin.h>
#endif

using namespace kiv_json;

namespace {

enum TSyntaxCode {
  scNone,
  scSingleQuote,
  scNotJson,
  scStrictComment,
  scBadComment,
  scNotContainer,
  scStrictName,
  scMissingColon,
  scTrailing,
  scTooDeep
};

const char16_t* SyntaxMessage(int Code) {
  switch (Code) {
    case scSingleQuote:
      return u"严格栻上JSON字符串必需以\"开始。";
    case scStrictComment:
      return u"严格模式下不支持注释, 要解析包括注释的JSON内容, 请将StrictJson变量设置为False.";
    case scBadComment:
      return u"无法识别的注释符, 注释必需以//或/**/包括.";
    case scNotContainer:
      return u"当前位置需要Json结束字符\",]}\".";
    case scStrictName:
      return u"Json结点名称应以'\"'字符开始.";
    case scMissingColon:
      return u"Json结束名称未正确结束.";
    case scTrailing:
      return u"期望EOF: ";
    case scTooDeep:
      return u"JSON嵌套层次超过了允许的最大层数.";
    default:
      return kMsgNotJson;
  }
}

struct TSyntaxError {
  int Code;
};

inline bool IsBlank(char16_t c) { return c == 32 || c == 10 || c == 13 || c == 9 || c == 0x3000; }

// Case-insensitive (ASCII) prefix test; stops at the text's NUL.
inline bool HasWordCI(const char16_t* p, const char16_t* w) {
  for (; *w; ++p, ++w)
    if (UpperAscii(*p) != *w) return false;
  return true;
}

const long double kPow10[] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,
                              1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L,
                              1e16L, 1e17L, 1e18L, 1e19L, 1e20L, 1e21L, 1e22L, 1e23L,
                              1e24L, 1e25L, 1e26L, 1e27L};

inline long double Pow10(long double x) {
  if (x >= 0 && x <= 27 && x == std::floor(x)) return kPow10[int(x)];
  return std::pow(10.0L, x);
}

// The integer reader: optional sign, then decimal digits, or hex digits after
// "$" or "0x". Decimal digits beyond what 64 bits hold go on in extended
// precision rather than wrapping into a wrong value.
long double ReadIntPart(const char16_t*& p) {
  bool neg = false;
  if (*p == u'+' || *p == u'-') neg = *p++ == u'-';
  long double v;
  if (*p == u'$' || (*p == u'0' && (p[1] == u'x' || p[1] == u'X') && !StrictJson)) {
    p += *p == u'$' ? 1 : 2;
    uint64_t a = 0;
    while (IsHexChar(*p)) a = a * 16 + unsigned(HexCharValue(*p++));
    v = static_cast<long double>(static_cast<int64_t>(a));
  } else {
    uint64_t a = 0;
    while (*p >= u'0' && *p <= u'9' && a <= 1844674407370955160ull) {
      uint64_t d = unsigned(*p - u'0');
      if (a == 1844674407370955160ull && d > 5) break;
      a = a * 10 + d;
      ++p;
    }
    v = static_cast<long double>(a);
    while (*p >= u'0' && *p <= u'9') v = v * 10 + (*p++ - u'0');
  }
  return neg ? -v : v;
}

// The number reader; true when it consumed something. The exponent is itself
// a number, read to a bounded depth ("1e1e1e..." must not recurse freely).
bool ReadNumber(const char16_t*& p, long double& v, int depth = 0) {
  const char16_t* start = p;
  if (*p == u'$' || *p == u'&') {
    ++p;
    uint64_t a = 0;
    while (IsHexChar(*p)) a = a * 16 + unsigned(HexCharValue(*p++));
    v = static_cast<long double>(static_cast<int64_t>(a));
    return true;
  }
  if (*p == u'0' && (p[1] == u'x' || p[1] == u'X')) {
    if (StrictJson) return false;
    p += 2;
    uint64_t a = 0;
    while (IsHexChar(*p)) a = a * 16 + unsigned(HexCharValue(*p++));
    v = static_cast<long double>(static_cast<int64_t>(a));
    return true;
  }
  char16_t s = *p;
  if (s == u'-') ++p;
  v = ReadIntPart(p);
  if (*p == u'.') {
    ++p;
    const char16_t* f0 = p;
    long double f = ReadIntPart(p);
    long k = long(p - f0);
    if (k > 0) v += f / Pow10(static_cast<long double>(k));
  }
  if (*p == u'e' || *p == u'E') {
    ++p;
    long double x;
    if (depth < 4 && ReadNumber(p, x, depth + 1)) v *= Pow10(x);
  }
  if (s == u'-') v = -v;
  return p != start;
}

// Whether the value read from the number text [B, E) cannot give that number
// back: beyond the range (infinite, not a number, or a non-zero number that
// came out as zero), or more significant digits than the writer's fifteen
// where the value is not a plain integer held exactly.
bool NeedsOwnText(const char16_t* B, const char16_t* E, long double v, bool AExactInteger) {
  if (!std::isfinite(v)) return true;
  int digits = 0, zeros = 0;
  bool nonZero = false, plain = true;
  for (const char16_t* q = B; q < E; ++q) {
    const char16_t c = *q;
    if (c == u'$' || c == u'&' || c == u'x' || c == u'X') return false;  // hex: exact
    if (c == u'e' || c == u'E' || c == u'.') plain = false;
    if (c == u'e' || c == u'E') break;
    if (c < u'0' || c > u'9') continue;
    if (c == u'0') {
      if (nonZero) ++zeros;
      continue;
    }
    nonZero = true;
    digits += zeros + 1;
    zeros = 0;
  }
  if (nonZero && v == 0) return true;
  return digits > 15 && !(AExactInteger && plain);
}

}  // namespace

class TJsonReader {
 public:
  // AEnd, when known, is where the text's terminating NUL stands: the
  // scanners then read eight code units at a time up to it.
  TJsonReader(JSONBase* ATarget, const char16_t* AText, const char16_t* AEnd = nullptr)
      : FStart(AText), p(AText), FEnd(AEnd), FRoot(ATarget) {
    if (!ATarget->FArena) ATarget->FArena = new TJsonArena();
    FArena = ATarget->FArena;
    FStack.reserve(256);
  }

  // Reads the root container (driver steps 1-3); throws TSyntaxError.
  void ReadRoot() {
    std::lock_guard<std::mutex> lock(FArena->Lock());
    SkipBlanks();
    ReadContainer(FRoot);
    if (StrictJson && *p) throw TSyntaxError{scTrailing};
  }
  // The root value as ReadRoot reads it, then every further top-level array
  // or object, each into a root of its own that shares the arena; anything
  // else after a value is an error. AOut holds the first root already.
  void ReadRoots(std::vector<std::unique_ptr<JSONBase>>& AOut) {
    std::lock_guard<std::mutex> lock(FArena->Lock());
    SkipBlanks();
    ReadContainer(FRoot);
    FComplete = AOut.size();
    for (;;) {
      SkipBlanks();
      SkipComments();
      if (*p == 0) return;
      if (*p != u'{' && *p != u'[') throw TSyntaxError{scTrailing};
      JSONBase* next = *p == u'[' ? static_cast<JSONBase*>(new JSONArray()) : new JSONObject();
      AOut.emplace_back(next);
      next->FArena = FArena;
      FArena->AddRef();
      FRoot = next;
      ReadContainer(next);
      FComplete = AOut.size();
    }
  }
  // How many of the values ReadRoots gave are whole (the last may be cut off by an error).
  size_t Complete() const { return FComplete; }
  // At the end of the text (its first NUL) after ReadRoots.
  bool AtEnd() const { return *p == 0; }
  void ReadRootLoose() {
    std::lock_guard<std::mutex> lock(FArena->Lock());
    SkipBlanks();
    ReadContainer(FRoot);
  }
  // One value named AName appended to the target (PutJSON).
  void ReadSingle(StringView AName) {
    std::lock_guard<std::mutex> lock(FArena->Lock());
    TLevel level(this, FRoot);
    FCurrent = FRoot;
    TName n = InternName(AName.data(), AName.size());
    if (*p == u'{' || *p == u'[') {
      JSONBase* k = NewChild(n, *p == u'[');
      ReadContainer(k);
    } else {
      ReadValue(n);
    }
  }

  String PositionReport(const String& AMessage) const {
    int64_t line = 1;
    const char16_t* ls = FStart;
    for (const char16_t* q = FStart; q < p; ++q)
      if (*q == u'\n') {
        ++line;
        ls = q + 1;
      }
    int64_t col = 1;
    for (const char16_t* q = ls; q < p;) {
      q += (IsHighSurrogate(q[0]) && IsLowSurrogate(q[1]) && q + 1 < p) ? 2 : 1;
      ++col;
    }
    const char16_t* le = ls;
    while (*le && *le != u'\r' && *le != u'\n') ++le;
    String text;
    if (le - ls > 200) {
      const char16_t* q = ls;
      for (int n = 0; n < 200 && q < le; ++n) q += CharSizeU(q);
      text.assign(ls, q);
      text += u"...";
    } else {
      text.assign(ls, le);
    }
    return Format(u"第%d行第%d列: %s \r\n行: %s", line, col, AMessage, text);
  }

 private:
  struct TName {
    const char16_t* P;
    uint32_t Len;
    uint32_t Hash;
  };

  // Hands the records read for T to T when its body ends or reading fails.
  struct TLevel {
    TJsonReader* R;
    JSONBase* T;
    size_t Base;
    TLevel(TJsonReader* AR, JSONBase* AT) : R(AR), T(AT), Base(AR->FStack.size()) {
      if (++R->FDepth > kJsonMaxDepth) {
        --R->FDepth;
        throw TSyntaxError{scTooDeep};
      }
    }
    ~TLevel() {
      auto& s = R->FStack;
      if (s.size() > Base) {
        T->FItems.insert(T->FItems.end(), s.begin() + long(Base), s.end());
        s.resize(Base);
      }
      --R->FDepth;
    }
  };

  void SkipBlanks() {
#if KIV_JSON_SSE2
    if (FEnd) {
      const __m128i sp = _mm_set1_epi16(32), lf = _mm_set1_epi16(10), cr = _mm_set1_epi16(13),
                    tab = _mm_set1_epi16(9), ideo = _mm_set1_epi16(short(0x3000));
      while (FEnd - p >= 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i m = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi16(v, sp), _mm_cmpeq_epi16(v, lf)),
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, cr), _mm_cmpeq_epi16(v, tab)),
                         _mm_cmpeq_epi16(v, ideo)));
        unsigned mask = unsigned(_mm_movemask_epi8(m));
        if (mask != 0xFFFF) {
          p += __builtin_ctz(~mask) / 2;
          return;
        }
        p += 8;
      }
    }
#endif
    while (IsBlank(*p)) ++p;
  }

  // Moves p to the first q, backslash or NUL.
  void ScanString(char16_t q) {
#if KIV_JSON_SSE2
    if (FEnd) {
      const __m128i vq = _mm_set1_epi16(short(q)), vb = _mm_set1_epi16(u'\\'),
                    z = _mm_setzero_si128();
      while (FEnd - p >= 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i m = _mm_or_si128(_mm_cmpeq_epi16(v, vq),
                                 _mm_or_si128(_mm_cmpeq_epi16(v, vb), _mm_cmpeq_epi16(v, z)));
        unsigned mask = unsigned(_mm_movemask_epi8(m));
        if (mask) {
          p += __builtin_ctz(mask) / 2;
          return;
        }
        p += 8;
      }
    }
#endif
    while (*p != q && *p != u'\\' && *p) ++p;
  }

  void SkipComments() {
    while (*p == u'/') {
      if (StrictJson) throw TSyntaxError{scStrictComment};
      if (p[1] == u'/') {
        p += 2;
        while (*p && *p != u'\n') ++p;
        SkipBlanks();
      } else if (p[1] == u'*') {
        p += 2;
        while (*p && !(p[0] == u'*' && p[1] == u'/')) ++p;
        if (*p) {
          p += 2;
          SkipBlanks();
        }
      } else {
        throw TSyntaxError{scBadComment};
      }
    }
  }

  TName InternName(const char16_t* s, size_t len) {
    return TName{FArena->InternUnlocked(s, uint32_t(len)), uint32_t(len), 0};
  }

  PJSONValue NewRecord(const TName& n) {
    PJSONValue r = FArena->NewRecordUnlocked();
    r->FNamePtr = n.P;
    r->FNameLen = n.Len;
    r->FNameHash = n.Hash;
    FStack.push_back(r);
    return r;
  }

  JSONBase* NewChild(const TName& n, bool AArray) {
    JSONBase* k = AArray ? static_cast<JSONBase*>(new JSONArray()) : new JSONObject();
    PJSONValue r = NewRecord(n);
    // The current level's target: the container whose segment is on top.
    k->FParent = FCurrent;
    k->FArena = FArena;
    FArena->AddRef();
    r->FType = jdtObject;
    r->FObject = k;
    k->FValue = r;
    return k;
  }

  void StoreText(PJSONValue r, const char16_t* s, size_t len) {
    r->FType = jdtString;
    size_t bytes = len * sizeof(char16_t);
    if (bytes > UINT32_MAX) throw Exception(u"值太大, 无法保存.");
    r->FValueLen = uint32_t(bytes);
    if (bytes <= 8)
      std::memcpy(r->FInline, s, bytes);
    else
      r->FPtr = reinterpret_cast<const uint8_t*>(FArena->CopyTextUnlocked(s, len));
  }

  // Reads a quoted or bare token; the text is either a run of the source
  // (no escapes) or the scratch buffer.
  void ReadToken(const char16_t*& s, size_t& len) {
    char16_t q = *p;
    if (q != u'"' && q != u'\'') {
      const char16_t* b = p;
      while (*p && *p != u',' && *p != u':' && *p != u']' && *p != u'}') ++p;
      s = b;
      len = size_t(p - b);
      return;
    }
    ++p;
    const char16_t* b = p;
    ScanString(q);
    if (*p == q && p[1] != q) {
      s = b;
      len = size_t(p - b);
      ++p;
      SkipBlanks();
      return;
    }
    FScratch.assign(b, p);
    for (;;) {
      char16_t c = *p;
      if (c == 0) break;
      if (c == q) {
        if (p[1] == q) {
          FScratch.push_back(q);
          p += 2;
          continue;
        }
        ++p;
        SkipBlanks();
        break;
      }
      if (c == u'\\') {
        ++p;
        if (!ReadEscape()) break;
        continue;
      }
      FScratch.push_back(c);
      ++p;
    }
    s = FScratch.data();
    len = FScratch.size();
  }

  // After a backslash; false when the text ends there.
  bool ReadEscape() {
    char16_t x = *p;
    char16_t c;
    switch (x) {
      case 0:
        return false;  // a backslash at the very end: nothing to escape
      case u'"':
      case u'\'':
      case u'/':
      case u'\\':
        c = x;
        break;
      case u'b':
        c = 8;
        break;
      case u'f':
        c = 12;
        break;
      case u'n':
        c = 10;
        break;
      case u'r':
        c = 13;
        break;
      case u't':
        c = 9;
        break;
      case u'u': {
        if (IsHexChar(p[1]) && IsHexChar(p[2]) && IsHexChar(p[3]) && IsHexChar(p[4])) {
          c = char16_t(HexCharValue(p[1]) << 12 | HexCharValue(p[2]) << 8 |
                       HexCharValue(p[3]) << 4 | HexCharValue(p[4]));
          p += 5;
          FScratch.push_back(c);
          return true;
        }
        throw Exception(Format(u"当前位置应该是 \"%s\", 而不是 \"%s\".", u"0-9A-Fa-f", Peek4()));
      }
      default:
        if (StrictJson)
          throw Exception(
              Format(u"当前位置应该是 \"%s\", 而不是 \"%s\".", u"btfrn\"u'/", Peek4()));
        c = x;
        break;
    }
    FScratch.push_back(c);
    ++p;
    return true;
  }

  String Peek4() const {
    const char16_t* e = p;
    while (e - p < 4 && *e) ++e;
    return String(p, e);
  }

  void ReadValue(const TName& n) {
    char16_t c = *p;
    if (c == u'"' || c == u'\'') {
      if (c == u'\'' && StrictJson) throw TSyntaxError{scSingleQuote};
      const char16_t* s;
      size_t len;
      ReadToken(s, len);
      StoreText(NewRecord(n), s, len);
      return;
    }
    long double v;
    const char16_t* q = p;
    if (ReadNumber(q, v)) {
      const char16_t* p0 = p;
      p = q;
      SkipBlanks();
      if (*p && *p != u',' && *p != u'}' && *p != u']') throw TSyntaxError{scNotJson};
      PJSONValue r = NewRecord(n);
      const bool exactInteger =
          v >= -9223372036854775808.0L && v <= 9223372036854775807.0L && v == std::trunc(v);
      if (NeedsOwnText(p0, q, v, exactInteger)) {
        // The value and, after it, the text it came from.
        const size_t len = size_t(q - p0);
        if (len > (UINT32_MAX - 10) / 2) throw Exception(u"值太大, 无法保存.");
        r->FType = jdtFloat;
        r->FValueLen = uint32_t(10 + len * 2);
        auto* d = static_cast<uint8_t*>(FArena->AllocUnlocked(r->FValueLen, 2));
        std::memcpy(d, &v, 10);
        std::memcpy(d + 10, p0, len * 2);
        r->FPtr = d;
      } else if (exactInteger) {
        int64_t i = static_cast<int64_t>(v);
        r->FType = jdtInteger;
        r->FValueLen = 8;
        std::memcpy(r->FInline, &i, 8);
      } else {
        r->FType = jdtFloat;
        r->FValueLen = 10;
        auto* d = static_cast<uint8_t*>(FArena->AllocUnlocked(10, 2));
        std::memcpy(d, &v, 10);
        r->FPtr = d;
      }
      return;
    }
    if (HasWordCI(p, u"FALSE") || HasWordCI(p, u"TRUE")) {
      bool b = UpperAscii(c) == u'T';
      p += b ? 4 : 5;
      SkipBlanks();
      PJSONValue r = NewRecord(n);
      r->FType = jdtBoolean;
      r->FValueLen = 1;
      r->FInline[0] = b ? 1 : 0;
      return;
    }
    if (HasWordCI(p, u"NULL")) {
      p += 4;
      SkipBlanks();
      NewRecord(n)->FType = jdtNull;
      return;
    }
    if (c == u'{' || c == u'[') {
      JSONBase* k = NewChild(n, c == u'[');
      ReadContainer(k);
      return;
    }
    throw TSyntaxError{scNotJson};
  }

  void ReadContainer(JSONBase* T) {
    TLevel level(this, T);
    JSONBase* saved = FCurrent;
    FCurrent = T;
    struct TRestore {
      JSONBase*& C;
      JSONBase* S;
      ~TRestore() { C = S; }
    } restore{FCurrent, saved};
    SkipComments();
    if (*p == u'{') {
      ++p;
      SkipBlanks();
      ReadObjectBody();
    } else if (*p == u'[') {
      if (T->FParent && !T->FParent->FIsArray && (!T->FValue || T->FValue->FNameLen == 0)) {
        // An unnamed array below an object: its body goes into "unknown".
        JSONBase* k = NewChild(InternName(u"unknown", 7), true);
        TLevel inner(this, k);
        FCurrent = k;
        ++p;
        SkipBlanks();
        ReadArrayBody();
        return;
      }
      ++p;
      SkipBlanks();
      ReadArrayBody();
    } else {
      throw TSyntaxError{scNotContainer};
    }
  }

  void ReadObjectBody() {
    for (;;) {
      if (*p == 0) throw TSyntaxError{scNotJson};
      if (*p == u'}') {
        ++p;
        SkipBlanks();
        return;
      }
      SkipComments();
      if (StrictJson && *p != u'"') throw TSyntaxError{scStrictName};
      const char16_t* s;
      size_t len;
      ReadToken(s, len);
      TName n = InternName(s, len);
      if (*p != u':') throw TSyntaxError{scMissingColon};
      ++p;
      SkipBlanks();
      ReadValue(n);
      if (*p == u',') {
        ++p;
        SkipBlanks();
      }
    }
  }

  void ReadArrayBody() {
    const TName unnamed{u"", 0, 0};
    for (;;) {
      if (*p == 0) throw TSyntaxError{scNotJson};
      if (*p == u']') {
        ++p;
        SkipBlanks();
        return;
      }
      ReadValue(unnamed);
      if (*p == u',') {
        ++p;
        SkipBlanks();
      }
    }
  }

  const char16_t* FStart;
  const char16_t* p;
  const char16_t* FEnd;
  JSONBase* FRoot;
  size_t FComplete = 0;
  JSONBase* FCurrent = nullptr;
  TJsonArena* FArena;
  std::vector<PJSONValue> FStack;
  String FScratch;
  int FDepth = 0;

  friend class JSONBase;
};

namespace {

// Runs the driver on NUL-terminated text; wraps every error once.
void DecodeText(JSONBase* T, const char16_t* Text, const char16_t* End = nullptr) {
  TJsonReader r(T, Text, End);
  try {
    r.ReadRoot();
  } catch (const TSyntaxError& e) {
    throw Exception(r.PositionReport(SyntaxMessage(e.Code)));
  } catch (const Exception& e) {
    throw Exception(r.PositionReport(e.Message()));
  }
}

bool TryDecodeText(JSONBase* T, const char16_t* Text, const char16_t* End = nullptr) {
  TJsonReader r(T, Text, End);
  try {
    r.ReadRootLoose();
    return true;
  } catch (const TSyntaxError&) {
    return false;
  } catch (const Exception&) {
    return false;
  }
}

// Text given with a length: read in place when it ends at a NUL within that
// length, otherwise copied once (nothing past the length is ever read).
template <typename F>
auto WithTerminated(const char16_t* p, int64_t len, F f) {
  if (!p) return f(u"", nullptr);
  if (len < 0) return f(p, nullptr);
  for (int64_t i = 0; i < len; ++i)
    if (p[i] == 0) return f(p, p + i);
  String copy(p, size_t(len));
  return f(copy.c_str(), copy.c_str() + copy.size());
}

}  // namespace

namespace kiv_json {

bool ReadOneValue(JSONBase* T, StringView AName, const char16_t* Text) {
  TJsonReader r(T, Text);
  try {
    r.ReadSingle(AName);
    return true;
  } catch (const TSyntaxError&) {
    return false;
  }
}

bool ReadContainerAt(JSONBase* T, const char16_t* P) {
  TJsonReader r(T, P);
  try {
    r.ReadRootLoose();
    return true;
  } catch (const TSyntaxError&) {
    return false;
  }
}

}  // namespace kiv_json

bool JSONBase::Parse(StringView Text, bool IgnoreZero) {
  if (Text.size() < 2) return false;
  size_t z = Text.find(char16_t(0));
  if (IgnoreZero && z != StringView::npos) {
    String copy(Text);
    for (size_t i = z; i < copy.size(); ++i)
      if (copy[i] == 0) copy[i] = u' ';
    Decode(copy);
  } else {
    Decode(Text.data(), int64_t(Text.size()));
  }
  return true;
}

bool JSONBase::Parse(const char16_t* p, int64_t len) {
  Decode(p, len);
  return true;
}

void JSONBase::Decode(const String& s) {
  Clear();
  // A NUL inside the string ends the text there; the fast scanners stop at it too.
  DecodeText(this, s.c_str(), s.c_str() + s.size());
}

void JSONBase::Decode(StringView s) { Decode(s.data(), int64_t(s.size())); }

void JSONBase::Decode(const char16_t* p, int64_t len) {
  Clear();
  WithTerminated(p, len, [this](const char16_t* t, const char16_t* e) {
    DecodeText(this, t, e);
    return 0;
  });
}

bool JSONBase::TryParse(StringView Text) { return TryParse(Text.data(), int64_t(Text.size())); }

bool JSONBase::TryParse(const char16_t* p, int64_t len) {
  Clear();
  return WithTerminated(p, len,
                        [this](const char16_t* t, const char16_t* e) { return TryDecodeText(this, t, e); });
}

namespace {

// Every top-level value of T[0, Len), which ends in a NUL at T[Len]. A NUL
// inside the text ends the values; only NULs and blanks may follow it.
std::vector<std::unique_ptr<JSONBase>> ValuesOfText(const char16_t* T, size_t Len, String* ATrailing) {
  const char16_t* nul = T;
  while (*nul) ++nul;
  const char16_t* first = T;
  while (IsBlank(*first)) ++first;
  std::vector<std::unique_ptr<JSONBase>> values;
  values.emplace_back(*first == u'[' ? static_cast<JSONBase*>(new JSONArray()) : new JSONObject());
  TJsonReader r(values[0].get(), T, nul);
  String error;
  try {
    r.ReadRoots(values);
    for (const char16_t* q = nul; q < T + Len; ++q)
      if (*q && !IsBlank(*q)) throw TSyntaxError{scTrailing};
    return values;
  } catch (const TSyntaxError& e) {
    error = r.PositionReport(SyntaxMessage(e.Code));
  } catch (const Exception& e) {
    error = r.PositionReport(e.Message());
  }
  // Text that is no value after whole ones: they stand, the rest is told.
  if (!ATrailing || r.Complete() == 0) throw Exception(error);
  values.resize(r.Complete());
  *ATrailing = error;
  return values;
}

}  // namespace

std::vector<std::unique_ptr<JSONBase>> JSONBase::ParserValues(StringView Text, bool RaiseError) {
  try {
    const String text(Text);
    return ValuesOfText(text.c_str(), text.size(), nullptr);
  } catch (const Exception&) {
    if (RaiseError) throw;
    return {};
  }
}

std::vector<std::unique_ptr<JSONBase>> JSONBase::ParserValues(TStream& AStream, bool RaiseError) {
  const String text = LoadTextW(AStream, teUnknown);
  try {
    return ValuesOfText(text.c_str(), text.size(), nullptr);
  } catch (const Exception&) {
    if (RaiseError) throw;
    return {};
  }
}

std::vector<std::unique_ptr<JSONBase>> JSONBase::ParserValues(TStream& AStream, String& ATrailing) {
  const String text = LoadTextW(AStream, teUnknown);
  ATrailing.clear();
  return ValuesOfText(text.c_str(), text.size(), &ATrailing);
}

JSONBase* JSONBase::Parser(StringView Text, bool RaiseError) {
  return Parser(Text.data(), int64_t(Text.size()), RaiseError);
}

JSONBase* JSONBase::Parser(const char16_t* P, int64_t Len, bool RaiseError) {
  if (!P) P = u"";
  int64_t i = 0;
  while ((Len < 0 || i < Len) && P[i] && IsBlank(P[i])) ++i;
  if (Len >= 0 && i >= Len) {
    if (RaiseError) throw Exception(kMsgNotJson);
    return nullptr;
  }
  JSONBase* r = P[i] == u'[' ? static_cast<JSONBase*>(new JSONArray()) : new JSONObject();
  try {
    r->Decode(P, Len);
  } catch (...) {
    delete r;
    if (RaiseError) throw;
    return nullptr;
  }
  return r;
}

JSONBase* JSONBase::Parser(TStream& AStream, bool RaiseError) {
  String text = LoadTextW(AStream, teUnknown);
  return Parser(text.c_str(), -1, RaiseError);
}

JSONObject* JSONBase::ParseObject(StringView Text, bool RaiseError) {
  auto* r = new JSONObject();
  try {
    r->Parse(Text, false);
  } catch (...) {
    delete r;
    if (RaiseError) throw;
    return nullptr;
  }
  return r;
}

JSONArray* JSONBase::ParseArray(StringView Text, bool RaiseError) {
  auto* r = new JSONArray();
  try {
    r->Parse(Text, false);
  } catch (...) {
    delete r;
    if (RaiseError) throw;
    return nullptr;
  }
  return r;
}

// ---------------------------------------------------------------- date text

namespace {

bool ReadDigits(const char16_t*& p, int64_t& v) {
  if (*p < u'0' || *p > u'9') return false;
  v = 0;
  while (*p >= u'0' && *p <= u'9') {
    if (v < 100000000000LL) v = v * 10 + (*p - u'0');
    ++p;
  }
  return true;
}

bool ReadSigned(const char16_t*& p, int64_t& v) {
  const char16_t* s = p;
  bool neg = *p == u'-';
  if (neg) ++p;
  if (!ReadDigits(p, v)) {
    p = s;
    return false;
  }
  if (neg) v = -v;
  return true;
}

bool ReadTime(const char16_t*& p, int64_t H, char16_t q, double& t) {
  // At the ":" after the hour.
  ++p;
  if (H < 0 || H > 23) return false;
  int64_t N = 0, S = 0, Z = 0;
  if (ReadDigits(p, N)) {
    if (N > 59) return false;
    if (*p == u':') {
      ++p;
      if (ReadDigits(p, S) && S > 59) return false;
    }
    if (*p == u'.') {
      ++p;
      if (ReadDigits(p, Z))
        while (Z > 999) Z /= 10;
    }
  }
  if (q && *p != q) return false;
  t = (double(H) * 3600000.0 + double(N) * 60000.0 + double(S) * 1000.0 + double(Z)) / 86400000.0;
  return true;
}

bool DateForm(const char16_t* p, double& v) {
  char16_t q = 0;
  if (*p == u'"' || *p == u'\'') q = *p++;
  int64_t Y;
  if (!ReadSigned(p, Y)) return false;
  if (*p == u'-') {
    ++p;
    int64_t M, D;
    if (!ReadDigits(p, M) || *p != u'-') return false;
    ++p;
    if (!ReadDigits(p, D)) return false;
    if (*p != 0 && *p != u' ' && *p != u'T') return false;
    if (*p) ++p;
    double d;
    if (Y < 1 || Y > 9999 || M > 12 || D > 31 || !EncodeDate(int(Y), int(M), int(D), d))
      return false;
    while (IsBlank(*p)) ++p;
    int64_t H;
    if (*p && ReadDigits(p, H)) {
      if (*p == u':') {
        double t;
        if (!ReadTime(p, H, q, t)) return false;
        v = d + t;
        return true;
      }
      if (H > 23) return false;
      v = d + double(H) / 24.0;
      return true;
    }
    v = d;
    return true;
  }
  if (*p == u':') {
    double t;
    if (!ReadTime(p, Y, q, t)) return false;
    v = t;
    return true;
  }
  return false;
}

bool JavaScriptForm(const char16_t* p, double& v) {
  if (!HasWordCI(p, u"/DATE")) return false;
  p += 5;
  while (IsBlank(*p)) ++p;
  if (*p != u'(') return false;
  ++p;
  while (IsBlank(*p)) ++p;
  const char16_t* s = p;
  long double nl = ReadIntPart(p);
  if (p == s || nl > 9.2e18L || nl < -9.2e18L) return false;
  int64_t n = int64_t(nl);
  while (IsBlank(*p)) ++p;
  int64_t z = 0;
  if (*p == u'+' || *p == u'-') {
    bool neg = *p++ == u'-';
    if (!ReadDigits(p, z)) return false;
    if (neg) z = -z;
  }
  while (IsBlank(*p)) ++p;
  if (*p != u')') return false;
  int64_t units = (JsonDateInSeconds && n <= 10000000000LL) ? 86400 : 86400000;
  v = 25569.0 + double(n / units) + double(n % units) / double(units);
  if (z) v -= double(z) / 24.0;
  return true;
}

bool InternetForm(const char16_t* p, double& v) {
  while (*p && *p != u',') ++p;
  if (!*p) return false;
  ++p;
  while (*p && (*p < u'0' || *p > u'9')) ++p;
  int64_t D;
  if (!ReadDigits(p, D) || D < 1 || D > 31) return false;
  while (IsBlank(*p)) ++p;
  static const char16_t* kMonths[] = {u"JAN", u"FEB", u"MAR", u"APR", u"MAY", u"JUN",
                                      u"JUL", u"AUG", u"SEP", u"OCT", u"NOV", u"DEC"};
  int M = 0;
  for (int i = 0; i < 12; ++i)
    if (HasWordCI(p, kMonths[i])) {
      M = i + 1;
      break;
    }
  if (!M) return false;
  while (*p && (*p < u'0' || *p > u'9')) ++p;
  int64_t Y, H = 0, N = 0, S = 0;
  if (!ReadDigits(p, Y)) return false;
  while (*p == u' ') ++p;
  ReadDigits(p, H);
  while (*p == u':') ++p;
  ReadDigits(p, N);
  while (*p == u':') ++p;
  ReadDigits(p, S);
  double d;
  if (Y > 9999 || H > 23 || N > 59 || S > 59 || !EncodeDate(int(Y), M, int(D), d)) return false;
  v = d + (double(H) * 3600.0 + double(N) * 60.0 + double(S)) / 86400.0;
  return true;
}

}  // namespace

bool JsonParseDateText(StringView S, double& AResult, bool AllowInternet) {
  String t(S);
  const char16_t* p = t.c_str();
  if (DateForm(p, AResult)) return true;
  if (JavaScriptForm(p, AResult)) return true;
  if (AllowInternet && InternetForm(p, AResult)) return true;
  return false;
}
