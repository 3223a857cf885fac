// Checking sources in the current format: the logged test probes the search
// request and the explore entries the reader app would send, and a batch run
// can probe them too without letting them decide the mark.
#include <gtest/gtest.h>

#include <mutex>

#include "AppTestUtil.h"
#include "FakeMainWindow.h"
#include "HttpTestServers.h"
#include "app/uBookSourceBean.h"
#include "json/KivJson.h"

namespace {

class Format3CheckTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ClearProxyEnvironment();
    server = new TLocalHttpServer();
    auto& s = server->Server();
    s.Get("/", [](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> g(lock);
      siteAgent = req.get_header_value("User-Agent");
      res.set_content("home", "text/html");
    });
    // 200 only for the keyword the check should send, in the charset it names.
    s.Get("/search", [](const httplib::Request& req, httplib::Response& res) {
      res.status = req.target == "/search?q=%E6%88%91%E7%9A%84&page=1" || req.target == "/search?q=%B6%B7%C2%DE&page=1"
                       ? 200
                       : 400;
    });
    s.Post("/api", [](const httplib::Request& req, httplib::Response& res) {
      const bool form = req.get_header_value("Content-Type") == "application/x-www-form-urlencoded";
      res.status = form && req.body == "keyword=%E6%88%91%E7%9A%84&page=1" ? 200 : 400;
    });
    s.Get("/sort/1_1.html", [](const httplib::Request&, httplib::Response& res) { res.set_content("a", "text/html"); });
    s.Get("/sort/2_1.html", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    server->Start();
  }
  static void TearDownTestSuite() { delete server; }
  void SetUp() override {
    logic = std::make_unique<TMainLogic>(win);
    win.Logic = logic.get();
    logic->SetCheckTimeout(2000);
  }
  static String U(const std::string& APath) { return FromUtf8(server->Url(APath)); }
  static std::vector<String> LoggedTest(const std::string& AJson) {
    JSONObject o;
    o.Parse(FromUtf8(AJson), false);
    std::vector<String> log;
    TSourceChecker::CheckSource(&o, false, &log);
    // The time line is not compared.
    if (log.size() >= 2) log.erase(log.end() - 2);
    return log;
  }

  static TLocalHttpServer* server;
  static std::mutex lock;
  static std::string siteAgent;
  FakeMainWindow win;
  std::unique_ptr<TMainLogic> logic;
  TempDir dir;
};
TLocalHttpServer* Format3CheckTest::server = nullptr;
std::mutex Format3CheckTest::lock;
std::string Format3CheckTest::siteAgent;

TEST_F(Format3CheckTest, LoggedTestProbesTheRequestsTheAppWouldSend) {
  const std::string site = server->Url("/");
  const std::string source = R"({"bookSourceName":"s","bookSourceUrl":")" + site +
                             R"(","header":"{\"User-Agent\":\"Mozilla/5.0 (iPhone)\"}",)"
                             R"("searchUrl":"/search?q={{key}}&page={{page}}",)"
                             R"("exploreUrl":"男频\n玄幻::/sort/1_{{page}}.html&&都市::/sort/2_{{page}}.html&&书单::@js:x"})";
  const std::vector<String> expected = {
      u"书源URL连接成功.",
      u"搜索地址连接成功.",
      u"发现列表项【玄幻】连接成功.",
      Format(u"发现列表项【都市】测试失败(StatusCode: 404, %s).", U("/sort/2_1.html")),
      u"无法校验的发现列表项【书单】(脚本).",
      u"结论: 有效 (ok)",
  };
  EXPECT_EQ(LoggedTest(source), expected);
  std::lock_guard<std::mutex> g(lock);
  EXPECT_EQ(siteAgent, "Mozilla/5.0 (iPhone)");  // the source's User-Agent, from its header
}

