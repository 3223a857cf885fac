#include "app/uBookSourceBean.h"

#include <cassert>

const char16_t* const TBookSourceItem::FieldKeys[bsfFieldCount] = {
    u"bookSourceGroup",     u"bookSourceName",        u"bookSourceUrl",
    u"httpUserAgent",       u"loginUrl",              u"ruleBookAuthor",
    u"ruleBookContent",     u"ruleBookKind",          u"ruleBookLastChapter",
    u"ruleBookName",        u"ruleBookUrlPattern",    u"ruleChapterList",
    u"ruleChapterName",     u"ruleChapterUrl",        u"ruleChapterUrlNext",
    u"ruleContentUrl",      u"ruleContentUrlNext",    u"ruleCoverUrl",
    u"ruleFindUrl",         u"ruleIntroduce",         u"ruleSearchAuthor",
    u"ruleSearchCoverUrl",  u"ruleSearchKind",        u"ruleSearchLastChapter",
    u"ruleSearchList",      u"ruleSearchName",        u"ruleSearchNoteUrl",
    u"ruleSearchUrl",
};

const char16_t* const TBookSourceItem::FieldCaptions[bsfFieldCount] = {
    u"分组名称：(bookSourceGroup)",
    u"书源名称：(bookSourceName)",
    u"书源URL：(bookSourceUrl)",
    u"浏览器模拟：(HttpUserAgent)",
    u"登录URL：(loginUrl)",
    u"作者规则：(ruleBookAuthor)",
    u"正文规则：(ruleBookContent)",
    u"分类规则：(ruleBookKind)",
    u"最新章节规则：(ruleBookLastChapter)",
    u"书名规则：(ruleBookName)",
    u"书籍详情URL正则：(ruleBookUrlPattern)",
    u"目录列表规则：(ruleChapterList)",
    u"章节名称规则：(ruleChapterName)",
    u"目录URL规则：(ruleChapterUrl)",
    u"目录下一页URL规则：(ruleChapterUrlNext)",
    u"正文章节URL规则：(ruleContentUrl)",
    u"正文下一页URL规则：(ruleContentUrlNext)",
    u"封面规则：(ruleCoverUrl)",
    u"发现规则：(ruleFindUrl)",
    u"简介规则：(ruleIntroduce)",
    u"搜索结果作者规则：(ruleSearchAuthor)",
    u"搜索结果封面规则：(ruleSearchCoverUrl)",
    u"搜索结果分类规则：(ruleSearchKind)",
    u"搜索结果最新章节规则：(ruleSearchLastChapter)",
    u"搜索结果列表规则：(ruleSearchList)",
    u"搜索结果书名规则：(ruleSearchName)",
    u"搜索结果书籍URL规则：(ruleSearchNoteUrl)",
    u"搜索地址：(ruleSearchUrl)",
};

namespace {

bool IsGroupSeparator(char16_t c) {
  return c == u',' || c == u';' || c == u':' || c == u'\uFF0C' || c == u'\uFF1B';
}

}  // namespace

String TBookSourceItem::GetField(int Index) const {
  assert(Index >= 0 && Index < bsfFieldCount);
  return FObject->GetString(FieldKeys[Index]);
}

void TBookSourceItem::SetField(int Index, StringView Value) {
  assert(Index >= 0 && Index < bsfFieldCount);
  FObject->SetString(FieldKeys[Index], Value);
}

std::vector<String> TBookSourceItem::GetGroupList() const {
  std::vector<String> list;
  const String text = Trim(bookSourceGroup());
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsGroupSeparator(text[i])) {
      list.emplace_back(text, start, i - start);
      start = i + 1;
    }
  }
  // A trailing separator leaves no final empty piece.
  if (start < text.size()) list.emplace_back(text, start);
  return list;
}

void TBookSourceItem::AddGroup(StringView Name) {
  const String current = bookSourceGroup();
  if (Trim(current).empty()) {
    bookSourceGroup(Name);
    return;
  }
  for (const String& g : GetGroupList())
    if (Trim(g) == Name) return;
  String text = current;
  text += u"; ";
  text += Name;
  bookSourceGroup(text);
}

void TBookSourceItem::RemoveGroup(StringView Name) {
  if (Trim(bookSourceGroup()).empty()) return;
  String text;
  bool first = true;
  for (const String& g : GetGroupList()) {
    String t = Trim(g);
    if (t == Name) continue;
    if (!first) text += u"; ";
    text += t;
    first = false;
  }
  bookSourceGroup(text);
}

void TBookSourceItem::ReplaceGroup(StringView Name, StringView NewName) {
  if (Trim(bookSourceGroup()).empty()) return;
  const String replacement = Trim(NewName);
  String text;
  bool first = true;
  for (const String& g : GetGroupList()) {
    String t = Trim(g);
    const String* item = &t;
    if (t == Name) {
      if (NewName.empty()) continue;
      item = &replacement;
    }
    if (!first) text += u"; ";
    text += *item;
    first = false;
  }
  bookSourceGroup(text);
}
