// TBookSourceItem: the typed view of one book-source JSONObject. It holds
// only the object reference; every read and write goes to the members.
#pragma once

#include <cstdint>
#include <vector>

#include "json/KivJson.h"

// Indexes into TBookSourceItem::FieldKeys (alphabetical order of the keys).
enum TBookSourceField {
  bsfBookSourceGroup,
  bsfBookSourceName,
  bsfBookSourceUrl,
  bsfHttpUserAgent,
  bsfLoginUrl,
  bsfRuleBookAuthor,
  bsfRuleBookContent,
  bsfRuleBookKind,
  bsfRuleBookLastChapter,
  bsfRuleBookName,
  bsfRuleBookUrlPattern,
  bsfRuleChapterList,
  bsfRuleChapterName,
  bsfRuleChapterUrl,
  bsfRuleChapterUrlNext,
  bsfRuleContentUrl,
  bsfRuleContentUrlNext,
  bsfRuleCoverUrl,
  bsfRuleFindUrl,
  bsfRuleIntroduce,
  bsfRuleSearchAuthor,
  bsfRuleSearchCoverUrl,
  bsfRuleSearchKind,
  bsfRuleSearchLastChapter,
  bsfRuleSearchList,
  bsfRuleSearchName,
  bsfRuleSearchNoteUrl,
  bsfRuleSearchUrl,
  bsfFieldCount
};

class TBookSourceItem {
 public:
  static const char16_t* const FieldKeys[bsfFieldCount];
  // Captions of the fields in the source editor dialog.
  static const char16_t* const FieldCaptions[bsfFieldCount];

  explicit TBookSourceItem(JSONObject* AObject) : FObject(AObject) {}
  JSONObject* Object() const { return FObject; }

  String GetField(int Index) const;
  void SetField(int Index, StringView Value);

  bool enable() const { return FObject->GetBoolean(u"enable"); }
  void enable(bool V) { FObject->SetBoolean(u"enable", V); }
  int32_t serialNumber() const { return static_cast<int32_t>(FObject->GetInt64(u"serialNumber")); }
  void serialNumber(int32_t V) { FObject->SetInt64(u"serialNumber", V); }
  int32_t weight() const { return static_cast<int32_t>(FObject->GetInt64(u"weight")); }
  void weight(int32_t V) { FObject->SetInt64(u"weight", V); }

  std::vector<String> GetGroupList() const;
  void AddGroup(StringView Name);
  void RemoveGroup(StringView Name);
  void ReplaceGroup(StringView Name, StringView NewName);

#define TANVORK_BOOK_FIELD(name, index)                      \
  String name() const { return GetField(index); }           \
  void name(StringView V) { SetField(index, V); }
  TANVORK_BOOK_FIELD(bookSourceGroup, bsfBookSourceGroup)
  TANVORK_BOOK_FIELD(bookSourceName, bsfBookSourceName)
  TANVORK_BOOK_FIELD(bookSourceUrl, bsfBookSourceUrl)
  TANVORK_BOOK_FIELD(httpUserAgent, bsfHttpUserAgent)
  TANVORK_BOOK_FIELD(loginUrl, bsfLoginUrl)
  TANVORK_BOOK_FIELD(ruleBookAuthor, bsfRuleBookAuthor)
  TANVORK_BOOK_FIELD(ruleBookContent, bsfRuleBookContent)
  TANVORK_BOOK_FIELD(ruleBookKind, bsfRuleBookKind)
  TANVORK_BOOK_FIELD(ruleBookLastChapter, bsfRuleBookLastChapter)
  TANVORK_BOOK_FIELD(ruleBookName, bsfRuleBookName)
  TANVORK_BOOK_FIELD(ruleBookUrlPattern, bsfRuleBookUrlPattern)
  TANVORK_BOOK_FIELD(ruleChapterList, bsfRuleChapterList)
  TANVORK_BOOK_FIELD(ruleChapterName, bsfRuleChapterName)
  TANVORK_BOOK_FIELD(ruleChapterUrl, bsfRuleChapterUrl)
  TANVORK_BOOK_FIELD(ruleChapterUrlNext, bsfRuleChapterUrlNext)
  TANVORK_BOOK_FIELD(ruleContentUrl, bsfRuleContentUrl)
  TANVORK_BOOK_FIELD(ruleContentUrlNext, bsfRuleContentUrlNext)
  TANVORK_BOOK_FIELD(ruleCoverUrl, bsfRuleCoverUrl)
  TANVORK_BOOK_FIELD(ruleFindUrl, bsfRuleFindUrl)
  TANVORK_BOOK_FIELD(ruleIntroduce, bsfRuleIntroduce)
  TANVORK_BOOK_FIELD(ruleSearchAuthor, bsfRuleSearchAuthor)
  TANVORK_BOOK_FIELD(ruleSearchCoverUrl, bsfRuleSearchCoverUrl)
  TANVORK_BOOK_FIELD(ruleSearchKind, bsfRuleSearchKind)
  TANVORK_BOOK_FIELD(ruleSearchLastChapter, bsfRuleSearchLastChapter)
  TANVORK_BOOK_FIELD(ruleSearchList, bsfRuleSearchList)
  TANVORK_BOOK_FIELD(ruleSearchName, bsfRuleSearchName)
  TANVORK_BOOK_FIELD(ruleSearchNoteUrl, bsfRuleSearchNoteUrl)
  TANVORK_BOOK_FIELD(ruleSearchUrl, bsfRuleSearchUrl)
#undef TANVORK_BOOK_FIELD

 private:
  JSONObject* FObject;
};
