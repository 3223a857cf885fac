// URL record, header lists and the URL percent-encoding of the HTTP client.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "http/KivHttpException.h"
#include "support/KivTypes.h"

// A URL split into its parts on first use. Copying copies all text.
class TURI {
 public:
  TURI() = default;
  // Rebuilt (normalised) by ToString.
  explicit TURI(String AURIStr) : FChangeURL(true), FUrl(std::move(AURIStr)) {}

  // The request's way of assigning: ToString then gives the text unchanged.
  void SetURL(String AURIStr) {
    FUrl = std::move(AURIStr);
    FPort = 0;
    FChangeURL = false;
  }

  // Lazy: the first read parses the text.
  const String& Host() const { return Parsed().FHost; }
  uint16_t Port() const { return Parsed().FPort; }
  const String& Path() const { return Parsed().FPath; }
  const String& Scheme() const { return Parsed().FScheme; }
  const String& UserName() const { return Parsed().FUserName; }
  const String& Password() const { return Parsed().FPassword; }
  const String& Document() const { return Parsed().FDocument; }
  const String& Params() const { return Parsed().FParams; }
  const String& Bookmark() const { return Parsed().FBookmark; }
  bool IsParsed() const { return FPort != 0; }
  bool ChangeURL() const { return FChangeURL; }
  const String& Text() const { return FUrl; }

  // The object path of the request line.
  String GetDocumentWithParams() const;
  // Raises EHTTPException "Host field is empty." without a host.
  String GetNewURL(bool haveAuthInfo) const;
  String ToString();
  String GetURLBase() const;

  static String PathRelativeToAbs(StringView RelPath, const TURI& Base);

 private:
  const TURI& Parsed() const {
    if (FPort == 0) ParseURI();
    return *this;
  }
  void ParseURI() const;
  String HostForURL() const;

  bool FChangeURL = false;
  mutable uint16_t FPort = 0;
  String FUrl;
  mutable String FHost;
  mutable String FDocument;
  mutable String FParams;
  mutable String FBookmark;
  mutable String FPath;
  mutable String FScheme;
  mutable String FUserName;
  mutable String FPassword;
};

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

// Percent-encoding of a whole URL; delimiters (#%&/:=?) stay as they are.
String EncodeURL(StringView Text, bool SpaceAsPlus);
// True when the table copies the code unchanged, false when it is escaped.
bool URLEncodeKeeps(unsigned Code);

// ASCII-only case folding for protocol names.
bool SameTextAscii(StringView A, StringView B);
bool StartsTextAscii(StringView S, StringView Prefix);
bool EndsTextAscii(StringView S, StringView Suffix);
