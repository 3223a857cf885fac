// The value model: records, containers, lookup, the Get/Set/Put/Add families.
#include "json/KivJson.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "json/KivJsonArena.h"
#include "json/KivJsonInternal.h"

bool StrictJson = false;
bool JsonCaseSensitive = true;
bool JsonNameAfterSpace = false;
int JsonFloatDigits = 0;
String JsonDateFormat = u"yyyy-mm-dd";
String JsonTimeFormat = u"hh:nn:ss.zzz";
String JsonDateTimeFormat = u"yyyy-mm-dd hh:nn:ss.zzz";
bool JsonDateAsJavaScript = false;
bool JsonDateInSeconds = false;
int8_t JsonTimeZone = -128;
bool JsonBlobBase64 = true;

using namespace kiv_json;

uint32_t NameHash(StringView s) {
  uint32_t h = 0;
  for (char16_t c : s) {
    h = h * 131 + uint8_t(c & 0xFF);
    h = h * 131 + uint8_t(c >> 8);
  }
  return h;
}

// ---------------------------------------------------------------- record

JSONValue::~JSONValue() {
  ReleaseValue();
  if (FFlags & kHeapName) std::free(const_cast<char16_t*>(FNamePtr));
}

void JSONValue::ReleaseValue() {
  if (FObject) {
    JSONBase* k = FObject;
    FObject = nullptr;
    k->FParent = nullptr;
    k->FValue = nullptr;
    delete k;
  }
  if (FFlags & kHeapValue) {
    std::free(const_cast<uint8_t*>(FPtr));
    FFlags &= ~kHeapValue;
  }
  FValueLen = 0;
  FPtr = nullptr;
}

void JSONValue::SetValueBytes(JSONDataType AType, const void* P, size_t Len) {
  if (Len > UINT32_MAX) throw Exception(u"值太大, 无法保存.");
  // The source may be our own bytes (CopyValue of itself): copy first.
  uint8_t tmp[8];
  uint8_t* heap = nullptr;
  if (Len <= 8) {
    if (Len) std::memcpy(tmp, P, Len);
  } else {
    heap = static_cast<uint8_t*>(std::malloc(Len));
    if (!heap) throw std::bad_alloc();
    std::memcpy(heap, P, Len);
  }
  ReleaseValue();
  FType = AType;
  FValueLen = static_cast<uint32_t>(Len);
  if (heap) {
    FPtr = heap;
    FFlags |= kHeapValue;
  } else if (Len) {
    std::memcpy(FInline, tmp, Len);
  }
}

void JSONValue::SetName(StringView AName) {
  char16_t* p = nullptr;
  if (!AName.empty()) {
    p = static_cast<char16_t*>(std::malloc(AName.size() * sizeof(char16_t)));
    if (!p) throw std::bad_alloc();
    std::memcpy(p, AName.data(), AName.size() * sizeof(char16_t));
  }
  if (FFlags & kHeapName) std::free(const_cast<char16_t*>(FNamePtr));
  FNamePtr = p ? p : u"";
  FNameLen = static_cast<uint32_t>(AName.size());
  FNameHash = 0;
  if (p)
    FFlags |= kHeapName;
  else
    FFlags &= ~kHeapName;
}

void JSONValue::Clear() {
  ReleaseValue();
  FType = jdtUnknown;
  SetName(u"");
}

String JSONValue::ToString(int AIndent, bool ADoEscape) const {
  if (FType == jdtObject && FObject) return FObject->Encode(AIndent, ADoEscape);
  return AsString();
}

String JSONValue::GetPath(StringView ADelimiter) const {
  if (FType == jdtObject && FObject) return FObject->GetPath(ADelimiter);
  return String();
}

String JSONValue::GetString() const {
  return String(reinterpret_cast<const char16_t*>(ValueData()), FValueLen / 2);
}

String JSONValue::GetStringEx(TTextEncoding AEncoding) const {
  if (FValueLen == 0) return String();
  TPointerStream s(ValueData(), FValueLen);
  Bytes a = LoadTextA(s, AEncoding);
  return AnsiDecode(a);
}

void JSONValue::CopyValue(const JSONValue* ASource) {
  if (ASource == this) return;
  // A container tag without its child would leave a broken record: null it.
  SetValueBytes(ASource->FType == jdtObject ? jdtNull : ASource->FType, ASource->ValueData(),
                ASource->FValueLen);
}

void JSONValue::SetBytes(const void* Data, size_t ASize) { SetValueBytes(jdtBytes, Data, ASize); }

void JSONValue::SetBytes(TStream* Source, bool IsAll) {
  if (!Source) {
    SetValueBytes(jdtBytes, nullptr, 0);
    return;
  }
  int64_t pos = Source->Position();
  if (IsAll) Source->SetPosition(0);
  Bytes b = Source->ReadRest();
  if (!IsAll) Source->SetPosition(pos);
  SetValueBytes(jdtBytes, b.data(), b.size());
}

void JSONValue::SetAsStream(TStream* V) { SetBytes(V, true); }

bool JSONValue::ParseBlobData() {
  if (FValueLen < 16) return false;  // 8 characters at least
  StringView t(reinterpret_cast<const char16_t*>(ValueData()), FValueLen / 2);
  if (t.substr(0, 7) != u"[blob]<" || t.back() != u'>') return false;
  Bytes out;
  StringView body = t.substr(7, t.size() - 8);
  if (body.substr(0, 4) == u"[BS]") {
    if (!Base64Decode(body.substr(4), out)) out.clear();
  } else {
    if (body.size() % 2) {
      out.clear();
    } else {
      out.reserve(body.size() / 2);
      for (size_t i = 0; i + 1 < body.size(); i += 2) {
        if (!IsHexChar(body[i]) || !IsHexChar(body[i + 1])) {
          out.clear();
          break;
        }
        out.push_back(char(HexCharValue(body[i]) * 16 + HexCharValue(body[i + 1])));
      }
    }
  }
  SetValueBytes(jdtBytes, out.data(), out.size());
  return true;
}

void JSONValue::SetVariantToStream(const TJsonVariant& Value) {
  const Bytes& b = Value.AsBytes();
  SetValueBytes(jdtBytes, b.data(), b.size());
}

TJsonVariant JSONValue::GetVariantFormStream() const {
  auto s = const_cast<JSONValue*>(this)->AsStream();
  if (!s) return TJsonVariant::Null();
  return TJsonVariant::ByteArray(s->ReadRest());
}

