#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "WorkerTestSupport.h"

namespace {
std::unique_ptr<TKIVWorkers> NewPool(int AMinWorkers = 2) { return std::make_unique<TKIVWorkers>(AMinWorkers); }

// Sources of the queued signal copies, in queue order (the queue is left as it was).
std::vector<PJob> QueuedSources(TKIVWorkers& P) {
  std::vector<PJob> R;
  PJob First = P.SimpleJobs()->DetachAll();
  for (PJob J = First; J; J = J->Next) R.push_back(J->Source);
  P.SimpleJobs()->PutBack(First);
  return R;
}
PJob JobOf(TJobHandle H) { return reinterpret_cast<PJob>(H & ~TJobHandle(3)); }

struct TTarget {
  std::atomic<int> Calls{0};
  void Run(PJob) { Calls.fetch_add(1); }
};
}  // namespace

TEST(KivSignals, RegistrationHandsOutStableIds) {
  auto P = NewPool();
  EXPECT_EQ(P->RegisterSignal(u"WaitCheckBookSource"), 1);
  EXPECT_EQ(P->RegisterSignal(u"WaitCheckBookSource"), 1);
  EXPECT_EQ(P->RegisterSignal(u"waitcheckbooksource"), 2) << "names compare case-sensitively";
  EXPECT_EQ(P->RegisterSignal(u""), 3);
  EXPECT_EQ(P->RegisterSignal(u""), 4) << "an empty name is never found again";
  EXPECT_EQ(P->SignalJobCount(), 4);
  EXPECT_EQ(P->PostWait([](PJob) {}, 7), 0u) << "id 7 was never registered";
  TJobHandle H = P->PostWait([](PJob) {}, 1);
  EXPECT_EQ(H & 3, 2u);
}

TEST(KivSignals, CopiesQueueInChainOrderNewestWaiterFirst) {
  auto P = NewPool();
  int Id = P->RegisterSignal(u"order");
  std::mutex Lock;
  std::vector<int> Ran;
  std::vector<TJobHandle> H;
  for (int I = 1; I <= 3; ++I)
    H.push_back(P->PostWait([&, I](PJob) {
      std::lock_guard<std::mutex> L(Lock);
      Ran.push_back(I);
    }, Id));
  P->DisableWorkers();
  P->SendSignal(Id);
  EXPECT_EQ(QueuedSources(*P), (std::vector<PJob>{JobOf(H[2]), JobOf(H[1]), JobOf(H[0])}));
  P->EnableWorkers();
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> L(Lock);
    return Ran.size() == 3;
  }));
  // The waiting jobs stay registered and count their runs.
  P->SendSignal(u"order");
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> L(Lock);
    return Ran.size() == 6 && P->BusyWorkerCount() == 0;
  }));
  // Once no worker is busy every run's bookkeeping is done.
  EXPECT_EQ(JobOf(H[0])->Runs, 2);
}

TEST(KivSignals, ADatumWithNothingToRunIsFreedBeforeSendReturns) {
  auto P = NewPool();
  int Empty = P->RegisterSignal(u"empty");
  struct Case {
    const char* Name;
    std::function<void(void*)> Send;
  };
  const Case Cases[] = {
      {"registered, no waiting job", [&](void* D) { P->SendSignal(Empty, D, jdfFreeAsObject); }},
      {"unregistered id", [&](void* D) { P->SendSignal(99, D, jdfFreeAsObject); }},
      {"unregistered name", [&](void* D) { P->SendSignal(u"nobody", D, jdfFreeAsObject); }},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    std::atomic<int> Destroyed{0};
    C.Send(new TCountedObject(&Destroyed));
    EXPECT_EQ(Destroyed.load(), 1);
  }
}

