#include <QSqlQuery>
#include <QStringList>

#include "history/schema_internal.h"

namespace history {

namespace {

// Migration N brings the schema from version N-1 to N. Types are those both
// databases read alike: TEXT, INTEGER, BIGINT, DOUBLE PRECISION.
const char* const kMigration1[] = {
    "CREATE TABLE schema_version (version INTEGER NOT NULL)",
    "INSERT INTO schema_version (version) VALUES (0)",
    "CREATE TABLE registers ("
    " serial TEXT PRIMARY KEY, fiscal_number TEXT, tax_number TEXT,"
    " firmware TEXT, firmware_date TEXT, first_seen_ms BIGINT NOT NULL, last_seen_ms BIGINT NOT NULL)",
    "CREATE TABLE stations ("
    " id TEXT PRIMARY KEY, host TEXT NOT NULL, tool_version TEXT NOT NULL, login TEXT NOT NULL)",
    "CREATE TABLE runs ("
    " id TEXT PRIMARY KEY, serial TEXT, station_id TEXT NOT NULL, port TEXT NOT NULL, speed INTEGER NOT NULL,"
    " kind TEXT NOT NULL, start_ms BIGINT NOT NULL, end_ms BIGINT, utc_offset_min INTEGER NOT NULL,"
    " passes_asked INTEGER NOT NULL, passes_done INTEGER NOT NULL DEFAULT 0, errors INTEGER NOT NULL DEFAULT 0,"
    " verdict TEXT NOT NULL, clock_rate DOUBLE PRECISION, clock_resolution DOUBLE PRECISION,"
    " flags_start BIGINT, flags_end BIGINT, firmware TEXT, firmware_date TEXT, sent_ms BIGINT)",
    "CREATE INDEX runs_by_serial ON runs (serial, start_ms)",
    "CREATE INDEX runs_by_firmware ON runs (firmware, start_ms, verdict)",
    "CREATE INDEX runs_by_start ON runs (start_ms)",
    "CREATE INDEX runs_waiting ON runs (start_ms) WHERE sent_ms IS NULL",
    "CREATE TABLE steps ("
    " run_id TEXT NOT NULL, pass INTEGER NOT NULL, step INTEGER NOT NULL, kind TEXT NOT NULL,"
    " outcome TEXT NOT NULL, errors INTEGER NOT NULL, duration_ms BIGINT NOT NULL,"
    " PRIMARY KEY (run_id, pass, step))",
    "CREATE TABLE failed_commands ("
    " run_id TEXT NOT NULL, pass INTEGER NOT NULL, step INTEGER NOT NULL, seq INTEGER NOT NULL,"
    " code INTEGER NOT NULL, flags BIGINT NOT NULL, message TEXT NOT NULL,"
    " PRIMARY KEY (run_id, pass, step, seq))",
    "CREATE TABLE service_events ("
    " id TEXT PRIMARY KEY, serial TEXT, station_id TEXT NOT NULL, at_ms BIGINT NOT NULL,"
    " utc_offset_min INTEGER NOT NULL, code INTEGER NOT NULL, command TEXT NOT NULL, data TEXT NOT NULL,"
    " outcome TEXT NOT NULL, flags BIGINT NOT NULL, message TEXT NOT NULL, sent_ms BIGINT)",
    "CREATE INDEX service_events_by_serial ON service_events (serial, at_ms)",
    "CREATE INDEX service_events_waiting ON service_events (at_ms) WHERE sent_ms IS NULL",
};

struct Migration {
  const char* const* statements;
  int count;
};
const Migration kMigrations[kSchemaVersion] = {
    {kMigration1, static_cast<int>(sizeof kMigration1 / sizeof kMigration1[0])},
};

// The tables: whether schema_version is one of them, and how many there are,
// read in one statement (one snapshot: another process may be making them).
bool Tables(Db& db, bool* versioned, int* all, QString* error) {
  const QString tables = db.postgres()
                             ? QStringLiteral("SELECT table_name AS name FROM information_schema.tables"
                                              " WHERE table_schema = current_schema()")
                             : QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'");
  QSqlQuery* q = db.Select(QStringLiteral("SELECT count(CASE WHEN name = 'schema_version' THEN 1 END), count(*) FROM (%1) t")
                               .arg(tables),
                           {}, error);
  if (!q) return false;
  const bool row = q->next();
  *versioned = row && q->value(0).toInt() > 0;
  *all = row ? q->value(1).toInt() : 0;
  q->finish();
  return true;
}

}  // namespace

QString NewerSchemaText(int version) {
  return QStringLiteral("its schema is version %1, newer than this tool's %2: use a newer km4410r")
      .arg(version)
      .arg(kSchemaVersion);
}

bool ReadSchemaVersion(Db& db, int* version, QString* error) {
  bool versioned = false;
  int all = 0;
  if (!Tables(db, &versioned, &all, error)) return false;
  if (!versioned) {
    *version = all > 0 ? -1 : 0;
    return true;
  }
  QSqlQuery* q = db.Select(QStringLiteral("SELECT max(version) FROM schema_version"), {}, error);
  if (!q) return false;
  *version = q->next() ? q->value(0).toInt() : 0;
  q->finish();
  return true;
}

bool Migrate(Db& db, QString* error) {
  if (!db.Begin(true, error)) return false;
  int version = 0;
  // Two first users of a server at once: the second waits for the first.
  bool ok = !db.postgres() || db.Exec(QStringLiteral("SELECT pg_advisory_xact_lock(4410)"), {}, error);
  ok = ok && ReadSchemaVersion(db, &version, error);
  if (ok && version < 0) {
    *error = QStringLiteral("it holds tables of something else, not a history");
    ok = false;
  }
  if (ok && version > kSchemaVersion) {
    *error = NewerSchemaText(version);
    ok = false;
  }
  for (int v = version; ok && v < kSchemaVersion; ++v) {
    const Migration& m = kMigrations[v];
    for (int i = 0; ok && i < m.count; ++i) ok = db.Run(QString::fromLatin1(m.statements[i]), error);
    ok = ok && db.Exec(QStringLiteral("UPDATE schema_version SET version = ?"), {v + 1}, error);
  }
  if (!ok) {
    db.Rollback();
    return false;
  }
  return db.Commit(error);
}

}  // namespace history

namespace history {

bool CheckServerSchema(Db& db, QString* error) {
  int version = 0;
  if (!ReadSchemaVersion(db, &version, error)) return false;
  if (version == kSchemaVersion) return true;
  if (version > kSchemaVersion)
    *error = NewerSchemaText(version);
  else if (version == 0 || version < 0)
    *error = QStringLiteral("it has no history schema: run km4410r --history-init %1 once (with CREATE rights)").arg(db.where());
  else
    *error = QStringLiteral("its schema is version %1, older than this tool's %2: run km4410r --history-init %3")
                 .arg(version).arg(kSchemaVersion).arg(db.where());
  return false;
}

}  // namespace history
