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
