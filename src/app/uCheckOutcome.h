// What the check of one source found, as a value, and the list of listeners
// it is published to (the desktop, the batch program and tests at once).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "support/KivTypes.h"

// What a check found: a live site, a dead one, one that refuses probes
// without browser state (the reader app gets through), or an address no
// probe can decide. Only dead sources get the group "失效".
enum TCheckVerdict : int { cvDead = 0, cvAlive = 1, cvBlocked = 2, cvUnverifiable = 3 };

// "alive", "dead", "blocked", "unverifiable" (reports).
const char* VerdictName(TCheckVerdict AVerdict);
// "有效", "失效", "受阻", "无法校验" (the log).
const char16_t* VerdictCaption(TCheckVerdict AVerdict);

struct TCheckOutcome {
  int32_t Position = -1;  // index of the source in the collection when it was checked
  String BookSourceName, BookSourceUrl;
  TCheckVerdict Verdict = cvDead;
  // Why, as a short stable word: ok; dns, refused, reset, timeout,
  // tls-handshake, http-<status>, redirect-loop, too-many-redirects, error;
  // bot-wall, rate-limited; not-http, script, redirect-private.
  String Reason;
  bool Confirmed = false;  // dead after a second probe in the confirmation pass
  String Note;             // e.g. "tls-untrusted": the site's certificate is not trusted
  int32_t Status = 0;      // 0 when no answer came
  String FailText;         // empty when alive
  bool Requested = false;  // a request went out (the address was an http(s) one)
  int32_t Attempts = 0;    // probes of the site address, both passes
  int64_t ElapsedMs = 0;   // the whole check of this source, retries included
  bool Skipped = false;    // a stop came while it waited for its host: not checked, not marked
  // Deep probes (when asked for): "pass", "fail:<reason>", "script", "none";
  // empty when not probed. They never decide the mark.
  String Search, Explore;

  bool Alive() const { return Verdict == cvAlive; }
};

using TCheckListener = std::function<void(const TCheckOutcome& AOutcome)>;

// Listeners are called on the check jobs' threads, one call at a time.
// Remove waits for a call in progress, so a listener removed is never called
// again; a listener must not add or remove listeners itself.
class TCheckListeners {
 public:
  int Add(TCheckListener AListener);
  void Remove(int AId);
  void Publish(const TCheckOutcome& AOutcome);

 private:
  std::mutex FLock;
  int FNextId = 0;
  std::vector<std::pair<int, TCheckListener>> FListeners;
};

// What a view shows of a source's last check in this session.
struct TLastCheck {
  TCheckVerdict Verdict = cvDead;
  String Reason;
  int64_t ElapsedMs = 0;
};

// The last check of each source, by identity (main thread). A source that
// leaves must be forgotten: its address may be reused by a new one.
class TLastChecks {
 public:
  void Record(const void* ASource, const TCheckOutcome& AOutcome);
  const TLastCheck* Of(const void* ASource) const;
  void Forget(const void* ASource) { FBySource.erase(ASource); }
  size_t Count() const { return FBySource.size(); }

 private:
  std::unordered_map<const void*, TLastCheck> FBySource;
};
