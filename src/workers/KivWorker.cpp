// The pool manager and its worker threads.
#include "workers/KivWorker.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <random>
#include <sstream>

#include "workers/KivStaticThread.h"

TKIVWorkers* GlobalWorkers = nullptr;

using kiv_detail::NewJobRecord;

namespace {
Exception ForeignException(const std::exception& e) { return Exception(FromUtf8(e.what())); }
Exception UnknownException() { return Exception(u"unknown exception"); }

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
}  // namespace

// ---- jobs ---------------------------------------------------------------

bool TJob::IsTerminated() const {
  TKIVWorker* W = Worker;
  if (W) {
    // Worker flags first: a given-up worker must not reach its owner.
    if (W->FTerminated.load() || W->FExitState.load() != TKIVWorker::TExitState::Running) return true;
    if ((Flags & JOB_TERMINATED) || W->FTerminatingJob.load() == this) return true;
    TKIVWorkers* O = W->FOwner;
    return O && O->FTerminating.load();
  }
  return (Flags & JOB_TERMINATED) != 0;
}

void TJob::SetIsTerminated(bool AValue) {
  if (AValue)
    Flags |= JOB_TERMINATED;
  else
    Flags &= ~JOB_TERMINATED;
}

static void CallJobProc(PJob AJob) {
  const TJobMethod& M = AJob->JobProc;
  if (AJob->Flags & JOB_ANON_PROC)
    static_cast<kiv_detail::TClosure<TJobProcA>*>(static_cast<kiv_detail::TClosureBase*>(M.Code))->Proc(AJob);
  else if (M.Data)
    reinterpret_cast<void (*)(void*, PJob)>(M.Code)(M.Data, AJob);
  else
    reinterpret_cast<TJobProcG>(M.Code)(AJob);
}

// ---- worker -------------------------------------------------------------

TKIVWorker::TKIVWorker(TKIVWorkers* AOwner) : FOwner(AOwner), FStartTime(GetTimestamp()) {}

TKIVWorker::~TKIVWorker() = default;

void TKIVWorker::ComNeeded(uint32_t) { SetFlag(WORKER_COM_INITED); }

bool TKIVWorker::EnterOwner() {
  FInOwner.store(true);
  if (FExitState.load() == TExitState::GivenUp) {
    FInOwner.store(false);
    return false;
  }
  return true;
}

void TKIVWorker::RunJob(PJob AJob) {
  FLastExecTime.store(0, std::memory_order_relaxed);
  CallJobProc(AJob);
  FLastExecTime.store(GetTimestamp(), std::memory_order_relaxed);
}

std::optional<Exception> TKIVWorker::RunJobCaught(PJob AJob) {
  try {
    RunJob(AJob);
  } catch (const Exception& E) {
    return E;
  } catch (const std::exception& E) {
    return ForeignException(E);
  } catch (...) {
    return UnknownException();
  }
  return std::nullopt;
}

TWaitResult TKIVWorker::WaitSignal(int64_t ATimeout, bool AByRepeatJob) {
  if (ATimeout <= 1) return wrSignaled;
  int64_t Limit = static_cast<int64_t>(FOwner->FFireTimeout.load()) + FFireDelay - FTimeout;
  int64_t Wait = std::max<int64_t>(0, std::min(ATimeout, Limit));
  if (Wait >= KivInfinite) Wait = KivInfinite - 1;
  int64_t Start = GetTimestamp();
  LeaveOwner();
  TWaitResult R = FEvent.WaitFor(static_cast<uint32_t>(Wait));
  if (!EnterOwner()) return wrAbandoned;
  if (R == wrTimeout) {
    FTimeout += GetTimestamp() - Start;
    if (AByRepeatJob) R = wrSignaled;
  }
  return R;
}

namespace {
constexpr int KivMaxSpinners = 1;
constexpr int KivSpinRounds = 4000;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}
}  // namespace

