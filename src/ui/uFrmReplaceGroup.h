// The replace-group dialog: the inputs of a group rename.
#pragma once

#include <QDialog>

#include "app/uMainWindowOps.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

class TfrmReplaceGroup : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmReplaceGroup(QWidget* AOwner);
  // Runs a new dialog modally; true and the trimmed inputs when confirmed.
  static bool Execute(QWidget* AOwner, TReplaceGroupInput& AInput);
  // The dialog Execute is showing, while it is shown.
  static TfrmReplaceGroup* Current() { return FCurrent; }

  QLineEdit* Edit1 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;

 private:
  static inline TfrmReplaceGroup* FCurrent = nullptr;
};
