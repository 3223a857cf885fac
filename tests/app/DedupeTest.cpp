#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "app/uRemoveRepeat.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

// The rule written out again from its wording, so the test does not lean on
// the code under test: every member but the bookkeeping ones (and name and
// group with real dedupe on), names without case, texts with A-Z lower-cased,
// absent equal to empty, rule objects member by member in either form.
std::map<String, String> Compared(const JSONObject* A, bool Real) {
  static const std::set<String> kSkipped = {u"enable", u"enabled", u"enabledexplore", u"enabledcookiejar",
                                            u"serialnumber", u"customorder", u"weight", u"lastupdatetime",
                                            u"respondtime", u"booksourcecomment", u"explorescreen"};
  static const std::set<String> kRules = {u"rulesearch", u"ruleexplore", u"rulebookinfo",
                                          u"ruletoc", u"rulecontent", u"rulereview"};
  std::map<String, String> out;
  auto put = [&](const String& AName, const String& AText) {
    if (!AText.empty() && !out.count(AName)) out[AName] = LowerCaseAscii(AText);
  };
  for (int i = 0; i < A->Count(); ++i) {
    PJSONValue v = A->GetItems(i);
    const String name = LowerCaseAscii(String(v->Name()));
    if (kSkipped.count(name) || (Real && (name == u"booksourcename" || name == u"booksourcegroup"))) continue;
    JSONObject rule;
    bool isRule = false;
    if (kRules.count(name)) {
      if (v->Type() == jdtObject && v->GetObject()->IsJSONObject()) {
        rule.Parse(v->GetObject()->ToString(), false);
        isRule = true;
      } else if (v->Type() == jdtString && !Trim(v->AsString()).empty() && Trim(v->AsString())[0] == u'{') {
        try {
          rule.Parse(v->AsString(), false);
          isRule = true;
        } catch (const Exception&) {
        }
      }
    }
    if (isRule) {
      for (int k = 0; k < rule.Count(); ++k)
        put(name + u"." + LowerCaseAscii(String(rule.GetItems(k)->Name())),
            rule.GetItems(k)->Type() == jdtNull ? String() : rule.GetItems(k)->AsString());
      continue;
    }
    put(name, v->Type() == jdtNull ? String() : v->AsString());
  }
  return out;
}

bool SameRef(const JSONObject* A, const JSONObject* B, bool Real) { return Compared(A, Real) == Compared(B, Real); }

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
       u"{\"bookSourceUrl\":\"u\",\"ruleBookAuthor\":\"b\"}", true, false},
      {"a member the flat list never had", u"{\"bookSourceUrl\":\"u\",\"bookSourceType\":1}",
       u"{\"bookSourceUrl\":\"u\",\"bookSourceType\":0}", true, false},
      {"bookkeeping members of format 3",
       u"{\"bookSourceUrl\":\"u\",\"enabled\":true,\"customOrder\":3,\"lastUpdateTime\":1,\"respondTime\":9,"
       u"\"bookSourceComment\":\"x\",\"exploreScreen\":\"y\",\"enabledExplore\":true,\"enabledCookieJar\":true}",
       u"{\"bookSourceUrl\":\"u\",\"enabled\":false,\"customOrder\":1,\"lastUpdateTime\":2}", true, true},
      {"rule objects differ in one member", u"{\"bookSourceUrl\":\"u\",\"ruleSearch\":{\"name\":\"a\"}}",
       u"{\"bookSourceUrl\":\"u\",\"ruleSearch\":{\"name\":\"b\"}}", true, false},
      {"rule object as text and in another order",
       u"{\"bookSourceUrl\":\"u\",\"ruleToc\":{\"chapterList\":\"LI\",\"chapterName\":\"a\"}}",
       u"{\"bookSourceUrl\":\"u\",\"ruleToc\":\"{\\\"chapterName\\\":\\\"a\\\",\\\"chapterList\\\":\\\"li\\\",\\\"isVip\\\":\\\"\\\"}\"}",
       true, true},
      {"empty rule object is none", u"{\"bookSourceUrl\":\"u\",\"ruleReview\":{}}", u"{\"bookSourceUrl\":\"u\"}",
       true, true},
      {"other objects by their text", u"{\"bookSourceUrl\":\"u\",\"header\":{\"a\":\"1\",\"b\":\"2\"}}",
       u"{\"bookSourceUrl\":\"u\",\"header\":{\"b\":\"2\",\"a\":\"1\"}}", true, false},
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
      o->SetString(u"ruleBookAuthor", values[rng() % 6]);
      if (rng() % 3 == 0) o->SetInt(u"customOrder", int(rng() % 3));  // bookkeeping
      if (rng() % 4 == 0) {
        JSONObject* rule = o->AddChildObject(u"ruleSearch");
        rule->SetString(u"name", values[rng() % 6]);
        if (rng() % 2) rule->SetString(u"bookList", values[rng() % 2]);
      }
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
