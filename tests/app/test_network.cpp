// The network settings page (reading and writing the module's settings, the
// modem report printout) and the modem and ID_DEV page, against the register
// simulator: data texts sent, refusals before sending, answers decoded,
// malformed and short answers, time-outs and register errors.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "base/cp1251text.h"
#include "tests/app/harness.h"

using namespace km::test;

class TestNetwork : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void pagesAtStart();
  void writeDataTexts();
  void writeFailures();
  void readSettings();
  void readMalformedSettings();
  void readFailures();
  void modemReport();
  void deviceId();
};

namespace {

constexpr int kNetworkPage = 8, kModemPage = 9;

const QString kSuccess = QStringLiteral("Успешно!");
const QString kTimeout = QStringLiteral("Таймаут");
const QString kTimeoutSummary = QStringLiteral("Ошибка выполнения команды. Таймаут");
const QString kBadAnswer =
    QStringLiteral("Информация переданная регистратором неверна. Чтение данных остановлено.");
const QString kBadAddress = QStringLiteral("Некорректный IP-адрес. Ошибка!");
const QString kBadPort = QStringLiteral("Некорректный номер порта. Ошибка!");
const QString kBadPeriod =
    QStringLiteral("Некорректная величина параметра Периодичность связи. Ошибка!");
const QString kBadRetry = QStringLiteral("Некорректная величина параметра Повторной попытки. Ошибка!");

// The seven edits of the network page, Edit27 .. Edit34, and the DHCP box.
QStringList networkShown(Ui::TabSheet9& t) {
  return {shown(t.Edit27), shown(t.Edit28), shown(t.Edit29), shown(t.Edit30),
          shown(t.Edit31), shown(t.Edit33), shown(t.Edit34),
          t.CheckBox7->isChecked() ? "DHCP" : "static"};
}

void fillNetwork(Ui::TabSheet9& t, const QStringList& v) {
  QLineEdit* const edits[] = {t.Edit27, t.Edit28, t.Edit29, t.Edit30, t.Edit31, t.Edit33, t.Edit34};
  for (int i = 0; i < 7; ++i) typeInto(edits[i], v.at(i));
  t.CheckBox7->setChecked(v.at(7) == "DHCP");
}

// The four date edits and the state boxes ticked, by bit: "d|t|d|t|bits".
QString modemShown(Ui::TabSheet10& t) {
  QCheckBox* const boxes[] = {t.CheckBox9,  t.CheckBox10, t.CheckBox12, t.CheckBox11,
                              t.CheckBox13, t.CheckBox14, t.CheckBox15, t.CheckBox16};
  QString bits;
  for (QCheckBox* b : boxes) bits += b->isChecked() ? '1' : '0';
  return QStringList{shown(t.Edit32), shown(t.Edit35), shown(t.Edit36), shown(t.Edit37), bits}.join('|');
}

void moduleAnswer(Session& s, int cmd, const std::string& text) {
  s.model([&](RegisterModel& m) { m.setModuleAnswer(static_cast<uint8_t>(cmd), text); });
}

}  // namespace

void TestNetwork::pagesAtStart() {
  Session s;
  Ui::TabSheet9& n = s.main().tab9;
  Ui::TabSheet10& m = s.main().tab10;
  QCOMPARE((QList<int>{n.Edit27->maxLength(), n.Edit28->maxLength(), n.Edit29->maxLength(),
                       n.Edit30->maxLength(), n.Edit31->maxLength(), n.Edit33->maxLength(),
                       n.Edit34->maxLength()}),
           (QList<int>{15, 15, 15, 15, 5, 5, 5}));
  QCOMPARE(shown(m.Label55), QString("Значение ID_DEV (Hex):"));
  // The state boxes stand top to bottom in bit order.
  openPage(s, kModemPage);
  QList<QCheckBox*> boxes{m.CheckBox9,  m.CheckBox10, m.CheckBox12, m.CheckBox11,
                          m.CheckBox13, m.CheckBox14, m.CheckBox15, m.CheckBox16};
  for (int i = 1; i < boxes.size(); ++i)
    QVERIFY(boxes[i]->mapTo(s.main().TabSheet(10), QPoint()).y() >
            boxes[i - 1]->mapTo(s.main().TabSheet(10), QPoint()).y());
  for (QLineEdit* e : {m.Edit32, m.Edit35, m.Edit36, m.Edit37}) QVERIFY(e->isReadOnly());
}

