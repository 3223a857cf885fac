#include "app/uSourceCollection.h"

#include <algorithm>

#include "app/uBookSourceBean.h"
#include "app/uGroupIndex.h"
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

std::unique_ptr<JSONArray> TSourceCollection::LoadFile(const String& AFileName) {
  TFileStream file(AFileName, TFileStream::fmOpenRead);
  return SourcesOfRoot(JSONBase::Parser(file, true), AFileName);
}

std::unique_ptr<JSONArray> TSourceCollection::LoadStream(TStream& AStream, const String& AName) {
  return SourcesOfRoot(JSONBase::Parser(AStream, true), AName);
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
  for (JSONBase* source : sources) {
    try {
      CountGroupsOf(static_cast<JSONObject*>(source));
    } catch (const Exception&) {
    }
    FData->Add(source);
  }
  return int(sources.size());
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
  if (FData->IndexOfObject(ASource) < 0) FData->Add(static_cast<JSONBase*>(ASource));
}

JSONObject* TSourceCollection::AddCopy(const JSONObject* ASource, const String& AName) {
  std::lock_guard<std::mutex> lock(FLock);
  JSONObject* copy = FData->AddChildObject();
  copy->Parse(ASource->ToString(), false);
  copy->SetString(kBookSourceName, AName);
  return copy;
}

std::vector<JSONBase*> TSourceCollection::ExtractLocked(const std::vector<int>& AIndexes) {
  return FData->ExtractItems(AIndexes);
}

void TSourceCollection::Release(std::vector<JSONBase*>& ASources) {
  if (ASources.empty()) return;
  if (OnSourcesLeaving) OnSourcesLeaving(ASources);
  std::lock_guard<std::mutex> lock(FLock);
  for (JSONBase* source : ASources) delete source;
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
  FData->Sort([key](PJSONValue A, PJSONValue B) -> int {
    JSONBase* a = A ? A->GetObject() : nullptr;
    JSONBase* b = B ? B->GetObject() : nullptr;
    if (!a || !b || !a->IsJSONObject() || !b->IsJSONObject()) return 0;
    String x = static_cast<JSONObject*>(a)->GetString(key);
    String y = static_cast<JSONObject*>(b)->GetString(key);
    return x.compare(y) < 0 ? -1 : (x == y ? 0 : 1);
  });
}

void TSourceCollection::ReplaceGroups(const TReplaceGroupInput& AInput) {
  if (!IsGroupRenameUseful(AInput)) return;
  std::lock_guard<std::mutex> lock(FLock);
  for (int i = 0; i < FData->Count(); ++i)
    if (JSONObject* source = ObjectAt(*FData, i)) RenameGroupsOf(source, AInput);
}

void TSourceCollection::Export(String AFileName) {
  if (!HasExtension(AFileName)) AFileName += u".json";
  std::lock_guard<std::mutex> lock(FLock);
  FData->SaveToFile(AFileName, 4, teUTF8, false);
}
