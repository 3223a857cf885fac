// The current source format ("format 3") beside the flat one: which format
// a source is in, and a typed view of the format-3 members. Like
// TBookSourceItem it holds only the object; reads and writes go to its members.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "support/KivTypes.h"

class JSONObject;
class JSONValue;

// Bare: name, address and group only; mixed: members of both families (the
// format-3 ones decide where both speak).
enum TSourceFormat : int { sfBare, sfFormat2, sfFormat3, sfMixed };

TSourceFormat SourceFormatOf(const JSONObject* ASource);
// "2", "3", "2+3", "-" (lists and reports).
const char16_t* SourceFormatName(TSourceFormat AFormat);
inline bool SpeaksFormat3(TSourceFormat AFormat) { return AFormat == sfFormat3 || AFormat == sfMixed; }

// One rule object of format 3 and its members.
struct TRuleObject {
  const char16_t* Name;
  std::vector<const char16_t*> Members;
};
const std::vector<TRuleObject>& RuleObjects();

// The object a rule member holds: stored as one, or as the text of one
// (parsed into AParsed). Null for anything else, a broken text included.
const JSONObject* RuleObjectIn(JSONValue* AValue, std::unique_ptr<JSONObject>& AParsed);

using THeaderList = std::vector<std::pair<String, String>>;

class TBookSource3 {
 public:
  explicit TBookSource3(JSONObject* AObject) : FObject(AObject) {}
  JSONObject* Object() const { return FObject; }

  // A top-level member as text ("" when absent); numbers and booleans read as their text.
  String Text(StringView AKey) const;
  bool Has(StringView AKey) const;

  // A rule object's member, whether the rule is stored as an object or as a
  // string holding one ("" when absent or unreadable).
  String RuleMember(StringView ARule, StringView AMember) const;
  // Writes the member back in the form the rule had: an object stays an
  // object, a string holding one stays a string; an absent rule becomes an
  // object. An empty value removes the member.
  void SetRuleMember(StringView ARule, StringView AMember, StringView AValue);
  // Whether the rule is stored as a string holding an object.
  bool RuleStoredAsText(StringView ARule) const;

  // `header`, stored as an object or as the text of one: the request
  // headers in order, without the 'proxy' key. A script (text starting with
  // '@js:' or '<js>', any case) sets AScript and gives no header; text that
  // is no JSON object gives none.
  THeaderList Headers(bool* AScript = nullptr) const;
  // `exploreUrl` as text: a stored array is written as its JSON text.
  String ExploreUrlText() const;
  // The keyword the reader app's check searches for: ruleSearch.checkKeyWord, else "我的".
  String CheckKeyWord() const;

 private:
  JSONObject* FObject;
};
