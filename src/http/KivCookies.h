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

class TCookieManager {
 public:
  // Key Domain----Path----Name (compared ignoring case) and the stored cookie.
  using TCookieEntry = std::pair<String, TCookie>;

  TCookieManager() : FBuilder(4096) {}
  ~TCookieManager() { Clear(); }
  TCookieManager(const TCookieManager&) = delete;
  TCookieManager& operator=(const TCookieManager&) = delete;

  void Clear();
  // Parses one Set-Cookie value; a date that cannot exist raises and stores nothing.
  void AddCookies(StringView Value, const TURI& URL);
  // 'a=1; b=2; ' for the cookies that match URL.
  String GetCookies(const TURI& URL);
  // Appends copies to List; returns List's count afterwards.
  int32_t GetCookies(const TURI& URL, TCookies& List);
  // A snapshot of the jar in insertion order.
  std::vector<TCookieEntry> Cookies() const;
  int32_t Count() const;

  // Parsing step of AddCookies, exposed for tests.
  static TCookie ParseSetCookie(StringView Value, const TURI& URL);

 private:
  template <typename Visit>
  void ForEachMatch(const TURI& URL, Visit&& V);

  mutable std::mutex FLocker;
  TStringCatHelperW FBuilder;
  std::vector<TCookieEntry> FCookies;
};
