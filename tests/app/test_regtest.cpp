// The register test (page "Тест РРО"): the scenario's frames and its log as
// whole texts, the faults that change its flow, the refusals at the start,
// Stop, and the log's Clear and Save.
#include <QCheckBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <clocale>
#include <sys/mount.h>
#include <unistd.h>

#include "base/cp1251text.h"
#include "regtest/logfile.h"
#include "regtest/testing.h"
#include "tests/app/harness.h"

using namespace km::test;

class TestRegisterTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void onePassSendsTheScenarioAndLogsIt();
  void failuresAreLoggedAndCounted();
  void abortsLeaveTheRunningButtons();
  void refusalsAtTheStart();
  void stopIsSeenAtTheStopChecks();
  void checkBoxIsReadInEveryPass();
  void amountsUnderACommaDecimalLocale();
  void clearAndSave();
  void saveNeverLosesTheOldFile();
};

namespace {

const QString kSep = QStringLiteral("******************************");
const QString kBanner = QStringLiteral("***********************************");
const QString kAny = QStringLiteral("\x01any");  // a line whose text is the register's answer

// The display sample written out: 120 characters, twice.
const QString kSeries = QStringLiteral(
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
    "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩьЫЪЭЮЯЄЇабвгдежзийклмнопрстуфхцчшщьыъэюяєї");

// A session whose register reads texts as sent (no translation), clock set.
struct RegTest {
  Session s;
  explicit RegTest(SessionOptions o = {}) : s(o) {
    s.model([](RegisterModel& m) { m.setSwitches("00101100"); });
    s.ui.clock = QDateTime(QDate(2026, 12, 8), QTime(14, 7, 59));
    QVERIFY(s.connect());
    s.main().ui.PageControl1->setCurrentIndex(0);
    forget(s);
  }
  Ui::TabSheet1& page() { return s.main().tab1; }
  void start(const QString& passes = QStringLiteral("1"), bool withoutFiscal = false) {
    typeInto(page().ComboBox2, passes);
    page().CheckBox1->setChecked(withoutFiscal);
    click(page().Button3);
  }
  // The frames since the last clear as "CC data" (data in CP1251 read back).
  QStringList sent() {
    QStringList out;
    for (const auto& e : s.frames())
      out << QStringLiteral("%1 %2").arg(e.cmd, 2, 16, QLatin1Char('0')).toUpper().left(2) + " " +
                 fromCp1251(QByteArray::fromStdString(e.hostData));
    return out;
  }
  QStringList log() { return s.main().LogLines(); }
};

QString Frame(const char* cmd, const QString& data = QString()) {
  return QString::fromLatin1(cmd) + QStringLiteral(" ") + data;
}

// Compares line by line; kAny matches any line. Names the first difference.
void compareLog(const QStringList& actual, const QStringList& expected) {
  for (int i = 0; i < std::max(actual.size(), expected.size()); ++i) {
    const QString a = i < actual.size() ? actual[i] : QStringLiteral("<missing>");
    const QString e = i < expected.size() ? expected[i] : QStringLiteral("<nothing more>");
    if (e == kAny && i < actual.size()) continue;
    QVERIFY2(a == e, qPrintable(QStringLiteral("line %1: \"%2\", expected \"%3\"").arg(i).arg(a, e)));
  }
}

QStringList StartFrames() {
  return {Frame("5A", "1"), Frame("5A", "1"),
          Frame("2B", "0У К Р А Ї Н А"), Frame("2B", "1м. К и ї в"),
          Frame("2B", "2АТ \"ВАНТОР УКРАЇНА\""), Frame("2B", "3тел. (044) 123-45-67"),
          Frame("2B", "4"), Frame("2B", "5"), Frame("2B", "6"), Frame("2B", "7")};
}

QStringList PhaseOneFrames(const QString& dateTime) {
  QStringList f = {Frame("3D", dateTime), Frame("47"), Frame("5A", "1"), Frame("3E"),
                   Frame("63"), Frame("45", "9162,2"), Frame("26")};
  for (int indent : {0, 3, 6, 8, 11})
    f << Frame("2A", QString(indent, ' ') + QStringLiteral("НеФиСкАлЬнЫй  Текст"));
  f << Frame("27");
  const QString sample = kSeries + kSeries;
  for (int i = 0; i < 120; ++i) f << Frame("23", sample.mid(i, 20));
  for (int i = 0; i < 120; ++i) f << Frame("2F", sample.mid(i, 20));
  return f;
}

const QStringList kPhaseTwoFrames = {
    Frame("45", "9162,0"), Frame("46", "10.00"), Frame("46", "-10.00"),
    Frame("6B", "PА100,1,1.25,9162,Кулебяка"),
    Frame("30", "00001,9162,00001,I"), Frame("36", "Фискальный  ТеКсТ"),
    Frame("34", "100*4.000,-5.00"), Frame("33", "11;-1.00"), Frame("35", "\tP10.00"),
    Frame("21"), Frame("38"),
    Frame("55", "00001,9162,00001,I"), Frame("36", "Фискальный  ТеКсТ"),
    Frame("34", "100*2.000;-1.00"), Frame("35", "\tP5.00"), Frame("21"), Frame("38"),
    Frame("6F", "9162,S"), Frame("45", "9162,0")};

const QStringList kTimerFrames = {Frame("3E"), Frame("3E")};

QStringList Header(const QString& when) {
  return {"Тест Vantor KM4410R", "Дата тестирования:", when, kSep};
}

QStringList PassBanner(int n) {
  return {" ", kBanner, kBanner, QStringLiteral("Номер прохода теста - %1").arg(n), kBanner};
}

const QStringList kPhaseOneLog = {
    kSep, "Установка времени", "Установка времени - успешно",
    kSep, "Печать диагностической информации", "Печать диагностической информации - успешно",
    kSep, "Получить диагностическую информацию", kAny, "Получить диагностическую информацию - успешно",
    kSep, "Получить дату/время", kAny, "Получить дату/время - успешно", " ",
    kSep, "Получить налоговый номер", kAny, "Получить налоговый номер - успешно", " ",
    kSep, "X-отчет", kAny, "X-отчет - успешно", " ",
    kSep, "Нефискальный чек", kAny, "Нефискальный чек - успешно", " ",
    kSep, "Тест индикаторов клиента - строка 2",
    kSep, "Тест индикаторов клиента - строка 1", "Тест индикаторов клиента - успешно", " "};

const QStringList kPhaseTwoLog = {
    kSep, "Z-отчет", kAny, "Z-отчет - успешно",
    kSep, "Служебный внос", kAny, "Служебный внос - успешно",
    kSep, "Служебный вынос", kAny, "Служебный вынос - успешно", " ",
    kSep, "Программирование артикулов", "Программирование артикулов - успешно", " ",
    kSep, "Фискальный чек", "Фискальный чек - успешно", " ",
    kSep, "Чек возврата", "Чек возврата товара - успешно", " ",
    kSep, "Отчет проданных товаров", kAny, "Отчет проданных товаров - успешно", " ",
    kSep, "Z-отчет", kAny, "Z-отчет - успешно", " "};

const QStringList kTimerLog = {kSep, "Тест таймера", kAny, kAny, " "};

QStringList Summary(const QString& when, int errors) {
  return {"Конец теста Vantor KM4410R", "Дата тестирования:", when,
          QStringLiteral("Общее количество ошибок: %1").arg(errors), kSep};
}

QString When(const QDateTime& t) { return t.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")); }

// Runs `action` at the next processing of pending messages, as a click the
// user made while the program was busy.
void later(std::function<void()> action) {
  QMetaObject::invokeMethod(qApp, std::move(action), Qt::QueuedConnection);
}

}  // namespace

void TestRegisterTest::onePassSendsTheScenarioAndLogsIt() {
  RegTest t;
  const QDateTime started = t.s.ui.clock;
  t.start();

  QCOMPARE(t.sent(), StartFrames() + QStringList{Frame("4A", "W")} +
                         PhaseOneFrames("08-12-26 14:07") + kPhaseTwoFrames + kTimerFrames);
  compareLog(t.log(), Header(When(started)) + PassBanner(1) + kPhaseOneLog + kPhaseTwoLog +
                          kTimerLog + Summary(When(t.s.ui.clock), 0));
  QVERIFY2(t.s.ui.messages.isEmpty(), qPrintable(t.s.ui.messages.join('|')));
  // The pauses of Edit1 after steps 1 to 7, the upper display row, the eight
  // steps of the second phase, the minute of the timer check and its pause.
  QCOMPARE(t.s.ui.sleeps, (QList<int>(16, 1500) + QList<int>{60000, 1500}));
  QCOMPARE(t.s.ui.clock, started.addMSecs(17 * 1500 + 60000));
  QVERIFY(t.page().Button3->isEnabled());
  QVERIFY(!t.page().Button4->isEnabled());
  QCOMPARE(t.s.state().BusyMark, 0);
  // The register was left with the header programmed and no receipt open.
  t.s.model([](RegisterModel& m) {
    QCOMPARE(QByteArray::fromStdString(m.headerLines()[3]), toCp1251(QStringLiteral("тел. (044) 123-45-67")));
    QCOMPARE(m.headerLines()[7], std::string());
    QVERIFY(m.receiptKind() == km4410r::sim::ReceiptKind::None);
  });
}

void TestRegisterTest::failuresAreLoggedAndCounted() {
  // A refused single-command step, a refused non-fiscal line, a display
  // window that never gets an answer, a refused upper display window and a
  // refused fiscal text: each logged where it happens and counted; the pass
  // goes on.
  RegTest t({.silenceReads = 1});
  for (const FaultSpec& f : {FaultSpec{.fault = Fault::Refuse, .onlyCommand = 0x3D},
                             FaultSpec{.fault = Fault::Refuse, .onlyCommand = 0x2A, .skip = 1},
                             FaultSpec{.fault = Fault::Silence, .count = 20, .onlyCommand = 0x23, .skip = 119},
                             FaultSpec{.fault = Fault::Refuse, .onlyCommand = 0x2F, .skip = 5}})
    t.s.simulator->addFault(f);
  t.start();

  const QStringList sent = t.sent();
  // Two non-fiscal lines, the second refused; the close still sent.
  QCOMPARE(sent.filter(QRegularExpression("^2A ")).size(), 2);
  QVERIFY(sent.contains(Frame("27")));
  // The last window of the lower row sent 20 times, the first 119 once.
  const QString last = (kSeries + kSeries).mid(119, 20);
  QCOMPARE(last, QStringLiteral("ї") + QStringLiteral("ABCDEFGHIJKLMNOPQRS"));
  QCOMPARE(sent.count(Frame("23", last)), 20);
  QCOMPARE(sent.filter(QRegularExpression("^23 ")).size(), 139);

  QStringList phaseOne = kPhaseOneLog;
  phaseOne.replace(2, "Ошибка установки времени");
  phaseOne.insert(phaseOne.indexOf("Нефискальный чек") + 1, "Ошибка печати нефискального текста");
  phaseOne.replace(phaseOne.indexOf("Тест индикаторов клиента - успешно"),
                   "Ошибка теста индикаторов клиента");
  // 1 + 1 + 20 + 1 failures.
  compareLog(t.log(), Header(kAny) + PassBanner(1) + phaseOne + kPhaseTwoLog + kTimerLog +
                          Summary(kAny, 23));
  // The main handler's boxes for the three refusals; none for the silent
  // lower row.
  QCOMPARE(t.s.ui.messages.size(), 3);
}

void TestRegisterTest::abortsLeaveTheRunningButtons() {
  struct Case {
    int command;
    int skip;
    QStringList tail;  // the log's last lines
    int lastSent;      // the command sent last
    int errors;
  };
  const QList<Case> cases = {
      {0x27, 0, {"Ошибка закрытия нефискального чека", "Конец теста"}, 0x27, 1},
      {0x33, 0, {"Ошибка оплаты", "Конец теста"}, 0x33, 1},
      {0x35, 0, {"Ошибка оплаты", "Конец теста"}, 0x35, 1},
      {0x38, 0, {"Ошибка закрытия фискального чека", "Конец теста"}, 0x38, 1},
      {0x35, 1, {"Ошибка оплаты", "Конец теста"}, 0x35, 1},
      {0x38, 1, {"Ошибка закрытия чека возврата", "Конец теста"}, 0x38, 1},
      // A refused fiscal text: no sale, the subtotal still sent (and refused
      // by the register for the empty receipt).
      {0x36, 0, {"Ошибка печати фискального текста", "Ошибка оплаты", "Конец теста"}, 0x33, 2},
  };
  for (const Case& c : cases) {
    const QString name = QStringLiteral("command %1, skip %2").arg(c.command, 0, 16).arg(c.skip);
    RegTest t;
    t.s.simulator->injectFault({.fault = Fault::Refuse, .onlyCommand = c.command, .skip = c.skip});
    t.start(QStringLiteral("2"));
    const QStringList log = t.log();
    QVERIFY2(log.mid(log.size() - c.tail.size()) == c.tail,
             qPrintable(name + ": " + log.mid(log.size() - 3).join('|')));
    // Nothing sent after the failed command; no summary; one pass only.
    const QStringList sent = t.sent();
    QVERIFY2(sent.last().startsWith(QStringLiteral("%1 ").arg(c.lastSent, 2, 16, QLatin1Char('0')).toUpper()),
             qPrintable(name + ": " + sent.last()));
    QVERIFY(!log.contains("Конец теста Vantor KM4410R"));
    QCOMPARE(sent.count(Frame("4A", "W")), 1);
    // The busy mark is back to 0, the buttons stay as during the run, the
    // progress line tells the run's total.
    QCOMPARE(t.s.state().BusyMark, 0);
    QVERIFY(!t.page().Button3->isEnabled());
    QVERIFY(t.page().Button4->isEnabled());
    QCOMPARE(shown(t.page().LabelProgress), QStringLiteral("Тест прерван. Ошибок: %1").arg(c.errors));

    if (c.command != 0x33) continue;
    // Stop restores the buttons; the next Start finds the receipt open and
    // is refused after the register's own dialog: the log stays, the program
    // runs on.
    click(t.page().Button4);
    QVERIFY(t.page().Button3->isEnabled());
    forget(t.s);
    t.start();
    QCOMPARE(t.s.ui.dialogsShown, QStringList{"TForm4"});
    QCOMPARE(t.log(), log);
    QCOMPARE(t.s.ui.endRequests, 0);
    QCOMPARE(t.s.state().BusyMark, 0);
    QVERIFY(t.page().Button3->isEnabled());
    QVERIFY(!t.page().Button4->isEnabled());
    QCOMPARE(t.sent().first(), Frame("5A", "1"));
    QVERIFY(!t.sent().contains(Frame("2B", "4")));
  }
}

void TestRegisterTest::refusalsAtTheStart() {
  // The register does not answer the first query: nothing more is sent.
  {
    RegTest u({.silenceReads = 1});
    u.s.simulator->injectFault({.fault = Fault::Silence});
    u.start();
    QCOMPARE(u.s.ui.messages.last(), QStringLiteral("Ошибка получения информации"));
    QCOMPARE(u.sent(), QStringList{Frame("5A", "1")});
    QVERIFY(u.log().isEmpty());
    QCOMPARE(u.s.state().BusyMark, 0);
  }

  RegTest t;
  t.s.main().AppendLog(QStringLiteral("earlier line"));
  // Passes (with the pause as it was) and pauses (with one pass) the page
  // refuses: nothing but the diagnostic request goes out.
  const QString badPasses = QStringLiteral("Неверное количество циклов теста");
  const QString badPause = QStringLiteral("Неверная величина задержки \n   между командами");
  const struct {
    const char *passes, *pause;
    QString message;
  } inputs[] = {{"0", "1500", badPasses},  {"-3", "1500", badPasses}, {"abc", "1500", badPasses},
                {"", "1500", badPasses},   {"1.5", "1500", badPasses}, {"99999999999", "1500", badPasses},
                {"1", "-1", badPause},     {"1", "x", badPause},       {"1", "1e3", badPause}};
  for (const auto& in : inputs) {
    forget(t.s);
    typeInto(t.page().Edit1, in.pause);
    t.start(in.passes);
    QVERIFY2(t.s.ui.messages == QStringList{in.message}, in.passes);
    QCOMPARE(t.sent(), QStringList{Frame("5A", "1")});
    QCOMPARE(t.s.state().BusyMark, 0);
    QVERIFY(t.page().Button3->isEnabled());
  }
  QCOMPARE(t.log(), QStringList{"earlier line"});

  // A header line refused: one log line, nothing further sent, the program
  // runs on and the page is ready for the next Start.
  forget(t.s);
  typeInto(t.page().Edit1, "0");
  t.s.simulator->injectFault({.fault = Fault::Refuse, .onlyCommand = 0x2B, .skip = 2});
  t.start();
  QCOMPARE(t.sent().last(), Frame("2B", "2АТ \"ВАНТОР УКРАЇНА\""));
  QCOMPARE(t.log(), (QStringList{"earlier line", "Ошибка программирования заголовка чека"}));
  QCOMPARE(t.s.ui.messages.size(), 1);  // the main handler's box
  QCOMPARE(t.s.ui.endRequests, 0);
  QVERIFY(t.page().Button3->isEnabled());
  QVERIFY(!t.page().Button4->isEnabled());

  // A pause of 0 runs without pauses; a register whose fiscal memory is not
  // formatted gets its dialog and no run.
  t.s.clearFrames();
  t.start(QStringLiteral("1"), true);
  QVERIFY(t.log().contains("Общее количество ошибок: 0"));
  QCOMPARE(t.s.ui.sleeps.count(60000), 1);
  QVERIFY(t.s.ui.sleeps.count(0) > 0);
  QVERIFY(!t.s.ui.sleeps.contains(1500));

  t.s.model([](RegisterModel& m) { m.setFiscalMemoryStatus(0, 0x38); });
  t.s.clearFrames();
  t.s.ui.dialogsShown.clear();
  t.start();
  QCOMPARE(t.s.ui.dialogsShown, QStringList{"TForm4"});
  QVERIFY(!t.sent().contains(Frame("2B", "0У К Р А Ї Н А")));
}

void TestRegisterTest::stopIsSeenAtTheStopChecks() {
  // Stop pressed during the pause of step 2: the pause ends, the stop is
  // logged after step 2's lines, nothing later is sent.
  {
    RegTest t;
    t.s.ui.onSleep = [&](int) {
      if (t.s.ui.sleeps.size() == 2) later([&] { click(t.page().Button4); });
    };
    t.start(QStringLiteral("3"));
    const QStringList log = t.log();
    QCOMPARE(log.mid(log.size() - 3),
             (QStringList{"Печать диагностической информации",
                          "Печать диагностической информации - успешно", "Тест остановлен"}));
    QCOMPARE(t.sent().last(), Frame("47"));
    QCOMPARE(t.s.state().BusyMark, 0);
    QCOMPARE(t.s.state().StopFlag, uint8_t(0));
    QVERIFY(t.page().Button3->isEnabled());
    QVERIFY(!t.page().Button4->isEnabled());
  }
  // During the minute of the timer check: the second reading is not sent.
  // A second run after the stop counts its errors from 0.
  {
    RegTest t;
    t.s.simulator->injectFault({.fault = Fault::Refuse, .onlyCommand = 0x63});
    t.s.ui.onSleep = [&](int ms) {
      if (ms == 60000) later([&] { click(t.page().Button4); });
    };
    t.start(QStringLiteral("1"), true);
    QCOMPARE(t.sent().mid(t.sent().size() - 2), (QStringList{Frame("2F", (kSeries + kSeries).mid(119, 20)), Frame("3E")}));
    QCOMPARE(t.log().last(), QStringLiteral("Тест остановлен"));
    t.s.ui.onSleep = nullptr;
    t.start(QStringLiteral("1"), true);
    QCOMPARE(t.log().mid(t.log().size() - 2, 1), QStringList{"Общее количество ошибок: 0"});
  }
  // Clear pressed during a run: the lines before are gone, the summary
  // counts every failure of the run.
  {
    RegTest t;
    t.s.simulator->injectFault({.fault = Fault::Refuse, .onlyCommand = 0x47});
    t.s.ui.onSleep = [&](int) {
      if (t.s.ui.sleeps.size() == 4) later([&] { click(t.page().Button6); });
    };
    t.start(QStringLiteral("1"), true);
    const QStringList log = t.log();
    QCOMPARE(log.first(), kSep);
    QCOMPARE(log[1], QStringLiteral("Получить налоговый номер"));
    QVERIFY(!log.contains("Тест Vantor KM4410R"));
    QVERIFY(log.contains("Общее количество ошибок: 1"));
  }
}

void TestRegisterTest::checkBoxIsReadInEveryPass() {
  // Ticked at the start, cleared during the first pass's timer minute: the
  // first pass has no fiscal command, the second has them all.
  RegTest t;
  t.s.ui.onSleep = [&](int ms) {
    if (ms == 60000) t.page().CheckBox1->setChecked(false);
  };
  QVERIFY(t.page().CheckBox1->isEnabled());
  t.start(QStringLiteral("2"), true);
  const QStringList sent = t.sent();
  const int second = sent.lastIndexOf(Frame("4A", "W"));
  QVERIFY(second > 0);
  QCOMPARE(sent.mid(0, second).filter(QRegularExpression("^(30|55|45 9162,0|46|6B)")).size(), 0);
  QCOMPARE(sent.mid(second).filter(QRegularExpression("^(30|55|45 9162,0)")).size(), 4);
  compareLog(t.log(), Header(kAny) + PassBanner(1) + kPhaseOneLog + kTimerLog + PassBanner(2) +
                          kPhaseOneLog + kPhaseTwoLog + kTimerLog + Summary(kAny, 0));
}

void TestRegisterTest::amountsUnderACommaDecimalLocale() {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_ALL, "ru_RU.UTF-8") && !std::setlocale(LC_ALL, "uk_UA.UTF-8"))
    QSKIP("no comma-decimal locale on this machine");
  RegTest t;
  t.start();
  std::setlocale(LC_ALL, saved.c_str());
  const QStringList sent = t.sent();
  for (const QString& frame : kPhaseTwoFrames) QVERIFY2(sent.contains(frame), qPrintable(frame));
}