TEST_F(Format3CheckTest, SearchRequestsInEachForm) {
  const std::string site = server->Url("/");
  struct TCase {
    std::string Members;
    String Line;
  };
  const TCase cases[] = {
      // The check keyword of ruleSearch, in the charset the options name.
      {R"("searchUrl":"/search?q={{key}}&page={{page}},{\"charset\":\"gbk\"}","ruleSearch":{"checkKeyWord":"斗罗"})",
       u"搜索地址连接成功."},
      {R"("searchUrl":"/api,{'method':'post','body':'keyword={{key}}&page={{page}}'}")", u"搜索地址连接成功."},
      {R"("searchUrl":"@js:'/search?q='+key")", u"无法校验的搜索地址(脚本)."},
      {R"("searchUrl":"/search?q={{java.encodeURI(key)}}")", u"无法校验的搜索地址(脚本)."},
      {R"("searchUrl":"/search?q={{key}},{\"webView\":true}")", u"无法校验的搜索地址(浏览器)."},
      {R"("enabled":true)", u"无效的搜索地址."},
  };
  for (const TCase& c : cases) {
    const std::vector<String> log =
        LoggedTest(R"({"bookSourceName":"s","bookSourceUrl":")" + site + "\"," + c.Members + "}");
    ASSERT_GE(log.size(), 2u) << c.Members;
    EXPECT_EQ(log[1], c.Line) << c.Members;
  }
}

// A format-2 source keeps the flat probes exactly.
TEST_F(Format3CheckTest, Format2SourcesKeepTheFlatProbes) {
  const std::string site = server->Url("/");
  const std::vector<String> log = LoggedTest(R"({"bookSourceName":"s","bookSourceUrl":")" + site +
                                             R"(","ruleSearchUrl":")" + server->Url("/search?q=x") + "\"}");
  EXPECT_EQ(log, (std::vector<String>{u"书源URL连接成功.",
                                      Format(u"搜索地址测试失败(StatusCode: 400, %s).", U("/search?q=x")),
                                      u"结论: 有效 (ok)"}));
}

// Deep probes in a batch run fill the report; only the site decides the mark.
TEST_F(Format3CheckTest, DeepProbesReportButDoNotMark) {
  const std::string site = server->Url("/");
  auto src = [&](const std::string& AName, const std::string& AMembers) {
    return R"({"bookSourceName":")" + AName + R"(","bookSourceUrl":")" + site + "\"," + AMembers + "}";
  };
  logic->AddSrcFile(dir.Write(
      "s.json", "[" + src("good", R"("searchUrl":"/search?q={{key}}&page={{page}}","exploreUrl":"a::/sort/1_{{page}}.html")") +
                    "," + src("bad", R"("searchUrl":"/search?q=x","exploreUrl":"标题\nb::/sort/2_{{page}}.html")") + "," +
                    src("script", R"("searchUrl":"<js>x</js>","bookSourceGroup":"G")") + "]"));
  win.Options.RemoveRepeat = false;
  win.Options.CheckSources = true;
  win.Options.Probes = psAll;
  logic->Button1Click();
  const std::vector<TCheckOutcome> o = logic->CheckOutcomes();
  ASSERT_EQ(o.size(), 3u);
  EXPECT_EQ(o[0].Search, u"pass");
  EXPECT_EQ(o[0].Explore, u"pass");
  EXPECT_EQ(o[1].Search, u"fail:http-400");
  EXPECT_EQ(o[1].Explore, u"fail:http-404");
  EXPECT_EQ(o[2].Search, u"script");
  EXPECT_EQ(o[2].Explore, u"none");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(o[size_t(i)].Verdict, cvAlive) << i;
    EXPECT_EQ(TBookSourceItem(logic->Sources().Data().GetJsonObject(i)).bookSourceGroup(), i == 2 ? u"G" : u"")
        << i;
  }
  // Without deep probes nothing is probed beyond the site.
  win.Options.Probes = psSite;
  logic->Button1Click();
  EXPECT_EQ(logic->CheckOutcomes()[0].Search, u"");
}

}  // namespace
