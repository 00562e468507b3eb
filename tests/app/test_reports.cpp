// The page "Дополнительные функции": print test, zero receipt, reports,
// cancellation of an open receipt and the periodic reports; the data texts on
// the wire, the flows that branch on failures and on the register's state,
// the range controls of the periodic report and the busy mark.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QRadioButton>
#include <clocale>
#include <string>

#include "base/cp1251text.h"
#include "tests/app/harness.h"

using namespace km::test;
using km4410r::sim::ReceiptKind;

class TestReports : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void pageAtStart();
  void dataTextsOfTheOperations();
  void printTestFlows();
  void zeroReceiptFlows();
  void reportsAndArticleDeletion();
  void cancellationFlows();
  void periodicReportRangeControls();
  void periodicReportFailures();
  void busyMark();
  void zeroReceiptUnderACommaDecimalLocale();
};

namespace {

constexpr int kReportsPage = 4;

const QString kLine = QString(35, QChar(0x0428));  // 35 times Ш
const QString kPrintOk = QStringLiteral("Нефискальный чек - успешно");
const QString kPrintCloseError = QStringLiteral("Ошибка закрытия нефискального чека");
const QString kZeroOk = QStringLiteral("Фискальный чек - успешно");
const QString kReportOk = QStringLiteral("Отчет - успешно");
const QString kReportError = QStringLiteral("Ошибка отчета");
const QString kCancelOk = QStringLiteral("Анулирование - успешно");
const QString kCancelError = QStringLiteral("Ошибка анулирования");
const QString kNoReceipts = QStringLiteral("Нет открытых чеков");
const QString kShortDone = QStringLiteral("Сокращенный отчет выполнен!");
const QString kFullDone = QStringLiteral("Полный отчет выполнен!");
const QStringList kZeroReceipt{"30[00001,9162,00001,I]", "33[11]", "35[\tP0.00]", "21[]", "38[]"};

ReceiptKind receiptKind(Session& s) {
  ReceiptKind k = ReceiptKind::None;
  s.model([&](RegisterModel& m) { k = m.receiptKind(); });
  return k;
}

// The range controls of the periodic report that are shown and enabled.
QStringList rangeShown(Ui::TabSheet5& t) {
  QStringList names;
  for (QWidget* w : std::initializer_list<QWidget*>{t.Label38, t.Label39, t.DateEdit1, t.DateEdit2,
                                                    t.Label40, t.Label41, t.Edit25, t.Edit26}) {
    if (w->isVisible() != w->isEnabled())
      names << w->objectName() + (w->isVisible() ? "(disabled)" : "(hidden, enabled)");
    else if (w->isVisible())
      names << w->objectName();
  }
  return names;
}

}  // namespace

