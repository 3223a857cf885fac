// Format 2 to format 3: the worked conversions, every loss the reader app's
// own converter has mended, mixed sources, refusals that leave a source as
// it was, and whole real files.
#include <gtest/gtest.h>
#include <dirent.h>

#include <memory>
#include <string>
#include <vector>

#include "AppTestUtil.h"
#include "FakeMainWindow.h"
#include "app/uBookSource3.h"
#include "app/uMainLogic.h"
#include "app/uSourceCollection.h"
#include "app/uSourceConvert.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

// The programs' JSON settings, restored afterwards.
class SourceConvert : public ::testing::Test {
 protected:
  void SetUp() override {
    FCase = JsonCaseSensitive;
    FSpace = JsonNameAfterSpace;
    JsonCaseSensitive = false;
    JsonNameAfterSpace = true;
  }
  void TearDown() override {
    JsonCaseSensitive = FCase;
    JsonNameAfterSpace = FSpace;
  }
  static std::unique_ptr<JSONObject> Parse(const std::string& AJson) {
    auto o = std::make_unique<JSONObject>();
    o->Parse(FromUtf8(AJson), false);
    return o;
  }
  // Compact text, whatever the settings, to compare with expected objects.
  static std::string Text(const JSONObject* AObject) { return ToUtf8(AObject->EncodeCompact()); }

 private:
  bool FCase = true;
  bool FSpace = false;
};

std::string Address(const std::string& AText) { return ToUtf8(ConvertAddress(FromUtf8(AText)).Text); }

}  // namespace

TEST_F(SourceConvert, WorkedExamples) {
  EXPECT_EQ(Address("http://www.b.com/modules/article/search.php?searchkey=searchKey&page=searchPage|char=gbk"),
            "http://www.b.com/modules/article/search.php?searchkey={{key}}&page={{page}},{\"charset\":\"gbk\"}");
  EXPECT_EQ(Address("https://m.example.org/search.php@keyword=searchKey&t=1@Header:{\"Referer\":\"https://m.example.org/\"}"),
            "https://m.example.org/search.php,{\"headers\":\"{\\\"Referer\\\":\\\"https://m.example.org/\\\"}\","
            "\"method\":\"POST\",\"body\":\"keyword={{key}}&t=1\"}");
  // The '#' rewrite after the '-' is put aside: the prefix is not doubled.
  EXPECT_EQ(ToUtf8(ConvertRule(u"-tag.span@text#作者")), "-tag.span@text##作者");
}

TEST_F(SourceConvert, Addresses) {
  const std::pair<const char*, const char*> cases[] = {
      // old brace page lists, the old words, page offsets
      {"/s?q=searchKey{,&page=searchPage}", "/s?q={{key}}<,&page={{page}}>"},
      {"/s?q=searchKey&p={searchPage}", "/s?q={{key}}&p=<{{page}}>"},
      {"/s?p={searchPage-1}&q=searchPage+1&r=searchPage-12x", "/s?p={{page-1}}&q={{page+1}}&r={{page-12}}x"},
      {"/list/{index,index_searchPage}.html", "/list/<index,index_{{page}}>.html"},
      {"/s?searchkey=searchKey&SEARCHKEY=x", "/s?searchkey={{key}}&SEARCHKEY=x"},
      // '{{…}}' scripts keep their braces; inside, the old words are the script's variables
      {"/s?start={{(searchPage-1)*20}}&t={{Date.now()}}", "/s?start={{(page-1)*20}}&t={{Date.now()}}"},
      {"/s?q={{encodeURI('searchKey')}}", "/s?q={{encodeURI(key)}}"},
      // a script address: only '=searchKey' and '=searchPage'
      {"<js>var u='/s?q=searchKey&p={x}';u+'&k=searchKey&p=searchPage'</js>",
       "<js>var u='/s?q={{key}}&p={x}';u+'&k={{key}}&p={{page}}'</js>"},
      {"/s?k=searchKey@js:result.replace('{a}','|')", "/s?k={{key}}@js:result.replace('{a}','|')"},
      // '|' with nothing after it; a charset with blanks around it
      {"/s?q=searchKey|", "/s?q={{key}}"},
      {"/s?q=searchKey|char=gbk \u00a0", "/s?q={{key}},{\"charset\":\"gbk\"}"},
      {"/s?q=searchKey|char=", "/s?q={{key}}"},
      // a POST form with the charset, the header before the address, in lower case
      {"https://www.d.net/s.php@objectType=2&s=searchKey|char=gbk@header:{referer:d.net}",
       "https://www.d.net/s.php,{\"headers\":\"{referer:d.net}\",\"charset\":\"gbk\",\"method\":\"POST\","
       "\"body\":\"objectType=2&s={{key}}\"}"},
      {"@header:{'Referer':'http://t.com/s.html'}/s.html@w=searchKey",
       "/s.html,{\"headers\":\"{'Referer':'http://t.com/s.html'}\",\"method\":\"POST\",\"body\":\"w={{key}}\"}"},
      // a JSON body keeps its braces; a form body gets page lists
      {"https://api.x.com/s@{\"kw\":\"searchKey\",\"page\":searchPage}",
       "https://api.x.com/s,{\"method\":\"POST\",\"body\":\"{\\\"kw\\\":\\\"{{key}}\\\",\\\"page\\\":{{page}}}\"}"},
      {"https://api.x.com/s@kw=searchKey&p={1,2}", "https://api.x.com/s,{\"method\":\"POST\",\"body\":\"kw={{key}}&p=<1,2>\"}"},
      // a body with a line feed: the options stay on one line
      {"/s@a=1\nb=searchKey", "/s,{\"method\":\"POST\",\"body\":\"a=1\\nb={{key}}\"}"},
  };
  for (const auto& [from, to] : cases) {
    const TAddressConversion r = ConvertAddress(FromUtf8(from));
    EXPECT_EQ(ToUtf8(r.Text), to) << from;
    EXPECT_EQ(ToUtf8(r.Refusal), "") << from;
  }
}

