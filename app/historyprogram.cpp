// The history at the program's start: the window's store, and the report
// written without a window.
#include <QGuiApplication>
#include <QSettings>
#include <cstdio>

#include "app/Mainform.h"
#include "app/historyview.h"
#include "app/program.h"
#include "history/history.h"
#include "history/queries.h"

std::unique_ptr<history::Store> OpenWindowHistory(const QString& option, QString* problem) {
  history::Location location;
  QString refusal;
  if (!history::ChooseLocation(option, SavedHistoryWhere(), &location, &refusal)) {
    *problem = QStringLiteral("История не ведётся: %1").arg(refusal);
    return nullptr;
  }
  if (location.none()) return nullptr;
  auto store = std::make_unique<history::Store>(location);
  if (!store->Open()) {
    *problem = QStringLiteral("История не ведётся: %1").arg(store->problem());
    return nullptr;
  }
  history::Store::SetShared(store.get());
  return store;
}

int HistoryReportCommand(int argc, char** argv) {
  const bool where = argc == 6 && std::strcmp(argv[4], "--history") == 0;
  if (argc != 4 && !where) {
    std::fprintf(stderr, "usage: km4410r --history-report SERIAL FILE.pdf|FILE.html [--history WHERE]\n");
    return 2;
  }
  // The report needs fonts, not a screen. Windows' own platform needs none
  // (and is the one the Windows build carries).
#ifndef Q_OS_WIN
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  QGuiApplication app(argc, argv);
  app.setOrganizationName(QStringLiteral("KM4410R"));
  app.setApplicationName(QStringLiteral("km4410r"));
  const QString serial = QString::fromLocal8Bit(argv[2]);
  const QString path = QString::fromLocal8Bit(argv[3]);
  history::Location location;
  QString refusal;
  if (!history::ChooseLocation(where ? QString::fromLocal8Bit(argv[5]) : QString(), QString(), &location,
                               &refusal)) {
    std::fprintf(stderr, "km4410r: --history: %s\n", refusal.toUtf8().constData());
    return 2;
  }
  if (location.none()) {
    std::fprintf(stderr, "km4410r: no history is kept (none)\n");
    return 1;
  }
  // The shared server when there is one, else this PC's file.
  history::Store store(location);
  store.Open();  // a file that cannot be read says so through the reader
  QString fallback;
  const std::unique_ptr<history::Reader> reader = history::OpenReader(store, &fallback);
  if (!fallback.isEmpty()) std::fprintf(stderr, "km4410r: %s; this PC's history is used\n", fallback.toUtf8().constData());
  const HistoryView view = LoadHistoryView(*reader, serial);
  QString error = view.error;
  if (error.isEmpty() && !view.found) error = QStringLiteral("register %1 is not in the history").arg(serial);
  if (error.isEmpty() && WriteHistoryReport(view, path, &error)) {
    std::printf("km4410r: the history of %s written to %s (%d runs)\n", serial.toUtf8().constData(),
                path.toUtf8().constData(), static_cast<int>(view.runs.rows.size()));
    return 0;
  }
  std::fprintf(stderr, "km4410r: %s\n", error.toUtf8().constData());
  return 1;
}
