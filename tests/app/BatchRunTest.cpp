#include <gtest/gtest.h>
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

class BatchRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ClearProxyEnvironment();
    server = new TLocalHttpServer();
    auto& s = server->Server();
    s.Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
    s.Get("/nf", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    s.Get("/err", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
    s.Get("/redir", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/ok", 302); });
    s.Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop", 302); });
    s.Get("/slow500", [](const httplib::Request&, httplib::Response& res) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      res.status = 500;
    });
    s.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
        static const std::string block(64 * 1024, 'x');
        return sink.write(block.data(), block.size());
      });
    });
    server->Start();
    silent = new TRawServer([](int fd, const std::string&) {
      // Never answers: waits until the client gives up or the server stops.
      char b[256];
      while (::recv(fd, b, sizeof b, 0) > 0) {
      }
    });
  }
  static void TearDownTestSuite() {
    delete server;
    delete silent;
    server = nullptr;
    silent = nullptr;
  }
  void SetUp() override {
    logic = std::make_unique<TMainLogic>(win);
    win.Logic = logic.get();
    logic->SetCheckTimeout(2000);
  }
  void TearDown() override { logic.reset(); }
  void Load(const std::string& json) { logic->AddSrcFile(dir.Write("s.json", json)); }
  static std::string U(const std::string& path) { return server->Url(path); }
  TBookSourceItem Item(int i) { return TBookSourceItem(logic->Sources().Data().GetJsonObject(i)); }
  std::vector<String> Messages() { return win.LogMessages(); }
  bool Logged(const String& m) {
    auto v = Messages();
    return std::find(v.begin(), v.end(), m) != v.end();
  }

  static TLocalHttpServer* server;
  static TRawServer* silent;
  FakeMainWindow win;
  std::unique_ptr<TMainLogic> logic;
  TempDir dir;
};
TLocalHttpServer* BatchRunTest::server = nullptr;
TRawServer* BatchRunTest::silent = nullptr;

TEST_F(BatchRunTest, NoStageRunsUntilCancelled) {
  win.Options.RemoveRepeat = false;
  win.Options.CheckSources = false;
  int pumps = 0;
  win.WhileWaiting = [&](FakeMainWindow& w) {
    if (++pumps == 5) {
      EXPECT_EQ(w.RunTag, rsRunning);
      EXPECT_EQ(w.RunCaption, u"停止(&S)");
      logic->Button1Click();  // the wait dialog's cancel
    }
  };
  logic->Button1Click();
  EXPECT_EQ(win.WaitShown, 1);
  EXPECT_EQ(logic->RunState(), rsIdle);
  EXPECT_EQ(win.RunCaption, u"开始处理(&B)");
  EXPECT_EQ(Messages(), (std::vector<String>{u"正在初始化任务...", u"任务结束"}));
  EXPECT_EQ(win.Status[1], u"任务结束");
  EXPECT_FALSE(win.TimerOn);
}

TEST_F(BatchRunTest, CheckStageMarksDeadAndUnmarksLiveSources) {
  const std::string refused = "http://127.0.0.1:1/";
  Load("[" + Src("ok", U("/ok"), "失效,A") + "," + Src("nf", U("/nf")) + "," + Src("err", U("/err"), "B") + "," +
       Src("redir", U("/redir")) + "," + Src("loop", U("/loop")) + "," + Src("refused", refused) + "," +
       Src("silent", silent->Url("/")) + "," + Src("bad", "-", "失效") + "]");
  win.Options.RemoveRepeat = false;
  win.Options.CheckSources = true;
  logic->Button1Click();
  EXPECT_EQ(logic->RunState(), rsIdle);
  EXPECT_EQ(Item(0).bookSourceGroup(), u"A");  // came back: mark gone, list rewritten
  EXPECT_EQ(Item(1).bookSourceGroup(), u"");
  EXPECT_EQ(Item(2).bookSourceGroup(), u"B; 失效");
  EXPECT_EQ(Item(3).bookSourceGroup(), u"");
  EXPECT_EQ(Item(4).bookSourceGroup(), u"失效");
  EXPECT_EQ(Item(5).bookSourceGroup(), u"失效");
  EXPECT_EQ(Item(6).bookSourceGroup(), u"失效");
  EXPECT_EQ(Item(7).bookSourceGroup(), u"失效");
  EXPECT_EQ(Messages().front(), u"正在初始化任务...");
  EXPECT_EQ(Messages().back(), u"任务结束");
  EXPECT_FALSE(Logged(u"正在校验书源..."));
  EXPECT_FALSE(win.ProgressVisible);
}

