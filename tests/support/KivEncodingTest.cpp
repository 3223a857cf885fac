#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <memory>

#include "support/KivNetStr.h"
#include "support/KivStr.h"

namespace {
Bytes B(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(char(x));
  return b;
}
const char16_t kChinese[] = u"书源管理工具，中文测试";
}  // namespace

TEST(DetectTextEncoding, Verdicts) {
  struct Case {
    const char* name;
    Bytes bytes;
    TTextEncoding enc;
    bool bom;
  } cases[] = {
      {"empty", Bytes(), teAnsi, false},
      {"one byte", B({0x41}), teAnsi, false},
      {"utf16le bom", B({0xFF, 0xFE, 0x41, 0}), teUnicode16LE, true},
      {"utf16be bom", B({0xFE, 0xFF, 0, 0x41}), teUnicode16BE, true},
      {"two bytes no bom", B({0xEF, 0xBB}), teAnsi, false},
      {"utf8 bom", B({0xEF, 0xBB, 0xBF, 0x61}), teUTF8, true},
      {"utf8 bom only", B({0xEF, 0xBB, 0xBF}), teUTF8, true},
      {"utf8 chinese", EncodeUTF8(u"中"), teUTF8, false},
      {"gbk chinese", AnsiEncode(kChinese), teAnsi, false},
      {"C1 AA CD A8 alone", B({0xC1, 0xAA, 0xCD, 0xA8}), teAnsi, false},
      {"C1 AA CD A8 then utf8", B({0xC1, 0xAA, 0xCD, 0xA8, 0xE4, 0xB8, 0xAD}), teUTF8, false},
      {"le", B({0x61, 0, 0x62, 0}), teUnicode16LE, false},
      {"be", B({0, 0x61, 0, 0x62}), teUnicode16BE, false},
      {"ascii", B({'[', '{', '}', ']'}), teAnsi, false},
      {"two-byte sequences only", B({0xC4, 0xE3, 0xBA, 0xC3}), teAnsi, false},
      {"lone continuation", B({0x61, 0x80, 0x61}), teAnsi, false},
      // Sequences cut off by the end count as invalid and never read past the data.
      {"cut three-byte", B({0x61, 0xE4, 0xB8}), teAnsi, false},
      {"cut four-byte", B({0x61, 0x62, 0xF0, 0x9F, 0x98}), teAnsi, false},
      {"cut six-byte", B({0x61, 0xFC, 0x80}), teAnsi, false},
  };
  for (auto& c : cases) {
    // Copy into an exact-size heap block so AddressSanitizer sees any overread.
    std::unique_ptr<char[]> exact(new char[c.bytes.size() ? c.bytes.size() : 1]);
    std::memcpy(exact.get(), c.bytes.data(), c.bytes.size());
    bool bom = !c.bom;
    EXPECT_EQ(DetectTextEncoding(exact.get(), int64_t(c.bytes.size()), bom), c.enc) << c.name;
    EXPECT_EQ(bom, c.bom) << c.name;
  }
}

TEST(AnsiCodePage, GbkRoundTripsAndReplacements) {
  Bytes gbk = AnsiEncode(kChinese);
  EXPECT_EQ(gbk.size(), 22u);  // two bytes per Chinese character
  EXPECT_EQ(Bytes(gbk.substr(0, 2)), B({0xCA, 0xE9}));  // 书
  EXPECT_EQ(AnsiDecode(gbk), kChinese);
  EXPECT_EQ(AnsiBytesToString(gbk.data(), int64_t(gbk.size())), kChinese);
  EXPECT_EQ(AnsiEncode(u"abc"), "abc");
  // Characters outside the code page and lone surrogates become '?'.
  EXPECT_EQ(AnsiEncode(u"a\U0001F600b"), "a?b");
  EXPECT_EQ(AnsiEncode(String{u'a', 0xD800, u'b'}), "a?b");
  // Invalid and truncated bytes decode to U+FFFD, never fail.
  EXPECT_EQ(AnsiDecode(B({0x61, 0xFF, 0x62})), u"a\uFFFDb");
  EXPECT_EQ(AnsiDecode(B({0x61, 0xCA})), u"a\uFFFD");
  EXPECT_EQ(AnsiDecode(Bytes()), u"");
}

