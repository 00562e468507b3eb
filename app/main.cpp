// km4410r: the service and test tool for the KM4410R register. Without
// arguments it opens its window; with options (--run-test, --ports, --help,
// the history's commands) it runs without a screen (station/station.h);
// --history-report writes a register's history as a PDF or HTML file.
#include <cstring>
#include <exception>
#include <memory>

#include "app/Mainform.h"
#include "app/program.h"
#include "history/history.h"
#include "station/station.h"

int main(int argc, char** argv) {
  // `--history WHERE` alone opens the window with that history for this run.
  const bool windowHistory = argc == 3 && std::strcmp(argv[1], "--history") == 0;
  if (argc > 1 && std::strcmp(argv[1], "--history-report") == 0) return HistoryReportCommand(argc, argv);
  if (!windowHistory && station::Wanted(argc, argv)) return station::Main(argc, argv);
  KmApplication app(argc, argv);
  QString problem;
  const std::unique_ptr<history::Store> store =
      OpenWindowHistory(windowHistory ? QString::fromLocal8Bit(argv[2]) : QString(), &problem);
  try {
    CreateWindows();
  } catch (const std::exception& e) {
    ShowException(e.what());
    return 0;
  }
  Form1->show();
  // A history that cannot be kept is said once; the tool works without it.
  if (!problem.isEmpty()) ui::showMessage(problem);
  app.exec();
  DestroyWindows();
  history::Store::SetShared(nullptr);
  return 0;
}