// A worker that just ran dry stays awake a moment: a steady stream of short
// jobs then needs no wake-up per post. Posters see the spinner and skip waking.
bool TKIVWorker::SpinForJobs() {
  TKIVWorkers* O = FOwner;
  int Spinners = O->FSpinners.load(std::memory_order_relaxed);
  do {
    if (Spinners >= KivMaxSpinners) return false;
  } while (!O->FSpinners.compare_exchange_weak(Spinners, Spinners + 1));
  bool Found = false;
  for (int I = 0; I < KivSpinRounds; ++I) {
    if (O->FSimpleJobs->HasJobs()) {
      Found = true;
      break;
    }
    if (Terminated() || O->Terminating() || !O->Enabled() || O->FRepeatJobs->FirstFireTime() != 0) break;
    if ((I & 255) == 255)
      std::this_thread::yield();
    else
      CpuRelax();
  }
  // Busy before it stops spinning: a poster that no longer sees the spinner
  // must not spend its wake-up on this worker, which takes the job anyway.
  SetFlag(WORKER_ISBUSY);
  O->FSpinners.fetch_sub(1);
  // Under the queue lock: a poster whose push came first is seen here, one
  // whose push came later sees this spinner gone and wakes someone.
  Found = Found || O->FSimpleJobs->HasJobsLocked();
  if (!Found) ClearFlag(WORKER_ISBUSY);
  return Found;
}

// The active-job copies are published by the executing flag (a release
// store) and read by scans after they see it; relaxed stores suffice.
void TKIVWorker::ClearActiveJob() {
  constexpr auto R = std::memory_order_relaxed;
  FActiveJobCode.store(nullptr, R);
  FActiveJobObject.store(nullptr, R);
  FActiveJobData.store(nullptr, R);
  FActiveJobSource.store(nullptr, R);
  FActiveJobFlags.store(0, R);
  FActiveJobGroup.store(nullptr, R);
  FTerminatingJob.store(nullptr, R);
  FActiveJob.store(nullptr, R);
}

TKIVWorker::TJobStep TKIVWorker::DoJobStep() {
  // Cleaning belongs to the previous job: a scan must see this one as running.
  FFlags.store((FFlags.load(std::memory_order_relaxed) | WORKER_LOOKUP) & ~WORKER_CLEANING, std::memory_order_release);
  FTerminatingJob.store(nullptr, std::memory_order_relaxed);
  // Back to back, the previous job's end stands for the pop time: one clock read per job.
  PJob Job = FOwner->TakeJob(FChainEnd);
  if (!Job) {
    ClearFlag(WORKER_LOOKUP);
    return TJobStep::NoJob;
  }
  SetFlag(WORKER_ISBUSY);
  // Chosen again between its wake-up and now: it is busy, no longer pending,
  // or posts would count it as a worker on its way and never add one.
  if (FPending.load(std::memory_order_relaxed) && FPending.exchange(false)) FOwner->FPendingCount.fetch_sub(1);
  // More work behind this job: a wake-up spent on this worker meanwhile must
  // not leave it waiting until this job ends.
  if (FOwner->FSimpleJobs->HasJobs()) FOwner->LookupIdleWorker();
  // This worker may have been woken for a timed job and is taking other work
  // instead: make sure someone else waits for the timed queue.
  if (FOwner->FRepeatJobs->FirstFireTime() != 0 && FOwner->FTimedWaiters.load() == 0 && Job->Queue != FOwner->FRepeatJobs)
    FOwner->LookupIdleWorker();
  FTimeout = 0;
  FLastActiveTime.store(Job->PopTime, std::memory_order_relaxed);
  Job->Worker = this;
  constexpr auto R = std::memory_order_relaxed;
  FActiveJob.store(Job, R);
  FActiveJobCode.store(Job->JobProc.Code, R);
  FActiveJobObject.store(Job->JobProc.Data, R);
  FActiveJobData.store(Job->Data, R);
  FActiveJobSource.store((Job->Flags & JOB_SIGNAL) ? Job->Source : nullptr, R);
  FActiveJobGroup.store((Job->Flags & JOB_GROUP) ? Job->Group : nullptr, R);
  FActiveJobFlags.store(Job->Flags, R);
  if (Job->RunStartTime == 0) Job->FirstRunTime = Job->PopTime;
  Job->RunStartTime = Job->PopTime;
  // Executing is set before lookup is cleared, so a scan of running jobs never
  // sees this worker in between.
  SetFlag(WORKER_EXECUTING);
  ClearFlag(WORKER_LOOKUP);

  std::optional<Exception> Err;
  LeaveOwner();
  if (Job->Flags & JOB_IN_MAIN_THREAD) {
    kiv_detail::QueueForMainThread(Job, this);
    FPrivateEvent.WaitFor(KivInfinite);
  } else {
    Err = RunJobCaught(Job);
  }
  if (!EnterOwner()) return TJobStep::GivenUp;
  if (Err) FOwner->ReportError(Job, *Err, jesExecute);
  FProcessed.store(FProcessed.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);  // only this thread writes it
  SetFlag(WORKER_CLEANING);
  int64_t Ended = FLastExecTime.load(std::memory_order_relaxed);  // saves a clock read per job
  if (!Ended) Ended = GetTimestamp();
  // Only a release that runs no user code keeps the end fresh for the next pop.
  constexpr int32_t Slow = JOB_ANON_PROC | JOB_SIGNAL | JOB_GROUP;
  FChainEnd = (Job->Flags & JOB_RUN_ONCE) && !(Job->Flags & Slow) && !Job->Data ? Ended : -1;
  FOwner->JobBookkeeping(Job, Ended);
  ClearActiveJob();
  ClearFlag(WORKER_EXECUTING);
  return TJobStep::Ran;
}

