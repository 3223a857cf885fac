#include "app/uSourceConvert.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "app/uBookSource3.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

// A flat member and the rule object member it becomes.
struct TRuleMove {
  const char16_t* From;
  const char16_t* Rule;
  const char16_t* Member;
};
const TRuleMove kRuleMoves[] = {
    {u"ruleSearchList", u"ruleSearch", u"bookList"},
    {u"ruleSearchName", u"ruleSearch", u"name"},
    {u"ruleSearchAuthor", u"ruleSearch", u"author"},
    {u"ruleSearchKind", u"ruleSearch", u"kind"},
    {u"ruleSearchLastChapter", u"ruleSearch", u"lastChapter"},
    {u"ruleSearchCoverUrl", u"ruleSearch", u"coverUrl"},
    {u"ruleSearchNoteUrl", u"ruleSearch", u"bookUrl"},
    {u"ruleSearchIntroduce", u"ruleSearch", u"intro"},
    {u"ruleFindList", u"ruleExplore", u"bookList"},
    {u"ruleFindName", u"ruleExplore", u"name"},
    {u"ruleFindAuthor", u"ruleExplore", u"author"},
    {u"ruleFindIntroduce", u"ruleExplore", u"intro"},
    {u"ruleFindKind", u"ruleExplore", u"kind"},
    {u"ruleFindNoteUrl", u"ruleExplore", u"bookUrl"},
    {u"ruleFindCoverUrl", u"ruleExplore", u"coverUrl"},
    {u"ruleFindLastChapter", u"ruleExplore", u"lastChapter"},
    {u"ruleBookInfoInit", u"ruleBookInfo", u"init"},
    {u"ruleBookName", u"ruleBookInfo", u"name"},
    {u"ruleBookAuthor", u"ruleBookInfo", u"author"},
    {u"ruleIntroduce", u"ruleBookInfo", u"intro"},
    {u"ruleBookKind", u"ruleBookInfo", u"kind"},
    {u"ruleCoverUrl", u"ruleBookInfo", u"coverUrl"},
    {u"ruleBookLastChapter", u"ruleBookInfo", u"lastChapter"},
    {u"ruleChapterUrl", u"ruleBookInfo", u"tocUrl"},
    {u"ruleChapterList", u"ruleToc", u"chapterList"},
    {u"ruleChapterName", u"ruleToc", u"chapterName"},
    {u"ruleContentUrl", u"ruleToc", u"chapterUrl"},
    {u"ruleChapterUrlNext", u"ruleToc", u"nextTocUrl"},
    {u"ruleBookContent", u"ruleContent", u"content"},
    {u"ruleBookContentReplace", u"ruleContent", u"replaceRegex"},
    {u"ruleContentUrlNext", u"ruleContent", u"nextContentUrl"},
};
// Flat members with a top-level counterpart.
const char16_t* const kFlatTopLevel[] = {u"ruleSearchUrl", u"ruleFindUrl", u"ruleBookUrlPattern"};
const char16_t* const kFormat2Plain[] = {u"httpUserAgent", u"enable", u"serialNumber"};

bool ContainsNoCase(StringView AText, StringView APart) {
  for (size_t i = 0; i + APart.size() <= AText.size(); ++i)
    if (SameTextAscii(AText.substr(i, APart.size()), APart)) return true;
  return false;
}

bool StartsWith(StringView AText, StringView APrefix) { return AText.substr(0, APrefix.size()) == APrefix; }

String ReplaceAll(StringView AText, StringView AFrom, StringView ATo) {
  String out;
  size_t pos = 0;
  for (;;) {
    size_t at = AText.find(AFrom, pos);
    if (at == StringView::npos) break;
    out.append(AText.substr(pos, at - pos));
    out.append(ATo);
    pos = at + AFrom.size();
  }
  out.append(AText.substr(pos));
  return out;
}

// A flat rule member of format 2: 'rule' and an upper-case letter, not a rule object.
bool IsFlatRuleKey(StringView AKey) {
  if (AKey.size() <= 4 || AKey.substr(0, 4) != u"rule" || AKey[4] < u'A' || AKey[4] > u'Z') return false;
  for (const TRuleObject& r : RuleObjects())
    if (SameTextAscii(AKey, r.Name)) return false;
  return true;
}

