// What a front end shows of a batch run: the run button, the log, the status
// bar, the progress bar and the wait dialog. Every operation has an empty
// default, so a front end overrides only what it shows.
#pragma once

#include <cstdint>

#include "support/KivTypes.h"

// The run options as the window shows them (worker count as typed).
struct TRunOptions {
  String WorkerCount = u"60";
  bool RemoveRepeat = true;  // "去除重复"
  bool RealDedupe = true;    // "真实去重"
  bool CheckSources = false; // "校验书源"
  // Sources that fail are probed once more at the end before they are
  // marked dead (the confirmation pass).
  bool ConfirmDead = true;
  // The log names each source that is not alive after a check.
  bool ListFailures = true;
  // Deep probes beside the site address: the search request, the first
  // explore entry (psSite: none, the window's default).
  int32_t Probes = 0;  // a TProbeSet
  // Above 0: exactly this many probes at a time (the batch program's
  // --workers); 0: the window's meaning of the worker count (the pool's
  // maximum, one of them left to the pool).
  int32_t ProbeCount = 0;
};

// Run states, kept in the start button's Tag.
enum TRunState : int { rsIdle = 0, rsRunning = 1, rsStopping = 2 };

// The status bar's panels: the collection's counts, the run's state.
enum TStatusPanel : int { spSourceCount = 0, spRunState = 1 };

class IRunView {
 public:
  virtual ~IRunView() = default;
  virtual TRunOptions ReadRunOptions() { return TRunOptions(); }
  virtual void SetRunButton(TRunState /*AState*/, const String& /*ACaption*/) {}
  virtual void ClearLog() {}
  virtual void AppendLog(const String& /*ALine*/) {}
  virtual void SetStatusText(TStatusPanel /*APanel*/, const String& /*AText*/) {}
  virtual void SetProgress(int /*AMin*/, int /*AMax*/, int /*APosition*/) {}
  virtual void SetProgressVisible(bool /*AVisible*/) {}
  virtual void StartStatusTimer() {}
  virtual void StopStatusTimer() {}
  // Modal: returns when the dialog has closed; main-thread jobs run meanwhile.
  // A front end without a dialog leaves it empty and waits with WaitRunEnd.
  virtual void ShowWaitDialog() {}
  virtual void CloseWaitDialog() {}
  // A line in the wait dialog under its caption (the confirmation pass: "复查 n/m").
  virtual void SetWaitText(const String& /*AText*/) {}
  virtual bool IsDestroying() { return false; }
};
