// The run history: runs and their checked sources in SQLite, the previous
// verdict of each address, and the changes between runs.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "AppTestUtil.h"
#include "app/uBatchRun.h"
#include "app/uRunHistory.h"
#include "app/uSourceCollection.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

TCheckOutcome Outcome(int APosition, const std::string& AName, TCheckVerdict AVerdict, const std::string& AReason = "") {
  TCheckOutcome o;
  o.Position = APosition;
  o.BookSourceName = FromUtf8(AName);
  o.BookSourceUrl = FromUtf8("https://" + AName + ".example/");
  o.Verdict = AVerdict;
  o.Reason = FromUtf8(AReason.empty() ? (AVerdict == cvAlive ? "ok" : "refused") : AReason);
  o.Status = AVerdict == cvAlive ? 200 : 0;
  o.ElapsedMs = 10 + APosition;
  return o;
}

std::vector<std::string> Names(const std::vector<TChangedSource>& AList) {
  std::vector<std::string> names;
  for (const TChangedSource& s : AList) names.push_back(ToUtf8(s.BookSourceName));
  return names;
}

TRunRecord Record(int ALoaded) {
  TRunRecord run;
  run.StartedMs = NowUnixMs();
  run.EndedMs = run.StartedMs + 5;
  run.Options = u"check";
  run.Inputs = {u"https://lists.example/a.json", u"本地.json"};
  run.Loaded = ALoaded;
  return run;
}

// Records a run the way the front ends do: compare with what came before, then write.
TRunChanges RecordRun(TRunHistory& AHistory, const std::vector<TCheckOutcome>& AOutcomes) {
  const TRunChanges changes = CompareRun(AHistory.Previous(), AOutcomes);
  AHistory.Record(Record(int(AOutcomes.size())), AOutcomes, changes);
  return changes;
}

// Three weekly runs: "fall" dies in run 2, "rise" recovers in run 2, "gone"
// disappears after run 1, "late" is new in run 3, "still" stays dead;
// "skip" is not checked in run 2 and keeps run 1's verdict for run 3.
TEST(RunHistory, ThreeRunsNameWhatDiedRecoveredAndDisappeared) {
  TempDir dir;
  TRunHistory history(dir.Name("history.db"));
  struct Step {
    std::vector<TCheckOutcome> Outcomes;
    std::vector<std::string> NewlyDead, Recovered, StillDead, New, Gone;
  };
  const Step steps[] = {
      {{Outcome(0, "fall", cvAlive), Outcome(1, "rise", cvDead), Outcome(2, "gone", cvAlive),
        Outcome(3, "still", cvDead), Outcome(4, "skip", cvDead)},
       {}, {}, {}, {"fall", "rise", "gone", "still", "skip"}, {}},
      {{Outcome(0, "fall", cvDead, "timeout"), Outcome(1, "rise", cvAlive), Outcome(2, "still", cvDead)},
       {"fall"}, {"rise"}, {"still"}, {}, {"gone", "skip"}},
      {{Outcome(0, "fall", cvDead), Outcome(1, "rise", cvBlocked, "bot-wall"), Outcome(2, "still", cvDead),
        Outcome(3, "skip", cvAlive), Outcome(4, "late", cvDead)},
       {}, {"skip"}, {"fall", "still"}, {"late"}, {}},
  };
  int run = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(++run);
    const TRunChanges changes = RecordRun(history, step.Outcomes);
    EXPECT_EQ(Names(changes.NewlyDead), step.NewlyDead);
    EXPECT_EQ(Names(changes.Recovered), step.Recovered);
    EXPECT_EQ(Names(changes.StillDead), step.StillDead);
    EXPECT_EQ(Names(changes.New), step.New);
    EXPECT_EQ(Names(changes.Gone), step.Gone);
  }
  // The newly dead carries this run's reason, the gone one that of the run it was last seen in.
  const std::vector<TRunRow> runs = history.Runs();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1].NewlyDead, 1);
  EXPECT_EQ(runs[1].Gone, 2);
  EXPECT_EQ(runs[1].Dead, 2);
  EXPECT_EQ(runs[2].Blocked, 1);
  EXPECT_EQ(runs[2].Checked, 5);
  EXPECT_NE(runs[0].Inputs.find(u"本地.json"), String::npos);
  const std::vector<TCheckRow> checks = history.Checks(runs[1].Id);
  ASSERT_EQ(checks.size(), 3u);
  EXPECT_EQ(checks[0].BookSourceUrl, u"https://fall.example/");
  EXPECT_EQ(checks[0].Verdict, u"dead");
  EXPECT_EQ(checks[0].Reason, u"timeout");
  EXPECT_EQ(checks[0].Position, 1);
  EXPECT_EQ(checks[0].ElapsedMs, 10);
}

// The history survives the program: a second opening sees the runs of the first.
TEST(RunHistory, PreviousVerdictsSurviveReopeningAndNameEachSource) {
  TempDir dir;
  {
    TRunHistory history(dir.Name("h.db"));
    RecordRun(history, {Outcome(0, "a", cvAlive), Outcome(1, "b", cvDead)});
  }
  TRunHistory history(dir.Name("h.db"));
  const std::vector<TCheckOutcome> now = {Outcome(0, "b", cvAlive), Outcome(1, "c", cvAlive), Outcome(2, "a", cvDead)};
  EXPECT_EQ(PreviousVerdicts(history.Previous(), now), (std::vector<String>{u"dead", u"none", u"alive"}));
}

