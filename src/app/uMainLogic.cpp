#include "app/uMainLogic.h"

#include <algorithm>
#include <unordered_set>

#include "app/uCheckReport.h"
#include "app/uPendingOutput.h"
#include "app/uSourceCheck.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

constexpr char16_t kBookSourceName[] = u"bookSourceName";
constexpr char16_t kBookSourceGroup[] = u"bookSourceGroup";

}  // namespace

namespace {

// Shows nothing and answers with the defaults; it has no state, so one serves all.
IMainWindow& NoWindow() {
  static IMainWindow window;
  return window;
}

}  // namespace

TMainLogic::TMainLogic() : TMainLogic(NoWindow()) {}

TMainLogic::TMainLogic(IMainWindow& AWindow) : FWindow(AWindow) {
  JsonCaseSensitive = false;
  JsonNameAfterSpace = true;
  FRun = std::make_unique<TBatchRun>(FSources, FWindow);
  FRun->OnListChanged = [this] { NotifyListChange(lcSourcesChanged); };
  FSources.OnSourcesLeaving = [this](const std::vector<JSONBase*>& ASources) { SourcesLeaving(ASources); };
}

TMainLogic::~TMainLogic() {
  // The run's jobs end before the collection they work on goes.
  FRun.reset();
  FSources.OnSourcesLeaving = nullptr;
}

// ---------------------------------------------------------------- collection verbs

void TMainLogic::AddSrcFile(const String& AFileName) {
  // The list is refreshed in every case, also when loading failed; a refresh
  // error never hides the loader's.
  try {
    std::unique_ptr<JSONArray> loaded = TSourceCollection::LoadFile(AFileName);
    FSources.Merge(*loaded);
  } catch (...) {
    try {
      NotifyListChange(lcSourcesChanged);
    } catch (...) {
    }
    throw;
  }
  NotifyListChange(lcSourcesChanged);
}

void TMainLogic::AddSrcStream(TStream& AStream, const String& AName) {
  std::unique_ptr<JSONArray> loaded = TSourceCollection::LoadStream(AStream, AName);
  FSources.Merge(*loaded);
  NotifyListChange(lcSourcesChanged);
}

void TMainLogic::OpenSrcFile(const String& AFileName) {
  // Load first: a file that fails leaves the collection as it was.
  std::unique_ptr<JSONArray> loaded;
  try {
    loaded = TSourceCollection::LoadFile(AFileName);
  } catch (...) {
    NotifyListChange(lcSourcesChanged);
    throw;
  }
  FSources.RemoveAll();
  FSources.Merge(*loaded);
  NotifyListChange(lcSourcesChanged);
}

int TMainLogic::RemoveSources(const std::function<bool(const JSONObject*)>& APredicate) {
  const int removed = FSources.RemoveWhere(APredicate);
  NotifyListChange(lcSourcesChanged);
  return removed;
}

void TMainLogic::SortSources(TSourceSortKey AKey) {
  FSources.Sort(AKey);
  NotifyListChange(lcViewChanged);
}

void TMainLogic::ReplaceGroups(const TReplaceGroupInput& AInput) {
  if (!IsGroupRenameUseful(AInput)) return;
  FSources.ReplaceGroups(AInput);
  NotifyListChange(lcSourcesChanged);
}

// Sources are going: the view must not name them, the editor and any dialog let go.
void TMainLogic::SourcesLeaving(const std::vector<JSONBase*>& ASources) {
  {
    std::lock_guard<std::mutex> lock(FSources.Lock());
    RebuildFilter();
  }
  for (JSONBase* source : ASources) ForgetEditorSource(static_cast<JSONObject*>(source));
}

void TMainLogic::ForgetEditorSource(JSONObject* AItem) {
  FWindow.SourceLeaving(AItem);
  if (AItem && AItem == FCurItem) {
    // Its text can no longer be saved anywhere.
    FCurItem = nullptr;
    FCurIndex = -1;
    FWindow.SetEditorText(String());
    FIsChange = false;
  }
}

// ---------------------------------------------------------------- run verbs

