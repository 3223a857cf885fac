#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "WorkerTestSupport.h"

// Exported (not in an anonymous namespace) so that dladdr can name them.
void ProcForInfo(PJob) {}
struct TInfoTarget {
  void Run(PJob) {}
};

namespace {
std::unique_ptr<TKIVWorkers> NewPool(int AMinWorkers = 2) { return std::make_unique<TKIVWorkers>(AMinWorkers); }

struct TRecorder {
  std::mutex Lock;
  std::vector<int> Started;
  std::atomic<int> Running{0};
  std::atomic<int> MaxRunning{0};
  std::atomic<int> Done{0};
  void Enter(int AIndex) {
    {
      std::lock_guard<std::mutex> L(Lock);
      Started.push_back(AIndex);
    }
    int Now = Running.fetch_add(1) + 1;
    int Max = MaxRunning.load();
    while (Now > Max && !MaxRunning.compare_exchange_weak(Max, Now)) {
    }
  }
  void Leave() {
    Running.fetch_sub(1);
    Done.fetch_add(1);
  }
};
}  // namespace

TEST(KivWorkerPool, CreationFigures) {
  const int Cpu = ProcessorCount();
  struct Case {
    int AMin, Min, Max;
  };
  const Case Cases[] = {
      {2, 2, Cpu * 2 + 1},
      {0, 2, Cpu * 2 + 1},   // below 1 falls back to 2
      {1, 1, Cpu * 2 + 1},
      {Cpu * 2 + 1, Cpu * 2 + 1, (Cpu * 2 + 1) * 2 + 1},  // a maximum not above the minimum doubles it
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.AMin);
    auto P = NewPool(C.AMin);
    EXPECT_EQ(P->MinWorkers(), C.Min);
    EXPECT_EQ(P->MaxWorkers(), C.Max);
    EXPECT_EQ(P->MaxLongtimeWorkers(), C.Max / 2);
    EXPECT_EQ(P->FireTimeout(), 15000);
    EXPECT_EQ(P->CPUNum(), Cpu);
    EXPECT_EQ(P->WorkerCount(), C.Min);
    EXPECT_TRUE(WaitUntil([&] { return P->IdleWorkerCount() == C.Min; })) << "workers start idle";
    EXPECT_TRUE(P->Enabled());
    EXPECT_FALSE(P->Terminating());
  }
  ASSERT_NE(GlobalWorkers, nullptr);
  EXPECT_EQ(TKIVWorkers::GetInstance(), GlobalWorkers);
  EXPECT_EQ(GlobalWorkers->MinWorkers(), 2);
  EXPECT_GE(GlobalWorkers->WorkerCount(), 2);
}

TEST(KivWorkerPool, SettingsRulesAndMessages) {
  auto P = NewPool();
  int Max = P->MaxWorkers();
  P->SetMaxWorkers(1);
  EXPECT_EQ(P->MaxWorkers(), Max);
  P->SetMaxWorkers(Max);
  EXPECT_EQ(P->MaxWorkers(), Max);
  P->SetMaxWorkers(60);
  EXPECT_EQ(P->MaxWorkers(), 60);

  struct Bad {
    std::function<void()> Set;
    String Message;
  };
  const Bad Cases[] = {
      {[&] { P->SetMinWorkers(0); }, u"指定的最小工作者数量太少(必需大于等于1)。"},
      {[&] { P->SetMaxLongtimeWorkers(31); }, u"不能允许太多长时间作业线程(最多允许工作者一半)。"},
  };
  for (const Bad& C : Cases) {
    try {
      C.Set();
      ADD_FAILURE() << "no exception";
    } catch (const Exception& E) {
      EXPECT_EQ(E.Message(), C.Message);
    }
  }
  EXPECT_EQ(P->MinWorkers(), 2);
  EXPECT_EQ(P->MaxLongtimeWorkers(), Max / 2);
  P->SetMaxLongtimeWorkers(30);
  EXPECT_EQ(P->MaxLongtimeWorkers(), 30);
  // A lower maximum keeps the long-time limit within half of it.
  P->SetMaxWorkers(10);
  EXPECT_EQ(P->MaxLongtimeWorkers(), 5);

  for (int V : {0, -5}) {
    P->SetFireTimeout(V);
    EXPECT_EQ(P->FireTimeout(), 2147483647);
  }
  P->SetFireTimeout(300);
  EXPECT_EQ(P->FireTimeout(), 300);
}

