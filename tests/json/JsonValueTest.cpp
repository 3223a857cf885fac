// The value model: members, lookup, conversions, ownership and moves.
#include <thread>
#include <vector>

#include "JsonTestUtil.h"

using ValueModel = JsonTest;

TEST_F(ValueModel, DuplicateKeysKeepBothAndActOnTheFirst) {
  JSONObject o;
  o.Put(u"a", StringView(u"one"));
  o.Put(u"a", StringView(u"two"));
  ASSERT_EQ(o.Count(), 2);
  EXPECT_EQ(U8(o.GetString(u"a")), "one");
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"a":"one","a":"two"})");
  o.Delete(u"a");
  ASSERT_EQ(o.Count(), 1);
  EXPECT_EQ(U8(o.GetString(u"a")), "two");
}

TEST_F(ValueModel, SetAppendsWhenMissingAndReplacesInPlace) {
  JSONObject o;
  o.Put(u"x", int32_t(1));
  o.Put(u"a", int32_t(2));
  o.Put(u"z", int32_t(3));
  o.SetString(u"a", u"v");
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"x":1,"a":"v","z":3})");
  o.SetString(u"b", u"w");
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"x":1,"a":"v","z":3,"b":"w"})");
  o.SetString(u"", u"ignored");
  EXPECT_EQ(o.Count(), 4);
}

TEST_F(ValueModel, CaseInsensitiveLookupFoldsAsciiOnly) {
  JSONObject o;
  o.Put(u"name", StringView(u"n"));
  o.Put(u"ä", StringView(u"lower"));
  JsonCaseSensitive = true;
  EXPECT_EQ(o.IndexOf(u"Name"), -1);
  JsonCaseSensitive = false;
  EXPECT_EQ(U8(o.GetString(u"Name")), "n");
  EXPECT_EQ(U8(o.GetString(u"NAME")), "n");
  EXPECT_EQ(o.IndexOf(u"Ä"), -1);
  EXPECT_EQ(o.IndexOf(u"ä"), 1);
}

TEST_F(ValueModel, CaseSensitiveLookupAfterRenameAndForZeroHashNames) {
  JSONObject o;
  JSONObject* child = o.AddChildObject(u"old");
  EXPECT_EQ(o.IndexOf(u"old"), 0);
  child->SetName(u"new");
  EXPECT_EQ(o.IndexOf(u"old"), -1);
  EXPECT_EQ(o.IndexOf(u"new"), 0);
  EXPECT_EQ(U8(child->Name()), "new");
  // A record whose name hashes to 0 must still be found (0 means "not computed").
  JSONObject z;
  z.Put(u"", int32_t(1));
  z.Put(u"k", int32_t(2));
  EXPECT_EQ(z.IndexOf(u""), 0);
  EXPECT_EQ(z.IndexOf(u"k"), 1);
  EXPECT_EQ(NameHash(u""), 0u);
}

TEST_F(ValueModel, NameHashFollowsTheByteRule) {
  // h = h*131 + b over the UTF-16LE bytes.
  uint32_t h = 0;
  for (uint8_t b : {uint8_t('a'), uint8_t(0), uint8_t(0x2D), uint8_t(0x4E)}) h = h * 131 + b;
  EXPECT_EQ(NameHash(u"a中"), h);
}

