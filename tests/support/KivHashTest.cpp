#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <thread>

#include "support/KivHash.h"

TEST(HashOf, FixedValues) {
  EXPECT_EQ(HashOf(u""), 0u);
  EXPECT_EQ(HashOf(u"a"), 0x61u);
  EXPECT_EQ(HashOf(u"abc"), 0x0C400C43u);
  EXPECT_EQ(HashOf(u"abc") % 997, 461u);
  const unsigned char three[] = {1, 2, 3};
  EXPECT_EQ(HashOf(three, 3), 0x030201u);
  const unsigned char five[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(HashOf(five, 5), ((0x04030201u << 5) | (0x04030201u >> 27)) ^ 5u);
}

TEST(NextTableSize, FirstSizeAboveTheCount) {
  struct Case { int64_t n; uint32_t size; } cases[] = {
      {0, 17}, {16, 17}, {17, 37}, {100, 163}, {2147483646, 2147483647}, {2147483647, 2147483647}, {5000000000LL, 2147483647}};
  for (auto& c : cases) EXPECT_EQ(NextTableSize(c.n), c.size) << c.n;
}

TEST(StringHash, KeyListOrderIsBucketThenNewestFirst) {
  TStringHash h(997);
  h.Add(u"abc", intptr_t(1));
  h.Add(u"a", intptr_t(2));
  std::vector<String> keys{u"existing"};
  h.GetKeyList(&keys);
  EXPECT_EQ(keys, (std::vector<String>{u"existing", u"a", u"abc"}));

  // Two keys in one bucket of a one-bucket table: newest first; empty keys skipped.
  TStringHash one(1);
  one.Add(u"first", intptr_t(1));
  one.Add(u"", intptr_t(9));
  one.Add(u"second", intptr_t(2));
  keys.clear();
  one.GetKeyList(&keys);
  EXPECT_EQ(keys, (std::vector<String>{u"second", u"first"}));
  one.GetKeyList(nullptr);
}

TEST(StringHash, DuplicateAddsHideAndRemoveReveals) {
  TStringHash h(17);
  h.Add(u"k", intptr_t(1));
  h.Add(u"k", intptr_t(2));
  EXPECT_EQ(h.Count(), 2);
  EXPECT_EQ(h.ValueOf(u"k"), 2);
  h.Remove(u"k");
  EXPECT_EQ(h.Count(), 1);
  EXPECT_EQ(h.ValueOf(u"k"), 1);
  h.Remove(u"k");
  EXPECT_EQ(h.Count(), 0);
  EXPECT_FALSE(h.Exists(u"k"));
  EXPECT_EQ(h.ValueOf(u"k"), -1);
  EXPECT_EQ(h.GetValueItem(u"k"), -1);
  EXPECT_FALSE(h.Remove(u"k"));
}

TEST(StringHash, KeysAreCaseSensitiveAndValueViewsShareTheSlot) {
  TStringHash h(997);
  h.Add(u"Group", intptr_t(7));
  EXPECT_FALSE(h.Exists(u"group"));
  intptr_t out = 123;
  EXPECT_FALSE(h.TryGetValue(u"group", out));
  EXPECT_EQ(out, 123);
  EXPECT_TRUE(h.TryGetValue(u"Group", out));
  EXPECT_EQ(out, 7);

  h.AddOrUpdate(u"d", 2.5);
  EXPECT_DOUBLE_EQ(h.GetFolat(u"d", 0), 2.5);
  EXPECT_DOUBLE_EQ(h.GetFolat(u"none", -1.5), -1.5);
  h.SetValueItem(u"n", intptr_t(5));
  h.SetValueItem(u"n", intptr_t(6));
  EXPECT_EQ(h.Count(), 3);
  EXPECT_EQ(h.GetInt(u"n", 0), 6);
  EXPECT_EQ(h.GetInt64(u"n", 0), 6);
  int x;
  h.AddOrUpdate(u"p", static_cast<void*>(&x));
  EXPECT_EQ(h.GetPointer(u"p"), &x);
  EXPECT_EQ(h.GetPointer(u"none"), nullptr);
  THashItem copy = h.GetItem(u"n");
  EXPECT_EQ(copy.Key, u"n");
  EXPECT_EQ(copy.Value(), 6);
  EXPECT_EQ(h.GetItem(u"none").Key, u"");
  EXPECT_EQ(*h.Find(u"none"), nullptr);
  EXPECT_EQ((*h.Find(u"n"))->Key, u"n");
}

TEST(StringHash, FreeNotificationsAndCountsStayExact) {
  TStringHash h(5);
  std::vector<String> freed;
  h.OnFreeItem = [&](THashItem* item) { freed.push_back(item->Key + u"=" + IntToStr(item->Value())); };
  h.Add(u"a", intptr_t(1));
  h.Add(u"b", intptr_t(2));
  h.Add(u"c", intptr_t(3));
  EXPECT_TRUE(h.Modify(u"a", intptr_t(10)));  // notified with the old value
  EXPECT_FALSE(h.Modify(u"zz", intptr_t(1)));
  EXPECT_EQ(freed, (std::vector<String>{u"a=1"}));
  h.Remove(u"b");
  EXPECT_EQ(h.Count(), 2);
  h.Clear();
  EXPECT_EQ(h.Count(), 0);
  std::sort(freed.begin(), freed.end());
  EXPECT_EQ(freed, (std::vector<String>{u"a=1", u"a=10", u"b=2", u"c=3"}));
}

TEST(StringHash, PointerItemsAreFreedByTheReadyMadeHandler) {
  TStringHash h(17);
  h.OnFreeItem = TStringHash::DoFreePointerItem;
  h.Add(u"a", std::malloc(32));
  h.Add(u"b", static_cast<void*>(nullptr));
  std::vector<void*> items;
  h.GetItems(&items);
  EXPECT_EQ(items.size(), 1u);  // null values are not listed
  h.Clear();                    // LeakSanitizer reports the block if it is not freed
}

TEST(IntHash, SameSurfaceWithIntegerKeys) {
  TIntHash h(997);
  h.Add(uintptr_t(5), intptr_t(50));
  h.Add(uintptr_t(0), intptr_t(1));
  h.Add(uintptr_t(1002), intptr_t(60));  // 1002 % 997 == 5: same bucket, newer first
  std::vector<String> keys;
  h.GetKeyList(&keys);
  EXPECT_EQ(keys, (std::vector<String>{u"1002", u"5"}));
  EXPECT_TRUE(h.Remove(uintptr_t(5)));
  EXPECT_FALSE(h.Remove(uintptr_t(5)));
  EXPECT_EQ(h.Count(), 2);
  EXPECT_EQ(h.ValueOf(uintptr_t(1002)), 60);
  h.Clear();
  EXPECT_EQ(h.Count(), 0);
  // The integer table's handler frees pointer values as the string table's does.
  TIntHash blocks(17);
  blocks.OnFreeItem = TIntHash::DoFreePointerItem;
  blocks.AddOrUpdate(uintptr_t(7), std::malloc(8));
  blocks.AddOrUpdate(uintptr_t(7), std::malloc(8));  // the old block is freed first
  EXPECT_EQ(blocks.Count(), 1);
  blocks.Clear();
}

TEST(KeyedHash, ZeroBucketsAreRefused) {
  EXPECT_THROW(TStringHash(0), Exception);
  EXPECT_THROW(TIntHash(0), Exception);
}

TEST(KeyedHash, ConcurrentAddsAndRemovesKeepTheCount) {
  TStringHash h(997);
  auto worker = [&](int id) {
    for (int i = 0; i < 2000; ++i) {
      String k = IntToStr(id) + u":" + IntToStr(i);
      h.Add(k, intptr_t(i));
      if (i % 2) h.Remove(k);
    }
  };
  std::thread a(worker, 1), b(worker, 2);
  a.join();
  b.join();
  EXPECT_EQ(h.Count(), 2000);
}

TEST(KIVHashTable, SizesAndAutoSize) {
  TKIVHashTable t;
  EXPECT_EQ(t.BucketCount(), 17);
  EXPECT_EQ(t.MemSize(), 68);
  std::vector<int> data(100);
  for (int i = 0; i < 100; ++i) t.Add(&data[i], uintptr_t(i));
  EXPECT_EQ(t.BucketCount(), 17);  // Add never grows
  t.SetAutoSize(true);
  EXPECT_EQ(t.BucketCount(), 163);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(t.FindFirstData(uintptr_t(i)), &data[i]);
  t.ReSize(37);
  EXPECT_EQ(t.BucketCount(), 37);
  EXPECT_EQ(t.Count(), 100);
}

TEST(KIVHashTable, LookupsByHashAndByData) {
  TKIVHashTable t(17);
  int a = 1, b = 2, c = 3;
  t.Add(&a, 5);
  t.Add(&b, 5);
  t.Add(&c, 22);  // same bucket (22 % 17 == 5), another hash
  EXPECT_EQ(t.FindFirstData(5), &b);
  PHashList first = t.FindFirst(5);
  PHashList second = t.FindNext(first);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->Data, &a);
  EXPECT_EQ(t.FindNext(second), nullptr);

  PHashList copies = t.Find(uintptr_t(5));
  std::vector<void*> found;
  for (PHashList n = copies; n; n = n->Next) found.push_back(n->Data);
  t.FreeHashList(copies);
  EXPECT_EQ(found, (std::vector<void*>{&a, &b}));  // each copy put in front of the previous

  EXPECT_EQ(t.Find(&a, 5), &a);
  EXPECT_EQ(t.Find(&c, 5), nullptr);
  EXPECT_TRUE(t.Exists(&c, 22));
  EXPECT_FALSE(t.Exists(&c, 5));

  int same = 1;  // equal by value through OnCompare
  t.OnCompare = [](void* x, void* y) { return *static_cast<int*>(x) - *static_cast<int*>(y); };
  EXPECT_EQ(t.Find(&same, 5), &a);
  EXPECT_TRUE(t.Exists(&same, 5));
}