// Copies of one address in a run: the first copy speaks for the run.
TEST(RunHistory, FirstCopyOfAnAddressSpeaksForItsRun) {
  TempDir dir;
  TRunHistory history(dir.Name("h.db"));
  TCheckOutcome copy = Outcome(1, "a", cvDead);
  RecordRun(history, {Outcome(0, "a", cvAlive), copy});
  EXPECT_EQ(history.Previous().Latest.at(u"https://a.example/"), cvAlive);
}

TEST(RunHistory, FilesThatAreNoHistoryAreRefused) {
  TempDir dir;
  // Made by a newer program.
  const String newer = dir.Name("newer.db");
  { TRunHistory made(newer); }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(ToUtf8(newer).c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE schema_version SET version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  // Another program's database.
  const String foreign = dir.Name("foreign.db");
  ASSERT_EQ(sqlite3_open(ToUtf8(foreign).c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t (x)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  struct Case {
    String File;
    const char16_t* Says;
  };
  const Case cases[] = {
      {dir.Write("text.db", std::string(2000, 'x')), u"不是历史记录"},
      {foreign, u"不是历史记录"},
      {newer, u"版本 99"},
      {dir.Name("no/such/folder/h.db"), u"无法打开"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.File));
    try {
      TRunHistory history(c.File);
      ADD_FAILURE() << "opened";
    } catch (const Exception& E) {
      EXPECT_NE(E.Message().find(c.Says), String::npos) << ToUtf8(E.Message());
      EXPECT_NE(E.Message().find(c.File), String::npos) << ToUtf8(E.Message());
    }
  }
  // The foreign database is left as it was.
  ASSERT_EQ(sqlite3_open(ToUtf8(foreign).c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), 1);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST(RunHistory, ChangesAsJsonWithEveryListAndItsMembers) {
  TRunChanges changes;
  changes.NewlyDead = {{u"甲", u"https://a.example/", u"timeout"}};
  changes.Gone = {{u"乙 \"引号\"", u"https://b.example/", u"ok"}};
  JSONObject root;
  root.Parse(FromUtf8(RunChangesJson(changes)), false);
  const char16_t* keys[] = {u"newlyDead", u"recovered", u"stillDead", u"new", u"gone"};
  for (const char16_t* key : keys) {
    SCOPED_TRACE(ToUtf8(key));
    ASSERT_NE(root.GetJsonArray(key), nullptr);
  }
  EXPECT_EQ(root.Count(), 5);
  EXPECT_EQ(root.GetJsonArray(u"recovered")->Count(), 0);
  JSONObject* dead = root.GetJsonArray(u"newlyDead")->GetJsonObject(0);
  EXPECT_EQ(dead->GetString(u"bookSourceName"), u"甲");
  EXPECT_EQ(dead->GetString(u"bookSourceUrl"), u"https://a.example/");
  EXPECT_EQ(dead->GetString(u"reason"), u"timeout");
  EXPECT_EQ(dead->Count(), 3);
  EXPECT_EQ(root.GetJsonArray(u"gone")->GetJsonObject(0)->GetString(u"bookSourceName"), u"乙 \"引号\"");
}

// respondTime as the reader app writes it, only into sources of the current format.
TEST(RespondTime, WrittenIntoFormat3SourcesOnly) {
  TSourceCollection sources;
  TMemoryStream text(
      "[" + Src("f3 alive", "https://a.example/", "", "\"ruleSearch\":{\"bookList\":\"x\"}") + "," +
      Src("f3 dead", "https://b.example/", "", "\"ruleSearch\":{\"bookList\":\"x\"}") + "," +
      Src("f2", "https://c.example/", "", "\"ruleSearchList\":\"x\"") + "," +
      Src("f3 blocked", "https://d.example/", "", "\"ruleSearch\":{\"bookList\":\"x\"}") + "," +
      Src("moved", "https://e.example/", "", "\"ruleSearch\":{\"bookList\":\"x\"}") + "]");
  sources.Merge(*TSourceCollection::LoadStream(text, u"t"));
  auto outcome = [](int APos, const char16_t* AUrl, TCheckVerdict AVerdict, int64_t AMs) {
    TCheckOutcome o;
    o.Position = APos;
    o.BookSourceUrl = AUrl;
    o.Verdict = AVerdict;
    o.ElapsedMs = AMs;
    return o;
  };
  const std::vector<TCheckOutcome> outcomes = {
      outcome(0, u"https://a.example/", cvAlive, 120), outcome(1, u"https://b.example/", cvDead, 30),
      outcome(2, u"https://c.example/", cvAlive, 50), outcome(3, u"https://d.example/", cvBlocked, 70),
      // Another source stands at that place now.
      outcome(4, u"https://elsewhere.example/", cvAlive, 90)};
  EXPECT_EQ(WriteRespondTimes(sources, outcomes, 15000), 2);
  std::lock_guard<std::mutex> lock(sources.Lock());
  JSONArray& data = sources.Data();
  EXPECT_EQ(data.GetJsonObject(0)->GetInt64(u"respondTime"), 120);
  EXPECT_EQ(data.GetJsonObject(1)->GetInt64(u"respondTime"), 15030);
  for (int i : {2, 3, 4}) EXPECT_FALSE(data.GetJsonObject(i)->Contains(u"respondTime")) << i;
}

}  // namespace
