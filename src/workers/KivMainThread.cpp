// The hand-over of jobs to the main thread: a worker queues a main-thread
// job and waits; the main thread runs it in PumpMessages or while it waits
// in MsgWaitForEvent.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "workers/KivWorker.h"

namespace {
std::atomic<std::thread::id> GMainThreadId{};
}  // namespace

struct TMainJob {
  PJob Job;
  TKIVWorker* Worker;
};

class TMainThreadQueue {
 public:
  void Push(const TMainJob& AJob) {
    {
      std::lock_guard<std::mutex> L(FLock);
      FItems.push_back(AJob);
      FCond.notify_all();
    }
    std::function<void()> Waker;
    {
      std::lock_guard<std::mutex> L(FWakerLock);
      Waker = FWaker;
    }
    if (Waker) Waker();
  }
  bool Pop(TMainJob& AJob) {
    std::lock_guard<std::mutex> L(FLock);
    if (FItems.empty()) return false;
    AJob = FItems.front();
    FItems.pop_front();
    return true;
  }
  bool HasItems() {
    std::lock_guard<std::mutex> L(FLock);
    return !FItems.empty();
  }
  // Until a job is queued, AEvent is set or ATimeout ms (< 0: no limit) pass.
  void WaitWork(TEvent& AEvent, int64_t ATimeout) {
    std::unique_lock<std::mutex> L(FLock);
    auto Ready = [&] { return !FItems.empty() || AEvent.IsSet(); };
    if (ATimeout < 0)
      FCond.wait(L, Ready);
    else
      FCond.wait_for(L, std::chrono::milliseconds(ATimeout), Ready);
  }
  void Notify() {
    std::lock_guard<std::mutex> L(FLock);
    FCond.notify_all();
  }
  void SetWaker(std::function<void()> AWaker) {
    std::lock_guard<std::mutex> L(FWakerLock);
    FWaker = std::move(AWaker);
  }
  static void Dispatch(const TMainJob& AJob);

 private:
  std::mutex FLock;
  std::condition_variable FCond;
  std::deque<TMainJob> FItems;
  std::mutex FWakerLock;
  std::function<void()> FWaker;
};

static TMainThreadQueue GMainQueue;

void KivNotifyMainWaiter() { GMainQueue.Notify(); }

bool IsMainThread() { return std::this_thread::get_id() == GMainThreadId.load(); }

void SetMainThreadWaker(std::function<void()> AWaker) { GMainQueue.SetWaker(std::move(AWaker)); }

void TMainThreadQueue::Dispatch(const TMainJob& AJob) {
  TKIVWorker* W = AJob.Worker;
  std::optional<Exception> Err = W->RunJobCaught(AJob.Job);
  // The worker waits for its event, so its owner is still there.
  if (Err && W->FExitState.load() != TKIVWorker::TExitState::GivenUp) W->FOwner->ReportError(AJob.Job, *Err, jesExecute);
  W->FPrivateEvent.SetEvent();
}

void PumpMessages() {
  if (!IsMainThread()) return;
  TMainJob J;
  while (GMainQueue.Pop(J)) TMainThreadQueue::Dispatch(J);
}

TWaitResult MsgWaitForEvent(TEvent& AEvent, uint32_t ATimeout) {
  if (!IsMainThread()) return AEvent.WaitFor(ATimeout);
  {
    std::lock_guard<std::mutex> L(AEvent.FLock);
    AEvent.FMainWaiters.fetch_add(1);
  }
  const int64_t Start = GetTimestamp();
  TWaitResult R;
  for (;;) {
    if (AEvent.TryWait()) {
      R = wrSignaled;
      break;
    }
    if (GMainQueue.HasItems()) {
      PumpMessages();
      continue;
    }
    int64_t Remaining = -1;
    if (ATimeout != KivInfinite) {
      Remaining = static_cast<int64_t>(ATimeout) - (GetTimestamp() - Start);
      if (Remaining <= 0) {
        R = wrTimeout;
        break;
      }
    }
    GMainQueue.WaitWork(AEvent, Remaining);
  }
  {
    std::lock_guard<std::mutex> L(AEvent.FLock);
    AEvent.FMainWaiters.fetch_sub(1);
  }
  return R;
}

namespace kiv_detail {
void SetMainThread() { GMainThreadId = std::this_thread::get_id(); }

void QueueForMainThread(PJob AJob, TKIVWorker* AWorker) { GMainQueue.Push({AJob, AWorker}); }
}  // namespace kiv_detail