void TKIVWorker::Execute() {
  if (!EnterOwner()) return;
  FHandle = static_cast<uintptr_t>(pthread_self());
  {
    char Name[16];
    std::snprintf(Name, sizeof(Name), "KIVWorker.%ld", static_cast<long>(syscall(SYS_gettid)));
    pthread_setname_np(pthread_self(), Name);
  }
  SetFlag(WORKER_RUNNING);
  FLastActiveTime = GetTimestamp();
  {
    std::random_device Rd;
    std::minstd_rand Gen(Rd());
    int Half = FOwner->FFireTimeout.load() / 2;
    FFireDelay = Half > 0 ? static_cast<int64_t>(Gen() % static_cast<unsigned>(Half)) : 0;
  }
  TKIVWorkers* O = FOwner;
  bool GivenUp = false;
  while (!Terminated() && !O->Terminating()) {
    ClearFlag(WORKER_CLEANING);
    TWaitResult R;
    if (!O->Enabled()) {
      R = WaitSignal(O->FFireTimeout.load(), false);
    } else if (O->FSimpleJobs->HasJobs()) {
      R = WaitSignal(0, false);
    } else {
      int64_t First = O->FRepeatJobs->FirstFireTime();
      if (First == 0) {
        if (SpinForJobs())
          R = wrSignaled;
        else if (O->FRepeatJobs->FirstFireTime() != 0)
          continue;  // a timed job came meanwhile: wait for its due time instead
        else
          R = WaitSignal(O->FFireTimeout.load(), false);
      } else {
        O->FTimedWaiters.fetch_add(1);
        R = WaitSignal(First - GetTimestamp(), true);
        O->FTimedWaiters.fetch_sub(1);
      }
    }
    if (R == wrAbandoned) {
      GivenUp = true;
      break;
    }
    if (Terminated() || O->Terminating()) break;
    if (R == wrSignaled) {
      if (FPending.exchange(false)) O->FPendingCount.fetch_sub(1);
      int Busy = O->FBusyCount.fetch_add(1) + 1;
      int Count = O->FWorkerCount.load();
      if (Busy >= Count && Count < O->FMaxWorkers.load()) {
        if (TStaticThread* S = O->FStaticThread.load()) S->CheckNeeded();
      }
      TJobStep Step = TJobStep::NoJob;
      FChainEnd = -1;
      while (!Terminated() && !O->Terminating() && O->Enabled() && (Step = DoJobStep()) == TJobStep::Ran) {
      }
      if (Step == TJobStep::GivenUp) {
        GivenUp = true;
        break;
      }
      ClearFlag(WORKER_ISBUSY);
      O->FBusyCount.fetch_sub(1);
    }
    if (FTimeout >= static_cast<int64_t>(O->FFireTimeout.load()) + FFireDelay) {
      O->RetireWorker(this);
      if (!IsFiring()) FTimeout = 0;
    }
  }
  if (GivenUp) return;  // the owner may be gone; this object is not freed
  ClearFlag(WORKER_RUNNING);
  TExitState Expected = TExitState::Running;
  if (!FExitState.compare_exchange_strong(Expected, TExitState::Leaving)) {
    LeaveOwner();
    return;
  }
  O->WorkerExited(this);
  delete this;
}

// ---- manager ------------------------------------------------------------

