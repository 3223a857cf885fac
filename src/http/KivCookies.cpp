#include "http/KivCookies.h"

#include <algorithm>
#include <initializer_list>

#include "support/KivStr.h"

// ---------------------------------------------------------------- TCookies

void TCookies::CheckIndex(int32_t Index) const {
  if (Index < 0 || Index >= Count())
    throw EHTTPException(Format(u"List index out of bounds (%d)", Index));
}

TCookie TCookies::GetItem(int32_t Index) const {
  CheckIndex(Index);
  return FItems[Index];
}

void TCookies::SetItem(int32_t Index, const TCookie& Value) {
  CheckIndex(Index);
  FItems[Index] = Value;
}

void TCookies::Delete(int32_t Index) {
  CheckIndex(Index);
  FItems.erase(FItems.begin() + Index);
}

String TCookies::Text() const {
  String r;
  for (const TCookie& c : FItems) r += c.ToString() + u"\r\n";
  return r;
}

// ---------------------------------------------------------------- TCookieManager

namespace {

inline bool IsTrimmed(char16_t c) { return c <= 32; }

String TrimItem(StringView S) {
  size_t b = 0, e = S.size();
  while (b < e && IsTrimmed(S[b])) ++b;
  while (e > b && IsTrimmed(S[e - 1])) --e;
  return String(S.substr(b, e - b));
}

// Items split at ';'; an item opening with a quote runs to its closing quote,
// which protects any ';' inside it. The quotes themselves are dropped.
std::vector<String> SplitCookieItems(StringView V) {
  std::vector<String> items;
  size_t p = 0, n = V.size();
  while (p <= n) {
    size_t s = p;
    while (s < n && IsTrimmed(V[s])) ++s;
    String item;
    if (s < n && V[s] == u'"') {
      size_t close = V.find(u'"', s + 1);
      if (close == StringView::npos) close = n;
      item = String(V.substr(s + 1, close - s - 1));
      size_t e = close < n ? V.find(u';', close + 1) : StringView::npos;
      if (e == StringView::npos) e = n;
      if (close < n) item += V.substr(close + 1, e - close - 1);
      p = e;
    } else {
      size_t e = V.find(u';', p);
      if (e == StringView::npos) e = n;
      item = String(V.substr(p, e - p));
      p = e;
    }
    items.push_back(TrimItem(item));
    ++p;  // past the ';' (or beyond the end)
  }
  return items;
}

String CookieKey(const TCookie& C) { return C.Domain + u"----" + C.Path + u"----" + C.Name; }

// Lower case, without the final dot of a fully qualified name.
String CanonicalHost(StringView Host) {
  String h = LowerCaseAscii(Host);
  while (!h.empty() && h.back() == u'.') h.pop_back();
  return h;
}

// IPv4 in dotted form, or any IPv6 text (TURI gives it without brackets).
bool IsAddressHost(StringView Host) {
  if (Host.find(u':') != StringView::npos) return true;
  if (Host.empty()) return false;
  int dots = 0;
  for (char16_t c : Host) {
    if (c == u'.')
      ++dots;
    else if (c < u'0' || c > u'9')
      return false;
  }
  return dots == 3;
}

bool IsAnyOf(StringView S, std::initializer_list<const char16_t*> List) {
  for (const char16_t* w : List)
    if (S == w) return true;
  return false;
}

}  // namespace

bool TCookieManager::IsPublicSuffix(StringView Domain) {
  const size_t dot = Domain.find(u'.');
  if (dot == StringView::npos) return true;
  // Registries under country codes hand out names below generic second levels.
  if (Domain.find(u'.', dot + 1) != StringView::npos) return false;
  const StringView second = Domain.substr(0, dot), top = Domain.substr(dot + 1);
  return top.size() == 2 &&
         IsAnyOf(second, {u"com", u"net", u"org", u"gov", u"edu", u"ac", u"co", u"mil", u"ne", u"or",
                          u"go", u"ed", u"gr", u"lg", u"gob", u"nic", u"idv", u"ltd", u"plc", u"sch",
                          u"nhs", u"info", u"biz", u"int", u"nom", u"gen"});
}

bool TCookieManager::DomainMatches(StringView Host, StringView Domain) {
  if (Host == Domain) return true;
  return !IsAddressHost(Host) && Host.size() > Domain.size() &&
         Host[Host.size() - Domain.size() - 1] == u'.' && Host.substr(Host.size() - Domain.size()) == Domain;
}

