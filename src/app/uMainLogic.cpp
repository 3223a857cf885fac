#include "app/uMainLogic.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "app/uBookSource3.h"
#include "app/uBookSourceBean.h"
#include "app/uCheckReport.h"
#include "app/uPendingOutput.h"
#include "app/uSourceCheck.h"
#include "app/uStrictJson.h"
#include "json/KivJson.h"
#include "support/KivStr.h"
#include "support/KivStream.h"
#include "workers/KivJobs.h"

namespace {

constexpr char16_t kBookSourceName[] = u"bookSourceName";
constexpr char16_t kBookSourceGroup[] = u"bookSourceGroup";
constexpr char16_t kBookSourceUrl[] = u"bookSourceUrl";

// Views read while painting: a member whose text cannot be written shows empty.
String SafeString(const JSONObject* ASource, StringView AKey) {
  try {
    return ASource->GetString(AKey);
  } catch (const Exception&) {
    return String();
  }
}

}  // namespace

namespace {

// Shows nothing and answers with the defaults; it has no state, so one serves all.
IMainWindow& NoWindow() {
  static IMainWindow window;
  return window;
}

}  // namespace

TMainLogic::TChange::TChange(TMainLogic& ALogic, const String& ACaption) : FLogic(ALogic) {
  FLogic.SettleRun();
  FLogic.FSources.BeginChange(ACaption);
}

TMainLogic::TChange::~TChange() {
  try {
    FLogic.FSources.EndChange();
    FLogic.UpdateFileState();
  } catch (...) {
    // Filing the entry only allocates; the operation itself has happened.
  }
}

TMainLogic::TMainLogic() : TMainLogic(NoWindow()) {}

TMainLogic::TMainLogic(IMainWindow& AWindow) : FWindow(AWindow) {
  JsonCaseSensitive = false;
  JsonNameAfterSpace = true;
  FSources.SetUndoLimit(kUndoDepth);
  FRun = std::make_unique<TBatchRun>(FSources, FWindow);
  FRun->OnListChanged = [this] { NotifyListChange(lcSourcesChanged); };
  FRun->OnCheckEnded = [this](bool AComplete) { CheckEnded(AComplete); };
  FSources.OnSourcesLeaving = [this](const std::vector<JSONBase*>& ASources) { SourcesLeaving(ASources); };
  // Counted on the check jobs' threads as each source settles.
  FTallyListener = FRun->Listeners().Add([this](const TCheckOutcome& AOutcome) {
    FTally.Settled.fetch_add(1);
    if (AOutcome.Verdict >= cvDead && AOutcome.Verdict <= cvUnverifiable) FTally.Verdicts[AOutcome.Verdict].fetch_add(1);
  });
}

TMainLogic::~TMainLogic() {
  FRun->Listeners().Remove(FTallyListener);
  // The run's jobs end before the collection they work on goes.
  FRun.reset();
  FSources.OnSourcesLeaving = nullptr;
}

void TMainLogic::OpenRunChange() {
  SettleRun();
  if (FRunChangeOpen) return;
  FRunChangeOpen = true;
  FSources.BeginChange(u"开始处理");
}

// Files the run's entry once the run is idle: every stage has ended, no
// worker writes any more. Called wherever the logic may meet a finished run.
void TMainLogic::SettleRun() {
  if (!FRunChangeOpen || FRun->State() != rsIdle) return;
  FRunChangeOpen = false;
  FSources.EndChange();
  UpdateFileState();
}

// ---------------------------------------------------------------- collection verbs

// A file of several top-level values (concatenated files, one source a
// line) is read whole; the log says so, since one value is the usual form.
// Junk after the values is no source: what came before loads, and the user
// is told where the junk begins.
void TMainLogic::LogValues(const String& AName, int AValues, const String& ATrailing) {
  if (AValues > 1) LogD(Format(u"%s: 读取了 %d 个JSON值", AName, AValues));
  if (ATrailing.empty()) return;
  FWindow.ShowWarning(Format(u"%s: 其后的内容不是JSON，已忽略。%s", AName, ATrailing));
}

void TMainLogic::LogOperation(const String& ALine) {
  if (FOperationLog) Log(ALine);
}

// Elements that are no source stay in ALoaded: the log says how many and why.
int TMainLogic::MergeLoaded(JSONArray& ALoaded, const String& AName) {
  const int came = FSources.Merge(ALoaded);
  if (!FOperationLog) return came;
  int notObject = 0, noUrl = 0;
  for (int i = 0; i < ALoaded.Count(); ++i) ++(ALoaded.GetJsonObject(i) ? noUrl : notObject);
  String line = Format(u"已载入 %d 个书源，来自 %s", came, AName);
  if (notObject + noUrl > 0) {
    String why;
    if (noUrl > 0) why = Format(u"%d 个没有bookSourceUrl", noUrl);
    if (notObject > 0) why += (why.empty() ? u"" : u"，") + Format(u"%d 个不是JSON对象", notObject);
    line += Format(u"；跳过 %d 个元素（%s）", notObject + noUrl, why);
  }
  Log(line);
  return came;
}

