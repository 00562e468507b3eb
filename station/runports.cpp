// `km4410r --ports`: one `km4410r --run-test` per port at once, a progress
// line per port while they run, and a summary table when all have ended.
#include <stdio.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <memory>
#include <vector>

#include "history/queries.h"
#include "regtest/logfile.h"
#include "station/platform.h"
#include "station/protocol.h"
#include "station/record.h"
#include "station/station.h"

namespace station {

namespace {

struct Child {
  QString port;
  QString logPath;     // always: the run folder's or --log's
  QString recordPath;  // always: the parent reads it
  std::unique_ptr<QProcess> process;
  QElapsedTimer timer;
  qint64 durationMs = 0;
  QByteArray pending;  // stderr not yet a whole line
  int pass = 0, passes = 0, errors = 0;
  QString step;
  bool finished = false;
  int exitCode = -1;
  bool crashed = false;
};

QString ProgressLine(const Child& c) {
  if (c.finished)
    return QStringLiteral("%1: ended, exit status %2").arg(c.port).arg(c.crashed ? QStringLiteral("(crashed)") : QString::number(c.exitCode));
  if (c.pass == 0) return QStringLiteral("%1: connecting").arg(c.port);
  return QStringLiteral("%1: pass %2 of %3, %4, errors %5").arg(c.port).arg(c.pass).arg(c.passes).arg(c.step).arg(c.errors);
}

// Progress on stderr: on a terminal a block of one line per port, redrawn in
// place; otherwise a line whenever a port's progress changes.
class Display {
 public:
  explicit Display(std::vector<Child>& children) : children_(children), tty_(StderrIsTerminal()) {}
  void changed(const Child& c) {
    if (tty_) {
      redraw();
    } else {
      fprintf(stderr, "%s\n", ProgressLine(c).toUtf8().constData());
      fflush(stderr);
    }
  }
  // A message of a child, above the block.
  void message(const QString& text) {
    if (tty_ && drawn_) fprintf(stderr, "\033[%dA\033[J", drawn_);
    fprintf(stderr, "%s\n", text.toUtf8().constData());
    drawn_ = 0;
    if (tty_) redraw();
    fflush(stderr);
  }
  void redraw() {
    if (!tty_) return;
    if (drawn_) fprintf(stderr, "\033[%dA", drawn_);
    for (const Child& c : children_) fprintf(stderr, "\r\033[K%s\n", ProgressLine(c).toUtf8().constData());
    drawn_ = static_cast<int>(children_.size());
    fflush(stderr);
  }

