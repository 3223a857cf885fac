// TMainLogic's loading from addresses and source lists, the run history of
// a session and the views of what the last check changed.
#include <algorithm>
#include <unordered_set>

#include "app/uMainLogic.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

const char16_t* const TMainLogic::kNewlyDeadView = u"新失效";
const char16_t* const TMainLogic::kRecoveredView = u"已恢复";

bool TMainLogic::MergeFrom(const String& AName, const TRemoteOptions& AOptions) {
  std::vector<TLoadedPart> parts;
  try {
    parts = LoadSourcesFrom(AName, AOptions);
  } catch (...) {
    // The list is refreshed in every case; a refresh error never hides the loader's.
    try {
      NotifyListChange(lcSourcesChanged);
    } catch (...) {
    }
    throw;
  }
  return MergeParts(AName, parts);
}

bool TMainLogic::MergeParts(const String& AName, std::vector<TLoadedPart>& AParts) {
  String failed;
  bool direct = false;
  try {
    // Only a local file of sources can be the collection's own file.
    direct = !IsRemoteAddress(AName) && AParts.size() == 1 && AParts.front().Name == AName && AParts.front().Sources;
    FInputs.push_back(AName);
    for (TLoadedPart& part : AParts) {
      if (!part.Sources) {
        // What came from the other addresses stays; this one is named.
        failed += (failed.empty() ? u"" : u"\n") + part.Error;
        continue;
      }
      LogValues(part.Name, part.Values, part.Trailing);
      MergeLoaded(*part.Sources, part.Name);
    }
  } catch (...) {
    try {
      NotifyListChange(lcSourcesChanged);
    } catch (...) {
    }
    throw;
  }
  NotifyListChange(lcSourcesChanged);
  if (!failed.empty()) throw Exception(failed);
  return direct;
}

void TMainLogic::RefuseWhileImporting() const {
  if (ImportRunning()) throw Exception(Format(u"正在从网址导入 %s, 请等导入结束或取消后再操作。", FImportAddress));
}

void TMainLogic::AddSrcAddress(const String& AAddress, bool AAcceptAnyCertificate) {
  RefuseWhileImporting();
  const String address = Trim(AAddress);
  if (!IsRemoteAddress(address)) throw Exception(Format(u"不是 http(s) 网址: %s", address));
  TRemoteOptions options = FRemote;
  options.AcceptAnyCertificate = AAcceptAnyCertificate;
  TChange change(*this, u"从网址导入");
  MergeFrom(address, options);
}

void TMainLogic::ImportAddress(const String& AAddress, bool AAcceptAnyCertificate) {
  RefuseWhileImporting();
  // The import's merge is one operation of its own: not inside a run's.
  if (FRun->State() != rsIdle) throw Exception(u"正在处理书源，请等处理结束后再从网址导入。");
  const String address = Trim(AAddress);
  if (!IsRemoteAddress(address)) throw Exception(Format(u"不是 http(s) 网址: %s", address));
  TRemoteOptions options = FRemote;
  options.AcceptAnyCertificate = AAcceptAnyCertificate;
  FImport = std::make_unique<TRemoteLoadJob>(
      address, options,
      [this](const String& AFetching) {
        FImportAddress = AFetching;
        FWindow.SetWaitText(ImportWaitText());
      },
      [this, address](std::vector<TLoadedPart>& AParts, const String& AError) { ImportLoaded(address, AParts, AError); });
  FImportAddress = address;
  FWindow.SetWaitText(ImportWaitText());
  // Modal where there is a dialog: it closes once the import has merged or is cancelled.
  FWindow.ShowWaitDialog();
}

void TMainLogic::ImportLoaded(const String& AAddress, std::vector<TLoadedPart>& AParts, const String& AError) {
  FImport.reset();
  FImportAddress.clear();
  FWindow.CloseWaitDialog();
  RunCommand([&] {
    TChange change(*this, u"从网址导入");
    if (!AError.empty()) {
      NotifyListChange(lcSourcesChanged);
      throw Exception(AError);
    }
    MergeParts(AAddress, AParts);
  });
}

void TMainLogic::CancelImport() {
  if (!FImport) return;
  const String address = FImportAddress;
  FImport.reset();
  FImportAddress.clear();
  LogD(Format(u"已取消从网址导入: %s", address));
  FWindow.CloseWaitDialog();
}

