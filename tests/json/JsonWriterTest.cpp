// The writer: layout, escaping, float/date/blob texts and its one error.
#include <cmath>
#include <limits>
#include <memory>

#include "JsonTestUtil.h"

using Writer = JsonTest;

TEST_F(Writer, TheExportOfTwoSourcesByteForByte) {
  JsonNameAfterSpace = true;
  JSONArray list;
  JSONObject* s = list.AddChildObject();
  s->SetString(u"bookSourceName", u"笔趣阁 \"新\"");
  s->SetBoolean(u"enable", true);
  s->SetInt64(u"weight", 0);
  list.AddChildObject();
  const std::string expect =
      "[\r\n"
      "    {\r\n"
      "        \"bookSourceName\": \"笔趣阁 \\\"新\\\"\",\r\n"
      "        \"enable\": true,\r\n"
      "        \"weight\": 0\r\n"
      "    },\r\n"
      "    {}\r\n"
      "]";
  EXPECT_EQ(U8(list.ToString(4, false)), expect);
}

TEST_F(Writer, CompactLayoutAndEmptyContainers) {
  JSONArray empty;
  EXPECT_EQ(U8(empty.ToString(4, false)), "[]");
  JSONObject o;
  EXPECT_EQ(U8(o.ToString(4, false)), "{}");
  o.AddChildArray(u"list");
  o.Put(u"n", int32_t(1));
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"list":[],"n":1})");
  JsonNameAfterSpace = true;
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"list": [],"n": 1})");
  EXPECT_EQ(U8(o.ToString(-3, false)), R"({"list": [],"n": 1})");
  EXPECT_EQ(U8(o.ToString(2, false)), "{\r\n  \"list\": [],\r\n  \"n\": 1\r\n}");
}

TEST_F(Writer, EscapingOfStrings) {
  struct Case {
    String in;
    bool esc;
    const char* out;
  } cases[] = {
      {u"中文", true, R"("\u4e2d\u6587")"},
      {u"中文", false, "\"中文\""},
      {u"a\tb", false, R"("a\tb")"},
      {String(1, char16_t(1)), false, R"("\u0001")"},
      {String(1, char16_t(0x1F)), false, R"("\u001f")"},
      {String(1, char16_t(7)) + String(1, char16_t(11)), false, R"("\a\v")"},
      {u"a/b", false, R"("a/b")"},
      {u"q\"b\\", false, R"("q\"b\\")"},
      {u"l1\r\nl2", false, R"("l1\r\nl2")"},
      {String(u"cut") + String(1, char16_t(0)) + u"gone", false, R"("cut")"},
      {String(1, char16_t(127)), true, R"("\u007f")"},
      {u"😀", true, R"("\ud83d\ude00")"},
      {u"0123456789abcdef\"0123456789", false, R"("0123456789abcdef\"0123456789")"},
  };
  for (const Case& c : cases) {
    JSONArray a;
    a.Add(StringView(c.in));
    std::string got = U8(a.ToString(0, c.esc));
    EXPECT_EQ(got, std::string("[") + c.out + "]") << U8(c.in);
  }
  JSONObject o;
  o.Put(u"名", StringView(u"值"));
  EXPECT_EQ(U8(o.ToString()), R"({"\u540d":"\u503c"})");
  EXPECT_EQ(U8(o.Value()), R"({"\u540d":"\u503c"})");
  TStringCatHelper b;
  JSONBase::CatJson(b, u"x\"中", true);
  EXPECT_EQ(U8(b.Value()), R"(x\"\u4e2d)");
}

TEST_F(Writer, NumbersRoundTrip) {
  JSONArray a;
  a.Decode(String(u"[2.0, 2.5, -17, 1e2]"));
  EXPECT_EQ(U8(a.ToString(0, false)), "[2,2.5,-17,100]");
  a.Clear();
  a.Add(2.5);
  a.Add(static_cast<int64_t>(INT64_MIN));
  EXPECT_EQ(U8(a.ToString(0, false)), "[2.5,-9223372036854775808]");
}

