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

// Text after the first value is read, not dropped: concatenated files and
// one source a line load whole, and the log says how many values came.
TEST(LogicApi, EveryTopLevelValueIsRead) {
  const std::string a = Src("a", "http://a/"), b = Src("b", "http://b/"), c = Src("c", "http://c/");
  struct TCase {
    std::string Text;
    std::vector<String> Names;
    String Logged;  // empty: no line
  };
  const TCase cases[] = {
      {"[" + a + "]", {u"a"}, u""},
      {"[" + a + "]\n[" + b + "," + c + "]", {u"a", u"b", u"c"}, u"-: 读取了 2 个JSON值"},
      {a + "\n" + b + "\n" + c + "\n", {u"a", u"b", u"c"}, u"-: 读取了 3 个JSON值"},
      {"[" + a + "]" + b, {u"a", u"b"}, u"-: 读取了 2 个JSON值"},
  };
  for (const TCase& t : cases) {
    FakeMainWindow win;
    TMainLogic logic(win);
    win.Logic = &logic;
    Merge(logic, t.Text);
    EXPECT_EQ(NamesOf(logic), t.Names) << t.Text;
    const std::vector<String> logged = win.LogMessages();
    EXPECT_EQ(logged.empty() ? String() : logged.back(), t.Logged) << t.Text;
  }
  // Junk after whole values (an overwritten file's tail, a comment, a value
  // cut off) leaves them loaded, and the user is told where it begins.
  const std::pair<std::string, String> junk[] = {
      {"[" + a + "]\n  x", u"第2行第3列"},
      {"[" + a + "]\n# comment", u"第2行第1列"},
      {"[" + a + "]\n{\"bookSourceUrl\": ", u"第2行"},
  };
  for (const auto& [text, place] : junk) {
    FakeMainWindow win;
    TMainLogic logic(win);
    win.Logic = &logic;
    Merge(logic, text);
    EXPECT_EQ(NamesOf(logic), std::vector<String>{u"a"}) << text;
    ASSERT_EQ(win.Warnings.size(), 1u) << text;
    EXPECT_EQ(win.Warnings[0].substr(0, 19), u"-: 其后的内容不是JSON，已忽略。") << ToUtf8(win.Warnings[0]);
    EXPECT_NE(win.Warnings[0].find(place), String::npos) << ToUtf8(win.Warnings[0]);
  }
  // A first value that is not whole is the usual syntax error: nothing loads.
  TMainLogic logic;
  try {
    Merge(logic, "[" + a + ", {");
    ADD_FAILURE() << "a broken file accepted";
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message().substr(0, 3), u"第1行") << ToUtf8(E.Message());
  }
  EXPECT_EQ(logic.Sources().Count(), 0);
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
    EXPECT_EQ(line, "1," + c.Field + ",http://a/,dead,0,,0,,false,,0,,\r\n") << ToUtf8(c.Name);
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
  alive.Reason = u"ok";
  alive.Note = u"tls-untrusted";
  alive.Attempts = 1;
  alive.Search = u"pass";
  alive.Explore = u"fail:http-404";
  TCheckOutcome dead;
  dead.Position = 4;
  dead.BookSourceName = u"b";
  dead.BookSourceUrl = u"http://b/";
  dead.FailText = u"书源URL测试出错(x).\r\nx";
  dead.Reason = u"timeout";
  dead.Confirmed = true;
  dead.Attempts = 2;
  dead.ElapsedMs = 3001;
  TCheckOutcome odd;
  odd.Position = 5;
  odd.BookSourceName = u"c";
  odd.BookSourceUrl = u"-";
  odd.Verdict = cvUnverifiable;
  odd.Reason = u"not-http";
  odd.FailText = u"无效的书源URL.";
  TCheckOutcome wall;
  wall.Position = 6;
  wall.BookSourceName = u"d";
  wall.BookSourceUrl = u"https://d/";
  wall.Verdict = cvBlocked;
  wall.Reason = u"bot-wall";
  wall.Status = 403;
  wall.Attempts = 1;
  // Earlier columns keep their places; the new ones follow.
  EXPECT_EQ(CheckReportCsv({alive, dead, odd, wall}),
            "position,bookSourceName,bookSourceUrl,verdict,status,failText,elapsedMs,reason,confirmed,note,attempts,"
            "search,explore\r\n"
            "1,\"笔趣阁, \"\"新\"\"\",http://a/,alive,200,,12,ok,false,tls-untrusted,1,pass,fail:http-404\r\n"
            "5,b,http://b/,dead,0,\"书源URL测试出错(x).\r\nx\",3001,timeout,true,,2,,\r\n"
            "6,c,\"'-\",unverifiable,0,无效的书源URL.,0,not-http,false,,0,,\r\n"
            "7,d,https://d/,blocked,403,,0,bot-wall,false,,1,,\r\n");
  EXPECT_EQ(CheckReportJson({dead}),
            "[\r\n    {\r\n        \"position\": 5,\r\n        \"bookSourceName\": \"b\",\r\n"
            "        \"bookSourceUrl\": \"http://b/\",\r\n        \"verdict\": \"dead\",\r\n        \"status\": 0,\r\n"
            "        \"failText\": \"书源URL测试出错(x).\\r\\nx\",\r\n        \"elapsedMs\": 3001,\r\n"
            "        \"reason\": \"timeout\",\r\n        \"confirmed\": true,\r\n        \"note\": \"\",\r\n"
            "        \"attempts\": 2\r\n    }\r\n]");
  EXPECT_EQ(CheckReport({dead}, u"r.CSV"), CheckReportCsv({dead}));
  EXPECT_EQ(CheckReport({dead}, u"r.json"), CheckReportJson({dead}));
  EXPECT_EQ(CheckReport({dead}, u"-"), CheckReportJson({dead}));
}

}  // namespace
