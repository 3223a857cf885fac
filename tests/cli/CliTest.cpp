// The program as users run it: a child process on fixture files and local servers.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "CliProcess.h"
#include "HttpTestServers.h"
#include "json/KivJson.h"

namespace fs = std::filesystem;

namespace {

const std::string kData = std::string(TANVORK_TEST_DATA) + "/cli/";

// The sources of an exported (or report) file, parsed back.
std::unique_ptr<JSONArray> LoadArray(const std::string& AFile) {
  auto list = std::make_unique<JSONArray>();
  list->LoadFromFile(FromUtf8(AFile));
  return list;
}

std::vector<std::string> Names(const std::string& AFile) {
  std::vector<std::string> out;
  auto list = LoadArray(AFile);
  for (int i = 0; i < list->Count(); ++i) out.push_back(ToUtf8(list->GetJsonObject(i)->GetString(u"bookSourceName")));
  return out;
}

std::string Src(const std::string& AName, const std::string& AUrl, const std::string& AGroup = "") {
  std::string s = "{\"bookSourceName\":\"" + AName + "\",\"bookSourceUrl\":\"" + AUrl + "\"";
  if (!AGroup.empty()) s += ",\"bookSourceGroup\":\"" + AGroup + "\"";
  return s + "}";
}

bool Has(const std::string& AText, const std::string& APart) { return AText.find(APart) != std::string::npos; }

const char kMergedExport[] =
    "[\r\n"
    "    {\r\n"
    "        \"bookSourceName\": \"一号书源\",\r\n"
    "        \"bookSourceUrl\": \"http://one.example/\",\r\n"
    "        \"bookSourceGroup\": \"A\"\r\n"
    "    },\r\n"
    "    {\r\n"
    "        \"bookSourceName\": \"Two\",\r\n"
    "        \"bookSourceUrl\": \"http://two.example/\",\r\n"
    "        \"custom\": 7\r\n"
    "    },\r\n"
    "    {\r\n"
    "        \"bookSourceName\": \"三号\",\r\n"
    "        \"bookSourceUrl\": \"http://three.example/\",\r\n"
    "        \"bookSourceGroup\": \"乙\"\r\n"
    "    }\r\n"
    "]";

// ---------------------------------------------------------------- usage

TEST(CliUsage, ErrorsExitWithTwoAndTheUsageText) {
  TempDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {},
      {kData + "first.json", "--report", dir / "r.json", "-o", dir / "out.json"},
      {kData + "first.json", "--dedupe", "--dedupe-strict", "-o", dir / "out.json"},
      {kData + "first.json", "--workers", "many", "-o", dir / "out.json"},
      {kData + "first.json", "--bogus", "-o", dir / "out.json"},
  };
  for (const auto& args : cases) {
    const TCliResult r = RunCli(args);
    EXPECT_EQ(r.Status, 2) << r.Err;
    EXPECT_TRUE(Has(r.Err, "tanvork-cli: ")) << r.Err;
    EXPECT_TRUE(Has(r.Err, "Usage: tanvork-cli [OPTIONS] FILE...")) << r.Err;
    EXPECT_EQ(r.Out, "");
  }
  EXPECT_TRUE(dir.Leaves().empty());
}