TEST(KivWorkerPool, TwentyJobsOnNineWorkersRunNineAtATimeInPostingOrder) {
  auto P = NewPool();
  P->SetMaxWorkers(9);
  TRecorder R;
  for (int I = 0; I < 20; ++I) {
    TJobHandle H = P->Post([&R, I](PJob) {
      R.Enter(I);
      SleepMs(400);
      R.Leave();
    });
    ASSERT_NE(H, 0u);
    EXPECT_EQ(H & 3, 0u) << "immediate jobs have kind 0";
  }
  ASSERT_TRUE(WaitUntil([&] { return R.Done.load() == 20; }, 30000));
  EXPECT_LE(R.MaxRunning.load(), 9);
  EXPECT_EQ(R.MaxRunning.load(), 9) << "the pool grows to MaxWorkers under load";
  EXPECT_LE(P->WorkerCount(), 9);
  std::lock_guard<std::mutex> L(R.Lock);
  ASSERT_EQ(R.Started.size(), 20u);
  // Nothing beyond the first nine can start before one of them ends.
  std::set<int> FirstNine(R.Started.begin(), R.Started.begin() + 9);
  std::set<int> Expected;
  for (int I = 0; I < 9; ++I) Expected.insert(I);
  EXPECT_EQ(FirstNine, Expected);
  std::set<int> LastTwo(R.Started.begin() + 18, R.Started.end());
  EXPECT_EQ(LastTwo, (std::set<int>{18, 19}));
}

TEST(KivWorkerPool, MainThreadJobRunsWhileTheMainThreadPumps) {
  auto P = NewPool();
  std::atomic<bool> Ran{false};
  std::atomic<bool> OnMain{false};
  std::atomic<bool> PosterContinued{false};
  // A worker job hands a job to the main thread and waits for it through
  // a second main-thread job's effect.
  P->Post([&](PJob) {
    P->Post(
        [&](PJob) {
          OnMain = IsMainThread();
          Ran = true;
        },
        nullptr, true);
    PosterContinued = true;
  });
  ASSERT_TRUE(WaitUntil([&] { return PosterContinued.load(); }));
  // Without pumping the job waits, occupying a worker.
  ASSERT_TRUE(std::invoke([&] {
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (P->BusyWorkerCount() == 0 && std::chrono::steady_clock::now() < Deadline) SleepMs(2);
    return P->BusyWorkerCount() > 0;
  }));
  SleepMs(100);
  EXPECT_FALSE(Ran.load());
  bool Flagged = false;
  for (const TWorkerStateItem& S : P->GetWorkerState())
    if (S.ActiveJobFlags & JOB_IN_MAIN_THREAD) Flagged = true;
  EXPECT_TRUE(Flagged) << "a worker holds the main-thread job";
  ASSERT_TRUE(WaitUntil([&] { return Ran.load(); }));
  EXPECT_TRUE(OnMain.load());
  EXPECT_TRUE(WaitUntil([&] { return P->BusyWorkerCount() == 0; })) << "the worker goes on after it ran";
}

