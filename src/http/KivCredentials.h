// Stored credentials for servers and proxies, and the choice of scheme.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "support/KivTypes.h"

enum TAuthTargetType { att_Proxy, att_Server };

struct TCredential {
  TAuthTargetType AuthTarget = att_Proxy;
  String Realm;
  String URL;
  String UserName;
  String Password;

  static TCredential Create(TAuthTargetType AnAuthTarget, StringView ARealm, StringView AURL,
                            StringView AUserName, StringView APassword) {
    return TCredential{AnAuthTarget, String(ARealm), String(AURL), String(AUserName),
                       String(APassword)};
  }
};
using TCredentialArray = std::vector<TCredential>;

class TCredentialsStorage {
 public:
  void Clear();
  // Raises "Credential without user or password" for such a server credential.
  bool Add(const TCredential& ACredential);
  bool Remove(TAuthTargetType AnAuthTargetType, StringView ARealm, StringView AURL,
              StringView AUser);
  TCredentialArray FindCredentials(TAuthTargetType AnAuthTargetType, StringView ARealm,
                                   StringView AURL, StringView AUser) const;
  bool ExistCredentials(TAuthTargetType AnAuthTargetType, StringView ARealm, StringView AURL,
                        StringView AUser) const;
  TCredential FindAccurateCredential(TAuthTargetType AnAuthTargetType, StringView ARealm,
                                     StringView AURL, StringView AUser) const;
  static TCredentialArray SortCredentials(const TCredentialArray& ACredentials);
  // Sorts the storage itself; under the lock, so that it is safe beside the other calls.
  void Sort();

  TCredential GetCredential(int32_t Index) const;
  void SetCredential(int32_t Index, const TCredential& Value);
  int32_t Count() const;

 private:
  mutable std::mutex FLocker;
  std::vector<TCredential> FItems;
};

// Negotiate, NTLM, Passport, Digest, then Basic; 0 when none is offered.
uint32_t ChooseAuthScheme(uint32_t Supported);
