// Duplicates the user steers: the three modes, the keep policies with their
// ties, removal in place, the scan job, and the merge preview with its update
// in place.
#include <gtest/gtest.h>

#include <random>

#include "AppTestUtil.h"
#include "FakeMainWindow.h"
#include "app/uDuplicateSets.h"
#include "app/uMergePreview.h"
#include "app/uRemoveRepeat.h"
#include "json/KivJson.h"
#include "support/KivStream.h"

namespace {

std::unique_ptr<JSONArray> Parse(const std::string& AJson) {
  return std::unique_ptr<JSONArray>(JSONBase::ParseArray(FromUtf8(AJson), true));
}

std::vector<const JSONObject*> View(JSONArray& A) {
  std::vector<const JSONObject*> v;
  for (int i = 0; i < A.Count(); ++i) v.push_back(A.GetJsonObject(i));
  return v;
}

// The sets as positions, the kept one first: {{kept, others...}, ...}.
std::vector<std::vector<int>> Shape(const TDuplicateScan& AScan) {
  std::vector<std::vector<int>> out;
  for (const TDuplicateSet& s : AScan.Sets) {
    std::vector<int> set{s.KeptMember().Position};
    for (int i = 0; i < int(s.Members.size()); ++i)
      if (i != s.Kept) set.push_back(s.Members[size_t(i)].Position);
    out.push_back(set);
  }
  return out;
}

std::vector<String> NamesOf(TMainLogic& ALogic) {
  std::lock_guard<std::mutex> lock(ALogic.Sources().Lock());
  std::vector<String> names;
  JSONArray& data = ALogic.Sources().Data();
  for (int i = 0; i < data.Count(); ++i) names.push_back(data.GetJsonObject(i)->GetString(u"bookSourceName"));
  return names;
}

void Load(TMainLogic& ALogic, const std::string& AJson) {
  TMemoryStream in;
  in.Data() = AJson;
  ALogic.AddSrcStream(in, u"-");
}

std::string Array(std::initializer_list<std::string> ASources) {
  std::string out = "[";
  for (const std::string& s : ASources) out += (out.size() > 1 ? "," : "") + s;
  return out + "]";
}

}  // namespace

// ---------------------------------------------------------------- the modes

TEST(DuplicateModes, EachModeGroupsByItsKey) {
  auto list = Parse(Array({
      Src("a0", "http://a.com"),                                      // 0
      Src("a1", "http://a.com/"),                                     // 1
      Src("a2", "http://a.com"),                                      // 2
      Src("a3", "https://www.A.com#作者"),                            // 3
      Src("b0", "http://b.com", "", "\"ruleBookName\":\"x\""),      // 4
      Src("b1", "HTTP://B.COM", "", "\"ruleBookName\":\"X\""),      // 5
      Src("d0", "-"),                                                 // 6
      Src("a4", "http://a.com "),                                     // 7
  }));
  struct TCase {
    TDuplicateMode Mode;
    std::vector<std::vector<int>> Sets;
  } cases[] = {
      // rules: the duplicate rule (addresses and rules without ASCII case)
      {TDuplicateMode::Rules, {{0, 2}, {4, 5}}},
      // address: the exact text, case and blanks included
      {TDuplicateMode::Address, {{0, 2}}},
      // site: every spelling of a.com; the '-' stays alone
      {TDuplicateMode::Site, {{0, 1, 2, 3, 7}, {4, 5}}},
  };
  for (const TCase& c : cases) {
    TDuplicateOptions options;
    options.Mode = c.Mode;
    const TDuplicateScan scan = FindDuplicateSets(View(*list), options);
    EXPECT_EQ(Shape(scan), c.Sets) << DuplicateModeName(c.Mode);
    for (const TDuplicateSet& s : scan.Sets) EXPECT_EQ(s.Mode, c.Mode);
  }
  TDuplicateOptions site;
  site.Mode = TDuplicateMode::Site;
  const TDuplicateScan scan = FindDuplicateSets(View(*list), site);
  EXPECT_EQ(ToUtf8(scan.Sets[0].Key), "http://a.com");
  EXPECT_EQ(ToUtf8(DuplicateReasonText(scan.Sets[0], true)), "站点相同：http://a.com");
  EXPECT_EQ(scan.Surplus(), 5);
}

