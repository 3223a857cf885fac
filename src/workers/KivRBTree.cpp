#include "workers/KivRBTree.h"

#include <utility>

namespace {
constexpr uintptr_t RB_RED = 0;
constexpr uintptr_t RB_BLACK = 1;

inline void SetParentColor(PRBNode N, PRBNode P, uintptr_t C) {
  N->ParentColor = reinterpret_cast<uintptr_t>(P) | C;
}
inline void SetParent(PRBNode N, PRBNode P) {
  N->ParentColor = reinterpret_cast<uintptr_t>(P) | (N->ParentColor & 1);
}
inline void SetBlack(PRBNode N) { N->ParentColor |= RB_BLACK; }
inline bool IsBlackPC(uintptr_t PC) { return (PC & 1) != 0; }
inline PRBNode ParentOf(uintptr_t PC) { return reinterpret_cast<PRBNode>(PC & ~uintptr_t(3)); }
}  // namespace

TRBNode* TRBNode::Next() const {
  const TRBNode* N = this;
  if (N->Right) {
    N = N->Right;
    while (N->Left) N = N->Left;
    return const_cast<TRBNode*>(N);
  }
  PRBNode P;
  while ((P = N->Parent()) != nullptr && N == P->Right) N = P;
  return P;
}

TRBNode* TRBNode::Prev() const {
  const TRBNode* N = this;
  if (N->Left) {
    N = N->Left;
    while (N->Right) N = N->Right;
    return const_cast<TRBNode*>(N);
  }
  PRBNode P;
  while ((P = N->Parent()) != nullptr && N == P->Left) N = P;
  return P;
}

static PRBNode LeftDeepest(PRBNode N) {
  for (;;) {
    if (N->Left)
      N = N->Left;
    else if (N->Right)
      N = N->Right;
    else
      return N;
  }
}

TRBNode* TRBNode::NextPostOrder() const {
  PRBNode P = Parent();
  if (P && this == P->Left && P->Right) return LeftDeepest(P->Right);
  return P;
}

TRBTree::TRBTree(TKIVCompare AOnCompare) : OnCompare(std::move(AOnCompare)) {}

TRBTree::~TRBTree() { Clear(); }

void TRBTree::Clear() {
  if (OnDelete) {
    for (PRBNode N = First(); N; N = N->Next()) OnDelete(this, N);
  }
  PRBNode N = FirstPostOrder();
  while (N) {
    PRBNode Next = N->NextPostOrder();
    delete N;
    N = Next;
  }
  FRoot = nullptr;
  FCount = 0;
}

PRBNode TRBTree::First() const {
  PRBNode N = FRoot;
  if (N)
    while (N->Left) N = N->Left;
  return N;
}

PRBNode TRBTree::Last() const {
  PRBNode N = FRoot;
  if (N)
    while (N->Right) N = N->Right;
  return N;
}

PRBNode TRBTree::FirstPostOrder() const { return FRoot ? LeftDeepest(FRoot) : nullptr; }

PRBNode TRBTree::Find(void* AData) const {
  PRBNode N = FRoot;
  while (N) {
    int C = OnCompare(AData, N->Data);
    if (C < 0)
      N = N->Left;
    else if (C > 0)
      N = N->Right;
    else
      return N;
  }
  return nullptr;
}

bool TRBTree::Insert(void* AData) {
  PRBNode* Link = &FRoot;
  PRBNode Parent = nullptr;
  while (*Link) {
    Parent = *Link;
    int C = OnCompare(AData, Parent->Data);
    if (C < 0)
      Link = &Parent->Left;
    else if (C > 0)
      Link = &Parent->Right;
    else
      return false;
  }
  PRBNode N = new TRBNode{reinterpret_cast<uintptr_t>(Parent) | RB_RED, nullptr, nullptr, AData};
  *Link = N;
  InsertFixup(N);
  ++FCount;
  return true;
}

void TRBTree::ChangeChild(PRBNode AOld, PRBNode ANew, PRBNode AParent) {
  if (AParent) {
    if (AParent->Left == AOld)
      AParent->Left = ANew;
    else
      AParent->Right = ANew;
  } else {
    FRoot = ANew;
  }
}

// ANew takes AOld's parent and colour; AOld becomes ANew's child with AColor.
void TRBTree::RotateSetParents(PRBNode AOld, PRBNode ANew, uintptr_t AColor) {
  PRBNode Parent = AOld->Parent();
  ANew->ParentColor = AOld->ParentColor;
  SetParentColor(AOld, ANew, AColor);
  ChangeChild(AOld, ANew, Parent);
}

