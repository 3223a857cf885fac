#include "app/uSourceCollection.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "app/uBookSourceBean.h"
#include "app/uGroupIndex.h"
#include "app/uRemoteSource.h"
#include "json/KivJson.h"
#include "support/KivStr.h"
#include "support/KivStream.h"

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

JSONObject* ObjectAt(JSONArray& AData, int AIndex) {
  JSONBase* item = AData.GetItems(AIndex)->GetObject();
  return item && item->IsJSONObject() ? static_cast<JSONObject*>(item) : nullptr;
}

std::unique_ptr<JSONArray> SourcesOfRoot(JSONBase* ARoot, const String& AName) {
  std::unique_ptr<JSONBase> root(ARoot);
  if (!root) return std::make_unique<JSONArray>();  // an empty text holds nothing
  if (root->IsJSONArray()) return std::unique_ptr<JSONArray>(static_cast<JSONArray*>(root.release()));
  // Single sources are shared as one object: take it as a one-source file.
  if (!TSourceCollection::IsSource(static_cast<JSONObject*>(root.get())))
    throw Exception(Format(u"文件中没有书源：%s", AName));
  auto result = std::make_unique<JSONArray>();
  result->Add(root.release());
  return result;
}

// Every top-level value of a text: concatenated files and one source a line
// load whole. One value keeps the rules of a single root.
std::unique_ptr<JSONArray> SourcesOfValues(std::vector<std::unique_ptr<JSONBase>> AValues, const String& AName,
                                           int* AValueCount, std::vector<String>* AListed) {
  if (AValueCount) *AValueCount = int(AValues.size());
  if (AListed && AValues.size() == 1 && SourceListOf(AValues[0].get(), *AListed)) return nullptr;
  if (AValues.size() <= 1) return SourcesOfRoot(AValues.empty() ? nullptr : AValues[0].release(), AName);
  auto result = std::make_unique<JSONArray>();
  for (std::unique_ptr<JSONBase>& value : AValues) {
    if (value->IsJSONArray()) {
      auto* array = static_cast<JSONArray*>(value.get());
      std::vector<int> all(size_t(array->Count()));
      for (size_t i = 0; i < all.size(); ++i) all[i] = int(i);
      for (JSONBase* item : array->ExtractItems(all)) result->Add(item);
    } else {
      result->Add(value.release());
    }
  }
  return result;
}

}  // namespace

TSourceCollection::TSourceCollection()
    : FData(std::make_unique<JSONArray>()), FGroups(std::make_unique<TGroupIndex>()) {}

TSourceCollection::~TSourceCollection() = default;

int TSourceCollection::Count() {
  std::lock_guard<std::mutex> lock(FLock);
  return FData->Count();
}

bool TSourceCollection::IsSource(const JSONObject* AItem) {
  return AItem && !AItem->GetString(kBookSourceUrl).empty();
}

// ---------------------------------------------------------------- loading

std::unique_ptr<JSONArray> TSourceCollection::LoadFile(const String& AFileName, int* AValueCount, String* ATrailing,
                                                       std::vector<String>* AListed) {
  TFileStream file(AFileName, TFileStream::fmOpenRead);
  return LoadStream(file, AFileName, AValueCount, ATrailing, AListed);
}

std::unique_ptr<JSONArray> TSourceCollection::LoadStream(TStream& AStream, const String& AName, int* AValueCount,
                                                         String* ATrailing, std::vector<String>* AListed) {
  if (!ATrailing) return SourcesOfValues(JSONBase::ParserValues(AStream, true), AName, AValueCount, AListed);
  return SourcesOfValues(JSONBase::ParserValues(AStream, *ATrailing), AName, AValueCount, AListed);
}

int TSourceCollection::Merge(JSONArray& ASource) {
  std::vector<int> taken;
  for (int i = 0; i < ASource.Count(); ++i) {
    try {
      PJSONValue item = ASource.GetItems(i);
      auto* object = item->Type() == jdtObject ? item->AsJsonObject() : nullptr;
      if (object && object->IsJSONObject() && IsSource(object)) taken.push_back(i);
    } catch (const Exception&) {
      // An element that cannot be examined is skipped like any other non-source.
    }
  }
  std::vector<JSONBase*> sources = ASource.ExtractItems(taken);
  std::lock_guard<std::mutex> lock(FLock);
  const int first = FData->Count();
  for (JSONBase* source : sources) {
    try {
      CountGroupsOf(static_cast<JSONObject*>(source));
    } catch (const Exception&) {
    }
    FData->Add(source);
  }
  const int count = int(sources.size());
  RecordInsertLocked(first, std::move(sources));
  return count;
}

// ---------------------------------------------------------------- groups

