// "查找重复书源": the mode and the keep policy, the scan on the worker pool
// with a progress bar, then every set for review — the kept copy marked and
// changeable, a check box per set to leave it alone — and the removal.
#pragma once

#include <QAbstractItemModel>
#include <QDialog>
#include <memory>
#include <vector>

#include "app/uDuplicateSets.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeView;
class TMainLogic;

// The sets as a two-level tree: a set (checked: its other copies go), and
// its members (the checked one is kept; checking another moves the mark).
class TDuplicateSetsModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit TDuplicateSetsModel(QObject* AParent) : QAbstractItemModel(AParent) {}
  void SetSets(std::vector<TDuplicateSet> ASets, bool ARealDedupe);
  const std::vector<TDuplicateSet>& Sets() const { return FSets; }

  QModelIndex index(int ARow, int AColumn, const QModelIndex& AParent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& AIndex) const override;
  int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
  int columnCount(const QModelIndex& AParent = QModelIndex()) const override;
  QVariant data(const QModelIndex& AIndex, int ARole) const override;
  bool setData(const QModelIndex& AIndex, const QVariant& AValue, int ARole) override;
  Qt::ItemFlags flags(const QModelIndex& AIndex) const override;

 signals:
  void SetsChanged();

 private:
  std::vector<TDuplicateSet> FSets;
  bool FRealDedupe = true;
};

class TfrmDuplicates : public QDialog {
  Q_OBJECT
 public:
  // ARealDedupe: the window's "真实去重", the rule mode's first setting.
  TfrmDuplicates(QWidget* AOwner, TMainLogic& ALogic, bool ARealDedupe);
  ~TfrmDuplicates() override;
  // The menu command: refused while a batch run is going or with nothing loaded.
  static void Execute(QWidget* AOwner, TMainLogic& ALogic, bool ARealDedupe);

  // Starts the scan with the chosen mode and policy, or stops a running one.
  void FindClick();
  // Removes the other copies of every checked set, then closes.
  void RemoveClick();
  // Writes the list of sets as text (asks for the file).
  void ExportClick();
  bool Scanning() const { return FJob != nullptr; }
  TDuplicateSetsModel* Model() const { return FModel; }

  QComboBox* cbMode = nullptr;
  QComboBox* cbKeep = nullptr;
  QCheckBox* cbRealDedupe = nullptr;
  QPushButton* btnFind = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QLabel* lbSummary = nullptr;
  QTreeView* tvSets = nullptr;
  QPushButton* btnExport = nullptr;
  QPushButton* btnRemove = nullptr;
  QPushButton* btnClose = nullptr;

 protected:
  void reject() override;

 private:
  void Poll();
  void ScanEnded();
  void UpdateSummary();
  TDuplicateOptions ChosenOptions();

  TMainLogic& FLogic;
  TDuplicateSetsModel* FModel = nullptr;
  QTimer* FTimer = nullptr;
  std::unique_ptr<TDuplicateScanJob> FJob;
  bool FScanRealDedupe = true;  // the setting the shown sets were found with
  bool FHaveResult = false;      // the shown sets are a finished scan's
};
