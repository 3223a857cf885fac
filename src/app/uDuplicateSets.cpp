#include "app/uDuplicateSets.h"

#include <algorithm>
#include <chrono>
#include <numeric>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "app/uMainLogic.h"
#include "app/uRemoveRepeat.h"
#include "app/uSiteKey.h"
#include "app/uSourceCollection.h"
#include "json/KivJson.h"
#include "support/KivStr.h"
#include "support/KivStream.h"
#include "workers/KivWorker.h"

namespace {

constexpr char16_t kBookSourceUrl[] = u"bookSourceUrl";
constexpr char16_t kBookSourceName[] = u"bookSourceName";
constexpr char16_t kBookSourceGroup[] = u"bookSourceGroup";
// The app writes this when it never measured the source.
constexpr int64_t kRespondTimeUnmeasured = 180000;
// Progress is published every this many sources.
constexpr int kProgressStep = 1024;

// A text member without a copy when it is stored as a string.
StringView TextOf(const JSONObject* ASource, StringView AKey, String& AOwned) {
  PJSONValue v = ASource->GetItem(AKey);
  if (!v) return StringView();
  if (v->Type() == jdtString)
    return StringView(reinterpret_cast<const char16_t*>(v->ValueData()), v->ValueSize() / 2);
  AOwned = v->AsString();
  return AOwned;
}

// A member of another type than expected reads as absent here: a broken
// file must not end a scan.
int64_t IntOf(const JSONObject* ASource, StringView AKey, int64_t ADefault) {
  try {
    PJSONValue v = ASource->GetItem(AKey);
    if (!v || v->Type() == jdtNull || v->Type() == jdtObject) return ADefault;
    return v->AsInt64();
  } catch (const Exception&) {
    return ADefault;
  }
}

bool NonEmptyValue(PJSONValue AValue) {
  switch (AValue->Type()) {
    case jdtNull:
    case jdtUnknown:
      return false;
    case jdtString:
      return !Trim(AValue->AsString()).empty();
    case jdtObject:
      return AValue->GetObject() && AValue->GetObject()->Count() > 0;
    default:
      return true;
  }
}

bool IsRuleObjectName(StringView AName) {
  for (StringView n : {u"ruleSearch", u"ruleExplore", u"ruleBookInfo", u"ruleToc", u"ruleContent", u"ruleReview"})
    if (SameTextAscii(AName, n)) return true;
  return false;
}

bool IsRequestName(StringView AName) {
  return SameTextAscii(AName, u"searchUrl") || SameTextAscii(AName, u"exploreUrl") ||
         SameTextAscii(AName, u"bookUrlPattern");
}

int NonEmptyMembers(const JSONBase* AObject) {
  int count = 0;
  for (PJSONValue v : *AObject)
    if (NonEmptyValue(v)) ++count;
  return count;
}

// The members of a rule object, stored as an object or as the text of one.
int RuleObjectMembers(PJSONValue AValue) {
  if (AValue->Type() == jdtObject) {
    const JSONBase* object = AValue->GetObject();
    return object && object->IsJSONObject() ? NonEmptyMembers(object) : 0;
  }
  if (AValue->Type() != jdtString) return 0;
  std::unique_ptr<JSONObject> parsed(JSONBase::ParseObject(AValue->AsString(), false));
  return parsed ? NonEmptyMembers(parsed.get()) : 0;
}

template <class TKeyOf>
void GroupByKey(const std::vector<const JSONObject*>& ASources, TDuplicateMode AMode, TKeyOf AKeyOf,
                const std::function<bool(int, int)>& AProgress, TDuplicateScan& AScan) {
  const int n = int(ASources.size());
  std::unordered_map<String, int> firstOf;  // key -> first position, or -(set index) - 2 once a set
  firstOf.reserve(size_t(n));
  for (int i = 0; i < n; ++i) {
    if ((i % kProgressStep) == 0 && AProgress && !AProgress(i, n)) {
      AScan.Stopped = true;
      return;
    }
    const JSONObject* source = ASources[size_t(i)];
    if (!source) continue;
    String key = AKeyOf(source);
    auto [it, fresh] = firstOf.try_emplace(std::move(key), i);
    if (fresh) continue;
    if (it->second >= 0) {
      TDuplicateSet set;
      set.Mode = AMode;
      set.Key = it->first;
      set.Members.push_back({it->second, ASources[size_t(it->second)]});
      it->second = -int(AScan.Sets.size()) - 2;
      AScan.Sets.push_back(std::move(set));
    }
    AScan.Sets[size_t(-it->second - 2)].Members.push_back({i, source});
  }
}

void GroupByRules(const std::vector<const JSONObject*>& ASources, bool ARealDedupe,
                  const std::function<bool(int, int)>& AProgress, TDuplicateScan& AScan) {
  // Sources that repeat each other hash alike (RepeatHash's promise): the
  // scan needs to see only those whose hash another source shares.
  std::vector<uint64_t> hash(ASources.size());
  std::unordered_map<uint64_t, int> count;
  count.reserve(ASources.size());
  for (size_t i = 0; i < ASources.size(); ++i) {
    if ((i % kProgressStep) == 0 && AProgress && !AProgress(0, int(ASources.size()))) {
      AScan.Stopped = true;
      return;
    }
    // The rule compares objects only; other elements take no part.
    if (ASources[i]) ++count[hash[i] = RepeatHash(ASources[i], ARealDedupe)];
  }
  std::vector<const JSONObject*> shared;
  std::vector<int> positionOf;
  for (size_t i = 0; i < ASources.size(); ++i)
    if (ASources[i] && count[hash[i]] > 1) {
      shared.push_back(ASources[i]);
      positionOf.push_back(int(i));
    }
  // The batch run's scan says which copies go; each is then put with the
  // copy that made it go: the earliest kept one it repeats, as the scan has it.
  const TRepeatScanResult scan = ScanRepeats(shared, ARealDedupe, [&](int ASettled, int ARemaining) {
    return !AProgress || AProgress(ASettled, ARemaining);
  });
  if (scan.Stopped) {
    AScan.Stopped = true;
    return;
  }
  if (scan.Removed.empty()) return;
  const size_t n = shared.size();
  std::vector<char> removed(n, 0);
  for (int r : scan.Removed) removed[size_t(r)] = 1;
  std::unordered_map<uint64_t, std::vector<int>> keptByHash;
  for (size_t i = 0; i < n; ++i)
    if (!removed[i]) keptByHash[hash[size_t(positionOf[i])]].push_back(int(i));
  std::unordered_map<int, int> setOfKept;
  for (int r : scan.Removed) {
    for (int k : keptByHash[hash[size_t(positionOf[size_t(r)])]]) {
      if (k > r) break;
      if (!IsRepeat(shared[size_t(k)], shared[size_t(r)], ARealDedupe)) continue;
      auto [it, fresh] = setOfKept.try_emplace(k, int(AScan.Sets.size()));
      if (fresh) {
        TDuplicateSet set;
        set.Mode = TDuplicateMode::Rules;
        String owned;
        set.Key = String(TextOf(shared[size_t(k)], kBookSourceUrl, owned));
        set.Members.push_back({positionOf[size_t(k)], shared[size_t(k)]});
        AScan.Sets.push_back(std::move(set));
      }
      AScan.Sets[size_t(it->second)].Members.push_back({positionOf[size_t(r)], shared[size_t(r)]});
      break;
    }
  }
}

}  // namespace

