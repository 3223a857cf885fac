#include "support/KivHash.h"

#include <cstdlib>
#include <cstring>

uint32_t HashOf(const void* P, size_t Len) {
  const auto* b = static_cast<const unsigned char*>(P);
  uint32_t h = 0;
  size_t i = 0;
  for (; i + 4 <= Len; i += 4) {
    uint32_t w = uint32_t(b[i]) | uint32_t(b[i + 1]) << 8 | uint32_t(b[i + 2]) << 16 | uint32_t(b[i + 3]) << 24;
    h = ((h << 5) | (h >> 27)) ^ w;
  }
  size_t rest = Len - i;
  if (rest) {
    uint32_t t = 0;
    for (size_t k = 0; k < rest; ++k) t |= uint32_t(b[i + k]) << (8 * k);
    h = ((h << 5) | (h >> 27)) ^ t;
  }
  return h;
}

static const uint32_t kTableSizes[] = {
    17,        37,        79,        163,        331,        673,        1361,       2729,
    5471,      10949,     21911,     43853,      87719,      175447,     350899,     701819,
    1403641,   2807303,   5614657,   8999993,    11229331,   22458671,   30009979,   44917381,
    50009969,  60009997,  70009987,  80009851,   89834777,   100009979,  110009987,  120009979,
    130009903, 140009983, 150009983, 165009937,  179669557,  200009959,  359339171,  400009999,
    450009883, 550009997, 718678369, 850009997,  1050009979, 1437356741, 1850009969, 2147483647};

uint32_t NextTableSize(int64_t n) {
  for (uint32_t s : kTableSizes)
    if (int64_t(s) > n) return s;
  return 2147483647u;
}

// ------------------------------------------------------------ keyed tables

namespace kiv_detail {

namespace {
inline uint32_t KeyHash(const String& k) { return HashOf(k); }
inline uint32_t KeyHash(uintptr_t k) { return static_cast<uint32_t>(k); }
}  // namespace

template <typename Item, typename Key>
TKeyedHash<Item, Key>::TKeyedHash(uint32_t Size) {
  // Every operation divides by the bucket count: refuse an empty table up front.
  if (Size == 0) throw Exception(u"Hash table bucket count must be greater than 0");
  Buckets.assign(Size, nullptr);
}

template <typename Item, typename Key>
TKeyedHash<Item, Key>::~TKeyedHash() {
  Clear();
}

template <typename Item, typename Key>
uint32_t TKeyedHash<Item, Key>::BucketOf(const Key& K) const {
  return KeyHash(K) % static_cast<uint32_t>(Buckets.size());
}

template <typename Item, typename Key>
Item** TKeyedHash<Item, Key>::FindIn(const Key& K, uint32_t bucket) {
  Item** link = &Buckets[bucket];
  while (*link && !((*link)->Key == K)) link = &(*link)->Next;
  return link;
}

template <typename Item, typename Key>
Item** TKeyedHash<Item, Key>::Find(const Key& K) {
  return FindIn(K, BucketOf(K));
}

template <typename Item, typename Key>
void TKeyedHash<Item, Key>::AddSlot(const Key& K, SlotValue s) {
  uint32_t bucket = BucketOf(K);
  Item* item = new Item();
  item->Key = K;
  std::memcpy(&item->V, &s.v, static_cast<size_t>(s.width));
  std::lock_guard<std::recursive_mutex> lock(FLocker);
  item->Next = Buckets[bucket];
  Buckets[bucket] = item;
  ++FCount;
}

template <typename Item, typename Key>
bool TKeyedHash<Item, Key>::ModifySlot(const Key& K, SlotValue s) {
  std::lock_guard<std::recursive_mutex> lock(FLocker);
  Item* item = *Find(K);
  if (!item) return false;
  if (OnFreeItem) OnFreeItem(item);
  std::memcpy(&item->V, &s.v, static_cast<size_t>(s.width));
  return true;
}

template <typename Item, typename Key>
bool TKeyedHash<Item, Key>::ReadSlot(const Key& K, void* Out, size_t Width) {
  std::lock_guard<std::recursive_mutex> lock(FLocker);
  Item* item = *Find(K);
  if (item) std::memcpy(Out, &item->V, Width);
  return item != nullptr;
}

template <typename Item, typename Key>
intptr_t TKeyedHash<Item, Key>::ValueOf(const Key& K, intptr_t DefaultValue) {
  intptr_t v = DefaultValue;
  TryGetValue(K, v);
  return v;
}

template <typename Item, typename Key>
int64_t TKeyedHash<Item, Key>::GetInt64(const Key& K, int64_t DefaultValue) {
  intptr_t v = DefaultValue;
  TryGetValue(K, v);
  return v;
}

template <typename Item, typename Key>
double TKeyedHash<Item, Key>::GetFolat(const Key& K, double DefaultValue) {
  double v = DefaultValue;
  TryGetValue(K, v);
  return v;
}

template <typename Item, typename Key>
void* TKeyedHash<Item, Key>::GetPointer(const Key& K) {
  void* v = nullptr;
  TryGetValue(K, v);
  return v;
}

template <typename Item, typename Key>
Item TKeyedHash<Item, Key>::GetItem(const Key& K) {
  std::lock_guard<std::recursive_mutex> lock(FLocker);
  Item* item = *Find(K);
  return item ? *item : Item();
}

template <typename Item, typename Key>
bool TKeyedHash<Item, Key>::Exists(const Key& K) {
  std::lock_guard<std::recursive_mutex> lock(FLocker);
  return *Find(K) != nullptr;
}

template <typename Item, typename Key>
bool TKeyedHash<Item, Key>::Remove(const Key& K) {
  std::lock_guard<std::recursive_mutex> lock(FLocker);
  Item** link = Find(K);
  Item* item = *link;
  if (!item) return false;
  *link = item->Next;
  --FCount;
  if (OnFreeItem) OnFreeItem(item);
  delete item;
  return true;
}

template <typename Item, typename Key>
void TKeyedHash<Item, Key>::Clear() {
  std::lock_guard<std::recursive_mutex> lock(FLocker);
  for (auto& head : Buckets) {
    while (head) {
      Item* item = head;
      head = item->Next;
      if (OnFreeItem) OnFreeItem(item);
      delete item;
    }
  }
  FCount = 0;
}

template <typename Item, typename Key>
void TKeyedHash<Item, Key>::GetItems(std::vector<void*>* AList) {
  if (!AList) return;
  std::lock_guard<std::recursive_mutex> lock(FLocker);
  for (Item* head : Buckets)
    for (Item* item = head; item; item = item->Next)
      if (item->V.AsPointer) AList->push_back(item->V.AsPointer);
}

template class TKeyedHash<THashItem, String>;
template class TKeyedHash<TIntHashItem, uintptr_t>;

}  // namespace kiv_detail

