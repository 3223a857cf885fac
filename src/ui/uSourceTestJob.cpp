#include "ui/uSourceTestJob.h"

#include <atomic>
#include <exception>
#include <mutex>

#include "app/uCheckOutcome.h"
#include "app/uSourceCheck.h"
#include "http/KivHttpClient.h"
#include "json/KivJson.h"
#include "workers/KivWorker.h"

// Shared by the job and its owner, so either may go first.
struct TSourceTestJob::TState {
  std::atomic<bool> Cancelled{false};
  mutable std::mutex Lock;
  std::vector<String> Lines;  // under Lock
  bool Done = false;          // under Lock
  bool Verdict = false;       // under Lock
  String Error;               // under Lock
};

TSourceTestJob::TSourceTestJob(std::unique_ptr<JSONObject> ASource) : FState(std::make_shared<TState>()) {
  std::shared_ptr<JSONObject> source(std::move(ASource));
  std::shared_ptr<TState> state = FState;
  const TJobHandle posted = GlobalWorkers->Post(TJobProcRef([state, source](PJob) { Run(state, *source); }));
  if (!posted) {
    std::lock_guard<std::mutex> lock(FState->Lock);
    FState->Done = true;
    FState->Error = u"无法启动测试任务";
  }
}

TSourceTestJob::~TSourceTestJob() { Cancel(); }

void TSourceTestJob::Cancel() { FState->Cancelled = true; }

std::vector<String> TSourceTestJob::TakeLines() {
  std::lock_guard<std::mutex> lock(FState->Lock);
  std::vector<String> lines;
  lines.swap(FState->Lines);
  return lines;
}

bool TSourceTestJob::Done() const {
  std::lock_guard<std::mutex> lock(FState->Lock);
  return FState->Done;
}

bool TSourceTestJob::Verdict() const {
  std::lock_guard<std::mutex> lock(FState->Lock);
  return FState->Verdict;
}

String TSourceTestJob::Error() const {
  std::lock_guard<std::mutex> lock(FState->Lock);
  return FState->Error;
}

// The check of the editor's test with the client of TSourceChecker::CheckSource
// (the same settings) and a transfer hook that hands over the lines written
// so far and aborts once cancelled.
void TSourceTestJob::Run(const std::shared_ptr<TState>& AState, const JSONObject& ASource) {
  std::vector<String> lines;  // this thread's; handed over in pieces
  size_t handed = 0;
  auto handOver = [&] {
    std::lock_guard<std::mutex> lock(AState->Lock);
    for (; handed < lines.size(); ++handed) AState->Lines.push_back(lines[handed]);
  };
  bool verdict = false;
  String error;
  {
    THttpClient http;
    http.SetConnectionTimeOut(6000);
    http.SetRecvTimeOut(30000);
    http.SetStatusOnly(true);
    http.SetAcceptAnyCertificate(true);
    http.SetRefusePrivateRedirects(true);
    // Called on this thread while a transfer runs: the lines of the probes
    // before it go out now, and a cancel ends the transfer.
    http.OnReceiveData = [&](void*, int64_t, int64_t, bool& AAbort) {
      handOver();
      if (AState->Cancelled) AAbort = true;
    };
    THttpHeaders header;
    TCheckOutcome outcome;
    try {
      verdict = TSourceChecker::Check(TCheckTarget::Of(&ASource, true), http, header, true, &lines, &outcome);
    } catch (const Exception& E) {
      error = E.Message();
    } catch (const std::exception& E) {
      error = FromUtf8(E.what());
    }
    lines.push_back(TSourceChecker::ConclusionLine(outcome));
  }
  handOver();
  std::lock_guard<std::mutex> lock(AState->Lock);
  AState->Verdict = verdict;
  AState->Error = std::move(error);
  AState->Done = true;
}
