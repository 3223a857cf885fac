// Paths: GetPath, ItemByPath, ForcePath.
#include "json/KivJson.h"
#include "json/KivJsonInternal.h"

using namespace kiv_json;

namespace {

String Segment(const JSONBase* c) {
  if (c->Parent()->IsJSONArray()) return u"[" + IntToStr(c->ItemIndex()) + u"]";
  return c->Name();
}

// The text up to the next delimiter (consumed); i moves past it.
StringView NextSegment(StringView path, size_t& i, char16_t delim) {
  size_t s = i;
  while (i < path.size() && path[i] != delim) ++i;
  StringView seg = path.substr(s, i - s);
  if (i < path.size()) ++i;
  return seg;
}

// The index between "[" and "]": optional sign and digits; ANone without digits.
int64_t BracketIndex(StringView s, int64_t ANone) {
  size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) neg = s[i++] == u'-';
  if (i >= s.size() || s[i] < u'0' || s[i] > u'9') return ANone;
  int64_t v = 0;
  while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
    if (v < 1000000000000LL) v = v * 10 + (s[i] - u'0');
    ++i;
  }
  return neg ? -v : v;
}

}  // namespace

String JSONBase::GetPath(StringView ADelimiter) const {
  if (!FParent) return String();
  String path = Segment(this);
  for (const JSONBase* c = FParent; c->FParent; c = c->FParent) {
    String s = Segment(c);
    s += ADelimiter;
    path = s + path;
  }
  return path;
}

PJSONValue JSONBase::ItemByPath(StringView APath, char16_t ADelimiter) const {
  PJSONValue R = nullptr;
  const JSONBase* X = this;
  size_t i = 0;
  while (X && i < APath.size()) {
    StringView seg = NextSegment(APath, i, ADelimiter);
    if (seg.empty()) continue;
    if (seg.back() == u']') {
      size_t lb = seg.rfind(u'[');
      if (lb == StringView::npos || lb == 0) return nullptr;
      PJSONValue rec = X->FindItem(seg.substr(0, lb));
      JSONArray* arr = rec ? rec->AsJsonArray() : nullptr;
      if (!arr) return nullptr;
      int64_t idx = BracketIndex(seg.substr(lb + 1, seg.size() - lb - 2), 0);
      if (idx < 0 || idx >= arr->Count()) return nullptr;
      R = arr->FItems[size_t(idx)];
    } else {
      R = X->FindItem(seg);
      if (!R) return nullptr;
    }
    X = R->GetObject();
    if (i < APath.size() && APath[i] == ADelimiter) ++i;
  }
  if (i < APath.size()) return nullptr;
  return R;
}

PJSONValue JSONBase::ForcePath(StringView APath, char16_t ADelimiter) {
  PJSONValue R = nullptr;
  JSONBase* holder = nullptr;  // the container whose list holds R
  JSONBase* X = this;
  size_t i = 0;
  while (i < APath.size()) {
    if (R && !R->GetObject()) {
      auto* k = new JSONObject();
      holder->MoveInto(R, k);
      X = k;
    }
    StringView seg = NextSegment(APath, i, ADelimiter);
    while (!seg.empty() && IsBlankChar(seg.front())) seg.remove_prefix(1);
    if (seg.empty()) continue;
    if (PJSONValue found = X->FindItem(seg)) {
      R = found;
      holder = X;
      X = found->GetObject();
      if (i < APath.size() && !X)
        throw Exception(Format(u"%s 不是一个有效的JSON对象名称.", seg));
      if (!X) X = holder;  // path ends here; X is not used again
      continue;
    }
    if (seg.back() == u']') {
      size_t lb = seg.rfind(u'[');
      if (lb == StringView::npos || lb == 0)
        throw Exception(Format(u"%s 不是一个有效的JSON对象名称.", seg));
      StringView name = seg.substr(0, lb);
      int64_t idx = BracketIndex(seg.substr(lb + 1, seg.size() - lb - 2), -1);
      PJSONValue rec = X->FindItem(name);
      JSONBase* arr;
      if (!rec) {
        arr = X->NewChild(name, true);
      } else {
        arr = rec->AsJsonArray();
        if (!arr) throw Exception(Format(u"%s 不是一个有效的JSON数组定义.", seg));
      }
      X = arr;
      if (idx < 0) {
        R = arr->FValue;
        holder = arr->FParent;
      } else {
        auto* a = static_cast<JSONArray*>(arr);
        while (a->Count() <= idx) a->AddNull();
        R = a->FItems[size_t(idx)];
        holder = a;
        if (R->GetObject()) X = R->GetObject();
      }
      continue;
    }
    if (X->FIsArray) X = X->NewChild(u"", false);
    R = X->AppendRecord(seg);
    holder = X;
  }
  return R;
}
