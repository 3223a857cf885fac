// Per-document memory: records, parsed texts and interned member names come
// from bump-allocated chunks, so records never move and a 100 000-source
// file costs a few large allocations instead of millions of small ones.
// Private to the JSON layer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "json/KivJson.h"

class TJsonArena {
 public:
  TJsonArena() = default;
  ~TJsonArena();
  TJsonArena(const TJsonArena&) = delete;
  TJsonArena& operator=(const TJsonArena&) = delete;

  // Every container that holds records of the arena keeps a reference.
  void AddRef() { FRefCount.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  int RefCount() const { return FRefCount.load(std::memory_order_acquire); }

  // Sources of one document are changed by several check jobs at once, so
  // the shared allocator is locked; the parser holds the lock for a whole parse.
  std::mutex& Lock() { return FLock; }

  // The *Unlocked calls expect Lock() held.
  PJSONValue NewRecordUnlocked() {
    JSONValue* r = FFreeRecords;
    if (r) {
      FFreeRecords = reinterpret_cast<JSONValue*>(r->FObject);
      return new (r) JSONValue();
    }
    return new (AllocUnlocked(sizeof(JSONValue), alignof(JSONValue))) JSONValue();
  }
  void FreeRecordUnlocked(PJSONValue R) {
    R->~JSONValue();
    R->FObject = reinterpret_cast<JSONBase*>(FFreeRecords);
    FFreeRecords = R;
  }
  void* AllocUnlocked(size_t Size, size_t Align) {
    uintptr_t c = (reinterpret_cast<uintptr_t>(FCur) + (Align - 1)) & ~uintptr_t(Align - 1);
    if (c + Size > reinterpret_cast<uintptr_t>(FEnd)) return AllocSlow(Size, Align);
    FCur = reinterpret_cast<char*>(c + Size);
    return reinterpret_cast<void*>(c);
  }
  const char16_t* CopyTextUnlocked(const char16_t* P, size_t Len) {
    auto* d = static_cast<char16_t*>(AllocUnlocked(Len * sizeof(char16_t), alignof(char16_t)));
    std::memcpy(d, P, Len * sizeof(char16_t));
    return d;
  }
  // The arena's one copy of a member name. The table uses its own quick
  // hash; the records' NameHash is computed only when a case-sensitive
  // lookup needs it.
  const char16_t* InternUnlocked(const char16_t* P, uint32_t Len);
  // Drops everything; only when no record of the arena is alive.
  void ResetUnlocked();
  // Bytes taken from the system (for the benchmark's memory figure).
  size_t ReservedBytes() const { return FReserved; }

 private:
  void* AllocSlow(size_t Size, size_t Align);
  void GrowNames();

  struct TNameSlot {
    const char16_t* P;
    uint32_t Len;
    uint32_t Hash;
  };

  std::atomic<int> FRefCount{1};
  std::mutex FLock;
  char* FCur = nullptr;
  char* FEnd = nullptr;
  std::vector<void*> FChunks;
  size_t FNextChunk = 1024;
  size_t FReserved = 0;
  JSONValue* FFreeRecords = nullptr;
  std::vector<TNameSlot> FNames;
  uint32_t FNameCount = 0;
};