TKIVWorkers::TKIVWorkers(int AMinWorkers) {
  FFireTimeout = 15000;
  FSimpleJobs = new TSimpleJobs(this);
  FRepeatJobs = new TRepeatJobs(this);
  FSignalJobs = new TKIVHashTable(1361);
  FSignalJobs->OnDelete = [this](TKIVHashTable*, uintptr_t, void* AData) {
    PSignal S = static_cast<PSignal>(AData);
    FreeJob(S->First);
    delete S;
  };
  FSignalJobs->SetAutoSize(true);
  FCPUNum = ProcessorCount();
  int Min = AMinWorkers >= 1 ? AMinWorkers : 2;
  FMinWorkers = Min;
  int Max = FCPUNum * 2 + 1;
  if (Max <= Min) Max = Min * 2 + 1;
  FMaxWorkers = Max;
  FWorkers.assign(static_cast<size_t>(Max) + 1, nullptr);
  {
    std::lock_guard<std::recursive_mutex> L(FLocker);
    for (int I = 0; I < Min; ++I) NewWorker();
  }
  FMaxLongtimeWorkers = Max / 2;
  FStaticThread = new TStaticThread(this);
}

TKIVWorkers::~TKIVWorkers() {
  StopWorkers();
  // The monitor goes before the queues it looks at.
  if (TStaticThread* S = FStaticThread.exchange(nullptr)) {
    S->Terminate();
    if (!S->WaitEnd(6000)) std::fprintf(stderr, "KivWorker: monitor thread did not end within 6000 ms\n");
    delete S;
  }
  std::lock_guard<std::recursive_mutex> L(FLocker);
  delete FSimpleJobs;
  FSimpleJobs = nullptr;
  delete FRepeatJobs;
  FRepeatJobs = nullptr;
  if (FSignalJobs) {
    FSignalJobs->Clear();
    delete FSignalJobs;
    FSignalJobs = nullptr;
  }
}

TKIVWorkers* TKIVWorkers::GetInstance() {
  if (!GlobalWorkers) GlobalWorkers = new TKIVWorkers(2);
  return GlobalWorkers;
}

void TKIVWorkers::ReportError(PJob AJob, const Exception& E, TJobErrorSource ASource) {
  if (!OnError) return;
  try {
    OnError(AJob, E, ASource);
  } catch (...) {
    // a failing error handler must not take the worker down
  }
}

void TKIVWorkers::SetJobFreeType(PJob AJob, void* AData, TJobDataFreeType AFreeType) {
  if (!AData) return;
  AJob->Flags |= (static_cast<int32_t>(AFreeType) << JOB_DATA_OWNER_SHIFT) & JOB_DATA_OWNER;
  if (AFreeType == jdfFreeAsInterface) static_cast<IJobInterface*>(AData)->AddRef();
}

void TKIVWorkers::FreeJobData(void* AData, TJobDataFreeType AFreeType) {
  if (!AData) return;
  std::optional<Exception> Err;
  try {
    switch (AFreeType) {
      case jdfFreeAsObject:
        delete static_cast<TJobObject*>(AData);
        break;
      case jdfFreeAsRecord:
        std::free(AData);
        break;
      case jdfFreeAsInterface:
        static_cast<IJobInterface*>(AData)->Release();
        break;
      default:
        if (OnCustomFreeData) OnCustomFreeData(this, AFreeType, AData);
        break;
    }
  } catch (const Exception& E) {
    Err = E;
  } catch (const std::exception& E) {
    Err = ForeignException(E);
  } catch (...) {
    Err = UnknownException();
  }
  if (Err) ReportError(nullptr, *Err, jesFreeData);
}

void TKIVWorkers::FreeJob(PJob AJob) {
  while (AJob) {
    PJob Next = AJob->Next;
    // Every long-time job gives its slot back once, whether it ran, was
    // refused or was removed.
    if (AJob->Flags & JOB_LONGTIME) FLongTimeWorkers.fetch_sub(1);
    if (AJob->Data) {
      bool Due;
      if (AJob->DataRefs) {
        Due = AJob->DataRefs->fetch_sub(1) == 1;
        if (Due) {
          delete AJob->DataRefs;
          // the signal path frees whatever the free type
          Due = (AJob->Flags & JOB_SIGNAL) || AJob->FreeType() != jdfFreeByUser;
        }
      } else {
        Due = !(AJob->Flags & JOB_SIGNAL) && AJob->FreeType() != jdfFreeByUser;
      }
      if (Due) FreeJobData(AJob->Data, AJob->FreeType());
      AJob->Data = nullptr;
    }
    AJob->DataRefs = nullptr;
    kiv_detail::RecycleJobRecord(AJob);
    AJob = Next;
  }
}

