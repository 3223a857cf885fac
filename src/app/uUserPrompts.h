// The questions the logic asks the user. The defaults answer as nobody
// there would: the default name, no saving, no file, no dialog; errors are
// dropped unless a front end shows them.
#pragma once

#include "app/uGroupRename.h"
#include "support/KivTypes.h"

enum class TSaveAnswer { Yes, No, Cancel };

class IUserPrompts {
 public:
  virtual ~IUserPrompts() = default;
  // Returns ADefault when the user cancels.
  virtual String InputName(const String& /*ACaption*/, const String& /*APrompt*/, const String& ADefault) {
    return ADefault;
  }
  virtual TSaveAnswer AskSave(const String& /*AText*/, const String& /*ATitle*/) { return TSaveAnswer::No; }
  virtual bool ChooseOpenFile(const String& /*ATitle*/, String& /*AFileName*/) { return false; }
  virtual bool ChooseSaveFile(const String& /*ATitle*/, String& /*AFileName*/) { return false; }
  // The save dialog for a check report (CSV or JSON).
  virtual bool ChooseReportFile(const String& /*ATitle*/, String& /*AFileName*/) { return false; }
  virtual bool RunReplaceGroupDialog(TReplaceGroupInput& /*AInput*/) { return false; }
  virtual void ShowError(const String& /*AMessage*/) {}
};
