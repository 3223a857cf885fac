#include "app/uSourceRequest.h"

#include <charconv>
#include <cmath>
#include <memory>

#include "app/uSourceConvert.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

const char16_t* const kDefaultUserAgent =
    u"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    u"Chrome/128.0.0.0 Safari/537.36";

namespace {

bool ContainsNoCase(StringView AText, StringView APart) {
  if (APart.size() > AText.size()) return false;
  for (size_t i = 0; i + APart.size() <= AText.size(); ++i)
    if (SameTextAscii(AText.substr(i, APart.size()), APart)) return true;
  return false;
}

bool IsAsciiAlnum(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// RFC 3986 unreserved and reserved characters: what a query may carry as it is.
bool IsQuerySafe(char16_t c) {
  if (IsAsciiAlnum(c)) return true;
  switch (c) {
    case u'-': case u'.': case u'_': case u'~':
    case u'!': case u'$': case u'&': case u'\'': case u'(': case u')': case u'*': case u'+':
    case u',': case u';': case u'=': case u':': case u'@': case u'/': case u'?':
      return true;
    default:
      return false;
  }
}

// What a form name or value keeps as it is (the rest is encoded).
bool IsFormSafe(char16_t c) {
  return IsAsciiAlnum(c) || c == u'.' || c == u'-' || c == u'*' || c == u'_';
}

void CatHex(String& AOut, unsigned AByte, bool ALower) {
  const char16_t* digits = ALower ? u"0123456789abcdef" : u"0123456789ABCDEF";
  AOut += u'%';
  AOut += digits[(AByte >> 4) & 15];
  AOut += digits[AByte & 15];
}

bool IsEscapeCharset(StringView ACharset) { return SameTextAscii(Trim(ACharset), u"escape"); }

// JavaScript's escape() of one UTF-16 unit, as sources use it: only letters
// and digits kept, hex digits lower-case.
void CatEscaped(String& AOut, char16_t c) {
  if (IsAsciiAlnum(c)) {
    AOut += c;
    return;
  }
  if (c < 0x100) {
    CatHex(AOut, c, true);
    return;
  }
  const char16_t* digits = u"0123456789abcdef";
  AOut += u"%u";
  for (int shift = 12; shift >= 0; shift -= 4) AOut += digits[(c >> shift) & 15];
}

// A run of characters that need encoding, percent-encoded in the charset.
void CatEncodedRun(String& AOut, StringView ARun, StringView ACharset) {
  if (IsEscapeCharset(ACharset)) {
    for (char16_t c : ARun) CatEscaped(AOut, c);
    return;
  }
  for (unsigned char b : CharsetBytes(ARun, ACharset)) CatHex(AOut, b, false);
}

// Encodes what ASafe refuses, run by run; '%' always stays; a blank is ABlank.
template <typename TSafe>
String EncodePart(StringView AText, StringView ACharset, TSafe ASafe, StringView ABlank) {
  String out;
  size_t i = 0;
  while (i < AText.size()) {
    char16_t c = AText[i];
    if (c == u'%' || ASafe(c)) {
      out += c;
      ++i;
    } else if (c == u' ') {
      out += ABlank;
      ++i;
    } else {
      size_t j = i;
      while (j < AText.size() && AText[j] != u'%' && AText[j] != u' ' && !ASafe(AText[j])) ++j;
      CatEncodedRun(out, AText.substr(i, j - i), ACharset);
      i = j;
    }
  }
  return out;
}

// Only safe characters and '%' followed by two hex digits.
bool IsEncodedQuery(StringView AQuery) {
  for (size_t i = 0; i < AQuery.size(); ++i) {
    char16_t c = AQuery[i];
    if (c == u'%') {
      if (i + 2 >= AQuery.size() || !IsHexChar(AQuery[i + 1]) || !IsHexChar(AQuery[i + 2]))
        return false;
      i += 2;
    } else if (!IsQuerySafe(c)) {
      return false;
    }
  }
  return true;
}

// ---- templates: '{{key}}', '{{page}}', integer arithmetic on page ----

class TPageExpr {
 public:
  TPageExpr(StringView AText, int APage) : FText(AText), FPage(APage) {}
  bool Evaluate(double& AValue) {
    if (!Sum(AValue, 0)) return false;
    SkipBlanks();
    return FPos == FText.size() && std::isfinite(AValue);
  }

 private:
  static constexpr int kMaxDepth = 64;

  void SkipBlanks() {
    while (FPos < FText.size() && FText[FPos] <= 32) ++FPos;
  }
  bool Take(char16_t c) {
    SkipBlanks();
    if (FPos < FText.size() && FText[FPos] == c) {
      ++FPos;
      return true;
    }
    return false;
  }
  bool Sum(double& v, int depth) {
    if (!Product(v, depth)) return false;
    for (;;) {
      double r;
      if (Take(u'+')) {
        if (!Product(r, depth)) return false;
        v += r;
      } else if (Take(u'-')) {
        if (!Product(r, depth)) return false;
        v -= r;
      } else {
        return true;
      }
    }
  }
  bool Product(double& v, int depth) {
    if (!Factor(v, depth)) return false;
    for (;;) {
      double r;
      if (Take(u'*')) {
        if (!Factor(r, depth)) return false;
        v *= r;
      } else if (Take(u'/')) {
        if (!Factor(r, depth)) return false;
        v /= r;
      } else {
        return true;
      }
    }
  }
  bool Factor(double& v, int depth) {
    if (depth > kMaxDepth) return false;
    if (Take(u'-')) {
      if (!Factor(v, depth + 1)) return false;
      v = -v;
      return true;
    }
    if (Take(u'+')) return Factor(v, depth + 1);
    if (Take(u'(')) return Sum(v, depth + 1) && Take(u')');
    SkipBlanks();
    if (FText.substr(FPos, 4) == u"page" &&
        (FPos + 4 == FText.size() || !(IsAsciiAlnum(FText[FPos + 4]) || FText[FPos + 4] == u'_' ||
                                       FText[FPos + 4] == u'$' || FText[FPos + 4] == u'.'))) {
      FPos += 4;
      v = FPage;
      return true;
    }
    size_t start = FPos;
    while (FPos < FText.size() && ((FText[FPos] >= u'0' && FText[FPos] <= u'9') || FText[FPos] == u'.'))
      ++FPos;
    if (FPos == start || FPos - start > 30) return false;
    std::string digits(FText.begin() + long(start), FText.begin() + long(FPos));
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    return ec == std::errc() && end == digits.data() + digits.size();
  }

  StringView FText;
  size_t FPos = 0;
  int FPage;
};

// A number as JavaScript prints it (an integral value without decimals).
String NumberText(double v) {
  if (v == std::trunc(v) && std::fabs(v) < 1e15) return IntToStr(int64_t(v));
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? FromUtf8(std::string_view(buf, size_t(end - buf))) : String(u"NaN");
}

// Replaces every '{{…}}'; false when one needs a script engine.
bool ApplyTemplates(String& AText, StringView AKey, int APage) {
  String out;
  size_t pos = 0;
  for (;;) {
    size_t open = AText.find(u"{{", pos);
    if (open == String::npos) break;
    size_t close = AText.find(u"}}", open + 2);
    if (close == String::npos) break;
    out.append(AText, pos, open - pos);
    const String expr = Trim(StringView(AText).substr(open + 2, close - open - 2));
    if (expr == u"key") {
      out += AKey;
    } else if (expr == u"page") {
      out += IntToStr(APage);
    } else {
      double v;
      if (!TPageExpr(expr, APage).Evaluate(v)) return false;
      out += NumberText(v);
    }
    pos = close + 2;
  }
  if (pos == 0) return true;
  out.append(AText, pos, String::npos);
  AText = std::move(out);
  return true;
}

// Every '<a,b,c>' (on one line) becomes the item for the page, the last past the end.
String ApplyPageLists(StringView AText, int APage) {
  String out;
  size_t pos = 0;
  while (pos < AText.size()) {
    size_t open = AText.find(u'<', pos);
    if (open == StringView::npos) break;
    size_t close = open + 1;
    while (close < AText.size() && AText[close] != u'>' && AText[close] != u'\n') ++close;
    if (close >= AText.size() || AText[close] != u'>') {
      out.append(AText.substr(pos, close - pos));
      pos = close;
      continue;
    }
    out.append(AText.substr(pos, open - pos));
    StringView items = AText.substr(open + 1, close - open - 1);
    std::vector<StringView> list;
    size_t start = 0;
    for (size_t i = 0; i <= items.size(); ++i)
      if (i == items.size() || items[i] == u',') {
        list.push_back(items.substr(start, i - start));
        start = i + 1;
      }
    size_t index = APage >= 1 ? size_t(APage - 1) : 0;
    if (index >= list.size()) index = list.size() - 1;
    out += Trim(list[index]);
    pos = close + 1;
  }
  out.append(AText.substr(std::min(pos, AText.size())));
  return out;
}

// The first ',' followed (blanks between allowed) by '{': where the options begin.
size_t FindOptions(StringView AText) {
  for (size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] != u',') continue;
    size_t j = i + 1;
    while (j < AText.size() && AText[j] <= 32) ++j;
    if (j < AText.size() && AText[j] == u'{') return i;
  }
  return StringView::npos;
}

