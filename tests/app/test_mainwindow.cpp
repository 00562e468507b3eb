// The main window: its state at start, connecting and disconnecting, the
// switch check, ports that cannot be opened, typed device paths, and the
// activation that sets the defaults only when the window first appears.
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QAbstractItemView>
#include <QAccessible>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "driver/testing.h"
#include "sim/tcprelay.h"
#include "tests/app/harness.h"

using namespace km::test;

namespace {

constexpr unsigned kRed = 0xFF0000, kGreen = 0x00FF00, kAmber = 0xFFC000;

// The speed the driver gave the port open on `device`, or -1.
int openedSpeed(const QString& device) {
  const QString target = QFileInfo(device).canonicalFilePath();
  for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
    if (QFileInfo(fd.symLinkTarget()).canonicalFilePath() != target) continue;
    termios tio{};
    if (tcgetattr(fd.fileName().toInt(), &tio) != 0) continue;
    switch (cfgetospeed(&tio)) {
      case B9600: return 9600;
      case B19200: return 19200;
      case B57600: return 57600;
      case B115200: return 115200;
      default: return 0;
    }
  }
  return -1;
}

QList<QStringList> defaultCashiers() {
  QList<QStringList> rows{{"№ кассира", "Пароль", "Имя", "Запись"}};
  for (int r = 1; r <= 13; ++r)
    rows << QStringList{QString::number(r), "9162", QStringLiteral("Оператор %1").arg(r), "выполнить"};
  return rows;
}

const QList<QStringList> kDefaultTaxes = {
    {"№", "Group", "Rate", "Action"},        {"1", "А", "20.00", "Разрешён"},
    {"2", "Б", "00.00", "Разрешён"},         {"3", "В", "00.00", "Разрешён"},
    {"4", "Г", "00.00", "Разрешён"},         {"5", "Д", "UnTaxed", "Разрешён"}};

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void startsDisconnectedWithDefaults();
  void connectsAndDisconnects();
  void indicatorShowsTheLinkAsItIs();
  void connectsAtTheChosenSpeed_data();
  void connectsAtTheChosenSpeed();
  void switchesDecideTranslation_data();
  void switchesDecideTranslation();
  void switchTextRule_data();
  void switchTextRule();
  void failedDiagnosticKeepsConnection_data();
  void failedDiagnosticKeepsConnection();
  void portThatCannotBeOpened();
  void busyPortNamesTheReason();
  void typedDevicePathIsOpened();
  void portBoxFindsPortsWhenOpened();
  void laterActivationsKeepWhatTheUserChose();
  void closeButtonClosesWithoutSending();
};

void TestMainWindow::startsDisconnectedWithDefaults() {
  Session s({.simulator = false});
  Ui::TForm1& f = s.form();
  QCOMPARE(s.main().windowTitle(), QString("Тест регистратора расчетных операций KM4410R"));
  QCOMPARE(indicatorColour(), kRed);
  QVERIFY(!f.PageControl1->isEnabled());
  QCOMPARE(f.PageControl1->currentWidget(), s.main().TabSheet(1));
  QVERIFY(!f.Button25->isEnabled());
  QCOMPARE(shown(f.Button2), QString("Подключить"));
  QCOMPARE(shown(f.ComboBox1), QString("COM1"));
  QCOMPARE(shown(f.ComboBox3), QString("19200 бод"));
  QVERIFY(f.ComboBox1->isEnabled() && f.ComboBox3->isEnabled());
  QCOMPARE(f.ComboBox1->count(), 20);
  QCOMPARE(f.ComboBox1->itemText(19), QString("COM20"));
  QStringList speeds;
  for (int i = 0; i < f.ComboBox3->count(); ++i) speeds << f.ComboBox3->itemText(i);
  QCOMPARE(speeds, (QStringList{"9600 бод", "19200 бод", "57600 бод", "115200 бод"}));

  // The first activation's defaults, the clock being the fake one.
  QCOMPARE(shown(s.main().tab8.ComboBox8), QString("Оператор 1"));
  QCOMPARE(shown(s.main().tab5.ComboBox10), QString("Отчет проданных товаров"));
  QCOMPARE(shown(s.main().tab8.Edit21), QString("9162"));
  QCOMPARE(shown(s.main().tab8.Edit22), QString("9162"));
  QCOMPARE(shown(s.main().tab8.Edit23), QString("9162"));
  QCOMPARE(shown(s.main().tab11.Label59), QString("05.11.26"));
  QCOMPARE(shown(s.main().tab11.DateEdit3), QString("05.11.26"));
  QCOMPARE(shown(s.main().tab11.Edit39), QString("14:07"));
  QCOMPARE(gridTexts(s.main().tab11.StringGrid1), kDefaultTaxes);
  QCOMPARE(gridTexts(s.main().tab12.StringGrid2), defaultCashiers());
  QCOMPARE(s.state().DateChosenMark, uint8_t(0));
  QCOMPARE(s.state().TimeEditedMark, uint8_t(0));
  QCOMPARE(shown(s.main().tab1.ComboBox2), QString());  // no pass count until connected
  QVERIFY(s.ui.messages.isEmpty());
}

