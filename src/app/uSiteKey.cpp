#include "app/uSiteKey.h"

#include <algorithm>
#include <cstdint>

#include "support/KivStr.h"

namespace {

// Longer labels are not decoded: DNS allows 63 characters, and the decoder's
// insertions are quadratic in the label's length.
constexpr size_t kMaxPunycodeLabel = 256;

bool IsSchemeChar(char16_t c, bool AFirst) {
  const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
  if (AFirst) return letter;
  return letter || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
}

bool AllDigits(StringView S) {
  for (char16_t c : S)
    if (c < u'0' || c > u'9') return false;
  return true;
}

// The port as a number without leading zeros; digits only (checked by the caller).
String CanonicalPort(StringView ADigits) {
  size_t i = 0;
  while (i + 1 < ADigits.size() && ADigits[i] == u'0') ++i;
  return String(ADigits.substr(i));
}

// Full-width ASCII and the ideographic dots read as their ASCII forms, as
// browsers map host names; then ASCII letters lower-cased.
char16_t HostChar(char16_t c) {
  if (c >= 0xFF01 && c <= 0xFF5E) c = char16_t(c - 0xFEE0);
  if (c == 0x3002 || c == 0xFF61) c = u'.';
  return LowerAscii(c);
}

void AppendCodePoint(String& AOut, uint32_t ACp) {
  if (ACp < 0x10000) {
    AOut.push_back(char16_t(ACp));
  } else {
    ACp -= 0x10000;
    AOut.push_back(char16_t(0xD800 + (ACp >> 10)));
    AOut.push_back(char16_t(0xDC00 + (ACp & 0x3FF)));
  }
}

// A host name: mapped, lower-cased, 'xn--' labels decoded.
String HostKey(StringView AHost) {
  String mapped;
  mapped.reserve(AHost.size());
  for (char16_t c : AHost) mapped.push_back(HostChar(c));
  String out;
  out.reserve(mapped.size());
  size_t start = 0;
  while (start <= mapped.size()) {
    size_t dot = mapped.find(u'.', start);
    if (dot == String::npos) dot = mapped.size();
    const StringView label = StringView(mapped).substr(start, dot - start);
    String decoded;
    // A label that decodes to ASCII alone is no IDN label (IDNA refuses it): it stays as written.
    if (label.size() > 4 && label.substr(0, 4) == u"xn--" && DecodePunycode(label.substr(4), decoded) &&
        std::any_of(decoded.begin(), decoded.end(), [](char16_t c) { return c >= 0x80; })) {
      for (char16_t c : decoded) out.push_back(LowerAscii(c));
    } else {
      out.append(label);
    }
    if (dot == mapped.size()) break;
    out.push_back(u'.');
    start = dot + 1;
  }
  return out;
}

// ---------------------------------------------------------------- punycode

constexpr uint32_t kBase = 36, kTMin = 1, kTMax = 26, kSkew = 38, kDamp = 700, kInitialBias = 72,
                   kInitialN = 128;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

uint32_t Adapt(uint32_t ADelta, uint32_t ANumPoints, bool AFirstTime) {
  ADelta = AFirstTime ? ADelta / kDamp : ADelta / 2;
  ADelta += ADelta / ANumPoints;
  uint32_t k = 0;
  while (ADelta > ((kBase - kTMin) * kTMax) / 2) {
    ADelta /= kBase - kTMin;
    k += kBase;
  }
  return k + (kBase - kTMin + 1) * ADelta / (ADelta + kSkew);
}

int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return int(c - u'0') + 26;
  if (c >= u'a' && c <= u'z') return int(c - u'a');
  if (c >= u'A' && c <= u'Z') return int(c - u'A');
  return -1;
}

}  // namespace