TEST(CliUsage, HelpAndVersion) {
  TCliResult r = RunCli({"--help"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out.rfind("Usage: tanvork-cli", 0), 0u) << r.Out;
  EXPECT_TRUE(Has(r.Out, "--fail-on-dead"));
  r = RunCli({"--version"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_TRUE(std::regex_match(r.Out, std::regex("tanvork-cli [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << r.Out;
}

// ---------------------------------------------------------------- loading and export

TEST(CliExport, TwoFilesMergedInOrderToANameWithoutExtension) {
  TempDir dir;
  const TCliResult r = RunCli({kData + "first.json", kData + "second-gbk.json", "-o", dir / "merged"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(dir.Leaves(), std::vector<std::string>{"merged.json"});
  EXPECT_EQ(ReadFile(dir / "merged.json"), kMergedExport);
  EXPECT_TRUE(Has(r.Err, "sources loaded: 3, duplicates removed: 0")) << r.Err;

  const TCliResult reversed = RunCli({kData + "second-gbk.json", kData + "first.json", "-o", dir / "rev.txt"});
  ASSERT_EQ(reversed.Status, 0) << reversed.Err;
  EXPECT_EQ(Names(dir / "rev.txt"), (std::vector<std::string>{"三号", "一号书源", "Two"}));
}

// Replacing a file keeps its permissions, and a symbolic link stays a link.
TEST(CliExport, OverwriteKeepsModeAndLink) {
  TempDir dir;
  dir.Write("out.json", "old");
  fs::permissions(dir / "out.json", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(dir / "out.json", dir / "link.json");
  const TCliResult r = RunCli({kData + "first.json", kData + "second-gbk.json", "-o", dir / "link.json"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
  EXPECT_EQ(ReadFile(dir / "out.json"), kMergedExport);
  EXPECT_EQ(fs::status(dir / "out.json").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(dir.Leaves(), (std::vector<std::string>{"link.json", "out.json"}));
}

TEST(CliExport, StandardInputToStandardOutput) {
  const TCliResult r = RunCli({kData + "first.json", "-", "-o", "-", "-q"}, ReadFile(kData + "second-gbk.json"));
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, kMergedExport);
  EXPECT_EQ(r.Err, "");
}

// Standard input is read into memory, not into a temporary file: a TMPDIR
// that cannot hold one does not matter.
TEST(CliExport, StandardInputNeedsNoTemporaryFile) {
  TempDir dir;
  const char* old = std::getenv("TMPDIR");
  const std::string kept = old ? old : "";
  ::setenv("TMPDIR", (dir / "no-such-folder").c_str(), 1);
  const TCliResult r = RunCli({"-", "-o", dir / "out.json", "-q"}, ReadFile(kData + "second-gbk.json"));
  if (old)
    ::setenv("TMPDIR", kept.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  ASSERT_EQ(r.Status, 0) << r.Err;
  const TCliResult plain = RunCli({kData + "second-gbk.json", "-o", "-", "-q"});
  EXPECT_EQ(ReadFile(dir / "out.json"), plain.Out);
  EXPECT_EQ(dir.Leaves(), std::vector<std::string>{"out.json"});
}

// `cat a.json b.json > all.json` keeps both files' sources.
TEST(CliExport, ConcatenatedFilesLoadWhole) {
  TempDir dir;
  dir.Write("all.json", "[" + Src("a", "http://a/") + "]\n[" + Src("b", "http://b/") + "]\n" +
                            Src("c", "http://c/") + "\n");
  const TCliResult r = RunCli({dir / "all.json", "-o", dir / "out.json"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(Names(dir / "out.json"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(Has(r.Err, "all.json: 读取了 3 个JSON值")) << r.Err;
}

// A published file whose array is followed by the tail of an older file
// loads its 78 sources; the junk is named, not silently dropped.
TEST(CliExport, JunkAfterTheSourcesIsNamed) {
  TempDir dir;
  const std::string file = std::string(TANVORK_TEST_DATA) + "/real/cwl666_freebook3_data.json";
  const TCliResult r = RunCli({file, "-o", dir / "out.json", "-q"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(Names(dir / "out.json").size(), 78u);
  EXPECT_TRUE(Has(r.Err, "tanvork-cli: warning: " + file + ": 其后的内容不是JSON，已忽略。第2683行第1列")) << r.Err;
}

TEST(CliExport, WithoutOutputNothingIsWritten) {
  TempDir dir;
  dir.Write("in.json", ReadFile(kData + "first.json"));
  const TCliResult r = RunCli({dir / "in.json", "--sort", "name", "--rename-group", "A=B"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(dir.Leaves(), std::vector<std::string>{"in.json"});
  EXPECT_EQ(ReadFile(dir / "in.json"), ReadFile(kData + "first.json"));
}

// Published files: a second copy of a file is removed whole, and an export
// read back and exported again is the same bytes.
TEST(CliExport, RealFilesDedupeAndRoundTrip) {
  const std::string real = std::string(TANVORK_TEST_DATA) + "/real/";
  const std::string a = real + "choue_bookSource_3.0.json", b = real + "cwl666_freebook3_data.json";
  ASSERT_TRUE(fs::exists(a) && fs::exists(b)) << "missing test data in " << real;
  TempDir dir;
  const TCliResult plain = RunCli({a, b, "-o", dir / "plain.json"});
  ASSERT_EQ(plain.Status, 0) << plain.Err;
  const TCliResult twice = RunCli({a, b, a, "--dedupe", "-o", dir / "dedupe.json"});
  ASSERT_EQ(twice.Status, 0) << twice.Err;
  const size_t copies = Names(a).size();
  ASSERT_GT(copies, 0u);
  EXPECT_TRUE(Has(twice.Err, "duplicates removed: " + std::to_string(copies))) << twice.Err;
  EXPECT_EQ(ReadFile(dir / "dedupe.json"), ReadFile(dir / "plain.json"));
  const TCliResult again = RunCli({dir / "plain.json", "-o", dir / "again.json"});
  ASSERT_EQ(again.Status, 0) << again.Err;
  EXPECT_EQ(ReadFile(dir / "again.json"), ReadFile(dir / "plain.json"));
}

// Format-2 sources become format 3 before duplicates are looked for; a source
// that would lose data stays as it was and the log says why.
TEST(CliConvert, Format3BeforeDedupeWithCountsInTheSummary) {
  TempDir dir;
  const std::string a = R"({"bookSourceName":"a","bookSourceUrl":"http://a/","ruleSearchUrl":"/s?k=searchKey"})";
  const std::string aNew = R"({"bookSourceName":"a","bookSourceUrl":"http://a/","searchUrl":"/s?k={{key}}",)"
                           R"("enabled":true,"enabledExplore":false})";
  dir.Write("in.json", "[" + a + "," + aNew + "," +
                           R"({"bookSourceName":"b","bookSourceUrl":"http://b/","ruleSearchUrl":"/s@k=searchKey@x"},)" +
                           Src("c", "http://c/") + "]");
  const TCliResult r = RunCli({dir / "in.json", "--convert", "format3", "--dedupe", "-o", dir / "out.json"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(Names(dir / "out.json"), (std::vector<std::string>{"a", "b", "c"}));
  auto out = LoadArray(dir / "out.json");
  EXPECT_EQ(ToUtf8(out->GetJsonObject(0)->GetString(u"searchUrl")), "/s?k={{key}}");
  EXPECT_FALSE(out->GetJsonObject(0)->Contains(u"ruleSearchUrl"));
  EXPECT_TRUE(out->GetJsonObject(1)->Contains(u"ruleSearchUrl"));
  EXPECT_TRUE(Has(r.Err, "duplicates removed: 1")) << r.Err;
  EXPECT_TRUE(Has(r.Err, ", converted: 1, left: 2, refused: 1")) << r.Err;
  EXPECT_TRUE(Has(r.Err, "b(http://b/): 搜索地址有第二个'@'部分，无法无损转换")) << r.Err;

  // The published format-2 file: every source converted.
  const std::string real = std::string(TANVORK_TEST_DATA) + "/real/cwl666_freebook3_data.json";
  const TCliResult all = RunCli({real, "--convert", "format3", "-o", dir / "all.json"});
  ASSERT_EQ(all.Status, 0) << all.Err;
  EXPECT_TRUE(Has(all.Err, ", converted: 78, left: 0, refused: 0")) << all.Err;
  const std::string text = ReadFile(dir / "all.json");
  for (const char* old : {"\"ruleSearchUrl\"", "\"httpUserAgent\"", "\"enable\"", "\"serialNumber\"", "\"ruleBookContent\""})
    EXPECT_FALSE(Has(text, old)) << old;
}

// The report must never replace the export: names are compared by the file
// they reach, not as text.
TEST(CliErrors, ReportAndExportNamingOneFileAreRefused) {
  TempDir dir;
  dir.Write("books.json", ReadFile(kData + "first.json"));
  fs::create_directories(dir / "sub");
  fs::create_symlink(dir / "books.json", dir / "link.json");
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {dir / "books.json", dir / "./books.json"},
      {dir / "books.json", dir / "sub/../books.json"},
      {dir / "books", dir / "books.json"},
      {dir / "books.json", dir / "link.json"},
      {dir / "new.json", dir / "sub/../new.json"},  // neither exists yet
  };
  for (const auto& [output, report] : pairs) {
    const TCliResult r = RunCli({dir / "books.json", "--check", "--timeout", "100", "-o", output, "--report", report});
    EXPECT_EQ(r.Status, 2) << output << " / " << report << ": " << r.Err;
    EXPECT_TRUE(Has(r.Err, "same file")) << r.Err;
  }
  EXPECT_EQ(ReadFile(dir / "books.json"), ReadFile(kData + "first.json"));
  EXPECT_EQ(dir.Leaves(), (std::vector<std::string>{"books.json", "link.json", "sub"}));
}

// Devices are written as they are (no extension, no rename); a link to nothing is refused.
TEST(CliErrors, DevicesAndDanglingLinksAsOutput) {
  TCliResult r = RunCli({kData + "first.json", "-o", "/dev/stdout", "-q"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  const TCliResult plain = RunCli({kData + "first.json", "-o", "-", "-q"});
  EXPECT_EQ(r.Out, plain.Out);
  r = RunCli({kData + "first.json", "-o", "/dev/full"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Has(r.Err, "cannot write '/dev/full'")) << r.Err;
  TempDir dir;
  fs::create_symlink(dir / "gone/x.json", dir / "dangling.json");
  r = RunCli({kData + "first.json", "-o", dir / "dangling.json"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_TRUE(Has(r.Err, "symbolic link to a missing file")) << r.Err;
  EXPECT_EQ(dir.Leaves(), std::vector<std::string>{"dangling.json"});
  // Standard output twice, once through its device name.
  r = RunCli({kData + "first.json", "--check", "--timeout", "100", "-o", "/dev/stdout", "--report", "-"});
  EXPECT_EQ(r.Status, 2) << r.Err;
}

// A save killed midway leaves its temporary file; the next save in that
// folder removes it, and only those of processes that are gone.
TEST(CliErrors, StaleTemporaryFilesOfAKilledSaveAreRemoved) {
  TempDir dir;
  const std::string dead = ".out.json.tmp-999999999-abcdef.json", live = ".out.json.tmp-" +
                                                                         std::to_string(::getpid()) + "-abcdef.json";
  dir.Write(dead, "half");
  dir.Write(live, "busy");
  dir.Write(".other.json.tmp-999999999-abcdef.json", "not ours");
  const TCliResult r = RunCli({kData + "first.json", "-o", dir / "out.json"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(dir.Leaves(), (std::vector<std::string>{".other.json.tmp-999999999-abcdef.json", live, "out.json"}));
}

// Text from a file quoted in an error reaches a terminal with its control
// characters written out, so it cannot drive the terminal.
TEST(CliErrors, ControlCharactersReachATerminalEscaped) {
  TempDir dir;
  dir.Write("esc.json", "[{\"bookSourceUrl\": \"http://a/\"} \x1b[31mX");
  const TCliResult r = RunCliOnTerminal({dir / "esc.json", "-o", dir / "out.json"});
  EXPECT_NE(r.Status, 0);
  EXPECT_TRUE(Has(r.Out, "\\x1B[31mX")) << r.Out;
  EXPECT_FALSE(Has(r.Out, "\x1b[31m")) << r.Out;
  // Not a terminal: the message is the loader's own.
  const TCliResult piped = RunCli({dir / "esc.json", "-o", dir / "out.json"});
  EXPECT_TRUE(Has(piped.Err, "\x1b[31mX")) << piped.Err;
}

TEST(CliErrors, MalformedSecondFileWritesNothing) {
  TempDir dir;
  dir.Write("out.json", "old");
  const TCliResult r =
      RunCli({kData + "first.json", kData + "broken.json", "--check", "--report", dir / "r.csv", "-o", dir / "out.json"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Has(r.Err, "tanvork-cli: " + kData + "broken.json: 第3行第48列: ")) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(dir.Leaves(), std::vector<std::string>{"out.json"});
  EXPECT_EQ(ReadFile(dir / "out.json"), "old");
}

TEST(CliErrors, RuntimeErrorsNameTheCauseAndLeaveNoFile) {
  TempDir dir;
  dir.Write("bad.json", "{\"bookSourceName\":\"x\"");
  struct TCase {
    std::vector<std::string> Args;
    std::string Input, Message;
  };
  const TCase cases[] = {
      {{dir / "missing.json", "-o", dir / "out.json"}, "", dir / "missing.json: "},
      {{"-", "-o", dir / "out.json"}, "[{\"bookSourceUrl\": \"http://a/\"} {", "standard input: 第1行"},
      {{"-", "-o", dir / "out.json"}, "{\"bookSourceName\": \"x\"}", "tanvork-cli: standard input: 文件中没有书源：-\n"},
      // The report is ready first; the export's folder does not exist.
      {{kData + "first.json", "--check", "--timeout", "300", "--report", dir / "r.json", "-o", dir / "no/out.json"},
       "", dir / "no/out.json"},
  };
  for (const TCase& c : cases) {
    const TCliResult r = RunCli(c.Args, c.Input);
    EXPECT_EQ(r.Status, 1) << c.Message;
    EXPECT_TRUE(Has(r.Err, c.Message)) << r.Err;
    EXPECT_EQ(dir.Leaves(), std::vector<std::string>{"bad.json"}) << c.Message;
  }
}

// ---------------------------------------------------------------- groups, dedupe, sort, filter

TEST(CliCollection, DedupeModesOnNearDuplicates) {
  struct TCase {
    const char* Flag;
    std::vector<std::string> Names;
    const char* Summary;
  };
  const TCase cases[] = {
      // Names, groups and weight are not compared, case of ASCII letters neither; the
      // author is a rule like any other, so "someone else" stays.
      {"--dedupe", {"Base", "Base", "Blank", "Rules"}, "duplicates removed: 2"},
      {"--dedupe-strict", {"Base", "Renamed", "Base", "Blank", "Rules"}, "duplicates removed: 1"},
      {"--sort=name", {"Base", "Base", "Base", "Blank", "Renamed", "Rules"}, "duplicates removed: 0"},
  };
  for (const TCase& c : cases) {
    TempDir dir;
    const TCliResult r = RunCli({kData + "near-duplicates.json", c.Flag, "-o", dir / "out.json"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(Names(dir / "out.json"), c.Names) << c.Flag;
    EXPECT_TRUE(Has(r.Err, c.Summary)) << r.Err;
  }
}

TEST(CliCollection, RenameSortAndFilter) {
  struct TCase {
    std::vector<std::string> Args;
    std::vector<std::string> Names, Groups;
  };
  const TCase cases[] = {
      // Renames apply in order, whole names only; an empty NEW removes the group.
      {{"--rename-group", "old=mid", "--rename-group", " mid = final ", "--rename-group", "gone=", "--rename-group",
        "VIP=x"},
       {"beta", "vip精选", "Alpha", "alpha"},
       {"VIP书源; final", "free", "final; keep", ""}},
      {{"--sort", "name"}, {"Alpha", "alpha", "beta", "vip精选"}, {"old, keep", "gone", "VIP书源; old", "free"}},
      {{"--sort", "group"}, {"beta", "vip精选", "alpha", "Alpha"}, {"VIP书源; old", "free", "gone", "old, keep"}},
      // The list's filter: group or name, ASCII letters without case.
      {{"--filter", "vip"}, {"beta", "vip精选"}, {"VIP书源; old", "free"}},
      {{"--filter", "OLD", "--sort", "name"}, {"Alpha", "beta"}, {"old, keep", "VIP书源; old"}},
      {{"--filter", "nothing"}, {}, {}},
  };
  for (const TCase& c : cases) {
    TempDir dir;
    std::vector<std::string> args{kData + "groups.json", "-o", dir / "out.json"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const TCliResult r = RunCli(args);
    ASSERT_EQ(r.Status, 0) << r.Err;
    auto list = LoadArray(dir / "out.json");
    std::vector<std::string> names, groups;
    for (int i = 0; i < list->Count(); ++i) {
      names.push_back(ToUtf8(list->GetJsonObject(i)->GetString(u"bookSourceName")));
      groups.push_back(ToUtf8(list->GetJsonObject(i)->GetString(u"bookSourceGroup")));
    }
    EXPECT_EQ(names, c.Names) << c.Args[0] << " " << c.Args[1];
    EXPECT_EQ(groups, c.Groups) << c.Args[0] << " " << c.Args[1];
  }
}

// ---------------------------------------------------------------- the check

class CliCheckTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ClearProxyEnvironment();
    server = new TLocalHttpServer();
    auto& s = server->Server();
    s.Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
    s.Get("/nf", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    s.Get("/err", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
    s.Get("/redir", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/ok", 302); });
    s.Get("/wall", [](const httplib::Request&, httplib::Response& res) {
      res.status = 403;
      res.set_header("cf-mitigated", "challenge");
    });
    server->Start();
    silent = new TRawServer([](int fd, const std::string&) {
      char b[256];
      while (::recv(fd, b, sizeof b, 0) > 0) {
      }
    });
    // A port that was just free: connections are refused.
    TRawServer probe([](int, const std::string&) {});
    refusedPort = probe.Port();
  }
  static void TearDownTestSuite() {
    delete server;
    delete silent;
  }

  struct TExpect {
    std::string Name, Url, Group, Verdict;
    int Status;
    std::string FailPrefix, Reason;
  };
  // Every kind of site once; the revived source carries an old mark.
  static std::vector<TExpect> Sites() {
    const std::string refused = "http://127.0.0.1:" + std::to_string(refusedPort) + "/";
    return {
        {"alive", server->Url("/ok"), "", "alive", 200, "", "ok"},
        {"notfound", server->Url("/nf"), "", "alive", 404, "", "ok"},
        {"broken", server->Url("/err"), "失效", "dead", 500,
         "书源URL测试失败(StatusCode: 500, " + server->Url("/err") + ").", "http-500"},
        {"moved", server->Url("/redir"), "", "alive", 200, "", "ok"},
        {"refused", refused, "失效", "dead", 0, "书源URL测试出错(", "refused"},
        {"silent", silent->Url("/"), "A; 失效", "dead", 0, "书源URL测试出错(", "timeout"},
        {"revived", server->Url("/ok"), "B", "alive", 200, "", "ok"},
        // Not probed at all, and not marked: an address that is no site proves nothing.
        {"dash", "-", "", "unverifiable", 0, "无效的书源URL.", "not-http"},
    };
  }
  static std::string SitesFile(const TempDir& ADir) {
    std::string list = "[";
    for (const TExpect& e : Sites()) {
      const std::string group = e.Name == "silent" ? "A" : e.Name == "revived" ? "B; 失效" : "";
      list += (list.size() > 1 ? "," : "") + Src(e.Name, e.Url, group);
    }
    ADir.Write("sites.json", list + "]");
    return ADir / "sites.json";
  }

  static TLocalHttpServer* server;
  static TRawServer* silent;
  static int refusedPort;
};
TLocalHttpServer* CliCheckTest::server = nullptr;
TRawServer* CliCheckTest::silent = nullptr;
int CliCheckTest::refusedPort = 0;

TEST_F(CliCheckTest, MarksExportAndJsonReport) {
  TempDir dir;
  const TCliResult r = RunCli({SitesFile(dir), "--check", "--timeout", "500", "--report", dir / "report",
                               "--fail-on-dead", "-o", dir / "out.json"});
  EXPECT_EQ(r.Status, 3) << r.Err;
  EXPECT_TRUE(Has(r.Err, "checked: 8, alive: 4, dead: 3, blocked: 0, unverifiable: 1")) << r.Err;
  const std::vector<TExpect> sites = Sites();
  auto out = LoadArray(dir / "out.json");
  ASSERT_EQ(out->Count(), int(sites.size()));
  auto report = LoadArray(dir / "report");
  ASSERT_EQ(report->Count(), int(sites.size()));
  for (size_t i = 0; i < sites.size(); ++i) {
    const TExpect& e = sites[i];
    EXPECT_EQ(ToUtf8(out->GetJsonObject(int(i))->GetString(u"bookSourceGroup")), e.Group) << e.Name;
    JSONObject* rec = report->GetJsonObject(int(i));
    EXPECT_EQ(rec->GetString(u"position"), FromUtf8(std::to_string(i + 1)));
    EXPECT_EQ(ToUtf8(rec->GetString(u"bookSourceName")), e.Name);
    EXPECT_EQ(ToUtf8(rec->GetString(u"bookSourceUrl")), e.Url);
    EXPECT_EQ(ToUtf8(rec->GetString(u"verdict")), e.Verdict) << e.Name;
    EXPECT_EQ(ToUtf8(rec->GetString(u"reason")), e.Reason) << e.Name;
    // Every dead source was probed again before it was marked.
    EXPECT_EQ(rec->GetBoolean(u"confirmed"), e.Verdict == "dead") << e.Name;
    EXPECT_EQ(rec->GetString(u"attempts"),
              FromUtf8(e.Verdict == "dead" ? "2" : e.Verdict == "alive" ? "1" : "0")) << e.Name;
    EXPECT_EQ(rec->GetString(u"status"), FromUtf8(std::to_string(e.Status))) << e.Name;
    const std::string fail = ToUtf8(rec->GetString(u"failText"));
    if (e.FailPrefix.empty())
      EXPECT_EQ(fail, "") << e.Name;
    else
      EXPECT_EQ(fail.rfind(e.FailPrefix, 0), 0u) << e.Name << ": " << fail;
    const int elapsed = std::stoi(ToUtf8(rec->GetString(u"elapsedMs")));
    EXPECT_GE(elapsed, 0);
    if (e.Name == "silent") {
      EXPECT_GE(elapsed, 400);  // it waited for the time-out
    }
  }
}

TEST_F(CliCheckTest, CsvReportAndDropDead) {
  TempDir dir;
  const TCliResult r = RunCli({SitesFile(dir), "--check", "--timeout", "500", "--report", dir / "r.CSV",
                               "--drop-dead", "-o", dir / "out.json"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(Names(dir / "out.json"), (std::vector<std::string>{"alive", "notfound", "moved", "revived", "dash"}));

  const std::string csv = ReadFile(dir / "r.CSV");
  std::vector<std::string> lines;
  for (size_t at = 0; at < csv.size();) {
    const size_t end = csv.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
    lines.push_back(csv.substr(at, end - at));
    at = end + 2;
  }
  const std::vector<TExpect> sites = Sites();
  ASSERT_EQ(lines.size(), sites.size() + 1);
  EXPECT_EQ(lines[0], "position,bookSourceName,bookSourceUrl,verdict,status,failText,elapsedMs,reason,confirmed,note,"
                      "attempts,search,explore");
  for (size_t i = 0; i < sites.size(); ++i) {
    const TExpect& e = sites[i];
    // A field starting with '-' is no formula for a spreadsheet: an apostrophe and quotes.
    const std::string url = e.Url == "-" ? "\"'-\"" : e.Url;
    const std::string head = std::to_string(i + 1) + "," + e.Name + "," + url + "," + e.Verdict + "," +
                             std::to_string(e.Status) + ",";
    EXPECT_EQ(lines[i + 1].rfind(head, 0), 0u) << lines[i + 1];
    // The failure text holds a comma: it is quoted.
    if (e.Name == "broken") {
      EXPECT_EQ(lines[i + 1].rfind(head + "\"" + e.FailPrefix + "\",", 0), 0u) << lines[i + 1];
    }
    if (e.Verdict == "alive") {
      EXPECT_TRUE(std::regex_match(lines[i + 1], std::regex(".*,alive,[0-9]+,,[0-9]+,ok,false,,1,,"))) << lines[i + 1];
    }
    if (e.Verdict == "dead") {
      EXPECT_TRUE(std::regex_match(lines[i + 1], std::regex(".*,[0-9]+," + e.Reason + ",true,,2,,"))) << lines[i + 1];
    }
  }
}

// Positions count in the collection the check saw, after duplicate removal.
TEST_F(CliCheckTest, ReportOnStandardOutputAfterDedupe) {
  TempDir dir;
  dir.Write("s.json", "[" + Src("first", server->Url("/ok")) + "," + Src("copy", server->Url("/ok")) + "," +
                          Src("last", server->Url("/err")) + "]");
  const TCliResult r = RunCli({dir / "s.json", "--dedupe", "--check", "--report", "-", "-q"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  std::unique_ptr<JSONBase> parsed(JSONBase::Parser(FromUtf8(r.Out), true));
  ASSERT_TRUE(parsed && parsed->IsJSONArray()) << r.Out;
  auto* report = static_cast<JSONArray*>(parsed.get());
  ASSERT_EQ(report->Count(), 2);
  EXPECT_EQ(report->GetJsonObject(0)->GetString(u"position"), u"1");
  EXPECT_EQ(report->GetJsonObject(0)->GetString(u"bookSourceName"), u"first");
  EXPECT_EQ(report->GetJsonObject(1)->GetString(u"position"), u"2");
  EXPECT_EQ(report->GetJsonObject(1)->GetString(u"bookSourceName"), u"last");
  EXPECT_EQ(report->GetJsonObject(1)->GetString(u"verdict"), u"dead");
}

// --fail-on-dead counts dead sources only: a bot wall or an address that is
// no site does not fail a scheduled job.
TEST_F(CliCheckTest, FailOnDeadCountsOnlyDeadSources) {
  TempDir dir;
  dir.Write("quiet.json", "[" + Src("wall", server->Url("/wall")) + "," + Src("dash", "-") + "," +
                              Src("ok", server->Url("/ok")) + "]");
  TCliResult r = RunCli({dir / "quiet.json", "--check", "--fail-on-dead", "--report", dir / "r.json"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(Has(r.Err, "alive: 1, dead: 0, blocked: 1, unverifiable: 1")) << r.Err;
  auto report = LoadArray(dir / "r.json");
  ASSERT_EQ(report->Count(), 3);
  EXPECT_EQ(report->GetJsonObject(0)->GetString(u"verdict"), u"blocked");
  EXPECT_EQ(report->GetJsonObject(0)->GetString(u"reason"), u"bot-wall");
  dir.Write("dead.json", "[" + Src("wall", server->Url("/wall")) + "," + Src("err", server->Url("/err")) + "]");
  r = RunCli({dir / "dead.json", "--check", "--fail-on-dead", "--no-confirm", "--report", dir / "r.json"});
  EXPECT_EQ(r.Status, 3) << r.Err;
  report = LoadArray(dir / "r.json");
  ASSERT_EQ(report->Count(), 2);
  EXPECT_EQ(report->GetJsonObject(1)->GetString(u"reason"), u"http-500");
  EXPECT_FALSE(report->GetJsonObject(1)->GetBoolean(u"confirmed"));  // --no-confirm: one probe
  EXPECT_EQ(report->GetJsonObject(1)->GetString(u"attempts"), u"1");
}

// --probe all: the report carries the search and explore results; the site decides.
TEST_F(CliCheckTest, DeepProbesInTheReport) {
  TempDir dir;
  const std::string site = server->Url("/ok");
  dir.Write("s.json", "[{\"bookSourceName\":\"f3\",\"bookSourceUrl\":\"" + site +
                          "\",\"searchUrl\":\"/nf?q={{key}}\",\"exploreUrl\":\"a::/ok\"}," +
                          "{\"bookSourceName\":\"f2\",\"bookSourceUrl\":\"" + site + "\",\"ruleSearchUrl\":\"" +
                          server->Url("/ok?k=searchKey") + "\"}]");
  const TCliResult r = RunCli({dir / "s.json", "--check", "--probe", "all", "--report", dir / "r.json", "-o",
                               dir / "out.json"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  auto report = LoadArray(dir / "r.json");
  ASSERT_EQ(report->Count(), 2);
  EXPECT_EQ(report->GetJsonObject(0)->GetString(u"search"), u"fail:http-404");
  EXPECT_EQ(report->GetJsonObject(0)->GetString(u"explore"), u"pass");
  EXPECT_EQ(report->GetJsonObject(1)->GetString(u"search"), u"pass");
  EXPECT_EQ(report->GetJsonObject(1)->GetString(u"explore"), u"none");
  EXPECT_EQ(Names(dir / "out.json"), (std::vector<std::string>{"f3", "f2"}));
  auto out = LoadArray(dir / "out.json");
  EXPECT_EQ(out->GetJsonObject(0)->GetString(u"bookSourceGroup"), u"");
}

TEST_F(CliCheckTest, RetriesTurnAFlakySiteAlive) {
  struct TCase {
    const char* Retries;
    int Requests;
    std::string Group;
  };
  const TCase cases[] = {{"0", 1, "失效"}, {"1", 2, "失效"}, {"2", 3, ""}, {"5", 3, ""}};
  for (const TCase& c : cases) {
    std::atomic<int> seen{0};
    // The first two connections are closed without an answer.
    TRawServer flaky([&](int fd, const std::string& head) {
      if (head.empty() || seen.fetch_add(1) < 2) return;
      TRawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    });
    TempDir dir;
    dir.Write("s.json", "[" + Src("flaky", flaky.Url("/")) + "]");
    const TCliResult r =
        RunCli({dir / "s.json", "--check", "--no-confirm", "--timeout", "2000", "--retries", c.Retries, "-o",
                dir / "out.json"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(seen.load(), c.Requests) << "retries " << c.Retries;
    auto out = LoadArray(dir / "out.json");
    EXPECT_EQ(ToUtf8(out->GetJsonObject(0)->GetString(u"bookSourceGroup")), c.Group) << "retries " << c.Retries;
  }
}

TEST_F(CliCheckTest, PerHostLimitsConcurrentProbes) {
  struct TCase {
    std::vector<std::string> Limit;
    int AtMost, AtLeast;
  };
  // Without a limit several probes overlap: the count is able to see it.
  const TCase cases[] = {{{"--per-host", "1"}, 1, 1}, {{"--per-host", "2"}, 2, 1}, {{}, 100, 2}};
  for (const TCase& c : cases) {
    std::atomic<int> active{0}, peak{0}, served{0};
    TRawServer busy([&](int fd, const std::string& head) {
      if (head.empty()) return;
      const int now = active.fetch_add(1) + 1;
      for (int p = peak.load(); now > p && !peak.compare_exchange_weak(p, now);) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      active.fetch_sub(1);
      served.fetch_add(1);
      TRawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    });
    TempDir dir;
    std::string list = "[";
    for (int i = 0; i < 6; ++i) list += (i ? "," : "") + Src("m" + std::to_string(i), busy.Url("/" + std::to_string(i)));
    dir.Write("s.json", list + "]");
    std::vector<std::string> args{dir / "s.json", "--check", "--workers", "7", "--timeout", "5000", "--fail-on-dead"};
    args.insert(args.end(), c.Limit.begin(), c.Limit.end());
    const TCliResult r = RunCli(args);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(served.load(), 6);
    EXPECT_LE(peak.load(), c.AtMost);
    EXPECT_GE(peak.load(), c.AtLeast);
  }
}

// --workers N means N probes at once, 1 included.
TEST_F(CliCheckTest, WorkersIsTheNumberOfProbesAtOnce) {
  for (const int workers : {1, 3}) {
    std::atomic<int> active{0}, peak{0};
    TRawServer busy([&](int fd, const std::string& head) {
      if (head.empty()) return;
      const int now = active.fetch_add(1) + 1;
      for (int p = peak.load(); now > p && !peak.compare_exchange_weak(p, now);) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      active.fetch_sub(1);
      TRawServer::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    });
    TempDir dir;
    std::string list = "[";
    for (int i = 0; i < 8; ++i) list += (i ? "," : "") + Src("m" + std::to_string(i), busy.Url("/" + std::to_string(i)));
    dir.Write("s.json", list + "]");
    const TCliResult r = RunCli({dir / "s.json", "--check", "--workers", std::to_string(workers), "--fail-on-dead"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(peak.load(), workers);
  }
}

// A wrong output folder is found before the check starts, not after it.
TEST_F(CliCheckTest, OutputFoldersAreCheckedBeforeAnyProbe) {
  TempDir dir;
  dir.Write("s.json", "[" + Src("s", silent->Url("/x")) + "]");
  dir.Write("file", "x");
  const int before = silent->Accepted();
  for (const std::vector<std::string>& outputs :
       {std::vector<std::string>{"-o", "/nonexistent-dir/out.json"}, {"-o", dir / "file/out.json"},
        {"--report", dir / "no/r.csv", "-o", dir / "out.json"}}) {
    std::vector<std::string> args{dir / "s.json", "--check", "--timeout", "20000"};
    args.insert(args.end(), outputs.begin(), outputs.end());
    const auto start = std::chrono::steady_clock::now();
    const TCliResult r = RunCli(args);
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_TRUE(Has(r.Err, "cannot write '")) << r.Err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
  EXPECT_EQ(silent->Accepted(), before);
  EXPECT_EQ(dir.Leaves(), (std::vector<std::string>{"file", "s.json"}));
}

TEST_F(CliCheckTest, InterruptStopsTheRunAndWritesNothing) {
  TempDir dir;
  std::string list = "[";
  for (int i = 0; i < 3; ++i) list += (i ? "," : "") + Src("s" + std::to_string(i), silent->Url("/" + std::to_string(i)));
  dir.Write("s.json", list + "]");
  const auto start = std::chrono::steady_clock::now();
  // Probes would wait 20 s each; the interrupt comes while they wait.
  const TCliResult r = RunCli({dir / "s.json", "--check", "--timeout", "20000", "--report", dir / "r.json", "-o",
                               dir / "out.json"},
                              {}, 60000, 500);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_TRUE(Has(r.Err, "interrupted")) << r.Err;
  EXPECT_EQ(dir.Leaves(), std::vector<std::string>{"s.json"});
  // It does not wait for the probes' time-outs.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(12));
}

// ---------------------------------------------------------------- progress

TEST_F(CliCheckTest, LogLinesWhenNotATerminalNothingWhenQuiet) {
  TempDir dir;
  dir.Write("s.json", "[" + Src("a", server->Url("/ok")) + "," + Src("a2", server->Url("/ok")) + "]");
  TCliResult r = RunCli({dir / "s.json", "--dedupe", "--check"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::regex line("\\[[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9]{3}\\] (.*)");
  std::vector<std::string> messages;
  std::string summary;
  std::istringstream in(r.Err);
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    if (std::regex_match(l, m, line))
      messages.push_back(m[1]);
    else
      summary = l;
  }
  EXPECT_EQ(messages, (std::vector<std::string>{"正在初始化任务...", "正在去重复...", "正在校验书源...",
                                                "有效 1, 失效 0, 受阻 0, 无法校验 0", "任务结束"}));
  EXPECT_TRUE(std::regex_match(summary, std::regex("sources loaded: 2, duplicates removed: 1, checked: 1, alive: 1, "
                                                   "dead: 0, blocked: 0, unverifiable: 0, elapsed: [0-9]+ ms")))
      << summary;

  r = RunCli({dir / "s.json", "--dedupe", "--check", "-q"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Err, "");
}

TEST_F(CliCheckTest, ProgressBarOnATerminal) {
  TempDir dir;
  std::string list = "[";
  for (int i = 0; i < 4; ++i) list += (i ? "," : "") + Src("s" + std::to_string(i), silent->Url("/" + std::to_string(i)));
  dir.Write("s.json", list + "]");
  // One probe at a time, so the four time-outs follow each other.
  const TCliResult r = RunCliOnTerminal({dir / "s.json", "--check", "--workers", "1", "--timeout", "300"});
  EXPECT_EQ(r.Status, 0) << r.Out;
  EXPECT_TRUE(std::regex_search(r.Out, std::regex("\r\x1b\\[K\\[[#.]{20}\\] 正在初始化任务\\.\\.\\. \\([0-9]/4, [0-9]+%\\) "
                                                  "\\(用时: [0-9]+ms\\)")))
      << r.Out;
  EXPECT_FALSE(Has(r.Out, "] 任务结束")) << "no log lines on a terminal";
  EXPECT_TRUE(Has(r.Out, "checked: 4, alive: 0, dead: 4"));
}


// ---------------------------------------------------------------- duplicate sets and updates

// Copies of two sites, spelled in the ways authors tag their copies.
const char kVariants[] =
    "["
    "{\"bookSourceName\":\"a-old\",\"bookSourceUrl\":\"http://a.example\",\"lastUpdateTime\":1},"
    "{\"bookSourceName\":\"b\",\"bookSourceUrl\":\"http://b.example/\",\"respondTime\":900},"
    "{\"bookSourceName\":\"a-new\",\"bookSourceUrl\":\"https://www.a.example/#作者\",\"lastUpdateTime\":9,"
    "\"ruleBookName\":\"n\",\"ruleBookKind\":\"k\"},"
    "{\"bookSourceName\":\"b-fast\",\"bookSourceUrl\":\"HTTP://B.example\",\"respondTime\":120},"
    "{\"bookSourceName\":\"a-copy\",\"bookSourceUrl\":\"http://a.example\",\"lastUpdateTime\":9}"
    "]";

TEST(CliDuplicateSets, ModesAndPolicies) {
  struct TCase {
    std::vector<std::string> Args;
    std::vector<std::string> Names;
    const char* Summary;
  };
  const TCase cases[] = {
      // The address as the reader app knows it: only the two identical texts.
      {{"--dedupe", "--dedupe-mode", "address"}, {"a-old", "b", "a-new", "b-fast"},
       "duplicates removed: 1, checked: 0"},
      {{"--dedupe", "--dedupe-mode=site"}, {"a-old", "b"}, "duplicates removed: 3"},
      // The kept copy takes the place of the set's first member.
      {{"--dedupe", "--dedupe-mode", "site", "--keep", "last"}, {"a-copy", "b-fast"}, "duplicate sets: 2 (site, keep last)"},
      {{"--dedupe", "--dedupe-mode", "site", "--keep", "newest"}, {"a-new", "b"}, "duplicates removed: 3"},
      {{"--dedupe", "--dedupe-mode", "site", "--keep", "richest"}, {"a-new", "b"}, "duplicates removed: 3"},
      {{"--dedupe", "--dedupe-mode", "site", "--keep", "fastest"}, {"a-old", "b-fast"}, "duplicates removed: 3"},
      // Rules: only a-old and a-copy have the same address and rules.
      {{"--dedupe", "--keep", "last"}, {"a-copy", "b", "a-new", "b-fast"}, "duplicate sets: 1 (rules, keep last)"},
  };
  for (const TCase& c : cases) {
    TempDir dir;
    dir.Write("v.json", kVariants);
    std::vector<std::string> args = {dir / "v.json", "-o", dir / "out.json"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const TCliResult r = RunCli(args);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(Names(dir / "out.json"), c.Names) << c.Args[c.Args.size() - 1];
    EXPECT_TRUE(Has(r.Err, c.Summary)) << r.Err;
  }
}

TEST(CliDuplicateSets, ReportNamesTheKeptAndTheRemovedCopies) {
  TempDir dir;
  dir.Write("v.json", kVariants);
  const TCliResult r = RunCli({dir / "v.json", "--dedupe", "--dedupe-mode", "site", "--keep", "newest",
                               "--dedupe-report", "-"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  dir.Write("report.json", r.Out);
  auto report = LoadArray(dir / "report.json");
  ASSERT_EQ(report->Count(), 2) << r.Out;
  JSONObject* a = report->GetJsonObject(0);
  EXPECT_EQ(ToUtf8(a->GetString(u"reason")), "site");
  EXPECT_EQ(ToUtf8(a->GetString(u"key")), "http://a.example");
  EXPECT_EQ(a->GetJsonObject(u"kept")->GetInt(u"position"), 3);
  EXPECT_EQ(ToUtf8(a->GetJsonObject(u"kept")->GetString(u"bookSourceName")), "a-new");
  JSONArray* removed = a->GetJsonArray(u"removed");
  ASSERT_EQ(removed->Count(), 2);
  EXPECT_EQ(removed->GetJsonObject(0)->GetInt(u"position"), 1);
  EXPECT_EQ(ToUtf8(removed->GetJsonObject(1)->GetString(u"bookSourceName")), "a-copy");
  EXPECT_EQ(report->GetJsonObject(1)->GetJsonObject(u"kept")->GetInt(u"position"), 2);
}

// With the default mode and policy the sets remove exactly what --dedupe does.
TEST(CliDuplicateSets, RulesFirstIsTheRunsOwnResult) {
  const std::string real = std::string(TANVORK_TEST_DATA) + "/real/";
  const std::string a = real + "choue_bookSource_3.0.json", b = real + "cwl666_freebook3_data.json";
  ASSERT_TRUE(fs::exists(a) && fs::exists(b)) << "missing test data in " << real;
  for (const char* flag : {"--dedupe", "--dedupe-strict"}) {
    TempDir dir;
    const TCliResult run = RunCli({a, b, a, kData + "near-duplicates.json", flag, "-o", dir / "run.json"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TCliResult sets = RunCli({a, b, a, kData + "near-duplicates.json", flag, "--dedupe-mode", "rules", "--keep",
                                    "first", "--dedupe-report", dir / "sets.json", "-o", dir / "out.json"});
    ASSERT_EQ(sets.Status, 0) << sets.Err;
    EXPECT_EQ(ReadFile(dir / "out.json"), ReadFile(dir / "run.json")) << flag;
    const std::smatch removed = [&] {
      std::smatch m;
      std::regex_search(run.Err, m, std::regex("duplicates removed: [0-9]+"));
      return m;
    }();
    ASSERT_FALSE(removed.empty()) << run.Err;
    EXPECT_TRUE(Has(sets.Err, removed.str())) << sets.Err;
    EXPECT_GT(LoadArray(dir / "sets.json")->Count(), 0);
  }
}

TEST(CliDuplicateSets, UsageErrors) {
  TempDir dir;
  const std::string in = kData + "first.json";
  const struct {
    std::vector<std::string> Args;
    const char* Message;
  } cases[] = {
      {{in, "--dedupe-mode", "site"}, "--dedupe-mode needs --dedupe or --dedupe-strict"},
      {{in, "--keep", "last"}, "--keep needs --dedupe or --dedupe-strict"},
      {{in, "--dedupe-report", dir / "r.json"}, "--dedupe-report needs --dedupe or --dedupe-strict"},
      {{in, "--dedupe", "--dedupe-mode", "url"}, "--dedupe-mode takes 'rules', 'address' or 'site', not 'url'"},
      {{in, "--dedupe", "--keep", "best"}, "--keep takes 'first', 'last', 'newest', 'richest' or 'fastest', not 'best'"},
      {{in, "--dedupe-strict", "--dedupe-mode", "address"}, "it takes no --dedupe-mode address"},
      {{in, "--dedupe", "--keep", "last", "--keep", "first"}, "--keep given twice"},
      {{in, "--dedupe", "--dedupe-report", "-", "-o", "-"},
       "--output and --dedupe-report cannot both write standard output"},
      {{in, "--dedupe", "--dedupe-report", dir / "x.json", "-o", dir / "x"}, "--output and --dedupe-report name the same file"},
      {{in, "--keep-fields", "name"}, "--keep-fields needs --update"},
      {{in, "--update", in, "--keep-fields", "name,author"}, "--keep-fields takes name, group, enabled and order, not 'author'"},
      {{in, "--update="}, "--update needs a file name"},
      {{"-", "--update", "-"}, "standard input ('-') can be read only once"},
  };
  for (const auto& c : cases) {
    const TCliResult r = RunCli(c.Args);
    EXPECT_EQ(r.Status, 2) << c.Message << "\n" << r.Err;
    EXPECT_EQ(r.Err.rfind("tanvork-cli: ", 0), 0u) << r.Err;
    EXPECT_TRUE(Has(r.Err, c.Message)) << r.Err;
  }
  EXPECT_TRUE(dir.Leaves().empty());
}

TEST(CliUpdate, UpdatesByAddressKeepingWhatIsAsked) {
  const std::string collection =
      "[{\"bookSourceName\":\"mine\",\"bookSourceUrl\":\"http://a.example\",\"bookSourceGroup\":\"G\",\"enabled\":false,"
      "\"customOrder\":3,\"ruleSearch\":{\"name\":\"old\"}},"
      "{\"bookSourceName\":\"same\",\"bookSourceUrl\":\"http://s.example\",\"ruleBookName\":\"r\"}]";
  const std::string update =
      "[{\"bookSourceName\":\"theirs\",\"bookSourceUrl\":\"http://a.example\",\"customOrder\":8,"
      "\"ruleSearch\":{\"name\":\"new\"}},"
      "{\"bookSourceName\":\"same renamed\",\"bookSourceUrl\":\"http://s.example\",\"ruleBookName\":\"R\"},"
      "{\"bookSourceName\":\"fresh\",\"bookSourceUrl\":\"http://new.example\"}]";
  struct TCase {
    std::vector<std::string> Keep;
    const char *Name0, *Group0;
    bool Enabled0;
    int Order0;
  } cases[] = {
      {{}, "theirs", "", true, 8},
      {{"--keep-fields", "name,group"}, "mine", "G", true, 8},
      {{"--keep-fields", "enabled,order"}, "theirs", "", false, 3},
  };
  for (const TCase& c : cases) {
    TempDir dir;
    dir.Write("c.json", collection);
    dir.Write("u.json", update);
    std::vector<std::string> args = {dir / "c.json", "--update", dir / "u.json", "-o", dir / "out.json"};
    args.insert(args.end(), c.Keep.begin(), c.Keep.end());
    const TCliResult r = RunCli(args);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(Has(r.Err, "update added: 1, updated: 1, unchanged: 1")) << r.Err;
    auto out = LoadArray(dir / "out.json");
    ASSERT_EQ(out->Count(), 3);
    JSONObject* first = out->GetJsonObject(0);
    EXPECT_EQ(ToUtf8(first->GetString(u"bookSourceName")), c.Name0);
    EXPECT_EQ(ToUtf8(first->GetString(u"bookSourceGroup")), c.Group0);
    EXPECT_EQ(first->Contains(u"enabled") ? first->GetBoolean(u"enabled") : true, c.Enabled0);
    EXPECT_EQ(first->GetInt(u"customOrder"), c.Order0);
    EXPECT_EQ(ToUtf8(first->GetJsonObject(u"ruleSearch")->GetString(u"name")), "new");
    // Identical rules (case aside): the collection's copy stays as it was.
    EXPECT_EQ(ToUtf8(out->GetJsonObject(1)->GetString(u"bookSourceName")), "same");
    EXPECT_EQ(ToUtf8(out->GetJsonObject(2)->GetString(u"bookSourceName")), "fresh");
  }
}

TEST(CliUpdate, RepeatedUpdatesApplyInOrderBeforeDedupe) {
  TempDir dir;
  dir.Write("c.json", "[" + Src("one", "http://one.example") + "]");
  dir.Write("u1.json", "[" + Src("two", "http://two.example") + "]");
  // A new name alone is no change; new rules are.
  dir.Write("u2.json", "[" + Src("two again", "http://two.example/") + "," + Src("one renamed", "http://one.example") +
                           ",{\"bookSourceName\":\"one v2\",\"bookSourceUrl\":\"http://one.example\","
                           "\"ruleBookName\":\"r\"}]");
  const TCliResult r = RunCli({dir / "c.json", "--update", dir / "u1.json", "--update", dir / "u2.json", "--dedupe",
                               "--dedupe-mode", "site", "-o", dir / "out.json"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(Names(dir / "out.json"), (std::vector<std::string>{"one v2", "two"}));
  EXPECT_TRUE(Has(r.Err, "duplicates removed: 1")) << r.Err;
  EXPECT_TRUE(Has(r.Err, "update added: 2, updated: 1, unchanged: 0")) << r.Err;
  dir.Write("u3.json", "[" + Src("one renamed", "http://one.example") + "]");
  const TCliResult renamed = RunCli({dir / "c.json", "--update", dir / "u3.json", "-o", dir / "renamed.json"});
  ASSERT_EQ(renamed.Status, 0) << renamed.Err;
  EXPECT_EQ(Names(dir / "renamed.json"), std::vector<std::string>{"one"});
  EXPECT_TRUE(Has(renamed.Err, "update added: 0, updated: 0, unchanged: 1")) << renamed.Err;
  // A file that does not load names itself; nothing is written.
  const TCliResult bad = RunCli({dir / "c.json", "--update", dir / "missing.json", "-o", dir / "bad.json"});
  EXPECT_EQ(bad.Status, 1);
  EXPECT_TRUE(Has(bad.Err, "missing.json")) << bad.Err;
  EXPECT_FALSE(fs::exists(dir / "bad.json"));
}

}  // namespace
