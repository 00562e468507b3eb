// km4410r --run-test and --ports end to end: the built program as a child
// process against simulators on ptys registered as COM numbers: its exit
// statuses, its log file against its own log lines, the record of a faulty
// run, and the summary of several registers of which one fails.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QXmlStreamReader>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "regtest/logfile.h"
#include "sim/register_model.h"
#include "sim/simulator.h"
#include "sim/tcprelay.h"

namespace sim = km4410r::sim;

namespace {

struct Result {
  int status = -1;
  QStringList out;  // stdout, line by line
  QString err;
};

// The program with a short timer check (the minute is not what is tested),
// in `folder` (the current one by default).
Result Run(const QStringList& args, const QString& folder = QString(), int openDeadlineMs = 0) {
  QProcess p;
  if (!folder.isEmpty()) p.setWorkingDirectory(folder);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("KM4410R_TEST_TIMER_MS"), QStringLiteral("300"));
  if (openDeadlineMs > 0) env.insert(QStringLiteral("KM4410R_TEST_OPEN_MS"), QString::number(openDeadlineMs));
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(KM_APP_PATH), args);
  Result r;
  if (!p.waitForFinished(120000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  QString out = QString::fromUtf8(p.readAllStandardOutput());
  if (out.endsWith(QLatin1Char('\n'))) out.chop(1);
  r.out = out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

std::unique_ptr<sim::Simulator> Register(int com) {
  sim::Options o;
  o.baud = 0;
  auto s = std::make_unique<sim::Simulator>(o);
  std::string error;
  if (!s->start(&error) || !s->registerCom(com, &error)) qFatal("simulator: %s", error.c_str());
  return s;
}

// The diagnostic printout refused in every pass: one failed step a pass.
void RefusePrintDiagnostics(sim::Simulator& s) {
  sim::FaultSpec f;
  f.fault = sim::Fault::Refuse;
  f.onlyCommand = 0x47;
  f.count = -1;
  s.addFault(f);
}

QByteArray Read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QJsonObject Json(const QString& path) { return QJsonDocument::fromJson(Read(path)).object(); }

const QStringList kQuick = {QStringLiteral("--pause-ms"), QStringLiteral("0")};

// A run on COM1 without pauses, its log and record in `dir`: run.log, run.json.
Result FileRun(const QTemporaryDir& dir, const QStringList& args) {
  return Run(QStringList{"--run-test", "--port", "COM1", "--log", dir.filePath("run.log"), "--record",
                         dir.filePath("run.json")} + args + kQuick);
}

}  // namespace

class TestHeadless : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void refusedBeforeAnythingIsSent();
  void cleanRunWritesTheLogAsSaveDoes();
  void faultyRunIsRecordedStepByStep();
  void portsSumUpEveryRegister();
  void linksThatGoAreToldAndOneThatStaysAwayIsLost();
};

void TestHeadless::refusedBeforeAnythingIsSent() {
  auto reg = Register(1);
  const struct {
    QStringList args;
    QString message;
  } usage[] = {
      {{"--run-test", "--port", "COM1", "--passes", "0"}, "km4410r: Неверное количество циклов теста\n"},
      {{"--run-test", "--port", "COM1", "--passes", "abc"}, "km4410r: Неверное количество циклов теста\n"},
      {{"--run-test", "--port", "COM1", "--passes", "2", "--pause-ms", "-1"},
       "km4410r: Неверная величина задержки между командами\n"},
      {{"--ports", "COM1,COM2", "--passes", "-3"}, "km4410r: Неверное количество циклов теста\n"},
      {{"--ports", "COM1,COM1", "--passes", "1"}, "km4410r: --ports: COM1 is given twice\n"},
      {{"--run-test", "--port", "COM1", "--passes", "1", "--bogus"}, "km4410r: unknown argument '--bogus' (see --help)\n"},
      {{"--run-test", "--port", "COM1", "--passes"}, "km4410r: --passes needs a value\n"},
      {{"--run-test", "--port", "COM256", "--passes", "1"}, "km4410r: --port 'COM256': COM1 to COM255, a device path, tcp://HOST:PORT or rfc2217://HOST:PORT\n"},
      {{"--run-test", "--port", "COM1", "--passes", "1", "--baud", "38400"},
       "km4410r: --baud '38400': 9600, 19200, 57600 or 115200\n"},
  };
  for (const auto& c : usage) {
    const Result r = Run(c.args);
    QCOMPARE(r.status, 2);
    QCOMPARE(r.err, c.message);
    QVERIFY(r.out.isEmpty());
  }
  QCOMPARE(reg->journalCount(), size_t(0));

  // No register at COM9: the window's own message.
  Result r = Run(QStringList{"--run-test", "--port", "COM9", "--passes", "1"} + kQuick);
  QCOMPARE(r.status, 3);
  QVERIFY2(r.err.startsWith(QStringLiteral("km4410r: Невозможно подключить порт ")), qPrintable(r.err));

  // A register with a non-fiscal receipt open: the invalid-state dialog's
  // text, no header line programmed, no log line.
  reg->withModel([](sim::RegisterModel& m) { m.execute(0x26, ""); });
  r = Run(QStringList{"--run-test", "--port", "COM1", "--passes", "1"} + kQuick);
  QCOMPARE(r.status, 3);
  QVERIFY2(r.err.contains(QStringLiteral("Некорректное состояние Vantor KM4410R: Открыт нефискальный чек")),
           qPrintable(r.err));
  QVERIFY(r.out.isEmpty());
  for (const sim::JournalEntry& e : reg->journal()) QCOMPARE(e.cmd, uint8_t(0x5A));
}

