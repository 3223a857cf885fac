// KivJson: JSON documents as trees of containers and typed records, the
// lenient parser, the writer, files and streams, paths, search and sort.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "json/KivJsonVariant.h"
#include "support/KivStr.h"
#include "support/KivTypes.h"

enum JSONDataType : uint8_t {
  jdtUnknown,
  jdtNull,
  jdtString,
  jdtInteger,
  jdtFloat,
  jdtBoolean,
  jdtDateTime,
  jdtObject,
  jdtBytes
};

class JSONBase;
class JSONObject;
class JSONArray;
class TJsonArena;
struct JSONValue;
using PJSONValue = JSONValue*;

// Library-wide settings; set once at start-up, read without locking.
extern bool StrictJson;
extern bool JsonCaseSensitive;
extern bool JsonNameAfterSpace;
extern int JsonFloatDigits;
extern String JsonDateFormat;
extern String JsonTimeFormat;
extern String JsonDateTimeFormat;
extern bool JsonDateAsJavaScript;
extern bool JsonDateInSeconds;
extern int8_t JsonTimeZone;
extern bool JsonBlobBase64;

// Nesting deeper than this is refused by the parser: the reader, the writer
// and destruction are recursive and must not run out of stack.
constexpr int kJsonMaxDepth = 1000;

uint32_t NameHash(StringView s);

// One record of a container: name, type tag and value bytes; a nested
// container hangs off FObject. Small values live inline, larger ones in the
// document's arena (parsed) or on the heap (stored later).
struct JSONValue {
  JSONBase* FObject = nullptr;
  const char16_t* FNamePtr = nullptr;
  uint32_t FNameLen = 0;
  uint32_t FNameHash = 0;
  uint32_t FValueLen = 0;
  JSONDataType FType = jdtUnknown;
  uint8_t FFlags = 0;
  union {
    uint8_t FInline[8];
    const uint8_t* FPtr;
  };

  enum : uint8_t { kHeapValue = 1, kHeapName = 2 };

  JSONValue() : FPtr(nullptr) {}
  ~JSONValue();
  JSONValue(const JSONValue&) = delete;
  JSONValue& operator=(const JSONValue&) = delete;

  // Raw access to the value bytes.
  const uint8_t* ValueData() const { return FValueLen <= 8 ? FInline : FPtr; }
  uint32_t ValueSize() const { return FValueLen; }
  void SetValueBytes(JSONDataType AType, const void* P, size_t Len);
  void ReleaseValue();  // child container and bytes; type stays

  StringView Name() const { return StringView(FNamePtr, FNameLen); }
  void SetName(StringView AName);
  JSONDataType Type() const { return FType; }

  void Clear();
  String ToString() const { return ToString(0, false); }
  String ToString(int AIndent, bool ADoEscape) const;
  String GetPath(StringView ADelimiter = u"\\") const;
  JSONBase* GetObject() const { return FType == jdtObject ? FObject : nullptr; }
  String GetString() const;
  String GetStringEx(TTextEncoding AEncoding) const;
  void CopyValue(const JSONValue* ASource);
  void SetBytes(const void* Data, size_t ASize);
  void SetBytes(TStream* Source, bool IsAll);
  bool ParseBlobData();
  void SetVariantToStream(const TJsonVariant& Value);
  TJsonVariant GetVariantFormStream() const;
  double TryAsDatetime(double DefaultValue) const;

  String AsString() const;
  bool AsBoolean() const;
  int64_t AsInt64() const;
  int32_t AsInteger() const { return static_cast<int32_t>(AsInt64()); }
  long double AsFloat() const;
  double AsDouble() const { return static_cast<double>(AsFloat()); }
  double AsDateTime() const;
  TJsonVariant AsVariant() const;
  JSONObject* AsJsonObject() const;
  JSONArray* AsJsonArray() const;
  std::unique_ptr<TPointerStream> AsStream();
  Bytes AsBytes() const;

  void SetAsString(StringView V);
  void SetAsBoolean(bool V);
  void SetAsByte(uint8_t V);
  void SetAsWord(uint16_t V);
  void SetAsInteger(int32_t V);
  void SetAsDWORD(uint32_t V);
  void SetAsInt64(int64_t V);
  void SetAsDouble(double V);
  void SetAsFloat(long double V);
  void SetAsDateTime(double V);
  void SetAsBytes(const Bytes& V) { SetBytes(V.data(), V.size()); }
  void SetAsStream(TStream* V);
  void SetNull();
};

