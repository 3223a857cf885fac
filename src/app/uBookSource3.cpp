#include "app/uBookSource3.h"

#include <memory>

#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

// Members that only format 3 has; a source with any of them speaks it.
const char16_t* const kFormat3Keys[] = {u"searchUrl", u"exploreUrl",  u"ruleSearch", u"ruleExplore",
                                        u"ruleBookInfo", u"ruleToc",   u"ruleContent", u"header",
                                        u"enabled",   u"customOrder", u"bookUrlPattern"};
// Members that only format 2 has (besides the rule… family below).
const char16_t* const kFormat2Keys[] = {u"httpUserAgent", u"enable", u"serialNumber"};
// The flat rule members of format 2 start with "rule" and go on in upper
// case ("ruleSearchUrl"); format 3's rule objects are named apart.
bool IsFormat2RuleKey(StringView AKey) {
  if (AKey.size() <= 4 || AKey.substr(0, 4) != u"rule" || AKey[4] < u'A' || AKey[4] > u'Z') return false;
  for (const TRuleObject& r : RuleObjects())
    if (AKey == r.Name) return false;
  return true;
}

bool IsScriptText(const String& AText) {
  const String lower = LowerCaseAscii(Trim(AText));
  return lower.compare(0, 4, u"@js:") == 0 || lower.compare(0, 4, u"<js>") == 0;
}

// The rule object as an object: the stored one, or one parsed from the
// string it is stored as (kept in AParsed).
const JSONObject* RuleObjectOf(const JSONObject* ASource, StringView ARule, std::unique_ptr<JSONObject>& AParsed) {
  PJSONValue v = ASource->GetItem(ARule);
  return v ? RuleObjectIn(v, AParsed) : nullptr;
}

String MemberText(const JSONObject* AObject, StringView AKey) {
  PJSONValue v = AObject ? AObject->GetItem(AKey) : nullptr;
  if (!v || v->Type() == jdtNull || v->Type() == jdtUnknown) return String();
  return v->AsString();
}

}  // namespace

const JSONObject* RuleObjectIn(PJSONValue AValue, std::unique_ptr<JSONObject>& AParsed) {
  if (AValue->Type() == jdtObject) {
    JSONBase* o = AValue->GetObject();
    return o && o->IsJSONObject() ? static_cast<const JSONObject*>(o) : nullptr;
  }
  if (AValue->Type() != jdtString) return nullptr;
  // Read in place: the duplicate scan asks this of every rule of every source.
  const StringView text(reinterpret_cast<const char16_t*>(AValue->ValueData()), AValue->ValueSize() / 2);
  size_t at = 0;
  while (at < text.size() && text[at] <= u' ') ++at;
  if (at == text.size() || text[at] != u'{') return nullptr;
  AParsed = std::make_unique<JSONObject>();
  try {
    AParsed->Parse(text, false);
  } catch (const Exception&) {
    AParsed.reset();
    return nullptr;
  }
  return AParsed.get();
}

const std::vector<TRuleObject>& RuleObjects() {
  static const std::vector<TRuleObject> kRules = {
      {u"ruleSearch",
       {u"checkKeyWord", u"bookList", u"name", u"author", u"intro", u"kind", u"lastChapter", u"updateTime",
        u"bookUrl", u"coverUrl", u"wordCount"}},
      {u"ruleExplore",
       {u"bookList", u"name", u"author", u"intro", u"kind", u"lastChapter", u"updateTime", u"bookUrl", u"coverUrl",
        u"wordCount"}},
      {u"ruleBookInfo",
       {u"init", u"name", u"author", u"intro", u"kind", u"lastChapter", u"updateTime", u"coverUrl", u"tocUrl",
        u"wordCount", u"canReName", u"downloadUrls"}},
      {u"ruleToc",
       {u"preUpdateJs", u"chapterList", u"chapterName", u"chapterUrl", u"formatJs", u"isVolume", u"isVip", u"isPay",
        u"updateTime", u"nextTocUrl"}},
      {u"ruleContent",
       {u"content", u"title", u"nextContentUrl", u"webJs", u"sourceRegex", u"replaceRegex", u"imageStyle",
        u"imageDecode", u"payAction"}},
      {u"ruleReview",
       {u"reviewUrl", u"avatarRule", u"contentRule", u"postTimeRule", u"reviewQuoteUrl", u"voteUpUrl",
        u"voteDownUrl", u"postReviewUrl", u"postQuoteUrl", u"deleteUrl"}},
  };
  return kRules;
}

