// The lenient parser: syntax accepted and refused, numbers, escapes, error
// reports, hostile input (truncated, deeply nested) and date text.
#include <cmath>
#include <cstring>

#include "JsonTestUtil.h"

using Parser = JsonTest;

namespace {

// Compact text of what parsing In into a fresh object/array gives, or the error.
std::string ParsedArray(const char16_t* in) {
  std::unique_ptr<JSONBase> a;
  try {
    a.reset(JSONBase::Parser(in, true));
  } catch (const Exception& e) {
    return "ERR " + ToUtf8(e.Message());
  }
  return ToUtf8(a->ToString(0, false));
}

std::string InnerMessage(const std::string& report) {
  // "第L行第C列: <msg> \r\n行: <line>"
  size_t a = report.find(": ");
  size_t b = report.find(" \r\n");
  if (a == std::string::npos || b == std::string::npos) return report;
  return report.substr(a + 2, b - a - 2);
}

}  // namespace

TEST_F(Parser, ShortTextLeavesTheContainerAlone) {
  JSONObject o;
  o.Put(u"keep", int32_t(1));
  EXPECT_FALSE(o.Parse(u"", false));
  EXPECT_FALSE(o.Parse(u"{", false));
  EXPECT_EQ(o.Count(), 1);
  EXPECT_TRUE(o.Parse(u"{}", false));
  EXPECT_EQ(o.Count(), 0);
}

TEST_F(Parser, LenientSyntax) {
  struct Case {
    const char16_t* in;
    const char* out;
  } cases[] = {
      {u"[1,2,]", "[1,2]"},
      {uR"({"a":1,})", R"({"a":1})"},
      {uR"(["x" "y"])", R"(["x","y"])"},
      {uR"([true false null {} []])", "[true,false,null,{},[]]"},
      {u"{a:1}", R"({"a":1})"},
      {u"{ a : 1 }", R"({"a ":1})"},
      {u"{'a':'b'}", R"({"a":"b"})"},
      {uR"(["a""b"])", R"(["a\"b"])"},
      {uR"(['it''s'])", R"(["it's"])"},
      {uR"([""])", R"([""])"},
      {u"// lead\n/* block */ [1]", "{\"\":1}"},  // Parser picks by the first character
      {u"{ // c\n \"a\":1, /* d */ \"b\":2}", R"({"a":1,"b":2})"},
      {u"[True, FALSE, Null]", "[true,false,null]"},
      {u"[1.0, 1e3, -0, 2.0]", "[1,1000,0,2]"},
      {u"[$FF, 0x1F, &10, -5]", "[255,31,16,-5]"},
      {u"[1.5]", "[1.5]"},
      {u"[ 1 \r\n , 2 ]", "[1,2]"},
      {u"\u3000[1]\u3000", "[1]"},
      {uR"(["\u4e2d\u6587", "\ud83d\ude00", "\x", "\/"])", "[\"中文\",\"😀\",\"x\",\"/\"]"},
      {uR"(["a\tb\n\"\\"])", R"(["a\tb\n\"\\"])"},
      {u"[1] trailing", "[1]"},
  };
  for (const Case& c : cases) EXPECT_EQ(ParsedArray(c.in), c.out) << U8(c.in);
}

TEST_F(Parser, SyntaxErrors) {
  struct Case {
    const char16_t* in;
    const char* msg;
  } cases[] = {
      {u"[1 2]", "当前内容不是有效的JSON字符串."},
      {u"[1, // c\n 2]", "当前内容不是有效的JSON字符串."},
      {u"[nullx]", "当前内容不是有效的JSON字符串."},
      {uR"(["abc)", "当前内容不是有效的JSON字符串."},
      {u"[1,", "当前内容不是有效的JSON字符串."},
      {u"x", "当前位置需要Json结束字符\",]}\"."},
      {u"/x [1]", "无法识别的注释符, 注释必需以//或/**/包括."},
      {uR"({"a" 1})", "Json结束名称未正确结束."},
      {u"{\"a\":1, // c\n}", "Json结束名称未正确结束."},
      {u"{\"a\":1 // c\n}", "当前内容不是有效的JSON字符串."},
      {uR"(["\u12G4"])", "当前位置应该是 \"0-9A-Fa-f\", 而不是 \"u12G\"."},
      {uR"(["\u12)", "当前位置应该是 \"0-9A-Fa-f\", 而不是 \"u12\"."},
      {uR"(["abc\)", "当前内容不是有效的JSON字符串."},
  };
  for (const Case& c : cases) {
    std::string got = ParsedArray(c.in);
    ASSERT_EQ(got.rfind("ERR ", 0), 0u) << U8(c.in) << " gave " << got;
    EXPECT_EQ(InnerMessage(got.substr(4)), c.msg) << U8(c.in);
  }
}

