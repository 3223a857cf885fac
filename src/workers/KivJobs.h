// The pool's vocabulary: job records and procedures, the record pool, the
// simple and timed job queues, and the clock they run on.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/KivTypes.h"
#include "workers/KivRBTree.h"
#include "workers/KivSync.h"

class TKIVWorkers;
class TKIVWorker;
class TJobBase;
class TJobGroup;
class TForJobs;
struct TJob;
using PJob = TJob*;

// ---- clock --------------------------------------------------------------

// Milliseconds since KivWorkerInit.
int64_t GetTimestamp();
int ProcessorCount();

// ---- jobs ---------------------------------------------------------------

constexpr int32_t JOB_RUN_ONCE = 0x01;
constexpr int32_t JOB_IN_MAIN_THREAD = 0x02;
constexpr int32_t JOB_LONGTIME = 0x08;
constexpr int32_t JOB_SIGNAL = 0x10;
constexpr int32_t JOB_TERMINATED = 0x20;
constexpr int32_t JOB_GROUP = 0x40;
constexpr int32_t JOB_ANON_PROC = 0x80;
constexpr int32_t JOB_DATA_OWNER = 0xF00;  // the datum's TJobDataFreeType
constexpr int JOB_DATA_OWNER_SHIFT = 8;

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

// Job handle: the record's address | its kind in the two low bits.
using TJobHandle = uintptr_t;
enum TJobHandleKind : TJobHandle { jhkSimple = 0, jhkTimed = 1, jhkSignalWait = 2 };
constexpr TJobHandle JOB_HANDLE_KIND_MASK = 3;
inline TJobHandleKind JobHandleKind(TJobHandle AHandle) {
  return static_cast<TJobHandleKind>(AHandle & JOB_HANDLE_KIND_MASK);
}
// The record the handle was given for (it may be free or reused by now).
inline PJob JobOfHandle(TJobHandle AHandle) { return reinterpret_cast<PJob>(AHandle & ~JOB_HANDLE_KIND_MASK); }

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
  TJobDataFreeType FreeType() const {
    return static_cast<TJobDataFreeType>((Flags & JOB_DATA_OWNER) >> JOB_DATA_OWNER_SHIFT);
  }
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

namespace kiv_detail {
// Start-up of the clock and the processor count (KivWorkerInit).
void StartClock();
// GetTimestamp at tick resolution, cheaper to read; never ahead of it.
int64_t CoarseTimestamp();
// Zero-filled records through a per-thread cache in front of GlobalJobPool.
PJob NewJobRecord();
void RecycleJobRecord(PJob AJob);
}  // namespace kiv_detail

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

// A removal by procedure with no datum (null, or all bits set) matches every datum.
inline bool DataMatches(const void* AWanted, const void* AData) {
  return AWanted == nullptr || AWanted == reinterpret_cast<const void*>(intptr_t(-1)) || AWanted == AData;
}
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