TEST(KIVHashTable, DeleteUpdateAndClearNotify) {
  TKIVHashTable t(17);
  std::vector<std::pair<uintptr_t, void*>> deleted;
  t.OnDelete = [&](TKIVHashTable*, uintptr_t h, void* d) { deleted.push_back({h, d}); };
  int a, b, c;
  t.Add(&a, 1);
  t.Add(&b, 1);
  t.Add(&c, 2);
  t.Delete(&a, 1);
  EXPECT_EQ(t.Count(), 2);
  EXPECT_EQ(deleted, (std::vector<std::pair<uintptr_t, void*>>{{1, &a}}));
  t.Delete(&a, 1);  // gone: nothing happens
  EXPECT_EQ(t.Count(), 2);

  t.Update(&b, 1, 40);
  EXPECT_EQ(t.FindFirstData(1), nullptr);
  EXPECT_EQ(t.FindFirstData(40), &b);
  t.Update(&a, 1, 3);  // not there: added
  EXPECT_EQ(t.Count(), 3);
  EXPECT_EQ(t.FindFirstData(3), &a);

  t.DeleteBucket(40 % 17);
  EXPECT_EQ(t.Count(), 2);
  t.DeleteBucket(-1);
  t.DeleteBucket(1000);
  deleted.clear();
  t.Clear();
  EXPECT_EQ(t.Count(), 0);
  EXPECT_EQ(deleted.size(), 2u);
}

