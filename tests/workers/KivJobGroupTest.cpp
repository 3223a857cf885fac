#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "WorkerTestSupport.h"

namespace {
std::unique_ptr<TKIVWorkers> NewPool(int AMinWorkers = 2) { return std::make_unique<TKIVWorkers>(AMinWorkers); }
using Clock = std::chrono::steady_clock;

// Counts AfterDone calls and remembers the result seen at the time.
struct TDoneCounter {
  std::atomic<int> Calls{0};
  void Attach(TJobGroup& G) {
    G.AfterDone = [this](TJobGroup*) { Calls.fetch_add(1); };
  }
};

// A job that runs until it is marked terminated (or a long bound passes, far
// beyond what the tests allow, so a missed mark fails them).
void RunUntilTerminated(PJob J, std::atomic<int>* ASawTerminated) {
  auto Deadline = Clock::now() + std::chrono::seconds(20);
  while (!J->IsTerminated() && Clock::now() < Deadline) SleepMs(5);
  if (J->IsTerminated()) ASawTerminated->fetch_add(1);
}
}  // namespace

TEST(KivJobGroup, UnorderedJobsRunTogether) {
  auto P = NewPool();
  TJobGroup G(P.get(), false);
  TDoneCounter Done;
  Done.Attach(G);
  std::atomic<int> Started{0}, Together{0};
  for (int I = 0; I < 3; ++I)
    ASSERT_TRUE(G.Add([&](PJob) {
      Started.fetch_add(1);
      // each job waits until all three have started: they overlap
      if (WaitUntil([&] { return Started.load() == 3; }, 10000)) Together.fetch_add(1);
    }));
  EXPECT_EQ(G.WaitFor(), wrSignaled);
  EXPECT_EQ(G.Runs(), 3);
  EXPECT_EQ(Together.load(), 3);
  EXPECT_EQ(G.Count(), 0);
  EXPECT_EQ(Done.Calls.load(), 1) << "one end, one AfterDone";
  EXPECT_EQ(G.WaitFor(), wrSignaled) << "waiting again on the ended group";
  EXPECT_EQ(Done.Calls.load(), 1);
}

TEST(KivJobGroup, OrderedJobsRunOneAfterAnother) {
  auto P = NewPool();
  P->SetMaxWorkers(6);
  TJobGroup G(P.get(), true);
  TDoneCounter Done;
  Done.Attach(G);
  std::mutex Lock;
  std::vector<int> Order;
  std::atomic<int> Running{0}, Overlaps{0};
  for (int I = 0; I < 5; ++I)
    ASSERT_TRUE(G.Add([&, I](PJob) {
      if (Running.fetch_add(1) != 0) Overlaps.fetch_add(1);
      {
        std::lock_guard<std::mutex> L(Lock);
        Order.push_back(I);
      }
      SleepMs(30);
      Running.fetch_sub(1);
    }));
  EXPECT_TRUE(G.ByOrder());
  EXPECT_EQ(G.WaitFor(), wrSignaled);
  EXPECT_EQ(Overlaps.load(), 0);
  std::lock_guard<std::mutex> L(Lock);
  EXPECT_EQ(Order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(Done.Calls.load(), 1);
}

// Jobs of 20 s each (they end early only when marked terminated).
TEST(KivJobGroup, RunWithATimeoutCancelsAndReportsTimeout) {
  auto P = NewPool();
  P->SetMaxWorkers(6);
  for (bool ByOrder : {false, true}) {
    SCOPED_TRACE(ByOrder ? "ordered" : "unordered");
    TJobGroup G(P.get(), ByOrder);
    TDoneCounter Done;
    Done.Attach(G);
    std::atomic<int> SawTerminated{0};
    G.Prepare();
    for (int I = 0; I < 3; ++I) ASSERT_TRUE(G.Add([&](PJob J) { RunUntilTerminated(J, &SawTerminated); }));
    EXPECT_EQ(G.Count(), 3);
    auto T0 = Clock::now();
    G.Run(1000);
    EXPECT_EQ(G.WaitFor(), wrTimeout);
    auto Took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - T0).count();
    EXPECT_GE(Took, 900);
    EXPECT_LT(Took, 10000) << "about a second plus the time to notice termination";
    EXPECT_GE(SawTerminated.load(), 1) << "running jobs were marked";
    EXPECT_EQ(Done.Calls.load(), 1);
    EXPECT_EQ(P->RepeatJobCount(), 0) << "the timeout job is gone";
  }
}

