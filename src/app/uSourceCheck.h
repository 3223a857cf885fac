// The check of one source: an HTTP GET of its site address decides; a logged
// check also probes the search address and every discover entry. The batch
// policy (retries of answerless probes, a limit per host) lives here too.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "app/uBookSource3.h"
#include "app/uCheckOutcome.h"
#include "app/uSourceRequest.h"
#include "support/KivTypes.h"

class JSONObject;
class THttpClient;
class THttpHeaders;

// Which requests beside the site address a check probes.
enum TProbeSet : int { psSite = 0, psSearch = 1, psExplore = 2, psAll = 3 };

// What the check reads of a source, copied under the collection's lock.
struct TCheckTarget {
  String BookSourceName, BookSourceUrl, HttpUserAgent, RuleSearchUrl, RuleFindUrl;
  TSourceFormat Format = sfBare;
  // Format 3: the site probe sends the source's `header` (when it has one).
  bool HasHeader = false, HeaderScript = false;
  THeaderList Headers;
  // The built requests, when asked for (format 3 and mixed sources, and deep probes).
  bool HasRequests = false;
  TSourceRequest Search;
  std::vector<TExploreEntry> Explore;
  // ARequests: build the search and explore requests too (a logged test of
  // a format-3 source, a deep probe).
  static TCheckTarget Of(const JSONObject* AItem, bool ARequests = false);
};

struct TCheckPolicy {
  int32_t TimeoutMs = 30000;  // connect and receive, per probe
  // A probe that got no HTTP answer at all is tried again up to Retries
  // times after RetryPauseMs. At most PerHost probes run against one host at
  // a time (0: no limit). The desktop keeps the defaults: no retry, no limit.
  int32_t Retries = 0;
  int32_t RetryPauseMs = 500;
  int32_t PerHost = 0;
};

// At most a given number of probes against one host at a time.
class THostGate {
 public:
  void SetLimit(int32_t ALimit) { FLimit = ALimit; }
  // Waits for the host's turn; false when AStopping says to give up first.
  bool Enter(const String& AHost, const std::function<bool()>& AStopping);
  void Leave(const String& AHost);
  // The host of an address, as the gate counts it.
  static String HostOf(const String& AUrl);
  // Host and port: what one connection reaches.
  static String OriginOf(const String& AUrl);

 private:
  int32_t FLimit = 0;  // 0: no limit
  std::mutex FLock;
  std::condition_variable FFree;
  std::unordered_map<String, int> FProbes;
};

class TSourceChecker {
 public:
  // One check with the given client; AOutLog (may be null) receives the
  // log lines, AOutcome (may be null) what the site probe found. With
  // ARaiseErr a failed probe raises its text.
  static bool Check(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader, bool ARaiseErr,
                    std::vector<String>* AOutLog, TCheckOutcome* AOutcome);
  // With a client of its own (6 s to connect when logging, else 30 s); the
  // log ends with the conclusion line.
  static bool CheckSource(const JSONObject* AItem, bool ARaiseErr, std::vector<String>* AOutLog);
  // "结论: 失效 (timeout)": the class and the reason (and a note) of an outcome.
  static String ConclusionLine(const TCheckOutcome& AOutcome);
  // One probe of the site address for a batch run: the outcome's verdict,
  // reason and texts are replaced, its attempts counted on.
  static bool ProbeOnce(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader,
                        TCheckOutcome& AOutcome);
  // A deep probe of a built request: "pass" (a 2xx answer), "fail:<reason>",
  // "script" (needs a script engine or a browser) or "none" (no request).
  static String ProbeRequest(const TSourceRequest& ARequest, THttpClient& AHttp);
  // The deep probes AProbes asks for, into the outcome's Search and Explore.
  static void ProbeDeep(const TCheckTarget& ATarget, TProbeSet AProbes, THttpClient& AHttp, TCheckOutcome& AOutcome);

  void SetPolicy(const TCheckPolicy& APolicy);
  const TCheckPolicy& Policy() const { return FPolicy; }
  // The time-outs of the policy; only the status is read; any certificate
  // is taken; redirects to private addresses are not followed.
  void PrepareClient(THttpClient& AHttp) const;
  // A check of the batch run under the policy. AStopping tells a wait for a
  // busy host to give up: the outcome is then Skipped.
  bool CheckWithPolicy(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader,
                       TCheckOutcome& AOutcome, const std::function<bool()>& AStopping);

 private:
  TCheckPolicy FPolicy;
  THostGate FHosts;
};