void TStringHash::GetKeyList(std::vector<String>* AList) {
  if (!AList) return;
  std::lock_guard<std::recursive_mutex> lock(FLocker);
  for (THashItem* head : Buckets)
    for (THashItem* item = head; item; item = item->Next)
      if (!item->Key.empty()) AList->push_back(item->Key);
}

void TStringHash::DoFreePointerItem(THashItem* Item) {
  if (Item && Item->V.AsPointer) {
    std::free(Item->V.AsPointer);
    Item->V.AsPointer = nullptr;
  }
}

void TIntHash::GetKeyList(std::vector<String>* AList) {
  if (!AList) return;
  std::lock_guard<std::recursive_mutex> lock(FLocker);
  for (TIntHashItem* head : Buckets)
    for (TIntHashItem* item = head; item; item = item->Next)
      if (item->Key != 0) AList->push_back(IntToStr(static_cast<int64_t>(item->Key)));
}

// Same contract as the string table's handler, so either table can own blocks.
void TIntHash::DoFreePointerItem(TIntHashItem* Item) {
  if (Item && Item->V.AsPointer) {
    std::free(Item->V.AsPointer);
    Item->V.AsPointer = nullptr;
  }
}

// ------------------------------------------------------------ TKIVHashTable

TKIVHashTable::TKIVHashTable(int32_t ASize) : FPool(sizeof(THashList), 1024) {
  ReSize(ASize);
}

TKIVHashTable::~TKIVHashTable() { Clear(); }

PHashList TKIVHashTable::NewNode(void* AData, uintptr_t AHash) {
  auto* node = static_cast<PHashList>(FPool.Pop());
  node->Next = nullptr;
  node->Data = AData;
  node->Hash = AHash;
  return node;
}

void TKIVHashTable::FreeBucket(PHashList ABucket) { FPool.Push(ABucket); }

void TKIVHashTable::DoDelete(uintptr_t AHash, void* AData) {
  if (OnDelete) OnDelete(this, AHash, AData);
}

