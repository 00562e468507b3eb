// The uploader: what the local file holds and the shared server does not,
// copied oldest first, one transaction per run, each row inserted once
// whatever happens (ON CONFLICT DO NOTHING by its key), marked sent locally
// only after the server committed it.
#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QSqlRecord>
#include <vector>

#include "history/schema_internal.h"
#include "history/store_internal.h"
#include "history/testing.h"

namespace history {

namespace {

std::function<void(int)> gAfterRunSent;

// A run never ended is sent once it is this old: its process is gone.
constexpr qint64 kStaleRunMs = 24LL * 3600 * 1000;
constexpr int kEventsPerTransaction = 200;

using Rows = std::vector<QVariantList>;

bool ReadRows(Db& db, const QString& statement, const QVariantList& values, Rows* rows, QString* error) {
  QSqlQuery* q = db.Select(statement, values, error);
  if (!q) return false;
  const int n = q->record().count();
  while (q->next()) {
    QVariantList row;
    for (int i = 0; i < n; ++i) row << q->value(i);
    rows->push_back(row);
  }
  q->finish();
  return true;
}

// The local rows of `select` inserted on the server by `insert`.
bool CopyRows(Db& from, Db& to, const QString& select, const QVariantList& values, const QString& insert,
              QString* localError, QString* serverError) {
  Rows rows;
  if (!ReadRows(from, select, values, &rows, localError)) return false;
  for (const QVariantList& row : rows)
    if (!to.Exec(insert, row, serverError)) return false;
  return true;
}

QString Select(const char* columns, const char* table, const char* where) {
  return QStringLiteral("SELECT %1 FROM %2 WHERE %3").arg(QLatin1String(columns), QLatin1String(table), QLatin1String(where));
}

const char kRegisterColumns[] = "serial, fiscal_number, tax_number, firmware, firmware_date, first_seen_ms, last_seen_ms";

// The station and the register a run or an event names.
bool CopyParents(Db& local, Db& server, const QString& stationId, const QVariant& serial, QString* localError,
                 QString* serverError) {
  if (!CopyRows(local, server, Select("id, host, tool_version, login", "stations", "id = ?"), {stationId},
                QString::fromLatin1(sql::kInsertStation), localError, serverError))
    return false;
  return serial.isNull() ||
         CopyRows(local, server, Select(kRegisterColumns, "registers", "serial = ?"), {serial},
                  QString::fromLatin1(sql::kUpsertRegister), localError, serverError);
}

// One run in one transaction on the server.
bool SendRun(Db& local, Db& server, const QString& id, QString* localError, QString* serverError) {
  Rows run;
  if (!ReadRows(local, Select(sql::kRunColumns, "runs", "id = ?"), {id}, &run, localError) || run.empty()) return false;
  if (!server.Begin(false, serverError)) return false;
  const bool ok =
      CopyParents(local, server, run[0][2].toString(), run[0][1], localError, serverError) &&
      server.Exec(InsertOnce("runs", sql::kRunColumns), run[0], serverError) &&
      CopyRows(local, server, Select(sql::kStepColumns, "steps", "run_id = ? ORDER BY pass, step"), {id},
               InsertOnce("steps", sql::kStepColumns), localError, serverError) &&
      CopyRows(local, server, Select(sql::kFailedColumns, "failed_commands", "run_id = ? ORDER BY pass, step, seq"),
               {id}, InsertOnce("failed_commands", sql::kFailedColumns), localError, serverError) &&
      server.Commit(serverError);
  if (!ok) server.Rollback();
  return ok;
}

// Up to a transaction's worth of service events; how many were sent, -1 on failure.
int SendEvents(Db& local, Db& server, QString* localError, QString* serverError) {
  Rows events;
  if (!ReadRows(local, Select(sql::kEventColumns, "service_events", "sent_ms IS NULL ORDER BY at_ms LIMIT ?"),
                {kEventsPerTransaction}, &events, localError))
    return -1;
  if (events.empty()) return 0;
  if (!server.Begin(false, serverError)) return -1;
  bool ok = true;
  for (size_t i = 0; ok && i < events.size(); ++i)
    ok = CopyParents(local, server, events[i][2].toString(), events[i][1], localError, serverError) &&
         server.Exec(InsertOnce("service_events", sql::kEventColumns), events[i], serverError);
  if (!ok || !server.Commit(serverError)) {
    server.Rollback();
    return -1;
  }
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  for (const QVariantList& e : events)
    if (!local.Exec(QStringLiteral("UPDATE service_events SET sent_ms = ? WHERE id = ?"), {now, e[0]}, localError))
      return -1;
  return static_cast<int>(events.size());
}

const char kRunsWaiting[] = "sent_ms IS NULL AND (end_ms IS NOT NULL OR start_ms < ?)";

}  // namespace

void SetAfterRunSentForTests(std::function<void(int)> hook) { gAfterRunSent = std::move(hook); }

Store::Waiting Store::Queue() const {
  Waiting w;
  w.lastFailure = d_->lastUploadFailure;
  if (!d_->usable || d_->location.remoteUrl.isEmpty()) return w;
  QString why;
  const qint64 stale = QDateTime::currentMSecsSinceEpoch() - kStaleRunMs;
  Rows rows;
  if (ReadRows(d_->local, QStringLiteral("SELECT count(*) FROM runs WHERE %1").arg(QLatin1String(kRunsWaiting)),
               {stale}, &rows, &why))
    w.runs = rows[0][0].toInt();
  rows.clear();
  if (ReadRows(d_->local, QStringLiteral("SELECT count(*) FROM service_events WHERE sent_ms IS NULL"), {}, &rows, &why))
    w.events = rows[0][0].toInt();
  return w;
}

Store::SyncResult Store::Sync(int deadlineMs) {
  SyncResult r;
  const QString url = d_->location.remoteUrl;
  if (url.isEmpty()) {
    r.ok = true;
    return r;
  }
  QElapsedTimer timer;
  timer.start();
  QString local, server;
  Db db;
  if (!d_->usable) {
    local = d_->problem.isEmpty() ? QStringLiteral("the local file is not open") : d_->problem;
  } else if (db.OpenPostgres(url, deadlineMs > 0 ? std::clamp(deadlineMs / 1000, 1, 10) : 10, &server) &&
             CheckServerSchema(db, &server)) {
    const qint64 stale = QDateTime::currentMSecsSinceEpoch() - kStaleRunMs;
    bool more = true;
    while (more && local.isEmpty() && server.isEmpty()) {
      Rows ids;
      if (!ReadRows(d_->local,
                    QStringLiteral("SELECT id FROM runs WHERE %1 ORDER BY start_ms LIMIT 100").arg(QLatin1String(kRunsWaiting)),
                    {stale}, &ids, &local))
        break;
      more = !ids.empty();
      for (const QVariantList& id : ids) {
        if (deadlineMs > 0 && timer.elapsed() > deadlineMs) {
          server = QStringLiteral("the time for the upload ran out");
          break;
        }
        if (!SendRun(d_->local, db, id[0].toString(), &local, &server)) break;
        if (!d_->local.Exec(QStringLiteral("UPDATE runs SET sent_ms = ? WHERE id = ?"),
                            {QDateTime::currentMSecsSinceEpoch(), id[0]}, &local))
          break;
        ++r.runsSent;
        if (gAfterRunSent) gAfterRunSent(r.runsSent);
      }
    }
    for (int n = 1; n > 0 && local.isEmpty() && server.isEmpty();) {
      n = SendEvents(d_->local, db, &local, &server);
      if (n > 0) r.eventsSent += n;
    }
  }
  r.ok = local.isEmpty() && server.isEmpty();
  if (!server.isEmpty()) r.failure = QStringLiteral("history: %1: %2").arg(url, server);
  if (!local.isEmpty()) r.failure = local.startsWith(QLatin1String("history: ")) ? local : QStringLiteral("history: %1: %2").arg(d_->local.where(), local);
  d_->lastUploadFailure = r.failure;
  r.runsWaiting = Queue().runs;
  return r;
}

bool InitServer(const QString& url, QString* message) {
  Db db;
  QString why;
  int before = 0;
  if (!db.OpenPostgres(url, 10, &why) || !ReadSchemaVersion(db, &before, &why) || !Migrate(db, &why)) {
    *message = QStringLiteral("history: %1: %2").arg(url, why);
    return false;
  }
  if (before == kSchemaVersion)
    *message = QStringLiteral("history: %1: the schema is version %2 already").arg(url).arg(kSchemaVersion);
  else if (before == 0)
    *message = QStringLiteral("history: %1: the schema was created, version %2").arg(url).arg(kSchemaVersion);
  else
    *message = QStringLiteral("history: %1: the schema was migrated from version %2 to %3").arg(url).arg(before).arg(kSchemaVersion);
  return true;
}

QString SyncText(const Store::SyncResult& r, const QString& url) {
  QString text = QStringLiteral("history: sent %1 run(s) and %2 service event(s) to %3")
                     .arg(r.runsSent).arg(r.eventsSent).arg(url);
  if (!r.ok) text += QStringLiteral("; %1 run(s) wait: %2").arg(r.runsWaiting).arg(r.failure);
  return text;
}

}  // namespace history
