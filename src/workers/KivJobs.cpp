// Job records, the record pool and the two job queues.
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "workers/KivJobs.h"
#include "workers/KivWorker.h"

TJobPool* GlobalJobPool = nullptr;

namespace kiv_detail {
std::atomic<int64_t> GClockStart{0};
std::atomic<int> GProcessorCount{0};

int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void StartClock() {
  GClockStart = SteadyMs();
  unsigned N = std::thread::hardware_concurrency();
  GProcessorCount = N ? static_cast<int>(N) : 1;
}
}  // namespace kiv_detail

int64_t GetTimestamp() { return kiv_detail::SteadyMs() - kiv_detail::GClockStart.load(std::memory_order_relaxed); }

namespace kiv_detail {
// The same clock at tick resolution, several times cheaper to read; never
// ahead of GetTimestamp.
int64_t CoarseTimestamp() {
  timespec T;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &T);
  int64_t Ms = static_cast<int64_t>(T.tv_sec) * 1000 + T.tv_nsec / 1000000 - GClockStart.load(std::memory_order_relaxed);
  return Ms > 0 ? Ms : 0;
}
}  // namespace kiv_detail

int ProcessorCount() {
  int N = kiv_detail::GProcessorCount.load(std::memory_order_relaxed);
  return N > 0 ? N : 1;
}

// ---- records ------------------------------------------------------------

void CopyJob(PJob ADest, PJob ASrc) {
  std::memcpy(static_cast<void*>(ADest), static_cast<const void*>(ASrc), sizeof(TJob));
  ADest->Worker = nullptr;
  ADest->Next = nullptr;
  ADest->Source = nullptr;
  if ((ASrc->Flags & JOB_ANON_PROC) && ASrc->JobProc.Code)
    static_cast<kiv_detail::TClosureBase*>(ASrc->JobProc.Code)->AddRef();
}

TJobPool::TJobPool(int AMaxSize) : FSize(AMaxSize) {}

namespace {
void DeleteChain(PJob AJob) {
  while (AJob) {
    PJob N = AJob->Next;
    delete AJob;
    AJob = N;
  }
}

void ReleaseClosure(PJob AJob) {
  if ((AJob->Flags & JOB_ANON_PROC) && AJob->JobProc.Code) {
    static_cast<kiv_detail::TClosureBase*>(AJob->JobProc.Code)->Release();
    AJob->JobProc.Code = nullptr;
    AJob->Flags &= ~JOB_ANON_PROC;
  }
}
}  // namespace

TJobPool::~TJobPool() {
  DeleteChain(FFirst);
  FFirst = nullptr;
  while (PJob B = FBatches) {
    FBatches = B->Source;
    DeleteChain(B);
  }
  FSingles = 0;
  FCount = 0;
}

PJob TJobPool::Pop() {
  PJob J = nullptr;
  {
    std::lock_guard<TSimpleLock> L(FLocker);
    if (!FFirst && FBatches) {
      FFirst = FBatches;
      FBatches = FFirst->Source;
      FSingles = FFirst->Runs;
    }
    if (FFirst) {
      J = FFirst;
      FFirst = J->Next;
      --FSingles;
      FCount.fetch_sub(1, std::memory_order_relaxed);
    }
  }
  if (!J) J = new TJob;
  std::memset(static_cast<void*>(J), 0, sizeof(TJob));
  return J;
}

void TJobPool::Push(PJob AJob) {
  ReleaseClosure(AJob);
  {
    std::lock_guard<TSimpleLock> L(FLocker);
    if (FCount.load(std::memory_order_relaxed) < FSize) {
      AJob->Next = FFirst;
      FFirst = AJob;
      ++FSingles;
      FCount.fetch_add(1, std::memory_order_relaxed);
      return;
    }
  }
  delete AJob;
}

