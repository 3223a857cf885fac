// The worker pool: the process-wide pool of worker threads with a monitor
// thread, its start-up and shutdown and the hand-over of jobs to the main
// thread. The umbrella header of the layer: it brings in the jobs and queues,
// the signals and the job groups as well.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "support/KivHash.h"
#include "support/KivTypes.h"
#include "workers/KivJobGroup.h"
#include "workers/KivJobs.h"
#include "workers/KivSignals.h"
#include "workers/KivSync.h"

class TStaticThread;

// ---- module start-up and shutdown ---------------------------------------

// Starts the clock, counts the processors, creates GlobalJobPool and then
// GlobalWorkers (2 workers). The calling thread becomes the main thread.
void KivWorkerInit();
// Frees GlobalWorkers, then GlobalJobPool.
void KivWorkerFinal();

// ---- main-thread hand-over ----------------------------------------------

bool IsMainThread();
// Runs every job queued for the main thread (on the main thread only).
void PumpMessages();
// Off the main thread a plain wait; on it, queued main-thread jobs run while waiting.
TWaitResult MsgWaitForEvent(TEvent& AEvent, uint32_t ATimeout);
// Called (from any thread) whenever a job is queued for the main thread, so a
// GUI loop can schedule PumpMessages.
void SetMainThreadWaker(std::function<void()> AWaker);

namespace kiv_detail {
// KivWorkerInit: the calling thread becomes the main thread.
void SetMainThread();
// A worker hands AJob over and waits for its private event.
void QueueForMainThread(PJob AJob, TKIVWorker* AWorker);
}  // namespace kiv_detail

// ---- workers ------------------------------------------------------------

constexpr uint32_t WORKER_ISBUSY = 0x001;
constexpr uint32_t WORKER_COM_INITED = 0x004;
constexpr uint32_t WORKER_LOOKUP = 0x008;
constexpr uint32_t WORKER_EXECUTING = 0x010;
constexpr uint32_t WORKER_FIRING = 0x040;
constexpr uint32_t WORKER_RUNNING = 0x080;
constexpr uint32_t WORKER_CLEANING = 0x100;

class TKIVWorker {
 public:
  TKIVWorker(const TKIVWorker&) = delete;
  TKIVWorker& operator=(const TKIVWorker&) = delete;

  bool IsBusy() const { return HasFlag(WORKER_ISBUSY); }
  bool IsIdle() const { return !IsBusy(); }
  bool ComInitialized() const { return HasFlag(WORKER_COM_INITED); }
  bool IsLookuping() const { return HasFlag(WORKER_LOOKUP); }
  bool IsExecuting() const { return HasFlag(WORKER_EXECUTING); }
  bool IsFiring() const { return HasFlag(WORKER_FIRING); }
  bool IsRunning() const { return HasFlag(WORKER_RUNNING); }
  bool IsCleaning() const { return HasFlag(WORKER_CLEANING); }
  bool Terminated() const { return FTerminated.load(); }
  int64_t StartTime() const { return FStartTime; }
  int64_t LastExecTime() const { return FLastExecTime.load(); }
  TKIVWorkers* Owner() const { return FOwner; }
  // There is no COM here; only the flag is kept.
  void ComNeeded(uint32_t AInitFlags = 0);

 private:
  friend class TKIVWorkers;
  friend struct TJob;
  friend class TMainThreadQueue;
  TKIVWorker(TKIVWorkers* AOwner);
  ~TKIVWorker();

