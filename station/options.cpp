#include "station/options.h"

#include <string.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <optional>

#include "driver/printer.h"
#include "history/history.h"
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

namespace {

// The driver's port-name rule, its COM1..COM255 read out as this program has
// always worded it.
QString PortRule() {
  return QString::fromUtf8(PortNameRuleText(kPortTextEnglish))
      .replace(QStringLiteral("COM1..COM255"), QStringLiteral("COM1 to COM255"));
}

// An option's value taken into the options: the refusal, or empty.
using Take = QString (*)(const QString& name, const QString& value, RunOptions* o);

QString TakePort(const QString&, const QString& value, RunOptions* o) {
  if (!ValidPort(value)) return QStringLiteral("--port '%1': %2").arg(value, PortRule());
  o->port = value;
  return {};
}

QString TakePorts(const QString&, const QString& value, RunOptions* o) {
  for (const QString& p : value.split(QLatin1Char(','))) {
    if (!ValidPort(p)) return QStringLiteral("--ports: '%1' is not %2").arg(p, PortRule());
    if (o->ports.contains(p)) return QStringLiteral("--ports: %1 is given twice").arg(p);
    o->ports << p;
  }
  return {};
}

QString TakeBaud(const QString&, const QString& value, RunOptions* o) {
  bool number = false;
  const int baud = value.toInt(&number);
  if (!number || value != QString::number(baud) || !IsLineSpeed(baud))
    return QStringLiteral("--baud '%1': %2").arg(value, QString::fromUtf8(LineSpeedsText(kPortTextEnglish)));
  o->baud = baud;
  return {};
}

QString TakeCashier(const QString&, const QString& value, RunOptions* o) {
  static const QRegularExpression cashier(QStringLiteral("^([1-9]|1[0-3])$"));
  if (!cashier.match(value).hasMatch()) return QStringLiteral("--cashier '%1': 1 to 13").arg(value);
  o->cashier = value.toInt();
  return {};
}

template <QString RunOptions::*field>
QString TakeText(const QString&, const QString& value, RunOptions* o) {
  o->*field = value;
  return {};
}

// The files written at the end: their folder must be there now.
template <QString RunOptions::*field>
QString TakeFile(const QString& name, const QString& value, RunOptions* o) {
  if (value.isEmpty() || !ParentFolderExists(value)) return QStringLiteral("%1 '%2': no such folder").arg(name, value);
  o->*field = value;
  return {};
}

QString TakeHistory(const QString&, const QString& value, RunOptions* o) {
  history::Location location;
  QString refusal;
  if (!history::ParseLocation(value, &location, &refusal)) return QStringLiteral("--history: ") + refusal;
  o->history = value;
  return {};
}

QString TakeServer(const QString& name, const QString& value, RunOptions* o) {
  history::Location location;
  QString refusal;
  if (!history::ParseLocation(value, &location, &refusal) || location.remoteUrl.isEmpty())
    return QStringLiteral("%1: %2").arg(name, refusal.isEmpty() ? QStringLiteral("postgresql://USER@HOST[:PORT]/DB is needed") : refusal);
  o->historyInit = value;
  return {};
}

struct Flag {
  const char* name;
  bool RunOptions::*field;
};
const Flag kFlags[] = {
    {"--help", &RunOptions::help},          {"-h", &RunOptions::help},
    {"--run-test", &RunOptions::runTest},   {"--fiscal", &RunOptions::fiscal},
    {"--log-utf8", &RunOptions::logUtf8},   {"--progress", &RunOptions::progress},
    {"--json", &RunOptions::json},          {"--history-sync", &RunOptions::historySync},
};

struct Valued {
  const char* name;
  Take take;
};
const Valued kValued[] = {
    {"--port", TakePort},
    {"--ports", TakePorts},
    {"--baud", TakeBaud},
    {"--passes", TakeText<&RunOptions::passesText>},
    {"--pause-ms", TakeText<&RunOptions::pauseText>},
    {"--log", TakeFile<&RunOptions::log>},
    {"--record", TakeFile<&RunOptions::record>},
    {"--junit", TakeFile<&RunOptions::junit>},
    {"--cashier", TakeCashier},
    {"--cashier-password", TakeText<&RunOptions::cashierPassword>},
    {"--programming-password", TakeText<&RunOptions::programmingPassword>},
    {"--reports-password", TakeText<&RunOptions::reportsPassword>},
    {"--history", TakeHistory},
    {"--history-show", TakeText<&RunOptions::historyShow>},
    {"--history-init", TakeServer},
};

template <typename Row, size_t n>
const Row* Find(const Row (&rows)[n], const QString& name) {
  for (const Row& r : rows)
    if (name == QLatin1String(r.name)) return &r;
  return nullptr;
}

// What the options ask for together, once each is read: the refusal, or empty.
QString CheckTogether(RunOptions* o, bool passesGiven) {
  if (o->help) return {};
  const int historyCommands = (!o->historyShow.isEmpty()) + o->historySync + (!o->historyInit.isEmpty());
  if (historyCommands > 1) return QStringLiteral("--history-show, --history-sync and --history-init exclude each other");
  if (historyCommands == 1 && (o->runTest || !o->ports.isEmpty()))
    return QStringLiteral("a history command and a test exclude each other");
  if (o->json && o->historyShow.isEmpty()) return QStringLiteral("--json goes with --history-show");
  if (historyCommands == 1) return {};
  if (!o->runTest && o->ports.isEmpty()) return QStringLiteral("--run-test or --ports is needed");
  if (!o->port.isEmpty() && !o->ports.isEmpty()) return QStringLiteral("--port and --ports exclude each other");
  if (o->port.isEmpty() && o->ports.isEmpty()) return QStringLiteral("--port is needed");
  if (!passesGiven) return QStringLiteral("--passes is needed");
  // Each port's files must be its own.
  QStringList names;
  for (const QString& p : o->ports) {
    const QString n = PerPortFile(QStringLiteral("x"), p);
    if (names.contains(n)) return QStringLiteral("--ports: two ports give the same file name %1").arg(n);
    names << n;
  }
  // The page's own rules and messages, before anything is opened.
  QString message;
  if (!regtest::ReadPasses(o->passesText, &o->passes, &message) ||
      !regtest::ReadPause(o->pauseText, &o->pause, &message))
    return message;
  return {};
}

}  // namespace

