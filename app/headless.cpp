#include "app/headless.h"

#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "app/Mainform.h"
#include "app/cp1251text.h"
#include "app/program.h"
#include "driver/error_messages.h"
#include "driver/trace.h"
#include "regtest/logfile.h"
#include "regtest/registertest.h"

namespace headless {

namespace {

using SteadyClock = std::chrono::steady_clock;

void PrintErr(const QString& text) {
  fprintf(stderr, "km4410r: %s\n", OneLine(text).toUtf8().constData());
  fflush(stderr);
}

// ---- the command line --------------------------------------------------------

const int kSpeeds[] = {9600, 19200, 57600, 115200};

bool ValidPort(const QString& port) {
  if (port.startsWith(QLatin1Char('/'))) return port.size() > 1;
  static const QRegularExpression com(QStringLiteral("^COM([1-9]|1[0-9]|20)$"));
  return com.match(port).hasMatch();
}

bool ParentFolderExists(const QString& file) {
  return QFileInfo(QFileInfo(file).absolutePath()).isDir();
}

}  // namespace

QString OneLine(const QString& text) {
  QStringList pieces = text.split(QLatin1Char('\n'));
  for (QString& p : pieces) p = p.trimmed();
  return pieces.join(QLatin1Char(' '));
}

QString PerPortFile(const QString& file, const QString& port) {
  QString name = port.startsWith(QLatin1Char('/')) ? QFileInfo(port).fileName() : port;
  if (name.isEmpty()) name = QStringLiteral("port");
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
        QStringLiteral("--record"), QStringLiteral("--cashier"), QStringLiteral("--cashier-password"),
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
        return fail(QStringLiteral("--port '%1': COM1 to COM20 or a device path").arg(value));
      o->port = value;
    } else if (name == QLatin1String("--ports")) {
      const QStringList ports = value.split(QLatin1Char(','));
      for (const QString& p : ports) {
        if (!ValidPort(p))
          return fail(QStringLiteral("--ports: '%1' is not COM1 to COM20 or a device path").arg(p));
        if (o->ports.contains(p)) return fail(QStringLiteral("--ports: %1 is given twice").arg(p));
        o->ports << p;
      }
    } else if (name == QLatin1String("--baud")) {
      bool known = false;
      for (int s : kSpeeds)
        if (value == QString::number(s)) known = true;
      if (!known) return fail(QStringLiteral("--baud '%1': 9600, 19200, 57600 or 115200").arg(value));
      o->baud = value.toInt();
    } else if (name == QLatin1String("--passes")) {
      o->passesText = value;
      passesGiven = true;
    } else if (name == QLatin1String("--pause-ms")) {
      o->pauseText = value;
    } else if (name == QLatin1String("--log")) {
      if (value.isEmpty() || !ParentFolderExists(value))
        return fail(QStringLiteral("--log '%1': no such folder").arg(value));
      o->log = value;
    } else if (name == QLatin1String("--record")) {
      if (value.isEmpty() || !ParentFolderExists(value))
        return fail(QStringLiteral("--record '%1': no such folder").arg(value));
      o->record = value;
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
      "       km4410r --run-test --port COMn|PATH --passes N [options]\n"
      "       km4410r --ports PORT,PORT,... --passes N [options]\n"
      "\n"
      "Runs the register test of the page \"Тест РРО\" without a screen: connects as the\n"
      "window's \"Подключить\" does, fills in the page and the passwords and starts it as\n"
      "\"Старт\" does. Every log line goes to standard output as it is written; every\n"
      "message box is one line on standard error and is not waited for.\n"
      "\n"
      "  --port COMn|PATH   COM1 to COM20 (the window's list) or a device path\n"
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
      "  --cashier N        the cashier of the receipts, 1 to 13 (default 1)\n"
      "  --cashier-password P, --programming-password P, --reports-password P\n"
      "                     the test passwords (default 9162)\n"
      "\n"
      "With --ports, --log FILE and --record FILE name one file per port, the port's\n"
      "name inserted before the extension: run.log gives run-COM3.log (a device path\n"
      "gives its last part: run-ttyUSB0.log).\n"
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

ClockRate RateOf(long long registerSeconds, double pcSeconds) {
  ClockRate r;
  if (!(pcSeconds > 0)) return r;
  r.valid = true;
  r.rate = (static_cast<double>(registerSeconds) - pcSeconds) / pcSeconds * 86400.0;
  r.resolution = 1.0 / pcSeconds * 86400.0;
  return r;
}

namespace {

// ---- the services without a screen -------------------------------------------

volatile sig_atomic_t gStopSignal = 0;

void OnStopSignal(int) { gStopSignal = 1; }

class HeadlessServices final : public ui::Services {
 public:
  void message(const QString& text) override { PrintErr(text); }
  void error(const QString& text) override { PrintErr(text); }
  void processMessages() override {
    QCoreApplication::processEvents();
    // A stop signal is the Stop button: the run sees it at this stop check.
    if (gStopSignal && !stopPressed_ && Form1) {
      stopPressed_ = true;
      Form1->Button4Click();
    }
  }
  void sleep(int ms) override {
    // A real sleep; a stop signal cuts it short (the run stops right after).
    const auto until = SteadyClock::now() + std::chrono::milliseconds(ms);
    while (!gStopSignal) {
      const auto left = until - SteadyClock::now();
      if (left <= SteadyClock::duration::zero()) break;
      std::this_thread::sleep_for(std::min<SteadyClock::duration>(left, std::chrono::milliseconds(100)));
    }
  }
  QDateTime now() override { return QDateTime::currentDateTime(); }
  QString chooseSaveFile(QWidget*, const QString&, const QString&) override { return QString(); }
  void endApplication() override {}
  int execModal(QDialog& dialog, const std::function<void()>& shown) override {
    // The dialog does its work when it appears; what it then shows goes to
    // stderr and it counts as closed.
    shown();
    QStringList lines;
    for (const QPlainTextEdit* memo : dialog.findChildren<QPlainTextEdit*>()) {
      const QString text = memo->toPlainText();
      if (!text.isEmpty()) lines << text.split(QLatin1Char('\n'));
    }
    PrintErr(lines.isEmpty() ? dialog.windowTitle()
                             : dialog.windowTitle() + QStringLiteral(": ") + lines.join(QStringLiteral("; ")));
    return QDialog::Rejected;
  }

 private:
  bool stopPressed_ = false;
};

// ---- the record of a run ---------------------------------------------------------

struct FlagName {
  uint32_t flag;
  const char* name;
};
const FlagName kFlagNames[] = {
    {kFlagSyntax, "syntax_error"},
    {kFlagBadCommand, "invalid_command"},
    {kFlagDateTime, "date_time_invalid"},
    {kFlagPrinter, "print_error"},
    {kFlagOverflow, "arithmetic_overflow"},
    {kFlagNotAllowed, "command_not_allowed"},
    {kFlagRamReset, "ram_reset"},
    {kFlagReturnReceipt, "return_receipt"},
    {kFlagRamDestroyed, "ram_destroyed"},
    {kFlagNoPaper, "no_paper"},
    {kFlagFiscalOpen, "fiscal_receipt_open"},
    {kFlagNonFiscalOpen, "non_fiscal_receipt_open"},
    {kFlagCoverOpen, "cover_open"},
    {kFlagNoFiscalModule, "no_fiscal_memory_module"},
    {kFlagNumbersProgrammed, "numbers_programmed"},
    {kFlagFmWriteError, "fiscal_memory_write_error"},
    {kFlagFmFull, "fiscal_memory_full"},
    {kFlagFmReadOnly, "fiscal_memory_read_only"},
    {kFlagLastZError, "last_z_report_error"},
    {kFlagFmLittleRoom, "fiscal_memory_little_room"},
    {kFlagFmFormatted, "fiscal_memory_formatted"},
    {kFlagFiscalized, "fiscalized"},
    {kFlagTaxRatesDefined, "tax_rates_defined"},
    {kFlagChecksum, "checksum_error"},
    {kFlagNak, "refused"},
    {kFlagTimeout, "timeout"},
    {kFlagGeneral, "general_error"},
    {kFlagFmGeneral, "fiscal_memory_general_error"},
};

QJsonArray FlagNames(uint32_t flags) {
  QJsonArray names;
  for (const FlagName& f : kFlagNames)
    if (flags & f.flag) names.append(QLatin1String(f.name));
  return names;
}

// ISO 8601 with the offset written out (+00:00 rather than Z).
QString Iso(const QDateTime& t) {
  const int offset = t.offsetFromUtc();
  const int minutes = (offset < 0 ? -offset : offset) / 60;
  return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
         QStringLiteral("%1%2:%3")
             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
             .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString Hex(uint32_t v, int digits) {
  return QStringLiteral("0x%1").arg(v, digits, 16, QLatin1Char('0')).toUpper().replace(QLatin1String("0X"), QLatin1String("0x"));
}

struct CommandRecord {
  int code = 0;
  uint32_t flags = 0;
  int durationMs = 0;
};

struct StepRecord {
  QString title;
  SteadyClock::time_point started;
  qint64 durationMs = 0;
  int errorsBefore = 0;
  int errorsAfter = 0;
  std::vector<CommandRecord> commands;
};

struct Reading {
  bool ok = false;
  QString text;                // the register's answer, DD-MM-YY HH:MM:SS
  long long registerSecs = 0;  // its seconds on a day count
  bool parsed = false;
  QDateTime pc;                // the PC's time when the answer had come
};

struct PassRecord {
  int number = 0;
  bool completed = false;
  std::vector<StepRecord> steps;
  std::vector<Reading> readings;
};

const QString kTimerStep = QStringLiteral("Тест таймера");

// Seconds of a register's clock text "DD-MM-YY HH:MM:SS" on a running count.
bool RegisterSeconds(const QString& text, long long* secs) {
  const QStringList parts = text.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (parts.size() != 2) return false;
  const QDate date = QDate::fromString(parts[0], QStringLiteral("dd-MM-yy"));
  const QTime time = QTime::fromString(parts[1], QStringLiteral("HH:mm:ss"));
  if (!date.isValid() || !time.isValid()) return false;
  *secs = date.toJulianDay() * 86400LL + time.msecsSinceStartOfDay() / 1000;
  return true;
}

class Recorder final : public regtest::RunObserver {
 public:
  explicit Recorder(const RunOptions& o) : o_(o) {}

  // ---- from the register test
  void LogLine(const QString& line) override {
    const QByteArray bytes = line.toUtf8();
    fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    fputc('\n', stdout);
    fflush(stdout);
  }
  void StepStarted(int pass, int passes, const QString& title) override {
    const int errors = Form1 ? Form1->RunErrorTotal : 0;
    CloseStep(errors);
    if (passes_.empty() || passes_.back().number != pass) {
      if (!passes_.empty()) passes_.back().completed = true;
      PassRecord p;
      p.number = pass;
      passes_.push_back(p);
    }
    StepRecord s;
    s.title = title;
    s.started = SteadyClock::now();
    s.errorsBefore = errors;
    passes_.back().steps.push_back(s);
    stepOpen_ = true;
    if (o_.progress) {
      fprintf(stderr, "@progress %d %d %d %s\n", pass, passes, errors, title.toUtf8().constData());
      fflush(stderr);
    }
  }
  void RunEnded(regtest::RunEnd end, int errors) override {
    CloseStep(errors);
    if (end == regtest::RunEnd::Completed && !passes_.empty()) passes_.back().completed = true;
    end_ = end;
    errors_ = errors;
  }

  // ---- from the driver
  static void OnExchange(const ExchangeTrace& t, void* context) {
    Recorder* r = static_cast<Recorder*>(context);
    r->Exchange(t);
    if (r->previous_) r->previous_(t, r->previousContext_);
  }
  // The observer that was set before the run's, called on and put back.
  ExchangeObserver previous_ = nullptr;
  void* previousContext_ = nullptr;

  std::optional<regtest::RunEnd> end_;
  int errors_ = 0;
  QDateTime started_ = QDateTime::currentDateTime();
  QDateTime ended_;
  QString device_;

  QJsonObject Json(const QString& verdict, int exitStatus) const {
    QJsonObject r;
    r[QStringLiteral("program")] = QStringLiteral("km4410r " KM_VERSION);
    r[QStringLiteral("port")] = o_.port;
    r[QStringLiteral("device")] = device_;
    r[QStringLiteral("speed")] = o_.baud;
    r[QStringLiteral("register")] = identity_;
    r[QStringLiteral("start")] = Iso(started_);
    r[QStringLiteral("end")] = Iso(ended_.isValid() ? ended_ : QDateTime::currentDateTime());
    QJsonObject inputs;
    inputs[QStringLiteral("passes")] = o_.passes;
    inputs[QStringLiteral("pause_ms")] = o_.pause;
    inputs[QStringLiteral("fiscal")] = o_.fiscal;
    inputs[QStringLiteral("cashier")] = o_.cashier;
    r[QStringLiteral("inputs")] = inputs;
    r[QStringLiteral("start_commands")] = Commands(startCommands_);

    QJsonArray passes;
    int done = 0;
    double rateSum = 0, resolutionSum = 0;
    int measured = 0;
    for (const PassRecord& p : passes_) {
      QJsonObject pass;
      pass[QStringLiteral("pass")] = p.number;
      pass[QStringLiteral("completed")] = p.completed;
      if (p.completed) ++done;
      QJsonArray steps;
      for (const StepRecord& s : p.steps) {
        QJsonObject step;
        step[QStringLiteral("title")] = s.title;
        step[QStringLiteral("outcome")] = s.errorsAfter > s.errorsBefore ? QStringLiteral("failed") : QStringLiteral("ok");
        step[QStringLiteral("errors")] = s.errorsAfter - s.errorsBefore;
        step[QStringLiteral("duration_ms")] = s.durationMs;
        step[QStringLiteral("commands")] = Commands(s.commands);
        steps.append(step);
      }
      pass[QStringLiteral("steps")] = steps;
      QJsonObject clock;
      QJsonArray readings;
      for (const Reading& rd : p.readings) {
        QJsonObject o;
        o[QStringLiteral("ok")] = rd.ok;
        o[QStringLiteral("register")] = rd.text;
        o[QStringLiteral("pc")] = Iso(rd.pc);
        readings.append(o);
      }
      clock[QStringLiteral("readings")] = readings;
      if (p.readings.size() == 2 && p.readings[0].parsed && p.readings[1].parsed) {
        const double pcSecs = p.readings[0].pc.msecsTo(p.readings[1].pc) / 1000.0;
        const ClockRate rate = RateOf(p.readings[1].registerSecs - p.readings[0].registerSecs, pcSecs);
        if (rate.valid) {
          clock[QStringLiteral("register_seconds")] =
              static_cast<double>(p.readings[1].registerSecs - p.readings[0].registerSecs);
          clock[QStringLiteral("pc_seconds")] = pcSecs;
          clock[QStringLiteral("rate_s_per_day")] = rate.rate;
          clock[QStringLiteral("resolution_s_per_day")] = rate.resolution;
          rateSum += rate.rate;
          resolutionSum += rate.resolution;
          ++measured;
        }
      }
      pass[QStringLiteral("clock")] = clock;
      passes.append(pass);
    }
    r[QStringLiteral("passes")] = passes;
    r[QStringLiteral("passes_done")] = done;
    QJsonObject clock;
    clock[QStringLiteral("passes_measured")] = measured;
    if (measured > 0) {
      // The mean of the passes' rates; each reading is whole seconds, so each
      // rate is known to ±1 s over its interval, and so is their mean.
      clock[QStringLiteral("rate_s_per_day")] = rateSum / measured;
      clock[QStringLiteral("resolution_s_per_day")] = resolutionSum / measured;
    }
    r[QStringLiteral("clock")] = clock;
    r[QStringLiteral("verdict")] = verdict;
    r[QStringLiteral("errors")] = errors_;
    r[QStringLiteral("exit_status")] = exitStatus;
    return r;
  }

 private:
  void CloseStep(int errors) {
    if (!stepOpen_) return;
    StepRecord& s = passes_.back().steps.back();
    s.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - s.started).count();
    s.errorsAfter = errors;
    stepOpen_ = false;
  }

  void Exchange(const ExchangeTrace& t) {
    CommandRecord c;
    c.code = t.command;
    c.flags = t.answer ? t.answer->ErrorFlags : 0;
    c.durationMs = t.durationMs;
    (stepOpen_ ? passes_.back().steps.back().commands : startCommands_).push_back(c);
    if (!t.answer) return;
    const RetData& a = *t.answer;
    const bool ok = FirstError(a.ErrorFlags) == nullptr;
    const auto field = [&a](int i) {
      return i < a.FieldCount && a.Fields[i] ? fromCp1251(a.Fields[i]) : QString();
    };
    if (t.command == 0x5A && ok && !identityDiagnostic_) {
      identityDiagnostic_ = true;
      identity_[QStringLiteral("firmware")] = field(0);
      identity_[QStringLiteral("firmware_date")] = field(1);
      identity_[QStringLiteral("firmware_time")] = field(2);
      identity_[QStringLiteral("switches")] = field(4);
      identity_[QStringLiteral("serial_number")] = field(6);
      identity_[QStringLiteral("fiscal_number")] = field(7);
      identity_[QStringLiteral("diagnostic_answer")] = fromCp1251(a.AnswerText);
    }
    if (t.command == 0x63 && ok && !identityTax_) {
      identityTax_ = true;
      identity_[QStringLiteral("tax_number")] = field(0);
      identity_[QStringLiteral("tax_number_kind")] = field(1);
    }
    if (t.command == 0x3E && stepOpen_ && passes_.back().steps.back().title == kTimerStep) {
      Reading r;
      r.ok = ok;
      r.text = ok ? fromCp1251(a.AnswerText) : QString();
      r.parsed = ok && RegisterSeconds(r.text, &r.registerSecs);
      r.pc = QDateTime::fromMSecsSinceEpoch(t.sentAtMs + t.durationMs);
      passes_.back().readings.push_back(r);
    }
  }

  static QJsonArray Commands(const std::vector<CommandRecord>& commands) {
    QJsonArray out;
    for (const CommandRecord& c : commands) {
      QJsonObject o;
      o[QStringLiteral("code")] = c.code;
      o[QStringLiteral("code_hex")] = Hex(static_cast<uint32_t>(c.code), 2);
      o[QStringLiteral("name")] = fromCp1251(GetCommandName(c.code));
      o[QStringLiteral("flags")] = static_cast<qint64>(c.flags);
      o[QStringLiteral("flags_hex")] = Hex(c.flags, 8);
      o[QStringLiteral("flag_names")] = FlagNames(c.flags);
      if (const ErrorMessage* e = FirstError(c.flags)) o[QStringLiteral("error")] = QString::fromUtf8(e->text);
      o[QStringLiteral("duration_ms")] = c.durationMs;
      out.append(o);
    }
    return out;
  }

  const RunOptions& o_;
  QJsonObject identity_;
  bool identityDiagnostic_ = false;
  bool identityTax_ = false;
  std::vector<CommandRecord> startCommands_;
  std::vector<PassRecord> passes_;
  bool stepOpen_ = false;
};

// Verdict and exit status of a run that reached the register test.
void Judge(const std::optional<regtest::RunEnd>& end, int errors, QString* verdict, int* status) {
  using regtest::RunEnd;
  if (!end) {
    *verdict = QStringLiteral("failed");
    *status = kExitFailed;
    return;
  }
  switch (*end) {
    case RunEnd::Completed:
      *verdict = errors == 0 ? QStringLiteral("passed") : QStringLiteral("failed");
      *status = errors == 0 ? kExitPassed : kExitFailed;
      return;
    case RunEnd::Stopped:
      *verdict = QStringLiteral("stopped");
      *status = kExitFailed;
      return;
    case RunEnd::Aborted:
      *verdict = QStringLiteral("aborted");
      *status = kExitFailed;
      return;
    case RunEnd::NoInformation:
    case RunEnd::NotReady:
      *verdict = QStringLiteral("not ready");
      *status = kExitNotReady;
      return;
    case RunEnd::BadInput:
      *verdict = QStringLiteral("bad usage");
      *status = kExitUsage;
      return;
    case RunEnd::HeaderRefused:
      *verdict = QStringLiteral("failed");
      *status = kExitFailed;
      return;
  }
}

// The offscreen platform's remarks about what it cannot do are no news here;
// everything else Qt says goes to stderr.
void QuietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text == QLatin1String("This plugin does not support propagateSizeHints()")) return;
  if (text.startsWith(QLatin1String("QStandardPaths: "))) return;
  fprintf(stderr, "%s\n", qFormatLogMessage(type, context, text).toUtf8().constData());
}

}  // namespace