void TestReports::pageAtStart() {
  Session s;
  Ui::TabSheet5& t = s.main().tab5;
  QCOMPARE(s.form().PageControl1->tabText(kReportsPage), QString("Дополнительные функции"));
  QStringList groups;
  for (QGroupBox* g : s.main().TabSheet(5)->findChildren<QGroupBox*>()) groups << g->title();
  QCOMPARE(groups, (QStringList{"Тест печати", "Нулевой чек", "Отчеты",
                                "Анулировать чек (возврат, фискальный)", "Периодический отчет",
                                "Тип отчета", "Отчет"}));
  QCOMPARE(shown(t.Edit3), QString("Ш"));
  QCOMPARE(t.Edit3->maxLength(), 1);
  QCOMPARE(shown(t.Edit7), QString("1"));
  QCOMPARE(shown(t.Button12), QString("Печать"));
  QCOMPARE(shown(t.Button13), QString("Выполнить"));
  QStringList items;
  for (int i = 0; i < t.ComboBox10->count(); ++i) items << t.ComboBox10->itemText(i);
  QCOMPARE(items, (QStringList{"Отчет проданных товаров", "Отчет запрограммированных товаров",
                               "Отчет товарных групп", "X-отчет", "Z-отчет"}));
  QCOMPARE(t.ComboBox10->currentIndex(), 0);
  QVERIFY(!t.ComboBox10->isEditable());
  QCOMPARE(shown(t.CheckBox6), QString("с удалением артикулов"));
  QVERIFY(!t.CheckBox6->isChecked());
  QCOMPARE(shown(t.Button14), QString("Выполнить"));
  QCOMPARE(shown(t.Button15), QString("Аннулировать чек"));
  QCOMPARE(t.RadioGroup3->title(), QString("Тип отчета"));
  QCOMPARE(shown(t.RadioGroup3Item0), QString("По номеру"));
  QCOMPARE(shown(t.RadioGroup3Item1), QString("По дате"));
  QCOMPARE(t.RadioGroup3Items->checkedId(), -1);
  QCOMPARE(t.RadioGroup4->title(), QString("Отчет"));
  QCOMPARE(shown(t.RadioGroup4Item0), QString("Сокращенный"));
  QCOMPARE(shown(t.RadioGroup4Item1), QString("Полный"));
  QCOMPARE(t.RadioGroup4Items->checkedId(), 0);
  QCOMPARE(shown(t.Edit25), QString("1"));
  QCOMPARE(shown(t.Edit26), QString("1"));
  QCOMPARE(buddyText(t.Edit25), QString("Номер (начало):"));
  QCOMPARE(buddyText(t.Edit26), QString("Номер (конец):"));
  QCOMPARE(buddyText(t.DateEdit1), QString("Дата (начало):"));
  QCOMPARE(buddyText(t.DateEdit2), QString("Дата (конец):"));
  QCOMPARE(t.DateEdit1->displayFormat(), QString("dd.MM.yy"));
  QVERIFY(t.DateEdit1->calendarPopup());
  QCOMPARE(shown(t.DateEdit2), QString("05.11.26"));  // the PC's date
  QCOMPARE(shown(t.Button24), QString("Выполнить"));
  QVERIFY(!t.Edit3->accessibleName().isEmpty());
  QVERIFY(!t.Edit7->accessibleName().isEmpty());

  openPage(s, kReportsPage);
  QVERIFY(t.CheckBox6->isHidden());
  QCOMPARE(rangeShown(t), QStringList());
  QVERIFY(t.Button24->isVisible() && !t.Button24->isEnabled());
  for (QWidget* w : std::initializer_list<QWidget*>{t.Edit3, t.Edit7, t.Button12, t.Button13,
                                                    t.ComboBox10, t.Button14, t.Button15})
    QVERIFY2(w->isVisible() && w->isEnabled(), qPrintable(w->objectName()));
}

