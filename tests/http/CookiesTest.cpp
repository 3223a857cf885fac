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

TEST_F(Cookies, DomainRules) {
  struct Case {
    const char16_t* Host;
    const char16_t* Domain;
    bool Sent;
  };
  const Case cases[] = {
      {u"h1.p.q", u"h1.p.q", true}, {u"h1.p.q", u"h2.p.q", true}, {u"h1.p.q", u".p.q", true},
      {u"h1.p.q", u"p.q", false},   {u"H1.P.Q", u"h1.p.q", true}, {u"h1.p.q", u"x.r.q", false},
      // A bare machine name has no parent, so every cookie passes.
      {u"machine", u"other.com", true}, {u"machine", u"x", true},
  };
  for (const Case& c : cases) {
    TCookieManager jar;
    jar.AddCookies(u"k=v; Domain=" + String(c.Domain), Url(u"http://set.example/"));
    String sent = jar.GetCookies(TURI{u"http://" + String(c.Host) + u"/"});
    EXPECT_EQ(sent, c.Sent ? u"k=v; " : u"") << ToUtf8(c.Host) << " " << ToUtf8(c.Domain);
    TCookies list;
    list.Add(Make(u"before", u"1"));
    EXPECT_EQ(jar.GetCookies(TURI{u"http://" + String(c.Host) + u"/"}, list), c.Sent ? 2 : 1);
  }
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