int RunOne(const RunOptions& o) {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  // A reader of stdout that goes away (| head) must not end the test before
  // its log and record are written.
  signal(SIGPIPE, SIG_IGN);

  HeadlessServices services;
  ui::Services* previous = ui::install(&services);
  CreateWindows();
  Form1->show();
  QCoreApplication::processEvents();

  Recorder recorder(o);
  recorder.previous_ = GetExchangeObserver(&recorder.previousContext_);
  SetExchangeObserver(&Recorder::OnExchange, &recorder);

  // The bottom row as the user sets it, then Подключить.
  if (o.port.startsWith(QLatin1Char('/'))) {
    Form1->ui.ComboBox1->setEditText(o.port);
  } else {
    Form1->ui.ComboBox1->setCurrentIndex(o.port.mid(3).toInt() - 1);
  }
  int speedIndex = 1;
  for (int i = 0; i < 4; ++i)
    if (kSpeeds[i] == o.baud) speedIndex = i;
  Form1->ui.ComboBox3->setCurrentIndex(speedIndex);
  QString verdict;
  int status = kExitPassed;
  // In the window an exception that escapes a handler is shown and the
  // program goes on; here it ends the test as failed, with its files.
  const auto guarded = [&](const std::function<void()>& handler) {
    try {
      handler();
      return true;
    } catch (const std::exception& e) {
      PrintErr(QString::fromLocal8Bit(e.what()));
    } catch (...) {
      PrintErr(QStringLiteral("unknown error"));
    }
    verdict = QStringLiteral("failed");
    status = kExitFailed;
    return false;
  };
  const bool connected = guarded([] { Form1->Button2Click(); });
  recorder.device_ = QFile::decodeName(GetLastPortDevice());

  if (!connected) {
    // verdict and status set by the guard
  } else if (!Form1->isConnected()) {
    verdict = QStringLiteral("port not opened");
    status = kExitNotReady;
  } else if (Form1->ErrorCounter > 0) {
    verdict = QStringLiteral("not ready");
    status = kExitNotReady;
  } else {
    // The page and the test passwords as the user fills them in, then Старт.
    Ui::TabSheet1& page = Form1->tab1;
    page.ComboBox2->setEditText(o.passesText);
    page.Edit1->setText(o.pauseText);
    page.CheckBox1->setChecked(!o.fiscal);
    Ui::TabSheet8& passwords = Form1->tab8;
    passwords.ComboBox8->setCurrentIndex(o.cashier - 1);
    passwords.Edit21->setText(o.cashierPassword);
    passwords.Edit22->setText(o.programmingPassword);
    passwords.Edit23->setText(o.reportsPassword);

    regtest::RunObserver* previousObserver = regtest::SetRunObserver(&recorder);
    const bool ran = guarded([] { Form1->Button3Click(); });
    regtest::SetRunObserver(previousObserver);
    if (ran) Judge(recorder.end_, recorder.errors_, &verdict, &status);
  }
  SetExchangeObserver(recorder.previous_, recorder.previousContext_);
  recorder.ended_ = QDateTime::currentDateTime();

  // The log as Сохранить writes it, from the page's log itself.
  if (!o.log.isEmpty()) {
    const QStringList lines = Form1->LogLines();
    QString reason;
    const bool saved = o.logUtf8 ? regtest::SaveFileBytes(o.log, regtest::LogFileBytesUtf8(lines), &reason)
                                 : regtest::SaveLogFile(o.log, lines, &reason);
    if (!saved) {
      PrintErr(QStringLiteral("%1: %2").arg(o.log, reason));
      if (status == kExitPassed) status = kExitFailed;
    }
  }
  if (!o.record.isEmpty()) {
    // A record that cannot be written makes the run fail; the verdict in it
    // is the test's own.
    const QByteArray bytes = QJsonDocument(recorder.Json(verdict, status)).toJson(QJsonDocument::Indented);
    QString reason;
    if (!regtest::SaveFileBytes(o.record, bytes, &reason)) {
      PrintErr(QStringLiteral("%1: %2").arg(o.record, reason));
      if (status == kExitPassed) status = kExitFailed;
    }
  }

  DestroyWindows();
  ui::install(previous);
  return status;
}

int Main(int argc, char** argv) {
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  RunOptions o;
  QString error;
  if (!ParseOptions(args, &o, &error)) {
    PrintErr(error);
    return kExitUsage;
  }
  if (o.help) {
    fputs(HelpText().toUtf8().constData(), stdout);
    return kExitPassed;
  }
  if (!o.ports.isEmpty()) {
    QCoreApplication app(argc, argv);
    return RunPorts(o, QCoreApplication::applicationFilePath());
  }
  // No display needed: the offscreen platform, unless one is asked for.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietOffscreen);
  // Tests and benchmarks shorten the timer check's minute.
  bool ok = false;
  const int timerMs = qEnvironmentVariableIntValue("KM4410R_TEST_TIMER_MS", &ok);
  if (ok && timerMs > 0) regtest::SetTimerWaitForTests(timerMs);
  KmApplication app(argc, argv);
  return RunOne(o);
}

}  // namespace headless
