#include "app/uRemoveRepeat.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "app/uBookSource3.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

// Members that say how a source is kept, not what it is (lower case).
const char16_t* const kBookkeeping[] = {u"enable",          u"enabled",      u"enabledexplore", u"enabledcookiejar",
                                        u"serialnumber",    u"customorder",  u"weight",         u"lastupdatetime",
                                        u"respondtime",     u"booksourcecomment", u"explorescreen"};
// Format 3's rule objects: compared member by member, in either stored form.
const char16_t* const kRuleObjects[] = {u"rulesearch", u"ruleexplore", u"rulebookinfo",
                                        u"ruletoc",    u"rulecontent", u"rulereview"};

String LowerName(StringView AName) {
  String lower(AName);
  for (char16_t& c : lower) c = LowerAscii(c);
  return lower;
}

// AName read with A-Z lower-cased equals ALower; no text is made.
bool NameIs(StringView AName, const char16_t* ALower) {
  size_t i = 0;
  for (; i < AName.size(); ++i)
    if (ALower[i] == 0 || LowerAscii(AName[i]) != ALower[i]) return false;
  return ALower[i] == 0;
}

bool IsIgnored(StringView AName, bool ARealDedupe) {
  for (const char16_t* key : kBookkeeping)
    if (NameIs(AName, key)) return true;
  return ARealDedupe && (NameIs(AName, u"booksourcename") || NameIs(AName, u"booksourcegroup"));
}

bool IsRuleObjectName(StringView AName) {
  for (const char16_t* key : kRuleObjects)
    if (NameIs(AName, key)) return true;
  return false;
}

// Lower-cases A-Z in each of four UTF-16 units at once; nothing else changes.
inline uint64_t LowerAscii4(uint64_t w) {
  const uint64_t lanes = 0x0001000100010001ULL;
  const uint64_t high = 0x8000 * lanes;
  // Lanes at or above 0x8000 are never letters; the rest cannot carry over.
  const uint64_t low = w & ~high;
  const uint64_t geA = (low + (0x8000 - 0x41) * lanes) & high;
  const uint64_t leZ = ~(low + (0x8000 - 0x5B) * lanes) & high;
  const uint64_t upper = geA & leZ & ~w;
  return w | (upper >> 10);
}

inline uint64_t Mix(uint64_t h, uint64_t v) {
  h ^= v;
  h *= 0x9E3779B97F4A7C15ULL;
  return h ^ (h >> 29);
}

// A hash of a text with A-Z lower-cased.
uint64_t TextHash(StringView AText, uint64_t ASeed) {
  uint64_t h = Mix(ASeed, AText.size());
  size_t i = 0;
  for (; i + 4 <= AText.size(); i += 4) {
    uint64_t w;
    std::memcpy(&w, AText.data() + i, 8);
    h = Mix(h, LowerAscii4(w));
  }
  uint64_t tail = 0;
  for (size_t j = 0; i < AText.size(); ++i, ++j) tail |= uint64_t(LowerAscii(AText[i])) << (16 * j);
  return Mix(h, tail);
}

// A member's value as the rule compares it: a string as it is, numbers and
// booleans as their text, null as nothing, other objects and arrays as their
// written text. AOwned keeps a made text alive.
StringView ValueText(PJSONValue AValue, String& AOwned) {
  switch (AValue->Type()) {
    case jdtString:
      return StringView(reinterpret_cast<const char16_t*>(AValue->ValueData()), AValue->ValueSize() / 2);
    case jdtNull:
    case jdtUnknown:
      return StringView();
    default:
      AOwned = AValue->AsString();
      return AOwned;
  }
}

