// The history's schema, the same on SQLite and PostgreSQL, and its numbered
// migrations. Times are UTC epoch milliseconds with the PC's UTC offset in
// minutes beside them (Qt's PostgreSQL driver turns timestamps into local
// time on reading).
#pragma once
#include <QString>

#include "history/db_internal.h"

namespace history {

// The schema version this tool writes and reads.
constexpr int kSchemaVersion = 1;

// The version of the schema in `db`: 0 for a database without one (an
// empty one), -1 for a database holding tables of something else. False
// with the reason when it cannot be read.
bool ReadSchemaVersion(Db& db, int* version, QString* error);

// Applies the migrations `db` lacks, all in one transaction (the version read
// again inside it, so that two processes do it once). False with the reason;
// a schema newer than this tool's is refused.
bool Migrate(Db& db, QString* error);

// The text for a schema newer than this tool knows.
QString NewerSchemaText(int version);

}  // namespace history

namespace history {
// A shared server's schema as a station needs it: this tool's version.
// False with what is wrong and what to run.
bool CheckServerSchema(Db& db, QString* error);
}  // namespace history
