// A window that shows nothing and answers every question with its default:
// for benchmarks, fuzzing and soak runs that drive the logic without anyone
// watching. ShowWaitDialog pumps the main-thread jobs until the run ends.
#pragma once

#include <cstdio>

#include "app/uMainLogic.h"
#include "workers/KivWorker.h"

class TQuietWindow : public IMainWindow {
 public:
  TMainLogic* Logic = nullptr;
  String Filter;
  TRunOptions Options;
  bool Closed = false;
  bool PrintErrors = true;

  String GetGroupFilterText() override { return Filter; }
  void SetGroupFilterItems(const std::vector<String>&) override {}
  void SetRowCount(int) override {}
  int GetCurrentRow() override { return -1; }
  bool IsRowSelected(int) override { return false; }
  void SelectSingleRow(int) override {}
  void SetPlaceholderVisible(bool) override {}
  void SetStatusText(int, const String&) override {}
  String GetEditorText() override { return String(); }
  void SetEditorText(const String&) override {}
  String InputName(const String&, const String&, const String& ADefault) override { return ADefault; }
  TSaveAnswer AskSave(const String&, const String&) override { return TSaveAnswer::No; }
  bool ChooseOpenFile(const String&, String&) override { return false; }
  bool ChooseSaveFile(const String&, String&) override { return false; }
  bool RunReplaceGroupDialog(TReplaceGroupInput&) override { return false; }
  void ShowError(const String& AMessage) override {
    if (PrintErrors) std::fprintf(stderr, "error: %s\n", ToUtf8(AMessage).c_str());
  }
  TRunOptions ReadRunOptions() override { return Options; }
  void SetRunButton(int, const String&) override {}
  void ClearLog() override {}
  void AppendLog(const String&) override {}
  void SetProgress(int, int, int) override {}
  void SetProgressVisible(bool) override {}
  void StartStatusTimer() override {}
  void StopStatusTimer() override {}
  void ShowWaitDialog() override {
    Closed = false;
    while (!(Closed && Logic && Logic->RunState() == rsIdle)) {
      TEvent never(true);
      MsgWaitForEvent(never, 5);
    }
  }
  void CloseWaitDialog() override { Closed = true; }
  bool IsDestroying() override { return false; }
};
