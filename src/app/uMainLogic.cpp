#include "app/uMainLogic.h"

#include <algorithm>
#include <unordered_set>

#include "app/uBookSourceBean.h"
#include "json/KivJson.h"
#include "support/KivStr.h"
#include "workers/KivWorker.h"

namespace {

constexpr char16_t kBookSourceUrl[] = u"bookSourceUrl";
constexpr char16_t kBookSourceName[] = u"bookSourceName";
constexpr char16_t kBookSourceGroup[] = u"bookSourceGroup";

// ASCII-only case-insensitive substring test (the filter rule).
bool ContainsIgnoreAsciiCase(StringView AText, StringView ALowerNeedle) {
  if (ALowerNeedle.empty()) return true;
  if (AText.size() < ALowerNeedle.size()) return false;
  const size_t last = AText.size() - ALowerNeedle.size();
  for (size_t i = 0; i <= last; ++i) {
    size_t k = 0;
    while (k < ALowerNeedle.size() && LowerAscii(AText[i + k]) == ALowerNeedle[k]) ++k;
    if (k == ALowerNeedle.size()) return true;
  }
  return false;
}

bool HasExtension(const String& AFileName) {
  size_t slash = AFileName.find_last_of(u"/\\");
  size_t dot = AFileName.rfind(u'.');
  return dot != String::npos && (slash == String::npos || dot > slash + 1);
}

}  // namespace

TMainLogic::TMainLogic(IMainWindow& AWindow)
    : FWindow(AWindow), FBookSrcData(std::make_unique<JSONArray>()), FBookGroups(std::make_unique<TStringHash>(997)) {
  JsonCaseSensitive = false;
  JsonNameAfterSpace = true;
  FWaitCheckBookSourceSingId = GlobalWorkers->RegisterSignal(u"WaitCheckBookSource");
  GlobalWorkers->PostWait(MakeJobProc<&TMainLogic::WaitCheckBookSource>(this), FWaitCheckBookSourceSingId, false);
}

TMainLogic::~TMainLogic() {
  // Every job of this object goes (the waiting one included). Jobs still
  // running are waited for; from now on they post nothing, and what one
  // posted just before is cleared by the second pass. Main-thread jobs that
  // run during the waits find FDestroying set and do nothing.
  FDestroying = true;
  FWaitStop.fetch_add(1);
  FRunId.fetch_add(1);
  GlobalWorkers->Clear(static_cast<void*>(this), -1, true);
  while (GlobalWorkers->Clear(static_cast<void*>(this), -1, true) > 0) {
  }
  DropPendingSources();
}

// ---------------------------------------------------------------- loading

std::unique_ptr<JSONArray> TMainLogic::LoadSourceFile(const String& AFileName) {
  auto result = std::make_unique<JSONArray>();
  TFileStream file(AFileName, TFileStream::fmOpenRead);
  std::unique_ptr<JSONBase> root(JSONBase::Parser(file, true));
  if (!root) return result;  // an empty text holds nothing
  if (root->IsJSONArray()) return std::unique_ptr<JSONArray>(static_cast<JSONArray*>(root.release()));
  // Single sources are shared as one object: take it as a one-source file.
  auto* object = static_cast<JSONObject*>(root.get());
  if (!CheckItem(object)) throw Exception(Format(u"文件中没有书源：%s", AFileName));
  result->Add(static_cast<JSONBase*>(root.release()));
  return result;
}

void TMainLogic::MergeSources(JSONArray& ASource) {
  std::vector<int> taken;
  for (int i = 0; i < ASource.Count(); ++i) {
    try {
      PJSONValue item = ASource.GetItems(i);
      auto* object = item->Type() == jdtObject ? item->AsJsonObject() : nullptr;
      if (object && object->IsJSONObject() && CheckItem(object)) taken.push_back(i);
    } catch (const Exception&) {
      // An element that cannot be examined is skipped like any other non-source.
    }
  }
  std::vector<JSONBase*> sources = ASource.ExtractItems(taken);
  std::lock_guard<std::mutex> lock(FDataLock);
  for (JSONBase* source : sources) {
    auto* object = static_cast<JSONObject*>(source);
    try {
      UpdateBookGroup(object);
    } catch (const Exception&) {
    }
    FBookSrcData->Add(source);
  }
}

