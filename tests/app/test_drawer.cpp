// The page "Денежный ящик, внос-вынос, обнуление артикулов": opening the
// drawer, service cash in and out, deleting the unsold articles; the data
// texts on the wire, the refusals of bad input, the register's refusals, the
// busy mark, and amounts typed under a comma-decimal locale.
#include <QLabel>
#include <clocale>
#include <string>

#include "base/cp1251text.h"
#include "tests/app/harness.h"

using namespace km::test;

class TestDrawer : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void pageAtStart();
  void dataTextsOfTheOperations();
  void badInputIsRefusedBeforeSending();
  void registerRefusalsAndSilence();
  void busyMarkWhileRunning();
  void amountsUnderACommaDecimalLocale();
};

namespace {

constexpr int kDrawerPage = 2;

const QString kBadPulse = QStringLiteral("Некорректная длина импульса \n   исправьте!!!");
const QString kNotANumber = QStringLiteral("Некорректная сумма для вноса/выноса \n   исправьте!!!");
const QString kNotPositive = QStringLiteral("Некорректная сумма для вноса/выноса\n   исправьте!!!");
const QString kDrawerOk = QStringLiteral("Открыть ящик - успешно");
const QString kCashOk = QStringLiteral("Служебный внос/вынос - успешно");
const QString kDeleteOk = QStringLiteral("Удаление артикулов - успешно");

}  // namespace

void TestDrawer::pageAtStart() {
  Session s;
  Ui::TabSheet3& t = s.main().tab3;
  QCOMPARE(s.form().PageControl1->tabText(kDrawerPage),
           QString("Денежный ящик, внос-вынос, обнуление артикулов"));
  QCOMPARE(shown(t.Edit9), QString("20"));
  QCOMPARE(buddyText(t.Edit9), QString("Длина импульса (5мс - 80мс)"));
  QCOMPARE(shown(t.Button10), QString("Открыть"));
  QCOMPARE(t.ComboBox6->count(), 2);
  QCOMPARE(t.ComboBox6->itemText(0), QString("Служебный внос"));
  QCOMPARE(t.ComboBox6->itemText(1), QString("Служебный вынос"));
  QCOMPARE(shown(t.ComboBox6), QString("Служебный внос"));
  QVERIFY(t.ComboBox6->isEditable());
  QCOMPARE(shown(t.Edit17), QString());
  QCOMPARE(buddyText(t.Edit17), QString("Сумма:"));
  QCOMPARE(t.Edit17->toolTip(), QString("Положительное число - сумма вноса/выноса"));
  QCOMPARE(shown(t.Button20), QString("Выполнить"));
  QCOMPARE(shown(t.Button21), QString("Удалить артикулы"));
  QCOMPARE(t.Button21->toolTip(), QString("Удалить все непроданные\n(с последнего Z-отчета артикулы)"));
  QCOMPARE(shown(t.Edit18), QString("9162"));
  QCOMPARE(buddyText(t.Edit18), QString("Пароль:"));
  QCOMPARE(t.Edit18->toolTip(), QString("Пароль по умолчанию - 9162"));
  QVERIFY(!t.ComboBox6->accessibleName().isEmpty());
  QStringList groups;
  for (QGroupBox* g : s.main().TabSheet(3)->findChildren<QGroupBox*>()) groups << g->title();
  QCOMPARE(groups, (QStringList{"Открыть денежный ящик", "Служебный внос/вынос", "Обнуление артикулов"}));
  openPage(s, kDrawerPage);
  for (QWidget* w : std::initializer_list<QWidget*>{t.Edit9, t.Button10, t.ComboBox6, t.Edit17,
                                                    t.Button20, t.Button21, t.Edit18})
    QVERIFY2(w->isVisible() && w->isEnabled(), qPrintable(w->objectName()));
}

