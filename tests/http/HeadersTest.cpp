#include <gtest/gtest.h>

#include "http/KivHttpHeaders.h"

namespace {

TEST(Headers, AddReplacesIgnoringCase) {
  THttpHeaders h;
  h.Add(u"Accept", u"a").Add(u"accept", u"b").Add(u"", u"ignored");
  ASSERT_EQ(h.Count(), 1);
  EXPECT_EQ(h.GetItem(0)->Name, u"Accept");
  EXPECT_EQ(h.GetItem(0)->Value, u"b");
  EXPECT_EQ(h.GetHaderItem(u"ACCEPT"), u"b");
}

TEST(Headers, SetValueRules) {
  THttpHeaders h(u"X", u"1");
  ASSERT_EQ(h.Count(), 1);
  h.SetHaderItem(u"Missing", u"");  // an empty value never creates a header
  EXPECT_EQ(h.Count(), 1);
  EXPECT_FALSE(h.Exist(u"Missing"));
  h.SetHaderItem(u"x", u"");  // but empties an existing one
  EXPECT_EQ(h.Count(), 1);
  EXPECT_EQ(h.GetHaderItem(u"X"), u"");
  EXPECT_EQ(h.GetHaderItem(u"Nothing"), u"");
  THttpHeaders empty(u"", u"v");
  EXPECT_EQ(empty.Count(), 0);
}

TEST(Headers, ListAddItemRepeatAndIndexes) {
  THeadersList l;
  l.AddItem(u"A", u"1", false);
  l.AddItem(u"a", u"2", false);
  l.AddItem(u"A", u"3", true);
  ASSERT_EQ(l.Count(), 2);
  EXPECT_EQ(l.GetValue(u"a"), u"2");  // first match wins
  l.SetItem(1, THeaderItem{u"B", u"4"});
  EXPECT_EQ(l.GetString(u"b"), u"4");
  l.Delete(0);
  EXPECT_EQ(l.Count(), 1);
  EXPECT_THROW(l.GetItem(1), EHTTPException);
  EXPECT_THROW(l.Delete(-1), EHTTPException);
  EXPECT_THROW(l.SetItem(5, THeaderItem{}), EHTTPException);
}

TEST(Headers, TextWithLineBreaks) {
  THttpHeaders h;
  EXPECT_EQ(h.GetText(), u"");
  h.Add(u"A", u"1").Add(u"B", u"2");
  EXPECT_EQ(h.GetText(), u"A: 1\r\nB: 2\r\n");
  h.SetLineBreak(u"\n");
  EXPECT_EQ(h.GetText(), u"A: 1\nB: 2\n");
}

struct ParsedHeader {
  const char16_t* Name;
  const char16_t* Value;
};

TEST(Headers, SetTextKeepsRepeatsAndSplitsAtFirstColon) {
  THttpHeaders h;
  h.Add(u"Old", u"x");
  h.SetText(u"Set-Cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n  \nNa me :  v:w  \rBare\nEmpty:");
  const ParsedHeader expected[] = {{u"Set-Cookie", u"a=1"}, {u"Set-Cookie", u"b=2"},
                                   {u"Na me ", u"v:w  "},   {u"Bare", u""},
                                   {u"Empty", u""}};
  ASSERT_EQ(h.Count(), int32_t(std::size(expected)));
  for (int32_t i = 0; i < h.Count(); ++i) {
    EXPECT_EQ(h.GetItem(i)->Name, expected[i].Name) << i;
    EXPECT_EQ(h.GetItem(i)->Value, expected[i].Value) << i;
  }
  // Text both ways.
  THttpHeaders back;
  back.SetText(h.GetText());
  ASSERT_EQ(back.Count(), h.Count());
  for (int32_t i = 0; i < h.Count(); ++i) EXPECT_EQ(back.GetItem(i)->Value, h.GetItem(i)->Value);
  h.SetText(u"");
  EXPECT_EQ(h.Count(), 0);
}

TEST(Headers, CopyIsDeep) {
  THttpHeaders a(u"A", u"1");
  THttpHeaders b = a;
  b.Add(u"A", u"2");
  EXPECT_EQ(a.GetHaderItem(u"A"), u"1");
  a = b;
  EXPECT_EQ(a.GetHaderItem(u"A"), u"2");
}

struct ParamCase {
  const char16_t* Value;
  const char16_t* Param;
  const char16_t* Expected;
};

const ParamCase kParamCases[] = {
    {u"text/html; charset=gbk", u"charset", u"gbk"},
    {u"text/html; Charset=gbk", u"charset", u""},  // letter case matters
    {u"text/html", u"charset", u""},
    {u"charset=utf-8", u"charset", u"utf-8"},
    {u"text/html;charset=  gbk ;x=1", u"charset", u"gbk "},
    {u"a=1, charset=big5|b=2", u"charset", u"big5"},
    {u"a=1, charset=big5|b=2", u"b", u"2"},
    {u"text/html; mycharset=gbk", u"charset", u""},
    {u"text/html; charset=\"utf-8\"", u"charset", u"\"utf-8\""},
    {u"text/html; x; charset=gbk", u"charset", u"gbk"},  // a bare item before it
    {u"text/html; charset=", u"charset", u""},
    {u"", u"charset", u""},
    {u"text/html; charset=gbk", u"", u""},
};

class HeaderParams : public ::testing::TestWithParam<ParamCase> {};

TEST_P(HeaderParams, GetParam) {
  THttpHeaders h;
  h.Add(u"Content-Type", GetParam().Value);
  EXPECT_EQ(h.GetParam(u"content-type", GetParam().Param), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Examples, HeaderParams, ::testing::ValuesIn(kParamCases));

TEST(Headers, FindHeaderParamReportsTheSpan) {
  THeaderParamPos p = FindHeaderParam(u"text/html; charset=", u"charset");
  EXPECT_TRUE(p.Found);
  EXPECT_EQ(p.Start, p.End);
  EXPECT_FALSE(FindHeaderParam(u"text/html; charset", u"charset").Found);
}

TEST(Headers, SetParam) {
  const ParamCase cases[] = {
      {u"text/html; charset=gbk", u"charset", u"text/html; charset=utf-8"},
      {u"text/html", u"charset", u"text/html; charset=utf-8"},
      {u"text/html; charset=gbk; q=1", u"charset", u"text/html; charset=utf-8; q=1"},
      {u"text/html; Charset=gbk", u"charset", u"text/html; Charset=gbk; charset=utf-8"},
  };
  for (const ParamCase& c : cases) {
    THttpHeaders h(u"Content-Type", c.Value);
    h.SetParam(u"Content-Type", c.Param, u"utf-8");
    EXPECT_EQ(h.GetHaderItem(u"Content-Type"), c.Expected) << ToUtf8(c.Value);
    EXPECT_EQ(h.Count(), 1);
  }
  THttpHeaders none;
  none.SetParam(u"Content-Type", u"charset", u"utf-8");
  EXPECT_EQ(none.Count(), 0);
}

// Parameter search and header text over every prefix of odd texts (sanitizers).
TEST(Headers, TruncatedAndOddTextsParse) {
  const char16_t* texts[] = {u"a=;=;,|==b; charset= x", u";;;===,,,|||", u"charset",
                             u"k: v\r\n\r\n:\n::\r\r x", u"=charset=gbk"};
  for (const char16_t* t : texts) {
    String full(t);
    for (size_t n = 0; n <= full.size(); ++n) {
      std::vector<char16_t> exact(full.begin(), full.begin() + n);
      StringView view(exact.data(), exact.size());
      THeaderParamPos p = FindHeaderParam(view, u"charset");
      if (p.Found) {
        EXPECT_LE(p.End, n);
      }
      (void)ReplaceHeaderParam(view, u"charset", u"x");
      THttpHeaders h;
      h.SetText(view);
      (void)h.GetText();
    }
  }
}

}  // namespace
