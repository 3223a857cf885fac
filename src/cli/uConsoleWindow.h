// The main window of the batch program: the logic's window operations on a
// console. Log lines and progress go to standard error, questions get their
// default answers, the "wait dialog" pumps the main-thread jobs.
#pragma once

#include <atomic>
#include <cstdio>
#include <set>

#include "app/uMainLogic.h"

class TConsoleWindow : public IMainWindow {
 public:
  // ATerminal: draw a progress line (standard error is a terminal) instead of log lines.
  TConsoleWindow(bool AQuiet, bool ATerminal, std::FILE* AErr = stderr);
  void Attach(TMainLogic* ALogic) { FLogic = ALogic; }
  void SetRunOptions(const TRunOptions& AOptions) { FOptions = AOptions; }
  void SetFilterText(const String& AText) { FFilterText = AText; }
  void SelectRows(const std::set<int>& ARows) { FSelected = ARows; }
  // Set from a signal handler: the run in progress is asked to stop.
  void SetInterruptFlag(const std::atomic<bool>* AFlag) { FInterrupt = AFlag; }
  bool StopRequested() const { return FStopSent; }
  int Rows() const { return FRows; }
  // Prints a line on standard error unless quiet (the summary).
  void Say(const std::string& AUtf8Line);

  // ---- the collection
  String GetGroupFilterText() override { return FFilterText; }
  void SetGroupFilterItems(const std::vector<String>&) override {}
  void SetRowCount(int ACount) override { FRows = ACount; }
  int GetCurrentRow() override { return FCurrentRow; }
  bool IsRowSelected(int ARow) override { return FSelected.count(ARow) > 0; }
  void SelectSingleRow(int ARow) override;
  void SetPlaceholderVisible(bool) override {}
  void SetStatusText(int APanel, const String& AText) override;
  String GetEditorText() override { return FEditor; }
  void SetEditorText(const String& AText) override { FEditor = AText; }
  String InputName(const String&, const String&, const String& ADefault) override { return ADefault; }
  TSaveAnswer AskSave(const String&, const String&) override { return TSaveAnswer::No; }
  bool ChooseOpenFile(const String&, String&) override { return false; }
  bool ChooseSaveFile(const String&, String&) override { return false; }
  bool RunReplaceGroupDialog(TReplaceGroupInput&) override { return false; }
  void ShowError(const String& AMessage) override;

  // ---- the batch run
  TRunOptions ReadRunOptions() override { return FOptions; }
  void SetRunButton(int, const String&) override {}
  void ClearLog() override {}
  void AppendLog(const String& ALine) override;
  void SetProgress(int AMin, int AMax, int APosition) override;
  void SetProgressVisible(bool AVisible) override { FProgressVisible = AVisible; }
  void StartStatusTimer() override { FTimerOn = true; }
  void StopStatusTimer() override { FTimerOn = false; }
  void ShowWaitDialog() override;
  void CloseWaitDialog() override { FCloseRequested = true; }
  bool IsDestroying() override { return false; }

 private:
  void DrawProgressLine(const String& AStatus);
  void EraseProgressLine();
  int TerminalWidth() const;

  TMainLogic* FLogic = nullptr;
  const bool FQuiet, FTerminal;
  std::FILE* FErr;
  TRunOptions FOptions;
  String FFilterText, FEditor;
  std::set<int> FSelected;
  int FRows = 0, FCurrentRow = -1;
  int FProgressMin = 0, FProgressMax = 0, FProgressPos = 0;
  bool FProgressVisible = false, FTimerOn = false;
  bool FWaiting = false, FCloseRequested = false, FLineShown = false, FStopSent = false;
  int64_t FLastDraw = -1;
  const std::atomic<bool>* FInterrupt = nullptr;
};
