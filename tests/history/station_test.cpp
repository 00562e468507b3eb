// km4410r writing its runs: eight --ports children into one SQLite file at
// once, a hostile serial number stored and shown exactly, the record's run
// id, --history-show and the last verdict of --ports.
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "base/cp1251text.h"
#include "history/queries.h"
#include "sim/register_model.h"
#include "sim/simulator.h"

namespace sim = km4410r::sim;

namespace {

struct Result {
  int status = -1;
  QString out, err;
};

Result Program(const QStringList& args, const QString& folder) {
  QProcess p;
  p.setWorkingDirectory(folder);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("KM4410R_TEST_TIMER_MS"), QStringLiteral("200"));
  env.remove(QStringLiteral("KM4410R_HISTORY"));
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(KM_APP_PATH), args);
  Result r;
  if (!p.waitForFinished(170000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

std::unique_ptr<sim::Simulator> Register(int com, const std::string& serial) {
  sim::Options o;
  o.baud = 0;
  auto s = std::make_unique<sim::Simulator>(o);
  std::string error;
  if (!s->start(&error) || !s->registerCom(com, &error)) ADD_FAILURE() << error;
  s->withModel([&serial](sim::RegisterModel& m) { m.setSerialNumber(serial); });
  return s;
}

}  // namespace

TEST(HistoryStation, EightRegistersAtOnceInOneFile) {
  // The serial numbers as the registers send them (CP1251), one hostile.
  const std::string hostile = "O'B\"; DROP TABLE runs;--%2\xFF";
  std::vector<std::unique_ptr<sim::Simulator>> registers;
  QStringList ports;
  for (int com = 1; com <= 8; ++com) {
    registers.push_back(Register(com, com == 8 ? hostile : "VT0000000" + std::to_string(com)));
    ports << QStringLiteral("COM%1").arg(com);
  }
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("h/history.sqlite"));
  const QStringList args = {QStringLiteral("--ports"), ports.join(QLatin1Char(',')), QStringLiteral("--passes"),
                            QStringLiteral("1"), QStringLiteral("--pause-ms"), QStringLiteral("0"),
                            QStringLiteral("--history"), file};
  Result first = Program(args, dir.path());
  ASSERT_EQ(first.status, 0) << first.out.toStdString() << first.err.toStdString();
  EXPECT_FALSE(first.err.contains(QStringLiteral("history:"))) << first.err.toStdString();
  Result second = Program(args, dir.path());
  ASSERT_EQ(second.status, 0) << second.err.toStdString();
  // The second run's table names the first run's verdict for every register.
  EXPECT_EQ(second.out.count(QStringLiteral("  passed ")), 16) << second.out.toStdString();

  history::Store store({file, {}});
  ASSERT_TRUE(store.Open()) << store.problem().toStdString();
  history::Reader reader(store);
  const QString serial = fromCp1251(hostile.c_str());
  EXPECT_EQ(reader.Registers().size(), 8);
  for (int com = 1; com <= 8; ++com) {
    const QString s = com == 8 ? serial : QStringLiteral("VT0000000%1").arg(com);
    const QList<history::RunRow> runs = reader.Runs(s);
    ASSERT_EQ(runs.size(), 2) << s.toStdString();
    for (const history::RunRow& r : runs) {
      EXPECT_EQ(r.verdict, QStringLiteral("passed"));
      EXPECT_EQ(r.kind, QStringLiteral("ports"));
      EXPECT_EQ(r.port, QStringLiteral("COM%1").arg(com));
      EXPECT_EQ(r.passesDone, 1);
      EXPECT_GT(r.endMs, r.startMs);
    }
  }

  // The record names the run; --history-show finds it under the hostile serial.
  const QString record = dir.filePath(QStringLiteral("one.json"));
  Result one = Program({QStringLiteral("--run-test"), QStringLiteral("--port"), QStringLiteral("COM8"),
                    QStringLiteral("--passes"), QStringLiteral("1"), QStringLiteral("--pause-ms"), QStringLiteral("0"),
                    QStringLiteral("--record"), record, QStringLiteral("--history"), file},
                   dir.path());
  ASSERT_EQ(one.status, 0) << one.err.toStdString();
  QFile f(record);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QJsonObject r = QJsonDocument::fromJson(f.readAll()).object();
  EXPECT_FALSE(r.value(QStringLiteral("station")).toString().isEmpty());
  Result show = Program({QStringLiteral("--history-show"), serial, QStringLiteral("--json"), QStringLiteral("--history"), file},
                    dir.path());
  ASSERT_EQ(show.status, 0) << show.err.toStdString();
  const QJsonObject shown = QJsonDocument::fromJson(show.out.toUtf8()).object();
  EXPECT_EQ(shown.value(QStringLiteral("serial")).toString(), serial);
  const QJsonArray runs = shown.value(QStringLiteral("runs")).toArray();
  ASSERT_EQ(runs.size(), 3);
  EXPECT_EQ(runs[0].toObject().value(QStringLiteral("id")).toString(), r.value(QStringLiteral("run_id")).toString());
  EXPECT_EQ(runs[0].toObject().value(QStringLiteral("kind")).toString(), QStringLiteral("run-test"));

  // The same as lines of text, the serial as it stands; and its report.
  Result text = Program({QStringLiteral("--history-show"), serial, QStringLiteral("--history"), file}, dir.path());
  ASSERT_EQ(text.status, 0) << text.err.toStdString();
  const QStringList lines = text.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("register ") + serial + QStringLiteral(", fiscal number ")))
      << lines[0].toStdString();
  EXPECT_TRUE(lines[1].contains(QStringLiteral("  COM8  "))) << lines[1].toStdString();
  const QString report = dir.filePath(QStringLiteral("report.html"));
  Result made = Program({QStringLiteral("--history-report"), serial, report, QStringLiteral("--history"), file},
                        dir.path());
  ASSERT_EQ(made.status, 0) << made.err.toStdString();
  QFile html(report);
  ASSERT_TRUE(html.open(QIODevice::ReadOnly));
  EXPECT_TRUE(QString::fromUtf8(html.readAll()).contains(serial.toHtmlEscaped()));
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
