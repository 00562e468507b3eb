// The exchange trace window ("Протокол обмена"): one row per exchange with
// the register, the newest rows kept, raw bytes on demand, clear, pause and
// save. Opened from the main window; not modal, so it can stay open during a
// register test.
//
// While the window exists it is the driver's exchange observer. An observer
// set before it (another user of the trace) still gets every exchange, and is
// put back when the window goes.
#pragma once
#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <vector>

#include "driver/text/tracerow.h"
#include "driver/trace.h"

class QHBoxLayout;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;

// The rows on show: a ring of the newest `capacity` rows. New rows wait in a
// queue (bounded too) until flush() moves them in, so that the view is told
// of them in batches and a long test does not repaint it per exchange.
class TraceModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kTime, kDirection, kSeq, kCommand, kData, kAnswer, kFlags, kMs, kColumns };

  explicit TraceModel(int capacity, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Queues a row; constant time. Returns whether the queue was empty before.
  bool append(km_text::TraceRow row);
  // Moves the queued rows in, dropping the oldest beyond the capacity.
  void flush();
  void clear();
  int pending() const { return static_cast<int>(pending_.size()); }
  int capacity() const { return capacity_; }
  // Row i of those on show, 0 the oldest.
  const km_text::TraceRow& row(int i) const;
  // Every row on show, with its raw-byte lines, as UTF-8 text.
  QByteArray text() const;

 private:
  int capacity_;
  std::vector<km_text::TraceRow> ring_;
  size_t head_ = 0;  // index in ring_ of the oldest row
  int count_ = 0;
  std::deque<km_text::TraceRow> pending_;
};

class TraceWindow : public QWidget {
  Q_OBJECT
 public:
  // capacity: the rows kept (tests use a small one).
  explicit TraceWindow(QWidget* parent = nullptr, int capacity = kDefaultCapacity);
  ~TraceWindow() override;

  static constexpr int kDefaultCapacity = 5000;
  static constexpr int kFlushMs = 100;

  TraceModel* model() const { return model_; }
  // Shows the queued rows now (the timer does it within kFlushMs).
  void flush();

  // The buttons' handlers.
  void ClearClick();
  void SaveClick();
  void BytesClick();

 private:
  static void Observe(const ExchangeTrace& trace, void* context);
  // The parts of the window, made by the constructor: the table of the
  // exchanges, the bytes of the chosen one, the row of buttons.
  void MakeTable();
  void MakeBytesView();
  QHBoxLayout* MakeButtons();
  void ShowSelectedBytes();
  void UpdateCount();

  TraceModel* model_;
  QTableView* table_;
  QPlainTextEdit* bytes_;
  QPushButton* pause_;
  QPushButton* showBytes_;
  QLabel* count_;
  QTimer flushTimer_;
  ExchangeHook hook_;  // for the window's life
};
