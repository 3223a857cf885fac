// The history of check runs: a SQLite file holding each run and each source
// it checked, and what changed between a run and the ones before it. One
// transaction per run, so a run that dies midway leaves the file as it was.
// One thread uses a history at a time (the front end's main thread).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/uCheckOutcome.h"
#include "support/KivTypes.h"

struct sqlite3;

// Sources as the lists of a change name them.
struct TChangedSource {
  String BookSourceName, BookSourceUrl, Reason;
};

// What the history knew before this run.
struct TPreviousChecks {
  // The verdict of each address in the latest run that checked it: a source
  // the last run did not check keeps the verdict of the run before.
  std::unordered_map<String, TCheckVerdict> Latest;
  // What the last run checked, in its order: the sources that may be gone.
  std::vector<TChangedSource> LastRun;
  bool Empty() const { return Latest.empty() && LastRun.empty(); }
};

// A run against the one before. A source is the same source across runs when
// its bookSourceUrl is the same text.
struct TRunChanges {
  std::vector<TChangedSource> NewlyDead;  // dead now, not dead when last checked
  std::vector<TChangedSource> Recovered;  // alive now, dead when last checked
  std::vector<TChangedSource> StillDead;  // dead now and then
  std::vector<TChangedSource> New;        // never checked before
  std::vector<TChangedSource> Gone;       // checked last run, not in this one
};

TRunChanges CompareRun(const TPreviousChecks& APrevious, const std::vector<TCheckOutcome>& AOutcomes);
// {"newlyDead": [...], "recovered": [...], "stillDead": [...], "new": [...], "gone": [...]},
// each a list of {"bookSourceName", "bookSourceUrl", "reason"}.
Bytes RunChangesJson(const TRunChanges& AChanges);
// "newly dead 1, recovered 2, still dead 0, new 3, gone 1".
String RunChangesCounts(const TRunChanges& AChanges);
// The previous verdict of each outcome for the report: its verdict name, or
// "none" when the address was never checked.
std::vector<String> PreviousVerdicts(const TPreviousChecks& APrevious, const std::vector<TCheckOutcome>& AOutcomes);

// One run as it is recorded.
struct TRunRecord {
  int64_t StartedMs = 0, EndedMs = 0;  // milliseconds since 1970, UTC
  String Options;                      // as the front end words them
  std::vector<String> Inputs;          // files and addresses, in order
  int Loaded = 0;                      // sources after loading
};

// A recorded run as read back.
struct TRunRow {
  int64_t Id = 0;
  String Started, Ended, Options, Inputs;
  int Loaded = 0, Checked = 0, Alive = 0, Dead = 0, Blocked = 0, Unverifiable = 0;
  int NewlyDead = 0, Recovered = 0, StillDead = 0, New = 0, Gone = 0;
};

struct TCheckRow {
  String BookSourceUrl, BookSourceName, Verdict, Reason, Probes;
  int Position = 0, Status = 0;
  int64_t ElapsedMs = 0;
};

int64_t NowUnixMs();

class TRunHistory {
 public:
  static constexpr int kSchemaVersion = 1;

  // Opens the file, making it when it is missing. Throws Exception when it is
  // no history (another kind of file, a newer schema) or cannot be opened.
  explicit TRunHistory(const String& AFileName);
  ~TRunHistory();
  TRunHistory(const TRunHistory&) = delete;
  TRunHistory& operator=(const TRunHistory&) = delete;

  TPreviousChecks Previous();
  // Writes the run and its checked sources in one transaction; returns its id.
  int64_t Record(const TRunRecord& ARun, const std::vector<TCheckOutcome>& AOutcomes, const TRunChanges& AChanges);

  std::vector<TRunRow> Runs();
  std::vector<TCheckRow> Checks(int64_t ARunId);
  const String& FileName() const { return FFileName; }

 private:
  void Exec(const char* ASql);
  [[noreturn]] void Fail(const char* AWhat);
  void CreateOrCheckSchema();

  String FFileName;
  sqlite3* FDb = nullptr;
};