void TestMainWindow::connectsAndDisconnects() {
  Session s({.com = 3});
  Ui::TForm1& f = s.form();
  s.state().StopFlag = 1;
  s.state().ErrorCounter = 7;
  QVERIFY(s.connect(3, 0));
  QCOMPARE(indicatorColour(), kGreen);
  QCOMPARE(shown(f.Button2), QString("Отключить"));
  QVERIFY(f.PageControl1->isEnabled());
  QVERIFY(f.Button25->isEnabled());
  QVERIFY(!f.ComboBox1->isEnabled() && !f.ComboBox3->isEnabled());
  QCOMPARE(shown(s.main().tab1.ComboBox2), QString("1"));
  QCOMPARE(s.state().StopFlag, uint8_t(0));
  QCOMPARE(s.state().ErrorCounter, 0);
  QVERIFY(s.ui.messages.isEmpty());

  // One diagnostic request, its answer kept as the last answer.
  const auto frames = s.frames();
  QCOMPARE(frames.size(), size_t(1));
  QCOMPARE(frames[0].cmd, uint8_t(0x5A));
  QCOMPARE(frames[0].data, std::string("1"));
  QCOMPARE(s.state().LastAnswer.Command, 0x5A);
  QVERIFY(s.state().LastAnswer.FieldCount > 7);

  s.disconnect();
  QCOMPARE(indicatorColour(), kRed);
  QCOMPARE(shown(f.Button2), QString("Подключить"));
  QVERIFY(!f.PageControl1->isEnabled());
  QVERIFY(!f.Button25->isEnabled());
  QVERIFY(f.ComboBox1->isEnabled() && f.ComboBox3->isEnabled());
  QCOMPARE(s.state().StopFlag, uint8_t(1));
  QCOMPARE(s.frames().size(), size_t(1));  // disconnecting sends nothing

  // And connecting again works on the same port.
  QVERIFY(s.connect(3, 1));
  QCOMPARE(s.frames().size(), size_t(2));
}

void TestMainWindow::indicatorShowsTheLinkAsItIs() {
  km_driver::SetOpenDeadlineForTests(300);
  Session s({.com = 4});
  QVERIFY(s.connect(4, 1));
  const auto exchange = [] { GetStatus(nullptr, [](RetData&) {}, 0, 0); };
  const auto described = [&] { return s.form().Shape1->accessibleDescription(); };
  // The register goes away: amber from the exchange that finds it gone.
  s.simulator.reset();
  exchange();
  QCOMPARE(indicatorColour(), kAmber);
  QCOMPARE(described(), QString("связь потеряна"));
  QCOMPARE(shown(s.form().Button2), QString("Отключить"));
  // Back under the same COM link: green from the exchange that opens it again.
  s.simulator = std::make_unique<sim::Simulator>(SessionOptions::fastSimulator());
  QVERIFY(s.simulator->start() && s.simulator->registerCom(4));
  exchange();
  QCOMPARE(indicatorColour(), kGreen);
  QCOMPARE(described(), QString("подключено"));
  // Gone again, then "Отключить": closed for good, red, nothing opened again.
  s.simulator.reset();
  exchange();
  QCOMPARE(indicatorColour(), kAmber);
  s.disconnect();
  QCOMPARE(indicatorColour(), kRed);
  QVERIFY(!GetLinkStatus().up);
  QCOMPARE(GetStatus(nullptr, [](RetData&) {}, 0, 0), -1);
  km_driver::SetOpenDeadlineForTests(0);
}

void TestMainWindow::connectsAtTheChosenSpeed_data() {
  QTest::addColumn<int>("item");
  QTest::addColumn<int>("baud");
  QTest::newRow("9600") << 0 << 9600;
  QTest::newRow("19200") << 1 << 19200;
  QTest::newRow("57600") << 2 << 57600;
  QTest::newRow("115200") << 3 << 115200;
}

void TestMainWindow::connectsAtTheChosenSpeed() {
  QFETCH(int, item);
  QFETCH(int, baud);
  Session s({.com = 3});
  QVERIFY(s.connect(3, item));
  QCOMPARE(openedSpeed(QString::fromStdString(s.simulator->slavePath())), baud);
}