std::unique_ptr<JSONObject> ParseObjectText(StringView AText) {
  std::unique_ptr<JSONBase> parsed(JSONBase::Parser(AText, false));
  if (!parsed || !parsed->IsJSONObject()) return nullptr;
  return std::unique_ptr<JSONObject>(static_cast<JSONObject*>(parsed.release()));
}

String ValueText(const JSONValue* AValue) {
  if (!AValue || AValue->Type() == jdtNull || AValue->Type() == jdtUnknown) return String();
  return AValue->AsString();
}

bool IsTruthy(const JSONValue* AValue) {
  if (!AValue) return false;
  switch (AValue->Type()) {
    case jdtNull:
    case jdtUnknown:
      return false;
    case jdtBoolean:
      return AValue->AsBoolean();
    case jdtString: {
      const String t = Trim(AValue->AsString());
      return !t.empty() && !SameTextAscii(t, u"false") && !SameTextAscii(t, u"null");
    }
    default:
      return true;
  }
}

// Sets a header, replacing one of the same name (any case) where it stands.
void PutHeader(THeaderList& AHeaders, const String& AName, const String& AValue) {
  if (SameTextAscii(Trim(AName), u"proxy")) return;
  for (auto& h : AHeaders)
    if (SameTextAscii(h.first, AName)) {
      h.second = AValue;
      return;
    }
  AHeaders.emplace_back(AName, AValue);
}

