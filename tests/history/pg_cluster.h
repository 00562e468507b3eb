// One throwaway PostgreSQL cluster per test binary (pg_throwaway.sh): started
// on first use, stopped at exit. Without PostgreSQL the tests that need it
// are skipped, or fail when KM_REQUIRE_POSTGRES=1 (as CI sets it).
#pragma once
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace history_test {

class PgCluster {
 public:
  static PgCluster& Get() {
    static PgCluster cluster;
    return cluster;
  }
  ~PgCluster() { Control(QStringLiteral("stop")); }

  bool running() const { return running_; }
  const QString& why() const { return why_; }
  // A database of its own on the cluster (made on first use).
  QString Url(const QString& database = QStringLiteral("postgres")) {
    if (database != QLatin1String("postgres") && !made_.contains(database)) {
      Control(QStringLiteral("psql"), {QStringLiteral("CREATE DATABASE \"%1\"").arg(database)});
      made_ << database;
    }
    return QStringLiteral("postgresql://postgres@127.0.0.1:%1/%2").arg(port_).arg(database);
  }
  // The server gone at once (a pulled plug), and back on the same port.
  bool Kill() { return Control(QStringLiteral("kill")); }
  bool Start() {
    QString out;
    running_ = Control(QStringLiteral("start"), {}, &out);
    if (running_) port_ = out.trimmed().toInt();
    return running_;
  }
  bool Psql(const QString& database, const QString& statement) {
    return Control(QStringLiteral("psql"), {statement, database});
  }

 private:
  PgCluster() {
    dir_.setAutoRemove(true);
    if (!Start()) why_ = QStringLiteral("the throwaway PostgreSQL did not start: ") + why_;
  }

  bool Control(const QString& command, const QStringList& sql = {}, QString* out = nullptr) {
    QProcess p;
    if (command == QLatin1String("psql"))
      p.start(QStringLiteral("psql"), {QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                                       Url(sql.value(1, QStringLiteral("postgres"))), QStringLiteral("-c"),
                                       sql.value(0)});
    else
      p.start(QStringLiteral(KM_PG_SCRIPT), {command, dir_.path()});
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out) *out = QString::fromUtf8(p.readAllStandardOutput());
    if (!ok) why_ = QString::fromUtf8(p.readAllStandardError()) + p.errorString();
    return ok;
  }

  QTemporaryDir dir_;
  bool running_ = false;
  int port_ = 0;
  QString why_;
  QStringList made_;
};

// The cluster, or the test skipped (failed when PostgreSQL is required).
#define KM_NEED_POSTGRES()                                                                  \
  do {                                                                                      \
    if (!::history_test::PgCluster::Get().running()) {                                      \
      if (qEnvironmentVariableIntValue("KM_REQUIRE_POSTGRES") == 1)                          \
        FAIL() << ::history_test::PgCluster::Get().why().toStdString();                     \
      GTEST_SKIP() << ::history_test::PgCluster::Get().why().toStdString();                 \
    }                                                                                       \
  } while (0)

}  // namespace history_test
