#include "app/uBatchRun.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

#include "app/uBookSource3.h"
#include "app/uBookSourceBean.h"
#include "app/uRemoveRepeat.h"
#include "app/uSourceCollection.h"
#include "http/KivHttpClient.h"
#include "json/KivJson.h"
#include "workers/KivWorker.h"

namespace {

constexpr char16_t kDeadGroup[] = u"失效";
constexpr const char16_t* kRunCaptions[] = {u"开始处理(&B)", u"停止(&S)", u"正在停止..."};

// Job data: the pool frees it (jdfFreeAsObject) whether the job ran or was cleared.
struct TRunJobData : TJobObject {
  explicit TRunJobData(intptr_t ARun, bool ARealDedupe = false) : Run(ARun), RealDedupe(ARealDedupe) {}
  intptr_t Run;
  bool RealDedupe;
};

struct TProgressNotice : TJobObject {
  TProgressNotice(int32_t AMax, int32_t APosition, bool AConfirm) : Max(AMax), Position(APosition), Confirm(AConfirm) {}
  int32_t Max, Position;
  bool Confirm;  // of the confirmation pass
};

// Failures of the connection itself, not of one address on the host: once
// confirmed, they hold for the host's other sources too.
bool IsHostFailure(const String& AReason) {
  return AReason == u"dns" || AReason == u"refused" || AReason == u"timeout" || AReason == u"reset" ||
         AReason == u"tls-handshake";
}

const TRunJobData& RunDataOf(PJob AJob) { return *static_cast<const TRunJobData*>(AJob->Data); }

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

// The worker count as typed: digits only, else 8; at least 1.
int WorkerCountOf(const String& ATyped) {
  int workers = 8;
  try {
    size_t used = 0;
    const std::string digits = ToUtf8(ATyped);
    const long v = std::stol(digits, &used, 10);
    if (used == digits.size()) workers = int(std::clamp<long>(v, INT32_MIN, INT32_MAX));
  } catch (...) {
  }
  return std::max(workers, 1);
}

}  // namespace

TBatchRun::TBatchRun(TSourceCollection& ASources, IRunView& AView) : FSources(ASources), FView(AView) {
  FWaitCheckBookSourceSingId = GlobalWorkers->RegisterSignal(u"WaitCheckBookSource");
  GlobalWorkers->PostWait(MakeJobProc<&TBatchRun::WaitCheckBookSource>(this), FWaitCheckBookSourceSingId, false);
}

TBatchRun::~TBatchRun() {
  // Every job of this object goes (the waiting one included). Jobs still
  // running are waited for; from now on they post nothing, and what one
  // posted just before is cleared by the second pass. Main-thread jobs that
  // run during the waits find FDestroying set and do nothing.
  FDestroying = true;
  FWaitStop.fetch_add(1);
  FRunId.fetch_add(1);
  GlobalWorkers->Clear(static_cast<void*>(this), -1, true);
  while (GlobalWorkers->Clear(static_cast<void*>(this), -1, true) > 0) {
  }
  std::lock_guard<std::mutex> lock(FSources.Lock());
  for (JSONBase* source : FPendingFree) delete source;
  FPendingFree.clear();
}

// ---------------------------------------------------------------- log and status

void TBatchRun::LogD(const String& AMsg) { FView.AppendLog(Format(u"[%s] %s", LogTime(), AMsg)); }

void TBatchRun::Log(const String& AMsg) {
  LogD(AMsg);
  FStateMsg = AMsg;
  DispLog();
}

void TBatchRun::DispLog() {
  const int64_t start = FTaskStartTime.load();
  if (start > 0 && FProgressVisible) {
    const double ratio = FProgressMax != 0 ? double(FProgressPos) / double(FProgressMax) * 100.0 : 0.0;
    // nearbyint rounds halves to the even neighbour in the default mode.
    const int percent = int(std::nearbyint(ratio));
    FView.SetStatusText(spRunState, Format(u"%s (%d/%d, %d%%) (用时: %dms)", FStateMsg, FProgressPos, FProgressMax,
                                           percent, GetTimestamp() - start));
  } else if (start > 0) {
    FView.SetStatusText(spRunState, Format(u"%s (用时: %dms)", FStateMsg, GetTimestamp() - start));
  } else {
    FView.SetStatusText(spRunState, FStateMsg);
  }
}

