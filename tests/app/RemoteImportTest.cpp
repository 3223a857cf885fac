// The import from an address in the background: the main thread keeps
// pumping while a server holds its answer, the sources come afterwards, a
// failed address is named, a cancel lets go at once and merges nothing, and
// what would clash with the import waits for it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "AppTestUtil.h"
#include "FakeMainWindow.h"
#include "HttpTestServers.h"
#include "app/uMainLogic.h"
#include "app/uRemoteSource.h"
#include "support/KivStr.h"
#include "workers/KivWorker.h"

namespace {

using Clock = std::chrono::steady_clock;

// Holds answers back until the test opens it (or a bound passes, so no
// server thread outlives a failing test for long).
class TGate {
 public:
  // False when the bound ended the wait instead of the test.
  bool Wait() {
    std::unique_lock<std::mutex> lock(FLock);
    ++FWaiting;
    FCond.notify_all();
    const bool opened = FCond.wait_for(lock, std::chrono::seconds(20), [this] { return FOpen; });
    --FWaiting;
    ++FPassed;
    FCond.notify_all();
    return opened;
  }
  void Open() {
    std::lock_guard<std::mutex> lock(FLock);
    FOpen = true;
    FCond.notify_all();
  }
  bool IsOpen() {
    std::lock_guard<std::mutex> lock(FLock);
    return FOpen;
  }
  // Until AWaiting requests are held, or AWaiting passed after opening.
  bool WaitHeld(int AWaiting) {
    std::unique_lock<std::mutex> lock(FLock);
    return FCond.wait_for(lock, std::chrono::seconds(10), [&] { return FWaiting >= AWaiting; });
  }
  bool WaitPassed(int APassed) {
    std::unique_lock<std::mutex> lock(FLock);
    return FCond.wait_for(lock, std::chrono::seconds(25), [&] { return FPassed >= APassed; });
  }

 private:
  std::mutex FLock;
  std::condition_variable FCond;
  bool FOpen = false;
  int FWaiting = 0;
  int FPassed = 0;
};

// Runs main-thread jobs for about AMs.
void Pump(int AMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(AMs);
  TEvent never(true);
  while (Clock::now() < end) MsgWaitForEvent(never, 10);
}

class RemoteImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearProxyEnvironment();
    auto& s = server.Server();
    s.Get("/good.json", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("[" + Src("甲", "https://a.example/") + "," + Src("乙", "https://b.example/") + "]",
                      "application/json");
    });
    s.Get("/missing.json", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    s.Get("/held.json", [this](const httplib::Request&, httplib::Response& res) {
      if (!gate.Wait()) heldTooLong = true;
      res.set_content("[" + Src("迟到", "https://late.example/") + "]", "application/json");
    });
    // The answer's head at once, then a few bytes now and then, for long.
    s.Get("/trickle.json", [this](const httplib::Request&, httplib::Response& res) {
      // A type the server does not compress: each byte goes out as it is written.
      res.set_chunked_content_provider("application/octet-stream", [this](size_t, httplib::DataSink& sink) {
        const auto end = Clock::now() + std::chrono::seconds(20);
        bool ok = sink.write("[", 1);
        while (ok && Clock::now() < end) {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          trickled.fetch_add(1);
          ok = sink.write(" ", 1);
        }
        trickleCut = !ok;
        trickleEnded = true;
        return false;
      });
    });
    s.Get("/list.json", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content("{\"sourceUrls\": [\"" + server.Url("/good.json") + "\", \"" + server.Url("/missing.json") +
                          "\"]}",
                      "application/json");
    });
    s.Get("/held-list.json", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content("{\"sourceUrls\": [\"" + server.Url("/good.json") + "\", \"" + server.Url("/held.json") + "\"]}",
                      "application/json");
    });
    server.Start();
    window.Logic = &logic;
  }

  void TearDown() override {
    // Answers still held go out, so the server's threads end before it does.
    gate.Open();
  }

  String U(const std::string& APath) { return FromUtf8(server.Url(APath)); }

  // Pumps until the import has ended; false when it did not within 20 s.
  bool PumpUntilImported() {
    const auto end = Clock::now() + std::chrono::seconds(20);
    TEvent never(true);
    while (logic.ImportRunning()) {
      if (Clock::now() > end) return false;
      MsgWaitForEvent(never, 10);
    }
    return true;
  }

  // What the handlers touch goes after the server has stopped.
  TGate gate;
  std::atomic<bool> heldTooLong{false};
  std::atomic<int> trickled{0};
  std::atomic<bool> trickleCut{false}, trickleEnded{false};
  TLocalHttpServer server;
  FakeMainWindow window;
  TMainLogic logic{window};
};

