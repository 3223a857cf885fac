#include <gtest/gtest.h>

#include <random>

#include "app/uRemoveRepeat.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

// The compared keys, written out again here so the test does not lean on the
// table of the code under test.
const char16_t* const kKeys[] = {
    u"bookSourceUrl",      u"loginUrl",           u"ruleBookContent",    u"httpUserAgent",
    u"ruleBookKind",       u"ruleBookLastChapter", u"ruleBookName",       u"ruleBookUrlPattern",
    u"ruleChapterList",    u"ruleChapterName",    u"ruleChapterUrl",     u"ruleChapterUrlNext",
    u"ruleContentUrl",     u"ruleContentUrlNext", u"ruleCoverUrl",       u"ruleFindUrl",
    u"ruleIntroduce",      u"ruleSearchAuthor",   u"ruleSearchCoverUrl", u"ruleSearchKind",
    u"ruleSearchLastChapter", u"ruleSearchList",  u"ruleSearchName",     u"ruleSearchNoteUrl",
    u"ruleSearchUrl",      u"bookSourceName",     u"bookSourceGroup"};

bool SameRef(const JSONObject* A, const JSONObject* B, bool Real) {
  const int n = Real ? 25 : 27;
  for (int k = 0; k < n; ++k)
    if (LowerCaseAscii(A->GetString(kKeys[k])) != LowerCaseAscii(B->GetString(kKeys[k]))) return false;
  return true;
}

// The scan as first written: every source against every later one, from the end.
std::vector<int> PairwiseRemoved(const std::vector<const JSONObject*>& S, bool Real) {
  std::vector<int> alive(S.size());
  for (size_t i = 0; i < S.size(); ++i) alive[i] = int(i);
  for (size_t i = 0; i < alive.size(); ++i)
    for (size_t j = alive.size() - 1; j > i; --j)
      if (SameRef(S[size_t(alive[i])], S[size_t(alive[j])], Real)) alive.erase(alive.begin() + long(j));
  std::vector<int> removed;
  size_t k = 0;
  for (int i = 0; i < int(S.size()); ++i) {
    if (k < alive.size() && alive[k] == i)
      ++k;
    else
      removed.push_back(i);
  }
  return removed;
}

std::vector<const JSONObject*> View(JSONArray& A) {
  std::vector<const JSONObject*> v;
  for (int i = 0; i < A.Count(); ++i) v.push_back(A.GetJsonObject(i));
  return v;
}

TEST(DuplicateRule, Table) {
  struct Case {
    const char* name;
    const char16_t* a;
    const char16_t* b;
    bool real, repeat;
  } cases[] = {
      {"names differ, real on", u"{\"bookSourceUrl\":\"u\",\"bookSourceName\":\"A\"}",
       u"{\"bookSourceUrl\":\"u\",\"bookSourceName\":\"B\"}", true, true},
      {"names differ, real off", u"{\"bookSourceUrl\":\"u\",\"bookSourceName\":\"A\"}",
       u"{\"bookSourceUrl\":\"u\",\"bookSourceName\":\"B\"}", false, false},
      {"ascii case of url", u"{\"bookSourceUrl\":\"HTTP://X\"}", u"{\"bookSourceUrl\":\"http://x\"}", true, true},
      {"trailing blank", u"{\"bookSourceUrl\":\"http://x \"}", u"{\"bookSourceUrl\":\"http://x\"}", true, false},
      {"only author differs", u"{\"bookSourceUrl\":\"u\",\"ruleBookAuthor\":\"a\"}",
       u"{\"bookSourceUrl\":\"u\",\"ruleBookAuthor\":\"b\"}", true, true},
      {"only weight, enable, serial", u"{\"bookSourceUrl\":\"u\",\"weight\":1,\"enable\":true,\"serialNumber\":3}",
       u"{\"bookSourceUrl\":\"u\",\"weight\":2,\"enable\":false}", true, true},
      {"missing vs empty", u"{\"bookSourceUrl\":\"u\"}", u"{\"bookSourceUrl\":\"u\",\"loginUrl\":\"\"}", true, true},
      {"non-ascii case", u"{\"bookSourceUrl\":\"\u00C9\"}", u"{\"bookSourceUrl\":\"\u00E9\"}", true, false},
      {"full-width letter", u"{\"bookSourceUrl\":\"Ａ\"}", u"{\"bookSourceUrl\":\"ａ\"}", true, false},
      {"groups A and a, real off", u"{\"bookSourceUrl\":\"u\",\"bookSourceGroup\":\"A\"}",
       u"{\"bookSourceUrl\":\"u\",\"bookSourceGroup\":\"a\"}", false, true},
      {"group order, real off", u"{\"bookSourceUrl\":\"u\",\"bookSourceGroup\":\"A; B\"}",
       u"{\"bookSourceUrl\":\"u\",\"bookSourceGroup\":\"B; A\"}", false, false},
      {"last rule field", u"{\"bookSourceUrl\":\"u\",\"ruleSearchUrl\":\"s\"}",
       u"{\"bookSourceUrl\":\"u\",\"ruleSearchUrl\":\"t\"}", true, false},
      {"number vs text", u"{\"bookSourceUrl\":\"u\",\"loginUrl\":12}",
       u"{\"bookSourceUrl\":\"u\",\"loginUrl\":\"12\"}", true, true},
      {"every ASCII letter, word-aligned and tail", u"{\"bookSourceUrl\":\"ABCDEFGHIJKLMNOPQRSTUVWXYZ@[`{\u00C0\"}",
       u"{\"bookSourceUrl\":\"abcdefghijklmnopqrstuvwxyz@[`{\u00C0\"}", true, true},
      {"neighbours of the letters stay apart", u"{\"bookSourceUrl\":\"@@@@[[[[\"}",
       u"{\"bookSourceUrl\":\"````{{{{\"}", true, false},
      {"capitalised member name", u"{\"BookSourceUrl\":\"u\"}", u"{\"bookSourceUrl\":\"U\"}", true, true},
  };
  JsonCaseSensitive = false;
  for (auto& c : cases) {
    JSONObject a, b;
    a.Parse(c.a, false);
    b.Parse(c.b, false);
    EXPECT_EQ(IsRepeat(&a, &b, c.real), c.repeat) << c.name;
    EXPECT_EQ(IsRepeat(&b, &a, c.real), c.repeat) << c.name;
    if (c.repeat) {
      EXPECT_EQ(RepeatHash(&a, c.real), RepeatHash(&b, c.real)) << c.name;
    }
  }
}