PJob TKIVWorkers::NewJob(TJobProcRef& AProc, void* AData, TJobDataFreeType AFreeType, int32_t AFlags) {
  PJob J = NewJobRecord();
  bool Anon;
  J->JobProc = AProc.Detach(Anon);
  if (Anon) J->Flags |= JOB_ANON_PROC;
  J->Flags |= AFlags;
  J->Data = AData;
  SetJobFreeType(J, AData, AFreeType);
  return J;
}

TJobHandle TKIVWorkers::Post(TJobProcRef AJobProc, void* AData, bool ARunInMainThread, int64_t ADelay,
                             int64_t AInterval, TJobDataFreeType AFreeType) {
  PJob J = NewJob(AJobProc, AData, AFreeType, ARunInMainThread ? JOB_IN_MAIN_THREAD : 0);
  if (AInterval > 0)
    J->Interval = AInterval;
  else
    J->Flags |= JOB_RUN_ONCE;
  J->Delay = ADelay;
  return DoPost(J);
}

namespace {
double LocalTimeOfDay() {
  using namespace std::chrono;
  auto Now = system_clock::now();
  std::time_t T = system_clock::to_time_t(Now);
  std::tm Tm{};
  localtime_r(&T, &Tm);
  int64_t Ms = duration_cast<milliseconds>(Now.time_since_epoch()).count() % 1000;
  return (Tm.tm_hour * 3600000.0 + Tm.tm_min * 60000.0 + Tm.tm_sec * 1000.0 + static_cast<double>(Ms)) / 86400000.0;
}
}  // namespace

TJobHandle TKIVWorkers::Post(TJobProcRef AJobProc, void* AData, double ATime, int64_t AInterval,
                             bool ARunInMainThread, TJobDataFreeType AFreeType) {
  double Now = LocalTimeOfDay();
  double At = std::fabs(ATime - std::trunc(ATime));
  int64_t Delay;
  if (Now > At)
    Delay = static_cast<int64_t>((1 - Now + At) * 86400000.0);
  else
    Delay = static_cast<int64_t>((At - Now) * 86400000.0);
  return Post(std::move(AJobProc), AData, ARunInMainThread, Delay, AInterval, AFreeType);
}

TJobHandle TKIVWorkers::PostLongJob(TJobProcRef AJobProc, void* AData, TJobDataFreeType AFreeType) {
  if (FLongTimeWorkers.fetch_add(1) + 1 > FMaxLongtimeWorkers.load()) {
    FLongTimeWorkers.fetch_sub(1);
    return 0;
  }
  PJob J = NewJob(AJobProc, AData, AFreeType, JOB_LONGTIME | JOB_RUN_ONCE);
  return DoPost(J);
}

bool TKIVWorkers::RefusedWhileClearing(PJob AJob) {
  std::lock_guard<std::mutex> L(FClearingLock);
  for (const kiv_detail::TJobMatch* M : FClearing)
    if (M->Matches(AJob)) return true;
  return false;
}

TJobHandle TKIVWorkers::DoPost(PJob AJob) {
  if (FTerminating.load() || AJob->JobProc.IsNull() ||
      (FClearingCount.load() > 0 && RefusedWhileClearing(AJob))) {
    AJob->Next = nullptr;
    FreeJob(AJob);
    return 0;
  }
  TJobHandle H = reinterpret_cast<TJobHandle>(AJob);
  if ((AJob->Flags & JOB_RUN_ONCE) && AJob->Delay == 0) {
    if (!FSimpleJobs->Push(AJob)) return 0;
  } else {
    if (!FRepeatJobs->Push(AJob)) return 0;
    H |= jhkTimed;
  }
  LookupIdleWorker();
  return H;
}

PJob TKIVWorkers::TakeJob(int64_t ANow) {
  PJob J = FSimpleJobs->Pop(ANow);
  if (!J) J = FRepeatJobs->Pop();
  return J;
}

