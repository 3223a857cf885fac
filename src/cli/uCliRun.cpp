#include "cli/uCliRun.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_set>

#include "app/uCheckReport.h"
#include "app/uDuplicateSets.h"
#include "app/uMergePreview.h"
#include "app/uMainLogic.h"
#include "app/uPendingOutput.h"
#include "app/uRemoteSource.h"
#include "app/uRunHistory.h"
#include "cli/uCliInput.h"
#include "cli/uCliTargets.h"
#include "cli/uConsoleWindow.h"
#include "json/KivJson.h"
#include "support/KivStr.h"
#include "support/KivStream.h"
#include "workers/KivWorker.h"

namespace {

class TInterrupted : public Exception {
 public:
  TInterrupted() : Exception(u"interrupted, nothing written") {}
};

class TBatch {
 public:
  TBatch(const TCliOptions& AOptions, const std::atomic<bool>* AInterrupt)
      : FOptions(AOptions),
        FInterrupt(AInterrupt),
        FWindow(AOptions.Quiet, ::isatty(STDERR_FILENO) == 1),
        FLogic(std::make_unique<TMainLogic>(FWindow)) {
    // Nothing is taken back here: removed sources are freed at once.
    FLogic->Sources().SetUndoLimit(0);
  }
  ~TBatch() {
    // The logic's jobs end before the window they talk to goes.
    FLogic.reset();
  }

  int Run();

 private:
  void OpenHistory();
  void LoadFiles();
  void ApplyUpdates();
  void RemoveDuplicateSets();
  void RenameGroups();
  void Convert();
  void RunStages();
  void CompareWithHistory();
  void RecordHistory();
  std::string OptionsText() const;
  void DropDead();
  void Sort();
  void Filter();
  void WriteOutputs();
  void Summary();
  std::string SummaryOfSets() const;
  void CheckInterrupt() {
    if (FInterrupt && FInterrupt->load()) throw TInterrupted();
  }