TEST_F(BatchRunTest, EndlessBodyStillGetsItsVerdictFromTheStatus) {
  Load("[" + Src("endless", U("/endless")) + "]");
  win.Options.RemoveRepeat = false;
  win.Options.CheckSources = true;
  auto t0 = std::chrono::steady_clock::now();
  logic->Button1Click();
  EXPECT_EQ(Item(0).bookSourceGroup(), u"");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
}

TEST_F(BatchRunTest, DedupeThenCheck) {
  Load("[" + Src("a", U("/ok")) + "," + Src("a copy", U("/OK"), "G") + "," + Src("b", U("/err")) + "," +
       Src("a again", U("/ok")) + "]");
  win.Options.RemoveRepeat = true;
  win.Options.RealDedupe = true;
  win.Options.CheckSources = true;
  logic->Button1Click();
  // "/OK" differs from "/ok" only in ASCII case: a duplicate.
  ASSERT_EQ(logic->Sources().Data().Count(), 2);
  EXPECT_EQ(Item(0).bookSourceName(), u"a");
  EXPECT_EQ(Item(1).bookSourceGroup(), u"失效");
  std::vector<String> m = Messages();
  EXPECT_EQ(m, (std::vector<String>{u"正在初始化任务...", u"正在去重复...", u"正在校验书源...", u"正在复查失效书源...",
                                     u"有效 1, 失效 1, 受阻 0, 无法校验 0",
                                     FromUtf8("失效: b " + U("/err") + " (http-500, 已复查)"), u"任务结束"}));
  EXPECT_EQ(win.Status[0], u"书源总数：2个, 当前: 2个");
}

TEST_F(BatchRunTest, DedupeWithRealDedupeOffKeepsRenamedCopies) {
  Load("[" + Src("a", "http://x") + "," + Src("b", "http://x") + "," + Src("a", "http://X") + "]");
  win.Options.RealDedupe = false;
  logic->Button1Click();
  EXPECT_EQ(logic->Sources().Data().Count(), 2);
  EXPECT_EQ(Messages().back(), u"任务结束");
}

TEST_F(BatchRunTest, EmptyCollectionWithCheckEndsAtOnce) {
  win.Options.RemoveRepeat = false;
  win.Options.CheckSources = true;
  logic->Button1Click();
  EXPECT_EQ(Messages(), (std::vector<String>{u"正在初始化任务...", u"有效 0, 失效 0, 受阻 0, 无法校验 0", u"任务结束"}));
}

TEST_F(BatchRunTest, StopDuringDedupeWithCheckPendingEndsTheRun) {
  Load("[" + Src("a", U("/ok")) + "," + Src("a", U("/ok")) + "]");
  win.Options.RemoveRepeat = true;
  win.Options.CheckSources = true;
  // Hold the pool so the stop lands before duplicate removal starts.
  GlobalWorkers->DisableWorkers();
  int pumps = 0;
  win.WhileWaiting = [&](FakeMainWindow& w) {
    if (++pumps == 1) {
      logic->Button1Click();
      EXPECT_EQ(w.RunCaption, u"正在停止...");
      EXPECT_EQ(w.RunTag, rsStopping);
      GlobalWorkers->EnableWorkers();
    }
  };
  logic->Button1Click();
  EXPECT_EQ(logic->RunState(), rsIdle);
  EXPECT_EQ(Messages().back(), u"任务结束");
  EXPECT_FALSE(Logged(u"正在校验书源..."));
  EXPECT_EQ(Item(0).bookSourceGroup(), u"");  // never checked
}