PJob TJobPool::PopChain(int& ACount) {
  std::lock_guard<TSimpleLock> L(FLocker);
  PJob J = nullptr;
  if (FBatches) {
    J = FBatches;
    FBatches = J->Source;
    ACount = J->Runs;
  } else {
    J = FFirst;
    ACount = FSingles;
    FFirst = nullptr;
    FSingles = 0;
  }
  FCount.fetch_sub(ACount, std::memory_order_relaxed);
  return J;
}

void TJobPool::PushChain(PJob AFirst, PJob ALast, int ACount) {
  ALast->Next = nullptr;
  {
    std::lock_guard<TSimpleLock> L(FLocker);
    if (FCount.load(std::memory_order_relaxed) + ACount <= FSize) {
      AFirst->Source = FBatches;
      AFirst->Runs = ACount;
      FBatches = AFirst;
      FCount.fetch_add(ACount, std::memory_order_relaxed);
      return;
    }
  }
  DeleteChain(AFirst);
}

namespace kiv_detail {
namespace {
constexpr int KivCacheBatch = 64;

// Records freed on a thread serve its next posts; the surplus moves to the
// shared pool a batch at a time, so posting rarely touches the shared lock.
struct TRecordCache {
  PJob First = nullptr;
  int Count = 0;
  ~TRecordCache() { DeleteChain(First); }
};
thread_local TRecordCache GRecordCache;
}  // namespace

PJob NewJobRecord() {
  if (!GlobalJobPool) return new TJob{};
  TRecordCache& C = GRecordCache;
  if (!C.First) C.First = GlobalJobPool->PopChain(C.Count);
  PJob J = C.First;
  if (J) {
    C.First = J->Next;
    --C.Count;
  } else {
    J = new TJob;
  }
  std::memset(static_cast<void*>(J), 0, sizeof(TJob));
  return J;
}

void RecycleJobRecord(PJob AJob) {
  ReleaseClosure(AJob);
  if (!GlobalJobPool) {
    delete AJob;
    return;
  }
  TRecordCache& C = GRecordCache;
  AJob->Next = C.First;
  C.First = AJob;
  if (++C.Count < 2 * KivCacheBatch) return;
  PJob Last = C.First;
  for (int I = 1; I < KivCacheBatch; ++I) Last = Last->Next;
  PJob Batch = C.First;
  C.First = Last->Next;
  C.Count -= KivCacheBatch;
  GlobalJobPool->PushChain(Batch, Last, KivCacheBatch);
}

bool TJobMatch::Matches(PJob AJob) const {
  switch (kind) {
    case ByObject:
      return AJob->JobProc.Data == Data;
    case ByHandle:
      return AJob == Job;
    case ByGroup:
      return (AJob->Flags & JOB_GROUP) && AJob->Group == Group;
    case ByProc:
      return AJob->JobProc == Proc && DataMatches(Data, AJob->Data);
  }
  return false;
}
}  // namespace kiv_detail

using kiv_detail::TJobMatch;

// ---- the abstract queue -------------------------------------------------

void TJobBase::FreeJob(PJob AJob) {
  if (FOwner) {
    FOwner->FreeJob(AJob);
  } else {
    while (AJob) {
      PJob N = AJob->Next;
      kiv_detail::RecycleJobRecord(AJob);
      AJob = N;
    }
  }
}

bool TJobBase::Push(PJob AJob) {
  AJob->Queue = this;
  // Only due times need the exact clock; the simple queue takes the cheap one.
  AJob->PushTime = FCoarsePushTime ? kiv_detail::CoarseTimestamp() : GetTimestamp();
  bool R = InnerPush(AJob);
  if (!R) {
    AJob->Next = nullptr;
    FreeJob(AJob);
  }
  return R;
}

PJob TJobBase::Pop(int64_t ANow) {
  PJob J = InnerPop();
  if (J) {
    J->PopTime = ANow >= 0 ? ANow : GetTimestamp();
    J->Next = nullptr;
  }
  return J;
}

void TJobBase::Clear() {
  while (PJob J = Pop()) FreeJob(J);
}