// The "ANSI" page is read as GB18030: its four-byte sequences (characters
// outside the BMP, and BMP characters GBK lacks) decode; writing stays GBK.
TEST(AnsiCodePage, Gb18030FourByteSequences) {
  struct Case {
    const char* Name;
    Bytes In;
    String Out;
  };
  const Case cases[] = {
      {"U+20000", B({0x95, 0x32, 0x82, 0x36}), u"\U00020000"},
      {"U+3400 (not in GBK)", B({0x81, 0x39, 0xEE, 0x39}), u"\u3400"},
      {"U+10FFFF", B({0xE3, 0x32, 0x9A, 0x35}), u"\U0010FFFF"},
      {"mixed", B({'a', 0x95, 0x32, 0x82, 0x36, 0xD6, 0xD0, 'b'}), u"a\U00020000\u4E2Db"},
      {"euro byte of the code page", B({0x80}), u"\u20AC"},
      {"cut at the end", B({'a', 0x95, 0x32, 0x82}), u"a\uFFFD"},
      {"broken in the middle", B({0x95, 0x32, ' ', 'z'}), u"\uFFFD2 z"},
  };
  for (const Case& c : cases) EXPECT_EQ(AnsiDecode(c.In), c.Out) << c.Name;
  // Writing is GBK: what it lacks becomes '?'.
  EXPECT_EQ(AnsiEncode(u"a\U00020000\u3400b\u20AC"), "a??b\x80");
}

// GB18030 is read as a superset of the code page: every two-byte sequence
// GBK (CP936) reads gives the same character, and writes back as itself.
TEST(AnsiCodePage, GbkSequencesReadAsBefore) {
  iconv_t gbk = iconv_open("UTF-16LE", "CP936");
  ASSERT_NE(gbk, reinterpret_cast<iconv_t>(-1));
  int read = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const Bytes in = B({lead, trail});
      char16_t unit[4];
      char* i = const_cast<char*>(in.data());
      char* o = reinterpret_cast<char*>(unit);
      size_t il = 2, ol = sizeof unit;
      iconv(gbk, nullptr, nullptr, nullptr, nullptr);
      if (iconv(gbk, &i, &il, &o, &ol) == size_t(-1)) continue;
      ++read;
      const String expected(unit, (sizeof unit - ol) / 2);
      EXPECT_EQ(AnsiDecode(in), expected) << std::hex << lead << " " << trail;
      EXPECT_EQ(AnsiEncode(expected), in) << std::hex << lead << " " << trail;
    }
  }
  iconv_close(gbk);
  EXPECT_GT(read, 21000);
}

TEST(Utf8, EncodeAndDecode) {
  String s = u"A\u00E9中\U0001F600";
  Bytes u = EncodeUTF8(s);
  EXPECT_EQ(u, "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(DecodeUTF8(u), s);
  EXPECT_EQ(EncodeUTF8(String{0xDC00}), "\xEF\xBF\xBD");  // lone surrogate
  // The lenient conversion replaces each bad byte; cut sequences too.
  EXPECT_EQ(DecodeUTF8(Bytes("a\x80z")), u"a\uFFFDz");
  EXPECT_EQ(DecodeUTF8(Bytes("a\xE4\xB8")), u"a\uFFFD\uFFFD");
  EXPECT_EQ(DecodeUTF8(Bytes("\xC0\xAF")), u"\uFFFD\uFFFD");  // overlong
  String longAscii(1000, u'q');
  EXPECT_EQ(DecodeUTF8(EncodeUTF8(longAscii + u"中" + longAscii)), longAscii + u"中" + longAscii);
}

TEST(Utf8, OwnDecoderFollowsTheBitLayoutAndStopsAtTheEnd) {
  EXPECT_EQ(DecodeUTF8Own("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", 10), u"a\u00E9中\U0001F600");
  try {
    DecodeUTF8Own("ab\x80", 3);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"无效的UTF8字符:128");
  }
  // Cut sequences end the decoding; exact-size buffers show any overread.
  for (Bytes cut : {Bytes("x\xE4\xB8"), Bytes("x\xF0\x9F"), Bytes("x\xFC\x80\x80")}) {
    std::unique_ptr<char[]> exact(new char[cut.size()]);
    std::memcpy(exact.get(), cut.data(), cut.size());
    EXPECT_EQ(DecodeUTF8Own(exact.get(), int64_t(cut.size())), u"x");
  }
  // Five- and six-byte forms consume their bytes and yield one replacement.
  EXPECT_EQ(DecodeUTF8Own("\xF8\x80\x80\x80\x80z", 6), u"\uFFFDz");
  EXPECT_EQ(DecodeUTF8Own("\xFC\x80\x80\x80\x80\x80z", 7), u"\uFFFDz");
}

TEST(Utf8, StrictDecoderRejectsAnyInvalidSequence) {
  EXPECT_EQ(UTF8BytesToString("a\xE4\xB8\xAD", 4), u"a中");
  for (Bytes bad : {Bytes("a\x80"), Bytes("\xE4\xB8"), Bytes("\xC0\xAF"), Bytes("\xED\xA0\x80"),
                    Bytes("\xF5\x80\x80\x80"), Bytes("\xE4\x41\xAD")}) {
    EXPECT_EQ(UTF8BytesToString(bad.data(), int64_t(bad.size())), u"") << bad;
  }
}

