#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "WorkerTestSupport.h"

namespace {
void ProcA(PJob) {}
void ProcB(PJob) {}

PJob MakeJob(TJobProcG AProc, void* AData = nullptr, int32_t AFlags = JOB_RUN_ONCE) {
  PJob J = GlobalJobPool->Pop();
  J->JobProc = MakeJobProc(AProc);
  J->Data = AData;
  J->Flags = AFlags;
  return J;
}

std::vector<PJob> Drain(TJobBase& Q) {
  std::vector<PJob> R;
  while (PJob J = Q.Pop()) R.push_back(J);
  return R;
}

void Release(const std::vector<PJob>& AJobs) {
  for (PJob J : AJobs) GlobalJobPool->Push(J);
}

int Marker(int I) { return I; }
void* D(intptr_t V) { return reinterpret_cast<void*>(V); }
}  // namespace

TEST(KivJobPool, RecordsComeBackZeroedAndTheListIsBounded) {
  TJobPool Pool(4);
  std::vector<PJob> Jobs;
  for (int I = 0; I < 6; ++I) {
    PJob J = Pool.Pop();
    std::memset(static_cast<void*>(J), 0xAB, sizeof(TJob));
    J->Flags = 0;  // no closure to release
    Jobs.push_back(J);
  }
  for (PJob J : Jobs) Pool.Push(J);
  EXPECT_EQ(Pool.Count(), 4) << "records beyond the capacity go back to the heap";
  TJob Zero;
  std::memset(static_cast<void*>(&Zero), 0, sizeof(Zero));
  for (int I = 0; I < 4; ++I) {
    PJob J = Pool.Pop();
    EXPECT_EQ(std::memcmp(J, &Zero, sizeof(TJob)), 0) << "recycled record " << I << " not zeroed";
    Jobs[static_cast<size_t>(I)] = J;
  }
  EXPECT_EQ(Pool.Count(), 0);
  for (int I = 0; I < 4; ++I) Pool.Push(Jobs[static_cast<size_t>(I)]);
}

TEST(KivJobPool, CopyJobTakesItsOwnClosureReference) {
  auto Counter = std::make_shared<int>(0);
  std::weak_ptr<int> Alive = Counter;
  PJob Src = GlobalJobPool->Pop();
  {
    TJobProcRef Ref([Counter](PJob) { ++*Counter; });
    bool Anon;
    Src->JobProc = Ref.Detach(Anon);
    ASSERT_TRUE(Anon);
    Src->Flags = JOB_ANON_PROC | JOB_RUN_ONCE;
  }
  Counter.reset();
  PJob Dst = GlobalJobPool->Pop();
  Src->Next = Src;
  Src->Source = Src;
  CopyJob(Dst, Src);
  EXPECT_EQ(Dst->Next, nullptr);
  EXPECT_EQ(Dst->Source, nullptr);
  EXPECT_EQ(Dst->JobProc, Src->JobProc);
  GlobalJobPool->Push(Src);
  EXPECT_FALSE(Alive.expired()) << "the copy still holds the closure";
  GlobalJobPool->Push(Dst);
  EXPECT_TRUE(Alive.expired()) << "the last record released the closure";
}