void TestReports::dataTextsOfTheOperations() {
  Session s;
  Ui::TabSheet5& t = s.main().tab5;
  openPage(s, kReportsPage);
  Ui::TabSheet8& pw = s.main().tab8;
  s.model([](RegisterModel& m) {
    m.op(3).password = "3333";
    m.op(14).password = "1414";
    m.op(15).password = "1515";
    m.programArticle(7, {});
  });

  struct Case {
    const char* what;
    std::function<void()> act;
    QStringList frames;
    QStringList messages;
  };
  const Case cases[] = {
      {"print test, three lines",
       [&] { typeInto(t.Edit7, "3"); click(t.Button12); },
       {"26[]", "2A[" + kLine + "]", "2A[" + kLine + "]", "2A[" + kLine + "]", "27[]"}, {kPrintOk}},
      {"print test, another character",
       [&] { typeInto(t.Edit3, "#"); typeInto(t.Edit7, "1"); click(t.Button12); },
       {"26[]", "2A[" + QString(35, '#') + "]", "27[]"}, {kPrintOk}},
      {"print test, no lines", [&] { typeInto(t.Edit7, "0"); click(t.Button12); }, {"26[]", "27[]"}, {kPrintOk}},
      {"print test, negative lines", [&] { typeInto(t.Edit7, "-4"); click(t.Button12); }, {"26[]", "27[]"},
       {kPrintOk}},
      {"zero receipt", [&] { click(t.Button13); }, kZeroReceipt, {kZeroOk}},
      {"zero receipt, cashier 3",
       [&] { pw.ComboBox8->setCurrentIndex(2); pw.Edit21->setText("3333"); click(t.Button13); },
       {"30[00003,3333,00001,I]", "33[11]", "35[\tP0.00]", "21[]", "38[]"}, {kZeroOk}},
      {"sold articles", [&] { pw.Edit23->setText("1515"); t.ComboBox10->setCurrentIndex(0); click(t.Button14); },
       {"6F[1515,S]"}, {kReportOk}},
      {"programmed articles", [&] { t.ComboBox10->setCurrentIndex(1); click(t.Button14); }, {"6F[1515,P]"},
       {kReportOk}},
      {"article groups", [&] { t.ComboBox10->setCurrentIndex(2); click(t.Button14); }, {"6F[1515,G]"},
       {kReportOk}},
      {"X report", [&] { t.ComboBox10->setCurrentIndex(3); click(t.Button14); }, {"45[1515,2]"}, {kReportOk}},
      {"Z report", [&] { t.ComboBox10->setCurrentIndex(4); click(t.Button14); }, {"45[1515,0]"}, {kReportOk}},
      {"Z report deleting the articles",
       [&] { pw.Edit22->setText("1414"); t.CheckBox6->setChecked(true); click(t.Button14); },
       {"45[1515,0]", "6B[DA,1414]"}, {kReportOk}},
      {"short report by number",
       [&] { click(t.RadioGroup3Item0); typeInto(t.Edit25, "1"); typeInto(t.Edit26, "12"); click(t.Button24); },
       {"5F[1515,0001,0012]"}, {kShortDone}},
      {"full report by number", [&] { click(t.RadioGroup4Item1); click(t.Button24); }, {"49[1515,0001,0012]"},
       {kFullDone}},
      {"full report by date",
       [&] {
         click(t.RadioGroup3Item1);
         t.DateEdit1->setDate(QDate(2004, 3, 1));
         t.DateEdit2->setDate(QDate(2004, 3, 31));
         click(t.Button24);
       },
       {"5E[1515,010304,310304]"}, {kFullDone}},
      {"short report by date", [&] { click(t.RadioGroup4Item0); click(t.Button24); }, {"4F[1515,010304,310304]"},
       {kShortDone}},
      {"nothing to cancel", [&] { click(t.Button15); }, {"4A[X]"}, {kNoReceipts}},
  };
  for (const Case& c : cases) {
    forget(s);
    c.act();
    QVERIFY2(sent(s) == c.frames, qPrintable(QString(c.what) + ": " + sent(s).join(' ')));
    QVERIFY2(s.ui.messages == c.messages, qPrintable(QString(c.what) + ": " + s.ui.messages.join('|')));
    QVERIFY2(s.state().BusyMark == 0, c.what);
    QVERIFY2(receiptKind(s) == ReceiptKind::None, c.what);
  }
  int zReports = 0, xReports = 0, receipts = 0;
  size_t articles = 1;
  s.model([&](RegisterModel& m) {
    zReports = m.zReportCount();
    xReports = m.xReports();
    receipts = m.lastReceiptNumber();
    articles = m.articles().size();
  });
  QCOMPARE(zReports, 2);
  QCOMPARE(xReports, 1);
  QCOMPARE(receipts, 6);  // four non-fiscal and two fiscal receipts
  QCOMPARE(articles, size_t(0));
  QVERIFY(!t.CheckBox6->isChecked());
}

void TestReports::printTestFlows() {
  Session s;
  Ui::TabSheet5& t = s.main().tab5;
  openPage(s, kReportsPage);

  // No character or no number of lines: nothing is sent.
  typeInto(t.Edit3, "");
  click(t.Button12);
  QVERIFY(sent(s).isEmpty());
  QCOMPARE(s.ui.messages, QStringList{"Введите символ для печати теста"});
  typeInto(t.Edit3, "Z");
  for (const char* lines : {"abc", "", "2.5", "99999999999"}) {
    forget(s);
    typeInto(t.Edit7, QString::fromLatin1(lines));
    click(t.Button12);
    QVERIFY2(sent(s).isEmpty(), lines);
    QVERIFY2(s.ui.messages == QStringList{"Некорректное количество циклов"}, lines);
    QCOMPARE(s.state().BusyMark, 0);
  }

  // The second of three lines refused: no third line, the receipt is still
  // closed, and the verdict is the closing error though closing succeeded.
  // Opening refused: nothing else is sent. Closing refused.
  const QString z = "2A[" + QString(35, 'Z') + "]";
  const struct {
    const char* lines;
    FaultSpec fault;
    QStringList sent, messages;
    bool closed;
  } failures[] = {
      {"3", refusal(0x2A, 1, 1), {"26[]", z, z, "27[]"},
       {kNotAllowed, "Ошибка печати нефискального текста", kPrintCloseError}, true},
      {"3", refusal(0x26), {"26[]"}, {kNotAllowed, "Ошибка открытия нефискального чека"}, true},
      {"1", refusal(0x27), {"26[]", z, "27[]"}, {kNotAllowed, kPrintCloseError}, false},
  };
  for (const auto& f : failures) {
    forget(s);
    typeInto(t.Edit7, f.lines);
    s.simulator->injectFault(f.fault);
    click(t.Button12);
    QCOMPARE(sent(s), f.sent);
    QCOMPARE(s.ui.messages, f.messages);
    QCOMPARE(receiptKind(s) == ReceiptKind::None, f.closed);
    QCOMPARE(s.state().BusyMark, 0);
  }
}