// The rule mode removes exactly what the batch run's duplicate removal removes.
TEST(DuplicateModes, RulesModeAgreesWithTheBatchScan) {
  std::mt19937 rng(21);
  for (int round = 0; round < 30; ++round) {
    std::string json = "[";
    const int n = 40 + int(rng() % 80);
    for (int i = 0; i < n; ++i) {
      json += (i ? "," : "") + Src(std::string(1, char('a' + rng() % 3)), "http://h" + std::to_string(rng() % 6),
                                   std::string(1, char('G' + rng() % 2)),
                                   "\"ruleBookName\":\"" + std::string(1, char('x' + rng() % 2)) + "\"");
    }
    auto list = Parse(json + "]");
    for (const bool real : {true, false}) {
      TDuplicateOptions options;
      options.RealDedupe = real;
      const TDuplicateScan scan = FindDuplicateSets(View(*list), options);
      std::vector<int> removed;
      for (const auto& set : Shape(scan)) removed.insert(removed.end(), set.begin() + 1, set.end());
      std::sort(removed.begin(), removed.end());
      EXPECT_EQ(removed, ScanRepeats(View(*list), real, nullptr).Removed) << round;
      // Every member repeats its kept copy.
      for (const TDuplicateSet& s : scan.Sets)
        for (const TDuplicateMember& m : s.Members) EXPECT_TRUE(IsRepeat(s.KeptMember().Source, m.Source, real));
    }
  }
}

TEST(DuplicateModes, ProgressCanStopTheScan) {
  std::string json = "[";
  for (int i = 0; i < 5000; ++i) json += (i ? "," : "") + Src("s", "http://h" + std::to_string(i % 100));
  auto list = Parse(json + "]");
  for (TDuplicateMode mode : {TDuplicateMode::Rules, TDuplicateMode::Address, TDuplicateMode::Site}) {
    TDuplicateOptions options;
    options.Mode = mode;
    int calls = 0;
    const TDuplicateScan scan = FindDuplicateSets(View(*list), options, [&](int, int) { return ++calls < 2; });
    EXPECT_TRUE(scan.Stopped) << DuplicateModeName(mode);
    EXPECT_TRUE(scan.Sets.empty());
    int last = -1, total = 0;
    const TDuplicateScan whole = FindDuplicateSets(View(*list), options, [&](int ADone, int ATotal) {
      last = ADone;
      total = ATotal;
      return true;
    });
    EXPECT_FALSE(whole.Stopped);
    EXPECT_EQ(whole.Sets.size(), 100u);
    EXPECT_EQ(last, total);
  }
}

// ---------------------------------------------------------------- the keep policies

