// The page "Установка даты-времени и налоги": the clock and the edits that
// follow it, setting and reading the register's date and time, the tax grid's
// cells, reading and programming the tax rates (a comma-decimal PC locale
// too), and the Z report.
#include <QApplication>
#include <QCalendarWidget>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <clocale>
#include <string>

#include "base/cp1251text.h"
#include "app/stringgrid.h"
#include "tests/app/harness.h"

using namespace km::test;

namespace {

constexpr int kClockPage = 10;
const QString kTimeError = QStringLiteral("Ошибка установки времени -\n повторите !");

// The marks as "date,time".
QString marks(Session& s) {
  return QStringLiteral("%1,%2").arg(s.state().DateChosenMark).arg(s.state().TimeEditedMark);
}

std::string registerClock(Session& s) {
  std::string text;
  s.model([&](RegisterModel& m) { text = m.clockText(); });
  return text;
}

void setRegisterClock(Session& s, int y, int mo, int d, int h, int mi, int sec) {
  s.model([&](RegisterModel& m) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = sec;
    m.setClock(t);
  });
}

// Rows 1..5 as "rate|action".
QStringList taxRows(const StringGrid* grid) {
  QStringList rows;
  for (int r = 1; r <= 5; ++r) rows << grid->Cells(2, r) + "|" + grid->Cells(3, r);
  return rows;
}

const QStringList kDefaultRows = {"20.00|Разрешён", "00.00|Разрешён", "00.00|Разрешён",
                                  "00.00|Разрешён", "UnTaxed|Разрешён"};

void fillGrid(StringGrid* grid, const QStringList& rates, const QStringList& actions) {
  for (int r = 1; r <= 4; ++r) {
    grid->setCells(2, r, rates[r - 1]);
    grid->setCells(3, r, actions[r - 1]);
  }
}

}  // namespace

class TestClocktaxes : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void pageAtStart();
  void editsFollowTheClock();
  void setTime_data();
  void setTime();
  void setTimeFailures_data();
  void setTimeFailures();
  void readTime();
  void readTimeFailures_data();
  void readTimeFailures();
  void taxGridCells();
  void setTaxes_data();
  void setTaxes();
  void setTaxesRefusedBeforeSending_data();
  void setTaxesRefusedBeforeSending();
  void setTaxesInCommaDecimalLocale();
  void readTaxes_data();
  void readTaxes();
  void zReport();
};

void TestClocktaxes::pageAtStart() {
  Session s;
  Ui::TabSheet11& t = s.main().tab11;
  QCOMPARE(t.LabelEdit39->text(), QString("Время :"));
  QCOMPARE(t.LabelEdit39->buddy(), t.Edit39);
  QCOMPARE(t.LabelDateEdit3->text(), QString("Дата:"));
  QCOMPARE(t.LabelDateEdit3->buddy(), t.DateEdit3);
  QCOMPARE(t.LabelTaxGroups->text(), QString("Налоговые группы:"));
  QCOMPARE(t.LabelTaxGroups->buddy(), t.StringGrid1);
  QCOMPARE(t.RxClock1->toolTip(), QString("Текущее время"));
  QCOMPARE(t.RxClock1->text(), QString("14:07:30"));
  QCOMPARE(shown(t.Label59), QString("05.11.26"));
  QCOMPARE(shown(t.DateEdit3), QString("05.11.26"));
  QCOMPARE(shown(t.Edit39), QString("14:07"));
  QVERIFY(t.DateEdit3->calendarPopup());
  const QList<std::pair<QPushButton*, QString>> buttons = {{t.Button31, "Установить время"},
                                                           {t.Button30, "Прочитать время"},
                                                           {t.Button36, "Прочитать"},
                                                           {t.Button33, "Установить"},
                                                           {t.Button35, "Z-отчет"}};
  for (const auto& [button, caption] : buttons) {
    QCOMPARE(button->text(), caption);
    QVERIFY(button->isEnabledTo(s.main().TabSheet(11)));
  }
  QCOMPARE(t.StringGrid1->columnCount(), 4);
  QCOMPARE(t.StringGrid1->rowCount(), 6);
  QCOMPARE(t.StringGrid1->FixedRows(), 1);
  QCOMPARE(t.StringGrid1->FixedCols(), 1);

  // The date is not typed.
  openPage(s, kClockPage);
  s.main().activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&s.main()));
  t.DateEdit3->setFocus();
  QTest::keyClicks(t.DateEdit3, "1203");
  QCOMPARE(shown(t.DateEdit3), QString("05.11.26"));
  QCOMPARE(marks(s), QString("0,0"));
}