bool ParseOptions(const QStringList& args, RunOptions* o, QString* error) {
  QStringList seen;
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
    const Flag* flag = Find(kFlags, name);
    const Valued* valued = Find(kValued, name);
    if (!flag && !valued) return fail(QStringLiteral("unknown argument '%1' (see --help)").arg(args[i]));
    if (seen.contains(name)) return fail(QStringLiteral("%1 is given twice").arg(name));
    seen << name;
    if (flag) {
      if (inlineValue) return fail(QStringLiteral("%1 takes no value").arg(name));
      o->*flag->field = true;
      continue;
    }
    if (!inlineValue && i + 1 >= args.size()) return fail(QStringLiteral("%1 needs a value").arg(name));
    const QString value = inlineValue ? *inlineValue : args[++i];
    const QString refusal = valued->take(name, value, o);
    if (!refusal.isEmpty()) return fail(refusal);
  }
  const QString refusal = CheckTogether(o, seen.contains(QStringLiteral("--passes")));
  return refusal.isEmpty() || fail(refusal);
}

QString HelpText() {
  return QStringLiteral(
      "usage: km4410r                                   the window\n"
      "       km4410r --run-test --port PORT --passes N [options]\n"
      "       km4410r --ports PORT,PORT,... --passes N [options]\n"
      "       km4410r --list-ports [--json] [--sysfs DIR]\n"
      "       km4410r --history-show SERIAL [--json] [--history WHERE]\n"
      "                                                 the runs of a register, newest first\n"
      "       km4410r --history-sync [--history WHERE]  send what waits to the shared server\n"
      "       km4410r --history-init URL                create or migrate the shared server's\n"
      "                                                 schema (needs CREATE rights)\n"
      "                                                 the serial ports of this machine\n"
      "                                                 (or of the sysfs tree at DIR)\n"
      "\n"
      "Runs the register test of the page \"Тест РРО\" without a screen: connects as the\n"
      "window's \"Подключить\" does, fills in the page and the passwords and starts it as\n"
      "\"Старт\" does. Every log line goes to standard output as it is written; every\n"
      "message box is one line on standard error and is not waited for.\n"
      "\n"
      "  --port PORT        COM1 to COM255 (COM1 to COM%1 are the window's list), a\n"
      "                     device path, or a register on the network: tcp://HOST:PORT\n"
      "                     (raw TCP) or rfc2217://HOST:PORT (Telnet, RFC 2217)\n"
      "  --ports P1,P2,...  one test per port at once, each in a process of its own; a\n"
      "                     progress line per port while they run, then a summary table\n"
      "  --baud B           %2\n"
      "  --passes N         number of passes, a whole number from 1\n"
      "  --pause-ms MS      pause after each step in ms, from 0 (default %3)\n"
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
      "                     the test passwords (default %4)\n"
      "  --history WHERE    where the run is kept: none, an SQLite file, or\n"
      "                     postgresql://USER@HOST[:PORT]/DB (the default file and that\n"
      "                     server, the password from ~/.pgpass or PGPASSWORD); default\n"
      "                     KM4410R_HISTORY, else %5\n"
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
      "2 bad usage.\n")
      .arg(QString::number(kListedComPorts),
           QString::fromUtf8(LineSpeedsText(kPortTextEnglish))
               .replace(QString::number(kDefaultLineSpeed), QStringLiteral("%1 (default)").arg(kDefaultLineSpeed)),
           QString::fromLatin1(regtest::kDefaultPause), QString::fromLatin1(regtest::kDefaultPassword),
           QDir::toNativeSeparators(history::DefaultSqlitePath()));
}

bool Wanted(int argc, char** argv) {
  return argc > 1 && (strncmp(argv[1], "--", 2) == 0 || strcmp(argv[1], "-h") == 0);
}


}  // namespace station