TEST(KeepPolicy, EachPolicyWithItsTies) {
  // Members in list order; "t" lastUpdateTime, "r" respondTime; rules make richness.
  auto list = Parse(Array({
      Src("m0", "http://a.com", "", "\"lastUpdateTime\":5,\"ruleBookName\":\"x\""),
      Src("m1", "http://a.com", "", "\"lastUpdateTime\":9,\"respondTime\":700,\"ruleBookName\":\"x\",\"ruleBookKind\":\"k\""),
      Src("m2", "http://a.com", "", "\"lastUpdateTime\":9,\"respondTime\":700,\"ruleSearch\":{\"name\":\"n\",\"author\":\"a\"}"),
      Src("m3", "http://a.com", "", "\"respondTime\":180000,\"ruleBookName\":\"x\""),
  }));
  const std::vector<const JSONObject*> v = View(*list);
  TDuplicateSet set;
  for (int i = 0; i < 4; ++i) set.Members.push_back({i, v[size_t(i)]});
  struct TCase {
    const char* Name;
    TKeepPolicy Policy;
    std::vector<int64_t> Measured;
    int Kept;
  } cases[] = {
      {"first", TKeepPolicy::First, {}, 0},
      {"last", TKeepPolicy::Last, {}, 3},
      {"newest: 9 twice, the earlier", TKeepPolicy::Newest, {}, 1},
      {"richest: two rule members twice, the earlier", TKeepPolicy::Richest, {}, 1},
      {"fastest: respondTime 700 twice, the earlier", TKeepPolicy::Fastest, {}, 1},
      {"fastest: this session's check beats respondTime", TKeepPolicy::Fastest, {-1, -1, -1, 300}, 3},
      {"fastest: a copy found dead has no time", TKeepPolicy::Fastest, {-1, kProbeFailed, 900, -1}, 2},
      {"fastest: measured times tie, the earlier", TKeepPolicy::Fastest, {400, 400, 400, 400}, 0},
      {"fastest: none has a time, the first", TKeepPolicy::Fastest, {kProbeFailed, kProbeFailed, kProbeFailed, -1}, 0},
  };
  for (const TCase& c : cases) EXPECT_EQ(ChooseKept(set, c.Policy, c.Measured), c.Kept) << c.Name;

  // Newest: a missing time is 0 and loses to any time; all missing: the first.
  auto times = Parse(Array({Src("x", "u"), Src("y", "u", "", "\"lastUpdateTime\":1"), Src("z", "u")}));
  TDuplicateSet timed;
  for (int i = 0; i < 3; ++i) timed.Members.push_back({i, View(*times)[size_t(i)]});
  EXPECT_EQ(ChooseKept(timed, TKeepPolicy::Newest, {}), 1);
  timed.Members.erase(timed.Members.begin() + 1);
  EXPECT_EQ(ChooseKept(timed, TKeepPolicy::Newest, {}), 0);
}

TEST(KeepPolicy, RichnessCountsTheRuleMembersOfTheSourcesFormat) {
  struct TCase {
    const char* Name;
    std::string Json;
    int Count;
  } cases[] = {
      {"bare", Src("a", "u"), 0},
      {"format 2: rule members, empty and blank ones not",
       Src("a", "u", "", "\"ruleBookName\":\"x\",\"ruleSearchUrl\":\"s\",\"ruleBookKind\":\"\",\"ruleFindUrl\":\"  \""),
       2},
      {"format 2: members outside the record's table count too", Src("a", "u", "", "\"ruleSearchIntroduce\":\"i\""),
       1},
      {"format 2: names and other members do not", Src("a", "u", "G", "\"httpUserAgent\":\"x\",\"weight\":3"), 0},
      {"format 3: rule object members and the request members",
       Src("a", "u", "",
           "\"searchUrl\":\"/s?k={{key}}\",\"exploreUrl\":\"\",\"ruleSearch\":{\"bookList\":\"l\",\"name\":\"n\","
           "\"author\":\"\"},\"ruleToc\":{\"chapterList\":\"c\"}"),
       4},
      {"format 3: a rule object stored as text",
       Src("a", "u", "", "\"ruleContent\":\"{\\\"content\\\":\\\"c\\\",\\\"title\\\":\\\"t\\\"}\""), 2},
      {"format 3: a rule text that is no object", Src("a", "u", "", "\"ruleContent\":\"c\""), 0},
      {"mixed: both families", Src("a", "u", "", "\"ruleBookName\":\"x\",\"ruleSearch\":{\"name\":\"n\"}"), 2},
      {"names without case", Src("a", "u", "", "\"RuleBookName\":\"x\",\"SEARCHURL\":\"s\""), 2},
  };
  for (const TCase& c : cases) {
    auto list = Parse("[" + c.Json + "]");
    EXPECT_EQ(RichnessOf(list->GetJsonObject(0)), c.Count) << c.Name;
  }
}