TEST(KivSignals, ADatumSharedByTwoCopiesIsFreedOnceAfterBoth) {
  auto P = NewPool();
  int Id = P->RegisterSignal(u"shared");
  std::atomic<int> Destroyed{0}, Runs{0}, FreedEarly{0};
  std::atomic<void*> Seen[2] = {nullptr, nullptr};
  for (int I = 0; I < 2; ++I)
    P->PostWait([&, I](PJob J) {
      Seen[I] = J->Data;
      SleepMs(100);
      if (Destroyed.load() != 0) FreedEarly.fetch_add(1);
      Runs.fetch_add(1);
    }, Id);
  auto* Obj = new TCountedObject(&Destroyed);
  P->SendSignal(Id, Obj, jdfFreeAsObject);
  ASSERT_TRUE(WaitUntil([&] { return Runs.load() == 2 && Destroyed.load() == 1; }));
  SleepMs(100);
  EXPECT_EQ(Destroyed.load(), 1);
  EXPECT_EQ(FreedEarly.load(), 0);
  EXPECT_EQ(Seen[0].load(), Obj);
  EXPECT_EQ(Seen[1].load(), Obj);
}

TEST(KivSignals, UserOwnedSignalDataReachTheCustomHandlerOnce) {
  auto P = NewPool();
  int Id = P->RegisterSignal(u"user");
  std::atomic<int> Handled{0}, Runs{0};
  std::atomic<int> LastType{-1};
  int Datum = 0;
  P->OnCustomFreeData = [&](TKIVWorkers*, TJobDataFreeType T, void* D) {
    if (D == &Datum) {
      LastType = T;
      Handled.fetch_add(1);
    }
  };
  for (int I = 0; I < 3; ++I) P->PostWait([&](PJob) { Runs.fetch_add(1); }, Id);
  P->SendSignal(Id, &Datum, jdfFreeByUser);
  ASSERT_TRUE(WaitUntil([&] { return Runs.load() == 3 && Handled.load() == 1; }));
  SleepMs(50);
  EXPECT_EQ(Handled.load(), 1);
  EXPECT_EQ(LastType.load(), jdfFreeByUser);
}

TEST(KivSignals, InterfaceDataGetOneReferenceForTheWholeSending) {
  auto P = NewPool();
  int Two = P->RegisterSignal(u"two");
  int None = P->RegisterSignal(u"none");
  std::atomic<int> Runs{0}, MinRefsSeen{1000};
  TCountedInterface Intf;
  for (int I = 0; I < 2; ++I)
    P->PostWait([&](PJob) {
      int R = Intf.Refs.load();
      int M = MinRefsSeen.load();
      while (R < M && !MinRefsSeen.compare_exchange_weak(M, R)) {
      }
      Runs.fetch_add(1);
    }, Two);
  P->SendSignal(None, &Intf, jdfFreeAsInterface);
  EXPECT_EQ(Intf.Refs.load(), 1) << "no copy: the pool gives back what it took";
  P->SendSignal(12345, &Intf, jdfFreeAsInterface);
  EXPECT_EQ(Intf.Refs.load(), 1);
  P->SendSignal(Two, &Intf, jdfFreeAsInterface);
  ASSERT_TRUE(WaitUntil([&] { return Runs.load() == 2 && Intf.Refs.load() == 1; }));
  EXPECT_EQ(MinRefsSeen.load(), 2) << "the datum stays referenced while copies run";
}

TEST(KivSignals, AWaiterWhoseCopyEndsTerminatedIsRemoved) {
  auto P = NewPool();
  int Id = P->RegisterSignal(u"once");
  std::atomic<int> Runs{0};
  P->PostWait([&](PJob J) {
    Runs.fetch_add(1);
    J->SetIsTerminated(true);
  }, Id);
  P->SendSignal(Id);
  ASSERT_TRUE(WaitUntil([&] { return Runs.load() == 1 && P->BusyWorkerCount() == 0; }));
  P->SendSignal(Id);
  SleepMs(200);
  EXPECT_EQ(Runs.load(), 1);
}

