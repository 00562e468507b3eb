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
  QCOMPARE(s.state().BusyMark, 0);
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
  forget(s);
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
  forget(s);
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
  QCOMPARE(s.state().BusyMark, 0);

  // "Отключить" pressed during the loop: every later pass is refused by the
  // driver, and the box names the real reason.
  forget(s);
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
  // In every pause and every processing of messages while a loop runs: the
  // four buttons and the loop's own edit and box locked, the other group's
  // free, the busy mark 2, the result and count blank.
  struct Loop {
    QPushButton* start;
    QComboBox *passes, *otherBox;
    int index;
    QLineEdit *ownEdit, *otherEdit;
    QLabel *result, *count;
    QStringList sent;
    int looks;  // at least: a processing and a pause each pass
    const char* success;
  };
  const Loop loops[] = {{t.Button17, t.ComboBox4, t.ComboBox5, 1, t.Edit10, t.Edit11, t.Label17, t.Label19,
                         QStringList(2, "2D[]"), 6, "Тест обрезки чека - успешно"},
                        {t.Button18, t.ComboBox5, t.ComboBox4, 0, t.Edit11, t.Edit10, t.Label22, t.Label24,
                         {"50[]"}, 3, "Тест звукового сигнала - успешно"}};
  for (const Loop& l : loops) {
    forget(s);
    QStringList wrong;  // what was seen out of place, once each
    int looks = 0;
    auto look = [&] {
      ++looks;
      const auto note = [&](bool bad, const QString& what) {
        if (bad && !wrong.contains(what)) wrong << what;
      };
      for (QWidget* b : {t.Button16, t.Button17, t.Button18, t.Button19}) note(b->isEnabled(), "buttons free");
      note(l.ownEdit->isEnabled() || l.passes->isEnabled(), "own controls free");
      note(!l.otherEdit->isEnabled() || !l.otherBox->isEnabled(), "other controls locked");
      note(s.state().BusyMark != 2, "not busy");
      note(!shown(l.result).isEmpty() || !shown(l.count).isEmpty(), "texts shown");
    };
    s.ui.onSleep = [&](int) { look(); };
    s.ui.onProcess = look;
    l.passes->setCurrentIndex(l.index);
    click(l.start);
    s.ui.onSleep = nullptr;
    s.ui.onProcess = nullptr;
    QCOMPARE(sent(s), l.sent);
    QVERIFY(looks >= l.looks);
    QCOMPARE(wrong, QStringList());
    for (QWidget* w : std::initializer_list<QWidget*>{t.Button16, t.Button17, t.Button18, t.Button19,
                                                      t.Edit10, t.ComboBox4, t.Edit11, t.ComboBox5})
      QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QCOMPARE(s.state().BusyMark, 0);
    QCOMPARE(shown(l.result), QString(l.success));
    QCOMPARE(shown(l.count), QString("0"));
  }
}

