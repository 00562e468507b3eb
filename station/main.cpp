#include <stdio.h>

#include <QCoreApplication>

#include "driver/text/portrows.h"
#include "regtest/scenario.h"
#include "driver/testing.h"
#include "regtest/testing.h"
#include "station/platform.h"
#include "station/protocol.h"
#include "station/station.h"

namespace station {

int Main(int argc, char** argv) {
  UseParentConsole();
  QCoreApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("km4410r"));
  app.setApplicationVersion(QStringLiteral(KM_VERSION));
  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  // The serial ports of this machine, as km4410r-cmd --list-ports prints them.
  if (args.contains(QStringLiteral("--list-ports"))) return km_text::ListPortsCommand("km4410r", argc - 1, argv + 1);
  RunOptions o;
  QString error;
  if (!ParseOptions(args, &o, &error)) {
    fprintf(stderr, "km4410r: %s\n", OneLine(error).toUtf8().constData());
    return kExitUsage;
  }
  if (o.help) {
    fputs(HelpText().toUtf8().constData(), stdout);
    return kExitPassed;
  }
  if (!o.historyShow.isEmpty() || o.historySync || !o.historyInit.isEmpty()) return HistoryCommand(o);
  if (!o.ports.isEmpty()) return RunPorts(o, QCoreApplication::applicationFilePath());
  // Tests and benchmarks shorten the timer check's minute.
  bool ok = false;
  const int timerMs = qEnvironmentVariableIntValue("KM4410R_TEST_TIMER_MS", &ok);
  if (ok && timerMs > 0) regtest::SetTimerWaitForTests(timerMs);
  // ... and the open deadline (5 s), which also bounds the wait for a link to come back.
  const int openMs = qEnvironmentVariableIntValue("KM4410R_TEST_OPEN_MS", &ok);
  if (ok && openMs > 0) km_driver::SetOpenDeadlineForTests(openMs);
  return RunOne(o);
}

}  // namespace station