void TestClocktaxes::editsFollowTheClock() {
  Session s;
  Ui::TabSheet11& t = s.main().tab11;
  openPage(s, kClockPage);

  // Each second the clock shows the PC time and the edits follow it; the
  // program's own refills mark nothing.
  s.ui.clock = QDateTime(QDate(2026, 11, 6), QTime(8, 15, 0));
  QTRY_COMPARE(t.RxClock1->text(), QString("08:15:00"));
  QCOMPARE(shown(t.Edit39), QString("08:15"));
  QCOMPARE(shown(t.DateEdit3), QString("06.11.26"));
  QCOMPARE(shown(t.Label59), QString("05.11.26"));  // only a setting changes it
  QCOMPARE(marks(s), QString("0,0"));

  // A time typed in stays; the date still follows.
  typeInto(t.Edit39, "10:00");
  QCOMPARE(marks(s), QString("0,1"));
  s.ui.clock = QDateTime(QDate(2026, 11, 7), QTime(9, 30, 0));
  QTRY_COMPARE(t.RxClock1->text(), QString("09:30:00"));
  QCOMPARE(shown(t.Edit39), QString("10:00"));
  QCOMPARE(shown(t.DateEdit3), QString("07.11.26"));

  // A click on the clock puts the PC time into the edit, whatever the mark.
  QTest::mouseClick(t.RxClock1, Qt::LeftButton);
  QCOMPARE(shown(t.Edit39), QString("09:30"));
  QCOMPARE(marks(s), QString("0,1"));

  // A date chosen in the calendar stays, even the one already shown.
  QCalendarWidget* calendar = t.DateEdit3->calendarWidget();
  QVERIFY(calendar);
  emit calendar->clicked(QDate(2026, 11, 7));
  QCOMPARE(marks(s), QString("1,1"));
  s.ui.clock = QDateTime(QDate(2026, 11, 9), QTime(11, 0, 0));
  QTRY_COMPARE(t.RxClock1->text(), QString("11:00:00"));
  QCOMPARE(shown(t.DateEdit3), QString("07.11.26"));
  QCOMPARE(shown(t.Edit39), QString("09:30"));

  // Stepping the date with a key is a choice as well.
  s.state().DateChosenMark = 0;
  QTRY_COMPARE(shown(t.DateEdit3), QString("09.11.26"));
  s.main().activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&s.main()));
  t.DateEdit3->setFocus();
  t.DateEdit3->setCurrentSection(QDateTimeEdit::DaySection);
  QTest::keyClick(t.DateEdit3, Qt::Key_Up);
  QCOMPARE(shown(t.DateEdit3), QString("10.11.26"));
  QCOMPARE(marks(s), QString("1,1"));
}

void TestClocktaxes::setTime_data() {
  QTest::addColumn<QDate>("date");  // chosen; null: the PC's
  QTest::addColumn<QString>("time");  // typed; null: the PC's
  QTest::addColumn<QString>("data");
  QTest::addColumn<QString>("clockAfter");
  QTest::newRow("PC clock") << QDate() << QString() << "05-11-26 14:07" << "05-11-26 14:07";
  QTest::newRow("chosen and typed") << QDate(2027, 1, 2) << "09:45" << "02-01-27 09:45"
                                    << "02-01-27 09:45";
  QTest::newRow("end of the century") << QDate(2099, 12, 31) << "23:59" << "31-12-99 23:59"
                                      << "31-12-99 23:59";
}