bool TMainLogic::MergeFile(const String& AFileName) { return MergeFrom(AFileName, FRemote); }

// A load error names its file, after the loader's own words, unless it does already.
[[noreturn]] static void RethrowNamingFile(const String& AFileName) {
  try {
    throw;
  } catch (const Exception& E) {
    if (E.Message().find(AFileName) != String::npos) throw;
    throw Exception(E.Message() + u"\n文件: " + AFileName);
  }
}

bool TMainLogic::RunFileCommand(const String& AFileName, const std::function<void()>& ACommand) {
  return RunCommand([&] {
    try {
      ACommand();
    } catch (const Exception&) {
      RethrowNamingFile(AFileName);
    }
  });
}

void TMainLogic::AddSrcFile(const String& AFileName) {
  RefuseWhileImporting();
  const bool pristine = IsPristine();
  bool direct = false;
  try {
    TChange change(*this, u"添加书源文件");
    direct = MergeFile(AFileName);
  } catch (const Exception&) {
    RethrowNamingFile(AFileName);
  }
  if (pristine && direct && FSources.Count() > 0) MarkSaved(AFileName);
}

void TMainLogic::AddSrcStream(TStream& AStream, const String& AName) {
  int values = 0;
  String trailing;
  std::unique_ptr<JSONArray> loaded = TSourceCollection::LoadStream(AStream, AName, &values, &trailing);
  LogValues(AName, values, trailing);
  {
    TChange change(*this, u"添加书源");
    MergeLoaded(*loaded, AName);
  }
  NotifyListChange(lcSourcesChanged);
}

void TMainLogic::OpenSrcFile(const String& AFileName) {
  RefuseWhileImporting();
  // Load first: a file that fails leaves the collection as it was.
  std::unique_ptr<JSONArray> loaded;
  try {
    int values = 0;
    String trailing;
    loaded = TSourceCollection::LoadFile(AFileName, &values, &trailing);
    LogValues(AFileName, values, trailing);
  } catch (...) {
    NotifyListChange(lcSourcesChanged);
    RethrowNamingFile(AFileName);
  }
  {
    TChange change(*this, u"打开书源文件");
    FSources.RemoveAll();
    MergeLoaded(*loaded, AFileName);
  }
  MarkSaved(AFileName);
  NotifyListChange(lcSourcesChanged);
}

int TMainLogic::RemoveSources(const std::function<bool(const JSONObject*)>& APredicate) {
  int removed;
  {
    TChange change(*this, u"删除");
    removed = FSources.RemoveWhere(APredicate);
  }
  NotifyListChange(lcSourcesChanged);
  LogOperation(Format(u"已删除 %d 个书源", removed));
  return removed;
}

void TMainLogic::SortSources(TSourceSortKey AKey) {
  {
    TChange change(*this, AKey == sskGroup ? u"排序 - 分组" : u"排序 - 书源名称");
    FSources.Sort(AKey);
  }
  // The collection's new order is what the user asked to see.
  FSortColumn = -1;
  NotifyListChange(lcViewChanged);
}

void TMainLogic::ReplaceGroups(const TReplaceGroupInput& AInput) {
  if (!IsGroupRenameUseful(AInput)) return;
  std::unordered_map<const JSONObject*, String> before;
  if (FOperationLog) {
    std::lock_guard<std::mutex> lock(FSources.Lock());
    JSONArray& data = FSources.Data();
    for (int i = 0; i < data.Count(); ++i)
      if (JSONObject* source = data.GetJsonObject(i)) before.emplace(source, SafeString(source, kBookSourceGroup));
  }
  {
    TChange change(*this, u"分组名称替换");
    FSources.ReplaceGroups(AInput);
  }
  NotifyListChange(lcSourcesChanged);
  if (!FOperationLog) return;
  int changed = 0;
  {
    std::lock_guard<std::mutex> lock(FSources.Lock());
    JSONArray& data = FSources.Data();
    for (int i = 0; i < data.Count(); ++i) {
      JSONObject* source = data.GetJsonObject(i);
      auto it = source ? before.find(source) : before.end();
      if (it != before.end() && it->second != SafeString(source, kBookSourceGroup)) ++changed;
    }
  }
  LogOperation(Format(u"分组名称替换: %s → %s，改动了 %d 个书源", AInput.Find, AInput.Replace, changed));
}

