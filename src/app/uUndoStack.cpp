#include "app/uUndoStack.h"

#include <algorithm>
#include <numeric>

#include "json/KivJson.h"

namespace {

// Every element of the collection is a source object (its verbs add nothing
// else), so taking all containers out empties the array.
std::vector<JSONBase*> TakeAll(JSONArray& AData) {
  std::vector<int> all(size_t(AData.Count()));
  std::iota(all.begin(), all.end(), 0);
  return AData.ExtractItems(all);
}

void PutAll(JSONArray& AData, const std::vector<JSONBase*>& ASources) {
  for (JSONBase* source : ASources) AData.Add(source);
}

}  // namespace

// ---------------------------------------------------------------- sources in and out

TSourcesStep::TSourcesStep(bool AInserted, std::vector<int> APositions, std::vector<JSONBase*> ASources)
    : FInserted(AInserted), FOut(!AInserted), FPositions(std::move(APositions)), FSources(std::move(ASources)) {}

TSourcesStep::~TSourcesStep() {
  if (!FOut) return;
  for (size_t i = 0; i < FSources.size(); ++i)
    if (FForeign.empty() || !FForeign[i]) delete FSources[i];
}

void TSourcesStep::Claim(std::unordered_set<JSONBase*>& AReleased) {
  bool all = true;
  for (size_t i = 0; i < FForeign.size(); ++i) {
    if (FForeign[i] && AReleased.erase(FSources[i]) > 0) FForeign[i] = 0;
    all = all && !FForeign[i];
  }
  if (all) FForeign.clear();
}

void TSourcesStep::PutIn(JSONArray& AData) {
  const int count = AData.Count();
  bool atEnd = true;
  for (size_t i = 0; i < FPositions.size() && atEnd; ++i) atEnd = FPositions[i] == count + int(i);
  if (atEnd) {
    PutAll(AData, FSources);
  } else {
    // One pass over the whole array instead of one shift per source.
    const std::vector<JSONBase*> kept = TakeAll(AData);
    std::vector<JSONBase*> merged;
    merged.reserve(kept.size() + FSources.size());
    size_t k = 0, s = 0;
    while (k < kept.size() || s < FSources.size()) {
      if (s < FSources.size() && (size_t(FPositions[s]) == merged.size() || k == kept.size()))
        merged.push_back(FSources[s++]);
      else
        merged.push_back(kept[k++]);
    }
    PutAll(AData, merged);
  }
  FOut = false;
}

void TSourcesStep::TakeOut(JSONArray& AData, std::vector<JSONBase*>& ALeaving) {
  const std::vector<JSONBase*> taken = AData.ExtractItems(FPositions);
  ALeaving.insert(ALeaving.end(), taken.begin(), taken.end());
  FOut = true;
}

void TSourcesStep::Undo(JSONArray& AData, std::vector<JSONBase*>& ALeaving) {
  if (FInserted)
    TakeOut(AData, ALeaving);
  else
    PutIn(AData);
}

void TSourcesStep::Redo(JSONArray& AData, std::vector<JSONBase*>& ALeaving) {
  if (FInserted)
    PutIn(AData);
  else
    TakeOut(AData, ALeaving);
}

// ---------------------------------------------------------------- order

void TOrderStep::Redo(JSONArray& AData, std::vector<JSONBase*>&) {
  const std::vector<JSONBase*> before = TakeAll(AData);
  std::vector<JSONBase*> after(before.size());
  for (size_t i = 0; i < after.size(); ++i) after[i] = before[size_t(FOrder[i])];
  PutAll(AData, after);
}

void TOrderStep::Undo(JSONArray& AData, std::vector<JSONBase*>&) {
  const std::vector<JSONBase*> after = TakeAll(AData);
  std::vector<JSONBase*> before(after.size());
  for (size_t i = 0; i < after.size(); ++i) before[size_t(FOrder[i])] = after[i];
  PutAll(AData, before);
}