TEST_F(Parser, StrictModeRefusesTheLenientForms) {
  StrictJson = true;
  struct Case {
    const char16_t* in;
    const char* msg;
  } cases[] = {
      {u"[0x1F]", "当前内容不是有效的JSON字符串."},
      {u"['a']", "严格栻上JSON字符串必需以\"开始。"},
      {u"/* c */ [1]", "严格模式下不支持注释, 要解析包括注释的JSON内容, 请将StrictJson变量设置为False."},
      {u"{a:1}", "Json结点名称应以'\"'字符开始."},
      {u"[1] x", "期望EOF: "},
      {uR"(["\x"])", "当前位置应该是 \"btfrn\"u'/\", 而不是 \"x\"]\"."},
  };
  for (const Case& c : cases) {
    std::string got = ParsedArray(c.in);
    ASSERT_EQ(got.rfind("ERR ", 0), 0u) << U8(c.in) << " gave " << got;
    EXPECT_EQ(InnerMessage(got.substr(4)), c.msg) << U8(c.in);
  }
  EXPECT_EQ(ParsedArray(uR"({"a":[1,"x"]}  )"), R"({"a":[1,"x"]})");
}

TEST_F(Parser, PositionReportGivesLineColumnAndLine) {
  JSONObject o;
  EXPECT_EQ(ErrorOf([&] { o.Parse(uR"({"a" 1})"); }),
            "第1行第6列: Json结束名称未正确结束. \r\n行: {\"a\" 1}");
  EXPECT_EQ(ErrorOf([&] { o.Parse(u"{\n  \"a\": 1,\n  \"b\" 2\r\n}"); }),
            "第3行第7列: Json结束名称未正确结束. \r\n行:   \"b\" 2");
  // A surrogate pair counts as one column.
  EXPECT_EQ(ErrorOf([&] { o.Parse(u"{\"😀\" 1}"); }),
            "第1行第6列: Json结束名称未正确结束. \r\n行: {\"😀\" 1}");
  // An unclosed string is reported at the end of the text.
  EXPECT_EQ(ErrorOf([&] { o.Parse(uR"({"a":"xyz)"); }),
            "第1行第10列: 当前内容不是有效的JSON字符串. \r\n行: {\"a\":\"xyz");
}

TEST_F(Parser, LongFailingLineIsCut) {
  String line = u"[" + String(300, u'1') + u" x]";
  JSONArray a;
  std::string err = ErrorOf([&] { a.Decode(line); });
  std::string expectLine = "[" + std::string(199, '1') + "...";
  EXPECT_NE(err.find("\r\n行: " + expectLine), std::string::npos) << err;
  EXPECT_EQ(err.substr(err.size() - 3), "...");
}

TEST_F(Parser, NumbersBeyondSixtyFourBitsAreNotWrapped) {
  JSONArray a;
  a.Decode(String(u"[9223372036854775807, -9223372036854775808, 12345678901234567890, "
                  u"0.1234567890123456789012]"));
  EXPECT_EQ(a[0]->Type(), jdtInteger);
  EXPECT_EQ(a.GetInt64(0), INT64_MAX);
  EXPECT_EQ(a[1]->Type(), jdtInteger);
  EXPECT_EQ(a.GetInt64(1), INT64_MIN);
  EXPECT_EQ(a[2]->Type(), jdtFloat);
  EXPECT_NEAR(a.GetDouble(2), 1.2345678901234567e19, 1e5);
  EXPECT_NEAR(a.GetDouble(3), 0.12345678901234568, 1e-15);
  // More digits than the writer keeps: the value in extended precision, and the text as read.
  EXPECT_EQ(a[3]->ValueSize(), 10u + 2 * 24);
  EXPECT_EQ(a[3]->AsFloat(), 0.1234567890123456789012L);
  EXPECT_EQ(U8(a[3]->AsString()), "0.1234567890123456789012");
  EXPECT_EQ(U8(a[2]->AsString()), "12345678901234567890");
}

TEST_F(Parser, HostileExponentChainsStayBounded) {
  String s = u"[1";
  for (int i = 0; i < 20000; ++i) s += u"e1";
  s += u"]";
  JSONArray a;
  EXPECT_FALSE(a.TryParse(s));  // the rest of the chain is text after a number
}

TEST_F(Parser, DeepNestingFailsCleanly) {
  for (const char16_t* unit : {u"[", u"{\"a\":"}) {
    String deep;
    for (int i = 0; i < 100000; ++i) deep += unit;
    JSONObject o;
    std::string err = ErrorOf([&] { o.Decode(deep); });
    EXPECT_NE(err.find("JSON嵌套层次超过了允许的最大层数."), std::string::npos) << err.substr(0, 80);
    EXPECT_FALSE(o.TryParse(deep));
    JSONArray a;
    EXPECT_FALSE(a.TryParse(deep));
  }
  // The limit itself still parses; one level more does not.
  String ok = String(kJsonMaxDepth, u'[') + String(kJsonMaxDepth, u']');
  JSONArray a;
  EXPECT_TRUE(a.TryParse(ok));
  EXPECT_EQ(a.ToString(0, false), ok);
  String over = u"[" + ok + u"]";
  EXPECT_FALSE(a.TryParse(over));
}

TEST_F(Parser, EveryTruncationFailsOrParsesWithoutHarm) {
  const String full =
      uR"({"bookSourceName":"书 \"源\"", 'x': [1, 2.5e-3, $ff, true, null, {"k":"\u4e2dv"}],)"
      uR"( /* c */ "y": -0.5, z: "a\\b" })";
  for (size_t n = 0; n <= full.size(); ++n) {
    String part = full.substr(0, n);
    JSONObject o;
    bool ok = o.TryParse(part);
    if (n == full.size()) {
      EXPECT_TRUE(ok);
    }
    JSONObject p;
    try {
      p.Decode(part);
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message().rfind(u"第1行第", 0), 0u) << U8(e.Message());
    }
    // A partly read tree is still a sound tree.
    (void)p.ToString(0, false);
    // The same bytes given by length, with garbage right after them.
    String padded = part + u"\"}]garbage";
    JSONObject q;
    bool ok2 = q.TryParse(padded.data(), int64_t(part.size()));
    EXPECT_EQ(ok, ok2) << n;
  }
}