void TestNetwork::writeDataTexts() {
  Session s;
  Ui::TabSheet9& t = s.main().tab9;
  openPage(s, kNetworkPage);
  struct Case {
    QStringList input;  // Edit27, 28, 29, 30, 31, 33, 34, DHCP or static
    QString outcome;    // the data text sent, or the message of the refusal
  };
  const QList<Case> cases{
      {{"192.168.0.10", "255.255.255.0", "192.168.0.1", "10.0.0.5", "8080", "60", "30", "DHCP"},
       "1,C0A8000A,FFFFFF00,C0A80001,0A000005,901F,3C00,1E00"},
      {{"0.0.0.0", "0.0.0.0", "0.0.0.0", "0.0.0.0", "0", "0", "0", "static"},
       "0,00000000,00000000,00000000,00000000,0000,0000,0000"},
      {{"10.1.2.254", "255.255.0.0", "10.1.0.1", "172.16.31.7", "65535", "1440", "3600", "static"},
       "0,0A0102FE,FFFF0000,0A010001,AC101F07,FFFF,A005,100E"},
      {{"1.2.3.4", "5.6.7.8", "9.10.11.12", "13.14.15.16", "1", "256", "4097", "DHCP"},
       "1,01020304,05060708,090A0B0C,0D0E0F10,0100,0001,0110"},
      // Port and periods: 0 to 65535; the hints' 1440 and 3600 are advice.
      {{"1.2.3.4", "5.6.7.8", "9.10.11.12", "13.14.15.16", "65536", "1", "1", "DHCP"}, kBadPort},
      {{"1.2.3.4", "5.6.7.8", "9.10.11.12", "13.14.15.16", "-1", "1", "1", "DHCP"}, kBadPort},
      {{"1.2.3.4", "5.6.7.8", "9.10.11.12", "13.14.15.16", "80", "99999", "1", "DHCP"}, kBadPeriod},
      {{"1.2.3.4", "5.6.7.8", "9.10.11.12", "13.14.15.16", "80", "1", "-5", "DHCP"}, kBadRetry},
      {{"1.2.3.4", "5.6.7.8", "9.10.11.12", "13.14.15.16", "80", "1", "70000", "DHCP"}, kBadRetry},
      // Addresses: exactly four octets of 0 to 255, none empty.
      {{".1.2.3", "5.6.7.8", "9.10.11.12", "13.14.15.16", "80", "1", "1", "DHCP"}, kBadAddress},
      {{"1.2.3", "5.6.7.8", "9.10.11.12", "13.14.15.16", "80", "1", "1", "DHCP"}, kBadAddress},
      {{"1.2.3.4", "5.6.7.8.9", "9.10.11.12", "13.14.15.16", "80", "1", "1", "DHCP"}, kBadAddress},
      {{"1.2.3.4", "5.6.7.8", "9.10.11.256", "13.14.15.16", "80", "1", "1", "DHCP"}, kBadAddress},
      {{"1.2.3.4", "5.6.7.8", "9.10.11.12", "13.-1.15.16", "80", "1", "1", "DHCP"}, kBadAddress},
      {{"1.2..4", "5.6.7.8", "9.10.11.12", "13.14.15.16", "80", "1", "1", "DHCP"}, kBadAddress},
      {{"1.2.3.4.", "5.6.7.8", "9.10.11.12", "13.14.15.16", "80", "1", "1", "DHCP"}, kBadAddress},
      {{"", "5.6.7.8", "9.10.11.12", "13.14.15.16", "80", "1", "1", "DHCP"}, kBadAddress},
      // Left to right: the first wrong field is the one named.
      {{"1.2.3.4", "5.6.7.8", "9.10.11", "13.14.15.16", "65536", "1", "1", "DHCP"}, kBadAddress},
      // Not numbers at all.
      {{"1.2.3.x", "5.6.7.8", "9.10.11.12", "13.14.15.16", "80", "1", "1", "DHCP"},
       "'x' не является целым числом"},
      {{"1.2.3.4", "5.6.7.8", "9.10.11.12", "13.14.15.16", "8o", "1", "1", "DHCP"},
       "'8o' не является целым числом"},
      {{"1.2.3.4", "5.6.7.8", "9.10.11.12", "13.14.15.16", "80", "", "1", "DHCP"},
       "'' не является целым числом"},
      {{"1.2.3.4", "5.6.7.8", "9.10.11.12", "13.14.15.16", "80", "1", "1.5", "DHCP"},
       "'1.5' не является целым числом"},
  };
  for (const Case& c : cases) {
    forget(s);
    fillNetwork(t, c.input);
    click(t.Button27);
    const QString what = c.input.join(' ');
    if (c.outcome.startsWith("0,") || c.outcome.startsWith("1,")) {
      QVERIFY2(sent(s) == QStringList{"24[" + c.outcome + "]"}, qPrintable(what));
      QVERIFY2(s.ui.messages == QStringList{kSuccess}, qPrintable(what));
    } else {
      QVERIFY2(s.frames().empty(), qPrintable(what));
      QVERIFY2(s.ui.messages == QStringList{c.outcome}, qPrintable(what + " -> " + s.ui.messages.join('/')));
    }
  }

  // The register took the worked example's settings.
  fillNetwork(t, {"192.168.0.10", "255.255.255.0", "192.168.0.1", "10.0.0.5", "8080", "60", "30", "DHCP"});
  click(t.Button27);
  km4410r::sim::NetworkSettings n;
  s.model([&](RegisterModel& m) { n = m.network(); });
  QVERIFY(n.dhcp);
  QCOMPARE(n.address[0], 0xC0A8000Au);
  QCOMPARE(n.address[3], 0x0A000005u);
  QCOMPARE(int(n.port), 8080);
  QCOMPARE(int(n.period), 60);
  QCOMPARE(int(n.retry), 30);
}