// ---------------------------------------------------------------- rewrites

TRewriteStep::TState TRewriteStep::StateOf(const JSONObject* ASource) const {
  TState state;
  state.Present = true;
  if (!FKey.empty()) {
    PJSONValue member = ASource->GetItem(FKey);
    if (!member) {
      state.Present = false;
      return state;
    }
    if (member->Type() == jdtString) {
      state.Text = member->AsString();
      return state;
    }
  }
  // The whole source, also when the member is no text: its type comes back too.
  state.Whole = true;
  state.Text = ASource->ToString();
  return state;
}

void TRewriteStep::Restore(JSONObject* ASource, const TState& AState) const {
  if (AState.Whole)
    ASource->Parse(AState.Text, false);
  else if (!AState.Present)
    ASource->Delete(FKey);
  else
    ASource->SetString(FKey, AState.Text);
}

void TRewriteStep::NoteBefore(JSONObject* ASource) { FItems.push_back({ASource, StateOf(ASource), {}}); }

void TRewriteStep::DropLastIfUnchanged() {
  if (FItems.empty()) return;
  TItem& last = FItems.back();
  if (StateOf(last.Source) == last.Before) FItems.pop_back();
}

void TRewriteStep::Finish() {
  std::vector<TItem> kept;
  kept.reserve(FItems.size());
  for (TItem& item : FItems) {
    item.After = StateOf(item.Source);
    if (!(item.After == item.Before)) kept.push_back(std::move(item));
  }
  FItems.swap(kept);
}

void TRewriteStep::Undo(JSONArray&, std::vector<JSONBase*>&) {
  for (auto it = FItems.rbegin(); it != FItems.rend(); ++it) Restore(it->Source, it->Before);
}

void TRewriteStep::Redo(JSONArray&, std::vector<JSONBase*>&) {
  for (const TItem& item : FItems) Restore(item.Source, item.After);
}

// ---------------------------------------------------------------- entries and the stack

bool TUndoEntry::Empty() const {
  return std::all_of(Steps.begin(), Steps.end(), [](const auto& AStep) { return AStep->Empty(); });
}

bool TUndoEntry::Ready() const {
  return std::all_of(Steps.begin(), Steps.end(), [](const auto& AStep) { return AStep->Ready(); });
}

std::vector<std::unique_ptr<TUndoEntry>> TUndoStack::Push(std::unique_ptr<TUndoEntry> AEntry) {
  std::vector<std::unique_ptr<TUndoEntry>> gone;
  while (FEntries.size() > FApplied) {
    gone.push_back(std::move(FEntries.back()));
    FEntries.pop_back();
  }
  FEntries.push_back(std::move(AEntry));
  FApplied = FEntries.size();
  for (auto& entry : TrimOldest()) gone.push_back(std::move(entry));
  return gone;
}

std::vector<std::unique_ptr<TUndoEntry>> TUndoStack::SetLimit(size_t ALimit) {
  FLimit = ALimit;
  return TrimOldest();
}

std::vector<std::unique_ptr<TUndoEntry>> TUndoStack::Clear() {
  std::vector<std::unique_ptr<TUndoEntry>> gone;
  while (!FEntries.empty()) {
    gone.push_back(std::move(FEntries.back()));
    FEntries.pop_back();
  }
  FApplied = 0;
  return gone;
}

std::vector<std::unique_ptr<TUndoEntry>> TUndoStack::TrimOldest() {
  std::vector<std::unique_ptr<TUndoEntry>> gone;
  while (FEntries.size() > FLimit) {
    if (FApplied > 0) {
      gone.push_back(std::move(FEntries.front()));
      FEntries.pop_front();
      --FApplied;
    } else {
      // Only redo entries left: the farthest one goes, the next stays redoable.
      gone.push_back(std::move(FEntries.back()));
      FEntries.pop_back();
    }
  }
  return gone;
}
