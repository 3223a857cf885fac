// TBookSourceItem: field access straight through to the JSON members and
// the group-list rules.
#include <gtest/gtest.h>

#include "app/uBookSourceBean.h"

namespace {

class BookSourceItem : public ::testing::Test {
 protected:
  // The program looks names up without regard to case.
  void SetUp() override {
    FSaved = JsonCaseSensitive;
    JsonCaseSensitive = false;
  }
  void TearDown() override { JsonCaseSensitive = FSaved; }

 private:
  bool FSaved = true;
};

std::string U8(StringView s) { return ToUtf8(s); }

}  // namespace

TEST_F(BookSourceItem, FieldKeysAreAlphabeticalAndComplete) {
  for (int i = 1; i < bsfFieldCount; ++i)
    EXPECT_LT(StringView(TBookSourceItem::FieldKeys[i - 1]), StringView(TBookSourceItem::FieldKeys[i]));
  EXPECT_EQ(U8(TBookSourceItem::FieldKeys[bsfBookSourceUrl]), "bookSourceUrl");
  EXPECT_EQ(U8(TBookSourceItem::FieldKeys[bsfRuleSearchUrl]), "ruleSearchUrl");
  EXPECT_EQ(U8(TBookSourceItem::FieldCaptions[bsfHttpUserAgent]), "浏览器模拟：(HttpUserAgent)");
}

TEST_F(BookSourceItem, FieldsReadAndWriteTheMembersWithoutACopy) {
  JSONObject o;
  o.Decode(String(u"{\"BookSourceUrl\": \"http://a\", \"bookSourceName\": \"甲\"}"));
  TBookSourceItem item(&o);
  EXPECT_EQ(U8(item.bookSourceUrl()), "http://a");
  EXPECT_EQ(U8(item.GetField(bsfBookSourceName)), "甲");
  EXPECT_EQ(U8(item.ruleSearchUrl()), "");
  EXPECT_EQ(o.Count(), 2);  // reading a missing field adds nothing
  item.bookSourceUrl(u"http://b");
  EXPECT_EQ(U8(o.GetString(u"bookSourceUrl")), "http://b");
  EXPECT_EQ(U8(o[0]->Name()), "BookSourceUrl");  // the stored name keeps its case
  item.SetField(bsfRuleSearchUrl, u"");
  ASSERT_EQ(o.Count(), 3);
  EXPECT_EQ(o[2]->Type(), jdtString);
  o.SetString(u"bookSourceName", u"乙");
  EXPECT_EQ(U8(item.bookSourceName()), "乙");
  for (int i = 0; i < bsfFieldCount; ++i) {
    item.SetField(i, IntToStr(i));
    EXPECT_EQ(item.GetField(i), IntToStr(i));
  }
}

TEST_F(BookSourceItem, TypedFields) {
  JSONObject o;
  o.Decode(String(u"{\"Enable\": true, \"serialNumber\": 4294967297, \"weight\": \"12\"}"));
  TBookSourceItem item(&o);
  EXPECT_TRUE(item.enable());
  EXPECT_EQ(item.serialNumber(), 1);  // low 32 bits of 2^32 + 1
  EXPECT_EQ(item.weight(), 12);
  item.enable(false);
  item.serialNumber(-1);
  item.weight(7);
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"Enable":false,"serialNumber":-1,"weight":7})");
  JSONObject empty;
  TBookSourceItem none(&empty);
  EXPECT_FALSE(none.enable());
  EXPECT_EQ(none.weight(), 0);
}

TEST_F(BookSourceItem, GroupListSplitting) {
  struct Case {
    const char16_t* text;
    std::vector<std::string> groups;
  } cases[] = {
      {u"", {}},
      {u"   ", {}},
      {u"A", {"A"}},
      {u"A,B;C:D，E；F", {"A", "B", "C", "D", "E", "F"}},
      {u" A , B ", {"A ", " B"}},
      {u"A;;B", {"A", "", "B"}},
      {u"A;", {"A"}},
      {u";A", {"", "A"}},
  };
  for (const Case& c : cases) {
    JSONObject o;
    o.SetString(u"bookSourceGroup", c.text);
    std::vector<std::string> got;
    for (const String& g : TBookSourceItem(&o).GetGroupList()) got.push_back(U8(g));
    EXPECT_EQ(got, c.groups) << U8(c.text);
  }
}

TEST_F(BookSourceItem, GroupOperations) {
  enum Op { Add, Remove, Replace };
  struct Case {
    const char16_t* before;  // nullptr: no member
    Op op;
    const char16_t* name;
    const char16_t* newName;
    const char16_t* after;  // nullptr: still no member
  } cases[] = {
      {nullptr, Add, u"失效", nullptr, u"失效"},
      {nullptr, Remove, u"失效", nullptr, nullptr},
      {nullptr, Replace, u"失效", u"X", nullptr},
      {u"   ", Add, u"X", nullptr, u"X"},
      {u"A,B", Add, u"失效", nullptr, u"A,B; 失效"},
      {u"A; 失效", Add, u"失效", nullptr, u"A; 失效"},
      {u" 失效 ", Add, u"失效", nullptr, u" 失效 "},
      {u"A，失效；B", Remove, u"失效", nullptr, u"A; B"},
      {u"失效", Remove, u"失效", nullptr, u""},
      {u"A , B", Remove, u"X", nullptr, u"A; B"},
      {u"A;;B", Remove, u"X", nullptr, u"A; ; B"},
      {u"A;", Remove, u"X", nullptr, u"A"},
      {u";A", Remove, u"X", nullptr, u"; A"},
      {u"ABC", Remove, u"abc", nullptr, u"ABC"},
      {u"A; B; A", Remove, u"A", nullptr, u"B"},
      {u"A; B", Replace, u"A", u"", u"B"},
      {u"A; B", Replace, u"A", u" C ", u"C; B"},
      {u"A; B", Replace, u"A", u"B", u"B; B"},
      {u"   ", Replace, u"A", u"B", u"   "},
  };
  for (const Case& c : cases) {
    JSONObject o;
    if (c.before) o.SetString(u"bookSourceGroup", c.before);
    TBookSourceItem item(&o);
    switch (c.op) {
      case Add:
        item.AddGroup(c.name);
        break;
      case Remove:
        item.RemoveGroup(c.name);
        break;
      case Replace:
        item.ReplaceGroup(c.name, c.newName);
        break;
    }
    std::string what = std::string(c.before ? U8(c.before) : "<none>") + " op " +
                       std::to_string(int(c.op)) + " " + U8(c.name);
    if (!c.after) {
      EXPECT_EQ(o.Count(), 0) << what;
    } else {
      ASSERT_EQ(o.Count(), 1) << what;
      EXPECT_EQ(U8(item.bookSourceGroup()), U8(c.after)) << what;
    }
  }
}
