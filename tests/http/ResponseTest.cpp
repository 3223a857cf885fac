#include <gtest/gtest.h>

#include "http/KivHttpClient.h"

namespace {

// A response over a header text, without any network.
class ResponseOffline : public ::testing::Test {
 protected:
  void SetUp() override { InitHttpClient(); }
  std::unique_ptr<THttpResponse> Make(const char16_t* Header) {
    auto request = std::make_shared<THttpRequest>(Client, u"GET", u"http://h/");
    auto r = std::make_unique<THttpResponse>(request, nullptr);
    r->SetHeader(Header);
    return r;
  }
  THttpClient Client;
};

TEST_F(ResponseOffline, FindHeaderValueAtLineStartsWithExactCase) {
  const String header =
      u"HTTP/1.1 200 OK\r\nX-Content-Type-Options: nosniff\r\ncontent-type: a/b\r\n"
      u"Content-Type:   text/html; charset=gbk   \r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n";
  size_t cursor = 0;
  EXPECT_EQ(THttpResponse::FindHeaderValue(header, u"Content-Type", cursor), u"text/html; charset=gbk");
  cursor = 0;
  EXPECT_EQ(THttpResponse::FindHeaderValue(header, u"Content-Length", cursor), u"");
  EXPECT_EQ(cursor, header.size());
  cursor = 0;
  std::vector<String> cookies;
  for (String v; !(v = THttpResponse::FindHeaderValue(header, u"Set-Cookie", cursor)).empty();)
    cookies.push_back(v);
  EXPECT_EQ(cookies, (std::vector<String>{u"a=1", u"b=2"}));
  cursor = 0;
  EXPECT_EQ(THttpResponse::FindHeaderValue(u"Name", u"Name", cursor), u"");  // no colon
}

TEST_F(ResponseOffline, CharSetOfName) {
  const std::pair<const char16_t*, THttpCharsetType> cases[] = {
      {u"utf-8", hct_UTF8},        {u"UTF-16LE", hct_UTF16}, {u"GB2312", hct_GB2312},
      {u"GBK", hct_GBK},           {u"gbk18030", hct_GBK},   {u"Big5", hct_BIG5},
      {u"iso-8859-1", hct_ISO8859_1}, {u"octet-stream", hct_ISO8859_1},
      {u"\"utf-8\"", hct_GB2312},  {u"", hct_GB2312}};
  for (auto [name, type] : cases)
    EXPECT_EQ(THttpResponse::CharSetOfName(name, hct_GB2312), type) << ToUtf8(name);
}

TEST_F(ResponseOffline, DetectCharSetFromHeaderAndBody) {
  struct Case {
    const char16_t* Header;
    const char* Body;
    THttpCharsetType CharSet;
    const char16_t* CharSetText;
  };
  const Case cases[] = {
      {u"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=GBK\r\n", "", hct_GBK, u"GBK"},
      {u"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=\"utf-8\"\r\n", "", hct_UTF8, u"\"utf-8\""},
      {u"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n", "", hct_ISO8859_1, u"octet-stream"},
      {u"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n", "<meta charset=gb2312>", hct_GB2312, u""},
      {u"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n", "<meta CharSet=\"big5\">", hct_BIG5, u""},
      {u"HTTP/1.1 200 OK\r\n", "xx charset='iso-8859-1'", hct_ISO8859_1, u""},
      {u"HTTP/1.1 200 OK\r\n", "nothing here", hct_UTF8, u""},
      {u"HTTP/1.1 200 OK\r\n", "charset", hct_UTF8, u""},  // a 'c' too near the end stops it
      {u"HTTP/1.1 200 OK\r\n", "charset=", hct_UTF8, u""},
  };
  for (const Case& c : cases) {
    auto r = Make(c.Header);
    std::string body = c.Body;
    r->DetectCharSet(body.data(), int64_t(body.size()));
    EXPECT_EQ(r->CharSet(), c.CharSet) << c.Body;
    EXPECT_EQ(r->ContentCharSet(), c.CharSetText) << c.Body;
  }
}

TEST_F(ResponseOffline, RealmOfTheChallenge) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"HTTP/1.1 401 X\r\nWWW-Authenticate: Basic REALM=\"Tan Vork\"\r\n", u"Tan Vork"},
      {u"HTTP/1.1 407 X\r\nProxy-Authenticate: Digest realm=\"p\", nonce=\"1\"\r\n", u"p"},
      {u"HTTP/1.1 401 X\r\nWWW-Authenticate: Basic realm=unquoted\r\n", u""},
      {u"HTTP/1.1 401 X\r\nWWW-Authenticate: Basic realm=\"open\r\n", u""},
      {u"HTTP/1.1 401 X\r\n", u""},
  };
  for (auto [header, realm] : cases) EXPECT_EQ(Make(header)->GetRealm(), realm) << ToUtf8(header);
}

TEST_F(ResponseOffline, ResultWithoutResponseHasStatusZero) {
  THttpResult r;
  EXPECT_EQ(r.StatusCode(), 0);
}

TEST_F(ResponseOffline, ProxySettingsAndTheirCredential) {
  TProxySettings p = TProxySettings::Create(u"https://u:p@proxy.example:3128/x");
  EXPECT_EQ(p.FHost, u"proxy.example");
  EXPECT_EQ(p.FPort, 3128);
  EXPECT_EQ(p.FUserName, u"u");
  EXPECT_EQ(p.FPassword, u"p");
  EXPECT_EQ(p.FScheme, u"https");
  Client.SetProxySettings(p);
  ASSERT_EQ(Client.CredentialsStorage().Count(), 1);
  TCredential c = Client.CredentialsStorage().GetCredential(0);
  EXPECT_EQ(c.AuthTarget, att_Proxy);
  EXPECT_EQ(c.URL, u"https://proxy.example:3128/");
  EXPECT_EQ(c.UserName, u"u");
  Client.SetProxySettings(TProxySettings::Create(u"direct", 80, u"", u"", u"http"));
  EXPECT_EQ(Client.CredentialsStorage().Count(), 1);
  EXPECT_EQ(Client.ProxySettings().FHost, u"direct");
}

TEST_F(ResponseOffline, RequestURLRules) {
  auto request = std::make_shared<THttpRequest>(Client, u"GET", u"http://u:p@h:81/a?b");
  EXPECT_EQ(request->URL().Text(), u"http://u:p@h:81/a?b");
  EXPECT_THROW(request->SetURL(TURI{String(u"http://x/")}), EHTTPException);
  try {
    THttpRequest bad(Client, u"GET", u"http:///nohost");
    ADD_FAILURE() << "no exception";
  } catch (const EHTTPException& e) {
    EXPECT_EQ(e.Message(), u"Invalid URL: \"http:///nohost\"");
  }
}

}  // namespace