TEST(KivWorkerPool, TheWakerHearsOfEveryMainThreadJob) {
  auto P = NewPool();
  std::atomic<int> Wakes{0}, Ran{0};
  std::atomic<bool> WokenOffMain{false};
  SetMainThreadWaker([&] {
    if (!IsMainThread()) WokenOffMain = true;
    Wakes.fetch_add(1);
  });
  for (int I = 0; I < 3; ++I) P->Post([&](PJob) { Ran.fetch_add(1); }, nullptr, true);
  // A GUI loop would drain when woken; here the test drains on each wake.
  EXPECT_TRUE(WaitUntil([&] { return Ran.load() == 3; }));
  SetMainThreadWaker(nullptr);
  EXPECT_EQ(Wakes.load(), 3);
  EXPECT_TRUE(WokenOffMain.load()) << "the hook is called from the worker that queues the job";
}

TEST(KivWorkerPool, DisableNestsAndQueuedJobsStartAfterTheLastEnable) {
  auto P = NewPool();
  std::atomic<int> Runs{0};
  P->SetEnabled(false);
  P->SetEnabled(false);
  for (int I = 0; I < 3; ++I) P->Post([&](PJob) { Runs.fetch_add(1); });
  P->SetEnabled(true);
  EXPECT_FALSE(P->Enabled());
  SleepMs(300);
  EXPECT_EQ(Runs.load(), 0);
  EXPECT_EQ(P->SimpleJobCount(), 3);
  P->SetEnabled(true);
  EXPECT_TRUE(P->Enabled());
  EXPECT_TRUE(WaitUntil([&] { return Runs.load() == 3; }));
}

TEST(KivWorkerPool, IdleWorkersRetireDownToMinWorkers) {
  auto P = NewPool(2);
  P->SetFireTimeout(200);
  P->SetMaxWorkers(6);
  std::atomic<int> Done{0};
  for (int I = 0; I < 6; ++I)
    P->Post([&](PJob) {
      SleepMs(300);
      Done.fetch_add(1);
    });
  ASSERT_TRUE(WaitUntil([&] { return Done.load() == 6; }));
  EXPECT_GT(P->WorkerCount(), 2) << "the burst added workers";
  int Lowest = P->WorkerCount();
  ASSERT_TRUE(WaitUntil([&] {
    Lowest = std::min(Lowest, P->WorkerCount());
    return P->WorkerCount() == 2;
  }, 20000));
  SleepMs(600);
  EXPECT_EQ(P->WorkerCount(), 2);
  EXPECT_GE(Lowest, 2) << "never below MinWorkers";
  // The pool still works after retirements.
  std::atomic<bool> Ran{false};
  P->Post([&](PJob) { Ran = true; });
  EXPECT_TRUE(WaitUntil([&] { return Ran.load(); }));
}

TEST(KivWorkerPool, ErrorsInJobsReachOnErrorAndTheWorkerGoesOn) {
  auto P = NewPool(1);
  std::mutex Lock;
  std::vector<std::pair<String, TJobErrorSource>> Errors;
  std::atomic<int> JobsSeen{0};
  P->OnError = [&](PJob AJob, const Exception& E, TJobErrorSource S) {
    std::lock_guard<std::mutex> L(Lock);
    if (AJob) JobsSeen.fetch_add(1);
    Errors.emplace_back(E.Message(), S);
  };
  P->Post([](PJob) { throw Exception(u"作业失败"); });
  P->Post([](PJob) { throw std::runtime_error("plain failure"); });
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> L(Lock);
    return Errors.size() == 2;
  }));
  int Workers = P->WorkerCount();
  // Every worker is still there and takes the next jobs.
  std::atomic<int> Next{0};
  for (int I = 0; I < 4; ++I) P->Post([&](PJob) { Next.fetch_add(1); });
  ASSERT_TRUE(WaitUntil([&] { return Next.load() == 4; }));
  EXPECT_GE(P->WorkerCount(), Workers);
  std::lock_guard<std::mutex> L(Lock);
  std::set<std::pair<String, TJobErrorSource>> Got(Errors.begin(), Errors.end());
  EXPECT_EQ(Got, (std::set<std::pair<String, TJobErrorSource>>{{u"作业失败", jesExecute}, {u"plain failure", jesExecute}}));
  EXPECT_EQ(JobsSeen.load(), 2);
}

