// The worker pool: job records and their queues, the process-wide pool of
// worker threads with a monitor thread and the hand-over of jobs to the main
// thread, named signals and the removal of queued and running jobs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/KivHash.h"
#include "support/KivTypes.h"
#include "workers/KivRBTree.h"
#include "workers/KivSync.h"

class TKIVWorkers;
class TKIVWorker;
class TJobBase;
class TJobGroup;
class TForJobs;
class TStaticThread;
struct TJob;
using PJob = TJob*;

// ---- module start-up and shutdown ---------------------------------------

// Starts the clock, counts the processors, creates GlobalJobPool and then
// GlobalWorkers (2 workers). The calling thread becomes the main thread.
void KivWorkerInit();
// Frees GlobalWorkers, then GlobalJobPool.
void KivWorkerFinal();

// Milliseconds since KivWorkerInit.
int64_t GetTimestamp();
int ProcessorCount();

// ---- main-thread hand-over ----------------------------------------------

bool IsMainThread();
// Runs every job queued for the main thread (on the main thread only).
void PumpMessages();
// Off the main thread a plain wait; on it, queued main-thread jobs run while waiting.
TWaitResult MsgWaitForEvent(TEvent& AEvent, uint32_t ATimeout);
// Called (from any thread) whenever a job is queued for the main thread, so a
// GUI loop can schedule PumpMessages.
void SetMainThreadWaker(std::function<void()> AWaker);

// ---- jobs ---------------------------------------------------------------

constexpr int32_t JOB_RUN_ONCE = 0x01;
constexpr int32_t JOB_IN_MAIN_THREAD = 0x02;
constexpr int32_t JOB_LONGTIME = 0x08;
constexpr int32_t JOB_SIGNAL = 0x10;
constexpr int32_t JOB_TERMINATED = 0x20;
constexpr int32_t JOB_GROUP = 0x40;
constexpr int32_t JOB_ANON_PROC = 0x80;
constexpr int32_t JOB_DATA_OWNER = 0xF00;

enum TJobDataFreeType {
  jdfFreeByUser = 0,
  jdfFreeAsObject = 1,
  jdfFreeAsRecord = 2,
  jdfFreeAsInterface = 3,
  jdfFreeAsC1 = 4,
  jdfFreeAsC2 = 5,
  jdfFreeAsC3 = 6,
  jdfFreeAsC4 = 7,
  jdfFreeAsC5 = 8,
  jdfFreeAsC6 = 9
};

enum TJobErrorSource { jesExecute = 0, jesFreeData = 1, jesWaitDone = 2, jesAfterDone = 3 };

// Data freed with jdfFreeAsObject must be passed as a pointer to this base.
class TJobObject {
 public:
  virtual ~TJobObject() = default;
};

// Data freed with jdfFreeAsInterface must be passed as a pointer to this base.
class IJobInterface {
 public:
  virtual void AddRef() = 0;
  virtual void Release() = 0;

 protected:
  virtual ~IJobInterface() = default;
};

// A job procedure as two comparable words: method thunk + object, plain
// function + null, or (with JOB_ANON_PROC) a counted closure + null.
struct TJobMethod {
  void* Code = nullptr;
  void* Data = nullptr;
  bool operator==(const TJobMethod&) const = default;
  bool IsNull() const { return Code == nullptr; }
};
using TJobProc = TJobMethod;
using TJobProcG = void (*)(PJob);
using TJobProcA = std::function<void(PJob)>;
using TForJobProcG = void (*)(TForJobs*, PJob, intptr_t);
using TForJobProcA = std::function<void(TForJobs*, PJob, intptr_t)>;

