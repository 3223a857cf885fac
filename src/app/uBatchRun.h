// The batch run: duplicate removal and the online check of the whole
// collection on the worker pool, with progress, stop and log shown through
// an IRunView. Stages run on worker threads; every notice for the front end
// comes back as a main-thread job.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "app/uCheckOutcome.h"
#include "app/uRunView.h"
#include "app/uSourceCheck.h"
#include "support/KivTypes.h"

class JSONBase;
class JSONObject;
class TSourceCollection;
struct TJob;
using PJob = TJob*;

class TBatchRun {
 public:
  // Registers the signal "WaitCheckBookSource" and posts the job that waits for it.
  TBatchRun(TSourceCollection& ASources, IRunView& AView);
  // Every job of the run goes; running ones are waited for.
  ~TBatchRun();
  TBatchRun(const TBatchRun&) = delete;
  TBatchRun& operator=(const TBatchRun&) = delete;

  // ---- main thread
  // Posts the stages AOptions selects and returns; with none selected the
  // run stays up until stopped (the window's behaviour).
  void Start(const TRunOptions& AOptions);
  // The stop button: asks running stages to stop, or ends a run without any.
  void StopOrEnd();
  // Pumps main-thread jobs until the run is idle; ATick runs after each pump.
  void WaitEnd(const std::function<void()>& ATick);
  TRunState State() const { return TRunState(FRunState.load()); }

  TSourceChecker& Checker() { return FChecker; }
  // Every source the check stage settles is published here, on the check
  // job's thread, after its mark is written.
  TCheckListeners& Listeners() { return FListeners; }
  // Outcomes of the last check stage, in collection order (skipped ones left out).
  std::vector<TCheckOutcome> Outcomes();
  bool HasOutcomes();

  // The stages changed the collection (main thread): the front end refreshes.
  std::function<void()> OnListChanged;
  // The check stage has ended and its summary is logged (main thread, before
  // the run ends); false when a stop cut it short.
  std::function<void(bool AComplete)> OnCheckEnded;
  // The options of the last Start, and when it came (milliseconds since 1970).
  const TRunOptions& Options() const { return FOptions; }
  int64_t StartedUnixMs() const { return FStartedUnixMs; }

  // ---- log and status
  void Log(const String& AMsg);   // log line, status message
  void LogD(const String& AMsg);  // log line only
  void DispLog();                 // the status panel of the run
  const String& StateMsg() const { return FStateMsg; }

 private:
  // Jobs of the run.
  void RemoveRepeat(PJob AJob);
  void WaitCheckBookSource(PJob AJob);
  void DoCheckBookSourceItem(PJob AJob);
  void DoConfirmBookSourceItem(PJob AJob);
  void DoConfirmStarted(PJob AJob);
  void TaskFinish(PJob AJob);
  void DoUpdateProcess(PJob AJob);
  void DoNotifyDataChange(PJob AJob);

  void EndRun();
  void StartCheckStage(intptr_t ARun);
  void CheckJobDone(intptr_t ARun);
  // The last job of the main pass starts the confirmation pass, if any source failed.
  bool StartConfirmPass(intptr_t ARun);
  // Writes the mark an outcome asks for (caller holds the collection's lock).
  void MarkLocked(JSONObject* ASource, const TCheckOutcome& AOutcome);
  void Settle(JSONObject* ASource, const TCheckOutcome& AOutcome);
  void LogCheckSummary();
  void PostTaskFinish(intptr_t ARun);
  void PostProgress(int32_t AMax, int32_t APosition);
  void SetRunState(TRunState AState);
  void SetProgressVisible(bool AVisible);
  bool StopAsked() const { return FWaitStop.load() > 0; }

  TSourceCollection& FSources;
  IRunView& FView;
  TRunOptions FOptions;  // main thread
  int64_t FStartedUnixMs = 0;
  TSourceChecker FChecker;
  TCheckListeners FListeners;
  std::mutex FOutcomeLock;
  std::vector<TCheckOutcome> FOutcomes;
  bool FHasOutcomes = false;  // under FOutcomeLock

  std::atomic<int> FRunState{rsIdle};
  std::atomic<bool> FDestroying{false};
  std::atomic<int32_t> FTaskRef{0};
  std::atomic<int32_t> FWaitStop{0};
  std::atomic<int64_t> FTaskStartTime{0};
  std::mutex FLocker;           // the progress throttle
  int64_t FCheckLastTime = 0;  // under FLocker
  std::atomic<int32_t> FCurCheckIndex{0};
  std::atomic<int32_t> FCheckCount{0};
  std::atomic<int32_t> FProbeCount{0};  // 0: the pool's maximum less one
  // The confirmation pass: sources that failed the main pass are probed once
  // more, one probe per host at a time, before they are marked dead.
  struct TRecheck {
    JSONObject* Source;
    TCheckTarget Target;
    TCheckOutcome First;
  };
  std::atomic<bool> FConfirmDead{true};
  std::atomic<int32_t> FProbes{0};  // a TProbeSet
  std::atomic<bool> FConfirmPass{false};
  std::vector<TRecheck> FRecheck;  // filled under FOutcomeLock in the main pass, read-only after
  std::atomic<int32_t> FRecheckIndex{0};
  std::atomic<int32_t> FRechecked{0};
  THostGate FConfirmHosts;
  // A host whose connection failure was confirmed: its other sources share it.
  std::unordered_map<String, TCheckOutcome> FHostFailures;  // under FOutcomeLock
  bool FCheckRan = false;  // main thread: this run had a check stage
  bool FListFailures = true;
  String FCheckCounts;     // main thread: "有效 n, 失效 n, 受阻 n, 无法校验 n"
  int FWaitCheckBookSourceSingId = 0;
  String FStateMsg;
  // Each run has its own number: notices of an earlier run are ignored.
  std::atomic<intptr_t> FRunId{0};
  std::atomic<intptr_t> FCheckRun{0};
  std::atomic<bool> FCheckPending{false};
  bool FCheckStarted = false;
  // Check jobs still working (the waiting job holds one while it posts).
  std::atomic<int32_t> FLiveCheckJobs{0};
  // Sources taken out by duplicate removal, destroyed on the main thread once
  // the view no longer names them.
  std::vector<JSONBase*> FPendingFree;  // under the collection's lock
  int32_t FProgressMin = 0, FProgressMax = 100, FProgressPos = 0;
  bool FProgressVisible = false;
};

// Writes respondTime into each checked source that speaks format 3, as the
// reader app does after its own check: the elapsed ms when alive, the
// time-out plus the elapsed ms when dead. Format-2 and bare sources, and
// blocked or unverifiable ones, are left alone. Main thread, after the run;
// a source no longer at its checked position (same address) is skipped.
// Returns how many sources were written.
int WriteRespondTimes(TSourceCollection& ASources, const std::vector<TCheckOutcome>& AOutcomes, int32_t ATimeoutMs);
