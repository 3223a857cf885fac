#include "ui/uSourceTable.h"

#include <QSize>

namespace {

QString Q(const String& S) { return QString::fromStdU16String(S); }

}  // namespace

void TSourceTableModel::SetCount(int ACount) {
  beginResetModel();
  FCount = ACount;
  endResetModel();
}

int TSourceTableModel::rowCount(const QModelIndex& AParent) const { return AParent.isValid() ? 0 : FCount; }

int TSourceTableModel::columnCount(const QModelIndex& AParent) const {
  return AParent.isValid() ? 0 : int(vcColumnCount) + 1;
}

QVariant TSourceTableModel::data(const QModelIndex& AIndex, int ARole) const {
  if (!AIndex.isValid() || !FLogic) return {};
  const int column = AIndex.column();
  switch (ARole) {
    case Qt::DisplayRole:
      if (column == kListColumn) return Q(FLogic->RowText(AIndex.row()));
      return Q(FLogic->CellText(AIndex.row(), TViewColumn(column - 1)));
    case Qt::ToolTipRole:
      return Q(FLogic->RowHint(AIndex.row()));
    case Qt::SizeHintRole:
      // Only the list asks (uniform rows); the table's rows are fixed.
      return column == kListColumn ? QVariant(QSize(1, 18)) : QVariant();
    case Qt::TextAlignmentRole:
      if (column == ColumnOf(vcElapsed)) return int(Qt::AlignRight | Qt::AlignVCenter);
      if (column == ColumnOf(vcFormat) || column == ColumnOf(vcEnabled)) return int(Qt::AlignCenter);
      return {};
    default:
      return {};
  }
}

QVariant TSourceTableModel::headerData(int ASection, Qt::Orientation AOrientation, int ARole) const {
  if (AOrientation != Qt::Horizontal || ARole != Qt::DisplayRole) return {};
  static const char16_t* const kCaptions[] = {u"书源",     u"书源名称", u"分组", u"书源URL", u"格式",
                                              u"启用",     u"校验结果", u"原因", u"响应(ms)"};
  if (ASection < 0 || ASection >= int(std::size(kCaptions))) return {};
  return QString::fromUtf16(kCaptions[ASection]);
}
