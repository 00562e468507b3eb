#include <stdio.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include "driver/text/portrows.h"
#include "regtest/scenario.h"
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
  if (args.contains(QStringLiteral("--list-ports"))) {
    const bool json = args.contains(QStringLiteral("--json"));
    const qsizetype sysfs = args.indexOf(QStringLiteral("--sysfs"));
    const QString tree = sysfs >= 0 ? args.value(sysfs + 1) : QString();
    if (args.size() != 1 + (json ? 1 : 0) + (sysfs >= 0 ? 2 : 0) || (sysfs >= 0 && tree.isEmpty())) {
      fprintf(stderr, "km4410r: --list-ports takes only --json and --sysfs DIR\n");
      return kExitUsage;
    }
    if (!tree.isEmpty() && !QFileInfo(tree).isDir()) {
      fprintf(stderr, "km4410r: --sysfs %s: no such folder\n", qPrintable(tree));
      return kExitUsage;
    }
    const QByteArray root = QFile::encodeName(tree);
    fputs(km_text::ListPortRows(json, tree.isEmpty() ? nullptr : root.constData()).c_str(), stdout);
    return kExitPassed;
  }
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
  if (!o.ports.isEmpty()) return RunPorts(o, QCoreApplication::applicationFilePath());
  // Tests and benchmarks shorten the timer check's minute.
  bool ok = false;
  const int timerMs = qEnvironmentVariableIntValue("KM4410R_TEST_TIMER_MS", &ok);
  if (ok && timerMs > 0) regtest::SetTimerWaitForTests(timerMs);
  return RunOne(o);
}

}  // namespace station
