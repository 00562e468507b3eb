// The two small plots of a register's history, drawn with QPainter on the
// history page and in its report: the clock rate of each run with its
// resolution as error bars, and the errors of each run.
#pragma once
#include <QImage>
#include <QString>
#include <QVector>
#include <QWidget>

class QPainter;

struct PlotPoint {
  bool known = false;  // a run without a value is a gap in the line
  double value = 0;
  double bar = 0;      // half the error bar; 0: none
};

struct PlotData {
  QString title;              // "Ход часов, с/сутки"
  QVector<PlotPoint> points;  // oldest first, one a run
  bool columns = false;       // columns (counts) rather than points with error bars
};

// Draws `data` into `area`: the title above, the value axis with its lowest
// and highest value, one mark a run, a zero line when the range crosses it.
void PaintPlot(QPainter& painter, const QRectF& area, const PlotData& data);

// The plot as a picture, for the report.
QImage PlotImage(const PlotData& data, const QSize& size);

// What a screen reader says of a plot: its title, how many runs, the last
// value, the lowest and the highest.
QString PlotSummary(const PlotData& data);

// A plot on a page.
class HistoryPlot : public QWidget {
 public:
  explicit HistoryPlot(QWidget* parent = nullptr);
  void setData(const PlotData& data);
  const PlotData& data() const { return data_; }
  QSize sizeHint() const override { return {260, 140}; }
  QSize minimumSizeHint() const override { return {160, 100}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  PlotData data_;
};
