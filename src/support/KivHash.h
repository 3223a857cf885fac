// Chained hash tables with fixed bucket counts; the key order they list is
// part of what the user sees (the group list).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "support/KivMemPool.h"
#include "support/KivTypes.h"

static_assert(sizeof(intptr_t) == 8, "the value slot views assume a 64-bit platform");

uint32_t HashOf(const void* P, size_t Len);
inline uint32_t HashOf(StringView S) { return HashOf(S.data(), S.size() * sizeof(char16_t)); }
// The first table size above n; 2147483647 when none is.
uint32_t NextTableSize(int64_t n);

// The 8-byte value slot shared by the item views.
union THashValue {
  intptr_t AsNumber;
  double AsDouble;
  int64_t AsInt64;
  void* AsPointer;
};

struct THashItem {
  THashItem* Next = nullptr;
  String Key;
  THashValue V{};
  intptr_t Value() const { return V.AsNumber; }
};
using PHashItem = THashItem*;
using PPHashItem = THashItem**;

struct TIntHashItem {
  TIntHashItem* Next = nullptr;
  uintptr_t Key = 0;
  THashValue V{};
  intptr_t Value() const { return V.AsNumber; }
};
using PIntHashItem = TIntHashItem*;
using PPIntHashItem = TIntHashItem**;

namespace kiv_detail {
// The shared body of the string- and integer-keyed tables.
template <typename Item, typename Key>
class TKeyedHash {
 public:
  using TFreeNotify = std::function<void(Item*)>;
  // Pointer-size and 64-bit integers are one type on this platform, so they
  // share the intptr_t overloads (both fill the whole slot).

  explicit TKeyedHash(uint32_t Size);
  ~TKeyedHash();
  TKeyedHash(const TKeyedHash&) = delete;
  TKeyedHash& operator=(const TKeyedHash&) = delete;

  void Add(const Key& K, intptr_t Value) { AddSlot(K, Slot(Value)); }
  void Add(const Key& K, double Value) { AddSlot(K, Slot(Value)); }
  void Add(const Key& K, void* Value) { AddSlot(K, Slot(Value)); }
  void AddOrUpdate(const Key& K, intptr_t Value) { if (!Modify(K, Value)) Add(K, Value); }
  void AddOrUpdate(const Key& K, double Value) { if (!Modify(K, Value)) Add(K, Value); }
  void AddOrUpdate(const Key& K, void* Value) { if (!Modify(K, Value)) Add(K, Value); }
  bool Modify(const Key& K, intptr_t Value) { return ModifySlot(K, Slot(Value)); }
  bool Modify(const Key& K, double Value) { return ModifySlot(K, Slot(Value)); }
  bool Modify(const Key& K, void* Value) { return ModifySlot(K, Slot(Value)); }

  // Out is written only when the key is found.
  bool TryGetValue(const Key& K, intptr_t& Out) { return ReadSlot(K, &Out, sizeof Out); }
  bool TryGetValue(const Key& K, double& Out) { return ReadSlot(K, &Out, sizeof Out); }
  bool TryGetValue(const Key& K, void*& Out) { return ReadSlot(K, &Out, sizeof Out); }
  intptr_t ValueOf(const Key& K, intptr_t DefaultValue = -1);
  intptr_t GetInt(const Key& K, intptr_t DefaultValue) { return ValueOf(K, DefaultValue); }
  int64_t GetInt64(const Key& K, int64_t DefaultValue);
  double GetFolat(const Key& K, double DefaultValue);
  void* GetPointer(const Key& K);
  intptr_t GetValueItem(const Key& K) { return ValueOf(K, -1); }
  void SetValueItem(const Key& K, intptr_t Value) { AddOrUpdate(K, Value); }
  Item GetItem(const Key& K);

  bool Exists(const Key& K);
  // The link that points to the item (or holds null). Takes no lock.
  Item** Find(const Key& K);
  bool Remove(const Key& K);
  void Clear();
  void GetItems(std::vector<void*>* AList);

  void Lock() { FLocker.lock(); }
  void UnLock() { FLocker.unlock(); }