// One element of a mixed value list (Add(AItems), AddChildArray(Key, AItems)).
struct TJsonListItem {
  enum TKind { lkInteger, lkBoolean, lkExtended, lkInt64, lkPointer, lkVariant, lkString, lkObject,
               lkUnsupported };
  TKind Kind;
  int64_t I = 0;
  bool B = false;
  long double F = 0;
  const void* P = nullptr;
  TJsonVariant V;
  String S;
  JSONBase* O = nullptr;

  TJsonListItem(int32_t v) : Kind(lkInteger), I(v) {}
  TJsonListItem(bool v) : Kind(lkBoolean), B(v) {}
  TJsonListItem(double v) : Kind(lkExtended), F(v) {}
  TJsonListItem(long double v) : Kind(lkExtended), F(v) {}
  TJsonListItem(int64_t v) : Kind(lkInt64), I(v) {}
  TJsonListItem(const void* v) : Kind(lkPointer), P(v) {}
  TJsonListItem(const TJsonVariant& v) : Kind(lkVariant), V(v) {}
  TJsonListItem(char16_t v) : Kind(lkString), S(1, v) {}
  TJsonListItem(const char16_t* v) : Kind(lkString), S(v ? v : u"") {}
  TJsonListItem(StringView v) : Kind(lkString), S(v) {}
  TJsonListItem(const String& v) : Kind(lkString), S(v) {}
  TJsonListItem(const char* v) : Kind(lkString), S(FromUtf8(v ? v : "")) {}
  TJsonListItem(JSONBase* v) : Kind(lkObject), O(v) {}
  // Anything else the caller wants to pass (kinds the list does not take).
  struct TOther {};
  TJsonListItem(TOther) : Kind(lkUnsupported) {}
};
using TJsonList = std::initializer_list<TJsonListItem>;

class JSONEnumerator {
 public:
  explicit JSONEnumerator(const JSONBase* AList) : FList(AList) {}
  bool MoveNext();
  PJSONValue GetCurrent() const;
  PJSONValue Current() const { return GetCurrent(); }

 private:
  int FIndex = -1;
  const JSONBase* FList;
};

using JSONFilterEventA = std::function<void(JSONBase* ASender, PJSONValue AItem, bool& Accept, void* ATag)>;
using JSONCompare = int (*)(PJSONValue, PJSONValue);
using JSONCompareA = std::function<int(PJSONValue, PJSONValue)>;

class JSONBase {
 public:
  JSONBase();
  virtual ~JSONBase();
  JSONBase(const JSONBase&) = delete;
  JSONBase& operator=(const JSONBase&) = delete;

  bool IsJSONArray() const { return FIsArray; }
  bool IsJSONObject() const { return !FIsArray; }
  int Count() const { return static_cast<int>(FItems.size()); }
  PJSONValue GetItems(int Index) const;
  PJSONValue Items(int Index) const { return GetItems(Index); }
  PJSONValue operator[](int Index) const { return GetItems(Index); }

  virtual void Clear();
  void Remove(int Index);
  int IndexOf(StringView Key) const;
  bool Exist(StringView Key) const { return IndexOf(Key) >= 0; }
  int IndexOfItem(const JSONValue* Item) const;
  int IndexOfObject(const JSONBase* Value) const;
  // Takes the containers of the records at AIndexes (ascending) out in one
  // pass: the records go, the containers are returned without a parent and
  // belong to the caller. Other records at those indexes are left alone.
  std::vector<JSONBase*> ExtractItems(const std::vector<int>& AIndexes);

  JSONBase* Parent() const { return FParent; }
  String Name() const;
  void SetName(StringView AName);
  int ItemIndex() const;
  PJSONValue Next() const;
  void* Data() const { return FData; }
  void SetData(void* P) { FData = P; }
  // The record that names this container (in the parent, or its own).
  PJSONValue NameRecord() const { return FValue; }