bool IsKnownFlatKey(StringView AKey) {
  for (const TRuleMove& m : kRuleMoves)
    if (SameTextAscii(AKey, m.From)) return true;
  for (const char16_t* k : kFlatTopLevel)
    if (SameTextAscii(AKey, k)) return true;
  return false;
}

bool IsFormat2Key(StringView AKey) {
  for (const char16_t* k : kFormat2Plain)
    if (SameTextAscii(AKey, k)) return true;
  return IsFlatRuleKey(AKey);
}

String ValueText(const JSONValue* AValue) {
  if (!AValue || AValue->Type() == jdtNull || AValue->Type() == jdtUnknown) return String();
  return AValue->AsString();
}

bool Present(const JSONObject* AObject, StringView AKey) {
  PJSONValue v = AObject->GetItem(AKey);
  return v && v->Type() != jdtNull && v->Type() != jdtUnknown;
}

// A text member that says something: a blank one leaves the word to format 2.
bool HasText(const JSONObject* AObject, StringView AKey) { return !Trim(ValueText(AObject->GetItem(AKey))).empty(); }

// Splits at ASep outside '{{…}}' (script blocks keep their own characters).
std::vector<String> SplitOutsideTemplates(StringView AText, char16_t ASep) {
  std::vector<String> parts(1);
  for (size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] == u'{' && i + 1 < AText.size() && AText[i + 1] == u'{') {
      size_t close = AText.find(u"}}", i + 2);
      size_t end = close == StringView::npos ? AText.size() : close + 2;
      parts.back().append(AText.substr(i, end - i));
      i = end - 1;
      continue;
    }
    if (AText[i] == ASep)
      parts.emplace_back();
    else
      parts.back() += AText[i];
  }
  return parts;
}

// 'searchPage' followed by '+N' or '-N' at APos: the length of '±N', else 0.
size_t PageOffsetAt(StringView AText, size_t APos) {
  if (APos >= AText.size() || (AText[APos] != u'+' && AText[APos] != u'-')) return 0;
  size_t end = APos + 1;
  while (end < AText.size() && AText[end] >= u'0' && AText[end] <= u'9') ++end;
  return end > APos + 1 ? end - APos : 0;
}

// The old words outside templates: 'searchKey' → '{{key}}', '<searchPage±N>'
// and 'searchPage±N' → '{{page±N}}', 'searchPage' → '{{page}}'.
String ReplaceWords(StringView AText) {
  static constexpr StringView kKey = u"searchKey";
  static constexpr StringView kPage = u"searchPage";
  String out;
  size_t i = 0;
  while (i < AText.size()) {
    if (StartsWith(AText.substr(i), kKey)) {
      out += u"{{key}}";
      i += kKey.size();
      continue;
    }
    if (AText[i] == u'<' && StartsWith(AText.substr(i + 1), kPage)) {
      size_t n = PageOffsetAt(AText, i + 1 + kPage.size());
      size_t close = i + 1 + kPage.size() + n;
      if (n && close < AText.size() && AText[close] == u'>') {
        out += u"{{page";
        out += AText.substr(i + 1 + kPage.size(), n);
        out += u"}}";
        i = close + 1;
        continue;
      }
    }
    if (StartsWith(AText.substr(i), kPage)) {
      size_t n = PageOffsetAt(AText, i + kPage.size());
      out += u"{{page";
      out += AText.substr(i + kPage.size(), n);
      out += u"}}";
      i += kPage.size() + n;
      continue;
    }
    out += AText[i++];
  }
  return out;
}

// Inside a '{{…}}' script the old words become the script's own variables.
String ReplaceWordsInScript(StringView AText) {
  String s = ReplaceAll(AText, u"'searchKey'", u"key");
  s = ReplaceAll(s, u"\"searchKey\"", u"key");
  s = ReplaceAll(s, u"searchKey", u"key");
  return ReplaceAll(s, u"searchPage", u"page");
}

// Outside '{{…}}': old brace page lists become '<…>' lists, then the old words.
String ConvertAddressText(StringView AText) {
  String out;
  size_t i = 0;
  while (i < AText.size()) {
    size_t open = AText.find(u"{{", i);
    size_t close = open == StringView::npos ? StringView::npos : AText.find(u"}}", open + 2);
    if (close == StringView::npos) open = AText.size();
    String plain(AText.substr(i, open - i));
    for (char16_t& c : plain) {
      if (c == u'{') c = u'<';
      else if (c == u'}') c = u'>';
    }
    out += ReplaceWords(plain);
    if (open >= AText.size()) break;
    out += u"{{";
    out += ReplaceWordsInScript(AText.substr(open + 2, close - open - 2));
    out += u"}}";
    i = close + 2;
  }
  return out;
}