  int32_t Count() const { return FCount; }
  uint32_t BucketsCount() const { return static_cast<uint32_t>(Buckets.size()); }
  TFreeNotify OnFreeItem;

 protected:
  struct SlotValue {
    THashValue v;
    int width;  // bytes written: a write leaves the other bytes of the slot alone
  };
  static SlotValue Slot(intptr_t v) { SlotValue s{}; s.v.AsNumber = v; s.width = sizeof(intptr_t); return s; }
  static SlotValue Slot(double v) { SlotValue s{}; s.v.AsDouble = v; s.width = 8; return s; }
  static SlotValue Slot(void* v) { SlotValue s{}; s.v.AsPointer = v; s.width = sizeof(void*); return s; }
  bool ModifySlot(const Key& K, SlotValue s);
  bool ReadSlot(const Key& K, void* Out, size_t Width);
  void AddSlot(const Key& K, SlotValue s);
  uint32_t BucketOf(const Key& K) const;
  Item** FindIn(const Key& K, uint32_t bucket);

  int32_t FCount = 0;
  std::vector<Item*> Buckets;
  std::recursive_mutex FLocker;
};
}  // namespace kiv_detail

class TStringHash : public kiv_detail::TKeyedHash<THashItem, String> {
 public:
  using TKeyedHash::TKeyedHash;
  // Appends the keys in table order (buckets ascending, newest first within one).
  void GetKeyList(std::vector<String>* AList);
  // Ready-made OnFreeItem handler: releases Value as a malloc'ed block.
  static void DoFreePointerItem(THashItem* Item);
};

class TIntHash : public kiv_detail::TKeyedHash<TIntHashItem, uintptr_t> {
 public:
  using TKeyedHash::TKeyedHash;
  // Appends the keys as decimal texts; keys equal to 0 are skipped.
  void GetKeyList(std::vector<String>* AList);
  static void DoFreePointerItem(TIntHashItem* Item);
};

// Pointers filed under caller-supplied hashes; no lock, nodes recycled.
struct THashList {
  THashList* Next;
  void* Data;
  uintptr_t Hash;
};
using PHashList = THashList*;

class TKIVHashTable {
 public:
  using TKIVHashDeleteNotify = std::function<void(TKIVHashTable*, uintptr_t, void*)>;
  using TKIVCompare = std::function<int(void*, void*)>;

  explicit TKIVHashTable(int32_t ASize = 0);
  virtual ~TKIVHashTable();
  TKIVHashTable(const TKIVHashTable&) = delete;
  TKIVHashTable& operator=(const TKIVHashTable&) = delete;

  virtual void Clear();
  void DeleteBucket(int32_t Index);
  void ReSize(int32_t ASize);
  void Add(void* AData, uintptr_t AHash);
  PHashList Find(uintptr_t AHash);  // a new list of copies; give it back with FreeHashList
  void* Find(void* AData, uintptr_t AHash);
  void* FindFirstData(uintptr_t AHash);
  PHashList FindFirst(uintptr_t AHash);
  PHashList FindNext(PHashList AList);
  void FreeHashList(PHashList AList);
  bool Exists(void* AData, uintptr_t AHash);
  void Delete(void* AData, uintptr_t AHash);
  void Update(void* AData, uintptr_t AOldHash, uintptr_t ANewHash);
  PHashList GetBuckets(int32_t AIndex) const { return FBuckets[static_cast<size_t>(AIndex)]; }

  int32_t Count() const { return FCount; }
  int32_t BucketCount() const { return static_cast<int32_t>(FBuckets.size()); }
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  virtual int64_t MemSize() const { return static_cast<int64_t>(FBuckets.size()) * 4; }

  TKIVCompare OnCompare;
  TKIVHashDeleteNotify OnDelete;

 protected:
  virtual void FreeBucket(PHashList ABucket);
  virtual void DoDelete(uintptr_t AHash, void* AData);

 private:
  bool Matches(void* NodeData, void* AData);
  PHashList NewNode(void* AData, uintptr_t AHash);

  TMemPool FPool;
  int32_t FCount = 0;
  std::vector<PHashList> FBuckets;
  bool FAutoSize = false;
};