void TMainLogic::AddSrcFile(const String& AFileName) {
  // The list is refreshed in every case, also when loading failed; a refresh
  // error never hides the loader's.
  try {
    std::unique_ptr<JSONArray> loaded = LoadSourceFile(AFileName);
    MergeSources(*loaded);
  } catch (...) {
    try {
      NotifyListChange(0);
    } catch (...) {
    }
    throw;
  }
  NotifyListChange(0);
}

void TMainLogic::OpenSrcFile(const String& AFileName) {
  // Load first: a file that fails leaves the collection as it was.
  std::unique_ptr<JSONArray> loaded;
  try {
    loaded = LoadSourceFile(AFileName);
  } catch (...) {
    NotifyListChange(0);
    throw;
  }
  RemoveAllSources();
  MergeSources(*loaded);
  NotifyListChange(0);
}

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

// ---------------------------------------------------------------- the view

void TMainLogic::UpdateBookGroup(JSONObject* AItem) {
  for (const String& piece : TBookSourceItem(AItem).GetGroupList()) {
    String name = Trim(piece);
    intptr_t count = 0;
    FBookGroups->TryGetValue(name, count);
    FBookGroups->AddOrUpdate(name, count + 1);
  }
}

std::vector<String> TMainLogic::GroupNames() {
  std::vector<String> names;
  FBookGroups->GetKeyList(&names);
  return names;
}

void TMainLogic::RebuildFilter() {
  FFilterList.clear();
  const String filter = LowerCaseAscii(FFilterText);
  const int n = FBookSrcData->Count();
  FFilterList.reserve(size_t(n));
  for (int i = 0; i < n; ++i) {
    JSONBase* item = FBookSrcData->GetItems(i)->GetObject();
    auto* object = item && item->IsJSONObject() ? static_cast<JSONObject*>(item) : nullptr;
    if (!object) continue;
    if (filter.empty() || ContainsIgnoreAsciiCase(object->GetString(kBookSourceGroup), filter) ||
        ContainsIgnoreAsciiCase(object->GetString(kBookSourceName), filter))
      FFilterList.push_back(object);
  }
}

void TMainLogic::NotifyListChange(int AFlag) {
  int total, shown;
  {
    std::lock_guard<std::mutex> lock(FDataLock);
    if (AFlag == 0) {
      for (int i = 0; i < FBookSrcData->Count(); ++i) {
        JSONBase* item = FBookSrcData->GetItems(i)->GetObject();
        // A group that is no text (an array, an object) counts in no group, as when merging;
        // raising here would end a refresh that runs from a destructor.
        try {
          if (item && item->IsJSONObject()) UpdateBookGroup(static_cast<JSONObject*>(item));
        } catch (const Exception&) {
        }
      }
    }
  }
  if (AFlag == 0) FWindow.SetGroupFilterItems(GroupNames());
  FFilterText = FWindow.GetGroupFilterText();
  {
    std::lock_guard<std::mutex> lock(FDataLock);
    RebuildFilter();
    total = FBookSrcData->Count();
    shown = int(FFilterList.size());
  }
  RestoreEditorBinding();
  FWindow.SetRowCount(shown);
  FWindow.SetPlaceholderVisible(shown == 0);
  if (FCurIndex >= 0 && FCurIndex < shown) FWindow.SelectSingleRow(FCurIndex);
  FWindow.SetStatusText(0, Format(u"书源总数：%d个, 当前: %d个", total, shown));
}

// The editor stays with its source: after a refresh its row is looked up again.
void TMainLogic::RestoreEditorBinding() {
  if (!FCurItem) return;
  auto it = std::find(FFilterList.begin(), FFilterList.end(), FCurItem);
  FCurIndex = it == FFilterList.end() ? -1 : int(it - FFilterList.begin());
}

String TMainLogic::RowText(int ARow) {
  std::lock_guard<std::mutex> lock(FDataLock);
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
  std::lock_guard<std::mutex> lock(FDataLock);
  return int(FFilterList.size());
}

