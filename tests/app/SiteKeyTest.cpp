// The site key of an address: every spelling of one site, one key.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>

#include "app/uSiteKey.h"
#include "support/KivStr.h"

TEST(SiteKey, SpellingsOfOneSiteShareAKey) {
  struct TCase {
    const char* Url;
    const char* Key;
  } cases[] = {
      // the variants users tag their copies with
      {"http://a.com", "http://a.com"},
      {"http://a.com/", "http://a.com"},
      {"http://a.com//", "http://a.com"},
      {"https://www.a.com#作者名", "http://a.com"},
      {"HTTP://WWW.A.COM/", "http://a.com"},
      {" \t http://a.com/ \r\n", "http://a.com"},
      {"http://a.com#", "http://a.com"},
      // default ports go, others stay (as numbers)
      {"http://a.com:80/", "http://a.com"},
      {"https://a.com:443", "http://a.com"},
      {"http://a.com:/", "http://a.com"},
      {"http://a.com:0080", "http://a.com"},
      {"http://a.com:8080/", "http://a.com:8080"},
      {"https://a.com:80", "http://a.com:80"},
      {"http://a.com:443", "http://a.com:443"},
      {"ftp://A.com:21/", "ftp://a.com:21"},
      {"http://a.com:abc/", "http://a.com:abc"},
      // path and query keep their case; their trailing '/' goes
      {"http://a.com/Path/", "http://a.com/Path"},
      {"http://a.com/s?q=Ab#x", "http://a.com/s?q=Ab"},
      {"http://a.com/?q=1", "http://a.com?q=1"},
      {"http://a.com/s?q=/", "http://a.com/s?q=/"},
      // only a leading www. of the host
      {"http://www.", "http://www."},
      {"http://wwww.a.com", "http://wwww.a.com"},
      {"http://a.www.com", "http://a.www.com"},
      // userinfo keeps its case; '@' after the host is path
      {"http://User:Pw@WWW.A.com/", "http://User:Pw@a.com"},
      {"http://u@a.com", "http://u@a.com"},
      {"http://a.com/x@y.com", "http://a.com/x@y.com"},
      {"http://a@b@C.com", "http://a@b@c.com"},
      // IPv6 literals
      {"http://[2001:DB8::1]:80/", "http://[2001:db8::1]"},
      {"https://[2001:db8::1]:8443/x/", "http://[2001:db8::1]:8443/x"},
      {"http://[::1]", "http://[::1]"},
      {"http://[::1", "http://[::1"},
      // IDN hosts: Unicode, punycode, full-width letters and ideographic dots
      {"http://例子.中国/", "http://例子.中国"},
      {"https://www.xn--fsqu00a.xn--fiqs8s", "http://例子.中国"},
      {"http://XN--FSQU00A.xn--fiqs8s", "http://例子.中国"},
      {"http://例子。中国", "http://例子.中国"},
      {"http://ＷＷＷ．Ａ．ｃｏｍ", "http://a.com"},
      {"http://xn--abc-.com", "http://xn--abc-.com"},
      {"http://xn--zz9.com", "http://xn--zz9.com"},
      // no 'scheme://host': no site, the trimmed text as it stands
      {"-", "-"},
      {" - ", "-"},
      {"-/", "-/"},
      {"www.a.com/", "www.a.com/"},
      {"http://", "http://"},
      {"http:///x", "http:///x"},
      {"1http://a.com", "1http://a.com"},
      {"", ""},
  };
  for (const TCase& c : cases) EXPECT_EQ(ToUtf8(SiteKey(FromUtf8(c.Url))), c.Key) << c.Url;
}

TEST(SiteKey, PunycodeLabels) {
  struct TCase {
    const char* Label;
    bool Valid;
    const char* Text;
  } cases[] = {
      {"fsqu00a", true, "例子"},
      {"ihqwcrb4cv8a8dqg056pqjye", true, "他们为什么不说中文"},
      {"bcher-kva", true, "bücher"},
      {"abc-", true, "abc"},
      {"-", true, ""},
      {"a-!", false, ""},
      {"zz9", false, ""},
      {"99999999999999999", false, ""},
      {"b\xc3\xbc-kva", false, ""},  // non-ASCII before the delimiter
      {"", false, ""},
  };
  for (const TCase& c : cases) {
    String out;
    EXPECT_EQ(DecodePunycode(FromUtf8(c.Label), out), c.Valid) << c.Label;
    if (c.Valid) {
      EXPECT_EQ(ToUtf8(out), c.Text) << c.Label;
    }
  }
  // Long or hostile labels end without running away.
  String out;
  EXPECT_FALSE(DecodePunycode(String(300, u'a'), out));
  EXPECT_FALSE(DecodePunycode(String(200, u'9'), out));
}

// Random addresses built from the characters the parser looks at: whatever
// comes, the key is made (under the sanitizers: without a stray read), and
// blanks around an address never change it.
TEST(SiteKey, RandomAddressesAreParsedSafely) {
  const std::u16string pieces[] = {u"http://", u"HTTPS://", u"www.", u"xn--", u"fsqu00a", u"[", u"]", u":", u"@",
                                   u"/", u"?", u"#", u".", u"a", u"Z", u"9", u"-", u"８", u"。", u"ａ", u"\xD83D",
                                   u"\xDE00", u"%", u" ", u"\t", u"80", u"443"};
  uint32_t seed = 21;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  for (int round = 0; round < 20000; ++round) {
    String url;
    const int n = int(next() % 12);
    for (int k = 0; k < n; ++k) url += pieces[next() % std::size(pieces)];
    const String key = SiteKey(url);
    EXPECT_EQ(SiteKey(u" \r\n" + url + u"\t "), key) << ToUtf8(url);
  }
}