void TestRegisterTest::clearAndSave() {
  RegTest t;
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("log.txt"));
  // An empty log saves an empty file.
  t.s.ui.saveFileAnswer = path;
  click(t.page().Button5);
  QFile empty(path);
  QVERIFY(empty.open(QIODevice::ReadOnly));
  QCOMPARE(empty.readAll(), QByteArray());
  empty.close();

  t.s.main().AppendLog(QStringLiteral("Проход ЄЇҐ €"));  // Ґ and € are in CP1251; ☺ is not
  t.s.main().AppendLog(QStringLiteral(" "));
  t.s.main().AppendLog(QStringLiteral("☺ x"));
  click(t.page().Button5);  // replaced without a question
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.readAll(), QByteArray("\xCF\xF0\xEE\xF5\xEE\xE4 \xAA\xAF\xA5 \x88\r\n \r\n? x\r\n"));
  QVERIFY(t.s.ui.messages.isEmpty());
  QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"log.txt"});

  // Cancelled: nothing happens. Clear empties the log.
  t.s.ui.saveFileAnswer.clear();
  click(t.page().Button5);
  click(t.page().Button6);
  QVERIFY(t.log().isEmpty());
  QCOMPARE(QFileInfo(path).size(), qint64(22));
}

namespace {
long long FullDisk(const char*, long long size, regtest::SaveError* error) {
  // The first bytes go, then the disk is full.
  static long long total = 0;
  if (total >= 8) {
    *error = regtest::SaveError::NoSpace;
    return -1;
  }
  total += std::min<long long>(size, 8);
  return std::min<long long>(size, 8);
}
}  // namespace

