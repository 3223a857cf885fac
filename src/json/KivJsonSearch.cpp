// Search, filtered copy and delete, copies through text, sort, and picking
// one object out of raw text.
#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <memory>

#include "json/KivJson.h"
#include "json/KivJsonInternal.h"

using namespace kiv_json;

namespace {

struct TCodeFree {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
struct TMatchFree {
  void operator()(pcre2_match_data* m) const { pcre2_match_data_free(m); }
};

int RegexSearch(const JSONBase* T, pcre2_code* re, pcre2_match_data* md,
                std::vector<PJSONValue>& AList, bool ANest) {
  int n = 0;
  for (PJSONValue r : *T) {
    StringView name = r->Name();
    static const char16_t kEmpty[1] = {0};
    PCRE2_SPTR subject = reinterpret_cast<PCRE2_SPTR>(name.empty() ? kEmpty : name.data());
    int rc = pcre2_match(re, subject, name.size(), 0, 0, md, nullptr);
    if (rc >= 0) {
      AList.push_back(r);
      ++n;
    } else if (rc != PCRE2_ERROR_NOMATCH) {
      PCRE2_UCHAR buf[256];
      pcre2_get_error_message(rc, buf, 256);
      throw Exception(String(reinterpret_cast<const char16_t*>(buf)));
    }
    if (ANest && r->GetObject()) n += RegexSearch(r->GetObject(), re, md, AList, ANest);
  }
  return n;
}

PJSONValue FindIn(JSONBase* ASender, JSONBase* T, void* ATag, bool ANest,
                  const JSONFilterEventA& AFilter) {
  for (PJSONValue r : *T) {
    bool accept = true;
    AFilter(ASender, r, accept, ATag);
    if (accept) return r;
    if (ANest && r->GetObject())
      if (PJSONValue f = FindIn(ASender, r->GetObject(), ATag, ANest, AFilter)) return f;
  }
  return nullptr;
}

}  // namespace

int JSONBase::ItemByRegex(StringView ARegex, std::vector<PJSONValue>& AList, bool ANest) const {
  int err = 0;
  PCRE2_SIZE offset = 0;
  std::unique_ptr<pcre2_code, TCodeFree> re(
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(ARegex.data()), ARegex.size(), 0, &err, &offset,
                    nullptr));
  if (!re) {
    PCRE2_UCHAR buf[256];
    pcre2_get_error_message(err, buf, 256);
    throw Exception(String(reinterpret_cast<const char16_t*>(buf)));
  }
  std::unique_ptr<pcre2_match_data, TMatchFree> md(
      pcre2_match_data_create_from_pattern(re.get(), nullptr));
  if (!md) throw std::bad_alloc();
  return RegexSearch(this, re.get(), md.get(), AList, ANest);
}

PJSONValue JSONBase::FindIf(void* ATag, bool ANest, const JSONFilterEventA& AFilter) {
  if (!AFilter) return nullptr;
  return FindIn(this, this, ATag, ANest, AFilter);
}

class TJsonPathOps {
 public:
  static void CopyInto(JSONBase* ASender, const JSONBase* From, JSONBase* To, void* ATag,
                       const JSONFilterEventA& AFilter) {
    for (PJSONValue r : *From) {
      bool accept = true;
      AFilter(ASender, r, accept, ATag);
      if (!accept) continue;
      if (JSONBase* child = r->GetObject()) {
        JSONBase* k = To->NewChild(r->Name(), child->IsJSONArray());
        CopyInto(ASender, child, k, ATag, AFilter);
      } else {
        PJSONValue n = To->AppendRecord(r->Name());
        n->SetValueBytes(r->FType, r->ValueData(), r->FValueLen);
      }
    }
  }

  static void DeleteIn(JSONBase* ASender, JSONBase* T, void* ATag, bool ANest,
                       const JSONFilterEventA& AFilter) {
    for (int i = T->Count() - 1; i >= 0; --i) {
      if (i >= T->Count()) continue;  // the filter may have changed the list
      PJSONValue r = T->FItems[size_t(i)];
      if (ANest && r->GetObject()) DeleteIn(ASender, r->GetObject(), ATag, ANest, AFilter);
      bool accept = true;
      AFilter(ASender, r, accept, ATag);
      if (accept) T->Remove(i);
    }
  }

  template <typename C>
  static void QuickSort(std::vector<PJSONValue>& A, int L, int R, const C& Compare) {
    int I, J;
    do {
      I = L;
      J = R;
      PJSONValue P = A[size_t((L + R) >> 1)];
      do {
        while (Compare(A[size_t(I)], P) < 0) ++I;
        while (Compare(A[size_t(J)], P) > 0) --J;
        if (I <= J) {
          if (I != J) std::swap(A[size_t(I)], A[size_t(J)]);
          ++I;
          --J;
        }
      } while (I <= J);
      if (L < J) QuickSort(A, L, J, Compare);
      L = I;
    } while (I < R);
  }

  static std::vector<PJSONValue>& Items(JSONBase* T) { return T->FItems; }
};

JSONBase* JSONBase::CopyIf(void* ATag, const JSONFilterEventA& AFilter) {
  if (!AFilter) return Copy();
  std::unique_ptr<JSONBase> r(FIsArray ? static_cast<JSONBase*>(new JSONArray())
                                       : new JSONObject());
  TJsonPathOps::CopyInto(this, this, r.get(), ATag, AFilter);
  return r.release();
}

void JSONBase::DeleteIf(void* ATag, bool ANest, const JSONFilterEventA& AFilter) {
  if (!AFilter) {
    Clear();
    return;
  }
  TJsonPathOps::DeleteIn(this, this, ATag, ANest, AFilter);
}