void TestHeadless::cleanRunWritesTheLogAsSaveDoes() {
  auto reg = Register(1);
  QTemporaryDir dir;
  const Result r = FileRun(dir, {"--passes", "2", "--fiscal"});
  QCOMPARE(r.status, 0);
  QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
  // The commands of "Подключить" and "Старт" in the window, none more: the
  // identity of the record comes from their answers.
  QByteArray codes;
  for (const sim::JournalEntry& e : reg->journal()) codes += char(e.cmd);
  QByteArray pass("\x4A\x3D\x47\x5A\x3E\x63\x45\x26\x2A\x2A\x2A\x2A\x2A\x27");
  pass += QByteArray(120, '\x23') + QByteArray(120, '\x2F');
  pass += QByteArray("\x45\x46\x46\x6B\x30\x36\x34\x33\x35\x21\x38\x55\x36\x34\x35\x21\x38\x6F\x45\x3E\x3E");
  QCOMPARE(codes.toHex(' '), (QByteArray("\x5A\x5A\x5A") + QByteArray(8, '\x2B') + pass + pass).toHex(' '));
  QVERIFY(r.out.contains(QStringLiteral("Номер прохода теста - 2")));
  QVERIFY(r.out.contains(QStringLiteral("Фискальный чек - успешно")));  // the second phase ran
  QCOMPARE(r.out.value(r.out.size() - 2), QStringLiteral("Общее количество ошибок: 0"));
  // The file holds the lines shown, as Сохранить writes them: CP1251, CR LF.
  const QByteArray bytes = Read(dir.filePath("run.log"));
  QCOMPARE(bytes, regtest::LogFileBytes(r.out));
  QVERIFY(bytes.startsWith("\xD2\xE5\xF1\xF2 Vantor KM4410R\r\n"));

  const QJsonObject rec = Json(dir.filePath("run.json"));
  QCOMPARE(rec.value("verdict").toString(), QStringLiteral("passed"));
  QCOMPARE(rec.value("errors").toInt(), 0);
  QCOMPARE(rec.value("passes_done").toInt(), 2);
  std::string serial;
  reg->withModel([&](sim::RegisterModel& m) { serial = m.serialNumber(); });
  QCOMPARE(rec.value("register").toObject().value("serial_number").toString(), QString::fromStdString(serial));
  // The simulator's clock keeps the PC's time: a rate within the resolution.
  // The PC's readings are whole milliseconds of the wall clock, so a pass's
  // interval may read a millisecond or two either side of the 300 ms minute.
  const QJsonObject clock = rec.value("clock").toObject();
  QCOMPARE(clock.value("passes_measured").toInt(), 2);
  const double rate = clock.value("rate_s_per_day").toDouble();
  const double resolution = clock.value("resolution_s_per_day").toDouble();
  QVERIFY2(resolution > 86400 && resolution <= 86400 / 0.298, qPrintable(QString::number(resolution)));
  QVERIFY2(qAbs(rate) <= resolution, qPrintable(QString::number(rate)));
}