void PutHeaders(THeaderList& AHeaders, const JSONObject& AObject) {
  for (PJSONValue item : AObject) PutHeader(AHeaders, String(item->Name()), ValueText(item));
}

const String* FindHeader(const THeaderList& AHeaders, StringView AName) {
  for (const auto& h : AHeaders)
    if (SameTextAscii(h.first, AName)) return &h.second;
  return nullptr;
}

bool StartsWithScheme(StringView AText) {
  if (AText.empty() || !((AText[0] >= u'a' && AText[0] <= u'z') || (AText[0] >= u'A' && AText[0] <= u'Z')))
    return false;
  for (size_t i = 1; i < AText.size(); ++i) {
    char16_t c = AText[i];
    if (c == u':') return true;
    if (!(IsAsciiAlnum(c) || c == u'+' || c == u'-' || c == u'.')) return false;
  }
  return false;
}

bool IsHttpUrl(StringView AUrl) {
  size_t at;
  if (StartsTextAscii(AUrl, u"http://"))
    at = 7;
  else if (StartsTextAscii(AUrl, u"https://"))
    at = 8;
  else
    return false;
  return at < AUrl.size() && AUrl[at] != u'/' && AUrl[at] != u'?' && AUrl[at] != u'#';
}

// RFC 2396 section 5.2 step 6: './' and 'seg/../' go; '..' above the root stays.
String RemoveDotSegments(StringView APath) {
  std::vector<StringView> segs;
  size_t start = 0;
  for (size_t i = 0; i <= APath.size(); ++i)
    if (i == APath.size() || APath[i] == u'/') {
      segs.push_back(APath.substr(start, i - start));
      start = i + 1;
    }
  // segs[0] is "" for an absolute path.
  std::vector<StringView> out;
  for (size_t i = 0; i < segs.size(); ++i) {
    const bool last = i + 1 == segs.size();
    StringView s = segs[i];
    if (s == u".") {
      if (last) out.push_back(StringView());
      continue;
    }
    if (s == u".." && out.size() > 1 && out.back() != u"..") {
      out.pop_back();
      if (last) out.push_back(StringView());
      continue;
    }
    out.push_back(s);
  }
  String r;
  for (size_t i = 0; i < out.size(); ++i) {
    if (i) r += u'/';
    r += out[i];
  }
  return r;
}