double JSONValue::TryAsDatetime(double DefaultValue) const {
  if (FType == jdtNull || FValueLen == 0) return DefaultValue;
  try {
    return AsDateTime();
  } catch (const Exception&) {
    return DefaultValue;
  }
}

namespace {

int64_t ReadStoredInt(const uint8_t* p, uint32_t len) {
  switch (len) {
    case 1: {
      int8_t v;
      std::memcpy(&v, p, 1);
      return v;
    }
    case 2: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case 4: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case 8: {
      int64_t v;
      std::memcpy(&v, p, 8);
      return v;
    }
    default:
      return 0;
  }
}

double ReadStoredDouble(const uint8_t* p, uint32_t len) {
  if (len != 8) return 0;
  double d;
  std::memcpy(&d, p, 8);
  return d;
}

int64_t TruncToInt64(long double v) {
  if (!(v == v)) return 0;
  if (v >= 9223372036854775807.0L) return INT64_MAX;
  if (v <= -9223372036854775808.0L) return INT64_MIN;
  return static_cast<int64_t>(v);
}

}  // namespace

String JSONValue::AsString() const {
  switch (FType) {
    case jdtUnknown:
    case jdtNull:
      return u"null";
    case jdtString:
      return GetString();
    case jdtInteger:
      return IntToStr(AsInt64());
    case jdtFloat: {
      StringView text = StoredFloatText(ValueData(), FValueLen);
      return text.empty() ? JsonFloatText(StoredFloat(ValueData(), FValueLen)) : String(text);
    }
    case jdtBoolean:
      return AsBoolean() ? u"true" : u"false";
    case jdtDateTime:
      return JsonDateText(ReadStoredDouble(ValueData(), FValueLen));
    case jdtObject:
      return FObject ? FObject->Encode(0, false) : String();
    case jdtBytes:
      return JsonBlobText(ValueData(), FValueLen);
  }
  return String();
}

bool JSONValue::AsBoolean() const {
  if (FValueLen == 0) return false;
  const uint8_t* p = ValueData();
  switch (FType) {
    case jdtUnknown:
    case jdtBoolean:
    case jdtBytes:
      return p[0] != 0;
    case jdtString: {
      String t = LowerCaseAscii(GetString());
      return t == u"true" || t == u"yes" || t == u"1";
    }
    case jdtInteger:
      return ReadStoredInt(p, FValueLen) != 0;
    case jdtFloat:
      return StoredFloat(p, FValueLen) != 0;
    case jdtDateTime:
      return ReadStoredDouble(p, FValueLen) != 0;
    default:
      return false;
  }
}

int64_t JSONValue::AsInt64() const {
  const uint8_t* p = ValueData();
  switch (FType) {
    case jdtString: {
      int32_t v;
      return TextToInt32(StringView(reinterpret_cast<const char16_t*>(p), FValueLen / 2), v) ? v
                                                                                              : 0;
    }
    case jdtInteger:
      return ReadStoredInt(p, FValueLen);
    case jdtFloat:
      return TruncToInt64(StoredFloat(p, FValueLen));
    case jdtBoolean:
      return FValueLen && p[0] ? 1 : 0;
    case jdtDateTime:
      return TruncToInt64(ReadStoredDouble(p, FValueLen));
    default:
      return 0;
  }
}

long double JSONValue::AsFloat() const {
  const uint8_t* p = ValueData();
  switch (FType) {
    case jdtString: {
      long double v;
      return TextToFloat(StringView(reinterpret_cast<const char16_t*>(p), FValueLen / 2), v) ? v
                                                                                              : 0;
    }
    case jdtInteger:
      return static_cast<long double>(ReadStoredInt(p, FValueLen));
    case jdtFloat:
      return StoredFloat(p, FValueLen);
    case jdtBoolean:
      return FValueLen && p[0] ? 1 : 0;
    case jdtDateTime:
      return ReadStoredDouble(p, FValueLen);
    default:
      return 0;
  }
}

double JSONValue::AsDateTime() const {
  const uint8_t* p = ValueData();
  switch (FType) {
    case jdtString: {
      double v;
      if (JsonParseDateText(GetString(), v, true)) return v;
      break;
    }
    case jdtInteger:
      return static_cast<double>(ReadStoredInt(p, FValueLen));
    case jdtFloat:
      return static_cast<double>(StoredFloat(p, FValueLen));
    case jdtDateTime:
      return ReadStoredDouble(p, FValueLen);
    default:
      break;
  }
  ThrowConvert(FType, u"DateTime");
}

TJsonVariant JSONValue::AsVariant() const {
  switch (FType) {
    case jdtString:
      return TJsonVariant(GetString());
    case jdtInteger:
      return TJsonVariant(AsInt64());
    case jdtFloat:
      return TJsonVariant(AsDouble());
    case jdtBoolean:
      return TJsonVariant(AsBoolean());
    case jdtDateTime:
      return TJsonVariant(ReadStoredDouble(ValueData(), FValueLen));
    case jdtObject: {
      std::vector<TJsonVariant> items;
      if (FObject) {
        items.reserve(FObject->Count());
        for (PJSONValue r : *FObject) items.push_back(r->AsVariant());
      }
      return TJsonVariant(std::move(items));
    }
    default:
      return TJsonVariant(int32_t(0));
  }
}

JSONObject* JSONValue::AsJsonObject() const {
  if (FType == jdtObject && FObject && !FObject->IsJSONArray())
    return static_cast<JSONObject*>(FObject);
  return nullptr;
}

JSONArray* JSONValue::AsJsonArray() const {
  if (FType == jdtObject && FObject && FObject->IsJSONArray())
    return static_cast<JSONArray*>(FObject);
  return nullptr;
}

std::unique_ptr<TPointerStream> JSONValue::AsStream() {
  if (FType == jdtString && FValueLen > 4) ParseBlobData();
  return std::make_unique<TPointerStream>(ValueData(), FValueLen);
}

Bytes JSONValue::AsBytes() const {
  return Bytes(reinterpret_cast<const char*>(ValueData()), FValueLen);
}