TEST_F(SourceConvert, AddressesThatWouldLoseData) {
  const std::pair<const char*, const char*> cases[] = {
      {"/s?q=searchKey|char=gbk|char=utf-8", "有第二个'|'部分"},
      {"/s@a=searchKey@b=1", "有第二个'@'部分"},
      {"/s?q=searchKey|http://m.x.com/s/searchKey.html", "'|'后的'http://m.x.com/s/searchKey.html'不是编码设置(char=…)"},
      {"/s?q=searchKey|char=gbk&searchtype=articlename", "的编码'gbk&searchtype=articlename'不是编码名称"},
      {"/s?q=searchKey|char=gbk\"", "的编码'gbk\"'不是编码名称"},
      {"/s@a=searchKey@Header:{\"Referer\":\"x\"", "的'@Header:{'没有结尾的'}'"},
  };
  for (const auto& [from, reason] : cases) EXPECT_EQ(ToUtf8(ConvertAddress(FromUtf8(from)).Refusal), reason) << from;
  // '|' and '@' inside a '{{…}}' script are the script's own.
  EXPECT_EQ(Address("/s?a={{1|2}}&b={{x@y}}"), "/s?a={{1|2}}&b={{x@y}}");
}

TEST_F(SourceConvert, ExploreAddresses) {
  const std::pair<const char*, const char*> cases[] = {
      // leading, trailing and repeated separators give no 'null' entries
      {"&&玄幻::/sort/1_searchPage.html&&\n\n都市::/sort/{2,3}.html\r\n&&",
       "玄幻::/sort/1_{{page}}.html\n都市::/sort/<2,3>.html"},
      // headings stay; the options of an entry stay on its line
      {"男频\n玄幻::/fl@page=searchPage|char=gbk&&女频",
       "男频\n玄幻::/fl,{\"charset\":\"gbk\",\"method\":\"POST\",\"body\":\"page={{page}}\"}\n女频"},
      {"@js:var a='x::/y';a", "@js:var a='x::/y';a"},
      {"<js>\n'a::/b&&c::/d'</js>", "<js>\n'a::/b&&c::/d'</js>"},
      {"", ""},
  };
  for (const auto& [from, to] : cases) {
    const TAddressConversion r = ConvertExploreAddress(FromUtf8(from));
    EXPECT_EQ(ToUtf8(r.Text), to) << from;
    EXPECT_EQ(ToUtf8(r.Refusal), "") << from;
  }
  EXPECT_EQ(ToUtf8(ConvertExploreAddress(u"甲::/a&&乙::/b@x=1@y=2").Refusal), "(乙)有第二个'@'部分");
}