namespace {
struct TMethodTarget {
  std::atomic<int> Calls{0};
  void* Seen = nullptr;
  void Run(PJob AJob) {
    Seen = AJob->Data;
    Calls.fetch_add(1);
  }
};
std::atomic<int> GPlainCalls{0};
void PlainProc(PJob AJob) {
  if (AJob->Data) GPlainCalls.fetch_add(1);
}
}  // namespace

TEST(KivWorkerPool, AllThreeProcedureKindsRunWithTheirDatum) {
  auto P = NewPool();
  int Datum = 0;
  TMethodTarget Target;
  std::atomic<void*> ClosureSaw{nullptr};
  GPlainCalls = 0;
  EXPECT_NE(P->Post(MakeJobProc<&TMethodTarget::Run>(&Target), &Datum), 0u);
  EXPECT_NE(P->Post(PlainProc, &Datum), 0u);
  EXPECT_NE(P->Post([&](PJob J) { ClosureSaw = J->Data; }, &Datum), 0u);
  ASSERT_TRUE(WaitUntil([&] { return Target.Calls.load() == 1 && GPlainCalls.load() == 1 && ClosureSaw.load(); }));
  EXPECT_EQ(Target.Seen, &Datum);
  EXPECT_EQ(ClosureSaw.load(), &Datum);

  // A null procedure is refused and its datum released.
  std::atomic<int> Destroyed{0};
  EXPECT_EQ(P->Post(TJobProcG(nullptr), new TCountedObject(&Destroyed), false, 0, 0, jdfFreeAsObject), 0u);
  EXPECT_EQ(P->Post(MakeJobProc<&TMethodTarget::Run>(static_cast<TMethodTarget*>(nullptr)),
                    new TCountedObject(&Destroyed), false, 0, 0, jdfFreeAsObject),
            0u);
  EXPECT_EQ(P->Post(TJobProcA(), new TCountedObject(&Destroyed), false, 0, 0, jdfFreeAsObject), 0u);
  EXPECT_EQ(Destroyed.load(), 3);
}

TEST(KivWorkerPool, DataAreFreedByTheirFreeType) {
  auto P = NewPool();
  std::mutex Lock;
  std::vector<std::pair<TJobDataFreeType, void*>> Custom;
  std::vector<TJobErrorSource> Errors;
  P->OnCustomFreeData = [&](TKIVWorkers* Sender, TJobDataFreeType T, void* D) {
    EXPECT_EQ(Sender, P.get());
    std::lock_guard<std::mutex> L(Lock);
    Custom.emplace_back(T, D);
    if (T == jdfFreeAsC6) throw Exception(u"释放失败");
  };
  P->OnError = [&](PJob AJob, const Exception&, TJobErrorSource S) {
    EXPECT_EQ(AJob, nullptr);
    std::lock_guard<std::mutex> L(Lock);
    Errors.push_back(S);
  };
  std::atomic<int> Destroyed{0};
  TCountedInterface Intf;
  int Plain = 0, C3 = 0, C6 = 0;
  std::atomic<int> Runs{0};
  std::atomic<int> RefsWhileRunning{0};
  auto Job = [&](PJob) { Runs.fetch_add(1); };
  P->Post(Job, new TCountedObject(&Destroyed), false, 0, 0, jdfFreeAsObject);
  P->Post(Job, std::malloc(64), false, 0, 0, jdfFreeAsRecord);  // leak checkers catch a missed free
  P->Post([&](PJob) { RefsWhileRunning = Intf.Refs.load(); Runs.fetch_add(1); }, &Intf, false, 0, 0,
          jdfFreeAsInterface);
  P->Post(Job, &Plain, false, 0, 0, jdfFreeByUser);
  P->Post(Job, &C3, false, 0, 0, jdfFreeAsC3);
  P->Post(Job, &C6, false, 0, 0, jdfFreeAsC6);
  ASSERT_TRUE(WaitUntil([&] { return Runs.load() == 6; }));
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> L(Lock);
    return Custom.size() == 2 && Errors.size() == 1 && Intf.Refs.load() == 1;
  }));
  EXPECT_EQ(Destroyed.load(), 1);
  EXPECT_EQ(RefsWhileRunning.load(), 2) << "the pool holds a reference while the job lives";
  std::lock_guard<std::mutex> L(Lock);
  std::set<std::pair<TJobDataFreeType, void*>> Got(Custom.begin(), Custom.end());
  EXPECT_EQ(Got, (std::set<std::pair<TJobDataFreeType, void*>>{{jdfFreeAsC3, &C3}, {jdfFreeAsC6, &C6}}))
      << "user-owned data never reach the handler";
  EXPECT_EQ(Errors[0], jesFreeData);
}

