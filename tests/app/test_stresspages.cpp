// The cut and beep page (single and looped tests, the pause between passes,
// the controls locked while a loop runs), the passwords page and the cashiers
// page (reading and writing the 13 cashiers, the grid's select-cell rule),
// all against the register simulator.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include "base/cp1251text.h"
#include "app/stringgrid.h"
#include "tests/app/harness.h"

using namespace km::test;
using km4410r::sim::Fault;
using km4410r::sim::FaultSpec;

class TestStressPages : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void cutAndBeepPageAtStart();
  void singleCutAndBeep();
  void cutLoopCountsFailedPassesAndPauses();
  void loopLocksItsControlsWhileRunning();
  void loopRefusesABadPause();
  void passwordsPage();
  void cashiersWriting();
  void cashiersReading();
  void cashierGridClicksAndTyping();
};

namespace {

constexpr int kCutPage = 6, kPasswordsPage = 7, kCashiersPage = 11;

const QString kBadPause = QStringLiteral("Некорректное количество проходов теста \n   исправьте!!!");
const QString kNotAllowed = QStringLiteral("Команда не разрешена");

// Connected, on page `page`, nothing recorded yet.
void openStressPage(Session& s, int page) {
  openPage(s, page);
  s.ui.sleeps.clear();
}

QStringList itemsOf(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

void clickCell(StringGrid* grid, int col, int row) {
  const QModelIndex index = grid->model()->index(row, col);
  grid->scrollTo(index);
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
}

// The text of the grid's open cell editor, or a null text when none is open.
QString editorText(const StringGrid* grid) {
  for (QLineEdit* editor : grid->findChildren<QLineEdit*>())
    if (editor->isVisible()) return editor->text();
  return QString();
}

QStringList column(const StringGrid* grid, int col) {
  QStringList texts;
  for (int r = 1; r <= 13; ++r) texts << grid->Cells(col, r);
  return texts;
}

std::string cp1251(const QString& text) { return toCp1251(text).toStdString(); }

// Types over an edit's text as on a Russian keyboard layout (the test's own
// key clicks take Latin-1 only): each character as a key carrying its text.
void typeRussian(QLineEdit* edit, const QString& text) {
  typeInto(edit, QString());
  for (QChar ch : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(edit, &press);
    QApplication::sendEvent(edit, &release);
  }
}

}  // namespace

// ---- cut and beep ----------------------------------------------------------

void TestStressPages::cutAndBeepPageAtStart() {
  Session s;
  Ui::TabSheet7& t = s.main().tab7;
  const QStringList passes{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"};
  QCOMPARE(itemsOf(t.ComboBox4), passes);
  QCOMPARE(itemsOf(t.ComboBox5), passes);
  QCOMPARE(t.ComboBox4->currentIndex(), -1);
  QCOMPARE(t.ComboBox5->currentIndex(), -1);
  QCOMPARE(shown(t.Edit10), QString("1500"));
  QCOMPARE(shown(t.Edit11), QString("1500"));
  openStressPage(s, kCutPage);
  for (QWidget* w : std::initializer_list<QWidget*>{t.Button16, t.Button17, t.Button18, t.Button19,
                                                    t.Edit10, t.ComboBox4, t.Edit11, t.ComboBox5})
    QVERIFY2(w->isVisible() && w->isEnabled(), qPrintable(w->objectName()));
  QCOMPARE(s.main().BusyMark, 0);
  // The result and count labels hold blanks until a test has run:
  // Label16, Label19, Label25, Label22, Label24.
  QCOMPARE((QStringList{shown(t.Label16), shown(t.Label19), shown(t.Label25), shown(t.Label22),
                        shown(t.Label24)}),
           (QStringList{"    ", "   ", "    ", "  ", "   "}));
}

void TestStressPages::singleCutAndBeep() {
  Session s;
  Ui::TabSheet7& t = s.main().tab7;
  openStressPage(s, kCutPage);
  click(t.Button16);
  QCOMPARE(sent(s), QStringList{"2D[]"});
  QCOMPARE(shown(t.Label16), QString("Тест отрезки чека - успешно"));
  click(t.Button19);
  QCOMPARE(sent(s), (QStringList{"2D[]", "50[]"}));
  QCOMPARE(shown(t.Label25), QString("Тест звукового сигнала - успешно"));
  QVERIFY(s.ui.messages.isEmpty());
  int cuts = 0, beeps = 0;
  s.model([&](km4410r::sim::RegisterModel& m) { cuts = m.cuts(); beeps = m.beeps(); });
  QCOMPARE(cuts, 1);
  QCOMPARE(beeps, 1);

  // A refused command: its error box while the result label is blank, then
  // the failure text. The last success does not linger.
  QStringList labelWhileBoxOpen;
  s.ui.onMessage = [&](const QString&) {
    labelWhileBoxOpen << shown(t.Label16) + "|" + shown(t.Label25);
  };
  s.simulator->injectFault(refusal(0x2D, 1));
  click(t.Button16);
  QCOMPARE(shown(t.Label16), QString("Ошибка теста отрезки чека"));
  s.simulator->injectFault(refusal(0x50, 1));
  click(t.Button19);
  QCOMPARE(shown(t.Label25), QString("Ошибка теста звукового сигнала"));
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, kNotAllowed}));
  QCOMPARE(labelWhileBoxOpen,
           (QStringList{"|Тест звукового сигнала - успешно", "Ошибка теста отрезки чека|"}));

  // The error counter starts again with each test: a success after a failure.
  click(t.Button16);
  QCOMPARE(shown(t.Label16), QString("Тест отрезки чека - успешно"));
  click(t.Button19);
  QCOMPARE(shown(t.Label25), QString("Тест звукового сигнала - успешно"));
  QCOMPARE(sent(s), (QStringList{"2D[]", "50[]", "2D[]", "50[]", "2D[]", "50[]"}));
  QCOMPARE(s.ui.messages.size(), 2);
  QVERIFY(s.ui.sleeps.isEmpty());
}