void TestNetwork::writeFailures() {
  Session s({.silenceReads = 1});
  Ui::TabSheet9& t = s.main().tab9;
  openPage(s, kNetworkPage);
  fillNetwork(t, {"192.168.0.10", "255.255.255.0", "192.168.0.1", "10.0.0.5", "8080", "60", "30", "DHCP"});

  QCOMPARE(messagesWith(s, fault(Fault::Silence, 0x24), t.Button27), (QStringList{kTimeout, kTimeoutSummary}));

  // Any other error: the result handler's message is the last word.
  QCOMPARE(messagesWith(s, refusal(0x24), t.Button27), QStringList{kNotAllowed});
  QCOMPARE(messagesWith(s, fault(Fault::Nak, 0x24), t.Button27), QStringList{"Ошибка приема команды"});

  // A success after failures.
  s.ui.messages.clear();
  click(t.Button27);
  QCOMPARE(s.ui.messages, QStringList{kSuccess});
}

void TestNetwork::readSettings() {
  Session s;
  Ui::TabSheet9& t = s.main().tab9;
  openPage(s, kNetworkPage);

  click(t.Button26);
  QCOMPARE(sent(s), QStringList{"25[]"});
  QCOMPARE(networkShown(t), (QStringList{"192.168.0.100", "255.255.255.0", "192.168.0.1", "10.0.0.5",
                                         "8080", "60", "30", "DHCP"}));
  QCOMPARE(s.ui.messages, QStringList{kSuccess});

  // What was written reads back the same.
  const QStringList written{"10.1.2.254", "255.255.0.0", "0.0.0.0", "172.16.31.7", "1", "1440", "65535", "static"};
  fillNetwork(t, written);
  click(t.Button27);
  fillNetwork(t, {"x", "x", "x", "x", "x", "x", "x", "DHCP"});
  click(t.Button26);
  QCOMPARE(networkShown(t), written);

  // Fields as the module gives them: the worked example, and 0100 as 1.
  moduleAnswer(s, 0x25, "1,C0A8000A,FFFFFF00,C0A80001,0A000005,901F,3C00,0100");
  click(t.Button26);
  QCOMPARE(networkShown(t), (QStringList{"192.168.0.10", "255.255.255.0", "192.168.0.1", "10.0.0.5",
                                         "8080", "60", "1", "DHCP"}));
  // Only "0" turns DHCP off; characters after the first 8 or 4 are not read.
  moduleAnswer(s, 0x25, "2,C0A8000AFF,FFFFFF00,C0A80001,0A000005,901F00,3C00,0100");
  t.CheckBox7->setChecked(false);
  click(t.Button26);
  QCOMPARE(networkShown(t), (QStringList{"192.168.0.10", "255.255.255.0", "192.168.0.1", "10.0.0.5",
                                         "8080", "60", "1", "DHCP"}));
}