void JSONValue::SetAsString(StringView V) {
  SetValueBytes(jdtString, V.data(), V.size() * sizeof(char16_t));
}
void JSONValue::SetAsBoolean(bool V) {
  uint8_t b = V ? 1 : 0;
  SetValueBytes(jdtBoolean, &b, 1);
}
// Unsigned values that would read back negative at their put width are kept
// one width wider, so they come back as they were put.
void JSONValue::SetAsByte(uint8_t V) {
  if (V >= 0x80) {
    int16_t w = V;
    SetValueBytes(jdtInteger, &w, 2);
  } else {
    SetValueBytes(jdtInteger, &V, 1);
  }
}
void JSONValue::SetAsWord(uint16_t V) {
  if (V >= 0x8000) {
    int32_t w = V;
    SetValueBytes(jdtInteger, &w, 4);
  } else {
    SetValueBytes(jdtInteger, &V, 2);
  }
}
void JSONValue::SetAsInteger(int32_t V) { SetValueBytes(jdtInteger, &V, 4); }
void JSONValue::SetAsDWORD(uint32_t V) {
  if (V >= 0x80000000u) {
    int64_t w = V;
    SetValueBytes(jdtInteger, &w, 8);
  } else {
    SetValueBytes(jdtInteger, &V, 4);
  }
}
void JSONValue::SetAsInt64(int64_t V) { SetValueBytes(jdtInteger, &V, 8); }
void JSONValue::SetAsDouble(double V) { SetValueBytes(jdtFloat, &V, 8); }
void JSONValue::SetAsFloat(long double V) { SetValueBytes(jdtFloat, &V, 10); }
void JSONValue::SetAsDateTime(double V) { SetValueBytes(jdtDateTime, &V, 8); }
void JSONValue::SetNull() { SetValueBytes(jdtNull, nullptr, 0); }

// ---------------------------------------------------------------- container

JSONBase::JSONBase() : JSONBase(false) {}
JSONBase::JSONBase(bool AIsArray) : FIsArray(AIsArray) {}

JSONBase::~JSONBase() {
  // A child deleted directly takes its record out of the parent instead of
  // leaving the parent pointing at freed memory.
  if (FParent) {
    JSONBase* p = FParent;
    int i = p->IndexOfObject(this);
    FParent = nullptr;
    FValue = nullptr;
    if (i >= 0) {
      PJSONValue r = p->FItems[size_t(i)];
      p->FItems.erase(p->FItems.begin() + i);
      r->FObject = nullptr;
      p->ReleaseRecord(r);
    }
  }
  JSONBase::Clear();
  if (!FParent && FValue) {
    delete FValue;  // the own name record of a root
    FValue = nullptr;
  }
  if (FArena) FArena->Release();
}

PJSONValue JSONBase::NewRecord(StringView AName) {
  if (!FArena) FArena = new TJsonArena();
  std::lock_guard<std::mutex> lock(FArena->Lock());
  PJSONValue r = FArena->NewRecordUnlocked();
  r->FNamePtr = FArena->InternUnlocked(AName.data(), uint32_t(AName.size()));
  r->FNameLen = uint32_t(AName.size());
  return r;
}

// Room for one more item before the record is made, so that a failing
// allocation cannot strand it; the room grows geometrically (a reserve of
// exactly one more would copy the whole list on every append).
void JSONBase::ReserveOneMore() {
  if (FItems.size() == FItems.capacity()) FItems.reserve(std::max<size_t>(8, FItems.size() * 2));
}

PJSONValue JSONBase::AppendRecord(StringView AName) {
  ReserveOneMore();
  PJSONValue r = NewRecord(AName);
  FItems.push_back(r);
  return r;
}

PJSONValue JSONBase::InsertRecord(int Index, StringView AName) {
  if (Index < 0 || Index >= Count()) return AppendRecord(AName);
  ReserveOneMore();
  PJSONValue r = NewRecord(AName);
  FItems.insert(FItems.begin() + Index, r);
  return r;
}

void JSONBase::ReleaseRecord(PJSONValue R) {
  R->ReleaseValue();  // may release nested containers of the same arena
  std::lock_guard<std::mutex> lock(FArena->Lock());
  FArena->FreeRecordUnlocked(R);
}

void JSONBase::Clear() {
  if (FItems.empty()) return;
  for (PJSONValue r : FItems) r->ReleaseValue();
  {
    std::lock_guard<std::mutex> lock(FArena->Lock());
    for (PJSONValue r : FItems) FArena->FreeRecordUnlocked(r);
    // Nothing else holds records of this arena: give the memory back, so
    // parsing into the same root again does not pile up chunks.
    if (FArena->RefCount() == 1) FArena->ResetUnlocked();
  }
  FItems.clear();
  FItems.shrink_to_fit();
}

PJSONValue JSONBase::GetItems(int Index) const {
  if (Index < 0 || Index >= Count()) throw Exception(kMsgOutOfRange);
  return FItems[size_t(Index)];
}

void JSONBase::Remove(int Index) {
  if (Index < 0 || Index >= Count()) return;
  PJSONValue r = FItems[size_t(Index)];
  FItems.erase(FItems.begin() + Index);
  ReleaseRecord(r);
}

std::vector<JSONBase*> JSONBase::ExtractItems(const std::vector<int>& AIndexes) {
  std::vector<JSONBase*> taken;
  taken.reserve(AIndexes.size());
  std::vector<PJSONValue> released;
  size_t next = 0, keep = 0;
  for (size_t i = 0; i < FItems.size(); ++i) {
    PJSONValue r = FItems[i];
    while (next < AIndexes.size() && AIndexes[next] < int(i)) ++next;
    if (next < AIndexes.size() && AIndexes[next] == int(i) && r->FType == jdtObject && r->FObject) {
      JSONBase* k = r->FObject;
      r->FObject = nullptr;
      r->FType = jdtUnknown;
      k->FParent = nullptr;
      k->FValue = nullptr;
      taken.push_back(k);
      released.push_back(r);
      continue;
    }
    FItems[keep++] = r;
  }
  FItems.resize(keep);
  for (PJSONValue r : released) ReleaseRecord(r);
  return taken;
}

int JSONBase::IndexOf(StringView Key) const {
  const uint32_t len = uint32_t(Key.size());
  const int n = Count();
  if (JsonCaseSensitive) {
    const uint32_t h = len ? NameHash(Key) : 0;
    for (int i = 0; i < n; ++i) {
      PJSONValue r = FItems[size_t(i)];
      if (r->FNameLen != len) continue;
      if (r->FNameHash == 0) r->FNameHash = NameHash(r->Name());
      if (r->FNameHash == h && std::memcmp(r->FNamePtr, Key.data(), len * sizeof(char16_t)) == 0)
        return i;
    }
    return -1;
  }
  for (int i = 0; i < n; ++i) {
    PJSONValue r = FItems[size_t(i)];
    if (r->FNameLen != len) continue;
    const char16_t* a = r->FNamePtr;
    uint32_t k = 0;
    while (k < len && UpperAscii(a[k]) == UpperAscii(Key[k])) ++k;
    if (k == len) return i;
  }
  return -1;
}

