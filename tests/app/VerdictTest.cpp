// Verdicts users can trust: every reason on a small table of hosts, the
// reader app's certificate policy, and the confirmation pass before "失效".
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "AppTestUtil.h"
#include "FakeMainWindow.h"
#include "HttpTestServers.h"
#include "app/uBookSourceBean.h"
#include "json/KivJson.h"

namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

class VerdictTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ClearProxyEnvironment();
    server = new TLocalHttpServer();
    auto& s = server->Server();
    s.Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
    s.Get("/err", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
    s.Get("/forbidden", [](const httplib::Request&, httplib::Response& res) { res.status = 403; });
    s.Get("/challenge", [](const httplib::Request&, httplib::Response& res) {
      res.status = 403;
      res.set_header("cf-mitigated", "challenge");
    });
    s.Get("/cloudflare", [](const httplib::Request&, httplib::Response& res) {
      res.status = 503;
      res.set_header("Server", "cloudflare");
    });
    s.Get("/ddos", [](const httplib::Request&, httplib::Response& res) {
      res.status = 403;
      res.set_header("Server", "ddos-guard");
    });
    s.Get("/busy", [](const httplib::Request&, httplib::Response& res) { res.status = 429; });
    s.Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop", 302); });
    s.Get(R"(/hop(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      res.set_redirect("/hop" + std::to_string(std::stoi(req.matches[1]) + 1), 302);
    });
    s.Get("/inward", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("http://localhost:" + std::to_string(server->Port()) + "/ok", 302);
    });
    server->Start();
    // Reads the request, then closes without a word.
    hangup = new TRawServer([](int fd, const std::string&) { (void)fd; });
  }
  static void TearDownTestSuite() {
    delete server;
    delete hangup;
  }
  void SetUp() override {
    logic = std::make_unique<TMainLogic>(win);
    win.Logic = logic.get();
    logic->SetCheckTimeout(2000);
  }
  void TearDown() override { logic.reset(); }
  static std::string U(const std::string& APath) { return server->Url(APath); }
  // The conclusion line of the logged check of one address.
  static String Conclusion(const std::string& AUrl) {
    JSONObject o;
    o.Parse(FromUtf8(Src("s", AUrl)), false);
    std::vector<String> log;
    try {
      TSourceChecker::CheckSource(&o, false, &log);
    } catch (const Exception&) {
      // A missing address raises whatever ARaiseErr says; the log still ends with the conclusion.
    }
    return log.empty() ? String() : log.back();
  }
  void Load(const std::string& AJson) { logic->AddSrcFile(dir.Write("s.json", AJson)); }
  TBookSourceItem Item(int i) { return TBookSourceItem(logic->Sources().Data().GetJsonObject(i)); }
  std::vector<TCheckOutcome> Run(bool AConfirm = true) {
    win.Options.RemoveRepeat = false;
    win.Options.CheckSources = true;
    win.Options.ConfirmDead = AConfirm;
    logic->Button1Click();
    return logic->CheckOutcomes();
  }

  static TLocalHttpServer* server;
  static TRawServer* hangup;
  FakeMainWindow win;
  std::unique_ptr<TMainLogic> logic;
  TempDir dir;
};
TLocalHttpServer* VerdictTest::server = nullptr;
TRawServer* VerdictTest::hangup = nullptr;

TEST_F(VerdictTest, EveryReasonOnATableOfHosts) {
  // An https address on a server that speaks plain HTTP: the handshake fails.
  std::string https = U("/ok");
  https.replace(0, 4, "https");
  const std::pair<std::string, const char16_t*> cases[] = {
      {U("/ok"), u"结论: 有效 (ok)"},
      {U("/err"), u"结论: 失效 (http-500)"},
      {U("/forbidden"), u"结论: 失效 (http-403)"},
      {U("/challenge"), u"结论: 受阻 (bot-wall)"},
      {U("/cloudflare"), u"结论: 受阻 (bot-wall)"},
      {U("/ddos"), u"结论: 受阻 (bot-wall)"},
      {U("/busy"), u"结论: 受阻 (rate-limited)"},
      {U("/loop"), u"结论: 失效 (redirect-loop)"},
      {U("/hop1"), u"结论: 失效 (too-many-redirects)"},
      {U("/inward"), u"结论: 无法校验 (redirect-private)"},
      {hangup->Url("/"), u"结论: 失效 (reset)"},
      {https, u"结论: 失效 (tls-handshake)"},
      {"-", u"结论: 无法校验 (not-http)"},
      {"", u"结论: 无法校验 (not-http)"},
      {"@js:java.ajax('x')", u"结论: 无法校验 (script)"},
      {"<js>result</js>", u"结论: 无法校验 (script)"},
      {"httpx://a/", u"结论: 无法校验 (not-http)"},
  };
  for (const auto& [url, conclusion] : cases) EXPECT_EQ(Conclusion(url), conclusion) << url;
}