JSONObject* TMainLogic::SourceOfRow(int ARow) {
  std::lock_guard<std::mutex> lock(FDataLock);
  if (ARow < 0 || ARow >= int(FFilterList.size())) return nullptr;
  return FFilterList[size_t(ARow)];
}

bool TMainLogic::HasSource(const JSONObject* AItem) {
  if (!AItem) return false;
  std::lock_guard<std::mutex> lock(FDataLock);
  return FBookSrcData->IndexOfObject(AItem) >= 0;
}

void TMainLogic::FilterChanged() {
  if (FChanging) return;
  FChanging = true;
  try {
    FWindow.SetEditorText(String());
    FIsChange = false;
    FCurIndex = -1;
    FCurItem = nullptr;
    NotifyListChange(1);
  } catch (...) {
    FChanging = false;
    throw;
  }
  FChanging = false;
}

// ---------------------------------------------------------------- commands on sources

void TMainLogic::SortBy(bool AByGroup) {
  const StringView key = AByGroup ? StringView(kBookSourceGroup) : StringView(kBookSourceName);
  {
    std::lock_guard<std::mutex> lock(FDataLock);
    FBookSrcData->Sort([key](PJSONValue A, PJSONValue B) -> int {
      JSONBase* a = A ? A->GetObject() : nullptr;
      JSONBase* b = B ? B->GetObject() : nullptr;
      if (!a || !b || !a->IsJSONObject() || !b->IsJSONObject()) return 0;
      String x = static_cast<JSONObject*>(a)->GetString(key);
      String y = static_cast<JSONObject*>(b)->GetString(key);
      return x.compare(y) < 0 ? -1 : (x == y ? 0 : 1);
    });
  }
  NotifyListChange(1);
}

void TMainLogic::SortByName() { SortBy(false); }
void TMainLogic::SortByGroup() { SortBy(true); }

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

void TMainLogic::DestroySources(std::vector<JSONBase*>& ASources) {
  for (JSONBase* source : ASources) ForgetEditorSource(static_cast<JSONObject*>(source));
  std::lock_guard<std::mutex> lock(FDataLock);
  for (JSONBase* source : ASources) delete source;
  ASources.clear();
}

void TMainLogic::RemoveSourcesAt(const std::vector<int>& AIndexes) {
  std::vector<JSONBase*> gone;
  {
    std::lock_guard<std::mutex> lock(FDataLock);
    gone = FBookSrcData->ExtractItems(AIndexes);
    // The view must not name them once they are destroyed.
    RebuildFilter();
  }
  DestroySources(gone);
}

void TMainLogic::RemoveAllSources() {
  std::vector<int> all(size_t(FBookSrcData->Count()));
  for (size_t i = 0; i < all.size(); ++i) all[i] = int(i);
  RemoveSourcesAt(all);
}

void TMainLogic::RemoveSelected() {
  std::vector<int> rows;
  for (int row = RowCount() - 1; row >= 0; --row)
    if (FWindow.IsRowSelected(row)) rows.push_back(row);
  std::vector<int> indexes;
  {
    std::lock_guard<std::mutex> lock(FDataLock);
    std::unordered_set<const JSONBase*> selected;
    for (int row : rows) selected.insert(FFilterList[size_t(row)]);
    // One pass by identity: the same text twice is still two sources.
    for (int i = 0; !selected.empty() && i < FBookSrcData->Count(); ++i)
      if (selected.count(FBookSrcData->GetItems(i)->GetObject())) indexes.push_back(i);
  }
  if (!indexes.empty()) RemoveSourcesAt(indexes);
  NotifyListChange(0);
}

void TMainLogic::ClearSources() {
  RemoveAllSources();
  NotifyListChange(0);
}

