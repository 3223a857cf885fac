// Book-source files fetched from http(s) addresses, and source lists
// ({"sourceUrls": [...]}) that name such addresses. Both programs load an
// address wherever they load a file.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "support/KivTypes.h"

class JSONArray;
class JSONBase;

// Shared collections run to some megabytes; anything past this is no list.
constexpr int64_t kRemoteMaxBytes = 256LL * 1024 * 1024;

struct TRemoteOptions {
  // Lists are fetched with the server certificate verified; the user may
  // take any certificate for a site he trusts anyway.
  bool AcceptAnyCertificate = false;
  int32_t TimeoutMs = 30000;
  int64_t MaxBytes = kRemoteMaxBytes;
};

// An http:// or https:// address (any case), as opposed to a file name.
bool IsRemoteAddress(StringView AName);
// The address as sent: without the '#requestWithoutUA' marker.
String AddressToSend(const String& AAddress);

// The body of AAddress, gzip undone, as bytes for the loader's encoding
// detection. Redirects are followed, proxies come from the environment.
// Throws Exception naming the address: a status other than 2xx, a network
// error, a certificate that failed verification, a body over MaxBytes.
Bytes FetchRemote(const String& AAddress, const TRemoteOptions& AOptions);

// The addresses a source list names, in order; false when ARoot is no such
// list (a source or an array). Entries that are no text stay as "" so the
// caller can name them.
bool SourceListOf(const JSONBase* ARoot, std::vector<String>& AAddresses);

// What one file, address or listed address gave.
struct TLoadedPart {
  String Name;                     // the file name or address
  std::unique_ptr<JSONArray> Sources;  // null when it failed
  int Values = 0;
  String Trailing;
  String Error;  // why nothing came from it
};

// Loads a file or an address. A source list (from either) loads each
// address it names, in order, each into its own part; a failing address
// gives a part with its Error and nothing else, the others load. A list
// whose addresses name lists again is refused (no deeper nesting). The
// file or address itself failing throws.
std::vector<TLoadedPart> LoadSourcesFrom(const String& AName, const TRemoteOptions& AOptions);