void TBatchRun::SetRunState(TRunState AState) {
  FRunState = AState;
  FView.SetRunButton(AState, kRunCaptions[AState]);
}

void TBatchRun::SetProgressVisible(bool AVisible) {
  FProgressVisible = AVisible;
  FView.SetProgressVisible(AVisible);
}

std::vector<TCheckOutcome> TBatchRun::Outcomes() {
  std::vector<TCheckOutcome> outcomes;
  {
    std::lock_guard<std::mutex> lock(FOutcomeLock);
    outcomes = FOutcomes;
  }
  std::sort(outcomes.begin(), outcomes.end(),
            [](const TCheckOutcome& A, const TCheckOutcome& B) { return A.Position < B.Position; });
  return outcomes;
}

bool TBatchRun::HasOutcomes() {
  std::lock_guard<std::mutex> lock(FOutcomeLock);
  return FHasOutcomes;
}

// ---------------------------------------------------------------- start and stop

void TBatchRun::Start(const TRunOptions& AOptions) {
  const intptr_t run = FRunId.fetch_add(1) + 1;
  FOptions = AOptions;
  FStartedUnixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  SetRunState(rsRunning);
  FTaskRef = 0;
  FWaitStop = 0;
  FCheckLastTime = GetTimestamp();
  FTaskStartTime = std::max<int64_t>(GetTimestamp(), 1);
  FCheckStarted = false;
  FProbeCount = std::max(AOptions.ProbeCount, 0);
  FConfirmDead = AOptions.ConfirmDead;
  FProbes = AOptions.Probes;
  FListFailures = AOptions.ListFailures;
  FConfirmPass = false;
  FCheckRan = false;
  FView.SetWaitText(String());
  // The waiting job that posts the check jobs takes one worker besides them.
  GlobalWorkers->SetMaxWorkers(FProbeCount > 0 ? FProbeCount + 1 : WorkerCountOf(AOptions.WorkerCount));

  FView.ClearLog();
  Log(u"正在初始化任务...");
  FView.StartStatusTimer();
  FProgressMin = 0;
  FProgressMax = 100;
  FProgressPos = 0;
  FView.SetProgress(0, 100, 0);

  if (AOptions.RemoveRepeat) {
    FTaskRef.fetch_add(1);
    Log(u"正在去重复...");
    GlobalWorkers->Post(MakeJobProc<&TBatchRun::RemoveRepeat>(this), new TRunJobData(run, AOptions.RealDedupe), false,
                        0, 0, jdfFreeAsObject);
  }
  if (AOptions.CheckSources) {
    FTaskRef.fetch_add(1);
    if (!AOptions.RemoveRepeat) StartCheckStage(run);
  }
}

void TBatchRun::StopOrEnd() {
  if (FTaskRef.load() > 0) {
    SetRunState(rsStopping);
    FWaitStop.fetch_add(1);
    return;
  }
  EndRun();
}

void TBatchRun::WaitEnd(const std::function<void()>& ATick) {
  TEvent never(true);
  while (State() != rsIdle) {
    MsgWaitForEvent(never, 50);
    if (ATick) ATick();
  }
}

void TBatchRun::EndRun() {
  SetRunState(rsIdle);
  FView.StopStatusTimer();
  FTaskStartTime = 0;
  SetProgressVisible(false);
  FView.CloseWaitDialog();
  Log(u"任务结束");
  // The status bar keeps the check's counts.
  if (FCheckRan) {
    FStateMsg = u"任务结束 (" + FCheckCounts + u")";
    DispLog();
  }
}

