// Named signals, and the removal of queued and running jobs.
#include <pthread.h>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "workers/KivSignals.h"
#include "workers/KivWorker.h"

using kiv_detail::TJobMatch;

PSignal TKIVWorkers::SignalById(int AId) { return static_cast<PSignal>(FSignalJobs->FindFirstData(static_cast<uintptr_t>(AId))); }

int TKIVWorkers::FindSignal(const String& AName) {
  if (AName.empty()) return -1;
  for (int32_t I = 0; I < FSignalJobs->BucketCount(); ++I)
    for (PHashList L = FSignalJobs->GetBuckets(I); L; L = L->Next) {
      PSignal S = static_cast<PSignal>(L->Data);
      if (S->Name == AName) return S->Id;
    }
  return -1;
}

int TKIVWorkers::SignalJobCount() {
  std::lock_guard<std::recursive_mutex> L(FLocker);
  return FSignalJobs ? FSignalJobs->Count() : 0;
}

int TKIVWorkers::RegisterSignal(const String& AName) {
  std::lock_guard<std::recursive_mutex> L(FLocker);
  int Id = FindSignal(AName);
  if (Id < 0) {
    PSignal S = new TSignal{++FMaxSignalId, 0, AName, nullptr};
    FSignalJobs->Add(S, static_cast<uintptr_t>(S->Id));
    Id = S->Id;
  }
  return Id;
}

TJobHandle TKIVWorkers::PostWait(TJobProcRef AJobProc, int ASignalId, bool ARunInMainThread) {
  if (FTerminating.load() || AJobProc.Method().IsNull()) return 0;
  PJob J = NewJob(AJobProc, nullptr, jdfFreeByUser, JOB_SIGNAL | (ARunInMainThread ? JOB_IN_MAIN_THREAD : 0));
  J->SignalId = ASignalId;
  J->PushTime = GetTimestamp();
  {
    std::lock_guard<std::recursive_mutex> L(FLocker);
    if (PSignal S = SignalById(ASignalId)) {
      J->Next = S->First;
      S->First = J;
      return reinterpret_cast<TJobHandle>(J) | jhkSignalWait;
    }
  }
  FreeJob(J);
  return 0;
}

void TKIVWorkers::FireSignal(PSignal ASignal, void* AData, TJobDataFreeType AFreeType) {
  ++ASignal->Fired;
  std::atomic<int32_t>* Refs = AData ? new std::atomic<int32_t>(1) : nullptr;
  for (PJob W = ASignal->First; W; W = W->Next) {
    PJob C = kiv_detail::NewJobRecord();
    CopyJob(C, W);
    C->Flags |= JOB_RUN_ONCE;
    C->Source = W;
    C->Data = AData;
    if (AData) {
      // The one reference of an interface datum was taken by SendSignal.
      C->Flags |= (static_cast<int32_t>(AFreeType) & 0xF) << 8;
      Refs->fetch_add(1);
      C->DataRefs = Refs;
    }
    FSimpleJobs->Push(C);
  }
  if (Refs && Refs->fetch_sub(1) == 1) {
    delete Refs;
    FreeJobData(AData, AFreeType);
  }
}

void TKIVWorkers::SendSignal(int AId, void* AData, TJobDataFreeType AFreeType) {
  // An interface datum gets exactly one pool reference for the whole sending,
  // released after the last copy (or at once when nothing runs).
  if (AData && AFreeType == jdfFreeAsInterface) static_cast<IJobInterface*>(AData)->AddRef();
  // While terminating the datum is still freed: nothing else would.
  if (FTerminating.load()) {
    FreeJobData(AData, AFreeType);
    return;
  }
  bool Found = false;
  {
    std::lock_guard<std::recursive_mutex> L(FLocker);
    if (PSignal S = SignalById(AId)) {
      FireSignal(S, AData, AFreeType);
      Found = true;
    }
  }
  if (Found)
    LookupIdleWorker();
  else
    FreeJobData(AData, AFreeType);
}

void TKIVWorkers::SendSignal(const String& AName, void* AData, TJobDataFreeType AFreeType) {
  if (AName.empty()) return;
  int Id;
  {
    std::lock_guard<std::recursive_mutex> L(FLocker);
    Id = FindSignal(AName);
  }
  // An id that is never registered (0) takes the not-found path.
  SendSignal(Id > 0 ? Id : 0, AData, AFreeType);
}

