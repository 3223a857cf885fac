#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "AppTestUtil.h"
#include "FakeMainWindow.h"
#include "HttpTestServers.h"
#include "json/KivJson.h"

namespace {

// A port nothing listens on.
int RefusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

class CheckTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ClearProxyEnvironment();
    server = new TLocalHttpServer();
    auto& s = server->Server();
    s.Get("/ok", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("ok " + req.get_header_value("User-Agent"), "text/plain");
    });
    s.Get("/nf", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    s.Get("/err", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
    s.Get("/redir", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/ok", 302); });
    s.Get("/moved", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/nowhere", 301); });
    s.Get("/nowhere", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/moved", 301); });
    s.Get("/ua", [](const httplib::Request& req, httplib::Response& res) {
      res.status = req.get_header_value("User-Agent") == "TestAgent/1" ? 200 : 403;
    });
    s.Get("/q", [](const httplib::Request& req, httplib::Response& res) {
      // Characters beyond Latin-1 go out in the GBK code page.
      res.status = req.target == "/q?k=%D6%D0+x" ? 200 : 400;
    });
    server->Start();
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override {
    logic = std::make_unique<TMainLogic>(win);
    win.Logic = logic.get();
  }
  static std::string U(const std::string& path) { return server->Url(path); }
  bool Check(const std::string& json, std::vector<String>* log, bool raise = false) {
    JSONObject o;
    o.Parse(FromUtf8(json), false);
    return TSourceChecker::CheckSource(&o, raise, log);
  }
  static std::vector<String> Lines(const std::vector<String>& log) {
    // the last two lines are the elapsed time and the conclusion
    return std::vector<String>(log.begin(), log.end() - std::min<size_t>(log.size(), 2));
  }

  static TLocalHttpServer* server;
  FakeMainWindow win;
  std::unique_ptr<TMainLogic> logic;
};
TLocalHttpServer* CheckTest::server = nullptr;

TEST_F(CheckTest, SiteVerdictsWithTheirLogLines) {
  const std::string refused = "http://127.0.0.1:" + std::to_string(RefusedPort()) + "/";
  struct Case {
    std::string url;
    bool verdict;
    std::u16string first;
    std::u16string conclusion;  // the last line
  } cases[] = {
      {U("/ok"), true, u"书源URL连接成功.", u"结论: 有效 (ok)"},
      {U("/nf"), true, u"书源URL连接成功.", u"结论: 有效 (ok)"},
      {U("/redir"), true, u"书源URL连接成功.", u"结论: 有效 (ok)"},
      {U("/err"), false, FromUtf8("书源URL测试失败(StatusCode: 500, " + U("/err") + ")."), u"结论: 失效 (http-500)"},
      {U("/moved"), false, u"", u"结论: 失效 (redirect-loop)"},
      {"-", false, u"无效的书源URL.", u"结论: 无法校验 (not-http)"},
      {"ftp://127.0.0.1/", false, u"无效的书源URL.", u"结论: 无法校验 (not-http)"},
      {refused, false, u"书源URL测试出错(", u"结论: 失效 (refused)"},
  };
  for (auto& c : cases) {
    std::vector<String> log;
    EXPECT_EQ(Check(Src("S", c.url), &log), c.verdict) << c.url;
    ASSERT_GE(log.size(), 3u) << c.url;
    EXPECT_EQ(log[0].substr(0, c.first.size()), c.first) << c.url << " " << ToUtf8(log[0]);
    const String& time = log[log.size() - 2];
    EXPECT_EQ(time.substr(0, 3), u"用时 ") << c.url;
    EXPECT_EQ(time.substr(time.size() - 4), u" ms.") << c.url;
    EXPECT_EQ(log.back(), c.conclusion) << c.url;
    // Without a log the verdict is the same.
    EXPECT_EQ(Check(Src("S", c.url), nullptr), c.verdict) << c.url;
  }
}

TEST_F(CheckTest, CapitalSchemeIsAcceptedAndFailureQuotesTheAddressAsWritten) {
  std::string url = U("/err");
  url.replace(0, 4, "HTTP");
  std::vector<String> log;
  EXPECT_FALSE(Check(Src("S", url), &log));
  EXPECT_EQ(log[0], FromUtf8("书源URL测试失败(StatusCode: 500, " + url + ")."));
}

TEST_F(CheckTest, AddressIsEncodedWithSpaceAsPlus) {
  std::vector<String> log;
  EXPECT_TRUE(Check(Src("S", U("/q?k=中 x")), &log)) << ToUtf8(log[0]);
}

TEST_F(CheckTest, UserAgentOfTheSourceIsSent) {
  EXPECT_TRUE(Check(Src("S", U("/ua"), "", "\"httpUserAgent\":\"TestAgent/1\""), nullptr));
  EXPECT_FALSE(Check(Src("S", U("/ua")), nullptr));
}

TEST_F(CheckTest, MissingAddressIsLoggedAndRaisedWhateverRaiseErrSays) {
  for (bool raise : {false, true}) {
    std::vector<String> log;
    try {
      Check("{\"bookSourceName\":\"x\"}", &log, raise);
      FAIL() << "no error";
    } catch (const Exception& E) {
      EXPECT_EQ(E.Message(), u"书源URL无效");
    }
    EXPECT_EQ(log, (std::vector<String>{u"书源URL未设置.", u"结论: 无法校验 (not-http)"}));
  }
}

TEST_F(CheckTest, RaiseErrGivesTwoLinesAndTheSecondText) {
  std::vector<String> log;
  const String failed = FromUtf8("书源URL测试失败(StatusCode: 500, " + U("/err") + ").");
  try {
    Check(Src("S", U("/err")), &log, true);
    FAIL() << "no error";
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message(), u"书源URL测试出错(" + failed + u").");
  }
  EXPECT_EQ(log, (std::vector<String>{failed, u"书源URL测试出错(" + failed + u").", u"结论: 失效 (http-500)"}));
}

TEST_F(CheckTest, SearchAndDiscoverProbes) {
  const String ok = FromUtf8(U("/ok")), nf = FromUtf8(U("/nf"));
  struct Case {
    const char* name;
    String search, find;
    std::vector<String> lines;
  } cases[] = {
      {"search 404 fails", nf, u"", {u"书源URL连接成功.", Format(u"搜索地址测试失败(StatusCode: 404, %s).", nf)}},
      {"no search", u"", u"", {u"书源URL连接成功.", u"无效的搜索地址."}},
      {"two entries by &&", ok, u"A::" + ok + u"&&B::" + nf,
       {u"书源URL连接成功.", u"搜索地址连接成功.", u"发现列表项【A】连接成功.",
        Format(u"发现列表项【B】测试失败(StatusCode: 404, %s).", nf)}},
      {"two lines", ok, u"A::" + ok + u"\nB::" + ok,
       {u"书源URL连接成功.", u"搜索地址连接成功.", u"发现列表项【A】连接成功.", u"发现列表项【B】连接成功."}},
      {"blank line between", ok, u"A::" + ok + u"\n\nB::" + ok,
       {u"书源URL连接成功.", u"搜索地址连接成功.", u"发现列表项【A】连接成功.", u"发现列表格式错误",
        u"发现列表项【B】连接成功."}},
      {"entry without ::", ok, u"just text", {u"书源URL连接成功.", u"搜索地址连接成功.", u"发现列表格式错误"}},
      {"backslash n joins entries", ok, u"A::" + ok + u"\\nB::" + ok,
       {u"书源URL连接成功.", u"搜索地址连接成功.",
        Format(u"发现列表项【A】测试失败(StatusCode: 404, %sB::%s).", ok, ok)}},
  };
  for (auto& c : cases) {
    JSONObject o;
    o.SetString(u"bookSourceUrl", ok);
    o.SetString(u"ruleSearchUrl", c.search);
    o.SetString(u"ruleFindUrl", c.find);
    std::vector<String> log;
    EXPECT_TRUE(TSourceChecker::CheckSource(&o, true, &log)) << c.name;
    EXPECT_EQ(Lines(log), c.lines) << c.name;
  }
}

TEST_F(CheckTest, FailedSiteSkipsSearchAndDiscover) {
  JSONObject o;
  o.SetString(u"bookSourceUrl", FromUtf8(U("/err")));
  o.SetString(u"ruleSearchUrl", FromUtf8(U("/ok")));
  o.SetString(u"ruleFindUrl", u"A::" + FromUtf8(U("/ok")));
  std::vector<String> log;
  EXPECT_FALSE(TSourceChecker::CheckSource(&o, false, &log));
  EXPECT_EQ(log.size(), 3u);
}

TEST_F(CheckTest, EditorTestWritesLinesAndVerdict) {
  win.Editor = u"{\"bookSourceName\":\"x\"}";
  logic->TestEditorText();
  EXPECT_EQ(win.LogLines, (std::vector<String>{u"书源URL未设置.", u"结论: 无法校验 (not-http)"}));
  EXPECT_EQ(win.Errors, (std::vector<String>{u"书源URL无效"}));

  win.LogLines.clear();
  win.Editor = u"{\"bookSourceUrl\":\"-\"}";
  logic->TestEditorText();
  ASSERT_EQ(win.LogLines.size(), 4u);
  EXPECT_EQ(win.LogLines[0], u"无效的书源URL.");
  EXPECT_EQ(win.LogLines[1].substr(0, 3), u"用时 ");
  EXPECT_EQ(win.LogLines[2], u"结论: 无法校验 (not-http)");
  EXPECT_EQ(win.LogMessages()[3], u"书源异常!");
  EXPECT_EQ(win.LogLines[3][0], u'[');

  win.LogLines.clear();
  win.Editor = FromUtf8(Src("S", U("/ok")));
  logic->TestEditorText();
  EXPECT_EQ(win.LogMessages().back(), u"恭喜, 检测通过!");
}

}  // namespace
