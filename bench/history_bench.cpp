// The history's figures: a step's write on SQLite and on a loopback
// PostgreSQL; "every run of one serial" and "failure rate per firmware per
// week" over 100,000 runs and 1,000,000 steps on both; uploading 1,000 runs.
// The PostgreSQL figures need tests/history/pg_throwaway.sh (a throwaway
// cluster of postgresql-15); without it they are left out.
#include <stdio.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <vector>

#include "driver/command_codes.h"
#include "history/queries.h"
#include "tests/history/history_fixture.h"

using namespace history_test;

namespace {

constexpr int kRuns = 100000;
constexpr int kStepsPerRun = 10;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The mean time of a step's write (StepBegun and StepEnded, one failed command in ten).
double StepWriteUs(history::Store& store) {
  history::RunWriter w(&store);
  w.Start(Station(), 1000, history::RunKind::RunTest);
  w.Attach();
  Diagnostic(QStringLiteral("BENCH"), QStringLiteral("FN"));
  const int steps = 2000;
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < steps; ++i) {
    const regtest::StepInfo s = Step(regtest::StepKind::Status, i / 20 + 1, i / 10);
    w.StepBegun(s);
    if (i % 10 == 0) Exchange(kCmdGetStatus, {}, kFlagNoPaper);
    w.StepEnded(s, i / 10 + (i % 10 == 0));
  }
  const double us = t.nsecsElapsed() / 1000.0 / steps;
  w.Detach();
  w.Ended(regtest::RunEnd::Completed, 0);
  return us;
}

// 100,000 runs of 10,000 registers on 5 firmwares over a year, 1,000,000
// steps, made by the database itself.
bool Fill(QSqlDatabase& db, bool postgres) {
  const QString series = postgres ? QStringLiteral("SELECT CAST(generate_series(0, %1) AS BIGINT) AS n").arg(kRuns - 1)
                                  : QStringLiteral("WITH RECURSIVE s(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM s WHERE n < %1) SELECT n FROM s").arg(kRuns - 1);
  const QString runs = QStringLiteral(
      "INSERT INTO runs (id, serial, station_id, port, speed, kind, start_ms, end_ms, utc_offset_min, passes_asked,"
      " passes_done, errors, verdict, firmware) SELECT 'run-' || n, 'VT' || (n %% 10000), 'st', 'COM1', 19200,"
      " 'ports', 1700000000000 + n * 315000, 1700000000000 + n * 315000 + 60000, 120, 1, 1, n %% 3,"
      " CASE WHEN n %% 7 = 0 THEN 'failed' ELSE 'passed' END, '1.0' || (n %% 5) FROM (%1) g").arg(series);
  const QString steps = QStringLiteral(
      "INSERT INTO steps (run_id, pass, step, kind, outcome, errors, duration_ms) SELECT 'run-' || (n / %1), 1,"
      " n %% %1 + 1, 'status', 'ok', 0, 40 FROM (%2) g").arg(kStepsPerRun).arg(
      postgres ? QStringLiteral("SELECT CAST(generate_series(0, %1) AS BIGINT) AS n").arg(kRuns * kStepsPerRun - 1)
               : QStringLiteral("WITH RECURSIVE s(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM s WHERE n < %1) SELECT n FROM s").arg(kRuns * kStepsPerRun - 1));
  QSqlQuery q(db);
  for (const QString& s : {QStringLiteral("BEGIN"), QString(runs).replace(QStringLiteral("%%"), QStringLiteral("%")),
                           QString(steps).replace(QStringLiteral("%%"), QStringLiteral("%")), QStringLiteral("COMMIT"),
                           postgres ? QStringLiteral("ANALYZE") : QStringLiteral("ANALYZE")})
    if (!q.exec(s)) {
      fprintf(stderr, "fill: %s\n", qPrintable(q.lastError().text()));
      return false;
    }
  return true;
}

void Queries(const char* name, history::Reader& reader) {
  std::vector<double> one, rates;
  for (int i = 0; i < 20; ++i) {
    QElapsedTimer t;
    t.start();
    const auto runs = reader.Runs(QStringLiteral("VT%1").arg(i * 37));
    one.push_back(t.nsecsElapsed() / 1e6);
    if (runs.size() != kRuns / 10000) fprintf(stderr, "%s: %lld runs of one serial\n", name, (long long)runs.size());
  }
  for (int i = 0; i < 3; ++i) {
    QElapsedTimer t;
    t.start();
    const auto weeks = reader.FailureRates(0);
    rates.push_back(t.nsecsElapsed() / 1e6);
    if (weeks.isEmpty()) fprintf(stderr, "%s: no weeks\n", name);
  }
  printf("%-10s every run of one serial (10 of %d runs, %d steps): %.2f ms (median of 20)\n", name, kRuns,
         kRuns * kStepsPerRun, Median(one));
  printf("%-10s failure rate per firmware per week: %.1f ms (median of 3)\n", name, Median(rates));
}