TEST_F(Parser, TryParseKeepsWhatWasReadAndThrowsNothing) {
  JSONArray a;
  EXPECT_FALSE(a.TryParse(u"[1, \"two\", {\"x\": 3}, bad]"));
  EXPECT_EQ(U8(a.ToString(0, false)), R"([1,"two",{"x":3}])");
  JSONObject o;
  EXPECT_FALSE(o.TryParse(u"{\"a\": {\"b\": [1, 2"));
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"a":{"b":[1,2]}})");
  EXPECT_FALSE(o.TryParse(u"[\"\\u12\"]"));
}

TEST_F(Parser, LengthDelimitsTheText) {
  const char16_t buf[] = u"[1][2]";
  JSONArray a;
  a.Decode(buf, 3);
  EXPECT_EQ(U8(a.ToString(0, false)), "[1]");
  a.Decode(buf, -1);
  EXPECT_EQ(U8(a.ToString(0, false)), "[1]");
  // A NUL inside the length ends the text there.
  const char16_t z[] = {u'[', u'7', u']', 0, u'x', u'x', 0};
  a.Decode(z, 6);
  EXPECT_EQ(U8(a.ToString(0, false)), "[7]");
}

TEST_F(Parser, IgnoreZeroBlanksEverythingFromTheFirstNul) {
  String s = u"{\"a\":1}";
  s.push_back(0);
  s += u"junk";
  JSONObject o;
  EXPECT_TRUE(o.Parse(s, true));
  EXPECT_EQ(o.GetInt64(u"a"), 1);
  StrictJson = true;
  EXPECT_NE(ErrorOf([&] { o.Parse(s, true); }), "<no error>");  // the junk is now text
  EXPECT_TRUE(o.Parse(s, false));
}

