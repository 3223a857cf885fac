#include <gtest/gtest.h>

#include "http/KivURI.h"
#include "support/KivStr.h"

namespace {

struct EncodeCase {
  const char16_t* Text;
  bool SpaceAsPlus;
  const char16_t* Expected;
};

const EncodeCase kEncodeCases[] = {
    {u"s?q=中 文&x=~", true, u"s?q=%D6%D0+%CE%C4&x=%7E"},
    {u"s?q=中 文&x=~", false, u"s?q=%D6%D0%20%CE%C4&x=%7E"},
    {u"", true, u""},
    {u"http://h.com:80/a/b.php?x=1&y=2#top", true, u"http://h.com:80/a/b.php?x=1&y=2#top"},
    {u"%41%", true, u"%41%"},  // already escaped text stays
    {u"AZaz09!$'()*-.@_", true, u"AZaz09!$'()*-.@_"},
    {u"\"+,;<>[\\]^`{|}", true, u"%22%2B%2C%3B%3C%3E%5B%5C%5D%5E%60%7B%7C%7D"},
    {u"\x01\x1f\x7f", true, u"%01%1F%7F"},
    {u"\u00e9\u00ff", true, u"%E9%FF"},
    // A character the code page lacks becomes its replacement byte '?', escaped.
    {u"\U0001F600", true, u"%3F"},
    {u"\u0e01", true, u"%3F"},
};

class EncodeURLCases : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeURLCases, Encodes) {
  EXPECT_EQ(EncodeURL(GetParam().Text, GetParam().SpaceAsPlus), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Examples, EncodeURLCases, ::testing::ValuesIn(kEncodeCases));

// Every code below 256 is either kept or written as %XX, and decodes back.
TEST(EncodeURL, EveryByteRoundTrips) {
  for (unsigned c = 1; c < 256; ++c) {
    String in(1, char16_t(c));
    String out = EncodeURL(in, false);
    if (out.size() == 1) {
      EXPECT_EQ(out, in) << c;
    } else {
      ASSERT_EQ(out.size(), 3u) << c;
      EXPECT_EQ(out[0], u'%');
      EXPECT_EQ(HexCharValue(out[1]) * 16 + HexCharValue(out[2]), int(c));
      EXPECT_FALSE(out[1] >= u'a' || out[2] >= u'a') << "lower-case hex for " << c;
    }
  }
}

TEST(EncodeURL, CodePageBytesAreTheGBKBytes) {
  const String text = u"书源校验";
  Bytes gbk = AnsiEncode(text);
  ASSERT_EQ(gbk.size(), 8u);
  String expected;
  for (unsigned char b : gbk) {
    expected += u'%';
    expected += u"0123456789ABCDEF"[b >> 4];
    expected += u"0123456789ABCDEF"[b & 15];
  }
  EXPECT_EQ(EncodeURL(text, true), expected);
}

}  // namespace
