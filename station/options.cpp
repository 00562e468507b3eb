#include "station/options.h"

#include <string.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <optional>

#include "driver/printer.h"
#include "regtest/scenario.h"

namespace station {

namespace {

// The one port-name rule of the driver: COM1..COM255, a device path, or a
// port on the network (tcp://HOST:PORT, rfc2217://HOST:PORT).
bool ValidPort(const QString& port) { return ParsePortName(QFile::encodeName(port).constData(), nullptr); }

bool ParentFolderExists(const QString& file) {
  return QFileInfo(QFileInfo(file).absolutePath()).isDir();
}

}  // namespace

QString OneLine(const QString& text) {
  QStringList pieces = text.split(QLatin1Char('\n'));
  for (QString& p : pieces) p = p.trimmed();
  return pieces.join(QLatin1Char(' '));
}

QString PortFileName(const QString& port) {
  QString name = port.startsWith(QLatin1Char('/')) ? QFileInfo(port).fileName() : port;
  // tcp://till1.shop.example:4001 gives tcp-till1.shop.example-4001.
  name.replace(QRegularExpression(QStringLiteral("^([A-Za-z0-9]+)://\\[?(.*?)\\]?:([0-9]+)$")),
               QStringLiteral("\\1-\\2-\\3"));
  // Nothing of a port's name may lead out of the folder or be no name.
  name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) name = QStringLiteral("port");
  return name;
}

QString PerPortFile(const QString& file, const QString& port) {
  const QString name = PortFileName(port);
  const QFileInfo info(file);
  const QString suffix = info.suffix();
  QString base = info.fileName();
  if (!suffix.isEmpty() && base.size() > suffix.size() + 1)
    base.chop(suffix.size() + 1);
  else if (!suffix.isEmpty() && base.startsWith(QLatin1Char('.')))
    base.clear();  // ".log": no name before the extension
  QString out = base.isEmpty() ? name : base + QLatin1Char('-') + name;
  if (!suffix.isEmpty() && info.fileName().size() > suffix.size()) out += QLatin1Char('.') + suffix;
  const QString folder = file.contains(QLatin1Char('/')) ? info.path() + QLatin1Char('/') : QString();
  return folder + out;
}

bool ParseOptions(const QStringList& args, RunOptions* o, QString* error) {
  QStringList seen;
  bool passesGiven = false;
  const auto fail = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  for (int i = 0; i < args.size(); ++i) {
    QString name = args[i];
    std::optional<QString> inlineValue;
    const qsizetype eq = name.indexOf(QLatin1Char('='));
    if (name.startsWith(QLatin1String("--")) && eq > 2) {
      inlineValue = name.mid(eq + 1);
      name = name.left(eq);
    }
    static const QStringList flags = {QStringLiteral("--help"), QStringLiteral("-h"),
                                      QStringLiteral("--run-test"), QStringLiteral("--fiscal"),
                                      QStringLiteral("--log-utf8"), QStringLiteral("--progress")};
    static const QStringList valued = {
        QStringLiteral("--port"), QStringLiteral("--ports"), QStringLiteral("--baud"),
        QStringLiteral("--passes"), QStringLiteral("--pause-ms"), QStringLiteral("--log"),
        QStringLiteral("--record"), QStringLiteral("--junit"), QStringLiteral("--cashier"), QStringLiteral("--cashier-password"),
        QStringLiteral("--programming-password"), QStringLiteral("--reports-password")};
    const bool isFlag = flags.contains(name);
    if (!isFlag && !valued.contains(name))
      return fail(QStringLiteral("unknown argument '%1' (see --help)").arg(args[i]));
    if (seen.contains(name)) return fail(QStringLiteral("%1 is given twice").arg(name));
    seen << name;
    if (isFlag) {
      if (inlineValue) return fail(QStringLiteral("%1 takes no value").arg(name));
      if (name == QLatin1String("--help") || name == QLatin1String("-h")) o->help = true;
      else if (name == QLatin1String("--run-test")) o->runTest = true;
      else if (name == QLatin1String("--fiscal")) o->fiscal = true;
      else if (name == QLatin1String("--log-utf8")) o->logUtf8 = true;
      else o->progress = true;
      continue;
    }
    QString value;
    if (inlineValue) {
      value = *inlineValue;
    } else {
      if (i + 1 >= args.size()) return fail(QStringLiteral("%1 needs a value").arg(name));
      value = args[++i];
    }
    if (name == QLatin1String("--port")) {
      if (!ValidPort(value))
        return fail(QStringLiteral("--port '%1': COM1 to COM255, a device path, tcp://HOST:PORT or "
                                   "rfc2217://HOST:PORT")
                        .arg(value));
      o->port = value;
    } else if (name == QLatin1String("--ports")) {
      const QStringList ports = value.split(QLatin1Char(','));
      for (const QString& p : ports) {
        if (!ValidPort(p))
          return fail(QStringLiteral("--ports: '%1' is not COM1 to COM255, a device path, tcp://HOST:PORT or "
                                     "rfc2217://HOST:PORT")
                          .arg(p));
        if (o->ports.contains(p)) return fail(QStringLiteral("--ports: %1 is given twice").arg(p));
        o->ports << p;
      }
    } else if (name == QLatin1String("--baud")) {
      bool number = false;
      const int baud = value.toInt(&number);
      if (!number || value != QString::number(baud) || !IsLineSpeed(baud))
        return fail(QStringLiteral("--baud '%1': 9600, 19200, 57600 or 115200").arg(value));
      o->baud = baud;
    } else if (name == QLatin1String("--passes")) {
      o->passesText = value;
      passesGiven = true;
    } else if (name == QLatin1String("--pause-ms")) {
      o->pauseText = value;
    } else if (QString* file = name == QLatin1String("--log")      ? &o->log
                              : name == QLatin1String("--record") ? &o->record
                              : name == QLatin1String("--junit")  ? &o->junit
                                                                  : nullptr) {
      // The files written at the end: their folder must be there now.
      if (value.isEmpty() || !ParentFolderExists(value))
        return fail(QStringLiteral("%1 '%2': no such folder").arg(name, value));
      *file = value;
    } else if (name == QLatin1String("--cashier")) {
      static const QRegularExpression cashier(QStringLiteral("^([1-9]|1[0-3])$"));
      if (!cashier.match(value).hasMatch())
        return fail(QStringLiteral("--cashier '%1': 1 to 13").arg(value));
      o->cashier = value.toInt();
    } else if (name == QLatin1String("--cashier-password")) {
      o->cashierPassword = value;
    } else if (name == QLatin1String("--programming-password")) {
      o->programmingPassword = value;
    } else {
      o->reportsPassword = value;
    }
  }
  if (o->help) return true;
  if (!o->runTest && o->ports.isEmpty()) return fail(QStringLiteral("--run-test or --ports is needed"));
  if (!o->port.isEmpty() && !o->ports.isEmpty())
    return fail(QStringLiteral("--port and --ports exclude each other"));
  if (o->port.isEmpty() && o->ports.isEmpty()) return fail(QStringLiteral("--port is needed"));
  if (!passesGiven) return fail(QStringLiteral("--passes is needed"));
  if (!o->ports.isEmpty()) {
    // Each port's files must be its own.
    QStringList names;
    for (const QString& p : o->ports) {
      const QString n = PerPortFile(QStringLiteral("x"), p);
      if (names.contains(n))
        return fail(QStringLiteral("--ports: two ports give the same file name %1").arg(n));
      names << n;
    }
  }
  // The page's own rules and messages, before anything is opened.
  QString message;
  if (!regtest::ReadPasses(o->passesText, &o->passes, &message) ||
      !regtest::ReadPause(o->pauseText, &o->pause, &message))
    return fail(message);
  return true;
}

