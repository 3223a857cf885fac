#include "app/uMergePreview.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "app/uMainLogic.h"
#include "app/uRemoveRepeat.h"
#include "app/uSourceCollection.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

constexpr char16_t kBookSourceUrl[] = u"bookSourceUrl";

StringView AddressOf(const JSONObject* ASource, String& AOwned) {
  PJSONValue v = ASource->GetItem(kBookSourceUrl);
  if (!v) return StringView();
  if (v->Type() == jdtString)
    return StringView(reinterpret_cast<const char16_t*>(v->ValueData()), v->ValueSize() / 2);
  AOwned = v->AsString();
  return AOwned;
}

int64_t UpdateTimeOf(const JSONObject* ASource) {
  try {
    PJSONValue v = ASource->GetItem(u"lastUpdateTime");
    return v && v->Type() != jdtObject && v->Type() != jdtNull ? v->AsInt64() : 0;
  } catch (const Exception&) {
    return 0;
  }
}

// Members that say nothing about how a source reads a site: the app's
// bookkeeping, and the name and group the user gives it.
bool IsBookkeeping(StringView AName) {
  for (StringView n : {u"bookSourceName", u"bookSourceGroup", u"enable", u"enabled", u"enabledExplore",
                       u"enabledCookieJar", u"serialNumber", u"customOrder", u"weight", u"lastUpdateTime",
                       u"respondTime", u"bookSourceComment", u"exploreScreen"})
    if (SameTextAscii(AName, n)) return true;
  return false;
}

// A member's text: strings as they are stored, containers as written, null empty.
StringView MemberText(PJSONValue AValue, String& AOwned) {
  if (AValue->Type() == jdtString)
    return StringView(reinterpret_cast<const char16_t*>(AValue->ValueData()), AValue->ValueSize() / 2);
  try {
    AOwned = AValue->GetObject() ? AValue->GetObject()->ToString() : AValue->Type() == jdtNull ? String()
                                                                                                : AValue->AsString();
  } catch (const Exception&) {
    AOwned = AValue->ToString();
  }
  return AOwned;
}

bool SameIgnoringAsciiCase(StringView A, StringView B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (A[i] != B[i] && LowerAscii(A[i]) != LowerAscii(B[i])) return false;
  return true;
}

// Every member besides the bookkeeping ones reads the same in both (names
// and ASCII letters without case; an empty member counts as absent).
bool SameOutsideBookkeeping(const JSONObject* A, const JSONObject* B) {
  int inA = 0, inB = 0;
  for (PJSONValue v : *A) {
    if (IsBookkeeping(v->Name())) continue;
    String ownA, ownB;
    const StringView a = MemberText(v, ownA);
    if (a.empty()) continue;
    ++inA;
    PJSONValue w = B->GetItem(v->Name());
    if (!w || !SameIgnoringAsciiCase(a, MemberText(w, ownB))) return false;
  }
  for (PJSONValue w : *B) {
    String own;
    if (!IsBookkeeping(w->Name()) && !MemberText(w, own).empty()) ++inB;
  }
  return inA == inB;
}

// Same rules: the duplicate rule without names and groups, and, as long as
// that rule reads only the flat format's fields, every other member besides
// the bookkeeping ones (the current format's rule objects, searchUrl, ...).
bool SameRules(const JSONObject* A, const JSONObject* B) {
  return IsRepeat(A, B, true) && SameOutsideBookkeeping(A, B);
}

// ATarget's own member AKey (or its absence) into AResult.
void KeepMember(JSONObject& AResult, const JSONObject* ATarget, StringView AKey) {
  PJSONValue mine = ATarget->GetItem(AKey);
  PJSONValue theirs = AResult.GetItem(AKey);
  if (!mine) {
    while (AResult.Contains(AKey)) AResult.Delete(AKey);
    return;
  }
  if (JSONBase* container = mine->GetObject()) {
    while (AResult.Contains(AKey)) AResult.Delete(AKey);
    AResult.Put(mine->Name(), container->Copy());
    return;
  }
  if (!theirs) theirs = AResult.Add(mine->Name());
  theirs->CopyValue(mine);
}

}  // namespace

int TMergePreview::Count(TMergeKind AKind) const {
  return int(std::count_if(Items.begin(), Items.end(), [AKind](const TMergeItem& I) { return I.Kind == AKind; }));
}

std::vector<const JSONObject*> FileSources(const JSONArray& ALoaded) {
  std::vector<const JSONObject*> sources;
  sources.reserve(size_t(ALoaded.Count()));
  for (int i = 0; i < ALoaded.Count(); ++i) {
    JSONBase* item = ALoaded.GetItems(i)->GetObject();
    const JSONObject* object = item && item->IsJSONObject() ? static_cast<JSONObject*>(item) : nullptr;
    sources.push_back(TSourceCollection::IsSource(object) ? object : nullptr);
  }
  return sources;
}

