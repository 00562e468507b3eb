// The store's inside: the local connection, the problem said once, the
// statements both databases share (the uploader binds the local rows into
// the same ones on the server).
#pragma once
#include <QSet>
#include <QString>
#include <QVariantList>
#include <functional>

#include "history/db_internal.h"
#include "history/history.h"

namespace history {

namespace sql {
inline constexpr char kInsertStation[] =
    "INSERT INTO stations (id, host, tool_version, login) VALUES (?, ?, ?, ?) ON CONFLICT (id) DO NOTHING";
// A register seen: the fields of the newest sighting win where it has them,
// the first and last seen widen.
inline constexpr char kUpsertRegister[] =
    "INSERT INTO registers (serial, fiscal_number, tax_number, firmware, firmware_date, first_seen_ms, last_seen_ms)"
    " VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (serial) DO UPDATE SET"
    " fiscal_number = CASE WHEN excluded.fiscal_number IS NOT NULL AND excluded.last_seen_ms >= registers.last_seen_ms"
    "   THEN excluded.fiscal_number ELSE registers.fiscal_number END,"
    " tax_number = CASE WHEN excluded.tax_number IS NOT NULL AND excluded.last_seen_ms >= registers.last_seen_ms"
    "   THEN excluded.tax_number ELSE registers.tax_number END,"
    " firmware = CASE WHEN excluded.firmware IS NOT NULL AND excluded.last_seen_ms >= registers.last_seen_ms"
    "   THEN excluded.firmware ELSE registers.firmware END,"
    " firmware_date = CASE WHEN excluded.firmware_date IS NOT NULL AND excluded.last_seen_ms >= registers.last_seen_ms"
    "   THEN excluded.firmware_date ELSE registers.firmware_date END,"
    " first_seen_ms = CASE WHEN excluded.first_seen_ms < registers.first_seen_ms"
    "   THEN excluded.first_seen_ms ELSE registers.first_seen_ms END,"
    " last_seen_ms = CASE WHEN excluded.last_seen_ms > registers.last_seen_ms"
    "   THEN excluded.last_seen_ms ELSE registers.last_seen_ms END";
// The run's columns in the order kInsertRun binds them.
inline constexpr char kRunColumns[] =
    "id, serial, station_id, port, speed, kind, start_ms, end_ms, utc_offset_min, passes_asked, passes_done,"
    " errors, verdict, clock_rate, clock_resolution, flags_start, flags_end, firmware, firmware_date";
inline constexpr int kRunColumnCount = 19;
inline constexpr char kStepColumns[] = "run_id, pass, step, kind, outcome, errors, duration_ms";
inline constexpr char kFailedColumns[] = "run_id, pass, step, seq, code, flags, message";
inline constexpr char kEventColumns[] =
    "id, serial, station_id, at_ms, utc_offset_min, code, command, data, outcome, flags, message";
}  // namespace sql

// "INSERT INTO table (columns) VALUES (?, ...) ON CONFLICT DO NOTHING".
QString InsertOnce(const char* table, const char* columns);

struct StoreImpl {
  Location location;
  Db local;
  bool usable = false;
  QString problem;
  bool said = false;
  std::function<void(const QString&)> handler;
  QString lastUploadFailure;
  QSet<QString> stations;  // the station rows written by this store

  // A failure of the local file: said once, kept as the problem.
  void Fail(const QString& why);
  // A statement on the local file; false (and the failure said) when it failed.
  bool Write(const QString& statement, const QVariantList& values);
  // Several in one transaction.
  bool WriteAll(const std::vector<std::pair<QString, QVariantList>>& statements);
  // The station's row (made when this store has not written it yet); its id.
  QString StationId(const StationInfo& station);
  // The register seen now with what is known of it (empty fields: unknown).
  void SeeRegister(const Identity& identity, qint64 atMs);
};

// A value as bound: null for an empty text.
QVariant TextOrNull(const QString& text);
// A text as bound to a column that must have one: empty rather than null.
QVariant NonNull(const QString& text);
// The PC's UTC offset now, in minutes.
int UtcOffsetMinutes();
QString NewId();

}  // namespace history