TEST(KeepPolicy, ProbeTimesFromTheLastCheckAndRespondTime) {
  auto list = Parse(Array({Src("a", "http://a/"), Src("b", "http://b/", "", "\"respondTime\":250"),
                           Src("c", "http://c/"), Src("d", "http://d/", "", "\"respondTime\":\"x\"")}));
  const std::vector<const JSONObject*> v = View(*list);
  auto outcome = [](int APosition, const char16_t* AUrl, TCheckVerdict AVerdict, int64_t AMs) {
    TCheckOutcome o;
    o.Position = APosition;
    o.BookSourceUrl = AUrl;
    o.Verdict = AVerdict;
    o.ElapsedMs = AMs;
    return o;
  };
  const std::vector<TCheckOutcome> outcomes = {
      outcome(0, u"http://a/", cvAlive, 120), outcome(1, u"http://b/", cvDead, 30),
      // The source at position 2 is another one now: its outcome does not count.
      outcome(2, u"http://x/", cvAlive, 10), outcome(9, u"http://d/", cvAlive, 10)};
  const std::vector<int64_t> measured = MeasuredTimes(outcomes, v);
  EXPECT_EQ(measured, (std::vector<int64_t>{120, kProbeFailed, kNoProbeTime, kNoProbeTime}));
  EXPECT_EQ(ProbeTimeOf(v[0], measured[0]), 120);
  EXPECT_EQ(ProbeTimeOf(v[1], measured[1]), kNoProbeTime);  // dead now, its old respondTime aside
  EXPECT_EQ(ProbeTimeOf(v[1], kNoProbeTime), 250);
  EXPECT_EQ(ProbeTimeOf(v[2], measured[2]), kNoProbeTime);
  EXPECT_EQ(ProbeTimeOf(v[3], measured[3]), kNoProbeTime);
}

TEST(KeepPolicy, NamesRoundTrip) {
  for (TKeepPolicy p :
       {TKeepPolicy::First, TKeepPolicy::Last, TKeepPolicy::Newest, TKeepPolicy::Richest, TKeepPolicy::Fastest}) {
    TKeepPolicy back = TKeepPolicy::First;
    EXPECT_TRUE(ParseKeepPolicy(KeepPolicyName(p), back));
    EXPECT_EQ(back, p);
  }
  for (TDuplicateMode m : {TDuplicateMode::Rules, TDuplicateMode::Address, TDuplicateMode::Site}) {
    TDuplicateMode back = TDuplicateMode::Rules;
    EXPECT_TRUE(ParseDuplicateMode(DuplicateModeName(m), back));
    EXPECT_EQ(back, m);
  }
  TKeepPolicy p;
  TDuplicateMode m;
  EXPECT_FALSE(ParseKeepPolicy("First", p));
  EXPECT_FALSE(ParseDuplicateMode("url", m));
}

// ---------------------------------------------------------------- removal

TEST(DuplicateRemoval, KeptCopyTakesTheFirstPlaceAndUndoBringsAllBack) {
  FakeMainWindow win;
  TMainLogic logic(win);
  win.Logic = &logic;
  Load(logic, Array({Src("a0", "http://a.com", "", "\"lastUpdateTime\":1"), Src("b", "http://b.com"),
                     Src("a1", "http://a.com/", "", "\"lastUpdateTime\":3"), Src("c0", "http://c.com"),
                     Src("a2", "https://a.com", "", "\"lastUpdateTime\":2"), Src("c1", "http://c.com/")}));
  const std::vector<const JSONObject*> before = SourcesOf(logic.Sources());
  TDuplicateOptions options;
  options.Mode = TDuplicateMode::Site;
  options.Keep = TKeepPolicy::Newest;
  TDuplicateScan scan = FindDuplicateSets(before, options);
  ASSERT_EQ(Shape(scan), (std::vector<std::vector<int>>{{2, 0, 4}, {3, 5}}));
  // The user leaves the second set alone.
  scan.Sets[1].Remove = false;
  EXPECT_EQ(RemoveDuplicateSets(logic, scan.Sets), 2);
  EXPECT_EQ(NamesOf(logic), (std::vector<String>{u"a1", u"b", u"c0", u"c1"}));
  const std::vector<const JSONObject*> after = SourcesOf(logic.Sources());
  EXPECT_EQ(after[0], before[2]);  // the same object, not a copy
  EXPECT_EQ(win.Leaving.size(), 2u);
  EXPECT_EQ(ToUtf8(logic.UndoCaption()), "删除重复书源");
  ASSERT_TRUE(logic.Undo());
  EXPECT_EQ(NamesOf(logic), (std::vector<String>{u"a0", u"b", u"a1", u"c0", u"a2", u"c1"}));
  ASSERT_TRUE(logic.Redo());
  EXPECT_EQ(NamesOf(logic), (std::vector<String>{u"a1", u"b", u"c0", u"c1"}));
}