void TMainLogic::CopyAndAdd() {
  const int row = FWindow.GetCurrentRow();
  JSONObject* source = SourceOfRow(row);
  if (!source || !CheckSaveState()) return;
  String name = FWindow.InputName(u"书源名称", u"请输入书源名称", source->GetString(kBookSourceName));
  {
    std::lock_guard<std::mutex> lock(FDataLock);
    JSONObject* copy = FBookSrcData->AddChildObject();
    copy->Parse(source->ToString(), false);
    copy->SetString(kBookSourceName, name);
  }
  NotifyListChange(0);
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
    std::lock_guard<std::mutex> lock(FDataLock);
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

bool TMainLogic::CheckItem(const JSONObject* AItem) {
  return AItem && !AItem->GetString(kBookSourceUrl).empty();
}

void TMainLogic::SaveEdit() {
  if (!EditorBound()) return;
  JSONObject* source = FCurItem;
  FIsChange = false;
  const String text = FWindow.GetEditorText();
  String error;
  {
    std::lock_guard<std::mutex> lock(FDataLock);
    const String kept = source->ToString();
    try {
      source->Parse(text, false);
      if (!CheckItem(source)) error = u"书源URL未设置，修改没有保存。";
    } catch (const Exception& E) {
      error = E.Message();
    }
    if (!error.empty()) source->Parse(kept, false);
  }
  // A rejected edit stays in the editor and still counts as unsaved.
  if (!error.empty()) FIsChange = true;
  NotifyListChange(0);
  if (!error.empty()) throw Exception(error);
}

void TMainLogic::EditorDialogResult(JSONObject* AItem) {
  if (!AItem) return;
  {
    std::lock_guard<std::mutex> lock(FDataLock);
    if (FBookSrcData->IndexOfObject(AItem) < 0) FBookSrcData->Add(static_cast<JSONBase*>(AItem));
  }
  NotifyListChange(0);
  if (EditorBound() && FCurItem == AItem) {
    String text;
    {
      std::lock_guard<std::mutex> lock(FDataLock);
      text = AItem->ToString(4, false);
    }
    FWindow.SetEditorText(text);
    FIsChange = false;
  }
}

void TMainLogic::ExportTo(String AFileName) {
  if (!HasExtension(AFileName)) AFileName += u".json";
  std::lock_guard<std::mutex> lock(FDataLock);
  FBookSrcData->SaveToFile(AFileName, 4, teUTF8, false);
}

void TMainLogic::ExportCommand() {
  String name;
  if (!FWindow.ChooseSaveFile(u"导出书源", name)) return;
  RunCommand([&] { ExportTo(name); });
}

// ---------------------------------------------------------------- group rename

namespace {

// Upper case with the full simple case mapping, one unit for one unit, so
// positions in the upper-cased text are positions in the original.
String UpperUnicode(StringView S) {
  static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  String r(S);
  for (auto& c : r) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    wint_t u = loc ? towupper_l(wint_t(c), loc) : wint_t(UpperAscii(c));
    if (u <= 0xFFFF) c = char16_t(u);
  }
  return r;
}

String ReplaceIgnoreCase(const String& AText, const String& AFind, const String& AReplace) {
  const String text = UpperUnicode(AText), find = UpperUnicode(AFind);
  String out;
  size_t from = 0;
  for (;;) {
    size_t at = text.find(find, from);
    if (at == String::npos) break;
    out.append(AText, from, at - from).append(AReplace);
    from = at + find.size();
  }
  out.append(AText, from, String::npos);
  return out;
}

}  // namespace

void TMainLogic::H2Click() {
  TReplaceGroupInput input;
  if (!FWindow.RunReplaceGroupDialog(input)) return;
  input.Find = Trim(input.Find);
  input.Replace = Trim(input.Replace);
  RunCommand([&] { ReplaceGroups(input); });
}

void TMainLogic::ReplaceGroups(const TReplaceGroupInput& AInput) {
  if (!AInput.WholeWord && AInput.Find.empty()) return;
  {
    std::lock_guard<std::mutex> lock(FDataLock);
    for (int i = 0; i < FBookSrcData->Count(); ++i) {
      JSONBase* item = FBookSrcData->GetItems(i)->GetObject();
      if (!item || !item->IsJSONObject()) continue;
      TBookSourceItem source(static_cast<JSONObject*>(item));
      if (AInput.WholeWord && AInput.Replace.empty())
        source.RemoveGroup(AInput.Find);
      else if (AInput.WholeWord)
        source.ReplaceGroup(AInput.Find, AInput.Replace);
      else
        source.SetField(0, ReplaceIgnoreCase(Trim(source.GetField(0)), AInput.Find, AInput.Replace));
    }
  }
  NotifyListChange(0);
}
