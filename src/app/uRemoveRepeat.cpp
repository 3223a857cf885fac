#include "app/uRemoveRepeat.h"

#include <cstring>
#include <iterator>
#include <unordered_map>

#include "app/uBookSourceBean.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

// The compared fields in comparison order; the last two only with real
// dedupe off. ruleBookAuthor is not among them.
constexpr TBookSourceField kCompared[] = {
    bsfBookSourceUrl, bsfLoginUrl, bsfRuleBookContent, bsfHttpUserAgent,
    bsfRuleBookKind, bsfRuleBookLastChapter, bsfRuleBookName, bsfRuleBookUrlPattern,
    bsfRuleChapterList, bsfRuleChapterName, bsfRuleChapterUrl, bsfRuleChapterUrlNext,
    bsfRuleContentUrl, bsfRuleContentUrlNext, bsfRuleCoverUrl, bsfRuleFindUrl,
    bsfRuleIntroduce, bsfRuleSearchAuthor, bsfRuleSearchCoverUrl, bsfRuleSearchKind,
    bsfRuleSearchLastChapter, bsfRuleSearchList, bsfRuleSearchName, bsfRuleSearchNoteUrl,
    bsfRuleSearchUrl, bsfBookSourceName, bsfBookSourceGroup};
constexpr int kComparedAlways = 25;
static_assert(std::size(kCompared) == kComparedAlways + 2);

int ComparedCount(bool ARealDedupe) { return ARealDedupe ? kComparedAlways : kComparedAlways + 2; }

// The text of one compared field, without a copy when it is stored as a
// string (the common case); other types read as their text form, as the
// record's getters give it.
class TFieldReader {
 public:
  explicit TFieldReader(const JSONObject* A) : FObject(A) {}
  StringView Read(TBookSourceField AField) {
    PJSONValue v = FObject->GetItem(TBookSourceItem::FieldKeys[AField]);
    if (!v) return StringView();
    if (v->Type() == jdtString)
      return StringView(reinterpret_cast<const char16_t*>(v->ValueData()), v->ValueSize() / 2);
    FOwned = v->AsString();
    return FOwned;
  }

 private:
  const JSONObject* FObject;
  String FOwned;
};

bool SameIgnoringAsciiCase(StringView A, StringView B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (A[i] != B[i] && LowerAscii(A[i]) != LowerAscii(B[i])) return false;
  return true;
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

}  // namespace

bool IsRepeat(const JSONObject* A, const JSONObject* B, bool ARealDedupe) {
  TFieldReader a(A), b(B);
  const int n = ComparedCount(ARealDedupe);
  for (int k = 0; k < n; ++k)
    if (!SameIgnoringAsciiCase(a.Read(kCompared[k]), b.Read(kCompared[k]))) return false;
  return true;
}

uint64_t RepeatHash(const JSONObject* A, bool ARealDedupe) {
  TFieldReader a(A);
  uint64_t h = 0x243F6A8885A308D3ULL;
  const int n = ComparedCount(ARealDedupe);
  for (int k = 0; k < n; ++k) {
    const StringView text = a.Read(kCompared[k]);
    // The length keeps field boundaries apart ("ab","c" against "a","bc").
    h = Mix(h, text.size());
    size_t i = 0;
    for (; i + 4 <= text.size(); i += 4) {
      uint64_t w;
      std::memcpy(&w, text.data() + i, 8);
      h = Mix(h, LowerAscii4(w));
    }
    uint64_t tail = 0;
    for (size_t j = 0; i < text.size(); ++i, ++j) tail |= uint64_t(LowerAscii(text[i])) << (16 * j);
    h = Mix(h, tail);
  }
  return h;
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
    for (int j = next[size_t(i)]; j >= 0; j = next[size_t(j)]) {
      if (!removed[size_t(j)] && IsRepeat(ASources[size_t(i)], ASources[size_t(j)], ARealDedupe)) {
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
