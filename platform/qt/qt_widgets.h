#pragma once

#include <QColor>
#include <QLabel>
#include <QLine>
#include <QWidget>
#include <functional>

namespace orv {

// A label that tells its owner about a double click (names in the trigger bank open an editor).
class DblClickLabel : public QLabel {
 public:
  explicit DblClickLabel(QWidget* parent) : QLabel(parent) {}
  void SetOnDoubleClick(std::function<void()> on_double_click) {
    on_double_click_ = std::move(on_double_click);
  }

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  std::function<void()> on_double_click_;
};

// A lamp: a rectangle outline, filled with its colour while lit.
class ShapeWidget : public QWidget {
 public:
  explicit ShapeWidget(QWidget* parent);
  void SetFill(bool filled, QColor color);
  bool filled() const { return filled_; }
  QColor fill_color() const { return fill_color_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool filled_ = false;
  QColor fill_color_;
};

// A one-pixel line between two points given in the widget's own coordinates.
class LineWidget : public QWidget {
 public:
  explicit LineWidget(QWidget* parent);
  void SetLine(QLine line);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QLine line_;
};

}  // namespace orv
