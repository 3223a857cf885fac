#include "http/KivURI.h"

#include <array>

#include "support/KivStr.h"

namespace {

constexpr size_t npos = StringView::npos;

// Decimal port 1..65535; anything else (signs, hex, overflow) is "not a number".
int ParsePortText(StringView S) {
  if (S.empty() || S.size() > 5) return -1;
  int v = 0;
  for (char16_t c : S) {
    if (c < u'0' || c > u'9') return -1;
    v = v * 10 + (c - u'0');
  }
  return v <= 65535 ? v : -1;
}

bool IsHttpScheme(StringView S) { return SameTextAscii(S, u"http"); }
bool IsHttpsScheme(StringView S) { return SameTextAscii(S, u"https"); }

bool DefaultPortOf(StringView Scheme, uint16_t Port) {
  return (IsHttpScheme(Scheme) && Port == 80) || (IsHttpsScheme(Scheme) && Port == 443);
}

}  // namespace

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

// ---------------------------------------------------------------- TURI

void TURI::ParseURI() const {
  FHost.clear();
  FDocument.clear();
  FParams.clear();
  FBookmark.clear();
  FScheme.clear();
  FUserName.clear();
  FPassword.clear();
  FPath.clear();
  FPort = 0;

  StringView work(FUrl);
  // A "://" inside a path or query ('h.com/go?u=http://x') names no scheme.
  size_t sep = work.find(u"://");
  if (sep != npos && work.substr(0, sep).find_first_of(u"/?#") == npos) {
    FScheme = String(work.substr(0, sep));
    work.remove_prefix(sep + 3);
  } else {
    FScheme = u"http";
  }

  // The authority ends at the first '/', '?' or '#'; only a '/' is dropped.
  StringView authority = work, pathText;
  size_t aend = work.find_first_of(u"/?#");
  if (aend != npos) {
    authority = work.substr(0, aend);
    pathText = work.substr(work[aend] == u'/' ? aend + 1 : aend);
  }

  size_t at = authority.find(u'@');
  if (at != npos) {
    StringView info = authority.substr(0, at);
    authority.remove_prefix(at + 1);
    size_t colon = info.find(u':');
    if (colon != npos) {
      FUserName = String(info.substr(0, colon));
      FPassword = String(info.substr(colon + 1));
    } else {
      FUserName = String(info);
    }
    if (FUserName.empty()) FPassword.clear();
  }

  StringView portText;
  size_t lb = authority.find(u'[');
  size_t rb = lb == npos ? npos : authority.find(u']', lb + 1);
  if (rb != npos) {
    FHost = String(authority.substr(lb + 1, rb - lb - 1));
    size_t colon = authority.find(u':', rb + 1);
    if (colon != npos) portText = authority.substr(colon + 1);
  } else {
    size_t colon = authority.find(u':');
    FHost = String(authority.substr(0, colon));
    if (colon != npos) portText = authority.substr(colon + 1);
  }

  int port = 0;
  if (IsHttpScheme(FScheme) || IsHttpsScheme(FScheme)) {
    port = ParsePortText(portText);
    if (port <= 0) port = IsHttpScheme(FScheme) ? 80 : 443;
  }

  size_t qs = pathText.find(u'?');
  if (qs == npos) qs = pathText.find(u'=');
  // A '#' before the query start opens the fragment, which is never sent.
  size_t hash = pathText.substr(0, qs).find(u'#');
  StringView pathPart;
  if (hash != npos) {
    pathPart = pathText.substr(0, hash);
    FBookmark = String(pathText.substr(hash + 1));
  } else {
    pathPart = pathText.substr(0, qs);
    if (qs != npos) FParams = String(pathText.substr(qs));
  }
  size_t slash = pathPart.rfind(u'/');
  if (slash != npos) {
    FPath = u"/" + String(pathPart.substr(0, slash + 1));
    FDocument = String(pathPart.substr(slash + 1));
  } else {
    FPath = u"/";
    FDocument = String(pathPart);
  }
  FPort = static_cast<uint16_t>(port == 0 ? 80 : port);
}

String TURI::HostForURL() const {
  // IPv6 literals get their brackets back so that the text is a URL again.
  if (FHost.find(u':') != npos) return u"[" + FHost + u"]";
  return FHost;
}

String TURI::GetDocumentWithParams() const {
  Parsed();
  return FPath + FDocument + FParams;
}

String TURI::GetNewURL(bool haveAuthInfo) const {
  Parsed();
  String r;
  if (!FScheme.empty()) r += FScheme + u"://";
  if (haveAuthInfo && !FUserName.empty()) {
    r += FUserName;
    if (!FPassword.empty()) r += u":" + FPassword;
    r += u'@';
  }
  if (FHost.empty()) throw EHTTPException(u"Host field is empty.");
  r += HostForURL();
  if ((IsHttpScheme(FScheme) && FPort != 80) || (IsHttpsScheme(FScheme) && FPort != 443))
    r += u":" + IntToStr(FPort);
  r += GetDocumentWithParams();
  if (haveAuthInfo && !FBookmark.empty()) r += u"#" + FBookmark;
  return r;
}

