// What a front end shows of the collection: the filtered list with its group
// filter, the current row and selection, and the JSON editor pane. Empty
// defaults: a front end without a list overrides nothing.
#pragma once

#include <vector>

#include "support/KivTypes.h"

class JSONObject;

class ISourceListView {
 public:
  virtual ~ISourceListView() = default;
  virtual String GetGroupFilterText() { return String(); }
  // Replaces the filter box's drop-down list; the typed text stays.
  virtual void SetGroupFilterItems(const std::vector<String>& /*AItems*/) {}
  virtual void SetRowCount(int /*ACount*/) {}
  virtual int GetCurrentRow() { return -1; }  // -1 when none
  virtual bool IsRowSelected(int /*ARow*/) { return false; }
  // Clears the selection, then makes ARow current and selected; with -1 no
  // row is current.
  virtual void SelectSingleRow(int /*ARow*/) {}
  // The empty-list placeholder and the list's hint, both on while the list is empty.
  virtual void SetPlaceholderVisible(bool /*AVisible*/) {}
  virtual String GetEditorText() { return String(); }
  virtual void SetEditorText(const String& /*AText*/) {}
  // A source is about to leave the collection (removed, cleared, deduplicated,
  // collection reopened): whatever still refers to it must let go.
  virtual void SourceLeaving(JSONObject* /*AItem*/) {}
  // The file the collection was last loaded from or exported to (empty for
  // none), and whether it changed since.
  virtual void ShowFileState(const String& /*AFileName*/, bool /*AModified*/) {}
};