int JSONBase::IndexOfItem(const JSONValue* Item) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i] == Item) return int(i);
  return -1;
}

int JSONBase::IndexOfObject(const JSONBase* Value) const {
  if (!Value) return -1;
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i]->FObject == Value) return int(i);
  return -1;
}

PJSONValue JSONBase::FindItem(StringView Key) const {
  int i = IndexOf(Key);
  return i < 0 ? nullptr : FItems[size_t(i)];
}

PJSONValue JSONBase::ChildItem(StringView Key) {
  PJSONValue r = FindItem(Key);
  if (r) return r;
  if (Key.empty()) throw Exception(kMsgNameNotFound);
  return AppendRecord(Key);
}

String JSONBase::Name() const { return FValue ? String(FValue->Name()) : String(); }

void JSONBase::SetName(StringView AName) {
  if (!FValue) FValue = new JSONValue();
  FValue->SetName(AName);
}

int JSONBase::ItemIndex() const { return FParent ? FParent->IndexOfObject(this) : -1; }

PJSONValue JSONBase::Next() const {
  if (!FParent) return nullptr;
  int i = FParent->IndexOfObject(this);
  if (i < 0 || i + 1 >= FParent->Count()) return nullptr;
  return FParent->FItems[size_t(i + 1)];
}

JSONBase* JSONBase::NewChild(StringView AName, bool AArray, int Index) {
  JSONBase* k = AArray ? static_cast<JSONBase*>(new JSONArray()) : new JSONObject();
  PJSONValue r;
  try {
    r = Index < 0 ? AppendRecord(AName) : InsertRecord(Index, AName);
  } catch (...) {
    delete k;
    throw;
  }
  k->FParent = this;
  k->FArena = FArena;
  FArena->AddRef();
  r->FType = jdtObject;
  r->FObject = k;
  k->FValue = r;
  return k;
}

void JSONBase::MoveInto(PJSONValue R, JSONBase* K) {
  if (R->FObject == K) {
    R->FType = jdtObject;
    return;
  }
  R->ReleaseValue();
  if (K->FParent) {
    JSONBase* p = K->FParent;
    int i = p->IndexOfObject(K);
    if (i >= 0) {
      PJSONValue old = p->FItems[size_t(i)];
      p->FItems.erase(p->FItems.begin() + i);
      old->FObject = nullptr;
      old->FType = jdtUnknown;
      p->ReleaseRecord(old);
    }
  } else if (K->FValue) {
    delete K->FValue;
  }
  R->FType = jdtObject;
  R->FObject = K;
  K->FParent = this;
  K->FValue = R;
}

namespace {
// Moving a container into itself or below itself would make a cycle.
void CheckMovable(const JSONBase* Target, const JSONBase* K) {
  for (const JSONBase* c = Target; c; c = c->Parent())
    if (c == K) throw Exception(u"不能将JSON结点添加到它自身或它的子结点中.");
}
}  // namespace

void JSONBase::PutVariant(PJSONValue R, const TJsonVariant& V) {
  switch (V.Kind()) {
    case TJsonVariant::vkInt8:
    case TJsonVariant::vkInt16:
    case TJsonVariant::vkInt32:
      R->SetAsInteger(int32_t(V.AsInt64()));
      break;
    case TJsonVariant::vkUInt8:
      R->SetAsByte(uint8_t(V.AsInt64()));
      break;
    case TJsonVariant::vkUInt16:
      R->SetAsWord(uint16_t(V.AsInt64()));
      break;
    case TJsonVariant::vkUInt32:
      R->SetAsDWORD(uint32_t(V.AsInt64()));
      break;
    case TJsonVariant::vkInt64:
      R->SetAsInt64(V.AsInt64());
      break;
    case TJsonVariant::vkSingle:
    case TJsonVariant::vkDouble:
      R->SetAsDouble(V.AsDouble());
      break;
    case TJsonVariant::vkCurrency:
      R->SetAsFloat(V.AsDouble());
      break;
    case TJsonVariant::vkDate:
      R->SetAsDateTime(V.AsDouble());
      break;
    case TJsonVariant::vkBoolean:
      R->SetAsBoolean(V.AsBoolean());
      break;
    case TJsonVariant::vkString:
      R->SetAsString(V.AsString());
      break;
    case TJsonVariant::vkArray: {
      auto* a = new JSONArray();
      try {
        for (const TJsonVariant& item : V.Items()) a->Add(item);
      } catch (...) {
        delete a;
        throw;
      }
      MoveInto(R, a);
      break;
    }
    default:
      R->SetNull();
      break;
  }
}

void JSONBase::AddList(JSONBase* ATarget, TJsonList AItems) {
  auto* a = static_cast<JSONArray*>(ATarget);
  int i = 0;
  for (const TJsonListItem& it : AItems) {
    switch (it.Kind) {
      case TJsonListItem::lkInteger:
        a->Add(int32_t(it.I));
        break;
      case TJsonListItem::lkBoolean:
        a->Add(it.B);
        break;
      case TJsonListItem::lkExtended:
        a->Add(it.F);
        break;
      case TJsonListItem::lkInt64:
        a->Add(int64_t(it.I));
        break;
      case TJsonListItem::lkPointer:
        a->Add(int32_t(reinterpret_cast<uintptr_t>(it.P)));
        break;
      case TJsonListItem::lkVariant:
        a->Add(it.V);
        break;
      case TJsonListItem::lkString:
        a->Add(StringView(it.S));
        break;
      case TJsonListItem::lkObject:
        if (it.O) {
          a->Add(it.O);
          break;
        }
        [[fallthrough]];
      default:
        throw Exception(Format(u"添加的动态数组第%d个元素类型不受支持。", i));
    }
    ++i;
  }
}

