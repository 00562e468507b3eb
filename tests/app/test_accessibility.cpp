// What a screen reader reads (through QAccessible, as AT-SPI does): every
// label of every window reads what it shows, the labels that show a value or
// a result say what they are in their description, and every input control
// has a name. The cashier password to reset with is shown as stars.
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleOptionFrame>

#include "app/tracewindow.h"
#include "sim/simwindow.h"
#include "tests/app/harness.h"

using namespace km::test;

namespace {

QString accessible(QWidget* w, QAccessible::Text what) {
  QAccessibleInterface* i = QAccessible::queryAccessibleInterface(w);
  return i ? i->text(what) : QStringLiteral("(no accessible interface)");
}

// Controls a person types into or chooses from. The edit inside a combo or
// spin box, and a view's headers, belong to their control.
bool isInput(const QWidget* w) {
  if (qobject_cast<const QLineEdit*>(w))
    return !qobject_cast<QComboBox*>(w->parentWidget()) && !qobject_cast<QAbstractSpinBox*>(w->parentWidget());
  if (qobject_cast<const QHeaderView*>(w)) return false;
  return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
         qobject_cast<const QPlainTextEdit*>(w) || qobject_cast<const QAbstractItemView*>(w);
}

}  // namespace

class TestAccessibility : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void labelsReadWhatTheyShow();
  void administratorPasswordShowsStars();
};

void TestAccessibility::labelsReadWhatTheyShow() {
  Session s;
  km4410r::sim::SimWindow simWindow(*s.simulator);
  QVERIFY(s.connect());
  TForm1& f = s.main();
  PageControl* pages = s.form().PageControl1;

  // The progress text of the information page, read while the register is
  // asked: a refused request shows its message from inside the exchange.
  QString progress;
  s.simulator->injectFault(refusal(0x5A));
  s.ui.onMessage = [&](const QString&) {
    if (progress.isNull()) progress = accessible(f.tab4.Label26, QAccessible::Name);
  };
  clickTab(pages, 3);
  s.ui.onMessage = nullptr;
  QCOMPARE(progress, QString("Ждите !!!"));

  // Results: the single cut and beep, a cut loop of two passes, a beep loop
  // whose one pass is refused.
  clickTab(pages, 6);
  click(f.tab7.Button16);
  click(f.tab7.Button19);
  f.tab7.ComboBox4->setCurrentIndex(1);
  click(f.tab7.Button17);
  s.simulator->injectFault(refusal(0x50));
  f.tab7.ComboBox5->setCurrentIndex(0);
  click(f.tab7.Button18);
  // ID_DEV in hex; display rows with "&" in them; the trace window.
  clickTab(pages, 9);
  click(f.tab10.Button29);
  clickTab(pages, 1);
  typeInto(f.tab2.Edit5, "Tom & Jerry");
  typeInto(f.tab2.Edit6, "R&D");
  click(f.tab2.Button9);
  simWindow.refresh();
  click(s.form().Button38);
  QVERIFY(f.traceWindow());

  struct Case {
    QLabel* label;
    const char* shows;        // nullptr: whatever it shows now (a clock)
    const char* describedAs;  // empty: the text says it all
  };
  auto* upperRow = simWindow.findChild<QLabel*>("DisplayUpper");
  auto* lowerRow = simWindow.findChild<QLabel*>("DisplayLower");
  QVERIFY(upperRow && lowerRow);
  const Case named[] = {
      {f.tab4.Label26, "", "Ход чтения информации"},
      {f.tab11.Label59, "05.11.26", "Дата на ПК"},
      {f.tab11.RxClock1, nullptr, "Текущее время"},
      {f.tab7.Label16, "Тест отрезки чека - успешно", "Результат: однократный тест обрезки чека"},
      {f.tab7.Label25, "Тест звукового сигнала - успешно", "Результат: однократный тест звукового сигнала"},
      {f.tab7.Label17, "Тест обрезки чека - успешно", "Результат: циклический тест обрезки чека"},
      {f.tab7.Label19, "0", "Всего ошибок"},
      {f.tab7.Label22, "Ошибка теста звукового сигнала", "Результат: циклический тест звукового сигнала"},
      {f.tab7.Label24, "1", "Всего ошибок"},
      {f.tab1.LabelProgress, "", "Ход теста"},
      {f.tab10.Label55, "Значение ID_DEV (Hex): 12345678", ""},
      {upperRow, "Tom & Jerry         ", "Верхняя строка дисплея"},
      {lowerRow, "R&D                 ", "Нижняя строка дисплея"},
  };
  for (const Case& c : named) {
    if (c.shows) QCOMPARE(c.label->text(), QString::fromUtf8(c.shows));
    QCOMPARE(accessible(c.label, QAccessible::Name), c.label->text());
    if (*c.describedAs) QCOMPARE(accessible(c.label, QAccessible::Description), QString::fromUtf8(c.describedAs));
  }

  // Every window: each label reads as it shows, each input control has a name.
  const QList<QWidget*> windows = {&f, Form4, Form5, f.traceWindow(), &simWindow};
  int labels = 0;
  for (QWidget* window : windows) {
    for (QWidget* w : window->findChildren<QWidget*>()) {
      if (w->window() != window) continue;  // popups of combo boxes and calendars
      const QString where = window->objectName() + "/" + w->objectName();
      if (auto* label = qobject_cast<QLabel*>(w)) {
        ++labels;
        QVERIFY2(accessible(label, QAccessible::Name) == label->text(),
                 qPrintable(where + " reads \"" + accessible(label, QAccessible::Name) + "\", shows \"" +
                            label->text() + "\""));
      } else if (isInput(w)) {
        QVERIFY2(!accessible(w, QAccessible::Name).trimmed().isEmpty(), qPrintable(where + " has no name"));
      }
    }
  }
  QVERIFY2(labels > 60, qPrintable(QString::number(labels)));
}

void TestAccessibility::administratorPasswordShowsStars() {
  // The character a password edit draws in place of each one typed, as the
  // edit asks its style for it.
  Session s;
  QLineEdit* edit = s.main().tab8.Edit24;
  QCOMPARE(edit->echoMode(), QLineEdit::Password);
  QStyleOptionFrame option;
  option.initFrom(edit);
  QCOMPARE(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, &option, edit), int('*'));
}

KM_WINDOW_TEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
