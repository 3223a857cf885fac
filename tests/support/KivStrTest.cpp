#include <gtest/gtest.h>

#include "support/KivNetStr.h"
#include "support/KivStr.h"

TEST(StringCatHelper, GrowsInWholeBlocksStrictlyAboveTheNeed) {
  TStringCatHelper b;
  EXPECT_EQ(b.BlockSize(), 4096);
  EXPECT_EQ(b.Capacity(), 8192);
  String chunk(8192, u'x');
  b.Cat(chunk);
  EXPECT_EQ(b.Capacity(), 8192);
  b.Cat(u'y');
  EXPECT_EQ(b.Capacity(), 12288);
  EXPECT_EQ(b.Position(), 8193);
  EXPECT_EQ(b.Value().back(), u'y');

  TStringCatHelper c(8192);
  EXPECT_EQ(c.Capacity(), 16384);
  // A need of 4097 in a fresh 4096 builder's second block: 4097 -> 8192, 8192 -> 12288.
  TStringCatHelper d(4096);
  d.Cat(String(8192, u'a'));
  EXPECT_EQ(d.Capacity(), 8192);
  d.IncSize(1);
  EXPECT_EQ(d.Capacity(), 12288);
}

TEST(StringCatHelper, ZeroTerminatedCatAsksForOneMoreBlockPerOverflow) {
  TStringCatHelper b(4);  // capacity 8
  String s(9, u'z');
  b.Cat(s.c_str());
  EXPECT_EQ(b.Value(), s);
  EXPECT_EQ(b.Capacity(), 16);  // 8 + block asked: 4 * ((12 + 4) / 4)
}

TEST(StringCatHelper, EditingOperations) {
  TStringCatHelper b(16);
  b.Cat(u"abc");
  b.Back(5);
  EXPECT_EQ(b.Value(), u"");
  b.Cat(u"abcde");
  b.SetPosition(2);
  EXPECT_EQ(b.Value(), u"ab");
  b.Reset();
  b.Replicate(u"ab", 3).Space(2).Cat(int64_t(-1234567890123));
  EXPECT_EQ(b.Value(), u"ababab  -1234567890123");
  b.Reset();
  b.Replicate(u"ab", 0).Replicate(u"ab", -2).Space(-1);
  EXPECT_EQ(b.Value(), u"");
  b.Cat(u"xyz", 2);
  EXPECT_EQ(b.Value(), u"xy");
  EXPECT_EQ(*b.Last(), u'y');
  b.SetPosition(0);
  EXPECT_EQ(b.Last(), nullptr);
}

TEST(StringCatHelper, CurrentIsClampedToTheBuffer) {
  TStringCatHelper b(8);  // capacity 16
  b.Cat(u"hello");
  b.SetCurrent(b.Start() - 3);
  EXPECT_EQ(b.Position(), 0);
  b.SetCurrent(b.Start() + 100);
  EXPECT_EQ(b.Position(), 16);
  b.SetCurrent(b.Start() + 3);
  EXPECT_EQ(b.Value(), u"hel");
}

TEST(StringCatHelper, SizeZeroBuilderRefusesToGrowInsteadOfDividingByZero) {
  TStringCatHelper b(0);
  EXPECT_EQ(b.BlockSize(), 0);
  EXPECT_EQ(b.Value(), u"");
  EXPECT_THROW(b.Cat(u"x"), Exception);
}

