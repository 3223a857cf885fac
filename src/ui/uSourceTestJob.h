// The test of one source ("测试书源") on the worker pool: the window stays
// responsive, the check's log lines are handed over as they come, and
// Cancel lets go at once (the job stops at its next transfer and what it
// still finds is dropped).
#pragma once

#include <memory>
#include <vector>

#include "support/KivTypes.h"

class JSONObject;

class TSourceTestJob {
 public:
  // Posts the check of ASource (a private copy the job owns).
  explicit TSourceTestJob(std::unique_ptr<JSONObject> ASource);
  // Cancels; never waits for the job.
  ~TSourceTestJob();
  TSourceTestJob(const TSourceTestJob&) = delete;
  TSourceTestJob& operator=(const TSourceTestJob&) = delete;

  void Cancel();
  // Lines written since the last call (any thread, usually the main one).
  std::vector<String> TakeLines();
  bool Done() const;
  // Once Done: the verdict, and the check's error (empty when it raised none).
  bool Verdict() const;
  String Error() const;

 private:
  struct TState;
  static void Run(const std::shared_ptr<TState>& AState, const JSONObject& ASource);
  std::shared_ptr<TState> FState;
};
