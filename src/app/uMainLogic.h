// The main window's logic without a window. It owns the collection and the
// batch run and keeps what only a window has: the filtered rows, the editor
// bound to one source, the commands that ask the user. Collection and run
// verbs take whole collections and need no window; the desktop's row and
// selection commands are thin calls onto them.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "app/uBatchRun.h"
#include "app/uCheckOutcome.h"
#include "app/uMainWindowOps.h"
#include "app/uRemoteSource.h"
#include "app/uRunHistory.h"
#include "app/uSourceCollection.h"
#include "app/uSourceConvert.h"
#include "support/KivTypes.h"

class JSONArray;
class JSONBase;
class JSONObject;
class TStream;

// What a list refresh covers: the sources changed (group index counted
// again), or only the view (filter, order).
enum TListChange : int { lcSourcesChanged = 0, lcViewChanged = 1 };

// Columns of the table view; the list view shows the row text instead.
enum TViewColumn : int {
  vcName,
  vcGroup,
  vcUrl,
  vcFormat,
  vcEnabled,
  vcVerdict,
  vcReason,
  vcElapsed,
  vcColumnCount
};

class TMainLogic {
 public:
  // Collection operations that can be taken back.
  static constexpr size_t kUndoDepth = 50;

  // Without a front end: nothing is shown, every question gets its default.
  TMainLogic();
  // Switches the JSON settings, creates the collection and the run.
  explicit TMainLogic(IMainWindow& AWindow);
  virtual ~TMainLogic();
  TMainLogic(const TMainLogic&) = delete;
  TMainLogic& operator=(const TMainLogic&) = delete;

  TSourceCollection& Sources() { return FSources; }
  TBatchRun& Run() { return *FRun; }

  // ---- collection verbs (raise the loader's or writer's error)
  // Loads one book-source file and merges its sources.
  void AddSrcFile(const String& AFileName);
  // Merges the sources of a stream; errors name it as AName.
  void AddSrcStream(TStream& AStream, const String& AName);
  // Open: the collection is replaced only once the new file has loaded.
  void OpenSrcFile(const String& AFileName);
  // Removes the sources APredicate picks. Returns how many went.
  int RemoveSources(const std::function<bool(const JSONObject*)>& APredicate);
  // The sources a filter text shows, in collection order (the window's view is untouched).
  std::vector<JSONObject*> FilteredSources(const String& AFilterText) { return FSources.Filter(AFilterText); }
  void SortSources(TSourceSortKey AKey);
  void ReplaceGroups(const TReplaceGroupInput& AInput);
  // Converts the sources APredicate picks to format 3 in place, as one
  // operation; the log names each source converted or left, and why.
  TConvertCounts ConvertSources(const std::function<bool(const JSONObject*)>& APredicate);
  // Writes the collection; from now on it counts as saved in that file.
  void ExportTo(const String& AFileName);

  // ---- undo of collection operations (not while a run is going)
  bool CanUndo();
  bool CanRedo();
  String UndoCaption() { return FSources.UndoCaption(); }
  String RedoCaption() { return FSources.RedoCaption(); }
  bool Undo();
  bool Redo();

  // ---- the collection's file
  // The file last opened or exported (a file added to an empty, unchanged
  // collection counts as opened).
  const String& FileName() const { return FFileName; }
  // Changed since loaded or exported.
  bool IsModified();
  // Before the collection is dropped (open, clear, close): asks
  // "书源列表已修改，是否先导出？" when it is modified. False: keep it.
  bool MayDiscardSources();

  // ---- run verbs
  void StartRun(const TRunOptions& AOptions);
  // Starts the stages AOptions selects and pumps main-thread jobs until the
  // run has ended; ATick runs between pumps. Without a stage nothing starts.
  void ExecuteRun(const TRunOptions& AOptions, const std::function<void()>& ATick = {});
  void StopRun() { FRun->StopOrEnd(); }
  int RunState() const { return FRun->State(); }
  TCheckListeners& CheckListeners() { return FRun->Listeners(); }
  std::vector<TCheckOutcome> CheckOutcomes() { return FRun->Outcomes(); }
  bool HasCheckReport() { return FRun->HasOutcomes(); }
  void SetCheckTimeout(int32_t AMs);
  void SetCheckPolicy(int32_t ARetries, int32_t APauseMs, int32_t APerHost);