TEST_F(SourceConvert, Rules) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"  ", ""},
      {"class.a@text#x#y", "class.a@text##x##y"},
      {"a##b#c", "a##b#c"},
      {"-tag.span@text#作者", "-tag.span@text##作者"},
      {"-+tag.a#b", "-+tag.a##b"},
      {"+tag.a#b", "+tag.a##b"},
      {"class.a|class.b", "class.a||class.b"},
      {"class.a|class.b#x|y", "class.a||class.b##x|y"},
      {"a||b|c", "a||b|c"},
      {"class.a@text&id.b@text", "class.a@text&&id.b@text"},
      {"a&&b&c", "a&&b&c"},
      {"class.a@href&http://x", "class.a@href&http://x"},
      {"/x&y", "/x&y"},
      {"-/x&y", "-/x&y"},
      // rules format 3 reads the same way
      {"@CSS:div#a|b", "@CSS:div#a|b"},
      {"@css:div#a", "@css:div#a"},
      {"@XPath://div#a", "@XPath://div#a"},
      {"//div[@id='a']#x", "//div[@id='a']#x"},
      {"##x#y", "##x#y"},
      {":reg#ex", ":reg#ex"},
      {"-@CSS:div#a", "-@CSS:div#a"},
      {"tag.a#b@JS:result", "tag.a#b@JS:result"},
      {"tag.a#<js>x</js>", "tag.a#<js>x</js>"},
  };
  for (const auto& [from, to] : cases) EXPECT_EQ(ToUtf8(ConvertRule(FromUtf8(from))), to) << from;
}

// A whole format-2 source: members kept in place, the format-3 ones appended.
TEST_F(SourceConvert, WholeSource) {
  auto s = Parse(R"({"bookSourceGroup":"g","bookSourceName":"n","bookSourceUrl":"http://www.b.com/",
    "bookSourceType":"AUDIO","enable":false,"httpUserAgent":"UA \"x\"","lastUpdateTime":1600000000000,
    "loginUrl":"http://www.b.com/login","ruleBookAuthor":"-tag.span@text#作者","ruleBookContent":"$id.content@textNodes",
    "ruleBookUrlPattern":"https?://www.b.com/book/\\d+",
    "ruleFindUrl":"&&玄幻::/sort/1_searchPage.html|char=gbk\n\n都市::/sort/{2,3}.html&&",
    "ruleSearchUrl":"/search.php?searchkey=searchKey&page=searchPage|char=gbk","ruleSearchList":"class.list@tag.li",
    "ruleSearchName":"tag.a.0@text","ruleChapterList":"id.list@tag.a|class.x","serialNumber":7,"weight":3,
    "checkUrl":"keep me","ruleSearchNoteUrl":"","ruleFindList":null,"ruleContentUrl":"$.url",
    "ruleChapterUrlNext":"-class.next@href"})");
  const TConvertResult r = ConvertToFormat3(s.get());
  EXPECT_EQ(r.Outcome, coConverted);
  EXPECT_EQ(Text(s.get()),
            R"({"bookSourceGroup":"g","bookSourceName":"n","bookSourceUrl":"http://www.b.com/","bookSourceType":1,)"
            R"("lastUpdateTime":1600000000000,"loginUrl":"http://www.b.com/login","weight":3,"checkUrl":"keep me",)"
            R"("bookUrlPattern":"https?://www.b.com/book/\\d+","customOrder":7,"enabled":false,"enabledExplore":true,)"
            R"("header":"{\"User-Agent\":\"UA \\\"x\\\"\"}",)"
            R"("searchUrl":"/search.php?searchkey={{key}}&page={{page}},{\"charset\":\"gbk\"}",)"
            R"("exploreUrl":"玄幻::/sort/1_{{page}}.html,{\"charset\":\"gbk\"}\n都市::/sort/<2,3>.html",)"
            R"("ruleSearch":{"bookList":"class.list@tag.li","name":"tag.a.0@text"},)"
            R"("ruleBookInfo":{"author":"-tag.span@text##作者"},)"
            R"("ruleToc":{"chapterList":"id.list@tag.a||class.x","chapterUrl":"$.url","nextTocUrl":"-class.next@href"},)"
            R"("ruleContent":{"content":"id.content@textNodes"}})");
  EXPECT_EQ(SourceFormatOf(s.get()), sfFormat3);
}