// Blanks of any kind around a value typed by hand (no-break and ideographic spaces too).
String TrimBlanks(StringView AText) {
  auto blank = [](char16_t c) { return c <= 32 || c == 0xA0 || c == 0x3000; };
  while (!AText.empty() && blank(AText.front())) AText.remove_prefix(1);
  while (!AText.empty() && blank(AText.back())) AText.remove_suffix(1);
  return String(AText);
}

bool IsCharsetName(StringView AName) {
  if (AName.empty() || AName.size() > 40) return false;
  for (char16_t c : AName)
    if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'-' ||
          c == u'_' || c == u'.' || c == u':' || c == u'+'))
      return false;
  return true;
}

bool LooksLikeJson(StringView ABody) {
  const String t = Trim(ABody);
  return t.size() >= 2 && ((t.front() == u'{' && t.back() == u'}') || (t.front() == u'[' && t.back() == u']'));
}

bool IsScriptStart(StringView AText) {
  return StartsTextAscii(AText, u"<js>") || StartsTextAscii(AText, u"@js:");
}

// Pieces between runs of '&&' and line feeds, trimmed, empty ones skipped.
std::vector<String> ExplorePieces(StringView AText) {
  std::vector<String> pieces;
  size_t pos = 0;
  auto atSep = [&](size_t i) {
    return AText[i] == u'\n' || (AText[i] == u'&' && i + 1 < AText.size() && AText[i + 1] == u'&');
  };
  while (pos < AText.size()) {
    size_t end = pos;
    while (end < AText.size() && !atSep(end)) ++end;
    String piece = Trim(AText.substr(pos, end - pos));
    if (!piece.empty()) pieces.push_back(std::move(piece));
    pos = end;
    while (pos < AText.size() && atSep(pos)) pos += AText[pos] == u'\n' ? 1 : 2;
  }
  return pieces;
}

// The planned conversion of one rule object.
struct TRulePlan {
  const char16_t* Rule;
  std::vector<std::pair<const char16_t*, String>> Members;
};

}  // namespace

String ConvertRule(StringView ARule) {
  if (Trim(ARule).empty()) return String();
  String prefix;
  StringView r = ARule;
  if (StartsWith(r, u"-")) {
    prefix += u'-';
    r.remove_prefix(1);
  }
  if (StartsWith(r, u"+")) {
    prefix += u'+';
    r.remove_prefix(1);
  }
  if (StartsTextAscii(r, u"@CSS:") || StartsTextAscii(r, u"@XPath:") || StartsWith(r, u"//") ||
      StartsWith(r, u"##") || StartsWith(r, u":") || ContainsNoCase(r, u"@js:") || ContainsNoCase(r, u"<js>"))
    return prefix + String(r);
  String s(r);
  if (s.find(u'#') != String::npos && s.find(u"##") == String::npos) s = ReplaceAll(s, u"#", u"##");
  if (s.find(u'|') != String::npos && s.find(u"||") == String::npos) {
    const size_t cut = std::min(s.find(u"##"), s.size());
    s = ReplaceAll(StringView(s).substr(0, cut), u"|", u"||") + s.substr(cut);
  }
  if (s.find(u'&') != String::npos && s.find(u"&&") == String::npos && s.find(u"http") == String::npos &&
      !StartsWith(s, u"/"))
    s = ReplaceAll(s, u"&", u"&&");
  return prefix + s;
}

