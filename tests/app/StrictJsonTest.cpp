// The standard grammar the JSON editor checks before saving.
#include <gtest/gtest.h>

#include "app/uStrictJson.h"
#include "json/KivJson.h"

namespace {

TEST(StrictJson, AcceptsTheStandardAndNamesTheFirstFault) {
  struct TCase {
    const char16_t* Text;
    int Line, Column;  // 0: standard
    const char16_t* Message;
  };
  const TCase cases[] = {
      {u"{}", 0, 0, u""},
      {u" \r\n[1, -0.5e+3, 0, \"a\\\"\\u00e9\\n\", true, false, null, {\"k\": []}] \n", 0, 0, u""},
      {u"\"only a text\"", 0, 0, u""},
      {u"{\"名\": \"书\\/源\"}", 0, 0, u""},
      {u"", 1, 1, u"内容意外结束，此处应有一个值"},
      {u"{\"a\": \"x\n\", \"b\": 1}", 1, 9, u"字符串中有未转义的换行或控制字符"},
      {u"{\r\n  \"a\": 1\r\n  \"b\": 2}", 3, 3, u"此处应有逗号或'}'"},
      {u"{\"a\": 1,}", 1, 9, u"最后一项之后多了逗号"},
      {u"[1, 2,]", 1, 7, u"最后一项之后多了逗号"},
      {u"{a: 1}", 1, 2, u"名称应是双引号括起的字符串"},
      {u"{'a': 1}", 1, 2, u"名称应是双引号括起的字符串"},
      {u"{\"a\" 1}", 1, 6, u"名称之后应有冒号"},
      {u"{\"a\": 'x'}", 1, 7, u"此处应有一个值（字符串须用双引号，true、false、null须小写）"},
      {u"[True]", 1, 2, u"此处应有一个值（字符串须用双引号，true、false、null须小写）"},
      {u"[01]", 1, 3, u"无效的数字"},
      {u"[1.]", 1, 4, u"无效的数字"},
      {u"[0x10]", 1, 3, u"此处应有逗号或']'"},
      {u"[\"\\x\"]", 1, 4, u"无效的转义序列"},
      {u"[\"\\u12g4\"]", 1, 7, u"\\u之后应有4个十六进制数字"},
      {u"{\"a\": 1} // note", 1, 10, u"值之后还有多余的内容"},
      {u"[\"open", 1, 7, u"字符串没有结束"},
      {u"{\"a\": [1, 2", 1, 12, u"内容意外结束，此处应有逗号或']'"},
      // A character outside the basic plane counts once in the column.
      {u"[\"\U0001F600\" x]", 1, 6, u"此处应有逗号或']'"},
  };
  for (const TCase& c : cases) {
    TJsonSyntaxIssue issue;
    const bool strict = IsStrictJson(c.Text, issue);
    SCOPED_TRACE(ToUtf8(c.Text));
    EXPECT_EQ(strict, c.Line == 0);
    if (c.Line == 0) continue;
    EXPECT_EQ(issue.Line, c.Line);
    EXPECT_EQ(issue.Column, c.Column);
    EXPECT_EQ(issue.Message, String(c.Message)) << ToUtf8(issue.Message);
  }
}

TEST(StrictJson, DeepNestingIsAFaultNotACrash) {
  String deep(size_t(kJsonMaxDepth) + 1, u'[');
  deep += String(size_t(kJsonMaxDepth) + 1, u']');
  TJsonSyntaxIssue issue;
  EXPECT_FALSE(IsStrictJson(deep, issue));
  EXPECT_EQ(issue.Message, u"嵌套层次太深");
  String fine(size_t(kJsonMaxDepth), u'[');
  fine += String(size_t(kJsonMaxDepth), u']');
  EXPECT_TRUE(IsStrictJson(fine, issue));
}

}  // namespace