  // Parsing.
  bool Parse(StringView Text, bool IgnoreZero = false);
  bool Parse(const char16_t* Text, bool IgnoreZero) { return Parse(StringView(Text), IgnoreZero); }
  virtual bool Parse(const char16_t* p, int64_t len);
  void Decode(const String& s);
  void Decode(StringView s);
  void Decode(const char16_t* s) { Decode(s, -1); }
  void Decode(const char16_t* p, int64_t len);
  bool TryParse(StringView Text);
  bool TryParse(const char16_t* p, int64_t len);
  static JSONBase* Parser(StringView Text, bool RaiseError);
  static JSONBase* Parser(const char16_t* P, int64_t Len, bool RaiseError);
  static JSONBase* Parser(TStream& AStream, bool RaiseError);
  // Every top-level value of a text, in order: the first as Parser reads it,
  // then each further array or object (concatenated files, one object per
  // line), each a root of its own. Anything else after a value is a syntax
  // error naming its line and column. The stream form detects the encoding as
  // Parser does. On an error: raises, or returns no value at all.
  static std::vector<std::unique_ptr<JSONBase>> ParserValues(StringView Text, bool RaiseError);
  static std::vector<std::unique_ptr<JSONBase>> ParserValues(TStream& AStream, bool RaiseError);
  // The same, but text after whole values that is no value (junk left by an
  // overwritten file, a trailing comment) does not undo them: they are
  // returned and ATrailing holds the error naming where the junk begins.
  // Raises when not even the first value is whole.
  static std::vector<std::unique_ptr<JSONBase>> ParserValues(TStream& AStream, String& ATrailing);
  static JSONObject* ParseObject(StringView Text, bool RaiseError);
  static JSONArray* ParseArray(StringView Text, bool RaiseError);
  PJSONValue PutJSON(StringView Key, StringView Value, JSONDataType AType = jdtUnknown);

  // Writing.
  virtual String Encode(int AIndent, bool ADoEscape) const;
  // One line, no blank after names whatever JsonNameAfterSpace says, other
  // scripts as they are: the text request bodies and address options carry.
  String EncodeCompact() const;
  String ToString(int AIndent, bool ADoEscape) const { return Encode(AIndent, ADoEscape); }
  String ToString() const { return Encode(0, true); }
  String Value() const { return Encode(0, true); }
  void SetValue(StringView Text) { Decode(Text); }
  static void CatJson(TStringCatHelper& ABuilder, StringView AValue, bool ADoEscape);

  // Files and streams.
  void LoadFromFile(const String& AFileName, TTextEncoding AEncoding = teUnknown);
  void LoadFromStream(TStream& AStream, TTextEncoding AEncoding = teUnknown);
  void SaveToFile(const String& AFileName, int AIndent);
  void SaveToFile(const String& AFileName, int AIndent, TTextEncoding AEncoding, bool AWriteBOM);
  void SaveToStream(TStream& AStream, int AIndent, TTextEncoding AEncoding, bool AWriteBOM,
                    bool ADoEscape);
  void SaveToStream(TStream& AStream, int AIndent, bool ADoEscape);

  // Paths, search, copy and sort.
  String GetPath(StringView ADelimiter = u"\\") const;
  String Path() const { return GetPath(u"\\"); }
  PJSONValue ItemByPath(StringView APath, char16_t ADelimiter = u'\\') const;
  PJSONValue ForcePath(StringView APath, char16_t ADelimiter = u'\\');
  int ItemByRegex(StringView ARegex, std::vector<PJSONValue>& AList, bool ANest) const;
  PJSONValue FindIf(void* ATag, bool ANest, const JSONFilterEventA& AFilter);
  JSONBase* CopyIf(void* ATag, const JSONFilterEventA& AFilter);
  void DeleteIf(void* ATag, bool ANest, const JSONFilterEventA& AFilter);
  JSONBase* Copy() const;
  void Assign(const JSONBase* ANode);
  // Takes plain functions and closures alike; an empty one sorts nothing.
  void Sort(const JSONCompareA& Compare);

  JSONEnumerator GetEnumerator() const { return JSONEnumerator(this); }
  std::vector<PJSONValue>::const_iterator begin() const { return FItems.begin(); }
  std::vector<PJSONValue>::const_iterator end() const { return FItems.end(); }

  static void SetJsonCaseSensitive(bool v) { JsonCaseSensitive = v; }

 protected:
  explicit JSONBase(bool AIsArray);