  // ---- the window's list
  void NotifyListChange(TListChange AChange);
  // Row texts on demand ("【group】name"); safe while a batch run changes sources.
  String RowText(int ARow);
  int RowCount();
  // The source of a filtered row (null outside the view), for the editor dialog.
  JSONObject* SourceOfRow(int ARow);
  bool HasSource(const JSONObject* AItem) { return FSources.Contains(AItem); }
  std::vector<String> GroupNames() { return FSources.GroupNames(); }
  // A modified editor keeps its text and its source; an unmodified one empties.
  // AExactGroup: the text is a group name picked from the drop-down, and the
  // view shows exactly the sources carrying it (typing filters by substring).
  void FilterChanged(bool AExactGroup = false);
  bool FilterIsExactGroup() const { return FFilterExact; }
  // The groups the collection has now with their source counts, in the
  // drop-down's order (counted at each refresh of the sources).
  const std::vector<std::pair<String, int>>& GroupCounts() const { return FGroupCounts; }
  // The table view's cells and a row's hint (full name and address).
  String CellText(int ARow, TViewColumn AColumn);
  String RowHint(int ARow);
  // Orders the view (both views) by a column; -1: the collection's order.
  // The collection itself keeps its order.
  void SetViewSort(int AColumn, bool ADescending);
  int ViewSortColumn() const { return FSortColumn; }
  bool ViewSortDescending() const { return FSortDescending; }
  // This session's last check of a source (null: not checked).
  const TLastCheck* LastCheckOf(const JSONObject* ASource) const { return FLastChecks.Of(ASource); }

  // ---- the window's commands
  void OpenFileCommand();  // asks for the file, reports errors
  void AddFileCommand();
  // Dropped or pasted files, in order; the first failing file ends the loading.
  void AddFiles(const std::vector<String>& AFileNames);
  bool ExportCommand();  // true when the file was written
  void ExportReportCommand();  // "导出校验报告..."
  void H2Click();              // runs the replace-group dialog, then ReplaceGroups
  void SortByName() { SortSources(sskName); }
  void SortByGroup() { SortSources(sskGroup); }
  void RemoveSelected();
  void ConvertSelected();  // "转换为新格式": the selected rows, else the current one
  void ClearSources();
  void CopyAndAdd();
  // The current row's source into the editor; a cancelled question puts the
  // highlight back on the editor's row.
  void LoadIntoEditor();
  // The editor moves to ASource (asking first when its text is modified).
  // False: the user stayed.
  bool ActivateSource(JSONObject* ASource);
  // Writes the editor text into its source. False: the user chose to go on
  // editing (the text is not written).
  bool SaveEdit();
  bool CheckSaveState();
  // The source editor dialog confirmed AItem (a collection source or a new
  // one); AApply writes its changes into it.
  void EditorDialogResult(JSONObject* AItem, const std::function<void(JSONObject*)>& AApply = {});
  void EditorChanged() { FIsChange = true; }
  bool IsChange() const { return FIsChange; }
  int CurIndex() const { return FCurIndex; }
  // The source the editor text belongs to (null: none).
  JSONObject* EditorSource() const { return FCurItem; }
  void Button1Click();    // start, or stop
  // A front end calls this once a run is idle again: each checked source's
  // outcome is kept for the view and, with the operation log on, the log
  // says what the run did (duplicates removed, the check's counts and time,
  // how far a stopped run came).
  void RunEnded();
  // One log line (and the status bar) after each collection operation:
  // loaded, added, exported, deleted, renamed. Off for front ends whose log
  // is the run's only.
  void SetOperationLog(bool AOn) { FOperationLog = AOn; }
  void TestEditorText();  // "测试书源(&T)" of the editor pane
  // Runs a user command: an error ends in the window's error box. False on error.
  bool RunCommand(const std::function<void()>& ACommand);
  // The same for a command on one file: its errors name the file.
  bool RunFileCommand(const String& AFileName, const std::function<void()>& ACommand);

  // ---- log
  void Log(const String& AMsg) { FRun->Log(AMsg); }
  void LogD(const String& AMsg) { FRun->LogD(AMsg); }
  void DispLog() { FRun->DispLog(); }
  const String& StateMsg() const { return FRun->StateMsg(); }

  // ---- addresses and the run history
  // Addresses named by source lists in files are fetched with these.
  void SetRemoteOptions(const TRemoteOptions& AOptions) { FRemote = AOptions; }
  // "从网址导入": loads an address as a file is added. A source list loads
  // each address it names; those that fail are named in one error, after
  // the others have been merged.
  void AddSrcAddress(const String& AAddress, bool AAcceptAnyCertificate);
  // The same in the background (the desktop's 从网址导入): the fetch runs on
  // the worker pool under the wait dialog, which shows the address; its stop
  // button cancels (nothing is merged). The merge, its undo step and the
  // error box come on the main thread once the sources are there. Returns
  // when the wait dialog has closed (at once without one).
  void ImportAddress(const String& AAddress, bool AAcceptAnyCertificate);
  bool ImportRunning() const { return FImport && FImport->Running(); }
  void CancelImport();
  // "正在下载..." and the address being fetched; empty when no import runs.
  String ImportWaitText() const;
  // The run history of this session (empty: none, the default). Throws when
  // the file is no history; the previous one stays then.
  void SetHistoryFile(const String& AFileName);
  const String& HistoryFile() const { return FHistoryName; }
  // respondTime written into checked format-3 sources after each check.
  void SetWriteRespondTime(bool AOn) { FWriteRespondTime = AOn; }
  bool WriteRespondTime() const { return FWriteRespondTime; }
  // What the last recorded check changed (empty before one).
  const TRunChanges& LastChanges() const { return FChanges; }
  // The filter texts that show the last check's changes for this session.
  static const char16_t* const kNewlyDeadView;  // "新失效"
  static const char16_t* const kRecoveredView;  // "已恢复"