TConvertCounts TMainLogic::ConvertSources(const std::function<bool(const JSONObject*)>& APredicate) {
  TConvertCounts counts;
  std::vector<String> lines;
  {
    TChange change(*this, u"转换为新格式");
    std::lock_guard<std::mutex> lock(FSources.Lock());
    JSONArray& data = FSources.Data();
    for (int i = 0; i < data.Count(); ++i) {
      JSONObject* source = data.GetJsonObject(i);
      if (!source || !APredicate(source)) continue;
      const TSourceFormat format = SourceFormatOf(source);
      if (format == sfFormat2 || format == sfMixed) FSources.NoteRewriteLocked(source);
      const TConvertResult r = ConvertToFormat3(source);
      ++(r.Outcome == coConverted ? counts.Converted : r.Outcome == coRefused ? counts.Refused : counts.Left);
      lines.push_back(
          Format(u"%s(%s): %s", source->GetString(kBookSourceName), source->GetString(u"bookSourceUrl"), r.Reason));
    }
  }
  for (const String& line : lines) LogD(line);
  Log(Format(u"转换为新格式: 已转换%d个, 未转换%d个(其中%d个无法无损转换).", counts.Converted,
             counts.Left + counts.Refused, counts.Refused));
  NotifyListChange(lcSourcesChanged);
  return counts;
}

void TMainLogic::ExportTo(const String& AFileName) {
  FSources.Export(AFileName);
  MarkSaved(TSourceCollection::ExportFileName(AFileName));
  LogOperation(Format(u"已导出 %d 个书源到 %s", FSources.Count(), TSourceCollection::ExportFileName(AFileName)));
}

// ---------------------------------------------------------------- undo

bool TMainLogic::CanUndo() {
  SettleRun();
  return FRun->State() == rsIdle && FSources.CanUndo();
}

bool TMainLogic::CanRedo() {
  SettleRun();
  return FRun->State() == rsIdle && FSources.CanRedo();
}

bool TMainLogic::Undo() {
  SettleRun();
  if (FRun->State() != rsIdle || !FSources.Undo()) return false;
  NotifyListChange(lcSourcesChanged);
  return true;
}

bool TMainLogic::Redo() {
  SettleRun();
  if (FRun->State() != rsIdle || !FSources.Redo()) return false;
  NotifyListChange(lcSourcesChanged);
  return true;
}

// ---------------------------------------------------------------- the collection's file

bool TMainLogic::IsModified() {
  SettleRun();
  return FSources.Revision() != FSavedRevision;
}

// Nothing loaded and nothing changed yet: the next file added is as opened.
bool TMainLogic::IsPristine() { return !IsModified() && FSources.Count() == 0; }

void TMainLogic::MarkSaved(const String& AFileName) {
  FFileName = AFileName;
  FSavedRevision = FSources.Revision();
  UpdateFileState();
}

void TMainLogic::UpdateFileState() {
  const bool modified = FSources.Revision() != FSavedRevision;
  if (FShownFile == FFileName && FShownModified == int(modified)) return;
  FShownFile = FFileName;
  FShownModified = int(modified);
  FWindow.ShowFileState(FFileName, modified);
}

bool TMainLogic::MayDiscardSources() {
  // An empty list holds nothing to lose.
  if (!IsModified() || FSources.Count() == 0) return true;
  switch (FWindow.AskSave(u"书源列表已修改，是否先导出？", u"提示")) {
    case TSaveAnswer::Yes:
      return ExportCommand();
    case TSaveAnswer::No:
      return true;
    case TSaveAnswer::Cancel:
      return false;
  }
  return false;
}

// Sources are going: the view must not name them, the editor and any dialog let go.
void TMainLogic::SourcesLeaving(const std::vector<JSONBase*>& ASources) {
  {
    std::lock_guard<std::mutex> lock(FSources.Lock());
    RebuildFilter();
  }
  for (JSONBase* source : ASources) {
    FLastChecks.Forget(source);
    ForgetEditorSource(static_cast<JSONObject*>(source));
  }
}

void TMainLogic::ForgetEditorSource(JSONObject* AItem) {
  FWindow.SourceLeaving(AItem);
  if (AItem && AItem == FCurItem) {
    // Its text can no longer be saved anywhere.
    FCurItem = nullptr;
    FCurIndex = -1;
    FEditorBase.clear();
    FWindow.SetEditorText(String());
    FIsChange = false;
  }
}

// ---------------------------------------------------------------- run verbs