void TSourceCollection::CountGroupsOf(JSONObject* ASource) {
  for (const String& piece : TBookSourceItem(ASource).GetGroupList()) FGroups->Count(Trim(piece));
}

void TSourceCollection::CountGroups() {
  std::lock_guard<std::mutex> lock(FLock);
  for (int i = 0; i < FData->Count(); ++i) {
    // A group that is no text (an array, an object) counts in no group, as
    // when merging; raising here would end a refresh that runs from a destructor.
    try {
      if (JSONObject* source = ObjectAt(*FData, i)) CountGroupsOf(source);
    } catch (const Exception&) {
    }
  }
}

std::vector<String> TSourceCollection::GroupNames() {
  std::lock_guard<std::mutex> lock(FLock);
  return FGroups->Names();
}

// ---------------------------------------------------------------- the view

bool TSourceCollection::MatchesFilter(const JSONObject* ASource, StringView ALowerFilter) {
  return ALowerFilter.empty() || ContainsIgnoreAsciiCase(ASource->GetString(kBookSourceGroup), ALowerFilter) ||
         ContainsIgnoreAsciiCase(ASource->GetString(kBookSourceName), ALowerFilter);
}

std::vector<JSONObject*> TSourceCollection::FilterLocked(const String& AFilterText) {
  const String filter = LowerCaseAscii(AFilterText);
  const int n = FData->Count();
  std::vector<JSONObject*> shown;
  shown.reserve(size_t(n));
  for (int i = 0; i < n; ++i) {
    JSONObject* source = ObjectAt(*FData, i);
    if (source && MatchesFilter(source, filter)) shown.push_back(source);
  }
  return shown;
}

std::vector<JSONObject*> TSourceCollection::Filter(const String& AFilterText) {
  std::lock_guard<std::mutex> lock(FLock);
  return FilterLocked(AFilterText);
}

// ---------------------------------------------------------------- changes

bool TSourceCollection::Contains(const JSONObject* ASource) {
  if (!ASource) return false;
  std::lock_guard<std::mutex> lock(FLock);
  return FData->IndexOfObject(ASource) >= 0;
}

void TSourceCollection::Add(JSONObject* ASource) {
  std::lock_guard<std::mutex> lock(FLock);
  if (FData->IndexOfObject(ASource) >= 0) return;
  FData->Add(static_cast<JSONBase*>(ASource));
  RecordInsertLocked(FData->Count() - 1, {ASource});
}

JSONObject* TSourceCollection::AddCopy(const JSONObject* ASource, const String& AName) {
  std::lock_guard<std::mutex> lock(FLock);
  JSONObject* copy = FData->AddChildObject();
  copy->Parse(ASource->ToString(), false);
  copy->SetString(kBookSourceName, AName);
  RecordInsertLocked(FData->Count() - 1, {copy});
  return copy;
}

std::vector<JSONBase*> TSourceCollection::ExtractLocked(const std::vector<int>& AIndexes) {
  std::vector<int> positions;
  if (RecordingLocked()) {
    // The positions of what ExtractItems takes: containers, each index once.
    for (int i : AIndexes)
      if (i >= 0 && i < FData->Count() && FData->GetItems(i)->GetObject() && (positions.empty() || positions.back() < i))
        positions.push_back(i);
  }
  std::vector<JSONBase*> taken = FData->ExtractItems(AIndexes);
  if (RecordingLocked() && !taken.empty()) {
    // The remover frees them until it hands them over through Release.
    auto step = std::make_unique<TSourcesStep>(false, std::move(positions), taken);
    step->MarkForeign();
    FForeignSteps.push_back(step.get());
    RecordLocked(std::move(step));
  }
  return taken;
}

void TSourceCollection::Release(std::vector<JSONBase*>& ASources) {
  if (ASources.empty()) return;
  if (OnSourcesLeaving) OnSourcesLeaving(ASources);
  std::lock_guard<std::mutex> lock(FLock);
  if (FForeignSteps.empty()) {
    for (JSONBase* source : ASources) delete source;
  } else {
    // What an undo entry recorded stays alive there.
    std::unordered_set<JSONBase*> released(ASources.begin(), ASources.end());
    for (auto it = FForeignSteps.begin(); it != FForeignSteps.end();) {
      (*it)->Claim(released);
      it = (*it)->Ready() ? FForeignSteps.erase(it) : it + 1;
    }
    for (JSONBase* source : ASources)
      if (released.count(source)) delete source;
  }
  ASources.clear();
}

int TSourceCollection::RemoveAt(const std::vector<int>& AIndexes) {
  std::vector<JSONBase*> gone;
  {
    std::lock_guard<std::mutex> lock(FLock);
    gone = ExtractLocked(AIndexes);
  }
  const int count = int(gone.size());
  Release(gone);
  return count;
}