void TBatchRun::LogCheckSummary() {
  int counts[4] = {};
  String lines;
  for (const TCheckOutcome& o : Outcomes()) {
    ++counts[o.Verdict];
    if (o.Verdict == cvAlive || !FListFailures) continue;
    // One line a source that is not alive, in collection order.
    if (!lines.empty()) lines += u"\n";
    lines += Format(u"[%s] %s: %s %s (%s%s)", LogTime(), VerdictCaption(o.Verdict), o.BookSourceName,
                    o.BookSourceUrl, o.Reason, o.Confirmed ? u", 已复查" : u"");
  }
  FCheckCounts = Format(u"有效 %d, 失效 %d, 受阻 %d, 无法校验 %d", counts[cvAlive], counts[cvDead], counts[cvBlocked],
                        counts[cvUnverifiable]);
  LogD(FCheckCounts);
  if (!lines.empty()) FView.AppendLog(lines);
}

void TBatchRun::StartCheckStage(intptr_t ARun) {
  FCheckStarted = true;
  FCheckRan = true;
  FCheckRun = ARun;
  FCheckPending = true;
  GlobalWorkers->SendSignal(FWaitCheckBookSourceSingId);
}

void TBatchRun::PostTaskFinish(intptr_t ARun) {
  if (FDestroying) return;
  GlobalWorkers->Post(MakeJobProc<&TBatchRun::TaskFinish>(this), new TRunJobData(ARun), true, 0, 0, jdfFreeAsObject);
}

void TBatchRun::TaskFinish(PJob AJob) {
  const intptr_t run = RunDataOf(AJob).Run;
  // Notices of an earlier run count for nothing.
  if (FDestroying || run != FRunId.load() || FRunState.load() == rsIdle) return;
  const int32_t n = FTaskRef.fetch_sub(1) - 1;
  if (n > 0 && !StopAsked()) {
    if (!FView.IsDestroying()) {
      Log(u"正在校验书源...");
      StartCheckStage(run);
    }
  } else if (n == 0 || (n > 0 && !FCheckStarted)) {
    // A stop while duplicate removal ran drops the check stage that never started.
    FTaskRef = 0;
    if (!FView.IsDestroying()) {
      if (OnListChanged) OnListChanged();
      if (FCheckRan) {
        LogCheckSummary();
        if (OnCheckEnded) OnCheckEnded(!StopAsked());
      }
      StopOrEnd();
    }
  }
}

void TBatchRun::DoUpdateProcess(PJob AJob) {
  if (FDestroying) return;
  const auto& notice = *static_cast<const TProgressNotice*>(AJob->Data);
  FProgressMin = 0;
  FProgressMax = notice.Max;
  FProgressPos = notice.Position;
  FView.SetProgress(FProgressMin, FProgressMax, FProgressPos);
  if (notice.Confirm) FView.SetWaitText(Format(u"复查 %d/%d", notice.Position, notice.Max));
  SetProgressVisible(FRunState.load() != rsIdle);
}

void TBatchRun::PostProgress(int32_t AMax, int32_t APosition) {
  if (FDestroying) return;
  GlobalWorkers->Post(MakeJobProc<&TBatchRun::DoUpdateProcess>(this),
                      new TProgressNotice(AMax, APosition, FConfirmPass.load()), true, 0, 0, jdfFreeAsObject);
}

void TBatchRun::DoNotifyDataChange(PJob) {
  if (FDestroying) return;
  if (OnListChanged) OnListChanged();
  std::vector<JSONBase*> pending;
  {
    std::lock_guard<std::mutex> lock(FSources.Lock());
    pending.swap(FPendingFree);
  }
  FSources.Release(pending);
}

// ---------------------------------------------------------------- duplicate removal