// A number its value cannot give back (beyond the range, or more digits than
// the writer's fifteen) is written as it was read; the others in the writer's form.
TEST_F(Writer, NumbersBeyondADoubleAreWrittenAsRead) {
  struct Case {
    const char* In;
    const char* Out;
  };
  const Case cases[] = {
      {"1e5000", "1e5000"},
      {"0e99999", "0e99999"},
      {"-1E5000", "-1E5000"},
      {"1e-5000", "1e-5000"},
      {"2.5e4933", "2.5e4933"},
      {"1e1e5000", "1e1e5000"},
      {"12345678901234567890123", "12345678901234567890123"},
      {"-9223372036854775809", "-9223372036854775809"},
      {"0.30000000000000004", "0.30000000000000004"},
      {"1.0000000000000000001", "1.0000000000000000001"},
      {"9223372036854775807", "9223372036854775807"},
      {"1234567890123456789", "1234567890123456789"},
      {"1e20", "1E20"},
      {"1.50", "1.5"},
      {"1e400", "1E400"},
      {"0.000", "0"},
      {"0x1F", "31"},
      {"-0", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.In);
    const String text = u"[{\"bookSourceUrl\":\"http://a.com\",\"a\":" + FromUtf8(c.In) + u"}]";
    std::unique_ptr<JSONBase> doc(JSONBase::Parser(text, true));
    const std::string expected = std::string("[{\"bookSourceUrl\":\"http://a.com\",\"a\":") + c.Out + "}]";
    EXPECT_EQ(U8(doc->ToString(0, false)), expected);
    TMemoryStream saved;
    doc->SaveToStream(saved, 4, teUTF8, false, false);
    saved.SetPosition(0);
    std::unique_ptr<JSONBase> again(JSONBase::Parser(saved, true));
    EXPECT_EQ(U8(again->ToString(0, false)), expected);
  }
  JSONArray read;
  read.Decode(String(u"[1e5000, -1e5000, 0e99999]"));
  EXPECT_EQ(read.GetFloat(0), std::numeric_limits<long double>::infinity());
  EXPECT_EQ(read.GetFloat(1), -std::numeric_limits<long double>::infinity());
  EXPECT_TRUE(std::isnan(read.GetFloat(2)));
  EXPECT_EQ(U8(read[0]->AsString()), "1e5000");
  // Copies keep the text.
  std::unique_ptr<JSONArray> copy(read.Clone());
  EXPECT_EQ(U8(copy->ToString(0, false)), "[1e5000,-1e5000,0e99999]");
  JSONArray other;
  other.AddNull()->CopyValue(read[2]);
  EXPECT_EQ(U8(other.ToString(0, false)), "[0e99999]");
}

// A value that is no finite number and has no text of its own (set by code)
// has no JSON form: writing it is refused, and a save leaves the old file.
TEST_F(Writer, InfinityAndNanFromCodeAreRefused) {
  for (long double v : {std::numeric_limits<long double>::infinity(), -std::numeric_limits<long double>::infinity(),
                        std::numeric_limits<long double>::quiet_NaN()}) {
    JSONObject o;
    o.Put(u"ok", int32_t(1));
    o.Put(u"bad", v);
    const std::string err = ErrorOf([&] { (void)o.ToString(0, false); });
    EXPECT_NE(err.find("bad"), std::string::npos) << err;
    TMemoryStream out;
    EXPECT_NE(ErrorOf([&] { o.SaveToStream(out, 0, teUTF8, false, false); }), "<no error>");
    EXPECT_NE(ErrorOf([&] { o.SaveToStream(out, 0, teUnicode16LE, false, false); }), "<no error>");
    JSONArray a;
    a.Add(double(v));
    EXPECT_NE(ErrorOf([&] { (void)a.ToString(4, true); }), "<no error>");
  }
}

TEST_F(Writer, FloatTexts) {
  const long double kNan = std::numeric_limits<long double>::quiet_NaN();
  const long double kInf = std::numeric_limits<long double>::infinity();
  struct Case {
    long double v;
    const char* out;
  } cases[] = {
      {0.5L, "0.5"},
      {2.0L, "2"},
      {1234567.891L, "1234567.891"},
      {0.0001L, "0.0001"},
      {0.00001L, "1E-5"},
      {1e20L, "1E20"},
      {1.0L / 3.0L, "0.333333333333333"},
      {-0.00123L, "-0.00123"},
      {123456789012345.0L, "123456789012345"},
      {1e15L, "1E15"},
      {1.5e-10L, "1.5E-10"},
      {0.0L, "0"},
      {kNan, "NAN"},
      {kInf, "INF"},
      {-kInf, "-INF"},
  };
  for (const Case& c : cases) EXPECT_EQ(U8(JsonFloatText(c.v)), c.out) << double(c.v);
  EXPECT_EQ(U8(JsonFloatText(static_cast<long double>(1.0 / 3.0))), "0.333333333333333");
}