TEST(KivJobGroup, EmptyGroups) {
  auto P = NewPool();
  TJobGroup G(P.get(), false);
  TDoneCounter Done;
  Done.Attach(G);
  auto T0 = Clock::now();
  EXPECT_EQ(G.WaitFor(), wrSignaled);
  EXPECT_EQ(G.MsgWaitFor(), wrSignaled);
  EXPECT_LT(Clock::now() - T0, std::chrono::seconds(2)) << "returns at once";
  EXPECT_EQ(Done.Calls.load(), 0) << "nothing ran, nothing ended";
  G.Prepare();
  G.Run(500);
  EXPECT_EQ(G.WaitFor(), wrSignaled);
  EXPECT_EQ(Done.Calls.load(), 1) << "an empty run starts and ends at once";
  G.Run();  // without a Prepare: nothing but the bracket count
  EXPECT_EQ(Done.Calls.load(), 1);
}

TEST(KivJobGroup, CancelWithdrawsQueuedJobsOfOtherObjects) {
  auto P = NewPool();
  struct TTarget {
    std::atomic<int> Calls{0};
    void Run(PJob) { Calls.fetch_add(1); }
  } Target;
  std::atomic<int> Destroyed{0};
  TJobGroup G(P.get(), false);
  TDoneCounter Done;
  Done.Attach(G);
  P->DisableWorkers();
  for (int I = 0; I < 3; ++I)
    ASSERT_TRUE(G.Add(MakeJobProc<&TTarget::Run>(&Target), new TCountedObject(&Destroyed), false, jdfFreeAsObject));
  EXPECT_EQ(P->SimpleJobCount(), 3);
  G.Cancel(false);
  EXPECT_EQ(P->SimpleJobCount(), 0);
  EXPECT_EQ(Destroyed.load(), 3);
  P->EnableWorkers();
  EXPECT_EQ(G.WaitFor(100), wrAbandoned);
  SleepMs(100);
  EXPECT_EQ(Target.Calls.load(), 0);
  EXPECT_EQ(Done.Calls.load(), 1);
}

TEST(KivJobGroup, CancelWaitsForRunningJobsWhenAsked) {
  auto P = NewPool();
  TJobGroup G(P.get(), true);
  std::atomic<int> SawTerminated{0};
  std::atomic<bool> Started{false}, Ended{false};
  std::atomic<int> Destroyed{0}, SecondRan{0};
  G.Add([&](PJob J) {
    Started = true;
    RunUntilTerminated(J, &SawTerminated);
    SleepMs(30);
    Ended = true;
  });
  G.Add([&](PJob) { SecondRan.fetch_add(1); }, new TCountedObject(&Destroyed), false, jdfFreeAsObject);
  ASSERT_TRUE(WaitUntil([&] { return Started.load(); }));
  G.Cancel(true);
  EXPECT_TRUE(Ended.load()) << "Cancel(true) returned after the running job";
  EXPECT_EQ(SawTerminated.load(), 1);
  EXPECT_EQ(Destroyed.load(), 1) << "the job that never started was released";
  EXPECT_EQ(G.WaitFor(1000), wrAbandoned);
  EXPECT_EQ(SecondRan.load(), 0);
}

TEST(KivJobGroup, WaitForWithATimeout) {
  auto P = NewPool();
  TJobGroup G(P.get(), false);
  TDoneCounter Done;
  Done.Attach(G);
  std::atomic<int> SawTerminated{0};
  for (int I = 0; I < 2; ++I) G.Add([&](PJob J) { RunUntilTerminated(J, &SawTerminated); });
  EXPECT_EQ(G.WaitFor(300), wrTimeout);
  EXPECT_EQ(SawTerminated.load(), 2) << "the wait cancelled and waited for them";
  EXPECT_EQ(Done.Calls.load(), 1);
  // Adding after the end starts the group again.
  std::atomic<bool> Ran{false};
  G.Add([&](PJob) { Ran = true; });
  EXPECT_EQ(G.WaitFor(), wrSignaled);
  EXPECT_TRUE(Ran.load());
  EXPECT_EQ(Done.Calls.load(), 2);
}

