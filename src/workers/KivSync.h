// Events and wait results for the worker pool: condition-variable events in
// the auto- and manual-reset flavours.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

enum TWaitResult { wrSignaled = 0, wrTimeout = 1, wrAbandoned = 2, wrError = 3, wrIOCompletion = 4 };

constexpr uint32_t KivInfinite = 0xFFFFFFFFu;

// A short-hold lock: spins briefly, then yields. The queues and the record
// pool hold it for a few pointer moves only, where sleeping in the kernel
// would cost far more than the work it guards.
class TSimpleLock {
 public:
  void lock() {
    for (int Spins = 0; FLocked.exchange(true, std::memory_order_acquire); ++Spins) {
      while (FLocked.load(std::memory_order_relaxed)) {
        if (++Spins < 64)
          Pause();
        else
          std::this_thread::yield();
      }
    }
  }
  bool try_lock() { return !FLocked.exchange(true, std::memory_order_acquire); }
  void unlock() { FLocked.store(false, std::memory_order_release); }

 private:
  static void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  std::atomic<bool> FLocked{false};
};

class TEvent;
TWaitResult MsgWaitForEvent(TEvent& AEvent, uint32_t ATimeout);

class TEvent {
 public:
  explicit TEvent(bool AManualReset, bool AInitialState = false)
      : FManualReset(AManualReset), FSignaled(AInitialState) {}
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  // KivInfinite waits without limit.
  TWaitResult WaitFor(uint32_t ATimeout);
  // Consumes the signal (auto-reset) if there is one; never blocks.
  bool TryWait();
  bool IsSet();

 private:
  friend TWaitResult MsgWaitForEvent(TEvent& AEvent, uint32_t ATimeout);
  std::mutex FLock;
  std::condition_variable FCond;
  const bool FManualReset;
  bool FSignaled;
  // Non-zero while the main thread waits for this event together with its job queue.
  std::atomic<int> FMainWaiters{0};
};