  // Record management (all records come from FArena).
  void ReserveOneMore();
  PJSONValue NewRecord(StringView AName);
  PJSONValue AppendRecord(StringView AName);
  PJSONValue InsertRecord(int Index, StringView AName);
  void ReleaseRecord(PJSONValue R);
  // A new child container linked to a new record named AName.
  JSONBase* NewChild(StringView AName, bool AArray, int Index = -1);
  // Moves AChild into record R of this container.
  void MoveInto(PJSONValue R, JSONBase* AChild);
  // Takes a child out of its record without destroying it.
  void Detach();
  PJSONValue FindItem(StringView Key) const;
  PJSONValue ChildItem(StringView Key);
  void AddList(JSONBase* ATarget, TJsonList AItems);
  void PutVariant(PJSONValue R, const TJsonVariant& V);
  void PutDateTimeText(PJSONValue R, StringView Value);

  friend struct JSONValue;
  friend class TJsonReader;
  friend class TJsonWriter;
  friend class JSONObject;
  friend class JSONArray;
  friend class TJsonPathOps;

  JSONBase* FParent = nullptr;
  std::vector<PJSONValue> FItems;
  void* FData = nullptr;
  PJSONValue FValue = nullptr;
  TJsonArena* FArena = nullptr;
  bool FIsArray = false;
};

class JSONObject : public JSONBase {
 public:
  JSONObject() : JSONBase(false) {}

  PJSONValue Add(StringView Key);
  PJSONValue Put(StringView Key, bool Value);
  PJSONValue Put(StringView Key, uint8_t Value);
  PJSONValue Put(StringView Key, uint16_t Value);
  PJSONValue Put(StringView Key, int32_t Value);
  PJSONValue Put(StringView Key, uint32_t Value);
  PJSONValue Put(StringView Key, int64_t Value);
  PJSONValue Put(StringView Key, double Value);
  PJSONValue Put(StringView Key, long double Value);
  PJSONValue Put(StringView Key, StringView Value);
  PJSONValue Put(StringView Key, const String& Value) { return Put(Key, StringView(Value)); }
  PJSONValue Put(StringView Key, const char16_t* Value) { return Put(Key, StringView(Value)); }
  PJSONValue Put(StringView Key, const char* Value) = delete;  // bytes or text? say which
  PJSONValue Put(StringView Key, const Bytes& Value);
  PJSONValue Put(StringView Key, TStream* Value);
  PJSONValue Put(StringView Key, const TJsonVariant& Value);
  PJSONValue Put(StringView Key, JSONBase* Value);
  JSONArray* Put(StringView Key, TJsonList AItems) { return AddChildArray(Key, AItems); }
  PJSONValue PutDateTime(StringView Key, double Value);

  void SetString(StringView Key, StringView Value);
  void SetBoolean(StringView Key, bool Value);
  void SetByte(StringView Key, uint8_t Value);
  void SetWord(StringView Key, uint16_t Value);
  void SetInt(StringView Key, int32_t Value);
  void SetDWORD(StringView Key, uint32_t Value);
  void SetInt64(StringView Key, int64_t Value);
  void SetDouble(StringView Key, double Value);
  void SetFloat(StringView Key, long double Value);
  void SetDateTime(StringView Key, double Value);
  void SetVariant(StringView Key, const TJsonVariant& Value);
  void SetJsonObject(StringView Key, JSONObject* Value);
  void SetJsonArray(StringView Key, JSONArray* Value);
  void SetStream(StringView Key, TStream* Value);
  void SetBytes(StringView Key, const Bytes& Value);

  String GetString(StringView Key) const;
  bool GetBoolean(StringView Key) const;
  int64_t GetInt64(StringView Key) const;
  int32_t GetInt(StringView Key) const;
  uint16_t GetWord(StringView Key) const;
  uint8_t GetByte(StringView Key) const;
  uint32_t GetDWORD(StringView Key) const;
  long double GetFloat(StringView Key) const;
  double GetDouble(StringView Key) const;
  double GetDateTime(StringView Key) const;
  TJsonVariant GetVariant(StringView Key) const;
  JSONObject* GetJsonObject(StringView Key) const;
  JSONArray* GetJsonArray(StringView Key) const;
  std::unique_ptr<TPointerStream> GetStream(StringView Key) const;
  Bytes GetBytes(StringView Key) const;

