// What the main window's logic needs of a window: the desktop program binds
// these to its controls, the batch program to the console, tests to a fake.
#pragma once

#include <vector>

#include "support/KivTypes.h"

class JSONObject;

enum class TSaveAnswer { Yes, No, Cancel };

// The run options as the window shows them (worker count as typed).
struct TRunOptions {
  String WorkerCount = u"60";
  bool RemoveRepeat = true;  // "去除重复"
  bool RealDedupe = true;    // "真实去重"
  bool CheckSources = false; // "校验书源"
};

struct TReplaceGroupInput {
  String Find;
  String Replace;
  bool WholeWord = true;
};

class IMainWindow {
 public:
  virtual ~IMainWindow() = default;

  // ---- the collection
  virtual String GetGroupFilterText() = 0;
  // Replaces the filter box's drop-down list; the typed text stays.
  virtual void SetGroupFilterItems(const std::vector<String>& AItems) = 0;
  virtual void SetRowCount(int ACount) = 0;
  virtual int GetCurrentRow() = 0;  // -1 when none
  virtual bool IsRowSelected(int ARow) = 0;
  // Clears the selection, then makes ARow current and selected.
  virtual void SelectSingleRow(int ARow) = 0;
  // The empty-list placeholder and the list's hint, both on while the list is empty.
  virtual void SetPlaceholderVisible(bool AVisible) = 0;
  virtual void SetStatusText(int APanel, const String& AText) = 0;
  virtual String GetEditorText() = 0;
  virtual void SetEditorText(const String& AText) = 0;
  // Returns ADefault when the user cancels.
  virtual String InputName(const String& ACaption, const String& APrompt, const String& ADefault) = 0;
  virtual TSaveAnswer AskSave(const String& AText, const String& ATitle) = 0;
  virtual bool ChooseOpenFile(const String& ATitle, String& AFileName) = 0;
  virtual bool ChooseSaveFile(const String& ATitle, String& AFileName) = 0;
  virtual bool RunReplaceGroupDialog(TReplaceGroupInput& AInput) = 0;
  virtual void ShowError(const String& AMessage) = 0;
  // A source is about to leave the collection (removed, cleared, deduplicated,
  // collection reopened): whatever still refers to it must let go.
  virtual void SourceLeaving(JSONObject* /*AItem*/) {}

  // ---- the batch run
  virtual TRunOptions ReadRunOptions() = 0;
  virtual void SetRunButton(int ATag, const String& ACaption) = 0;
  virtual void ClearLog() = 0;
  virtual void AppendLog(const String& ALine) = 0;
  virtual void SetProgress(int AMin, int AMax, int APosition) = 0;
  virtual void SetProgressVisible(bool AVisible) = 0;
  virtual void StartStatusTimer() = 0;
  virtual void StopStatusTimer() = 0;
  // Modal: returns when the dialog has closed; main-thread jobs run meanwhile.
  virtual void ShowWaitDialog() = 0;
  virtual void CloseWaitDialog() = 0;
  virtual bool IsDestroying() = 0;
};