TEST_F(Writer, FloatDigitsCut) {
  JsonFloatDigits = 2;
  EXPECT_EQ(U8(JsonFloatText(3.14159L)), "3.14");
  EXPECT_EQ(U8(JsonFloatText(2.5L)), "2.5");
  EXPECT_EQ(U8(JsonFloatText(2.001L)), "2");
  EXPECT_EQ(U8(JsonFloatText(-0.001L)), "0");
  EXPECT_EQ(U8(JsonFloatText(1.23456e-7L)), "1.23E-7");
  EXPECT_EQ(U8(JsonFloatText(1.001e20L)), "1E20");
}

TEST_F(Writer, DateTexts) {
  const double may1 = 43586.0;
  struct Case {
    double v;
    const char* out;
  } cases[] = {
      {may1, "2019-05-01"},
      {may1 + (8 * 60 + 30) / 1440.0, "2019-05-01 08:30:00.000"},
      {may1 + (8 * 3600 + 30 * 60 + 0.25) / 86400.0, "2019-05-01 08:30:00.250"},
      {(8 * 60 + 30) / 1440.0, "08:30:00.000"},
      {0, "1899-12-30"},
      {25569.0, "1970-01-01"},
      {2.0, "1900-01-01"},
  };
  for (const Case& c : cases) EXPECT_EQ(U8(JsonDateText(c.v)), c.out) << c.v;
  JSONObject o;
  o.PutDateTime(u"d", may1 + 0.5);
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"d":"2019-05-01 12:00:00.000"})");
  EXPECT_EQ(U8(o.GetString(u"d")), "2019-05-01 12:00:00.000");
  JsonDateAsJavaScript = true;
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"d":"/DATE(1556712000000)/"})");
  EXPECT_EQ(U8(o.GetString(u"d")), "2019-05-01 12:00:00.000");
  JsonTimeZone = 8;
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"d":"/DATE(1556683200000+8)/"})");
  JsonTimeZone = -5;
  JsonDateInSeconds = true;
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"d":"/DATE(1556730000-5)/"})");
}

TEST_F(Writer, BlobTexts) {
  JSONObject o;
  o.Put(u"b", Bytes("\x01\x02", 2));
  o.Put(u"e", Bytes());
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"b":"[blob]<[BS]AQI=>","e":""})");
  JsonBlobBase64 = false;
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"b":"[blob]<0102>","e":""})");
  EXPECT_EQ(U8(JsonBlobText("\xAB", 1)), "[blob]<AB>");
}

TEST_F(Writer, UnknownAndNullWriteNull) {
  JSONObject o;
  o.Add(u"u");
  o.Put(u"n", TJsonVariant::Null());
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"u":null,"n":null})");
}

TEST_F(Writer, UnnamedObjectMemberIsRefused) {
  JSONObject o;
  o.SetName(u"root");
  o.Put(u"a", int32_t(1));
  o.Put(u"", static_cast<JSONBase*>(new JSONObject()));
  EXPECT_EQ(ErrorOf([&] { o.ToString(0, false); }),
            "对象 root 的第 1 个子结点名称未赋值, 编码输出前必需赋值.");
  // An unnamed array member, or an unnamed object in an array, is fine.
  JSONObject p;
  p.Put(u"", static_cast<JSONBase*>(new JSONArray()));
  EXPECT_EQ(U8(p.ToString(0, false)), R"({"":[]})");
  JSONArray a;
  a.AddChildObject();
  EXPECT_EQ(U8(a.ToString(0, false)), "[{}]");
}

TEST_F(Writer, RecordTextOfContainersAndScalars) {
  JSONObject o;
  JSONObject* c = o.AddChildObject(u"c");
  c->Put(u"k", StringView(u"中"));
  o.Put(u"i", int32_t(3));
  EXPECT_EQ(U8(o.GetItem(u"c")->ToString()), R"({"k":"中"})");
  EXPECT_EQ(U8(o.GetItem(u"c")->ToString(0, true)), R"({"k":"\u4e2d"})");
  EXPECT_EQ(U8(o.GetItem(u"i")->ToString()), "3");
  EXPECT_EQ(U8(o.GetString(u"c")), R"({"k":"中"})");
}

TEST_F(Writer, WriteParseWriteIsStable) {
  JsonNameAfterSpace = true;
  const String text =
      u"[{\"a\":\"x\\ty\",\"n\":-1.5,\"o\":{\"l\":[1,true,null,\"\\u0001\"]}},{},[]]";
  JSONArray a;
  a.Decode(text);
  String once = a.ToString(4, false);
  JSONArray b;
  b.Decode(once);
  EXPECT_EQ(b.ToString(4, false), once);
  EXPECT_EQ(b.ToString(0, true), a.ToString(0, true));
}