TEST_F(Parser, ArrayBodyReadIntoAnObjectAndUnknownArrays) {
  JSONObject o;
  o.Decode(String(u"[1, 2]"));
  ASSERT_EQ(o.Count(), 2);
  EXPECT_EQ(U8(o[0]->Name()), "");
  JSONArray a;
  a.Decode(String(uR"({"k": 1})"));
  EXPECT_EQ(U8(a[0]->Name()), "k");
  EXPECT_EQ(U8(a.ToString(0, false)), R"(["k":1])");
  // An unnamed array below an object takes its body into "unknown".
  JSONObject u;
  u.Decode(String(uR"({"": [1, 2]})"));
  JSONArray* inner = u.GetJsonArray(u"");
  ASSERT_NE(inner, nullptr);
  ASSERT_EQ(inner->Count(), 1);
  EXPECT_EQ(U8(inner->ToString(0, false)), R"(["unknown":[1,2]])");
}

TEST_F(Parser, ParsedTreeHasSoundLinks) {
  JSONArray a;
  a.Decode(String(uR"([{"x": {"y": [1]}}, {"z": 2}])"));
  JSONObject* first = a.GetJsonObject(0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Parent(), &a);
  JSONObject* x = first->GetJsonObject(u"x");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->Parent(), first);
  EXPECT_EQ(U8(x->Name()), "x");
  EXPECT_EQ(x->GetJsonArray(u"y")->Parent(), x);
  EXPECT_EQ(a.GetJsonObject(1)->ItemIndex(), 1);
  // Parsing again into the same root replaces everything.
  a.Decode(String(u"[3]"));
  EXPECT_EQ(U8(a.ToString(0, false)), "[3]");
}

TEST_F(Parser, ParserFamily) {
  std::unique_ptr<JSONBase> p(JSONBase::Parser(u"  [1]", true));
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->IsJSONArray());
  p.reset(JSONBase::Parser(u"{\"a\":1}", true));
  EXPECT_TRUE(p->IsJSONObject());
  EXPECT_EQ(JSONBase::Parser(u"[1 2]", false), nullptr);
  EXPECT_NE(ErrorOf([] { delete JSONBase::Parser(u"[1 2]", true); }), "<no error>");
  EXPECT_EQ(ErrorOf([] { delete JSONBase::Parser(u"   ", 3, true); }),
            "当前内容不是有效的JSON字符串.");
  EXPECT_EQ(JSONBase::Parser(u"   ", 3, false), nullptr);
  EXPECT_EQ(JSONBase::ParseObject(u"{bad", false), nullptr);
  EXPECT_EQ(JSONBase::ParseArray(u"[1,", false), nullptr);
  std::unique_ptr<JSONArray> arr(JSONBase::ParseArray(u"[1,2]", true));
  EXPECT_EQ(arr->Count(), 2);
  TMemoryStream ms(Bytes("\xEF\xBB\xBF[\"\xE4\xB8\xAD\"]"));
  p.reset(JSONBase::Parser(ms, true));
  ASSERT_TRUE(p);
  EXPECT_EQ(U8(p->ToString(0, false)), "[\"中\"]");
}