// ---- the simple queue ---------------------------------------------------

TSimpleJobs::~TSimpleJobs() { Clear(); }

bool TSimpleJobs::InnerPush(PJob AJob) {
  AJob->Next = nullptr;
  std::lock_guard<TSimpleLock> L(FLocker);
  if (FLast)
    FLast->Next = AJob;
  else
    FFirst.store(AJob, std::memory_order_release);
  FLast = AJob;
  FCount.fetch_add(1, std::memory_order_relaxed);
  return true;
}

PJob TSimpleJobs::InnerPop() {
  std::lock_guard<TSimpleLock> L(FLocker);
  PJob J = FFirst.load(std::memory_order_relaxed);
  if (J) {
    FFirst.store(J->Next, std::memory_order_release);
    if (!J->Next) FLast = nullptr;
    FCount.fetch_sub(1, std::memory_order_relaxed);
  }
  return J;
}

PJob TSimpleJobs::DetachAll() {
  std::lock_guard<TSimpleLock> L(FLocker);
  PJob J = FFirst.load(std::memory_order_relaxed);
  FFirst.store(nullptr, std::memory_order_release);
  FLast = nullptr;
  FCount.store(0, std::memory_order_relaxed);
  return J;
}

void TSimpleJobs::PutBack(PJob AFirst) {
  if (!AFirst) return;
  PJob Last = AFirst;
  int N = 1;
  while (Last->Next) {
    Last = Last->Next;
    ++N;
  }
  std::lock_guard<TSimpleLock> L(FLocker);
  PJob Head = FFirst.load(std::memory_order_relaxed);
  Last->Next = Head;
  if (!Head) FLast = Last;
  FFirst.store(AFirst, std::memory_order_release);
  FCount.fetch_add(N, std::memory_order_relaxed);
}

void TSimpleJobs::Clear() { FreeJob(DetachAll()); }

int TSimpleJobs::RemoveMatching(const TJobMatch& AMatch) {
  PJob J = DetachAll();
  PJob KeepFirst = nullptr, KeepLast = nullptr, Removed = nullptr;
  int Count = 0;
  bool Done = AMatch.MaxTimes == 0;
  while (J) {
    PJob N = J->Next;
    if (!Done && AMatch.Matches(J)) {
      J->Next = Removed;
      Removed = J;
      ++Count;
      if (AMatch.kind == TJobMatch::ByHandle || (AMatch.MaxTimes > 0 && Count >= AMatch.MaxTimes)) Done = true;
    } else {
      J->Next = nullptr;
      if (KeepLast)
        KeepLast->Next = J;
      else
        KeepFirst = J;
      KeepLast = J;
      if (Done) {  // the unvisited tail goes back as it is
        KeepLast->Next = N;
        break;
      }
    }
    J = N;
  }
  PutBack(KeepFirst);
  FreeJob(Removed);
  return Count;
}

int TSimpleJobs::Clear(const TJobMethod& AProc, void* AData, int AMaxTimes) {
  TJobMatch M{TJobMatch::ByProc};
  M.Proc = AProc;
  M.Data = AData;
  M.MaxTimes = AMaxTimes;
  return RemoveMatching(M);
}

int TSimpleJobs::Clear(void* AObject, int AMaxTimes) {
  TJobMatch M{TJobMatch::ByObject};
  M.Data = AObject;
  M.MaxTimes = AMaxTimes;
  return RemoveMatching(M);
}

int TSimpleJobs::ClearGroup(TJobGroup* AGroup) {
  TJobMatch M{TJobMatch::ByGroup};
  M.Group = AGroup;
  return RemoveMatching(M);
}

bool TSimpleJobs::Clear(TJobHandle AHandle) {
  if (AHandle == 0) return false;
  TJobMatch M{TJobMatch::ByHandle};
  M.Job = JobOfHandle(AHandle);
  M.MaxTimes = 1;
  return RemoveMatching(M) > 0;
}