TEST_F(ValueModel, ConversionsBetweenTypes) {
  JSONObject o;
  o.Put(u"yes", StringView(u"Yes"));
  o.Put(u"on", StringView(u"on"));
  o.Put(u"one", StringView(u"1"));
  o.AddChildObject(u"obj");
  o.Put(u"big", StringView(u"12345678901"));
  o.Put(u"hex", StringView(u"0x1F"));
  o.Put(u"dollar", StringView(u"$10"));
  o.Put(u"num", StringView(u"  -42"));
  o.Put(u"f1", 2.9);
  o.Put(u"f2", -2.9);
  o.Put(u"t", true);
  o.Put(u"fs", StringView(u"2.5"));
  EXPECT_TRUE(o.GetBoolean(u"yes"));
  EXPECT_FALSE(o.GetBoolean(u"on"));
  EXPECT_TRUE(o.GetBoolean(u"one"));
  EXPECT_FALSE(o.GetBoolean(u"obj"));
  EXPECT_EQ(o.GetInt64(u"big"), 0);
  EXPECT_EQ(o.GetInt64(u"hex"), 31);
  EXPECT_EQ(o.GetInt64(u"dollar"), 16);
  EXPECT_EQ(o.GetInt64(u"num"), -42);
  EXPECT_EQ(o.GetInt64(u"f1"), 2);
  EXPECT_EQ(o.GetInt64(u"f2"), -2);
  EXPECT_EQ(o.GetInt64(u"t"), 1);
  EXPECT_DOUBLE_EQ(o.GetDouble(u"fs"), 2.5);
  EXPECT_EQ(U8(o.GetString(u"t")), "true");
  EXPECT_EQ(U8(o.GetString(u"obj")), "{}");
  // Missing members give the defaults.
  EXPECT_EQ(o.GetInt64(u"missing"), 0);
  EXPECT_EQ(U8(o.GetString(u"missing")), "");
  EXPECT_FALSE(o.GetBoolean(u"missing"));
  EXPECT_EQ(o.GetJsonObject(u"missing"), nullptr);
  EXPECT_TRUE(o.GetVariant(u"missing").IsNull());
}

TEST_F(ValueModel, UnsignedPutsReadBackAsPut) {
  struct Case {
    const char* what;
    std::function<void(JSONObject&)> put;
    int64_t expect;
    uint32_t width;
  };
  const Case cases[] = {
      {"byte 5", [](JSONObject& o) { o.SetByte(u"v", 5); }, 5, 1},
      {"byte 200", [](JSONObject& o) { o.SetByte(u"v", 200); }, 200, 2},
      {"put byte 255", [](JSONObject& o) { o.Put(u"v", uint8_t(255)); }, 255, 2},
      {"word 1000", [](JSONObject& o) { o.SetWord(u"v", 1000); }, 1000, 2},
      {"word 40000", [](JSONObject& o) { o.SetWord(u"v", 40000); }, 40000, 4},
      {"dword 7", [](JSONObject& o) { o.SetDWORD(u"v", 7); }, 7, 4},
      {"dword 3e9", [](JSONObject& o) { o.SetDWORD(u"v", 3000000000u); }, 3000000000LL, 8},
      {"put dword", [](JSONObject& o) { o.Put(u"v", uint32_t(4000000000u)); }, 4000000000LL, 8},
      {"int -5", [](JSONObject& o) { o.SetInt(u"v", -5); }, -5, 4},
  };
  for (const Case& c : cases) {
    JSONObject o;
    c.put(o);
    PJSONValue r = o.GetItem(u"v");
    ASSERT_NE(r, nullptr) << c.what;
    EXPECT_EQ(r->Type(), jdtInteger) << c.what;
    EXPECT_EQ(r->AsInt64(), c.expect) << c.what;
    EXPECT_EQ(r->ValueSize(), c.width) << c.what;
  }
}

TEST_F(ValueModel, ArrayIndexedSetAppendsOutsideTheRange) {
  JSONArray a;
  a.Add(int32_t(1));
  a.Add(int32_t(2));
  a.SetString(5, u"s");
  ASSERT_EQ(a.Count(), 3);
  EXPECT_EQ(U8(a.GetString(2)), "s");
  a.SetDateTime(9, 43586.0);
  ASSERT_EQ(a.Count(), 4);
  EXPECT_EQ(a[3]->Type(), jdtDateTime);
  a.SetInt64(0, 7);
  EXPECT_EQ(a.GetInt64(0), 7);
  EXPECT_EQ(ErrorOf([&] { a.GetInt64(4); }), "Argument out of range");
  EXPECT_EQ(ErrorOf([&] { a.GetItems(-1); }), "Argument out of range");
  a.Remove(10);
  a.Remove(-1);
  EXPECT_EQ(a.Count(), 4);
}