void TestDrawer::dataTextsOfTheOperations() {
  Session s;
  Ui::TabSheet3& t = s.main().tab3;
  openPage(s, kDrawerPage);
  s.model([](RegisterModel& m) {
    m.programArticle(7, {});
    m.programArticle(8, {});
  });

  // What each operation sends and says, one after the other.
  struct Case {
    const char* what;
    std::function<void()> act;
    QStringList frames;
    QString message;
  };
  const Case cases[] = {
      {"default pulse", [&] { click(t.Button10); }, {"6A[20]"}, kDrawerOk},
      {"shortest pulse", [&] { typeInto(t.Edit9, "5"); click(t.Button10); }, {"6A[5]"}, kDrawerOk},
      {"longest pulse", [&] { typeInto(t.Edit9, " 150 "); click(t.Button10); }, {"6A[150]"}, kDrawerOk},
      {"cash in", [&] { typeInto(t.Edit17, "20"); click(t.Button20); }, {"46[20.00]"}, kCashOk},
      {"cash out", [&] { t.ComboBox6->setCurrentIndex(1); typeInto(t.Edit17, "12.5"); click(t.Button20); },
       {"46[-12.50]"}, kCashOk},
      {"cash out rounded", [&] { t.ComboBox6->setCurrentIndex(1); typeInto(t.Edit17, "1.005e0"); click(t.Button20); },
       {"46[-1.00]"}, kCashOk},
      {"tiny cash in", [&] { t.ComboBox6->setCurrentIndex(0); typeInto(t.Edit17, "0.004"); click(t.Button20); },
       {"46[0.00]"}, kCashOk},
      {"typed-over direction is a cash in",
       [&] { t.ComboBox6->setCurrentIndex(1); typeInto(t.ComboBox6, "out"); typeInto(t.Edit17, "+3.1"); click(t.Button20); }, {"46[3.10]"}, kCashOk},
      {"delete articles", [&] { click(t.Button21); }, {"6B[DA,9162]"}, kDeleteOk},
  };
  for (const Case& c : cases) {
    forget(s);
    c.act();
    QVERIFY2(sent(s) == c.frames, c.what);
    QVERIFY2(s.ui.messages == QStringList{c.message}, c.what);
    QVERIFY2(s.state().BusyMark == 0, c.what);
  }

  int openings = 0, pulse = 0;
  int64_t cashIn = 0, cashOut = 0;
  size_t articles = 1;
  s.model([&](RegisterModel& m) {
    openings = m.drawerOpenings();
    pulse = m.lastDrawerPulse();
    cashIn = m.day().cashIn;
    cashOut = m.day().cashOut;
    articles = m.articles().size();
  });
  QCOMPARE(openings, 3);
  QCOMPARE(pulse, 150);
  QCOMPARE(cashIn, int64_t(2000 + 0 + 310));
  QCOMPARE(cashOut, int64_t(1250 + 100));
  QCOMPARE(articles, size_t(0));
}

void TestDrawer::badInputIsRefusedBeforeSending() {
  Session s;
  Ui::TabSheet3& t = s.main().tab3;
  openPage(s, kDrawerPage);
  struct Input {
    QLineEdit* edit;
    QPushButton* button;
    const char* text;
    QString message;
  };
  QList<Input> inputs;
  for (const char* pulse : {"4", "151", "80.5", "", "abc", "-20", "0x14", "99999999999"})
    inputs.append({t.Edit9, t.Button10, pulse, kBadPulse});
  for (const char* amount : {"0", "-3", "0.00", "-0"}) inputs.append({t.Edit17, t.Button20, amount, kNotPositive});
  for (const char* amount : {"", "abc", "12,5", "1.2.3", "1e", "1e999", "inf", ".", "12 5"})
    inputs.append({t.Edit17, t.Button20, amount, kNotANumber});
  for (const Input& in : inputs) {
    forget(s);
    typeInto(in.edit, QString::fromLatin1(in.text));
    click(in.button);
    const QString what = in.edit->objectName() + " '" + in.text + "'";
    QVERIFY2(sent(s).isEmpty(), qPrintable(what));
    QVERIFY2(s.ui.messages == QStringList{in.message}, qPrintable(what));
    QVERIFY2(s.state().BusyMark == 0, qPrintable(what));
  }
  // An empty password is sent as it is; the register refuses it.
  forget(s);
  typeInto(t.Edit18, "");
  click(t.Button21);
  QCOMPARE(sent(s), QStringList{"6B[DA,]"});
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка "}));
}

