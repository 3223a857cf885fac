#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/KivStr.h"

namespace fs = std::filesystem;

TEST(MemoryStream, ReadWriteSeek) {
  TMemoryStream m;
  m.WriteBuffer("hello", 5);
  EXPECT_EQ(m.Size(), 5);
  EXPECT_EQ(m.Position(), 5);
  m.SetPosition(1);
  char buf[8] = {};
  EXPECT_EQ(m.Read(buf, 8), 4);
  EXPECT_STREQ(buf, "ello");
  m.Seek(-2, TSeekOrigin::soEnd);
  m.WriteBuffer("LOWORLD", 7);
  EXPECT_EQ(m.Data(), "helLOWORLD");
  m.SetSize(3);
  EXPECT_EQ(m.Position(), 3);
  EXPECT_EQ(m.Data(), "hel");
  m.SetPosition(0);
  EXPECT_EQ(m.ReadRest(), "hel");
}

TEST(PointerStream, ReadOnlyOverForeignMemory) {
  const char text[] = "abcdef";
  TPointerStream p(text, 6);
  char buf[4] = {};
  EXPECT_EQ(p.Read(buf, 3), 3);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(p.Seek(100, TSeekOrigin::soBeginning), 6);
  EXPECT_EQ(p.Read(buf, 3), 0);
  try {
    p.Write("x", 1);
    FAIL() << "write accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"PointerStream Ban Written.");
  }
  p.SetSize(2);
  p.SetPosition(0);
  EXPECT_EQ(p.ReadRest(), "ab");
  p.SetSize(100);  // cannot grow past the memory it was given
  EXPECT_EQ(p.Size(), 2);
}

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kivstream-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  String Name(const char* leaf) { return FromUtf8((dir / leaf).string()); }
  fs::path dir;
};

TEST_F(FileStreamTest, CreateWriteAndReadBackWithAChineseName) {
  String name = Name("书源.json");
  {
    TFileStream f(name, TFileStream::fmCreate);
    SaveTextA(f, EncodeUTF8(u"[\"中文\"]"), false, true);
    f.Flush();
  }
  EXPECT_TRUE(FileExists(name));
  TFileStream r(name, TFileStream::fmOpenRead);
  EXPECT_EQ(LoadTextW(r, teUnknown), u"[\"中文\"]");
}

TEST_F(FileStreamTest, FailuresNameTheFile) {
  String missing = Name("missing.json");
  String folder = FromUtf8(dir.string());
  String fifo = Name("pipe");
  ASSERT_EQ(::mkfifo(ToUtf8(fifo).c_str(), 0600), 0);
  for (const String& bad : {missing, folder, fifo}) {
    try {
      TFileStream f(bad, TFileStream::fmOpenRead);
      FAIL() << "opened " << ToUtf8(bad);
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find(bad), String::npos) << e.what();
    }
  }
  EXPECT_FALSE(FileExists(missing));
  EXPECT_FALSE(FileExists(folder));
  EXPECT_THROW(TFileStream(Name("no/such/dir/x"), TFileStream::fmCreate), Exception);
}

// Only "<prefix><pid>-XXXXXX<suffix>" of a process that is gone goes.
TEST(StaleTempFiles, OnlyThoseOfEndedProcessesGo) {
  const fs::path dir = fs::temp_directory_path() / ("kivstream-stale-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const std::string dead = std::to_string(child), alive = std::to_string(::getpid());
  const std::string gone[] = {".out.json.tmp-" + dead + "-a1B2c3.json"};
  const std::string kept[] = {".out.json.tmp-" + alive + "-a1B2c3.json", ".out.json.tmp-" + dead + "-a1B2c3",
                              ".out.json.tmp-" + dead + "-a1B2c.json", ".out.json.tmp-" + dead + "x-a1B2c3.json",
                              ".out.json.tmp--1-a1B2c3.json", ".other.tmp-" + dead + "-a1B2c3.json", "out.json"};
  for (const auto& list : {std::vector<std::string>(std::begin(gone), std::end(gone)),
                           std::vector<std::string>(std::begin(kept), std::end(kept))})
    for (const std::string& name : list) std::fclose(std::fopen((dir / name).c_str(), "w"));
  RemoveStaleTempFiles((dir / ".out.json.tmp-").string(), ".json");
  for (const std::string& name : gone) EXPECT_FALSE(fs::exists(dir / name)) << name;
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(dir / name)) << name;
  fs::remove_all(dir);
}
