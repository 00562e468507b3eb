// The shared server: a real PostgreSQL (a throwaway cluster). Its schema
// made by --history-init and checked by a station; runs uploaded whatever
// happens to the server on the way, none lost and none twice.
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <thread>

#include "driver/command_codes.h"
#include "history/queries.h"
#include "history/testing.h"
#include "tests/history/history_fixture.h"
#include "tests/history/pg_cluster.h"

using namespace history_test;
using regtest::StepKind;

namespace {

constexpr int kSteps = 5;

// `n` runs of register VT<i> in the store, each with kSteps steps (one failed
// command each) and a service event.
void WriteRuns(history::Store& store, int n) {
  for (int i = 0; i < n; ++i) {
    history::RunWriter w(&store);
    w.Start(Station(), 1, history::RunKind::RunTest);
    w.Attach();
    Diagnostic(QStringLiteral("VT%1").arg(i), QStringLiteral("FN'%1").arg(i));
    for (int s = 0; s < kSteps; ++s) {
      w.StepBegun(Step(StepKind::Status, 1, s));
      Exchange(kCmdGetStatus, {}, kFlagNoPaper);
      w.StepEnded(Step(StepKind::Status, 1, s), s + 1);
    }
    w.Detach();
    w.Ended(regtest::RunEnd::Completed, kSteps);
    history::ServiceJournal j(&store, Station());
    j.Attach();
    Exchange(kCmdSetDateTime, {}, 0, QStringLiteral("01-02-24 10:00:00"));
    j.Detach();
  }
}

// One number from the server.
qint64 Count(const QString& url, const QString& statement) {
  qint64 n = -1;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("count"));
    const QStringList parts = url.mid(13).split(QRegularExpression(QStringLiteral("[@:/]")));
    db.setUserName(parts[0]);
    db.setHostName(parts[1]);
    db.setPort(parts[2].toInt());
    db.setDatabaseName(parts[3]);
    if (db.open()) {
      QSqlQuery q(db);
      if (q.exec(statement) && q.next()) n = q.value(0).toLongLong();
    }
  }
  QSqlDatabase::removeDatabase(QStringLiteral("count"));
  return n;
}

// The counts that must match what was written: runs, steps, failed commands, events.
void ExpectOnServer(const QString& url, int runs) {
  EXPECT_EQ(Count(url, QStringLiteral("SELECT count(*) FROM runs")), runs);
  EXPECT_EQ(Count(url, QStringLiteral("SELECT count(*) FROM steps")), runs * kSteps);
  EXPECT_EQ(Count(url, QStringLiteral("SELECT count(*) FROM failed_commands")), runs * kSteps);
  EXPECT_EQ(Count(url, QStringLiteral("SELECT count(*) FROM service_events")), runs);
  EXPECT_EQ(Count(url, QStringLiteral("SELECT count(*) FROM registers")), runs);
  EXPECT_EQ(Count(url, QStringLiteral("SELECT count(*) FROM runs WHERE verdict = 'failed' AND errors = 5")), runs);
}

}  // namespace

TEST(HistoryServer, SchemaIsMadeOnceAndCheckedByStations) {
  KM_NEED_POSTGRES();
  PgCluster& pg = PgCluster::Get();
  const QString url = pg.Url(QStringLiteral("schema"));
  QTemporaryDir dir;
  history::Store store({dir.filePath(QStringLiteral("h.sqlite")), url});
  ASSERT_TRUE(store.Open());
  WriteRuns(store, 1);
  QString message;
  const struct {
    std::function<void()> before;
    bool synced;
    const char* said;
  } steps[] = {
      {[] {}, false, "no history schema: run km4410r --history-init postgresql://"},
      {[&] { EXPECT_TRUE(history::InitServer(url, &message)) << message.toStdString(); }, true, ""},
      {[&] {
         EXPECT_TRUE(history::InitServer(url, &message));
         EXPECT_TRUE(message.contains(QStringLiteral("version 1 already"))) << message.toStdString();
       },
       true, ""},
      {[&] { EXPECT_TRUE(pg.Psql(QStringLiteral("schema"), QStringLiteral("UPDATE schema_version SET version = 7"))); }, false,
       "version 7, newer than this tool's 1"},
  };
  for (const auto& s : steps) {
    s.before();
    const history::Store::SyncResult r = store.Sync();
    EXPECT_EQ(r.ok, s.synced) << r.failure.toStdString();
    EXPECT_TRUE(r.failure.contains(QString::fromLatin1(s.said))) << r.failure.toStdString();
    if (!s.synced) {
      EXPECT_TRUE(r.failure.contains(url)) << r.failure.toStdString();
    }
  }
  EXPECT_FALSE(history::Reader(url).ok());
  EXPECT_FALSE(history::InitServer(url, &message));
}

