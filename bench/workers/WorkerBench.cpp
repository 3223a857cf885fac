// Posting throughput of the pool against a minimal mutex + condition-variable
// queue: 1 000 000 empty immediate jobs from one and from two posting threads.
// Prints figures only.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
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
}  // namespace

int main(int argc, char** argv) {
  int64_t N = argc > 1 ? std::atoll(argv[1]) : 1000000;
  int Rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  KivWorkerInit();
  std::printf("jobs per run: %lld, rounds: %d, processors: %d\n", static_cast<long long>(N), Rounds,
              ProcessorCount());
  for (int Producers : {1, 2}) {
    double BestPool = 1e30, BestBase = 1e30;
    int Workers = 0;
    for (int R = 0; R < Rounds; ++R) {
      {
        TKIVWorkers P(2);
        BestPool = std::min(BestPool, RunPool(P, N, Producers));
        Workers = P.WorkerCount();
      }
      BestBase = std::min(BestBase, RunBaseline(N, Producers, Workers));
    }
    std::printf("%d posting thread(s): pool %.0f jobs/s (%d workers), mutex+condvar queue %.0f jobs/s (%d consumers), ratio %.2f\n",
                Producers, N / BestPool, Workers, N / BestBase, Workers, BestBase / BestPool);
  }
  KivWorkerFinal();
  return 0;
}
