// "合并书源文件": a file is compared with the collection by address before
// anything moves — new, identical, changed — and the user picks what to add
// and whether the changed sources are updated where they stand.
#pragma once

#include <QDialog>
#include <memory>

#include "app/uMergePreview.h"

class JSONArray;
class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTabWidget;
class TMainLogic;

class TfrmMergePreview : public QDialog {
  Q_OBJECT
 public:
  // What the user chose (the dialog's result).
  enum TChoice { mcCancel, mcAddAll, mcAddNew, mcAddNewUpdate };

  TfrmMergePreview(QWidget* AOwner, const TMergePreview& APreview);
  // The menu command: asks for the file, loads and compares it, shows the
  // dialog and merges as chosen. Refused while a batch run is going.
  static void Execute(QWidget* AOwner, TMainLogic& ALogic);

  TChoice Choice() const { return FChoice; }
  TKeepFields KeepFields() const;

  QLabel* lbCounts = nullptr;
  QTabWidget* Tabs = nullptr;
  QListWidget* lvNew = nullptr;
  QListWidget* lvChanged = nullptr;
  QListWidget* lvIdentical = nullptr;
  QCheckBox* cbKeepName = nullptr;
  QCheckBox* cbKeepGroup = nullptr;
  QCheckBox* cbKeepEnabled = nullptr;
  QCheckBox* cbKeepOrder = nullptr;
  QPushButton* btnAddAll = nullptr;
  QPushButton* btnAddNew = nullptr;
  QPushButton* btnAddNewUpdate = nullptr;
  QPushButton* btnCancel = nullptr;

 private:
  void Choose(TChoice AChoice);
  TChoice FChoice = mcCancel;
};