TEST(DuplicateScan, FirstOfEachSetStays) {
  JSONArray list;
  list.Parse(
      u"[{\"bookSourceUrl\":\"a\"},{\"bookSourceUrl\":\"b\"},{\"bookSourceUrl\":\"c\"},{\"bookSourceUrl\":\"d\"},"
      u"{\"bookSourceUrl\":\"e\"},{\"bookSourceUrl\":\"A\"},{\"bookSourceUrl\":\"f\"},{\"bookSourceUrl\":\"g\"},"
      u"{\"bookSourceUrl\":\"h\"},{\"bookSourceUrl\":\"a\"}]",
      false);
  TRepeatScanResult r = ScanRepeats(View(list), true, nullptr);
  EXPECT_EQ(r.Removed, (std::vector<int>{5, 9}));
  EXPECT_FALSE(r.Stopped);
}

TEST(DuplicateScan, StopAfterOneStepRemovesOnlyCopiesOfTheFirst) {
  JSONArray list;
  list.Parse(
      u"[{\"bookSourceUrl\":\"a\"},{\"bookSourceUrl\":\"b\"},{\"bookSourceUrl\":\"a\"},{\"bookSourceUrl\":\"b\"}]",
      false);
  std::vector<std::pair<int, int>> steps;
  TRepeatScanResult r = ScanRepeats(View(list), true, [&](int settled, int remaining) {
    steps.push_back({settled, remaining});
    return false;
  });
  EXPECT_TRUE(r.Stopped);
  EXPECT_EQ(r.Removed, (std::vector<int>{2}));
  EXPECT_EQ(steps, (std::vector<std::pair<int, int>>{{1, 3}}));
}

// Random collections full of near-duplicates: the one-pass scan removes
// exactly what the pairwise scan removes, in both modes.
TEST(DuplicateScan, MatchesThePairwiseScanOnRandomNearDuplicates) {
  JsonCaseSensitive = false;
  std::mt19937 rng(12345);
  const char16_t* urls[] = {u"http://a.com", u"HTTP://A.com", u"http://a.com ", u"http://b.com", u"http://\u00C9.cn",
                            u"http://\u00E9.cn"};
  const char16_t* values[] = {u"", u"x", u"X", u"x ", u"\u00E0", u"\u00C0"};
  for (int round = 0; round < 40; ++round) {
    JSONArray list;
    const int n = 20 + int(rng() % 60);
    for (int i = 0; i < n; ++i) {
      JSONObject* o = list.AddChildObject();
      o->SetString(u"bookSourceUrl", urls[rng() % 6]);
      if (rng() % 3) o->SetString(u"loginUrl", values[rng() % 2]);  // missing or empty or x
      if (rng() % 4 == 0) o->SetString(u"ruleSearchUrl", values[rng() % 6]);
      if (rng() % 4 == 0) o->SetString(u"ruleBookContent", values[rng() % 6]);
      o->SetString(u"ruleBookAuthor", values[rng() % 6]);  // never compared
      o->SetString(u"bookSourceName", values[rng() % 3]);
      if (rng() % 2) o->SetString(u"bookSourceGroup", values[rng() % 3]);
      if (rng() % 5 == 0) o->SetInt(u"weight", int(rng() % 3));
    }
    for (bool real : {true, false}) {
      std::vector<const JSONObject*> v = View(list);
      EXPECT_EQ(ScanRepeats(v, real, nullptr).Removed, PairwiseRemoved(v, real)) << round << " " << real;
    }
  }
}

}  // namespace
