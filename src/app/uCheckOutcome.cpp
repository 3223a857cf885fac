#include "app/uCheckOutcome.h"

#include <algorithm>

const char* VerdictName(TCheckVerdict AVerdict) {
  switch (AVerdict) {
    case cvAlive:
      return "alive";
    case cvBlocked:
      return "blocked";
    case cvUnverifiable:
      return "unverifiable";
    case cvDead:
      break;
  }
  return "dead";
}

const char16_t* VerdictCaption(TCheckVerdict AVerdict) {
  switch (AVerdict) {
    case cvAlive:
      return u"有效";
    case cvBlocked:
      return u"受阻";
    case cvUnverifiable:
      return u"无法校验";
    case cvDead:
      break;
  }
  return u"失效";
}

int TCheckListeners::Add(TCheckListener AListener) {
  std::lock_guard<std::mutex> lock(FLock);
  FListeners.emplace_back(++FNextId, std::move(AListener));
  return FNextId;
}

void TCheckListeners::Remove(int AId) {
  std::lock_guard<std::mutex> lock(FLock);
  std::erase_if(FListeners, [AId](const auto& AEntry) { return AEntry.first == AId; });
}

void TCheckListeners::Publish(const TCheckOutcome& AOutcome) {
  std::lock_guard<std::mutex> lock(FLock);
  for (const auto& entry : FListeners) entry.second(AOutcome);
}

void TLastChecks::Record(const void* ASource, const TCheckOutcome& AOutcome) {
  TLastCheck& last = FBySource[ASource];
  last.Verdict = AOutcome.Verdict;
  last.Reason = AOutcome.Reason;
  last.ElapsedMs = AOutcome.ElapsedMs;
}

const TLastCheck* TLastChecks::Of(const void* ASource) const {
  auto it = FBySource.find(ASource);
  return it == FBySource.end() ? nullptr : &it->second;
}