TEST_F(SourceConvert, DefaultsOfAbsentMembers) {
  struct TCase {
    const char* Source;
    const char* Converted;
  } cases[] = {
      // enable absent: enabled; no explore: not enabled; empty User-Agent: no header
      {R"({"bookSourceUrl":"u","ruleSearchUrl":"/s?k=searchKey","httpUserAgent":" "})",
       R"({"bookSourceUrl":"u","enabled":true,"enabledExplore":false,"searchUrl":"/s?k={{key}}"})"},
      // a type that is no AUDIO text is 0; a number stays; a content rule of '$.' keeps its '$'
      {R"({"bookSourceUrl":"u","bookSourceType":"TEXT","enable":"true","ruleBookContent":"$.data.content"})",
       R"({"bookSourceUrl":"u","bookSourceType":0,"enabled":true,"enabledExplore":false,)"
       R"("ruleContent":{"content":"$.data.content"}})"},
      {R"({"bookSourceUrl":"u","bookSourceType":2,"serialNumber":"12","ruleFindUrl":"@js:'a::/b'"})",
       R"({"bookSourceUrl":"u","bookSourceType":2,"customOrder":12,"enabled":true,"enabledExplore":true,)"
       R"("exploreUrl":"@js:'a::/b'"})"},
      // blank format-3 members say nothing: the format-2 ones are carried over in their place
      {R"({"bookSourceUrl":"u","searchUrl":"","header":" ","exploreUrl":"","ruleSearchUrl":"/s?k=searchKey",)"
       R"("httpUserAgent":"UA","ruleFindUrl":"a::/a"})",
       R"({"bookSourceUrl":"u","searchUrl":"/s?k={{key}}","header":"{\"User-Agent\":\"UA\"}","exploreUrl":"a::/a",)"
       R"("enabled":true,"enabledExplore":true})"},
      // blank flat members go without a trace; an unknown blank one too
      {R"({"bookSourceUrl":"u","ruleSearchUrl":"","ruleFindUrl":"  ","ruleBookName":"","ruleExtra":"","enable":true})",
       R"({"bookSourceUrl":"u","enabled":true,"enabledExplore":false})"},
  };
  for (const TCase& c : cases) {
    auto s = Parse(c.Source);
    EXPECT_EQ(ConvertToFormat3(s.get()).Outcome, coConverted) << c.Source;
    EXPECT_EQ(Text(s.get()), c.Converted) << c.Source;
  }
}

// The format-3 members of a mixed source win, member by member in its rule
// objects, which keep the form they are stored in.
TEST_F(SourceConvert, MixedSources) {
  auto s = Parse(R"({"bookSourceUrl":"u","searchUrl":"/new?k={{key}}","ruleSearchUrl":"/old|char=gbk|x",
    "header":"{\"User-Agent\":\"UA3\"}","httpUserAgent":"UA2","enabled":false,"enable":true,
    "ruleSearch":"{\"name\":\"n3\",\"author\":\"\"}","ruleSearchName":"n2","ruleSearchAuthor":"a2","ruleSearchList":"l2",
    "ruleToc":{"chapterList":"c3"},"ruleChapterList":"c2","ruleChapterName":"cn2",
    "exploreUrl":[{"title":"t","url":"/e"}],"ruleFindUrl":"x::/f@a@b"})");
  const TConvertResult r = ConvertToFormat3(s.get());
  ASSERT_EQ(r.Outcome, coConverted) << ToUtf8(r.Reason);
  std::unique_ptr<JSONObject> shown(s->Clone());
  shown->SetString(u"ruleSearch", u"");  // its text is checked below, as an object
  EXPECT_EQ(Text(shown.get()),
            R"({"bookSourceUrl":"u","searchUrl":"/new?k={{key}}","header":"{\"User-Agent\":\"UA3\"}","enabled":false,)"
            R"("ruleSearch":"",)"
            R"("ruleToc":{"chapterList":"c3","chapterName":"cn2"},"exploreUrl":[{"title":"t","url":"/e"}],)"
            R"("enabledExplore":true})");
  PJSONValue rule = s->GetItem(u"ruleSearch");
  ASSERT_EQ(rule->Type(), jdtString);
  EXPECT_EQ(ToUtf8(std::unique_ptr<JSONBase>(JSONBase::Parser(rule->AsString(), true))->EncodeCompact()),
            R"({"name":"n3","author":"a2","bookList":"l2"})");
}

