// Paths, regex search, filtered copy/delete, copies through text, sort and
// the by-name text search.
#include "JsonTestUtil.h"

using Paths = JsonTest;

namespace {

std::unique_ptr<JSONBase> Doc(const char16_t* text) {
  return std::unique_ptr<JSONBase>(JSONBase::Parser(text, true));
}

}  // namespace

TEST_F(Paths, GetPath) {
  auto doc = Doc(uR"([{"list": [0, 1, 2, {"x": 1}]}, 5, {"a": {}}])");
  auto* root = static_cast<JSONArray*>(doc.get());
  JSONObject* deep = root->GetJsonObject(0)->GetJsonArray(u"list")->GetJsonObject(3);
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(U8(deep->GetPath()), R"([0]\list\[3])");
  EXPECT_EQ(U8(deep->Path()), R"([0]\list\[3])");
  EXPECT_EQ(U8(deep->GetPath(u"/")), "[0]/list/[3]");
  EXPECT_EQ(U8(root->GetPath()), "");
  EXPECT_EQ(U8(root->GetJsonObject(2)->GetPath()), "[2]");
  EXPECT_EQ(U8(root->GetJsonObject(2)->GetJsonObject(u"a")->GetPath()), R"([2]\a)");
  JSONObject o;
  EXPECT_EQ(U8(o.AddChildObject(u"a")->GetPath()), "a");
  EXPECT_EQ(U8(o.GetItem(u"a")->GetPath(u"\\")), "a");
}

TEST_F(Paths, ItemByPath) {
  auto doc = Doc(uR"({"a": {"b": 7}, "l": [10, 11, 12], "s": "text", "o": {"l": [{"k": "v"}]}})");
  struct Case {
    const char16_t* path;
    const char* value;  // nullptr: no record
  } cases[] = {
      {uR"(a\b)", "7"},
      {u"l[1]", "11"},
      {u"l[5]", nullptr},
      {u"a[0]", nullptr},
      {uR"(s\b)", nullptr},
      {uR"(o\l[0]\k)", "v"},
      {uR"(a\\b)", "7"},
      {u"[0]", nullptr},
      {u"missing", nullptr},
      {u"l[]", "10"},
  };
  for (const Case& c : cases) {
    PJSONValue r = doc->ItemByPath(c.path);
    if (!c.value) {
      EXPECT_EQ(r, nullptr) << U8(c.path);
    } else {
      ASSERT_NE(r, nullptr) << U8(c.path);
      EXPECT_EQ(U8(r->AsString()), c.value) << U8(c.path);
    }
  }
  auto arr = Doc(u"[1, 2]");
  EXPECT_EQ(arr->ItemByPath(u"[0]"), nullptr);
  EXPECT_NE(doc->ItemByPath(u"a.b", u'.'), nullptr);
}

TEST_F(Paths, ForcePath) {
  JSONObject o;
  PJSONValue c = o.ForcePath(u"a.b.c", u'.');
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(U8(c->Name()), "c");
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"a":{"b":{"c":null}}})");
  EXPECT_EQ(o.ForcePath(u"a.b.c", u'.'), c);
  PJSONValue third = o.ForcePath(u"list[2]");
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(o.GetJsonArray(u"list")->Count(), 3);
  EXPECT_EQ(o.GetJsonArray(u"list")->GetItems(2), third);
  EXPECT_EQ(o.ForcePath(u"list[2]"), third);
  third->SetAsInteger(9);
  EXPECT_EQ(U8(o.GetString(u"list")), "[null,null,9]");
  // The array's own record for a missing index, and objects made on the way.
  EXPECT_EQ(o.ForcePath(u"list[]"), o.GetItem(u"list"));
  PJSONValue deep = o.ForcePath(u"list[0]\\name");
  deep->SetAsString(u"n");
  EXPECT_EQ(U8(o.GetString(u"list")), R"([{"name":"n"},null,9])");
  PJSONValue viaChild = o.GetChildForceItem(u"x.y");
  viaChild->SetAsBoolean(true);
  EXPECT_TRUE(o.GetJsonObject(u"x")->GetBoolean(u"y"));
  JSONArray a;
  a.ForcePath(u"k")->SetAsInteger(1);
  EXPECT_EQ(U8(a.ToString(0, false)), R"([{"k":1}])");
}