void TKIVWorkers::AfterSignalRun(PJob AJob, int64_t AUsedTime) {
  std::lock_guard<std::recursive_mutex> L(FLocker);
  PSignal S = SignalById(AJob->SignalId);
  if (!S) return;
  PJob Prev = nullptr;
  for (PJob W = S->First; W; Prev = W, W = W->Next) {
    if (W != AJob->Source) continue;
    if (AJob->IsTerminated()) {
      if (Prev)
        Prev->Next = W->Next;
      else
        S->First = W->Next;
      W->Next = nullptr;
      FreeJob(W);
    } else {
      ++W->Runs;
      if (AUsedTime > 0) {
        if (W->MinTime == 0 || static_cast<int64_t>(W->MinTime) > AUsedTime) W->MinTime = static_cast<uint32_t>(AUsedTime);
        if (W->MaxTime == 0 || static_cast<int64_t>(W->MaxTime) < AUsedTime) W->MaxTime = static_cast<uint32_t>(AUsedTime);
      }
    }
    return;
  }
}

bool TKIVWorkers::HasJobRunning(TWaitKind AWaitType, const void* AParam1, void* AParam2, bool& AMarkOnly) {
  bool Result = false;
  std::optional<Exception> Unknown;
  const uintptr_t Self = static_cast<uintptr_t>(pthread_self());
  DisableWorkers();
  {
    std::lock_guard<std::recursive_mutex> L(FLocker);
    for (int I = 0; I < FWorkerCount.load(); ++I) {
      TKIVWorker* W = FWorkers[static_cast<size_t>(I)];
      // A job that clears never waits for itself.
      if (W->FHandle.load() == Self) continue;
      if (W->IsLookuping()) {
        Result = true;
        break;
      }
      if (!W->IsExecuting()) continue;
      if (W->IsCleaning()) {
        Result = true;
        continue;
      }
      bool Match = false;
      switch (AWaitType) {
        case wkObject:
          Match = W->FActiveJobObject.load() == AParam1;
          break;
        case wkProc: {
          const TJobMethod* P = static_cast<const TJobMethod*>(AParam1);
          void* D = W->FActiveJobData.load();
          Match = W->FActiveJobCode.load() == P->Code && W->FActiveJobObject.load() == P->Data &&
                  kiv_detail::DataMatches(AParam2, D);
          break;
        }
        case wkSource:
          Match = W->FActiveJobSource.load() == AParam1;
          break;
        case wkGroup:
          Match = W->FActiveJobGroup.load() == AParam1;
          break;
        case wkJob:
          Match = W->FActiveJob.load() == AParam1;
          break;
        case wkAll:
          Match = true;
          break;
        default: {
          Exception E(Format(u"未知的等待正在执行作业完成方式:%d", static_cast<int>(AWaitType)));
          if (OnError) {
            ReportError(W->FActiveJob.load(), E, jesWaitDone);
            continue;
          }
          Unknown = E;
          break;
        }
      }
      if (Unknown) break;
      if (Match) {
        Result = true;
        W->FTerminatingJob = W->FActiveJob.load();
        // The main thread must not wait for a job that needs the main thread.
        if (!AMarkOnly && (W->FActiveJobFlags.load() & JOB_IN_MAIN_THREAD) && IsMainThread()) AMarkOnly = true;
      }
    }
  }
  EnableWorkers();
  if (Unknown) throw *Unknown;
  return Result;
}