String TURI::ToString() {
  if (FChangeURL) {
    FUrl = GetNewURL(true);
    FChangeURL = false;
  }
  return FUrl;
}

String TURI::GetURLBase() const {
  Parsed();
  String r = FScheme + u"://" + HostForURL();
  if (!DefaultPortOf(FScheme, FPort)) r += u":" + IntToStr(FPort);
  return r;
}

String TURI::PathRelativeToAbs(StringView RelPath, const TURI& Base) {
  if (RelPath.empty()) {
    TURI b = Base;
    return b.ToString();
  }
  String base = Base.GetURLBase();
  String dir = Base.Path();
  auto startsWith = [](StringView s, StringView p) { return s.substr(0, p.size()) == p; };

  if (startsWith(RelPath, u"./") || startsWith(RelPath, u"../")) {
    StringView rest = RelPath;
    while (true) {
      if (startsWith(rest, u"../")) {
        if (dir.size() > 1) {
          size_t prev = dir.rfind(u'/', dir.size() - 2);
          dir.resize(prev + 1);
        }
        rest.remove_prefix(3);
      } else if (startsWith(rest, u"./")) {
        return base + dir.substr(0, dir.size() - 1) + String(rest.substr(1));
      } else {
        return base + dir + String(rest);
      }
    }
  }
  // Network-path reference: same scheme, another authority.
  if (startsWith(RelPath, u"//")) return Base.Scheme() + u":" + String(RelPath);
  if (RelPath[0] == u'/') return base + String(RelPath);
  // Query-only reference keeps the base document.
  if (RelPath[0] == u'?') return base + dir + Base.Document() + String(RelPath);
  size_t colon = RelPath.find(u':');
  size_t slash = RelPath.find(u'/');
  if (colon == npos || (slash != npos && colon > slash)) return base + dir + String(RelPath);
  return String(RelPath);
}

// ---------------------------------------------------------------- headers

void THeadersList::CheckIndex(int32_t Index) const {
  if (Index < 0 || Index >= Count())
    throw EHTTPException(Format(u"List index out of bounds (%d)", Index));
}

PHeaderItem THeadersList::FindName(StringView Name) const {
  for (const auto& item : FItems)
    if (SameTextAscii(item->Name, Name)) return item.get();
  return nullptr;
}

void THeadersList::AddItem(StringView Name, StringView Value, bool allowRepeat) {
  if (!allowRepeat) {
    if (PHeaderItem item = FindName(Name)) {
      item->Value = String(Value);
      return;
    }
  }
  FItems.push_back(std::make_unique<THeaderItem>(THeaderItem{String(Name), String(Value)}));
}

String THeadersList::GetValue(StringView Name) const {
  PHeaderItem item = FindName(Name);
  return item ? item->Value : String();
}

void THeadersList::SetValue(StringView Name, StringView Value) {
  if (PHeaderItem item = FindName(Name))
    item->Value = String(Value);
  else if (!Value.empty())
    FItems.push_back(std::make_unique<THeaderItem>(THeaderItem{String(Name), String(Value)}));
}

PHeaderItem THeadersList::GetItem(int32_t Index) const {
  CheckIndex(Index);
  return FItems[Index].get();
}

void THeadersList::SetItem(int32_t Index, const THeaderItem& Value) {
  CheckIndex(Index);
  *FItems[Index] = Value;
}

void THeadersList::Delete(int32_t Index) {
  CheckIndex(Index);
  FItems.erase(FItems.begin() + Index);
}

THttpHeaders::THttpHeaders(const THttpHeaders& Other) : FLineBreak(Other.FLineBreak) {
  for (int32_t i = 0; i < Other.Count(); ++i) {
    PHeaderItem item = Other.GetItem(i);
    FData.AddItem(item->Name, item->Value, true);
  }
}

THttpHeaders& THttpHeaders::operator=(const THttpHeaders& Other) {
  if (this != &Other) {
    THttpHeaders copy(Other);
    FData = std::move(copy.FData);
    FLineBreak = std::move(copy.FLineBreak);
  }
  return *this;
}

String THttpHeaders::GetText() const {
  const String lb = FLineBreak.empty() ? String(u"\r\n") : FLineBreak;
  String r;
  for (int32_t i = 0; i < Count(); ++i) {
    PHeaderItem item = GetItem(i);
    r += item->Name;
    r += u": ";
    r += item->Value;
    r += lb;
  }
  return r;
}

void THttpHeaders::SetText(StringView Text) {
  Clear();
  size_t p = 0, n = Text.size();
  while (p < n) {
    size_t e = Text.find_first_of(u"\r\n", p);
    if (e == npos) e = n;
    StringView line = Text.substr(p, e - p);
    size_t colon = line.find(u':');
    if (colon == npos) {
      FData.AddItem(line, u"", true);
    } else {
      size_t v = colon + 1;
      while (v < line.size() && (line[v] == u' ' || line[v] == u'\t')) ++v;
      FData.AddItem(line.substr(0, colon), line.substr(v), true);
    }
    p = e;
    while (p < n && (Text[p] == u' ' || Text[p] == u'\r' || Text[p] == u'\n')) ++p;
  }
}