TEST_F(SourceConvert, SourcesLeftAsTheyWere) {
  struct TCase {
    const char* Source;
    TConvertOutcome Outcome;
    const char* Reason;
  } cases[] = {
      {R"({"bookSourceUrl":"u","searchUrl":"/s","ruleSearch":{"name":"a#b"}})", coAlreadyFormat3, "已是新格式"},
      {R"({"bookSourceUrl":"u","bookSourceName":"n","bookSourceGroup":"g"})", coBare, "没有规则，新旧格式相同"},
      {R"({"bookSourceUrl":"u","ruleSearchUrl":"/s?k=searchKey|char=gbk|x","ruleBookName":"a#b"})", coRefused,
       "搜索地址有第二个'|'部分，无法无损转换"},
      {R"({"bookSourceUrl":"u","ruleSearchUrl":"/s@k=searchKey@x","enable":true})", coRefused,
       "搜索地址有第二个'@'部分，无法无损转换"},
      {R"({"bookSourceUrl":"u","ruleFindUrl":"甲::/a|char=gbk|b","enable":true})", coRefused,
       "发现地址(甲)有第二个'|'部分，无法无损转换"},
      {R"({"bookSourceUrl":"u","ruleSearchUrl":"/s","ruleSearchPage":"2"})", coRefused,
       "旧格式成员ruleSearchPage没有对应的新格式成员，无法无损转换"},
      {R"({"bookSourceUrl":"u","ruleSearch":"not an object","ruleSearchName":"n"})", coRefused,
       "规则对象ruleSearch无法读取，旧格式规则无法并入，无法无损转换"},
      {R"({"bookSourceUrl":"u","ruleToc":[1],"ruleChapterList":"li"})", coRefused,
       "规则对象ruleToc无法读取，旧格式规则无法并入，无法无损转换"},
  };
  for (const TCase& c : cases) {
    auto s = Parse(c.Source);
    const std::string before = Text(s.get());
    const TConvertResult r = ConvertToFormat3(s.get());
    EXPECT_EQ(r.Outcome, c.Outcome) << c.Source;
    EXPECT_FALSE(r.Changed());
    EXPECT_EQ(ToUtf8(r.Reason), c.Reason) << c.Source;
    EXPECT_EQ(Text(s.get()), before) << c.Source;
  }
}

namespace {

struct TFileCounts {
  int Sources = 0, Converted = 0, Refused = 0;
};

// Converts every source of a file: afterwards no format-2 member is left
// except in sources refused, each refusal with a reason and untouched.
TFileCounts ConvertFile(const std::string& APath) {
  TFileCounts counts;
  String trailing;
  std::unique_ptr<JSONArray> data = TSourceCollection::LoadFile(FromUtf8(APath), nullptr, &trailing);
  for (int i = 0; i < data->Count(); ++i) {
    JSONObject* s = data->GetJsonObject(i);
    if (!s) continue;
    ++counts.Sources;
    const TSourceFormat before = SourceFormatOf(s);
    const String text = s->EncodeCompact();
    const TConvertResult r = ConvertToFormat3(s);
    const String name = s->GetString(u"bookSourceName");
    switch (r.Outcome) {
      case coConverted:
        ++counts.Converted;
        EXPECT_TRUE(before == sfFormat2 || before == sfMixed) << APath << " " << ToUtf8(name);
        EXPECT_EQ(SourceFormatOf(s), sfFormat3) << APath << " " << ToUtf8(name);
        EXPECT_EQ(ConvertToFormat3(s).Outcome, coAlreadyFormat3);
        break;
      case coRefused:
        ++counts.Refused;
        EXPECT_FALSE(r.Reason.empty()) << APath << " " << ToUtf8(name);
        EXPECT_EQ(s->EncodeCompact(), text) << APath << " " << ToUtf8(name);
        break;
      case coAlreadyFormat3:
        EXPECT_EQ(before, sfFormat3);
        break;
      case coBare:
        EXPECT_EQ(before, sfBare);
        break;
    }
  }
  return counts;
}

}  // namespace

TEST_F(SourceConvert, RepositoryFormat2File) {
  const TFileCounts c = ConvertFile(std::string(TANVORK_TEST_DATA) + "/real/cwl666_freebook3_data.json");
  EXPECT_EQ(c.Sources, 78);
  EXPECT_EQ(c.Converted + c.Refused, 78);
  EXPECT_GE(c.Converted, 70);
}

TEST_F(SourceConvert, PublishedFormat2Files) {
  const std::string dir = std::string(TANVORK_SHARED_DIR) + "/data/real";
  DIR* d = ::opendir(dir.c_str());
  if (!d) GTEST_SKIP() << dir << " is absent: the published files are not here";
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n.size() > 5 && (n.ends_with(".json") || n.ends_with(".txt"))) names.push_back(n);
  }
  ::closedir(d);
  TFileCounts all;
  for (const std::string& n : names) {
    if (n == "hzfla_book.txt") continue;  // '#' lines: not JSON even for the lenient reader
    const TFileCounts c = ConvertFile(dir + "/" + n);
    all.Sources += c.Sources;
    all.Converted += c.Converted;
    all.Refused += c.Refused;
  }
  EXPECT_GT(all.Converted, 10000);
  // Refusals are the exception: addresses with more parts than format 3 has room for.
  EXPECT_LT(all.Refused * 50, all.Converted) << all.Refused << " refused";
}