PJSONValue JSONBase::PutJSON(StringView Key, StringView Value, JSONDataType AType) {
  String text(Value);
  if (AType == jdtUnknown) {
    if (!ReadOneValue(this, Key, text.c_str())) {
      PJSONValue r = AppendRecord(Key);
      r->SetAsString(Value);
      return r;
    }
    return FItems.back();
  }
  PJSONValue r = AppendRecord(Key);
  switch (AType) {
    case jdtString:
      r->SetAsString(Value);
      break;
    case jdtInteger: {
      int32_t v;
      if (!TextToInt32(Value, v))
        throw Exception(Format(u"'%s' is not a valid integer value", Value));
      r->SetAsInteger(v);
      break;
    }
    case jdtFloat: {
      long double v;
      if (!TextToFloat(Value, v))
        throw Exception(Format(u"'%s' is not a valid floating point value", Value));
      r->SetAsFloat(v);
      break;
    }
    case jdtBoolean: {
      String l = LowerCaseAscii(Value);
      long double v;
      if (l == u"true")
        r->SetAsBoolean(true);
      else if (l == u"false")
        r->SetAsBoolean(false);
      else if (TextToFloat(Value, v))
        r->SetAsBoolean(v != 0);
      else
        throw Exception(Format(u"'%s' is not a valid Boolean value", Value));
      break;
    }
    case jdtDateTime: {
      double v;
      if (!JsonParseDateText(Value, v, false))
        throw Exception(Format(u"\"%s\"不是一个有效的日期时间值.", Value));
      r->SetAsDateTime(v);
      break;
    }
    case jdtObject: {
      JSONBase* k = nullptr;
      if (!Value.empty() && Value[0] == u'{')
        k = ParseObject(Value, true);
      else if (!Value.empty() && Value[0] == u'[')
        k = ParseArray(Value, true);
      else
        throw Exception(Format(u"%s 不是一个有效的JSON对象定义.", Value));
      MoveInto(r, k);
      break;
    }
    case jdtNull:
      r->SetNull();
      break;
    case jdtBytes: {
      r->SetAsString(Value);
      if (!r->ParseBlobData()) {
        r->SetValueBytes(jdtUnknown, nullptr, 0);
        throw Exception(Format(u"%s 不是一个有效的 %s 类型的值。", Value, u"Bytes"));
      }
      break;
    }
    default:
      break;
  }
  return r;
}

// ---------------------------------------------------------------- enumerator

bool JSONEnumerator::MoveNext() {
  if (FIndex >= FList->Count() - 1) return false;
  ++FIndex;
  return true;
}

PJSONValue JSONEnumerator::GetCurrent() const { return FList->GetItems(FIndex); }

// ---------------------------------------------------------------- JSONObject

PJSONValue JSONObject::Add(StringView Key) { return AppendRecord(Key); }

PJSONValue JSONObject::Put(StringView Key, bool Value) {
  PJSONValue r = AppendRecord(Key);
  r->SetAsBoolean(Value);
  return r;
}
PJSONValue JSONObject::Put(StringView Key, uint8_t Value) {
  PJSONValue r = AppendRecord(Key);
  r->SetAsByte(Value);
  return r;
}
PJSONValue JSONObject::Put(StringView Key, uint16_t Value) {
  PJSONValue r = AppendRecord(Key);
  r->SetAsWord(Value);
  return r;
}
PJSONValue JSONObject::Put(StringView Key, int32_t Value) {
  PJSONValue r = AppendRecord(Key);
  r->SetAsInteger(Value);
  return r;
}
PJSONValue JSONObject::Put(StringView Key, uint32_t Value) {
  PJSONValue r = AppendRecord(Key);
  r->SetAsInt64(int64_t(Value));
  return r;
}
PJSONValue JSONObject::Put(StringView Key, int64_t Value) {
  PJSONValue r = AppendRecord(Key);
  r->SetAsInt64(Value);
  return r;
}
PJSONValue JSONObject::Put(StringView Key, double Value) {
  PJSONValue r = AppendRecord(Key);
  r->SetAsDouble(Value);
  return r;
}
PJSONValue JSONObject::Put(StringView Key, long double Value) {
  PJSONValue r = AppendRecord(Key);
  r->SetAsFloat(Value);
  return r;
}
PJSONValue JSONObject::Put(StringView Key, StringView Value) {
  PJSONValue r = AppendRecord(Key);
  r->SetAsString(Value);
  return r;
}
PJSONValue JSONObject::Put(StringView Key, const Bytes& Value) {
  PJSONValue r = AppendRecord(Key);
  r->SetAsBytes(Value);
  return r;
}
PJSONValue JSONObject::Put(StringView Key, TStream* Value) {
  PJSONValue r = AppendRecord(Key);
  r->SetAsStream(Value);
  return r;
}
PJSONValue JSONObject::Put(StringView Key, const TJsonVariant& Value) {
  PJSONValue r = AppendRecord(Key);
  PutVariant(r, Value);
  return r;
}
PJSONValue JSONObject::Put(StringView Key, JSONBase* Value) {
  if (Value) CheckMovable(this, Value);
  PJSONValue r = AppendRecord(Key);
  if (Value)
    MoveInto(r, Value);
  else
    r->SetNull();
  return r;
}
PJSONValue JSONObject::PutDateTime(StringView Key, double Value) {
  PJSONValue r = AppendRecord(Key);
  r->SetAsDateTime(Value);
  return r;
}