TEST_F(BatchRunTest, StopDuringCheckClaimsNoNewSource) {
  std::string list = "[";
  for (int i = 0; i < 40; ++i) list += (i ? "," : "") + Src("s" + std::to_string(i), silent->Url("/" + std::to_string(i)));
  Load(list + "]");
  win.Options.RemoveRepeat = false;
  win.Options.CheckSources = true;
  win.Options.WorkerCount = u"5";  // 4 check jobs
  win.Options.ConfirmDead = false;  // failures are marked as they come
  bool stopped = false;
  // The server is shared by the suite: count this test's connections only.
  const int before = silent->Accepted();
  win.WhileWaiting = [&](FakeMainWindow&) {
    if (!stopped && silent->Accepted() >= before + 2) {
      stopped = true;
      logic->Button1Click();
      logic->Button1Click();  // a second request only adds to the count
    }
  };
  logic->Button1Click();
  EXPECT_TRUE(stopped);
  EXPECT_EQ(Messages().back(), u"任务结束");
  int marked = 0;
  for (int i = 0; i < 40; ++i) marked += Item(i).bookSourceGroup() == u"失效";
  EXPECT_GE(marked, 1);
  EXPECT_LE(marked, 8);  // only what was claimed before the stop
}

TEST_F(BatchRunTest, RunEndsOnlyAfterTheLastCheckIsWritten) {
  // One slow dead site among fast ones: the fast jobs run out first.
  std::string list = "[" + Src("slow", U("/slow500"));
  for (int i = 0; i < 12; ++i) list += "," + Src("f" + std::to_string(i), U("/ok"));
  Load(list + "]");
  win.Options.RemoveRepeat = false;
  win.Options.CheckSources = true;
  logic->Button1Click();
  EXPECT_EQ(Item(0).bookSourceGroup(), u"失效");
}

TEST_F(BatchRunTest, TwoRunsInARowDoNotMix) {
  Load("[" + Src("a", U("/ok")) + "," + Src("b", U("/err")) + "]");
  win.Options.RemoveRepeat = false;
  win.Options.CheckSources = true;
  for (int run = 0; run < 3; ++run) {
    logic->Button1Click();
    EXPECT_EQ(Messages(), (std::vector<String>{u"正在初始化任务...", u"正在复查失效书源...",
                                               u"有效 1, 失效 1, 受阻 0, 无法校验 0",
                                               FromUtf8("失效: b " + U("/err") + " (http-500, 已复查)"), u"任务结束"}))
        << run;
    EXPECT_EQ(Item(1).bookSourceGroup(), u"失效");
    EXPECT_EQ(Item(0).bookSourceGroup(), u"");
  }
}

TEST_F(BatchRunTest, WorkerCountOption) {
  struct Case {
    const char16_t* text;
    int expect;
  } cases[] = {{u"12", 12}, {u"", 8}, {u"abc", 8}, {u"3x", 8}};
  win.Options.RemoveRepeat = false;
  win.Options.CheckSources = false;
  win.WhileWaiting = [&](FakeMainWindow&) { logic->Button1Click(); };
  for (auto& c : cases) {
    win.Options.WorkerCount = c.text;
    logic->Button1Click();
    EXPECT_EQ(GlobalWorkers->MaxWorkers(), c.expect) << ToUtf8(c.text);
  }
  // "0" becomes 1, which the pool ignores.
  win.Options.WorkerCount = u"0";
  logic->Button1Click();
  EXPECT_EQ(GlobalWorkers->MaxWorkers(), 8);
  win.Options.WorkerCount = u"60";
}

TEST_F(BatchRunTest, StatusTextDuringTheRun) {
  win.Options.RemoveRepeat = false;
  win.Options.CheckSources = false;
  std::vector<String> seen;
  win.WhileWaiting = [&](FakeMainWindow& w) {
    logic->DispLog();
    seen.push_back(w.Status[1]);
    if (seen.size() == 3) logic->Button1Click();
  };
  logic->Button1Click();
  ASSERT_GE(seen.size(), 3u);
  const String head = u"正在初始化任务... (用时: ";
  EXPECT_EQ(seen[0].substr(0, head.size()), head);
  EXPECT_EQ(seen[0].substr(seen[0].size() - 3), u"ms)");
}