TCookie TCookieManager::ParseSetCookie(StringView Value, const TURI& URL) {
  TCookie cookie;
  cookie.Path = u"/";
  std::vector<String> items = SplitCookieItems(Value);
  for (size_t i = 0; i < items.size(); ++i) {
    const String& item = items[i];
    if (i == 0) {
      size_t eq = item.find(u'=');
      if (eq == String::npos) {
        cookie.Value = item;
      } else {
        cookie.Name = item.substr(0, eq);
        cookie.Value = item.substr(eq + 1);
      }
    } else if (StartsTextAscii(item, u"path=")) {
      cookie.Path = item.substr(5);
      for (char16_t& c : cookie.Path)
        if (c == u'\\') c = u'/';
    } else if (StartsTextAscii(item, u"Domain=")) {
      cookie.Domain = item.substr(7);
    } else if (StartsTextAscii(item, u"Expires=")) {
      String text = item.substr(8);
      try {
        cookie.Expires = ParseGMTTime(ToUtf8(text));
      } catch (const EHTTPException& e) {
        throw EHTTPException(Format(u"Invalid cookie expiry date \"%s\": %s", text, e.Message()));
      }
    }
  }
  if (cookie.Domain.empty()) {
    cookie.Domain = URL.Host();
    cookie.HostOnly = true;
  }
  return cookie;
}

bool TCookieManager::AddCookies(StringView Value, const TURI& URL) {
  TCookie cookie = ParseSetCookie(Value, URL);
  const String host = CanonicalHost(URL.Host());
  if (!cookie.HostOnly) {
    String domain = LowerCaseAscii(cookie.Domain);
    if (!domain.empty() && domain[0] == u'.') domain.erase(0, 1);
    if (domain.empty() || ((IsPublicSuffix(domain) || IsAddressHost(domain)) && domain == host)) {
      // A public suffix or an address names the setting host alone.
      cookie.HostOnly = true;
    } else if (IsPublicSuffix(domain) || IsAddressHost(domain) || !DomainMatches(host, domain)) {
      return false;
    }
    cookie.Domain = std::move(domain);
  }
  if (cookie.HostOnly) cookie.Domain = host;
  String key = CookieKey(cookie);
  std::lock_guard<std::mutex> lock(FLocker);
  int sameDomain = 0;
  for (TCookieEntry& entry : FCookies) {
    if (SameTextAscii(entry.first, key)) {
      entry.second = std::move(cookie);
      return true;
    }
    if (entry.second.Domain == cookie.Domain) ++sameDomain;
  }
  if (sameDomain >= kMaxPerDomain) {
    auto oldest = std::find_if(FCookies.begin(), FCookies.end(),
                               [&](const TCookieEntry& e) { return e.second.Domain == cookie.Domain; });
    FCookies.erase(oldest);
  } else if (int(FCookies.size()) >= kMaxCookies) {
    FCookies.erase(FCookies.begin());
  }
  FCookies.emplace_back(std::move(key), std::move(cookie));
  return true;
}

void TCookieManager::Clear() {
  std::lock_guard<std::mutex> lock(FLocker);
  FCookies.clear();
}

std::vector<TCookieManager::TCookieEntry> TCookieManager::Cookies() const {
  std::lock_guard<std::mutex> lock(FLocker);
  return FCookies;
}

int32_t TCookieManager::Count() const {
  std::lock_guard<std::mutex> lock(FLocker);
  return static_cast<int32_t>(FCookies.size());
}

// Caller holds the lock.
template <typename Visit>
void TCookieManager::ForEachMatch(const TURI& URL, Visit&& V) {
  const String host = CanonicalHost(URL.Host());
  String path = URL.Path();
  if (path.empty()) path = u"/";
  for (const TCookieEntry& entry : FCookies) {
    const TCookie& c = entry.second;
    bool domainOk = c.HostOnly ? c.Domain == host : DomainMatches(host, c.Domain);
    bool pathOk = StringView(path).substr(0, c.Path.size()) == c.Path;
    if (domainOk && pathOk) V(c);
  }
}

String TCookieManager::GetCookies(const TURI& URL) {
  std::lock_guard<std::mutex> lock(FLocker);
  FBuilder.Reset();
  ForEachMatch(URL, [this](const TCookie& c) {
    FBuilder.Cat(c.Name).Cat(u'=').Cat(c.Value).Cat(u"; ");
  });
  return FBuilder.Value();
}

int32_t TCookieManager::GetCookies(const TURI& URL, TCookies& List) {
  std::lock_guard<std::mutex> lock(FLocker);
  ForEachMatch(URL, [&List](const TCookie& c) { List.Add(c); });
  return List.Count();
}