TEST(DuplicateRemoval, SourcesGoneSinceTheScanArePassedOver) {
  TMainLogic logic;
  Load(logic, Array({Src("a0", "http://a.com"), Src("a1", "http://a.com"), Src("a2", "http://a.com"),
                     Src("b0", "http://b.com"), Src("b1", "http://b.com")}));
  TDuplicateOptions options;
  options.Mode = TDuplicateMode::Address;
  options.Keep = TKeepPolicy::Last;
  const TDuplicateScan scan = FindDuplicateSets(SourcesOf(logic.Sources()), options);
  ASSERT_EQ(scan.Sets.size(), 2u);
  // a0 and the kept b1 leave before the removal.
  logic.RemoveSources([](const JSONObject* S) {
    const String n = S->GetString(u"bookSourceName");
    return n == u"a0" || n == u"b1";
  });
  EXPECT_EQ(RemoveDuplicateSets(logic, scan.Sets), 1);
  EXPECT_EQ(NamesOf(logic), (std::vector<String>{u"a2", u"b0"}));
}

TEST(DuplicateRemoval, RulesFirstRemovesWhatTheBatchRunRemoves) {
  std::string json = "[";
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i)
    json += (i ? "," : "") + Src("n" + std::to_string(i), "http://h" + std::to_string(rng() % 50), "",
                                 "\"ruleBookName\":\"" + std::to_string(rng() % 2) + "\"");
  json += "]";
  TMainLogic byRun, bySets;
  Load(byRun, json);
  Load(bySets, json);
  TRunOptions run;
  run.RemoveRepeat = true;
  run.RealDedupe = true;
  byRun.ExecuteRun(run);
  RemoveDuplicateSets(bySets, FindDuplicateSets(SourcesOf(bySets.Sources()), TDuplicateOptions()).Sets);
  EXPECT_EQ(NamesOf(bySets), NamesOf(byRun));
}

TEST(DuplicateRemoval, ReportAndTextNameEverySet) {
  auto list = Parse(Array({Src("A", "http://a.com", "G"), Src("B", "http://a.com/"), Src("C", "http://c.com")}));
  TDuplicateOptions options;
  options.Mode = TDuplicateMode::Site;
  options.Keep = TKeepPolicy::Last;
  const TDuplicateScan scan = FindDuplicateSets(View(*list), options);
  const Bytes report = DuplicateReportJson(scan.Sets);
  auto parsed = Parse(std::string(report.begin(), report.end()));
  ASSERT_EQ(parsed->Count(), 1);
  JSONObject* set = parsed->GetJsonObject(0);
  EXPECT_EQ(ToUtf8(set->GetString(u"reason")), "site");
  EXPECT_EQ(ToUtf8(set->GetString(u"key")), "http://a.com");
  EXPECT_EQ(set->GetJsonObject(u"kept")->GetInt(u"position"), 2);
  EXPECT_EQ(ToUtf8(set->GetJsonObject(u"kept")->GetString(u"bookSourceName")), "B");
  ASSERT_EQ(set->GetJsonArray(u"removed")->Count(), 1);
  EXPECT_EQ(set->GetJsonArray(u"removed")->GetJsonObject(0)->GetInt(u"position"), 1);
  const std::string text = ToUtf8(DuplicateSetsText(scan.Sets, true));
  EXPECT_NE(text.find("删除 #1 【G】A  http://a.com"), std::string::npos) << text;
  EXPECT_NE(text.find("保留 #2 【】B  http://a.com/"), std::string::npos) << text;
}

