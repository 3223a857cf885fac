// The views over the logic's filtered rows: one virtual model for both the
// list and the table (no widget per row), and the views that ask before the
// current row moves. Both views share the model's selection model, so they
// show the same rows, the same selection and the same current row.
#pragma once

#include <QAbstractTableModel>
#include <QListView>
#include <QMouseEvent>
#include <QTableView>
#include <functional>

#include "app/uMainLogic.h"

class TSourceTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // Column 0 is the list's "【group】name"; the table shows the ones after it.
  static constexpr int kListColumn = 0;
  static int ColumnOf(TViewColumn AColumn) { return int(AColumn) + 1; }

  explicit TSourceTableModel(QObject* AParent) : QAbstractTableModel(AParent) {}
  void SetLogic(TMainLogic* ALogic) { FLogic = ALogic; }
  // The rows' texts may all have changed even when the count did not.
  void SetCount(int ACount);
  int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
  int columnCount(const QModelIndex& AParent = QModelIndex()) const override;
  QVariant data(const QModelIndex& AIndex, int ARole) const override;
  QVariant headerData(int ASection, Qt::Orientation AOrientation, int ARole) const override;

 private:
  TMainLogic* FLogic = nullptr;
  int FCount = 0;
};

// A view whose current row is the editor's source: a click, a right-click or
// a key that would move to another row asks RowGate first, and a refused move
// leaves the current row and the highlight where they are.
template <class TBase>
class TGatedView : public TBase {
 public:
  explicit TGatedView(QWidget* AParent) : TBase(AParent) {}
  // Binds the editor to the row's source; false keeps the current row.
  std::function<bool(int ARow)> RowGate;

 protected:
  void mousePressEvent(QMouseEvent* AEvent) override {
    // Asked before the view moves anything, so a refusal leaves the highlight alone.
    FRefused = !Gate(this->indexAt(AEvent->position().toPoint()));
    if (FRefused) {
      AEvent->accept();
      return;
    }
    TBase::mousePressEvent(AEvent);
  }
  void mouseMoveEvent(QMouseEvent* AEvent) override {
    if (!FRefused) TBase::mouseMoveEvent(AEvent);
  }
  void mouseReleaseEvent(QMouseEvent* AEvent) override {
    if (!FRefused) TBase::mouseReleaseEvent(AEvent);
  }
  void mouseDoubleClickEvent(QMouseEvent* AEvent) override {
    // The second click of a refused double click would only ask again.
    if (!FRefused) TBase::mouseDoubleClickEvent(AEvent);
  }
  void focusInEvent(QFocusEvent* AEvent) override {
    // Focus alone makes no row current (the view would take the first one).
    FFocusing = true;
    TBase::focusInEvent(AEvent);
    FFocusing = false;
  }
  QModelIndex moveCursor(QAbstractItemView::CursorAction ACursorAction, Qt::KeyboardModifiers AModifiers) override {
    if (FFocusing && !this->currentIndex().isValid()) return QModelIndex();
    const QModelIndex target = TBase::moveCursor(ACursorAction, AModifiers);
    if (!Gate(target)) return this->currentIndex();
    // Asking may have saved and refreshed the list: the row's index is taken again.
    return target.isValid() ? this->model()->index(target.row(), target.column()) : target;
  }

 private:
  bool Gate(const QModelIndex& ATarget) {
    // Another cell of the current row is no move to another source.
    const QModelIndex current = this->currentIndex();
    return !ATarget.isValid() || (current.isValid() && ATarget.row() == current.row()) || !RowGate ||
           RowGate(ATarget.row());
  }

  bool FRefused = false;  // the last press was refused: the rest of its click goes nowhere
  bool FFocusing = false;
};

class TSourceListView : public TGatedView<QListView> {
 public:
  explicit TSourceListView(QWidget* AParent) : TGatedView<QListView>(AParent) {}
};

class TSourceTableView : public TGatedView<QTableView> {
 public:
  explicit TSourceTableView(QWidget* AParent) : TGatedView<QTableView>(AParent) {}
};
