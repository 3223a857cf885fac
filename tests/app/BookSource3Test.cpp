// The current source format beside the flat one: telling them apart, rule
// objects in either stored form, the header list, and files that come back
// from an export as they went in.
#include <gtest/gtest.h>

#include <fstream>

#include "AppTestUtil.h"
#include "app/uBookSource3.h"
#include "app/uMainLogic.h"
#include "json/KivJson.h"

namespace {

std::unique_ptr<JSONObject> Parse(const std::string& AJson) {
  // The programs' settings: names without case, texts written back with a blank after each colon.
  JsonCaseSensitive = false;
  JsonNameAfterSpace = true;
  auto o = std::make_unique<JSONObject>();
  o->Parse(FromUtf8(AJson), false);
  return o;
}

const std::string kRealData = std::string(TANVORK_TEST_DATA) + "/real/";

TEST(BookSource3, FormatsAreToldApart) {
  const std::pair<const char*, TSourceFormat> cases[] = {
      {R"({"bookSourceUrl":"a","bookSourceName":"n","bookSourceGroup":"g"})", sfBare},
      {R"({"bookSourceUrl":"a","ruleSearchUrl":"/s?k=searchKey"})", sfFormat2},
      {R"({"bookSourceUrl":"a","ruleBookContent":"id.c@text"})", sfFormat2},
      {R"({"bookSourceUrl":"a","httpUserAgent":"x"})", sfFormat2},
      {R"({"bookSourceUrl":"a","enable":true})", sfFormat2},
      {R"({"bookSourceUrl":"a","serialNumber":3})", sfFormat2},
      {R"({"bookSourceUrl":"a","searchUrl":"/s?k={{key}}"})", sfFormat3},
      {R"({"bookSourceUrl":"a","ruleSearch":{"bookList":"li"}})", sfFormat3},
      {R"({"bookSourceUrl":"a","ruleToc":"{\"chapterList\":\"li\"}"})", sfFormat3},
      {R"({"bookSourceUrl":"a","enabled":false})", sfFormat3},
      {R"({"bookSourceUrl":"a","header":"{}"})", sfFormat3},
      {R"({"bookSourceUrl":"a","customOrder":1,"bookUrlPattern":"x"})", sfFormat3},
      {R"({"bookSourceUrl":"a","searchUrl":"/s","ruleSearchUrl":"/s"})", sfMixed},
      {R"({"bookSourceUrl":"a","enabled":true,"enable":true})", sfMixed},
      // A member that only starts with "rule" is no flat rule.
      {R"({"bookSourceUrl":"a","rules":"x","ruler":"y"})", sfBare},
  };
  for (const auto& [json, format] : cases) EXPECT_EQ(SourceFormatOf(Parse(json).get()), format) << json;
  EXPECT_EQ(SourceFormatName(sfMixed), std::u16string(u"2+3"));
}

TEST(BookSource3, RealFilesAreTheFormatTheySay) {
  for (const auto& [file, format, count] : {std::tuple{"choue_bookSource_3.0.json", sfFormat3, 87},
                                             std::tuple{"cwl666_freebook3_data.json", sfFormat2, 78}}) {
    TMainLogic logic;
    logic.AddSrcFile(FromUtf8(kRealData + file));
    JSONArray& data = logic.Sources().Data();
    ASSERT_EQ(data.Count(), count) << file;
    for (int i = 0; i < data.Count(); ++i) EXPECT_EQ(SourceFormatOf(data.GetJsonObject(i)), format) << file << " " << i;
  }
}

// A rule reads the same whether stored as an object or as a string holding
// one, and a write keeps the form it had.
TEST(BookSource3, RuleObjectsInEitherForm) {
  auto o = Parse(R"({"bookSourceUrl":"a","ruleSearch":{"bookList":"li","name":"a@text"},)"
                 R"("ruleToc":"{\"chapterList\":\"ul li\"}","ruleContent":"not an object","ruleBookInfo":null})");
  TBookSource3 s(o.get());
  EXPECT_EQ(s.RuleMember(u"ruleSearch", u"name"), u"a@text");
  EXPECT_EQ(s.RuleMember(u"RULETOC", u"chapterList"), u"ul li");  // names match without case
  EXPECT_EQ(s.RuleMember(u"ruleContent", u"content"), u"");
  EXPECT_EQ(s.RuleMember(u"ruleBookInfo", u"name"), u"");
  EXPECT_EQ(s.RuleMember(u"ruleExplore", u"name"), u"");
  EXPECT_FALSE(s.RuleStoredAsText(u"ruleSearch"));
  EXPECT_TRUE(s.RuleStoredAsText(u"ruleToc"));

  s.SetRuleMember(u"ruleSearch", u"author", u"b@text");
  s.SetRuleMember(u"ruleToc", u"chapterName", u"a@text");
  s.SetRuleMember(u"ruleExplore", u"bookList", u"div");
  s.SetRuleMember(u"ruleSearch", u"bookList", u"");
  EXPECT_EQ(o->ToString(0, false),
            u"{\"bookSourceUrl\": \"a\",\"ruleSearch\": {\"name\": \"a@text\",\"author\": \"b@text\"},"
            u"\"ruleToc\": \"{\\\"chapterList\\\": \\\"ul li\\\",\\\"chapterName\\\": \\\"a@text\\\"}\","
            u"\"ruleContent\": \"not an object\",\"ruleBookInfo\": null,\"ruleExplore\": {\"bookList\": \"div\"}}");
  // Removing from an absent rule makes none.
  s.SetRuleMember(u"ruleReview", u"reviewUrl", u"");
  EXPECT_FALSE(s.Has(u"ruleReview"));
}

TEST(BookSource3, HeaderListFromObjectOrText) {
  struct TCase {
    const char* Json;
    THeaderList Headers;
    bool Script;
  };
  const TCase cases[] = {
      {R"({"header":{"User-Agent":"UA","Referer":"https://r/","proxy":"socks5://x"}})",
       {{u"User-Agent", u"UA"}, {u"Referer", u"https://r/"}}, false},
      {R"({"header":"{\"User-Agent\":\"UA\",\"PROXY\":\"http://p\"}"})", {{u"User-Agent", u"UA"}}, false},
      {R"({"header":"{'User-Agent':'UA'}"})", {{u"User-Agent", u"UA"}}, false},
      {R"j({"header":" @js:java.getHeaders()"})j", {}, true},
      {R"({"header":"<JS>x</JS>"})", {}, true},
      {R"({"header":"not json"})", {}, false},
      {R"({"header":"{broken"})", {}, false},
      {R"({"header":""})", {}, false},
      {R"({"bookSourceUrl":"a"})", {}, false},
  };
  for (const TCase& c : cases) {
    bool script = !c.Script;
    auto o = Parse(c.Json);
    EXPECT_EQ(TBookSource3(o.get()).Headers(&script), c.Headers) << c.Json;
    EXPECT_EQ(script, c.Script) << c.Json;
  }
}

TEST(BookSource3, ExploreTextAndCheckKeyword) {
  auto text = Parse(R"({"exploreUrl":"a::/x&&b::/y","ruleSearch":{"checkKeyWord":" 斗罗 "}})");
  EXPECT_EQ(TBookSource3(text.get()).ExploreUrlText(), u"a::/x&&b::/y");
  EXPECT_EQ(TBookSource3(text.get()).CheckKeyWord(), u"斗罗");
  auto array = Parse(R"({"exploreUrl":[{"title":"t","url":"/x"}],"ruleSearch":"{\"checkKeyWord\":\"  \"}"})");
  EXPECT_EQ(TBookSource3(array.get()).ExploreUrlText(), u"[{\"title\": \"t\",\"url\": \"/x\"}]");
  EXPECT_EQ(TBookSource3(array.get()).CheckKeyWord(), u"我的");
}

// A format-3 file loads and exports as the writer writes it: nothing the
// record reads changes a byte.
TEST(BookSource3, RealFormat3FileRoundTripsUnchanged) {
  TempDir dir;
  JSONArray plain;
  plain.LoadFromFile(FromUtf8(kRealData + "choue_bookSource_3.0.json"));
  JsonNameAfterSpace = true;
  plain.SaveToFile(dir.Name("plain.json"), 4, teUTF8, false);
  TMainLogic logic;
  logic.AddSrcFile(FromUtf8(kRealData + "choue_bookSource_3.0.json"));
  JSONArray& data = logic.Sources().Data();
  for (int i = 0; i < data.Count(); ++i) {
    TBookSource3 s(data.GetJsonObject(i));
    for (const TRuleObject& rule : RuleObjects())
      for (const char16_t* member : rule.Members) (void)s.RuleMember(rule.Name, member);
    (void)s.Headers();
    (void)s.ExploreUrlText();
  }
  logic.ExportTo(dir.Name("export.json"));
  EXPECT_EQ(dir.Read("export.json"), dir.Read("plain.json"));
}

}  // namespace