TEST_F(RemoteImportTest, MainThreadKeepsPumpingWhileTheServerHoldsItsAnswer) {
  window.AbandonWait = true;  // the dialog's loop is this test's
  logic.ImportAddress(U("/held-list.json"), false);
  ASSERT_TRUE(gate.WaitHeld(1));
  // Main-thread jobs of other work still run while the fetch is pending.
  std::atomic<int> ticks{0};
  for (int i = 0; i < 5; ++i) {
    GlobalWorkers->Post(TJobProcRef([&ticks](PJob) { ticks.fetch_add(1); }), nullptr, true);
    Pump(30);
  }
  EXPECT_EQ(ticks.load(), 5);
  EXPECT_TRUE(logic.ImportRunning());
  EXPECT_EQ(logic.Sources().Count(), 0);
  // The wait dialog names the listed address being fetched now.
  EXPECT_EQ(logic.ImportWaitText(), u"正在下载...\n" + U("/held.json"));
  ASSERT_FALSE(window.WaitTexts.empty());
  EXPECT_EQ(window.WaitTexts.front(), u"正在下载...\n" + U("/held-list.json"));
  EXPECT_EQ(window.WaitTexts.back(), u"正在下载...\n" + U("/held.json"));

  gate.Open();
  ASSERT_TRUE(PumpUntilImported());
  EXPECT_FALSE(heldTooLong);
  ASSERT_EQ(logic.Sources().Count(), 3);
  EXPECT_TRUE(window.Errors.empty());
  EXPECT_TRUE(window.CloseRequested);
  EXPECT_TRUE(logic.ImportWaitText().empty());
  // One operation to take back, named as the menu item.
  EXPECT_EQ(logic.UndoCaption(), u"从网址导入");
  ASSERT_TRUE(logic.Undo());
  EXPECT_EQ(logic.Sources().Count(), 0);
}

TEST_F(RemoteImportTest, FailuresAreNamedAfterTheMergeAsBefore) {
  struct Case {
    std::string Path;
    int Sources;                   // merged
    std::string Named, NotNamed;   // in the error box
  };
  const Case cases[] = {
      {"/list.json", 2, "/missing.json", "/good.json"},
      {"/missing.json", 0, "/missing.json", ""},
      {"/good.json", 2, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Path);
    FakeMainWindow w;
    TMainLogic l(w);
    w.Logic = &l;
    // The modal wait: pumps until the import asks it to close.
    l.ImportAddress(U(c.Path), false);
    EXPECT_FALSE(l.ImportRunning());
    EXPECT_EQ(w.WaitShown, 1);
    EXPECT_EQ(l.Sources().Count(), c.Sources);
    if (c.Named.empty()) {
      EXPECT_TRUE(w.Errors.empty());
      continue;
    }
    ASSERT_EQ(w.Errors.size(), 1u);
    EXPECT_NE(w.Errors[0].find(U(c.Named)), String::npos) << ToUtf8(w.Errors[0]);
    EXPECT_NE(w.Errors[0].find(u"404"), String::npos) << ToUtf8(w.Errors[0]);
    if (!c.NotNamed.empty()) {
      EXPECT_EQ(w.Errors[0].find(U(c.NotNamed)), String::npos);
    }
  }
}

TEST_F(RemoteImportTest, CancelLetsGoAtOnceAndMergesNothing) {
  int pumps = 0;
  window.WhileWaiting = [&](FakeMainWindow&) {
    // Cancelled while the server still holds the answer.
    if (++pumps == 1) {
      ASSERT_TRUE(gate.WaitHeld(1));
    }
    if (pumps == 5) logic.CancelImport();
  };
  logic.ImportAddress(U("/held.json"), false);
  // Back without waiting for the answer: the server holds it still.
  EXPECT_FALSE(gate.IsOpen());
  EXPECT_EQ(pumps, 5);
  EXPECT_FALSE(logic.ImportRunning());
  EXPECT_TRUE(window.CloseRequested);
  EXPECT_TRUE(logic.ImportWaitText().empty());
  EXPECT_FALSE(window.LogMessages().empty());
  EXPECT_NE(window.LogMessages().back().find(U("/held.json")), String::npos);

  // The answer that comes later is dropped.
  gate.Open();
  ASSERT_TRUE(gate.WaitPassed(1));
  Pump(300);
  EXPECT_EQ(logic.Sources().Count(), 0);
  EXPECT_TRUE(window.Errors.empty());
  EXPECT_FALSE(logic.CanUndo());
  // And the next import runs as usual.
  window.WhileWaiting = nullptr;
  logic.ImportAddress(U("/good.json"), false);
  EXPECT_EQ(logic.Sources().Count(), 2);
}

