#include "app/status_bar.h"

#include <qdrawutil.h>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace ombrik {

namespace {
constexpr int kTextPadding = 2;
}

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);
}

void StatusBar::SetPartEdges(int part0RightEdge) {
  part0RightEdge_ = part0RightEdge;
  update();
}

QRect StatusBar::PartRect(int part) const {
  if (part == 0) return QRect(0, 0, part0RightEdge_, height());
  if (part == 1) return QRect(part0RightEdge_, 0, width() - part0RightEdge_, height());
  return {};
}

int StatusBar::PartAt(int x) const {
  for (int part = 0; part < kPartCount; ++part) {
    const QRect r = PartRect(part);
    if (x >= r.left() && x <= r.right()) return part;
  }
  return -1;
}

void StatusBar::SetPartText(int part, const QString& text) {
  if (part < 0 || part >= kPartCount || texts_[part] == text) return;
  texts_[part] = text;
  update(PartRect(part));
}

QString StatusBar::PartText(int part) const { return part >= 0 && part < kPartCount ? texts_[part] : QString(); }

void StatusBar::SetPartToolTip(int part, const QString& tip) {
  if (part >= 0 && part < kPartCount) tips_[part] = tip;
}

QString StatusBar::PartToolTip(int part) const { return part >= 0 && part < kPartCount ? tips_[part] : QString(); }

void StatusBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  for (int part = 0; part < kPartCount; ++part) {
    // Each part is a sunken panel with a small gap to the next, as status bars look.
    const QRect panel = PartRect(part).adjusted(0, 2, part + 1 < kPartCount ? -2 : 0, 0);
    qDrawShadePanel(&painter, panel, palette(), true, 1);
    const QRect textRect = panel.adjusted(kTextPadding, 1, -kTextPadding, -1);
    const QString shown = fontMetrics().elidedText(texts_[part], Qt::ElideRight, textRect.width());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
  }
}

void StatusBar::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  emit doubleClicked(at.x(), at.y(), event->modifiers());
  event->accept();
}

bool StatusBar::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = PartToolTip(PartAt(help->pos().x()));
    if (tip.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), tip, this, PartRect(PartAt(help->pos().x())));
    }
    return true;
  }
  return QWidget::event(event);
}

}  // namespace ombrik