void TMainLogic::ExecuteRun(const TRunOptions& AOptions, const std::function<void()>& ATick) {
  if (!AOptions.RemoveRepeat && !AOptions.CheckSources) return;
  FRun->Start(AOptions);
  FRun->WaitEnd(ATick);
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

void TMainLogic::RebuildFilter() { FFilterList = FSources.FilterLocked(FFilterText); }

void TMainLogic::NotifyListChange(TListChange AChange) {
  if (AChange == lcSourcesChanged) {
    FSources.CountGroups();
    FWindow.SetGroupFilterItems(FSources.GroupNames());
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
  if (FCurIndex >= 0 && FCurIndex < shown) FWindow.SelectSingleRow(FCurIndex);
  FWindow.SetStatusText(spSourceCount, Format(u"书源总数：%d个, 当前: %d个", total, shown));
}

// The editor stays with its source: after a refresh its row is looked up again.
void TMainLogic::RestoreEditorBinding() {
  if (!FCurItem) return;
  auto it = std::find(FFilterList.begin(), FFilterList.end(), FCurItem);
  FCurIndex = it == FFilterList.end() ? -1 : int(it - FFilterList.begin());
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

JSONObject* TMainLogic::SourceOfRow(int ARow) {
  std::lock_guard<std::mutex> lock(FSources.Lock());
  if (ARow < 0 || ARow >= int(FFilterList.size())) return nullptr;
  return FFilterList[size_t(ARow)];
}

void TMainLogic::FilterChanged() {
  if (FChanging) return;
  FChanging = true;
  try {
    FWindow.SetEditorText(String());
    FIsChange = false;
    FCurIndex = -1;
    FCurItem = nullptr;
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
  for (const String& name : AFileNames)
    if (!RunCommand([&] { AddSrcFile(name); })) break;
}

void TMainLogic::ExportCommand() {
  String name;
  if (!FWindow.ChooseSaveFile(u"导出书源", name)) return;
  RunCommand([&] { ExportTo(name); });
}

void TMainLogic::ExportReportCommand() {
  if (!HasCheckReport()) return;
  String name;
  if (!FWindow.ChooseReportFile(u"导出校验报告", name)) return;
  RunCommand([&] {
    TPendingOutput report(ToUtf8(name), "");
    report.WriteBytes(CheckReport(CheckOutcomes(), name));
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
  // By identity: the same text twice is still two sources.
  RemoveSources([&](const JSONObject* ASource) { return selected.count(ASource) > 0; });
}

void TMainLogic::ClearSources() { RemoveSources([](const JSONObject*) { return true; }); }

void TMainLogic::CopyAndAdd() {
  JSONObject* source = SourceOfRow(FWindow.GetCurrentRow());
  if (!source || !CheckSaveState()) return;
  const String name = FWindow.InputName(u"书源名称", u"请输入书源名称", source->GetString(kBookSourceName));
  FSources.AddCopy(source, name);
  NotifyListChange(lcSourcesChanged);
  const int shown = RowCount();
  if (shown > 0) FWindow.SelectSingleRow(shown - 1);
}

void TMainLogic::LoadIntoEditor() {
  const int row = FWindow.GetCurrentRow();
  if (row < 0 || row >= RowCount() || !CheckSaveState()) return;
  JSONObject* source = SourceOfRow(row);
  FCurIndex = row;
  FCurItem = source;
  String text;
  {
    std::lock_guard<std::mutex> lock(FSources.Lock());
    text = source->ToString(4, false);
  }
  FWindow.SetEditorText(text);
  FIsChange = false;
}

bool TMainLogic::EditorBound() {
  return FCurItem && FCurIndex >= 0 && FCurIndex < RowCount() && SourceOfRow(FCurIndex) == FCurItem;
}

bool TMainLogic::CheckSaveState() {
  if (!FIsChange || !EditorBound()) return true;
  switch (FWindow.AskSave(u"书源内容已经修改，是否保存？", u"提示")) {
    case TSaveAnswer::Cancel:
      return false;
    case TSaveAnswer::Yes:
      SaveEdit();
      return true;
    case TSaveAnswer::No:
      return true;
  }
  return true;
}

void TMainLogic::SaveEdit() {
  if (!EditorBound()) return;
  JSONObject* source = FCurItem;
  FIsChange = false;
  const String text = FWindow.GetEditorText();
  String error;
  {
    std::lock_guard<std::mutex> lock(FSources.Lock());
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
  if (!error.empty()) FIsChange = true;
  NotifyListChange(lcSourcesChanged);
  if (!error.empty()) throw Exception(error);
}

void TMainLogic::EditorDialogResult(JSONObject* AItem) {
  if (!AItem) return;
  FSources.Add(AItem);
  NotifyListChange(lcSourcesChanged);
  if (EditorBound() && FCurItem == AItem) {
    String text;
    {
      std::lock_guard<std::mutex> lock(FSources.Lock());
      text = AItem->ToString(4, false);
    }
    FWindow.SetEditorText(text);
    FIsChange = false;
  }
}

void TMainLogic::Button1Click() {
  if (FRun->State() == rsIdle) {
    FRun->Start(FWindow.ReadRunOptions());
    FWindow.ShowWaitDialog();
  } else {
    FRun->StopOrEnd();
  }
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
