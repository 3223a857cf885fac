// Red-black tree of data pointers ordered by a caller's comparison; the timed
// job queue keeps one node per due time in it.
#pragma once

#include <cstdint>
#include <functional>

struct TRBNode {
  uintptr_t ParentColor;  // parent address | colour bit (1 = black, 0 = red)
  TRBNode* Left;
  TRBNode* Right;
  void* Data;

  TRBNode* Parent() const { return reinterpret_cast<TRBNode*>(ParentColor & ~uintptr_t(3)); }
  bool IsBlack() const { return (ParentColor & 1) != 0; }
  bool IsRed() const { return (ParentColor & 1) == 0; }
  // In-order neighbours; null past either end.
  TRBNode* Next() const;
  TRBNode* Prev() const;
  // Post-order successor (children before parents).
  TRBNode* NextPostOrder() const;
};
using PRBNode = TRBNode*;

class TRBTree;
using TKIVCompare = std::function<int(void*, void*)>;
using TRBDeleteNotify = std::function<void(TRBTree*, PRBNode)>;
using TRBRotateNotify = std::function<void(TRBTree*, PRBNode, PRBNode)>;
using TRBPropagateNotify = std::function<void(TRBTree*, PRBNode, PRBNode)>;

class TRBTree {
 public:
  explicit TRBTree(TKIVCompare AOnCompare);
  ~TRBTree();
  TRBTree(const TRBTree&) = delete;
  TRBTree& operator=(const TRBTree&) = delete;

  void Clear();
  // False (and nothing inserted) when an equal datum is already there.
  bool Insert(void* AData);
  PRBNode Find(void* AData) const;
  // Unlinks and frees the node; returns its datum.
  void* Delete(PRBNode AChild);
  PRBNode First() const;
  PRBNode Last() const;
  PRBNode FirstPostOrder() const;
  static PRBNode NextNode(PRBNode ANode) { return ANode ? ANode->Next() : nullptr; }
  // ANew takes Src's place (parent, colour, children); Src is left unlinked.
  void Replace(PRBNode Src, PRBNode ANew);

  int Count() const { return FCount; }
  bool IsEmpty() const { return FRoot == nullptr; }
  PRBNode Root() const { return FRoot; }

  TKIVCompare OnCompare;
  TRBDeleteNotify OnDelete;
  TRBRotateNotify OnRotate;
  TRBRotateNotify OnCopy;
  TRBPropagateNotify OnPropagate;

 private:
  void ChangeChild(PRBNode AOld, PRBNode ANew, PRBNode AParent);
  void RotateSetParents(PRBNode AOld, PRBNode ANew, uintptr_t AColor);
  void InsertFixup(PRBNode ANode);
  PRBNode EraseNode(PRBNode ANode);
  void EraseFixup(PRBNode AParent);
  void DoRotate(PRBNode AOld, PRBNode ANew) { if (OnRotate) OnRotate(this, AOld, ANew); }

  PRBNode FRoot = nullptr;
  int FCount = 0;
};
