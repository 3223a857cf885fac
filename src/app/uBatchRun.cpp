// The batch run: duplicate removal and the online check on the worker pool,
// with progress, stop and log on the main thread.
#include <cfenv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

#include "app/uBookSourceBean.h"
#include "app/uMainLogic.h"
#include "app/uRemoveRepeat.h"
#include "http/KivHttpClient.h"
#include "http/KivURI.h"
#include "json/KivJson.h"
#include "workers/KivWorker.h"

namespace {

constexpr char16_t kDeadGroup[] = u"失效";

// A progress notice travels in the job's data word (no allocation to lose);
// the top bit tells a notice from "no notice", which hides the bar.
constexpr uintptr_t kNotice = uintptr_t(1) << 63;
void* PackProgress(int32_t AMax, int32_t APosition) {
  return reinterpret_cast<void*>(kNotice | (uintptr_t(uint32_t(AMax) & 0x7fffffffu) << 32) |
                                 uintptr_t(uint32_t(APosition)));
}
bool HasProgress(void* AData) { return (reinterpret_cast<uintptr_t>(AData) & kNotice) != 0; }
TProgressInfo UnpackProgress(void* AData) {
  const auto v = reinterpret_cast<uintptr_t>(AData);
  TProgressInfo info;
  info.Max = int32_t((v >> 32) & 0x7fffffffu);
  info.Position = int32_t(uint32_t(v));
  return info;
}

void* RunTag(intptr_t ARunId) { return reinterpret_cast<void*>(ARunId); }
intptr_t RunOf(PJob AJob) { return reinterpret_cast<intptr_t>(AJob->Data); }

void SleepMs(int AMs) { std::this_thread::sleep_for(std::chrono::milliseconds(AMs)); }

String LogTime() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const int ms = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return FromUtf8(buf);
}

}  // namespace

// ---------------------------------------------------------------- log and status

void TMainLogic::LogD(const String& AMsg) { FWindow.AppendLog(Format(u"[%s] %s", LogTime(), AMsg)); }

void TMainLogic::Log(const String& AMsg) {
  LogD(AMsg);
  FStateMsg = AMsg;
  DispLog();
}

void TMainLogic::DispLog() {
  const int64_t start = FTaskStartTime.load();
  if (start > 0 && FProgressVisible) {
    const double ratio = FProgressMax != 0 ? double(FProgressPos) / double(FProgressMax) * 100.0 : 0.0;
    // nearbyint rounds halves to the even neighbour in the default mode.
    const int percent = int(std::nearbyint(ratio));
    FWindow.SetStatusText(1, Format(u"%s (%d/%d, %d%%) (用时: %dms)", FStateMsg, FProgressPos, FProgressMax,
                                    percent, GetTimestamp() - start));
  } else if (start > 0) {
    FWindow.SetStatusText(1, Format(u"%s (用时: %dms)", FStateMsg, GetTimestamp() - start));
  } else {
    FWindow.SetStatusText(1, FStateMsg);
  }
}

void TMainLogic::SetRunState(int AState) {
  static const char16_t* const kCaptions[] = {u"开始处理(&B)", u"停止(&S)", u"正在停止..."};
  FRunState = AState;
  FWindow.SetRunButton(AState, kCaptions[AState]);
}

void TMainLogic::SetProgressVisible(bool AVisible) {
  FProgressVisible = AVisible;
  FWindow.SetProgressVisible(AVisible);
}

// ---------------------------------------------------------------- start and stop

void TMainLogic::Button1Click() {
  if (FRunState.load() == rsIdle)
    StartRun();
  else
    StopOrEndRun();
}