// Path and the rest of an address, the fragment left out when it comes before any query.
void SplitPathQuery(StringView AUrl, size_t AFrom, StringView& APath, StringView& AQuery, bool& AHasQuery) {
  size_t q = AUrl.find(u'?', AFrom);
  size_t f = AUrl.find(u'#', AFrom);
  if (f != StringView::npos && (q == StringView::npos || f < q)) {
    APath = AUrl.substr(AFrom, f - AFrom);
    AQuery = StringView();
    AHasQuery = false;
    return;
  }
  AHasQuery = q != StringView::npos;
  APath = AUrl.substr(AFrom, (AHasQuery ? q : AUrl.size()) - AFrom);
  AQuery = AHasQuery ? AUrl.substr(q + 1) : StringView();
}

// Where the path of an absolute 'scheme://authority…' address starts.
size_t PathStart(StringView AUrl) {
  size_t at = AUrl.find(u"://");
  if (at == StringView::npos) return StringView::npos;
  at += 3;
  while (at < AUrl.size() && AUrl[at] != u'/' && AUrl[at] != u'?' && AUrl[at] != u'#') ++at;
  return at;
}

// The address as it goes on the wire: path in UTF-8, the query as it is when
// already encoded, else encoded in the charset.
String EncodeUrl(StringView AUrl, StringView ACharset) {
  const size_t at = PathStart(AUrl);
  StringView path, query;
  bool hasQuery;
  SplitPathQuery(AUrl, at, path, query, hasQuery);
  String out(AUrl.substr(0, at));
  out += EncodePart(path, u"utf-8", [](char16_t c) { return IsQuerySafe(c) && c != u'?'; }, u"%20");
  if (hasQuery) {
    out += u'?';
    if (IsEncodedQuery(query))
      out += query;
    else
      out += EncodePart(query, ACharset, IsQuerySafe, u"%20");
  }
  return out;
}

bool LooksLikeJson(StringView ABody) {
  const String t = Trim(ABody);
  return t.size() >= 2 && ((t.front() == u'{' && t.back() == u'}') || (t.front() == u'[' && t.back() == u']'));
}

bool LooksLikeXml(StringView ABody) {
  const String t = Trim(ABody);
  return t.size() >= 2 && t.front() == u'<' && t.back() == u'>';
}

// 'a=1&b=2': each name and value encoded in the charset, blanks as '+'.
Bytes EncodeForm(StringView ABody, StringView ACharset) {
  String out;
  size_t start = 0;
  for (size_t i = 0; i <= ABody.size(); ++i) {
    if (i < ABody.size() && ABody[i] != u'&') continue;
    StringView piece = ABody.substr(start, i - start);
    start = i + 1;
    if (piece.empty()) continue;
    size_t eq = piece.find(u'=');
    if (!out.empty()) out += u'&';
    out += EncodePart(piece.substr(0, eq), ACharset, IsFormSafe, u"+");
    out += u'=';
    if (eq != StringView::npos) out += EncodePart(piece.substr(eq + 1), ACharset, IsFormSafe, u"+");
  }
  return ToUtf8(out);
}

