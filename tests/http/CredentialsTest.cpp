#include <gtest/gtest.h>

#include "http/KivCredentials.h"
#include "http/KivHttpException.h"
#include "http/transport/KivHttpTransport.h"

namespace {

TCredential Server(const char16_t* Realm, const char16_t* URL, const char16_t* User,
                   const char16_t* Password = u"pw") {
  return TCredential::Create(att_Server, Realm, URL, User, Password);
}

TEST(Credentials, AddTwiceAndServerNeedsUserAndPassword) {
  TCredentialsStorage s;
  EXPECT_TRUE(s.Add(Server(u"r", u"http://a/", u"u")));
  EXPECT_FALSE(s.Add(Server(u"R", u"http://a/x", u"U")));  // loose match finds the first
  EXPECT_EQ(s.Count(), 1);
  for (const TCredential& bad : {Server(u"r", u"http://b/", u""), Server(u"r", u"http://b/", u"u", u"")}) {
    try {
      s.Add(bad);
      ADD_FAILURE() << "no exception";
    } catch (const EHTTPException& e) {
      EXPECT_EQ(e.Message(), u"Credential without user or password");
    }
  }
  // Proxy credentials may lack either.
  EXPECT_TRUE(s.Add(TCredential::Create(att_Proxy, u"", u"", u"", u"")));
  EXPECT_EQ(s.Count(), 2);
}

TEST(Credentials, LooseMatch) {
  TCredentialsStorage s;
  s.Add(Server(u"realm", u"http://Host.example/a", u"alice"));
  s.Add(Server(u"", u"", u"bob"));
  s.Add(TCredential::Create(att_Proxy, u"realm", u"http://host.example", u"carol", u"x"));
  struct Case {
    TAuthTargetType Target;
    const char16_t* Realm;
    const char16_t* URL;
    const char16_t* User;
    size_t Count;
  };
  const Case cases[] = {
      {att_Server, u"", u"", u"", 2},
      {att_Server, u"REALM", u"", u"", 2},            // realm ignores case; bob has none
      {att_Server, u"other", u"", u"", 1},            // only bob (no realm)
      {att_Server, u"", u"http://host.example.org/", u"", 2},  // host begins with the item's host
      {att_Server, u"", u"http://other.example/", u"", 1},
      {att_Server, u"", u"", u"ALICE", 1},
      {att_Proxy, u"", u"", u"", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(s.FindCredentials(c.Target, c.Realm, c.URL, c.User).size(), c.Count)
        << ToUtf8(c.Realm) << " " << ToUtf8(c.URL) << " " << ToUtf8(c.User);
    EXPECT_EQ(s.ExistCredentials(c.Target, c.Realm, c.URL, c.User), c.Count > 0);
  }
}

TEST(Credentials, AccurateMatchTakesTheLongestURL) {
  TCredentialsStorage s;
  s.Add(Server(u"", u"http://h/a/", u"short"));
  s.Add(Server(u"", u"http://h/a/b/", u"long"));
  s.Add(Server(u"", u"http://h/a/b/c/d", u"beyond"));
  EXPECT_EQ(s.FindAccurateCredential(att_Server, u"", u"http://h/a/b/c", u"").UserName, u"long");
  EXPECT_EQ(s.FindAccurateCredential(att_Server, u"", u"http://H/a/b/c", u"").UserName, u"");
  EXPECT_EQ(s.FindAccurateCredential(att_Server, u"r", u"http://h/a/b/c", u"").UserName, u"");
  EXPECT_EQ(s.FindAccurateCredential(att_Proxy, u"", u"", u"").UserName, u"");
}

TEST(Credentials, SortOrderAndRemove) {
  TCredentialArray in = {Server(u"", u"http://z/", u"a"), Server(u"b", u"http://a/", u"a"),
                         Server(u"B", u"http://b/", u"b"), Server(u"a", u"http://a/", u"y"),
                         Server(u"a", u"http://a/", u"X")};
  TCredentialArray out = TCredentialsStorage::SortCredentials(in);
  const char16_t* order[][2] = {{u"a", u"X"}, {u"a", u"y"}, {u"B", u"b"}, {u"b", u"a"}, {u"", u"a"}};
  ASSERT_EQ(out.size(), 5u);
  for (size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(out[i].Realm, order[i][0]) << i;
    EXPECT_EQ(out[i].UserName, order[i][1]) << i;
  }
  TCredentialsStorage s;
  for (const TCredential& c : in) s.Add(c);
  EXPECT_EQ(s.Count(), 5);
  s.Sort();
  EXPECT_EQ(s.GetCredential(0).UserName, u"X");
  EXPECT_TRUE(s.Remove(att_Server, u"A", u"HTTP://A/", u"x"));
  EXPECT_FALSE(s.Remove(att_Server, u"a", u"http://a/", u"x"));
  EXPECT_EQ(s.Count(), 4);
  s.Clear();
  EXPECT_EQ(s.Count(), 0);
}

TEST(Credentials, ChooseAuthScheme) {
  const std::pair<uint32_t, uint32_t> cases[] = {
      {AUTH_SCHEME_BASIC, AUTH_SCHEME_BASIC},
      {AUTH_SCHEME_BASIC | AUTH_SCHEME_DIGEST, AUTH_SCHEME_DIGEST},
      {AUTH_SCHEME_DIGEST | AUTH_SCHEME_NTLM, AUTH_SCHEME_NTLM},
      {AUTH_SCHEME_NTLM | AUTH_SCHEME_NEGOTIATE | AUTH_SCHEME_BASIC, AUTH_SCHEME_NEGOTIATE},
      {AUTH_SCHEME_PASSPORT | AUTH_SCHEME_DIGEST, AUTH_SCHEME_PASSPORT},
      {0, 0},
      {0x100, 0}};
  for (auto [supported, chosen] : cases) EXPECT_EQ(ChooseAuthScheme(supported), chosen) << supported;
}

}  // namespace