void JSONObject::SetString(StringView Key, StringView Value) {
  if (!Key.empty()) ChildItem(Key)->SetAsString(Value);
}
void JSONObject::SetBoolean(StringView Key, bool Value) {
  if (!Key.empty()) ChildItem(Key)->SetAsBoolean(Value);
}
void JSONObject::SetByte(StringView Key, uint8_t Value) {
  if (!Key.empty()) ChildItem(Key)->SetAsByte(Value);
}
void JSONObject::SetWord(StringView Key, uint16_t Value) {
  if (!Key.empty()) ChildItem(Key)->SetAsWord(Value);
}
void JSONObject::SetInt(StringView Key, int32_t Value) {
  if (!Key.empty()) ChildItem(Key)->SetAsInteger(Value);
}
void JSONObject::SetDWORD(StringView Key, uint32_t Value) {
  if (!Key.empty()) ChildItem(Key)->SetAsDWORD(Value);
}
void JSONObject::SetInt64(StringView Key, int64_t Value) {
  if (!Key.empty()) ChildItem(Key)->SetAsInt64(Value);
}
void JSONObject::SetDouble(StringView Key, double Value) {
  if (!Key.empty()) ChildItem(Key)->SetAsDouble(Value);
}
void JSONObject::SetFloat(StringView Key, long double Value) {
  if (!Key.empty()) ChildItem(Key)->SetAsFloat(Value);
}
void JSONObject::SetDateTime(StringView Key, double Value) {
  if (!Key.empty()) ChildItem(Key)->SetAsDateTime(Value);
}
void JSONObject::SetVariant(StringView Key, const TJsonVariant& Value) {
  if (!Key.empty()) PutVariant(ChildItem(Key), Value);
}
void JSONObject::SetJsonObject(StringView Key, JSONObject* Value) {
  if (Key.empty()) return;
  if (!Value) {
    ChildItem(Key)->SetNull();
    return;
  }
  CheckMovable(this, Value);
  MoveInto(ChildItem(Key), Value);
}
void JSONObject::SetJsonArray(StringView Key, JSONArray* Value) {
  if (Key.empty()) return;
  if (!Value) {
    ChildItem(Key)->SetNull();
    return;
  }
  CheckMovable(this, Value);
  MoveInto(ChildItem(Key), Value);
}
void JSONObject::SetStream(StringView Key, TStream* Value) {
  if (!Key.empty()) ChildItem(Key)->SetAsStream(Value);
}
void JSONObject::SetBytes(StringView Key, const Bytes& Value) {
  if (!Key.empty()) ChildItem(Key)->SetAsBytes(Value);
}

String JSONObject::GetString(StringView Key) const {
  PJSONValue r = FindItem(Key);
  return r ? r->AsString() : String();
}
bool JSONObject::GetBoolean(StringView Key) const {
  PJSONValue r = FindItem(Key);
  return r ? r->AsBoolean() : false;
}
int64_t JSONObject::GetInt64(StringView Key) const {
  PJSONValue r = FindItem(Key);
  return r ? r->AsInt64() : 0;
}
int32_t JSONObject::GetInt(StringView Key) const { return int32_t(GetInt64(Key)); }
uint16_t JSONObject::GetWord(StringView Key) const { return uint16_t(GetInt64(Key)); }
uint8_t JSONObject::GetByte(StringView Key) const { return uint8_t(GetInt64(Key)); }
uint32_t JSONObject::GetDWORD(StringView Key) const { return uint32_t(GetInt64(Key)); }
long double JSONObject::GetFloat(StringView Key) const {
  PJSONValue r = FindItem(Key);
  return r ? r->AsFloat() : 0;
}
double JSONObject::GetDouble(StringView Key) const { return double(GetFloat(Key)); }
double JSONObject::GetDateTime(StringView Key) const {
  PJSONValue r = FindItem(Key);
  return r ? r->AsDateTime() : 0;
}
TJsonVariant JSONObject::GetVariant(StringView Key) const {
  PJSONValue r = FindItem(Key);
  return r ? r->AsVariant() : TJsonVariant::Null();
}
JSONObject* JSONObject::GetJsonObject(StringView Key) const {
  PJSONValue r = FindItem(Key);
  return r ? r->AsJsonObject() : nullptr;
}
JSONArray* JSONObject::GetJsonArray(StringView Key) const {
  PJSONValue r = FindItem(Key);
  return r ? r->AsJsonArray() : nullptr;
}
std::unique_ptr<TPointerStream> JSONObject::GetStream(StringView Key) const {
  PJSONValue r = FindItem(Key);
  return r ? r->AsStream() : nullptr;
}
Bytes JSONObject::GetBytes(StringView Key) const {
  PJSONValue r = FindItem(Key);
  return r ? r->AsBytes() : Bytes();
}

JSONObject* JSONObject::AddChildObject(StringView Key) {
  if (Key.empty()) return nullptr;
  return static_cast<JSONObject*>(NewChild(Key, false));
}
JSONArray* JSONObject::AddChildArray(StringView Key) {
  if (Key.empty()) return nullptr;
  return static_cast<JSONArray*>(NewChild(Key, true));
}
JSONArray* JSONObject::AddChildArray(StringView Key, TJsonList AItems) {
  JSONArray* a = AddChildArray(Key);
  if (a) AddList(a, AItems);
  return a;
}
PJSONValue JSONObject::GetChildItem(StringView Key) { return ChildItem(Key); }
PJSONValue JSONObject::GetChildForceItem(StringView Path) {
  if (Path.empty()) throw Exception(kMsgNameNotFound);
  return ForcePath(Path, u'.');
}
JSONObject* JSONObject::NextAsJsonObject() const {
  PJSONValue n = Next();
  return n ? n->AsJsonObject() : nullptr;
}

// ---------------------------------------------------------------- JSONArray

PJSONValue JSONArray::AddNull() {
  PJSONValue r = AppendRecord(u"");
  r->SetNull();
  return r;
}
PJSONValue JSONArray::Add(bool Value) {
  PJSONValue r = AppendRecord(u"");
  r->SetAsBoolean(Value);
  return r;
}
PJSONValue JSONArray::Add(uint8_t Value) {
  PJSONValue r = AppendRecord(u"");
  r->SetAsByte(Value);
  return r;
}
PJSONValue JSONArray::Add(uint16_t Value) {
  PJSONValue r = AppendRecord(u"");
  r->SetAsWord(Value);
  return r;
}
PJSONValue JSONArray::Add(int32_t Value) {
  PJSONValue r = AppendRecord(u"");
  r->SetAsInteger(Value);
  return r;
}
PJSONValue JSONArray::Add(uint32_t Value) {
  PJSONValue r = AppendRecord(u"");
  r->SetAsInt64(int64_t(Value));
  return r;
}
PJSONValue JSONArray::Add(int64_t Value) {
  PJSONValue r = AppendRecord(u"");
  r->SetAsInt64(Value);
  return r;
}
PJSONValue JSONArray::Add(double Value) {
  PJSONValue r = AppendRecord(u"");
  r->SetAsDouble(Value);
  return r;
}
PJSONValue JSONArray::Add(long double Value) {
  PJSONValue r = AppendRecord(u"");
  r->SetAsFloat(Value);
  return r;
}
PJSONValue JSONArray::Add(StringView Value) {
  PJSONValue r = AppendRecord(u"");
  r->SetAsString(Value);
  return r;
}
PJSONValue JSONArray::Add(const Bytes& Value) {
  PJSONValue r = AppendRecord(u"");
  r->SetAsBytes(Value);
  return r;
}
PJSONValue JSONArray::Add(TStream* Value) {
  PJSONValue r = AppendRecord(u"");
  r->SetAsStream(Value);
  return r;
}
PJSONValue JSONArray::Add(const TJsonVariant& Value) {
  PJSONValue r = AppendRecord(u"");
  PutVariant(r, Value);
  return r;
}
PJSONValue JSONArray::Add(JSONBase* Value) {
  if (Value) CheckMovable(this, Value);
  PJSONValue r = AppendRecord(u"");
  if (Value)
    MoveInto(r, Value);
  else
    r->SetNull();
  return r;
}
JSONArray* JSONArray::Add(TJsonList AItems) {
  auto* a = static_cast<JSONArray*>(NewChild(u"", true));
  AddList(a, AItems);
  return a;
}
PJSONValue JSONArray::AddDateTime(double Value) {
  PJSONValue r = AppendRecord(u"");
  r->SetAsDateTime(Value);
  return r;
}
JSONObject* JSONArray::AddChildObject(int Index) {
  return static_cast<JSONObject*>(NewChild(u"", false, Index >= 0 && Index < Count() ? Index : -1));
}
JSONArray* JSONArray::AddChildArray(int Index) {
  return static_cast<JSONArray*>(NewChild(u"", true, Index >= 0 && Index < Count() ? Index : -1));
}