QString StartPostgres(const QString& dir) {
  QProcess p;
  p.start(QStringLiteral(KM_PG_SCRIPT), {QStringLiteral("start"), dir});
  if (!p.waitForFinished(60000) || p.exitCode() != 0) return {};
  return QStringLiteral("postgresql://postgres@127.0.0.1:%1/postgres").arg(QString::fromUtf8(p.readAllStandardOutput()).trimmed());
}

QSqlDatabase Raw(const QString& name, const QString& driver) { return QSqlDatabase::addDatabase(driver, name); }

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  // A step's write on SQLite.
  history::Store local({dir.filePath(QStringLiteral("steps.sqlite")), {}});
  if (!local.Open()) return 1;
  printf("sqlite     a step's write: %.1f us (mean of 2000)\n", StepWriteUs(local));

  // The queries over 100,000 runs on SQLite.
  const QString big = dir.filePath(QStringLiteral("big.sqlite"));
  {
    history::Store s({big, {}});
    s.Open();
  }
  {
    QSqlDatabase db = Raw(QStringLiteral("fill"), QStringLiteral("QSQLITE"));
    db.setDatabaseName(big);
    if (!db.open() || !Fill(db, false)) return 1;
  }
  QSqlDatabase::removeDatabase(QStringLiteral("fill"));
  {
    history::Store s({big, {}});
    s.Open();
    history::Reader reader(s);
    Queries("sqlite", reader);
  }

  QTemporaryDir pgDir;
  const QString url = StartPostgres(pgDir.path());
  if (url.isEmpty()) {
    printf("postgresql: no throwaway cluster (postgresql-15 missing?): left out\n");
    return 0;
  }
  QString message;
  history::InitServer(url, &message);
  // Uploading 1,000 runs of 20 steps each.
  {
    history::Store s({dir.filePath(QStringLiteral("upload.sqlite")), url});
    s.Open();
    for (int i = 0; i < 1000; ++i) {
      history::RunWriter w(&s);
      w.Start(Station(), 1, history::RunKind::RunTest);
      w.Attach();
      Diagnostic(QStringLiteral("UP%1").arg(i), QStringLiteral("FN"));
      for (int k = 0; k < 20; ++k) {
        const regtest::StepInfo st = Step(regtest::StepKind::Status, 1, 0);
        w.StepBegun(st);
        w.StepEnded(st, 0);
      }
      w.Detach();
      w.Ended(regtest::RunEnd::Completed, 0);
    }
    QElapsedTimer t;
    t.start();
    const history::Store::SyncResult r = s.Sync();
    printf("postgresql uploading 1000 runs of 20 steps: %.1f s (%s)\n", t.elapsed() / 1000.0,
           r.ok ? "all sent" : qPrintable(r.failure));
  }
  // A step's write straight on PostgreSQL: the same statement as the uploader's.
  {
    QSqlDatabase db = Raw(QStringLiteral("pgstep"), QStringLiteral("QPSQL"));
    const QStringList parts = url.mid(13).split(QRegularExpression(QStringLiteral("[@:/]")));
    db.setUserName(parts[0]);
    db.setHostName(parts[1]);
    db.setPort(parts[2].toInt());
    db.setDatabaseName(parts[3]);
    if (db.open()) {
      QSqlQuery q(db);
      q.prepare(QStringLiteral("INSERT INTO steps (run_id, pass, step, kind, outcome, errors, duration_ms) VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING"));
      QElapsedTimer t;
      t.start();
      for (int i = 0; i < 2000; ++i) {
        for (const QVariant& v : QVariantList{QStringLiteral("bench-run"), 1, i, QStringLiteral("status"), QStringLiteral("ok"), 0, 40})
          q.addBindValue(v);
        q.exec();
      }
      printf("postgresql a step's write (autocommit, loopback): %.1f us (mean of 2000)\n", t.nsecsElapsed() / 1000.0 / 2000);
      if (Fill(db, true)) {
        history::Reader reader(url);
        Queries("postgresql", reader);
      }
    }
  }
  QSqlDatabase::removeDatabase(QStringLiteral("pgstep"));
  QProcess::execute(QStringLiteral(KM_PG_SCRIPT), {QStringLiteral("stop"), pgDir.path()});
  return 0;
}
