// The collection of loaded book sources: one JSON array of source objects,
// the index of group names, and the verbs that load, filter, change, sort
// and export it. No window: the desktop, the batch program and the tests
// all act on whole collections through these.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/uGroupRename.h"
#include "app/uUndoStack.h"
#include "support/KivTypes.h"

class JSONArray;
class JSONBase;
class JSONObject;
class TStream;
class TGroupIndex;

enum TSourceSortKey : int { sskName, sskGroup };

class TSourceCollection {
 public:
  TSourceCollection();
  ~TSourceCollection();
  TSourceCollection(const TSourceCollection&) = delete;
  TSourceCollection& operator=(const TSourceCollection&) = delete;

  // Worker threads change sources during a run while the main thread reads
  // them for row texts and filtering: both sides take this lock.
  std::mutex& Lock() { return FLock; }
  JSONArray& Data() { return *FData; }  // under Lock()
  int Count();

  // A source is an object with a non-empty bookSourceUrl.
  static bool IsSource(const JSONObject* AItem);
  // A book-source file or stream as an array; a file whose root is one
  // source object is a one-source file; further arrays or objects after the
  // first value (concatenated files, one source a line) are read in order.
  // AValueCount (may be null) receives the number of top-level values.
  // Junk after whole values (an overwritten file's tail, a comment line)
  // leaves them loaded; ATrailing (may be null: then it is an error)
  // receives where it begins. Errors name the file as AName.
  // With AListed given, a text that is a source list ({"sourceUrls": [...]})
  // returns null and leaves its addresses there; without, it holds no source.
  static std::unique_ptr<JSONArray> LoadFile(const String& AFileName, int* AValueCount = nullptr,
                                             String* ATrailing = nullptr, std::vector<String>* AListed = nullptr);
  static std::unique_ptr<JSONArray> LoadStream(TStream& AStream, const String& AName, int* AValueCount = nullptr,
                                               String* ATrailing = nullptr, std::vector<String>* AListed = nullptr);
  // Moves every source of ASource to the end of the collection and counts
  // its groups; other elements stay behind. Returns how many came.
  int Merge(JSONArray& ASource);

  // ---- the group index
  // Counts every source's group names into the index (names stay once seen).
  void CountGroups();
  std::vector<String> GroupNames();

  // ---- the filtered view: group or name holds the text, ASCII case ignored
  static bool MatchesFilter(const JSONObject* ASource, StringView ALowerFilter);
  std::vector<JSONObject*> Filter(const String& AFilterText);
  std::vector<JSONObject*> FilterLocked(const String& AFilterText);  // caller holds Lock()

  // ---- changes
  bool Contains(const JSONObject* ASource);
  // Appends a source the caller made (the collection owns it from now on).
  void Add(JSONObject* ASource);
  // Appends a copy of ASource named AName.
  JSONObject* AddCopy(const JSONObject* ASource, const String& AName);
  // Removes and destroys the sources at AIndexes / those APredicate picks
  // (called under the lock, in collection order). Returns how many went.
  int RemoveAt(const std::vector<int>& AIndexes);
  int RemoveWhere(const std::function<bool(const JSONObject*)>& APredicate);
  void RemoveAll();
  // Takes the sources at AIndexes out without destroying them (caller holds
  // Lock()); Release destroys what was taken out once nothing names it (or
  // hands it to the undo entry that recorded the removal).
  std::vector<JSONBase*> ExtractLocked(const std::vector<int>& AIndexes);
  void Release(std::vector<JSONBase*>& ASources);
  void Sort(TSourceSortKey AKey);
  // Puts the sources in a new order: after[i] = before[AOrder[i]]. AOrder must
  // be a permutation of the positions (else nothing moves and it returns false).
  bool Reorder(const std::vector<int>& AOrder);
  void ReplaceGroups(const TReplaceGroupInput& AInput);
  // Writes the collection as UTF-8 with four blanks of indentation; a name
  // without an extension gets ".json".
  void Export(String AFileName);
  // The name Export writes to.
  static String ExportFileName(String AFileName);

  // ---- undo (main thread). The changes made between BeginChange and the
  // matching EndChange form one entry; nested pairs join the outer one.
  // Nothing is recorded outside such a pair.
  void BeginChange(const String& ACaption);
  void EndChange();
  bool CanUndo();
  bool CanRedo();
  String UndoCaption();
  String RedoCaption();
  // Take back / redo the last entry; sources that leave the collection go
  // through OnSourcesLeaving. False when there is nothing to do, or while a
  // change is being recorded.
  bool Undo();
  bool Redo();
  void SetUndoLimit(size_t ALimit);
  // A new number with every entry filed; undo and redo bring back the old ones.
  uint64_t Revision();
  // Keeps ASource's state before the caller rewrites it (caller holds Lock()):
  // one text member AKey, or with an empty key the whole source.
  void NoteRewriteLocked(JSONObject* ASource, StringView AKey = {});
  // The same for the group text, which a check run marks on worker threads.
  void NoteGroupWriteLocked(JSONObject* ASource);

  // Sources about to be destroyed, on the thread that removes them, outside
  // the lock: views and editors let go of them here.
  std::function<void(const std::vector<JSONBase*>& ASources)> OnSourcesLeaving;

 private:
  void CountGroupsOf(JSONObject* ASource);

  std::mutex FLock;
  std::unique_ptr<JSONArray> FData;
  std::unique_ptr<TGroupIndex> FGroups;

  // Undo, all under FLock.
  bool RecordingLocked() const { return FChangeDepth > 0; }
  void RecordLocked(std::unique_ptr<TUndoStep> AStep);
  void RecordInsertLocked(int AFirst, std::vector<JSONBase*> ASources);
  void DropEntriesLocked(std::vector<std::unique_ptr<TUndoEntry>> AEntries);
  TUndoStack FUndo{0};
  std::unique_ptr<TUndoEntry> FOpen;  // the entry being recorded
  int FChangeDepth = 0;
  uint64_t FRevision = 0, FLastRevision = 0;
  // Removal steps whose sources their remover has not handed over yet.
  std::vector<TSourcesStep*> FForeignSteps;
};
