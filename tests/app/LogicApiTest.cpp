// The logic's whole-collection verbs, used without a window: what the batch
// program and any other front end build on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "AppTestUtil.h"
#include "FakeMainWindow.h"
#include "HttpTestServers.h"
#include "app/uBookSourceBean.h"
#include "app/uCheckReport.h"
#include "json/KivJson.h"
#include "support/KivStream.h"

namespace {

std::vector<String> Names(const std::vector<JSONObject*>& ASources) {
  std::vector<String> names;
  for (const JSONObject* s : ASources) names.push_back(s->GetString(u"bookSourceName"));
  return names;
}

std::vector<String> NamesOf(TMainLogic& ALogic) {
  std::lock_guard<std::mutex> lock(ALogic.Sources().Lock());
  std::vector<String> names;
  JSONArray& data = ALogic.Sources().Data();
  for (int i = 0; i < data.Count(); ++i) names.push_back(data.GetJsonObject(i)->GetString(u"bookSourceName"));
  return names;
}

void Merge(TMainLogic& ALogic, const std::string& AJson, const String& AName = u"-") {
  TMemoryStream in;
  in.Data() = AJson;
  ALogic.AddSrcStream(in, AName);
}

TEST(LogicApi, StreamsMergeAndErrorsNameTheStreamAsGiven) {
  TMainLogic logic;
  Merge(logic, "[" + Src("a", "http://a/", "G") + ",1," + Src("b", "http://b/") + "]");
  // A GBK stream is detected as a file would be.
  Merge(logic, "[" + Src("\xb9\xfa", "http://c/") + "]");
  EXPECT_EQ(NamesOf(logic), (std::vector<String>{u"a", u"b", u"国"}));
  EXPECT_EQ(logic.GroupNames(), std::vector<String>{u"G"});

  struct TCase {
    std::string Json;
    String Name, Message;
  };
  const TCase cases[] = {
      {"{\"bookSourceName\":\"x\"}", u"-", u"文件中没有书源：-"},
      {"{\"bookSourceName\":\"x\"}", u"剪贴板", u"文件中没有书源：剪贴板"},
      {"[{\"bookSourceUrl\":\"http://a/\"} {", u"-", u"第1行"},
  };
  for (const TCase& c : cases) {
    try {
      Merge(logic, c.Json, c.Name);
      ADD_FAILURE() << ToUtf8(c.Message);
    } catch (const Exception& E) {
      EXPECT_NE(E.Message().find(c.Message), String::npos) << ToUtf8(E.Message());
    }
  }
  EXPECT_EQ(logic.Sources().Count(), 3);  // a failed stream merges nothing
}

TEST(LogicApi, FilterRemoveAndSortWithoutAWindow) {
  TMainLogic logic;
  Merge(logic, "[" + Src("c", "http://c/", "Vip") + "," + Src("a", "http://a/") + "," + Src("vb", "http://b/", "x") +
                   "," + Src("d", "http://d/", "VIP; y") + "]");
  EXPECT_EQ(Names(logic.FilteredSources(u"vip")), (std::vector<String>{u"c", u"d"}));
  EXPECT_EQ(Names(logic.FilteredSources(u"V")), (std::vector<String>{u"c", u"vb", u"d"}));
  EXPECT_EQ(logic.FilteredSources(u"").size(), 4u);
  logic.SortSources(sskName);
  EXPECT_EQ(NamesOf(logic), (std::vector<String>{u"a", u"c", u"d", u"vb"}));
  EXPECT_EQ(logic.RemoveSources([](const JSONObject* s) { return s->GetString(u"bookSourceGroup").empty(); }), 1);
  EXPECT_EQ(NamesOf(logic), (std::vector<String>{u"c", u"d", u"vb"}));
  logic.SortSources(sskGroup);
  EXPECT_EQ(NamesOf(logic), (std::vector<String>{u"d", u"c", u"vb"}));  // "VIP; y" < "Vip" < "x"
}

// The filtered view of a text is a question, not a change of the window's list.
TEST(LogicApi, FilteredSourcesLeaveTheWindowsViewAlone) {
  FakeMainWindow win;
  TMainLogic logic(win);
  win.Logic = &logic;
  Merge(logic, "[" + Src("a", "http://a/", "X") + "," + Src("b", "http://b/", "Y") + "]");
  win.FilterText = u"X";
  logic.FilterChanged();
  ASSERT_EQ(logic.RowCount(), 1);
  EXPECT_EQ(logic.FilteredSources(u"Y").size(), 1u);
  EXPECT_EQ(logic.FilteredSources(u"").size(), 2u);
  EXPECT_EQ(logic.RowCount(), 1);
  EXPECT_EQ(logic.RowText(0), u"【X】a");
}

// Removal through the verb lets the window's editor go, as a delete of the row does.
TEST(LogicApi, RemovedSourcesLeaveTheEditor) {
  FakeMainWindow win;
  TMainLogic logic(win);
  win.Logic = &logic;
  Merge(logic, "[" + Src("a", "http://a/") + "," + Src("b", "http://b/") + "]");
  win.CurrentRow = 1;
  logic.LoadIntoEditor();
  ASSERT_FALSE(win.Editor.empty());
  JSONObject* b = logic.SourceOfRow(1);
  logic.RemoveSources([b](const JSONObject* s) { return s == b; });
  EXPECT_EQ(win.Editor, u"");
  EXPECT_EQ(logic.CurIndex(), -1);
  EXPECT_EQ(win.Leaving, std::vector<JSONObject*>{b});
  EXPECT_EQ(logic.RowCount(), 1);
}

class LogicRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ClearProxyEnvironment();
    server = new TLocalHttpServer();
    server->Server().Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
    server->Server().Get("/err", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
    server->Start();
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  static TLocalHttpServer* server;
};
TLocalHttpServer* LogicRunTest::server = nullptr;

// Start, wait and outcomes through the verbs: every listener hears every
// source, a removed one hears nothing more, and the outcomes come back in
// collection order with the names they had when checked.
TEST_F(LogicRunTest, RunWithoutAWindowPublishesToEveryListener) {
  TMainLogic logic;
  logic.SetCheckTimeout(2000);
  std::string list = "[";
  for (int i = 0; i < 12; ++i)
    list += (i ? "," : "") + Src("s" + std::to_string(i), server->Url(i % 3 == 0 ? "/err" : "/ok"), i % 4 ? "" : "失效");
  Merge(logic, list + "]");

  std::mutex lock;
  std::vector<int> first, second;
  const int a = logic.CheckListeners().Add([&](const TCheckOutcome& o) {
    std::lock_guard<std::mutex> g(lock);
    first.push_back(o.Position);
  });
  logic.CheckListeners().Add([&](const TCheckOutcome& o) {
    std::lock_guard<std::mutex> g(lock);
    second.push_back(o.Position);
  });
  TRunOptions options;
  options.RemoveRepeat = false;
  options.CheckSources = true;
  options.WorkerCount = u"5";
  int ticks = 0;
  logic.ExecuteRun(options, [&] { ++ticks; });
  EXPECT_EQ(logic.RunState(), rsIdle);
  EXPECT_GT(ticks, 0);
  std::sort(first.begin(), first.end());
  std::sort(second.begin(), second.end());
  std::vector<int> all(12);
  for (int i = 0; i < 12; ++i) all[size_t(i)] = i;
  EXPECT_EQ(first, all);
  EXPECT_EQ(second, all);

  const std::vector<TCheckOutcome> outcomes = logic.CheckOutcomes();
  ASSERT_EQ(outcomes.size(), 12u);
  for (int i = 0; i < 12; ++i) {
    const TCheckOutcome& o = outcomes[size_t(i)];
    EXPECT_EQ(o.Position, i);
    EXPECT_EQ(o.BookSourceName, FromUtf8("s" + std::to_string(i)));
    EXPECT_EQ(o.Alive(), i % 3 != 0) << i;
    EXPECT_EQ(o.Status, i % 3 == 0 ? 500 : 200) << i;
    EXPECT_EQ(TBookSourceItem(logic.Sources().Data().GetJsonObject(i)).bookSourceGroup(),
              i % 3 == 0 ? u"失效" : u"")
        << i;
  }
  EXPECT_TRUE(logic.HasCheckReport());

  logic.CheckListeners().Remove(a);
  first.clear();
  second.clear();
  logic.ExecuteRun(options);
  EXPECT_TRUE(first.empty());
  EXPECT_EQ(second.size(), 12u);
}

TEST(LogicApi, RunWithoutStagesStartsNothing) {
  TMainLogic logic;
  TRunOptions options;
  options.RemoveRepeat = false;
  options.CheckSources = false;
  logic.ExecuteRun(options);
  EXPECT_EQ(logic.RunState(), rsIdle);
  EXPECT_FALSE(logic.HasCheckReport());
}

// Remove waits for a call in progress: once it returns, the listener is
// neither running nor called again (its captures may go).
TEST(CheckListeners, RemoveWaitsForACallInProgress) {
  TCheckListeners listeners;
  std::atomic<bool> inside{false}, entered{false}, removed{false}, calledAfter{false};
  const int id = listeners.Add([&](const TCheckOutcome&) {
    if (removed) calledAfter = true;
    inside = true;
    entered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    inside = false;
  });
  std::thread publisher([&] {
    for (int i = 0; i < 20; ++i) listeners.Publish(TCheckOutcome());
  });
  while (!entered) std::this_thread::yield();
  listeners.Remove(id);
  removed = true;
  EXPECT_FALSE(inside);
  publisher.join();
  EXPECT_FALSE(calledAfter);
}

// A spreadsheet would run a field starting with = + - @ tab or CR as a
// formula: such fields get an apostrophe and quotes; the JSON report keeps them.
TEST(CheckReport, CsvFieldsThatLookLikeFormulas) {
  TMainLogic logic;  // the programs' JSON settings
  struct TCase {
    String Name;
    std::string Field;
  };
  const TCase cases[] = {
      {u"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
      {u"+1", "\"'+1\""},
      {u"-", "\"'-\""},
      {u"@SUM(A1)", "\"'@SUM(A1)\""},
      {u"\tx", "\"'\tx\""},
      {u"\rx", "\"'\rx\""},
      {u"a=b", "a=b"},
      {u"", ""},
  };
  for (const TCase& c : cases) {
    TCheckOutcome o;
    o.Position = 0;
    o.BookSourceName = c.Name;
    o.BookSourceUrl = u"http://a/";
    const std::string csv = CheckReportCsv({o});
    const std::string line = csv.substr(csv.find("\r\n") + 2);
    EXPECT_EQ(line, "1," + c.Field + ",http://a/,dead,0,,0\r\n") << ToUtf8(c.Name);
    std::unique_ptr<JSONBase> json(JSONBase::Parser(FromUtf8(CheckReportJson({o})), true));
    EXPECT_EQ(static_cast<JSONArray*>(json.get())->GetJsonObject(0)->GetString(u"bookSourceName"), c.Name);
  }
}

TEST(CheckReport, CsvAndJsonColumns) {
  TMainLogic logic;  // the programs' JSON settings
  TCheckOutcome alive;
  alive.Position = 0;
  alive.BookSourceName = u"笔趣阁, \"新\"";
  alive.BookSourceUrl = u"http://a/";
  alive.Verdict = cvAlive;
  alive.Status = 200;
  alive.ElapsedMs = 12;
  TCheckOutcome dead;
  dead.Position = 4;
  dead.BookSourceName = u"b";
  dead.BookSourceUrl = u"-";
  dead.FailText = u"无效的书源URL.\r\nx";
  EXPECT_EQ(CheckReportCsv({alive, dead}),
            "position,bookSourceName,bookSourceUrl,verdict,status,failText,elapsedMs\r\n"
            "1,\"笔趣阁, \"\"新\"\"\",http://a/,alive,200,,12\r\n"
            "5,b,\"'-\",dead,0,\"无效的书源URL.\r\nx\",0\r\n");
  EXPECT_EQ(CheckReportJson({dead}),
            "[\r\n    {\r\n        \"position\": 5,\r\n        \"bookSourceName\": \"b\",\r\n"
            "        \"bookSourceUrl\": \"-\",\r\n        \"verdict\": \"dead\",\r\n        \"status\": 0,\r\n"
            "        \"failText\": \"无效的书源URL.\\r\\nx\",\r\n        \"elapsedMs\": 0\r\n    }\r\n]");
  EXPECT_EQ(CheckReport({dead}, u"r.CSV"), CheckReportCsv({dead}));
  EXPECT_EQ(CheckReport({dead}, u"r.json"), CheckReportJson({dead}));
  EXPECT_EQ(CheckReport({dead}, u"-"), CheckReportJson({dead}));
}

}  // namespace
