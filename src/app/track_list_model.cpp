#include "app/track_list_model.h"

namespace ombrik {

namespace {

bool ValidColumn(int column) { return column >= 0 && column < TrackListModel::kColumnCount; }

}  // namespace

int TrackListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TrackListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant TrackListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (role == Qt::DisplayRole) return Cell(index.row(), index.column());
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

QVariant TrackListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return {};
  switch (section) {
    case 0:
      return QStringLiteral("序号");
    case 1:
      return QStringLiteral("标题");
    case 2:
      return QStringLiteral("地址");
    default:
      return {};
  }
}

Qt::ItemFlags TrackListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void TrackListModel::Clear() {
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  rows_.shrink_to_fit();
  endResetModel();
}

int TrackListModel::Append(const QString& number) {
  const int row = rowCount();
  beginInsertRows({}, row, row);
  rows_.push_back({number, QString(), QString()});
  endInsertRows();
  return row;
}

void TrackListModel::SetCell(int row, int column, const QString& text) {
  if (row < 0 || row >= rowCount() || !ValidColumn(column)) return;
  rows_[row][column] = text;
  const QModelIndex at = index(row, column);
  emit dataChanged(at, at, {Qt::DisplayRole});
}

QString TrackListModel::Cell(int row, int column) const {
  if (row < 0 || row >= rowCount() || !ValidColumn(column)) return {};
  return rows_[row][column];
}

}  // namespace ombrik