int TSourceCollection::RemoveWhere(const std::function<bool(const JSONObject*)>& APredicate) {
  std::vector<JSONBase*> gone;
  {
    std::lock_guard<std::mutex> lock(FLock);
    std::vector<int> indexes;
    for (int i = 0; i < FData->Count(); ++i)
      if (APredicate(ObjectAt(*FData, i))) indexes.push_back(i);
    // One pass by position: the same text twice is still two sources.
    if (!indexes.empty()) gone = ExtractLocked(indexes);
  }
  const int count = int(gone.size());
  Release(gone);
  return count;
}

void TSourceCollection::RemoveAll() {
  RemoveWhere([](const JSONObject*) { return true; });
}

void TSourceCollection::Sort(TSourceSortKey AKey) {
  const StringView key = AKey == sskGroup ? StringView(kBookSourceGroup) : StringView(kBookSourceName);
  std::lock_guard<std::mutex> lock(FLock);
  // For undo the new order is kept as positions, not as copies.
  std::unordered_map<const JSONBase*, int> before;
  if (RecordingLocked()) {
    before.reserve(size_t(FData->Count()));
    for (int i = 0; i < FData->Count(); ++i) before.emplace(FData->GetItems(i)->GetObject(), i);
  }
  FData->Sort([key](PJSONValue A, PJSONValue B) -> int {
    JSONBase* a = A ? A->GetObject() : nullptr;
    JSONBase* b = B ? B->GetObject() : nullptr;
    if (!a || !b || !a->IsJSONObject() || !b->IsJSONObject()) return 0;
    String x = static_cast<JSONObject*>(a)->GetString(key);
    String y = static_cast<JSONObject*>(b)->GetString(key);
    return x.compare(y) < 0 ? -1 : (x == y ? 0 : 1);
  });
  if (!RecordingLocked() || before.size() != size_t(FData->Count())) return;
  std::vector<int> order(before.size());
  bool moved = false;
  for (int i = 0; i < FData->Count(); ++i) {
    order[size_t(i)] = before[FData->GetItems(i)->GetObject()];
    moved = moved || order[size_t(i)] != i;
  }
  if (moved) RecordLocked(std::make_unique<TOrderStep>(std::move(order)));
}

bool TSourceCollection::Reorder(const std::vector<int>& AOrder) {
  std::lock_guard<std::mutex> lock(FLock);
  const size_t n = size_t(FData->Count());
  if (AOrder.size() != n) return false;
  std::vector<char> seen(n, 0);
  bool moved = false;
  for (size_t i = 0; i < n; ++i) {
    const int from = AOrder[i];
    if (from < 0 || size_t(from) >= n || seen[size_t(from)]) return false;
    seen[size_t(from)] = 1;
    moved = moved || size_t(from) != i;
  }
  if (!moved) return true;
  auto step = std::make_unique<TOrderStep>(AOrder);
  std::vector<JSONBase*> none;
  step->Redo(*FData, none);
  if (RecordingLocked()) RecordLocked(std::move(step));
  return true;
}

void TSourceCollection::ReplaceGroups(const TReplaceGroupInput& AInput) {
  if (!IsGroupRenameUseful(AInput)) return;
  std::lock_guard<std::mutex> lock(FLock);
  TRewriteStep* step = nullptr;
  if (RecordingLocked()) {
    auto made = std::make_unique<TRewriteStep>(String(kBookSourceGroup));
    step = made.get();
    RecordLocked(std::move(made));
  }
  for (int i = 0; i < FData->Count(); ++i) {
    JSONObject* source = ObjectAt(*FData, i);
    if (!source) continue;
    if (step) step->NoteBefore(source);
    RenameGroupsOf(source, AInput);
    if (step) step->DropLastIfUnchanged();
  }
}

String TSourceCollection::ExportFileName(String AFileName) {
  if (!HasExtension(AFileName)) AFileName += u".json";
  return AFileName;
}

void TSourceCollection::Export(String AFileName) {
  AFileName = ExportFileName(AFileName);
  std::lock_guard<std::mutex> lock(FLock);
  FData->SaveToFile(AFileName, 4, teUTF8, false);
}

// ---------------------------------------------------------------- undo

void TSourceCollection::RecordLocked(std::unique_ptr<TUndoStep> AStep) { FOpen->Steps.push_back(std::move(AStep)); }

void TSourceCollection::RecordInsertLocked(int AFirst, std::vector<JSONBase*> ASources) {
  if (!RecordingLocked() || ASources.empty()) return;
  std::vector<int> positions(ASources.size());
  for (size_t i = 0; i < positions.size(); ++i) positions[i] = AFirst + int(i);
  RecordLocked(std::make_unique<TSourcesStep>(true, std::move(positions), std::move(ASources)));
}