// The desktop's command: the selected rows (else the current one), one step
// that undo takes back whole, a log line for every source.
TEST(SourceConvertLogic, SelectedSourcesConvertAsOneStepThatUndoes) {
  FakeMainWindow win;
  TMainLogic logic(win);
  win.Logic = &logic;
  TempDir dir;
  logic.AddSrcFile(dir.Write(
      "s.json", "[" + Src("a", "http://a/", "", R"("ruleSearchUrl":"/s?k=searchKey","enable":true)") + "," +
                    Src("b", "http://b/", "", R"("searchUrl":"/s?k={{key}}")") + "," +
                    Src("c", "http://c/", "", R"("ruleSearchUrl":"/s@k=searchKey@x")") + "," +
                    Src("d", "http://d/", "", R"("ruleBookName":"tag.h1@text")") + "]"));
  JSONArray& data = logic.Sources().Data();
  const String loaded = data.EncodeCompact();
  auto member = [&](int AIndex, const char16_t* AKey) { return data.GetJsonObject(AIndex)->Contains(AKey); };

  win.Selected = {0, 1, 2};
  win.LogLines.clear();
  logic.ConvertSelected();
  EXPECT_TRUE(member(0, u"searchUrl"));
  EXPECT_FALSE(member(0, u"ruleSearchUrl"));
  EXPECT_FALSE(member(0, u"enable"));
  EXPECT_TRUE(member(2, u"ruleSearchUrl"));
  EXPECT_TRUE(member(3, u"ruleBookName"));  // not selected
  std::vector<std::string> log;
  for (const String& line : win.LogLines) log.push_back(ToUtf8(line.substr(line.find(u"] ") + 2)));
  EXPECT_EQ(log, (std::vector<std::string>{
                     "a(http://a/): 已转换为新格式",
                     "b(http://b/): 已是新格式",
                     "c(http://c/): 搜索地址有第二个'@'部分，无法无损转换",
                     "转换为新格式: 已转换1个, 未转换2个(其中1个无法无损转换).",
                 }));
  EXPECT_EQ(ToUtf8(logic.UndoCaption()), "转换为新格式");
  const String converted = data.EncodeCompact();
  ASSERT_TRUE(logic.Undo());
  EXPECT_EQ(data.EncodeCompact(), loaded);
  ASSERT_TRUE(logic.Redo());
  EXPECT_EQ(data.EncodeCompact(), converted);

  // No selection: the current row.
  win.Selected.clear();
  win.CurrentRow = 3;
  logic.ConvertSelected();
  EXPECT_EQ(ToUtf8(data.GetJsonObject(3)->EncodeCompact()),
            R"({"bookSourceName":"d","bookSourceUrl":"http://d/","enabled":true,"enabledExplore":false,)"
            R"("ruleBookInfo":{"name":"tag.h1@text"}})");
}
