#include "http/KivCredentials.h"

#include <algorithm>

#include "http/KivHttpException.h"
#include "http/KivURI.h"
#include "http/transport/KivHttpTransport.h"
#include "support/KivStr.h"

namespace {

int CompareTextAscii(StringView a, StringView b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = LowerAscii(a[i]), y = LowerAscii(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

String HostOf(StringView URL) { return TURI{String(URL)}.Host(); }

bool LooseMatch(const TCredential& c, TAuthTargetType Target, StringView Realm, StringView URL,
                StringView User) {
  if (c.AuthTarget != Target) return false;
  if (!Realm.empty() && !c.Realm.empty() && !SameTextAscii(c.Realm, Realm)) return false;
  if (!URL.empty()) {
    String itemHost = HostOf(c.URL);
    if (!itemHost.empty() && !StartsTextAscii(HostOf(URL), itemHost)) return false;
  }
  if (!User.empty() && !SameTextAscii(c.UserName, User)) return false;
  return true;
}

bool ExactMatch(const TCredential& c, TAuthTargetType Target, StringView Realm, StringView URL,
                StringView User) {
  if (c.AuthTarget != Target) return false;
  if (!Realm.empty() && !SameTextAscii(c.Realm, Realm)) return false;
  if (!URL.empty() && (c.URL.empty() || URL.substr(0, c.URL.size()) != c.URL)) return false;
  if (!User.empty() && !SameTextAscii(c.UserName, User)) return false;
  return true;
}

bool SortsBefore(const TCredential& a, const TCredential& b) {
  if (a.Realm.empty() != b.Realm.empty()) return !a.Realm.empty();
  if (int r = CompareTextAscii(a.Realm, b.Realm)) return r < 0;
  if (int r = CompareTextAscii(a.URL, b.URL)) return r > 0;
  return CompareTextAscii(a.UserName, b.UserName) < 0;
}

}  // namespace

void TCredentialsStorage::Clear() {
  std::lock_guard<std::mutex> lock(FLocker);
  FItems.clear();
}

bool TCredentialsStorage::Add(const TCredential& ACredential) {
  if (ACredential.AuthTarget == att_Server &&
      (ACredential.UserName.empty() || ACredential.Password.empty()))
    throw EHTTPException(u"Credential without user or password");
  if (ExistCredentials(ACredential.AuthTarget, ACredential.Realm, ACredential.URL,
                       ACredential.UserName))
    return false;
  std::lock_guard<std::mutex> lock(FLocker);
  FItems.push_back(ACredential);
  return true;
}

bool TCredentialsStorage::Remove(TAuthTargetType AnAuthTargetType, StringView ARealm,
                                 StringView AURL, StringView AUser) {
  std::lock_guard<std::mutex> lock(FLocker);
  bool removed = false;
  for (size_t i = FItems.size(); i-- > 0;) {
    const TCredential& c = FItems[i];
    if (c.AuthTarget == AnAuthTargetType && SameTextAscii(c.Realm, ARealm) &&
        SameTextAscii(c.URL, AURL) && SameTextAscii(c.UserName, AUser)) {
      FItems.erase(FItems.begin() + i);
      removed = true;
    }
  }
  return removed;
}

TCredentialArray TCredentialsStorage::FindCredentials(TAuthTargetType AnAuthTargetType,
                                                      StringView ARealm, StringView AURL,
                                                      StringView AUser) const {
  std::lock_guard<std::mutex> lock(FLocker);
  TCredentialArray r;
  for (const TCredential& c : FItems)
    if (LooseMatch(c, AnAuthTargetType, ARealm, AURL, AUser)) r.push_back(c);
  return r;
}

bool TCredentialsStorage::ExistCredentials(TAuthTargetType AnAuthTargetType, StringView ARealm,
                                           StringView AURL, StringView AUser) const {
  std::lock_guard<std::mutex> lock(FLocker);
  return std::any_of(FItems.begin(), FItems.end(), [&](const TCredential& c) {
    return LooseMatch(c, AnAuthTargetType, ARealm, AURL, AUser);
  });
}

TCredential TCredentialsStorage::FindAccurateCredential(TAuthTargetType AnAuthTargetType,
                                                        StringView ARealm, StringView AURL,
                                                        StringView AUser) const {
  std::lock_guard<std::mutex> lock(FLocker);
  const TCredential* best = nullptr;
  for (const TCredential& c : FItems)
    if (ExactMatch(c, AnAuthTargetType, ARealm, AURL, AUser) &&
        (!best || c.URL.size() > best->URL.size()))
      best = &c;
  return best ? *best : TCredential{};
}

TCredentialArray TCredentialsStorage::SortCredentials(const TCredentialArray& ACredentials) {
  TCredentialArray r = ACredentials;
  if (r.size() >= 2) std::sort(r.begin(), r.end(), SortsBefore);
  return r;
}

void TCredentialsStorage::Sort() {
  std::lock_guard<std::mutex> lock(FLocker);
  std::sort(FItems.begin(), FItems.end(), SortsBefore);
}

TCredential TCredentialsStorage::GetCredential(int32_t Index) const {
  std::lock_guard<std::mutex> lock(FLocker);
  if (Index < 0 || size_t(Index) >= FItems.size())
    throw EHTTPException(Format(u"List index out of bounds (%d)", Index));
  return FItems[Index];
}

void TCredentialsStorage::SetCredential(int32_t Index, const TCredential& Value) {
  std::lock_guard<std::mutex> lock(FLocker);
  if (Index < 0 || size_t(Index) >= FItems.size())
    throw EHTTPException(Format(u"List index out of bounds (%d)", Index));
  FItems[Index] = Value;
}

int32_t TCredentialsStorage::Count() const {
  std::lock_guard<std::mutex> lock(FLocker);
  return int32_t(FItems.size());
}

uint32_t ChooseAuthScheme(uint32_t Supported) {
  for (uint32_t s : {AUTH_SCHEME_NEGOTIATE, AUTH_SCHEME_NTLM, AUTH_SCHEME_PASSPORT, AUTH_SCHEME_DIGEST})
    if (Supported & s) return s;
  return (Supported & AUTH_SCHEME_BASIC) ? uint32_t(AUTH_SCHEME_BASIC) : 0u;
}
