// Job groups and the parallel for.
#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "workers/KivJobGroup.h"
#include "workers/KivWorker.h"

namespace {
TKIVWorkers* OwnerOrGlobal(TKIVWorkers* AOwner) {
  TKIVWorkers* O = AOwner ? AOwner : GlobalWorkers;
  if (!O) throw Exception(u"当前尚未初始化有工作者管理对象 TKIVWorkers");
  return O;
}
}  // namespace

// ---- group --------------------------------------------------------------

TJobGroup::TJobGroup(bool AByOrder) : TJobGroup(nullptr, AByOrder) {}

TJobGroup::TJobGroup(TKIVWorkers* AOwner, bool AByOrder) : FOwner(OwnerOrGlobal(AOwner)), FByOrder(AByOrder) {}

TJobGroup::~TJobGroup() {
  Cancel(true);
  // Running jobs that need the main thread are only marked by Cancel on the
  // main thread; they, and any worker still inside this group, must be done
  // before the group goes away.
  while (FPosted.load() > 0 || FInside.load() > 0) {
    PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // The timeout job, queued or running.
  FOwner->Clear(static_cast<void*>(this), -1, true);
}

int TJobGroup::Count() {
  std::lock_guard<std::mutex> L(FLocker);
  return static_cast<int>(FItems.size());
}

// Under FLocker: a new run of the group begins (nothing if it already runs).
void TJobGroup::StartRun() {
  if (FWaitResult.load() == wrIOCompletion && !FEnding.load()) return;
  FEnding = false;
  FTimingOut = false;
  FEvent.ResetEvent();
  FWaitResult = wrIOCompletion;
}

// Each run ends once: AfterDone, then the result, then the event (after which
// this object is not touched, so a waiter may free it).
void TJobGroup::EndGroup(TWaitResult AResult) {
  if (FWaitResult.load() != wrIOCompletion || FEnding.exchange(true)) return;
  if (FTimingOut.load()) AResult = wrTimeout;
  DoAfterDone();
  FWaitResult = AResult;
  FEvent.SetEvent();
}

void TJobGroup::DoAfterDone() {
  if (!AfterDone) return;
  try {
    AfterDone(this);
  } catch (const Exception& E) {
    FOwner->ReportError(nullptr, E, jesAfterDone);
  } catch (const std::exception& E) {
    FOwner->ReportError(nullptr, Exception(FromUtf8(E.what())), jesAfterDone);
  }
}

// Under FLocker. A refused job has been released already.
bool TJobGroup::PostJob(PJob AJob) {
  if (FOwner->DoPost(AJob) == 0) return false;
  FPosted.fetch_add(1);
  return true;
}

void TJobGroup::Prepare() { FPrepareCount.fetch_add(1); }

bool TJobGroup::Add(TJobProcRef AProc, void* AData, bool AInMainThread, TJobDataFreeType AFreeType) {
  PJob J = FOwner->NewJob(AProc, AData, AFreeType,
                          JOB_RUN_ONCE | JOB_GROUP | (AInMainThread ? JOB_IN_MAIN_THREAD : 0));
  J->Group = this;
  std::lock_guard<std::mutex> L(FLocker);
  StartRun();
  if (FPrepareCount.load() > 0) {
    FItems.push_back(J);
    return true;
  }
  if (FByOrder) {
    FItems.push_back(J);
    if (FItems.size() > 1) return true;  // waits for its predecessors
    if (PostJob(J)) return true;
    FItems.pop_back();
  } else {
    if (!PostJob(J)) return false;
    FItems.push_back(J);
    return true;
  }
  return false;
}

void TJobGroup::Run(uint32_t ATimeout) {
  if (FPrepareCount.fetch_sub(1) != 1) return;
  std::optional<TWaitResult> Ended;
  {
    std::lock_guard<std::mutex> L(FLocker);
    StartRun();
    if (ATimeout != KivInfinite) {
      FTimeoutCheck = true;
      FOwner->Post(MakeJobProc<&TJobGroup::DoTimeout>(this), nullptr, false, static_cast<int64_t>(ATimeout));
    }
    if (FItems.empty()) {
      Ended = wrSignaled;
    } else if (FByOrder) {
      if (!Pushed(FItems.front()) && !PostJob(FItems.front())) {
        FItems.erase(FItems.begin());
        Ended = wrAbandoned;
      }
    } else {
      for (size_t I = 0; I < FItems.size(); ++I) {
        if (Pushed(FItems[I])) continue;
        if (!PostJob(FItems[I])) {
          FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(I));
          Ended = wrAbandoned;
          break;
        }
      }
    }
  }
  if (Ended) EndGroup(*Ended);
}