 private:
  std::vector<Child>& children_;
  bool tty_;
  int drawn_ = 0;
};

void TakeLines(Child& c, Display& display) {
  c.pending += c.process->readAllStandardError();
  qsizetype nl;
  while ((nl = c.pending.indexOf('\n')) >= 0) {
    const QString line = QString::fromUtf8(c.pending.left(nl));
    c.pending.remove(0, nl + 1);
    Progress p;
    if (ParseProgressLine(line, &p)) {
      c.pass = p.pass;
      c.passes = p.passes;
      c.errors = p.errors;
      c.step = p.title;
      display.changed(c);
      continue;
    }
    QString text = line;
    if (text.startsWith(QLatin1String("km4410r: "))) text = text.mid(9);
    display.message(QStringLiteral("%1: %2").arg(c.port, text));
  }
}

QStringList ChildArguments(const RunOptions& o, const Child& c) {
  QStringList a = {QStringLiteral("--run-test"), QStringLiteral("--port"), c.port,
                   QStringLiteral("--baud"), QString::number(o.baud),
                   QStringLiteral("--passes"), o.passesText,
                   QStringLiteral("--pause-ms"), o.pauseText,
                   QStringLiteral("--record"), c.recordPath,
                   QStringLiteral("--cashier"), QString::number(o.cashier),
                   QStringLiteral("--cashier-password"), o.cashierPassword,
                   QStringLiteral("--programming-password"), o.programmingPassword,
                   QStringLiteral("--reports-password"), o.reportsPassword,
                   QStringLiteral("--progress")};
  if (o.fiscal) a << QStringLiteral("--fiscal");
  a << QStringLiteral("--log") << c.logPath;
  if (!o.history.isEmpty()) a << QStringLiteral("--history") << o.history;
  if (o.logUtf8) a << QStringLiteral("--log-utf8");
  return a;
}

}  // namespace

QString MakeRunFolder(const QString& parent, const QDateTime& when, QString* reason) {
  const QString base = parent + QStringLiteral("/km4410r-run-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
  QDir dir(parent);
  // Two runs in one second get a folder each.
  for (int n = 1; n < 100; ++n) {
    const QString path = n == 1 ? base : QStringLiteral("%1-%2").arg(base).arg(n);
    if (QFileInfo::exists(path)) continue;
    if (dir.mkdir(path)) return path;
    break;
  }
  if (reason) *reason = QStringLiteral("cannot make a run folder in %1").arg(QDir::toNativeSeparators(parent));
  return QString();
}

namespace {

// Every register's log and record are kept: in the run folder (made here)
// unless --log and --record name them. False with a message when the folder
// cannot be made.
bool PlanChildren(const RunOptions& o, std::vector<Child>* children) {
  QString runFolder;
  if (o.log.isEmpty() || o.record.isEmpty()) {
    QString reason;
    runFolder = MakeRunFolder(QDir::currentPath(), QDateTime::currentDateTime(), &reason);
    if (runFolder.isEmpty()) {
      fprintf(stderr, "km4410r: %s\n", reason.toUtf8().constData());
      return false;
    }
  }
  *children = std::vector<Child>(static_cast<size_t>(o.ports.size()));
  for (qsizetype i = 0; i < o.ports.size(); ++i) {
    Child& c = (*children)[static_cast<size_t>(i)];
    c.port = o.ports[i];
    const QString name = PortFileName(c.port);
    c.logPath = o.log.isEmpty() ? runFolder + QLatin1Char('/') + name + QStringLiteral(".log")
                                : PerPortFile(o.log, c.port);
    c.recordPath = o.record.isEmpty() ? runFolder + QLatin1Char('/') + name + QStringLiteral(".json")
                                      : PerPortFile(o.record, c.port);
    // A record of an earlier run must not stand in for one this run failed to write.
    QFile::remove(c.recordPath);
  }
  if (!runFolder.isEmpty()) fprintf(stderr, "km4410r: run folder %s\n", QDir::toNativeSeparators(runFolder).toUtf8().constData());
  return true;
}

// Starts a child per port and waits until all have ended, passing a stop
// request on to them.
void RunChildren(const RunOptions& o, const QString& program, std::vector<Child>& children) {
  Display display(children);
  QEventLoop loop;
  int running = 0;
  const auto ended = [&running, &loop] {
    if (--running == 0) loop.quit();
  };
  for (Child& c : children) {
    c.process = std::make_unique<QProcess>();
    c.process->setProgram(program);
    c.process->setArguments(ChildArguments(o, c));
    c.process->setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(c.process.get(), &QProcess::readyReadStandardError, [&c, &display] { TakeLines(c, display); });
    QObject::connect(c.process.get(), &QProcess::finished, [&, ptr = &c](int code, QProcess::ExitStatus st) {
      Child& ch = *ptr;
      TakeLines(ch, display);
      ch.durationMs = ch.timer.elapsed();
      ch.finished = true;
      ch.exitCode = code;
      ch.crashed = st != QProcess::NormalExit;
      display.changed(ch);
      ended();
    });
    QObject::connect(c.process.get(), &QProcess::errorOccurred, [&, ptr = &c](QProcess::ProcessError e) {
      if (e != QProcess::FailedToStart) return;
      Child& ch = *ptr;
      ch.finished = true;
      ch.crashed = true;
      display.message(QStringLiteral("%1: the test could not be started: %2").arg(ch.port, ch.process->errorString()));
      ended();
    });
    c.timer.start();
    ++running;
    c.process->start();
  }
  display.redraw();
  QTimer poll;
  bool passedOn = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!ParentStopRequested() || passedOn) return;
    passedOn = true;
    for (Child& c : children)
      if (!c.finished) AskChildToStop(*c.process);
  });
  poll.start(100);
  if (running > 0) loop.exec();
  poll.stop();
}

// The child's record; for a child that left none, what the JUnit file says
// of its register.
QJsonObject RecordOf(const Child& c, bool* hasRecord) {
  QFile file(c.recordPath);
  QJsonObject r;
  if (file.open(QIODevice::ReadOnly)) r = QJsonDocument::fromJson(file.readAll()).object();
  *hasRecord = !r.isEmpty();
  if (!*hasRecord) {
    r[K(key::kPort)] = c.port;
    r[K(key::kVerdict)] = K(c.crashed ? kCrashed : kNoRecord);
    r[K(key::kMessages)] = QJsonArray{QStringLiteral("exit status %1").arg(c.exitCode)};
  }
  return r;
}