TEST_F(ValueModel, ArrayGetDateTimeOfNullIsZero) {
  JSONArray a;
  a.AddNull();
  a.Add(StringView(u"2019-05-01"));
  a.Add(true);
  EXPECT_EQ(a.GetDateTime(0), 0);
  EXPECT_DOUBLE_EQ(a.GetDateTime(1), 43586.0);
  EXPECT_EQ(ErrorOf([&] { a.GetDateTime(2); }), "Boolean 不是一个有效的 DateTime 类型的值。");
}

TEST_F(ValueModel, AsDateTimeErrorsNameTheType) {
  JSONObject o;
  o.Add(u"u");
  o.Put(u"n", StringView(u"not a date"));
  o.AddChildObject(u"o");
  o.Put(u"b", Bytes("\x01", 1));
  EXPECT_EQ(ErrorOf([&] { o.GetDateTime(u"u"); }), "Unknown 不是一个有效的 DateTime 类型的值。");
  EXPECT_EQ(ErrorOf([&] { o.GetDateTime(u"n"); }), "String 不是一个有效的 DateTime 类型的值。");
  EXPECT_EQ(ErrorOf([&] { o.GetDateTime(u"o"); }), "Object 不是一个有效的 DateTime 类型的值。");
  EXPECT_EQ(ErrorOf([&] { o.GetDateTime(u"b"); }), "Bytes 不是一个有效的 DateTime 类型的值。");
  EXPECT_EQ(o.GetItem(u"n")->TryAsDatetime(-1), -1);
}

TEST_F(ValueModel, ChildItemAndForceItemErrors) {
  JSONObject o;
  EXPECT_EQ(ErrorOf([&] { o.GetChildItem(u""); }), "项目名称未找到.");
  EXPECT_EQ(ErrorOf([&] { o.GetChildForceItem(u""); }), "项目名称未找到.");
  PJSONValue r = o.GetChildItem(u"new");
  EXPECT_EQ(r->Type(), jdtUnknown);
  EXPECT_EQ(o.GetChildItem(u"new"), r);
  EXPECT_EQ(o.AddChildObject(u""), nullptr);
  EXPECT_EQ(o.AddChildArray(u""), nullptr);
  EXPECT_EQ(o.Count(), 1);
}

TEST_F(ValueModel, AddMovesAContainerOutOfItsOldParent) {
  JSONArray a, b;
  JSONObject* o = b.AddChildObject();
  o->Put(u"k", int32_t(1));
  b.Add(int32_t(2));
  a.Add(static_cast<JSONBase*>(o));
  EXPECT_EQ(b.Count(), 1);
  ASSERT_EQ(a.Count(), 1);
  EXPECT_EQ(o->Parent(), &a);
  EXPECT_EQ(a.GetJsonObject(0), o);
  EXPECT_EQ(o->ItemIndex(), 0);
  EXPECT_EQ(U8(a.ToString(0, false)), R"([{"k":1}])");
  EXPECT_EQ(U8(b.ToString(0, false)), "[2]");
  // A named root gives up its name when moved in.
  auto* root = new JSONObject();
  root->SetName(u"lost");
  JSONObject holder;
  holder.Put(u"kept", static_cast<JSONBase*>(root));
  EXPECT_EQ(U8(root->Name()), "kept");
}