  const TCliOptions& FOptions;
  const std::atomic<bool>* FInterrupt;
  TConsoleWindow FWindow;
  std::unique_ptr<TMainLogic> FLogic;
  int64_t FStart = GetTimestamp();
  int FLoaded = 0, FRemoved = 0;
  size_t FSetCount = 0;
  Bytes FDedupeReport;
  TMergeCounts FUpdated;
  TConvertCounts FConverted;
  std::vector<TCheckOutcome> FOutcomes;
  int64_t FStartedMs = NowUnixMs();
  std::unique_ptr<TRunHistory> FHistory;
  TPreviousChecks FPrevious;
  TRunChanges FChanges;
  std::vector<String> FPreviousVerdicts;
};

// Opened before any work: a file that is no history fails the run at once.
void TBatch::OpenHistory() {
  if (FOptions.History.empty()) return;
  FHistory = std::make_unique<TRunHistory>(FromUtf8(FOptions.History));
  FPrevious = FHistory->Previous();
}

void TBatch::LoadFiles() {
  TRemoteOptions remote;
  remote.AcceptAnyCertificate = FOptions.Insecure;
  FLogic->SetRemoteOptions(remote);
  for (const std::string& file : FOptions.Files) {
    try {
      if (file == "-") {
        TMemoryStream input;
        input.Data() = ReadStandardInput();
        FLogic->AddSrcStream(input, u"-");
      } else {
        FLogic->AddSrcFile(FromUtf8(file));
      }
    } catch (const Exception& E) {
      // An address's own message names it already.
      if (IsRemoteAddress(FromUtf8(file))) throw;
      throw Exception(FromUtf8((file == "-" ? "standard input" : file) + ": ") + E.Message());
    }
    CheckInterrupt();
  }
  FLoaded = FLogic->Sources().Count();
}

void TBatch::ApplyUpdates() {
  TKeepFields keep;
  std::string unknown;
  if (!FOptions.KeepFields.empty()) ParseKeepFields(FOptions.KeepFields, keep, unknown);
  for (const std::string& file : FOptions.Updates) {
    try {
      std::unique_ptr<JSONArray> loaded;
      if (file == "-") {
        TMemoryStream input;
        input.Data() = ReadStandardInput();
        loaded = TSourceCollection::LoadStream(input, u"-");
      } else {
        loaded = TSourceCollection::LoadFile(FromUtf8(file));
      }
      const TMergePreview preview = ClassifyMerge(SourcesOf(FLogic->Sources()), FileSources(*loaded));
      const TMergeCounts counts =
          ApplyMerge(*FLogic, *loaded, preview, TMergeAction::AddNewUpdateChanged, keep);
      FUpdated.Added += counts.Added;
      FUpdated.Updated += counts.Updated;
      FUpdated.Unchanged += counts.Unchanged;
    } catch (const Exception& E) {
      throw Exception(FromUtf8((file == "-" ? "standard input" : file) + ": ") + E.Message());
    }
    CheckInterrupt();
  }
}

// The duplicate sets the options ask for, in place of the run's own removal.
void TBatch::RemoveDuplicateSets() {
  if (FOptions.Dedupe == TDedupe::None || !FOptions.DedupeSets) return;
  TDuplicateOptions options;
  ParseDuplicateMode(FOptions.DedupeMode, options.Mode);
  ParseKeepPolicy(FOptions.Keep, options.Keep);
  options.RealDedupe = FOptions.Dedupe == TDedupe::Real;
  const std::vector<TDuplicateSet> sets = FindDuplicateSets(SourcesOf(FLogic->Sources()), options).Sets;
  // The sets name sources that the removal destroys: the report is made first.
  FSetCount = sets.size();
  if (!FOptions.DedupeReport.empty()) FDedupeReport = DuplicateReportJson(sets);
  FRemoved = ::RemoveDuplicateSets(*FLogic, sets);
  CheckInterrupt();
}

void TBatch::RenameGroups() {
  for (const TGroupRename& r : FOptions.Renames)
    FLogic->ReplaceGroups({Trim(FromUtf8(r.Old)), Trim(FromUtf8(r.New)), true});
}

void TBatch::Convert() {
  if (!FOptions.ConvertFormat3) return;
  FConverted = FLogic->ConvertSources([](const JSONObject*) { return true; });
  CheckInterrupt();
}

void TBatch::RunStages() {
  if ((FOptions.Dedupe == TDedupe::None || FOptions.DedupeSets) && !FOptions.Check) return;
  TRunOptions run;
  run.WorkerCount = FromUtf8(std::to_string(FOptions.Workers));
  run.RemoveRepeat = FOptions.Dedupe != TDedupe::None && !FOptions.DedupeSets;
  run.RealDedupe = FOptions.Dedupe == TDedupe::Real;
  run.CheckSources = FOptions.Check;
  run.ProbeCount = FOptions.Workers;
  run.ConfirmDead = !FOptions.NoConfirm;
  run.Probes = FOptions.Probes;
  // The report names every source; the log keeps to the counts.
  run.ListFailures = false;
  FLogic->SetCheckTimeout(FOptions.TimeoutMs);
  FLogic->SetCheckPolicy(FOptions.Retries, 500, FOptions.PerHost);
  const int before = FLogic->Sources().Count();
  if (FWindow.ExecuteRun(*FLogic, run, FInterrupt)) throw TInterrupted();
  CheckInterrupt();
  FRemoved += before - FLogic->Sources().Count();
  if (FOptions.Check) FOutcomes = FLogic->CheckOutcomes();
  // Positions are those of the check until the collection changes again.
  if (FOptions.WriteRespondTime) WriteRespondTimes(FLogic->Sources(), FOutcomes, FOptions.TimeoutMs);
}

void TBatch::CompareWithHistory() {
  if (!FHistory) return;
  FChanges = CompareRun(FPrevious, FOutcomes);
  FPreviousVerdicts = PreviousVerdicts(FPrevious, FOutcomes);
}

std::string TBatch::OptionsText() const {
  std::string text = "check workers=" + std::to_string(FOptions.Workers) +
                     " timeout=" + std::to_string(FOptions.TimeoutMs) + " retries=" + std::to_string(FOptions.Retries) +
                     " per-host=" + std::to_string(FOptions.PerHost) + " probe=" + std::to_string(FOptions.Probes);
  if (FOptions.Dedupe != TDedupe::None) text += FOptions.Dedupe == TDedupe::Real ? " dedupe" : " dedupe-strict";
  if (FOptions.NoConfirm) text += " no-confirm";
  if (FOptions.Insecure) text += " insecure";
  if (FOptions.WriteRespondTime) text += " write-respond-time";
  return text;
}

void TBatch::RecordHistory() {
  if (!FHistory) return;
  TRunRecord run;
  run.StartedMs = FStartedMs;
  run.EndedMs = NowUnixMs();
  run.Options = FromUtf8(OptionsText());
  for (const std::string& file : FOptions.Files) run.Inputs.push_back(FromUtf8(file));
  run.Loaded = FLoaded;
  FHistory->Record(run, FOutcomes, FChanges);
}

void TBatch::DropDead() {
  if (!FOptions.DropDead) return;
  std::unordered_set<const JSONObject*> dead;
  {
    std::lock_guard<std::mutex> lock(FLogic->Sources().Lock());
    JSONArray& data = FLogic->Sources().Data();
    for (const TCheckOutcome& o : FOutcomes)
      if (o.Verdict == cvDead && o.Position < data.Count()) dead.insert(data.GetJsonObject(o.Position));
  }
  FLogic->RemoveSources([&](const JSONObject* ASource) { return dead.count(ASource) > 0; });
}

void TBatch::Sort() {
  if (FOptions.Sort == TSortKey::Name) FLogic->SortSources(sskName);
  if (FOptions.Sort == TSortKey::Group) FLogic->SortSources(sskGroup);
}

void TBatch::Filter() {
  if (!FOptions.HasFilter) return;
  // The list's filter picks what stays; everything else leaves the collection.
  const std::vector<JSONObject*> shown = FLogic->FilteredSources(FromUtf8(FOptions.Filter));
  const std::unordered_set<const JSONObject*> keep(shown.begin(), shown.end());
  FLogic->RemoveSources([&](const JSONObject* ASource) { return keep.count(ASource) == 0; });
}

void TBatch::WriteOutputs() {
  std::optional<TPendingOutput> report, output, dedupeReport, diff;
  if (!FOptions.DedupeReport.empty()) {
    dedupeReport.emplace(FOptions.DedupeReport, "");
    dedupeReport->WriteBytes(FDedupeReport);
  }
  if (!FOptions.Report.empty()) {
    report.emplace(FOptions.Report, "");
    report->WriteBytes(CheckReport(FOutcomes, FromUtf8(FOptions.Report), FHistory ? &FPreviousVerdicts : nullptr));
  }
  if (!FOptions.Diff.empty()) {
    diff.emplace(FOptions.Diff, "");
    diff->WriteBytes(RunChangesJson(FChanges));
  }
  if (!FOptions.Output.empty()) {
    output.emplace(FOptions.Output == "-" ? "-" : ExportTarget(FOptions.Output), ".json");
    FLogic->ExportTo(FromUtf8(output->TempPath()));
  }
  CheckInterrupt();
  // A file made or linked since the start must not let one output replace the other.
  if (output && report && SameTarget(output->Target(), report->Target()))
    throw Exception(u"--output and --report now name the same file; nothing written");
  if (dedupeReport && ((output && SameTarget(output->Target(), dedupeReport->Target())) ||
                       (report && SameTarget(report->Target(), dedupeReport->Target()))))
    throw Exception(u"--dedupe-report now names the same file as another output; nothing written");
  if (diff && ((output && SameTarget(output->Target(), diff->Target())) ||
               (report && SameTarget(report->Target(), diff->Target())) ||
               (dedupeReport && SameTarget(dedupeReport->Target(), diff->Target()))))
    throw Exception(u"--diff now names the same file as another output; nothing written");
  // The run is recorded once every output is ready; an output that still
  // fails to land after that is reported, the history keeps the run.
  RecordHistory();
  if (output) output->Commit();
  if (report) report->Commit();
  if (dedupeReport) dedupeReport->Commit();
  if (diff) diff->Commit();
}

// The counts of the duplicate sets, the updates and the conversion, when they were asked for.
std::string TBatch::SummaryOfSets() const {
  std::string text;
  if (FOptions.Dedupe != TDedupe::None && FOptions.DedupeSets)
    text += ", duplicate sets: " + std::to_string(FSetCount) + " (" + FOptions.DedupeMode + ", keep " +
            FOptions.Keep + ")";
  if (!FOptions.Updates.empty())
    text += ", update added: " + std::to_string(FUpdated.Added) + ", updated: " + std::to_string(FUpdated.Updated) +
            ", unchanged: " + std::to_string(FUpdated.Unchanged);
  if (FOptions.ConvertFormat3)
    text += ", converted: " + std::to_string(FConverted.Converted) + ", left: " + std::to_string(FConverted.Left) +
            ", refused: " + std::to_string(FConverted.Refused);
  return text;
}

void TBatch::Summary() {
  int counts[4] = {};
  for (const TCheckOutcome& o : FOutcomes) ++counts[o.Verdict];
  FWindow.Say("sources loaded: " + std::to_string(FLoaded) + ", duplicates removed: " + std::to_string(FRemoved) +
              ", checked: " + std::to_string(FOutcomes.size()) + ", alive: " + std::to_string(counts[cvAlive]) +
              ", dead: " + std::to_string(counts[cvDead]) + ", blocked: " + std::to_string(counts[cvBlocked]) +
              ", unverifiable: " + std::to_string(counts[cvUnverifiable]) +
              ", elapsed: " + std::to_string(GetTimestamp() - FStart) + " ms" + SummaryOfSets() +
              (FHistory ? ", since the last run: " + ToUtf8(RunChangesCounts(FChanges)) : std::string()));
}

int TBatch::Run() {
  try {
    CheckOutputFolders(FOptions);
    OpenHistory();
    LoadFiles();
    ApplyUpdates();
    RenameGroups();
    Convert();
    RemoveDuplicateSets();
    RunStages();
    CompareWithHistory();
    DropDead();
    Sort();
    Filter();
    WriteOutputs();
  } catch (const Exception& E) {
    FWindow.ShowError(E.Message());
    return exitRuntimeError;
  } catch (const std::exception& E) {
    FWindow.ShowError(FromUtf8(E.what()));
    return exitRuntimeError;
  }
  Summary();
  const bool anyDead =
      std::any_of(FOutcomes.begin(), FOutcomes.end(), [](const TCheckOutcome& o) { return o.Verdict == cvDead; });
  return FOptions.FailOnDead && anyDead ? exitDead : exitDone;
}

}  // namespace

int RunBatch(const TCliOptions& AOptions, const std::atomic<bool>* AInterrupt) {
  TBatch batch(AOptions, AInterrupt);
  return batch.Run();
}
