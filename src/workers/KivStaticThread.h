// The pool's monitor thread. Private to the worker layer.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "workers/KivSync.h"

class TKIVWorkers;

// The monitor thread: adds workers while the pool is saturated and the
// processors are not busy.
class TStaticThread {
 public:
  explicit TStaticThread(TKIVWorkers* AOwner);
  ~TStaticThread();
  void CheckNeeded() { FEvent.SetEvent(); }
  void Terminate();
  // Waits up to ATimeout ms for the thread to end (pumping on the main thread).
  bool WaitEnd(uint32_t ATimeout);
  // Processor load in percent since the previous call (from /proc/stat).
  int GetCPUUsage();

 private:
  void Execute();

  TKIVWorkers* FOwner;
  TEvent FEvent{false};
  TEvent FEnded{true};
  std::atomic<bool> FTerminated{false};
  uint64_t FLastIdle = 0, FLastKernel = 0, FLastUser = 0;
  bool FHasTimes = false;
  std::thread FThread;
};
