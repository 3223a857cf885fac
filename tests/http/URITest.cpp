#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "http/KivURI.h"

namespace {

struct SplitCase {
  const char16_t* Url;
  const char16_t* Scheme;
  const char16_t* User;
  const char16_t* Password;
  const char16_t* Host;
  uint16_t Port;
  const char16_t* Path;
  const char16_t* Document;
  const char16_t* Params;
  const char16_t* Bookmark;
};

const SplitCase kSplitCases[] = {
    {u"http://user:pa:ss@Example:8080/a/b/c.php?x=1&y=2#top", u"http", u"user", u"pa:ss",
     u"Example", 8080, u"/a/b/", u"c.php", u"?x=1&y=2#top", u""},
    {u"h/a/page#sec", u"http", u"", u"", u"h", 80, u"/a/", u"page", u"", u"sec"},
    {u"https://h/p?u=a/b/c", u"https", u"", u"", u"h", 443, u"/", u"p", u"?u=a/b/c", u""},
    {u"https://h:443/x", u"https", u"", u"", u"h", 443, u"/", u"x", u"", u""},
    {u"HTTPS://h/x", u"HTTPS", u"", u"", u"h", 443, u"/", u"x", u"", u""},
    {u"http://h:80/x", u"http", u"", u"", u"h", 80, u"/", u"x", u"", u""},
    {u"ftp://h:21/f", u"ftp", u"", u"", u"h", 80, u"/", u"f", u"", u""},
    {u"http://[::1]:8080/x", u"http", u"", u"", u"::1", 8080, u"/", u"x", u"", u""},
    {u"https://[fe80::2]/", u"https", u"", u"", u"fe80::2", 443, u"/", u"", u"", u""},
    {u"http://h:abc/", u"http", u"", u"", u"h", 80, u"/", u"", u"", u""},
    {u"http://h:70000/", u"http", u"", u"", u"h", 80, u"/", u"", u"", u""},
    {u"http://h:-1/", u"http", u"", u"", u"h", 80, u"/", u"", u"", u""},
    {u"http://h:0/", u"http", u"", u"", u"h", 80, u"/", u"", u"", u""},
    {u"http://h", u"http", u"", u"", u"h", 80, u"/", u"", u"", u""},
    // The authority ends at '?' and '#' too.
    {u"http://www.366xsw.com#", u"http", u"", u"", u"www.366xsw.com", 80, u"/", u"", u"", u""},
    {u"https://www.agxs.net#axin", u"https", u"", u"", u"www.agxs.net", 443, u"/", u"", u"",
     u"axin"},
    {u"http://h.com?x=1", u"http", u"", u"", u"h.com", 80, u"/", u"", u"?x=1", u""},
    {u"http://h.com:81?x=1#f", u"http", u"", u"", u"h.com", 81, u"/", u"", u"?x=1#f", u""},
    {u"http://h.com?mail=a@b", u"http", u"", u"", u"h.com", 80, u"/", u"", u"?mail=a@b", u""},
    // A "://" inside the query is no scheme.
    {u"h.com/go?u=http://x/y", u"http", u"", u"", u"h.com", 80, u"/", u"go", u"?u=http://x/y", u""},
    // Without '?', the first '=' starts the query.
    {u"http://h/a/b=c/d", u"http", u"", u"", u"h", 80, u"/a/", u"b", u"=c/d", u""},
    // A fragment before the query keeps its slashes and question marks.
    {u"http://h/#/book/1", u"http", u"", u"", u"h", 80, u"/", u"", u"", u"/book/1"},
    {u"http://h/a#b?c", u"http", u"", u"", u"h", 80, u"/", u"a", u"", u"b?c"},
    {u"http://u@h/", u"http", u"u", u"", u"h", 80, u"/", u"", u"", u""},
    {u"http://:pw@h/", u"http", u"", u"", u"h", 80, u"/", u"", u"", u""},
    {u"http://@h/", u"http", u"", u"", u"h", 80, u"/", u"", u"", u""},
    {u"", u"http", u"", u"", u"", 80, u"/", u"", u"", u""},
    {u"http://[::1/x", u"http", u"", u"", u"[", 80, u"/", u"x", u"", u""},
};

class URISplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(URISplit, Parts) {
  const SplitCase& c = GetParam();
  TURI u{String(c.Url)};
  EXPECT_EQ(u.Scheme(), c.Scheme);
  EXPECT_EQ(u.UserName(), c.User);
  EXPECT_EQ(u.Password(), c.Password);
  EXPECT_EQ(u.Host(), c.Host);
  EXPECT_EQ(u.Port(), c.Port);
  EXPECT_EQ(u.Path(), c.Path);
  EXPECT_EQ(u.Document(), c.Document);
  EXPECT_EQ(u.Params(), c.Params);
  EXPECT_EQ(u.Bookmark(), c.Bookmark);
  // The invariants of a parsed record.
  EXPECT_NE(u.Port(), 0);
  ASSERT_FALSE(u.Path().empty());
  EXPECT_EQ(u.Path().front(), u'/');
  EXPECT_EQ(u.Path().back(), u'/');
  EXPECT_EQ(u.GetDocumentWithParams(), String(c.Path) + c.Document + c.Params);
}

INSTANTIATE_TEST_SUITE_P(Examples, URISplit, ::testing::ValuesIn(kSplitCases));

struct RebuildCase {
  const char16_t* Url;
  const char16_t* WithAuth;
  const char16_t* WithoutAuth;
  const char16_t* Base;
};

const RebuildCase kRebuildCases[] = {
    {u"https://h:443/x", u"https://h/x", u"https://h/x", u"https://h"},
    {u"http://h:80/x", u"http://h/x", u"http://h/x", u"http://h"},
    {u"http://h:8080/x?q=1", u"http://h:8080/x?q=1", u"http://h:8080/x?q=1", u"http://h:8080"},
    {u"https://h:80/", u"https://h:80/", u"https://h:80/", u"https://h:80"},
    {u"ftp://h:21/f", u"ftp://h/f", u"ftp://h/f", u"ftp://h:80"},
    {u"h/a/page#sec", u"http://h/a/page#sec", u"http://h/a/page", u"http://h"},
    {u"http://u:p@h/x", u"http://u:p@h/x", u"http://h/x", u"http://h"},
    {u"http://u@h/x", u"http://u@h/x", u"http://h/x", u"http://h"},
    {u"http://[::1]:8080/x", u"http://[::1]:8080/x", u"http://[::1]:8080/x", u"http://[::1]:8080"},
    {u"https://[::1]/", u"https://[::1]/", u"https://[::1]/", u"https://[::1]"},
    {u"http://www.366xsw.com#", u"http://www.366xsw.com/", u"http://www.366xsw.com/",
     u"http://www.366xsw.com"},
    {u"http://h.com?x=1", u"http://h.com/?x=1", u"http://h.com/?x=1", u"http://h.com"},
    {u"http://h/a#b?c", u"http://h/a#b?c", u"http://h/a", u"http://h"},
};

class URIRebuild : public ::testing::TestWithParam<RebuildCase> {};

TEST_P(URIRebuild, Texts) {
  const RebuildCase& c = GetParam();
  TURI u{String(c.Url)};
  EXPECT_EQ(u.GetNewURL(true), c.WithAuth);
  EXPECT_EQ(u.GetNewURL(false), c.WithoutAuth);
  EXPECT_EQ(u.GetURLBase(), c.Base);
  EXPECT_EQ(u.ToString(), c.WithAuth);
  // A rebuilt text parses to the same parts.
  TURI again{u.ToString()};
  EXPECT_EQ(again.Host(), u.Host());
  EXPECT_EQ(again.Port(), u.Port());
  EXPECT_EQ(again.GetDocumentWithParams(), u.GetDocumentWithParams());
}

INSTANTIATE_TEST_SUITE_P(Examples, URIRebuild, ::testing::ValuesIn(kRebuildCases));

TEST(URI, CreatedRecordRebuildsButAssignedTextStays) {
  TURI created{String(u"HTTP://h:80/a")};
  EXPECT_TRUE(created.ChangeURL());
  EXPECT_EQ(created.ToString(), u"HTTP://h/a");
  EXPECT_FALSE(created.ChangeURL());

  TURI assigned;
  assigned.SetURL(u"http://h:80/a");
  EXPECT_FALSE(assigned.ChangeURL());
  EXPECT_EQ(assigned.ToString(), u"http://h:80/a");
  EXPECT_EQ(assigned.Port(), 80);
}

TEST(URI, EmptyHostRaisesOnRebuild) {
  for (const char16_t* text : {u"http:///x", u"", u"https://u:p@/"}) {
    TURI u{String(text)};
    try {
      u.ToString();
      ADD_FAILURE() << "no exception for " << ToUtf8(text);
    } catch (const EHTTPException& e) {
      EXPECT_EQ(e.Message(), u"Host field is empty.");
    }
  }
  // Assigned text is returned as it is, so nothing is rebuilt and nothing raises.
  TURI assigned;
  assigned.SetURL(u"http:///x");
  EXPECT_EQ(assigned.ToString(), u"http:///x");
}

TEST(URI, NewTextIsParsedAgain) {
  TURI u{String(u"http://one/a/")};
  EXPECT_EQ(u.Host(), u"one");
  EXPECT_TRUE(u.IsParsed());
  u.SetURL(u"https://two:444/b/c");
  EXPECT_FALSE(u.IsParsed());
  EXPECT_EQ(u.Host(), u"two");
  EXPECT_EQ(u.Port(), 444);
  EXPECT_EQ(u.Path(), u"/b/");
  // Copies are independent values.
  TURI copy = u;
  copy.SetURL(u"http://three/");
  EXPECT_EQ(u.Host(), u"two");
  EXPECT_EQ(copy.Host(), u"three");
}

struct RelativeCase {
  const char16_t* Rel;
  const char16_t* Expected;
};

const RelativeCase kRelativeCases[] = {
    {u"../x", u"http://e.com/a/x"},
    {u"../../x", u"http://e.com/x"},
    {u"../../../x", u"http://e.com/x"},
    {u"./x", u"http://e.com/a/b/x"},
    {u".././x", u"http://e.com/a/x"},
    {u"x/y", u"http://e.com/a/b/x/y"},
    {u"x/y:z", u"http://e.com/a/b/x/y:z"},
    {u"/z", u"http://e.com/z"},
    {u"https://o.com/q", u"https://o.com/q"},
    {u"mailto:a@b", u"mailto:a@b"},
    {u"", u"http://e.com/a/b/c.html"},
    {u"//cdn.com/p", u"http://cdn.com/p"},
    {u"?q=1", u"http://e.com/a/b/c.html?q=1"},
};

class URIRelative : public ::testing::TestWithParam<RelativeCase> {};

TEST_P(URIRelative, ToAbsolute) {
  TURI base{String(u"http://e.com/a/b/c.html")};
  EXPECT_EQ(TURI::PathRelativeToAbs(GetParam().Rel, base), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Examples, URIRelative, ::testing::ValuesIn(kRelativeCases));

TEST(URI, RelativeKeepsPortAndRootBase) {
  TURI withPort{String(u"http://e.com:8080/a/")};
  EXPECT_EQ(TURI::PathRelativeToAbs(u"/z", withPort), u"http://e.com:8080/z");
  TURI root{String(u"https://e.com")};
  EXPECT_EQ(TURI::PathRelativeToAbs(u"./x", root), u"https://e.com/x");
  EXPECT_EQ(TURI::PathRelativeToAbs(u"../x", root), u"https://e.com/x");
  EXPECT_EQ(TURI::PathRelativeToAbs(u"x", root), u"https://e.com/x");
}

// Every prefix of odd texts, parsed from exactly sized buffers (for the sanitizers).
TEST(URI, TruncatedAndOddTextsParse) {
  const char16_t* texts[] = {
      u"http://user:pw@[::1]:8080/a/b/c.php?x=1&y=2#top", u"https://@:@[]]:/?#=",
      u"://", u"[[[]]]", u"http://[", u"a@b@c:d:e/f?g#h", u"=?#/", u"h#?=/x"};
  for (const char16_t* t : texts) {
    String full(t);
    for (size_t n = 0; n <= full.size(); ++n) {
      TURI u{full.substr(0, n)};
      EXPECT_NE(u.Port(), 0);
      EXPECT_EQ(u.Path().front(), u'/');
      (void)u.GetDocumentWithParams();
      if (!u.Host().empty()) {
        EXPECT_FALSE(u.GetNewURL(true).empty());
      }
      (void)TURI::PathRelativeToAbs(full.substr(0, n), TURI{String(u"http://b/c/d")});
    }
  }
}

// Every address of a published file: real sources write 'http://host#' to tell
// copies apart, and such a host must come out clean.
TEST(URI, RealSourceAddressesHaveCleanHosts) {
  std::string text;
  for (const char* name : {"choue_bookSource_3.0.json", "cwl666_freebook3_data.json"}) {
    const std::string path = std::string(TANVORK_TEST_DATA) + "/real/" + name;
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "missing test data: " << path;
    text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::string key = "\"bookSourceUrl\"";
  size_t checked = 0, withFragment = 0;
  for (size_t p = text.find(key); p != std::string::npos; p = text.find(key, p + 1)) {
    size_t open = text.find('"', text.find(':', p + key.size()) + 1);
    size_t close = text.find('"', open + 1);
    if (open == std::string::npos || close == std::string::npos) break;
    String url = FromUtf8(text.substr(open + 1, close - open - 1));
    TURI u{url};
    if (u.Scheme() != u"http" && u.Scheme() != u"https") continue;
    ++checked;
    if (url.find(u'#') != String::npos) ++withFragment;
    EXPECT_FALSE(u.Host().empty()) << ToUtf8(url);
    EXPECT_EQ(u.Host().find_first_of(u"#?/"), String::npos) << ToUtf8(url);
    EXPECT_EQ(u.GetDocumentWithParams().find(u'#') == String::npos ||
                  u.Params().find(u'#') != String::npos,
              true)
        << "a fragment outside the query is never sent: " << ToUtf8(url);
  }
  EXPECT_GT(checked, 100u);
  EXPECT_GT(withFragment, 0u);
}

}  // namespace
