#include "app/uGroupIndex.h"

#include <algorithm>

#include "support/KivHash.h"

void TGroupIndex::Count(const String& AName) {
  auto [it, fresh] = FEntries.try_emplace(AName);
  if (fresh) it->second.Added = ++FAdded;
  ++it->second.Count;
}

intptr_t TGroupIndex::CountOf(const String& AName) const {
  auto it = FEntries.find(AName);
  return it == FEntries.end() ? 0 : it->second.Count;
}

std::vector<String> TGroupIndex::Names() const {
  struct TKey {
    uint32_t Bucket;
    uint64_t Added;
    const String* Name;
  };
  std::vector<TKey> keys;
  keys.reserve(FEntries.size());
  for (const auto& [name, entry] : FEntries)
    if (!name.empty()) keys.push_back({HashOf(name) % kListBuckets, entry.Added, &name});
  std::sort(keys.begin(), keys.end(), [](const TKey& A, const TKey& B) {
    return A.Bucket != B.Bucket ? A.Bucket < B.Bucket : A.Added > B.Added;
  });
  std::vector<String> names;
  names.reserve(keys.size());
  for (const TKey& k : keys) names.push_back(*k.Name);
  return names;
}
