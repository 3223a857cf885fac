// The collection's undo history. An entry keeps only what one operation
// changed: the sources it took out (kept alive, not copied) with their
// positions, the sources it put in, the previous and new texts of the
// sources it rewrote, the order a sort left. A collection of 100 000
// sources is never copied to be able to go back.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_set>
#include <vector>

#include "support/KivTypes.h"

class JSONArray;
class JSONBase;
class JSONObject;

// One part of an entry. Undo and Redo run on the collection's array under its
// lock; sources that leave the array are added to ALeaving and stay alive in
// the step.
class TUndoStep {
 public:
  virtual ~TUndoStep() = default;
  virtual void Undo(JSONArray& AData, std::vector<JSONBase*>& ALeaving) = 0;
  virtual void Redo(JSONArray& AData, std::vector<JSONBase*>& ALeaving) = 0;
  virtual bool Empty() const = 0;
  // False while the step cannot be taken back yet.
  virtual bool Ready() const { return true; }
  // The entry is being filed: the step reads what the change left.
  virtual void Finish() {}
};

// Sources put in (AInserted) or taken out, with their positions in ascending
// order: after the insertion, before the removal. While the sources are out of
// the array the step owns them.
class TSourcesStep : public TUndoStep {
 public:
  TSourcesStep(bool AInserted, std::vector<int> APositions, std::vector<JSONBase*> ASources);
  ~TSourcesStep() override;
  void Undo(JSONArray& AData, std::vector<JSONBase*>& ALeaving) override;
  void Redo(JSONArray& AData, std::vector<JSONBase*>& ALeaving) override;
  bool Empty() const override { return FSources.empty(); }
  const std::vector<JSONBase*>& Sources() const { return FSources; }
  bool Inserted() const { return FInserted; }

  // Removed sources that their remover still frees until it hands them over
  // (a run's duplicate removal): until then the step neither frees nor
  // restores them.
  void MarkForeign() { FForeign.assign(FSources.size(), 1); }
  // Takes over the foreign sources in AReleased and erases them from it.
  void Claim(std::unordered_set<JSONBase*>& AReleased);
  bool Ready() const override { return FForeign.empty(); }

 private:
  void PutIn(JSONArray& AData);
  void TakeOut(JSONArray& AData, std::vector<JSONBase*>& ALeaving);

  bool FInserted;
  bool FOut;  // the sources are out of the array now
  std::vector<int> FPositions;
  std::vector<JSONBase*> FSources;
  std::vector<uint8_t> FForeign;  // empty: all are the step's
};

// A new order of the whole array: after[i] = before[Order[i]].
class TOrderStep : public TUndoStep {
 public:
  explicit TOrderStep(std::vector<int> AOrder) : FOrder(std::move(AOrder)) {}
  void Undo(JSONArray& AData, std::vector<JSONBase*>& ALeaving) override;
  void Redo(JSONArray& AData, std::vector<JSONBase*>& ALeaving) override;
  bool Empty() const override { return FOrder.empty(); }

 private:
  std::vector<int> FOrder;
};

// Sources rewritten in place (same object, so editors and dialogs keep it):
// either one text member (AKey), which may have been or become absent, or,
// with an empty key, the whole source as JSON text.
class TRewriteStep : public TUndoStep {
 public:
  explicit TRewriteStep(String AKey) : FKey(std::move(AKey)) {}
  void Undo(JSONArray& AData, std::vector<JSONBase*>& ALeaving) override;
  void Redo(JSONArray& AData, std::vector<JSONBase*>& ALeaving) override;
  bool Empty() const override { return FItems.empty(); }
  const String& Key() const { return FKey; }

  // Keeps ASource's state before a write.
  void NoteBefore(JSONObject* ASource);
  // Drops the last source noted if the write left it as it was.
  void DropLastIfUnchanged();
  // Reads the states after the writes; sources that came out unchanged drop out.
  void Finish() override;

 private:
  struct TState {
    bool Present = false;
    bool Whole = false;  // Text is the whole source (the member is no text)
    String Text;
    bool operator==(const TState&) const = default;
  };
  struct TItem {
    JSONObject* Source;
    TState Before, After;
  };
  TState StateOf(const JSONObject* ASource) const;
  void Restore(JSONObject* ASource, const TState& AState) const;

  String FKey;
  std::vector<TItem> FItems;
};

struct TUndoEntry {
  String Caption;
  std::vector<std::unique_ptr<TUndoStep>> Steps;
  uint64_t RevisionBefore = 0, RevisionAfter = 0;
  bool Empty() const;
  // Sources of removal steps not handed over yet: the entry cannot be taken back.
  bool Ready() const;
};

// Entries in the order they were made; those after the cursor wait for redo.
class TUndoStack {
 public:
  explicit TUndoStack(size_t ALimit) : FLimit(ALimit) {}
  size_t Limit() const { return FLimit; }
  // Files a new entry: the redo side goes, and the oldest entries beyond the
  // limit. Returns what went, for the caller to destroy under its lock.
  std::vector<std::unique_ptr<TUndoEntry>> Push(std::unique_ptr<TUndoEntry> AEntry);
  std::vector<std::unique_ptr<TUndoEntry>> SetLimit(size_t ALimit);
  std::vector<std::unique_ptr<TUndoEntry>> Clear();
  TUndoEntry* NextUndo() { return FApplied > 0 ? FEntries[FApplied - 1].get() : nullptr; }
  TUndoEntry* NextRedo() { return FApplied < FEntries.size() ? FEntries[FApplied].get() : nullptr; }
  void Undone() { --FApplied; }
  void Redone() { ++FApplied; }
  size_t Count() const { return FEntries.size(); }

 private:
  std::vector<std::unique_ptr<TUndoEntry>> TrimOldest();

  size_t FLimit;
  size_t FApplied = 0;  // entries [0, FApplied) are in effect
  std::deque<std::unique_ptr<TUndoEntry>> FEntries;
};
