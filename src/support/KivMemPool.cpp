#include "support/KivMemPool.h"

#include <cstdlib>
#include <new>

TMemPool::TMemPool(uint32_t BlockSize, int32_t MaxSize)
    : FMaxSize(MaxSize > 3 ? MaxSize : 4),
      FBlockSize(BlockSize <= 64 || BlockSize % 64 == 0 ? BlockSize : (BlockSize / 64 + 1) * 64) {
  FPool.assign(static_cast<size_t>(FMaxSize), nullptr);
}

TMemPool::~TMemPool() { Clear(); }

void TMemPool::FreeBlock(void* V) {
  if (OnFree)
    OnFree(this, V);
  else
    std::free(V);
}

void TMemPool::Clear() {
  while (FCount > 0) {
    void* v = FPool[static_cast<size_t>(--FCount)];
    FPool[static_cast<size_t>(FCount)] = nullptr;
    if (v) FreeBlock(v);
  }
}

void* TMemPool::Pop() {
  void* r = nullptr;
  if (FCount > 0) {
    r = FPool[static_cast<size_t>(--FCount)];
    FPool[static_cast<size_t>(FCount)] = nullptr;
  }
  if (!r) {
    if (OnNew)
      OnNew(this, r);
    else
      r = std::malloc(FBlockSize ? FBlockSize : 1);
    if (!r) throw std::bad_alloc();
  }
  if (OnReset) OnReset(this, r);
  return r;
}

void TMemPool::Push(void* V) {
  if (!V) return;
  if (FCount < FMaxSize)
    FPool[static_cast<size_t>(FCount++)] = V;
  else
    FreeBlock(V);
}
