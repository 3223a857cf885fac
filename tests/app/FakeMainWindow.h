// A window for the logic under test: it records what the logic shows and
// answers its questions from queues the test fills.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <set>
#include <thread>

#include "app/uMainLogic.h"
#include "workers/KivWorker.h"

class FakeMainWindow : public IMainWindow {
 public:
  TMainLogic* Logic = nullptr;

  String FilterText;
  std::vector<String> GroupItems;
  int Rows = 0;
  int CurrentRow = -1;
  std::set<int> Selected;
  bool Placeholder = false;
  String Status[2];
  String Editor;
  std::deque<String> Names;  // answers of InputName; empty = cancelled
  std::deque<TSaveAnswer> SaveAnswers;  // empty = cancelled
  std::deque<bool> YesNoAnswers;        // empty = the default button
  std::vector<String> Questions;        // texts of AskSave and AskYesNo, in order
  String FileName;                      // as ShowFileState last said
  bool Modified = false;
  std::deque<String> OpenFiles, SaveFiles;
  std::deque<TReplaceGroupInput> ReplaceInputs;  // empty = cancelled
  std::vector<String> Errors;
  std::vector<String> Warnings;
  std::vector<JSONObject*> Leaving;

  TRunOptions Options;
  int RunTag = 0;
  String RunCaption = u"开始处理(&B)";
  std::vector<String> LogLines;
  int ProgressMin = 0, ProgressMax = 0, ProgressPos = 0;
  bool ProgressVisible = false;
  bool TimerOn = false;
  int WaitShown = 0;
  std::vector<String> WaitTexts;
  std::atomic<bool> CloseRequested{false};
  // Called while the wait dialog is up (once after it opens, then every pump).
  std::function<void(FakeMainWindow&)> WhileWaiting;
  // The dialog goes away at once, the run still going (the window closing).
  bool AbandonWait = false;

  String GetGroupFilterText() override { return FilterText; }
  void SetGroupFilterItems(const std::vector<String>& AItems) override { GroupItems = AItems; }
  void SetRowCount(int ACount) override { Rows = ACount; }
  int GetCurrentRow() override { return CurrentRow; }
  bool IsRowSelected(int ARow) override { return Selected.count(ARow) > 0; }
  void SelectSingleRow(int ARow) override {
    Selected.clear();
    if (ARow >= 0) Selected.insert(ARow);
    CurrentRow = ARow;
  }
  void SetPlaceholderVisible(bool AVisible) override { Placeholder = AVisible; }
  void SetStatusText(TStatusPanel APanel, const String& AText) override { Status[APanel] = AText; }
  String GetEditorText() override { return Editor; }
  void SetEditorText(const String& AText) override {
    Editor = AText;
    if (Logic) Logic->EditorChanged();  // as the editor control's change notice does
  }
  String InputName(const String&, const String&, const String& ADefault) override {
    if (Names.empty()) return ADefault;
    String s = Names.front();
    Names.pop_front();
    return s;
  }
  TSaveAnswer AskSave(const String& AText, const String&) override {
    Questions.push_back(AText);
    if (SaveAnswers.empty()) return TSaveAnswer::Cancel;
    TSaveAnswer a = SaveAnswers.front();
    SaveAnswers.pop_front();
    return a;
  }
  bool AskYesNo(const String& AText, const String&, bool ADefault) override {
    Questions.push_back(AText);
    if (YesNoAnswers.empty()) return ADefault;
    const bool a = YesNoAnswers.front();
    YesNoAnswers.pop_front();
    return a;
  }
  void ShowFileState(const String& AFileName, bool AModified) override {
    FileName = AFileName;
    Modified = AModified;
  }
  bool ChooseOpenFile(const String&, String& AFileName) override { return Take(OpenFiles, AFileName); }
  bool ChooseSaveFile(const String&, String& AFileName) override { return Take(SaveFiles, AFileName); }
  bool ChooseReportFile(const String&, String& AFileName) override { return Take(SaveFiles, AFileName); }
  bool RunReplaceGroupDialog(TReplaceGroupInput& AInput) override {
    if (ReplaceInputs.empty()) return false;
    AInput = ReplaceInputs.front();
    ReplaceInputs.pop_front();
    return true;
  }
  void ShowError(const String& AMessage) override { Errors.push_back(AMessage); }
  void ShowWarning(const String& AMessage) override { Warnings.push_back(AMessage); }
  void SourceLeaving(JSONObject* AItem) override { Leaving.push_back(AItem); }

  TRunOptions ReadRunOptions() override { return Options; }
  void SetRunButton(TRunState AState, const String& ACaption) override {
    RunTag = AState;
    RunCaption = ACaption;
  }
  void ClearLog() override { LogLines.clear(); }
  void AppendLog(const String& ALine) override { LogLines.push_back(ALine); }
  void SetProgress(int AMin, int AMax, int APosition) override {
    ProgressMin = AMin;
    ProgressMax = AMax;
    ProgressPos = APosition;
  }
  void SetProgressVisible(bool AVisible) override { ProgressVisible = AVisible; }
  void StartStatusTimer() override { TimerOn = true; }
  void StopStatusTimer() override { TimerOn = false; }
  // Modal: pumps main-thread jobs until the run asked it to close and is idle.
  void ShowWaitDialog() override {
    ++WaitShown;
    CloseRequested = false;
    if (AbandonWait) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!(CloseRequested && Logic->RunState() == rsIdle)) {
      if (WhileWaiting) WhileWaiting(*this);
      TEvent never(true);
      MsgWaitForEvent(never, 10);
      if (TimerOn) Logic->DispLog();
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the run did not end";
        break;
      }
    }
  }
  void CloseWaitDialog() override { CloseRequested = true; }
  void SetWaitText(const String& AText) override { WaitTexts.push_back(AText); }
  bool IsDestroying() override { return false; }

  // Log lines without their time stamps.
  std::vector<String> LogMessages() const {
    std::vector<String> out;
    for (const String& l : LogLines) out.push_back(l.size() > 15 && l[0] == u'[' ? l.substr(15) : l);
    return out;
  }

 private:
  static bool Take(std::deque<String>& Q, String& Out) {
    if (Q.empty()) return false;
    Out = Q.front();
    Q.pop_front();
    return true;
  }
};

// Module start-up and shutdown around the whole test program.
class AppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};