void TestClocktaxes::setTime() {
  QFETCH(QDate, date);
  QFETCH(QString, time);
  QFETCH(QString, data);
  QFETCH(QString, clockAfter);
  Session s;
  Ui::TabSheet11& t = s.main().tab11;
  openPage(s, kClockPage);
  if (date.isValid()) emit t.DateEdit3->calendarWidget()->clicked(date);
  if (!time.isNull()) typeInto(t.Edit39, time);
  QStringList buttonsDuringBox;
  s.ui.onMessage = [&](const QString&) {
    buttonsDuringBox << QStringLiteral("%1%2").arg(t.Button31->isEnabled()).arg(t.Button30->isEnabled());
  };
  // A chosen date or typed time stays while the PC clock moves on: what is
  // shown is what is sent.
  if (date.isValid() || !time.isNull()) s.ui.clock = QDateTime(QDate(2026, 12, 1), QTime(7, 5, 0));

  click(t.Button31);
  QCOMPARE(sent(s), (QStringList{"4A[W]", "3D[" + data + "]"}));
  QCOMPARE(s.ui.messages, QStringList{"Успешно!"});
  QCOMPARE(buttonsDuringBox, QStringList{"00"});
  QVERIFY(t.Button31->isEnabled() && t.Button30->isEnabled());
  QCOMPARE(QString::fromStdString(registerClock(s)).left(14), clockAfter);
  // Both edits follow the PC clock again.
  QCOMPARE(marks(s), QString("0,0"));
  const QDateTime now = s.ui.clock;
  QCOMPARE(shown(t.Label59), now.date().toString("dd.MM.yy"));
  QCOMPARE(shown(t.DateEdit3), now.date().toString("dd.MM.yy"));
  QCOMPARE(shown(t.Edit39), now.time().toString("hh:mm"));
}

void TestClocktaxes::setTimeFailures_data() {
  QTest::addColumn<int>("refused");  // command refused by the register, or 0
  QTest::addColumn<QString>("time");
  QTest::addColumn<QStringList>("frames");
  QTest::addColumn<QStringList>("messages");
  QTest::newRow("0x3D refused") << 0x3D << "09:45" << QStringList{"4A[W]", "3D[02-01-27 09:45]"}
                                << QStringList{kNotAllowed, kTimeError};
  QTest::newRow("bad time") << 0 << "25:99" << QStringList{"4A[W]", "3D[02-01-27 25:99]"}
                            << QStringList{"Синтаксическая ошибка", kTimeError};
  QTest::newRow("time too long to send")
      << 0 << QString(300, '1') << QStringList{"4A[W]"}
      << QStringList{"Команда не отправлена: неверные или слишком длинные данные", kTimeError};
  // The status request's outcome does not count: the time is set.
  QTest::newRow("0x4A refused") << 0x4A << "09:45" << QStringList{"4A[W]", "3D[02-01-27 09:45]"}
                                << QStringList{kNotAllowed, "Успешно!"};
}

void TestClocktaxes::setTimeFailures() {
  QFETCH(int, refused);
  QFETCH(QString, time);
  QFETCH(QStringList, frames);
  QFETCH(QStringList, messages);
  Session s;
  Ui::TabSheet11& t = s.main().tab11;
  openPage(s, kClockPage);
  emit t.DateEdit3->calendarWidget()->clicked(QDate(2027, 1, 2));
  typeInto(t.Edit39, time);
  if (refused) s.simulator->injectFault({.fault = Fault::Refuse, .onlyCommand = refused});
  const std::string before = registerClock(s);

  click(t.Button31);
  QCOMPARE(sent(s), frames);
  QCOMPARE(s.ui.messages, messages);
  QVERIFY(t.Button31->isEnabled() && t.Button30->isEnabled());
  if (messages.last() == kTimeError) {
    // Nothing the user chose is lost.
    QCOMPARE(marks(s), QString("1,1"));
    QCOMPARE(shown(t.DateEdit3), QString("02.01.27"));
    QCOMPARE(shown(t.Edit39), time);
    QCOMPARE(shown(t.Label59), QString("05.11.26"));
    QCOMPARE(registerClock(s).substr(0, 14), before.substr(0, 14));
  } else {
    QCOMPARE(marks(s), QString("0,0"));
    QCOMPARE(registerClock(s).substr(0, 14), std::string("02-01-27 09:45"));
  }
}

