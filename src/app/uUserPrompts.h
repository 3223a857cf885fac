// The questions the logic asks the user. The defaults answer as nobody
// there would: the default name, no saving, the default button, no file, no
// dialog; errors are dropped unless a front end shows them.
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
  // Yes, No and Cancel about work that would be lost (save it, export it, overwrite it).
  virtual TSaveAnswer AskSave(const String& /*AText*/, const String& /*ATitle*/) { return TSaveAnswer::No; }
  // Yes or No; ADefault is the answer Enter gives, and nobody's answer.
  virtual bool AskYesNo(const String& /*AText*/, const String& /*ATitle*/, bool ADefault) { return ADefault; }
  virtual bool ChooseOpenFile(const String& /*ATitle*/, String& /*AFileName*/) { return false; }
  virtual bool ChooseSaveFile(const String& /*ATitle*/, String& /*AFileName*/) { return false; }
  // The save dialog for a check report (CSV or JSON).
  virtual bool ChooseReportFile(const String& /*ATitle*/, String& /*AFileName*/) { return false; }
  virtual bool RunReplaceGroupDialog(TReplaceGroupInput& /*AInput*/) { return false; }
  virtual void ShowError(const String& /*AMessage*/) {}
  // Something the user must know although the command went on (junk after
  // the sources of a file that loaded).
  virtual void ShowWarning(const String& /*AMessage*/) {}
};