  PJSONValue GetItem(StringView Key) const { return FindItem(Key); }
  bool Contains(StringView Key) const { return Exist(Key); }
  void Delete(StringView Key) { Remove(IndexOf(Key)); }
  JSONObject* AddChildObject(StringView Key);
  JSONArray* AddChildArray(StringView Key);
  JSONArray* AddChildArray(StringView Key, TJsonList AItems);
  PJSONValue GetChildItem(StringView Key);
  PJSONValue Child(StringView Key) { return GetChildItem(Key); }
  PJSONValue GetChildForceItem(StringView Path);
  PJSONValue ChildForce(StringView Path) { return GetChildForceItem(Path); }
  JSONObject* NextAsJsonObject() const;
  JSONObject* Clone() const;

  static JSONObject* ParseObjectByName(StringView Text, StringView Key, const TJsonVariant* Value);
  static String ParseStringByName(StringView Text, StringView Key);
};

class JSONArray : public JSONBase {
 public:
  JSONArray() : JSONBase(true) {}

  PJSONValue AddNull();
  PJSONValue Add(bool Value);
  PJSONValue Add(uint8_t Value);
  PJSONValue Add(uint16_t Value);
  PJSONValue Add(int32_t Value);
  PJSONValue Add(uint32_t Value);
  PJSONValue Add(int64_t Value);
  PJSONValue Add(double Value);
  PJSONValue Add(long double Value);
  PJSONValue Add(StringView Value);
  PJSONValue Add(const String& Value) { return Add(StringView(Value)); }
  PJSONValue Add(const char16_t* Value) { return Add(StringView(Value)); }
  PJSONValue Add(const char* Value) = delete;
  PJSONValue Add(const Bytes& Value);
  PJSONValue Add(TStream* Value);
  PJSONValue Add(const TJsonVariant& Value);
  PJSONValue Add(JSONBase* Value);
  JSONArray* Add(TJsonList AItems);
  PJSONValue AddDateTime(double Value);
  PJSONValue AddJSON(StringView Value, JSONDataType AType = jdtUnknown) {
    return PutJSON(u"", Value, AType);
  }
  JSONObject* AddChildObject(int Index = -1);
  JSONArray* AddChildArray(int Index = -1);

  void SetString(int Index, StringView Value);
  void SetBoolean(int Index, bool Value);
  void SetByte(int Index, uint8_t Value);
  void SetWord(int Index, uint16_t Value);
  void SetInt(int Index, int32_t Value);
  void SetDWORD(int Index, uint32_t Value);
  void SetInt64(int Index, int64_t Value);
  void SetDouble(int Index, double Value);
  void SetFloat(int Index, long double Value);
  void SetDateTime(int Index, double Value);
  void SetVariant(int Index, const TJsonVariant& Value);
  void SetJsonObject(int Index, JSONObject* Value);
  void SetJsonArray(int Index, JSONArray* Value);
  void SetStream(int Index, TStream* Value);
  void SetBytes(int Index, const Bytes& Value);

  String GetString(int Index) const;
  bool GetBoolean(int Index) const;
  int64_t GetInt64(int Index) const;
  int32_t GetInt(int Index) const;
  uint16_t GetWord(int Index) const;
  uint8_t GetByte(int Index) const;
  uint32_t GetDWORD(int Index) const;
  long double GetFloat(int Index) const;
  double GetDouble(int Index) const;
  double GetDateTime(int Index) const;
  TJsonVariant GetVariant(int Index) const;
  JSONObject* GetJsonObject(int Index) const;
  JSONArray* GetJsonArray(int Index) const;
  std::unique_ptr<TPointerStream> GetStream(int Index) const;
  Bytes GetBytes(int Index) const;

  JSONArray* NextAsJsonArray() const;
  JSONArray* Clone() const;

 private:
  PJSONValue SetTarget(int Index);
};

// Text forms shared by the writer and the conversions.
String JsonFloatText(long double V);
String JsonDateText(double V);
String JsonBlobText(const void* P, size_t Len);
// Date text recognition; AllowInternet adds the "Wed, 01 May 2019 ..." form.
bool JsonParseDateText(StringView S, double& AResult, bool AllowInternet);