TEST_F(ValueModel, MovingIntoItselfOrADescendantIsRefused) {
  JSONArray a;
  JSONArray* inner = a.AddChildArray();
  JSONArray* deeper = inner->AddChildArray();
  std::string err = ErrorOf([&] { deeper->Add(static_cast<JSONBase*>(inner)); });
  EXPECT_NE(err, "<no error>");
  EXPECT_EQ(inner->Parent(), &a);
  EXPECT_EQ(deeper->Count(), 0);
  EXPECT_NE(ErrorOf([&] { a.Add(static_cast<JSONBase*>(&a)); }), "<no error>");
}

TEST_F(ValueModel, StoringAScalarDestroysAHeldContainer) {
  JSONObject o;
  JSONObject* k = o.AddChildObject(u"k");
  k->Put(u"x", int32_t(1));
  o.SetString(u"k", u"text");
  EXPECT_EQ(o.GetJsonObject(u"k"), nullptr);
  EXPECT_EQ(U8(o.GetString(u"k")), "text");
  EXPECT_EQ(o.Count(), 1);
}

TEST_F(ValueModel, EmptyKeyMatchesTheFirstElement) {
  JSONArray a;
  a.Add(int32_t(5));
  a.Add(int32_t(6));
  EXPECT_EQ(a.IndexOf(u""), 0);
  JSONObject o;
  o.Put(u"x", int32_t(1));
  EXPECT_EQ(o.IndexOf(u""), -1);
}

TEST_F(ValueModel, RecordsStayPutWhileTheListGrows) {
  JSONArray a;
  std::vector<PJSONValue> seen;
  for (int i = 0; i < 5000; ++i) seen.push_back(a.Add(int32_t(i)));
  for (int i = 0; i < 5000; i += 499) {
    EXPECT_EQ(a[i], seen[size_t(i)]);
    EXPECT_EQ(seen[size_t(i)]->AsInt64(), i);
  }
  // Removing and adding reuses freed records without touching live ones.
  a.Remove(0);
  a.Add(int32_t(-1));
  EXPECT_EQ(seen[1]->AsInt64(), 1);
  EXPECT_EQ(a.GetInt64(a.Count() - 1), -1);
}

TEST_F(ValueModel, MixedListsAndTheirUnsupportedElements) {
  JSONObject o;
  int dummy = 0;
  JSONArray* a = o.AddChildArray(u"l", {int32_t(1), true, 2.5, int64_t(1) << 40, u"s",
                                        TJsonVariant(int32_t(3))});
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"l":[1,true,2.5,1099511627776,"s",3]})");
  std::string err = ErrorOf(
      [&] { o.AddChildArray(u"m", {int32_t(1), TJsonListItem(TJsonListItem::TOther{})}); });
  EXPECT_EQ(err, "添加的动态数组第1个元素类型不受支持。");
  ASSERT_NE(o.GetJsonArray(u"m"), nullptr);
  EXPECT_EQ(o.GetJsonArray(u"m")->Count(), 1);
  JSONArray b;
  JSONArray* nested = b.Add({static_cast<const void*>(&dummy), u"t"});
  EXPECT_EQ(nested->Count(), 2);
  EXPECT_EQ(nested->Parent(), &b);
}

TEST_F(ValueModel, VariantsConvertByKind) {
  JSONObject o;
  o.SetVariant(u"i8", TJsonVariant(int8_t(-3)));
  o.SetVariant(u"u8", TJsonVariant(uint8_t(200)));
  o.SetVariant(u"cur", TJsonVariant::Currency(1.25));
  o.SetVariant(u"date", TJsonVariant::Date(43586.5));
  o.SetVariant(u"s", TJsonVariant(u"txt"));
  o.SetVariant(u"empty", TJsonVariant());
  o.SetVariant(u"arr", TJsonVariant(std::vector<TJsonVariant>{TJsonVariant(int32_t(1)),
                                                              TJsonVariant(u"x")}));
  EXPECT_EQ(o.GetItem(u"i8")->ValueSize(), 4u);
  EXPECT_EQ(o.GetInt64(u"u8"), 200);
  EXPECT_EQ(o.GetItem(u"cur")->ValueSize(), 10u);
  EXPECT_EQ(o.GetItem(u"date")->Type(), jdtDateTime);
  EXPECT_EQ(o.GetItem(u"empty")->Type(), jdtNull);
  JSONArray* arr = o.GetJsonArray(u"arr");
  ASSERT_NE(arr, nullptr);
  EXPECT_EQ(arr->Parent(), &o);
  EXPECT_EQ(U8(arr->ToString(0, false)), R"([1,"x"])");
  TJsonVariant back = o.GetVariant(u"arr");
  ASSERT_TRUE(back.IsArray());
  ASSERT_EQ(back.Items().size(), 2u);
  EXPECT_EQ(back.Items()[0].AsInt64(), 1);
  EXPECT_EQ(U8(back.Items()[1].AsString()), "x");
}