PJSONValue JSONArray::SetTarget(int Index) {
  if (Index < 0 || Index >= Count()) return AppendRecord(u"");
  return FItems[size_t(Index)];
}
void JSONArray::SetString(int Index, StringView Value) { SetTarget(Index)->SetAsString(Value); }
void JSONArray::SetBoolean(int Index, bool Value) { SetTarget(Index)->SetAsBoolean(Value); }
void JSONArray::SetByte(int Index, uint8_t Value) { SetTarget(Index)->SetAsByte(Value); }
void JSONArray::SetWord(int Index, uint16_t Value) { SetTarget(Index)->SetAsWord(Value); }
void JSONArray::SetInt(int Index, int32_t Value) { SetTarget(Index)->SetAsInteger(Value); }
void JSONArray::SetDWORD(int Index, uint32_t Value) { SetTarget(Index)->SetAsDWORD(Value); }
void JSONArray::SetInt64(int Index, int64_t Value) { SetTarget(Index)->SetAsInt64(Value); }
void JSONArray::SetDouble(int Index, double Value) { SetTarget(Index)->SetAsDouble(Value); }
void JSONArray::SetFloat(int Index, long double Value) { SetTarget(Index)->SetAsFloat(Value); }
void JSONArray::SetDateTime(int Index, double Value) { SetTarget(Index)->SetAsDateTime(Value); }
void JSONArray::SetVariant(int Index, const TJsonVariant& Value) {
  PutVariant(SetTarget(Index), Value);
}
void JSONArray::SetJsonObject(int Index, JSONObject* Value) {
  if (!Value) {
    SetTarget(Index)->SetNull();
    return;
  }
  CheckMovable(this, Value);
  MoveInto(SetTarget(Index), Value);
}
void JSONArray::SetJsonArray(int Index, JSONArray* Value) {
  if (!Value) {
    SetTarget(Index)->SetNull();
    return;
  }
  CheckMovable(this, Value);
  MoveInto(SetTarget(Index), Value);
}
void JSONArray::SetStream(int Index, TStream* Value) { SetTarget(Index)->SetAsStream(Value); }
void JSONArray::SetBytes(int Index, const Bytes& Value) { SetTarget(Index)->SetAsBytes(Value); }

String JSONArray::GetString(int Index) const { return GetItems(Index)->AsString(); }
bool JSONArray::GetBoolean(int Index) const { return GetItems(Index)->AsBoolean(); }
int64_t JSONArray::GetInt64(int Index) const { return GetItems(Index)->AsInt64(); }
int32_t JSONArray::GetInt(int Index) const { return int32_t(GetInt64(Index)); }
uint16_t JSONArray::GetWord(int Index) const { return uint16_t(GetInt64(Index)); }
uint8_t JSONArray::GetByte(int Index) const { return uint8_t(GetInt64(Index)); }
uint32_t JSONArray::GetDWORD(int Index) const { return uint32_t(GetInt64(Index)); }
long double JSONArray::GetFloat(int Index) const { return GetItems(Index)->AsFloat(); }
double JSONArray::GetDouble(int Index) const { return double(GetFloat(Index)); }
double JSONArray::GetDateTime(int Index) const {
  PJSONValue r = GetItems(Index);
  if (r->FType == jdtNull || r->FValueLen == 0) return 0;
  return r->AsDateTime();
}
TJsonVariant JSONArray::GetVariant(int Index) const { return GetItems(Index)->AsVariant(); }
JSONObject* JSONArray::GetJsonObject(int Index) const { return GetItems(Index)->AsJsonObject(); }
JSONArray* JSONArray::GetJsonArray(int Index) const { return GetItems(Index)->AsJsonArray(); }
std::unique_ptr<TPointerStream> JSONArray::GetStream(int Index) const {
  return GetItems(Index)->AsStream();
}
Bytes JSONArray::GetBytes(int Index) const { return GetItems(Index)->AsBytes(); }
JSONArray* JSONArray::NextAsJsonArray() const {
  PJSONValue n = Next();
  return n ? n->AsJsonArray() : nullptr;
}

// ---------------------------------------------------------------- helpers