// ---------------------------------------------------------------- the scan job

TEST(DuplicateScanJob, RunsOnThePoolAndGivesTheSameSets) {
  TMainLogic logic;
  std::string json = "[";
  for (int i = 0; i < 20000; ++i)
    json += (i ? "," : "") + Src("s" + std::to_string(i), "http://h" + std::to_string(i % 7000) + (i % 3 ? "/" : ""));
  Load(logic, json + "]");
  for (TDuplicateMode mode : {TDuplicateMode::Rules, TDuplicateMode::Address, TDuplicateMode::Site}) {
    TDuplicateOptions options;
    options.Mode = mode;
    options.Keep = TKeepPolicy::Last;
    TDuplicateScanJob job;
    job.Start(logic.Sources(), options);
    job.WaitDone(PumpMessages);
    EXPECT_TRUE(job.Error().empty());
    const TDuplicateScan scan = job.TakeResult();
    EXPECT_FALSE(scan.Stopped);
    EXPECT_EQ(Shape(scan), Shape(FindDuplicateSets(SourcesOf(logic.Sources()), options)));
    EXPECT_EQ(job.Position(), job.Max());
  }
}

TEST(DuplicateScanJob, StopsAndGoesAwayWhileRunning) {
  TMainLogic logic;
  std::string json = "[";
  for (int i = 0; i < 50000; ++i) json += (i ? "," : "") + Src("s", "http://h" + std::to_string(i % 1000));
  Load(logic, json + "]");
  {
    TDuplicateScanJob job;
    TDuplicateOptions options;
    options.Mode = TDuplicateMode::Site;
    job.Start(logic.Sources(), options);
    job.Stop();
    job.WaitDone();
    const TDuplicateScan scan = job.TakeResult();
    // Stopped in time, or done before the request came: never half a result.
    EXPECT_TRUE(scan.Stopped ? scan.Sets.empty() : scan.Sets.size() == 1000u);
  }
  for (int i = 0; i < 5; ++i) {
    TDuplicateScanJob job;
    job.Start(logic.Sources(), TDuplicateOptions());
    // Destroyed at once: the destructor waits for the job.
  }
}

// ---------------------------------------------------------------- the merge preview