void TMainLogic::StartRun() {
  const TRunOptions options = FWindow.ReadRunOptions();
  const intptr_t run = FRunId.fetch_add(1) + 1;
  SetRunState(rsRunning);
  FTaskRef = 0;
  FWaitStop = 0;
  FCheckLastTime = GetTimestamp();
  FTaskStartTime = std::max<int64_t>(GetTimestamp(), 1);
  FCheckStarted = false;

  int workers = 8;
  try {
    size_t used = 0;
    const std::string digits = ToUtf8(options.WorkerCount);
    const long v = std::stol(digits, &used, 10);
    if (used == digits.size()) workers = int(std::clamp<long>(v, INT32_MIN, INT32_MAX));
  } catch (...) {
  }
  if (workers < 1) workers = 1;
  GlobalWorkers->SetMaxWorkers(workers);

  FWindow.ClearLog();
  Log(u"正在初始化任务...");
  FWindow.StartStatusTimer();
  FProgressMin = 0;
  FProgressMax = 100;
  FProgressPos = 0;
  FWindow.SetProgress(0, 100, 0);

  if (options.RemoveRepeat) {
    FTaskRef.fetch_add(1);
    Log(u"正在去重复...");
    GlobalWorkers->Post(MakeJobProc<&TMainLogic::RemoveRepeat>(this),
                        reinterpret_cast<void*>(intptr_t(options.RealDedupe ? 1 : 0) | (run << 1)), false);
  }
  if (options.CheckSources) {
    FTaskRef.fetch_add(1);
    if (!options.RemoveRepeat) StartCheckStage(run);
  }
  FWindow.ShowWaitDialog();
}

void TMainLogic::StopOrEndRun() {
  if (FTaskRef.load() > 0) {
    SetRunState(rsStopping);
    FWaitStop.fetch_add(1);
    return;
  }
  EndRun();
}

void TMainLogic::EndRun() {
  SetRunState(rsIdle);
  FWindow.StopStatusTimer();
  FTaskStartTime = 0;
  SetProgressVisible(false);
  FWindow.CloseWaitDialog();
  Log(u"任务结束");
}

void TMainLogic::StartCheckStage(intptr_t ARun) {
  FCheckStarted = true;
  FCheckRun = ARun;
  FCheckPending = true;
  GlobalWorkers->SendSignal(FWaitCheckBookSourceSingId);
}

void TMainLogic::PostTaskFinish(intptr_t ARun) {
  if (FDestroying) return;
  GlobalWorkers->Post(MakeJobProc<&TMainLogic::TaskFinish>(this), RunTag(ARun), true);
}

void TMainLogic::TaskFinish(PJob AJob) {
  // Notices of an earlier run count for nothing.
  if (FDestroying || RunOf(AJob) != FRunId.load() || FRunState.load() == rsIdle) return;
  const int32_t n = FTaskRef.fetch_sub(1) - 1;
  if (n > 0 && FWaitStop.load() <= 0) {
    if (!FWindow.IsDestroying()) {
      Log(u"正在校验书源...");
      StartCheckStage(RunOf(AJob));
    }
  } else if (n == 0 || (n > 0 && !FCheckStarted)) {
    // A stop while duplicate removal ran drops the check stage that never started.
    FTaskRef = 0;
    if (!FWindow.IsDestroying()) {
      NotifyListChange(0);
      StopOrEndRun();
    }
  }
}

void TMainLogic::DoUpdateProcess(PJob AJob) {
  if (FDestroying) return;
  if (!HasProgress(AJob->Data)) {
    SetProgressVisible(false);
    return;
  }
  const TProgressInfo info = UnpackProgress(AJob->Data);
  FProgressMin = info.Min;
  FProgressMax = info.Max;
  FProgressPos = info.Position;
  FWindow.SetProgress(info.Min, info.Max, info.Position);
  SetProgressVisible(FRunState.load() != rsIdle);
}

void TMainLogic::PostProgress(int32_t AMax, int32_t APosition) {
  if (FDestroying) return;
  GlobalWorkers->Post(MakeJobProc<&TMainLogic::DoUpdateProcess>(this), PackProgress(AMax, APosition), true);
}