void TSourceCollection::NoteRewriteLocked(JSONObject* ASource, StringView AKey) {
  if (!RecordingLocked() || !ASource) return;
  // A run notes thousands of sources: they share one step while nothing else comes between.
  auto* last = FOpen->Steps.empty() ? nullptr : dynamic_cast<TRewriteStep*>(FOpen->Steps.back().get());
  if (!last || last->Key() != AKey) {
    auto made = std::make_unique<TRewriteStep>(String(AKey));
    last = made.get();
    RecordLocked(std::move(made));
  }
  last->NoteBefore(ASource);
}

void TSourceCollection::NoteGroupWriteLocked(JSONObject* ASource) { NoteRewriteLocked(ASource, kBookSourceGroup); }

void TSourceCollection::DropEntriesLocked(std::vector<std::unique_ptr<TUndoEntry>> AEntries) {
  if (AEntries.empty()) return;
  if (!FForeignSteps.empty()) {
    for (const auto& entry : AEntries)
      for (const auto& step : entry->Steps)
        FForeignSteps.erase(std::remove(FForeignSteps.begin(), FForeignSteps.end(), step.get()), FForeignSteps.end());
  }
  // The removed sources they kept go with them.
  AEntries.clear();
}

void TSourceCollection::BeginChange(const String& ACaption) {
  std::lock_guard<std::mutex> lock(FLock);
  if (FChangeDepth++ > 0) return;
  FOpen = std::make_unique<TUndoEntry>();
  FOpen->Caption = ACaption;
}

void TSourceCollection::EndChange() {
  std::lock_guard<std::mutex> lock(FLock);
  if (FChangeDepth == 0 || --FChangeDepth > 0) return;
  std::unique_ptr<TUndoEntry> entry = std::move(FOpen);
  for (auto& step : entry->Steps) step->Finish();
  std::erase_if(entry->Steps, [](const auto& AStep) { return AStep->Empty(); });
  if (entry->Steps.empty()) return;
  entry->RevisionBefore = FRevision;
  FRevision = ++FLastRevision;
  entry->RevisionAfter = FRevision;
  DropEntriesLocked(FUndo.Push(std::move(entry)));
}

bool TSourceCollection::CanUndo() {
  std::lock_guard<std::mutex> lock(FLock);
  const TUndoEntry* entry = FUndo.NextUndo();
  return FChangeDepth == 0 && entry && entry->Ready();
}

bool TSourceCollection::CanRedo() {
  std::lock_guard<std::mutex> lock(FLock);
  const TUndoEntry* entry = FUndo.NextRedo();
  return FChangeDepth == 0 && entry && entry->Ready();
}

String TSourceCollection::UndoCaption() {
  std::lock_guard<std::mutex> lock(FLock);
  const TUndoEntry* entry = FUndo.NextUndo();
  return entry ? entry->Caption : String();
}

String TSourceCollection::RedoCaption() {
  std::lock_guard<std::mutex> lock(FLock);
  const TUndoEntry* entry = FUndo.NextRedo();
  return entry ? entry->Caption : String();
}

bool TSourceCollection::Undo() {
  std::vector<JSONBase*> leaving;
  {
    std::lock_guard<std::mutex> lock(FLock);
    TUndoEntry* entry = FUndo.NextUndo();
    if (FChangeDepth > 0 || !entry || !entry->Ready()) return false;
    for (auto it = entry->Steps.rbegin(); it != entry->Steps.rend(); ++it) (*it)->Undo(*FData, leaving);
    FUndo.Undone();
    FRevision = entry->RevisionBefore;
  }
  if (!leaving.empty() && OnSourcesLeaving) OnSourcesLeaving(leaving);
  return true;
}

bool TSourceCollection::Redo() {
  std::vector<JSONBase*> leaving;
  {
    std::lock_guard<std::mutex> lock(FLock);
    TUndoEntry* entry = FUndo.NextRedo();
    if (FChangeDepth > 0 || !entry || !entry->Ready()) return false;
    for (auto& step : entry->Steps) step->Redo(*FData, leaving);
    FUndo.Redone();
    FRevision = entry->RevisionAfter;
  }
  if (!leaving.empty() && OnSourcesLeaving) OnSourcesLeaving(leaving);
  return true;
}

void TSourceCollection::SetUndoLimit(size_t ALimit) {
  std::lock_guard<std::mutex> lock(FLock);
  DropEntriesLocked(FUndo.SetLimit(ALimit));
}

uint64_t TSourceCollection::Revision() {
  std::lock_guard<std::mutex> lock(FLock);
  return FRevision;
}