void TBatchRun::RemoveRepeat(PJob AJob) {
  const TRunJobData data = RunDataOf(AJob);
  int n0 = 0;
  try {
    std::vector<const JSONObject*> sources;
    {
      std::lock_guard<std::mutex> lock(FSources.Lock());
      JSONArray& all = FSources.Data();
      n0 = all.Count();
      sources.reserve(size_t(n0));
      for (int i = 0; i < n0; ++i) {
        JSONBase* item = all.GetItems(i)->GetObject();
        sources.push_back(item && item->IsJSONObject() ? static_cast<JSONObject*>(item) : nullptr);
      }
    }
    // Nothing writes the sources while the scan reads them: the check stage
    // starts only after this job has finished.
    int64_t base = GetTimestamp();
    int64_t interval = 1000;
    TRepeatScanResult scan = ScanRepeats(sources, data.RealDedupe, [&](int ASettled, int ARemaining) {
      if (AJob->IsTerminated() || StopAsked()) return false;
      if (GetTimestamp() - base > interval) {
        PostProgress(ARemaining, ASettled);
        interval = 200;
        base = GetTimestamp();
      }
      return true;
    });
    if (!scan.Removed.empty()) {
      std::lock_guard<std::mutex> lock(FSources.Lock());
      // Taken out now, destroyed on the main thread once the view forgot them.
      std::vector<JSONBase*> gone = FSources.ExtractLocked(scan.Removed);
      FPendingFree.insert(FPendingFree.end(), gone.begin(), gone.end());
    }
  } catch (const Exception&) {
    // The scan ends; what it removed so far stays removed.
  }
  const int now = FSources.Count();
  if (now != n0 && !FDestroying)
    GlobalWorkers->Post(MakeJobProc<&TBatchRun::DoNotifyDataChange>(this), nullptr, true);
  SleepMs(100);
  PostTaskFinish(data.Run);
}

// ---------------------------------------------------------------- the check stage

void TBatchRun::WaitCheckBookSource(PJob AJob) {
  // The signal is shared by name: only the run that asked for a check acts.
  if (!FCheckPending.exchange(false)) return;
  const intptr_t run = FCheckRun.load();
  {
    std::lock_guard<std::mutex> lock(FOutcomeLock);
    FOutcomes.clear();
    FRecheck.clear();
    FHostFailures.clear();
    FHasOutcomes = true;
  }
  const int count = FSources.Count();
  if (count == 0) {
    PostTaskFinish(run);
    return;
  }
  FCheckCount = count;
  FCurCheckIndex = 0;
  const int k = std::min(count, FProbeCount > 0 ? FProbeCount.load() : GlobalWorkers->MaxWorkers() - 1);
  // This job holds one count until every check job is posted, so an early
  // finisher cannot end the stage while others are still to come.
  FLiveCheckJobs = 1;
  for (int i = 0; i < k && !AJob->IsTerminated() && !FDestroying; ++i) {
    FLiveCheckJobs.fetch_add(1);
    if (GlobalWorkers->Post(MakeJobProc<&TBatchRun::DoCheckBookSourceItem>(this), new TRunJobData(run), false, 0, 0,
                            jdfFreeAsObject) == 0)
      FLiveCheckJobs.fetch_sub(1);
  }
  CheckJobDone(run);
}

void TBatchRun::CheckJobDone(intptr_t ARun) {
  // The last check job to stop ends the stage, so no mark lands after the end;
  // counting the jobs makes a grace pause before the notice unnecessary.
  if (FLiveCheckJobs.fetch_sub(1) != 1) return;
  if (!FConfirmPass && StartConfirmPass(ARun)) return;
  PostTaskFinish(ARun);
}

bool TBatchRun::StartConfirmPass(intptr_t ARun) {
  int32_t count;
  {
    std::lock_guard<std::mutex> lock(FOutcomeLock);
    count = int32_t(FRecheck.size());
  }
  if (count == 0 || StopAsked() || FDestroying) return false;
  FConfirmPass = true;
  FRecheckIndex = 0;
  FRechecked = 0;
  FConfirmHosts.SetLimit(1);
  // The pass is started from the main thread, after its log line: main-thread
  // jobs handed over by different workers may overtake each other, so a line
  // posted beside the probes could arrive after the run's end. The count held
  // here is let go there.
  FLiveCheckJobs = 1;
  if (GlobalWorkers->Post(MakeJobProc<&TBatchRun::DoConfirmStarted>(this), new TRunJobData(ARun), true, 0, 0,
                          jdfFreeAsObject) == 0)
    CheckJobDone(ARun);
  return true;
}