QString HelpText() {
  return QStringLiteral(
      "usage: km4410r                                   the window\n"
      "       km4410r --run-test --port PORT --passes N [options]\n"
      "       km4410r --ports PORT,PORT,... --passes N [options]\n"
      "       km4410r --list-ports [--json] [--sysfs DIR]\n"
      "                                                 the serial ports of this machine\n"
      "                                                 (or of the sysfs tree at DIR)\n"
      "\n"
      "Runs the register test of the page \"Тест РРО\" without a screen: connects as the\n"
      "window's \"Подключить\" does, fills in the page and the passwords and starts it as\n"
      "\"Старт\" does. Every log line goes to standard output as it is written; every\n"
      "message box is one line on standard error and is not waited for.\n"
      "\n"
      "  --port PORT        COM1 to COM255 (COM1 to COM20 are the window's list), a\n"
      "                     device path, or a register on the network: tcp://HOST:PORT\n"
      "                     (raw TCP) or rfc2217://HOST:PORT (Telnet, RFC 2217)\n"
      "  --ports P1,P2,...  one test per port at once, each in a process of its own; a\n"
      "                     progress line per port while they run, then a summary table\n"
      "  --baud B           9600, 19200 (default), 57600 or 115200\n"
      "  --passes N         number of passes, a whole number from 1\n"
      "  --pause-ms MS      pause after each step in ms, from 0 (default 1500)\n"
      "  --fiscal           also the fiscal receipts, the reports and the Z reports\n"
      "                     (without it \"Без фискальных чеков и Z-отчета\" is ticked)\n"
      "  --log FILE         the log as the page's \"Сохранить\" writes it: CP1251, CR LF\n"
      "  --log-utf8         the log file in UTF-8 instead (CR LF)\n"
      "  --record FILE      a record of the run in JSON: port, speed, the register's\n"
      "                     identity, times, inputs, each pass and step with its commands\n"
      "                     and their error flags, the verdict, the clock's rate\n"
      "  --junit FILE       the results as JUnit XML: a test suite per register, a test\n"
      "                     case per step of every pass with its failure and duration\n"
      "  --cashier N        the cashier of the receipts, 1 to 13 (default 1)\n"
      "  --cashier-password P, --programming-password P, --reports-password P\n"
      "                     the test passwords (default 9162)\n"
      "\n"
      "With --ports every register's log and record are kept in a run folder made in\n"
      "the current folder, km4410r-run-YYYYMMDD-hhmmss/COM3.log and COM3.json, named\n"
      "above the summary table. --log FILE and --record FILE name one file per port\n"
      "instead, the port's name inserted before the extension: run.log gives\n"
      "run-COM3.log (a device path gives its last part: run-ttyUSB0.log, and\n"
      "tcp://till1:4001 gives run-tcp-till1-4001.log). --junit FILE\n"
      "is one file with a test suite per register.\n"
      "\n"
      "Exit status: 0 the test finished without errors; 1 errors counted, the test\n"
      "stopped (SIGINT, SIGTERM) or aborted, or its files could not be written; 2 bad\n"
      "usage (nothing is sent); 3 the port could not be opened or the register is not\n"
      "ready for the test. With --ports: 0 when every register passed, 1 otherwise,\n"
      "2 bad usage.\n");
}

bool Wanted(int argc, char** argv) {
  return argc > 1 && (strncmp(argv[1], "--", 2) == 0 || strcmp(argv[1], "-h") == 0);
}


}  // namespace station