// The server down at the start, killed in the middle of an upload, a run's
// mark lost after the server committed it: every run there once in the end.
TEST(HistoryServer, NothingIsLostOrSentTwice) {
  KM_NEED_POSTGRES();
  PgCluster& pg = PgCluster::Get();
  const QString url = pg.Url(QStringLiteral("faults"));
  QString message;
  ASSERT_TRUE(history::InitServer(url, &message)) << message.toStdString();
  QTemporaryDir dir;
  history::Store store({dir.filePath(QStringLiteral("h.sqlite")), url});
  ASSERT_TRUE(store.Open());

  ASSERT_TRUE(pg.Kill());
  WriteRuns(store, 10);
  history::Store::SyncResult r = store.Sync(3000);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.runsSent, 0);
  EXPECT_TRUE(r.failure.contains(url)) << r.failure.toStdString();
  EXPECT_EQ(store.Queue().runs, 10);
  EXPECT_EQ(store.Queue().lastFailure, r.failure);

  ASSERT_TRUE(pg.Start());
  history::SetAfterRunSentForTests([&pg](int sent) {
    if (sent == 4) pg.Kill();
  });
  r = store.Sync();
  history::SetAfterRunSentForTests(nullptr);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.runsSent, 4) << r.failure.toStdString();
  EXPECT_EQ(r.runsWaiting, 6);

  ASSERT_TRUE(pg.Start());
  // A mark lost between the server's commit and the local file's.
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("marks"));
    db.setDatabaseName(dir.filePath(QStringLiteral("h.sqlite")));
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(QStringLiteral("UPDATE runs SET sent_ms = NULL WHERE id IN (SELECT id FROM runs ORDER BY start_ms LIMIT 2)")));
  }
  QSqlDatabase::removeDatabase(QStringLiteral("marks"));
  r = store.Sync();
  EXPECT_TRUE(r.ok) << r.failure.toStdString();
  EXPECT_EQ(r.runsSent, 8);
  EXPECT_EQ(r.eventsSent, 10);
  EXPECT_EQ(store.Queue().runs, 0);
  EXPECT_EQ(store.Queue().events, 0);
  ExpectOnServer(url, 10);
  // What the server shows is what the station kept.
  history::Reader server(url);
  const QList<history::RunRow> runs = server.Runs(QStringLiteral("VT3"));
  ASSERT_EQ(runs.size(), 1);
  EXPECT_EQ(runs[0].station, QStringLiteral("line-pc-1"));
  EXPECT_EQ(server.Header(QStringLiteral("VT3")).fiscalNumber, QStringLiteral("FN'3"));
}

// Two stations with the same runs (a copied file) upload at once.
TEST(HistoryServer, TwoUploadersAtOnce) {
  KM_NEED_POSTGRES();
  const QString url = PgCluster::Get().Url(QStringLiteral("two"));
  QString message;
  ASSERT_TRUE(history::InitServer(url, &message)) << message.toStdString();
  QTemporaryDir dir;
  const QString first = dir.filePath(QStringLiteral("a.sqlite")), second = dir.filePath(QStringLiteral("b.sqlite"));
  {
    history::Store store({first, url});
    ASSERT_TRUE(store.Open());
    WriteRuns(store, 30);
  }
  ASSERT_TRUE(QFile::copy(first, second));
  history::Store::SyncResult results[2];
  const auto upload = [&url](const QString& file, history::Store::SyncResult* r) {
    history::Store store({file, url});
    store.Open();
    *r = store.Sync();
  };
  std::thread a(upload, first, &results[0]);
  std::thread b(upload, second, &results[1]);
  a.join();
  b.join();
  for (const auto& r : results) {
    EXPECT_TRUE(r.ok) << r.failure.toStdString();
    EXPECT_EQ(r.runsSent, 30);
  }
  ExpectOnServer(url, 30);
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