void TBatchRun::DoConfirmStarted(PJob AJob) {
  if (FDestroying) return;
  const intptr_t run = RunDataOf(AJob).Run;
  // The run cannot end while the count is held; a later run's count is not ours.
  if (run != FRunId.load() || FRunState.load() == rsIdle) return;
  Log(u"正在复查失效书源...");
  const int32_t count = int32_t(FRecheck.size());
  PostProgress(count, 0);
  const int k = std::min(count, FProbeCount > 0 ? FProbeCount.load() : GlobalWorkers->MaxWorkers() - 1);
  for (int i = 0; i < k && !FDestroying; ++i) {
    FLiveCheckJobs.fetch_add(1);
    if (GlobalWorkers->Post(MakeJobProc<&TBatchRun::DoConfirmBookSourceItem>(this), new TRunJobData(run), false, 0, 0,
                            jdfFreeAsObject) == 0)
      FLiveCheckJobs.fetch_sub(1);
  }
  CheckJobDone(run);
}

void TBatchRun::MarkLocked(JSONObject* ASource, const TCheckOutcome& AOutcome) {
  // Only a dead source gets the mark, only a live one loses it; a blocked or
  // unverifiable source keeps its groups as they are.
  if (!ASource || (AOutcome.Verdict != cvDead && AOutcome.Verdict != cvAlive)) return;
  FSources.NoteGroupWriteLocked(ASource);  // for undo
  TBookSourceItem item(ASource);
  if (AOutcome.Verdict == cvAlive)
    item.RemoveGroup(kDeadGroup);
  else
    item.AddGroup(kDeadGroup);
}

void TBatchRun::Settle(JSONObject* ASource, const TCheckOutcome& AOutcome) {
  {
    std::lock_guard<std::mutex> lock(FSources.Lock());
    MarkLocked(ASource, AOutcome);
  }
  {
    std::lock_guard<std::mutex> lock(FOutcomeLock);
    FOutcomes.push_back(AOutcome);
  }
  FListeners.Publish(AOutcome);
}

void TBatchRun::DoConfirmBookSourceItem(PJob AJob) {
  const intptr_t run = RunDataOf(AJob).Run;
  const std::function<bool()> stopping = [this] { return StopAsked(); };
  try {
    THttpClient http;
    FChecker.PrepareClient(http);
    THttpHeaders header;
    const int32_t count = int32_t(FRecheck.size());
    while (!AJob->IsTerminated() && !StopAsked()) {
      const int32_t idx = FRecheckIndex.fetch_add(1);
      bool posted = false;
      {
        std::lock_guard<std::mutex> lock(FLocker);
        if (GetTimestamp() - FCheckLastTime > 100) {
          FCheckLastTime = GetTimestamp();
          PostProgress(count, std::min(FRechecked.load(), count));
          posted = true;
        }
      }
      if (posted) SleepMs(10);
      if (idx >= count) break;
      const TRecheck& r = FRecheck[size_t(idx)];
      const String host = THostGate::HostOf(r.Target.BookSourceUrl);
      const String origin = THostGate::OriginOf(r.Target.BookSourceUrl);
      if (!FConfirmHosts.Enter(host, stopping)) break;
      if (StopAsked()) {
        FConfirmHosts.Leave(host);
        break;
      }
      TCheckOutcome second = r.First;
      bool shared = false;
      if (IsHostFailure(r.First.Reason)) {
        std::lock_guard<std::mutex> lock(FOutcomeLock);
        auto it = FHostFailures.find(origin);
        if (it != FHostFailures.end()) {
          // The host was probed again moments ago and failed: no second wait.
          second.Reason = it->second.Reason;
          second.FailText = it->second.FailText;
          second.Status = 0;
          shared = true;
        }
      }
      if (!shared) {
        const int64_t start = GetTimestamp();
        TSourceChecker::ProbeOnce(r.Target, http, header, second);
        second.ElapsedMs = r.First.ElapsedMs + (GetTimestamp() - start);
      }
      second.Confirmed = second.Verdict == cvDead;
      if (second.Confirmed && !shared && IsHostFailure(second.Reason)) {
        std::lock_guard<std::mutex> lock(FOutcomeLock);
        FHostFailures.emplace(origin, second);
      }
      FConfirmHosts.Leave(host);
      Settle(r.Source, second);
      FRechecked.fetch_add(1);
    }
  } catch (const Exception&) {
    // Errors of the client never end the stage abnormally.
  }
  CheckJobDone(run);
}