// Visits what the rule compares of a source: each non-empty member as
// (rule, name, text), names as stored; rule is empty for a top-level member
// and the rule object's name for one of its members. An absent member and an
// empty text are alike, so empty ones are left out.
template <class Visit>
void VisitCompared(const JSONObject* ASource, bool ARealDedupe, Visit&& AVisit) {
  for (int i = 0; i < ASource->Count(); ++i) {
    PJSONValue item = ASource->GetItems(i);
    if (!item) continue;
    const StringView name = item->Name();
    if (IsIgnored(name, ARealDedupe)) continue;
    if (IsRuleObjectName(name)) {
      std::unique_ptr<JSONObject> parsed;
      if (const JSONObject* rule = RuleObjectIn(item, parsed)) {
        for (int k = 0; k < rule->Count(); ++k) {
          PJSONValue member = rule->GetItems(k);
          if (!member) continue;
          String owned;
          const StringView text = ValueText(member, owned);
          if (!text.empty()) AVisit(name, member->Name(), text);
        }
        continue;
      }
    }
    String owned;
    const StringView text = ValueText(item, owned);
    if (!text.empty()) AVisit(StringView(), name, text);
  }
}

using TComparedPairs = std::vector<std::pair<String, String>>;

// What IsRepeat compares, in one order: (lower-case name, lower-cased text)
// pairs; a rule object's members are named "rule.member".
TComparedPairs ComparedPairs(const JSONObject* ASource, bool ARealDedupe) {
  TComparedPairs pairs;
  VisitCompared(ASource, ARealDedupe, [&](StringView ARule, StringView AName, StringView AText) {
    String name = ARule.empty() ? LowerName(AName) : LowerName(ARule) + u"." + LowerName(AName);
    pairs.emplace_back(std::move(name), LowerName(AText));
  });
  std::sort(pairs.begin(), pairs.end());
  // A name met twice (members differing only in case) counts once.
  pairs.erase(std::unique(pairs.begin(), pairs.end(),
                          [](const auto& A, const auto& B) { return A.first == B.first; }),
              pairs.end());
  return pairs;
}

}  // namespace

bool IsRepeat(const JSONObject* A, const JSONObject* B, bool ARealDedupe) {
  return ComparedPairs(A, ARealDedupe) == ComparedPairs(B, ARealDedupe);
}

uint64_t RepeatHash(const JSONObject* A, bool ARealDedupe) {
  // Each pair's hash is summed, so the members' order does not count.
  uint64_t sum = 0;
  VisitCompared(A, ARealDedupe, [&](StringView ARule, StringView AName, StringView AText) {
    uint64_t name = TextHash(AName, 0x243F6A8885A308D3ULL);
    if (!ARule.empty()) name = Mix(TextHash(ARule, 0x452821E638D01377ULL), name);
    sum += Mix(name, TextHash(AText, 0x13198A2E03707344ULL));
  });
  return Mix(sum, 0xA4093822299F31D0ULL);
}

TRepeatScanResult ScanRepeats(const std::vector<const JSONObject*>& ASources, bool ARealDedupe,
                              const std::function<bool(int, int)>& AAfterStep) {
  const int n = int(ASources.size());
  // Chains of equal hashes, in list order: only those can repeat each other.
  std::vector<int> next(size_t(n), -1);
  {
    std::unordered_map<uint64_t, int> tail;
    tail.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
      auto [it, fresh] = tail.try_emplace(RepeatHash(ASources[size_t(i)], ARealDedupe), i);
      if (!fresh) {
        next[size_t(it->second)] = i;
        it->second = i;
      }
    }
  }
  TRepeatScanResult result;
  std::vector<char> removed(size_t(n), 0);
  int removedCount = 0, settled = 0;
  for (int i = 0; i < n; ++i) {
    if (removed[size_t(i)]) continue;
    // The head's pairs are made once for its whole chain.
    TComparedPairs head;
    bool headMade = false;
    for (int j = next[size_t(i)]; j >= 0; j = next[size_t(j)]) {
      if (removed[size_t(j)]) continue;
      if (!headMade) {
        head = ComparedPairs(ASources[size_t(i)], ARealDedupe);
        headMade = true;
      }
      if (ComparedPairs(ASources[size_t(j)], ARealDedupe) == head) {
        removed[size_t(j)] = 1;
        ++removedCount;
      }
    }
    ++settled;
    if (AAfterStep && !AAfterStep(settled, n - removedCount)) {
      result.Stopped = true;
      break;
    }
  }
  for (int i = 0; i < n; ++i)
    if (removed[size_t(i)]) result.Removed.push_back(i);
  return result;
}