void TRBTree::InsertFixup(PRBNode Node) {
  PRBNode Parent = Node->Parent();
  for (;;) {
    if (!Parent) {
      SetParentColor(Node, nullptr, RB_BLACK);
      return;
    }
    if (Parent->IsBlack()) return;
    PRBNode GParent = Parent->Parent();  // a red parent is never the root
    PRBNode Tmp = GParent->Right;
    if (Parent != Tmp) {  // Parent is the left child
      if (Tmp && Tmp->IsRed()) {
        SetParentColor(Tmp, GParent, RB_BLACK);
        SetParentColor(Parent, GParent, RB_BLACK);
        Node = GParent;
        Parent = Node->Parent();
        SetParentColor(Node, Parent, RB_RED);
        continue;
      }
      Tmp = Parent->Right;
      if (Node == Tmp) {  // left rotation at Parent
        Tmp = Node->Left;
        Parent->Right = Tmp;
        Node->Left = Parent;
        if (Tmp) SetParentColor(Tmp, Parent, RB_BLACK);
        SetParentColor(Parent, Node, RB_RED);
        DoRotate(Parent, Node);
        Parent = Node;
        Tmp = Node->Right;
      }
      // right rotation at GParent
      GParent->Left = Tmp;
      Parent->Right = GParent;
      if (Tmp) SetParentColor(Tmp, GParent, RB_BLACK);
      RotateSetParents(GParent, Parent, RB_RED);
      DoRotate(GParent, Parent);
      return;
    } else {
      Tmp = GParent->Left;
      if (Tmp && Tmp->IsRed()) {
        SetParentColor(Tmp, GParent, RB_BLACK);
        SetParentColor(Parent, GParent, RB_BLACK);
        Node = GParent;
        Parent = Node->Parent();
        SetParentColor(Node, Parent, RB_RED);
        continue;
      }
      Tmp = Parent->Left;
      if (Node == Tmp) {  // right rotation at Parent
        Tmp = Node->Right;
        Parent->Left = Tmp;
        Node->Right = Parent;
        if (Tmp) SetParentColor(Tmp, Parent, RB_BLACK);
        SetParentColor(Parent, Node, RB_RED);
        DoRotate(Parent, Node);
        Parent = Node;
        Tmp = Node->Left;
      }
      // left rotation at GParent
      GParent->Right = Tmp;
      Parent->Left = GParent;
      if (Tmp) SetParentColor(Tmp, GParent, RB_BLACK);
      RotateSetParents(GParent, Parent, RB_RED);
      DoRotate(GParent, Parent);
      return;
    }
  }
}

// Unlinks ANode; returns the node below which a black was lost (or null).
PRBNode TRBTree::EraseNode(PRBNode Node) {
  PRBNode Child = Node->Right;
  PRBNode Tmp = Node->Left;
  PRBNode Parent, Rebalance;
  uintptr_t PC;
  if (!Tmp) {
    PC = Node->ParentColor;
    Parent = ParentOf(PC);
    ChangeChild(Node, Child, Parent);
    if (Child) {
      Child->ParentColor = PC;
      Rebalance = nullptr;
    } else {
      Rebalance = IsBlackPC(PC) ? Parent : nullptr;
    }
    Tmp = Parent;
  } else if (!Child) {
    Tmp->ParentColor = PC = Node->ParentColor;
    Parent = ParentOf(PC);
    ChangeChild(Node, Tmp, Parent);
    Rebalance = nullptr;
    Tmp = Parent;
  } else {
    PRBNode Successor = Child, Child2;
    Tmp = Child->Left;
    if (!Tmp) {
      Parent = Successor;
      Child2 = Successor->Right;
      if (OnCopy) OnCopy(this, Node, Successor);
    } else {
      do {
        Parent = Successor;
        Successor = Tmp;
        Tmp = Tmp->Left;
      } while (Tmp);
      Child2 = Successor->Right;
      Parent->Left = Child2;
      Successor->Right = Child;
      SetParent(Child, Successor);
      if (OnCopy) OnCopy(this, Node, Successor);
      if (OnPropagate) OnPropagate(this, Parent, Successor);
    }
    Tmp = Node->Left;
    Successor->Left = Tmp;
    SetParent(Tmp, Successor);
    PC = Node->ParentColor;
    Tmp = ParentOf(PC);
    ChangeChild(Node, Successor, Tmp);
    if (Child2) {
      SetParentColor(Child2, Parent, RB_BLACK);
      Rebalance = nullptr;
    } else {
      Rebalance = Successor->IsBlack() ? Parent : nullptr;
    }
    Successor->ParentColor = PC;
    Tmp = Successor;
  }
  if (OnPropagate) OnPropagate(this, Tmp, nullptr);
  return Rebalance;
}