void TBatchRun::DoCheckBookSourceItem(PJob AJob) {
  const intptr_t run = RunDataOf(AJob).Run;
  const std::function<bool()> stopping = [this] { return StopAsked(); };
  try {
    THttpClient http;
    FChecker.PrepareClient(http);
    THttpHeaders header;
    while (!AJob->IsTerminated() && !StopAsked()) {
      const int32_t idx = FCurCheckIndex.fetch_add(1);
      bool posted = false;
      {
        std::lock_guard<std::mutex> lock(FLocker);
        if (GetTimestamp() - FCheckLastTime > 100) {
          FCheckLastTime = GetTimestamp();
          // The position is what has been settled: claims run ahead of the
          // checks, and each job's last claim lies past the end.
          int32_t settled;
          {
            std::lock_guard<std::mutex> outcomes(FOutcomeLock);
            settled = int32_t(FOutcomes.size() + FRecheck.size());
          }
          PostProgress(FCheckCount.load(), std::min(settled, FCheckCount.load()));
          posted = true;
        }
      }
      // The poster pauses outside the lock: probes tend to end together, and
      // a pause inside it would hold every other job back at each round.
      if (posted) SleepMs(10);
      if (idx >= FCheckCount.load()) break;
      JSONObject* source = nullptr;
      TCheckOutcome outcome;
      outcome.Position = idx;
      TCheckTarget target;
      {
        std::lock_guard<std::mutex> lock(FSources.Lock());
        if (idx >= FSources.Data().Count()) break;
        JSONBase* item = FSources.Data().GetItems(idx)->GetObject();
        if (item && item->IsJSONObject()) {
          source = static_cast<JSONObject*>(item);
          target = TCheckTarget::Of(source, FProbes.load() != psSite);
        }
      }
      outcome.BookSourceName = target.BookSourceName;
      outcome.BookSourceUrl = target.BookSourceUrl;
      if (source) FChecker.CheckWithPolicy(target, http, header, outcome, stopping);
      if (outcome.Skipped) break;
      // Deep probes tell more; the site address alone decides the mark.
      if (source && FProbes.load() != psSite && !StopAsked())
        TSourceChecker::ProbeDeep(target, TProbeSet(FProbes.load()), http, outcome);
      // A failure is not final yet: the confirmation pass probes it again.
      if (source && outcome.Verdict == cvDead && FConfirmDead) {
        std::lock_guard<std::mutex> lock(FOutcomeLock);
        FRecheck.push_back({source, target, outcome});
        continue;
      }
      Settle(source, outcome);
    }
  } catch (const Exception&) {
    // Errors of the client never end the stage abnormally.
  }
  CheckJobDone(run);
}

int WriteRespondTimes(TSourceCollection& ASources, const std::vector<TCheckOutcome>& AOutcomes, int32_t ATimeoutMs) {
  int written = 0;
  std::lock_guard<std::mutex> lock(ASources.Lock());
  JSONArray& data = ASources.Data();
  for (const TCheckOutcome& o : AOutcomes) {
    if (o.Verdict != cvAlive && o.Verdict != cvDead) continue;
    if (o.Position < 0 || o.Position >= data.Count()) continue;
    JSONObject* source = data.GetJsonObject(o.Position);
    if (!source || source->GetString(u"bookSourceUrl") != o.BookSourceUrl) continue;
    if (!SpeaksFormat3(SourceFormatOf(source))) continue;
    ASources.NoteRewriteLocked(source, u"respondTime");
    source->SetInt64(u"respondTime", o.Verdict == cvAlive ? o.ElapsedMs : int64_t(ATimeoutMs) + o.ElapsedMs);
    ++written;
  }
  return written;
}
