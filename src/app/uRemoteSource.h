// Book-source files fetched from http(s) addresses, and source lists
// ({"sourceUrls": [...]}) that name such addresses. Both programs load an
// address wherever they load a file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
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

// A load that was cancelled: nothing it read counts.
class ELoadCancelled : public Exception {
 public:
  ELoadCancelled() : Exception(u"已取消") {}
};

// What a load in the background is told and tells.
struct TLoadControl {
  // Set from any thread: the transfer under way ends with its next bytes
  // and no further address is fetched (ELoadCancelled).
  const std::atomic<bool>* Cancelled = nullptr;
  // On the loading thread, before each address is fetched.
  std::function<void(const String& AAddress)> OnFetch;
  bool IsCancelled() const { return Cancelled && Cancelled->load(); }
};

// The body of AAddress, gzip undone, as bytes for the loader's encoding
// detection. Redirects are followed, proxies come from the environment.
// Throws Exception naming the address: a status other than 2xx, a network
// error, a certificate that failed verification, a body over MaxBytes;
// ELoadCancelled once ACancelled is set.
Bytes FetchRemote(const String& AAddress, const TRemoteOptions& AOptions,
                  const std::atomic<bool>* ACancelled = nullptr);

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
// file or address itself failing throws, and so does a cancel.
std::vector<TLoadedPart> LoadSourcesFrom(const String& AName, const TRemoteOptions& AOptions,
                                         const TLoadControl& AControl = {});

// LoadSourcesFrom on the worker pool, so that a window stays responsive
// while addresses are fetched. The notices come back as main-thread jobs.
// Cancel lets go at once and never waits: the transfer ends within a poll
// step of the client (also while a server has not answered yet), no further
// address is fetched and nothing is handed over.
class TRemoteLoadJob {
 public:
  // On the main thread, once: the parts, or why the whole load failed.
  using TDone = std::function<void(std::vector<TLoadedPart>& AParts, const String& AError)>;
  // On the main thread: the address being fetched now.
  using TFetching = std::function<void(const String& AAddress)>;

  // Posts the load; throws when the pool takes no job.
  TRemoteLoadJob(const String& AName, const TRemoteOptions& AOptions, TFetching AOnFetch, TDone AOnDone);
  // Cancels.
  ~TRemoteLoadJob();
  TRemoteLoadJob(const TRemoteLoadJob&) = delete;
  TRemoteLoadJob& operator=(const TRemoteLoadJob&) = delete;

  // Main thread: neither done nor cancelled.
  bool Running() const;
  // Main thread: no notice comes any more.
  void Cancel();

 private:
  struct TState;
  static void Run(const std::shared_ptr<TState>& AState, const String& AName, const TRemoteOptions& AOptions);
  std::shared_ptr<TState> FState;
};