void TKIVWorkers::WaitRunningJobs(TWaitKind AWaitType, const void* AParam1, void* AParam2, bool AMarkOnly) {
  for (;;) {
    if (!HasJobRunning(AWaitType, AParam1, AParam2, AMarkOnly) || AMarkOnly) return;
    if (IsMainThread()) PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Removes the waiting jobs of AFirst's chain together with every queued copy
// of any of them (not only of the first), then waits for running copies.
int TKIVWorkers::ClearSignalJob(PJob AFirst, bool AWaitRunningDone) {
  std::vector<PJob> Chain;
  for (PJob W = AFirst; W; W = W->Next) Chain.push_back(W);
  auto InChain = [&](PJob S) {
    for (PJob W : Chain)
      if (W == S) return true;
    return false;
  };
  PJob J = FSimpleJobs->DetachAll();
  PJob KeepFirst = nullptr, KeepLast = nullptr, Removed = nullptr;
  int Count = 0;
  while (J) {
    PJob Next = J->Next;
    if ((J->Flags & JOB_SIGNAL) && InChain(J->Source)) {
      J->Next = Removed;
      Removed = J;
      ++Count;
    } else {
      J->Next = nullptr;
      if (KeepLast)
        KeepLast->Next = J;
      else
        KeepFirst = J;
      KeepLast = J;
    }
    J = Next;
  }
  FSimpleJobs->PutBack(KeepFirst);
  FreeJob(Removed);
  for (PJob W : Chain) WaitRunningJobs(wkSource, W, nullptr, !AWaitRunningDone);
  FreeJob(AFirst);
  return Count;
}

int TKIVWorkers::ClearChainsByMatch(const TJobMatch& AMatch, int AMaxTimes) {
  std::lock_guard<std::recursive_mutex> L(FLocker);
  int Count = 0;
  for (int32_t I = 0; I < FSignalJobs->BucketCount(); ++I)
    for (PHashList HL = FSignalJobs->GetBuckets(I); HL; HL = HL->Next) {
      PSignal S = static_cast<PSignal>(HL->Data);
      PJob Prev = nullptr;
      PJob W = S->First;
      while (W) {
        if (AMaxTimes >= 0 && Count >= AMaxTimes) return Count;
        PJob Next = W->Next;
        if (AMatch.Matches(W)) {
          if (Prev)
            Prev->Next = Next;
          else
            S->First = Next;
          W->Next = nullptr;
          FreeJob(W);
          ++Count;
        } else {
          Prev = W;
        }
        W = Next;
      }
    }
  return Count;
}

void TKIVWorkers::Clear(bool AWaitRunningDone) {
  DisableWorkers();
  FSimpleJobs->Clear();
  FRepeatJobs->Clear();
  {
    std::lock_guard<std::recursive_mutex> L(FLocker);
    for (int32_t I = 0; I < FSignalJobs->BucketCount(); ++I)
      for (PHashList HL = FSignalJobs->GetBuckets(I); HL; HL = HL->Next) {
        PSignal S = static_cast<PSignal>(HL->Data);
        PJob Chain = S->First;
        S->First = nullptr;
        FreeJob(Chain);
      }
  }
  EnableWorkers();
  WaitRunningJobs(wkAll, nullptr, nullptr, !AWaitRunningDone);
}

class TKIVWorkers::TClearingScope {
 public:
  TClearingScope(TKIVWorkers& AOwner, const TJobMatch& AMatch) : FOwner(AOwner), FMatch(AMatch) {
    std::lock_guard<std::mutex> L(FOwner.FClearingLock);
    FOwner.FClearing.push_back(&FMatch);
    FOwner.FClearingCount.fetch_add(1);
  }
  ~TClearingScope() {
    std::lock_guard<std::mutex> L(FOwner.FClearingLock);
    auto& V = FOwner.FClearing;
    for (size_t I = 0; I < V.size(); ++I)
      if (V[I] == &FMatch) {
        V.erase(V.begin() + static_cast<std::ptrdiff_t>(I));
        break;
      }
    FOwner.FClearingCount.fetch_sub(1);
  }
  TClearingScope(const TClearingScope&) = delete;
  TClearingScope& operator=(const TClearingScope&) = delete;

 private:
  TKIVWorkers& FOwner;
  const TJobMatch& FMatch;
};

namespace {
int Remaining(int AMaxTimes, int ADone) { return AMaxTimes < 0 ? -1 : AMaxTimes - ADone; }
bool LimitLeft(int AMaxTimes, int ADone) { return AMaxTimes < 0 || ADone < AMaxTimes; }
}  // namespace

// AClearIn(queue, limit) removes from one job queue; the waiting chains are
// matched by AMatch.
template <class TClearIn>
int TKIVWorkers::ClearAndWait(const TJobMatch& AMatch, TClearIn&& AClearIn, int AMaxTimes, bool AWaitRunningDone,
                              TWaitKind AWaitType, const void* AParam1, void* AParam2) {
  auto RemoveQueued = [&](int AMax) {
    int N = AClearIn(static_cast<TJobBase*>(FSimpleJobs), AMax);
    if (LimitLeft(AMax, N)) N += AClearIn(static_cast<TJobBase*>(FRepeatJobs), Remaining(AMax, N));
    if (LimitLeft(AMax, N)) N += ClearChainsByMatch(AMatch, Remaining(AMax, N));
    return N;
  };
  if (AMaxTimes >= 0 || !AWaitRunningDone) {
    int N = RemoveQueued(AMaxTimes);
    if (LimitLeft(AMaxTimes, N)) WaitRunningJobs(AWaitType, AParam1, AParam2, !AWaitRunningDone);
    return N;
  }
  TClearingScope Refusing(*this, AMatch);
  int N = RemoveQueued(-1);
  WaitRunningJobs(AWaitType, AParam1, AParam2, false);
  // A job of it that posted just before the scope began has ended by now, so
  // its post is queued and goes here.
  return N + RemoveQueued(-1);
}

int TKIVWorkers::Clear(void* AObject, int AMaxTimes, bool AWaitRunningDone) {
  TJobMatch M{TJobMatch::ByObject};
  M.Data = AObject;
  return ClearAndWait(
      M, [&](TJobBase* Q, int AMax) { return Q->Clear(AObject, AMax); }, AMaxTimes, AWaitRunningDone, wkObject,
      AObject, nullptr);
}

int TKIVWorkers::Clear(const TJobMethod& AProc, void* AData, int AMaxTimes, bool AWaitRunningDone) {
  // Waiting jobs carry no datum: a datum given here never matches one.
  TJobMatch M{TJobMatch::ByProc};
  M.Proc = AProc;
  M.Data = AData;
  return ClearAndWait(
      M, [&](TJobBase* Q, int AMax) { return Q->Clear(AProc, AData, AMax); }, AMaxTimes, AWaitRunningDone, wkProc,
      &AProc, AData);
}

int TKIVWorkers::Clear(const String& ASignalName, bool AWaitRunningDone) {
  PJob Chain = nullptr;
  {
    std::lock_guard<std::recursive_mutex> L(FLocker);
    int Id = FindSignal(ASignalName);
    if (PSignal S = Id > 0 ? SignalById(Id) : nullptr) {
      Chain = S->First;
      S->First = nullptr;
    }
  }
  return Chain ? ClearSignalJob(Chain, AWaitRunningDone) : 0;
}

int TKIVWorkers::Clear(int ASignalId, bool AWaitRunningDone) {
  PJob Chain = nullptr;
  {
    std::lock_guard<std::recursive_mutex> L(FLocker);
    if (PSignal S = ASignalId > 0 ? SignalById(ASignalId) : nullptr) {
      Chain = S->First;
      S->First = nullptr;
    }
  }
  return Chain ? ClearSignalJob(Chain, AWaitRunningDone) : 0;
}

bool TKIVWorkers::Clear(TJobHandle AHandle, bool AWaitRunningDone) {
  if (AHandle == 0) return false;
  PJob J = JobOfHandle(AHandle);
  switch (JobHandleKind(AHandle)) {
    case jhkSimple:
      // A queued job is not running, and its record may be reused at once:
      // no scan of running jobs by its address.
      return FSimpleJobs->Clear(AHandle);
    case jhkTimed: {
      PJob Master = FRepeatJobs->Unlink(J);
      if (!Master) return false;
      WaitRunningJobs(wkSource, Master, nullptr, !AWaitRunningDone);
      FreeJob(Master);
      return true;
    }
    case jhkSignalWait: {
      bool Found = false;
      {
        std::lock_guard<std::recursive_mutex> L(FLocker);
        for (int32_t I = 0; I < FSignalJobs->BucketCount() && !Found; ++I)
          for (PHashList HL = FSignalJobs->GetBuckets(I); HL && !Found; HL = HL->Next) {
            PSignal S = static_cast<PSignal>(HL->Data);
            PJob Prev = nullptr;
            for (PJob W = S->First; W; Prev = W, W = W->Next)
              if (W == J) {
                if (Prev)
                  Prev->Next = W->Next;
                else
                  S->First = W->Next;
                W->Next = nullptr;
                Found = true;
                break;
              }
          }
      }
      if (Found) ClearSignalJob(J, AWaitRunningDone);
      return Found;
    }
    default:
      return false;
  }
}
