// Job groups (started together, waited for as one) and the parallel for.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "workers/KivJobs.h"
#include "workers/KivSync.h"

using TJobGroupNotify = std::function<void(TJobGroup* ASender)>;

// Jobs started together (or strictly one after another) and waited for as one.
class TJobGroup {
 public:
  explicit TJobGroup(bool AByOrder = false);
  TJobGroup(TKIVWorkers* AOwner, bool AByOrder);
  ~TJobGroup();
  TJobGroup(const TJobGroup&) = delete;
  TJobGroup& operator=(const TJobGroup&) = delete;

  // Prepare ... Add ... Run: the jobs start at Run.
  void Prepare();
  bool Add(TJobProcRef AProc, void* AData = nullptr, bool AInMainThread = false,
           TJobDataFreeType AFreeType = jdfFreeByUser);
  void Run(uint32_t ATimeout = KivInfinite);
  TWaitResult WaitFor(uint32_t ATimeout = KivInfinite);
  // On the main thread, main-thread jobs keep running while it waits.
  TWaitResult MsgWaitFor(uint32_t ATimeout = KivInfinite);
  void Cancel(bool AWaitRunningDone = true);

  int Count();
  bool ByOrder() const { return FByOrder; }
  int Runs() const { return FRuns.load(); }
  TWaitResult WaitResult() const { return FWaitResult.load(); }
  TKIVWorkers* Owner() const { return FOwner; }

  // Raised once for every end of the group (set it before adding jobs).
  TJobGroupNotify AfterDone;
  void* Tag = nullptr;

 private:
  friend class TKIVWorkers;
  void DoJobDone(PJob AJob);
  void DoTimeout(PJob AJob);
  void DoAfterDone();
  void StartRun();
  void EndGroup(TWaitResult AResult);
  bool PostJob(PJob AJob);
  static bool Pushed(PJob AJob) { return AJob->Queue != nullptr; }
  TWaitResult DoWait(uint32_t ATimeout, bool AMsgWait);

  TKIVWorkers* FOwner;
  std::mutex FLocker;
  TEvent FEvent{true, true};  // set while the group is not running
  const bool FByOrder;
  std::atomic<TWaitResult> FWaitResult{wrSignaled};
  std::atomic<bool> FTimeoutCheck{false};
  std::atomic<bool> FTimingOut{false};
  std::atomic<bool> FEnding{false};
  std::vector<PJob> FItems;
  std::atomic<int> FRuns{0};
  std::atomic<int> FPosted{0};
  std::atomic<int> FCanceled{0};
  std::atomic<int> FPrepareCount{0};
  std::atomic<int> FInside{0};  // worker calls in progress
};

// A procedure for every index of a range, on several workers at once.
class TForJobs {
 public:
  TForJobs(TKIVWorkers* AOwner, intptr_t AStartIndex, intptr_t AStopIndex, void* AData = nullptr,
           TJobDataFreeType AFreeType = jdfFreeByUser);
  TForJobs(intptr_t AStartIndex, intptr_t AStopIndex, void* AData = nullptr,
           TJobDataFreeType AFreeType = jdfFreeByUser);
  ~TForJobs();
  TForJobs(const TForJobs&) = delete;
  TForJobs& operator=(const TForJobs&) = delete;

  // Posts the loop jobs with AProc as the procedure for each index.
  void Start(TForProcRef AProc);
  TWaitResult Wait(bool AMsgWait = false);
  void BreakIt() { FBreaked.store(true); }

  intptr_t StartIndex() const { return FStartIndex; }
  intptr_t StopIndex() const { return FStopIndex; }
  bool Breaked() const { return FBreaked.load(); }
  // Loop jobs posted (0 for an empty range).
  int LoopJobs() const { return FLoopJobs; }
  uint32_t Runs() const;
  uint32_t TotalTime() const { return FWorkJob->TotalTime; }
  uint32_t AvgTime() const { return Runs() ? TotalTime() / Runs() : 0; }
  PJob WorkJob() const { return FWorkJob; }

 private:
  void DoJob(PJob AJob);
  void CallProc(intptr_t AIndex);

  TKIVWorkers* FOwner;
  intptr_t FStartIndex;
  intptr_t FStopIndex;
  std::atomic<intptr_t> FIterator;
  std::atomic<bool> FBreaked{false};
  TEvent FEvent{true};
  std::atomic<int> FWorkerCount{0};
  int FLoopJobs = 0;
  PJob FWorkJob;
};