  bool HasFlag(uint32_t F) const { return (FFlags.load() & F) != 0; }
  // Only the worker's own thread writes its flags: no read-modify-write needed.
  void SetFlag(uint32_t F) { FFlags.store(FFlags.load(std::memory_order_relaxed) | F, std::memory_order_release); }
  void ClearFlag(uint32_t F) {
    FFlags.store(FFlags.load(std::memory_order_relaxed) & ~F, std::memory_order_release);
  }
  void Execute();
  TWaitResult WaitSignal(int64_t ATimeout, bool AByRepeatJob);
  // Polls the simple queue briefly before sleeping; true when work appeared.
  bool SpinForJobs();
  // GivenUp: by shutdown; the thread leaves at once.
  enum class TJobStep { Ran, NoJob, GivenUp };
  TJobStep DoJobStep();
  void RunJob(PJob AJob);
  // Runs the job; what it raised, as an Exception.
  std::optional<Exception> RunJobCaught(PJob AJob);
  void ClearActiveJob();
  bool EnterOwner();
  void LeaveOwner() { FInOwner.store(false, std::memory_order_release); }

  TKIVWorkers* const FOwner;
  TEvent FEvent{false};
  TEvent FPrivateEvent{false};  // a main-thread job has run
  std::atomic<uint32_t> FFlags{0};
  int64_t FTimeout = 1000;
  int64_t FFireDelay = 0;
  int64_t FChainEnd = -1;  // end of the previous job of an unbroken run, else -1
  std::atomic<PJob> FTerminatingJob{nullptr};
  std::atomic<bool> FPending{false};
  std::atomic<bool> FTerminated{false};
  // Given up by shutdown, the thread never touches its owner again and is not freed.
  enum class TExitState { Running, Leaving, GivenUp };
  std::atomic<TExitState> FExitState{TExitState::Running};
  // Set while the thread may touch its owner; shutdown waits for it to clear.
  std::atomic<bool> FInOwner{false};
  std::atomic<int64_t> FProcessed{0};
  const int64_t FStartTime;
  std::atomic<int64_t> FLastExecTime{0};
  std::atomic<int64_t> FLastActiveTime{0};
  std::atomic<PJob> FActiveJob{nullptr};
  std::atomic<void*> FActiveJobCode{nullptr};
  std::atomic<void*> FActiveJobObject{nullptr};
  std::atomic<void*> FActiveJobData{nullptr};
  std::atomic<PJob> FActiveJobSource{nullptr};
  std::atomic<TJobGroup*> FActiveJobGroup{nullptr};
  std::atomic<int32_t> FActiveJobFlags{0};
  std::atomic<uintptr_t> FHandle{0};
};

struct TWorkerStateItem {
  uint32_t Flags;
  uintptr_t Handle;
  int32_t ActiveJobFlags;
  int64_t ActiveJobTime;
  TJobMethod ActiveJobProc;
  TJobMethod TerminatingJobProc;
  int64_t StartTime;
  int64_t LastExecTime;
};
using TWorkerStateList = std::vector<TWorkerStateItem>;

using TWorkerErrorNotify = std::function<void(PJob AJob, const Exception& E, TJobErrorSource ASource)>;
using TCustomFreeDataEvent = std::function<void(TKIVWorkers* ASender, TJobDataFreeType AFreeType, void* AData)>;

// ---- the manager --------------------------------------------------------

class TKIVWorkers {
 public:
  explicit TKIVWorkers(int AMinWorkers = 2);
  ~TKIVWorkers();
  TKIVWorkers(const TKIVWorkers&) = delete;
  TKIVWorkers& operator=(const TKIVWorkers&) = delete;

  static TKIVWorkers* GetInstance();

  TJobHandle Post(TJobProcRef AJobProc, void* AData = nullptr, bool ARunInMainThread = false, int64_t ADelay = 0,
                  int64_t AInterval = 0, TJobDataFreeType AFreeType = jdfFreeByUser);
  // First run at the next occurrence of ATime's time of day (a date-time number).
  TJobHandle Post(TJobProcRef AJobProc, void* AData, double ATime, int64_t AInterval, bool ARunInMainThread = false,
                  TJobDataFreeType AFreeType = jdfFreeByUser);
  TJobHandle PostLongJob(TJobProcRef AJobProc, void* AData = nullptr, TJobDataFreeType AFreeType = jdfFreeByUser);
  TJobHandle PostWait(TJobProcRef AJobProc, int ASignalId, bool ARunInMainThread = false);

