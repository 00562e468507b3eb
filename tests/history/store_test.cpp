// The history on SQLite: where it is, what is kept of a run and a service
// visit (hostile texts exactly), a run cut short, and the files it refuses.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "driver/command_codes.h"
#include "history/queries.h"
#include "history/testing.h"
#include "tests/history/history_fixture.h"

using namespace history_test;
using regtest::StepKind;

namespace {

QByteArray Bytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A statement straight on the file, beside the store.
void RawSql(const QString& path, const QStringList& statements) {
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
    db.setDatabaseName(path);
    ASSERT_TRUE(db.open());
    for (const QString& s : statements) {
      QSqlQuery q(db);
      ASSERT_TRUE(q.exec(s)) << s.toStdString();
    }
  }
  QSqlDatabase::removeDatabase(QStringLiteral("raw"));
}

}  // namespace

TEST(HistoryLocation, WhereIsReadOrRefused) {
  const QString defaultFile = history::DefaultSqlitePath();
  EXPECT_TRUE(defaultFile.endsWith(QStringLiteral("/km4410r/history.sqlite")));
  const struct {
    const char* where;
    bool ok;
    QString local, remote;
    const char* refusal;  // a part of it
  } cases[] = {
      {"none", true, {}, {}, ""},
      {"/tmp/h.sqlite", true, "/tmp/h.sqlite", {}, ""},
      {"postgresql://line@db.local/km", true, defaultFile, "postgresql://line@db.local/km", ""},
      {"postgresql://line@127.0.0.1:5433/km", true, defaultFile, "postgresql://line@127.0.0.1:5433/km", ""},
      {"postgresql://line:secret@db/km", false, {}, {}, "~/.pgpass"},
      {"postgresql://db/km", false, {}, {}, "postgresql://USER@HOST[:PORT]/DB"},
      {"postgresql://line@db:70000/km", false, {}, {}, "1 to 65535"},
      {"postgresql://line@db/km?sslmode=disable", false, {}, {}, "postgresql://USER@HOST"},
      {"mysql://line@db/km", false, {}, {}, "only a file"},
      {"", false, {}, {}, "empty"},
      {"/tmp", false, {}, {}, "is a folder"},
  };
  for (const auto& c : cases) {
    history::Location l;
    QString refusal;
    EXPECT_EQ(history::ParseLocation(QString::fromUtf8(c.where), &l, &refusal), c.ok) << c.where;
    EXPECT_EQ(l.localPath, c.local) << c.where;
    EXPECT_EQ(l.remoteUrl, c.remote) << c.where;
    EXPECT_TRUE(refusal.contains(QString::fromUtf8(c.refusal))) << c.where << " " << refusal.toStdString();
    EXPECT_FALSE(refusal.contains(QStringLiteral("secret"))) << c.where;
  }
  // The option before the environment before the setting before the default.
  history::Location l;
  qputenv(history::kEnvironmentVariable, "/tmp/env.sqlite");
  EXPECT_TRUE(history::ChooseLocation(QStringLiteral("none"), QStringLiteral("/tmp/saved.sqlite"), &l, nullptr));
  EXPECT_TRUE(l.none());
  EXPECT_TRUE(history::ChooseLocation({}, QStringLiteral("/tmp/saved.sqlite"), &l, nullptr));
  EXPECT_EQ(l.localPath, QStringLiteral("/tmp/env.sqlite"));
  qunsetenv(history::kEnvironmentVariable);
  EXPECT_TRUE(history::ChooseLocation({}, QStringLiteral("/tmp/saved.sqlite"), &l, nullptr));
  EXPECT_EQ(l.localPath, QStringLiteral("/tmp/saved.sqlite"));
  EXPECT_TRUE(history::ChooseLocation({}, {}, &l, nullptr));
  EXPECT_EQ(l.localPath, defaultFile);
}