TEST(KivJobGroup, MsgWaitForRunsMainThreadJobsMeanwhile) {
  auto P = NewPool();
  TJobGroup G(P.get(), false);
  std::atomic<int> OnMain{0};
  for (int I = 0; I < 2; ++I) G.Add([&](PJob) { OnMain.fetch_add(IsMainThread() ? 1 : 0); }, nullptr, true);
  // A worker job of the group that itself waits for the main thread.
  G.Add([&](PJob) {
    TEvent Ran(true);
    P->Post([&](PJob) { Ran.SetEvent(); }, nullptr, true);
    Ran.WaitFor(KivInfinite);
  });
  EXPECT_EQ(G.MsgWaitFor(), wrSignaled);
  EXPECT_EQ(OnMain.load(), 2);
  EXPECT_EQ(G.Runs(), 3);
}

TEST(KivJobGroup, ErrorsInAfterDoneGoToOnError) {
  auto P = NewPool();
  std::atomic<int> Reported{0};
  P->OnError = [&](PJob AJob, const Exception& E, TJobErrorSource S) {
    if (S == jesAfterDone && !AJob && E.Message() == u"完成通知失败") Reported.fetch_add(1);
  };
  TJobGroup G(P.get(), false);
  G.AfterDone = [](TJobGroup*) { throw Exception(u"完成通知失败"); };
  G.Add([](PJob) {});
  EXPECT_EQ(G.WaitFor(), wrSignaled);
  EXPECT_EQ(Reported.load(), 1);
}

TEST(KivJobGroup, RefusedJobsAndMissingManager) {
  {
    auto P = NewPool();
    TJobGroup G(P.get(), false);
    std::atomic<int> Destroyed{0};
    P->StopWorkers();
    EXPECT_FALSE(G.Add([](PJob) {}, new TCountedObject(&Destroyed), false, jdfFreeAsObject));
    EXPECT_EQ(Destroyed.load(), 1) << "a refused job is released";
    EXPECT_EQ(G.Count(), 0);
    TJobGroup Ordered(P.get(), true);
    Ordered.Prepare();
    EXPECT_TRUE(Ordered.Add([](PJob) {}));
    Ordered.Run();
    EXPECT_EQ(Ordered.WaitFor(), wrAbandoned);
  }
  TKIVWorkers* Saved = GlobalWorkers;
  GlobalWorkers = nullptr;
  for (int Kind = 0; Kind < 2; ++Kind) {
    try {
      if (Kind == 0)
        TJobGroup G(false);
      else
        TForJobs F(1, 10);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& E) {
      EXPECT_EQ(E.Message(), u"当前尚未初始化有工作者管理对象 TKIVWorkers");
    }
  }
  GlobalWorkers = Saved;
  TJobGroup OnGlobal(false);
  EXPECT_EQ(OnGlobal.Owner(), GlobalWorkers);
}

TEST(KivJobGroup, DestroyReleasesJobsThatNeverStarted) {
  auto P = NewPool();
  std::atomic<int> Destroyed{0};
  {
    TJobGroup G(P.get(), false);
    G.Prepare();
    for (int I = 0; I < 3; ++I) G.Add([](PJob) {}, new TCountedObject(&Destroyed), false, jdfFreeAsObject);
    G.Run(60000);  // the timeout job must go with the group
    G.Prepare();
    G.Add([](PJob) {}, new TCountedObject(&Destroyed), false, jdfFreeAsObject);
  }
  EXPECT_TRUE(WaitUntil([&] { return Destroyed.load() == 4; }));
  EXPECT_EQ(P->RepeatJobCount(), 0);
}

// ---- parallel for ---------------------------------------------------------

TEST(KivForJobs, EveryIndexExactlyOnce) {
  auto P = NewPool();
  std::vector<std::atomic<int>> Seen(101);
  TForJobs F(P.get(), 1, 100);
  F.Start([&](TForJobs* AFor, PJob AJob, intptr_t I) {
    EXPECT_EQ(AFor, &F);
    EXPECT_EQ(AJob, F.WorkJob());
    Seen[static_cast<size_t>(I)].fetch_add(1);
  });
  EXPECT_EQ(F.LoopJobs(), std::min(2 * P->CPUNum(), 100));
  EXPECT_EQ(F.Wait(), wrSignaled);
  for (int I = 1; I <= 100; ++I) EXPECT_EQ(Seen[static_cast<size_t>(I)].load(), 1) << "index " << I;
  EXPECT_EQ(Seen[0].load(), 0);
  EXPECT_EQ(F.Runs(), 100u);
  EXPECT_EQ(F.AvgTime(), F.TotalTime() / 100);

  std::atomic<int> Sum{0};
  EXPECT_EQ(P->For(1, 100, [&](TForJobs*, PJob, intptr_t I) { Sum.fetch_add(static_cast<int>(I)); }), wrSignaled);
  EXPECT_EQ(Sum.load(), 5050);
}