namespace kiv_json {

long double StoredFloat(const uint8_t* P, uint32_t Len) {
  if (Len == 8) {
    double d;
    std::memcpy(&d, P, 8);
    return d;
  }
  if (Len >= 10) {
    long double e = 0;
    std::memcpy(&e, P, 10);
    return e;
  }
  return 0;
}

StringView StoredFloatText(const uint8_t* P, uint32_t Len) {
  if (Len <= 10) return StringView();
  return StringView(reinterpret_cast<const char16_t*>(P + 10), (Len - 10) / 2);
}

const char16_t* TypeName(JSONDataType T) {
  switch (T) {
    case jdtUnknown:
      return u"Unknown";
    case jdtNull:
      return u"Null";
    case jdtString:
      return u"String";
    case jdtInteger:
      return u"Integer";
    case jdtFloat:
      return u"Float";
    case jdtBoolean:
      return u"Boolean";
    case jdtDateTime:
      return u"DateTime";
    case jdtObject:
      return u"Object";
    case jdtBytes:
      return u"Bytes";
  }
  return u"Unknown";
}

void ThrowConvert(JSONDataType From, const char16_t* To) {
  throw Exception(Format(u"%s 不是一个有效的 %s 类型的值。", TypeName(From), To));
}

bool TextToInt32(StringView S, int32_t& V) {
  size_t i = 0, n = S.size();
  while (i < n && (S[i] == u' ' || S[i] == u'\t')) ++i;
  bool neg = false;
  if (i < n && (S[i] == u'-' || S[i] == u'+')) neg = S[i++] == u'-';
  bool hex = false;
  if (i < n && S[i] == u'$') {
    hex = true;
    ++i;
  } else if (i + 1 < n && S[i] == u'0' && (S[i + 1] == u'x' || S[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;
  uint64_t acc = 0;
  for (; i < n; ++i) {
    char16_t c = S[i];
    unsigned d;
    if (hex) {
      if (!IsHexChar(c)) return false;
      d = unsigned(HexCharValue(c));
      acc = acc * 16 + d;
      if (acc > 0xFFFFFFFFull) return false;
    } else {
      if (c < u'0' || c > u'9') return false;
      acc = acc * 10 + unsigned(c - u'0');
      if (acc > 0x80000000ull) return false;
    }
  }
  int64_t v;
  if (hex) {
    v = int32_t(uint32_t(acc));
  } else {
    v = int64_t(acc);
    if (!neg && v > INT32_MAX) return false;
  }
  V = int32_t(neg ? -v : v);
  return true;
}

bool TextToFloat(StringView S, long double& V) {
  size_t b = 0, e = S.size();
  while (b < e && S[b] == u' ') ++b;
  while (e > b && S[e - 1] == u' ') --e;
  if (b == e || e - b > 400) return false;
  std::string a;
  a.reserve(e - b);
  size_t i = b;
  if (S[i] == u'+' || S[i] == u'-') a.push_back(char(S[i++]));
  size_t digits = 0;
  while (i < e && S[i] >= u'0' && S[i] <= u'9') a.push_back(char(S[i++])), ++digits;
  if (i < e && S[i] == u'.') {
    a.push_back('.');
    ++i;
    while (i < e && S[i] >= u'0' && S[i] <= u'9') a.push_back(char(S[i++])), ++digits;
  }
  if (!digits) return false;
  if (i < e && (S[i] == u'e' || S[i] == u'E')) {
    a.push_back('e');
    ++i;
    if (i < e && (S[i] == u'+' || S[i] == u'-')) a.push_back(char(S[i++]));
    size_t ed = 0;
    while (i < e && S[i] >= u'0' && S[i] <= u'9') a.push_back(char(S[i++])), ++ed;
    if (!ed) return false;
  }
  if (i != e) return false;
  const char* first = a.c_str();
  if (*first == '+') ++first;
  long double v = 0;
  auto res = std::from_chars(first, a.c_str() + a.size(), v);
  if (res.ec == std::errc::invalid_argument || res.ptr != a.c_str() + a.size()) return false;
  V = v;
  return true;
}

String Base64Encode(const void* P, size_t Len) {
  static const char kAlpha[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* s = static_cast<const uint8_t*>(P);
  String out;
  out.reserve((Len + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < Len; i += 3) {
    uint32_t v = uint32_t(s[i]) << 16 | uint32_t(s[i + 1]) << 8 | s[i + 2];
    out.push_back(char16_t(kAlpha[v >> 18]));
    out.push_back(char16_t(kAlpha[(v >> 12) & 63]));
    out.push_back(char16_t(kAlpha[(v >> 6) & 63]));
    out.push_back(char16_t(kAlpha[v & 63]));
  }
  if (i < Len) {
    uint32_t v = uint32_t(s[i]) << 16;
    if (i + 1 < Len) v |= uint32_t(s[i + 1]) << 8;
    out.push_back(char16_t(kAlpha[v >> 18]));
    out.push_back(char16_t(kAlpha[(v >> 12) & 63]));
    out.push_back(i + 1 < Len ? char16_t(kAlpha[(v >> 6) & 63]) : u'=');
    out.push_back(u'=');
  }
  return out;
}

bool Base64Decode(StringView S, Bytes& Out) {
  Out.clear();
  uint32_t acc = 0;
  int bits = 0;
  size_t pad = 0;
  for (char16_t c : S) {
    int v;
    if (c >= u'A' && c <= u'Z')
      v = c - u'A';
    else if (c >= u'a' && c <= u'z')
      v = c - u'a' + 26;
    else if (c >= u'0' && c <= u'9')
      v = c - u'0' + 52;
    else if (c == u'+')
      v = 62;
    else if (c == u'/')
      v = 63;
    else if (c == u'=') {
      ++pad;
      continue;
    } else
      return false;
    if (pad) return false;
    acc = (acc << 6) | uint32_t(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      Out.push_back(char((acc >> bits) & 0xFF));
    }
  }
  return pad <= 2;
}

bool EncodeDate(int Y, int M, int D, double& V) {
  static const int kDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                   {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
  if (Y < 1 || Y > 9999 || M < 1 || M > 12) return false;
  bool leap = (Y % 4 == 0 && Y % 100 != 0) || Y % 400 == 0;
  if (D < 1 || D > kDays[leap][M - 1]) return false;
  int64_t days = 0;
  for (int m = 0; m < M - 1; ++m) days += kDays[leap][m];
  int64_t y = Y - 1;
  days += y * 365 + y / 4 - y / 100 + y / 400 + D;
  V = double(days - 693594);  // 693594 days from 0001-01-01 to 1899-12-30
  return true;
}

void DecodeDateTime(double V, int& Y, int& M, int& D, int& H, int& N, int& S, int& Z) {
  double ip = std::trunc(V);
  int64_t ms = std::llround(std::fabs(V - ip) * 86400000.0);
  int64_t days = int64_t(ip);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += V < 0 ? -1 : 1;
  }
  // Civil date from days since 1970-01-01.
  int64_t z = days - 25569 + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  D = int(doy - (153 * mp + 2) / 5 + 1);
  M = int(mp < 10 ? mp + 3 : mp - 9);
  Y = int(yoe + era * 400 + (M <= 2 ? 1 : 0));
  H = int(ms / 3600000);
  N = int(ms / 60000 % 60);
  S = int(ms / 1000 % 60);
  Z = int(ms % 1000);
}

}  // namespace kiv_json