TEST(KivWorkerPool, TimedJobsRunOnScheduleAndStopWhenCleared) {
  auto P = NewPool();
  std::atomic<int64_t> RanAt{0};
  int64_t Posted = GetTimestamp();
  TJobHandle Delayed = P->Post([&](PJob) { RanAt = GetTimestamp(); }, nullptr, false, 300, 0);
  EXPECT_EQ(Delayed & 3, 1u) << "a timed job's handle has bit 0 set";
  std::atomic<int> Repeats{0};
  std::mutex Lock;
  std::vector<int64_t> Times;
  int64_t RepeatPosted = GetTimestamp();
  TJobHandle Repeating = P->Post([&](PJob) {
    std::lock_guard<std::mutex> L(Lock);
    Times.push_back(GetTimestamp());
    Repeats.fetch_add(1);
  }, nullptr, false, 0, 100);
  EXPECT_EQ(Repeating & 3, 1u);
  ASSERT_TRUE(WaitUntil([&] { return RanAt.load() != 0 && Repeats.load() >= 3; }));
  EXPECT_GE(RanAt.load() - Posted, 300);
  EXPECT_TRUE(P->Clear(Repeating, true));
  int After = Repeats.load();
  SleepMs(350);
  EXPECT_EQ(Repeats.load(), After) << "no run after the repetition was removed";
  EXPECT_EQ(P->RepeatJobCount(), 0);
  std::lock_guard<std::mutex> L(Lock);
  EXPECT_GE(Times[0] - RepeatPosted, 100) << "the first run comes one interval after posting";
  SleepMs(0);
}

TEST(KivWorkerPool, ATimedJobIsNotHeldUpByImmediateWorkTakenByItsWorker) {
  auto P = NewPool();
  ASSERT_TRUE(WaitUntil([&] { return P->IdleWorkerCount() == 2; }));
  // The worker woken for the timed job may well take the immediate job that
  // follows; another one must then wait for the timed queue.
  std::atomic<bool> TimedRan{false}, BlockerEndedFirst{false};
  P->Post([&](PJob) { TimedRan = true; }, nullptr, false, 300, 0);
  SleepMs(50);  // its worker is now asleep until the job is due
  P->Post([&](PJob) {
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while (!TimedRan.load() && std::chrono::steady_clock::now() < Deadline) SleepMs(5);
    BlockerEndedFirst = !TimedRan.load();
  });
  ASSERT_TRUE(WaitUntil([&] { return TimedRan.load(); }, 15000));
  EXPECT_FALSE(BlockerEndedFirst.load());
}

TEST(KivWorkerPool, RepeatingJobEndsItselfThroughItsTerminatedFlag) {
  auto P = NewPool();
  std::atomic<int> Runs{0};
  P->Post([&](PJob J) {
    if (Runs.fetch_add(1) + 1 == 3) J->SetIsTerminated(true);
  }, nullptr, false, 0, 30);
  ASSERT_TRUE(WaitUntil([&] { return Runs.load() >= 3 && P->RepeatJobCount() == 0; }));
  SleepMs(200);
  EXPECT_EQ(Runs.load(), 3);
}

