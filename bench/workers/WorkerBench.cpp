// Posting throughput of the pool against a minimal mutex + condition-variable
// queue: 1 000 000 empty immediate jobs from one and from two posting threads.
// Prints figures only.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "workers/KivWorker.h"

namespace {
std::atomic<int64_t> GDone{0};
void EmptyJob(PJob) { GDone.fetch_add(1, std::memory_order_relaxed); }
void EmptyTask() { GDone.fetch_add(1, std::memory_order_relaxed); }

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point A, Clock::time_point B) { return std::chrono::duration<double>(B - A).count(); }

void WaitDone(int64_t N) {
  while (GDone.load(std::memory_order_relaxed) < N) std::this_thread::yield();
}

// The pool: N jobs from AProducers threads, until the last one has run.
double RunPool(TKIVWorkers& P, int64_t N, int AProducers) {
  GDone = 0;
  auto T0 = Clock::now();
  std::vector<std::thread> Producers;
  for (int I = 0; I < AProducers; ++I)
    Producers.emplace_back([&, I] {
      int64_t Count = N / AProducers + (I < N % AProducers ? 1 : 0);
      for (int64_t K = 0; K < Count; ++K) P.Post(EmptyJob);
    });
  for (auto& T : Producers) T.join();
  WaitDone(N);
  return Seconds(T0, Clock::now());
}

// The baseline: one locked deque, notify_one per push, AConsumers threads.
class TBaselineQueue {
 public:
  explicit TBaselineQueue(int AConsumers) {
    for (int I = 0; I < AConsumers; ++I) FThreads.emplace_back([this] { Consume(); });
  }
  ~TBaselineQueue() {
    {
      std::lock_guard<std::mutex> L(FLock);
      FStop = true;
    }
    FCond.notify_all();
    for (auto& T : FThreads) T.join();
  }
  void Push(void (*ATask)()) {
    {
      std::lock_guard<std::mutex> L(FLock);
      FItems.push_back(ATask);
    }
    FCond.notify_one();
  }

 private:
  void Consume() {
    for (;;) {
      void (*Task)();
      {
        std::unique_lock<std::mutex> L(FLock);
        FCond.wait(L, [this] { return FStop || !FItems.empty(); });
        if (FItems.empty()) return;
        Task = FItems.front();
        FItems.pop_front();
      }
      Task();
    }
  }
  std::mutex FLock;
  std::condition_variable FCond;
  std::deque<void (*)()> FItems;
  bool FStop = false;
  std::vector<std::thread> FThreads;
};

double RunBaseline(int64_t N, int AProducers, int AConsumers) {
  TBaselineQueue Q(AConsumers);
  GDone = 0;
  auto T0 = Clock::now();
  std::vector<std::thread> Producers;
  for (int I = 0; I < AProducers; ++I)
    Producers.emplace_back([&, I] {
      int64_t Count = N / AProducers + (I < N % AProducers ? 1 : 0);
      for (int64_t K = 0; K < Count; ++K) Q.Push(EmptyTask);
    });
  for (auto& T : Producers) T.join();
  WaitDone(N);
  return Seconds(T0, Clock::now());
}

double Median(std::vector<double> A) {
  std::sort(A.begin(), A.end());
  size_t M = A.size() / 2;
  return A.size() % 2 ? A[M] : (A[M - 1] + A[M]) / 2;
}
}  // namespace

// Usage: workers_bench [jobs] [rounds] [pool|baseline]
// The rounds alternate pool and baseline, so a busy moment of the machine
// falls on both; the baseline swings widely from run to run, which is why
// the median is printed beside the best.
int main(int argc, char** argv) {
  int64_t N = argc > 1 ? std::atoll(argv[1]) : 1000000;
  int Rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  std::string Only = argc > 3 ? argv[3] : "";
  bool DoPool = Only != "baseline", DoBase = Only != "pool";
  KivWorkerInit();
  std::printf("jobs per run: %lld, rounds: %d, processors: %d\n", static_cast<long long>(N), Rounds,
              ProcessorCount());
  for (int Producers : {1, 2}) {
    std::vector<double> Pool, Base;
    int Workers = 0;
    for (int R = 0; R < Rounds; ++R) {
      if (DoPool) {
        TKIVWorkers P(2);
        Pool.push_back(RunPool(P, N, Producers));
        Workers = P.WorkerCount();
      }
      if (DoBase) Base.push_back(RunBaseline(N, Producers, Workers > 0 ? Workers : 5));
    }
    std::printf("%d posting thread(s):\n", Producers);
    if (DoPool)
      std::printf("  pool                  %9.0f jobs/s median, %9.0f best (%d workers)\n", N / Median(Pool),
                  N / *std::min_element(Pool.begin(), Pool.end()), Workers);
    if (DoBase)
      std::printf("  mutex+condvar queue   %9.0f jobs/s median, %9.0f best (%d consumers)\n", N / Median(Base),
                  N / *std::min_element(Base.begin(), Base.end()), Workers > 0 ? Workers : 5);
    if (DoPool && DoBase)
      std::printf("  ratio pool/baseline   %.2f median, %.2f best\n", Median(Base) / Median(Pool),
                  *std::min_element(Base.begin(), Base.end()) / *std::min_element(Pool.begin(), Pool.end()));
  }
  KivWorkerFinal();
  return 0;
}