bool TKIVHashTable::Matches(void* NodeData, void* AData) {
  return NodeData == AData || (OnCompare && OnCompare(NodeData, AData) == 0);
}

void TKIVHashTable::Clear() {
  for (auto& head : FBuckets) {
    while (head) {
      PHashList node = head;
      head = node->Next;
      DoDelete(node->Hash, node->Data);
      FreeBucket(node);
    }
  }
  FPool.Clear();
  FCount = 0;
}

void TKIVHashTable::DeleteBucket(int32_t Index) {
  if (Index < 0 || Index >= BucketCount()) return;
  PHashList node = FBuckets[static_cast<size_t>(Index)];
  FBuckets[static_cast<size_t>(Index)] = nullptr;
  while (node) {
    PHashList next = node->Next;
    DoDelete(node->Hash, node->Data);
    FreeBucket(node);
    --FCount;
    node = next;
  }
}

void TKIVHashTable::ReSize(int32_t ASize) {
  uint32_t size = ASize > 0 ? static_cast<uint32_t>(ASize) : NextTableSize(FCount);
  if (size == FBuckets.size()) return;
  std::vector<PHashList> buckets(size, nullptr);
  for (PHashList head : FBuckets) {
    while (head) {
      PHashList node = head;
      head = node->Next;
      PHashList& dest = buckets[node->Hash % size];
      node->Next = dest;
      dest = node;
    }
  }
  FBuckets.swap(buckets);
}

void TKIVHashTable::Add(void* AData, uintptr_t AHash) {
  PHashList node = NewNode(AData, AHash);
  PHashList& head = FBuckets[AHash % FBuckets.size()];
  node->Next = head;
  head = node;
  ++FCount;
}

PHashList TKIVHashTable::FindFirst(uintptr_t AHash) {
  PHashList node = FBuckets[AHash % FBuckets.size()];
  while (node && node->Hash != AHash) node = node->Next;
  return node;
}

PHashList TKIVHashTable::FindNext(PHashList AList) {
  if (!AList) return nullptr;
  PHashList node = AList->Next;
  while (node && node->Hash != AList->Hash) node = node->Next;
  return node;
}

void* TKIVHashTable::FindFirstData(uintptr_t AHash) {
  PHashList node = FindFirst(AHash);
  return node ? node->Data : nullptr;
}

PHashList TKIVHashTable::Find(uintptr_t AHash) {
  PHashList result = nullptr;
  for (PHashList node = FBuckets[AHash % FBuckets.size()]; node; node = node->Next) {
    if (node->Hash != AHash) continue;
    PHashList copy = NewNode(node->Data, node->Hash);
    copy->Next = result;
    result = copy;
  }
  return result;
}

void TKIVHashTable::FreeHashList(PHashList AList) {
  while (AList) {
    PHashList next = AList->Next;
    FPool.Push(AList);
    AList = next;
  }
}

void* TKIVHashTable::Find(void* AData, uintptr_t AHash) {
  for (PHashList node = FindFirst(AHash); node; node = node->Next)
    if (node->Data == AData || (OnCompare && OnCompare(AData, node->Data) == 0)) return node->Data;
  return nullptr;
}

bool TKIVHashTable::Exists(void* AData, uintptr_t AHash) {
  for (PHashList node = FindFirst(AHash); node; node = FindNext(node))
    if (Matches(node->Data, AData)) return true;
  return false;
}

void TKIVHashTable::Delete(void* AData, uintptr_t AHash) {
  PHashList* link = &FBuckets[AHash % FBuckets.size()];
  while (*link && !Matches((*link)->Data, AData)) link = &(*link)->Next;
  PHashList node = *link;
  if (!node) return;
  DoDelete(node->Hash, node->Data);
  *link = node->Next;
  FreeBucket(node);
  --FCount;
}

void TKIVHashTable::Update(void* AData, uintptr_t AOldHash, uintptr_t ANewHash) {
  PHashList* link = &FBuckets[AOldHash % FBuckets.size()];
  while (*link && !((*link)->Hash == AOldHash && Matches((*link)->Data, AData))) link = &(*link)->Next;
  PHashList node = *link;
  if (!node) {
    Add(AData, ANewHash);
    return;
  }
  *link = node->Next;
  node->Hash = ANewHash;
  PHashList& head = FBuckets[ANewHash % FBuckets.size()];
  node->Next = head;
  head = node;
}

void TKIVHashTable::SetAutoSize(bool Value) {
  FAutoSize = Value;
  if (Value && FCount / BucketCount() > 3) ReSize(0);
}
