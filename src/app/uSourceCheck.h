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

#include "app/uCheckOutcome.h"
#include "support/KivTypes.h"

class JSONObject;
class THttpClient;
class THttpHeaders;

// What the check reads of a source, copied under the collection's lock.
struct TCheckTarget {
  String BookSourceName, BookSourceUrl, HttpUserAgent, RuleSearchUrl, RuleFindUrl;
  static TCheckTarget Of(const JSONObject* AItem);
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

class TSourceChecker {
 public:
  // One check with the given client; AOutLog (may be null) receives the
  // log lines, AOutcome (may be null) what the site probe found. With
  // ARaiseErr a failed probe raises its text.
  static bool Check(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader, bool ARaiseErr,
                    std::vector<String>* AOutLog, TCheckOutcome* AOutcome);
  // With a client of its own (6 s to connect when logging, else 30 s).
  static bool CheckSource(const JSONObject* AItem, bool ARaiseErr, std::vector<String>* AOutLog);

  void SetPolicy(const TCheckPolicy& APolicy) { FPolicy = APolicy; }
  const TCheckPolicy& Policy() const { return FPolicy; }
  // The time-outs of the policy; only the status is read.
  void PrepareClient(THttpClient& AHttp) const;
  // A check of the batch run under the policy. AStopping tells a wait for a
  // busy host to give up: the outcome is then Skipped.
  bool CheckWithPolicy(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader,
                       TCheckOutcome& AOutcome, const std::function<bool()>& AStopping);

 private:
  bool EnterHost(const String& AHost, const std::function<bool()>& AStopping);
  void LeaveHost(const String& AHost);

  TCheckPolicy FPolicy;
  std::mutex FHostLock;
  std::condition_variable FHostFree;
  std::unordered_map<String, int> FHostProbes;
};
