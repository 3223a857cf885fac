// What the check of one source found, as a value, and the list of listeners
// it is published to (the desktop, the batch program and tests at once).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "support/KivTypes.h"

enum TCheckVerdict : int { cvDead = 0, cvAlive = 1 };

struct TCheckOutcome {
  int32_t Position = -1;  // index of the source in the collection when it was checked
  String BookSourceName, BookSourceUrl;
  TCheckVerdict Verdict = cvDead;
  int32_t Status = 0;      // 0 when no answer came
  String FailText;         // empty when alive
  bool Requested = false;  // a request went out (the address was an http(s) one)
  int32_t Attempts = 0;    // probes of the site address
  int64_t ElapsedMs = 0;   // the whole check of this source, retries included
  bool Skipped = false;    // a stop came while it waited for its host: not checked, not marked

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