TSourceFormat SourceFormatOf(const JSONObject* ASource) {
  if (!ASource) return sfBare;
  bool three = false, two = false;
  for (const char16_t* key : kFormat3Keys) three = three || ASource->Contains(key);
  for (const char16_t* key : kFormat2Keys) two = two || ASource->Contains(key);
  for (int i = 0; !two && i < ASource->Count(); ++i) {
    PJSONValue item = ASource->GetItems(i);
    two = item && IsFormat2RuleKey(item->Name());
  }
  if (three && two) return sfMixed;
  return three ? sfFormat3 : two ? sfFormat2 : sfBare;
}

const char16_t* SourceFormatName(TSourceFormat AFormat) {
  switch (AFormat) {
    case sfFormat2:
      return u"2";
    case sfFormat3:
      return u"3";
    case sfMixed:
      return u"2+3";
    case sfBare:
      break;
  }
  return u"-";
}

String TBookSource3::Text(StringView AKey) const { return MemberText(FObject, AKey); }

bool TBookSource3::Has(StringView AKey) const { return FObject->Contains(AKey); }

String TBookSource3::RuleMember(StringView ARule, StringView AMember) const {
  std::unique_ptr<JSONObject> parsed;
  return MemberText(RuleObjectOf(FObject, ARule, parsed), AMember);
}

bool TBookSource3::RuleStoredAsText(StringView ARule) const {
  PJSONValue v = FObject->GetItem(ARule);
  return v && v->Type() == jdtString;
}

void TBookSource3::SetRuleMember(StringView ARule, StringView AMember, StringView AValue) {
  if (RuleStoredAsText(ARule)) {
    std::unique_ptr<JSONObject> parsed;
    RuleObjectOf(FObject, ARule, parsed);
    if (!parsed) parsed = std::make_unique<JSONObject>();
    if (AValue.empty()) {
      if (parsed->Contains(AMember)) parsed->Delete(AMember);
    } else {
      parsed->SetString(AMember, AValue);
    }
    FObject->SetString(ARule, parsed->ToString(0, false));
    return;
  }
  JSONObject* rule = FObject->GetJsonObject(ARule);
  if (!rule) {
    if (AValue.empty()) return;
    rule = FObject->AddChildObject(ARule);
  }
  if (AValue.empty()) {
    if (rule->Contains(AMember)) rule->Delete(AMember);
  } else {
    rule->SetString(AMember, AValue);
  }
}

THeaderList TBookSource3::Headers(bool* AScript) const {
  if (AScript) *AScript = false;
  THeaderList headers;
  PJSONValue v = FObject->GetItem(u"header");
  if (!v) return headers;
  std::unique_ptr<JSONObject> parsed;
  const JSONObject* map = nullptr;
  if (v->Type() == jdtObject) {
    JSONBase* o = v->GetObject();
    map = o && o->IsJSONObject() ? static_cast<const JSONObject*>(o) : nullptr;
  } else if (v->Type() == jdtString) {
    const String text = v->AsString();
    if (IsScriptText(text)) {
      if (AScript) *AScript = true;
      return headers;
    }
    const String trimmed = Trim(text);
    if (trimmed.empty() || trimmed[0] != u'{') return headers;
    parsed = std::make_unique<JSONObject>();
    try {
      parsed->Parse(trimmed, false);
      map = parsed.get();
    } catch (const Exception&) {
      return headers;  // text that is no JSON is ignored, as the reader app does
    }
  }
  if (!map) return headers;
  for (int i = 0; i < map->Count(); ++i) {
    PJSONValue item = map->GetItems(i);
    if (!item || LowerCaseAscii(item->Name()) == u"proxy") continue;
    headers.emplace_back(String(item->Name()), item->Type() == jdtNull ? String() : item->AsString());
  }
  return headers;
}

String TBookSource3::ExploreUrlText() const {
  PJSONValue v = FObject->GetItem(u"exploreUrl");
  if (!v || v->Type() == jdtNull || v->Type() == jdtUnknown) return String();
  return v->AsString();
}

String TBookSource3::CheckKeyWord() const {
  const String word = Trim(RuleMember(u"ruleSearch", u"checkKeyWord"));
  return word.empty() ? String(u"我的") : word;
}