// ---- the timed queue ----------------------------------------------------

static int CompareDueTime(void* P1, void* P2) {
  int64_t D = static_cast<PJob>(P1)->DueTime - static_cast<PJob>(P2)->DueTime;
  return D < 0 ? -1 : (D > 0 ? 1 : 0);
}

TRepeatJobs::TRepeatJobs(TKIVWorkers* AOwner) : TJobBase(AOwner), FItems(CompareDueTime) {
  FItems.OnDelete = [this](TRBTree*, PRBNode N) {
    PJob Chain = static_cast<PJob>(N->Data);
    N->Data = nullptr;
    FreeJob(Chain);
  };
}

TRepeatJobs::~TRepeatJobs() { Clear(); }

void TRepeatJobs::UpdateDueTime(PJob AJob) {
  if (AJob->Runs == 0 && AJob->Delay != 0)
    AJob->DueTime = AJob->PushTime + AJob->Delay;
  else if (AJob->Interval == 0)
    AJob->DueTime = GetTimestamp();
  else if (AJob->DueTime != 0)
    AJob->DueTime += AJob->Interval;
  else
    AJob->DueTime = GetTimestamp() + AJob->Interval;
}

void TRepeatJobs::UpdateFirstFireTime() {
  PRBNode F = FItems.First();
  FFirstFireTime.store(F ? static_cast<PJob>(F->Data)->DueTime : 0, std::memory_order_release);
  FNodeCount.store(FItems.Count(), std::memory_order_relaxed);
}

// Front of the chain of an equal due time, or a node of its own. Under FLocker.
void TRepeatJobs::InsertJob(PJob AJob) {
  PRBNode N = FItems.Find(AJob);
  if (N) {
    AJob->Next = static_cast<PJob>(N->Data);
    N->Data = AJob;
  } else {
    AJob->Next = nullptr;
    FItems.Insert(AJob);
  }
  UpdateFirstFireTime();
}

bool TRepeatJobs::InnerPush(PJob AJob) {
  UpdateDueTime(AJob);
  std::lock_guard<std::recursive_mutex> L(FLocker);
  InsertJob(AJob);
  return true;
}

PJob TRepeatJobs::InnerPop() {
  if (FNodeCount.load(std::memory_order_relaxed) == 0) return nullptr;
  std::lock_guard<std::recursive_mutex> L(FLocker);
  PRBNode N = FItems.First();
  if (!N) {
    FFirstFireTime.store(0, std::memory_order_release);
    return nullptr;
  }
  int64_t Now = GetTimestamp();
  PJob J = static_cast<PJob>(N->Data);
  if (Now < J->DueTime) return nullptr;
  N->Data = J->Next;
  if (!N->Data) FItems.Delete(N);
  UpdateFirstFireTime();
  if (J->Flags & JOB_RUN_ONCE) return J;
  // A repeating job stays as the master; a copy runs.
  J->Next = nullptr;
  J->PopTime = Now;
  J->DueTime += J->Interval;
  // A datum the pool frees is counted, so the master going away never frees
  // it under a copy that still runs.
  if (J->Data && J->FreeType() != jdfFreeByUser) {
    if (!J->DataRefs) J->DataRefs = new std::atomic<int32_t>(1);
    J->DataRefs->fetch_add(1);
  }
  PJob Copy = kiv_detail::NewJobRecord();
  CopyJob(Copy, J);
  Copy->Source = J;
  InsertJob(J);
  return Copy;
}