// Wakes one sleeping idle worker, or creates one while fewer than MaxWorkers
// exist and the workers already woken (pending) are fewer than the work
// waiting for them. Busy workers take the next job without sleeping, so when
// nobody sleeps and the woken ones suffice, posting costs no lock.
bool TKIVWorkers::LookupIdleWorker() {
  if (FBusyCount.load() >= FMaxWorkers.load() || !Enabled() || FTerminating.load()) return false;
  auto Demand = [this] {
    bool TimedUnwatched = FRepeatJobs->FirstFireTime() != 0 && FTimedWaiters.load() == 0;
    return FSimpleJobs->GetCount() + (TimedUnwatched ? 1 : 0);
  };
  // A spinner takes the queued work (see SpinForJobs); woken workers are not
  // counted here, as a spinner may be one of them.
  if (int Spinners = FSpinners.load(std::memory_order_relaxed); Spinners > 0 && Spinners >= Demand()) return false;
  {
    int Count = FWorkerCount.load(), Busy = FBusyCount.load(), Pending = FPendingCount.load();
    if (Count - Busy - Pending <= 0 && (Count >= FMaxWorkers.load() || Pending >= Demand())) return false;
  }
  while (FFiringWorkerCount.load() > 0) std::this_thread::yield();  // a retirement decision is under way
  std::lock_guard<std::recursive_mutex> L(FLocker);
  int Count = FWorkerCount.load();
  for (int I = 0; I < Count; ++I) {
    TKIVWorker* W = FWorkers[static_cast<size_t>(I)];
    if (W->IsIdle() && W->IsRunning() && !W->IsFiring()) {
      if (!W->FPending.exchange(true)) {
        FPendingCount.fetch_add(1);
        W->FEvent.SetEvent();
        return true;
      }
    }
  }
  // >= rather than =: after MaxWorkers was lowered there may be more.
  if (FWorkerCount.load() >= FMaxWorkers.load()) return false;
  if (FPendingCount.load() >= Demand()) return false;  // the woken ones suffice
  return NewWorker() != nullptr;
}

TKIVWorker* TKIVWorkers::NewWorker() {
  int Count = FWorkerCount.load();
  // Under FLocker: once StopWorkers has passed its locked step no worker may
  // appear (the monitor thread may still be looking for one).
  if (Count >= FMaxWorkers.load() || FTerminating.load()) return nullptr;
  TKIVWorker* W = new TKIVWorker(this);
  if (FWorkers.size() <= static_cast<size_t>(Count) + 1) FWorkers.resize(static_cast<size_t>(Count) + 2, nullptr);
  FWorkers[static_cast<size_t>(Count)] = W;
  FWorkerCount = Count + 1;
  W->FPending = true;
  FPendingCount.fetch_add(1);
  W->FEvent.SetEvent();
  try {
    std::thread T(&TKIVWorker::Execute, W);
    W->FHandle = static_cast<uintptr_t>(T.native_handle());  // known from creation on, as a thread handle is
    T.detach();
  } catch (const std::system_error&) {
    FWorkers[static_cast<size_t>(Count)] = nullptr;
    FWorkerCount = Count;
    FPendingCount.fetch_sub(1);
    delete W;
    return nullptr;
  }
  return W;
}

void TKIVWorkers::RetireWorker(TKIVWorker* AWorker) {
  int Firing = FFiringWorkerCount.fetch_add(1) + 1;
  int Remaining = FWorkerCount.load() - Firing;
  if (Remaining < FMinWorkers.load() || Remaining == FBusyCount.load()) {
    FFiringWorkerCount.fetch_sub(1);
  } else {
    AWorker->SetFlag(WORKER_FIRING);
    AWorker->FTerminated = true;
  }
}

void TKIVWorkers::WorkerExited(TKIVWorker* AWorker) {
  std::lock_guard<std::recursive_mutex> L(FLocker);
  int Count = FWorkerCount.load();
  for (int I = 0; I < Count; ++I) {
    if (FWorkers[static_cast<size_t>(I)] == AWorker) {
      for (int K = I; K + 1 < Count; ++K) FWorkers[static_cast<size_t>(K)] = FWorkers[static_cast<size_t>(K) + 1];
      FWorkers[static_cast<size_t>(Count) - 1] = nullptr;
      FWorkerCount = Count - 1;
      if (AWorker->IsFiring()) FFiringWorkerCount.fetch_sub(1);
      if (AWorker->FPending.exchange(false)) FPendingCount.fetch_sub(1);
      break;
    }
  }
  if (FWorkerCount.load() == 0 && FTerminateEvent) FTerminateEvent->SetEvent();
}