void TestRegisterTest::saveNeverLosesTheOldFile() {
  RegTest t;
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("log.txt"));
  {
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old log\r\n");
  }
  for (int i = 0; i < 50; ++i) t.s.main().AppendLog(QStringLiteral("строка %1").arg(i));
  const QStringList log = t.log();
  t.s.ui.saveFileAnswer = path;

  // A disk that fills up during the write.
  regtest::SetLogWriterForTests(FullDisk);
  click(t.page().Button5);
  regtest::SetLogWriterForTests(nullptr);
  QCOMPARE(t.s.ui.messages.size(), 1);
  QVERIFY2(t.s.ui.messages[0].contains(path) && t.s.ui.messages[0].contains("на диске нет места"),
           qPrintable(t.s.ui.messages[0]));
  QFile old(path);
  QVERIFY(old.open(QIODevice::ReadOnly));
  QCOMPARE(old.readAll(), QByteArray("old log\r\n"));
  QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"log.txt"});  // no leftover
  QCOMPARE(t.log(), log);

  // A folder that does not exist, and one the user may not write to.
  t.s.ui.messages.clear();
  t.s.ui.saveFileAnswer = dir.filePath(QStringLiteral("missing/log.txt"));
  click(t.page().Button5);
  QCOMPARE(t.s.ui.messages.size(), 1);
  QVERIFY(t.s.ui.messages[0].contains("папка не существует"));

  // A real full filesystem, where the machine lets the test mount one.
  if (geteuid() != 0) return;
  QTemporaryDir mountPoint;
  const QByteArray point = QFile::encodeName(mountPoint.path());
  if (::mount("tmpfs", point.constData(), "tmpfs", 0, "size=16k") != 0) return;
  const QString target = mountPoint.filePath(QStringLiteral("log.txt"));
  {
    QFile small(target);
    QVERIFY(small.open(QIODevice::WriteOnly));
    small.write("old log\r\n");
  }
  for (int i = 0; i < 2000; ++i) t.s.main().AppendLog(QStringLiteral("строка журнала %1").arg(i));
  t.s.ui.messages.clear();
  t.s.ui.saveFileAnswer = target;
  click(t.page().Button5);
  QFile kept(target);
  const bool opened = kept.open(QIODevice::ReadOnly);
  const QByteArray content = opened ? kept.readAll() : QByteArray();
  const QStringList left = QDir(mountPoint.path()).entryList(QDir::Files);
  kept.close();
  ::umount(point.constData());
  QCOMPARE(t.s.ui.messages.size(), 1);
  QVERIFY(t.s.ui.messages[0].contains("на диске нет места"));
  QCOMPARE(content, QByteArray("old log\r\n"));
  QCOMPARE(left, QStringList{"log.txt"});
}

KM_WINDOW_TEST_MAIN(TestRegisterTest)
#include "test_regtest.moc"