void TJobGroup::DoJobDone(PJob AJob) {
  FInside.fetch_add(1);
  FRuns.fetch_add(1);
  std::optional<TWaitResult> Ended;
  {
    std::lock_guard<std::mutex> L(FLocker);
    FPosted.fetch_sub(1);
    auto It = std::find(FItems.begin(), FItems.end(), AJob);
    if (It != FItems.end()) {
      FItems.erase(It);
      if (FItems.empty()) {
        Ended = wrSignaled;
      } else if (FByOrder && !Pushed(FItems.front()) && !PostJob(FItems.front())) {
        FItems.erase(FItems.begin());
        Ended = wrAbandoned;
      }
    } else if (FItems.empty() && FPosted.load() == 0) {
      // the list was emptied by Cancel and this was the last job out
      Ended = FCanceled.exchange(0) != 0 ? wrAbandoned : wrSignaled;
    }
  }
  if (Ended) EndGroup(*Ended);
  FInside.fetch_sub(1);
}

void TJobGroup::Cancel(bool AWaitRunningDone) {
  PJob Release = nullptr;
  {
    std::lock_guard<std::mutex> L(FLocker);
    FCanceled = 0;
    // Jobs never handed over (later ones of an ordered group, or an unopened
    // Prepare bracket) are released here; handed-over ones stay with the pool.
    for (PJob J : FItems)
      if (!Pushed(J)) {
        J->Next = Release;
        Release = J;
        FCanceled.fetch_add(1);
      }
    FItems.clear();
  }
  FOwner->FreeJob(Release);
  if (FPosted.load() > 0) {
    // Queued jobs of the group are withdrawn whoever's methods they are.
    int Withdrawn = FOwner->FSimpleJobs->ClearGroup(this);
    {
      std::lock_guard<std::mutex> L(FLocker);
      FCanceled.fetch_add(Withdrawn);
      FPosted.fetch_sub(Withdrawn);
    }
    FOwner->WaitRunningJobs(TKIVWorkers::wkGroup, this, nullptr, !AWaitRunningDone);
  }
  bool Done;
  int Canceled;
  {
    std::lock_guard<std::mutex> L(FLocker);
    Done = FPosted.load() == 0 && FItems.empty();
    Canceled = FCanceled.load();
  }
  if (Done) EndGroup(Canceled > 0 ? wrAbandoned : wrSignaled);
}

void TJobGroup::DoTimeout(PJob) {
  FTimeoutCheck = false;
  if (FWaitResult.load() != wrIOCompletion) return;
  FTimingOut = true;
  Cancel(true);
  EndGroup(wrTimeout);
}

TWaitResult TJobGroup::DoWait(uint32_t ATimeout, bool AMsgWait) {
  TWaitResult R = FWaitResult.load();
  if (R == wrIOCompletion) {
    TWaitResult W = AMsgWait ? MsgWaitForEvent(FEvent, ATimeout) : FEvent.WaitFor(ATimeout);
    if (W != wrSignaled) {
      FTimingOut = true;
      Cancel(true);
      EndGroup(wrTimeout);
      // a run that ended by itself meanwhile keeps its own result
      FEvent.WaitFor(KivInfinite);
    }
    R = FWaitResult.load();
  } else {
    // The end of a run sets the event last; wait for it so the group is
    // quiet when the caller goes on.
    FEvent.WaitFor(KivInfinite);
  }
  if (FTimeoutCheck.exchange(false)) FOwner->Clear(static_cast<void*>(this), -1, true);
  return R;
}

TWaitResult TJobGroup::WaitFor(uint32_t ATimeout) { return DoWait(ATimeout, false); }

TWaitResult TJobGroup::MsgWaitFor(uint32_t ATimeout) { return DoWait(ATimeout, IsMainThread()); }

// ---- parallel for -------------------------------------------------------

TForJobs::TForJobs(TKIVWorkers* AOwner, intptr_t AStartIndex, intptr_t AStopIndex, void* AData,
                   TJobDataFreeType AFreeType)
    : FOwner(OwnerOrGlobal(AOwner)), FStartIndex(AStartIndex), FStopIndex(AStopIndex), FIterator(AStartIndex - 1) {
  intptr_t Range = AStopIndex - AStartIndex + 1;
  intptr_t N = static_cast<intptr_t>(FOwner->CPUNum()) * 2;
  FWorkerCount = static_cast<int>(std::max<intptr_t>(0, std::min(N, Range)));
  FWorkJob = GlobalJobPool ? GlobalJobPool->Pop() : new TJob{};
  FWorkJob->Data = AData;
  TKIVWorkers::SetJobFreeType(FWorkJob, AData, AFreeType);
  FWorkJob->Flags |= JOB_RUN_ONCE;
  FWorkJob->Flags &= ~JOB_IN_MAIN_THREAD;
}