// ---------------------------------------------------------------- names

const char* DuplicateModeName(TDuplicateMode AMode) {
  switch (AMode) {
    case TDuplicateMode::Address:
      return "address";
    case TDuplicateMode::Site:
      return "site";
    default:
      return "rules";
  }
}

const char* KeepPolicyName(TKeepPolicy APolicy) {
  switch (APolicy) {
    case TKeepPolicy::Last:
      return "last";
    case TKeepPolicy::Newest:
      return "newest";
    case TKeepPolicy::Richest:
      return "richest";
    case TKeepPolicy::Fastest:
      return "fastest";
    default:
      return "first";
  }
}

bool ParseDuplicateMode(std::string_view AName, TDuplicateMode& AMode) {
  for (TDuplicateMode m : {TDuplicateMode::Rules, TDuplicateMode::Address, TDuplicateMode::Site})
    if (AName == DuplicateModeName(m)) {
      AMode = m;
      return true;
    }
  return false;
}

bool ParseKeepPolicy(std::string_view AName, TKeepPolicy& APolicy) {
  for (TKeepPolicy p :
       {TKeepPolicy::First, TKeepPolicy::Last, TKeepPolicy::Newest, TKeepPolicy::Richest, TKeepPolicy::Fastest})
    if (AName == KeepPolicyName(p)) {
      APolicy = p;
      return true;
    }
  return false;
}