TEST(KivForJobs, EmptyRangePostsNothing) {
  auto P = NewPool();
  std::atomic<int> Calls{0};
  TForJobs F(P.get(), 5, 4);
  F.Start([&](TForJobs*, PJob, intptr_t) { Calls.fetch_add(1); });
  EXPECT_EQ(F.LoopJobs(), 0);
  EXPECT_EQ(P->SimpleJobCount(), 0);
  EXPECT_EQ(F.Wait(), wrSignaled);
  EXPECT_EQ(F.Runs(), 0u);
  EXPECT_EQ(F.AvgTime(), 0u);
  EXPECT_EQ(P->For(5, 4, [&](TForJobs*, PJob, intptr_t) { Calls.fetch_add(1); }), wrSignaled);
  EXPECT_EQ(Calls.load(), 0);
}

TEST(KivForJobs, BreakItStopsNewIndices) {
  auto P = NewPool();
  std::vector<std::atomic<int>> Seen(1001);
  TWaitResult R = P->For(1, 1000, [&](TForJobs* F, PJob, intptr_t I) {
    Seen[static_cast<size_t>(I)].fetch_add(1);
    if (I == 10) F->BreakIt();
    SleepMs(1);
  });
  EXPECT_EQ(R, wrAbandoned);
  int Total = 0;
  for (size_t I = 1; I <= 1000; ++I) {
    EXPECT_LE(Seen[I].load(), 1);
    Total += Seen[I].load();
  }
  EXPECT_EQ(Seen[10].load(), 1);
  EXPECT_LT(Total, 1000) << "no new index after the break";
}

namespace {
std::atomic<int> GPlainForSum{0};
void PlainFor(TForJobs*, PJob AJob, intptr_t I) {
  if (AJob->Data) GPlainForSum.fetch_add(static_cast<int>(I));
}
struct TForTarget {
  std::atomic<int> Sum{0};
  void Run(TForJobs*, PJob, intptr_t I) { Sum.fetch_add(static_cast<int>(I)); }
};
}  // namespace

TEST(KivForJobs, MethodAndPlainFormsAndTheDatum) {
  auto P = NewPool();
  std::atomic<int> Destroyed{0};
  GPlainForSum = 0;
  {
    TForJobs F(P.get(), 1, 10, new TCountedObject(&Destroyed), jdfFreeAsObject);
    F.Start(PlainFor);
    EXPECT_EQ(F.Wait(), wrSignaled);
    EXPECT_EQ(Destroyed.load(), 0);
  }
  EXPECT_EQ(Destroyed.load(), 1) << "the datum is freed with the loop";
  EXPECT_EQ(GPlainForSum.load(), 55);
  TForTarget T;
  EXPECT_EQ(P->For(1, 10, MakeForProc<&TForTarget::Run>(&T)), wrSignaled);
  EXPECT_EQ(T.Sum.load(), 55);
}

TEST(KivForJobs, AnErrorEndsOnlyThatLoopJob) {
  auto P = NewPool();
  std::atomic<int> Errors{0};
  std::atomic<PJob> ErrorJob{nullptr};
  P->OnError = [&](PJob AJob, const Exception&, TJobErrorSource S) {
    if (S == jesExecute) {
      ErrorJob = AJob;
      Errors.fetch_add(1);
    }
  };
  std::atomic<int> Done{0};
  TForJobs F(P.get(), 1, 200);
  F.Start([&](TForJobs*, PJob, intptr_t I) {
    if (I == 3) throw Exception(u"索引失败");
    Done.fetch_add(1);
  });
  EXPECT_EQ(F.Wait(), wrSignaled);
  EXPECT_EQ(Errors.load(), 1);
  EXPECT_EQ(ErrorJob.load(), F.WorkJob());
  EXPECT_EQ(Done.load(), 199) << "the other loop jobs took the remaining indices";
}

TEST(KivForJobs, MsgWaitKeepsTheMainThreadServing) {
  auto P = NewPool();
  std::atomic<int> MainRuns{0};
  TWaitResult R = P->For(1, 4, [&](TForJobs*, PJob, intptr_t) {
    TEvent Ran(true);
    P->Post([&](PJob) {
      MainRuns.fetch_add(IsMainThread() ? 1 : 0);
      Ran.SetEvent();
    }, nullptr, true);
    Ran.WaitFor(KivInfinite);
  }, nullptr, true);
  EXPECT_EQ(R, wrSignaled);
  EXPECT_EQ(MainRuns.load(), 4);
}