void TestStressPages::cutLoopCountsFailedPassesAndPauses() {
  Session s;
  Ui::TabSheet7& t = s.main().tab7;
  openStressPage(s, kCutPage);

  // No pass count chosen: no pass at all, and no failure either.
  click(t.Button17);
  QVERIFY(sent(s).isEmpty());
  QVERIFY(s.ui.sleeps.isEmpty());
  QCOMPARE(shown(t.Label17), QString("Тест обрезки чека - успешно"));
  QCOMPARE(shown(t.Label19), QString("0"));

  // Ten passes, the 5th, 6th and 7th refused: each failure's box comes in
  // its own pass, the pause follows every pass (the last one too).
  QList<int> framesAtBox;
  s.ui.onMessage = [&](const QString&) { framesAtBox << int(s.simulator->journalCount()); };
  QList<int> framesAtSleep;
  s.ui.onSleep = [&](int) { framesAtSleep << int(s.simulator->journalCount()); };
  t.ComboBox4->setCurrentIndex(9);
  s.simulator->injectFault(refusal(0x2D, 3, 4));
  click(t.Button17);
  QCOMPARE(sent(s), QStringList(10, "2D[]"));
  QCOMPARE(s.ui.messages, QStringList(3, kNotAllowed));
  QCOMPARE(framesAtBox, (QList<int>{5, 6, 7}));
  QCOMPARE(s.ui.sleeps, QList<int>(10, 1500));
  QCOMPARE(framesAtSleep, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  QCOMPARE(shown(t.Label17), QString("Ошибка теста обрезки чека"));
  QCOMPARE(shown(t.Label19), QString("3"));
  int cuts = 0;
  s.model([&](km4410r::sim::RegisterModel& m) { cuts = m.cuts(); });
  QCOMPARE(cuts, 7);

  // A pause of 0 and the pass count read as the item chosen: 3 passes.
  s.ui.onMessage = nullptr;
  s.ui.onSleep = nullptr;
  s.clearFrames();
  s.ui.messages.clear();
  s.ui.sleeps.clear();
  typeInto(t.Edit10, "0");
  t.ComboBox4->setCurrentIndex(2);
  click(t.Button17);
  QCOMPARE(sent(s), QStringList(3, "2D[]"));
  QCOMPARE(s.ui.sleeps, (QList<int>{0, 0, 0}));
  QCOMPARE(shown(t.Label17), QString("Тест обрезки чека - успешно"));
  QCOMPARE(shown(t.Label19), QString("0"));
  QVERIFY(s.ui.messages.isEmpty());

  // The beep loop alike, with its own texts: two passes, both refused.
  s.clearFrames();
  s.ui.messages.clear();
  s.ui.sleeps.clear();
  typeInto(t.Edit11, "250");
  t.ComboBox5->setCurrentIndex(1);
  s.simulator->injectFault(refusal(0x50, 2));
  click(t.Button18);
  QCOMPARE(sent(s), QStringList(2, "50[]"));
  QCOMPARE(s.ui.sleeps, (QList<int>{250, 250}));
  QCOMPARE(s.ui.messages, QStringList(2, kNotAllowed));
  QCOMPARE(shown(t.Label22), QString("Ошибка теста звукового сигнала"));
  QCOMPARE(shown(t.Label24), QString("2"));
  click(t.Button18);
  QCOMPARE(shown(t.Label22), QString("Тест звукового сигнала - успешно"));
  QCOMPARE(shown(t.Label24), QString("0"));
  QCOMPARE(s.main().BusyMark, 0);

  // "Отключить" pressed during the loop: every later pass is refused by the
  // driver, and the box names the real reason.
  s.clearFrames();
  s.ui.messages.clear();
  s.ui.onSleep = [&](int) {
    if (s.main().isConnected()) click(s.main().ui.Button2);
  };
  t.ComboBox5->setCurrentIndex(2);
  click(t.Button18);
  s.ui.onSleep = nullptr;
  QCOMPARE(sent(s), QStringList{"50[]"});
  QCOMPARE(s.ui.messages, QStringList(2, "Команда не отправлена: порт не открыт"));
  QCOMPARE(shown(t.Label24), QString("2"));
}

void TestStressPages::loopLocksItsControlsWhileRunning() {
  Session s;
  Ui::TabSheet7& t = s.main().tab7;
  openStressPage(s, kCutPage);

  // What the page looks like in every pause and every processing of
  // messages while the loop runs.
  struct Seen {
    bool buttonsLocked = true, ownLocked = true, otherFree = true, busy = true, blank = true;
    int times = 0;
  } seen;
  QLineEdit* ownEdit = t.Edit10;
  QComboBox* ownBox = t.ComboBox4;
  QLineEdit* otherEdit = t.Edit11;
  QComboBox* otherBox = t.ComboBox5;
  QLabel* result = t.Label17;
  QLabel* count = t.Label19;
  auto look = [&] {
    ++seen.times;
    for (QWidget* b : {t.Button16, t.Button17, t.Button18, t.Button19})
      if (b->isEnabled()) seen.buttonsLocked = false;
    if (ownEdit->isEnabled() || ownBox->isEnabled()) seen.ownLocked = false;
    if (!otherEdit->isEnabled() || !otherBox->isEnabled()) seen.otherFree = false;
    if (s.main().BusyMark != 2) seen.busy = false;
    if (!shown(result).isEmpty() || !shown(count).isEmpty()) seen.blank = false;
  };
  s.ui.onSleep = [&](int) { look(); };
  s.ui.onProcess = look;

  t.ComboBox4->setCurrentIndex(1);
  click(t.Button17);
  QCOMPARE(sent(s), QStringList(2, "2D[]"));
  QVERIFY(seen.times >= 6);  // 2 passes: 2 processings and a pause each
  QVERIFY(seen.buttonsLocked);
  QVERIFY(seen.ownLocked);
  QVERIFY(seen.otherFree);
  QVERIFY(seen.busy);
  QVERIFY(seen.blank);
  for (QWidget* w : std::initializer_list<QWidget*>{t.Button16, t.Button17, t.Button18, t.Button19,
                                                    t.Edit10, t.ComboBox4, t.Edit11, t.ComboBox5})
    QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
  QCOMPARE(s.main().BusyMark, 0);
  QCOMPARE(shown(t.Label19), QString("0"));

  // The beep loop locks its own edit and box, the cut group's stay free.
  seen = Seen{};
  ownEdit = t.Edit11;
  ownBox = t.ComboBox5;
  otherEdit = t.Edit10;
  otherBox = t.ComboBox4;
  result = t.Label22;
  count = t.Label24;
  t.ComboBox5->setCurrentIndex(0);
  click(t.Button18);
  QCOMPARE(sent(s), (QStringList{"2D[]", "2D[]", "50[]"}));
  QVERIFY(seen.times >= 3);
  QVERIFY(seen.buttonsLocked);
  QVERIFY(seen.ownLocked);
  QVERIFY(seen.otherFree);
  QVERIFY(seen.busy);
  QVERIFY(seen.blank);
  QVERIFY(t.Edit11->isEnabled() && t.ComboBox5->isEnabled() && t.Button18->isEnabled());
  QCOMPARE(s.main().BusyMark, 0);
  QCOMPARE(shown(t.Label22), QString("Тест звукового сигнала - успешно"));
}

void TestStressPages::loopRefusesABadPause() {
  Session s;
  Ui::TabSheet7& t = s.main().tab7;
  openStressPage(s, kCutPage);
  t.ComboBox5->setCurrentIndex(2);
  click(t.Button18);  // a finished loop's texts, to see them cleared
  QCOMPARE(shown(t.Label22), QString("Тест звукового сигнала - успешно"));
  s.clearFrames();
  s.ui.sleeps.clear();

  // Not an integer: the first beep goes, then the message; no result.
  typeInto(t.Edit11, "1.5");
  click(t.Button18);
  QCOMPARE(sent(s), QStringList{"50[]"});
  QCOMPARE(s.ui.messages, QStringList{kBadPause});
  QVERIFY(s.ui.sleeps.isEmpty());
  QCOMPARE(shown(t.Label22), QString());
  QCOMPARE(shown(t.Label24), QString());
  QVERIFY(t.Button16->isEnabled() && t.Button17->isEnabled() && t.Button18->isEnabled() &&
          t.Button19->isEnabled() && t.Edit11->isEnabled() && t.ComboBox5->isEnabled());
  QCOMPARE(s.main().BusyMark, 0);

  // A negative pause is refused before anything is sent.
  t.ComboBox4->setCurrentIndex(4);
  click(t.Button17);  // once well, so that the labels have texts
  QCOMPARE(shown(t.Label19), QString("0"));
  s.clearFrames();
  s.ui.messages.clear();
  s.ui.sleeps.clear();
  typeInto(t.Edit10, "-5");
  click(t.Button17);
  QVERIFY(sent(s).isEmpty());
  QCOMPARE(s.ui.messages, QStringList{kBadPause});
  QVERIFY(s.ui.sleeps.isEmpty());
  QCOMPARE(shown(t.Label17), QString());
  QCOMPARE(shown(t.Label19), QString());
  QVERIFY(t.Button16->isEnabled() && t.Button17->isEnabled() && t.Button18->isEnabled() &&
          t.Button19->isEnabled() && t.Edit10->isEnabled() && t.ComboBox4->isEnabled());
  QCOMPARE(s.main().BusyMark, 0);

  // Nor is an empty pause a pause: one cut, then the message.
  typeInto(t.Edit10, "");
  click(t.Button17);
  QCOMPARE(sent(s), QStringList{"2D[]"});
  QCOMPARE(s.ui.messages, (QStringList{kBadPause, kBadPause}));
  QCOMPARE(shown(t.Label17), QString());
  QCOMPARE(shown(t.Label19), QString());
}

// ---- passwords -------------------------------------------------------------

void TestStressPages::passwordsPage() {
  Session s;
  Ui::TabSheet8& p = s.main().tab8;
  QStringList cashiers;
  for (int i = 1; i <= 13; ++i) cashiers << QStringLiteral("Оператор %1").arg(i);
  QCOMPARE(itemsOf(p.ComboBox7),
           (cashiers + QStringList{"Оператор по программированию", "Оператор по отчетам", ""}));
  QCOMPARE(itemsOf(p.ComboBox9), (cashiers + QStringList{"Оператор 14"}));
  QCOMPARE(itemsOf(p.ComboBox8), cashiers);
  QCOMPARE(p.ComboBox7->currentIndex(), -1);
  QCOMPARE(p.ComboBox9->currentIndex(), -1);
  QVERIFY(p.ComboBox8->isEditable());
  QCOMPARE(shown(p.ComboBox8), QString("Оператор 1"));
  QCOMPARE(shown(p.Edit21), QString("9162"));
  QCOMPARE(shown(p.Edit22), QString("9162"));
  QCOMPARE(shown(p.Edit23), QString("9162"));
  QCOMPARE(p.Edit24->echoMode(), QLineEdit::Password);
  QCOMPARE(shown(p.Button22), QString("Выполнить"));
  QCOMPARE(shown(p.Button23), QString("Обнулить пароль кассира (9162)"));

  openStressPage(s, kPasswordsPage);
  QVERIFY(!p.Button22->isEnabled());
  QVERIFY(!p.Button23->isEnabled());

  // A new password for cashier 3.
  p.ComboBox7->setCurrentIndex(2);
  QVERIFY(p.Button22->isEnabled());
  QVERIFY(!p.Button23->isEnabled());
  typeInto(p.Edit19, "9162");
  typeInto(p.Edit20, "1234");
  click(p.Button22);
  QCOMPARE(sent(s), QStringList{"65[3,9162,1234]"});
  QCOMPARE(s.ui.messages, QStringList{"Новый пароль установлен!"});
  std::string password3;
  s.model([&](km4410r::sim::RegisterModel& m) { password3 = m.op(3).password; });
  QCOMPARE(password3, std::string("1234"));
  QVERIFY(p.Button22->isEnabled());

  // The old password is wrong now: the register's refusal, then the failure.
  s.clearFrames();
  s.ui.messages.clear();
  click(p.Button22);
  QCOMPARE(sent(s), QStringList{"65[3,9162,1234]"});
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка установки нового пароля кассира"}));

  // The reports operator is operator 15; texts go in CP1251.
  s.clearFrames();
  s.ui.messages.clear();
  p.ComboBox7->setCurrentIndex(14);
  typeRussian(p.Edit19, "пароль");
  QCOMPARE(shown(p.Edit19), QString("пароль"));
  typeInto(p.Edit20, "777");
  click(p.Button22);
  QCOMPARE(sent(s), QStringList{"65[15,пароль,777]"});
  QCOMPARE(s.frames()[0].hostData, std::string("15,") + cp1251("пароль") + ",777");
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка установки нового пароля кассира"}));

  // The empty last item, chosen with the keyboard, is number 16: the driver
  // sends it and the register, which has 15 operators, calls it a syntax error.
  s.clearFrames();
  s.ui.messages.clear();
  p.ComboBox7->setFocus();
  QTest::keyClick(p.ComboBox7, Qt::Key_End);
  QCOMPARE(p.ComboBox7->currentIndex(), 15);
  typeInto(p.Edit19, "9162");
  click(p.Button22);
  QCOMPARE(sent(s), QStringList{"65[16,9162,777]"});
  QCOMPARE(s.ui.messages,
           (QStringList{"Синтаксическая ошибка", "Ошибка установки нового пароля кассира"}));

  // The administrator resets cashier 14's password.
  s.model([](km4410r::sim::RegisterModel& m) { m.op(14).password = "5555"; });
  s.clearFrames();
  s.ui.messages.clear();
  p.ComboBox9->setCurrentIndex(13);
  QVERIFY(p.Button23->isEnabled());
  typeInto(p.Edit24, "0000");
  click(p.Button23);
  QCOMPARE(sent(s), QStringList{"77[14,0000]"});
  QCOMPARE(s.ui.messages, QStringList{"Пароль обнулен, новое значение пароля - 9162"});
  std::string password14;
  s.model([&](km4410r::sim::RegisterModel& m) { password14 = m.op(14).password; });
  QCOMPARE(password14, std::string("9162"));

  s.clearFrames();
  s.ui.messages.clear();
  p.ComboBox9->setCurrentIndex(0);
  typeInto(p.Edit24, "1111");
  click(p.Button23);
  QCOMPARE(sent(s), QStringList{"77[1,1111]"});
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка обнуления пароля кассира"}));
  QVERIFY(p.Button23->isEnabled());
}

// ---- cashiers --------------------------------------------------------------

void TestStressPages::cashiersWriting() {
  Session s;
  Ui::TabSheet12& c = s.main().tab12;
  StringGrid* grid = c.StringGrid2;
  openStressPage(s, kCashiersPage);

  // Every row switched to "не выполнять" by a click: nothing to write.
  for (int r = 1; r <= 13; ++r) clickCell(grid, 3, r);
  QCOMPARE(column(grid, 3), QStringList(13, "не выполнять"));
  click(c.Button32);
  QVERIFY(sent(s).isEmpty());
  QCOMPARE(s.ui.messages, QStringList{"Успешно!"});

  // Rows 2 and 4 to be written, row 4 with a name typed in.
  clickCell(grid, 3, 2);
  clickCell(grid, 3, 4);
  grid->setCells(2, 4, QStringLiteral("Кассир Ёлкин"));
  s.ui.messages.clear();
  click(c.Button32);
  QCOMPARE(sent(s), (QStringList{"66[2,9162,Оператор 2]", "66[4,9162,Кассир Ёлкин]"}));
  QCOMPARE(s.frames()[1].hostData, std::string("4,9162,") + cp1251("Кассир Ёлкин"));
  QCOMPARE(s.ui.messages, QStringList{"Успешно!"});
  std::string name4;
  s.model([&](km4410r::sim::RegisterModel& m) { name4 = m.op(4).name; });
  QCOMPARE(name4, cp1251("Кассир Ёлкин"));

  // All rows again; the third write is refused: rows 1 to 3 sent, no more.
  for (int r = 1; r <= 13; ++r)
    if (grid->Cells(3, r) == "не выполнять") clickCell(grid, 3, r);
  QCOMPARE(column(grid, 3), QStringList(13, "выполнить"));
  s.clearFrames();
  s.ui.messages.clear();
  s.simulator->injectFault(refusal(0x66, 1, 2));
  click(c.Button32);
  QCOMPARE(sent(s), (QStringList{"66[1,9162,Оператор 1]", "66[2,9162,Оператор 2]",
                                 "66[3,9162,Оператор 3]"}));
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка записи информации об операторе!"}));

  // Only the exact text skips a row: "не выполнять " (typed so) is written.
  s.clearFrames();
  s.ui.messages.clear();
  for (int r = 1; r <= 13; ++r)
    grid->setCells(3, r, r == 13 ? QStringLiteral("не выполнять ") : QStringLiteral("не выполнять"));
  grid->setCells(1, 13, QStringLiteral("42"));
  click(c.Button32);
  QCOMPARE(sent(s), QStringList{"66[13,42,Оператор 13]"});
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка записи информации об операторе!"}));
}

void TestStressPages::cashiersReading() {
  Session s;
  Ui::TabSheet12& c = s.main().tab12;
  StringGrid* grid = c.StringGrid2;
  s.model([](km4410r::sim::RegisterModel& m) {
    m.op(1).name = cp1251("Иванова");
    m.op(2).name = cp1251("Петров П.");
    m.op(7).name = "";
    m.op(13).name = cp1251("Сидоров");
  });
  openStressPage(s, kCashiersPage);
  click(c.Button34);
  QStringList reads;
  for (int r = 1; r <= 13; ++r) reads << QStringLiteral("70[%1]").arg(r);
  QCOMPARE(sent(s), reads);
  QCOMPARE(s.ui.messages, QStringList{"Успешно!"});
  QCOMPARE(column(grid, 2),
           (QStringList{"Иванова", "Петров П.", "Оператор 3", "Оператор 4", "Оператор 5",
                        "Оператор 6", "", "Оператор 8", "Оператор 9", "Оператор 10",
                        "Оператор 11", "Оператор 12", "Сидоров"}));
  QCOMPARE(column(grid, 1), QStringList(13, "9162"));
  QCOMPARE(column(grid, 3), QStringList(13, "выполнить"));

  // The 4th read refused: rows 1 to 3 have the new names, the rest as shown.
  s.model([](km4410r::sim::RegisterModel& m) {
    for (int n = 1; n <= 13; ++n) m.op(n).name = cp1251(QStringLiteral("Кассир %1").arg(n));
  });
  s.clearFrames();
  s.ui.messages.clear();
  s.simulator->injectFault(refusal(0x70, 1, 3));
  click(c.Button34);
  QCOMPARE(sent(s), (QStringList{"70[1]", "70[2]", "70[3]", "70[4]"}));
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка чтения информации об операторе!"}));
  QCOMPARE(column(grid, 2),
           (QStringList{"Кассир 1", "Кассир 2", "Кассир 3", "Оператор 4", "Оператор 5",
                        "Оператор 6", "", "Оператор 8", "Оператор 9", "Оператор 10",
                        "Оператор 11", "Оператор 12", "Сидоров"}));
}

void TestStressPages::cashierGridClicksAndTyping() {
  Session s;
  StringGrid* grid = s.main().tab12.StringGrid2;
  openStressPage(s, kCashiersPage);
  s.main().activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&s.main()));

  // The header row's "Запись" is no switch.
  clickCell(grid, 3, 0);
  QCOMPARE(grid->Cells(3, 0), QString("Запись"));
  // Every click switches; two clicks on row 5 give the text back.
  clickCell(grid, 3, 5);
  QCOMPARE(grid->Cells(3, 5), QString("не выполнять"));
  clickCell(grid, 3, 5);
  QCOMPARE(grid->Cells(3, 5), QString("выполнить"));
  // Another text in the column stays as it is.
  grid->setCells(3, 6, QStringLiteral("потом"));
  clickCell(grid, 3, 6);
  QCOMPARE(grid->Cells(3, 6), QString("потом"));
  // Clicks in the other columns switch nothing.
  clickCell(grid, 1, 5);
  clickCell(grid, 2, 5);
  QCOMPARE(grid->Cells(3, 5), QString("выполнить"));

  // A name is typed in: the first key opens the editor with that key.
  clickCell(grid, 2, 4);
  QTest::keyClick(grid, Qt::Key_Z);
  QCOMPARE(editorText(grid), QString("z"));
  QWidget* editor = QApplication::focusWidget();
  QVERIFY(qobject_cast<QLineEdit*>(editor));
  QTest::keyClicks(editor, "ed");
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();  // the delegate commits on Enter through the event loop
  QCOMPARE(grid->Cells(2, 4), QString("zed"));
  QVERIFY(editorText(grid).isNull());

  // Typing in the switch column edits nothing, by any key.
  clickCell(grid, 3, 4);
  QCOMPARE(grid->Cells(3, 4), QString("не выполнять"));
  QTest::keyClicks(grid, "abc");
  QTest::keyClick(grid, Qt::Key_F2);
  QVERIFY(editorText(grid).isNull());
  QCOMPARE(grid->Cells(3, 4), QString("не выполнять"));

  // Back in the password column, typing edits again.
  clickCell(grid, 1, 4);
  QTest::keyClick(grid, Qt::Key_5);
  QCOMPARE(editorText(grid), QString("5"));
  editor = QApplication::focusWidget();
  QVERIFY(qobject_cast<QLineEdit*>(editor));
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();  // the delegate commits on Enter through the event loop
  QCOMPARE(grid->Cells(1, 4), QString("5"));

  // A double click on a name opens its editor too.
  clickCell(grid, 2, 9);
  const QModelIndex nine = grid->model()->index(9, 2);
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(nine).center());
  QCOMPARE(editorText(grid), QString("Оператор 9"));

  // What was typed is what gets written; row 6's other text is no skip.
  if (QWidget* open = QApplication::focusWidget()) QTest::keyClick(open, Qt::Key_Escape);
  for (int r = 1; r <= 13; ++r)
    if (r != 4 && grid->Cells(3, r) == "выполнить") clickCell(grid, 3, r);
  clickCell(grid, 3, 4);
  QCOMPARE(grid->Cells(3, 4), QString("выполнить"));
  s.model([](km4410r::sim::RegisterModel& m) { m.op(4).password = "5"; });
  s.clearFrames();
  s.ui.messages.clear();
  click(s.main().tab12.Button32);
  QCOMPARE(sent(s), (QStringList{"66[4,5,zed]", "66[6,9162,Оператор 6]"}));
  QCOMPARE(s.ui.messages, QStringList{"Успешно!"});
  std::string name4;
  s.model([&](km4410r::sim::RegisterModel& m) { name4 = m.op(4).name; });
  QCOMPARE(name4, std::string("zed"));
}

KM_WINDOW_TEST_MAIN(TestStressPages)
#include "test_stresspages.moc"