// The fetch itself lets go of a server that has not answered: the worker is
// free again while the answer is still held, not after the 30 s time-out.
TEST_F(RemoteImportTest, CancelEndsTheWaitForAnAnswer) {
  std::atomic<bool> cancel{false};
  std::thread canceller([&] {
    if (gate.WaitHeld(1)) cancel = true;
  });
  TRemoteOptions options;
  EXPECT_THROW(FetchRemote(U("/held.json"), options, &cancel), ELoadCancelled);
  EXPECT_FALSE(gate.IsOpen());
  EXPECT_FALSE(heldTooLong.load());
  canceller.join();
}

TEST_F(RemoteImportTest, CancelEndsABodyBeingReceived) {
  window.AbandonWait = true;
  logic.ImportAddress(U("/trickle.json"), false);
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (trickled.load() < 3 && Clock::now() < end) Pump(10);
  ASSERT_GE(trickled.load(), 3);
  logic.CancelImport();
  // The client drops the connection with the next bytes: the server's writes
  // fail long before it would stop on its own.
  while (!trickleEnded && Clock::now() < end) Pump(10);
  EXPECT_TRUE(trickleEnded);
  EXPECT_TRUE(trickleCut);
  Pump(100);
  EXPECT_EQ(logic.Sources().Count(), 0);
  EXPECT_TRUE(window.Errors.empty());
}

TEST_F(RemoteImportTest, WhatWouldClashWaitsForTheImport) {
  TempDir dir;
  const String file = dir.Write("one.json", "[" + Src("本地", "https://local.example/") + "]");
  window.AbandonWait = true;
  logic.ImportAddress(U("/held.json"), false);
  ASSERT_TRUE(gate.WaitHeld(1));
  struct Case {
    const char* Name;
    std::function<void()> Operation;
  };
  const Case cases[] = {
      {"another import", [&] { logic.ImportAddress(U("/good.json"), false); }},
      {"an address the old way", [&] { logic.AddSrcAddress(U("/good.json"), false); }},
      {"add a file", [&] { logic.AddSrcFile(file); }},
      {"open a file", [&] { logic.OpenSrcFile(file); }},
      {"start a run", [&] {
         TRunOptions options;
         options.RemoveRepeat = true;
         logic.StartRun(options);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      c.Operation();
      ADD_FAILURE() << "not refused";
    } catch (const Exception& E) {
      EXPECT_NE(E.Message().find(u"正在从网址导入"), String::npos) << ToUtf8(E.Message());
    }
    EXPECT_EQ(logic.RunState(), rsIdle);
    EXPECT_TRUE(logic.ImportRunning());
  }
  // Dropped files: the error box says why, nothing loads.
  logic.AddFiles({file});
  ASSERT_EQ(window.Errors.size(), 1u);
  EXPECT_NE(window.Errors[0].find(u"正在从网址导入"), String::npos);
  EXPECT_EQ(logic.Sources().Count(), 0);

  gate.Open();
  ASSERT_TRUE(PumpUntilImported());
  EXPECT_EQ(logic.Sources().Count(), 1);
  // Afterwards each works again.
  logic.AddSrcFile(file);
  EXPECT_EQ(logic.Sources().Count(), 2);
}

// The core alone: notices come on the main thread, in a pump, after the load.
TEST_F(RemoteImportTest, JobHandsOverOnTheMainThreadOnlyWhenNotCancelled) {
  struct Case {
    bool Cancel;
  };
  for (const Case c : {Case{false}, Case{true}}) {
    SCOPED_TRACE(c.Cancel);
    std::atomic<int> done{0};
    bool onMain = false;
    size_t parts = 0;
    std::vector<String> fetched;
    {
      TRemoteLoadJob job(
          U("/list.json"), TRemoteOptions(), [&](const String& AAddress) { fetched.push_back(AAddress); },
          [&](std::vector<TLoadedPart>& AParts, const String& AError) {
            onMain = IsMainThread();
            parts = AParts.size();
            EXPECT_TRUE(AError.empty());
            done.fetch_add(1);
          });
      EXPECT_TRUE(job.Running());
      if (c.Cancel) job.Cancel();
      const auto end = Clock::now() + std::chrono::seconds(10);
      while (job.Running() && Clock::now() < end) Pump(10);
      EXPECT_FALSE(job.Running());
      Pump(c.Cancel ? 300 : 10);
    }
    if (c.Cancel) {
      EXPECT_EQ(done.load(), 0);
      EXPECT_TRUE(fetched.empty());
      continue;
    }
    EXPECT_EQ(done.load(), 1);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(parts, 2u);
    // A notice names the address being fetched when it runs: the list's
    // own and those it lists, never going back; some may come too late.
    const std::vector<String> order = {U("/list.json"), U("/good.json"), U("/missing.json")};
    size_t at = 0;
    for (const String& address : fetched) {
      while (at < order.size() && order[at] != address) ++at;
      EXPECT_LT(at, order.size()) << ToUtf8(address);
    }
  }
}

}  // namespace