TSourceRequest NotProbeable(const char16_t* AWhy) {
  TSourceRequest r;
  r.WhyNot = AWhy;
  return r;
}

}  // namespace

Bytes CharsetBytes(StringView AText, StringView ACharset) {
  const String name = Trim(ACharset);
  if (name.empty() || SameTextAscii(name, u"utf-8") || SameTextAscii(name, u"utf8"))
    return ToUtf8(AText);
  if (SameTextAscii(name, u"gbk") || SameTextAscii(name, u"gb2312") || SameTextAscii(name, u"cp936"))
    return AnsiEncode(AText);
  // Only plain charset names reach iconv.
  if (name.size() > 40) return ToUtf8(AText);
  std::string ascii;
  for (char16_t c : name) {
    if (!(IsAsciiAlnum(c) || c == u'-' || c == u'_' || c == u'.' || c == u':')) return ToUtf8(AText);
    ascii += char(c);
  }
  Bytes out;
  if (EncodeCharset(AText, ascii.c_str(), out)) return out;
  return ToUtf8(AText);
}

String EncodeInCharset(StringView AText, StringView ACharset) {
  return EncodePart(AText, ACharset, IsAsciiAlnum, u"%20");
}

String ResolveSourceUrl(StringView ABaseUrl, StringView ARef) {
  const String ref = Trim(ARef);
  if (StartsWithScheme(ref)) return ref;
  String base = Trim(ABaseUrl);
  size_t cut = base.find_first_of(u"#,");
  if (cut != String::npos) base.resize(cut);
  const size_t pathAt = PathStart(base);
  if (pathAt == String::npos || !StartsWithScheme(base)) return String();
  StringView basePath, baseQuery;
  bool baseHasQuery;
  SplitPathQuery(base, pathAt, basePath, baseQuery, baseHasQuery);
  const StringView authority = StringView(base).substr(0, pathAt);
  if (ref.size() >= 2 && ref[0] == u'/' && ref[1] == u'/') return base.substr(0, base.find(u':') + 1) + ref;
  if (ref.empty() || ref[0] == u'#') return String(authority) + String(basePath) + (baseHasQuery ? u"?" + String(baseQuery) : String());
  size_t restAt = ref.find_first_of(u"?#");
  StringView refPath = StringView(ref).substr(0, restAt);
  StringView rest = restAt == String::npos ? StringView() : StringView(ref).substr(restAt);
  String path;
  if (!refPath.empty() && refPath[0] == u'/') {
    path = refPath;
  } else {
    size_t slash = basePath.rfind(u'/');
    path = slash == StringView::npos ? String(u"/") : String(basePath.substr(0, slash + 1));
    path += refPath;
  }
  return String(authority) + RemoveDotSegments(path) + String(rest);
}

