#include "app/historyplot.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace {

// The lowest and highest value a plot must show (bars included); a flat or
// empty plot gets a range around its value.
std::pair<double, double> Range(const PlotData& data) {
  double lo = 0, hi = 0;
  bool any = false;
  for (const PlotPoint& p : data.points) {
    if (!p.known || !std::isfinite(p.value)) continue;
    const double bar = std::isfinite(p.bar) ? std::abs(p.bar) : 0;
    lo = any ? std::min(lo, p.value - bar) : p.value - bar;
    hi = any ? std::max(hi, p.value + bar) : p.value + bar;
    any = true;
  }
  if (data.columns) {  // counts: from 0, at least to 1
    lo = 0;
    hi = std::max(hi, 1.0);
  }
  if (hi - lo < 1e-9) {
    lo -= 1;
    hi += 1;
  }
  return {lo, hi};
}

QString Number(double v) { return QString::number(v, 'g', 4); }

}  // namespace

void PaintPlot(QPainter& painter, const QRectF& area, const PlotData& data) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(area, Qt::white);
  painter.setPen(QColor(0x80, 0x80, 0x80));
  painter.drawRect(area.adjusted(0, 0, -1, -1));
  const QFontMetricsF fm(painter.font());
  painter.setPen(Qt::black);
  const QRectF titleBox(area.left() + 4, area.top() + 2, area.width() - 8, fm.height());
  painter.drawText(titleBox, Qt::AlignLeft | Qt::AlignVCenter, data.title);

  const auto [lo, hi] = Range(data);
  const QString top = Number(hi), bottom = Number(lo);
  const double axis = std::max(fm.horizontalAdvance(top), fm.horizontalAdvance(bottom)) + 8;
  const QRectF plot(area.left() + axis, titleBox.bottom() + fm.height() / 2, area.width() - axis - 8,
                    area.height() - titleBox.height() - fm.height() - 6);
  if (plot.width() < 10 || plot.height() < 10) {
    painter.restore();
    return;
  }
  painter.drawText(QRectF(area.left(), plot.top() - fm.height() / 2, axis - 4, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, top);
  painter.drawText(QRectF(area.left(), plot.bottom() - fm.height() / 2, axis - 4, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, bottom);
  const auto y = [&, lo = lo, hi = hi](double v) { return plot.bottom() - (v - lo) / (hi - lo) * plot.height(); };
  painter.setPen(QColor(0xC0, 0xC0, 0xC0));
  painter.drawLine(QPointF(plot.left(), plot.top()), QPointF(plot.left(), plot.bottom()));
  if (lo < 0 && hi > 0) painter.drawLine(QPointF(plot.left(), y(0)), QPointF(plot.right(), y(0)));

  const int n = static_cast<int>(data.points.size());
  const double step = n > 0 ? plot.width() / n : 0;
  const QColor ink(0x1F, 0x4E, 0x9A);
  QPainterPath line;
  bool open = false;
  for (int i = 0; i < n; ++i) {
    const PlotPoint& p = data.points[i];
    const double x = plot.left() + step * (i + 0.5);
    if (!p.known || !std::isfinite(p.value)) {
      open = false;
      continue;
    }
    if (data.columns) {
      const double w = std::max(1.0, step * 0.6);
      // A run without errors is a low green mark, so that it is seen as a run.
      if (p.value > 0) painter.fillRect(QRectF(x - w / 2, y(p.value), w, y(0) - y(p.value)), QColor(0xC0, 0x30, 0x30));
      else painter.fillRect(QRectF(x - w / 2, y(0) - 3, w, 3), QColor(0x30, 0xA0, 0x30));
      continue;
    }
    const QPointF at(x, y(p.value));
    if (open) line.lineTo(at);
    else line.moveTo(at);
    open = true;
    if (p.bar > 0 && std::isfinite(p.bar)) {
      painter.setPen(QPen(ink, 1));
      painter.drawLine(QPointF(x, y(p.value - p.bar)), QPointF(x, y(p.value + p.bar)));
      const double cap = std::min(4.0, step / 3);
      painter.drawLine(QPointF(x - cap, y(p.value - p.bar)), QPointF(x + cap, y(p.value - p.bar)));
      painter.drawLine(QPointF(x - cap, y(p.value + p.bar)), QPointF(x + cap, y(p.value + p.bar)));
    }
    painter.setBrush(ink);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(at, 2.5, 2.5);
  }
  if (!data.columns) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(ink, 1.5));
    painter.drawPath(line);
  }
  painter.restore();
}

QImage PlotImage(const PlotData& data, const QSize& size) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  PaintPlot(painter, QRectF(QPointF(0, 0), QSizeF(size)), data);
  return image;
}

QString PlotSummary(const PlotData& data) {
  int known = 0;
  double lo = 0, hi = 0, last = 0;
  for (const PlotPoint& p : data.points) {
    if (!p.known || !std::isfinite(p.value)) continue;
    lo = known ? std::min(lo, p.value) : p.value;
    hi = known ? std::max(hi, p.value) : p.value;
    last = p.value;
    ++known;
  }
  if (known == 0) return QStringLiteral("%1: нет данных").arg(data.title);
  return QStringLiteral("%1: прогонов %2, последний %3, наименьшее %4, наибольшее %5")
      .arg(data.title)
      .arg(known)
      .arg(Number(last), Number(lo), Number(hi));
}

HistoryPlot::HistoryPlot(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setAccessibleDescription(PlotSummary(data_));
}

void HistoryPlot::setData(const PlotData& data) {
  data_ = data;
  setAccessibleName(data.title);
  setAccessibleDescription(PlotSummary(data));
  update();
}

void HistoryPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPlot(painter, QRectF(rect()), data_);
}