void TRepeatJobs::AfterRepeatRun(PJob AJob, int64_t AUsedTime) {
  std::lock_guard<std::recursive_mutex> L(FLocker);
  PJob Master = AJob->Source;
  PRBNode Node = nullptr;
  PJob Prev = nullptr;
  auto SearchChain = [&](PRBNode N) {
    PJob P = nullptr;
    for (PJob J = static_cast<PJob>(N->Data); J; P = J, J = J->Next)
      if (J == Master) {
        Node = N;
        Prev = P;
        return true;
      }
    return false;
  };
  PRBNode N = FItems.Find(AJob);
  if (!N || !SearchChain(N)) {
    for (N = FItems.First(); N; N = N->Next())
      if (SearchChain(N)) break;
  }
  if (!Node) return;
  if (AJob->IsTerminated()) {
    if (Prev)
      Prev->Next = Master->Next;
    else
      Node->Data = Master->Next;
    Master->Next = nullptr;
    if (!Node->Data) FItems.Delete(Node);
    UpdateFirstFireTime();
    FreeJob(Master);
    return;
  }
  ++Master->Runs;
  if (AUsedTime > 0) {
    Master->TotalTime = static_cast<uint32_t>(Master->TotalTime + AUsedTime);
    if (Master->MinTime == 0 || static_cast<int64_t>(Master->MinTime) > AUsedTime)
      Master->MinTime = static_cast<uint32_t>(AUsedTime);
    if (Master->MaxTime == 0 || static_cast<int64_t>(Master->MaxTime) < AUsedTime)
      Master->MaxTime = static_cast<uint32_t>(AUsedTime);
  }
}

void TRepeatJobs::Clear() {
  std::lock_guard<std::recursive_mutex> L(FLocker);
  FItems.Clear();
  UpdateFirstFireTime();
}

int TRepeatJobs::RemoveMatching(const TJobMatch& AMatch) {
  std::lock_guard<std::recursive_mutex> L(FLocker);
  int Count = 0;
  bool Done = AMatch.MaxTimes == 0;
  PRBNode N = FItems.First();
  while (N && !Done) {
    PRBNode NextNode = N->Next();
    PJob Prev = nullptr;
    PJob J = static_cast<PJob>(N->Data);
    while (J && !Done) {
      PJob Next = J->Next;
      if (AMatch.Matches(J)) {
        if (Prev)
          Prev->Next = Next;
        else
          N->Data = Next;
        J->Next = nullptr;
        FreeJob(J);
        ++Count;
        if (AMatch.kind == TJobMatch::ByHandle || (AMatch.MaxTimes > 0 && Count >= AMatch.MaxTimes)) Done = true;
      } else {
        Prev = J;
      }
      J = Next;
    }
    if (!N->Data) FItems.Delete(N);
    N = NextNode;
  }
  UpdateFirstFireTime();
  return Count;
}

int TRepeatJobs::Clear(const TJobMethod& AProc, void* AData, int AMaxTimes) {
  TJobMatch M{TJobMatch::ByProc};
  M.Proc = AProc;
  M.Data = AData;
  M.MaxTimes = AMaxTimes;
  return RemoveMatching(M);
}

int TRepeatJobs::Clear(void* AObject, int AMaxTimes) {
  TJobMatch M{TJobMatch::ByObject};
  M.Data = AObject;
  M.MaxTimes = AMaxTimes;
  return RemoveMatching(M);
}

PJob TRepeatJobs::Unlink(PJob AJob) {
  std::lock_guard<std::recursive_mutex> L(FLocker);
  for (PRBNode N = FItems.First(); N; N = N->Next()) {
    PJob Prev = nullptr;
    for (PJob J = static_cast<PJob>(N->Data); J; Prev = J, J = J->Next) {
      if (J != AJob) continue;
      if (Prev)
        Prev->Next = J->Next;
      else
        N->Data = J->Next;
      J->Next = nullptr;
      if (!N->Data) FItems.Delete(N);
      UpdateFirstFireTime();
      return J;
    }
  }
  return nullptr;
}

bool TRepeatJobs::Clear(TJobHandle AHandle) {
  if (AHandle == 0) return false;
  TJobMatch M{TJobMatch::ByHandle};
  M.Job = JobOfHandle(AHandle);
  M.MaxTimes = 1;
  return RemoveMatching(M) > 0;
}
