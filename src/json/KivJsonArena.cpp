#include "json/KivJsonArena.h"

#include <cstdlib>

TJsonArena::~TJsonArena() {
  for (void* c : FChunks) std::free(c);
}

void* TJsonArena::AllocSlow(size_t Size, size_t Align) {
  // Chunks double up to 4 MB so small documents stay small and large ones
  // take few allocations.
  size_t need = Size + Align;
  size_t chunk = FNextChunk;
  if (FNextChunk < (size_t(4) << 20)) FNextChunk *= 2;
  if (chunk < need) chunk = need;
  char* c = static_cast<char*>(std::malloc(chunk));
  if (!c) throw std::bad_alloc();
  FChunks.push_back(c);
  FReserved += chunk;
  FCur = c;
  FEnd = c + chunk;
  return AllocUnlocked(Size, Align);
}

void TJsonArena::GrowNames() {
  std::vector<TNameSlot> old;
  old.swap(FNames);
  size_t n = old.empty() ? 64 : old.size() * 2;
  FNames.assign(n, TNameSlot{nullptr, 0, 0});
  size_t mask = n - 1;
  for (const TNameSlot& s : old) {
    if (!s.P) continue;
    size_t i = s.Hash & mask;
    while (FNames[i].P) i = (i + 1) & mask;
    FNames[i] = s;
  }
}

namespace {
uint32_t QuickHash(const char16_t* P, uint32_t Len) {
  uint64_t h = Len;
  uint32_t i = 0;
  for (; i + 4 <= Len; i += 4) {
    uint64_t w;
    std::memcpy(&w, P + i, 8);
    h = (h ^ w) * 0x9E3779B97F4A7C15ull;
  }
  for (; i < Len; ++i) h = (h ^ P[i]) * 0x9E3779B97F4A7C15ull;
  return uint32_t(h >> 32) ^ uint32_t(h);
}
}  // namespace

const char16_t* TJsonArena::InternUnlocked(const char16_t* P, uint32_t Len) {
  static const char16_t kEmpty[1] = {0};
  if (Len == 0) return kEmpty;
  const uint32_t Hash = QuickHash(P, Len);
  if ((FNameCount + 1) * 2 > FNames.size()) GrowNames();
  size_t mask = FNames.size() - 1;
  size_t i = Hash & mask;
  for (;;) {
    TNameSlot& s = FNames[i];
    if (!s.P) break;
    if (s.Hash == Hash && s.Len == Len && std::memcmp(s.P, P, Len * sizeof(char16_t)) == 0)
      return s.P;
    i = (i + 1) & mask;
  }
  const char16_t* copy = CopyTextUnlocked(P, Len);
  FNames[i] = TNameSlot{copy, Len, Hash};
  ++FNameCount;
  return copy;
}

void TJsonArena::ResetUnlocked() {
  for (void* c : FChunks) std::free(c);
  FChunks.clear();
  FCur = FEnd = nullptr;
  FNextChunk = 1024;
  FReserved = 0;
  FFreeRecords = nullptr;
  FNames.clear();
  FNameCount = 0;
}