void TestClocktaxes::readTime() {
  Session s;
  Ui::TabSheet11& t = s.main().tab11;
  openPage(s, kClockPage);
  setRegisterClock(s, 2025, 3, 7, 9, 5, 10);
  QStringList buttonsDuringBox;
  s.ui.onMessage = [&](const QString&) {
    buttonsDuringBox << QStringLiteral("%1%2").arg(t.Button31->isEnabled()).arg(t.Button30->isEnabled());
  };
  click(t.Button30);
  QCOMPARE(sent(s), (QStringList{"4A[W]", "3E[]"}));
  QCOMPARE(s.ui.messages, QStringList{"Успешно!"});
  QCOMPARE(buttonsDuringBox, QStringList{"00"});
  QVERIFY(t.Button31->isEnabled() && t.Button30->isEnabled());
  QCOMPARE(shown(t.DateEdit3), QString("07.03.25"));
  QCOMPARE(shown(t.Edit39), QString("09:05"));
  QCOMPARE(shown(t.Label59), QString("05.11.26"));

  // The register's clock stays on show while the PC clock goes on.
  QCOMPARE(marks(s), QString("1,1"));
  s.ui.clock = s.ui.clock.addSecs(3600);
  QTRY_COMPARE(t.RxClock1->text(), QString("15:07:30"));
  QCOMPARE(shown(t.DateEdit3), QString("07.03.25"));
  QCOMPARE(shown(t.Edit39), QString("09:05"));

  // Setting it sends what is shown.
  forget(s);
  click(t.Button31);
  QCOMPARE(sent(s), (QStringList{"4A[W]", "3D[07-03-25 09:05]"}));
}

void TestClocktaxes::readTimeFailures_data() {
  QTest::addColumn<QString>("answer");  // the register's 0x3E answer; null: refused
  QTest::addColumn<QStringList>("messages");
  QTest::newRow("refused") << QString() << QStringList{kNotAllowed, kTimeError};
  QTest::newRow("date only") << "05-11-26" << QStringList{kTimeError};
  QTest::newRow("empty") << "" << QStringList{kTimeError};
  QTest::newRow("no such date") << "31-02-26 10:00:00" << QStringList{kTimeError};
  QTest::newRow("not a date") << "ab-cd-ef 10:00:00" << QStringList{kTimeError};
  QTest::newRow("short date") << "5-1-26 10:00:00" << QStringList{kTimeError};
}

void TestClocktaxes::readTimeFailures() {
  QFETCH(QString, answer);
  QFETCH(QStringList, messages);
  Session s;
  Ui::TabSheet11& t = s.main().tab11;
  openPage(s, kClockPage);
  if (answer.isNull())
    s.simulator->injectFault({.fault = Fault::Refuse, .onlyCommand = 0x3E});
  else
    s.model([&](RegisterModel& m) { m.setInformationAnswer(0x3E, answer.toStdString()); });
  click(t.Button30);
  QCOMPARE(sent(s), (QStringList{"4A[W]", "3E[]"}));
  QCOMPARE(s.ui.messages, messages);
  QCOMPARE(shown(t.DateEdit3), QString("05.11.26"));
  QCOMPARE(shown(t.Edit39), QString("14:07"));
  QCOMPARE(marks(s), QString("0,0"));
  QVERIFY(t.Button31->isEnabled() && t.Button30->isEnabled());
}