// ---------------------------------------------------------------- the scan

int TDuplicateScan::Surplus() const {
  int count = 0;
  for (const TDuplicateSet& s : Sets) count += int(s.Members.size()) - 1;
  return count;
}

TDuplicateScan FindDuplicateSets(const std::vector<const JSONObject*>& ASources, const TDuplicateOptions& AOptions,
                                 const std::function<bool(int, int)>& AProgress) {
  TDuplicateScan scan;
  switch (AOptions.Mode) {
    case TDuplicateMode::Rules:
      GroupByRules(ASources, AOptions.RealDedupe, AProgress, scan);
      break;
    case TDuplicateMode::Address:
      // The reader app's identity of a source: the exact text.
      GroupByKey(
          ASources, AOptions.Mode,
          [](const JSONObject* ASource) {
            String owned;
            return String(TextOf(ASource, kBookSourceUrl, owned));
          },
          AProgress, scan);
      break;
    case TDuplicateMode::Site:
      GroupByKey(
          ASources, AOptions.Mode,
          [](const JSONObject* ASource) {
            String owned;
            return SiteKey(TextOf(ASource, kBookSourceUrl, owned));
          },
          AProgress, scan);
      break;
  }
  if (scan.Stopped) {
    scan.Sets.clear();
    return scan;
  }
  std::sort(scan.Sets.begin(), scan.Sets.end(), [](const TDuplicateSet& A, const TDuplicateSet& B) {
    return A.Members.front().Position < B.Members.front().Position;
  });
  for (TDuplicateSet& set : scan.Sets) set.Kept = ChooseKept(set, AOptions.Keep, AOptions.MeasuredMs);
  if (AProgress) AProgress(int(ASources.size()), int(ASources.size()));
  return scan;
}

// ---------------------------------------------------------------- the keep policies

int RichnessOf(const JSONObject* ASource) {
  int count = 0;
  for (PJSONValue v : *ASource) {
    const StringView name = v->Name();
    try {
      if (IsRuleObjectName(name))
        count += RuleObjectMembers(v);
      else if (IsRequestName(name) || StartsTextAscii(name, u"rule"))
        count += NonEmptyValue(v) ? 1 : 0;
    } catch (const Exception&) {
      // A member that cannot be read adds nothing.
    }
  }
  return count;
}

int64_t ProbeTimeOf(const JSONObject* ASource, int64_t AMeasured) {
  if (AMeasured >= 0) return AMeasured;
  if (AMeasured == kProbeFailed) return kNoProbeTime;
  // Only a number is a measurement; a text or anything else is not.
  PJSONValue v = ASource->GetItem(u"respondTime");
  if (!v || (v->Type() != jdtInteger && v->Type() != jdtFloat)) return kNoProbeTime;
  const int64_t respond = v->AsInt64();
  return respond >= 0 && respond < kRespondTimeUnmeasured ? respond : kNoProbeTime;
}

int ChooseKept(const TDuplicateSet& ASet, TKeepPolicy APolicy, const std::vector<int64_t>& AMeasuredMs) {
  const int n = int(ASet.Members.size());
  if (n == 0) return 0;
  // Each policy ranks the members; a later member wins only when strictly better.
  std::function<int64_t(const TDuplicateMember&)> score;
  switch (APolicy) {
    case TKeepPolicy::First:
      return 0;
    case TKeepPolicy::Last:
      return n - 1;
    case TKeepPolicy::Newest:
      score = [](const TDuplicateMember& M) { return IntOf(M.Source, u"lastUpdateTime", 0); };
      break;
    case TKeepPolicy::Richest:
      score = [](const TDuplicateMember& M) { return int64_t(RichnessOf(M.Source)); };
      break;
    case TKeepPolicy::Fastest:
      score = [&AMeasuredMs](const TDuplicateMember& M) {
        const int64_t measured =
            M.Position >= 0 && size_t(M.Position) < AMeasuredMs.size() ? AMeasuredMs[size_t(M.Position)] : kNoProbeTime;
        const int64_t t = ProbeTimeOf(M.Source, measured);
        // Smaller is better; without a time a copy comes last.
        return t < 0 ? INT64_MIN : -t;
      };
      break;
  }
  int best = 0;
  int64_t bestScore = score(ASet.Members[0]);
  for (int i = 1; i < n; ++i) {
    const int64_t s = score(ASet.Members[size_t(i)]);
    if (s > bestScore) {
      best = i;
      bestScore = s;
    }
  }
  return best;
}