void TestHeadless::faultyRunIsRecordedStepByStep() {
  auto reg = Register(1);
  RefusePrintDiagnostics(*reg);
  // A stopped clock: every reading the same.
  reg->withModel([](sim::RegisterModel& m) { m.setInformationAnswer(0x3E, "05-11-26 14:07:00"); });
  QTemporaryDir dir;
  const Result r = FileRun(dir, {"--passes", "1", "--log-utf8"});
  QCOMPARE(r.status, 1);
  QCOMPARE(r.err, QStringLiteral("km4410r: Команда не разрешена\n"));
  QVERIFY(r.out.contains(QStringLiteral("Ошибка печати диагностической информации")));
  QCOMPARE(Read(dir.filePath("run.log")), regtest::LogFileBytesUtf8(r.out));

  const QJsonObject rec = Json(dir.filePath("run.json"));
  QCOMPARE(rec.value("verdict").toString(), QStringLiteral("failed"));
  QCOMPARE(rec.value("errors").toInt(), 1);
  const QJsonArray steps = rec.value("passes").toArray().at(0).toObject().value("steps").toArray();
  QStringList failed;
  for (const QJsonValue& v : steps) {
    const QJsonObject step = v.toObject();
    if (step.value("outcome").toString() == QLatin1String("ok")) continue;
    failed << step.value("title").toString();
    const QJsonArray commands = step.value("commands").toArray();
    QCOMPARE(commands.size(), 1);
    const QJsonObject c = commands.at(0).toObject();
    QCOMPARE(c.value("code").toInt(), 0x47);
    QVERIFY(c.value("flags").toInteger() & 0x20);
    QVERIFY(c.value("flag_names").toArray().contains(QStringLiteral("command_not_allowed")));
    QCOMPARE(c.value("error").toString(), QStringLiteral("Команда не разрешена"));
  }
  QCOMPARE(failed, QStringList{QStringLiteral("Печать диагностической информации")});
  // A stopped clock loses a day a day.
  const QJsonObject clock = rec.value("clock").toObject();
  QCOMPARE(clock.value("passes_measured").toInt(), 1);
  QCOMPARE(clock.value("rate_s_per_day").toDouble(), -86400.0);
}

void TestHeadless::portsSumUpEveryRegister() {
  auto a = Register(1);
  auto b = Register(2);
  auto c = Register(3);
  RefusePrintDiagnostics(*b);
  // The third register is on the network.
  sim::TcpRelay relay;
  QVERIFY(relay.start(c->slavePath(), "127.0.0.1", 0, nullptr));
  const QString third = QString::fromStdString(relay.address());
  const QStringList ports = {"COM1", "COM2", third};
  const QStringList files = {"COM1", "COM2", "tcp-127.0.0.1-" + QString::number(relay.port())};
  QTemporaryDir dir;
  const QString junit = dir.filePath(QStringLiteral("results.xml"));
  const Result r =
      Run(QStringList{"--ports", ports.join(','), "--passes", "1", "--junit", junit} + kQuick, dir.path());
  QCOMPARE(r.status, 1);
  // Without --log every register's log and record are kept in a run folder.
  const QStringList folders = QDir(dir.path()).entryList({"km4410r-run-*"}, QDir::Dirs);
  QCOMPARE(folders.size(), 1);
  const QString run = dir.filePath(folders[0]);
  QVERIFY2(r.err.contains(QStringLiteral("run folder ") + run), qPrintable(r.err));
  // A heading and one row per port: port, passes, errors, duration, log, verdict, clock.
  QCOMPARE(r.out.size(), 4);
  const auto row = [&](int i) { return r.out[i].split(QLatin1Char(' '), Qt::SkipEmptyParts); };
  const char* verdicts[] = {"passed", "failed", "passed"};
  for (int i = 0; i < 3; ++i) {
    const QStringList cells = row(i + 1);
    const QString& port = ports[i];
    QVERIFY2(cells.size() >= 7, qPrintable(r.out[i + 1]));
    QCOMPARE(cells[0], port);
    QCOMPARE(cells[1], QStringLiteral("1/1"));
    QCOMPARE(cells[2], i == 1 ? QStringLiteral("1") : QStringLiteral("0"));
    QCOMPARE(cells[4], run + QLatin1Char('/') + files[i] + QStringLiteral(".log"));
    QCOMPARE(cells[5], QString::fromLatin1(verdicts[i]));
    QVERIFY(Read(cells[4]).contains("\xCE\xE1\xF9\xE5\xE5 \xEA\xEE\xEB\xE8\xF7\xE5\xF1\xF2\xE2\xEE"));  // Общее количество
    QCOMPARE(Json(run + QLatin1Char('/') + files[i] + QStringLiteral(".json")).value("verdict").toString(),
             QString::fromLatin1(verdicts[i]));
  }
  QVERIFY2(r.err.contains(QStringLiteral("COM2: Команда не разрешена")), qPrintable(r.err));
  QVERIFY2(r.err.contains(third + QStringLiteral(": pass 1 of 1, Тест таймера")), qPrintable(r.err));
  // Each register had its own test.
  for (auto* s : {a.get(), b.get(), c.get()}) QVERIFY(s->journalCount() > 250);

  // JUnit as report viewers read it: a suite per register, a case per step,
  // the failed step with the register's message.
  QXmlStreamReader xml(Read(junit));
  QStringList suites, failures;
  int cases = 0;
  QString lastCase;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    const auto at = xml.attributes();
    if (xml.name() == QLatin1String("testsuites")) {
      QCOMPARE(at.value("failures").toInt(), 1);
    } else if (xml.name() == QLatin1String("testsuite")) {
      suites << at.value("name").toString() + QLatin1Char('/') + at.value("tests").toString() + QLatin1Char('/') +
                    at.value("failures").toString();
    } else if (xml.name() == QLatin1String("testcase")) {
      ++cases;
      lastCase = at.value("classname").toString() + QLatin1Char(' ') + at.value("name").toString();
      QVERIFY(at.hasAttribute("time"));
    } else if (xml.name() == QLatin1String("failure")) {
      failures << lastCase + QStringLiteral(" | ") + at.value("message").toString();
    }
  }
  QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
  QCOMPARE(suites, (QStringList{"COM1/11/0", "COM2/11/1", third + "/11/0"}));
  QCOMPARE(cases, 33);
  QCOMPARE(failures, QStringList{"km4410r.COM2 pass 1: Печать диагностической информации | "
                                 "0x47 Печать диагностической информации: Команда не разрешена"});
}