void TestClocktaxes::taxGridCells() {
  Session s;
  StringGrid* grid = s.main().tab11.StringGrid1;
  openPage(s, kClockPage);
  s.main().activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&s.main()));

  // The action of groups А to Г switches with every click. Another text
  // stays; the header and the untaxed group never switch.
  grid->setCells(3, 3, "?");
  const struct {
    int row;
    const char* after;
  } clicks[] = {{2, "Запрещён"}, {2, "Разрешён"}, {4, "Запрещён"}, {3, "?"}, {0, "Action"}, {5, "Разрешён"}};
  for (const auto& c : clicks) {
    clickCell(grid, 3, c.row);
    QCOMPARE(grid->Cells(3, c.row), QString(c.after));
  }
  QTest::keyClick(grid, Qt::Key_F2);
  QVERIFY(editorText(grid).isNull());

  // The untaxed group's rate is never edited.
  clickCell(grid, 2, 5);
  QTest::keyClick(grid, Qt::Key_7);
  QVERIFY(editorText(grid).isNull());
  const QModelIndex untaxed = grid->model()->index(5, 2);
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(untaxed).center());
  QVERIFY(editorText(grid).isNull());
  QCOMPARE(grid->Cells(2, 5), QString("UnTaxed"));
  // Nor the group letters.
  clickCell(grid, 1, 2);
  QTest::keyClick(grid, Qt::Key_X);
  QVERIFY(editorText(grid).isNull());
  QCOMPARE(grid->Cells(1, 2), QString("Б"));

  // A rate of groups А to Г is typed in.
  clickCell(grid, 2, 3);
  QTest::keyClick(grid, Qt::Key_7);
  QCOMPARE(editorText(grid), QString("7"));
  QWidget* editor = QApplication::focusWidget();
  QVERIFY(qobject_cast<QLineEdit*>(editor));
  QTest::keyClicks(editor, ".50");
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
  QCOMPARE(grid->Cells(2, 3), QString("7.50"));
  QCOMPARE(taxRows(grid), (QStringList{"20.00|Разрешён", "00.00|Разрешён", "7.50|?", "00.00|Запрещён",
                                       "UnTaxed|Разрешён"}));
  QVERIFY(s.frames().empty());
}

void TestClocktaxes::setTaxes_data() {
  QTest::addColumn<QStringList>("rates");
  QTest::addColumn<QStringList>("actions");
  QTest::addColumn<QString>("password");
  QTest::addColumn<QString>("data");
  QTest::addColumn<QStringList>("messages");
  const QString a = "Разрешён", f = "Запрещён";
  QTest::newRow("defaults") << QStringList{"20.00", "00.00", "00.00", "00.00"} << QStringList{a, a, a, a}
                            << "9162" << "9162,2,1111,20.00,0.00,0.00,0.00" << QStringList{"Успешно!"};
  QTest::newRow("rates and forbidden groups")
      << QStringList{"7.5", "12.25", "0.", " 3.10 "} << QStringList{a, f, a, f} << "9162"
      << "9162,2,1010,7.50,12.25,0.00,3.10" << QStringList{"Успешно!"};
  QTest::newRow("other action text") << QStringList{"1.00", "2.00", "3.00", "4.00"}
                                     << QStringList{"?", "", a, "разрешён"} << "9162"
                                     << "9162,2,0010,1.00,2.00,3.00,4.00" << QStringList{"Успешно!"};
  QTest::newRow("rounded to two decimals") << QStringList{".5", "19.999", "0.004", "99.99"}
                                           << QStringList{a, a, a, a} << "9162"
                                           << "9162,2,1111,0.50,20.00,0.00,99.99" << QStringList{"Успешно!"};
  QTest::newRow("wrong password") << QStringList{"20.00", "00.00", "00.00", "00.00"} << QStringList{a, a, a, a}
                                  << "1111" << "1111,2,1111,20.00,0.00,0.00,0.00"
                                  << QStringList{kNotAllowed, "Ошибка."};
  QTest::newRow("rate the register refuses")
      << QStringList{"100.00", "00.00", "00.00", "00.00"} << QStringList{a, a, a, a} << "9162"
      << "9162,2,1111,100.00,0.00,0.00,0.00" << QStringList{"Синтаксическая ошибка", "Ошибка."};
}