TEST_F(ValueModel, BytesStreamsAndBlobs) {
  JSONObject o;
  o.Put(u"b", Bytes("\x01\x02", 2));
  EXPECT_EQ(U8(o.GetString(u"b")), "[blob]<[BS]AQI=>");
  o.Put(u"s", StringView(u"[blob]<[BS]AQI=>"));
  auto s = o.GetStream(u"s");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->ReadRest(), Bytes("\x01\x02", 2));
  EXPECT_EQ(o.GetItem(u"s")->Type(), jdtBytes);
  o.Put(u"h", StringView(u"[blob]<0A0b>"));
  EXPECT_TRUE(o.GetItem(u"h")->ParseBlobData());
  EXPECT_EQ(o.GetBytes(u"h"), Bytes("\x0A\x0B", 2));
  o.Put(u"plain", StringView(u"hello world"));
  EXPECT_FALSE(o.GetItem(u"plain")->ParseBlobData());
  EXPECT_EQ(o.GetItem(u"plain")->Type(), jdtString);
  EXPECT_EQ(ErrorOf([&] { s->Write("x", 1); }), "PointerStream Ban Written.");
  TMemoryStream ms(Bytes("abcdef"));
  ms.SetPosition(2);
  PJSONValue r = o.Add(u"m");
  r->SetBytes(&ms, false);
  EXPECT_EQ(r->AsBytes(), "cdef");
  EXPECT_EQ(ms.Position(), 2);
  r->SetBytes(&ms, true);
  EXPECT_EQ(r->AsBytes(), "abcdef");
}

TEST_F(ValueModel, RecordCopyValueAndClear) {
  JSONObject o;
  PJSONValue a = o.Put(u"a", StringView(u"some longer text"));
  PJSONValue b = o.Add(u"b");
  b->CopyValue(a);
  EXPECT_EQ(U8(b->AsString()), "some longer text");
  EXPECT_EQ(U8(b->Name()), "b");
  a->SetAsString(u"changed");
  EXPECT_EQ(U8(b->AsString()), "some longer text");
  PJSONValue c = o.Put(u"c", static_cast<JSONBase*>(new JSONObject()));
  b->CopyValue(c);
  EXPECT_EQ(b->Type(), jdtNull);
  c->Clear();
  EXPECT_EQ(c->Type(), jdtUnknown);
  EXPECT_EQ(c->GetObject(), nullptr);
  EXPECT_EQ(U8(c->Name()), "");
}

TEST_F(ValueModel, EnumeratorVisitsEveryRecord) {
  JSONArray a;
  for (int i = 0; i < 3; ++i) a.Add(int32_t(i));
  JSONEnumerator e = a.GetEnumerator();
  int64_t sum = 0, n = 0;
  while (e.MoveNext()) {
    sum += e.Current()->AsInt64();
    ++n;
  }
  EXPECT_EQ(n, 3);
  EXPECT_EQ(sum, 3);
  JSONArray empty;
  EXPECT_FALSE(empty.GetEnumerator().MoveNext());
}