// A row of the summary table: port, passes, errors, duration, log, verdict,
// clock s/day. `passed` when the child passed.
QStringList SummaryRow(const Child& c, const QJsonObject& r, bool hasRecord, int passes, bool* passed) {
  QString verdict = r.value(K(key::kVerdict)).toString();
  *passed = !c.crashed && c.exitCode == kExitPassed && verdict == QLatin1String(kPassed);
  if (*passed != (verdict == QLatin1String(kPassed))) verdict += QStringLiteral(" (exit %1)").arg(c.exitCode);
  const QJsonObject lost = r.value(K(key::kLinkLost)).toObject();
  if (!lost.isEmpty() && verdict.startsWith(QLatin1String(kLinkLost)))
    verdict += QStringLiteral(" (pass %1, %2)").arg(lost.value(K(key::kPass)).toInt()).arg(lost.value(K(key::kStep)).toString());
  QString clock = QStringLiteral("-");
  const QJsonObject cl = r.value(K(key::kClock)).toObject();
  if (cl.contains(K(key::kRate)))
    clock = QStringLiteral("%1 ±%2")
                .arg(cl.value(K(key::kRate)).toDouble(), 0, 'f', 0)
                .arg(cl.value(K(key::kResolution)).toDouble(), 0, 'f', 0);
  return {c.port,
          hasRecord ? QStringLiteral("%1/%2").arg(r.value(K(key::kPassesDone)).toInt()).arg(passes)
                    : QStringLiteral("-"),
          hasRecord ? QString::number(r.value(K(key::kErrors)).toInt()) : QStringLiteral("-"),
          QStringLiteral("%1s").arg(c.durationMs / 1000.0, 0, 'f', 1),
          QDir::toNativeSeparators(c.logPath),
          verdict,
          clock};
}

// Each register's verdict before this run, from the history: "passed
// 2024-03-01 10:15", or "-" for a register seen the first time.
QStringList LastTimes(const RunOptions& o, const QList<QJsonObject>& records) {
  QStringList out;
  const std::unique_ptr<history::Store> store = OpenHistory(o);
  std::unique_ptr<history::Reader> reader;
  if (store && store->usable()) reader = std::make_unique<history::Reader>(*store);
  for (const QJsonObject& r : records) {
    const QString serial = r.value(K(key::kRegister)).toObject().value(QStringLiteral("serial_number")).toString();
    std::optional<history::RunRow> before;
    if (reader && !serial.isEmpty()) before = reader->RunBefore(serial, r.value(K(key::kRunId)).toString());
    out << (before ? QStringLiteral("%1 %2").arg(before->verdict, HistoryTime(before->startMs, before->utcOffsetMin))
                   : QStringLiteral("-"));
  }
  return out;
}

QString Padded(const QString& text, int width) { return text + QString(width - text.size(), QLatin1Char(' ')); }

// The rows in columns as wide as their widest cell, the last unpadded.
void PrintTable(const QList<QStringList>& rows) {
  std::vector<int> width(static_cast<size_t>(rows.first().size()));
  for (size_t i = 0; i < width.size(); ++i)
    for (const QStringList& row : rows) width[i] = std::max(width[i], static_cast<int>(row[qsizetype(i)].size()));
  for (const QStringList& row : rows) {
    QString line;
    for (qsizetype i = 0; i < row.size(); ++i)
      line += (i ? QStringLiteral("  ") : QString()) +
              (i + 1 < row.size() ? Padded(row[i], width[static_cast<size_t>(i)]) : row[i]);
    printf("%s\n", line.toUtf8().constData());
  }
  fflush(stdout);
}

}  // namespace

int RunPorts(const RunOptions& o, const QString& program) {
  // A terminal's Ctrl-C reaches the children by itself (the same process
  // group); a terminate request to this process is passed on to them. Either
  // way the children end their tests at the next stop check and the table
  // follows.
  InstallParentStopRequest();
  std::vector<Child> children;
  if (!PlanChildren(o, &children)) return kExitFailed;
  RunChildren(o, program, children);

  // The summary, from each child's record.
  QList<QStringList> rows = {{QStringLiteral("port"), QStringLiteral("passes"), QStringLiteral("errors"),
                              QStringLiteral("duration"), QStringLiteral("log"), QStringLiteral("verdict"),
                              QStringLiteral("clock s/day"), QStringLiteral("last time")}};
  QList<QJsonObject> records;
  bool allPassed = true;
  for (const Child& c : children) {
    bool hasRecord = false, passed = false;
    records << RecordOf(c, &hasRecord);
    rows << SummaryRow(c, records.last(), hasRecord, o.passes, &passed);
    allPassed = allPassed && passed;
  }
  const QStringList last = LastTimes(o, records);
  for (qsizetype i = 0; i < last.size(); ++i) rows[i + 1] << last[i];
  PrintTable(rows);
  if (!o.junit.isEmpty()) {
    QString reason;
    if (!regtest::SaveFileBytes(o.junit, JUnitXml(records), &reason)) {
      fprintf(stderr, "km4410r: %s: %s\n", o.junit.toUtf8().constData(), reason.toUtf8().constData());
      allPassed = false;
    }
  }
  return allPassed ? kExitPassed : kExitFailed;
}

}  // namespace station