TMergePreview ClassifyMerge(const std::vector<const JSONObject*>& ACollection,
                            const std::vector<const JSONObject*>& AIncoming) {
  // Views into the sources' own texts: the sources outlive the maps.
  std::vector<String> owned(ACollection.size() + AIncoming.size());
  size_t nextOwned = 0;
  std::unordered_map<StringView, int> positionOf;
  positionOf.reserve(ACollection.size());
  for (size_t i = 0; i < ACollection.size(); ++i)
    if (ACollection[i]) positionOf.try_emplace(AddressOf(ACollection[i], owned[nextOwned++]), int(i));

  // The file's last copy of each address stands for it.
  std::unordered_map<StringView, int> lastOf;
  lastOf.reserve(AIncoming.size());
  std::vector<StringView> addressOf(AIncoming.size());
  for (size_t i = 0; i < AIncoming.size(); ++i) {
    if (!AIncoming[i]) continue;
    addressOf[i] = AddressOf(AIncoming[i], owned[nextOwned++]);
    lastOf[addressOf[i]] = int(i);
  }

  TMergePreview preview;
  for (size_t i = 0; i < AIncoming.size(); ++i) {
    if (!AIncoming[i]) continue;
    if (lastOf[addressOf[i]] != int(i)) {
      ++preview.Superseded;
      continue;
    }
    TMergeItem item;
    item.FileIndex = int(i);
    item.Incoming = AIncoming[i];
    item.IncomingTime = UpdateTimeOf(item.Incoming);
    auto it = positionOf.find(addressOf[i]);
    if (it == positionOf.end()) {
      item.Kind = TMergeKind::New;
    } else {
      item.Position = it->second;
      item.Existing = ACollection[size_t(it->second)];
      item.ExistingTime = UpdateTimeOf(item.Existing);
      item.Kind = SameRules(item.Existing, item.Incoming) ? TMergeKind::Identical : TMergeKind::Changed;
    }
    preview.Items.push_back(item);
  }
  return preview;
}

bool ParseKeepFields(std::string_view AText, TKeepFields& AFields, std::string& AUnknown) {
  AFields = TKeepFields();
  size_t start = 0;
  while (start <= AText.size()) {
    size_t comma = AText.find(',', start);
    if (comma == std::string_view::npos) comma = AText.size();
    const std::string_view word = AText.substr(start, comma - start);
    if (word == "name")
      AFields.Name = true;
    else if (word == "group")
      AFields.Group = true;
    else if (word == "enabled")
      AFields.Enabled = true;
    else if (word == "order")
      AFields.Order = true;
    else if (!word.empty() || AText.empty()) {
      AUnknown = std::string(word);
      return false;
    }
    start = comma + 1;
  }
  return true;
}

void UpdateSourceInPlace(JSONObject* ATarget, const JSONObject* ASource, const TKeepFields& AKeep) {
  std::unique_ptr<JSONObject> result(ASource->Clone());
  if (AKeep.Name) KeepMember(*result, ATarget, u"bookSourceName");
  if (AKeep.Group) KeepMember(*result, ATarget, u"bookSourceGroup");
  if (AKeep.Enabled) {
    KeepMember(*result, ATarget, u"enabled");
    KeepMember(*result, ATarget, u"enable");
  }
  if (AKeep.Order) {
    KeepMember(*result, ATarget, u"customOrder");
    KeepMember(*result, ATarget, u"serialNumber");
  }
  // The text is made before the target is touched: an error leaves it whole.
  const String text = result->ToString();
  ATarget->Parse(text, false);
}

TMergeCounts ApplyMerge(TMainLogic& ALogic, JSONArray& ALoaded, const TMergePreview& APreview, TMergeAction AAction,
                        const TKeepFields& AKeep) {
  TSourceCollection& collection = ALogic.Sources();
  TMergeCounts counts;
  std::vector<int> added;
  for (const TMergeItem& item : APreview.Items) {
    if (item.Kind == TMergeKind::New) added.push_back(item.FileIndex);
    if (item.Kind == TMergeKind::Identical || (item.Kind == TMergeKind::Changed && AAction == TMergeAction::AddNew))
      ++counts.Unchanged;
  }
  collection.BeginChange(AAction == TMergeAction::AddNew ? u"合并书源文件 - 只添加新书源" : u"合并书源文件");
  try {
    if (AAction == TMergeAction::AddNewUpdateChanged) {
      std::lock_guard<std::mutex> lock(collection.Lock());
      JSONArray& all = collection.Data();
      // Only sources still in the collection are written (found by identity).
      std::unordered_set<const JSONBase*> present;
      present.reserve(size_t(all.Count()));
      for (int i = 0; i < all.Count(); ++i) present.insert(all.GetItems(i)->GetObject());
      for (const TMergeItem& item : APreview.Items) {
        if (item.Kind != TMergeKind::Changed || !present.count(item.Existing)) continue;
        auto* target = const_cast<JSONObject*>(item.Existing);
        collection.NoteRewriteLocked(target);
        UpdateSourceInPlace(target, item.Incoming, AKeep);
        ++counts.Updated;
      }
    }
    if (!added.empty()) {
      std::sort(added.begin(), added.end());
      JSONArray picked;
      for (JSONBase* source : ALoaded.ExtractItems(added)) picked.Add(source);
      counts.Added = collection.Merge(picked);
    }
  } catch (...) {
    collection.EndChange();
    ALogic.NotifyListChange(lcSourcesChanged);
    throw;
  }
  collection.EndChange();
  ALogic.NotifyListChange(lcSourcesChanged);
  return counts;
}

String UpdateTimeText(int64_t AMs) {
  if (AMs <= 0) return u"无";
  const std::time_t t = std::time_t(AMs / 1000);
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return IntToStr(AMs);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return FromUtf8(buf);
}
