// The main window's logic without a window: the collection of book sources,
// duplicate removal, group rename, the single-source check and the batch run.
// The desktop window, the batch program and the tests drive it through
// IMainWindow.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "app/uMainWindowOps.h"
#include "support/KivHash.h"
#include "support/KivTypes.h"

class JSONArray;
class JSONBase;
class JSONObject;
class THttpClient;
class THttpHeaders;
struct TJob;
using PJob = TJob*;

struct TProgressInfo {
  int32_t Min = 0;
  int32_t Max = 0;
  int32_t Position = 0;
};

// Run states, kept in the start button's Tag.
enum : int { rsIdle = 0, rsRunning = 1, rsStopping = 2 };

class TMainLogic {
 public:
  // Switches the JSON settings, creates the collection, registers the signal
  // "WaitCheckBookSource" and posts the job that waits for it.
  explicit TMainLogic(IMainWindow& AWindow);
  virtual ~TMainLogic();
  TMainLogic(const TMainLogic&) = delete;
  TMainLogic& operator=(const TMainLogic&) = delete;

  // ---- the collection
  // Loads one book-source file and merges its sources; raises the loader's error.
  void AddSrcFile(const String& AFileName);
  // Open: the collection is replaced only once the new file has loaded.
  void OpenSrcFile(const String& AFileName);
  void OpenFileCommand();  // asks for the file, reports errors
  void AddFileCommand();
  // Dropped or pasted files, in order; the first failing file ends the loading.
  void AddFiles(const std::vector<String>& AFileNames);
  void NotifyListChange(int AFlag);
  // Row texts on demand ("【group】name"); safe while a batch run changes sources.
  String RowText(int ARow);
  int RowCount();
  void FilterChanged();
  void SortByName();
  void SortByGroup();
  void RemoveSelected();
  void ClearSources();
  void CopyAndAdd();
  void LoadIntoEditor();
  void SaveEdit();
  bool CheckSaveState();
  static bool CheckItem(const JSONObject* AItem);
  // The source editor dialog confirmed AItem (a collection source or a new one).
  void EditorDialogResult(JSONObject* AItem);
  void ExportCommand();
  void ExportTo(String AFileName);
  void EditorChanged() { FIsChange = true; }
  // The source of a filtered row (null outside the view), for the editor dialog.
  JSONObject* SourceOfRow(int ARow);
  // Whether AItem is still a source of the collection.
  bool HasSource(const JSONObject* AItem);
  std::vector<String> GroupNames();
  // Whole collection, for the batch program.
  JSONArray& BookSrcData() { return *FBookSrcData; }
  std::mutex& DataLock() { return FDataLock; }

  // ---- group rename
  void H2Click();  // runs the dialog, then ReplaceGroups
  void ReplaceGroups(const TReplaceGroupInput& AInput);

  // ---- the single-source check
  bool CheckBookSourceItem(JSONObject* AItem, bool ARaiseErr, std::vector<String>* AOutLog);
  bool CheckBookSourceItem(JSONObject* AItem, THttpClient& AHttp, THttpHeaders& AHeader, bool ARaiseErr,
                           std::vector<String>* AOutLog);
  void TestEditorText();  // "测试书源(&T)" of the editor pane

  // ---- the batch run
  void Button1Click();
  int RunState() const { return FRunState.load(); }
  void Log(const String& AMsg);
  void LogD(const String& AMsg);
  void DispLog();
  const String& StateMsg() const { return FStateMsg; }
  bool IsChange() const { return FIsChange; }
  int CurIndex() const { return FCurIndex; }

 protected:
  // Jobs of the run.
  void RemoveRepeat(PJob AJob);
  void WaitCheckBookSource(PJob AJob);
  void DoCheckBookSourceItem(PJob AJob);
  void TaskFinish(PJob AJob);
  void DoUpdateProcess(PJob AJob);
  void DoNotifyDataChange(PJob AJob);

  IMainWindow& FWindow;

 public:
  // What the check of one source found, for reports.
  struct TCheckOutcome {
    int32_t Status = 0;      // 0 when no answer came
    String FailText;         // empty when alive
    bool Requested = false;  // a request went out (the address was an http(s) one)
    int32_t Attempts = 0;    // probes of the site address
    int64_t ElapsedMs = 0;   // the whole check of this source, retries included
    bool Skipped = false;    // a stop came while it waited for its host: not checked, not marked
  };
  // Called on the check job's thread after each source of the check stage.
  std::function<void(int32_t AIndex, bool AVerdict, const TCheckOutcome& AOutcome)> OnSourceChecked;
  // Connect and receive time-out of the batch check, in ms.
  void SetCheckTimeout(int32_t AMs) { FCheckTimeout = AMs; }
  // A probe that got no HTTP answer at all is tried again up to ARetries times
  // after APauseMs. At most APerHost probes run against one host at a time
  // (0: no limit). The desktop keeps the defaults: no retry, no limit.
  void SetCheckPolicy(int32_t ARetries, int32_t APauseMs, int32_t APerHost) {
    FCheckRetries = ARetries;
    FRetryPauseMs = APauseMs;
    FPerHostLimit = APerHost;
  }
  // Runs a user command: an error ends in the window's error box. False on error.
  bool RunCommand(const std::function<void()>& ACommand);