TEST(KivSignals, WaitingJobOnTheMainThread) {
  auto P = NewPool();
  int Id = P->RegisterSignal(u"main");
  std::atomic<bool> OnMain{false}, Ran{false};
  P->PostWait([&](PJob) {
    OnMain = IsMainThread();
    Ran = true;
  }, Id, true);
  P->SendSignal(Id);
  ASSERT_TRUE(WaitUntil([&] { return Ran.load(); }));
  EXPECT_TRUE(OnMain.load());
}

TEST(KivSignals, ClearingASignalRemovesQueuedCopiesOfEveryWaiter) {
  auto P = NewPool();
  int Id = P->RegisterSignal(u"chain");
  std::atomic<int> Runs{0}, Destroyed{0};
  for (int I = 0; I < 3; ++I) P->PostWait([&](PJob) { Runs.fetch_add(1); }, Id);
  P->DisableWorkers();
  P->SendSignal(Id, new TCountedObject(&Destroyed), jdfFreeAsObject);
  P->SendSignal(Id, new TCountedObject(&Destroyed), jdfFreeAsObject);
  P->Post([](PJob) {});  // an unrelated job stays
  EXPECT_EQ(P->SimpleJobCount(), 7);
  EXPECT_EQ(P->Clear(Id, true), 6);
  EXPECT_EQ(P->SimpleJobCount(), 1);
  EXPECT_EQ(Destroyed.load(), 2);
  EXPECT_EQ(P->Clear(u"chain", true), 0) << "nothing waits any more";
  P->EnableWorkers();
  P->SendSignal(Id);
  SleepMs(200);
  EXPECT_EQ(Runs.load(), 0);
  EXPECT_EQ(P->RegisterSignal(u"chain"), Id) << "the signal itself stays";
}

TEST(KivSignals, ClearByObjectHonoursTheLimitAndKeepsTheRestInOrder) {
  auto P = NewPool();
  TTarget X, Y;
  P->DisableWorkers();
  std::vector<TJobHandle> H;
  for (int I = 0; I < 5; ++I) {
    H.push_back(P->Post(MakeJobProc<&TTarget::Run>(&X)));
    P->Post(MakeJobProc<&TTarget::Run>(&Y));
  }
  EXPECT_EQ(P->Clear(static_cast<void*>(&X), 2, false), 2);
  EXPECT_EQ(P->SimpleJobCount(), 8);
  PJob First = P->SimpleJobs()->DetachAll();
  std::vector<PJob> XLeft;
  for (PJob J = First; J; J = J->Next)
    if (J->JobProc.Data == &X) XLeft.push_back(J);
  P->SimpleJobs()->PutBack(First);
  EXPECT_EQ(XLeft, (std::vector<PJob>{JobOf(H[2]), JobOf(H[3]), JobOf(H[4])})) << "the two oldest went";
  P->EnableWorkers();
  EXPECT_TRUE(WaitUntil([&] { return X.Calls.load() == 3 && Y.Calls.load() == 5; }));
}

TEST(KivSignals, ClearByObjectOrProcedureMarksAndWaitsForRunningJobs) {
  auto P = NewPool();
  struct TLong {
    std::atomic<bool> Started{false}, SawTerminated{false}, Ended{false};
    void Run(PJob J) {
      Started = true;
      auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!J->IsTerminated() && std::chrono::steady_clock::now() < Deadline) SleepMs(2);
      SawTerminated = J->IsTerminated();
      SleepMs(50);
      Ended = true;
    }
  };
  for (int Form = 0; Form < 2; ++Form) {
    SCOPED_TRACE(Form == 0 ? "by object" : "by procedure");
    TLong L;
    TJobMethod M = MakeJobProc<&TLong::Run>(&L);
    P->Post(M);
    ASSERT_TRUE(WaitUntil([&] { return L.Started.load(); }));
    int Removed = Form == 0 ? P->Clear(static_cast<void*>(&L), -1, true) : P->Clear(M, nullptr, -1, true);
    EXPECT_EQ(Removed, 0);
    EXPECT_TRUE(L.Ended.load()) << "Clear returned only after the job ended";
    EXPECT_TRUE(L.SawTerminated.load());
  }
}