// A name the resolver refuses; skipped where no resolver answers quickly
// (the probe would then end by its time-out).
TEST_F(VerdictTest, UnknownHostIsADnsFailure) {
  const auto start = std::chrono::steady_clock::now();
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo("no-such-host.invalid", "80", nullptr, &found);
  if (found) ::freeaddrinfo(found);
  if (rc == 0 || std::chrono::steady_clock::now() - start > std::chrono::seconds(2))
    GTEST_SKIP() << "the resolver gives no quick answer for no-such-host.invalid";
  EXPECT_EQ(Conclusion("http://no-such-host.invalid/"), u"结论: 失效 (dns)");
}

// A time-out needs a short limit, so it is read from a batch run.
TEST_F(VerdictTest, TimeoutIsItsOwnReason) {
  TRawServer silent([](int fd, const std::string&) {
    char b[256];
    while (::recv(fd, b, sizeof b, 0) > 0) {
    }
  });
  logic->SetCheckTimeout(300);
  Load("[" + Src("s", silent.Url("/")) + "]");
  const auto outcomes = Run(false);
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].Verdict, cvDead);
  EXPECT_EQ(outcomes[0].Reason, u"timeout");
}

// Reader apps take any certificate: a self-signed site is alive, with a note.
TEST_F(VerdictTest, SelfSignedCertificateIsAliveWithANote) {
  TTestCertificate cert;
  if (!cert.Ok) GTEST_SKIP() << "the openssl command could not make a certificate";
  TLocalHttpServer tls(cert.Cert, cert.Key);
  tls.Server().Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
  tls.Start();
  std::string url = tls.Url("/");
  EXPECT_EQ(Conclusion(url), u"结论: 有效 (ok, tls-untrusted)");
  Load("[" + Src("tls", url, "失效") + "]");
  const auto outcomes = Run();
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].Verdict, cvAlive);
  EXPECT_EQ(outcomes[0].Note, u"tls-untrusted");
  EXPECT_EQ(Item(0).bookSourceGroup(), u"");
}

// Only dead sources get the mark and only live ones lose it: a bot wall, a
// rate limit, "-" or a script keep their groups as they were.
TEST_F(VerdictTest, OnlyDeadIsMarkedAndOnlyAliveUnmarked) {
  Load("[" + Src("wall", U("/challenge"), "A") + "," + Src("wall marked", U("/challenge"), "A; 失效") + "," +
       Src("busy", U("/busy"), "失效") + "," + Src("dash", "-", "B") + "," + Src("script", "@js:x", "失效") + "," +
       Src("back", U("/ok"), "C; 失效") + "," + Src("dead", U("/err"), "D") + "]");
  const auto outcomes = Run();
  const std::vector<String> groups = {u"A", u"A; 失效", u"失效", u"B", u"失效", u"C", u"D; 失效"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Item(i).bookSourceGroup(), groups[size_t(i)]) << i;
  ASSERT_EQ(outcomes.size(), 7u);
  const TCheckVerdict verdicts[] = {cvBlocked, cvBlocked, cvBlocked, cvUnverifiable, cvUnverifiable, cvAlive, cvDead};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(outcomes[size_t(i)].Verdict, verdicts[i]) << i;
  // The log counts each class and names every source that is not alive.
  const std::vector<String> m = win.LogMessages();
  ASSERT_GE(m.size(), 3u);
  EXPECT_EQ(m[m.size() - 3], u"有效 1, 失效 1, 受阻 3, 无法校验 2");
  const String listed = m[m.size() - 2];
  EXPECT_NE(listed.find(u"受阻: wall " + FromUtf8(U("/challenge")) + u" (bot-wall)"), String::npos) << ToUtf8(listed);
  EXPECT_NE(listed.find(u"无法校验: dash - (not-http)"), String::npos);
  EXPECT_NE(listed.find(u"失效: dead " + FromUtf8(U("/err")) + u" (http-500, 已复查)"), String::npos);
  EXPECT_EQ(listed.find(u"back"), String::npos);
  EXPECT_EQ(m.back(), u"任务结束");
  EXPECT_EQ(win.Status[1], u"任务结束 (有效 1, 失效 1, 受阻 3, 无法校验 2)");
}

