#include "app/uCheckOutcome.h"

#include <algorithm>

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