// A job that posts its successor on the way out, even when told to end: the
// successor must not outlive a waiting Clear (it would run on a freed object),
// and posting works again once Clear has returned.
TEST(KivSignals, AWaitingClearRefusesWhatTheRunningJobsPostWhileEnding) {
  auto P = NewPool();
  struct TReposter {
    TKIVWorkers* Pool;
    std::atomic<int> Runs{0};
    std::atomic<bool> Started{false}, Stop{false};
    std::atomic<TJobHandle> LastPost{1};
    void Run(PJob J) {
      Runs.fetch_add(1);
      Started = true;
      if (Stop) return;
      auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!J->IsTerminated() && std::chrono::steady_clock::now() < Deadline) SleepMs(2);
      LastPost = Pool->Post(MakeJobProc<&TReposter::Run>(this));
    }
  };
  for (int Form = 0; Form < 2; ++Form) {
    SCOPED_TRACE(Form == 0 ? "by object" : "by procedure");
    TReposter T{P.get()};
    TJobMethod M = MakeJobProc<&TReposter::Run>(&T);
    P->Post(M);
    ASSERT_TRUE(WaitUntil([&] { return T.Started.load(); }));
    int Removed = Form == 0 ? P->Clear(static_cast<void*>(&T), -1, true) : P->Clear(M, nullptr, -1, true);
    EXPECT_EQ(Removed, 0);
    EXPECT_EQ(T.LastPost.load(), TJobHandle(0)) << "the successor was refused";
    int RunsAtReturn = T.Runs.load();
    SleepMs(200);
    EXPECT_EQ(T.Runs.load(), RunsAtReturn) << "nothing of it ran after Clear returned";
    EXPECT_EQ(P->SimpleJobCount(), 0);
    T.Stop = true;
    EXPECT_NE(P->Post(M), TJobHandle(0));
    EXPECT_TRUE(WaitUntil([&] { return T.Runs.load() == RunsAtReturn + 1; }));
    P->Clear(static_cast<void*>(&T), -1, true);  // T goes out of scope next
  }
}

TEST(KivSignals, AJobRunRightAfterAnotherOnTheSameWorkerCanStillBeMarked) {
  auto P = NewPool(1);
  struct TTarget {
    std::atomic<bool> Started{false}, SawTerminated{false};
    void Quick(PJob) {}
    void Long(PJob J) {
      Started = true;
      auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(6);
      while (!J->IsTerminated() && std::chrono::steady_clock::now() < Deadline) SleepMs(2);
      SawTerminated = J->IsTerminated();
    }
  } T;
  ASSERT_TRUE(WaitUntil([&] { return P->IdleWorkerCount() == 1; }));
  P->DisableWorkers();
  P->Post(MakeJobProc<&TTarget::Quick>(&T));
  P->Post(MakeJobProc<&TTarget::Long>(&T));
  P->EnableWorkers();  // one worker takes both, one after the other
  ASSERT_TRUE(WaitUntil([&] { return T.Started.load(); }));
  auto T0 = std::chrono::steady_clock::now();
  P->Clear(static_cast<void*>(&T), -1, true);
  EXPECT_TRUE(T.SawTerminated.load());
  EXPECT_LT(std::chrono::steady_clock::now() - T0, std::chrono::seconds(4));
}

TEST(KivSignals, AJobThatClearsWithWaitingDoesNotWaitForItself) {
  auto P = NewPool();
  std::atomic<bool> Returned{false}, SawTerminated{false};
  P->Post([&](PJob J) {
    P->Clear(true);
    SawTerminated = J->IsTerminated();
    Returned = true;
  });
  EXPECT_TRUE(WaitUntil([&] { return Returned.load(); }));
  EXPECT_FALSE(SawTerminated.load()) << "its own job is not marked either";
}