TForJobs::TForJobs(intptr_t AStartIndex, intptr_t AStopIndex, void* AData, TJobDataFreeType AFreeType)
    : TForJobs(nullptr, AStartIndex, AStopIndex, AData, AFreeType) {}

TForJobs::~TForJobs() {
  // Loop jobs posted but never started would still call into this object.
  if (FWorkerCount.load() > 0) {
    BreakIt();
    FOwner->Clear(static_cast<void*>(this), -1, true);
  }
  // The last loop job may still be inside SetEvent.
  if (FLoopJobs > 0 && FWorkerCount.load() == 0) FEvent.WaitFor(KivInfinite);
  FWorkJob->Next = nullptr;
  FOwner->FreeJob(FWorkJob);
}

uint32_t TForJobs::Runs() const { return static_cast<uint32_t>(std::atomic_ref<int32_t>(FWorkJob->Runs).load()); }

void TForJobs::Start(TForProcRef AProc) {
  bool Anon;
  FWorkJob->JobProc = AProc.Detach(Anon);
  if (Anon) FWorkJob->Flags |= JOB_ANON_PROC;
  FWorkJob->RunStartTime = GetTimestamp();
  int N = FWorkerCount.load();
  FLoopJobs = 0;
  FOwner->DisableWorkers();
  for (int I = 0; I < N; ++I) {
    if (FOwner->Post(MakeJobProc<&TForJobs::DoJob>(this)) != 0) {
      ++FLoopJobs;
    } else if (FWorkerCount.fetch_sub(1) == 1) {
      FEvent.SetEvent();
    }
  }
  FOwner->EnableWorkers();
}

void TForJobs::CallProc(intptr_t AIndex) {
  const TJobMethod& M = FWorkJob->JobProc;
  if (FWorkJob->Flags & JOB_ANON_PROC)
    static_cast<kiv_detail::TClosure<TForJobProcA>*>(static_cast<kiv_detail::TClosureBase*>(M.Code))
        ->Proc(this, FWorkJob, AIndex);
  else if (M.Data)
    reinterpret_cast<void (*)(void*, TForJobs*, PJob, intptr_t)>(M.Code)(M.Data, this, FWorkJob, AIndex);
  else if (M.Code)
    reinterpret_cast<TForJobProcG>(M.Code)(this, FWorkJob, AIndex);
}

void TForJobs::DoJob(PJob AJob) {
  std::optional<Exception> Err;
  try {
    for (;;) {
      intptr_t I = FIterator.fetch_add(1) + 1;
      if (I > FStopIndex) break;
      CallProc(I);
      std::atomic_ref<int32_t>(FWorkJob->Runs).fetch_add(1);
      if (FIterator.load() > FStopIndex || FBreaked.load() || AJob->IsTerminated()) break;
    }
  } catch (const Exception& E) {
    Err = E;
  } catch (const std::exception& E) {
    Err = Exception(FromUtf8(E.what()));
  }
  if (Err) FOwner->ReportError(FWorkJob, *Err, jesExecute);
  if (AJob->IsTerminated()) BreakIt();
  if (FWorkerCount.fetch_sub(1) == 1) FEvent.SetEvent();  // last touch of this object
}

TWaitResult TForJobs::Wait(bool AMsgWait) {
  TWaitResult R = wrSignaled;
  // Once a loop job was posted, the last one sets the event: wait for that even
  // when the count already reads 0, or this object could go under SetEvent.
  if (FLoopJobs > 0 || FWorkerCount.load() > 0)
    R = AMsgWait ? MsgWaitForEvent(FEvent, KivInfinite) : FEvent.WaitFor(KivInfinite);
  if (FBreaked.load()) R = wrAbandoned;
  FWorkJob->TotalTime = static_cast<uint32_t>(GetTimestamp() - FWorkJob->RunStartTime);
  return R;
}

TWaitResult TKIVWorkers::For(intptr_t AStartIndex, intptr_t AStopIndex, TForProcRef AWorkerProc, void* AData,
                             bool AMsgWait, TJobDataFreeType AFreeType) {
  TForJobs F(this, AStartIndex, AStopIndex, AData, AFreeType);
  F.Start(std::move(AWorkerProc));
  return F.Wait(AMsgWait);
}