void TestClocktaxes::setTaxes() {
  QFETCH(QStringList, rates);
  QFETCH(QStringList, actions);
  QFETCH(QString, password);
  QFETCH(QString, data);
  QFETCH(QStringList, messages);
  Session s;
  openPage(s, kClockPage);
  fillGrid(s.main().tab11.StringGrid1, rates, actions);
  s.main().tab8.Edit22->setText(password);
  s.main().tab8.Edit23->setText("0000");  // the reports password plays no part
  click(s.main().tab11.Button33);
  QCOMPARE(sent(s), QStringList{"53[" + data + "]"});
  QCOMPARE(s.ui.messages, messages);
  if (messages == QStringList{"Успешно!"}) {
    std::string groups;
    std::array<int64_t, 4> programmed{};
    s.model([&](RegisterModel& m) {
      groups = m.enabledGroups();
      programmed = m.taxRates();
    });
    QCOMPARE(QString::fromStdString(groups), data.section(',', 2, 2));
    QStringList texts;
    for (int64_t r : programmed) texts << QString::asprintf("%d.%02d", int(r / 100), int(r % 100));
    QCOMPARE(texts.join(','), data.section(',', 3));
  }
}

void TestClocktaxes::setTaxesRefusedBeforeSending_data() {
  QTest::addColumn<QStringList>("rates");
  QTest::addColumn<QString>("message");
  const QString noPoint = "Десятичная точка отсутствует!";
  QTest::newRow("no point, others valid") << QStringList{"20", "00.00", "00.00", "00.00"} << noPoint;
  QTest::newRow("comma for a point") << QStringList{"20.00", "00.00", "7,50", "00.00"} << noPoint;
  QTest::newRow("empty rate") << QStringList{"20.00", "", "00.00", "00.00"} << noPoint;
  QTest::newRow("letters") << QStringList{"20.00", "abc.d", "00.00", "00.00"}
                           << "'abc.d' не является числом";
  QTest::newRow("comma and point") << QStringList{"1,5.0", "00.00", "00.00", "00.00"}
                                   << "'1,5.0' не является числом";
  QTest::newRow("infinite") << QStringList{"20.00", "1.0e999", "00.00", "00.00"}
                            << "'1.0e999' не является числом";
  // Rows are checked in order: the first bad one speaks.
  QTest::newRow("first bad row speaks") << QStringList{"x.1", "00.00", "00.00", "20"}
                                        << "'x.1' не является числом";
}

void TestClocktaxes::setTaxesRefusedBeforeSending() {
  QFETCH(QStringList, rates);
  QFETCH(QString, message);
  Session s;
  openPage(s, kClockPage);
  fillGrid(s.main().tab11.StringGrid1, rates, QStringList(4, "Разрешён"));
  click(s.main().tab11.Button33);
  QCOMPARE(s.ui.messages, QStringList{message});
  QVERIFY(s.frames().empty());
}

void TestClocktaxes::setTaxesInCommaDecimalLocale() {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "ru_RU.UTF-8") && !std::setlocale(LC_ALL, "uk_UA.UTF-8"))
    QSKIP("no comma-decimal locale on this machine");
  const QLocale savedQt;
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  {
    Session s;
    openPage(s, kClockPage);
    StringGrid* grid = s.main().tab11.StringGrid1;
    fillGrid(grid, {"20.00", "7.50", "0.5", "00.00"}, QStringList(4, "Разрешён"));
    click(s.main().tab11.Button33);
    QCOMPARE(sent(s), QStringList{"53[9162,2,1111,20.00,7.50,0.50,0.00]"});
    QCOMPARE(s.ui.messages, QStringList{"Успешно!"});

    // A rate written the PC's way has no point.
    forget(s);
    grid->setCells(2, 2, "7,50");
    click(s.main().tab11.Button33);
    QCOMPARE(s.ui.messages, QStringList{"Десятичная точка отсутствует!"});
    QVERIFY(s.frames().empty());

    // Reading writes the rates as the register sends them.
    forget(s);
    click(s.main().tab11.Button36);
    QCOMPARE(taxRows(grid), (QStringList{"20.00|Разрешён", "7.50|Разрешён", "0.50|Разрешён",
                                         "0.00|Разрешён", "UnTaxed|Разрешён"}));
  }
  QLocale::setDefault(savedQt);
  std::setlocale(LC_ALL, saved.c_str());
}

