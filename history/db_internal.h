// One connection to one history database, SQLite or PostgreSQL, through Qt
// SQL: its statements prepared once and kept, every value bound.
#pragma once
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <map>
#include <memory>

#include "history/location_internal.h"

namespace history {


class Db {
 public:
  Db();
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  // The file (its folder made) with a busy timeout. False with the reason.
  bool OpenSqlite(const QString& path, QString* error);
  // The file written ahead (WAL), synchronous at commits of the log only.
  bool UseWal(QString* error);
  // The server, waiting at most `timeoutSeconds` for the connection.
  bool OpenPostgres(const QString& url, int timeoutSeconds, QString* error);
  void Close();
  bool isOpen() const { return db_.isOpen(); }
  bool postgres() const { return postgres_; }
  const QString& where() const { return where_; }

  // A statement with its values bound, prepared once; false with the reason.
  bool Exec(const QString& sql, const QVariantList& values, QString* error);
  // The same for a query whose rows are read: the query, or null with the reason.
  QSqlQuery* Select(const QString& sql, const QVariantList& values, QString* error);
  // A statement without values, not kept (the schema's).
  bool Run(const QString& sql, QString* error);

  // A transaction; `exclusive` on SQLite takes the write lock at once.
  bool Begin(bool exclusive, QString* error);
  bool Commit(QString* error);
  void Rollback();

 private:
  QSqlQuery* Prepared(const QString& sql, QString* error);
  QString Why(const QSqlError& e) const;

  QString name_;
  QSqlDatabase db_;
  bool postgres_ = false;
  QString where_;  // the file or the server, as the messages name it
  std::map<QString, std::unique_ptr<QSqlQuery>> kept_;
};

}  // namespace history