TEST(KivWorkerPool, RepeatingJobKeepsItsDatumWhileACopyRuns) {
  auto P = NewPool();
  std::atomic<int> Destroyed{0};
  std::atomic<bool> Started{false}, SawAlive{false}, Finished{false};
  std::atomic<int> Runs{0};
  TJobHandle H = P->Post([&](PJob) {
    if (Runs.fetch_add(1) > 0) return;
    Started = true;
    SleepMs(300);
    SawAlive = Destroyed.load() == 0;
    Finished = true;
  }, new TCountedObject(&Destroyed), false, 0, 20, jdfFreeAsObject);
  ASSERT_TRUE(WaitUntil([&] { return Started.load(); }));
  EXPECT_TRUE(P->Clear(H, false)) << "removed while its first copy still runs";
  ASSERT_TRUE(WaitUntil([&] { return Finished.load(); }));
  EXPECT_TRUE(SawAlive.load()) << "the datum outlived the running copy";
  EXPECT_TRUE(WaitUntil([&] { return Destroyed.load() == 1; }));
  SleepMs(100);
  EXPECT_EQ(Destroyed.load(), 1);
}

TEST(KivWorkerPool, TimeOfDayPostWaitsForTheNextOccurrence) {
  auto P = NewPool();
  auto DayFraction = [](int64_t AShiftMs) {
    auto Now = std::chrono::system_clock::now() + std::chrono::milliseconds(AShiftMs);
    std::time_t T = std::chrono::system_clock::to_time_t(Now);
    std::tm Tm{};
    localtime_r(&T, &Tm);
    int64_t Ms = std::chrono::duration_cast<std::chrono::milliseconds>(Now.time_since_epoch()).count() % 1000;
    return 45000.0 + (Tm.tm_hour * 3600000.0 + Tm.tm_min * 60000.0 + Tm.tm_sec * 1000.0 + Ms) / 86400000.0;
  };
  std::atomic<int64_t> RanAt{0};
  int64_t Posted = GetTimestamp();
  TJobHandle Soon = P->Post([&](PJob) { RanAt = GetTimestamp(); }, nullptr, DayFraction(400), 0);
  EXPECT_EQ(Soon & 3, 1u);
  ASSERT_TRUE(WaitUntil([&] { return RanAt.load() != 0; }));
  EXPECT_GE(RanAt.load() - Posted, 250);
  // An hour ago means tomorrow: about 23 hours from now.
  TJobHandle Tomorrow = P->Post([](PJob) {}, nullptr, DayFraction(-3600000), 0);
  int64_t Due = P->RepeatJobs()->FirstFireTime() - GetTimestamp();
  EXPECT_GT(Due, 22 * 3600000LL);
  EXPECT_LT(Due, 24 * 3600000LL);
  EXPECT_TRUE(P->Clear(Tomorrow, false));
}

TEST(KivWorkerPool, LongTimeJobsAreLimitedAndGiveTheirSlotBack) {
  auto P = NewPool();
  P->SetMaxLongtimeWorkers(1);
  std::atomic<bool> Release{false}, Ran{false};
  TJobHandle First = P->PostLongJob([&](PJob) {
    while (!Release.load()) SleepMs(5);
  });
  ASSERT_NE(First, 0u);
  std::atomic<int> Destroyed{0};
  auto* Obj = new TCountedObject(&Destroyed);
  EXPECT_EQ(P->PostLongJob([](PJob) {}, Obj, jdfFreeAsObject), 0u) << "over the limit";
  EXPECT_EQ(Destroyed.load(), 0) << "a refused long-time job leaves the datum with the caller";
  delete Obj;
  Release = true;
  ASSERT_TRUE(WaitUntil([&] { return P->LongTimeJobCount() == 0; }));
  // A long-time job removed before it ran gives its slot back too.
  P->DisableWorkers();
  TJobHandle Queued = P->PostLongJob([&](PJob) { Ran = true; });
  ASSERT_NE(Queued, 0u);
  EXPECT_EQ(P->LongTimeJobCount(), 1);
  EXPECT_TRUE(P->Clear(Queued, false));
  EXPECT_EQ(P->LongTimeJobCount(), 0);
  P->EnableWorkers();
  EXPECT_NE(P->PostLongJob([&](PJob) { Ran = true; }), 0u);
  EXPECT_TRUE(WaitUntil([&] { return Ran.load() && P->LongTimeJobCount() == 0; }));
}