void TestClocktaxes::readTaxes_data() {
  QTest::addColumn<QString>("answer");  // the register's answer; null: its own; "!": refused
  QTest::addColumn<QStringList>("rows");
  QTest::addColumn<QStringList>("messages");
  const QString a = "Разрешён", f = "Запрещён";
  QTest::newRow("the register's setting")
      << QString() << QStringList{"7.50|" + a, "0.00|" + a, "12.50|" + f, "0.02|" + f, "UnTaxed|" + a}
      << QStringList{"Успешно!"};
  QTest::newRow("refused") << "!" << kDefaultRows << QStringList{kNotAllowed, "Read tax error"};
  QTest::newRow("no group digits") << "2" << kDefaultRows << QStringList{"Read tax error"};
  QTest::newRow("empty") << "" << kDefaultRows << QStringList{"Read tax error"};
  QTest::newRow("fewer rates than groups")
      << "2,01" << QStringList{"|" + f, "|" + a, "00.00|" + a, "00.00|" + a, "UnTaxed|" + a}
      << QStringList{"Успешно!"};
  QTest::newRow("more groups than rows")
      << "2,1101101,1.00,2.00,3.00,4.00,5.00,6.00,7.00"
      << QStringList{"1.00|" + a, "2.00|" + a, "3.00|" + f, "4.00|" + a, "5.00|" + a}
      << QStringList{"Успешно!"};
}

void TestClocktaxes::readTaxes() {
  QFETCH(QString, answer);
  QFETCH(QStringList, rows);
  QFETCH(QStringList, messages);
  Session s;
  openPage(s, kClockPage);
  StringGrid* grid = s.main().tab11.StringGrid1;
  s.model([](RegisterModel& m) { m.setTaxRates({750, 0, 1250, 2}, "1100"); });
  if (answer == "!")
    s.simulator->injectFault({.fault = Fault::Refuse, .onlyCommand = 0x53});
  else if (!answer.isNull())
    s.model([&](RegisterModel& m) { m.setInformationAnswer(0x53, answer.toStdString()); });
  click(s.main().tab11.Button36);
  QCOMPARE(sent(s), QStringList{"53[]"});
  QCOMPARE(s.ui.messages, messages);
  QCOMPARE(taxRows(grid), rows);
  QCOMPARE(grid->rowCount(), 6);
  QCOMPARE(grid->columnCount(), 4);
}

void TestClocktaxes::zReport() {
  Session s;
  Ui::TabSheet11& t = s.main().tab11;
  openPage(s, kClockPage);
  s.main().tab8.Edit22->setText("0000");  // the programming password plays no part
  const int processed = s.ui.processed;
  click(t.Button35);
  QCOMPARE(sent(s), QStringList{"45[9162,0]"});
  QCOMPARE(s.ui.messages, QStringList{"Z-отчет - успешно"});
  QVERIFY(s.ui.processed > processed);
  int zReports = 0;
  s.model([&](RegisterModel& m) { zReports = m.zReportCount(); });
  QCOMPARE(zReports, 1);
  QCOMPARE(s.state().BusyMark, 0);

  forget(s);
  s.main().tab8.Edit23->setText("1111");
  click(t.Button35);
  QCOMPARE(sent(s), QStringList{"45[1111,0]"});
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка отчета"}));
}

KM_WINDOW_TEST_MAIN(TestClocktaxes)
#include "test_clocktaxes.moc"
