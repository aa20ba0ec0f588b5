#include "platform/qt/qt_widgets.h"

#include <QPainter>

namespace orv {

void DblClickLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  QLabel::mouseDoubleClickEvent(event);
  if (on_double_click_) on_double_click_();
}

ShapeWidget::ShapeWidget(QWidget* parent) : QWidget(parent) {
  // Lamps only show; clicks go to whatever lies beneath.
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ShapeWidget::SetFill(bool filled, QColor color) {
  if (filled == filled_ && color == fill_color_) return;
  filled_ = filled;
  fill_color_ = color;
  update();
}

void ShapeWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect box = rect().adjusted(0, 0, -1, -1);
  if (filled_) painter.fillRect(box, fill_color_);
  painter.setPen(QPen(Qt::black, 1));
  painter.drawRect(box);
}

LineWidget::LineWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LineWidget::SetLine(QLine line) {
  if (line == line_) return;
  line_ = line;
  update();
}

void LineWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(QPen(Qt::black, 1));
  painter.drawLine(line_);
}

}  // namespace orv