// Row texts are read from another thread all through a run that removes
// duplicates and rewrites groups: ThreadSanitizer must find no race and no
// row may name a destroyed source.
TEST_F(BatchRunTest, RowTextsStaySafeWhileARunChangesSources) {
  std::string list = "[";
  for (int i = 0; i < 300; ++i) {
    if (i) list += ",";
    list += Src("s" + std::to_string(i), U(i % 3 ? "/ok" : "/err") + "?n=" + std::to_string(i % 150), "G" + std::to_string(i % 7));
  }
  Load(list + "]");
  win.Options.RemoveRepeat = true;
  win.Options.CheckSources = true;
  std::atomic<bool> done{false};
  std::atomic<long> reads{0};
  std::thread reader([&] {
    while (!done) {
      const int n = logic->RowCount();
      for (int i = 0; i < n; i += 7) {
        String row = logic->RowText(i);
        if (!row.empty()) {
          EXPECT_EQ(row.substr(0, 2), u"【G");
        }
        ++reads;
      }
    }
  });
  logic->Button1Click();
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(logic->Sources().Data().Count(), 150);
  EXPECT_EQ(Messages().back(), u"任务结束");
}

// The batch program's options: a probe without any answer is retried, and
// no host sees more than its share of probes at once.
TEST_F(BatchRunTest, RetriesAndPerHostLimit) {
  std::atomic<int> seen{0}, active{0}, peak{0};
  TRawServer flaky([&](int fd, const std::string& head) {
    if (head.empty()) return;
    if (seen.fetch_add(1) < 2) return;  // the first two are dropped without an answer
    TRawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  });
  TRawServer busy([&](int fd, const std::string& head) {
    if (head.empty()) return;
    int now = active.fetch_add(1) + 1;
    for (int p = peak.load(); now > p && !peak.compare_exchange_weak(p, now);) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    active.fetch_sub(1);
    TRawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  });
  std::string list = "[" + Src("flaky", flaky.Url("/"));
  for (int i = 0; i < 12; ++i) list += "," + Src("m" + std::to_string(i), busy.Url("/" + std::to_string(i)));
  Load(list + "]");
  logic->SetCheckPolicy(3, 50, 2);
  std::vector<TCheckOutcome> outcomes(13);
  std::mutex lock;
  logic->CheckListeners().Add([&](const TCheckOutcome& o) {
    std::lock_guard<std::mutex> g(lock);
    outcomes[size_t(o.Position)] = o;
  });
  win.Options.RemoveRepeat = false;
  win.Options.CheckSources = true;
  win.Options.WorkerCount = u"13";
  logic->Button1Click();
  EXPECT_EQ(Item(0).bookSourceGroup(), u"");  // alive on the third try
  EXPECT_EQ(outcomes[0].Attempts, 3);
  EXPECT_EQ(outcomes[0].Status, 200);
  for (int i = 1; i < 13; ++i) EXPECT_EQ(Item(i).bookSourceGroup(), u"") << i;
  EXPECT_LE(peak.load(), 2);
  EXPECT_GE(peak.load(), 1);
}

// The logic goes while check jobs still probe: whatever they post for the main
// thread afterwards must not reach the destroyed object (AddressSanitizer
// sees it if it does).
TEST_F(BatchRunTest, DestroyedWhileChecksRunLeavesNoJobBehind) {
  std::string list = "[";
  for (int i = 0; i < 6; ++i) list += (i ? "," : "") + Src("s" + std::to_string(i), silent->Url("/" + std::to_string(i)));
  Load(list + "]");
  logic->SetCheckTimeout(800);
  win.Options.RemoveRepeat = false;
  win.Options.CheckSources = true;
  win.AbandonWait = true;
  const int before = silent->Accepted();
  logic->Button1Click();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (silent->Accepted() < before + 2 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  logic.reset();
  // Main-thread jobs posted by the ending check jobs would run here.
  for (int i = 0; i < 30; ++i) {
    TEvent never(true);
    MsgWaitForEvent(never, 20);
  }
  EXPECT_GE(silent->Accepted(), before + 2);
}

}  // namespace