void TestNetwork::readMalformedSettings() {
  Session s;
  Ui::TabSheet9& t = s.main().tab9;
  openPage(s, kNetworkPage);
  const QStringList before{"a", "b", "c", "d", "e", "f", "g", "DHCP"};
  struct Case {
    std::string answer;
    QStringList after;  // what the page shows after the reading stopped
  };
  const QList<Case> cases{
      // Lower case in field 1: nothing but the DHCP box is read.
      {"0,c0a8000a,FFFFFF00,C0A80001,0A000005,901F,3C00,1E00", {"a", "b", "c", "d", "e", "f", "g", "static"}},
      // A bad digit in field 6: fields 1 to 5 are read.
      {"1,C0A8000A,FFFFFF00,C0A80001,0A000005,901F,3G00,1E00",
       {"192.168.0.10", "255.255.255.0", "192.168.0.1", "10.0.0.5", "8080", "f", "g", "DHCP"}},
      // Too short a field and too few fields read as no digits.
      {"0,C0A8000,FFFFFF00", {"a", "b", "c", "d", "e", "f", "g", "static"}},
      {"0,C0A8000A,FFFFFF00", {"192.168.0.10", "255.255.255.0", "c", "d", "e", "f", "g", "static"}},
      {"1,C0A8000A,FFFFFF00,C0A80001,0A000005,901F,3C", 
       {"192.168.0.10", "255.255.255.0", "192.168.0.1", "10.0.0.5", "8080", "f", "g", "DHCP"}},
      {"", before},
  };
  for (const Case& c : cases) {
    fillNetwork(t, before);
    s.ui.messages.clear();
    moduleAnswer(s, 0x25, c.answer);
    click(t.Button26);
    QVERIFY2(networkShown(t) == c.after, c.answer.c_str());
    QVERIFY2(s.ui.messages == QStringList{kBadAnswer}, c.answer.c_str());
  }
}

void TestNetwork::readFailures() {
  Session s({.silenceReads = 1});
  Ui::TabSheet9& t = s.main().tab9;
  openPage(s, kNetworkPage);
  const QStringList before{"a", "b", "c", "d", "e", "f", "g", "static"};
  fillNetwork(t, before);

  QCOMPARE(messagesWith(s, fault(Fault::Silence, 0x25), t.Button26), (QStringList{kTimeout, kTimeoutSummary}));
  QCOMPARE(networkShown(t), before);

  QCOMPARE(messagesWith(s, refusal(0x25), t.Button26), (QStringList{kNotAllowed, "Ошибка выполнения команды!"}));
  QCOMPARE(networkShown(t), before);
}

