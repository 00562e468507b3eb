// Qt SQL's two drivers in the static Windows build: a row with a bound text
// written into an SQLite file and into a PostgreSQL database, and read back.
//
//   km_sql_check FILE HOST PORT USER DATABASE
//
// FILE is a new SQLite file (a Windows path); the PostgreSQL database is
// reached over TCP. Each database gets a table km_check holding the one row.
// Prints the drivers linked in and what each database gave back; exit status
// 0 when both gave the text back unchanged, 1 otherwise.
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QtPlugin>

#include <cstdio>

Q_IMPORT_PLUGIN(QSQLiteDriverPlugin)
Q_IMPORT_PLUGIN(QPSQLDriverPlugin)

namespace {

// Cyrillic, quotes and SQL words: stored as given only when it is bound.
const QString kText = QStringLiteral("Тест связи: «ёмкость» 'Ж' \"Щ\"; DROP TABLE km_check; --");

void say(const QString& line) {
  std::fputs(line.toUtf8().constData(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

bool run(QSqlQuery& query, const QString& sql, const QString& what) {
  if (query.exec(sql)) return true;
  say(what + ": " + sql + ": " + query.lastError().text());
  return false;
}

// Opens DB, says its version (VERSION_SQL), writes kText bound into a new
// table and reads it back through a bound comparison.
bool roundTrip(QSqlDatabase db, const QString& what, const QString& versionSql, const QString& createSql) {
  if (!db.open()) {
    say(what + ": cannot open: " + db.lastError().text());
    return false;
  }
  QSqlQuery query(db);
  if (!run(query, versionSql, what) || !query.next()) return false;
  say(what + ": " + query.value(0).toString());
  if (!run(query, "DROP TABLE IF EXISTS km_check", what) || !run(query, createSql, what)) return false;
  query.prepare("INSERT INTO km_check (name) VALUES (?)");
  query.addBindValue(kText);
  if (!query.exec()) {
    say(what + ": insert: " + query.lastError().text());
    return false;
  }
  query.prepare("SELECT id, name FROM km_check WHERE name = ?");
  query.addBindValue(kText);
  if (!query.exec() || !query.next()) {
    say(what + ": the row written is not found: " + query.lastError().text());
    return false;
  }
  const QString back = query.value(1).toString();
  say(what + ": row " + query.value(0).toString() + " read back: " + back);
  if (back == kText) return true;
  say(what + ": the text read back differs from the one written");
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() != 6) {
    say("usage: km_sql_check FILE HOST PORT USER DATABASE");
    return 2;
  }
  say("drivers: " + QSqlDatabase::drivers().join(' '));

  QSqlDatabase lite = QSqlDatabase::addDatabase("QSQLITE", "lite");
  lite.setDatabaseName(args[1]);
  const bool liteOk = roundTrip(lite, "SQLite", "SELECT 'SQLite ' || sqlite_version()",
                                "CREATE TABLE km_check (id INTEGER PRIMARY KEY, name TEXT NOT NULL)");

  QSqlDatabase pg = QSqlDatabase::addDatabase("QPSQL", "pg");
  pg.setHostName(args[2]);
  pg.setPort(args[3].toInt());
  pg.setUserName(args[4]);
  pg.setDatabaseName(args[5]);
  const bool pgOk = roundTrip(pg, "PostgreSQL", "SELECT version()",
                              "CREATE TABLE km_check (id serial PRIMARY KEY, name text NOT NULL)");
  say(liteOk && pgOk ? "both databases gave the text back" : "FAILED");
  return liteOk && pgOk ? 0 : 1;
}
