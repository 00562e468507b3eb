#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>

#include "history/db_internal.h"
#include "history/testing.h"

namespace history {

namespace {

QAtomicInt gConnections;
QString gSqliteOptionsForTests;

}  // namespace

void SetSqliteOptionsForTests(const QString& options) { gSqliteOptionsForTests = options; }

Db::Db() : name_(QStringLiteral("km_history_%1").arg(gConnections.fetchAndAddRelaxed(1))) {}

Db::~Db() { Close(); }

void Db::Close() {
  kept_.clear();
  if (db_.isValid()) {
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
  }
}

QString Db::Why(const QSqlError& e) const {
  QString text = e.databaseText().trimmed();
  if (text.isEmpty()) text = e.text().trimmed();
  return text;
}

bool Db::OpenSqlite(const QString& path, QString* error) {
  Close();
  where_ = QDir::toNativeSeparators(path);
  const QFileInfo info(path);
  if (!QDir().mkpath(info.absolutePath())) {
    *error = QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(info.absolutePath()));
    return false;
  }
  db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
  if (!db_.isValid()) {
    *error = QStringLiteral("Qt's SQLite driver (libqt6sql6-sqlite) is not installed");
    return false;
  }
  db_.setDatabaseName(path);
  QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000");
  if (!gSqliteOptionsForTests.isEmpty()) options += QLatin1Char(';') + gSqliteOptionsForTests;
  db_.setConnectOptions(options);
  if (!db_.open()) {
    *error = Why(db_.lastError());
    return false;
  }
  postgres_ = false;
  return true;
}

bool Db::UseWal(QString* error) {
  return Run(QStringLiteral("PRAGMA journal_mode=WAL"), error) && Run(QStringLiteral("PRAGMA synchronous=NORMAL"), error);
}

bool Db::OpenPostgres(const QString& url, int timeoutSeconds, QString* error) {
  Close();
  where_ = url;
  ServerAddress a;
  if (!ParseServerUrl(url, &a, error)) return false;
  db_ = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
  if (!db_.isValid()) {
    *error = QStringLiteral("Qt's PostgreSQL driver (libqt6sql6-psql) is not installed");
    return false;
  }
  db_.setHostName(a.host);
  db_.setPort(a.port);
  db_.setUserName(a.user);
  db_.setDatabaseName(a.database);
  // The password, when the server wants one, comes from libpq's own
  // ~/.pgpass or PGPASSWORD.
  db_.setConnectOptions(QStringLiteral("connect_timeout=%1;application_name=km4410r").arg(std::max(1, timeoutSeconds)));
  if (!db_.open()) {
    *error = Why(db_.lastError());
    return false;
  }
  postgres_ = true;
  return Run(QStringLiteral("SET TIME ZONE 'UTC'"), error);
}

QSqlQuery* Db::Prepared(const QString& sql, QString* error) {
  auto it = kept_.find(sql);
  if (it != kept_.end()) return it->second.get();
  auto q = std::make_unique<QSqlQuery>(db_);
  if (!q->prepare(sql)) {
    *error = Why(q->lastError());
    return nullptr;
  }
  return kept_.emplace(sql, std::move(q)).first->second.get();
}

QSqlQuery* Db::Select(const QString& sql, const QVariantList& values, QString* error) {
  QSqlQuery* q = Prepared(sql, error);
  if (!q) return nullptr;
  q->finish();
  for (int i = 0; i < values.size(); ++i) q->bindValue(i, values[i]);
  if (!q->exec()) {
    *error = Why(q->lastError());
    // A statement of a connection that broke is prepared anew next time.
    kept_.erase(sql);
    return nullptr;
  }
  return q;
}

bool Db::Exec(const QString& sql, const QVariantList& values, QString* error) {
  QSqlQuery* q = Select(sql, values, error);
  if (q) q->finish();
  return q != nullptr;
}

bool Db::Run(const QString& sql, QString* error) {
  QSqlQuery q(db_);
  if (q.exec(sql)) return true;
  *error = Why(q.lastError());
  return false;
}

bool Db::Begin(bool exclusive, QString* error) {
  if (!postgres_) return Run(exclusive ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), error);
  return Run(QStringLiteral("BEGIN"), error);
}

bool Db::Commit(QString* error) { return Run(QStringLiteral("COMMIT"), error); }

void Db::Rollback() {
  QString ignored;
  Run(QStringLiteral("ROLLBACK"), &ignored);
}

}  // namespace history