TEST(KivWorkerPool, LoweringMaxWorkersBelowTheLiveCountKeepsEveryWorker) {
  std::atomic<bool> Release{false};
  std::atomic<int> Done{0};
  auto P = NewPool(2);
  // Declared after the pool, so it runs first: a failed assertion must not
  // leave jobs blocked while the pool shuts down.
  struct TReleaser {
    std::atomic<bool>& R;
    ~TReleaser() { R = true; }
  } Releaser{Release};
  P->SetFireTimeout(200);
  P->SetMaxWorkers(6);
  auto Blocker = [&](PJob) {
    while (!Release.load()) SleepMs(5);
    Done.fetch_add(1);
  };
  for (int I = 0; I < 6; ++I) P->Post(Blocker);
  ASSERT_TRUE(WaitUntil([&] { return P->BusyWorkerCount() == 6; }));
  P->SetMaxWorkers(3);
  EXPECT_EQ(P->WorkerCount(), 6);
  EXPECT_EQ(P->GetWorkerState().size(), 6u);
  // Posting must not spin while there are more live workers than the maximum.
  std::atomic<bool> Posted{false};
  std::thread Poster([&] {
    P->Post(Blocker);
    Posted = true;
  });
  bool PostReturned = WaitUntil([&] { return Posted.load(); });
  Release = true;
  Poster.join();
  EXPECT_TRUE(PostReturned);
  ASSERT_TRUE(WaitUntil([&] { return Done.load() == 7; }));
  EXPECT_TRUE(WaitUntil([&] { return P->WorkerCount() <= 3; }, 20000)) << "the surplus retires";
}

TEST(KivWorkerPool, StateSnapshotAndProcedureInfo) {
  auto P = NewPool();
  std::atomic<bool> Release{false}, Started{false};
  TInfoTarget Target;
  TJobMethod M = MakeJobProc<&TInfoTarget::Run>(&Target);
  ASSERT_TRUE(WaitUntil([&] {
    for (const TWorkerStateItem& S : P->GetWorkerState())
      if (!(S.Flags & WORKER_RUNNING)) return false;
    return true;
  })) << "every thread has started";
  P->Post([&](PJob) {
    Started = true;
    while (!Release.load()) SleepMs(5);
  });
  ASSERT_TRUE(WaitUntil([&] { return Started.load(); }));
  auto States = P->GetWorkerState();
  Release = true;
  ASSERT_EQ(static_cast<int>(States.size()), P->WorkerCount());
  int Active = 0;
  for (const TWorkerStateItem& S : States) {
    EXPECT_NE(S.Handle, 0u);
    EXPECT_TRUE(S.Flags & WORKER_RUNNING);
    if (S.ActiveJobFlags) {
      ++Active;
      EXPECT_TRUE(S.Flags & WORKER_ISBUSY);
      EXPECT_TRUE(S.Flags & WORKER_EXECUTING);
      EXPECT_TRUE(S.ActiveJobFlags & JOB_ANON_PROC);
      EXPECT_GE(S.ActiveJobTime, 0);
    }
  }
  EXPECT_EQ(Active, 1);

  EXPECT_EQ(TKIVWorkers::GetJobPorcInfo(TJobMethod{}), u"-");
  EXPECT_EQ(TKIVWorkers::GetJobPorcInfo(TJobMethod{reinterpret_cast<void*>(0x1234), nullptr}), u"-");
  struct Case {
    TJobMethod Proc;
    std::string Name;
  };
  const Case Cases[] = {{MakeJobProc(ProcForInfo), "ProcForInfo"}, {M, "TInfoTarget::Run"}};
  for (const Case& C : Cases) {
    std::string Info = ToUtf8(TKIVWorkers::GetJobPorcInfo(C.Proc));
    char Hex[32];
    std::snprintf(Hex, sizeof(Hex), "%08llX,", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(C.Proc.Code)));
    EXPECT_EQ(Info.rfind(Hex, 0), 0u) << Info;
    EXPECT_NE(Info.find(C.Name), std::string::npos) << Info;
  }
  EXPECT_TRUE(WaitUntil([&] { return P->BusyWorkerCount() == 0; }));
}