TEST(StringCatHelperW, SizesAndGrowth) {
  struct Case { int32_t ask, block; } cases[] = {{0, 8192}, {4096, 8192}, {8192, 8192}, {8193, 9216}, {20000, 20480}};
  for (auto& c : cases) {
    TStringCatHelperW b(c.ask);
    EXPECT_EQ(b.BlockSize(), c.block) << c.ask;
    EXPECT_EQ(b.Capacity(), c.block) << c.ask;
  }
  TStringCatHelperW b;
  EXPECT_EQ(b.Capacity(), 8192);
  b.Cat(String(8192, u'a'));
  EXPECT_EQ(b.Capacity(), 8192);  // not below the need: stays
  b.Cat(u'b');
  EXPECT_EQ(b.Capacity(), 16384);
  b.Reset();
  EXPECT_EQ(b.Value(), u"");
  b.Cat(u"k=").Cat(int64_t(42)).Cat(u"abc", 1);
  EXPECT_EQ(b.Value(), u"k=42a");
  char16_t* before = b.Current();
  b.SetCurrent(b.Start() + b.Capacity());  // out of range: ignored
  EXPECT_EQ(b.Current(), before);
}

TEST(CursorHelpers, CharacterTests) {
  const char16_t pair[] = {0xD83D, 0xDE00, 0};
  const char16_t lone[] = {0xD83D, u'A', 0};
  EXPECT_EQ(CharSizeU(pair), 2);
  EXPECT_EQ(CharSizeU(lone), 1);

  int size = 0;
  EXPECT_TRUE(CharIn(pair, u"x\U0001F600", &size));
  EXPECT_EQ(size, 2);
  EXPECT_FALSE(CharIn(lone, u"\U0001F600", &size));  // a listed high surrogate needs its partner
  EXPECT_TRUE(CharIn(u",", u"[,]", &size));
  EXPECT_EQ(size, 1);

  for (char16_t c : {u'\t', u'\n', u'\r', u' ', u'\u3000'}) EXPECT_TRUE(IsBlankChar(c)) << int(c);
  for (char16_t c : {u'a', u'\0', u'\u00A0', u'\v'}) EXPECT_FALSE(IsBlankChar(c)) << int(c);

  EXPECT_TRUE(StartWith(u"Content-Type", u"content", true));
  EXPECT_FALSE(StartWith(u"Content-Type", u"content", false));
  EXPECT_TRUE(StartWith(u"abc", u"", false));
  EXPECT_FALSE(StartWith(u"ab", u"abc", true));
  EXPECT_FALSE(StartWith(u"\u00E9", u"\u00C9", true));  // only ASCII letters fold
  EXPECT_EQ(UpperAscii(u'q'), u'Q');
  EXPECT_EQ(UpperAscii(u'\u00E9'), u'\u00E9');

  const char16_t hex[] = u"09afAFgG";
  int values[] = {0, 9, 10, 15, 10, 15};
  for (int i = 0; i < 6; ++i) {
    EXPECT_TRUE(IsHexChar(hex[i]));
    EXPECT_EQ(HexCharValue(hex[i]), values[i]);
  }
  EXPECT_FALSE(IsHexChar(u'g'));
  EXPECT_FALSE(IsHexChar(u'G'));
}

TEST(CursorHelpers, SkipFunctions) {
  const char16_t* p = u" \t\u3000\r\nx";
  EXPECT_EQ(SkipSpaceChars(p), 5);
  EXPECT_EQ(*p, u'x');

  const char16_t* q = u"abc,def";
  EXPECT_EQ(SkipUntilChars(q, u",;"), 3);
  EXPECT_EQ(*q, u',');

  // Quoted stretches are skipped: escapes and doubled quotes stay inside.
  const char16_t* r = u"a'b,\\'c'',d',e";
  SkipUntilChars(r, u",", u'\'');
  EXPECT_EQ(String(r), u",e");

  const char16_t* open = u"a'never,closed";
  SkipUntilChars(open, u",", u'\'');
  EXPECT_EQ(*open, 0);

  const char16_t* none = u"abc";
  EXPECT_EQ(SkipUntilChars(none, u","), 3);
  EXPECT_EQ(*none, 0);
}

TEST(CursorHelpers, TextCopies) {
  EXPECT_EQ(TextFromUnits(u"abcdef", 3), u"abc");
  EXPECT_EQ(TextFromUnits(u"abc", 0), u"");
  const char16_t text[] = {u'a', 0xD83D, 0xDE00, u'b', u'c', 0};
  EXPECT_EQ(CopyChars(text, 1, 2), (String{0xD83D, 0xDE00, u'b'}));
  EXPECT_EQ(CopyChars(u"ab", 0, 10), u"ab");  // stops at the terminator
}

