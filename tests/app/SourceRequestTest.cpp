// Requests built from format-3 search addresses and explore entries: the
// reader app's worked examples byte for byte, charsets, relative addresses,
// page lists, options, and what needs a script engine or a browser.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/uSourceRequest.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

using THeaders8 = std::vector<std::pair<std::string, std::string>>;

THeaderList Headers16(const THeaders8& AHeaders) {
  THeaderList list;
  for (const auto& [name, value] : AHeaders) list.emplace_back(FromUtf8(name), FromUtf8(value));
  return list;
}

THeaders8 Headers8(const THeaderList& AHeaders) {
  THeaders8 list;
  for (const auto& [name, value] : AHeaders) list.emplace_back(ToUtf8(name), ToUtf8(value));
  return list;
}

const std::string kUA = ToUtf8(kDefaultUserAgent);
const std::string kForm = "application/x-www-form-urlencoded";
const std::string kJson = "application/json; charset=UTF-8";

TSourceRequest Search(const std::string& ABase, const std::string& AUrl, const THeaders8& AHeaders = {},
                      const std::string& AKey = "我的", int APage = 1) {
  return BuildSearchRequest(FromUtf8(ABase), FromUtf8(AUrl), Headers16(AHeaders), false, FromUtf8(AKey), APage);
}

struct TRequestCase {
  const char* Base;
  const char* SearchUrl;
  THeaders8 SourceHeaders;
  const char* Method;
  const char* Url;
  std::string Body;
  std::string ContentType;
  THeaders8 Headers;  // empty: the default User-Agent alone
};

void ExpectRequest(const TRequestCase& c, const TSourceRequest& r) {
  SCOPED_TRACE(std::string(c.Base) + " + " + c.SearchUrl);
  ASSERT_TRUE(r.Probeable) << ToUtf8(r.WhyNot);
  EXPECT_EQ(ToUtf8(r.WhyNot), "");
  EXPECT_EQ(ToUtf8(r.Method), c.Method);
  EXPECT_EQ(ToUtf8(r.Url), c.Url);
  EXPECT_EQ(r.Body, c.Body);
  EXPECT_EQ(ToUtf8(r.ContentType), c.ContentType);
  const THeaders8 expected = c.Headers.empty() ? THeaders8{{"User-Agent", kUA}} : c.Headers;
  EXPECT_EQ(Headers8(r.Headers), expected);
}

}  // namespace

TEST(SourceRequest, WorkedSearchExamples) {
  const TRequestCase cases[] = {
      {"https://www.a.com", "/search?q={{key}}&page={{page}}", {}, "GET",
       "https://www.a.com/search?q=%E6%88%91%E7%9A%84&page=1", "", "", {}},
      {"http://www.b.com/", "/modules/article/search.php?searchkey={{key}}&page={{page}},{\"charset\":\"gbk\"}", {},
       "GET", "http://www.b.com/modules/article/search.php?searchkey=%CE%D2%B5%C4&page=1", "", "", {}},
      {"http://www.b.com/",
       "/modules/article/search.php,{\"method\":\"POST\",\"body\":\"searchkey={{key}}&searchtype=articlename\","
       "\"charset\":\"gbk\"}",
       {}, "POST", "http://www.b.com/modules/article/search.php", "searchkey=%CE%D2%B5%C4&searchtype=articlename",
       kForm, {}},
      {"https://any.example.net/x", "https://www.c.com/search/,{'method':'post','body':'keyword={{key}}&page={{page}}'}",
       {}, "POST", "https://www.c.com/search/", "keyword=%E6%88%91%E7%9A%84&page=1", kForm, {}},
      {"https://any.example.net/x",
       "https://api.d.com/v1/search,{\"method\":\"POST\",\"body\":{\"keyword\":\"{{key}}\",\"page\":{{page}}}}", {},
       "POST", "https://api.d.com/v1/search", "{\"keyword\":\"我的\",\"page\":1}", kJson, {}},
      {"https://m.e.com/", "so/{{key}}_{{page}}.html,{\"charset\":\"gbk\"}", {}, "GET",
       "https://m.e.com/so/%E6%88%91%E7%9A%84_1.html", "", "", {}},
      {"https://any.example.net/x", "https://www.f.com/s?wd={{key}}&start={{(page-1)*20}}<,&pn=2,&pn=3>", {}, "GET",
       "https://www.f.com/s?wd=%E6%88%91%E7%9A%84&start=0", "", "", {}},
      {"https://any.example.net/x",
       "https://www.g.com/search.asp?key={{key}},{\"charset\":\"escape\",\"headers\":{\"X-Requested-With\":"
       "\"XMLHttpRequest\"}}",
       {{"User-Agent", "Mozilla/5.0 (iPhone)"}, {"Referer", "https://www.g.com/"}}, "GET",
       "https://www.g.com/search.asp?key=%u6211%u7684", "", "",
       {{"User-Agent", "Mozilla/5.0 (iPhone)"},
        {"Referer", "https://www.g.com/"},
        {"X-Requested-With", "XMLHttpRequest"}}},
      {"https://www.h.com#备用", "/s.php?k=searchKey&p=searchPage", {}, "GET",
       "https://www.h.com/s.php?k=searchKey&p=searchPage", "", "", {}},
      {"https://www.j.com/book/index.html", "?q={{key}}", {}, "GET", "https://www.j.com/book/?q=%E6%88%91%E7%9A%84",
       "", "", {}},
  };
  for (const TRequestCase& c : cases) ExpectRequest(c, Search(c.Base, c.SearchUrl, c.SourceHeaders));
}