void TestReports::zeroReceiptFlows() {
  Session s;
  Ui::TabSheet5& t = s.main().tab5;
  Ui::TabSheet8& pw = s.main().tab8;
  openPage(s, kReportsPage);

  // No cashier chosen in the list: operator number 0, which the register refuses.
  pw.ComboBox8->setEditText("nobody");  // typed over on its page
  click(t.Button13);
  QCOMPARE(sent(s), QStringList{"30[00000,9162,00001,I]"});
  QCOMPARE(s.ui.messages, (QStringList{kSyntax, "Ошибка открытия фискального чека"}));
  pw.ComboBox8->setCurrentIndex(0);

  // The first failing step ends the operation and leaves the receipt open.
  const std::tuple<int, int, QString> failures[] = {
      {0x33, 2, "Ошибка подсуммы"},
      {0x35, 3, "Ошибка оплаты"},
      {0x38, 5, "Ошибка закрытия фискального чека"},
      {0x21, 5, "Ошибка закрытия фискального чека"},
  };
  for (const auto& [command, frames, message] : failures) {
    forget(s);
    s.model([](RegisterModel& m) {
      // What the last case left open: cancelled, or closed when paid.
      if (m.receiptKind() != ReceiptKind::None) m.execute(0x39, "");
      if (m.receiptKind() != ReceiptKind::None) m.execute(0x38, "");
    });
    s.simulator->injectFault(refusal(command));
    click(t.Button13);
    const QString what = QString::number(command, 16);
    QVERIFY2(sent(s) == kZeroReceipt.mid(0, frames), qPrintable(what));
    QVERIFY2(s.ui.messages == (QStringList{kNotAllowed, message}), qPrintable(what));
    QCOMPARE(s.state().BusyMark, 0);
  }
  // Only a refused clearing of the display lets the receipt close.
  QCOMPARE(receiptKind(s), ReceiptKind::None);

  forget(s);
  s.simulator->injectFault(refusal(0x38));
  click(t.Button13);
  QCOMPARE(receiptKind(s), ReceiptKind::Sale);
}

void TestReports::reportsAndArticleDeletion() {
  Session s;
  Ui::TabSheet5& t = s.main().tab5;
  openPage(s, kReportsPage);
  s.model([](RegisterModel& m) { m.programArticle(7, {}); });

  // The check box is offered for the Z report alone.
  for (int i : {0, 1, 2, 3}) {
    t.ComboBox10->setCurrentIndex(i);
    QVERIFY(t.CheckBox6->isHidden());
  }
  t.ComboBox10->setCurrentIndex(4);
  QVERIFY(t.CheckBox6->isVisible());

  // Ticked for a Z report, then the X report chosen: no deletion, unticked.
  click(t.CheckBox6);
  QVERIFY(t.CheckBox6->isChecked());
  t.ComboBox10->setCurrentIndex(3);
  QVERIFY(t.CheckBox6->isHidden());
  click(t.Button14);
  QCOMPARE(sent(s), QStringList{"45[9162,2]"});
  QVERIFY(!t.CheckBox6->isChecked());

  // A failed Z report still deletes the articles when ticked.
  forget(s);
  t.ComboBox10->setCurrentIndex(4);
  click(t.CheckBox6);
  s.simulator->injectFault(refusal(0x45));
  click(t.Button14);
  QCOMPARE(sent(s), (QStringList{"45[9162,0]", "6B[DA,9162]"}));
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, kReportError}));
  QVERIFY(!t.CheckBox6->isChecked());
  size_t articles = 1;
  s.model([&](RegisterModel& m) { articles = m.articles().size(); });
  QCOMPARE(articles, size_t(0));

  // A refused deletion speaks only through the handler's message.
  forget(s);
  click(t.CheckBox6);
  s.simulator->injectFault(refusal(0x6B));
  click(t.Button14);
  QCOMPARE(sent(s), (QStringList{"45[9162,0]", "6B[DA,9162]"}));
  QCOMPARE(s.ui.messages, (QStringList{kReportOk, kNotAllowed}));

  // An article report refused (a receipt is open).
  forget(s);
  s.model([](RegisterModel& m) { m.execute(0x26, ""); });
  t.ComboBox10->setCurrentIndex(1);
  click(t.Button14);
  QCOMPARE(sent(s), QStringList{"6F[9162,P]"});
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, kReportError}));
  QCOMPARE(s.state().BusyMark, 0);
}