void TestHeadless::linksThatGoAreToldAndOneThatStaysAwayIsLost() {
  // Two registers on the network; each relay stops in the first pass, once
  // the register has answered 60 commands: the first comes back 0.6 s later
  // on the same port, the second never does.
  const struct {
    bool comesBack;
  } routes[] = {{true}, {false}};
  std::vector<std::unique_ptr<sim::Simulator>> regs;
  std::vector<std::unique_ptr<sim::TcpRelay>> relays;
  QStringList ports;
  for (int i = 0; i < 2; ++i) {
    regs.push_back(Register(5 + i));
    relays.push_back(std::make_unique<sim::TcpRelay>());
    QVERIFY(relays[i]->start(regs[i]->slavePath(), "127.0.0.1", 0, nullptr));
    ports << QString::fromStdString(relays[i]->address());
  }
  std::vector<std::thread> cutters;
  for (int i = 0; i < 2; ++i)
    cutters.emplace_back([&, i] {
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (regs[i]->journalCount() < 60 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      const int port = relays[i]->port();
      relays[i]->stop();
      if (!routes[i].comesBack) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
      for (int tries = 0; tries < 40 && !relays[i]->start(regs[i]->slavePath(), "127.0.0.1", port, nullptr); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    });
  QTemporaryDir dir;
  const QString junit = dir.filePath(QStringLiteral("results.xml"));
  const Result r = Run(QStringList{"--ports", ports.join(','), "--passes", "2", "--junit", junit} + kQuick,
                       dir.path(), 300);
  for (std::thread& t : cutters) t.join();
  QCOMPARE(r.status, 1);
  QCOMPARE(r.out.size(), 3);
  const QString run = dir.filePath(QDir(dir.path()).entryList({"km4410r-run-*"}, QDir::Dirs).value(0));
  for (int i = 0; i < 2; ++i) {
    const QString base = run + QLatin1Char('/') + QStringLiteral("tcp-127.0.0.1-") +
                         QString::number(QUrl(ports[i]).port());
    const QJsonObject rec = Json(base + QStringLiteral(".json"));
    const QJsonArray drops = rec.value("link_drops").toArray();
    QVERIFY2(!drops.isEmpty(), qPrintable(r.out.join('\n')));
    const QJsonObject drop = drops.at(0).toObject();
    QCOMPARE(drop.value("pass").toInt(), 1);
    QCOMPARE(drop.value("reason").toString(), QStringLiteral("сервер закрыл соединение"));
    const QByteArray log = Read(base + QStringLiteral(".log"));
    QVERIFY(log.contains(regtest::LogFileBytes({QStringLiteral("Связь с регистратором потеряна в ")}).chopped(2)));
    if (routes[i].comesBack) {
      // Only the exchanges while it was away failed; both passes ran.
      QCOMPARE(drops.size(), 1);
      QVERIFY(drop.contains("back"));
      QVERIFY2(rec.value("errors").toInt() <= 5, qPrintable(QString::number(rec.value("errors").toInt())));
      QCOMPARE(rec.value("verdict").toString(), QStringLiteral("failed"));
      QCOMPARE(rec.value("passes_done").toInt(), 2);
      QVERIFY(log.contains(regtest::LogFileBytes({QStringLiteral("Связь с регистратором восстановлена в ")}).chopped(2)));
    } else {
      QVERIFY(!drop.contains("back"));
      QCOMPARE(rec.value("verdict").toString(), QStringLiteral("link lost"));
      const QJsonObject lost = rec.value("link_lost").toObject();
      QCOMPARE(lost.value("pass").toInt(), 1);
      QCOMPARE(lost.value("step").toString(), drop.value("step").toString());
      QVERIFY2(r.out[i + 1].contains(QStringLiteral("link lost (pass 1, ") + drop.value("step").toString() + ")"),
               qPrintable(r.out[i + 1]));
      const QByteArray xml = Read(junit);
      QVERIFY(xml.contains("message=\"link lost: "));
    }
  }
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "test_headless.moc"
