// A stack of spare fixed-size memory blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class TMemPool {
 public:
  using TMemPoolNotify = std::function<void(TMemPool*, void*)>;
  using TMemPoolNew = std::function<void(TMemPool*, void*&)>;

  TMemPool(uint32_t BlockSize, int32_t MaxSize);
  ~TMemPool();
  TMemPool(const TMemPool&) = delete;
  TMemPool& operator=(const TMemPool&) = delete;

  void Clear();
  void* Pop();
  void Push(void* V);

  uint32_t BlockSize() const { return FBlockSize; }
  int32_t MaxSize() const { return FMaxSize; }
  int32_t Count() const { return FCount; }
  TMemPoolNotify OnFree;
  TMemPoolNew OnNew;
  TMemPoolNotify OnReset;

 private:
  void FreeBlock(void* V);

  std::vector<void*> FPool;
  int32_t FCount = 0;
  int32_t FMaxSize;
  uint32_t FBlockSize;
};