void TestMainWindow::switchesDecideTranslation_data() {
  QTest::addColumn<QString>("switches");
  QTest::addColumn<int>("noTranslation");
  QTest::newRow("1011 in the middle") << "00101100" << 1;
  QTest::newRow("1011, other switches on") << "11101111" << 1;
  QTest::newRow("1111") << "00111100" << 0;
  QTest::newRow("1001") << "00100100" << 0;
  QTest::newRow("all off") << "00000000" << 0;
}

void TestMainWindow::switchesDecideTranslation() {
  QFETCH(QString, switches);
  QFETCH(int, noTranslation);
  Session s;
  s.model([&](sim::RegisterModel& m) { m.setSwitches(switches.toStdString()); });
  SetNoTranslation(noTranslation ? 0 : 1);  // the opposite of what is expected
  QVERIFY(s.connect());
  QCOMPARE(int(GetNoTranslation()), noTranslation);
  QVERIFY(s.ui.messages.isEmpty());
}

void TestMainWindow::switchTextRule_data() {
  QTest::addColumn<QByteArray>("text");
  QTest::addColumn<bool>("noTranslation");
  QTest::newRow("8 chars") << QByteArray("ab1011cd") << true;
  QTest::newRow("7 chars") << QByteArray("ab1011c") << true;
  QTest::newRow("6 chars") << QByteArray("ab1011") << true;
  QTest::newRow("9 chars") << QByteArray("ab1011cde") << false;
  QTest::newRow("5 chars") << QByteArray("ab101") << false;
  QTest::newRow("1111") << QByteArray("ab1111cd") << false;
  QTest::newRow("empty") << QByteArray("") << false;
  QTest::newRow("too long for the buffer") << QByteArray("ab1011cdXXXXXXXXXXXXXXXXXXXXX") << false;
}

void TestMainWindow::switchTextRule() {
  QFETCH(QByteArray, text);
  QFETCH(bool, noTranslation);
  QCOMPARE(SwitchesMeanNoTranslation(text.constData()), noTranslation);
  QVERIFY(!SwitchesMeanNoTranslation(nullptr));  // fewer than five fields
}

void TestMainWindow::failedDiagnosticKeepsConnection_data() {
  QTest::addColumn<int>("fault");
  QTest::addColumn<QString>("first");
  QTest::newRow("bad checksum") << int(sim::Fault::BadChecksum) << "Ошибка протокола";
  QTest::newRow("NAK") << int(sim::Fault::Nak) << "Ошибка приема команды";
  // The driver's own 5 s wait, once.
  QTest::newRow("silence") << int(sim::Fault::Silence) << "Таймаут";
}

void TestMainWindow::failedDiagnosticKeepsConnection() {
  QFETCH(int, fault);
  QFETCH(QString, first);
  Session s;
  s.simulator->injectFault({.fault = sim::Fault(fault), .count = -1});
  SetNoTranslation(0);
  QVERIFY(s.connect());
  QCOMPARE(s.ui.messages, (QStringList{first, "Ошибка получения информации"}));
  QCOMPARE(indicatorColour(), kGreen);
  QVERIFY(s.form().PageControl1->isEnabled());
  QVERIFY(s.form().Button25->isEnabled());
  QCOMPARE(s.state().ErrorCounter, 1);
  QCOMPARE(int(GetNoTranslation()), 0);  // the switch check did not run
}

void TestMainWindow::portThatCannotBeOpened() {
  Session s({.simulator = false});
  Ui::TForm1& f = s.form();
  // COM5 stands for a device that is not there.
  QVERIFY(QDir().mkpath(portFolder()));
  const QString link = portFolder() + "/COM5";
  QVERIFY(QFile::link("/dev/km4410r-no-such-device", link));

  f.ComboBox1->setCurrentIndex(4);
  f.ComboBox3->setCurrentIndex(2);
  click(f.Button2);
  QCOMPARE(s.ui.messages.size(), 1);
  QCOMPARE(s.ui.messages[0],
           QString("Невозможно подключить порт\n%1: устройство не найдено").arg(link));
  QCOMPARE(indicatorColour(), kRed);
  QVERIFY(!f.PageControl1->isEnabled());
  QVERIFY(!f.Button25->isEnabled());
  // The user's choice survives the message box.
  QCOMPARE(shown(f.ComboBox1), QString("COM5"));
  QCOMPARE(shown(f.ComboBox3), QString("57600 бод"));

  // A typed text that is no port name: named as typed, with the rule.
  s.ui.messages.clear();
  typeInto(f.ComboBox1, "abc");
  click(f.Button2);
  QCOMPARE(s.ui.messages,
           QStringList{"Невозможно подключить порт\nabc: не имя порта: COM1..COM255, путь к устройству, "
                       "tcp://адрес:порт или rfc2217://адрес:порт"});
  QCOMPARE(indicatorColour(), kRed);
  QCOMPARE(shown(f.ComboBox1), QString("abc"));
  s.ui.messages.clear();
  typeInto(f.ComboBox1, "");
  click(f.Button2);
  QCOMPARE(s.ui.messages, QStringList{"Невозможно подключить порт\nпорт не выбран"});
  QFile::remove(link);
}