TEST(KivSimpleJobs, SelectiveRemovalByProcedureAndDatum) {
  struct Case {
    const char* Name;
    void* AData;
    int MaxTimes;
    std::vector<int> Kept;  // markers of the jobs left, in queue order
  };
  // Queue: A(d1) B(d1) A(d2) A(d1) B(d2); markers 0..4.
  const std::vector<Case> Cases = {
      {"any datum (null), one", nullptr, 1, {1, 2, 3, 4}},
      {"any datum (-1), one", D(-1), 1, {1, 2, 3, 4}},
      {"any datum, all", nullptr, -1, {1, 4}},
      {"datum d1, all", D(1), -1, {1, 2, 4}},
      {"datum d2, two", D(2), 2, {0, 1, 3, 4}},
      {"no match", D(9), -1, {0, 1, 2, 3, 4}},
      {"limit 0", nullptr, 0, {0, 1, 2, 3, 4}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TSimpleJobs Q(nullptr);
    struct Shape {
      TJobProcG P;
      intptr_t D;
    } Shapes[] = {{ProcA, 1}, {ProcB, 1}, {ProcA, 2}, {ProcA, 1}, {ProcB, 2}};
    std::vector<PJob> Jobs;
    for (int I = 0; I < 5; ++I) {
      PJob J = MakeJob(Shapes[I].P, D(Shapes[I].D));
      J->Runs = Marker(I);
      Jobs.push_back(J);
      Q.Push(J);
    }
    int Removed = Q.Clear(MakeJobProc(ProcA), C.AData, C.MaxTimes);
    EXPECT_EQ(Removed, 5 - static_cast<int>(C.Kept.size()));
    EXPECT_EQ(Q.Count(), static_cast<int>(C.Kept.size()));
    std::vector<int> Left;
    auto Rest = Drain(Q);
    for (PJob J : Rest) Left.push_back(J->Runs);
    EXPECT_EQ(Left, C.Kept);
    Release(Rest);
  }
}

TEST(KivSimpleJobs, RemovedJobsLeaveTheRestAheadOfNewOnesAndCountStaysRight) {
  TSimpleJobs Q(nullptr);
  for (int I = 0; I < 3; ++I) {
    PJob J = MakeJob(ProcA);
    J->Runs = I;
    Q.Push(J);
  }
  // A job pushed while a removal runs lands behind the kept ones: simulate by
  // detaching, pushing and putting back, the same steps the removal takes.
  PJob Detached = Q.DetachAll();
  PJob Late = MakeJob(ProcB);
  Late->Runs = 99;
  Q.Push(Late);
  Q.PutBack(Detached);
  EXPECT_EQ(Q.Clear(MakeJobProc(ProcA), nullptr, 1), 1);
  EXPECT_EQ(Q.Count(), 3);
  std::vector<int> Order;
  auto Rest = Drain(Q);
  for (PJob J : Rest) Order.push_back(J->Runs);
  EXPECT_EQ(Order, (std::vector<int>{1, 2, 99}));
  EXPECT_EQ(Q.Count(), 0);
  Release(Rest);
}

TEST(KivSimpleJobs, RemovalByObjectAndByHandle) {
  TSimpleJobs Q(nullptr);
  int ObjX = 0, ObjY = 0;
  std::vector<PJob> Jobs;
  for (int I = 0; I < 5; ++I) {
    PJob J = GlobalJobPool->Pop();
    J->JobProc = {reinterpret_cast<void*>(&ProcA), I % 2 ? &ObjY : &ObjX};
    J->Flags = JOB_RUN_ONCE;
    J->Runs = I;
    Jobs.push_back(J);
    Q.Push(J);
  }
  EXPECT_FALSE(Q.Clear(TJobHandle(0))) << "handle 0 removes nothing";
  EXPECT_EQ(Q.Count(), 5);
  EXPECT_EQ(Q.Clear(static_cast<void*>(&ObjX), 2), 2) << "the two oldest jobs of X";
  EXPECT_TRUE(Q.Clear(reinterpret_cast<TJobHandle>(Jobs[3])));
  EXPECT_FALSE(Q.Clear(reinterpret_cast<TJobHandle>(Jobs[3]))) << "already gone";
  std::vector<int> Order;
  auto Rest = Drain(Q);
  for (PJob J : Rest) Order.push_back(J->Runs);
  EXPECT_EQ(Order, (std::vector<int>{1, 4}));
  Release(Rest);
}

TEST(KivRepeatJobs, DueTimeRules) {
  struct Case {
    const char* Name;
    int32_t Runs;
    int64_t Delay, Interval, DueTime;
    int64_t Expected;  // relative to PushTime (or "now" = PushTime here)
    bool FromPrevious;
  };
  const Case Cases[] = {
      {"first run of a delayed job", 0, 500, 0, 0, 500, false},
      {"delayed repeating job, first run", 0, 300, 1000, 0, 300, false},
      {"once, no delay", 3, 0, 0, 0, 0, false},
      {"repeating, continues from the previous due time", 2, 0, 1000, 7000, 8000, true},
      {"repeating, first run one interval after posting", 0, 0, 1000, 0, 1000, false},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TRepeatJobs Q(nullptr);
    PJob J = MakeJob(ProcA, nullptr, C.Interval > 0 ? 0 : JOB_RUN_ONCE);
    J->Runs = C.Runs;
    J->Delay = C.Delay;
    J->Interval = C.Interval;
    J->DueTime = C.DueTime;
    int64_t Before = GetTimestamp();
    Q.Push(J);
    int64_t After = GetTimestamp();
    if (C.FromPrevious) {
      EXPECT_EQ(J->DueTime, C.Expected);
    } else {
      EXPECT_GE(J->DueTime, Before + C.Expected);
      EXPECT_LE(J->DueTime, After + C.Expected);
    }
    EXPECT_EQ(Q.FirstFireTime(), J->DueTime);
  }
}

namespace {
// Runs > 0, Interval > 0 and a DueTime: the next due time is exactly
// DueTime + Interval, which pins due times without racing the clock.
PJob PinnedJob(TJobProcG AProc, int64_t ADueTime, int32_t AFlags = JOB_RUN_ONCE) {
  PJob J = MakeJob(AProc, nullptr, AFlags);
  J->Runs = 1;
  J->Interval = 1;
  J->DueTime = ADueTime - 1;
  return J;
}
}  // namespace

TEST(KivRepeatJobs, EqualDueTimesShareANodeLastInsertedFirst) {
  TRepeatJobs Q(nullptr);
  int64_t Due = GetTimestamp() - 10;
  PJob X = PinnedJob(ProcA, Due), Y = PinnedJob(ProcB, Due);
  PJob Later = PinnedJob(ProcA, GetTimestamp() + 100000);
  Q.Push(X);
  Q.Push(Y);
  Q.Push(Later);
  EXPECT_EQ(Q.Count(), 2) << "two distinct due times";
  EXPECT_EQ(Q.FirstFireTime(), Due);
  PJob First = Q.Pop();
  PJob Second = Q.Pop();
  EXPECT_EQ(First, Y) << "the one inserted last is taken first";
  EXPECT_EQ(Second, X);
  EXPECT_EQ(Q.Pop(), nullptr) << "the remaining job is due in the future";
  EXPECT_EQ(Q.Count(), 1);
  EXPECT_EQ(Q.FirstFireTime(), Later->DueTime);
  Q.Clear();
  EXPECT_EQ(Q.FirstFireTime(), 0);
  EXPECT_EQ(Q.Count(), 0);
  Release({First, Second});
}

TEST(KivRepeatJobs, RepeatingJobRunsAsCopiesAndMissedRunsComeBackToBack) {
  TRepeatJobs Q(nullptr);
  int64_t Now = GetTimestamp();
  // Due three intervals ago: three runs are overdue.
  PJob M = PinnedJob(ProcA, Now - 300, 0);
  M->Interval = 100;
  M->DueTime = Now - 400;
  Q.Push(M);
  ASSERT_EQ(M->DueTime, Now - 300);
  std::vector<PJob> Copies;
  while (PJob C = Q.Pop()) {
    EXPECT_EQ(C->Source, M);
    EXPECT_NE(C, M);
    EXPECT_EQ(C->Flags & JOB_RUN_ONCE, 0);
    Copies.push_back(C);
    if (Copies.size() > 10) break;
  }
  EXPECT_GE(Copies.size(), 3u);
  EXPECT_LE(Copies.size(), 5u);
  EXPECT_EQ(Q.Count(), 1) << "the master stays queued";
  EXPECT_GT(M->DueTime, GetTimestamp() - 100);

  // Statistics go to the master; a terminated copy ends the repetition.
  Q.AfterRepeatRun(Copies[0], 30);
  Q.AfterRepeatRun(Copies[1], 10);
  EXPECT_EQ(M->Runs, 3);
  EXPECT_EQ(M->MinTime, 10u);
  EXPECT_EQ(M->MaxTime, 30u);
  EXPECT_EQ(M->TotalTime, 40u);
  Copies[2]->SetIsTerminated(true);
  Q.AfterRepeatRun(Copies[2], 5);
  EXPECT_EQ(Q.Count(), 0) << "the master was released";
  EXPECT_EQ(Q.FirstFireTime(), 0);
  Release(Copies);
}

TEST(KivRepeatJobs, SelectiveRemovalWalksEveryNode) {
  TRepeatJobs Q(nullptr);
  int64_t Base = GetTimestamp() + 100000;
  int Obj = 0;
  std::vector<PJob> Jobs;
  for (int I = 0; I < 6; ++I) {
    PJob J = PinnedJob(ProcA, Base + (I / 2));  // two jobs per due time
    if (I % 3 == 0) J->JobProc.Data = &Obj;
    Jobs.push_back(J);
    Q.Push(J);
  }
  EXPECT_EQ(Q.Count(), 3);
  EXPECT_FALSE(Q.Clear(TJobHandle(0)));
  EXPECT_EQ(Q.Clear(static_cast<void*>(&Obj), -1), 2);
  EXPECT_TRUE(Q.Clear(reinterpret_cast<TJobHandle>(Jobs[1]) | 1));
  EXPECT_EQ(Q.Count(), 2) << "the first due time lost both its jobs";
  EXPECT_EQ(Q.FirstFireTime(), Base + 1);
  TJobMethod Plain = MakeJobProc(ProcA);
  EXPECT_EQ(Q.Clear(Plain, nullptr, 1), 1);
  EXPECT_EQ(Q.Clear(Plain, nullptr, -1), 2);
  EXPECT_EQ(Q.Count(), 0);
  EXPECT_EQ(Q.FirstFireTime(), 0);
}