TEST(CursorHelpers, LineColumnOf) {
  const char16_t* s = u"a\nbc";
  int64_t col = 0, line = 0;
  const char16_t* start = LineColumnOf(s, s + 3, col, line);
  EXPECT_EQ(line, 2);
  EXPECT_EQ(col, 2);
  EXPECT_EQ(start, s + 2);

  const char16_t pairs[] = {0xD83D, 0xDE00, u'x', 0};
  start = LineColumnOf(pairs, pairs + 2, col, line);
  EXPECT_EQ(line, 1);
  EXPECT_EQ(col, 2);  // a surrogate pair is one column
  EXPECT_EQ(start, pairs);
}

TEST(CursorHelpers, ReadLine) {
  struct Case {
    const char16_t* text;
    bool skipEmpty;
    const char16_t* line;
    const char16_t* rest;
  } cases[] = {
      {u"abc\r\ndef", false, u"abc", u"def"},
      {u"abc\ndef", false, u"abc\ndef", u""},   // a lone LF is no break
      {u"abc\n\rdef", false, u"abc", u"def"},   // LF CR is one
      {u"abc\rdef", false, u"abc", u"def"},
      {u"\r\nabc", false, u"", u"\r\nabc"},      // empty line: cursor stays at the break
      {u"\r\n\r\nabc\r\n", true, u"abc", u""},
      {u"", true, u"", u""},
      {u"tail", false, u"tail", u""},
  };
  for (auto& c : cases) {
    const char16_t* p = c.text;
    EXPECT_EQ(ReadLine(p, c.skipEmpty), c.line) << ToUtf8(c.text);
    EXPECT_EQ(String(p), c.rest) << ToUtf8(c.text);
  }
}

TEST(CursorHelpers, TrimAndAsciiLowerCase) {
  EXPECT_EQ(Trim(u"\x01 \t abc \r\n\x1f"), u"abc");
  EXPECT_EQ(Trim(u"\u3000a\u3000"), u"\u3000a\u3000");  // only codes up to 32
  EXPECT_EQ(Trim(u"   "), u"");
  EXPECT_EQ(LowerCaseAscii(u"ABC\u00C9\u0410xyz"), u"abc\u00C9\u0410xyz");
}

TEST(NetStr, Searches) {
  EXPECT_EQ(PosStr(u"b", u"abcb"), 1);
  EXPECT_EQ(PosStr(u"b", u"abcb", 2), 3);
  EXPECT_EQ(PosStr(u"z", u"abcb"), -1);
  EXPECT_EQ(PosStr(u"b", u"abcb", 10), -1);
  EXPECT_EQ(PosStr(u"", u"abc"), -1);
  EXPECT_EQ(PosStrRev(u"b", u"abcb"), 3);
  EXPECT_EQ(PosStrRev(u"abcde", u"abcb"), -1);
}

TEST(Format, MessagesOfTheSystem) {
  EXPECT_EQ(Format(u"第%d行第%d列: %s ", 3, 14, String(u"错误")), u"第3行第14列: 错误 ");
  EXPECT_EQ(Format(u"无效的UTF8字符:%d", 0x80), u"无效的UTF8字符:128");
  EXPECT_EQ(Format(u"(%d) %s", -5, "Couldn't connect"), u"(-5) Couldn't connect");
  EXPECT_EQ(Format(u"%x %X 100%%", 255u, 255), u"ff FF 100%");
  EXPECT_EQ(Format(u"%s-%s", u"a"), u"a-");  // a missing argument prints nothing
}

TEST(Exception, CarriesUtf16MessageAndUtf8What) {
  Exception e(u"书源URL无效");
  EXPECT_EQ(e.Message(), u"书源URL无效");
  EXPECT_STREQ(e.what(), "书源URL无效");
}
