#include "app/uRemoveRepeat.h"

#include <unordered_map>

#include "app/uBookSourceBean.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

// Field indexes in comparison order; the last two only with real dedupe off.
constexpr int kCompared[] = {2, 4, 6, 3, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17,
                             18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 1, 0};
constexpr int kComparedAlways = 25;

int ComparedCount(bool ARealDedupe) { return ARealDedupe ? kComparedAlways : kComparedAlways + 2; }

bool SameIgnoringAsciiCase(const String& A, const String& B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (A[i] != B[i] && LowerAscii(A[i]) != LowerAscii(B[i])) return false;
  return true;
}

}  // namespace

bool IsRepeat(const JSONObject* A, const JSONObject* B, bool ARealDedupe) {
  TBookSourceItem a(const_cast<JSONObject*>(A)), b(const_cast<JSONObject*>(B));
  const int n = ComparedCount(ARealDedupe);
  for (int k = 0; k < n; ++k)
    if (!SameIgnoringAsciiCase(a.GetField(kCompared[k]), b.GetField(kCompared[k]))) return false;
  return true;
}

uint64_t RepeatHash(const JSONObject* A, bool ARealDedupe) {
  TBookSourceItem a(const_cast<JSONObject*>(A));
  uint64_t h = 0xcbf29ce484222325ULL;
  auto mix = [&h](uint64_t v) {
    h ^= v;
    h *= 0x100000001b3ULL;
  };
  const int n = ComparedCount(ARealDedupe);
  for (int k = 0; k < n; ++k) {
    const String text = a.GetField(kCompared[k]);
    // The length keeps field boundaries apart ("ab","c" vs "a","bc").
    mix(text.size() | 0x100000000ULL);
    for (char16_t c : text) mix(LowerAscii(c));
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
