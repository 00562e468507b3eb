#include "history/queries.h"

#include <QDateTime>
#include <QMap>
#include <QSqlQuery>

#include "base/cp1251text.h"
#include "driver/flags.h"
#include "history/schema_internal.h"
#include "history/store_internal.h"

namespace history {

struct ReaderImpl {
  Db own;
  Db* db = nullptr;
  QString error;

  // The rows of a query, each handed to `row`; false (the error kept) on failure.
  template <typename Row>
  bool Each(const QString& statement, const QVariantList& values, Row row) {
    if (!db) return false;
    QString why;
    QSqlQuery* q = db->Select(statement, values, &why);
    if (!q) {
      error = QStringLiteral("history: %1: %2").arg(db->where(), why);
      return false;
    }
    while (q->next()) row(*q);
    q->finish();
    return true;
  }
};

namespace {

QString S(const QSqlQuery& q, int i) { return q.value(i).toString(); }
qint64 L(const QSqlQuery& q, int i) { return q.value(i).toLongLong(); }
int I(const QSqlQuery& q, int i) { return q.value(i).toInt(); }
std::optional<double> D(const QSqlQuery& q, int i) {
  if (q.value(i).isNull()) return std::nullopt;
  return q.value(i).toDouble();
}

const char kRunSelect[] =
    "SELECT r.id, r.serial, s.host, r.port, r.kind, r.firmware, r.firmware_date, r.verdict, r.speed, r.start_ms,"
    " r.end_ms, r.utc_offset_min, r.passes_asked, r.passes_done, r.errors, r.clock_rate, r.clock_resolution,"
    " r.flags_start, r.flags_end FROM runs r LEFT JOIN stations s ON s.id = r.station_id";

RunRow ReadRun(const QSqlQuery& q) {
  RunRow r;
  r.id = S(q, 0);
  r.serial = S(q, 1);
  r.station = S(q, 2);
  r.port = S(q, 3);
  r.kind = S(q, 4);
  r.firmware = S(q, 5);
  r.firmwareDate = S(q, 6);
  r.verdict = S(q, 7);
  r.speed = I(q, 8);
  r.startMs = L(q, 9);
  r.endMs = L(q, 10);
  r.utcOffsetMin = I(q, 11);
  r.passesAsked = I(q, 12);
  r.passesDone = I(q, 13);
  r.errors = I(q, 14);
  r.clockRate = D(q, 15);
  r.clockResolution = D(q, 16);
  r.flagsStart = L(q, 17);
  r.flagsEnd = L(q, 18);
  return r;
}

}  // namespace

Reader::Reader(Store& store) : d_(std::make_unique<ReaderImpl>()) {
  if (store.usable())
    d_->db = &store.impl()->local;
  else
    d_->error = store.problem().isEmpty() ? QStringLiteral("history: none is kept") : store.problem();
}

Reader::Reader(const QString& serverUrl) : d_(std::make_unique<ReaderImpl>()) {
  QString why;
  if (d_->own.OpenPostgres(serverUrl, 5, &why) && CheckServerSchema(d_->own, &why))
    d_->db = &d_->own;
  else
    d_->error = QStringLiteral("history: %1: %2").arg(serverUrl, why);
}

Reader::~Reader() = default;

std::unique_ptr<Reader> OpenReader(Store& store, QString* fallback) {
  fallback->clear();
  if (!store.location().remoteUrl.isEmpty()) {
    auto server = std::make_unique<Reader>(store.location().remoteUrl);
    if (server->ok()) return server;
    *fallback = server->error();
  }
  return std::make_unique<Reader>(store);
}

bool Reader::ok() const { return d_->db != nullptr && d_->error.isEmpty(); }
QString Reader::error() const { return d_->error; }

QList<RegisterSeen> Reader::Registers(int limit) {
  QList<RegisterSeen> out;
  d_->Each(QStringLiteral("SELECT serial, fiscal_number, firmware, last_seen_ms FROM registers"
                          " ORDER BY last_seen_ms DESC LIMIT ?"),
           {limit}, [&out](const QSqlQuery& q) { out.append({S(q, 0), S(q, 1), S(q, 2), L(q, 3)}); });
  return out;
}

RegisterHeader Reader::Header(const QString& serial) {
  RegisterHeader h;
  d_->Each(QStringLiteral("SELECT serial, fiscal_number, tax_number, firmware, firmware_date, first_seen_ms,"
                          " last_seen_ms FROM registers WHERE serial = ?"),
           {serial}, [&h](const QSqlQuery& q) {
             h = {true, S(q, 0), S(q, 1), S(q, 2), S(q, 3), S(q, 4), L(q, 5), L(q, 6), 0, {}};
           });
  if (!h.found) return h;
  // Visits: the runs and the days (UTC) with service events.
  d_->Each(QStringLiteral("SELECT (SELECT count(*) FROM runs WHERE serial = ?) +"
                          " (SELECT count(DISTINCT at_ms / 86400000) FROM service_events WHERE serial = ?)"),
           {serial, serial}, [&h](const QSqlQuery& q) { h.visits = I(q, 0); });
  d_->Each(QStringLiteral("SELECT s.host, min(r.start_ms) AS first FROM runs r JOIN stations s ON s.id = r.station_id"
                          " WHERE r.serial = ? GROUP BY s.host ORDER BY first"),
           {serial}, [&h](const QSqlQuery& q) { h.stations << S(q, 0); });
  return h;
}

QList<RunRow> Reader::Runs(const QString& serial, int limit) {
  QList<RunRow> out;
  QString statement = QString::fromLatin1(kRunSelect) + QStringLiteral(" WHERE r.serial = ? ORDER BY r.start_ms DESC");
  QVariantList values = {serial};
  if (limit > 0) {
    statement += QStringLiteral(" LIMIT ?");
    values << limit;
  }
  d_->Each(statement, values, [&out](const QSqlQuery& q) { out.append(ReadRun(q)); });
  for (qsizetype i = 0; i + 1 < out.size(); ++i)
    out[i].firmwareChanged = !out[i].firmware.isEmpty() && !out[i + 1].firmware.isEmpty() &&
                             out[i].firmware != out[i + 1].firmware;
  return out;
}

std::optional<RunRow> Reader::RunBefore(const QString& serial, const QString& runId) {
  std::optional<RunRow> out;
  d_->Each(QString::fromLatin1(kRunSelect) +
               QStringLiteral(" WHERE r.serial = ? AND r.id <> ? AND r.start_ms <="
                              " coalesce((SELECT start_ms FROM runs WHERE id = ?), 9223372036854775807)"
                              " ORDER BY r.start_ms DESC LIMIT 1"),
           {serial, runId, runId}, [&out](const QSqlQuery& q) { out = ReadRun(q); });
  return out;
}

QList<Fault> Reader::Faults(const QString& serial) {
  // The failed commands of its runs, newest run first.
  struct Seen {
    Fault fault;
    QSet<QString> runs;
  };
  QMap<QString, Seen> seen;
  QStringList order;  // run ids, newest first
  d_->Each(QStringLiteral("SELECT id FROM runs WHERE serial = ? ORDER BY start_ms DESC LIMIT 2"), {serial},
           [&order](const QSqlQuery& q) { order << S(q, 0); });
  const auto count = [&](const QString& key, const Fault& f, const QString& run) {
    Seen& s = seen[key];
    if (s.runs.isEmpty()) s.fault = f;
    s.runs.insert(run);
    ++s.fault.times;
  };
  d_->Each(QStringLiteral("SELECT f.run_id, f.code, f.flags FROM failed_commands f JOIN runs r ON r.id = f.run_id"
                          " WHERE r.serial = ?"),
           {serial}, [&](const QSqlQuery& q) {
             const QString run = S(q, 0);
             Fault c;
             c.command = true;
             c.code = I(q, 1);
             c.name = fromCp1251(GetCommandName(c.code));
             count(QStringLiteral("c%1").arg(c.code), c, run);
             const uint32_t flags = static_cast<uint32_t>(L(q, 2));
             for (const FlagInfo& info : kFlagTable) {
               if (!(flags & info.flag) || !info.text) continue;
               Fault f;
               f.flag = info.flag;
               f.name = QLatin1String(info.name);
               count(QStringLiteral("f%1").arg(info.flag), f, run);
             }
           });
  QList<Fault> out;
  for (Seen& s : seen) {
    s.fault.runs = static_cast<int>(s.runs.size());
    s.fault.lastRun = !order.isEmpty() && s.runs.contains(order[0]);
    s.fault.asLastTime = s.fault.lastRun && order.size() > 1 && s.runs.contains(order[1]);
    out << s.fault;
  }
  std::stable_sort(out.begin(), out.end(), [](const Fault& a, const Fault& b) { return a.runs > b.runs; });
  return out;
}

QList<ServiceEvent> Reader::Journal(const QString& serial) {
  QList<ServiceEvent> out;
  d_->Each(QStringLiteral("SELECT e.id, s.host, e.command, e.data, e.outcome, e.message, e.at_ms, e.utc_offset_min,"
                          " e.code, e.flags FROM service_events e LEFT JOIN stations s ON s.id = e.station_id"
                          " WHERE e.serial = ? ORDER BY e.at_ms DESC"),
           {serial}, [&out](const QSqlQuery& q) {
             out.append({S(q, 0), S(q, 1), S(q, 2), S(q, 3), S(q, 4), S(q, 5), L(q, 6), I(q, 7), I(q, 8), L(q, 9)});
           });
  return out;
}

QList<FirmwareWeek> Reader::FailureRates(qint64 sinceMs) {
  QList<FirmwareWeek> out;
  constexpr qint64 kWeekMs = 7LL * 86400000;
  d_->Each(QStringLiteral("SELECT coalesce(firmware, ''), start_ms / %1 AS week, count(*),"
                          " sum(CASE WHEN verdict = 'failed' THEN 1 ELSE 0 END) FROM runs"
                          " WHERE start_ms >= ? GROUP BY coalesce(firmware, ''), start_ms / %1 ORDER BY 1, 2")
               .arg(kWeekMs),
           {sinceMs}, [&out](const QSqlQuery& q) { out.append({S(q, 0), L(q, 1) * kWeekMs, I(q, 2), I(q, 3)}); });
  return out;
}

}  // namespace history