TEST_F(Parser, PutJsonByType) {
  JSONObject o;
  o.PutJSON(u"obj", u"{\"x\":1}");
  o.PutJSON(u"arr", u"[1,2]");
  o.PutJSON(u"num", u"12");
  o.PutJSON(u"txt", u"plain words");
  o.PutJSON(u"s", u"12", jdtString);
  o.PutJSON(u"i", u"-7", jdtInteger);
  o.PutJSON(u"f", u"1.25", jdtFloat);
  o.PutJSON(u"b", u"TRUE", jdtBoolean);
  o.PutJSON(u"b0", u"0", jdtBoolean);
  o.PutJSON(u"d", u"2019-05-01", jdtDateTime);
  o.PutJSON(u"o", u"[true]", jdtObject);
  o.PutJSON(u"n", u"whatever", jdtNull);
  EXPECT_EQ(U8(o.ToString(0, false)),
            R"({"obj":{"x":1},"arr":[1,2],"num":12,"txt":"plain words","s":"12","i":-7,)"
            R"("f":1.25,"b":true,"b0":false,"d":"2019-05-01","o":[true],"n":null})");
  EXPECT_EQ(o.GetItem(u"i")->ValueSize(), 4u);
  EXPECT_EQ(o.GetItem(u"f")->ValueSize(), 10u);
  EXPECT_EQ(o.GetJsonArray(u"o")->Parent(), &o);
  EXPECT_EQ(ErrorOf([&] { o.PutJSON(u"e", u"12x", jdtInteger); }),
            "'12x' is not a valid integer value");
  EXPECT_EQ(o.GetItem(u"e")->Type(), jdtUnknown);
  EXPECT_EQ(ErrorOf([&] { o.PutJSON(u"e", u"soon", jdtDateTime); }),
            "\"soon\"不是一个有效的日期时间值.");
  EXPECT_EQ(ErrorOf([&] { o.PutJSON(u"e", u"x", jdtObject); }), "x 不是一个有效的JSON对象定义.");
  // A failed container keeps the part read and adds the text as a string.
  JSONObject p;
  p.PutJSON(u"k", u"{\"a\":1,");
  EXPECT_EQ(U8(p.ToString(0, false)), R"({"k":{"a":1},"k":"{\"a\":1,"})");
  JSONArray a;
  a.AddJSON(u"[1]");
  EXPECT_EQ(U8(a.ToString(0, false)), "[[1]]");
}

TEST_F(Parser, DateTextRecognition) {
  struct Case {
    const char16_t* in;
    bool ok;
    double value;
  } cases[] = {
      {u"2019-05-01", true, 43586.0},
      {u"2019-05-01 08:30:15.250", true, 43586.0 + (8 * 3600 + 30 * 60 + 15.25) / 86400.0},
      {u"2019-05-01T08:30", true, 43586.0 + (8 * 60 + 30) / 1440.0},
      {u"2019-05-01 08", true, 43586.0 + 8 / 24.0},
      {u"08:30:15", true, (8 * 3600 + 30 * 60 + 15) / 86400.0},
      {u"08:30:15.5", true, (8 * 3600 + 30 * 60 + 15.005) / 86400.0},
      {u"08:30:15.1234", true, (8 * 3600 + 30 * 60 + 15.123) / 86400.0},
      {u"\"08:30\"", true, (8 * 60 + 30) / 1440.0},
      {u"/Date(1556699400000)/", true, 43586.0 + (8 * 60 + 30) / 1440.0},
      {u"/DATE( 1556699400000 +8 )/", true, 43586.0 + 0.5 / 24.0},
      {u"Wed, 01 May 2019 08:30:00 GMT", true, 43586.0 + (8 * 60 + 30) / 1440.0},
      {u"2019-13-01", false, 0},
      {u"2019-02-30", false, 0},
      {u"25:00", false, 0},
      {u"2019-05-01 25", false, 0},
      {u"2019-05-01abc", false, 0},
      {u"hello", false, 0},
  };
  for (const Case& c : cases) {
    double v = -1;
    bool ok = JsonParseDateText(c.in, v, true);
    EXPECT_EQ(ok, c.ok) << U8(c.in);
    if (ok && c.ok) {
      EXPECT_NEAR(v, c.value, 1e-9) << U8(c.in);
    }
  }
  double v;
  EXPECT_FALSE(JsonParseDateText(u"Wed, 01 May 2019 08:30:00 GMT", v, false));
  JsonDateInSeconds = true;
  ASSERT_TRUE(JsonParseDateText(u"/Date(1556699400)/", v, false));
  EXPECT_NEAR(v, 43586.0 + (8 * 60 + 30) / 1440.0, 1e-9);
}