TAddressConversion ConvertAddress(StringView AAddress) {
  TAddressConversion r;
  // A script keeps its own '@', '|' and braces.
  if (StartsTextAscii(AAddress, u"<js>") || ContainsNoCase(AAddress, u"@js:")) {
    r.Text = ReplaceAll(ReplaceAll(AAddress, u"=searchKey", u"={{key}}"), u"=searchPage", u"={{page}}");
    return r;
  }
  String text(AAddress);
  String headers;
  for (size_t i = 0; i + 9 <= text.size(); ++i) {
    if (!SameTextAscii(StringView(text).substr(i, 9), u"@header:{")) continue;
    const size_t close = text.find(u'}', i + 9);
    if (close == String::npos) {
      r.Refusal = u"的'@Header:{'没有结尾的'}'";
      break;
    }
    headers = text.substr(i + 8, close - i - 7);
    text.erase(i, close - i + 1);
    break;
  }
  std::vector<String> parts = SplitOutsideTemplates(text, u'|');
  String charset;
  if (parts.size() > 2 && r.Refusal.empty()) r.Refusal = u"有第二个'|'部分";
  if (parts.size() >= 2) {
    const String& part = parts[1];
    const size_t eq = part.find(u'=');
    if (eq != String::npos) {
      charset = TrimBlanks(StringView(part).substr(eq + 1));
      if (!charset.empty() && !IsCharsetName(charset) && r.Refusal.empty())
        r.Refusal = Format(u"的编码'%s'不是编码名称", charset);
    } else if (!Trim(part).empty() && r.Refusal.empty()) {
      r.Refusal = Format(u"'|'后的'%s'不是编码设置(char=…)", part);
    }
  }
  std::vector<String> pieces = SplitOutsideTemplates(parts[0], u'@');
  if (pieces.size() > 2 && r.Refusal.empty()) r.Refusal = u"有第二个'@'部分";

  String out = ConvertAddressText(pieces[0]);
  JSONObject options;
  if (!headers.empty()) options.Put(u"headers", headers);
  if (!charset.empty()) options.Put(u"charset", charset);
  if (pieces.size() >= 2) {
    const String& body = pieces[1];
    options.Put(u"method", u"POST");
    options.Put(u"body", LooksLikeJson(body) ? ReplaceWords(body) : ConvertAddressText(body));
  }
  if (options.Count()) {
    out += u',';
    out += options.EncodeCompact();
  }
  r.Text = std::move(out);
  return r;
}

TAddressConversion ConvertExploreAddress(StringView ARuleFindUrl) {
  TAddressConversion r;
  if (IsScriptStart(Trim(ARuleFindUrl))) {
    r.Text = ARuleFindUrl;
    return r;
  }
  for (const String& piece : ExplorePieces(ARuleFindUrl)) {
    if (!r.Text.empty()) r.Text += u'\n';
    const size_t sep = piece.find(u"::");
    if (sep == String::npos) {
      r.Text += piece;
      continue;
    }
    TAddressConversion a = ConvertAddress(Trim(StringView(piece).substr(sep + 2)));
    if (!a.Refusal.empty() && r.Refusal.empty())
      r.Refusal = Format(u"(%s)%s", StringView(piece).substr(0, sep), a.Refusal);
    r.Text += StringView(piece).substr(0, sep + 2);
    r.Text += a.Text;
  }
  return r;
}