void TestMainWindow::busyPortNamesTheReason() {
  Session s;
  // Another program holds the port.
  const QByteArray slave = QByteArray::fromStdString(s.simulator->slavePath());
  const int other = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  QVERIFY(other >= 0);
  QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
  QVERIFY(!s.connect());
  QCOMPARE(s.ui.messages.size(), 1);
  QVERIFY2(s.ui.messages[0].startsWith("Невозможно подключить порт\n"), qPrintable(s.ui.messages[0]));
  QVERIFY2(s.ui.messages[0].endsWith(": порт занят другой программой"), qPrintable(s.ui.messages[0]));
  ::close(other);
  s.ui.messages.clear();
  QVERIFY(s.connect());
  QVERIFY(s.ui.messages.isEmpty());
  s.disconnect();

  // A port folder others may write to is not used: the message names it.
  const QByteArray folder = QFile::encodeName(portFolder());
  QCOMPARE(::chmod(folder.constData(), 0777), 0);
  QVERIFY(!s.connect());
  QCOMPARE(s.ui.messages,
           QStringList{"Невозможно подключить порт\n" + portFolder() +
                       ": в папку виртуальных портов могут писать другие пользователи; "
                       "выполните chmod 700"});
  QCOMPARE(::chmod(folder.constData(), 0700), 0);
  s.ui.messages.clear();
  QVERIFY(s.connect());
}

void TestMainWindow::typedDevicePathIsOpened() {
  Session s({.com = 7});
  Ui::TForm1& f = s.form();
  f.ComboBox3->setCurrentIndex(3);
  typeInto(f.ComboBox1, QString::fromStdString(s.simulator->slavePath()));
  click(f.Button2);
  QVERIFY2(s.ui.messages.isEmpty(), qPrintable(s.ui.messages.join('|')));
  QCOMPARE(indicatorColour(), kGreen);
  QCOMPARE(s.frames().size(), size_t(1));
  QCOMPARE(openedSpeed(QString::fromStdString(s.simulator->slavePath())), 115200);

  // A typed path that does not exist names itself in the message.
  s.disconnect();
  typeInto(f.ComboBox1, "/dev/km4410r-missing");
  click(f.Button2);
  QCOMPARE(s.ui.messages,
           QStringList{"Невозможно подключить порт\n/dev/km4410r-missing: устройство не найдено"});

  // A register on the network, typed; then its server gone.
  s.ui.messages.clear();
  km4410r::sim::TcpRelay relay;
  QVERIFY(relay.start(s.simulator->slavePath(), "127.0.0.1", 0, nullptr));
  const QString address = QString::fromStdString(relay.address());
  typeInto(f.ComboBox1, address);
  click(f.Button2);
  QVERIFY2(s.ui.messages.isEmpty(), qPrintable(s.ui.messages.join('|')));
  QCOMPARE(indicatorColour(), kGreen);
  s.disconnect();
  relay.stop();
  click(f.Button2);
  QCOMPARE(s.ui.messages, QStringList{"Невозможно подключить порт\n" + address +
                                      ": соединение отклонено: этот порт никто не слушает (проверьте номер "
                                      "порта и сервер)"});
}

