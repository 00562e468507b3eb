#include <QDateTime>
#include <QDir>
#include <QUuid>

#include "history/schema_internal.h"
#include "history/store_internal.h"
#include "history/testing.h"

namespace history {

namespace {

Store* gShared = nullptr;
QString gSqliteStatementForTests;

}  // namespace

void SetSqliteStatementForTests(const QString& statement) { gSqliteStatementForTests = statement; }

QString InsertOnce(const char* table, const char* columns) {
  const int n = static_cast<int>(QString::fromLatin1(columns).count(QLatin1Char(','))) + 1;
  QStringList marks;
  for (int i = 0; i < n; ++i) marks << QStringLiteral("?");
  return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT DO NOTHING")
      .arg(QLatin1String(table), QLatin1String(columns), marks.join(QStringLiteral(", ")));
}

QVariant TextOrNull(const QString& text) { return text.isEmpty() ? QVariant() : QVariant(text); }

QVariant NonNull(const QString& text) { return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text); }

int UtcOffsetMinutes() { return QDateTime::currentDateTime().offsetFromUtc() / 60; }

QString NewId() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

void StoreImpl::Fail(const QString& why) {
  const QString text = QStringLiteral("history: %1: %2").arg(local.where(), why);
  if (problem.isEmpty()) problem = text;
  if (said) return;
  said = true;
  if (handler) handler(text);
}

bool StoreImpl::Write(const QString& statement, const QVariantList& values) {
  if (!usable) return false;
  QString why;
  if (local.Exec(statement, values, &why)) return true;
  Fail(why + QStringLiteral("; the test goes on, this is not kept"));
  return false;
}

bool StoreImpl::WriteAll(const std::vector<std::pair<QString, QVariantList>>& statements) {
  if (!usable) return false;
  QString why;
  bool ok = local.Begin(false, &why);
  for (size_t i = 0; ok && i < statements.size(); ++i) ok = local.Exec(statements[i].first, statements[i].second, &why);
  if (ok && local.Commit(&why)) return true;
  local.Rollback();
  Fail(why + QStringLiteral("; the test goes on, this is not kept"));
  return false;
}

QString StoreImpl::StationId(const StationInfo& s) {
  static const QUuid kSpace(QStringLiteral("{6f1c2a8e-4410-4d52-9a1b-6b6d34410000}"));
  const QString id = QUuid::createUuidV5(kSpace, QStringList{s.host, s.login, s.toolVersion}.join(QLatin1Char('\n')))
                         .toString(QUuid::WithoutBraces);
  if (!stations.contains(id) && Write(QString::fromLatin1(sql::kInsertStation), {id, NonNull(s.host), NonNull(s.toolVersion), NonNull(s.login)}))
    stations.insert(id);
  return id;
}

void StoreImpl::SeeRegister(const Identity& r, qint64 atMs) {
  if (r.serial.isEmpty()) return;
  Write(QString::fromLatin1(sql::kUpsertRegister),
        {r.serial, TextOrNull(r.fiscalNumber), TextOrNull(r.taxNumber), TextOrNull(r.firmware),
         TextOrNull(r.firmwareDate), atMs, atMs});
}

Store::Store(const Location& location) : d_(std::make_unique<StoreImpl>()) { d_->location = location; }

Store::~Store() {
  if (gShared == this) gShared = nullptr;
}

bool Store::Open() {
  d_->usable = false;
  if (d_->location.none()) return false;
  QString why;
  if (!d_->local.OpenSqlite(d_->location.localPath, &why)) {
    d_->Fail(why + QStringLiteral("; it is left as it is and this run is not kept"));
    return false;
  }
  if (!gSqliteStatementForTests.isEmpty() && !d_->local.Run(gSqliteStatementForTests, &why)) {
    d_->Fail(why);
    return false;
  }
  // A file that is no history of this tool is left untouched: its version is
  // read before anything is written. The migration's transaction takes the
  // write lock first: a file that cannot be written says so here, before the run.
  int version = 0;
  if (ReadSchemaVersion(d_->local, &version, &why)) {
    if (version < 0) why = QStringLiteral("it holds tables of something else, not a history");
    if (version > kSchemaVersion) why = NewerSchemaText(version);
  }
  if (!why.isEmpty() || !d_->local.UseWal(&why) || !Migrate(d_->local, &why)) {
    d_->Fail(why + QStringLiteral("; it is left as it is and this run is not kept"));
    d_->local.Close();
    return false;
  }
  d_->usable = true;
  return true;
}

bool Store::usable() const { return d_->usable; }
const Location& Store::location() const { return d_->location; }
QString Store::problem() const { return d_->problem; }
void Store::SetProblemHandler(std::function<void(const QString&)> handler) { d_->handler = std::move(handler); }
Store* Store::Shared() { return gShared; }
void Store::SetShared(Store* store) { gShared = store; }

}  // namespace history