TEST_F(ValueModel, NextAndParentLinks) {
  JSONObject o;
  JSONObject* a = o.AddChildObject(u"a");
  JSONArray* b = o.AddChildArray(u"b");
  EXPECT_EQ(a->NextAsJsonObject(), nullptr);
  EXPECT_EQ(o.GetJsonArray(u"b"), b);
  EXPECT_EQ(a->Next(), o.GetItem(u"b"));
  EXPECT_EQ(b->Next(), nullptr);
  EXPECT_EQ(o.IndexOfObject(b), 1);
  JSONObject stray;
  EXPECT_EQ(o.IndexOfObject(&stray), -1);
  EXPECT_EQ(b->ItemIndex(), 1);
  EXPECT_EQ(o.ItemIndex(), -1);
}

TEST_F(ValueModel, SourcesOfOneDocumentChangedFromSeveralThreads) {
  // The batch check edits different sources of one array at the same time.
  JSONArray list;
  const int kObjects = 8, kRounds = 2000;
  for (int i = 0; i < kObjects; ++i) list.AddChildObject();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = t; i < kObjects; i += 4) {
        JSONObject* o = list.GetJsonObject(i);
        for (int r = 0; r < kRounds; ++r) {
          o->SetString(u"bookSourceGroup", r % 2 ? u"A; 失效" : u"A");
          o->Put(u"n", int32_t(r));
          if (o->Count() > 10) o->Delete(u"n");
        }
      }
    });
  for (auto& th : threads) th.join();
  for (int i = 0; i < kObjects; ++i) {
    JSONObject* o = list.GetJsonObject(i);
    EXPECT_EQ(U8(o->GetString(u"bookSourceGroup")), "A; 失效");
    EXPECT_LE(o->Count(), 11);
  }
}

TEST_F(ValueModel, DeletingAChildDirectlyDetachesItFromItsParent) {
  JSONObject o;
  JSONObject* k = o.AddChildObject(u"k");
  k->Put(u"x", int32_t(1));
  o.Put(u"after", int32_t(2));
  delete k;
  EXPECT_EQ(U8(o.ToString(0, false)), R"({"after":2})");
  EXPECT_EQ(o.GetJsonObject(u"k"), nullptr);
}

TEST_F(ValueModel, ContainersOutliveTheDocumentTheyCameFrom) {
  // Records of a parsed document share its memory; a source moved into
  // another list must stay whole after the first document is gone.
  JSONArray target;
  {
    auto* loaded = new JSONArray();
    loaded->Decode(String(u"[{\"bookSourceName\": \"a rather long name that is not inline\", "
                          u"\"list\": [1, \"two\", {\"k\": \"v\"}]}, {\"x\": 1}]"));
    target.Add(static_cast<JSONBase*>(loaded->GetJsonObject(0)));
    delete loaded;
  }
  JSONObject* moved = target.GetJsonObject(0);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(U8(moved->GetString(u"bookSourceName")), "a rather long name that is not inline");
  moved->Put(u"added", StringView(u"after the move"));
  moved->GetJsonArray(u"list")->Add(int32_t(4));
  EXPECT_EQ(U8(target.ToString(0, false)),
            R"([{"bookSourceName":"a rather long name that is not inline","list":[1,"two",{"k":"v"},4],)"
            R"("added":"after the move"}])");
  // Parsing into a child reuses the document's memory and keeps the links.
  JSONObject* child = target.AddChildObject();
  child->Parse(u"{\"a\": \"first text of some length\"}");
  child->Parse(u"{\"b\": [\"second text of some length\"]}");
  EXPECT_EQ(child->Parent(), &target);
  EXPECT_EQ(U8(child->ToString(0, false)), R"({"b":["second text of some length"]})");
  target.Remove(0);
  EXPECT_EQ(target.Count(), 1);
  EXPECT_EQ(target.GetJsonObject(0), child);
}