TSourceRequest BuildSearchRequest(StringView ABaseUrl, StringView ASearchUrl,
                                  const THeaderList& ASourceHeaders, bool AHeaderIsScript,
                                  StringView AKeyword, int APage) {
  if (Trim(ASearchUrl).empty()) return NotProbeable(kWhyAddress);
  if (AHeaderIsScript) return NotProbeable(kWhyScript);
  if (ContainsNoCase(ASearchUrl, u"<js>") || ContainsNoCase(ASearchUrl, u"@js:"))
    return NotProbeable(kWhyScript);
  String text(ASearchUrl);
  if (!ApplyTemplates(text, AKeyword, APage)) return NotProbeable(kWhyScript);
  text = ApplyPageLists(text, APage);

  std::unique_ptr<JSONObject> options;
  const size_t optionsAt = FindOptions(text);
  if (optionsAt != String::npos) {
    size_t brace = text.find(u'{', optionsAt);
    options = ParseObjectText(StringView(text).substr(brace));
    text.resize(optionsAt);
  }

  TSourceRequest r;
  r.Method = u"GET";
  String charset, body;
  r.Headers.reserve(ASourceHeaders.size() + 1);
  for (const auto& h : ASourceHeaders) PutHeader(r.Headers, h.first, h.second);
  if (options) {
    const JSONObject& o = *options;
    if (IsTruthy(o.GetItem(u"webView")) || !Trim(ValueText(o.GetItem(u"webJs"))).empty())
      return NotProbeable(kWhyBrowser);
    if (!Trim(ValueText(o.GetItem(u"js"))).empty()) return NotProbeable(kWhyScript);
    if (SameTextAscii(Trim(ValueText(o.GetItem(u"method"))), u"post")) r.Method = u"POST";
    charset = Trim(ValueText(o.GetItem(u"charset")));
    if (PJSONValue h = o.GetItem(u"headers")) {
      if (JSONObject* ho = h->AsJsonObject(); ho && h->Type() == jdtObject)
        PutHeaders(r.Headers, *ho);
      else if (h->Type() == jdtString)
        if (auto parsed = ParseObjectText(h->AsString())) PutHeaders(r.Headers, *parsed);
    }
    if (PJSONValue b = o.GetItem(u"body"); b && b->Type() != jdtNull && b->Type() != jdtUnknown) {
      body = b->Type() == jdtObject ? b->GetObject()->EncodeCompact() : b->AsString();
    }
    if (PJSONValue t = o.GetItem(u"retry")) {
      int64_t n = 0;
      if (t->Type() == jdtInteger || t->Type() == jdtFloat) {
        n = t->AsInt64();
      } else if (t->Type() == jdtString) {
        const std::string s = ToUtf8(Trim(t->AsString()));
        std::from_chars(s.data(), s.data() + s.size(), n);
      }
      r.Retry = n < 0 ? 0 : n > 100 ? 100 : int(n);
    }
  }

  const String url = ResolveSourceUrl(ABaseUrl, text);
  if (!IsHttpUrl(url)) return NotProbeable(kWhyAddress);
  r.Url = EncodeUrl(url, charset);

  if (const String* ua = FindHeader(r.Headers, u"User-Agent")) {
    if (SameTextAscii(Trim(*ua), u"null"))
      std::erase_if(r.Headers, [](const auto& h) { return SameTextAscii(h.first, u"User-Agent"); });
  } else {
    r.Headers.emplace_back(u"User-Agent", kDefaultUserAgent);
  }

  if (r.Method == u"POST") {
    if (FindHeader(r.Headers, u"Content-Type")) {
      r.Body = ToUtf8(body);
    } else if (LooksLikeJson(body)) {
      r.Body = ToUtf8(body);
      r.ContentType = u"application/json; charset=UTF-8";
    } else if (LooksLikeXml(body)) {
      r.Body = ToUtf8(body);
    } else {
      r.Body = EncodeForm(body, charset);
      r.ContentType = u"application/x-www-form-urlencoded";
    }
  }
  r.Probeable = true;
  return r;
}