void TKIVWorkers::JobBookkeeping(PJob AJob, int64_t ANow) {
  AJob->Worker = nullptr;
  int64_t Used = ANow - AJob->RunStartTime;
  if (!(AJob->Flags & JOB_RUN_ONCE)) {
    FRepeatJobs->AfterRepeatRun(AJob, Used);
    if (!AJob->DataRefs) AJob->Data = nullptr;  // the datum stays with the master
  } else if (AJob->Flags & JOB_SIGNAL) {
    AfterSignalRun(AJob, Used);
  } else if ((AJob->Flags & JOB_GROUP) && AJob->Group) {
    AJob->Group->DoJobDone(AJob);
  }
  FreeJob(AJob);
}

void TKIVWorkers::DisableWorkers() { FDisableCount.fetch_add(1); }

void TKIVWorkers::EnableWorkers() {
  if (FDisableCount.fetch_sub(1) - 1 != 0) return;
  int N = SimpleJobCount() + RepeatJobCount();
  for (int I = 0; I < N; ++I)
    if (!LookupIdleWorker()) break;
}

void TKIVWorkers::SetMaxWorkers(int AValue) {
  if (AValue < 2 || AValue == FMaxWorkers.load()) return;
  std::lock_guard<std::recursive_mutex> L(FLocker);
  FMaxWorkers = AValue;
  // Never below the live workers: the surplus ends through retirement.
  size_t Slots = static_cast<size_t>(std::max(AValue, FWorkerCount.load())) + 1;
  FWorkers.resize(Slots, nullptr);
  // Keep the long-time limit within half of the new maximum; the count of
  // outstanding long-time jobs is left exact.
  if (FMaxLongtimeWorkers.load() > AValue / 2) FMaxLongtimeWorkers = AValue / 2;
}

void TKIVWorkers::SetMinWorkers(int AValue) {
  if (AValue == FMinWorkers.load()) return;
  if (AValue < 1) throw Exception(u"指定的最小工作者数量太少(必需大于等于1)。");
  FMinWorkers = AValue;
}

void TKIVWorkers::SetMaxLongtimeWorkers(int AValue) {
  if (AValue == FMaxLongtimeWorkers.load()) return;
  if (AValue > FMaxWorkers.load() / 2) throw Exception(u"不能允许太多长时间作业线程(最多允许工作者一半)。");
  FMaxLongtimeWorkers = AValue;
}

void TKIVWorkers::SetFireTimeout(int AValue) { FFireTimeout = AValue <= 0 ? INT_MAX : AValue; }

void TKIVWorkers::StopWorkers() {
  FTerminating = true;
  TEvent* Done;
  {
    std::lock_guard<std::recursive_mutex> L(FLocker);
    if (!FTerminateEvent) FTerminateEvent = new TEvent(true);
    Done = FTerminateEvent;
    int Woken = 0;
    for (int I = 0; I < FWorkerCount.load(); ++I) {
      TKIVWorker* W = FWorkers[static_cast<size_t>(I)];
      W->FTerminated = true;
      W->FEvent.SetEvent();
      ++Woken;
    }
    if (Woken == 0) Done->SetEvent();
  }
  // Main-thread jobs keep running meanwhile, so a worker blocked on one can end.
  const int64_t Deadline = GetTimestamp() + FForceQuitTimeout.load();
  while (!Done->IsSet()) {
    int64_t Left = Deadline - GetTimestamp();
    if (Left <= 0) break;
    MsgWaitForEvent(*Done, static_cast<uint32_t>(std::min<int64_t>(Left, 100)));
  }
  if (!Done->IsSet()) ForceQuit();
  while (FWorkerCount.load() > 0) {  // workers already on their way out
    PumpMessages();
    SleepMs(1);
  }
  std::lock_guard<std::recursive_mutex> L(FLocker);
  delete FTerminateEvent;
  FTerminateEvent = nullptr;
}

namespace {
// Workers given up at shutdown stay listed (and so reachable): they still run.
// (a pointer, so that no exit-time destructor drops the list under them)
std::mutex GGivenUpLock;
std::vector<TKIVWorker*>* const GGivenUp = new std::vector<TKIVWorker*>;
}  // namespace