namespace kiv_detail {
struct TClosureBase {
  std::atomic<int> Refs{1};
  virtual ~TClosureBase() = default;
  void AddRef() { Refs.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (Refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
};
template <class Fn>
struct TClosure : TClosureBase {
  explicit TClosure(Fn AProc) : Proc(std::move(AProc)) {}
  Fn Proc;
};

template <class T>
struct TMethodClass;
template <class C, class R, class... A>
struct TMethodClass<R (C::*)(A...)> {
  using Class = C;
};

template <auto M>
void JobMethodThunk(void* AObject, PJob AJob) {
  using C = typename TMethodClass<decltype(M)>::Class;
  (static_cast<C*>(AObject)->*M)(AJob);
}
template <auto M>
void ForMethodThunk(void* AObject, TForJobs* AFor, PJob AJob, intptr_t AIndex) {
  using C = typename TMethodClass<decltype(M)>::Class;
  (static_cast<C*>(AObject)->*M)(AFor, AJob, AIndex);
}

template <class F, class Fn, class... A>
concept ClosureLike = std::is_class_v<std::decay_t<F>> && !std::is_same_v<std::decay_t<F>, TJobMethod> &&
                      !std::is_same_v<std::decay_t<F>, Fn> && std::is_invocable_v<std::decay_t<F>&, A...>;

// Owns at most one closure reference until a job takes it over.
template <class Fn>
class TProcRef {
 public:
  TProcRef(TJobMethod AMethod) : FMethod(AMethod) {}
  TProcRef(Fn AProc) {
    if (AProc) {
      FMethod.Code = static_cast<TClosureBase*>(new TClosure<Fn>(std::move(AProc)));
      FAnon = true;
    }
  }
  TProcRef(TProcRef&& O) noexcept : FMethod(O.FMethod), FAnon(O.FAnon) { O.FMethod = {}; O.FAnon = false; }
  TProcRef(const TProcRef&) = delete;
  TProcRef& operator=(const TProcRef&) = delete;
  ~TProcRef() {
    if (FAnon) static_cast<TClosureBase*>(FMethod.Code)->Release();
  }
  const TJobMethod& Method() const { return FMethod; }
  bool IsAnon() const { return FAnon; }
  // Gives the words (and the closure reference) away.
  TJobMethod Detach(bool& AAnon) {
    AAnon = FAnon;
    TJobMethod R = FMethod;
    FMethod = {};
    FAnon = false;
    return R;
  }

 protected:
  TJobMethod FMethod;
  bool FAnon = false;
};
}  // namespace kiv_detail

// Any of the three job-procedure kinds, as the posting operations take them.
class TJobProcRef : public kiv_detail::TProcRef<TJobProcA> {
 public:
  using TProcRef::TProcRef;
  TJobProcRef(TJobProcG AProc) : TProcRef(TJobMethod{reinterpret_cast<void*>(AProc), nullptr}) {}
  template <class F>
    requires kiv_detail::ClosureLike<F, TJobProcA, PJob>
  TJobProcRef(F&& AProc) : TProcRef(TJobProcA(std::forward<F>(AProc))) {}
};

// Any of the three parallel-for procedure kinds.
class TForProcRef : public kiv_detail::TProcRef<TForJobProcA> {
 public:
  using TProcRef::TProcRef;
  TForProcRef(TForJobProcG AProc) : TProcRef(TJobMethod{reinterpret_cast<void*>(AProc), nullptr}) {}
  template <class F>
    requires kiv_detail::ClosureLike<F, TForJobProcA, TForJobs*, PJob, intptr_t>
  TForProcRef(F&& AProc) : TProcRef(TForJobProcA(std::forward<F>(AProc))) {}
};

// MakeJobProc<&TFoo::Run>(this): a method as a job procedure. A null object
// gives a null procedure, which the pool refuses.
template <auto M, class T>
TJobMethod MakeJobProc(T* AObject) {
  using C = typename kiv_detail::TMethodClass<decltype(M)>::Class;
  if (!AObject) return {};
  return {reinterpret_cast<void*>(&kiv_detail::JobMethodThunk<M>), static_cast<void*>(static_cast<C*>(AObject))};
}
template <auto M, class T>
TJobMethod MakeForProc(T* AObject) {
  using C = typename kiv_detail::TMethodClass<decltype(M)>::Class;
  if (!AObject) return {};
  return {reinterpret_cast<void*>(&kiv_detail::ForMethodThunk<M>), static_cast<void*>(static_cast<C*>(AObject))};
}
inline TJobMethod MakeJobProc(TJobProcG AProc) { return {reinterpret_cast<void*>(AProc), nullptr}; }

// Job handle: the record's address | kind (0 simple, 1 timed, 2 signal wait).
using TJobHandle = uintptr_t;

struct TJob {
  int64_t FirstRunTime;
  int64_t RunStartTime;
  int64_t PushTime;
  int64_t PopTime;
  int64_t DueTime;
  TJobMethod JobProc;
  TJobBase* Queue;
  PJob Next;
  TKIVWorker* Worker;
  int32_t Runs;
  uint32_t MinTime;
  uint32_t TotalTime;
  uint32_t MaxTime;
  int32_t Flags;
  void* Data;
  // timed part
  int64_t Interval;
  int64_t Delay;
  // signal part (a repeating job's copy uses Source as well)
  int32_t SignalId;
  PJob Source;
  std::atomic<int32_t>* DataRefs;
  // group part
  TJobGroup* Group;

