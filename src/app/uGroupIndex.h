// The group index: every group name met so far with the number of times it
// was counted. Lookups are hashed and the table grows with the names; the
// names are offered in the order of a 997-bucket string hash table (bucket
// by bucket in ascending HashOf(name) mod 997, the newest name of a bucket
// first), the order users of the list know.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "support/KivTypes.h"

class TGroupIndex {
 public:
  static constexpr uint32_t kListBuckets = 997;

  // Raises the name's count by one; a new name starts at 1.
  void Count(const String& AName);
  intptr_t CountOf(const String& AName) const;
  // The non-empty names in the list order.
  std::vector<String> Names() const;

 private:
  struct TEntry {
    intptr_t Count = 0;
    uint64_t Added = 0;  // when the name came first
  };
  std::unordered_map<String, TEntry> FEntries;
  uint64_t FAdded = 0;
};
