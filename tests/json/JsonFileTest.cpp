// Files and streams: encodings in and out, the export shape, failures that
// must not destroy or hang, and round trips of the published files.
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "FuzzText.h"
#include "JsonTestUtil.h"

namespace {

class JsonFiles : public JsonTest {
 protected:
  void SetUp() override {
    JsonTest::SetUp();
    char tmpl[] = "/tmp/kivjson-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    FDir = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + FDir + "'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << FDir;
    JsonTest::TearDown();
  }

  std::string Path(const std::string& name) const { return FDir + "/" + name; }
  String PathW(const std::string& name) const { return FromUtf8(Path(name)); }

  void WriteBytes(const std::string& name, const std::string& bytes) const {
    std::ofstream f(Path(name), std::ios::binary);
    f << bytes;
  }
  std::string ReadBytes(const std::string& name) const {
    std::ifstream f(Path(name), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(FDir.c_str())) {
      while (dirent* e = ::readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
          names.push_back(e->d_name);
      ::closedir(d);
    }
    return names;
  }

  std::string FDir;
};

std::string Utf16(const String& s, bool bigEndian) {
  std::string b;
  for (char16_t c : s) {
    char lo = char(c & 0xFF), hi = char(c >> 8);
    if (bigEndian) {
      b.push_back(hi);
      b.push_back(lo);
    } else {
      b.push_back(lo);
      b.push_back(hi);
    }
  }
  return b;
}

const String kDoc = u"[{\"bookSourceName\":\"中文书源\",\"weight\":3}]";

}  // namespace

TEST_F(JsonFiles, EveryEncodingLoadsTheSameDocument) {
  const std::string utf8 = ToUtf8(kDoc);
  struct Case {
    const char* what;
    std::string bytes;
    TTextEncoding enc;
  } cases[] = {
      {"utf-8", utf8, teUnknown},
      {"utf-8 bom", "\xEF\xBB\xBF" + utf8, teUnknown},
      {"utf-8 bom, caller says ansi", "\xEF\xBB\xBF" + utf8, teAnsi},
      {"utf-8 given", utf8, teUTF8},
      {"utf-16le bom", "\xFF\xFE" + Utf16(kDoc, false), teUnknown},
      {"utf-16le", Utf16(kDoc, false), teUnknown},
      {"utf-16be bom, caller says utf-8", "\xFE\xFF" + Utf16(kDoc, true), teUTF8},
      {"utf-16be bom", "\xFE\xFF" + Utf16(kDoc, true), teAuto},
      {"utf-16be", Utf16(kDoc, true), teUnknown},
      {"utf-16be given", Utf16(kDoc, true), teUnicode16BE},
      {"gbk", AnsiEncode(kDoc), teUnknown},
      {"gbk given", AnsiEncode(kDoc), teAnsi},
  };
  for (const Case& c : cases) {
    WriteBytes("f.json", c.bytes);
    JSONArray a;
    a.LoadFromFile(PathW("f.json"), c.enc);
    EXPECT_EQ(a.ToString(0, false), kDoc) << c.what;
  }
}

TEST_F(JsonFiles, ShortAndMissingFiles) {
  WriteBytes("empty.json", "{}");
  JSONObject o;
  o.Put(u"old", int32_t(1));
  o.LoadFromFile(PathW("empty.json"));
  EXPECT_EQ(o.Count(), 0);
  o.Put(u"old", int32_t(1));
  for (const char* bytes : {"{", "\xEF\xBB\xBF", ""}) {
    WriteBytes("short.json", bytes);
    EXPECT_EQ(ErrorOf([&] { o.LoadFromFile(PathW("short.json")); }),
              "当前内容不是有效的JSON字符串.")
        << bytes;
    EXPECT_EQ(o.Count(), 1);
  }
  o.LoadFromFile(PathW("no-such-file.json"));
  o.LoadFromFile(PathW("no-such-dir/x.json"));
  EXPECT_EQ(o.Count(), 1);
}

TEST_F(JsonFiles, UnreadableThingsGiveAnErrorNamingTheFile) {
  ASSERT_EQ(::mkdir(Path("folder").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0644), 0);
  for (const char* name : {"folder", "pipe"}) {
    JSONArray a;
    std::string err = ErrorOf([&] { a.LoadFromFile(PathW(name)); });
    EXPECT_NE(err.find(Path(name)), std::string::npos) << err;
  }
  WriteBytes("locked.json", "[1]");
  ASSERT_EQ(::chmod(Path("locked.json").c_str(), 0), 0);
  if (::geteuid() != 0) {  // root reads everything
    JSONArray a;
    std::string err = ErrorOf([&] { a.LoadFromFile(PathW("locked.json")); });
    EXPECT_NE(err.find(Path("locked.json")), std::string::npos) << err;
  }
  // A syntax error in a file is the parser's report.
  WriteBytes("bad.json", "[1,\n2 3]");
  JSONArray a;
  EXPECT_EQ(ErrorOf([&] { a.LoadFromFile(PathW("bad.json")); }),
            "第2行第3列: 当前内容不是有效的JSON字符串. \r\n行: 2 3]");
}

TEST_F(JsonFiles, TheExportShape) {
  JsonNameAfterSpace = true;
  JSONArray a;
  a.Decode(kDoc);
  a.SaveToFile(PathW("export.json"), 4, teUTF8, false);
  const std::string expect =
      "[\r\n    {\r\n        \"bookSourceName\": \"中文书源\",\r\n        \"weight\": 3\r\n    }\r\n]";
  EXPECT_EQ(ReadBytes("export.json"), expect);
  a.SaveToFile(PathW("bom.json"), 4);
  EXPECT_EQ(ReadBytes("bom.json"), "\xEF\xBB\xBF" + expect);
  JSONArray back;
  back.LoadFromFile(PathW("bom.json"));
  EXPECT_EQ(back.ToString(0, false), a.ToString(0, false));
}

TEST_F(JsonFiles, StreamsInEveryEncoding) {
  JSONArray a;
  a.Add(StringView(u"中"));
  const String text = a.ToString(0, false);
  struct Case {
    TTextEncoding enc;
    bool bom;
    std::string bytes;
  } cases[] = {
      {teUTF8, false, ToUtf8(text)},
      {teUTF8, true, "\xEF\xBB\xBF" + ToUtf8(text)},
      {teAnsi, true, AnsiEncode(text)},
      {teUnicode16LE, true, "\xFF\xFE" + Utf16(text, false)},
      {teUnicode16LE, false, Utf16(text, false)},
      {teUnicode16BE, true, "\xFE\xFF" + Utf16(text, true)},
      {teUnknown, false, Utf16(text, true)},
      {teAuto, true, "\xFE\xFF" + Utf16(text, true)},
  };
  for (const Case& c : cases) {
    TMemoryStream ms;
    ms.Write("x", 1);  // writing starts at the current position
    a.SaveToStream(ms, 0, c.enc, c.bom, false);
    EXPECT_EQ(ms.Data(), "x" + c.bytes) << int(c.enc) << " " << c.bom;
    ms.SetPosition(1);
    JSONArray back;
    back.LoadFromStream(ms, c.enc == teAnsi ? teAnsi : teUnknown);
    EXPECT_EQ(back.ToString(0, false), text) << int(c.enc);
  }
  TMemoryStream esc;
  a.SaveToStream(esc, 0, true);
  EXPECT_EQ(esc.Data(), "[\"\\u4e2d\"]");
}

TEST_F(JsonFiles, FailedSaveKeepsTheOldFile) {
  const std::string old = "[\"the old content\"]";
  WriteBytes("keep.json", old);
  ASSERT_EQ(::chmod(Path("keep.json").c_str(), 0640), 0);

  // A writer error: nothing is written.
  JSONObject bad;
  bad.Put(u"", static_cast<JSONBase*>(new JSONObject()));
  EXPECT_NE(ErrorOf([&] { bad.SaveToFile(PathW("keep.json"), 4, teUTF8, false); }), "<no error>");
  EXPECT_EQ(ReadBytes("keep.json"), old);

  // A write that fails part-way (the file-size limit stands in for a full disk).
  JSONArray big;
  for (int i = 0; i < 2000; ++i) big.Add(StringView(u"some text to make the file large"));
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string err = ErrorOf([&] { big.SaveToFile(PathW("keep.json"), 4, teUTF8, false); });
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_NE(err.find(Path("keep.json")), std::string::npos) << err;
  EXPECT_EQ(ReadBytes("keep.json"), old);
  EXPECT_EQ(Files(), std::vector<std::string>{"keep.json"});  // no temporary left behind

  // A successful save replaces it and keeps the permission bits.
  big.SaveToFile(PathW("keep.json"), 0, teUTF8, false);
  EXPECT_EQ(ReadBytes("keep.json"), ToUtf8(big.ToString(0, false)));
  struct stat st;
  ASSERT_EQ(::stat(Path("keep.json").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Files(), std::vector<std::string>{"keep.json"});
}

// A save killed on the way (here by the file-size limit's signal) leaves its
// temporary file, named with its process id; the next save in that folder
// removes it, and leaves alone the temporaries of living processes and
// anything else.
TEST_F(JsonFiles, TheNextSaveRemovesTheTemporaryOfAKilledOne) {
  const std::string old = "[\"the old content\"]";
  WriteBytes("keep.json", old);
  JSONArray big;
  for (int i = 0; i < 2000; ++i) big.Add(StringView(u"some text to make the file large"));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_DFL);
    struct rlimit small;
    ::getrlimit(RLIMIT_FSIZE, &small);
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    try {
      big.SaveToFile(PathW("keep.json"), 4, teUTF8, false);
    } catch (...) {
    }
    ::_exit(0);  // not reached: the signal ends the process
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
  EXPECT_EQ(ReadBytes("keep.json"), old);
  const std::string left = ".kivjson-" + std::to_string(child) + "-";
  std::vector<std::string> files = Files();
  ASSERT_EQ(files.size(), 2u);
  const std::string temp = files[0] == "keep.json" ? files[1] : files[0];
  EXPECT_EQ(temp.rfind(left, 0), 0u) << temp;
  EXPECT_EQ(temp.size(), left.size() + 6) << temp;

  const std::string living = ".kivjson-" + std::to_string(::getpid()) + "-abcdef";
  const std::string others[] = {living, ".kivjson-1-abcdef", ".kivjson-notapid", ".kivjson-" + std::to_string(child) + "-toolong",
                                "kivjson-" + std::to_string(child) + "-abcdef"};
  for (const std::string& name : others) WriteBytes(name, "x");
  JSONArray small;
  small.Add(int32_t(7));
  small.SaveToFile(PathW("keep.json"), 0, teUTF8, false);
  EXPECT_EQ(ReadBytes("keep.json"), "[7]");
  files = Files();
  std::sort(files.begin(), files.end());
  std::vector<std::string> expected(std::begin(others), std::end(others));
  expected.push_back("keep.json");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(files, expected);
}

TEST_F(JsonFiles, SaveThroughALinkAndIntoAFolderFails) {
  WriteBytes("real.json", "[]");
  ASSERT_EQ(::symlink("real.json", Path("link.json").c_str()), 0);
  JSONArray a;
  a.Add(int32_t(5));
  a.SaveToFile(PathW("link.json"), 0, teUTF8, false);
  EXPECT_EQ(ReadBytes("real.json"), "[5]");
  struct stat st;
  ASSERT_EQ(::lstat(Path("link.json").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  // A new file gets the usual bits under the umask, not the temporary's.
  mode_t mask = ::umask(022);
  a.SaveToFile(PathW("new.json"), 0, teUTF8, false);
  ::umask(mask);
  ASSERT_EQ(::stat(Path("new.json").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  ASSERT_EQ(::mkdir(Path("dir").c_str(), 0755), 0);
  std::string err = ErrorOf([&] { a.SaveToFile(PathW("dir"), 0, teUTF8, false); });
  EXPECT_NE(err.find(Path("dir")), std::string::npos) << err;
  EXPECT_NE(ErrorOf([&] { a.SaveToFile(PathW("missing-dir/x.json"), 0); }), "<no error>");
}

TEST_F(JsonFiles, PublishedFilesLoadAndRoundTrip) {
  const std::string dir = std::string(TANVORK_SHARED_DIR) + "/data/real";
  DIR* d = ::opendir(dir.c_str());
  if (!d) GTEST_SKIP() << dir << " is absent";
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n.size() > 5 && (n.substr(n.size() - 5) == ".json" || n.substr(n.size() - 4) == ".txt") &&
        n != "SOURCES.md")
      names.push_back(n);
  }
  ::closedir(d);
  ASSERT_FALSE(names.empty());
  JsonCaseSensitive = false;
  JsonNameAfterSpace = true;
  for (const std::string& n : names) {
    // An array file loads into an array, a single source into an object.
    std::unique_ptr<JSONBase> doc;
    std::string err = ErrorOf([&] {
      TFileStream f(FromUtf8(dir + "/" + n), TFileStream::fmOpenRead);
      doc.reset(JSONBase::Parser(f, true));
    });
    if (n == "hzfla_book.txt") {
      // Hand-joined exports with "#" lines: not JSON even for the lenient reader.
      EXPECT_EQ(err.rfind("第2行第1列: ", 0), 0u) << err;
      continue;
    }
    EXPECT_EQ(err, "<no error>") << n;
    if (!doc) continue;
    EXPECT_GT(doc->Count(), 0) << n;
    doc->SaveToFile(PathW("copy.json"), 4, teUTF8, false);
    std::unique_ptr<JSONBase> back(doc->IsJSONArray() ? static_cast<JSONBase*>(new JSONArray())
                                                      : new JSONObject());
    back->LoadFromFile(PathW("copy.json"));
    EXPECT_EQ(back->ToString(0, false), doc->ToString(0, false)) << n;
    JSONArray asProgram;  // the program loads every file into an array
    EXPECT_EQ(ErrorOf([&] { asProgram.LoadFromFile(FromUtf8(dir + "/" + n)); }), "<no error>") << n;
  }
}

TEST_F(JsonFiles, Utf8SaveEqualsTheEncodedText) {
  // The UTF-8 save writes straight from the tree; it must give the bytes of
  // EncodeUTF8 of the text, also around escapes, surrogates and block edges.
  JSONArray a;
  for (int k = 0; k < 18; ++k) {
    String s(size_t(k), u'a');
    a.Add(StringView(s + u"\"\\/\t" + s + u"中文😀" + s + String(1, char16_t(0xD800)) + u"z" +
                     String(1, char16_t(0xDC00)) + s + String(1, char16_t(0x7F)) + u"é"));
  }
  JSONObject* o = a.AddChildObject();
  o->Put(u"名\u0001", 1.5);
  o->PutDateTime(u"d", 43586.25);
  o->Put(u"b", Bytes("\xFF", 1));
  for (bool esc : {false, true})
    for (int indent : {0, 4}) {
      TMemoryStream ms;
      a.SaveToStream(ms, indent, teUTF8, false, esc);
      EXPECT_EQ(ms.Data(), EncodeUTF8(a.ToString(indent, esc))) << esc << indent;
    }
  a.SaveToFile(PathW("u.json"), 4, teUTF8, true);
  EXPECT_EQ(ReadBytes("u.json"), "\xEF\xBB\xBF" + EncodeUTF8(a.ToString(4, false)));
  a.SaveToFile(PathW("w.json"), 4, teUnicode16LE, true);
  EXPECT_EQ(ReadBytes("w.json"), "\xFF\xFE" + Utf16(a.ToString(4, false), false));
}

// Every name and text of the repository's published files, written and read
// back against a plain per-character escaper. The parser's and writer's block
// loops (SSE2) and the scalar build (TANVORK_JSON_SCALAR) both have to give
// exactly these texts, so the two builds agree byte for byte.
String PlainEscaped(StringView s, bool esc) {
  static const char16_t kHex[] = u"0123456789abcdef";
  String r;
  for (char16_t c : s) {
    if (c == 0) break;  // the writer ends a text at a NUL
    if (c >= 32 && c != u'"' && c != u'\\' && (c < 127 || !esc)) {
      r += c;
      continue;
    }
    r += u'\\';
    switch (c) {
      case 7: r += u'a'; break;
      case 8: r += u'b'; break;
      case 9: r += u't'; break;
      case 10: r += u'n'; break;
      case 11: r += u'v'; break;
      case 12: r += u'f'; break;
      case 13: r += u'r'; break;
      case u'"': r += u'"'; break;
      case u'\\': r += u'\\'; break;
      default:
        r += u'u';
        for (int shift = 12; shift >= 0; shift -= 4) r += kHex[(c >> shift) & 15];
    }
  }
  return r;
}

// Runs of the parser's five blanks, of every length from 0 to 19.
String BlankRun(size_t n) {
  static const char16_t kBlanks[] = {u' ', u'\n', u'\t', u'\r', u'\u3000'};
  String r;
  for (size_t i = 0; i < n % 20; ++i) r += kBlanks[(n + i) % 5];
  return r;
}

void CollectTexts(const JSONBase* t, std::vector<String>& out) {
  for (int i = 0; i < t->Count(); ++i) {
    PJSONValue r = t->GetItems(i);
    if (!r->Name().empty()) out.emplace_back(r->Name());
    if (r->Type() == jdtString) out.push_back(r->AsString());
    if (const JSONBase* child = r->GetObject()) CollectTexts(child, out);
  }
}

TEST_F(JsonFiles, RepositoryFilesWriteAndReadLikeThePlainEscaper) {
  const std::string dir = std::string(TANVORK_TEST_DATA) + "/real/";
  for (const char* name : {"choue_bookSource_3.0.json", "cwl666_freebook3_data.json"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<JSONBase> doc;
    ASSERT_EQ(ErrorOf([&] {
                TFileStream f(FromUtf8(dir + name), TFileStream::fmOpenRead);
                doc.reset(JSONBase::Parser(f, true));
              }),
              "<no error>");
    ASSERT_TRUE(doc);
    std::vector<String> texts;
    CollectTexts(doc.get(), texts);
    ASSERT_GT(texts.size(), 1000u);

    int wrong = 0;
    for (bool esc : {false, true}) {
      String all = u"[";
      for (size_t i = 0; i < texts.size(); ++i) {
        const String quoted = u"\"" + PlainEscaped(texts[i], esc) + u"\"";
        JSONArray one;
        one.Add(StringView(texts[i]));
        String text = one.ToString(0, esc);
        TMemoryStream utf8;
        one.SaveToStream(utf8, 0, teUTF8, false, esc);
        if ((text != u"[" + quoted + u"]" || utf8.Data() != EncodeUTF8(u"[" + quoted + u"]")) && ++wrong <= 5)
          ADD_FAILURE() << "written differently (escape " << esc << "): " << U8(texts[i]) << "\n  as "
                        << U8(text);
        all += BlankRun(i) + quoted + BlankRun(i + 7) + (i + 1 < texts.size() ? u"," : u"");
      }
      all += u"]";

      JSONArray back;
      ASSERT_EQ(ErrorOf([&] { back.Parse(all); }), "<no error>") << "escape " << esc;
      ASSERT_EQ(size_t(back.Count()), texts.size());
      for (size_t i = 0; i < texts.size(); ++i) {
        const String want(StringView(texts[i]).substr(0, texts[i].find(u'\0')));
        if (back.GetItems(int(i))->AsString() != want && ++wrong <= 5)
          ADD_FAILURE() << "read back differently (escape " << esc << "): " << U8(want);
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

namespace {

std::vector<std::string> CorpusFiles(const std::string& ADir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(ADir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.' && std::string(e->d_name) != "ORIGIN.md") names.push_back(ADir + "/" + e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string FileBytes(const std::string& AName) {
  std::ifstream f(AName, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Exports a parsed document as the programs do (UTF-8, no BOM) and checks that
// the export loads again and settles after one round; "" when it is refused
// by design (members without names).
std::string ExportReloads(JSONBase& ADoc, int AIndent, const std::string& AWhat) {
  TMemoryStream once;
  try {
    ADoc.SaveToStream(once, AIndent, teUTF8, false, false);
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find(u"名称未赋值"), String::npos) << AWhat << ": " << ToUtf8(e.Message());
    return "";
  }
  once.SetPosition(0);
  std::unique_ptr<JSONBase> again(JSONBase::Parser(once, false));
  if (!again) {
    ADD_FAILURE() << AWhat << ": the export does not load again:\n" << once.Data().substr(0, 400);
    return "";
  }
  TMemoryStream twice;
  again->SaveToStream(twice, AIndent, teUTF8, false, false);
  twice.SetPosition(0);
  std::unique_ptr<JSONBase> third(JSONBase::Parser(twice, false));
  if (!third) {
    ADD_FAILURE() << AWhat << ": the second export does not load";
    return "";
  }
  TMemoryStream thrice;
  third->SaveToStream(thrice, AIndent, teUTF8, false, false);
  EXPECT_EQ(thrice.Data(), twice.Data()) << AWhat;
  return once.Data();
}

}  // namespace

// Every document of the fuzz corpus that loads, and a table of numeric edge
// cases, exports to a text that loads again (INF and NAN never do).
TEST_F(JsonFiles, EveryExportOfTheFuzzCorpusLoadsAgain) {
  const std::string corpus = TANVORK_FUZZ_CORPUS;
  std::vector<std::pair<std::string, String>> texts;
  for (const std::string& name : CorpusFiles(corpus + "/json")) {
    const std::string bytes = FileBytes(name);
    texts.emplace_back(name, FuzzText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  }
  for (const std::string& name : CorpusFiles(corpus + "/srcfile")) {
    TMemoryStream file(FileBytes(name));
    texts.emplace_back(name, LoadTextW(file, teUnknown));
  }
  ASSERT_GE(texts.size(), 40u) << "the corpus is missing under " << corpus;
  const char* numbers[] = {"1e5000",  "-1e5000", "0e99999", "1e-5000", "1e4932", "1.18973149535723176502e+4932",
                           "1e308",   "1e309",   "-1e309",  "4.9e-324", "5e-325", "2.2250738585072014e-308",
                           "1e1e1e1", "1e+5000", "1E-0",    "-0.0e5000", "123456789012345678901234567890",
                           "0.1e1", "00012", "1.7976931348623157e308", "9007199254740993", "18446744073709551616"};
  for (const char* n : numbers)
    texts.emplace_back(n, u"[{\"bookSourceUrl\":\"http://a.com\",\"n\":" + FromUtf8(n) + u",\"m\":[" + FromUtf8(n) +
                              u"]}]");
  int loaded = 0;
  for (const auto& [what, text] : texts) {
    std::unique_ptr<JSONBase> doc(JSONBase::Parser(text, false));
    if (!doc) continue;
    ++loaded;
    for (int indent : {0, 4}) {
      const std::string out = ExportReloads(*doc, indent, what);
      EXPECT_EQ(out.find("INF"), std::string::npos) << what;
      EXPECT_EQ(out.find("NAN"), std::string::npos) << what;
    }
  }
  EXPECT_GE(loaded, int(std::size(numbers)) + 20);
}