void TestNetwork::modemReport() {
  Session s({.silenceReads = 1});
  Ui::TabSheet10& t = s.main().tab10;
  openPage(s, kModemPage);
  size_t printed = 0;
  auto printouts = [&] {
    s.model([&](RegisterModel& m) { printed = m.printout().size(); });
    return printed;
  };
  const size_t atStart = printouts();

  // 9A: bits 0x02, 0x08, 0x10, 0x80.
  s.model([](RegisterModel& m) { m.setModemState(0x9A); });
  moduleAnswer(s, 0x6C, "9A,05-12-26,14:30,01-03-25,12:00");
  click(t.Button28);
  QCOMPARE(sent(s), QStringList{"6C[0]"});
  QCOMPARE(modemShown(t), QString("05-12-26|14:30|01-03-25|12:00|01011001"));
  QVERIFY(s.ui.messages.isEmpty());
  QCOMPARE(printouts(), atStart);

  // Printed when asked for; the model's own answer.
  s.clearFrames();
  t.CheckBox8->setChecked(true);
  s.model([](RegisterModel& m) { m.clearModuleAnswers(); m.setModemState(0x61); });
  click(t.Button28);
  QCOMPARE(sent(s), QStringList{"6C[1]"});
  QCOMPARE(printouts(), atStart + 1);
  QVERIFY(modemShown(t).endsWith("|01-03-25|12:00|10000110"));
  t.CheckBox8->setChecked(false);

  // State digits: a bad one counts as 0, a missing one too; fields the
  // answer lacks are shown empty.
  const QList<QPair<std::string, QString>> answers{
      {"G1,a,b,c,d", "a|b|c|d|10000000"},
      {"F", "||||00001111"},
      {"1f,a", "a||||00001000"},
      {"FF,,,,", "||||11111111"},
      {"", "||||00000000"},
  };
  for (const auto& [answer, page] : answers) {
    moduleAnswer(s, 0x6C, answer);
    click(t.Button28);
    QVERIFY2(modemShown(t) == page, answer.c_str());
  }
  QVERIFY(s.ui.messages.isEmpty());

  // An erroneous answer: the handler's message, and the page shows what
  // came (nothing).
  moduleAnswer(s, 0x6C, "FF,a,b,c,d");
  click(t.Button28);
  s.simulator->injectFault(fault(Fault::Refuse, 0x6C));
  click(t.Button28);
  QCOMPARE(s.ui.messages, QStringList{kNotAllowed});
  QCOMPARE(modemShown(t), QString("||||00000000"));
  click(t.Button28);
  QCOMPARE(messagesWith(s, fault(Fault::Silence, 0x6C), t.Button28), QStringList{kTimeout});
  QCOMPARE(modemShown(t), QString("||||00000000"));

  // The printout button of the network page.
  clickTab(s.form().PageControl1, kNetworkPage);
  forget(s);
  const size_t before = printouts();
  click(s.main().tab9.Button37);
  QCOMPARE(sent(s), QStringList{"6C[1]"});
  QCOMPARE(printouts(), before + 1);
  QVERIFY(s.ui.messages.isEmpty());
  s.model([](RegisterModel& m) { m.setPaperOut(true); });
  click(s.main().tab9.Button37);
  QCOMPARE(s.ui.messages, QStringList{QStringLiteral("Нет бумаги")});
}

void TestNetwork::deviceId() {
  Session s({.silenceReads = 1});
  Ui::TabSheet10& t = s.main().tab10;
  openPage(s, kModemPage);

  s.model([](RegisterModel& m) { m.setDeviceId(255); });
  click(t.Button29);
  QCOMPARE(sent(s), QStringList{"FF[]"});
  QCOMPARE(shown(t.Edit38), QString("255"));
  QCOMPARE(shown(t.Label55), QString("Значение ID_DEV (Hex): 000000FF"));
  QCOMPARE(s.ui.messages, QStringList{kSuccess});

  // 32 bits whether the module writes them signed or not.
  const QList<QPair<std::string, QString>> answers{
      {"305419896", "12345678"}, {"-1", "FFFFFFFF"}, {"4294967295", "FFFFFFFF"},
      {"2147483648", "80000000"}, {"-2147483648", "80000000"}, {"0", "00000000"}};
  for (const auto& [answer, hex] : answers) {
    moduleAnswer(s, 0xFF, answer);
    click(t.Button29);
    QCOMPARE(shown(t.Edit38), QString::fromStdString(answer));
    QCOMPARE(shown(t.Label55), "Значение ID_DEV (Hex): " + hex);
  }

  // Not a 32-bit number: the conversion message, Label55 as it was.
  s.ui.messages.clear();
  for (const std::string answer : {"abc", "", "4294967296", "12 34"}) {
    moduleAnswer(s, 0xFF, answer);
    click(t.Button29);
    QCOMPARE(shown(t.Edit38), QString::fromStdString(answer));
    QCOMPARE(shown(t.Label55), QString("Значение ID_DEV (Hex): 00000000"));
  }
  QCOMPARE(s.ui.messages, (QStringList{"'abc' не является целым числом", "'' не является целым числом",
                                       "'4294967296' не является целым числом",
                                       "'12 34' не является целым числом"}));

  // Failures leave the edit and the label alone.
  QCOMPARE(messagesWith(s, fault(Fault::Silence, 0xFF), t.Button29), (QStringList{kTimeout, kTimeoutSummary}));
  QCOMPARE(messagesWith(s, refusal(0xFF), t.Button29),
           (QStringList{kNotAllowed, "Проверка состояния регистратора:\n  "}));
  QCOMPARE(shown(t.Edit38), QString("12 34"));
  QCOMPARE(shown(t.Label55), QString("Значение ID_DEV (Hex): 00000000"));
}

KM_WINDOW_TEST_MAIN(TestNetwork)
#include "test_network.moc"
