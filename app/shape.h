// A shape used as an indicator: a filled circle whose brush colour can be
// read back (the connection state of the main window is that colour).
#pragma once
#include <QColor>
#include <QWidget>

class TShape : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QColor brushColor READ brushColor WRITE setBrushColor)
 public:
  explicit TShape(QWidget* parent = nullptr);
  QColor brushColor() const { return brush_; }
  void setBrushColor(const QColor& color);
  QSize sizeHint() const override { return {20, 20}; }
  QSize minimumSizeHint() const override { return {20, 20}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor brush_{Qt::white};
};
