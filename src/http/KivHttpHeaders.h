// HTTP header lists: the ordered name/value list, the client's header set
// and the parameters inside one header value ('text/html; charset=gbk').
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "http/KivHttpException.h"
#include "support/KivTypes.h"

struct THeaderItem {
  String Name;
  String Value;
};
using PHeaderItem = THeaderItem*;

// Ordered, owning list of headers; names compared ignoring ASCII case, first match wins.
class THeadersList {
 public:
  void AddItem(StringView Name, StringView Value, bool allowRepeat);
  bool Exist(StringView Name) const { return FindName(Name) != nullptr; }
  PHeaderItem FindName(StringView Name) const;
  String GetValue(StringView Name) const;
  String GetString(StringView Name) const { return GetValue(Name); }
  void SetValue(StringView Name, StringView Value);
  PHeaderItem GetItem(int32_t Index) const;
  void SetItem(int32_t Index, const THeaderItem& Value);
  void Delete(int32_t Index);
  void Clear() { FItems.clear(); }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }

 private:
  void CheckIndex(int32_t Index) const;
  std::vector<std::unique_ptr<THeaderItem>> FItems;
};

class THttpHeaders {
 public:
  THttpHeaders() = default;
  THttpHeaders(StringView Name, StringView Value) {
    if (!Name.empty()) FData.SetValue(Name, Value);
  }
  virtual ~THttpHeaders() = default;
  THttpHeaders(const THttpHeaders& Other);
  THttpHeaders& operator=(const THttpHeaders& Other);

  // Replaces an existing name, so one name never makes two lines.
  THttpHeaders& Add(StringView Name, StringView Value) {
    if (!Name.empty()) FData.SetValue(Name, Value);
    return *this;
  }
  String GetHaderItem(StringView Name) const { return FData.GetValue(Name); }
  void SetHaderItem(StringView Name, StringView Value) { FData.SetValue(Name, Value); }
  bool Exist(StringView Name) const { return FData.Exist(Name); }
  void Delete(int32_t Index) { FData.Delete(Index); }
  virtual void Clear() { FData.Clear(); }
  PHeaderItem GetItem(int32_t Index) const { return FData.GetItem(Index); }
  void SetItem(int32_t Index, const THeaderItem& Value) { FData.SetItem(Index, Value); }
  int32_t Count() const { return FData.Count(); }

  String GetParam(StringView AName, StringView AParam) const;
  void SetParam(StringView AName, StringView AParam, StringView AValue);

  String GetText() const;
  void SetText(StringView Text);
  const String& LineBreak() const { return FLineBreak; }
  void SetLineBreak(StringView V) { FLineBreak = String(V); }

  THeadersList& Data() { return FData; }
  const THeadersList& Data() const { return FData; }

 private:
  THeadersList FData;
  String FLineBreak;
};

// Span of a parameter's value inside a header value such as 'text/html; charset=gbk'.
struct THeaderParamPos {
  bool Found = false;
  size_t Start = 0;
  size_t End = 0;
};
THeaderParamPos FindHeaderParam(StringView Text, StringView Name);
String GetHeaderParam(StringView Text, StringView Name);
String ReplaceHeaderParam(StringView Text, StringView Name, StringView Value);
