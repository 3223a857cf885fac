#include "cli/uCliRun.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_set>

#include "app/uBookSourceBean.h"
#include "app/uMainLogic.h"
#include "cli/uCliOutput.h"
#include "cli/uConsoleWindow.h"
#include "json/KivJson.h"
#include "support/KivStr.h"
#include "support/KivStream.h"
#include "workers/KivWorker.h"

namespace {

// What one check found, for the report and the summary.
struct TCheckRecord {
  int32_t Index = 0;
  bool Verdict = false;
  TMainLogic::TCheckOutcome Outcome;
  String Name, Url;
};

class TInterrupted : public Exception {
 public:
  TInterrupted() : Exception(u"interrupted, nothing written") {}
};

String ReplaceAll(String AText, const String& AFind, const String& AWith) {
  if (AFind.empty()) return AText;
  for (size_t at = AText.find(AFind); at != String::npos; at = AText.find(AFind, at + AWith.size()))
    AText.replace(at, AFind.size(), AWith);
  return AText;
}

bool EndsWithCsv(const std::string& AName) {
  if (AName.size() < 4) return false;
  std::string tail = AName.substr(AName.size() - 4);
  for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".csv";
}

std::string CsvField(const std::string& AText) {
  if (AText.find_first_of(",\"\r\n") == std::string::npos) return AText;
  std::string out = "\"";
  for (char c : AText) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

Bytes ReportCsv(const std::vector<TCheckRecord>& ARecords) {
  Bytes out = "position,bookSourceName,bookSourceUrl,verdict,status,failText,elapsedMs\r\n";
  for (const TCheckRecord& r : ARecords) {
    out += std::to_string(r.Index + 1) + "," + CsvField(ToUtf8(r.Name)) + "," + CsvField(ToUtf8(r.Url)) + "," +
           (r.Verdict ? "alive" : "dead") + "," + std::to_string(r.Outcome.Status) + "," +
           CsvField(ToUtf8(r.Outcome.FailText)) + "," + std::to_string(r.Outcome.ElapsedMs) + "\r\n";
  }
  return out;
}

Bytes ReportJson(const std::vector<TCheckRecord>& ARecords) {
  JSONArray list;
  for (const TCheckRecord& r : ARecords) {
    JSONObject* o = list.AddChildObject();
    o->SetInt(u"position", r.Index + 1);
    o->SetString(u"bookSourceName", r.Name);
    o->SetString(u"bookSourceUrl", r.Url);
    o->SetString(u"verdict", r.Verdict ? u"alive" : u"dead");
    o->SetInt(u"status", r.Outcome.Status);
    o->SetString(u"failText", r.Outcome.FailText);
    o->SetInt64(u"elapsedMs", r.Outcome.ElapsedMs);
  }
  // The same form as an exported file.
  TMemoryStream mem;
  list.SaveToStream(mem, 4, teUTF8, false, false);
  return mem.Data();
}

class TBatch {
 public:
  TBatch(const TCliOptions& AOptions, const std::atomic<bool>* AInterrupt)
      : FOptions(AOptions),
        FInterrupt(AInterrupt),
        FWindow(AOptions.Quiet, ::isatty(STDERR_FILENO) == 1),
        FLogic(std::make_unique<TMainLogic>(FWindow)) {
    FWindow.Attach(FLogic.get());
    FWindow.SetInterruptFlag(AInterrupt);
  }
  ~TBatch() {
    // The logic's jobs end before the window they talk to goes.
    FLogic.reset();
  }

  int Run();

 private:
  void LoadFiles();
  void RenameGroups();
  void RunStages();
  void DropDead();
  void Sort();
  void Filter();
  void WriteOutputs();
  void Summary();
  void RemoveWhere(const std::function<bool(JSONObject*)>& ADrop);
  int SourceCount();
  void CheckInterrupt() {
    if (FInterrupt && FInterrupt->load()) throw TInterrupted();
  }

  const TCliOptions& FOptions;
  const std::atomic<bool>* FInterrupt;
  TConsoleWindow FWindow;
  std::unique_ptr<TMainLogic> FLogic;
  int64_t FStart = GetTimestamp();
  int FLoaded = 0, FRemoved = 0;
  std::mutex FRecordLock;
  std::vector<TCheckRecord> FRecords;
};

int TBatch::SourceCount() {
  std::lock_guard<std::mutex> lock(FLogic->DataLock());
  return FLogic->BookSrcData().Count();
}

void TBatch::LoadFiles() {
  for (const std::string& file : FOptions.Files) {
    const std::string shown = file == "-" ? "standard input" : file;
    std::string path = file;
    struct TDropTemp {
      std::string Path;
      ~TDropTemp() {
        if (!Path.empty()) ::unlink(Path.c_str());
      }
    } temp;
    try {
      if (file == "-") temp.Path = path = SaveStandardInput();
      FLogic->AddSrcFile(FromUtf8(path));
    } catch (const Exception& E) {
      String message = E.Message();
      // The loader names the file it read: for standard input that is a temporary one.
      if (!temp.Path.empty()) message = ReplaceAll(message, FromUtf8(temp.Path), u"-");
      throw Exception(FromUtf8(shown + ": ") + message);
    }
    CheckInterrupt();
  }
  FLoaded = SourceCount();
}

void TBatch::RenameGroups() {
  for (const TGroupRename& r : FOptions.Renames)
    FLogic->ReplaceGroups({Trim(FromUtf8(r.Old)), Trim(FromUtf8(r.New)), true});
}

void TBatch::RunStages() {
  if (FOptions.Dedupe == TDedupe::None && !FOptions.Check) return;
  TRunOptions run;
  run.WorkerCount = FromUtf8(std::to_string(FOptions.Workers));
  run.RemoveRepeat = FOptions.Dedupe != TDedupe::None;
  run.RealDedupe = FOptions.Dedupe == TDedupe::Real;
  run.CheckSources = FOptions.Check;
  FWindow.SetRunOptions(run);
  FLogic->SetCheckTimeout(FOptions.TimeoutMs);
  FLogic->SetCheckPolicy(FOptions.Retries, 500, FOptions.PerHost);
  FLogic->OnSourceChecked = [this](int32_t AIndex, bool AVerdict, const TMainLogic::TCheckOutcome& AOutcome) {
    if (AOutcome.Skipped) return;
    std::lock_guard<std::mutex> lock(FRecordLock);
    FRecords.push_back({AIndex, AVerdict, AOutcome, {}, {}});
  };
  const int before = SourceCount();
  FLogic->Button1Click();  // returns when the run has ended
  FLogic->OnSourceChecked = nullptr;
  if (FWindow.StopRequested()) throw TInterrupted();
  CheckInterrupt();
  FRemoved = before - SourceCount();
  std::sort(FRecords.begin(), FRecords.end(),
            [](const TCheckRecord& A, const TCheckRecord& B) { return A.Index < B.Index; });
  std::lock_guard<std::mutex> lock(FLogic->DataLock());
  JSONArray& data = FLogic->BookSrcData();
  for (TCheckRecord& r : FRecords) {
    JSONObject* source = r.Index < data.Count() ? data.GetJsonObject(r.Index) : nullptr;
    if (!source) continue;
    TBookSourceItem item(source);
    r.Name = item.bookSourceName();
    r.Url = item.bookSourceUrl();
  }
}

// Removes through the list, as the desktop's delete does: select the rows, remove.
void TBatch::RemoveWhere(const std::function<bool(JSONObject*)>& ADrop) {
  FWindow.SetFilterText(String());
  FLogic->NotifyListChange(1);
  std::set<int> rows;
  const int count = FLogic->RowCount();
  for (int row = 0; row < count; ++row)
    if (ADrop(FLogic->SourceOfRow(row))) rows.insert(row);
  if (rows.empty()) return;
  FWindow.SelectRows(rows);
  FLogic->RemoveSelected();
  FWindow.SelectRows({});
}

void TBatch::DropDead() {
  if (!FOptions.DropDead) return;
  std::unordered_set<const JSONObject*> dead;
  {
    std::lock_guard<std::mutex> lock(FLogic->DataLock());
    for (const TCheckRecord& r : FRecords)
      if (!r.Verdict && r.Index < FLogic->BookSrcData().Count())
        dead.insert(FLogic->BookSrcData().GetJsonObject(r.Index));
  }
  RemoveWhere([&](JSONObject* ASource) { return dead.count(ASource) > 0; });
}

void TBatch::Sort() {
  if (FOptions.Sort == TSortKey::Name) FLogic->SortByName();
  if (FOptions.Sort == TSortKey::Group) FLogic->SortByGroup();
}

void TBatch::Filter() {
  if (!FOptions.HasFilter) return;
  // The list's filter picks what stays; everything else leaves the collection.
  FWindow.SetFilterText(FromUtf8(FOptions.Filter));
  FLogic->NotifyListChange(1);
  std::unordered_set<const JSONObject*> keep;
  const int count = FLogic->RowCount();
  for (int row = 0; row < count; ++row) keep.insert(FLogic->SourceOfRow(row));
  RemoveWhere([&](JSONObject* ASource) { return keep.count(ASource) == 0; });
}

void TBatch::WriteOutputs() {
  std::optional<TPendingOutput> report, output;
  if (!FOptions.Report.empty()) {
    report.emplace(FOptions.Report, "");
    report->WriteBytes(EndsWithCsv(FOptions.Report) ? ReportCsv(FRecords) : ReportJson(FRecords));
  }
  if (!FOptions.Output.empty()) {
    output.emplace(FOptions.Output == "-" ? "-" : ExportFileName(FOptions.Output), ".json");
    FLogic->ExportTo(FromUtf8(output->TempPath()));
  }
  CheckInterrupt();
  if (output) output->Commit();
  if (report) report->Commit();
}

void TBatch::Summary() {
  int alive = 0, dead = 0;
  for (const TCheckRecord& r : FRecords) (r.Verdict ? alive : dead) += 1;
  FWindow.Say("sources loaded: " + std::to_string(FLoaded) + ", duplicates removed: " + std::to_string(FRemoved) +
              ", checked: " + std::to_string(FRecords.size()) + ", alive: " + std::to_string(alive) +
              ", dead: " + std::to_string(dead) + ", elapsed: " + std::to_string(GetTimestamp() - FStart) + " ms");
}

int TBatch::Run() {
  try {
    LoadFiles();
    RenameGroups();
    RunStages();
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
  const bool anyDead = std::any_of(FRecords.begin(), FRecords.end(), [](const TCheckRecord& r) { return !r.Verdict; });
  return FOptions.FailOnDead && anyDead ? exitDead : exitDone;
}

}  // namespace

int RunBatch(const TCliOptions& AOptions, const std::atomic<bool>* AInterrupt) {
  TBatch batch(AOptions, AInterrupt);
  return batch.Run();
}