JSONBase* JSONBase::Copy() const {
  String text = ToString(0, false);
  if (FIsArray) return ParseArray(text, true);
  return ParseObject(text, true);
}

void JSONBase::Assign(const JSONBase* ANode) {
  if (!ANode || ANode == this) return;
  String text = ANode->ToString();
  Parse(text, false);
}

JSONObject* JSONObject::Clone() const {
  std::unique_ptr<JSONObject> r(new JSONObject());
  r->Assign(this);
  return r.release();
}

JSONArray* JSONArray::Clone() const {
  std::unique_ptr<JSONArray> r(new JSONArray());
  r->Assign(this);
  return r.release();
}

void JSONBase::Sort(const JSONCompareA& Compare) {
  if (Count() <= 1 || !Compare) return;
  TJsonPathOps::QuickSort(FItems, 0, Count() - 1, Compare);
}

// ---------------------------------------------------------------- by name

namespace {

bool IsBlankU(char16_t c) { return c == 9 || c == 10 || c == 13 || c == 32 || c == 0x3000; }

// Reads the scalar at i (quoted string, number, literal); empty for others.
TJsonVariant ReadScalar(StringView t, size_t& i) {
  if (i >= t.size()) return TJsonVariant();
  char16_t c = t[i];
  if (c == u'"' || c == u'\'') {
    size_t j = i + 1;
    String s;
    while (j < t.size() && t[j] != c) {
      if (t[j] == u'\\' && j + 1 < t.size()) ++j;
      s.push_back(t[j++]);
    }
    i = j < t.size() ? j + 1 : j;
    return TJsonVariant(s);
  }
  auto word = [&](StringView w) {
    if (t.size() - i < w.size()) return false;
    for (size_t k = 0; k < w.size(); ++k)
      if (UpperAscii(t[i + k]) != w[k]) return false;
    return true;
  };
  if (word(u"FALSE")) {
    i += 5;
    return TJsonVariant(false);
  }
  if (word(u"TRUE")) {
    i += 4;
    return TJsonVariant(true);
  }
  if (word(u"NULL")) {
    i += 4;
    return TJsonVariant::Null();
  }
  size_t j = i;
  if (j < t.size() && (t[j] == u'-' || t[j] == u'+')) ++j;
  while (j < t.size() && ((t[j] >= u'0' && t[j] <= u'9') || t[j] == u'.' || t[j] == u'e' ||
                          t[j] == u'E' || ((t[j] == u'-' || t[j] == u'+') && j > i &&
                                           (t[j - 1] == u'e' || t[j - 1] == u'E'))))
    ++j;
  if (j == i) return TJsonVariant();
  StringView num = t.substr(i, j - i);
  i = j;
  int32_t iv;
  if (TextToInt32(num, iv)) return TJsonVariant(int64_t(iv));
  long double f;
  if (TextToFloat(num, f)) return TJsonVariant(double(f));
  return TJsonVariant();
}

bool SameValue(const TJsonVariant& a, const TJsonVariant& b) {
  if ((a.IsInteger() || a.IsFloat()) && (b.IsInteger() || b.IsFloat()))
    return a.AsDouble() == b.AsDouble();
  if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
  return a.ToText() == b.ToText();
}

}  // namespace

JSONObject* JSONObject::ParseObjectByName(StringView Text, StringView Key,
                                          const TJsonVariant* Value) {
  if (Key.empty()) return nullptr;
  const bool useValue = Value && !Value->IsEmptyOrNull();
  size_t point = 0;  // the search point
  size_t from = 0;
  for (;;) {
    size_t at = Text.find(Key, from);
    if (at == StringView::npos) return nullptr;
    size_t after = at + Key.size();
    from = at + 1;
    if (at == 0 || after >= Text.size()) continue;
    char16_t q = Text[at - 1];
    if ((q != u'"' && q != u'\'') || Text[after] != q) continue;
    size_t i = after + 1;
    while (i < Text.size() && IsBlankU(Text[i])) ++i;
    if (i >= Text.size() || Text[i] != u':') continue;
    ++i;
    while (i < Text.size() && IsBlankU(Text[i])) ++i;
    const size_t valueAt = i;
    if (useValue) {
      TJsonVariant v = ReadScalar(Text, i);
      if (!SameValue(v, *Value)) {
        from = i > from ? i : from;
        point = from;
        continue;
      }
    }
    // The nearest unclosed "{" before the value, back to the search point.
    size_t start = StringView::npos;
    int depth = 0;
    for (size_t k = valueAt; k-- > point;) {
      if (Text[k] == u'}') {
        ++depth;
      } else if (Text[k] == u'{') {
        if (depth == 0) {
          start = k;
          break;
        }
        --depth;
      }
    }
    if (start == StringView::npos) return nullptr;
    size_t end = StringView::npos;
    depth = 0;
    for (size_t k = valueAt; k < Text.size(); ++k) {
      if (Text[k] == u'{') {
        ++depth;
      } else if (Text[k] == u'}') {
        if (depth == 0) {
          end = k;
          break;
        }
        --depth;
      }
    }
    if (end == StringView::npos) return nullptr;
    String part(Text.substr(start, end - start + 1));
    std::unique_ptr<JSONObject> r(new JSONObject());
    if (!ReadContainerAt(r.get(), part.c_str())) return nullptr;
    return r.release();
  }
}

String JSONObject::ParseStringByName(StringView Text, StringView Key) {
  std::unique_ptr<JSONObject> o(ParseObjectByName(Text, Key, nullptr));
  return o ? o->GetString(Key) : String();
}
