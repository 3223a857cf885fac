// Inputs from addresses, the run history and what changed, as users run the
// program: a child process against local servers whose sites change between runs.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "CliProcess.h"
#include "HttpTestServers.h"
#include "json/KivJson.h"

namespace fs = std::filesystem;

namespace {

bool Has(const std::string& AText, const std::string& APart) { return AText.find(APart) != std::string::npos; }

// One value of a query on the history file, as text.
std::string Query(const std::string& AFile, const std::string& ASql) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(AFile.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, ASql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      out = text ? text : "";
    } else {
      out = std::string("<error: ") + sqlite3_errmsg(db) + ">";
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return out;
}

// The names in one list of the diff object.
std::vector<std::string> DiffNames(const std::string& AJson, const char16_t* AKey) {
  JSONObject root;
  root.Parse(FromUtf8(AJson), false);
  std::vector<std::string> names;
  JSONArray* list = root.GetJsonArray(AKey);
  if (!list) return {"<missing>"};
  for (int i = 0; i < list->Count(); ++i) names.push_back(ToUtf8(list->GetJsonObject(i)->GetString(u"bookSourceName")));
  return names;
}

// A collection shared as a link, and the sites its sources name; the test
// says which sites answer and what the link holds before each run.
class CliHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearProxyEnvironment();
    auto& s = server.Server();
    s.Get(R"(/site/(\w+))", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(stateLock);
      res.status = down.count(req.matches[1].str()) ? 500 : 200;
      res.set_content("site", "text/plain");
    });
    s.Get("/sources.json", [this](const httplib::Request&, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(stateLock);
      res.set_content(listBody, "application/json");
    });
    s.Get("/gone.json", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    server.Start();
  }

  void Serve(const std::vector<std::string>& ASources, const std::set<std::string>& ADown) {
    std::lock_guard<std::mutex> lock(stateLock);
    listBody = "[";
    for (const std::string& name : ASources) {
      listBody += (listBody.size() > 1 ? "," : "") + std::string("{\"bookSourceName\":\"") + name +
                  "\",\"bookSourceUrl\":\"" + server.Url("/site/" + name) +
                  "\",\"ruleSearch\":{\"bookList\":\"x\"}}";
    }
    listBody += "]";
    down = ADown;
  }

  TLocalHttpServer server;
  std::mutex stateLock;
  std::string listBody = "[]";
  std::set<std::string> down;
};

TEST_F(CliHistoryTest, ThreeRunsNameWhatDiedRecoveredAndDisappeared) {
  TempDir dir;
  const std::string history = dir / "history.db";
  struct Run {
    std::vector<std::string> Sources;
    std::set<std::string> Down;
    std::vector<std::string> NewlyDead, Recovered, StillDead, New, Gone;
    std::string Previous;  // the report's previous column, in source order
  };
  const Run runs[] = {
      {{"fall", "rise", "leave"}, {"rise"}, {}, {}, {}, {"fall", "rise", "leave"}, {}, "none none none"},
      {{"fall", "rise"}, {"fall"}, {"fall"}, {"rise"}, {}, {}, {"leave"}, "alive dead"},
      {{"fall", "rise", "late"}, {"fall"}, {}, {}, {"fall"}, {"late"}, {}, "dead alive none"},
  };
  int n = 0;
  for (const Run& run : runs) {
    SCOPED_TRACE(++n);
    Serve(run.Sources, run.Down);
    const std::string diff = dir / ("diff" + std::to_string(n) + ".json");
    const std::string report = dir / ("report" + std::to_string(n) + ".csv");
    const TCliResult r = RunCli({server.Url("/sources.json"), "--check", "--no-confirm", "--timeout", "5000",
                                 "--history", history, "--diff", diff, "--report", report});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::string changes = ReadFile(diff);
    EXPECT_EQ(DiffNames(changes, u"newlyDead"), run.NewlyDead);
    EXPECT_EQ(DiffNames(changes, u"recovered"), run.Recovered);
    EXPECT_EQ(DiffNames(changes, u"stillDead"), run.StillDead);
    EXPECT_EQ(DiffNames(changes, u"new"), run.New);
    EXPECT_EQ(DiffNames(changes, u"gone"), run.Gone);
    // The summary counts them.
    EXPECT_TRUE(Has(r.Err, "newly dead " + std::to_string(run.NewlyDead.size()) + ", recovered " +
                               std::to_string(run.Recovered.size()) + ", still dead " +
                               std::to_string(run.StillDead.size()) + ", new " + std::to_string(run.New.size()) +
                               ", gone " + std::to_string(run.Gone.size())))
        << r.Err;
    // The report's last column is each source's previous verdict.
    std::istringstream lines(ReadFile(report));
    std::string line, previous;
    std::getline(lines, line);
    EXPECT_TRUE(Has(line, ",previous\r")) << line;
    while (std::getline(lines, line)) {
      line.pop_back();  // '\r'
      previous += (previous.empty() ? "" : " ") + line.substr(line.rfind(',') + 1);
    }
    EXPECT_EQ(previous, run.Previous);
  }
  EXPECT_EQ(Query(history, "SELECT count(*) FROM runs"), "3");
  EXPECT_EQ(Query(history, "SELECT group_concat(checked || '/' || dead, ' ') FROM runs"), "3/1 2/1 3/1");
  EXPECT_EQ(Query(history, "SELECT inputs FROM runs WHERE id = 1"), "[\"" + server.Url("/sources.json") + "\"]");
  EXPECT_EQ(Query(history, "PRAGMA journal_mode"), "wal");
  // The newly dead source's reason is the one of this run.
  const std::string second = ReadFile(dir / "diff2.json");
  EXPECT_TRUE(Has(second, "\"reason\": \"http-500\"")) << second;
}