TEST_F(Parser, WideScannersAgreeWithTheSimpleOnes) {
  // Decode(String) knows the text's end and scans eight units at a time;
  // Decode(p, -1) does not. Both must read every text the same way, with the
  // quote, backslash, blank run or NUL at every offset of a block.
  for (int k = 0; k < 20; ++k) {
    const String pad(size_t(k), u'x');
    const String texts[] = {
        u"[\"" + pad + u"\\\"q\", \"" + pad + u"\"]",
        u"[\"" + pad + u"\\u4e2d\"," + String(size_t(k), u' ') + u"1]",
        u"{\"" + pad + u"\":" + String(size_t(k), u'\n') + u"\t\u3000 2}",
        u"['" + pad + u"''" + pad + u"']",
        u"[\"" + pad + String(1, char16_t(0)) + u"\"]",
        u"[1," + String(size_t(k), u' ') + String(1, char16_t(0)) + u" 2]",
    };
    for (const String& t : texts) {
      JSONArray wide, simple;
      std::string e1 = ErrorOf([&] { wide.Decode(t); });
      std::string e2 = ErrorOf([&] { simple.Decode(t.c_str(), -1); });
      EXPECT_EQ(e1, e2) << U8(t);
      EXPECT_EQ(wide.ToString(0, true), simple.ToString(0, true)) << U8(t);
    }
  }
}

TEST_F(Parser, CaseSensitiveLookupInParsedDocuments) {
  JsonCaseSensitive = true;
  JSONObject o;
  o.Decode(String(u"{\"Name\": 1, \"name\": 2, \"名\": 3}"));
  EXPECT_EQ(o.GetInt64(u"name"), 2);
  EXPECT_EQ(o.GetInt64(u"Name"), 1);
  EXPECT_EQ(o.GetInt64(u"名"), 3);
  EXPECT_EQ(o.IndexOf(u"NAME"), -1);
  JsonCaseSensitive = false;
  EXPECT_EQ(o.GetInt64(u"NAME"), 1);
}

namespace {

std::vector<std::string> Texts(const std::vector<std::unique_ptr<JSONBase>>& AValues) {
  std::vector<std::string> out;
  for (const auto& v : AValues) out.push_back(U8(v->ToString(0, false)));
  return out;
}

}  // namespace

