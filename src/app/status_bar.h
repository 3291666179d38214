// The window's two-part status bar: part 0 for the download status, part 1 for the maker's
// credit. Drawn by hand so that the parts sit at fixed pixel edges and a double click reports
// its position in the bar's own coordinates.
#pragma once

#include <QString>
#include <QWidget>
#include <array>

namespace ombrik {

class StatusBar final : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kPartCount = 2;

  explicit StatusBar(QWidget* parent = nullptr);

  // Right edges of the parts in pixels; -1 means "to the right edge of the bar".
  void SetPartEdges(int part0RightEdge);
  QRect PartRect(int part) const;
  // The part under x, or -1.
  int PartAt(int x) const;

  void SetPartText(int part, const QString& text);
  QString PartText(int part) const;
  void SetPartToolTip(int part, const QString& tip);
  QString PartToolTip(int part) const;

 signals:
  void doubleClicked(int x, int y, Qt::KeyboardModifiers keys);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  int part0RightEdge_ = 0;
  std::array<QString, kPartCount> texts_;
  std::array<QString, kPartCount> tips_;
};

}  // namespace ombrik