  int RegisterSignal(const String& AName);
  void SendSignal(int AId, void* AData = nullptr, TJobDataFreeType AFreeType = jdfFreeByUser);
  void SendSignal(const String& AName, void* AData = nullptr, TJobDataFreeType AFreeType = jdfFreeByUser);

  void Clear(bool AWaitRunningDone = true);
  int Clear(void* AObject, int AMaxTimes = -1, bool AWaitRunningDone = true);
  int Clear(const TJobMethod& AProc, void* AData, int AMaxTimes = -1, bool AWaitRunningDone = true);
  int Clear(TJobProcG AProc, void* AData, int AMaxTimes = -1, bool AWaitRunningDone = true) {
    return Clear(MakeJobProc(AProc), AData, AMaxTimes, AWaitRunningDone);
  }
  int Clear(const String& ASignalName, bool AWaitRunningDone);
  int Clear(int ASignalId, bool AWaitRunningDone);
  bool Clear(TJobHandle AHandle, bool AWaitRunningDone);

  // Parallel for over [AStartIndex, AStopIndex].
  TWaitResult For(intptr_t AStartIndex, intptr_t AStopIndex, TForProcRef AWorkerProc, void* AData = nullptr,
                  bool AMsgWait = false, TJobDataFreeType AFreeType = jdfFreeByUser);

  void DisableWorkers();
  void EnableWorkers();
  bool Enabled() const { return FDisableCount.load() == 0; }
  void SetEnabled(bool AValue) { AValue ? EnableWorkers() : DisableWorkers(); }

  int MaxWorkers() const { return FMaxWorkers.load(); }
  void SetMaxWorkers(int AValue);
  int MinWorkers() const { return FMinWorkers.load(); }
  void SetMinWorkers(int AValue);
  int MaxLongtimeWorkers() const { return FMaxLongtimeWorkers.load(); }
  void SetMaxLongtimeWorkers(int AValue);
  int FireTimeout() const { return FFireTimeout.load(); }
  void SetFireTimeout(int AValue);
  // How long shutdown waits for workers before it gives up on them (ms).
  uint32_t ForceQuitTimeout() const { return FForceQuitTimeout.load(); }
  void SetForceQuitTimeout(uint32_t AValue) { FForceQuitTimeout = AValue; }
  bool Terminating() const { return FTerminating.load(); }
  int CPUNum() const { return FCPUNum; }
  int BusyWorkerCount() const { return FBusyCount.load(); }
  int IdleWorkerCount() const { return FWorkerCount.load() - FBusyCount.load(); }
  int WorkerCount() const { return FWorkerCount.load(); }
  int SimpleJobCount() const { return FSimpleJobs ? FSimpleJobs->GetCount() : 0; }
  int RepeatJobCount() const { return FRepeatJobs ? FRepeatJobs->GetCount() : 0; }
  int SignalJobCount();
  int LongTimeJobCount() const { return FLongTimeWorkers.load(); }

  TWorkerStateList GetWorkerState();
  static int JobPoolCount();
  static String GetJobPorcInfo(const TJobMethod& AJobProc);

  // Shutdown's first step; Destroy (the destructor) calls it.
  void StopWorkers();

  // Release of jobs and data (they use OnCustomFreeData and OnError).
  void FreeJob(PJob AJob);
  void FreeJobData(void* AData, TJobDataFreeType AFreeType);
  static void SetJobFreeType(PJob AJob, void* AData, TJobDataFreeType AFreeType);

  TSimpleJobs* SimpleJobs() const { return FSimpleJobs; }
  TRepeatJobs* RepeatJobs() const { return FRepeatJobs; }

  // Set these before posting; workers read them while running.
  TWorkerErrorNotify OnError;
  TCustomFreeDataEvent OnCustomFreeData;

