// A register's history as the history page and its report show it: the
// header, the runs, the faults that recur, the service journal and the two
// plots, as texts read once from the history and laid out twice.
#pragma once
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "app/historyplot.h"

namespace history {
class Reader;
}

struct HistoryTable {
  QStringList columns;
  QList<QStringList> rows;
  QList<bool> marked;  // a row to stand out (a firmware change, a fault as last time)
};

struct HistoryView {
  QString serial;
  bool found = false;
  QString error;  // the history could not be read: why, the file or server named
  QList<QPair<QString, QString>> header;  // label, value
  HistoryTable runs, faults, journal;
  PlotData clock, errors;
};

// Reads one register's history.
HistoryView LoadHistoryView(history::Reader& reader, const QString& serial);

// A kept verdict as a person reads it ("пройден", "не пройден", ...).
QString VerdictText(const QString& verdict);
// A moment (UTC ms) as the PC where it happened saw it: "09.12.2026 14:05:00".
QString LocalTimeText(qint64 utcMs, int utcOffsetMin);

// Writes the report of one register's history: a PDF when `path` ends in
// .pdf (fonts embedded, the plots included), else HTML with the plots inside.
// False with the reason (the file named).
bool WriteHistoryReport(const HistoryView& view, const QString& path, QString* error);
