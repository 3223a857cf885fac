#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "workers/KivWorker.h"

// Polls APred (running main-thread jobs meanwhile) until it holds or
// ATimeoutMs pass; generous bounds keep this robust on a loaded machine.
bool WaitUntil(const std::function<bool()>& APred, int ATimeoutMs = 10000);

inline void SleepMs(int AMs) { std::this_thread::sleep_for(std::chrono::milliseconds(AMs)); }

// A datum the pool destroys with jdfFreeAsObject; counts its destructions.
struct TCountedObject : TJobObject {
  explicit TCountedObject(std::atomic<int>* ADestroyed) : Destroyed(ADestroyed) {}
  ~TCountedObject() override { Destroyed->fetch_add(1); }
  std::atomic<int>* Destroyed;
};

// A datum released with jdfFreeAsInterface.
struct TCountedInterface : IJobInterface {
  std::atomic<int> Refs{1};
  void AddRef() override { Refs.fetch_add(1); }
  void Release() override { Refs.fetch_sub(1); }
};
