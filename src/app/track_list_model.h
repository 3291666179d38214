// The rows of the track list: number, title, play address. Rows are only appended at the end
// or cleared all at once; the view never sorts or edits them.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <vector>

namespace ombrik {

class TrackListModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumnCount = 3;

  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  void Clear();
  // Appends a row whose column 0 is `number`; answers its index.
  int Append(const QString& number);
  // Out-of-range rows and columns are ignored / read as empty, as a list control does.
  void SetCell(int row, int column, const QString& text);
  QString Cell(int row, int column) const;

 private:
  std::vector<std::array<QString, kColumnCount>> rows_;
};

}  // namespace ombrik