namespace {
inline bool IsParamSep(char16_t c) { return c == u';' || c == u',' || c == u'|'; }
}  // namespace

THeaderParamPos FindHeaderParam(StringView Text, StringView Name) {
  THeaderParamPos r;
  const size_t n = Text.size();
  if (Text.empty() || Name.empty()) return r;
  size_t p = 0;
  while (p < n) {
    // Step to the start of the next item; an item that is itself key=value starts here.
    size_t s = p;
    while (p < n) {
      if (IsParamSep(Text[p])) {
        ++p;
        break;
      }
      if (Text[p] == u'=') {
        p = s;
        break;
      }
      ++p;
    }
    while (p < n && Text[p] == u' ') ++p;
    size_t eq = Text.find(u'=', p);
    if (eq == npos) return r;
    // A separator before the '=' means this item has no value: look at the next one.
    size_t sep = p;
    while (sep < eq && !IsParamSep(Text[sep])) ++sep;
    if (sep < eq) {
      p = sep;
      continue;
    }
    if (eq - p == Name.size() && Text.substr(p, eq - p) == Name) {
      size_t v = eq + 1;
      while (v < n && Text[v] == u' ') ++v;
      size_t e = v;
      while (e < n && !IsParamSep(Text[e])) ++e;
      r.Found = true;
      r.Start = v;
      r.End = e;
      return r;
    }
    p = eq + 1;
  }
  return r;
}

String GetHeaderParam(StringView Text, StringView Name) {
  THeaderParamPos pos = FindHeaderParam(Text, Name);
  return pos.Found ? String(Text.substr(pos.Start, pos.End - pos.Start)) : String();
}

String ReplaceHeaderParam(StringView Text, StringView Name, StringView Value) {
  THeaderParamPos pos = FindHeaderParam(Text, Name);
  if (pos.Found)
    return String(Text.substr(0, pos.Start)) + String(Value) + String(Text.substr(pos.End));
  return String(Text) + u"; " + String(Name) + u"=" + String(Value);
}

String THttpHeaders::GetParam(StringView AName, StringView AParam) const {
  return GetHeaderParam(GetHaderItem(AName), AParam);
}

void THttpHeaders::SetParam(StringView AName, StringView AParam, StringView AValue) {
  String value = GetHaderItem(AName);
  if (value.empty()) return;
  SetHaderItem(AName, ReplaceHeaderParam(value, AParam, AValue));
}

// ---------------------------------------------------------------- EncodeURL

namespace {

struct TURLEncodeTable {
  std::array<bool, 256> Keep{};
  TURLEncodeTable() {
    for (unsigned c = 'A'; c <= 'Z'; ++c) Keep[c] = true;
    for (unsigned c = 'a'; c <= 'z'; ++c) Keep[c] = true;
    for (unsigned c = '0'; c <= '9'; ++c) Keep[c] = true;
    for (unsigned char c : std::string_view("!$'()*-.@_")) Keep[c] = true;
  }
};
const TURLEncodeTable URLEncodeTable;

inline bool IsURLDelimiter(char16_t c) {
  switch (c) {
    case u'#': case u'%': case u'&': case u'/': case u':': case u'=': case u'?':
      return true;
    default:
      return false;
  }
}

void AppendEncodedByte(String& Out, unsigned Code, bool SpaceAsPlus) {
  static const char16_t Hex[] = u"0123456789ABCDEF";
  if (Code == u' ' && SpaceAsPlus) {
    Out += u'+';
  } else if (URLEncodeTable.Keep[Code]) {
    Out += static_cast<char16_t>(Code);
  } else {
    Out += u'%';
    Out += Hex[Code >> 4];
    Out += Hex[Code & 15];
  }
}

}  // namespace

bool URLEncodeKeeps(unsigned Code) { return Code < 256 && URLEncodeTable.Keep[Code]; }

String EncodeURL(StringView Text, bool SpaceAsPlus) {
  String r;
  r.reserve(Text.size() * 3);
  for (size_t i = 0; i < Text.size(); ++i) {
    char16_t c = Text[i];
    if (IsURLDelimiter(c)) {
      r += c;
    } else if (c < 256) {
      AppendEncodedByte(r, c, SpaceAsPlus);
    } else {
      // One character, a surrogate pair included, becomes its code-page bytes.
      size_t len = (IsHighSurrogate(c) && i + 1 < Text.size() && IsLowSurrogate(Text[i + 1])) ? 2 : 1;
      Bytes b = AnsiEncode(Text.substr(i, len));
      for (unsigned char byte : b) AppendEncodedByte(r, byte, SpaceAsPlus);
      i += len - 1;
    }
  }
  return r;
}
