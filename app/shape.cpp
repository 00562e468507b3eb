#include "app/shape.h"

#include <QPainter>

TShape::TShape(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TShape::setBrushColor(const QColor& color) {
  if (brush_ == color) return;
  brush_ = color;
  update();
}

void TShape::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(brush_);
  const int d = qMin(width(), height()) - 1;
  p.drawEllipse(QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d));
}