TEST(KIVHashTable, RandomOperationsMatchAModel) {
  TKIVHashTable t;
  std::multimap<uintptr_t, int*> model;
  std::vector<int> cells(300);
  std::mt19937 rng(7);
  for (int step = 0; step < 5000; ++step) {
    int i = int(rng() % cells.size());
    uintptr_t h = rng() % 50;
    if (rng() % 3) {
      t.Add(&cells[i], h);
      model.insert({h, &cells[i]});
    } else {
      bool had = false;
      for (auto it = model.lower_bound(h); it != model.end() && it->first == h; ++it)
        if (it->second == &cells[i]) {
          model.erase(it);
          had = true;
          break;
        }
      bool in = t.Exists(&cells[i], h);
      EXPECT_EQ(in, had);
      if (had) t.Delete(&cells[i], h);
    }
    if (step % 1000 == 0) t.SetAutoSize(step % 2000 == 0);
  }
  EXPECT_EQ(t.Count(), int32_t(model.size()));
}

TEST(MemPool, BlockSizesCapacityAndReuse) {
  TMemPool p(12, 1024);
  EXPECT_EQ(p.BlockSize(), 12u);
  EXPECT_EQ(p.MaxSize(), 1024);
  TMemPool q(100, 2);
  EXPECT_EQ(q.BlockSize(), 128u);
  EXPECT_EQ(q.MaxSize(), 4);
  EXPECT_EQ(TMemPool(128, 10).BlockSize(), 128u);

  void* a = q.Pop();
  void* b = q.Pop();
  q.Push(a);
  q.Push(b);
  q.Push(nullptr);
  EXPECT_EQ(q.Count(), 2);
  EXPECT_EQ(q.Pop(), b);  // last pushed first
  EXPECT_EQ(q.Pop(), a);
  std::vector<void*> blocks;
  for (int i = 0; i < 6; ++i) blocks.push_back(q.Pop());
  int freed = 0;
  q.OnFree = [&](TMemPool*, void* v) { ++freed; std::free(v); };
  for (void* v : blocks) q.Push(v);
  EXPECT_EQ(q.Count(), 4);
  EXPECT_EQ(freed, 2);  // over capacity: freed at once
  q.Clear();
  EXPECT_EQ(q.Count(), 0);
  EXPECT_EQ(freed, 6);
  std::free(a);
  std::free(b);
}

TEST(MemPool, NewAndResetHooks) {
  TMemPool p(16, 4);
  int made = 0, resets = 0;
  p.OnNew = [&](TMemPool*, void*& v) { ++made; v = std::malloc(16); };
  p.OnReset = [&](TMemPool*, void*) { ++resets; };
  void* v = p.Pop();
  p.Push(v);
  void* w = p.Pop();
  EXPECT_EQ(v, w);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(resets, 2);
  std::free(w);
}
