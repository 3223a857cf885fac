#include "workers/KivSync.h"

#include <chrono>

// Wakes the main thread when it waits for an event together with its job queue.
void KivNotifyMainWaiter();

void TEvent::SetEvent() {
  bool MainWaits;
  {
    std::lock_guard<std::mutex> L(FLock);
    FSignaled = true;
    MainWaits = FMainWaiters > 0;
    // Notify under the lock: a waiter may free the event as soon as it sees the state.
    if (FManualReset)
      FCond.notify_all();
    else
      FCond.notify_one();
  }
  if (MainWaits) KivNotifyMainWaiter();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> L(FLock);
  FSignaled = false;
}

bool TEvent::TryWait() {
  std::lock_guard<std::mutex> L(FLock);
  if (!FSignaled) return false;
  if (!FManualReset) FSignaled = false;
  return true;
}

bool TEvent::IsSet() {
  std::lock_guard<std::mutex> L(FLock);
  return FSignaled;
}

TWaitResult TEvent::WaitFor(uint32_t ATimeout) {
  std::unique_lock<std::mutex> L(FLock);
  if (ATimeout == KivInfinite) {
    FCond.wait(L, [this] { return FSignaled; });
  } else if (!FCond.wait_for(L, std::chrono::milliseconds(ATimeout), [this] { return FSignaled; })) {
    return wrTimeout;
  }
  if (!FManualReset) FSignaled = false;
  return wrSignaled;
}