 private:
  // One undoable operation: the collection records between the two ends.
  class TChange {
   public:
    TChange(TMainLogic& ALogic, const String& ACaption);
    ~TChange();
    TChange(const TChange&) = delete;
    TChange& operator=(const TChange&) = delete;

   private:
    TMainLogic& FLogic;
  };

  // False when the file held a source list rather than sources.
  bool MergeFile(const String& AFileName);
  // Merges a loaded file's sources and logs how many came and what was left.
  int MergeLoaded(JSONArray& ALoaded, const String& AName);
  void LogOperation(const String& ALine);
  void CountCurrentGroups(std::vector<String> AOrder);  // under the collection's lock
  void SortViewLocked();      // under the collection's lock
  void LogValues(const String& AName, int AValues, const String& ATrailing);
  bool IsPristine();
  void MarkSaved(const String& AFileName);
  void UpdateFileState();
  // A run is one undoable operation from its start until it is idle again.
  void OpenRunChange();
  void SettleRun();
  void BindEditor(JSONObject* ASource);
  void SyncEditorWithSource();
  String EditorTextOf(JSONObject* ASource);
  void SourcesLeaving(const std::vector<JSONBase*>& ASources);
  void ForgetEditorSource(JSONObject* AItem);
  void RebuildFilter();  // under the collection's lock
  void RestoreEditorBinding();
  bool EditorBound();

  IMainWindow& FWindow;
  TSourceCollection FSources;
  std::unique_ptr<TBatchRun> FRun;
  bool FRunChangeOpen = false;
  std::vector<JSONObject*> FFilterList;  // under the collection's lock
  String FFilterText;
  bool FFilterExact = false;
  std::vector<std::pair<String, int>> FGroupCounts;
  int FSortColumn = -1;
  bool FSortDescending = false;
  TLastChecks FLastChecks;
  bool FOperationLog = false;
  // The run as it started, for what RunEnded says.
  struct TRunTally {
    int64_t StartMs = 0;
    int StartCount = 0;
    bool RemoveRepeat = false, CheckSources = false, Stopped = false, Open = false;
    std::atomic<int> Settled{0};
    std::atomic<int> Verdicts[4] = {};
  };
  TRunTally FTally;
  int FTallyListener = -1;
  int FCurIndex = -1;
  JSONObject* FCurItem = nullptr;  // the source the editor text belongs to
  String FEditorBase;              // FCurItem's text as the editor last took it
  bool FIsChange = false;
  bool FChanging = false;
  String FFileName;
  uint64_t FSavedRevision = 0;
  String FShownFile;
  int FShownModified = -1;

  // ---- addresses and the run history (uRunSession.cpp)
  bool MergeFrom(const String& AName, const TRemoteOptions& AOptions);
  bool MergeParts(const String& AName, std::vector<TLoadedPart>& AParts);
  void ImportLoaded(const String& AAddress, std::vector<TLoadedPart>& AParts, const String& AError);
  // Loading, opening and starting a run wait until an import has merged.
  void RefuseWhileImporting() const;
  // A check stage ended (main thread); AComplete: not stopped.
  void CheckEnded(bool AComplete);
  // The filter text names a change view: its sources (under the lock).
  bool ChangeViewLocked();
  std::vector<String> WithChangeViews(std::vector<String> AGroups) const;
  std::vector<String> PreviousOfOutcomes(const std::vector<TCheckOutcome>& AOutcomes) const;
  TRemoteOptions FRemote;
  std::unique_ptr<TRemoteLoadJob> FImport;
  String FImportAddress;  // the address being fetched
  std::vector<String> FInputs;  // files and addresses loaded, for the history
  String FHistoryName;
  std::unique_ptr<TRunHistory> FHistory;
  bool FWriteRespondTime = false;
  bool FHasChanges = false;
  TPreviousChecks FPrevious;
  TRunChanges FChanges;
  std::vector<String> FNewlyDeadUrls, FRecoveredUrls;
};