TEST_F(Paths, ForcePathErrors) {
  JSONObject o;
  o.Put(u"s", StringView(u"text"));
  o.Put(u"n", int32_t(1));
  EXPECT_EQ(ErrorOf([&] { o.ForcePath(u"s\\deeper"); }), "s 不是一个有效的JSON对象名称.");
  EXPECT_EQ(ErrorOf([&] { o.ForcePath(u"x]"); }), "x] 不是一个有效的JSON对象名称.");
  EXPECT_EQ(ErrorOf([&] { o.ForcePath(u"n[0]"); }), "n[0] 不是一个有效的JSON数组定义.");
  // Members created before the failing segment stay.
  EXPECT_NE(ErrorOf([&] { o.ForcePath(u"made\\x]"); }), "<no error>");
  EXPECT_TRUE(o.Contains(u"made"));
  EXPECT_EQ(o.ForcePath(u""), nullptr);
}

TEST_F(Paths, ItemByRegex) {
  auto doc = Doc(uR"({"ruleA": 1, "x": {"ruleB": 2, "y": [{"ruleC": 3}]}, "Rule": 4})");
  std::vector<PJSONValue> found;
  EXPECT_EQ(doc->ItemByRegex(u"^rule", found, false), 1);
  EXPECT_EQ(doc->ItemByRegex(u"^rule", found, true), 3);
  ASSERT_EQ(found.size(), 4u);  // the list is not cleared
  EXPECT_EQ(U8(found[1]->Name()), "ruleA");
  EXPECT_EQ(U8(found[2]->Name()), "ruleB");
  EXPECT_EQ(U8(found[3]->Name()), "ruleC");
  found.clear();
  EXPECT_EQ(doc->ItemByRegex(u"规则|^$", found, true), 1);  // the unnamed element of "y"
  JSONObject cn;
  cn.Put(u"书源规则", int32_t(1));
  EXPECT_EQ(cn.ItemByRegex(u"源.则", found, false), 1);
  std::string err = ErrorOf([&] { doc->ItemByRegex(u"(unclosed", found, true); });
  EXPECT_NE(err.find("missing closing parenthesis"), std::string::npos) << err;
}

TEST_F(Paths, FindIfDeleteIfCopyIf) {
  auto doc = Doc(uR"([{"k": 1, "inner": {"k": 2}}, {"k": 3}])");
  JSONBase* sender = nullptr;
  auto named = [&sender](const char16_t* name) {
    return [name, &sender](JSONBase* s, PJSONValue r, bool& accept, void*) {
      sender = s;
      accept = r->Name() == StringView(name);
    };
  };
  EXPECT_EQ(doc->FindIf(nullptr, false, named(u"k")), nullptr);
  PJSONValue k = doc->FindIf(nullptr, true, named(u"k"));
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->AsInt64(), 1);
  EXPECT_EQ(sender, doc.get());
  int want = 2;  // the tag reaches the filter untouched
  PJSONValue inner = doc->FindIf(&want, true, [](JSONBase*, PJSONValue r, bool& accept, void* tag) {
    accept = r->Type() == jdtInteger && r->AsInt64() == *static_cast<int*>(tag);
  });
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->AsInt64(), 2);
  EXPECT_EQ(doc->FindIf(nullptr, true, nullptr), nullptr);

  std::unique_ptr<JSONBase> all(doc->CopyIf(nullptr, [](JSONBase*, PJSONValue, bool&, void*) {}));
  EXPECT_TRUE(all->IsJSONArray());
  EXPECT_EQ(all->ToString(0, false), doc->ToString(0, false));
  std::unique_ptr<JSONBase> some(doc->CopyIf(nullptr, [](JSONBase*, PJSONValue r, bool& accept, void*) {
    accept = r->Name() != StringView(u"inner");
  }));
  EXPECT_EQ(U8(some->ToString(0, false)), R"([{"k":1},{"k":3}])");
  EXPECT_EQ(some->GetItems(0)->GetObject()->Parent(), some.get());

  doc->DeleteIf(nullptr, true, named(u"k"));
  EXPECT_EQ(U8(doc->ToString(0, false)), R"([{"inner":{}},{}])");
  doc->DeleteIf(nullptr, true, [](JSONBase*, PJSONValue, bool&, void*) {});
  EXPECT_EQ(doc->Count(), 0);
  auto other = Doc(u"[1,2]");
  other->DeleteIf(nullptr, false, nullptr);
  EXPECT_EQ(other->Count(), 0);
}