  bool IsTerminated() const;
  // Sets or clears JOB_TERMINATED; only the job's own procedure may call it
  // while the job runs (a repeating job ends its repetition this way).
  void SetIsTerminated(bool AValue);
  TJobDataFreeType FreeType() const { return static_cast<TJobDataFreeType>((Flags >> 8) & 0xF); }
  bool InMainThread() const { return (Flags & JOB_IN_MAIN_THREAD) != 0; }
};
static_assert(std::is_trivially_copyable_v<TJob>);
static_assert(alignof(TJob) >= 4, "job handles keep the kind in the two low bits");

void CopyJob(PJob ADest, PJob ASrc);

// Bounded free list of job records.
class TJobPool {
 public:
  explicit TJobPool(int AMaxSize);
  ~TJobPool();
  TJobPool(const TJobPool&) = delete;
  TJobPool& operator=(const TJobPool&) = delete;
  void Push(PJob AJob);
  // A zero-filled record.
  PJob Pop();
  // Bulk moves for the per-thread caches: a chain of records (not zeroed,
  // closures already released) in one lock hold each.
  PJob PopChain(int& ACount);
  void PushChain(PJob AFirst, PJob ALast, int ACount);
  int Count() const { return FCount.load(std::memory_order_relaxed); }
  int Size() const { return FSize; }

 private:
  PJob FFirst = nullptr;
  int FSingles = 0;           // records on FFirst
  PJob FBatches = nullptr;    // chains given back whole, linked through their head's Source
  std::atomic<int> FCount{0};
  int FSize;
  TSimpleLock FLocker;
};
extern TJobPool* GlobalJobPool;

// ---- queues -------------------------------------------------------------

class TJobBase {
 public:
  explicit TJobBase(TKIVWorkers* AOwner) : FOwner(AOwner) {}
  virtual ~TJobBase() = default;
  TJobBase(const TJobBase&) = delete;
  TJobBase& operator=(const TJobBase&) = delete;

  // A refused job is released.
  bool Push(PJob AJob);
  // ANow: the caller's fresh timestamp for the pop time (< 0: read the clock).
  PJob Pop(int64_t ANow = -1);
  virtual void Clear();
  virtual int Clear(const TJobMethod& AProc, void* AData, int AMaxTimes) = 0;
  virtual int Clear(void* AObject, int AMaxTimes) = 0;
  virtual bool Clear(TJobHandle AHandle) = 0;
  virtual int GetCount() = 0;
  int Count() { return GetCount(); }
  bool Empty() { return GetCount() == 0; }
  TKIVWorkers* Owner() const { return FOwner; }

 protected:
  virtual bool InnerPush(PJob AJob) = 0;
  virtual PJob InnerPop() = 0;
  void FreeJob(PJob AJob);