TEST(KivWorkerPool, PostDuringShutdownIsRefusedAndTheDatumFreed) {
  auto P = NewPool();
  std::atomic<bool> Started{false};
  std::atomic<TJobHandle> Handle{1};
  std::atomic<int> Destroyed{0};
  std::atomic<int> DestroyedAtReturn{-1};
  TKIVWorkers* Raw = P.get();
  Raw->Post([&, Raw](PJob J) {
    Started = true;
    while (!J->IsTerminated()) SleepMs(2);
    Handle = Raw->Post([](PJob) {}, new TCountedObject(&Destroyed), false, 0, 0, jdfFreeAsObject);
    DestroyedAtReturn = Destroyed.load();
  });
  ASSERT_TRUE(WaitUntil([&] { return Started.load(); }));
  P.reset();  // terminates: the running job sees IsTerminated and posts
  EXPECT_EQ(Handle.load(), 0u);
  EXPECT_EQ(DestroyedAtReturn.load(), 1);
}

TEST(KivWorkerPool, DestroyOnTheMainThreadRunsAPendingMainThreadJob) {
  auto P = NewPool();
  std::atomic<bool> Ran{false};
  P->Post([&](PJob) { Ran = true; }, nullptr, true);
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (P->BusyWorkerCount() == 0 && std::chrono::steady_clock::now() < Deadline) SleepMs(2);
  ASSERT_GT(P->BusyWorkerCount(), 0) << "a worker waits for the main thread";
  EXPECT_FALSE(Ran.load());
  P.reset();
  EXPECT_TRUE(Ran.load());
}

namespace {
// Outlives the test: a worker given up at shutdown still runs this job.
struct TStuckJob {
  std::atomic<bool> Release{false};
  std::atomic<bool> Started{false};
  std::atomic<bool> Returned{false};
};
}  // namespace

TEST(KivWorkerPool, ShutdownGivesUpOnAWorkerThatDoesNotEnd) {
  auto Stuck = std::make_shared<TStuckJob>();
  auto P = NewPool();
  P->SetForceQuitTimeout(300);
  std::atomic<int> Reports{0};
  std::atomic<PJob> ReportedJob{nullptr};
  P->OnError = [&](PJob AJob, const Exception&, TJobErrorSource S) {
    if (S == jesWaitDone) {
      ReportedJob = AJob;
      Reports.fetch_add(1);
    }
  };
  std::atomic<bool> Normal{false};
  P->Post([Stuck](PJob) {
    Stuck->Started = true;
    while (!Stuck->Release.load()) SleepMs(5);  // ignores IsTerminated
    Stuck->Returned = true;
  });
  P->Post([&](PJob) { Normal = true; });
  ASSERT_TRUE(WaitUntil([&] { return Stuck->Started.load() && Normal.load(); }));
  auto T0 = std::chrono::steady_clock::now();
  P.reset();
  auto Took = std::chrono::steady_clock::now() - T0;
  EXPECT_LT(Took, std::chrono::seconds(20)) << "shutdown completes";
  EXPECT_EQ(Reports.load(), 1);
  EXPECT_NE(ReportedJob.load(), nullptr);
  Stuck->Release = true;
  EXPECT_TRUE(WaitUntil([&] { return Stuck->Returned.load(); }));
  SleepMs(50);  // let the given-up thread leave
}