// Concatenated files and one object per line: every top-level array or object
// is read, in order; anything else after a value is an error with its place.
TEST_F(Parser, EveryTopLevelValueIsRead) {
  struct Case {
    const char16_t* Text;
    std::vector<std::string> Values;
  };
  const Case cases[] = {
      {u"[{\"a\":1},{\"a\":2}]\n[{\"a\":3}]\n", {"[{\"a\":1},{\"a\":2}]", "[{\"a\":3}]"}},
      {u"{\"a\":1}\n{\"a\":2}\r\n{\"a\":3}", {"{\"a\":1}", "{\"a\":2}", "{\"a\":3}"}},
      {u"  [1]{\"b\":2}[]{}", {"[1]", "{\"b\":2}", "[]", "{}"}},
      {u"[1] // one\n/* two */ [2]\n", {"[1]", "[2]"}},
      {u"\u3000{\"a\":[1,2]}\t", {"{\"a\":[1,2]}"}},
      {u"[1]\n\n\n", {"[1]"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    auto values = JSONBase::ParserValues(c.Text, true);
    EXPECT_EQ(Texts(values), c.Values);
    for (const auto& v : values) EXPECT_EQ(v->Parent(), nullptr);
  }
  // Parser itself still reads the first value alone.
  std::unique_ptr<JSONBase> first(JSONBase::Parser(String(u"[1]\n[2]"), true));
  EXPECT_EQ(U8(first->ToString(0, false)), "[1]");
}

TEST_F(Parser, AnythingElseAfterAValueIsAnError) {
  struct Case {
    String Text;
    const char* Place;
  };
  const Case cases[] = {
      {u"[1]\nxyz", "第2行第1列"},
      {u"[1] 2", "第1行第5列"},
      {u"[1],[2]", "第1行第4列"},
      {u"{\"a\":1}\n\"text\"", "第2行第1列"},
      {u"[1]\n[2]\n]", "第3行第1列"},
      {u"[1]\n[2", "第2行第3列"},
      {String(u"[1]\0[2]", 7), "第1行第4列"},
      {u"", "第1行第1列"},
      {u"   ", "第1行第4列"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    const std::string err = ErrorOf([&] { (void)JSONBase::ParserValues(c.Text, true); });
    EXPECT_EQ(err.rfind(c.Place, 0), 0u) << err;
    EXPECT_TRUE(JSONBase::ParserValues(c.Text, false).empty());
  }
  // NULs and blanks after the text's first NUL are no value.
  EXPECT_EQ(Texts(JSONBase::ParserValues(String(u"[1]\n\0\0 \0", 9), true)), std::vector<std::string>{"[1]"});
  // In strict mode comments between values are refused as anywhere else.
  StrictJson = true;
  EXPECT_EQ(Texts(JSONBase::ParserValues(u"[1]\n[2]", true)), (std::vector<std::string>{"[1]", "[2]"}));
  EXPECT_NE(ErrorOf([] { (void)JSONBase::ParserValues(u"[1] // x\n[2]", true); }), "<no error>");
}

// With a place for the junk, whole values before it stand and the junk's
// place is told; a first value that is not whole is still an error.
TEST_F(Parser, ValuesBeforeJunkStandWhenAskedFor) {
  struct Case {
    String Text;
    std::vector<std::string> Values;
    const char* Place;  // empty: no junk
  };
  const Case cases[] = {
      {u"[1]\nxyz", {"[1]"}, "第2行第1列"},
      {u"[1]\n[2]\n]", {"[1]", "[2]"}, "第3行第1列"},
      {u"[1]\n[2", {"[1]"}, "第2行第3列"},
      {u"[1]\n# note", {"[1]"}, "第2行第1列"},
      {u"[1] [2]", {"[1]", "[2]"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    TMemoryStream in;
    in.Data() = U8(c.Text);
    String junk;
    EXPECT_EQ(Texts(JSONBase::ParserValues(in, junk)), c.Values);
    EXPECT_EQ(U8(junk).rfind(c.Place, 0), 0u) << U8(junk);
    EXPECT_EQ(junk.empty(), std::string(c.Place).empty());
  }
  TMemoryStream broken;
  broken.Data() = "[1, {";
  String junk;
  EXPECT_NE(ErrorOf([&] { (void)JSONBase::ParserValues(broken, junk); }), "<no error>");
}

// The values share the parse's memory: each lives on alone, and so does a
// container taken out of one.
TEST_F(Parser, ValuesOutliveEachOther) {
  String text;
  for (int i = 0; i < 2000; ++i) text += u"{\"bookSourceUrl\":\"http://s" + IntToStr(i) + u".com\",\"n\":" + IntToStr(i) + u"}\n";
  auto values = JSONBase::ParserValues(text, true);
  ASSERT_EQ(values.size(), 2000u);
  EXPECT_EQ(U8(values[1999]->ToString(0, false)), "{\"bookSourceUrl\":\"http://s1999.com\",\"n\":1999}");
  values[0].reset();
  values.erase(values.begin());
  JSONArray holder;
  holder.Add(values[5].release());
  values.clear();
  EXPECT_EQ(U8(holder.ToString(0, false)), "[{\"bookSourceUrl\":\"http://s6.com\",\"n\":6}]");
}

TEST_F(Parser, ValuesOfAStreamInEveryEncoding) {
  const String text = u"[{\"名\":\"一\"}]\r\n[{\"名\":\"二\"}]";
  std::vector<Bytes> encoded = {EncodeUTF8(text), "\xEF\xBB\xBF" + EncodeUTF8(text), AnsiEncode(text)};
  Bytes le = "\xFF\xFE";
  for (char16_t c : text) {
    le.push_back(char(c & 0xFF));
    le.push_back(char(c >> 8));
  }
  encoded.push_back(le);
  for (const Bytes& b : encoded) {
    TMemoryStream s(b);
    EXPECT_EQ(Texts(JSONBase::ParserValues(s, true)),
              (std::vector<std::string>{"[{\"名\":\"一\"}]", "[{\"名\":\"二\"}]"}));
  }
  TMemoryStream bad(EncodeUTF8(u"[1]\nnot json"));
  EXPECT_EQ(ErrorOf([&] { (void)JSONBase::ParserValues(bad, true); }).rfind("第2行第1列", 0), 0u);
}