void TestStressPages::loopRefusesABadPause() {
  Session s;
  Ui::TabSheet7& t = s.main().tab7;
  openStressPage(s, kCutPage);
  struct Case {
    QPushButton* loop;
    QLineEdit* pause;
    QComboBox* passes;
    QLabel *result, *count;
    const char* pauseText;
    QStringList sent;
  };
  // Not an integer, or empty: the first pass goes, then the message; a
  // negative pause is refused before anything is sent. No result either way.
  const Case cases[] = {
      {t.Button18, t.Edit11, t.ComboBox5, t.Label22, t.Label24, "1.5", {"50[]"}},
      {t.Button17, t.Edit10, t.ComboBox4, t.Label17, t.Label19, "-5", {}},
      {t.Button17, t.Edit10, t.ComboBox4, t.Label17, t.Label19, "", {"2D[]"}},
  };
  for (const Case& c : cases) {
    c.passes->setCurrentIndex(2);
    typeInto(c.pause, "0");
    click(c.loop);  // a finished loop's texts, to see them cleared
    QCOMPARE(shown(c.count), QString("0"));
    QVERIFY(!shown(c.result).isEmpty());
    forget(s);
    s.ui.sleeps.clear();
    typeInto(c.pause, c.pauseText);
    click(c.loop);
    QCOMPARE(sent(s), c.sent);
    QCOMPARE(s.ui.messages, QStringList{kBadPause});
    QVERIFY(s.ui.sleeps.isEmpty());
    QCOMPARE(shown(c.result), QString());
    QCOMPARE(shown(c.count), QString());
    for (QWidget* w : std::initializer_list<QWidget*>{t.Button16, t.Button17, t.Button18, t.Button19,
                                                      c.pause, c.passes})
      QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QCOMPARE(s.state().BusyMark, 0);
  }
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

  // Choosing an operator enables its own button only.
  p.ComboBox7->setCurrentIndex(2);
  QVERIFY(p.Button22->isEnabled());
  QVERIFY(!p.Button23->isEnabled());

  // Each step from what the one before left: the operator chosen (by index,
  // or -1: the empty last item with the keyboard), the texts typed (a null
  // text: left as it is; the first typed as a Russian keyboard types), the
  // frame sent and the messages.
  const QString setFailed = QStringLiteral("Ошибка установки нового пароля кассира");
  struct Step {
    const char* what;
    QComboBox* box;
    int index;
    QLineEdit *edit1, *edit2;
    QString text1, text2;
    QPushButton* button;
    QString frame;
    QStringList messages;
  };
  const Step steps[] = {
      {"a new password for cashier 3", p.ComboBox7, 2, p.Edit19, p.Edit20, "9162", "1234", p.Button22,
       "65[3,9162,1234]", {"Новый пароль установлен!"}},
      {"the old password is wrong now", p.ComboBox7, 2, p.Edit19, p.Edit20, {}, {}, p.Button22,
       "65[3,9162,1234]", {kNotAllowed, setFailed}},
      {"the reports operator is operator 15; texts in CP1251", p.ComboBox7, 14, p.Edit19, p.Edit20,
       "пароль", "777", p.Button22, "65[15,пароль,777]", {kNotAllowed, setFailed}},
      // Number 16: the driver sends it, the register (15 operators) calls it
      // a syntax error.
      {"the empty last item", p.ComboBox7, -1, p.Edit19, p.Edit20, "9162", {}, p.Button22,
       "65[16,9162,777]", {kSyntax, setFailed}},
      {"the administrator resets cashier 14's password", p.ComboBox9, 13, p.Edit24, p.Edit24, "0000", {},
       p.Button23, "77[14,0000]", {"Пароль обнулен, новое значение пароля - 9162"}},
      {"a refused reset", p.ComboBox9, 0, p.Edit24, p.Edit24, "1111", {}, p.Button23, "77[1,1111]",
       {kNotAllowed, "Ошибка обнуления пароля кассира"}},
  };
  s.model([](RegisterModel& m) { m.op(14).password = "5555"; });
  for (const Step& step : steps) {
    forget(s);
    if (step.index >= 0) {
      step.box->setCurrentIndex(step.index);
    } else {
      step.box->setFocus();
      QTest::keyClick(step.box, Qt::Key_End);
      QCOMPARE(step.box->currentIndex(), 15);
    }
    QVERIFY2(step.button->isEnabled(), step.what);
    if (step.text1 == "пароль") typeRussian(step.edit1, step.text1);
    else if (!step.text1.isNull()) typeInto(step.edit1, step.text1);
    QVERIFY2(step.text1.isNull() || shown(step.edit1) == step.text1, step.what);
    if (!step.text2.isNull()) typeInto(step.edit2, step.text2);
    click(step.button);
    QVERIFY2(sent(s) == QStringList{step.frame}, step.what);
    QVERIFY2(s.ui.messages == step.messages, step.what);
    QVERIFY2(step.button->isEnabled(), step.what);
    if (step.text1 == "пароль")
      QCOMPARE(s.frames()[0].hostData, std::string("15,") + cp1251("пароль") + ",777");
  }
  std::string password3, password14;
  s.model([&](RegisterModel& m) {
    password3 = m.op(3).password;
    password14 = m.op(14).password;
  });
  QCOMPARE(password3, std::string("1234"));
  QCOMPARE(password14, std::string("9162"));
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
  forget(s);
  s.simulator->injectFault(refusal(0x66, 1, 2));
  click(c.Button32);
  QCOMPARE(sent(s), (QStringList{"66[1,9162,Оператор 1]", "66[2,9162,Оператор 2]",
                                 "66[3,9162,Оператор 3]"}));
  QCOMPARE(s.ui.messages, (QStringList{kNotAllowed, "Ошибка записи информации об операторе!"}));

  // Only the exact text skips a row: "не выполнять " (typed so) is written.
  forget(s);
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
  forget(s);
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
  forget(s);
  click(s.main().tab12.Button32);
  QCOMPARE(sent(s), (QStringList{"66[4,5,zed]", "66[6,9162,Оператор 6]"}));
  QCOMPARE(s.ui.messages, QStringList{"Успешно!"});
  std::string name4;
  s.model([&](km4410r::sim::RegisterModel& m) { name4 = m.op(4).name; });
  QCOMPARE(name4, std::string("zed"));
}

KM_WINDOW_TEST_MAIN(TestStressPages)
#include "test_stresspages.moc"