TEST(MergePreview, ClassifiesByAddress) {
  auto collection = Parse(Array({
      Src("A", "http://a.com", "G", "\"ruleBookName\":\"x\",\"lastUpdateTime\":10"),
      Src("B", "http://b.com", "", "\"ruleBookName\":\"x\""),
      Src("C", "http://c.com"),
      Src("A2", "http://a.com", "", "\"ruleBookName\":\"other\""),
  }));
  auto file = Parse(Array({
      Src("A'", "http://a.com", "H", "\"ruleBookName\":\"x\",\"enable\":false,\"lastUpdateTime\":20"),  // identical
      Src("B'", "http://b.com", "", "\"ruleBookName\":\"y\",\"lastUpdateTime\":30"),                    // changed
      Src("c", "http://C.com"),                                                                        // new
      "7",
      Src("d-old", "http://d.com"),
      Src("d", "http://d.com", "", "\"ruleBookName\":\"z\""),  // new, last copy
  }));
  const TMergePreview preview = ClassifyMerge(View(*collection), FileSources(*file));
  ASSERT_EQ(preview.Items.size(), 4u);
  // The current format's rules count; bookkeeping members do not.
  auto current = Parse(Array({Src("E", "http://e.com", "", "\"ruleSearch\":{\"name\":\"a\"},\"customOrder\":1"),
                              Src("F", "http://f.com", "", "\"ruleSearch\":{\"name\":\"a\"}")}));
  auto incoming = Parse(Array({Src("E", "http://e.com", "", "\"ruleSearch\":{\"name\":\"b\"},\"customOrder\":1"),
                               Src("F2", "http://f.com", "X",
                                   "\"ruleSearch\":{\"name\":\"A\"},\"customOrder\":5,\"respondTime\":3,"
                                   "\"enabled\":false,\"lastUpdateTime\":7,\"bookSourceComment\":\"c\"")}));
  const TMergePreview format3 = ClassifyMerge(View(*current), FileSources(*incoming));
  ASSERT_EQ(format3.Items.size(), 2u);
  EXPECT_EQ(format3.Items[0].Kind, TMergeKind::Changed);
  EXPECT_EQ(format3.Items[1].Kind, TMergeKind::Identical);
  EXPECT_EQ(preview.Superseded, 1);
  struct TExpect {
    TMergeKind Kind;
    int FileIndex, Position;
  } expect[] = {{TMergeKind::Identical, 0, 0}, {TMergeKind::Changed, 1, 1}, {TMergeKind::New, 2, -1},
                {TMergeKind::New, 5, -1}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(preview.Items[i].Kind, expect[i].Kind) << i;
    EXPECT_EQ(preview.Items[i].FileIndex, expect[i].FileIndex) << i;
    EXPECT_EQ(preview.Items[i].Position, expect[i].Position) << i;
  }
  EXPECT_EQ(preview.Items[1].IncomingTime, 30);
  EXPECT_EQ(preview.Items[1].ExistingTime, 0);
  EXPECT_EQ(preview.Count(TMergeKind::New), 2);
  EXPECT_EQ(preview.Count(TMergeKind::Identical), 1);
  EXPECT_EQ(preview.Count(TMergeKind::Changed), 1);
}

TEST(MergePreview, UpdateInPlaceKeepsWhatIsAsked) {
  const std::string mine =
      Src("mine", "http://a.com", "G1", "\"enable\":true,\"serialNumber\":4,\"ruleBookName\":\"old\",\"extra\":1");
  const std::string theirs = Src("theirs", "http://a.com", "",
                                 "\"enabled\":false,\"customOrder\":9,\"serialNumber\":7,\"ruleBookName\":\"new\"");
  struct TCase {
    const char* Name;
    TKeepFields Keep;
    std::string Expect;
  } cases[] = {
      {"nothing kept: theirs as it is", {},
       "{\"bookSourceName\":\"theirs\",\"bookSourceUrl\":\"http://a.com\",\"enabled\":false,\"customOrder\":9,"
       "\"serialNumber\":7,\"ruleBookName\":\"new\"}"},
      {"name and group", {true, true, false, false},
       "{\"bookSourceName\":\"mine\",\"bookSourceUrl\":\"http://a.com\",\"enabled\":false,\"customOrder\":9,"
       "\"serialNumber\":7,\"ruleBookName\":\"new\",\"bookSourceGroup\":\"G1\"}"},
      {"enabled: mine had enable only", {false, false, true, false},
       "{\"bookSourceName\":\"theirs\",\"bookSourceUrl\":\"http://a.com\",\"customOrder\":9,\"serialNumber\":7,"
       "\"ruleBookName\":\"new\",\"enable\":true}"},
      {"order: mine had serialNumber only", {false, false, false, true},
       "{\"bookSourceName\":\"theirs\",\"bookSourceUrl\":\"http://a.com\",\"enabled\":false,\"serialNumber\":4,"
       "\"ruleBookName\":\"new\"}"},
  };
  for (const TCase& c : cases) {
    auto target = Parse("[" + mine + "]");
    auto source = Parse("[" + theirs + "]");
    JSONObject* object = target->GetJsonObject(0);
    UpdateSourceInPlace(object, source->GetJsonObject(0), c.Keep);
    EXPECT_EQ(target->GetJsonObject(0), object);
    auto expect = Parse("[" + c.Expect + "]");
    EXPECT_EQ(ToUtf8(object->ToString()), ToUtf8(expect->GetJsonObject(0)->ToString())) << c.Name;
  }
}