void TestReports::cancellationFlows() {
  Session s({.silenceReads = 1});
  Ui::TabSheet5& t = s.main().tab5;
  openPage(s, kReportsPage);

  // In turn, each from the state the one before left, changed by `setup`.
  using Setup = std::function<void(RegisterModel&)>;
  const Setup none = [](RegisterModel&) {};
  const Setup sale = [](RegisterModel& m) { m.execute(0x30, "00001,9162,00001,I"); };
  const Setup paid = [](RegisterModel& m) {
    m.execute(0x30, "00001,9162,00001,I");
    m.execute(0x35, "\tP0.00");
  };
  const QStringList all{"4A[X]", "39[]", "21[]", "38[]"};
  struct Case {
    const char* what;
    Setup setup;
    QList<FaultSpec> faults;
    QStringList sent, messages;
    int after;  // the receipt left (a ReceiptKind), -1 not checked
  };
  const int kNone = int(ReceiptKind::None), kSale = int(ReceiptKind::Sale);
  const QList<Case> cases{
      {"a non-fiscal receipt is closed, never cancelled", [](RegisterModel& m) { m.execute(0x26, ""); },
       {}, {"4A[X]", "27[]"}, {kCancelOk}, kNone},
      {"an open sale is cancelled", sale, {}, {"4A[X]", "39[]"}, {kCancelOk}, kNone},
      {"a paid receipt cannot be cancelled: it is closed instead", paid, {}, all,
       {kNotAllowed, kCancelOk}, kNone},
      {"and when closing fails too, the cancellation has failed", paid, {refusal(0x38)}, all,
       {kNotAllowed, kNotAllowed, kCancelError}, kSale},
      {"a cancellation that times out does not go on to close", none, {fault(Fault::Silence, 0x39)},
       {"4A[X]", "39[]"}, {"Таймаут", kCancelError}, -1},
      {"an erroneous status answer still tells the receipt's state", none, {refusal(0x4A)}, all,
       {kNotAllowed, kNotAllowed, kCancelOk}, kNone},
      {"no status at all: nothing is closed, nothing claimed", sale, {fault(Fault::Silence, 0x4A)},
       {"4A[X]"}, {"Таймаут", kCancelError}, kSale},
      {"nothing open", [](RegisterModel& m) { m.execute(0x39, ""); }, {}, {"4A[X]"}, {kNoReceipts}, -1},
  };
  for (const Case& c : cases) {
    forget(s);
    s.model(c.setup);
    for (const FaultSpec& f : c.faults) s.simulator->injectFault(f);
    click(t.Button15);
    QVERIFY2(sent(s) == c.sent, c.what);
    QVERIFY2(s.ui.messages == c.messages, c.what);
    if (c.after >= 0) QVERIFY2(int(receiptKind(s)) == c.after, c.what);
  }
  QCOMPARE(s.state().BusyMark, 0);
}