 private:
  friend class TKIVWorker;
  friend class TStaticThread;
  friend class TJobGroup;
  friend class TForJobs;
  friend struct TJob;
  friend class TMainThreadQueue;

  TJobHandle DoPost(PJob AJob);
  PJob NewJob(TJobProcRef& AProc, void* AData, TJobDataFreeType AFreeType, int32_t AFlags);
  bool LookupIdleWorker();
  TKIVWorker* NewWorker();
  void RetireWorker(TKIVWorker* AWorker);
  void WorkerExited(TKIVWorker* AWorker);
  PJob TakeJob(int64_t ANow = -1);
  void ReportError(PJob AJob, const Exception& E, TJobErrorSource ASource);
  void ForceQuit();
  void JobBookkeeping(PJob AJob, int64_t ANow);

  // signals and running jobs
  PSignal SignalById(int AId);
  int FindSignal(const String& AName);
  void FireSignal(PSignal ASignal, void* AData, TJobDataFreeType AFreeType);
  void AfterSignalRun(PJob AJob, int64_t AUsedTime);
  int ClearSignalJob(PJob AFirst, bool AWaitRunningDone);
  int ClearChainsByMatch(const kiv_detail::TJobMatch& AMatch, int AMaxTimes);
  // Which running jobs a removal waits for: AParam1 is the object, the
  // procedure (with AParam2 its datum), the signal job copied, the group or the job.
  enum TWaitKind : int { wkObject = 0, wkProc = 1, wkSource = 2, wkGroup = 3, wkJob = 4, wkAll = 255 };
  bool HasJobRunning(TWaitKind AWaitType, const void* AParam1, void* AParam2, bool& AMarkOnly);
  void WaitRunningJobs(TWaitKind AWaitType, const void* AParam1, void* AParam2, bool AMarkOnly);
  // While a waiting Clear of an object or procedure runs, posts of what it
  // clears are refused: a running job posting its successor on the way out
  // would otherwise outlive the Clear (and run on a freed object).
  class TClearingScope;
  bool RefusedWhileClearing(PJob AJob);
  template <class TClearIn>
  int ClearAndWait(const kiv_detail::TJobMatch& AMatch, TClearIn&& AClearIn, int AMaxTimes, bool AWaitRunningDone,
                   TWaitKind AWaitType, const void* AParam1, void* AParam2);

  std::vector<TKIVWorker*> FWorkers;
  std::atomic<int> FWorkerCount{0};
  std::atomic<int> FDisableCount{0};
  std::atomic<int> FBusyCount{0};
  std::atomic<int> FFiringWorkerCount{0};
  std::atomic<int> FPendingCount{0};  // workers woken and not yet started on jobs
  std::atomic<int> FTimedWaiters{0};  // workers sleeping until the first timed job is due
  std::atomic<int> FSpinners{0};      // idle workers polling the simple queue instead of sleeping
  std::atomic<int> FMinWorkers{2};
  std::atomic<int> FMaxWorkers{0};
  int FMaxSignalId = 0;
  std::atomic<int> FLongTimeWorkers{0};
  std::atomic<int> FMaxLongtimeWorkers{0};
  std::atomic<int> FFireTimeout{15000};
  std::atomic<uint32_t> FForceQuitTimeout{10000};
  std::atomic<bool> FTerminating{false};
  std::mutex FClearingLock;
  std::vector<const kiv_detail::TJobMatch*> FClearing;  // under FClearingLock
  std::atomic<int> FClearingCount{0};
  int FCPUNum = 1;
  std::recursive_mutex FLocker;
  TSimpleJobs* FSimpleJobs = nullptr;
  TRepeatJobs* FRepeatJobs = nullptr;
  TKIVHashTable* FSignalJobs = nullptr;
  std::atomic<TStaticThread*> FStaticThread{nullptr};
  TEvent* FTerminateEvent = nullptr;
};

extern TKIVWorkers* GlobalWorkers;