TEST(MergePreview, KeepFieldsWords) {
  struct TCase {
    const char* Text;
    bool Ok;
    TKeepFields Fields;
  } cases[] = {
      {"name,group,enabled,order", true, {true, true, true, true}},
      {"order,name", true, {true, false, false, true}},
      {"group,", true, {false, true, false, false}},
      {"", false, {}},
      {"name,Group", false, {}},
      {"names", false, {}},
  };
  for (const TCase& c : cases) {
    TKeepFields f;
    std::string unknown;
    EXPECT_EQ(ParseKeepFields(c.Text, f, unknown), c.Ok) << c.Text;
    if (!c.Ok) continue;
    EXPECT_EQ(f.Name, c.Fields.Name) << c.Text;
    EXPECT_EQ(f.Group, c.Fields.Group) << c.Text;
    EXPECT_EQ(f.Enabled, c.Fields.Enabled) << c.Text;
    EXPECT_EQ(f.Order, c.Fields.Order) << c.Text;
  }
}

TEST(MergePreview, ApplyAddsNewOnesAndUpdatesChangedOnesWhereTheyStand) {
  const std::string collection = Array({Src("A", "http://a.com", "G", "\"ruleBookName\":\"1\""),
                                        Src("B", "http://b.com", "", "\"ruleBookName\":\"1\"")});
  const std::string file = Array({Src("n1", "http://n1.com"), Src("B'", "http://b.com", "H", "\"ruleBookName\":\"2\""),
                                  Src("A'", "http://a.com", "", "\"ruleBookName\":\"1\""), Src("n2", "http://n2.com")});
  struct TCase {
    TMergeAction Action;
    std::vector<String> Names;
    int Added, Updated, Unchanged;
  } cases[] = {
      {TMergeAction::AddNew, {u"A", u"B", u"n1", u"n2"}, 2, 0, 2},
      {TMergeAction::AddNewUpdateChanged, {u"A", u"B", u"n1", u"n2"}, 2, 1, 1},
  };
  for (const TCase& c : cases) {
    FakeMainWindow win;
    TMainLogic logic(win);
    win.Logic = &logic;
    Load(logic, collection);
    const std::vector<const JSONObject*> before = SourcesOf(logic.Sources());
    auto loaded = Parse(file);
    const TMergePreview preview = ClassifyMerge(before, FileSources(*loaded));
    TKeepFields keep;
    keep.Name = true;
    keep.Group = true;
    const TMergeCounts counts = ApplyMerge(logic, *loaded, preview, c.Action, keep);
    EXPECT_EQ(counts.Added, c.Added);
    EXPECT_EQ(counts.Updated, c.Updated);
    EXPECT_EQ(counts.Unchanged, c.Unchanged);
    EXPECT_EQ(NamesOf(logic), c.Names);
    const std::vector<const JSONObject*> after = SourcesOf(logic.Sources());
    EXPECT_EQ(after[1], before[1]);
    const bool updated = c.Action == TMergeAction::AddNewUpdateChanged;
    EXPECT_EQ(ToUtf8(after[1]->GetString(u"ruleBookName")), updated ? "2" : "1");
    EXPECT_FALSE(after[1]->Contains(u"bookSourceGroup"));  // kept: B had no group
    // One step back restores the collection as it was.
    ASSERT_TRUE(logic.Undo());
    EXPECT_EQ(NamesOf(logic), (std::vector<String>{u"A", u"B"}));
    EXPECT_EQ(ToUtf8(SourcesOf(logic.Sources())[1]->GetString(u"ruleBookName")), "1");
  }
}