void TestReports::periodicReportRangeControls() {
  Session s;
  Ui::TabSheet5& t = s.main().tab5;
  openPage(s, kReportsPage);
  click(t.RadioGroup3Item1);
  QVERIFY(t.Button24->isEnabled());
  QCOMPARE(rangeShown(t), (QStringList{"Label38", "Label39", "DateEdit1", "DateEdit2"}));
  click(t.RadioGroup3Item0);
  QCOMPARE(rangeShown(t), (QStringList{"Label40", "Label41", "Edit25", "Edit26"}));
  QVERIFY(t.Button24->isEnabled());

  // The dates are picked, not typed.
  click(t.RadioGroup3Item1);
  const QDate before = t.DateEdit1->date();
  t.DateEdit1->setFocus();
  QTest::keyClicks(t.DateEdit1, "010199");
  QCOMPARE(t.DateEdit1->date(), before);

  // Chosen without a click (the keyboard), the range follows when the focus
  // leaves the group.
  t.RadioGroup3Item0->setChecked(true);
  QCOMPARE(rangeShown(t), (QStringList{"Label38", "Label39", "DateEdit1", "DateEdit2"}));
  s.main().activateWindow();
  t.RadioGroup3Item0->setFocus();
  QApplication::processEvents();
  if (QApplication::focusWidget() != t.RadioGroup3Item0) QSKIP("no keyboard focus on this platform");
  t.Edit3->setFocus();
  QApplication::processEvents();
  QCOMPARE(rangeShown(t), (QStringList{"Label40", "Label41", "Edit25", "Edit26"}));
}

void TestReports::periodicReportFailures() {
  Session s;
  Ui::TabSheet5& t = s.main().tab5;
  openPage(s, kReportsPage);
  click(t.RadioGroup3Item0);
  for (const char* number : {"abc", "", "1.5"}) {
    forget(s);
    typeInto(t.Edit26, QString::fromLatin1(number));
    click(t.Button24);
    QVERIFY2(sent(s).isEmpty(), number);
    QVERIFY2(s.ui.messages == QStringList{"'" + QString::fromLatin1(number) + "' не является целым числом"},
             number);
  }
  forget(s);
  typeInto(t.Edit25, "x1");
  typeInto(t.Edit26, "2");
  click(t.Button24);
  QVERIFY(sent(s).isEmpty());
  QCOMPARE(s.ui.messages, QStringList{"'x1' не является целым числом"});

  // The register refuses a range it cannot print.
  forget(s);
  typeInto(t.Edit25, "5");
  typeInto(t.Edit26, "2");
  click(t.Button24);
  QCOMPARE(sent(s), QStringList{"5F[9162,0005,0002]"});
  QCOMPARE(s.ui.messages, (QStringList{kSyntax, "Ошибка выполнения отчета"}));

  forget(s);
  click(t.RadioGroup3Item1);
  click(t.RadioGroup4Item1);
  s.simulator->injectFault(refusal(0x5E));
  click(t.Button24);
  QCOMPARE(sent(s), QStringList{"5E[9162,051126,051126]"});
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка выполнения отчета"}));
  QCOMPARE(s.state().BusyMark, 0);
}

void TestReports::busyMark() {
  Session s;
  Ui::TabSheet5& t = s.main().tab5;
  openPage(s, kReportsPage);
  QList<int> marks;
  s.ui.onMessage = [&](const QString&) { marks << s.state().BusyMark; };
  click(t.Button12);
  t.ComboBox10->setCurrentIndex(3);
  click(t.Button14);
  click(t.Button15);
  QCOMPARE(marks, (QList<int>{5, 5, 5}));
  QCOMPARE(s.state().BusyMark, 0);

  // Run between the steps of another page's loop, the operations give the
  // loop's mark back, the zero receipt's failure included.
  marks.clear();
  s.state().BusyMark = 2;
  click(t.Button12);
  click(t.Button14);
  click(t.Button15);
  s.simulator->injectFault(refusal(0x30));
  click(t.Button13);
  click(t.RadioGroup3Item0);
  click(t.Button24);
  QCOMPARE(marks, (QList<int>{5, 5, 5, 2, 2, 2}));
  QCOMPARE(s.state().BusyMark, 2);
  s.state().BusyMark = 0;
}

void TestReports::zeroReceiptUnderACommaDecimalLocale() {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_ALL, "ru_RU.UTF-8") && !std::setlocale(LC_ALL, "uk_UA.UTF-8"))
    QSKIP("no comma-decimal locale on this machine");
  {
    Session s;
    openPage(s, kReportsPage);
    click(s.main().tab5.Button13);
    QCOMPARE(sent(s), kZeroReceipt);
    QCOMPARE(s.ui.messages, QStringList{kZeroOk});
  }
  std::setlocale(LC_ALL, saved.c_str());
}

KM_WINDOW_TEST_MAIN(TestReports)
#include "test_reports.moc"