TConvertResult ConvertToFormat3(JSONObject* ASource) {
  TConvertResult result;
  const TSourceFormat format = SourceFormatOf(ASource);
  if (format == sfFormat3) {
    result.Outcome = coAlreadyFormat3;
    result.Reason = u"已是新格式";
    return result;
  }
  if (format == sfBare) {
    result.Outcome = coBare;
    result.Reason = u"没有规则，新旧格式相同";
    return result;
  }
  auto refuse = [&](const String& AReason) {
    result.Outcome = coRefused;
    result.Reason = AReason + u"，无法无损转换";
    return result;
  };

  // Everything is planned first: a refusal leaves the source as it was.
  for (PJSONValue item : *ASource)
    if (IsFlatRuleKey(item->Name()) && !IsKnownFlatKey(item->Name()) && !Trim(ValueText(item)).empty())
      return refuse(Format(u"旧格式成员%s没有对应的新格式成员", item->Name()));

  String searchUrl, exploreUrl;
  bool writeSearch = false, writeExplore = false;
  if (!HasText(ASource, u"searchUrl")) {
    const String old = ValueText(ASource->GetItem(u"ruleSearchUrl"));
    if (!Trim(old).empty()) {
      TAddressConversion a = ConvertAddress(old);
      if (!a.Refusal.empty()) return refuse(u"搜索地址" + a.Refusal);
      searchUrl = std::move(a.Text);
      writeSearch = true;
    }
  }
  if (!HasText(ASource, u"exploreUrl")) {
    const String old = ValueText(ASource->GetItem(u"ruleFindUrl"));
    TAddressConversion a = ConvertExploreAddress(old);
    if (!a.Refusal.empty()) return refuse(u"发现地址" + a.Refusal);
    exploreUrl = std::move(a.Text);
    writeExplore = !exploreUrl.empty();
  }

  TBookSource3 view(ASource);
  std::vector<TRulePlan> plans;
  for (const TRuleObject& rule : RuleObjects()) {
    TRulePlan plan{rule.Name, {}};
    for (const char16_t* member : rule.Members)
      for (const TRuleMove& m : kRuleMoves) {
        if (StringView(m.Rule) != rule.Name || StringView(m.Member) != member) continue;
        String text = ValueText(ASource->GetItem(m.From));
        // The old content rule marked text nodes with a leading '$'.
        if (StringView(m.From) == u"ruleBookContent" && StartsWith(text, u"$") && !StartsWith(text, u"$."))
          text.erase(0, 1);
        text = ConvertRule(text);
        if (!text.empty() && Trim(view.RuleMember(rule.Name, member)).empty())
          plan.Members.emplace_back(member, std::move(text));
      }
    if (plan.Members.empty()) continue;
    PJSONValue existing = ASource->GetItem(rule.Name);
    if (existing && existing->Type() != jdtNull && existing->Type() != jdtUnknown) {
      bool readable = false;
      if (existing->Type() == jdtObject) {
        readable = existing->GetObject() && existing->GetObject()->IsJSONObject();
      } else if (existing->Type() == jdtString) {
        std::unique_ptr<JSONBase> parsed(JSONBase::Parser(Trim(existing->AsString()), false));
        readable = parsed && parsed->IsJSONObject();
      }
      if (!readable) return refuse(Format(u"规则对象%s无法读取，旧格式规则无法并入", rule.Name));
    }
    plans.push_back(std::move(plan));
  }

  // Carried over.
  if (!HasText(ASource, u"bookUrlPattern")) {
    const String pattern = ValueText(ASource->GetItem(u"ruleBookUrlPattern"));
    if (!Trim(pattern).empty()) ASource->SetString(u"bookUrlPattern", pattern);
  }
  if (!Present(ASource, u"customOrder"))
    if (PJSONValue v = ASource->GetItem(u"serialNumber"); v && v->Type() != jdtNull)
      ASource->SetInt64(u"customOrder", v->AsInt64());
  if (!Present(ASource, u"enabled")) {
    PJSONValue v = ASource->GetItem(u"enable");
    ASource->SetBoolean(u"enabled", !v || v->Type() == jdtNull || v->AsBoolean());
  }
  if (!Present(ASource, u"enabledExplore")) {
    const bool any = writeExplore || !Trim(ValueText(ASource->GetItem(u"exploreUrl"))).empty();
    ASource->SetBoolean(u"enabledExplore", any);
  }
  if (!HasText(ASource, u"header")) {
    const String ua = ValueText(ASource->GetItem(u"httpUserAgent"));
    if (!Trim(ua).empty()) {
      JSONObject header;
      header.Put(u"User-Agent", ua);
      ASource->SetString(u"header", header.EncodeCompact());
    }
  }
  if (writeSearch) ASource->SetString(u"searchUrl", searchUrl);
  if (writeExplore) ASource->SetString(u"exploreUrl", exploreUrl);
  if (PJSONValue t = ASource->GetItem(u"bookSourceType"); t && t->Type() == jdtString)
    t->SetAsInt64(SameTextAscii(Trim(t->AsString()), u"AUDIO") ? 1 : 0);
  for (const TRulePlan& plan : plans) {
    PJSONValue existing = ASource->GetItem(plan.Rule);
    if (existing && (existing->Type() == jdtNull || existing->Type() == jdtUnknown)) {
      ASource->Delete(plan.Rule);
      existing = nullptr;
    }
    if (!existing) {
      JSONObject* rule = ASource->AddChildObject(plan.Rule);
      for (const auto& [member, text] : plan.Members) rule->SetString(member, text);
    } else {
      for (const auto& [member, text] : plan.Members) view.SetRuleMember(plan.Rule, member, text);
    }
  }

  for (int i = ASource->Count() - 1; i >= 0; --i)
    if (IsFormat2Key(ASource->GetItems(i)->Name())) ASource->Remove(i);
  result.Outcome = coConverted;
  result.Reason = u"已转换为新格式";
  return result;
}