bool DecodePunycode(StringView ALabel, String& AOut) {
  AOut.clear();
  if (ALabel.empty() || ALabel.size() > kMaxPunycodeLabel) return false;
  std::u32string points;
  size_t in = 0;
  const size_t delimiter = ALabel.rfind(u'-');
  if (delimiter != StringView::npos) {
    for (size_t k = 0; k < delimiter; ++k) {
      if (ALabel[k] >= 0x80) return false;
      points.push_back(ALabel[k]);
    }
    in = delimiter + 1;
  }
  // Within the limits above no sum below can pass 2^63: overflow checks
  // are against the code point range instead.
  uint64_t n = kInitialN, i = 0;
  uint32_t bias = kInitialBias;
  while (in < ALabel.size()) {
    const uint64_t oldi = i;
    uint64_t w = 1;
    for (uint32_t k = kBase;; k += kBase) {
      if (in >= ALabel.size()) return false;
      const int digit = DigitValue(ALabel[in++]);
      if (digit < 0) return false;
      i += uint64_t(digit) * w;
      if (i > uint64_t(kMaxCodePoint) * (kMaxPunycodeLabel + 1)) return false;
      const uint32_t t = k <= bias ? kTMin : k >= bias + kTMax ? kTMax : k - bias;
      if (uint32_t(digit) < t) break;
      w *= kBase - t;
      if (w > uint64_t(kMaxCodePoint) * (kMaxPunycodeLabel + 1)) return false;
    }
    const uint64_t count = points.size() + 1;
    bias = Adapt(uint32_t(i - oldi), uint32_t(count), oldi == 0);
    n += i / count;
    i %= count;
    if (n > kMaxCodePoint || (n >= 0xD800 && n <= 0xDFFF)) return false;
    points.insert(points.begin() + long(i), char32_t(n));
    ++i;
  }
  for (char32_t cp : points) AppendCodePoint(AOut, uint32_t(cp));
  return true;
}

String SiteKey(StringView AUrl) {
  const String trimmed = Trim(AUrl);
  const StringView url(trimmed);
  // scheme "://"
  size_t colon = 0;
  while (colon < url.size() && IsSchemeChar(url[colon], colon == 0)) ++colon;
  if (colon == 0 || url.substr(colon, 3) != u"://") return trimmed;
  const String originalScheme = LowerCaseAscii(url.substr(0, colon));
  const bool https = originalScheme == u"https";
  const String scheme = https ? String(u"http") : originalScheme;
  const size_t authorityStart = colon + 3;
  size_t authorityEnd = url.find_first_of(u"/?#", authorityStart);
  if (authorityEnd == StringView::npos) authorityEnd = url.size();
  StringView authority = url.substr(authorityStart, authorityEnd - authorityStart);

  // userinfo@ (the last '@' of the authority ends it) keeps its case
  StringView userinfo;
  const size_t at = authority.rfind(u'@');
  if (at != StringView::npos) {
    userinfo = authority.substr(0, at + 1);
    authority = authority.substr(at + 1);
  }
  // host and port; an IPv6 literal keeps its brackets
  StringView hostPart = authority, port;
  bool ipv6 = false;
  if (!authority.empty() && authority[0] == u'[') {
    const size_t close = authority.find(u']');
    if (close != StringView::npos) {
      ipv6 = true;
      hostPart = authority.substr(0, close + 1);
      const StringView rest = authority.substr(close + 1);
      if (!rest.empty() && rest[0] == u':') port = rest.substr(1);
      else if (!rest.empty()) hostPart = authority;  // text after ']' that is no port: left as it stands
    }
  } else {
    const size_t portColon = authority.rfind(u':');
    if (portColon != StringView::npos) {
      hostPart = authority.substr(0, portColon);
      port = authority.substr(portColon + 1);
    }
  }
  if (hostPart.empty()) return trimmed;  // 'http://' or 'http:///x': no host, no site

  String host = ipv6 ? LowerCaseAscii(hostPart) : HostKey(hostPart);
  if (!ipv6 && host.size() > 4 && host.compare(0, 4, u"www.") == 0) host.erase(0, 4);
  String portKey;
  if (!port.empty()) {
    if (AllDigits(port)) {
      portKey = CanonicalPort(port);
      if (portKey == (https ? u"443" : originalScheme == u"http" ? u"80" : u"")) portKey.clear();
    } else {
      portKey = String(port);
    }
  }

  // path and query; the fragment goes
  StringView rest = url.substr(authorityEnd);
  const size_t hash = rest.find(u'#');
  if (hash != StringView::npos) rest = rest.substr(0, hash);
  const size_t question = rest.find(u'?');
  StringView path = rest.substr(0, question), query;
  if (question != StringView::npos) query = rest.substr(question);
  while (!path.empty() && path.back() == u'/') path.remove_suffix(1);

  String key = scheme;
  key += u"://";
  key += userinfo;
  key += host;
  if (!portKey.empty()) {
    key += u':';
    key += portKey;
  }
  key += path;
  key += query;
  return key;
}