TEST(SourceRequest, WorkedExploreExamples) {
  struct TEntry {
    const char* Title;
    bool Heading;
    const char* Method;
    const char* Url;
    std::string Body;
  };
  struct TCase {
    const char* ExploreUrl;
    std::vector<TEntry> Entries;
  } cases[] = {
      {"玄幻::/sort/1_{{page}}.html&&都市::/sort/2_{{page}}.html",
       {{"玄幻", false, "GET", "https://www.k.com/sort/1_1.html", ""},
        {"都市", false, "GET", "https://www.k.com/sort/2_1.html", ""}}},
      {"男频\n玄幻::/fl/1/{{page}}/", {{"男频", true, "", "", ""}, {"玄幻", false, "GET", "https://www.k.com/fl/1/1/", ""}}},
      {"[{\"title\":\"最新\",\"url\":\"/api/list,{\\\"method\\\":\\\"POST\\\",\\\"body\\\":\\\"type=new&page={{page}}\\\"}\"}]",
       {{"最新", false, "POST", "https://www.k.com/api/list", "type=new&page=1"}}},
      // runs of separators, '\r' before a line feed, further '::' parts, empty pieces
      {"&&甲::/a?p={{page}}\r\n&&\n\n乙::/b::ignored&&",
       {{"甲", false, "GET", "https://www.k.com/a?p=1", ""}, {"乙", false, "GET", "https://www.k.com/b", ""}}},
      // a blank address is a heading as well; a JSON array's entry without url is one
      {"丙::  &&丁::/d", {{"丙", true, "", "", ""}, {"丁", false, "GET", "https://www.k.com/d", ""}}},
      {" [{'title':'栏目'},{'title':'热门','url':'/hot/{{page}}'},5]",
       {{"栏目", true, "", "", ""}, {"热门", false, "GET", "https://www.k.com/hot/1", ""}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.ExploreUrl);
    const auto entries = BuildExploreRequests(u"https://www.k.com", FromUtf8(c.ExploreUrl), {}, false);
    ASSERT_EQ(entries.size(), c.Entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      const TExploreEntry& e = entries[i];
      const TEntry& x = c.Entries[i];
      EXPECT_EQ(ToUtf8(e.Title), x.Title);
      EXPECT_EQ(e.Heading, x.Heading);
      EXPECT_EQ(e.Request.Probeable, !x.Heading);
      EXPECT_EQ(ToUtf8(e.Request.Method), x.Method);
      EXPECT_EQ(ToUtf8(e.Request.Url), x.Url);
      EXPECT_EQ(e.Request.Body, x.Body);
    }
  }
}

TEST(SourceRequest, ExploreThatCannotBeBuilt) {
  struct TCase {
    const char* ExploreUrl;
    const char* WhyNot;
  } cases[] = {
      {"@js:return '玄幻::/x'", "script"},
      {"<JS>var a='x::/y';</js>", "script"},
      {"[{'title':'a','url':'/x'}, oops]", "address"},
  };
  for (const TCase& c : cases) {
    const auto entries = BuildExploreRequests(u"https://www.k.com", FromUtf8(c.ExploreUrl), {}, false);
    ASSERT_EQ(entries.size(), 1u) << c.ExploreUrl;
    EXPECT_FALSE(entries[0].Request.Probeable);
    EXPECT_FALSE(entries[0].Heading);
    EXPECT_EQ(ToUtf8(entries[0].Request.WhyNot), c.WhyNot) << c.ExploreUrl;
  }
  // A header that is a script: every entry, none built.
  const auto entries = BuildExploreRequests(u"https://www.k.com", u"a::/1&&b::/2", {}, true);
  ASSERT_EQ(entries.size(), 2u);
  for (const auto& e : entries) EXPECT_EQ(ToUtf8(e.Request.WhyNot), "script");
  EXPECT_TRUE(BuildExploreRequests(u"https://www.k.com", u" \n&& ", {}, false).empty());
}

TEST(SourceRequest, KeywordBytesInEachCharset) {
  struct TCase {
    const char* Charset;
    const char* Text;
    const char* Encoded;
  } cases[] = {
      {"", "我的", "%E6%88%91%E7%9A%84"},
      {"utf-8", "我的", "%E6%88%91%E7%9A%84"},
      {"UTF8", "我的", "%E6%88%91%E7%9A%84"},
      {"gbk", "我的", "%CE%D2%B5%C4"},
      {"GB2312", "我的", "%CE%D2%B5%C4"},
      {"big5", "我的", "%A7%DA%AA%BA"},
      {"Big5", "三國", "%A4%54%B0%EA"},  // every byte encoded, even one that reads as a letter
      {"escape", "我的", "%u6211%u7684"},
      {"gbk", "斗破 苍穹", "%B6%B7%C6%C6%20%B2%D4%F1%B7"},
      {"escape", "a b,é我", "a%20b%2c%e9%u6211"},
      {"gb18030", "我", "%CE%D2"},
      // names no converter knows, or that are no names: UTF-8
      {"no-such-charset", "我", "%E6%88%91"},
      {"../../etc/passwd", "我", "%E6%88%91"},
      // unmappable in the charset: '?'
      {"gbk", "😀", "%3F"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ToUtf8(EncodeInCharset(FromUtf8(c.Text), FromUtf8(c.Charset))), c.Encoded)
        << c.Charset << " " << c.Text;
}

TEST(SourceRequest, QueryAndPathEncoding) {
  const TRequestCase cases[] = {
      // an encoded query stays as it is; '%' never encoded twice
      {"https://a.com", "/s?q=%E4%B8%AD&x=1", {}, "GET", "https://a.com/s?q=%E4%B8%AD&x=1", "", "", {}},
      {"https://a.com", "/s?q=%zz {{key}}", {}, "GET", "https://a.com/s?q=%zz%20%E6%88%91%E7%9A%84", "", "", {}},
      {"https://a.com", "/s?q={{key}}&pct=100%", {}, "GET", "https://a.com/s?q=%E6%88%91%E7%9A%84&pct=100%", "", "",
       {}},
      // the query in the charset, the path always in UTF-8
      {"https://a.com", "/书/{{key}}?k={{key}},{'charset':'gbk'}", {}, "GET",
       "https://a.com/%E4%B9%A6/%E6%88%91%E7%9A%84?k=%CE%D2%B5%C4", "", "", {}},
      // characters a query may not carry as they are
      {"https://a.com", "/s?q=a|b\"c", {}, "GET", "https://a.com/s?q=a%7Cb%22c", "", "", {}},
      // a fragment before any query is not sent; one inside the query is a character
      {"https://a.com", "/s.html#top", {}, "GET", "https://a.com/s.html", "", "", {}},
      {"https://a.com", "/s?q=C#", {}, "GET", "https://a.com/s?q=C%23", "", "", {}},
  };
  for (const TRequestCase& c : cases) ExpectRequest(c, Search(c.Base, c.SearchUrl));
  // A keyword with characters of the query's own syntax: '+' is one the query may carry.
  ExpectRequest({"https://a.com", "/s?q={{key}}", {}, "GET", "https://a.com/s?q=C%23%20+", "", "", {}},
                Search("https://a.com", "/s?q={{key}}", {}, "C# +"));
}

TEST(SourceRequest, RelativeAddresses) {
  struct TCase {
    const char* Base;
    const char* Ref;
    const char* Result;
  } cases[] = {
      {"https://www.j.com/book/index.html", "?q=1", "https://www.j.com/book/?q=1"},
      {"https://www.j.com", "?q=1", "https://www.j.com/?q=1"},
      {"https://www.j.com/a/b", "c/d", "https://www.j.com/a/c/d"},
      {"https://www.j.com/a/b/", "../c", "https://www.j.com/a/c"},
      {"https://www.j.com/a/b", "./c?x=1", "https://www.j.com/a/c?x=1"},
      {"https://www.j.com/a", "/x/./y/../z", "https://www.j.com/x/z"},
      {"https://www.j.com/a", "../../x", "https://www.j.com/../../x"},  // kept above the root
      {"https://www.j.com/a?old=1", "", "https://www.j.com/a?old=1"},
      {"https://www.j.com/a?old=1", "#frag", "https://www.j.com/a?old=1"},
      {"https://www.j.com/a", "//cdn.j.com/x", "https://cdn.j.com/x"},
      {"http://www.j.com/a", "//cdn.j.com/x", "http://cdn.j.com/x"},
      {"https://www.h.com#备用", "/s", "https://www.h.com/s"},
      {"https://www.h.com/x/,{'headers':{}}", "y", "https://www.h.com/x/y"},
      {"https://www.h.com:8080/x", "/y", "https://www.h.com:8080/y"},
      {" https://www.h.com/x ", " y ", "https://www.h.com/y"},
      {"https://www.j.com/a", "HTTPS://Other.com/Z", "HTTPS://Other.com/Z"},
      {"https://www.j.com/a", "ftp://x.com/y", "ftp://x.com/y"},
      {"", "/x", ""},
      {"www.j.com", "/x", ""},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ToUtf8(ResolveSourceUrl(FromUtf8(c.Base), FromUtf8(c.Ref))), c.Result) << c.Base << " + " << c.Ref;
}

TEST(SourceRequest, PageListsAndPageArithmetic) {
  struct TCase {
    const char* SearchUrl;
    int Page;
    const char* Url;
  } cases[] = {
      {"https://f.com/s?wd=a<,&pn=2,&pn=3>", 1, "https://f.com/s?wd=a"},
      {"https://f.com/s?wd=a<,&pn=2,&pn=3>", 2, "https://f.com/s?wd=a&pn=2"},
      {"https://f.com/s?wd=a<,&pn=2,&pn=3>", 3, "https://f.com/s?wd=a&pn=3"},
      {"https://f.com/s?wd=a<,&pn=2,&pn=3>", 9, "https://f.com/s?wd=a&pn=3"},
      {"https://f.com/list<index, index_2 ,index_3>.html", 2, "https://f.com/listindex_2.html"},
      {"https://f.com/p<{{page}}>.html<a,b>", 2, "https://f.com/p2.htmlb"},
      {"https://f.com/s?p={{page-1}}&n={{page+1}}&m={{page*20}}&o={{(page-1)*20}}", 3,
       "https://f.com/s?p=2&n=4&m=60&o=40"},
      {"https://f.com/s?p={{ page / 2 }}&q={{-page+10}}&r={{((page))}}", 3, "https://f.com/s?p=1.5&q=7&r=3"},
      {"https://f.com/s?p={{page}}&k={{ key }}", 7, "https://f.com/s?p=7&k=x"},
      // no closing '>' on the line, an unclosed template: text as it stands
      {"https://f.com/s?a=1<2\n>", 1, "https://f.com/s?a=1%3C2%0A%3E"},
      {"https://f.com/s?a={{page", 1, "https://f.com/s?a=%7B%7Bpage"},
  };
  for (const TCase& c : cases) {
    const TSourceRequest r = Search("https://f.com", c.SearchUrl, {}, "x", c.Page);
    ASSERT_TRUE(r.Probeable) << c.SearchUrl << " " << ToUtf8(r.WhyNot);
    EXPECT_EQ(ToUtf8(r.Url), c.Url) << c.SearchUrl << " page " << c.Page;
  }
}

TEST(SourceRequest, Options) {
  const TRequestCase cases[] = {
      // lenient JSON: single quotes, blanks around the comma, method in any case
      {"https://a.com", "/s , {'method':'Post','body':'k={{key}}'}", {}, "POST", "https://a.com/s",
       "k=%E6%88%91%E7%9A%84", kForm, {}},
      // options that cannot be parsed are ignored, the address still ends there
      {"https://a.com", "/s?q={{key}},{method:'POST'", {}, "GET", "https://a.com/s?q=%E6%88%91%E7%9A%84", "", "", {}},
      {"https://a.com", "/s?q=1,{'method':'POST','headers':{'a':'b'}", {}, "GET", "https://a.com/s?q=1", "", "", {}},
      // headers as text holding an object; 'proxy' is no header; over the source's, same name in place
      {"https://a.com", "/s,{'headers':'{\"referer\":\"https://r/\",\"proxy\":\"socks5://h:1\"}'}",
       {{"Referer", "https://old/"}, {"proxy", "http://p:8"}, {"User-Agent", "UA1"}}, "GET", "https://a.com/s", "", "",
       {{"Referer", "https://r/"}, {"User-Agent", "UA1"}}},
      // a User-Agent of 'null' means none is sent
      {"https://a.com", "/s,{'headers':{'User-Agent':'null','X-A':1}}", {{"User-Agent", "UA1"}}, "GET",
       "https://a.com/s", "", "", {{"X-A", "1"}}},
      // a form: pieces without '=', empty pieces, blanks, reserved characters
      {"https://a.com", "/s,{'method':'POST','body':'a=1 2&&flag&b=x=y/z&c=%CE%D2'}", {}, "POST", "https://a.com/s",
       "a=1+2&flag=&b=x%3Dy%2Fz&c=%CE%D2", kForm, {}},
      // a form in escape
      {"https://a.com", "/s,{'method':'POST','charset':'escape','body':'k={{key}} x'}", {}, "POST", "https://a.com/s",
       "k=%u6211%u7684+x", kForm, {}},
      // a JSON array body, written from an array option
      {"https://a.com", "/s,{'method':'POST','body':[1,'{{key}}']}", {}, "POST", "https://a.com/s",
       "[1,\"我的\"]", kJson, {}},
      // page lists come before the options: '<…>' in a body is one too
      {"https://a.com", "/s,{'method':'POST','body':'<q>{{key}}</q>'}", {}, "POST", "https://a.com/s",
       "q%E6%88%91%E7%9A%84%2Fq=", kForm, {}},
      // the headers' own Content-Type: the body goes as it is
      {"https://a.com", "/s,{'method':'POST','body':'k={{key}}','headers':{'Content-Type':'text/plain'}}", {}, "POST",
       "https://a.com/s", "k=我的", "", {{"Content-Type", "text/plain"}, {"User-Agent", kUA}}},
      // GET ignores a body; options with no effect on the request
      {"https://a.com", "/s,{'body':'x=1','type':'json','serverID':'1','webViewDelayTime':9,'origin':'o',"
       "'webView':false,'webJs':'','js':''}",
       {}, "GET", "https://a.com/s", "", "", {}},
  };
  for (const TRequestCase& c : cases) ExpectRequest(c, Search(c.Base, c.SearchUrl, c.SourceHeaders));

  EXPECT_EQ(Search("https://a.com", "/s,{'retry':3}").Retry, 3);
  EXPECT_EQ(Search("https://a.com", "/s,{\"retry\":\"2\"}").Retry, 2);
  EXPECT_EQ(Search("https://a.com", "/s,{'retry':-4}").Retry, 0);
  EXPECT_EQ(Search("https://a.com", "/s").Retry, 0);
}

TEST(SourceRequest, WhatNeedsAScriptEngineOrABrowser) {
  struct TCase {
    const char* SearchUrl;
    const char* WhyNot;
  } cases[] = {
      {"@js:java.ajax('x')", "script"},
      {"/s?q={{key}}@JS:result", "script"},
      {"<js>'/s?q='+key</js>", "script"},
      {"/s?q=<JS>key</JS>", "script"},
      {"/s?q={{java.encodeURI(key)}}", "script"},
      {"/s?q={{source.getVariable()}}", "script"},
      {"/s?t={{Date.now()}}", "script"},
      {"/s?t={{page.toString()}}", "script"},
      {"/s?t={{pages}}", "script"},
      {"/s?t={{page/0}}", "script"},
      {"/s?q={{key}},{'js':'result+1'}", "script"},
      {"/s?q={{key}},{'webView':true}", "browser"},
      {"/s?q={{key}},{'webView':'1'}", "browser"},
      {"/s?q={{key}},{'webJs':'document.title'}", "browser"},
      {"", "address"},
      {"  ", "address"},
      {"ftp://a.com/s", "address"},
      {"javascript:void(0)", "address"},
      {"http:///s", "address"},
  };
  for (const TCase& c : cases) {
    const TSourceRequest r = Search("https://a.com", c.SearchUrl);
    EXPECT_FALSE(r.Probeable) << c.SearchUrl;
    EXPECT_EQ(ToUtf8(r.WhyNot), c.WhyNot) << c.SearchUrl;
    EXPECT_TRUE(r.Url.empty());
  }
  // Nesting deeper than the evaluator goes.
  const std::string deep = "/s?t={{" + std::string(200, '(') + "page" + std::string(200, ')') + "}}";
  EXPECT_EQ(ToUtf8(Search("https://a.com", deep).WhyNot), "script");
  const std::string nested = "/s?t={{" + std::string(20, '(') + "page" + std::string(20, ')') + "}}";
  EXPECT_EQ(ToUtf8(Search("https://a.com", nested).Url), "https://a.com/s?t=1");
  // A relative address without a usable source address.
  EXPECT_EQ(ToUtf8(Search("", "/s").WhyNot), "address");
  // A header that is a script.
  EXPECT_EQ(ToUtf8(BuildSearchRequest(u"https://a.com", u"/s", {}, true, u"x").WhyNot), "script");
}

TEST(SourceRequest, Format2SearchAddress) {
  const TSourceRequest r = BuildSearchRequest2(
      u"http://www.b.com/", u"/modules/article/search.php?searchkey=searchKey&page=searchPage|char=gbk", u"UA2",
      u"我的");
  ExpectRequest({"http://www.b.com/", "(format 2)", {}, "GET",
                 "http://www.b.com/modules/article/search.php?searchkey=%CE%D2%B5%C4&page=1", "", "",
                 {{"User-Agent", "UA2"}}},
                r);
  const TSourceRequest post =
      BuildSearchRequest2(u"https://m.example.org", u"/search.php@keyword=searchKey&t={1,2}", u"", u"我的", 2);
  ExpectRequest({"https://m.example.org", "(format 2 POST)", {}, "POST", "https://m.example.org/search.php",
                 "keyword=%E6%88%91%E7%9A%84&t=2", kForm, {}},
                post);
}

TEST(SourceRequest, SourcesAsTheyAre) {
  std::unique_ptr<JSONBase> doc(JSONBase::Parser(
      FromUtf8(R"([
        {"bookSourceUrl":"https://a.com","searchUrl":"/s?q={{key}}","header":"{\"User-Agent\":\"UA3\"}",
         "exploreUrl":[{"title":"x","url":"/x/{{page}}"}]},
        {"bookSourceUrl":"https://b.com","ruleSearchUrl":"/s?q=searchKey|char=gbk","httpUserAgent":"UA4",
         "ruleFindUrl":"甲::/f{searchPage}"},
        {"bookSourceUrl":"https://c.com","bookSourceName":"c"}
      ])"),
      true));
  auto source = [&](int i) { return doc->Items(i)->AsJsonObject(); };
  TSourceRequest r = SearchRequestOf(source(0), u"我的");
  EXPECT_EQ(ToUtf8(r.Url), "https://a.com/s?q=%E6%88%91%E7%9A%84");
  EXPECT_EQ(Headers8(r.Headers), (THeaders8{{"User-Agent", "UA3"}}));
  auto entries = ExploreRequestsOf(source(0));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(ToUtf8(entries[0].Request.Url), "https://a.com/x/1");

  r = SearchRequestOf(source(1), u"我的");
  EXPECT_EQ(ToUtf8(r.Url), "https://b.com/s?q=%CE%D2%B5%C4");
  EXPECT_EQ(Headers8(r.Headers), (THeaders8{{"User-Agent", "UA4"}}));
  entries = ExploreRequestsOf(source(1));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(ToUtf8(entries[0].Title), "甲");
  EXPECT_EQ(ToUtf8(entries[0].Request.Url), "https://b.com/f1");

  EXPECT_EQ(ToUtf8(SearchRequestOf(source(2), u"我的").WhyNot), "address");
  EXPECT_TRUE(ExploreRequestsOf(source(2)).empty());
}
