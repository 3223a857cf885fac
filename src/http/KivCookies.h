// The cookie jar of one HTTP client.
#pragma once

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "http/KivGMTTime.h"
#include "http/KivURI.h"
#include "support/KivNetStr.h"

struct TCookie {
  String Name;
  String Value;
  TDateTime Expires = 0;  // local time; 0 when not given
  String Domain;
  String Path;
  bool Secure = false;
  bool HttpOnly = false;
  // Set without a Domain attribute: sent to the exact host that set it only.
  bool HostOnly = false;

  String ToString() const { return Name + u"=" + Value; }
};

class TCookies {
 public:
  void Add(const TCookie& Value) { FItems.push_back(Value); }
  TCookie GetItem(int32_t Index) const;
  void SetItem(int32_t Index, const TCookie& Value);
  void Delete(int32_t Index);
  void Clear() { FItems.clear(); }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // Each cookie's Name=Value followed by CR LF.
  String Text() const;

 private:
  void CheckIndex(int32_t Index) const;
  std::vector<TCookie> FItems;
};

// Domains are matched as RFC 6265 says: a host-only cookie goes to its own
// host, a Domain cookie to that domain and the names below it (never to an
// IP address other than itself). A Domain attribute must cover the host that
// sets it and must not be a public suffix (a single label such as "com", or a
// generic second level under a country code such as "com.cn" or "co.uk").
// The jar is bounded: past kMaxPerDomain cookies of one domain, or kMaxCookies
// in all, the oldest go first.
class TCookieManager {
 public:
  // Key Domain----Path----Name (compared ignoring case) and the stored cookie.
  using TCookieEntry = std::pair<String, TCookie>;
  static constexpr int kMaxPerAnswer = 50;  // Set-Cookie values the client stores from one answer
  static constexpr int kMaxPerDomain = 50;
  static constexpr int kMaxCookies = 3000;

  TCookieManager() : FBuilder(4096) {}
  ~TCookieManager() { Clear(); }
  TCookieManager(const TCookieManager&) = delete;
  TCookieManager& operator=(const TCookieManager&) = delete;

  void Clear();
  // Parses one Set-Cookie value received from URL and stores it; false when
  // its Domain is refused. A date that cannot exist raises and stores nothing.
  bool AddCookies(StringView Value, const TURI& URL);
  // 'a=1; b=2; ' for the cookies that match URL.
  String GetCookies(const TURI& URL);
  // Appends copies to List; returns List's count afterwards.
  int32_t GetCookies(const TURI& URL, TCookies& List);
  // A snapshot of the jar in insertion order.
  std::vector<TCookieEntry> Cookies() const;
  int32_t Count() const;

  // Parsing step of AddCookies, exposed for tests: Domain as given, or the
  // host (HostOnly) when none is given.
  static TCookie ParseSetCookie(StringView Value, const TURI& URL);
  // Whether a Domain cookie of Domain goes to Host (both in lower case).
  static bool DomainMatches(StringView Host, StringView Domain);
  static bool IsPublicSuffix(StringView Domain);

 private:
  template <typename Visit>
  void ForEachMatch(const TURI& URL, Visit&& V);

  mutable std::mutex FLocker;
  TStringCatHelperW FBuilder;
  std::vector<TCookieEntry> FCookies;
};
