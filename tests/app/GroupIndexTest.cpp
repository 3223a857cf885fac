#include <gtest/gtest.h>

#include <random>

#include "app/uGroupIndex.h"
#include "support/KivHash.h"

namespace {

// The names come in the order a 997-bucket string table lists its keys,
// whatever their number: that table is the reference.
TEST(GroupIndex, ListsNamesInTheOrderOfTheFixedTable) {
  std::mt19937 random(7);
  for (const int distinct : {0, 1, 40, 3000}) {
    TGroupIndex index;
    TStringHash reference(997);
    std::vector<String> pool;
    for (int i = 0; i < distinct; ++i) pool.push_back(u"组" + FromUtf8(std::to_string(random() % 100000)));
    pool.push_back(String());  // the empty name is counted, never listed
    for (int round = 0; round < distinct * 3 + 5; ++round) {
      const String& name = pool[random() % pool.size()];
      index.Count(name);
      intptr_t count = 0;
      reference.TryGetValue(name, count);
      reference.AddOrUpdate(name, count + 1);
    }
    std::vector<String> expected;
    reference.GetKeyList(&expected);
    EXPECT_EQ(index.Names(), expected) << distinct;
    for (const String& name : pool) {
      intptr_t count = 0;
      reference.TryGetValue(name, count);
      EXPECT_EQ(index.CountOf(name), count);
    }
  }
}

}  // namespace