TEST_F(CliHistoryTest, DiffOnStandardOutputAndRespondTimeInTheExport) {
  TempDir dir;
  Serve({"up", "broken"}, {"broken"});
  const TCliResult r = RunCli({server.Url("/sources.json"), "--check", "--no-confirm", "--timeout", "3000",
                               "--history", dir / "h.db", "--diff", "-", "--write-respond-time", "-o",
                               dir / "out.json", "-q"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(DiffNames(r.Out, u"new"), (std::vector<std::string>{"up", "broken"}));
  JSONArray out;
  out.LoadFromFile(FromUtf8(dir / "out.json"));
  ASSERT_EQ(out.Count(), 2);
  const int64_t up = out.GetJsonObject(0)->GetInt64(u"respondTime");
  const int64_t broken = out.GetJsonObject(1)->GetInt64(u"respondTime");
  EXPECT_GE(up, 0);
  EXPECT_LT(up, 3000);
  // Dead: the time-out plus what the probe took.
  EXPECT_GE(broken, 3000);
  // Without the option the sources keep no such member.
  const TCliResult plain = RunCli({server.Url("/sources.json"), "--check", "--no-confirm", "-o", dir / "plain.json"});
  ASSERT_EQ(plain.Status, 0) << plain.Err;
  EXPECT_FALSE(Has(ReadFile(dir / "plain.json"), "respondTime"));
}

// Killed in the middle of a run: the file opens, passes its check and holds
// the earlier run only; the next run records as usual.
TEST_F(CliHistoryTest, RunKilledMidwayLeavesTheHistoryAsItWas) {
  TempDir dir;
  const std::string history = dir / "h.db";
  Serve({"a", "b"}, {});
  ASSERT_EQ(RunCli({server.Url("/sources.json"), "--check", "--history", history, "-q"}).Status, 0);
  // Sites that take the connection and never answer.
  TRawServer silent([](int fd, const std::string&) {
    char b[256];
    while (::recv(fd, b, sizeof b, 0) > 0) {
    }
  });
  dir.Write("slow.json", "[{\"bookSourceName\":\"slow\",\"bookSourceUrl\":\"" + silent.Url("/1") +
                             "\"},{\"bookSourceName\":\"a\",\"bookSourceUrl\":\"" + server.Url("/site/a") + "\"}]");
  const TCliResult killed =
      RunCli({dir / "slow.json", "--check", "--timeout", "20000", "--history", history, "--diff", dir / "d.json"}, {},
             2500);
  EXPECT_EQ(killed.Status, -1) << "the run ended before the kill: " << killed.Err;
  EXPECT_GT(silent.Accepted(), 0);
  EXPECT_EQ(Query(history, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(Query(history, "SELECT count(*) FROM runs"), "1");
  EXPECT_EQ(Query(history, "SELECT count(*) FROM checks"), "2");
  EXPECT_FALSE(fs::exists(dir / "d.json"));
  const TCliResult next = RunCli({server.Url("/sources.json"), "--check", "--history", history, "--diff", "-", "-q"});
  ASSERT_EQ(next.Status, 0) << next.Err;
  EXPECT_EQ(Query(history, "SELECT count(*) FROM runs"), "2");
  EXPECT_TRUE(DiffNames(next.Out, u"new").empty());
}

// A failed fetch: exit 1, the address and the cause named, nothing written.
TEST_F(CliHistoryTest, FailedFetchesWriteNothing) {
  TempDir dir;
  Serve({"a"}, {});
  dir.Write("list.json", "{\"sourceUrls\": [\"" + server.Url("/sources.json") + "\", \"" + server.Url("/gone.json") +
                             "\"]}");
  struct Case {
    std::vector<std::string> Inputs;
    std::vector<std::string> Says;
  };
  const Case cases[] = {
      {{server.Url("/gone.json")}, {server.Url("/gone.json"), "404"}},
      {{dir / "list.json"}, {server.Url("/gone.json"), "404"}},
      {{server.Url("/sources.json"), "http://127.0.0.1:1/x.json"}, {"http://127.0.0.1:1/x.json"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Inputs.front());
    std::vector<std::string> args = c.Inputs;
    for (const char* a : {"--check", "--history", "", "--diff", "", "-o", ""}) args.push_back(a);
    args[args.size() - 5] = dir / "h.db";
    args[args.size() - 3] = dir / "d.json";
    args[args.size() - 1] = dir / "out.json";
    const TCliResult r = RunCli(args);
    EXPECT_EQ(r.Status, 1) << r.Err;
    for (const std::string& part : c.Says) EXPECT_TRUE(Has(r.Err, part)) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "out.json"));
    EXPECT_FALSE(fs::exists(dir / "d.json"));
    EXPECT_EQ(Query(dir / "h.db", "SELECT count(*) FROM runs"), "0");
  }
  // The same list without the failing address loads.
  dir.Write("good.json", "{\"sourceUrls\": [\"" + server.Url("/sources.json") + "\"]}");
  const TCliResult ok = RunCli({dir / "good.json", "-o", dir / "out.json"});
  EXPECT_EQ(ok.Status, 0) << ok.Err;
  EXPECT_TRUE(Has(ReadFile(dir / "out.json"), server.Url("/site/a")));
}

TEST_F(CliHistoryTest, CertificateVerifiedUnlessInsecure) {
  TTestCertificate cert;
  if (!cert.Ok) GTEST_SKIP() << "the openssl command could not make a certificate";
  TLocalHttpServer tls(cert.Cert, cert.Key);
  tls.Server().Get("/s.json", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("[{\"bookSourceName\":\"t\",\"bookSourceUrl\":\"https://t.example/\"}]", "application/json");
  });
  tls.Start();
  TempDir dir;
  const TCliResult refused = RunCli({tls.Url("/s.json"), "-o", dir / "out.json"});
  EXPECT_EQ(refused.Status, 1);
  EXPECT_TRUE(Has(refused.Err, tls.Url("/s.json"))) << refused.Err;
  EXPECT_TRUE(Has(refused.Err, "证书")) << refused.Err;
  EXPECT_FALSE(fs::exists(dir / "out.json"));
  const TCliResult taken = RunCli({tls.Url("/s.json"), "--insecure", "-o", dir / "out.json"});
  EXPECT_EQ(taken.Status, 0) << taken.Err;
  EXPECT_TRUE(fs::exists(dir / "out.json"));
}

TEST_F(CliHistoryTest, HistoryFileProblemsStopBeforeAnyWork) {
  TempDir dir;
  Serve({"a"}, {});
  dir.Write("notes.txt", std::string(4096, 'n'));
  const TCliResult notHistory = RunCli({server.Url("/sources.json"), "--check", "--history", dir / "notes.txt",
                                        "-o", dir / "out.json"});
  EXPECT_EQ(notHistory.Status, 1);
  EXPECT_TRUE(Has(notHistory.Err, "notes.txt")) << notHistory.Err;
  EXPECT_EQ(ReadFile(dir / "notes.txt"), std::string(4096, 'n'));
  EXPECT_FALSE(fs::exists(dir / "out.json"));
  // An output may not replace the history.
  const TCliResult same =
      RunCli({server.Url("/sources.json"), "--check", "--history", dir / "h.db", "--report", dir / "h.db"});
  EXPECT_EQ(same.Status, 2);
  EXPECT_TRUE(Has(same.Err, "same file")) << same.Err;
}

}  // namespace