void TMainLogic::DoNotifyDataChange(PJob) {
  if (FDestroying) return;
  NotifyListChange(0);
  std::vector<JSONBase*> pending;
  {
    std::lock_guard<std::mutex> lock(FDataLock);
    pending.swap(FPendingFree);
  }
  DestroySources(pending);
}

void TMainLogic::DropPendingSources() {
  std::lock_guard<std::mutex> lock(FDataLock);
  for (JSONBase* source : FPendingFree) delete source;
  FPendingFree.clear();
}

// ---------------------------------------------------------------- duplicate removal

void TMainLogic::RemoveRepeat(PJob AJob) {
  const intptr_t data = reinterpret_cast<intptr_t>(AJob->Data);
  const bool realDedupe = (data & 1) != 0;
  const intptr_t run = data >> 1;
  int n0 = 0;
  try {
    std::vector<const JSONObject*> sources;
    {
      std::lock_guard<std::mutex> lock(FDataLock);
      n0 = FBookSrcData->Count();
      sources.reserve(size_t(n0));
      for (int i = 0; i < n0; ++i) {
        JSONBase* item = FBookSrcData->GetItems(i)->GetObject();
        sources.push_back(item && item->IsJSONObject() ? static_cast<JSONObject*>(item) : nullptr);
      }
    }
    // Nothing writes the sources while the scan reads them: the check stage
    // starts only after this job has finished.
    int64_t base = GetTimestamp();
    int64_t interval = 1000;
    TRepeatScanResult scan = ScanRepeats(sources, realDedupe, [&](int ASettled, int ARemaining) {
      if (AJob->IsTerminated() || FWaitStop.load() > 0) return false;
      if (GetTimestamp() - base > interval) {
        PostProgress(ARemaining, ASettled);
        interval = 200;
        base = GetTimestamp();
      }
      return true;
    });
    if (!scan.Removed.empty()) {
      std::lock_guard<std::mutex> lock(FDataLock);
      // Taken out now, destroyed on the main thread once the view forgot them.
      std::vector<JSONBase*> gone = FBookSrcData->ExtractItems(scan.Removed);
      FPendingFree.insert(FPendingFree.end(), gone.begin(), gone.end());
    }
  } catch (const Exception&) {
    // The scan ends; what it removed so far stays removed.
  }
  int now;
  {
    std::lock_guard<std::mutex> lock(FDataLock);
    now = FBookSrcData->Count();
  }
  if (now != n0 && !FDestroying) GlobalWorkers->Post(MakeJobProc<&TMainLogic::DoNotifyDataChange>(this), nullptr, true);
  SleepMs(100);
  PostTaskFinish(run);
}

// ---------------------------------------------------------------- the check stage

void TMainLogic::WaitCheckBookSource(PJob AJob) {
  // The signal is shared by name: only the logic that asked for a check acts.
  if (!FCheckPending.exchange(false)) return;
  const intptr_t run = FCheckRun.load();
  int count;
  {
    std::lock_guard<std::mutex> lock(FDataLock);
    count = FBookSrcData->Count();
  }
  if (count == 0) {
    PostTaskFinish(run);
    return;
  }
  FCheckCount = count;
  FCurCheckIndex = 0;
  const int k = std::min(count, GlobalWorkers->MaxWorkers() - 1);
  // This job holds one count until every check job is posted, so an early
  // finisher cannot end the stage while others are still to come.
  FLiveCheckJobs = 1;
  for (int i = 0; i < k && !AJob->IsTerminated() && !FDestroying; ++i) {
    FLiveCheckJobs.fetch_add(1);
    if (GlobalWorkers->Post(MakeJobProc<&TMainLogic::DoCheckBookSourceItem>(this), RunTag(run), false) == 0)
      FLiveCheckJobs.fetch_sub(1);
  }
  CheckJobDone(run);
}

void TMainLogic::CheckJobDone(intptr_t ARun) {
  // The last check job to stop ends the stage, so no mark lands after the end;
  // counting the jobs makes a grace pause before the notice unnecessary.
  if (FLiveCheckJobs.fetch_sub(1) == 1) PostTaskFinish(ARun);
}

