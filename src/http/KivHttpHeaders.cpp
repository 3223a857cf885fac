#include "http/KivHttpHeaders.h"

#include "support/KivStr.h"

namespace {
constexpr size_t npos = StringView::npos;
// Separators between the items of a header value.
inline bool IsParamSep(char16_t c) { return c == u';' || c == u',' || c == u'|'; }
}  // namespace

void THeadersList::CheckIndex(int32_t Index) const {
  if (Index < 0 || Index >= Count())
    throw EHTTPException(Format(u"List index out of bounds (%d)", Index));
}

PHeaderItem THeadersList::FindName(StringView Name) const {
  for (const auto& item : FItems)
    if (SameTextAscii(item->Name, Name)) return item.get();
  return nullptr;
}

void THeadersList::AddItem(StringView Name, StringView Value, bool allowRepeat) {
  if (!allowRepeat) {
    if (PHeaderItem item = FindName(Name)) {
      item->Value = String(Value);
      return;
    }
  }
  FItems.push_back(std::make_unique<THeaderItem>(THeaderItem{String(Name), String(Value)}));
}

String THeadersList::GetValue(StringView Name) const {
  PHeaderItem item = FindName(Name);
  return item ? item->Value : String();
}

void THeadersList::SetValue(StringView Name, StringView Value) {
  if (PHeaderItem item = FindName(Name))
    item->Value = String(Value);
  else if (!Value.empty())
    FItems.push_back(std::make_unique<THeaderItem>(THeaderItem{String(Name), String(Value)}));
}

PHeaderItem THeadersList::GetItem(int32_t Index) const {
  CheckIndex(Index);
  return FItems[Index].get();
}

void THeadersList::SetItem(int32_t Index, const THeaderItem& Value) {
  CheckIndex(Index);
  *FItems[Index] = Value;
}

void THeadersList::Delete(int32_t Index) {
  CheckIndex(Index);
  FItems.erase(FItems.begin() + Index);
}

THttpHeaders::THttpHeaders(const THttpHeaders& Other) : FLineBreak(Other.FLineBreak) {
  for (int32_t i = 0; i < Other.Count(); ++i) {
    PHeaderItem item = Other.GetItem(i);
    FData.AddItem(item->Name, item->Value, true);
  }
}

THttpHeaders& THttpHeaders::operator=(const THttpHeaders& Other) {
  if (this != &Other) {
    THttpHeaders copy(Other);
    FData = std::move(copy.FData);
    FLineBreak = std::move(copy.FLineBreak);
  }
  return *this;
}

String THttpHeaders::GetText() const {
  const String lb = FLineBreak.empty() ? String(u"\r\n") : FLineBreak;
  String r;
  for (int32_t i = 0; i < Count(); ++i) {
    PHeaderItem item = GetItem(i);
    r += item->Name;
    r += u": ";
    r += item->Value;
    r += lb;
  }
  return r;
}

void THttpHeaders::SetText(StringView Text) {
  Clear();
  size_t p = 0, n = Text.size();
  while (p < n) {
    size_t e = Text.find_first_of(u"\r\n", p);
    if (e == npos) e = n;
    StringView line = Text.substr(p, e - p);
    size_t colon = line.find(u':');
    if (colon == npos) {
      FData.AddItem(line, u"", true);
    } else {
      size_t v = colon + 1;
      while (v < line.size() && (line[v] == u' ' || line[v] == u'\t')) ++v;
      FData.AddItem(line.substr(0, colon), line.substr(v), true);
    }
    p = e;
    while (p < n && (Text[p] == u' ' || Text[p] == u'\r' || Text[p] == u'\n')) ++p;
  }
}

THeaderParamPos FindHeaderParam(StringView Text, StringView Name) {
  THeaderParamPos r;
  const size_t n = Text.size();
  if (Text.empty() || Name.empty()) return r;
  size_t p = 0;
  while (p < n) {
    // Step to the start of the next item; an item that is itself key=value starts here.
    size_t s = p;
    while (p < n) {
      if (IsParamSep(Text[p])) {
        ++p;
        break;
      }
      if (Text[p] == u'=') {
        p = s;
        break;
      }
      ++p;
    }
    while (p < n && Text[p] == u' ') ++p;
    size_t eq = Text.find(u'=', p);
    if (eq == npos) return r;
    // A separator before the '=' means this item has no value: look at the next one.
    size_t sep = p;
    while (sep < eq && !IsParamSep(Text[sep])) ++sep;
    if (sep < eq) {
      p = sep;
      continue;
    }
    if (eq - p == Name.size() && Text.substr(p, eq - p) == Name) {
      size_t v = eq + 1;
      while (v < n && Text[v] == u' ') ++v;
      size_t e = v;
      while (e < n && !IsParamSep(Text[e])) ++e;
      r.Found = true;
      r.Start = v;
      r.End = e;
      return r;
    }
    p = eq + 1;
  }
  return r;
}

String GetHeaderParam(StringView Text, StringView Name) {
  THeaderParamPos pos = FindHeaderParam(Text, Name);
  return pos.Found ? String(Text.substr(pos.Start, pos.End - pos.Start)) : String();
}

String ReplaceHeaderParam(StringView Text, StringView Name, StringView Value) {
  THeaderParamPos pos = FindHeaderParam(Text, Name);
  if (pos.Found)
    return String(Text.substr(0, pos.Start)) + String(Value) + String(Text.substr(pos.End));
  return String(Text) + u"; " + String(Name) + u"=" + String(Value);
}

String THttpHeaders::GetParam(StringView AName, StringView AParam) const {
  return GetHeaderParam(GetHaderItem(AName), AParam);
}

void THttpHeaders::SetParam(StringView AName, StringView AParam, StringView AValue) {
  String value = GetHaderItem(AName);
  if (value.empty()) return;
  SetHaderItem(AName, ReplaceHeaderParam(value, AParam, AValue));
}
