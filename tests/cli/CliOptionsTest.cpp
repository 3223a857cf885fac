#include <gtest/gtest.h>

#include "cli/uCliOptions.h"

namespace {

TEST(CliOptions, ReadsEveryOptionInBothForms) {
  const TCliOptions o = ParseCommandLine({"a.json", "--output=out", "--rename-group", "A=B", "--rename-group=C=",
                                          "--dedupe-strict", "--check", "--workers", "7", "--timeout=250",
                                          "--retries", "2", "--per-host", "3", "--sort", "group", "--filter",
                                          "vip", "--drop-dead", "--report", "r.csv", "--fail-on-dead", "-q", "-",
                                          "--convert=format3", "--", "-o"});
  EXPECT_EQ(o.Files, (std::vector<std::string>{"a.json", "-", "-o"}));
  EXPECT_EQ(o.Output, "out");
  ASSERT_EQ(o.Renames.size(), 2u);
  EXPECT_EQ(o.Renames[0].Old, "A");
  EXPECT_EQ(o.Renames[0].New, "B");
  EXPECT_EQ(o.Renames[1].Old, "C");
  EXPECT_EQ(o.Renames[1].New, "");
  EXPECT_EQ(o.Dedupe, TDedupe::Strict);
  EXPECT_TRUE(o.Check);
  EXPECT_EQ(o.Workers, 7);
  EXPECT_EQ(o.TimeoutMs, 250);
  EXPECT_EQ(o.Retries, 2);
  EXPECT_EQ(o.PerHost, 3);
  EXPECT_EQ(o.Sort, TSortKey::Group);
  EXPECT_TRUE(o.HasFilter);
  EXPECT_EQ(o.Filter, "vip");
  EXPECT_TRUE(o.DropDead);
  EXPECT_EQ(o.Report, "r.csv");
  EXPECT_TRUE(o.FailOnDead);
  EXPECT_TRUE(o.Quiet);
  EXPECT_TRUE(o.ConvertFormat3);
  EXPECT_TRUE(ParseCommandLine({"a.json", "--convert", "format3"}).ConvertFormat3);
}

TEST(CliOptions, DefaultsAreTheDesktopOnes) {
  const TCliOptions o = ParseCommandLine({"a.json"});
  EXPECT_EQ(o.Workers, 60);
  EXPECT_EQ(o.TimeoutMs, 30000);
  EXPECT_EQ(o.Retries, 0);
  EXPECT_EQ(o.PerHost, 0);
  EXPECT_EQ(o.Dedupe, TDedupe::None);
  EXPECT_FALSE(o.Check);
  EXPECT_FALSE(o.ConvertFormat3);
  EXPECT_TRUE(o.Output.empty());
  EXPECT_EQ(ParseCommandLine({"-ofile", "a.json"}).Output, "file");
}

TEST(CliOptions, UsageErrors) {
  struct TCase {
    std::vector<std::string> Args;
    const char* Message;  // part of the error text
  };
  const TCase cases[] = {
      {{}, "no input file"},
      {{"-o", "x"}, "no input file"},
      {{"a.json", "--report", "r.json"}, "--report needs --check"},
      {{"a.json", "--drop-dead"}, "--drop-dead needs --check"},
      {{"a.json", "--fail-on-dead"}, "--fail-on-dead needs --check"},
      {{"a.json", "--no-confirm"}, "--no-confirm needs --check"},
      {{"a.json", "--probe", "all"}, "--probe needs --check"},
      {{"a.json", "--check", "--probe", "deep"}, "--probe takes 'site', 'search', 'explore' or 'all'"},
      {{"a.json", "--dedupe", "--dedupe-strict"}, "exclude each other"},
      {{"a.json", "--sort", "date"}, "--sort takes"},
      {{"a.json", "--workers", "0"}, "--workers needs a whole number"},
      {{"a.json", "--workers", "8x"}, "--workers needs a whole number"},
      {{"a.json", "--timeout", "-5"}, "--timeout needs a whole number"},
      {{"a.json", "--retries", ""}, "--retries needs a whole number"},
      {{"a.json", "--per-host", "0"}, "--per-host needs a whole number"},
      {{"a.json", "--rename-group", "NoEquals"}, "OLD=NEW"},
      {{"a.json", "--convert", "format2"}, "--convert takes 'format3', not 'format2'"},
      {{"a.json", "--convert="}, "--convert takes 'format3', not ''"},
      {{"a.json", "--convert"}, "--convert needs a value"},
      {{"a.json", "--frobnicate"}, "unknown option '--frobnicate'"},
      {{"a.json", "-o"}, "-o needs a value"},
      {{"a.json", "--output="}, "needs a file name"},
      {{"a.json", "-o", "a", "-o", "b"}, "given twice"},
      {{"a.json", "--check=yes"}, "takes no value"},
      {{"-", "-"}, "standard input"},
      {{"a.json", "--check", "-o", "-", "--report", "-"}, "standard output"},
      {{"a.json", "--check", "-o", "r", "--report", "r.json"}, "same file"},
      {{"a.json", "--history", "h.db"}, "--history needs --check"},
      {{"a.json", "--check", "--diff", "d.json"}, "--diff needs --history"},
      {{"a.json", "--write-respond-time"}, "--write-respond-time needs --check"},
      {{"a.json", "--check", "--history", "-"}, "--history needs a file name"},
      {{"a.json", "--check", "--history="}, "--history needs a file name"},
      {{"a.json", "--check", "--history", "h", "--diff", "-", "-o", "-"}, "standard output"},
      {{"a.json", "--check", "--history", "h", "--diff", "-", "--report", "-"}, "standard output"},
      {{"a.json", "--insecure=1"}, "takes no value"},
  };
  for (const TCase& c : cases) {
    std::string joined;
    for (const std::string& a : c.Args) joined += "'" + a + "' ";
    try {
      ParseCommandLine(c.Args);
      ADD_FAILURE() << "accepted: " << joined;
    } catch (const TUsageError& E) {
      EXPECT_NE(std::string(E.what()).find(c.Message), std::string::npos) << joined << "-> " << E.what();
    }
  }
}

TEST(CliOptions, AddressesHistoryAndResponseTime) {
  const TCliOptions o = ParseCommandLine({"https://lists.example/a.json#requestWithoutUA", "--check", "--insecure",
                                          "--history", "h.db", "--diff=-", "--write-respond-time"});
  EXPECT_EQ(o.Files, std::vector<std::string>{"https://lists.example/a.json#requestWithoutUA"});
  EXPECT_TRUE(o.Insecure);
  EXPECT_EQ(o.History, "h.db");
  EXPECT_EQ(o.Diff, "-");
  EXPECT_TRUE(o.WriteRespondTime);
  const TCliOptions d = ParseCommandLine({"a.json", "--check"});
  EXPECT_FALSE(d.Insecure);
  EXPECT_TRUE(d.History.empty());
  EXPECT_TRUE(d.Diff.empty());
  EXPECT_FALSE(d.WriteRespondTime);
}

TEST(CliOptions, HelpAndVersionNeedNothingElse) {
  EXPECT_TRUE(ParseCommandLine({"--help"}).Help);
  EXPECT_TRUE(ParseCommandLine({"-h", "--report", "x"}).Help);
  EXPECT_TRUE(ParseCommandLine({"--version"}).Version);
}

TEST(CliOptions, ExportFileNameAddsJsonOnlyWithoutExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"out", "out.json"},           {"out.txt", "out.txt"},         {"dir.v2/out", "dir.v2/out.json"},
      {"dir/.hidden", "dir/.hidden.json"}, {"a.b.json", "a.b.json"},
  };
  for (auto [in, want] : cases) EXPECT_EQ(ExportFileName(in), want) << in;
}

}  // namespace