void TestMainWindow::portBoxFindsPortsWhenOpened() {
  Session s({.com = 7});
  Ui::TForm1& f = s.form();
  // A register that comes after the window: in the list once the box opens.
  sim::Options o;
  o.baud = 0;
  sim::Simulator later(o);
  QVERIFY(later.start() && later.registerCom(9));
  const QString path = QString::fromStdString(later.linkPath());
  QCOMPARE(f.ComboBox1->findData(path), -1);
  // Opened as a screen reader opens it (the keys and the mouse come to the
  // same showPopup).
  QAccessibleInterface* box = QAccessible::queryAccessibleInterface(f.ComboBox1);
  QVERIFY(box && box->actionInterface());
  box->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
  QVERIFY(f.ComboBox1->view()->isVisible());
  f.ComboBox1->hidePopup();
  const int item = f.ComboBox1->findData(path);
  QVERIFY2(item >= 20, qPrintable(QString::number(item)));
  QVERIFY2(f.ComboBox1->itemText(item).startsWith(path + QStringLiteral(" — ")),
           qPrintable(f.ComboBox1->itemText(item)));
  // The list is wide enough to read it; the narrow box shows a long choice
  // whole in its tool tip.
  QVERIFY(f.ComboBox1->view()->minimumWidth() >= f.ComboBox1->view()->sizeHintForColumn(0));
  // Chosen, it is the port connected to.
  f.ComboBox1->setCurrentIndex(item);
  QCOMPARE(f.ComboBox1->toolTip(), f.ComboBox1->itemText(item));
  click(f.Button2);
  QVERIFY2(s.ui.messages.isEmpty(), qPrintable(s.ui.messages.join('|')));
  QCOMPARE(indicatorColour(), kGreen);
  QVERIFY(later.journalCount() >= 1);
  QCOMPARE(s.simulator->journalCount(), size_t(0));
}

void TestMainWindow::laterActivationsKeepWhatTheUserChose() {
  Session s;
  Ui::TForm1& f = s.form();
  QVERIFY(s.connect());
  // The user changes everything the first activation set ...
  s.main().tab8.ComboBox8->setCurrentIndex(4);
  s.main().tab5.ComboBox10->setCurrentIndex(3);
  s.main().tab8.Edit21->setText("1111");
  s.main().tab8.Edit22->setText("2222");
  s.main().tab8.Edit23->setText("3333");
  s.main().tab11.StringGrid1->setCells(2, 1, "15.00");
  s.main().tab12.StringGrid2->setCells(2, 3, "Иванова");
  f.PageControl1->setCurrentWidget(s.main().TabSheet(11));
  s.main().tab11.DateEdit3->setDate(QDate(2027, 1, 2));
  s.main().tab11.Edit39->setText("09:45");
  s.state().DateChosenMark = 1;
  s.state().TimeEditedMark = 1;
  s.ui.clock = s.ui.clock.addDays(40);  // the PC clock has moved on

  // ... then message boxes and both dialogs open and close.
  s.simulator->injectFault({.fault = sim::Fault::BadChecksum, .count = 1});
  click(f.Button25);  // the viewer
  QCOMPARE(s.ui.dialogsShown, QStringList{"TForm5"});
  s.whileOpen("TForm5", [](QDialog&) { click(Form5->ui.Button2); });  // refresh: an error box
  click(f.Button25);
  Form4->ShowModal();
  ui::showMessage("Сообщение");
  QVERIFY(s.ui.messages.size() >= 2);

  QCOMPARE(shown(s.main().tab8.ComboBox8), QString("Оператор 5"));
  QCOMPARE(s.main().tab5.ComboBox10->currentIndex(), 3);
  QCOMPARE(shown(s.main().tab8.Edit21), QString("1111"));
  QCOMPARE(shown(s.main().tab8.Edit22), QString("2222"));
  QCOMPARE(shown(s.main().tab8.Edit23), QString("3333"));
  QCOMPARE(s.main().tab11.StringGrid1->Cells(2, 1), QString("15.00"));
  QCOMPARE(s.main().tab12.StringGrid2->Cells(2, 3), QString("Иванова"));
  QCOMPARE(f.PageControl1->currentWidget(), s.main().TabSheet(11));
  QCOMPARE(shown(s.main().tab11.DateEdit3), QString("02.01.27"));
  QCOMPARE(shown(s.main().tab11.Edit39), QString("09:45"));
  QCOMPARE(shown(s.main().tab11.Label59), QString("05.11.26"));
  QCOMPARE(s.state().DateChosenMark, uint8_t(1));
  QCOMPARE(s.state().TimeEditedMark, uint8_t(1));
  QCOMPARE(indicatorColour(), kGreen);

  // Disconnected, the port and speed chosen stay too after a message.
  s.disconnect();
  f.ComboBox1->setCurrentIndex(11);
  f.ComboBox3->setCurrentIndex(3);
  ui::showMessage("Сообщение");
  QCOMPARE(shown(f.ComboBox1), QString("COM12"));
  QCOMPARE(shown(f.ComboBox3), QString("115200 бод"));
}

void TestMainWindow::closeButtonClosesWithoutSending() {
  Session s;
  QVERIFY(s.connect());
  s.clearFrames();
  QVERIFY(s.main().isVisible());
  click(s.form().Button1);
  QVERIFY(!s.main().isVisible());
  QVERIFY(s.frames().empty());
}

KM_WINDOW_TEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