  TKIVWorkers* FOwner;
  bool FCoarsePushTime = false;
};

namespace kiv_detail {
// What a selective removal looks for.
struct TJobMatch {
  enum Kind { ByProc, ByObject, ByHandle, ByGroup } kind;
  TJobMethod Proc{};
  void* Data = nullptr;
  PJob Job = nullptr;
  TJobGroup* Group = nullptr;
  int MaxTimes = -1;
  bool Matches(PJob AJob) const;
};
}  // namespace kiv_detail

class TSimpleJobs : public TJobBase {
 public:
  explicit TSimpleJobs(TKIVWorkers* AOwner) : TJobBase(AOwner) { FCoarsePushTime = true; }
  ~TSimpleJobs() override;
  void Clear() override;
  int Clear(const TJobMethod& AProc, void* AData, int AMaxTimes) override;
  int Clear(void* AObject, int AMaxTimes) override;
  bool Clear(TJobHandle AHandle) override;
  int GetCount() override { return FCount.load(std::memory_order_relaxed); }
  // Head of the queue, read without the lock.
  bool HasJobs() const { return FFirst.load(std::memory_order_acquire) != nullptr; }
  // The same under the lock, ordered against concurrent pushes.
  bool HasJobsLocked() {
    std::lock_guard<TSimpleLock> L(FLocker);
    return FFirst.load(std::memory_order_relaxed) != nullptr;
  }
  // Removes every queued job of the group; returns their number.
  int ClearGroup(TJobGroup* AGroup);
  // Takes the whole list out (the queue is empty afterwards).
  PJob DetachAll();
  // Puts a chain back in front of whatever was pushed meanwhile.
  void PutBack(PJob AFirst);

 protected:
  bool InnerPush(PJob AJob) override;
  PJob InnerPop() override;

 private:
  int RemoveMatching(const kiv_detail::TJobMatch& AMatch);

  std::atomic<PJob> FFirst{nullptr};
  PJob FLast = nullptr;
  std::atomic<int> FCount{0};
  TSimpleLock FLocker;
};

class TRepeatJobs : public TJobBase {
 public:
  explicit TRepeatJobs(TKIVWorkers* AOwner);
  ~TRepeatJobs() override;
  void Clear() override;
  int Clear(const TJobMethod& AProc, void* AData, int AMaxTimes) override;
  int Clear(void* AObject, int AMaxTimes) override;
  bool Clear(TJobHandle AHandle) override;
  // Distinct due times, not jobs.
  int GetCount() override { return FNodeCount.load(std::memory_order_relaxed); }
  int64_t FirstFireTime() const { return FFirstFireTime.load(std::memory_order_acquire); }
  // Takes AJob out of the queue without releasing it; null when not there.
  PJob Unlink(PJob AJob);
  // After a repeating job's copy ran: statistics, or the end of the repetition.
  void AfterRepeatRun(PJob AJob, int64_t AUsedTime);

 protected:
  bool InnerPush(PJob AJob) override;
  PJob InnerPop() override;

 private:
  void UpdateDueTime(PJob AJob);
  void InsertJob(PJob AJob);
  void UpdateFirstFireTime();
  int RemoveMatching(const kiv_detail::TJobMatch& AMatch);

  std::recursive_mutex FLocker;
  std::atomic<int64_t> FFirstFireTime{0};
  std::atomic<int> FNodeCount{0};
  TRBTree FItems;
};

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
  // 1: a job ran; 0: no job; -1: given up by shutdown, leave at once.
  int DoJobStep();
  void RunJob(PJob AJob);
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
  // 0 running, 1 leaving normally, 2 given up by shutdown (then it never
  // touches its owner again and is not freed).
  std::atomic<int> FExitState{0};
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

struct TSignal {
  int32_t Id;
  int32_t Fired;
  String Name;
  PJob First;
};
using PSignal = TSignal*;

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
  bool HasJobRunning(int AWaitType, const void* AParam1, void* AParam2, bool& AMarkOnly);
  void WaitRunningJobs(int AWaitType, const void* AParam1, void* AParam2, bool AMarkOnly);
  // While a waiting Clear of an object or procedure runs, posts of what it
  // clears are refused: a running job posting its successor on the way out
  // would otherwise outlive the Clear (and run on a freed object).
  class TClearingScope;
  bool RefusedWhileClearing(PJob AJob);
  template <class TClearIn>
  int ClearAndWait(const kiv_detail::TJobMatch& AMatch, TClearIn&& AClearIn, int AMaxTimes, bool AWaitRunningDone,
                   int AWaitType, const void* AParam1, void* AParam2);

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

// ---- job groups and parallel for ----------------------------------------

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