TEST_F(Paths, CopiesGoThroughText) {
  JSONObject o;
  o.PutDateTime(u"d", 43586.0);
  o.Put(u"a", int32_t(1));
  o.Put(u"a", 2.0);
  o.Add(u"u");
  o.Put(u"b", Bytes("\x01", 1));
  std::unique_ptr<JSONBase> c(o.Copy());
  EXPECT_TRUE(c->IsJSONObject());
  EXPECT_EQ(U8(c->ToString(0, false)), R"({"d":"2019-05-01","a":1,"a":2,"u":null,"b":"[blob]<[BS]AQ==>"})");
  EXPECT_EQ(c->GetItems(0)->Type(), jdtString);
  EXPECT_EQ(c->GetItems(2)->Type(), jdtInteger);
  EXPECT_EQ(c->GetItems(2)->ValueSize(), 8u);
  EXPECT_EQ(c->GetItems(3)->Type(), jdtNull);
  std::unique_ptr<JSONObject> cl(o.Clone());
  EXPECT_EQ(cl->ToString(), o.ToString());
  JSONArray a;
  a.Add(StringView(u"中"));
  std::unique_ptr<JSONArray> ac(a.Clone());
  EXPECT_EQ(U8(ac->ToString(0, false)), "[\"中\"]");
  // Assign replaces the content; a tree the writer refuses leaves it alone.
  JSONObject target;
  target.Put(u"old", int32_t(1));
  target.Assign(&o);
  EXPECT_EQ(target.ToString(), c->ToString());
  JSONObject bad;
  bad.Put(u"", static_cast<JSONBase*>(new JSONObject()));
  EXPECT_NE(ErrorOf([&] { target.Assign(&bad); }), "<no error>");
  EXPECT_EQ(target.ToString(), c->ToString());
  EXPECT_NE(ErrorOf([&] { delete bad.Copy(); }), "<no error>");
}

TEST_F(Paths, SortIsTheDescribedQuicksort) {
  JSONArray a;
  int calls = 0;
  auto counting = [&calls](PJSONValue x, PJSONValue y) {
    ++calls;
    return int(x->AsInt64() - y->AsInt64());
  };
  a.Sort(counting);
  a.Add(int32_t(1));
  a.Sort(counting);
  EXPECT_EQ(calls, 0);
  a.Clear();
  PJSONValue r0 = a.Add(int32_t(0)), r1 = a.Add(int32_t(0)), r2 = a.Add(int32_t(0));
  a.Sort([](PJSONValue, PJSONValue) { return 0; });
  EXPECT_EQ(a[0], r2);
  EXPECT_EQ(a[1], r1);
  EXPECT_EQ(a[2], r0);
  a.Clear();
  for (int v : {5, 3, 9, 1, 5, 7, 2, 8, 0, 6}) a.Add(int32_t(v));
  a.Sort(+[](PJSONValue x, PJSONValue y) { return int(x->AsInt64() - y->AsInt64()); });
  EXPECT_EQ(U8(a.ToString(0, false)), "[0,1,2,3,5,5,6,7,8,9]");
  a.Sort(JSONCompare(nullptr));
  EXPECT_EQ(U8(a.ToString(0, false)), "[0,1,2,3,5,5,6,7,8,9]");
  // Only the order changes: records and children stay.
  auto doc = Doc(uR"([{"n": "b"}, {"n": "a"}, {"n": "c"}])");
  JSONBase* objA = doc->GetItems(1)->GetObject();
  doc->Sort([](PJSONValue x, PJSONValue y) {
    return x->GetObject()->ToString().compare(y->GetObject()->ToString());
  });
  EXPECT_EQ(U8(doc->ToString(0, false)), R"([{"n":"a"},{"n":"b"},{"n":"c"}])");
  EXPECT_EQ(doc->GetItems(0)->GetObject(), objA);
  EXPECT_EQ(objA->ItemIndex(), 0);
}

TEST_F(Paths, ParseObjectByName) {
  const String text = uR"(noise [{"x": "name", "id": 1, "name": "a"}, {"id": 2, "name": "b"}] tail)";
  EXPECT_EQ(U8(JSONObject::ParseStringByName(text, u"name")), "a");
  TJsonVariant two(int32_t(2));
  std::unique_ptr<JSONObject> o(JSONObject::ParseObjectByName(text, u"id", &two));
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(U8(o->ToString(0, false)), R"({"id":2,"name":"b"})");
  TJsonVariant b(u"b");
  o.reset(JSONObject::ParseObjectByName(text, u"name", &b));
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->GetInt64(u"id"), 2);
  TJsonVariant none(int32_t(3));
  EXPECT_EQ(JSONObject::ParseObjectByName(text, u"id", &none), nullptr);
  EXPECT_EQ(JSONObject::ParseObjectByName(text, u"", nullptr), nullptr);
  EXPECT_EQ(JSONObject::ParseObjectByName(u"\"k\": 1}", u"k", nullptr), nullptr);
  EXPECT_EQ(JSONObject::ParseObjectByName(u"{\"k\": 1", u"k", nullptr), nullptr);
  EXPECT_EQ(JSONObject::ParseObjectByName(u"{\"k\": [1 2]}", u"k", nullptr), nullptr);
  EXPECT_EQ(U8(JSONObject::ParseStringByName(u"{'k' : true}", u"k")), "true");
  EXPECT_EQ(U8(JSONObject::ParseStringByName(u"{\"other\": 1}", u"k")), "");
}