void TRBTree::EraseFixup(PRBNode Parent) {
  PRBNode Node = nullptr, Sibling, Tmp1, Tmp2;
  for (;;) {
    Sibling = Parent->Right;
    if (Node != Sibling) {  // Node is the left child
      if (Sibling->IsRed()) {
        Tmp1 = Sibling->Left;
        Parent->Right = Tmp1;
        Sibling->Left = Parent;
        SetParentColor(Tmp1, Parent, RB_BLACK);
        RotateSetParents(Parent, Sibling, RB_RED);
        DoRotate(Parent, Sibling);
        Sibling = Tmp1;
      }
      Tmp1 = Sibling->Right;
      if (!Tmp1 || Tmp1->IsBlack()) {
        Tmp2 = Sibling->Left;
        if (!Tmp2 || Tmp2->IsBlack()) {
          SetParentColor(Sibling, Parent, RB_RED);
          if (Parent->IsRed()) {
            SetBlack(Parent);
          } else {
            Node = Parent;
            Parent = Node->Parent();
            if (Parent) continue;
          }
          return;
        }
        Tmp1 = Tmp2->Right;
        Sibling->Left = Tmp1;
        Tmp2->Right = Sibling;
        Parent->Right = Tmp2;
        if (Tmp1) SetParentColor(Tmp1, Sibling, RB_BLACK);
        DoRotate(Sibling, Tmp2);
        Tmp1 = Sibling;
        Sibling = Tmp2;
      }
      Tmp2 = Sibling->Left;
      Parent->Right = Tmp2;
      Sibling->Left = Parent;
      SetParentColor(Tmp1, Sibling, RB_BLACK);
      if (Tmp2) SetParent(Tmp2, Parent);
      RotateSetParents(Parent, Sibling, RB_BLACK);
      DoRotate(Parent, Sibling);
      return;
    } else {
      Sibling = Parent->Left;
      if (Sibling->IsRed()) {
        Tmp1 = Sibling->Right;
        Parent->Left = Tmp1;
        Sibling->Right = Parent;
        SetParentColor(Tmp1, Parent, RB_BLACK);
        RotateSetParents(Parent, Sibling, RB_RED);
        DoRotate(Parent, Sibling);
        Sibling = Tmp1;
      }
      Tmp1 = Sibling->Left;
      if (!Tmp1 || Tmp1->IsBlack()) {
        Tmp2 = Sibling->Right;
        if (!Tmp2 || Tmp2->IsBlack()) {
          SetParentColor(Sibling, Parent, RB_RED);
          if (Parent->IsRed()) {
            SetBlack(Parent);
          } else {
            Node = Parent;
            Parent = Node->Parent();
            if (Parent) continue;
          }
          return;
        }
        Tmp1 = Tmp2->Left;
        Sibling->Right = Tmp1;
        Tmp2->Left = Sibling;
        Parent->Left = Tmp2;
        if (Tmp1) SetParentColor(Tmp1, Sibling, RB_BLACK);
        DoRotate(Sibling, Tmp2);
        Tmp1 = Sibling;
        Sibling = Tmp2;
      }
      Tmp2 = Sibling->Right;
      Parent->Left = Tmp2;
      Sibling->Right = Parent;
      SetParentColor(Tmp1, Sibling, RB_BLACK);
      if (Tmp2) SetParent(Tmp2, Parent);
      RotateSetParents(Parent, Sibling, RB_BLACK);
      DoRotate(Parent, Sibling);
      return;
    }
  }
}

void* TRBTree::Delete(PRBNode AChild) {
  if (!AChild) return nullptr;
  PRBNode Rebalance = EraseNode(AChild);
  if (Rebalance) EraseFixup(Rebalance);
  --FCount;
  if (OnDelete) OnDelete(this, AChild);
  void* Data = AChild->Data;
  delete AChild;
  return Data;
}

void TRBTree::Replace(PRBNode Src, PRBNode ANew) {
  PRBNode Parent = Src->Parent();
  ChangeChild(Src, ANew, Parent);
  if (Src->Left) SetParent(Src->Left, ANew);
  if (Src->Right) SetParent(Src->Right, ANew);
  ANew->ParentColor = Src->ParentColor;
  ANew->Left = Src->Left;
  ANew->Right = Src->Right;
}