TEST(LoadText, ByteOrderMarksOverrideTheCallersEncoding) {
  struct Case {
    const char* name;
    Bytes bytes;
    TTextEncoding given;
    String text;
  } cases[] = {
      {"BE bom", B({0xFE, 0xFF, 0, 0x41}), teAnsi, u"A"},
      {"LE bom", B({0xFF, 0xFE, 0x41, 0}), teUTF8, u"A"},
      {"utf8 bom", Bytes("\xEF\xBB\xBF\xE4\xB8\xAD"), teAnsi, u"中"},
      {"bom only", Bytes("\xEF\xBB\xBF"), teUnknown, u""},
      {"ascii auto", Bytes("[1]"), teAuto, u"[1]"},
      {"gbk auto", AnsiEncode(kChinese), teAuto, kChinese},
      {"utf8 auto", EncodeUTF8(kChinese), teUnknown, kChinese},
      {"le no bom", B({0x61, 0, 0x62, 0}), teUnknown, u"ab"},
      {"be no bom", B({0, 0x61, 0, 0x62}), teUnknown, u"ab"},
      {"explicit LE odd length", B({0x61, 0, 0x62}), teUnicode16LE, u"a"},
      {"empty", Bytes(), teUTF8, u""},
  };
  for (auto& c : cases) {
    TMemoryStream m(c.bytes);
    EXPECT_EQ(LoadTextW(m, c.given), c.text) << c.name;
  }
}

TEST(LoadText, ReadsFromTheStreamPosition) {
  TMemoryStream m(Bytes("xx[1]"));
  m.SetPosition(2);
  EXPECT_EQ(LoadTextW(m, teAuto), u"[1]");
}

TEST(LoadText, NarrowFormConvertsToTheCodePage) {
  Bytes gbk = AnsiEncode(kChinese);
  struct Case {
    const char* name;
    Bytes bytes;
    TTextEncoding given;
    Bytes expect;
  } cases[] = {
      {"utf8 auto", EncodeUTF8(kChinese), teAuto, gbk},
      {"utf8 bom explicit", Bytes("\xEF\xBB\xBF") + EncodeUTF8(kChinese), teUTF8, gbk},
      {"utf8 bom too short", Bytes("\xEF\xBB\xBF"), teUTF8, Bytes()},
      {"ansi raw", gbk, teAnsi, gbk},
      {"le bom explicit", B({0xFF, 0xFE, 0x41, 0}), teUnicode16LE, "A"},
      {"be explicit never has bom", B({0, 0x41, 0, 0x42}), teUnicode16BE, "AB"},
  };
  for (auto& c : cases) {
    TMemoryStream m(c.bytes);
    EXPECT_EQ(LoadTextA(m, c.given), c.expect) << c.name;
  }
}

TEST(SaveText, MarksAndByteOrders) {
  TMemoryStream le;
  SaveTextW(le, u"A中", true);
  EXPECT_EQ(le.Data(), B({0xFF, 0xFE, 0x41, 0, 0x2D, 0x4E}));
  TMemoryStream be;
  SaveTextWBE(be, u"A中", true);
  EXPECT_EQ(be.Data(), B({0xFE, 0xFF, 0, 0x41, 0x4E, 0x2D}));
  TMemoryStream raw;
  SaveTextA(raw, EncodeUTF8(u"中"), true, true);
  EXPECT_EQ(raw.Data(), Bytes("\xEF\xBB\xBF\xE4\xB8\xAD"));
  TMemoryStream conv;
  SaveTextA(conv, AnsiEncode(u"中"), false, false);
  EXPECT_EQ(conv.Data(), EncodeUTF8(u"中"));
  TMemoryStream plain;
  WriteAnsiBytes(plain, Bytes("ab"));
  EXPECT_EQ(plain.Data(), "ab");
  // What is saved loads back the same in every form.
  for (bool bom : {false, true}) {
    TMemoryStream a, b;
    SaveTextW(a, kChinese, bom);
    SaveTextWBE(b, kChinese, bom);
    a.SetPosition(0);
    b.SetPosition(0);
    EXPECT_EQ(LoadTextW(a, teUnicode16LE), kChinese);
    EXPECT_EQ(LoadTextW(b, teUnicode16BE), kChinese);
  }
}

TEST(SwapByteOrder, SwapsEveryUnitAndLeavesAnOddTail) {
  Bytes b = B({1, 2, 3, 4, 5});
  SwapByteOrder(b.data(), int64_t(b.size()));
  EXPECT_EQ(b, B({2, 1, 4, 3, 5}));
}