TEST(HistoryStore, RegisterTextsAreKeptExactly) {
  const QString hostile[] = {
      QStringLiteral("O'Brien \"quoted\" ''"),
      QStringLiteral("1'; DROP TABLE runs; --"),
      QStringLiteral("SELECT * FROM registers WHERE 1=1"),
      fromCp1251("\xFF\xFF\xC0\xDF"),  // я я А Я
      QString(200, QChar(0x0416)),
      QStringLiteral("back\\slash %_ ? $1 :name"),
  };
  QTemporaryDir dir;
  history::Store store({dir.filePath(QStringLiteral("deep/folder/history.sqlite")), {}});
  ASSERT_TRUE(store.Open()) << store.problem().toStdString();
  for (const QString& text : hostile) {
    history::RunWriter run(&store);
    run.Start(Station(text), 1, history::RunKind::RunTest);
    run.Attach();
    Diagnostic(text, text + QStringLiteral("F"), text + QStringLiteral("W"));
    Exchange(kCmdGetTaxNumber, {text + QStringLiteral("T")});
    run.StepBegun(Step(StepKind::Status, 1));
    Exchange(kCmdGetStatus, {}, kFlagNoPaper);
    run.StepEnded(Step(StepKind::Status, 1), 1);
    run.Detach();
    run.Ended(regtest::RunEnd::Completed, 1);

    history::ServiceJournal journal(&store, Station());
    journal.Attach();
    Diagnostic(text, text + QStringLiteral("F"), text + QStringLiteral("W"));
    Exchange(kCmdSetHeaderFooter, {}, 0, QStringLiteral("1") + text);
    journal.Detach();

    history::Reader reader(store);
    const history::RegisterHeader h = reader.Header(text);
    ASSERT_TRUE(h.found) << text.toStdString();
    EXPECT_EQ(h.fiscalNumber, text + QStringLiteral("F"));
    EXPECT_EQ(h.taxNumber, text + QStringLiteral("T"));
    EXPECT_EQ(h.firmware, text + QStringLiteral("W"));
    const QList<history::RunRow> runs = reader.Runs(text);
    ASSERT_EQ(runs.size(), 1);
    EXPECT_EQ(runs[0].port, text);
    EXPECT_EQ(runs[0].verdict, QStringLiteral("failed"));
    const QList<history::ServiceEvent> events = reader.Journal(text);
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].data, QStringLiteral("1") + text);
    EXPECT_TRUE(reader.ok()) << reader.error().toStdString();
  }
  EXPECT_EQ(history::Reader(store).Registers().size(), static_cast<qsizetype>(std::size(hostile)));
  EXPECT_TRUE(store.problem().isEmpty()) << store.problem().toStdString();
}

