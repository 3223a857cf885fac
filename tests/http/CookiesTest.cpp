#include <gtest/gtest.h>

#include <thread>

#include "http/KivCookies.h"

namespace {

TCookie Make(const char16_t* Name, const char16_t* Value) {
  TCookie c;
  c.Name = Name;
  c.Value = Value;
  return c;
}

class Cookies : public ::testing::Test {
 protected:
  void SetUp() override { InitGMTTime(); }
  static TURI Url(const char16_t* text) { return TURI{String(text)}; }
  TCookie Only() {
    auto all = Jar.Cookies();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? TCookie{} : all[0].second;
  }
  TCookieManager Jar;
};

TEST_F(Cookies, PathAppOnHostH) {
  Jar.AddCookies(u"sid=abc; Path=/app; HttpOnly", Url(u"http://h/start"));
  TCookie c = Only();
  EXPECT_EQ(c.Name, u"sid");
  EXPECT_EQ(c.Value, u"abc");
  EXPECT_EQ(c.Domain, u"h");
  EXPECT_EQ(c.Path, u"/app");
  EXPECT_FALSE(c.HttpOnly);
  EXPECT_FALSE(c.Secure);
  EXPECT_EQ(c.Expires, 0.0);
  EXPECT_EQ(Jar.GetCookies(Url(u"http://h/app/x/")), u"sid=abc; ");
  EXPECT_EQ(Jar.GetCookies(Url(u"http://h/")), u"");
  EXPECT_EQ(Jar.GetCookies(Url(u"http://h/APP/")), u"");  // path case matters
  EXPECT_EQ(Jar.Cookies()[0].first, u"h----/app----sid");
}

TEST_F(Cookies, SameKeyReplacesOtherPathAddsBeside) {
  const TURI url = Url(u"http://h/");
  Jar.AddCookies(u"sid=abc", url);
  Jar.AddCookies(u"sid=def", url);
  EXPECT_EQ(Only().Value, u"def");
  Jar.AddCookies(u"SID=ghi; path=/", url);  // keys ignore letter case
  EXPECT_EQ(Only().Value, u"ghi");
  Jar.AddCookies(u"sid=other; Path=/b", url);
  EXPECT_EQ(Jar.Count(), 2);
  EXPECT_EQ(Jar.GetCookies(Url(u"http://h/b/c")), u"SID=ghi; sid=other; ");
  Jar.Clear();
  EXPECT_EQ(Jar.Count(), 0);
}

// Who may set a cookie for which domain, and where it goes: a cookie set
// without Domain goes to its own host only; a Domain cookie to that domain and
// the names below it; an address matches only itself; a Domain that does not
// cover the setting host, or is a public suffix, is refused.
TEST_F(Cookies, DomainRules) {
  struct Case {
    const char16_t* SetBy;
    const char16_t* Attribute;  // appended to "k=v"
    bool Stored;
    std::vector<const char16_t*> SentTo, NotSentTo;
  };
  const Case cases[] = {
      {u"site-a.com", u"", true, {u"site-a.com", u"SITE-A.COM", u"site-a.com."},
       {u"other.com", u"www.site-a.com", u"machine", u"site", u"site-a.co", u"aa.site-a.com.evil.net"}},
      {u"a.com", u"", true, {u"a.com"}, {u"aa.com", u"b.com", u"com", u"a"}},
      {u"www.site-a.com", u"; Domain=site-a.com", true,
       {u"site-a.com", u"www.site-a.com", u"x.y.site-a.com"}, {u"other.com", u"xsite-a.com", u"com", u"machine"}},
      {u"www.site-a.com", u"; Domain=.SITE-A.com", true, {u"site-a.com", u"img.site-a.com"}, {u"site-b.com"}},
      {u"site-a.com", u"; Domain=www.site-a.com", false, {}, {u"www.site-a.com", u"site-a.com"}},
      {u"site-a.com", u"; Domain=other.com", false, {}, {u"other.com", u"site-a.com"}},
      {u"site-a.com", u"; Domain=com", false, {}, {u"other.com", u"site-a.com"}},
      {u"shop.com.cn", u"; Domain=com.cn", false, {}, {u"other.com.cn", u"shop.com.cn"}},
      {u"bbc.co.uk", u"; Domain=.co.uk", false, {}, {u"other.co.uk"}},
      {u"shop.com.cn", u"; Domain=shop.com.cn", true, {u"shop.com.cn", u"m.shop.com.cn"}, {u"other.com.cn"}},
      // A single label names the setting host alone.
      {u"localhost", u"; Domain=localhost", true, {u"localhost"}, {u"a.localhost", u"other"}},
      {u"machine", u"", true, {u"machine"}, {u"other", u"machine.example"}},
      // Addresses match themselves only.
      {u"127.0.0.1", u"", true, {u"127.0.0.1"}, {u"127.0.0.2", u"localhost", u"x.127.0.0.1"}},
      {u"127.0.0.1", u"; Domain=127.0.0.1", true, {u"127.0.0.1"}, {u"x.127.0.0.1"}},
      {u"10.1.2.3", u"; Domain=2.3", false, {}, {u"10.1.2.3"}},
      {u"x.1.2.3.4", u"; Domain=1.2.3.4", false, {}, {u"1.2.3.4", u"x.1.2.3.4"}},
      {u"[::1]", u"", true, {u"[::1]"}, {u"[::2]", u"localhost"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(String(c.SetBy) + u" " + c.Attribute));
    TCookieManager jar;
    EXPECT_EQ(jar.AddCookies(u"k=v" + String(c.Attribute), TURI{u"http://" + String(c.SetBy) + u"/"}), c.Stored);
    EXPECT_EQ(jar.Count(), c.Stored ? 1 : 0);
    for (const char16_t* host : c.SentTo) {
      EXPECT_EQ(jar.GetCookies(TURI{u"http://" + String(host) + u"/"}), u"k=v; ") << ToUtf8(host);
      TCookies list;
      list.Add(Make(u"before", u"1"));
      EXPECT_EQ(jar.GetCookies(TURI{u"http://" + String(host) + u"/"}, list), 2) << ToUtf8(host);
    }
    for (const char16_t* host : c.NotSentTo)
      EXPECT_EQ(jar.GetCookies(TURI{u"http://" + String(host) + u"/"}), u"") << ToUtf8(host);
  }
}

TEST_F(Cookies, PublicSuffixes) {
  for (const char16_t* d : {u"com", u"cn", u"localhost", u"com.cn", u"co.uk", u"ne.jp", u"idv.tw"})
    EXPECT_TRUE(TCookieManager::IsPublicSuffix(d)) << ToUtf8(d);
  for (const char16_t* d : {u"example.com", u"qidian.com", u"com.example", u"a.com.cn", u"co.com", u"co.uk.example"})
    EXPECT_FALSE(TCookieManager::IsPublicSuffix(d)) << ToUtf8(d);
}

// The jar keeps at most kMaxPerDomain cookies of a domain and kMaxCookies in
// all, dropping the oldest; a replaced cookie keeps its place.
TEST_F(Cookies, JarIsBounded) {
  const TURI a = Url(u"http://a.example/");
  for (int i = 0; i < TCookieManager::kMaxPerDomain + 10; ++i)
    Jar.AddCookies(u"c" + IntToStr(i) + u"=" + IntToStr(i), a);
  EXPECT_EQ(Jar.Count(), TCookieManager::kMaxPerDomain);
  String sent = Jar.GetCookies(a);
  EXPECT_EQ(sent.find(u"c9="), String::npos);
  EXPECT_EQ(sent.rfind(u"c10=10; ", 0), 0u) << ToUtf8(sent);
  Jar.AddCookies(u"c10=new", a);  // replaced in place: nothing dropped
  EXPECT_EQ(Jar.Count(), TCookieManager::kMaxPerDomain);
  EXPECT_EQ(Jar.GetCookies(a).rfind(u"c10=new; ", 0), 0u);

  TCookieManager all;
  const int domains = TCookieManager::kMaxCookies / TCookieManager::kMaxPerDomain + 3;
  for (int d = 0; d < domains; ++d)
    for (int i = 0; i < TCookieManager::kMaxPerDomain; ++i)
      all.AddCookies(u"c" + IntToStr(i) + u"=1", TURI{u"http://d" + IntToStr(d) + u".example/"});
  EXPECT_EQ(all.Count(), TCookieManager::kMaxCookies);
  EXPECT_EQ(all.GetCookies(Url(u"http://d0.example/")), u"");
  EXPECT_EQ(all.GetCookies(Url(u"http://d2.example/")), u"");
  EXPECT_NE(all.GetCookies(Url(u"http://d3.example/")), u"");
  EXPECT_NE(all.GetCookies(TURI{u"http://d" + IntToStr(domains - 1) + u".example/"}), u"");
}

TEST_F(Cookies, ExpiryForms) {
  const TURI url = Url(u"http://h/");
  Jar.AddCookies(u"a=1; Expires=Sun, 06 Nov 1994 08:49:37 GMT", url);
  Jar.AddCookies(u"b=2; expires=Sunday, 06-Nov-94 08:49:37 GMT", url);
  Jar.AddCookies(u"c=3; Expires=Sun, 06 Nov 1994", url);
  Jar.AddCookies(u"d=4; EXPIRES=garbage that is long enough to read", url);
  auto all = Jar.Cookies();
  ASSERT_EQ(all.size(), 4u);
  const double bias = TimeZoneBias() / 1440.0;
  EXPECT_DOUBLE_EQ(all[0].second.Expires, EncodeDateTime(1994, 11, 6, 8, 49, 37) - bias);
  EXPECT_DOUBLE_EQ(all[1].second.Expires,
                   EncodeDateTime(GMTCentury() + 94, 11, 6, 8, 49, 37) - bias);
  EXPECT_EQ(all[2].second.Expires, 0.0);
  EXPECT_EQ(all[3].second.Expires, 0.0);
  // Expired cookies are still sent.
  EXPECT_EQ(Jar.GetCookies(url), u"a=1; b=2; c=3; d=4; ");
}

TEST_F(Cookies, DateThatCannotExistRaisesAndStoresNothing) {
  const TURI url = Url(u"http://h/");
  Jar.AddCookies(u"keep=1", url);
  for (const char16_t* v : {u"sid=1; Expires=Sun, 31 Feb 2021 08:49:37 GMT",
                            u"sid=1; Expires=Sun, 06 Nov 1994 25:49:37 GMT"}) {
    try {
      Jar.AddCookies(v, url);
      ADD_FAILURE() << "no exception for " << ToUtf8(v);
    } catch (const EHTTPException& e) {
      EXPECT_NE(e.Message().find(u"Invalid cookie expiry date"), String::npos);
      EXPECT_NE(e.Message().find(u"GMT"), String::npos) << "names the text it could not read";
    }
  }
  EXPECT_EQ(Jar.GetCookies(url), u"keep=1; ");
}

TEST_F(Cookies, ItemForms) {
  struct Case {
    const char16_t* SetCookie;
    const char16_t* Name;
    const char16_t* Value;
    const char16_t* Path;
    const char16_t* Domain;
  };
  const Case cases[] = {
      {u"flag", u"", u"flag", u"/", u"h"},
      {u"a=1; path=\\a\\b", u"a", u"1", u"/a/b", u"h"},
      {u"a=b=c; Domain=.p.q; Max-Age=5; Secure", u"a", u"b=c", u"/", u".p.q"},
      {u"  a=1 ;  PATH=/x  ; ", u"a", u"1", u"/x", u"h"},
      {u"\"a=x;y\"; path=/q", u"a", u"x;y", u"/q", u"h"},
      {u"\"unclosed; path=/q", u"unclosed; path", u"/q", u"/", u"h"},
      {u"a=1; domain=", u"a", u"1", u"/", u"h"},
      {u"", u"", u"", u"/", u"h"},
  };
  for (const Case& c : cases) {
    TCookie k = TCookieManager::ParseSetCookie(c.SetCookie, Url(u"http://h/"));
    SCOPED_TRACE(ToUtf8(c.SetCookie));
    EXPECT_EQ(k.Name, c.Name);
    EXPECT_EQ(k.Value, c.Value);
    EXPECT_EQ(k.Path, c.Path);
    EXPECT_EQ(k.Domain, c.Domain);
  }
}

TEST_F(Cookies, CookieListText) {
  TCookies list;
  list.Add(Make(u"a", u"1"));
  list.Add(Make(u"b", u"2"));
  EXPECT_EQ(list.Text(), u"a=1\r\nb=2\r\n");
  list.SetItem(0, Make(u"c", u"3"));
  EXPECT_EQ(list.GetItem(0).ToString(), u"c=3");
  list.Delete(1);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_THROW(list.GetItem(1), EHTTPException);
}

// Every prefix of odd Set-Cookie texts from exactly sized buffers (sanitizers).
TEST_F(Cookies, TruncatedTextsParse) {
  const String texts[] = {u"\"a=\"\"b;\";;path=\\\\;domain=;expires=Sun, 06 Nov 1994 08:49:37 GMT",
                          u";;;;\"\"\"", u"= ; = ; Path="};
  for (const String& full : texts) {
    for (size_t n = 0; n <= full.size(); ++n) {
      std::vector<char16_t> exact(full.begin(), full.begin() + n);
      TCookie c = TCookieManager::ParseSetCookie(StringView(exact.data(), n), Url(u"http://h/"));
      EXPECT_FALSE(c.Domain.empty());
      EXPECT_EQ(c.Path.find(u'\\'), String::npos);
    }
  }
}

// One jar, many threads storing and reading (ThreadSanitizer).
TEST_F(Cookies, SharedJarUnderThreads) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      const TURI url{u"http://h" + IntToStr(t) + u".p.q/"};
      for (int i = 0; i < 200; ++i) {
        Jar.AddCookies(u"k" + IntToStr(i % 10) + u"=" + IntToStr(i), url);
        (void)Jar.GetCookies(url);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(Jar.Count(), 40);
}

}  // namespace