 private:
  // What the check reads of a source, copied under the data lock.
  struct TCheckTarget {
    String BookSourceUrl, HttpUserAgent, RuleSearchUrl, RuleFindUrl;
    static TCheckTarget Of(const JSONObject* AItem);
  };
  std::unique_ptr<JSONArray> LoadSourceFile(const String& AFileName);
  void MergeSources(JSONArray& ASource);
  void UpdateBookGroup(JSONObject* AItem);
  void RebuildFilter();
  void RestoreEditorBinding();
  bool EditorBound();
  void SortBy(bool AByGroup);
  void RemoveSourcesAt(const std::vector<int>& AIndexes);
  void RemoveAllSources();
  void ForgetEditorSource(JSONObject* AItem);
  void DestroySources(std::vector<JSONBase*>& ASources);
  void DropPendingSources();
  bool CheckUrl(const String& AUrl, const String& AName, bool ARaiseErr, bool AAllow404, THttpClient& AHttp,
                THttpHeaders& AHeader, std::vector<String>* AOutLog, TCheckOutcome* AOutcome);
  void CheckFindUrl(const String& AText, const String& AName, bool ARaiseErr, THttpClient& AHttp,
                    THttpHeaders& AHeader, std::vector<String>* AOutLog);
  bool CheckTarget(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader, bool ARaiseErr,
                   std::vector<String>* AOutLog, TCheckOutcome* AOutcome);
  void StartRun();
  void StopOrEndRun();
  void EndRun();
  void StartCheckStage(intptr_t ARun);
  void CheckJobDone(intptr_t ARun);
  bool CheckWithPolicy(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader,
                       TCheckOutcome& AOutcome);
  bool EnterHost(const String& AHost);
  void LeaveHost(const String& AHost);
  void PostTaskFinish(intptr_t ARun);
  void PostProgress(int32_t AMax, int32_t APosition);
  void SetRunState(int AState);
  void SetProgressVisible(bool AVisible);

  // Collection state.
  std::unique_ptr<JSONArray> FBookSrcData;
  std::unique_ptr<TStringHash> FBookGroups;
  std::vector<JSONObject*> FFilterList;
  String FFilterText;
  int FCurIndex = -1;
  JSONObject* FCurItem = nullptr;  // the source the editor text belongs to
  bool FIsChange = false;
  bool FChanging = false;
  // Worker threads change sources during a run while the main thread reads
  // them for row texts and filtering: both sides take this lock.
  std::mutex FDataLock;
  // Sources taken out by duplicate removal, destroyed on the main thread once
  // the view no longer names them.
  std::vector<JSONBase*> FPendingFree;

  // Batch-run state.
  std::atomic<int> FRunState{rsIdle};
  std::atomic<bool> FDestroying{false};
  std::atomic<int32_t> FTaskRef{0};
  std::atomic<int32_t> FWaitStop{0};
  std::atomic<int64_t> FTaskStartTime{0};
  int64_t FCheckLastTime = 0;  // under FLocker
  std::atomic<int32_t> FCurCheckIndex{0};
  std::atomic<int32_t> FCheckCount{0};
  int FWaitCheckBookSourceSingId = 0;
  std::mutex FLocker;
  String FStateMsg;
  int32_t FCheckTimeout = 30000;
  int32_t FCheckRetries = 0, FRetryPauseMs = 500, FPerHostLimit = 0;
  std::mutex FHostLock;
  std::condition_variable FHostFree;
  std::unordered_map<String, int> FHostProbes;
  // Each run has its own number: notices of an earlier run are ignored.
  std::atomic<intptr_t> FRunId{0};
  std::atomic<intptr_t> FCheckRun{0};
  std::atomic<bool> FCheckPending{false};
  bool FCheckStarted = false;
  // Check jobs still working (the waiting job holds one while it posts).
  std::atomic<int32_t> FLiveCheckJobs{0};
  int32_t FProgressMin = 0, FProgressMax = 100, FProgressPos = 0;
  bool FProgressVisible = false;
};
