#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "workers/KivRBTree.h"

namespace {
int CompareInts(void* A, void* B) {
  intptr_t X = reinterpret_cast<intptr_t>(A), Y = reinterpret_cast<intptr_t>(B);
  return X < Y ? -1 : (X > Y ? 1 : 0);
}
void* P(intptr_t V) { return reinterpret_cast<void*>(V); }
intptr_t V(PRBNode N) { return reinterpret_cast<intptr_t>(N->Data); }

// Checks parent links, ordering, red nodes without red children and equal
// black heights; returns the black height (or -1 on a violation).
int CheckNode(PRBNode N, PRBNode Parent, int& Count, std::string& Why) {
  if (!N) return 1;
  ++Count;
  if (N->Parent() != Parent) {
    Why = "parent link";
    return -1;
  }
  if (N->IsRed() && ((N->Left && N->Left->IsRed()) || (N->Right && N->Right->IsRed()))) {
    Why = "red node with a red child";
    return -1;
  }
  if ((N->Left && V(N->Left) >= V(N)) || (N->Right && V(N->Right) <= V(N))) {
    Why = "order";
    return -1;
  }
  int L = CheckNode(N->Left, N, Count, Why);
  int R = CheckNode(N->Right, N, Count, Why);
  if (L < 0 || R < 0) return -1;
  if (L != R) {
    Why = "black heights differ";
    return -1;
  }
  return L + (N->IsBlack() ? 1 : 0);
}

void ExpectValid(const TRBTree& T, const std::set<intptr_t>& Expected) {
  int Count = 0;
  std::string Why;
  ASSERT_TRUE(!T.Root() || T.Root()->IsBlack()) << "root must be black";
  ASSERT_GE(CheckNode(T.Root(), nullptr, Count, Why), 0) << Why;
  ASSERT_EQ(Count, T.Count());
  ASSERT_EQ(static_cast<size_t>(T.Count()), Expected.size());
  std::vector<intptr_t> InOrder;
  for (PRBNode N = T.First(); N; N = N->Next()) InOrder.push_back(V(N));
  ASSERT_EQ(InOrder, std::vector<intptr_t>(Expected.begin(), Expected.end()));
  std::vector<intptr_t> Reverse;
  for (PRBNode N = T.Last(); N; N = N->Prev()) Reverse.push_back(V(N));
  std::reverse(Reverse.begin(), Reverse.end());
  ASSERT_EQ(Reverse, InOrder);
}
}  // namespace

TEST(KivRBTree, RandomInsertsAndDeletesKeepTheInvariants) {
  for (unsigned Seed : {1u, 7u, 42u, 2024u}) {
    SCOPED_TRACE(Seed);
    std::mt19937 Gen(Seed);
    std::uniform_int_distribution<int> Key(1, 400);
    TRBTree T(CompareInts);
    std::set<intptr_t> Ref;
    for (int Step = 0; Step < 3000; ++Step) {
      intptr_t K = Key(Gen);
      if (Gen() % 3 != 0) {
        bool Inserted = T.Insert(P(K));
        EXPECT_EQ(Inserted, Ref.insert(K).second) << "key " << K;
      } else {
        PRBNode N = T.Find(P(K));
        EXPECT_EQ(N != nullptr, Ref.count(K) == 1) << "key " << K;
        if (N) {
          EXPECT_EQ(T.Delete(N), P(K));
          Ref.erase(K);
        }
      }
      if (Step % 100 == 0) ExpectValid(T, Ref);
    }
    ExpectValid(T, Ref);
    while (!T.IsEmpty()) {
      intptr_t K = V(T.First());
      T.Delete(T.First());
      Ref.erase(K);
      ExpectValid(T, Ref);
    }
  }
}

TEST(KivRBTree, AscendingAndDescendingRunsStayBalanced) {
  for (bool Ascending : {true, false}) {
    TRBTree T(CompareInts);
    std::set<intptr_t> Ref;
    for (int I = 1; I <= 1023; ++I) {
      intptr_t K = Ascending ? I : 1024 - I;
      T.Insert(P(K));
      Ref.insert(K);
    }
    ExpectValid(T, Ref);
    int Depth = 0;
    for (PRBNode N = T.First(); N; N = N->Parent()) ++Depth;
    EXPECT_LE(Depth, 20) << "a red-black tree of 1023 nodes is at most 2*log2(n+1) deep";
  }
}

TEST(KivRBTree, HooksSeeDeletesAndRotations) {
  TRBTree T(CompareInts);
  int Rotations = 0;
  std::vector<intptr_t> Deleted;
  T.OnRotate = [&](TRBTree*, PRBNode, PRBNode) { ++Rotations; };
  T.OnDelete = [&](TRBTree*, PRBNode N) { Deleted.push_back(V(N)); };
  for (int I = 1; I <= 3; ++I) T.Insert(P(I));
  EXPECT_EQ(Rotations, 1) << "1,2,3 in order needs one rotation";
  T.Delete(T.Find(P(2)));
  EXPECT_EQ(Deleted, (std::vector<intptr_t>{2}));
  T.Insert(P(10));
  T.Insert(P(5));
  Deleted.clear();
  T.Clear();
  EXPECT_EQ(Deleted, (std::vector<intptr_t>{1, 3, 5, 10})) << "Clear reports every node in ascending order";
  EXPECT_EQ(T.Count(), 0);
  EXPECT_TRUE(T.IsEmpty());
}

TEST(KivRBTree, PostOrderVisitsChildrenFirstAndReplaceKeepsShape) {
  TRBTree T(CompareInts);
  std::set<intptr_t> Ref;
  for (intptr_t K : {50, 20, 80, 10, 30, 70, 90, 25}) {
    T.Insert(P(K));
    Ref.insert(K);
  }
  std::set<PRBNode> Seen;
  int Visited = 0;
  for (PRBNode N = T.FirstPostOrder(); N; N = N->NextPostOrder()) {
    if (N->Left) {
      EXPECT_TRUE(Seen.count(N->Left));
    }
    if (N->Right) {
      EXPECT_TRUE(Seen.count(N->Right));
    }
    Seen.insert(N);
    ++Visited;
  }
  EXPECT_EQ(Visited, T.Count());
  EXPECT_EQ(T.Root()->NextPostOrder(), nullptr) << "the root comes last";

  PRBNode Old = T.Find(P(30));
  auto* New = new TRBNode{0, nullptr, nullptr, P(31)};
  T.Replace(Old, New);
  delete Old;
  Ref.erase(30);
  Ref.insert(31);
  ExpectValid(T, Ref);
  EXPECT_EQ(T.Find(P(31)), New);
}