std::vector<int64_t> MeasuredTimes(const std::vector<TCheckOutcome>& AOutcomes,
                                   const std::vector<const JSONObject*>& ASources) {
  std::vector<int64_t> times(ASources.size(), kNoProbeTime);
  for (const TCheckOutcome& o : AOutcomes) {
    if (o.Position < 0 || size_t(o.Position) >= ASources.size() || o.Skipped) continue;
    const JSONObject* source = ASources[size_t(o.Position)];
    String owned;
    if (!source || TextOf(source, kBookSourceUrl, owned) != StringView(o.BookSourceUrl)) continue;
    // A dead copy is slowest; one the check could not judge keeps its respondTime.
    times[size_t(o.Position)] = o.Alive()               ? std::max<int64_t>(o.ElapsedMs, 0)
                                : o.Verdict == cvDead ? kProbeFailed
                                                      : kNoProbeTime;
  }
  return times;
}

// ---------------------------------------------------------------- texts

String DuplicateReasonText(const TDuplicateSet& ASet, bool ARealDedupe) {
  switch (ASet.Mode) {
    case TDuplicateMode::Address:
      return u"地址相同：" + ASet.Key;
    case TDuplicateMode::Site:
      return u"站点相同：" + ASet.Key;
    default:
      return ARealDedupe ? String(u"规则相同（不比较名称和分组）") : String(u"规则、名称和分组相同");
  }
}

String DuplicateMemberText(const JSONObject* ASource) {
  String a, b, c;
  try {
    return Format(u"【%s】%s  %s", String(TextOf(ASource, kBookSourceGroup, a)),
                  String(TextOf(ASource, kBookSourceName, b)), String(TextOf(ASource, kBookSourceUrl, c)));
  } catch (const Exception&) {
    return String();
  }
}

String DuplicateSetsText(const std::vector<TDuplicateSet>& ASets, bool ARealDedupe) {
  String out;
  int number = 0;
  for (const TDuplicateSet& set : ASets) {
    out += Format(u"%d. %s%s\r\n", ++number, DuplicateReasonText(set, ARealDedupe),
                  set.Remove ? String() : String(u"（保留全部）"));
    for (int i = 0; i < int(set.Members.size()); ++i) {
      const TDuplicateMember& m = set.Members[size_t(i)];
      out += Format(u"   %s #%d %s\r\n", i == set.Kept ? String(u"保留") : String(u"删除"), m.Position + 1,
                    DuplicateMemberText(m.Source));
    }
  }
  return out;
}

Bytes DuplicateReportJson(const std::vector<TDuplicateSet>& ASets) {
  JSONArray list;
  auto describe = [](JSONObject* AItem, const TDuplicateMember& AMember) {
    String a, b;
    AItem->SetInt(u"position", AMember.Position + 1);
    AItem->SetString(kBookSourceName, String(TextOf(AMember.Source, kBookSourceName, a)));
    AItem->SetString(kBookSourceUrl, String(TextOf(AMember.Source, kBookSourceUrl, b)));
  };
  for (const TDuplicateSet& set : ASets) {
    JSONObject* item = list.AddChildObject();
    item->SetString(u"reason", FromUtf8(DuplicateModeName(set.Mode)));
    item->SetString(u"key", set.Key);
    describe(item->AddChildObject(u"kept"), set.KeptMember());
    JSONArray* removed = item->AddChildArray(u"removed");
    for (int i = 0; i < int(set.Members.size()); ++i)
      if (i != set.Kept && set.Remove) describe(removed->AddChildObject(), set.Members[size_t(i)]);
  }
  TMemoryStream mem;
  list.SaveToStream(mem, 4, teUTF8, false, false);
  return mem.Data();
}

// ---------------------------------------------------------------- removal