bool TMainLogic::EnterHost(const String& AHost) {
  if (FPerHostLimit <= 0) return true;
  std::unique_lock<std::mutex> lock(FHostLock);
  // A stop must not wait for a busy host.
  while (FHostProbes[AHost] >= FPerHostLimit) {
    if (FWaitStop.load() > 0) return false;
    FHostFree.wait_for(lock, std::chrono::milliseconds(50));
  }
  ++FHostProbes[AHost];
  return true;
}

void TMainLogic::LeaveHost(const String& AHost) {
  if (FPerHostLimit <= 0) return;
  {
    std::lock_guard<std::mutex> lock(FHostLock);
    if (--FHostProbes[AHost] <= 0) FHostProbes.erase(AHost);
  }
  FHostFree.notify_all();
}

bool TMainLogic::CheckWithPolicy(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader,
                                 TCheckOutcome& AOutcome) {
  const int64_t start = GetTimestamp();
  const String host = LowerCaseAscii(TURI(Trim(ATarget.BookSourceUrl)).Host());
  bool verdict = false;
  if (EnterHost(host)) {
    for (int attempt = 0;; ++attempt) {
      TCheckOutcome one;
      one.Attempts = AOutcome.Attempts;
      try {
        verdict = CheckTarget(ATarget, AHttp, AHeader, false, nullptr, &one);
      } catch (const Exception& E) {
        verdict = false;
        one.FailText = E.Message();
      }
      AOutcome = one;
      // Only a probe that got no answer at all is worth another try.
      if (verdict || one.Status != 0 || !one.Requested || attempt >= FCheckRetries || FWaitStop.load() > 0) break;
      SleepMs(FRetryPauseMs);
    }
    LeaveHost(host);
  } else {
    AOutcome.Skipped = true;
  }
  AOutcome.ElapsedMs = GetTimestamp() - start;
  return verdict;
}

void TMainLogic::DoCheckBookSourceItem(PJob AJob) {
  const intptr_t run = RunOf(AJob);
  try {
    THttpClient http;
    http.SetConnectionTimeOut(FCheckTimeout);
    http.SetRecvTimeOut(FCheckTimeout);
    // The verdict needs the status only.
    http.SetStatusOnly(true);
    THttpHeaders header;
    while (!AJob->IsTerminated() && FWaitStop.load() == 0) {
      const int32_t idx = FCurCheckIndex.fetch_add(1);
      bool posted = false;
      {
        std::lock_guard<std::mutex> lock(FLocker);
        if (GetTimestamp() - FCheckLastTime > 100) {
          FCheckLastTime = GetTimestamp();
          PostProgress(FCheckCount.load(), idx);
          posted = true;
        }
      }
      // The poster pauses outside the lock: probes tend to end together, and
      // a pause inside it would hold every other job back at each round.
      if (posted) SleepMs(10);
      if (idx >= FCheckCount.load()) break;
      JSONObject* source = nullptr;
      TCheckTarget target;
      {
        std::lock_guard<std::mutex> lock(FDataLock);
        if (idx >= FBookSrcData->Count()) break;
        JSONBase* item = FBookSrcData->GetItems(idx)->GetObject();
        if (item && item->IsJSONObject()) {
          source = static_cast<JSONObject*>(item);
          target = TCheckTarget::Of(source);
        }
      }
      TCheckOutcome outcome;
      const bool verdict = source && CheckWithPolicy(target, http, header, outcome);
      if (outcome.Skipped) break;
      {
        std::lock_guard<std::mutex> lock(FDataLock);
        if (source) {
          TBookSourceItem item(source);
          if (verdict)
            item.RemoveGroup(kDeadGroup);
          else
            item.AddGroup(kDeadGroup);
        }
      }
      if (OnSourceChecked) OnSourceChecked(idx, verdict, outcome);
    }
  } catch (const Exception&) {
    // Errors of the client never end the stage abnormally.
  }
  CheckJobDone(run);
}