void TMainLogic::StartRun(const TRunOptions& AOptions) {
  RefuseWhileImporting();
  OpenRunChange();
  FTally.StartMs = GetTimestamp();
  FTally.StartCount = FSources.Count();
  FTally.RemoveRepeat = AOptions.RemoveRepeat;
  FTally.CheckSources = AOptions.CheckSources;
  FTally.Stopped = false;
  FTally.Open = true;
  FTally.Settled = 0;
  for (auto& count : FTally.Verdicts) count = 0;
  FRun->Start(AOptions);
}

void TMainLogic::ExecuteRun(const TRunOptions& AOptions, const std::function<void()>& ATick) {
  if (!AOptions.RemoveRepeat && !AOptions.CheckSources) return;
  StartRun(AOptions);
  FRun->WaitEnd(ATick);
  SettleRun();
}

void TMainLogic::SetCheckTimeout(int32_t AMs) {
  TCheckPolicy policy = FRun->Checker().Policy();
  policy.TimeoutMs = AMs;
  FRun->Checker().SetPolicy(policy);
}

void TMainLogic::SetCheckPolicy(int32_t ARetries, int32_t APauseMs, int32_t APerHost) {
  TCheckPolicy policy = FRun->Checker().Policy();
  policy.Retries = ARetries;
  policy.RetryPauseMs = APauseMs;
  policy.PerHost = APerHost;
  FRun->Checker().SetPolicy(policy);
}

// ---------------------------------------------------------------- the window's list

void TMainLogic::RebuildFilter() {
  // "新失效" / "已恢复" after a recorded check: a view of this session, no group.
  if (ChangeViewLocked()) {
    SortViewLocked();
    return;
  }
  if (!FFilterExact) {
    FFilterList = FSources.FilterLocked(FFilterText);
  } else {
    // A picked group: its sources exactly, not every name that contains it.
    const String group = Trim(FFilterText);
    JSONArray& data = FSources.Data();
    FFilterList.clear();
    for (int i = 0; i < data.Count(); ++i) {
      JSONObject* source = data.GetJsonObject(i);
      if (!source) continue;
      try {
        for (const String& piece : TBookSourceItem(source).GetGroupList())
          if (Trim(piece) == group) {
            FFilterList.push_back(source);
            break;
          }
      } catch (const Exception&) {
      }
    }
  }
  SortViewLocked();
}