std::vector<TExploreEntry> BuildExploreRequests(StringView ABaseUrl, StringView AExploreUrl,
                                                const THeaderList& ASourceHeaders,
                                                bool AHeaderIsScript) {
  std::vector<TExploreEntry> entries;
  if (StartsTextAscii(AExploreUrl, u"@js:") || StartsTextAscii(AExploreUrl, u"<js>")) {
    entries.push_back({String(), false, NotProbeable(kWhyScript)});
    return entries;
  }
  auto add = [&](String ATitle, StringView AUrl) {
    TExploreEntry e;
    e.Title = Trim(ATitle);
    const String url = Trim(AUrl);
    e.Heading = url.empty();
    if (!e.Heading) e.Request = BuildSearchRequest(ABaseUrl, url, ASourceHeaders, AHeaderIsScript, u"", 1);
    entries.push_back(std::move(e));
  };
  const String trimmed = Trim(AExploreUrl);
  if (trimmed.size() >= 2 && trimmed.front() == u'[' && trimmed.back() == u']') {
    std::unique_ptr<JSONBase> parsed(JSONBase::Parser(trimmed, false));
    if (!parsed || !parsed->IsJSONArray()) {
      entries.push_back({String(), false, NotProbeable(kWhyAddress)});
      return entries;
    }
    for (PJSONValue item : *parsed) {
      const JSONObject* o = item->Type() == jdtObject ? item->AsJsonObject() : nullptr;
      if (!o) continue;
      add(ValueText(o->GetItem(u"title")), ValueText(o->GetItem(u"url")));
    }
    return entries;
  }
  // Pieces between runs of '&&' and line feeds; 'title::url', further '::' parts dropped.
  StringView text = AExploreUrl;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = pos;
    while (end < text.size() && text[end] != u'\n' && !(text[end] == u'&' && end + 1 < text.size() && text[end + 1] == u'&'))
      ++end;
    StringView piece = text.substr(pos, end - pos);
    pos = end;
    while (pos < text.size() && (text[pos] == u'\n' || (text[pos] == u'&' && pos + 1 < text.size() && text[pos + 1] == u'&')))
      pos += text[pos] == u'\n' ? 1 : 2;
    if (Trim(piece).empty()) continue;
    size_t sep = piece.find(u"::");
    if (sep == StringView::npos) {
      add(String(piece), StringView());
      continue;
    }
    StringView url = piece.substr(sep + 2);
    url = url.substr(0, url.find(u"::"));
    add(String(piece.substr(0, sep)), url);
  }
  return entries;
}

TSourceRequest BuildSearchRequest2(StringView ABaseUrl, StringView ARuleSearchUrl,
                                   StringView AHttpUserAgent, StringView AKeyword, int APage) {
  const TAddressConversion a = ConvertAddress(ARuleSearchUrl);
  THeaderList headers;
  if (!Trim(AHttpUserAgent).empty()) headers.emplace_back(u"User-Agent", String(AHttpUserAgent));
  return BuildSearchRequest(ABaseUrl, a.Text, headers, false, AKeyword, APage);
}

namespace {

// The source's headers: `header` when it has one, else httpUserAgent.
THeaderList SourceHeaders(const JSONObject* ASource, bool& AScript) {
  AScript = false;
  const TBookSource3 view(const_cast<JSONObject*>(ASource));
  if (view.Has(u"header")) return view.Headers(&AScript);
  THeaderList headers;
  const String ua = view.Text(u"httpUserAgent");
  if (!Trim(ua).empty()) headers.emplace_back(u"User-Agent", ua);
  return headers;
}

}  // namespace

TSourceRequest SearchRequestOf(const JSONObject* ASource, StringView AKeyword, int APage) {
  const TBookSource3 view(const_cast<JSONObject*>(ASource));
  String address = view.Text(u"searchUrl");
  if (Trim(address).empty()) address = ConvertAddress(view.Text(u"ruleSearchUrl")).Text;
  if (Trim(address).empty()) return NotProbeable(kWhyAddress);
  bool script;
  const THeaderList headers = SourceHeaders(ASource, script);
  return BuildSearchRequest(view.Text(u"bookSourceUrl"), address, headers, script, AKeyword, APage);
}

std::vector<TExploreEntry> ExploreRequestsOf(const JSONObject* ASource) {
  const TBookSource3 view(const_cast<JSONObject*>(ASource));
  String entries = view.ExploreUrlText();
  if (Trim(entries).empty()) entries = ConvertExploreAddress(view.Text(u"ruleFindUrl")).Text;
  if (Trim(entries).empty()) return {};
  bool script;
  const THeaderList headers = SourceHeaders(ASource, script);
  return BuildExploreRequests(view.Text(u"bookSourceUrl"), entries, headers, script);
}