std::vector<const JSONObject*> SourcesOf(TSourceCollection& ASources) {
  std::lock_guard<std::mutex> lock(ASources.Lock());
  JSONArray& all = ASources.Data();
  std::vector<const JSONObject*> sources;
  sources.reserve(size_t(all.Count()));
  for (int i = 0; i < all.Count(); ++i) {
    JSONBase* item = all.GetItems(i)->GetObject();
    sources.push_back(item && item->IsJSONObject() ? static_cast<JSONObject*>(item) : nullptr);
  }
  return sources;
}

int RemoveDuplicateSets(TMainLogic& ALogic, const std::vector<TDuplicateSet>& ASets) {
  TSourceCollection& collection = ALogic.Sources();
  // Where each source stands now, found by identity: nothing is read
  // through a pointer that may have gone.
  std::unordered_map<const JSONObject*, int> positionOf;
  std::vector<int> order;
  {
    std::lock_guard<std::mutex> lock(collection.Lock());
    JSONArray& all = collection.Data();
    positionOf.reserve(size_t(all.Count()));
    for (int i = 0; i < all.Count(); ++i)
      if (JSONBase* item = all.GetItems(i)->GetObject()) positionOf.emplace(static_cast<JSONObject*>(item), i);
    order.resize(size_t(all.Count()));
  }
  std::iota(order.begin(), order.end(), 0);
  std::unordered_set<const JSONObject*> leaving;
  for (const TDuplicateSet& set : ASets) {
    if (!set.Remove || set.Members.size() < 2) continue;
    auto kept = positionOf.find(set.KeptMember().Source);
    if (kept == positionOf.end()) continue;
    int first = kept->second;
    for (const TDuplicateMember& m : set.Members) {
      auto it = positionOf.find(m.Source);
      if (it == positionOf.end() || m.Source == set.KeptMember().Source) continue;
      first = std::min(first, it->second);
      leaving.insert(m.Source);
    }
    // The kept copy changes places with the first member, which leaves.
    std::swap(order[size_t(first)], order[size_t(kept->second)]);
  }
  if (leaving.empty()) return 0;
  collection.BeginChange(u"删除重复书源");
  int removed = 0;
  try {
    collection.Reorder(order);
    removed = ALogic.RemoveSources([&](const JSONObject* ASource) { return leaving.count(ASource) > 0; });
  } catch (...) {
    collection.EndChange();
    ALogic.NotifyListChange(lcSourcesChanged);
    throw;
  }
  collection.EndChange();
  // RemoveSources has refreshed the list; the entry filed since changes the file state.
  ALogic.NotifyListChange(lcViewChanged);
  return removed;
}

// ---------------------------------------------------------------- the job

TDuplicateScanJob::~TDuplicateScanJob() {
  FStop = true;
  if (!FStarted) return;
  while (GlobalWorkers->Clear(static_cast<void*>(this), -1, true) > 0) {
  }
  // Cleared before it ran: nothing else will say it is done.
  FDone = true;
}

void TDuplicateScanJob::Start(TSourceCollection& ASources, TDuplicateOptions AOptions) {
  FSources = SourcesOf(ASources);
  FOptions = std::move(AOptions);
  FStop = false;
  FDone = false;
  FPosition = 0;
  FMax = int(FSources.size());
  FStarted = true;
  GlobalWorkers->Post(MakeJobProc<&TDuplicateScanJob::Execute>(this), nullptr, false);
}

void TDuplicateScanJob::Execute(PJob AJob) {
  TDuplicateScan scan;
  String error;
  try {
    scan = FindDuplicateSets(FSources, FOptions, [&](int ADone, int ATotal) {
      FPosition = ADone;
      FMax = ATotal;
      return !FStop.load() && !AJob->IsTerminated();
    });
  } catch (const Exception& E) {
    error = E.Message();
  } catch (const std::exception& E) {
    error = FromUtf8(E.what());
  }
  {
    std::lock_guard<std::mutex> lock(FLock);
    FResult = std::move(scan);
    FError = std::move(error);
  }
  FDone.store(true, std::memory_order_release);
}

TDuplicateScan TDuplicateScanJob::TakeResult() {
  std::lock_guard<std::mutex> lock(FLock);
  return std::move(FResult);
}

String TDuplicateScanJob::Error() {
  std::lock_guard<std::mutex> lock(FLock);
  return FError;
}

void TDuplicateScanJob::WaitDone(const std::function<void()>& ATick) {
  while (!Done()) {
    if (ATick) ATick();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}