// Runs of one register: a passed one with its clock, a failed one, and one
// cut short (its end never written): newest first, the faults counted.
TEST(HistoryStore, RunsAreWrittenAsTheyGo) {
  QTemporaryDir dir;
  history::Store store({dir.filePath(QStringLiteral("h.sqlite")), {}});
  ASSERT_TRUE(store.Open());
  const auto run = [&store](const QString& firmware, bool paperFault, bool end) {
    history::RunWriter w(&store);
    w.Start(Station(), 2, history::RunKind::Window);
    w.Attach();
    Diagnostic(QStringLiteral("VT1"), QStringLiteral("FN1"), firmware);
    int errors = 0;
    for (int pass = 1; pass <= 2; ++pass) {
      w.StepBegun(Step(StepKind::XReport, pass, errors));
      if (paperFault) Exchange(kCmdDailyReport, {}, kFlagNoPaper, QStringLiteral("9162,2"));
      errors += paperFault;
      w.StepEnded(Step(StepKind::XReport, pass, errors - paperFault), errors);
      w.StepBegun(Step(StepKind::Timer, pass, errors));
      // One second on the register's clock in 100 s of the PC's.
      Exchange(kCmdGetDateTime, {QStringLiteral("01-02-24 10:00:00")}, 0, {}, 1700000000000);
      Exchange(kCmdGetDateTime, {QStringLiteral("01-02-24 10:00:01")}, 0, {}, 1700000100000);
      w.StepEnded(Step(StepKind::Timer, pass, errors), errors);
    }
    w.Detach();
    if (end) w.Ended(regtest::RunEnd::Completed, errors);
    return w.runId();
  };
  run(QStringLiteral("1.06"), true, true);
  run(QStringLiteral("1.07"), true, true);
  const QString cut = run(QStringLiteral("1.07"), false, false);

  history::Reader reader(store);
  const QList<history::RunRow> runs = reader.Runs(QStringLiteral("VT1"));
  ASSERT_EQ(runs.size(), 3);
  EXPECT_EQ(runs[0].id, cut);
  EXPECT_EQ(runs[0].verdict, QStringLiteral("aborted"));
  EXPECT_EQ(runs[0].endMs, 0);
  EXPECT_EQ(runs[1].verdict, QStringLiteral("failed"));
  EXPECT_EQ(runs[1].errors, 2);
  EXPECT_EQ(runs[1].passesDone, 2);
  EXPECT_TRUE(runs[1].firmwareChanged);
  EXPECT_FALSE(runs[0].firmwareChanged);
  EXPECT_EQ(runs[1].flagsEnd, 0);
  EXPECT_DOUBLE_EQ(runs[1].clockRate.value_or(0), (1.0 - 100) / 100 * 86400);
  EXPECT_DOUBLE_EQ(runs[1].clockResolution.value_or(0), 864.0);
  EXPECT_EQ(runs[1].kind, QStringLiteral("window"));
  // The two failed X reports: the command and the flag, in two runs, not in the newest.
  const QList<history::Fault> faults = reader.Faults(QStringLiteral("VT1"));
  ASSERT_EQ(faults.size(), 2);
  for (const history::Fault& f : faults) {
    EXPECT_EQ(f.runs, 2);
    EXPECT_EQ(f.times, 4);
    EXPECT_FALSE(f.lastRun);
  }
  EXPECT_EQ(reader.RunBefore(QStringLiteral("VT1"), cut)->id, runs[1].id);
  const history::RegisterHeader h = reader.Header(QStringLiteral("VT1"));
  EXPECT_EQ(h.visits, 3);
  EXPECT_EQ(h.stations, QStringList{QStringLiteral("line-pc-1")});
  EXPECT_EQ(h.firmware, QStringLiteral("1.07"));
}

TEST(HistoryJournal, CommandsThatChangeTheRegisterAreKept) {
  const struct {
    int code;
    const char* sent;
    bool kept;
    const char* stored;
  } cases[] = {
      {kCmdSetDateTime, "01-02-24 10:00:00", true, "01-02-24 10:00:00"},
      {kCmdDecimalsAndTaxRates, "", false, ""},
      {kCmdDecimalsAndTaxRates, "9162,2,11110,20.00,7.00,0.00,0.00", true, "***,2,11110,20.00,7.00,0.00,0.00"},
      {kCmdSetOperatorPassword, "3,1111,2222", true, "3,***,***"},
      {kCmdSetOperatorName, "3,1111,Іван", true, "3,***,Іван"},
      {kCmdDailyReport, "9162,0", true, "***,0"},
      {kCmdDailyReport, "9162,2", false, ""},
      {kCmdArticles, "P\xC0" "5,1,10.00,9162,Хліб", true, "P\xC0" "5,1,10.00,***,Хліб"},
      {kCmdArticles, "DA,9162", true, "DA,***"},
      {kCmdArticles, "R5", false, ""},
      {kCmdServiceCashInOut, "", false, ""},
      {kCmdServiceCashInOut, "-10.00", true, "-10.00"},
      {kCmdOpenCashDrawer, "", true, ""},
      {kCmdCancelReceipt, "", true, ""},
      {kCmdWriteNetworkSettings, "192.168.0.5", true, "192.168.0.5"},
      {kCmdGetStatus, "X", false, ""},
  };
  QTemporaryDir dir;
  history::Store store({dir.filePath(QStringLiteral("h.sqlite")), {}});
  ASSERT_TRUE(store.Open());
  history::ServiceJournal journal(&store, Station());
  journal.SetRegister({QStringLiteral("VT9"), QStringLiteral("FN9"), {}, QStringLiteral("1.07"), {}});
  journal.Attach();
  int kept = 0;
  for (const auto& c : cases) {
    Exchange(c.code, {}, c.code == kCmdCancelReceipt ? uint32_t{kFlagNotAllowed} : 0u, fromCp1251(c.sent));
    const QList<history::ServiceEvent> events = history::Reader(store).Journal(QStringLiteral("VT9"));
    ASSERT_EQ(events.size(), kept + c.kept) << c.code << " " << c.sent;
    if (!c.kept) continue;
    ++kept;
    EXPECT_EQ(events[0].code, c.code);
    EXPECT_EQ(events[0].data, fromCp1251(c.stored));
    EXPECT_EQ(events[0].outcome, QLatin1String(c.code == kCmdCancelReceipt ? "failed" : "ok"));
  }
  journal.Detach();
}