void TestDrawer::registerRefusalsAndSilence() {
  Session s({.silenceReads = 1});
  Ui::TabSheet3& t = s.main().tab3;
  openPage(s, kDrawerPage);

  s.simulator->injectFault(refusal(0x6A));
  click(t.Button10);
  QCOMPARE(sent(s), QStringList{"6A[20]"});
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка открытия ящика"}));

  // More cash out than the drawer holds: the register refuses.
  forget(s);
  t.ComboBox6->setCurrentIndex(1);
  typeInto(t.Edit17, "5");
  click(t.Button20);
  QCOMPARE(sent(s), QStringList{"46[-5.00]"});
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка "}));

  forget(s);
  typeInto(t.Edit18, "1111");
  click(t.Button21);
  QCOMPARE(sent(s), QStringList{"6B[DA,1111]"});
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка "}));

  // A silent register.
  forget(s);
  FaultSpec silence;
  silence.fault = Fault::Silence;
  silence.count = 3;
  s.simulator->injectFault(silence);
  click(t.Button10);
  typeInto(t.Edit17, "1");
  click(t.Button20);
  click(t.Button21);
  QCOMPARE(s.ui.messages, (QStringList{"Таймаут", "Ошибка открытия ящика", "Таймаут", "Ошибка ",
                                       "Таймаут", "Ошибка "}));

  // A password the driver cannot frame is never sent, and fails.
  forget(s);
  typeInto(t.Edit18, QString(300, QLatin1Char('9')));
  click(t.Button21);
  QVERIFY(sent(s).isEmpty());
  QCOMPARE(s.ui.messages.size(), 2);
  QCOMPARE(s.ui.messages.last(), QString("Ошибка "));
  QCOMPARE(s.state().BusyMark, 0);
}

void TestDrawer::busyMarkWhileRunning() {
  Session s;
  Ui::TabSheet3& t = s.main().tab3;
  openPage(s, kDrawerPage);
  QList<int> marks;
  s.ui.onProcess = [&] { marks << s.state().BusyMark; };
  s.ui.onMessage = [&](const QString&) { marks << -s.state().BusyMark; };
  click(t.Button10);
  QCOMPARE(marks, (QList<int>{3, 3, 3, -3}));
  QCOMPARE(s.state().BusyMark, 0);
  marks.clear();
  typeInto(t.Edit17, "1");
  click(t.Button20);
  QCOMPARE(marks, (QList<int>{3, 3, 3, -3}));
  marks.clear();
  click(t.Button21);  // no mark of its own
  QCOMPARE(marks, (QList<int>{0, 0}));

  // Run between the steps of a loop of another page, an operation hands the
  // loop's mark back.
  s.ui.onProcess = nullptr;
  s.ui.onMessage = nullptr;
  s.state().BusyMark = 2;
  click(t.Button10);
  QCOMPARE(s.state().BusyMark, 2);
  click(t.Button20);
  QCOMPARE(s.state().BusyMark, 2);
  click(t.Button21);
  QCOMPARE(s.state().BusyMark, 2);
  typeInto(t.Edit9, "abc");
  click(t.Button10);
  QCOMPARE(s.state().BusyMark, 2);
  s.state().BusyMark = 0;
}

void TestDrawer::amountsUnderACommaDecimalLocale() {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_ALL, "ru_RU.UTF-8") && !std::setlocale(LC_ALL, "uk_UA.UTF-8"))
    QSKIP("no comma-decimal locale on this machine");
  {
    Session s;
    Ui::TabSheet3& t = s.main().tab3;
    openPage(s, kDrawerPage);
    typeInto(t.Edit17, "12,5");
    click(t.Button20);
    t.ComboBox6->setCurrentIndex(1);
    typeInto(t.Edit17, " 2,25 ");
    click(t.Button20);
    typeInto(t.Edit17, "1,5e1");
    t.ComboBox6->setCurrentIndex(0);
    click(t.Button20);
    // The point is not this PC's separator.
    typeInto(t.Edit17, "12.5");
    click(t.Button20);
    QCOMPARE(sent(s), (QStringList{"46[12.50]", "46[-2.25]", "46[15.00]"}));
    QCOMPARE(s.ui.messages, (QStringList{kCashOk, kCashOk, kCashOk, kNotANumber}));
  }
  std::setlocale(LC_ALL, saved.c_str());
}

KM_WINDOW_TEST_MAIN(TestDrawer)
#include "test_drawer.moc"
