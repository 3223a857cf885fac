#include "app/uGroupRename.h"

#include <locale.h>
#include <wctype.h>

#include "app/uBookSourceBean.h"
#include "support/KivStr.h"

namespace {

// Upper case with the full simple case mapping, one unit for one unit, so
// positions in the upper-cased text are positions in the original.
String UpperUnicode(StringView S) {
  static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  String r(S);
  for (auto& c : r) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    wint_t u = loc ? towupper_l(wint_t(c), loc) : wint_t(UpperAscii(c));
    if (u <= 0xFFFF) c = char16_t(u);
  }
  return r;
}

}  // namespace

String ReplaceIgnoreCase(const String& AText, const String& AFind, const String& AReplace) {
  const String text = UpperUnicode(AText), find = UpperUnicode(AFind);
  String out;
  size_t from = 0;
  for (;;) {
    size_t at = text.find(find, from);
    if (at == String::npos) break;
    out.append(AText, from, at - from).append(AReplace);
    from = at + find.size();
  }
  out.append(AText, from, String::npos);
  return out;
}

bool IsGroupRenameUseful(const TReplaceGroupInput& AInput) { return AInput.WholeWord || !AInput.Find.empty(); }

void RenameGroupsOf(JSONObject* ASource, const TReplaceGroupInput& AInput) {
  TBookSourceItem source(ASource);
  if (AInput.WholeWord && AInput.Replace.empty())
    source.RemoveGroup(AInput.Find);
  else if (AInput.WholeWord)
    source.ReplaceGroup(AInput.Find, AInput.Replace);
  else
    source.bookSourceGroup(ReplaceIgnoreCase(Trim(source.bookSourceGroup()), AInput.Find, AInput.Replace));
}