// Files the history cannot use: refused with their path named, never
// overwritten, said once; the run goes on.
TEST(HistoryStore, UnusableFilesAreRefusedWithTheirPath) {
  const struct {
    const char* name;
    QByteArray content;          // a file made first (empty: a new one)
    QStringList statements;      // run on it first
    const char* options;         // connect options
    const char* pragma;          // after opening
    bool opens;
    const char* said;
  } cases[] = {
      {"corrupt", QByteArray("this is no database, but someone's notes\n").repeated(200), {}, "", "", false,
       "file is not a database"},
      {"newer", {}, {"CREATE TABLE schema_version (version INTEGER)", "INSERT INTO schema_version VALUES (99)"}, "", "",
       false, "version 99, newer"},
      {"foreign", {}, {"CREATE TABLE customers (name TEXT)"}, "", "", false, "tables of something else"},
      {"read-only", {}, {"CREATE TABLE t (x INTEGER)", "DROP TABLE t"}, "QSQLITE_OPEN_READONLY", "", false, "readonly"},
      {"full", {}, {}, "", "PRAGMA max_page_count=20", true, "full"},
  };
  for (const auto& c : cases) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.sqlite"));
    if (!c.content.isEmpty()) {
      QFile f(path);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(c.content);
    }
    if (!c.statements.isEmpty()) RawSql(path, c.statements);
    const QByteArray before = Bytes(path);
    history::SetSqliteOptionsForTests(QString::fromLatin1(c.options));
    history::SetSqliteStatementForTests(QString::fromLatin1(c.pragma));
    QStringList said;
    history::Store store({path, {}});
    store.SetProblemHandler([&said](const QString& t) { said << t; });
    EXPECT_EQ(store.Open(), c.opens) << c.name;
    // A long run on it: the test's side never fails.
    history::RunWriter run(&store);
    run.Start(Station(), 50, history::RunKind::RunTest);
    run.Attach();
    Diagnostic(QStringLiteral("VT1"), QString(200, QLatin1Char('F')));
    for (int pass = 1; pass <= 50; ++pass)
      for (int i = 0; i < 20; ++i) {
        run.StepBegun(Step(StepKind::Status, pass));
        Exchange(kCmdGetStatus, {}, kFlagNoPaper);
        run.StepEnded(Step(StepKind::Status, pass), 1);
      }
    run.Detach();
    run.Ended(regtest::RunEnd::Completed, 0);
    history::SetSqliteOptionsForTests({});
    history::SetSqliteStatementForTests({});
    ASSERT_EQ(said.size(), 1) << c.name;
    EXPECT_TRUE(said[0].contains(QDir::toNativeSeparators(path))) << c.name << " " << said[0].toStdString();
    EXPECT_TRUE(said[0].contains(QString::fromLatin1(c.said))) << c.name << " " << said[0].toStdString();
    if (!c.opens) {
      EXPECT_EQ(Bytes(path), before) << c.name;
    }
  }
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