// A host that fails its first request only is alive after the confirmation
// pass; one that fails again is dead and says so.
TEST_F(VerdictTest, ConfirmationPassRescuesAHostThatFailsOnce) {
  std::atomic<int> seen{0};
  TRawServer flaky([&](int fd, const std::string& head) {
    if (head.empty()) return;
    if (seen.fetch_add(1) == 0) return;  // the first request gets no answer
    TRawServer::SendAll(fd, kOk);
  });
  Load("[" + Src("flaky", flaky.Url("/"), "失效") + "," + Src("dead", U("/err")) + "]");
  const auto outcomes = Run();
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].Verdict, cvAlive);
  EXPECT_FALSE(outcomes[0].Confirmed);
  EXPECT_EQ(outcomes[0].Attempts, 2);
  EXPECT_EQ(outcomes[1].Verdict, cvDead);
  EXPECT_TRUE(outcomes[1].Confirmed);
  EXPECT_EQ(outcomes[1].Attempts, 2);
  EXPECT_EQ(Item(0).bookSourceGroup(), u"");
  EXPECT_EQ(Item(1).bookSourceGroup(), u"失效");
  const std::vector<String> m = win.LogMessages();
  EXPECT_NE(std::find(m.begin(), m.end(), u"正在复查失效书源..."), m.end());
  ASSERT_FALSE(win.WaitTexts.empty());
  EXPECT_EQ(win.WaitTexts.back().substr(0, 3), u"复查 ");

  // Without the pass the first failure is final.
  seen = 0;
  const auto once = Run(false);
  EXPECT_EQ(once[0].Verdict, cvDead);
  EXPECT_EQ(once[0].Reason, u"reset");
  EXPECT_FALSE(once[0].Confirmed);
  EXPECT_EQ(Item(0).bookSourceGroup(), u"失效");
}

// The pass probes one host at a time, and a host whose connection failed
// again answers for its other sources without another wait.
TEST_F(VerdictTest, ConfirmationProbesAFailedHostOnce) {
  std::atomic<int> connections{0};
  TRawServer down([&](int, const std::string& head) {
    if (!head.empty()) connections.fetch_add(1);
  });
  std::string list = "[";
  for (int i = 0; i < 4; ++i) list += (i ? "," : "") + Src("s" + std::to_string(i), down.Url("/" + std::to_string(i)));
  Load(list + "]");
  const auto outcomes = Run();
  ASSERT_EQ(outcomes.size(), 4u);
  for (const TCheckOutcome& o : outcomes) {
    EXPECT_EQ(o.Verdict, cvDead);
    EXPECT_EQ(o.Reason, u"reset");
    EXPECT_TRUE(o.Confirmed);
  }
  EXPECT_EQ(connections.load(), 5);  // four in the main pass, one in the confirmation pass
}

// One check job probes many sources with one client: a cookie one site sets
// must not travel with the next source's probe.
TEST_F(VerdictTest, EachSourceIsProbedWithAnEmptyCookieJar) {
  std::atomic<int> withCookie{0};
  TLocalHttpServer jar;
  jar.Server().Get("/set", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "sid=1; Path=/");
    res.set_content("ok", "text/plain");
  });
  jar.Server().Get("/next", [&](const httplib::Request& req, httplib::Response& res) {
    if (req.has_header("Cookie")) withCookie.fetch_add(1);
    res.set_content("ok", "text/plain");
  });
  jar.Start();
  Load("[" + Src("a", jar.Url("/set")) + "," + Src("b", jar.Url("/next")) + "]");
  win.Options.ProbeCount = 1;  // one job, one client, both sources
  Run();
  EXPECT_EQ(withCookie.load(), 0);
}

// A stop during the confirmation pass ends the run; what was not probed
// again is not marked.
TEST_F(VerdictTest, StopDuringTheConfirmationPass) {
  TRawServer silent([](int fd, const std::string&) {
    char b[256];
    while (::recv(fd, b, sizeof b, 0) > 0) {
    }
  });
  std::string list = "[";
  for (int i = 0; i < 3; ++i) list += (i ? "," : "") + Src("s" + std::to_string(i), silent.Url("/" + std::to_string(i)));
  Load(list + "]");
  logic->SetCheckTimeout(400);
  bool stopped = false;
  win.WhileWaiting = [&](FakeMainWindow& w) {
    if (!stopped && !w.WaitTexts.empty()) {
      stopped = true;
      logic->Button1Click();
    }
  };
  const auto outcomes = Run();
  EXPECT_TRUE(stopped);
  EXPECT_EQ(logic->RunState(), rsIdle);
  EXPECT_LE(outcomes.size(), 1u);  // at most the probe that was under way
  int marked = 0;
  for (int i = 0; i < 3; ++i) marked += Item(i).bookSourceGroup() == u"失效";
  EXPECT_EQ(marked, int(outcomes.size()));
}

}  // namespace
