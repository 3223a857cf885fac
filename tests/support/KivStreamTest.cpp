#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

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