String TMainLogic::ImportWaitText() const {
  if (!ImportRunning()) return String();
  return u"正在下载...\n" + FImportAddress;
}

void TMainLogic::SetHistoryFile(const String& AFileName) {
  if (AFileName.empty()) {
    FHistory.reset();
    FHistoryName.clear();
    return;
  }
  auto history = std::make_unique<TRunHistory>(AFileName);
  FHistory = std::move(history);
  FHistoryName = AFileName;
  LogD(Format(u"历史记录: %s", AFileName));
}

std::vector<String> TMainLogic::PreviousOfOutcomes(const std::vector<TCheckOutcome>& AOutcomes) const {
  return PreviousVerdicts(FPrevious, AOutcomes);
}

void TMainLogic::CheckEnded(bool AComplete) {
  if (!AComplete) {
    // A stopped check saw part of the collection: recorded, it would make the rest look gone.
    if (FHistory) LogD(u"校验被停止, 未写入历史记录");
    return;
  }
  const std::vector<TCheckOutcome> outcomes = FRun->Outcomes();
  if (FWriteRespondTime) {
    const int written = WriteRespondTimes(FSources, outcomes, FRun->Checker().Policy().TimeoutMs);
    LogD(Format(u"已写入 %d 个书源的响应时间 (respondTime)", written));
  }
  if (!FHistory) return;
  try {
    FPrevious = FHistory->Previous();
    FChanges = CompareRun(FPrevious, outcomes);
    const TRunOptions& options = FRun->Options();
    TRunRecord run;
    run.StartedMs = FRun->StartedUnixMs();
    run.EndedMs = NowUnixMs();
    run.Options = u"check workers=" + options.WorkerCount + (options.RemoveRepeat ? u" dedupe" : u"") +
                  (options.RemoveRepeat && !options.RealDedupe ? u"-strict" : u"") +
                  u" probe=" + IntToStr(options.Probes) + (options.ConfirmDead ? u"" : u" no-confirm") +
                  (FWriteRespondTime ? u" write-respond-time" : u"");
    run.Inputs = FInputs;
    run.Loaded = FSources.Count();
    FHistory->Record(run, outcomes, FChanges);
  } catch (const Exception& E) {
    FHasChanges = false;
    LogD(Format(u"历史记录未写入: %s", E.Message()));
    FWindow.ShowError(E.Message());
    return;
  }
  FHasChanges = true;
  FNewlyDeadUrls.clear();
  FRecoveredUrls.clear();
  for (const TChangedSource& s : FChanges.NewlyDead) FNewlyDeadUrls.push_back(s.BookSourceUrl);
  for (const TChangedSource& s : FChanges.Recovered) FRecoveredUrls.push_back(s.BookSourceUrl);
  LogD(Format(u"与上次相比: 新失效 %d, 已恢复 %d, 仍失效 %d, 新增 %d, 消失 %d", int(FChanges.NewlyDead.size()),
              int(FChanges.Recovered.size()), int(FChanges.StillDead.size()), int(FChanges.New.size()),
              int(FChanges.Gone.size())));
}

bool TMainLogic::ChangeViewLocked() {
  if (!FHasChanges) return false;
  const String text = Trim(FFilterText);
  const std::vector<String>* urls =
      text == kNewlyDeadView ? &FNewlyDeadUrls : text == kRecoveredView ? &FRecoveredUrls : nullptr;
  if (!urls) return false;
  const std::unordered_set<String> wanted(urls->begin(), urls->end());
  JSONArray& data = FSources.Data();
  FFilterList.clear();
  for (int i = 0; i < data.Count(); ++i) {
    JSONObject* source = data.GetJsonObject(i);
    if (source && wanted.count(source->GetString(u"bookSourceUrl"))) FFilterList.push_back(source);
  }
  return true;
}

std::vector<String> TMainLogic::WithChangeViews(std::vector<String> AGroups) const {
  if (!FHasChanges) return AGroups;
  for (const char16_t* view : {kNewlyDeadView, kRecoveredView})
    if (std::find(AGroups.begin(), AGroups.end(), String(view)) == AGroups.end()) AGroups.push_back(view);
  return AGroups;
}