TEST(KivSignals, ClearEverythingOnTheMainThreadDoesNotWaitForAMainThreadJob) {
  auto P = NewPool();
  int Id = P->RegisterSignal(u"kept");
  std::atomic<bool> Ran{false}, Terminated{false};
  P->Post([&](PJob J) {
    Terminated = J->IsTerminated();
    Ran = true;
  }, nullptr, true);
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (P->BusyWorkerCount() == 0 && std::chrono::steady_clock::now() < Deadline) SleepMs(2);
  ASSERT_GT(P->BusyWorkerCount(), 0);
  P->PostWait([](PJob) {}, Id);
  P->Clear(true);
  EXPECT_FALSE(Ran.load()) << "waiting would have run it through the message pump";
  ASSERT_TRUE(WaitUntil([&] { return Ran.load(); }));
  EXPECT_TRUE(Terminated.load()) << "but it was marked";
  // Signals keep their ids after a full clear; a new waiter works.
  EXPECT_EQ(P->RegisterSignal(u"kept"), Id);
  std::atomic<bool> Again{false};
  EXPECT_NE(P->PostWait([&](PJob) { Again = true; }, Id), 0u);
  P->SendSignal(Id);
  EXPECT_TRUE(WaitUntil([&] { return Again.load(); }));
}

TEST(KivSignals, ClearByHandle) {
  auto P = NewPool();
  // A started immediate job: nothing removed, no waiting, no marking.
  std::atomic<bool> Started{false}, Release{false}, Terminated{false};
  TJobHandle Running = P->Post([&](PJob J) {
    Started = true;
    while (!Release.load()) SleepMs(2);
    Terminated = J->IsTerminated();
  });
  ASSERT_TRUE(WaitUntil([&] { return Started.load(); }));
  EXPECT_FALSE(P->Clear(Running, true));
  EXPECT_FALSE(P->Clear(TJobHandle(0), true));
  Release = true;
  ASSERT_TRUE(WaitUntil([&] { return P->BusyWorkerCount() == 0; }));
  EXPECT_FALSE(Terminated.load());

  // A queued immediate job and a waiting job.
  P->DisableWorkers();
  std::atomic<int> Runs{0};
  TJobHandle Queued = P->Post([&](PJob) { Runs.fetch_add(1); });
  EXPECT_TRUE(P->Clear(Queued, false));
  EXPECT_EQ(P->SimpleJobCount(), 0);
  P->EnableWorkers();
  int Id = P->RegisterSignal(u"handle");
  TJobHandle Waiter = P->PostWait([&](PJob) { Runs.fetch_add(1); }, Id);
  EXPECT_TRUE(P->Clear(Waiter, true));
  EXPECT_FALSE(P->Clear(Waiter, true)) << "already removed";
  P->SendSignal(Id);
  SleepMs(200);
  EXPECT_EQ(Runs.load(), 0);
}

TEST(KivSignals, SendingWhileTerminatingFreesTheDatum) {
  auto P = NewPool();
  int Id = P->RegisterSignal(u"late");
  P->PostWait([](PJob) {}, Id);
  std::atomic<bool> Started{false};
  std::atomic<int> Destroyed{0}, AtReturn{-1};
  TKIVWorkers* Raw = P.get();
  Raw->Post([&, Raw, Id](PJob J) {
    Started = true;
    while (!J->IsTerminated()) SleepMs(2);
    Raw->SendSignal(Id, new TCountedObject(&Destroyed), jdfFreeAsObject);
    Raw->SendSignal(u"late", new TCountedObject(&Destroyed), jdfFreeAsObject);
    AtReturn = Destroyed.load();
  });
  ASSERT_TRUE(WaitUntil([&] { return Started.load(); }));
  P.reset();
  EXPECT_EQ(AtReturn.load(), 2);
  EXPECT_EQ(Destroyed.load(), 2);
}