// No thread is killed: a worker that did not end in time is given up. It never
// touches this manager again; its job record and thread object are kept.
void TKIVWorkers::ForceQuit() {
  std::vector<TKIVWorker*> GivenUp;
  {
    std::lock_guard<std::recursive_mutex> L(FLocker);
    int Count = FWorkerCount.load();
    int Kept = 0;
    for (int I = 0; I < Count; ++I) {
      TKIVWorker* W = FWorkers[static_cast<size_t>(I)];
      TKIVWorker::TExitState Expected = TKIVWorker::TExitState::Running;
      if (W->FExitState.compare_exchange_strong(Expected, TKIVWorker::TExitState::GivenUp)) {
        GivenUp.push_back(W);
        if (W->IsFiring()) FFiringWorkerCount.fetch_sub(1);
        if (W->FActiveJob.load()) FBusyCount.fetch_sub(1);
      } else {
        FWorkers[static_cast<size_t>(Kept++)] = W;
      }
    }
    for (int I = Kept; I < Count; ++I) FWorkers[static_cast<size_t>(I)] = nullptr;
    FWorkerCount = Kept;
  }
  for (TKIVWorker* W : GivenUp) {
    {
      std::lock_guard<std::mutex> L(GGivenUpLock);
      GGivenUp->push_back(W);
    }
    // It may be in the middle of touching this manager; let it get out.
    while (W->FInOwner.load()) {
      PumpMessages();
      SleepMs(1);
    }
    String Msg = Format(u"工作者线程未能在%d毫秒内结束，已放弃等待", FForceQuitTimeout.load());
    std::fprintf(stderr, "KivWorker: %s\n", ToUtf8(Msg).c_str());
    ReportError(W->FActiveJob.load(), Exception(Msg), jesWaitDone);
  }
}

TWorkerStateList TKIVWorkers::GetWorkerState() {
  TWorkerStateList R;
  std::lock_guard<std::recursive_mutex> L(FLocker);
  R.reserve(FWorkers.size());
  int64_t Now = GetTimestamp();
  for (int I = 0; I < FWorkerCount.load(); ++I) {
    TKIVWorker* W = FWorkers[static_cast<size_t>(I)];
    if (!W || W->FHandle.load() == 0) continue;
    TWorkerStateItem S{};
    S.Flags = W->FFlags.load();
    S.Handle = W->FHandle.load();
    PJob Active = W->FActiveJob.load();
    if (Active) {
      S.ActiveJobFlags = W->FActiveJobFlags.load();
      S.ActiveJobTime = Now - W->FLastActiveTime.load();
      S.ActiveJobProc = {W->FActiveJobCode.load(), W->FActiveJobObject.load()};
      if (W->FTerminatingJob.load() == Active) S.TerminatingJobProc = S.ActiveJobProc;
    }
    S.StartTime = W->FStartTime;
    S.LastExecTime = W->FLastExecTime.load();
    R.push_back(S);
  }
  return R;
}

int TKIVWorkers::JobPoolCount() { return GlobalJobPool ? GlobalJobPool->Count() : 0; }

String TKIVWorkers::GetJobPorcInfo(const TJobMethod& AJobProc) {
  uintptr_t Code = reinterpret_cast<uintptr_t>(AJobProc.Code);
  if ((Code >> 16) == 0) return u"-";
  char Hex[2 * sizeof(uintptr_t) + 1];
  std::snprintf(Hex, sizeof(Hex), "%08llX", static_cast<unsigned long long>(Code));
  std::string Desc;
  Dl_info Info{};
  if (dladdr(AJobProc.Code, &Info) && Info.dli_sname) {
    int Status = 0;
    char* Demangled = abi::__cxa_demangle(Info.dli_sname, nullptr, nullptr, &Status);
    Desc = Status == 0 && Demangled ? Demangled : Info.dli_sname;
    std::free(Demangled);
  } else if (Info.dli_fname) {
    std::ostringstream S;
    S << Info.dli_fname << "+0x" << std::hex
      << (Code - reinterpret_cast<uintptr_t>(Info.dli_fbase));
    Desc = S.str();
  } else {
    Desc = "?";
  }
  return Format(u"%s,%s", std::string(Hex), Desc);
}

// ---- module -------------------------------------------------------------

void KivWorkerInit() {
  if (GlobalJobPool) return;
  kiv_detail::StartClock();
  kiv_detail::SetMainThread();
  GlobalJobPool = new TJobPool(1024);
  GlobalWorkers = new TKIVWorkers(2);
}

void KivWorkerFinal() {
  if (TKIVWorkers* W = GlobalWorkers) {
    try {
      delete W;
    } catch (const std::exception& E) {
      std::fprintf(stderr, "KivWorker: %s\n", E.what());
    }
    GlobalWorkers = nullptr;
  }
  delete GlobalJobPool;
  GlobalJobPool = nullptr;
}