void TMainLogic::CountCurrentGroups(std::vector<String> AOrder) {
  std::unordered_map<String, int> counts;
  std::vector<String> seen;
  JSONArray& data = FSources.Data();
  for (int i = 0; i < data.Count(); ++i) {
    JSONObject* source = data.GetJsonObject(i);
    if (!source) continue;
    seen.clear();
    try {
      for (const String& piece : TBookSourceItem(source).GetGroupList()) {
        String name = Trim(piece);
        // A source counts once in a group it names twice.
        if (name.empty() || std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        ++counts[name];
        seen.push_back(std::move(name));
      }
    } catch (const Exception&) {
    }
  }
  // The index's order, the one users of the list know; only groups in use.
  std::vector<std::pair<String, int>> ordered;
  for (String& name : AOrder) {
    auto it = counts.find(name);
    if (it == counts.end()) continue;
    ordered.emplace_back(std::move(name), it->second);
    counts.erase(it);
  }
  FGroupCounts.swap(ordered);
}

void TMainLogic::NotifyListChange(TListChange AChange) {
  if (AChange == lcSourcesChanged) {
    FSources.CountGroups();
    std::vector<String> names = FSources.GroupNames();
    {
      std::lock_guard<std::mutex> lock(FSources.Lock());
      CountCurrentGroups(std::move(names));
      names.clear();
      names.reserve(FGroupCounts.size());
      for (const auto& group : FGroupCounts) names.push_back(group.first);
    }
    FWindow.SetGroupFilterItems(WithChangeViews(std::move(names)));
  }
  FFilterText = FWindow.GetGroupFilterText();
  int total, shown;
  {
    std::lock_guard<std::mutex> lock(FSources.Lock());
    RebuildFilter();
    total = FSources.Data().Count();
    shown = int(FFilterList.size());
  }
  RestoreEditorBinding();
  FWindow.SetRowCount(shown);
  FWindow.SetPlaceholderVisible(shown == 0);
  // The current row is the editor's source, or none when it is not shown.
  FWindow.SelectSingleRow(FCurIndex >= 0 && FCurIndex < shown ? FCurIndex : -1);
  FWindow.SetStatusText(spSourceCount, Format(u"书源总数：%d个, 当前: %d个", total, shown));
  if (AChange == lcSourcesChanged) SyncEditorWithSource();
  UpdateFileState();
}

// The editor stays with its source: after a refresh its row is looked up again.
void TMainLogic::RestoreEditorBinding() {
  if (!FCurItem) return;
  std::lock_guard<std::mutex> lock(FSources.Lock());
  auto it = std::find(FFilterList.begin(), FFilterList.end(), FCurItem);
  FCurIndex = it == FFilterList.end() ? -1 : int(it - FFilterList.begin());
}

String TMainLogic::EditorTextOf(JSONObject* ASource) {
  std::lock_guard<std::mutex> lock(FSources.Lock());
  return ASource->ToString(4, false);
}

// Another operation (a run, a rename, the form, undo) may have rewritten the
// editor's source: an unmodified editor shows the new text; a modified one
// keeps the user's text, and saving it asks first.
void TMainLogic::SyncEditorWithSource() {
  if (!FCurItem) return;
  const String now = EditorTextOf(FCurItem);
  if (now == FEditorBase || FIsChange) return;
  FEditorBase = now;
  FWindow.SetEditorText(now);
  FIsChange = false;
}

String TMainLogic::RowText(int ARow) {
  std::lock_guard<std::mutex> lock(FSources.Lock());
  if (ARow < 0 || ARow >= int(FFilterList.size())) return String();
  JSONObject* item = FFilterList[size_t(ARow)];
  // The list asks from a paint: a field whose text cannot be written shows empty.
  auto text = [item](const auto& AKey) {
    try {
      return item->GetString(AKey);
    } catch (const Exception&) {
      return String();
    }
  };
  return Format(u"【%s】%s", text(kBookSourceGroup), text(kBookSourceName));
}

int TMainLogic::RowCount() {
  std::lock_guard<std::mutex> lock(FSources.Lock());
  return int(FFilterList.size());
}

namespace {

// Sort order of the format column: format 2, mixed, format 3, then bare.
int FormatRank(TSourceFormat AFormat) {
  switch (AFormat) {
    case sfFormat2:
      return 0;
    case sfMixed:
      return 1;
    case sfFormat3:
      return 2;
    default:
      return 3;
  }
}

// "enable" absent counts as on, as the reader app takes it.
bool EnabledOf(const JSONObject* ASource) {
  return ASource->IndexOf(u"enable") < 0 || ASource->GetBoolean(u"enable");
}

}  // namespace

String TMainLogic::CellText(int ARow, TViewColumn AColumn) {
  std::lock_guard<std::mutex> lock(FSources.Lock());
  if (ARow < 0 || ARow >= int(FFilterList.size())) return String();
  const JSONObject* item = FFilterList[size_t(ARow)];
  const TLastCheck* last = FLastChecks.Of(item);
  switch (AColumn) {
    case vcName:
      return SafeString(item, kBookSourceName);
    case vcGroup:
      return SafeString(item, kBookSourceGroup);
    case vcUrl:
      return SafeString(item, kBookSourceUrl);
    case vcFormat:
      return SourceFormatName(SourceFormatOf(item));
    case vcEnabled:
      return EnabledOf(item) ? u"是" : u"否";
    case vcVerdict:
      return last ? String(VerdictCaption(last->Verdict)) : String();
    case vcReason:
      return last ? last->Reason : String();
    case vcElapsed:
      return last ? Format(u"%d", last->ElapsedMs) : String();
    default:
      return String();
  }
}

String TMainLogic::RowHint(int ARow) {
  std::lock_guard<std::mutex> lock(FSources.Lock());
  if (ARow < 0 || ARow >= int(FFilterList.size())) return String();
  const JSONObject* item = FFilterList[size_t(ARow)];
  return SafeString(item, kBookSourceName) + u"\n" + SafeString(item, kBookSourceUrl);
}

void TMainLogic::SetViewSort(int AColumn, bool ADescending) {
  FSortColumn = AColumn >= 0 && AColumn < vcColumnCount ? AColumn : -1;
  FSortDescending = ADescending;
  NotifyListChange(lcViewChanged);
}

void TMainLogic::SortViewLocked() {
  if (FSortColumn < 0) return;
  // Keys are read once; the comparisons then touch no source.
  struct TKey {
    int64_t Rank;
    String Text;
    JSONObject* Item;
  };
  std::vector<TKey> keys;
  keys.reserve(FFilterList.size());
  for (JSONObject* item : FFilterList) {
    const TLastCheck* last = FLastChecks.Of(item);
    TKey key{0, String(), item};
    switch (FSortColumn) {
      case vcName:
        key.Text = SafeString(item, kBookSourceName);
        break;
      case vcGroup:
        key.Text = SafeString(item, kBookSourceGroup);
        break;
      case vcUrl:
        key.Text = SafeString(item, kBookSourceUrl);
        break;
      case vcFormat:
        key.Rank = FormatRank(SourceFormatOf(item));
        break;
      case vcEnabled:
        key.Rank = EnabledOf(item) ? 1 : 0;
        break;
      case vcVerdict:
        // Unchecked sources after every verdict.
        key.Rank = last ? int64_t(last->Verdict) : 99;
        break;
      case vcReason:
        key.Rank = last ? 0 : 1;
        if (last) key.Text = last->Reason;
        break;
      case vcElapsed:
        key.Rank = last ? last->ElapsedMs : INT64_MAX;
        break;
    }
    keys.push_back(std::move(key));
  }
  const bool down = FSortDescending;
  // Positions are sorted, not the keys: nothing but an index moves.
  std::vector<uint32_t> order(keys.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = uint32_t(i);
  // Stable: equal keys keep the collection's order in either direction.
  std::stable_sort(order.begin(), order.end(), [&keys, down](uint32_t AI, uint32_t BI) {
    const TKey& A = keys[AI];
    const TKey& B = keys[BI];
    if (A.Rank != B.Rank) return down ? B.Rank < A.Rank : A.Rank < B.Rank;
    return down ? B.Text < A.Text : A.Text < B.Text;
  });
  for (size_t i = 0; i < order.size(); ++i) FFilterList[i] = keys[order[i]].Item;
}

JSONObject* TMainLogic::SourceOfRow(int ARow) {
  std::lock_guard<std::mutex> lock(FSources.Lock());
  if (ARow < 0 || ARow >= int(FFilterList.size())) return nullptr;
  return FFilterList[size_t(ARow)];
}

void TMainLogic::FilterChanged(bool AExactGroup) {
  if (FChanging) return;
  FFilterExact = AExactGroup;
  FChanging = true;
  try {
    // Unsaved text stays with its source, shown or filtered out.
    if (!FIsChange || !EditorBound()) {
      FWindow.SetEditorText(String());
      FIsChange = false;
      FCurIndex = -1;
      FCurItem = nullptr;
      FEditorBase.clear();
    }
    NotifyListChange(lcViewChanged);
  } catch (...) {
    FChanging = false;
    throw;
  }
  FChanging = false;
}

// ---------------------------------------------------------------- the window's commands

bool TMainLogic::RunCommand(const std::function<void()>& ACommand) {
  try {
    ACommand();
    return true;
  } catch (const Exception& E) {
    FWindow.ShowError(E.Message());
  } catch (const std::exception& E) {
    FWindow.ShowError(FromUtf8(E.what()));
  }
  return false;
}

void TMainLogic::OpenFileCommand() {
  if (!MayDiscardSources()) return;
  String name;
  if (!FWindow.ChooseOpenFile(u"打开书源文件", name)) return;
  RunCommand([&] { OpenSrcFile(name); });
}

void TMainLogic::AddFileCommand() {
  String name;
  if (!FWindow.ChooseOpenFile(u"添加书源文件", name)) return;
  RunCommand([&] { AddSrcFile(name); });
}

void TMainLogic::AddFiles(const std::vector<String>& AFileNames) {
  if (!RunCommand([this] { RefuseWhileImporting(); })) return;
  const bool pristine = IsPristine();
  size_t loaded = 0;
  bool direct = true;
  {
    // One drop, one undo.
    TChange change(*this, u"添加书源文件");
    for (const String& name : AFileNames) {
      if (!RunFileCommand(name, [&] { direct = MergeFile(name) && direct; })) break;
      ++loaded;
    }
  }
  if (pristine && direct && loaded == 1 && FSources.Count() > 0) MarkSaved(AFileNames.front());
}

bool TMainLogic::ExportCommand() {
  String name;
  if (!FWindow.ChooseSaveFile(u"导出书源", name)) return false;
  const String target = TSourceCollection::ExportFileName(name);
  if (FileExists(target) && !FWindow.AskYesNo(Format(u"文件 %s 已存在，是否替换？", target), u"提示", false))
    return false;
  return RunCommand([&] { ExportTo(target); });
}

void TMainLogic::ExportReportCommand() {
  if (!HasCheckReport()) return;
  String name;
  if (!FWindow.ChooseReportFile(u"导出校验报告", name)) return;
  RunCommand([&] {
    TPendingOutput report(ToUtf8(name), "");
    const std::vector<TCheckOutcome> outcomes = CheckOutcomes();
    const std::vector<String> previous = PreviousOfOutcomes(outcomes);
    report.WriteBytes(CheckReport(outcomes, name, FHasChanges ? &previous : nullptr));
    report.Commit();
  });
}

void TMainLogic::H2Click() {
  TReplaceGroupInput input;
  if (!FWindow.RunReplaceGroupDialog(input)) return;
  input.Find = Trim(input.Find);
  input.Replace = Trim(input.Replace);
  RunCommand([&] { ReplaceGroups(input); });
}

void TMainLogic::RemoveSelected() {
  std::unordered_set<const JSONObject*> selected;
  for (int row = RowCount() - 1; row >= 0; --row)
    if (FWindow.IsRowSelected(row)) selected.insert(SourceOfRow(row));
  if (selected.empty()) {
    NotifyListChange(lcSourcesChanged);
    return;
  }
  if (selected.size() > 1 &&
      !FWindow.AskYesNo(Format(u"确定要删除选中的%d个书源吗？", int(selected.size())), u"提示", true))
    return;
  TChange change(*this, u"删除选中项");
  // By identity: the same text twice is still two sources.
  RemoveSources([&](const JSONObject* ASource) { return selected.count(ASource) > 0; });
}

void TMainLogic::ConvertSelected() {
  std::unordered_set<const JSONObject*> picked;
  for (int row = RowCount() - 1; row >= 0; --row)
    if (FWindow.IsRowSelected(row)) picked.insert(SourceOfRow(row));
  if (picked.empty())
    if (JSONObject* current = SourceOfRow(FWindow.GetCurrentRow())) picked.insert(current);
  if (picked.empty() || !CheckSaveState()) return;
  RunCommand([&] { ConvertSources([&](const JSONObject* ASource) { return picked.count(ASource) > 0; }); });
}

void TMainLogic::ClearSources() {
  if (!MayDiscardSources()) return;
  TChange change(*this, u"清空");
  RemoveSources([](const JSONObject*) { return true; });
}

void TMainLogic::CopyAndAdd() {
  JSONObject* source = SourceOfRow(FWindow.GetCurrentRow());
  if (!source || !CheckSaveState()) return;
  const String name = FWindow.InputName(u"书源名称", u"请输入书源名称", source->GetString(kBookSourceName));
  JSONObject* copy;
  {
    TChange change(*this, u"复制新增");
    copy = FSources.AddCopy(source, name);
  }
  NotifyListChange(lcSourcesChanged);
  LogOperation(Format(u"已新增书源: %s", name));
  // The copy is the current row, so the editor shows it.
  BindEditor(copy);
  FWindow.SelectSingleRow(FCurIndex);
}

void TMainLogic::LoadIntoEditor() {
  const int row = FWindow.GetCurrentRow();
  if (row < 0 || row >= RowCount()) return;
  if (!ActivateSource(SourceOfRow(row))) FWindow.SelectSingleRow(FCurIndex);
}

bool TMainLogic::ActivateSource(JSONObject* ASource) {
  if (!ASource) return false;
  if (ASource == FCurItem) {
    RestoreEditorBinding();
    return true;
  }
  if (!CheckSaveState() || !FSources.Contains(ASource)) return false;
  BindEditor(ASource);
  return true;
}

void TMainLogic::BindEditor(JSONObject* ASource) {
  FCurItem = ASource;
  FCurIndex = -1;
  RestoreEditorBinding();
  FEditorBase = EditorTextOf(ASource);
  FWindow.SetEditorText(FEditorBase);
  FIsChange = false;
}

// Bound by identity: the source may be filtered out and still take the text.
bool TMainLogic::EditorBound() { return FCurItem && FSources.Contains(FCurItem); }

bool TMainLogic::CheckSaveState() {
  if (!FIsChange || !EditorBound()) return true;
  switch (FWindow.AskSave(u"书源内容已经修改，是否保存？", u"提示")) {
    case TSaveAnswer::Cancel:
      return false;
    case TSaveAnswer::Yes:
      return SaveEdit();
    case TSaveAnswer::No:
      return true;
  }
  return true;
}

bool TMainLogic::SaveEdit() {
  if (!EditorBound()) return true;
  JSONObject* source = FCurItem;
  const String text = FWindow.GetEditorText();
  const String now = EditorTextOf(source);
  if (now != FEditorBase) {
    switch (FWindow.AskSave(u"书源已被其他操作修改，是否覆盖？", u"提示")) {
      case TSaveAnswer::Cancel:
        return false;
      case TSaveAnswer::No:
        // The other operation wins: the editor shows what the source holds now.
        FEditorBase = now;
        FWindow.SetEditorText(now);
        FIsChange = false;
        return true;
      case TSaveAnswer::Yes:
        break;
    }
  }
  // The lenient parser takes nearly anything: a missing quote or comma would
  // be saved as a mangled source.
  TJsonSyntaxIssue issue;
  if (!IsStrictJson(text, issue) &&
      !FWindow.AskYesNo(Format(u"内容不是标准JSON（第%d行第%d列: %s），仍要保存吗？", issue.Line, issue.Column,
                               issue.Message),
                        u"提示", false))
    return false;
  FIsChange = false;
  String error;
  {
    TChange change(*this, u"保存修改");
    std::lock_guard<std::mutex> lock(FSources.Lock());
    FSources.NoteRewriteLocked(source);
    const String kept = source->ToString();
    try {
      source->Parse(text, false);
      if (!TSourceCollection::IsSource(source)) error = u"书源URL未设置，修改没有保存。";
    } catch (const Exception& E) {
      error = E.Message();
    }
    if (!error.empty()) source->Parse(kept, false);
  }
  // A rejected edit stays in the editor and still counts as unsaved.
  if (!error.empty())
    FIsChange = true;
  else
    FEditorBase = EditorTextOf(source);
  NotifyListChange(lcSourcesChanged);
  if (!error.empty()) throw Exception(error);
  return true;
}

void TMainLogic::EditorDialogResult(JSONObject* AItem, const std::function<void(JSONObject*)>& AApply) {
  if (!AItem) return;
  bool added = false;
  {
    TChange change(*this, u"编辑书源");
    if (FSources.Contains(AItem)) {
      std::lock_guard<std::mutex> lock(FSources.Lock());
      FSources.NoteRewriteLocked(AItem);
      if (AApply) AApply(AItem);
    } else {
      // A new source: nobody else sees it before it joins.
      if (AApply) AApply(AItem);
      FSources.Add(AItem);
      added = true;
    }
  }
  NotifyListChange(lcSourcesChanged);
  if (added) LogOperation(Format(u"已新增书源: %s", SafeString(AItem, kBookSourceName)));
}

void TMainLogic::Button1Click() {
  if (FRun->State() == rsIdle) {
    StartRun(FWindow.ReadRunOptions());
    // Modal: it closes once the run has ended.
    FWindow.ShowWaitDialog();
  } else {
    if (FTally.Open && (FTally.RemoveRepeat || FTally.CheckSources)) FTally.Stopped = true;
    FRun->StopOrEnd();
  }
  SettleRun();
}

void TMainLogic::RunEnded() {
  SettleRun();
  if (!FTally.Open || FRun->State() != rsIdle) return;
  FTally.Open = false;
  const int settled = FTally.Settled.load();
  if (settled > 0) {
    // Positions are those of the check; nothing has moved since.
    const std::vector<TCheckOutcome> outcomes = FRun->Outcomes();
    std::lock_guard<std::mutex> lock(FSources.Lock());
    JSONArray& data = FSources.Data();
    for (const TCheckOutcome& outcome : outcomes)
      if (outcome.Position >= 0 && outcome.Position < data.Count())
        if (JSONObject* source = data.GetJsonObject(outcome.Position)) FLastChecks.Record(source, outcome);
  }
  if (FOperationLog) {
    const int now = FSources.Count();
    const int64_t ms = GetTimestamp() - FTally.StartMs;
    if (FTally.RemoveRepeat) LogOperation(Format(u"去除重复: 删除了 %d 个重复书源", FTally.StartCount - now));
    if (FTally.CheckSources && (settled > 0 || !FTally.Stopped))
      LogOperation(Format(u"校验结果: 有效 %d, 失效 %d, 受阻 %d, 无法校验 %d; 用时 %d.%d 秒",
                          FTally.Verdicts[cvAlive].load(), FTally.Verdicts[cvDead].load(),
                          FTally.Verdicts[cvBlocked].load(), FTally.Verdicts[cvUnverifiable].load(), ms / 1000,
                          ms % 1000 / 100));
    if (FTally.Stopped)
      LogOperation(FTally.CheckSources ? Format(u"已停止，已处理 %d/%d", settled, now) : String(u"已停止"));
  }
  // The table's verdict columns (and an order by them) follow.
  if (settled > 0) NotifyListChange(lcViewChanged);
}

void TMainLogic::TestEditorText() {
  RunCommand([&] {
    JSONObject source;
    source.Parse(FWindow.GetEditorText(), false);
    std::vector<String> lines;
    bool verdict;
    try {
      verdict = TSourceChecker::CheckSource(&source, true, &lines);
    } catch (...) {
      for (const String& line : lines) FWindow.AppendLog(line);
      throw;
    }
    for (const String& line : lines) FWindow.AppendLog(line);
    LogD(verdict ? u"恭喜, 检测通过!" : u"书源异常!");
  });
}
