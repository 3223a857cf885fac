// The batch program's front end: the run's log lines and progress go to
// standard error, errors as "tanvork-cli: ..." lines. It shows nothing of
// the list or the editor and asks no questions.
#pragma once

#include <atomic>
#include <cstdio>

#include "app/uMainLogic.h"

// Control characters of a text bound for a terminal, written as \xNN (line
// breaks stay): a file's bytes quoted in an error must not move the cursor or
// recolour the screen.
String EscapeControls(const String& AText);

class TConsoleWindow : public IMainWindow {
 public:
  // ATerminal: draw a progress line (standard error is a terminal) instead of log lines.
  TConsoleWindow(bool AQuiet, bool ATerminal, std::FILE* AErr = stderr);
  // Prints a line on standard error unless quiet (the summary).
  void Say(const std::string& AUtf8Line);
  // Runs the stages and waits for their end. The first interrupt (AInterrupt
  // set from a signal handler) asks the run to stop; a run that does not stop
  // within a second ends the program (nothing has been written yet).
  // Returns whether a stop was asked.
  bool ExecuteRun(TMainLogic& ALogic, const TRunOptions& AOptions, const std::atomic<bool>* AInterrupt);

  void ShowError(const String& AMessage) override;
  void ShowWarning(const String& AMessage) override;
  void AppendLog(const String& ALine) override;
  void SetStatusText(TStatusPanel APanel, const String& AText) override;
  void SetProgress(int AMin, int AMax, int APosition) override;
  void SetProgressVisible(bool AVisible) override { FProgressVisible = AVisible; }
  void StartStatusTimer() override { FTimerOn = true; }
  void StopStatusTimer() override { FTimerOn = false; }

 private:
  void DrawProgressLine(const String& AStatus);
  void EraseProgressLine();
  int TerminalWidth() const;

  const bool FQuiet, FTerminal;
  std::FILE* FErr;
  int FProgressMin = 0, FProgressMax = 0, FProgressPos = 0;
  bool FProgressVisible = false, FTimerOn = false;
  bool FWaiting = false, FLineShown = false;
  int64_t FLastDraw = -1;
};
