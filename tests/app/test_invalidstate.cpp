// The invalid-state dialog: its own request once per showing, the lines it
// adds for each state, and that it leaves the main window's state alone.
#include <QPlainTextEdit>

#include "tests/app/harness.h"

using namespace km::test;

namespace {

QStringList memoLines() {
  const QString text = Form4->ui.Memo1->toPlainText();
  return text.isEmpty() ? QStringList() : text.split('\n');
}

// Frames with this command the simulator received.
size_t framesOf(const Session& s, uint8_t cmd) {
  size_t n = 0;
  for (const auto& f : s.frames()) n += f.cmd == cmd;
  return n;
}

}  // namespace

class TestInvalidState : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void linesForTheRegistersState_data();
  void linesForTheRegistersState();
  void linesAccumulateOverShowings();
  void failingRegisterIsAskedOncePerShowing();
  void mainWindowStateIsUntouched();
};

void TestInvalidState::linesForTheRegistersState_data() {
  // S5 bits: 0x02 formatted, 0x10 tax rates defined, 0x20 numbers programmed;
  // the default register has 0x3A. S2 0x08 fiscal receipt, 0x20 non-fiscal;
  // S1 0x08 with S2 0x08 a return receipt.
  QTest::addColumn<int>("s5");
  QTest::addColumn<int>("s1");
  QTest::addColumn<int>("s2");
  QTest::addColumn<QStringList>("lines");
  QTest::newRow("all in order") << 0x3A << 0 << 0 << QStringList{};
  QTest::newRow("return receipt open") << 0x3A << 0x08 << 0x08 << QStringList{"Открыт чек возврата"};
  QTest::newRow("nothing set up")
      << 0x08 << 0 << 0
      << QStringList{"Заводской номер не задан", "Фискальная память не форматирована",
                     "Фискальный номер не задан"};
  QTest::newRow("tax rates flag clear alone") << 0x2A << 0 << 0 << QStringList{"Заводской номер не задан"};
  QTest::newRow("fiscal and non-fiscal open")
      << 0x3A << 0 << 0x28 << QStringList{"Открыт фискальный чек", "Открыт нефискальный чек"};
  QTest::newRow("return flag without a receipt") << 0x3A << 0x08 << 0 << QStringList{};
}

void TestInvalidState::linesForTheRegistersState() {
  QFETCH(int, s5);
  QFETCH(int, s1);
  QFETCH(int, s2);
  QFETCH(QStringList, lines);
  Session s;
  QVERIFY(s.connect());
  s.model([&](sim::RegisterModel& m) {
    m.setFiscalMemoryStatus(0, uint8_t(s5));
    m.setExtraStatus(1, uint8_t(s1));
    m.setExtraStatus(2, uint8_t(s2));
  });
  s.clearFrames();
  Form4->ShowModal();
  QCOMPARE(s.ui.dialogsShown, QStringList{"TForm4"});
  QCOMPARE(framesOf(s, 0x5A), size_t(1));
  QCOMPARE(s.frames().at(0).data, std::string("1"));
  QVERIFY(s.ui.messages.isEmpty());
  QCOMPARE(memoLines(), lines);
}

void TestInvalidState::linesAccumulateOverShowings() {
  Session s;
  QVERIFY(s.connect());
  s.model([](sim::RegisterModel& m) { m.setExtraStatus(2, 0x20); });
  Form4->ShowModal();
  Form4->ShowModal();
  QCOMPARE(memoLines(), (QStringList{"Открыт нефискальный чек", "Открыт нефискальный чек"}));
  QCOMPARE(Form4->windowTitle(), QString("Некорректное состояние Vantor KM4410R"));
}

void TestInvalidState::failingRegisterIsAskedOncePerShowing() {
  Session s;
  QVERIFY(s.connect());
  s.clearFrames();
  s.simulator->injectFault({.fault = sim::Fault::BadChecksum, .count = -1});
  // Both message boxes close while the dialog is open: it is activated again
  // after each, and must not ask again.
  Form4->ShowModal();
  QCOMPARE(s.ui.messages, (QStringList{"Ошибка протокола", "Ошибка получения информации"}));
  QCOMPARE(framesOf(s, 0x5A), size_t(1));
  QCOMPARE(Form4->ErrorCounter, 1);
  QVERIFY(memoLines().isEmpty());

  // The next showing asks once more.
  Form4->ShowModal();
  QCOMPARE(framesOf(s, 0x5A), size_t(2));
  QCOMPARE(s.ui.messages.size(), 4);
  QVERIFY(memoLines().isEmpty());
}

void TestInvalidState::mainWindowStateIsUntouched() {
  Session s;
  QVERIFY(s.connect());
  s.state().ErrorCounter = 4;
  const RetData before = s.state().LastAnswer;
  s.model([](sim::RegisterModel& m) { m.setPaperOut(true); });  // an error answer
  Form4->ShowModal();
  QCOMPARE(s.ui.messages, (QStringList{"Нет бумаги", "Ошибка получения информации"}));
  QCOMPARE(s.state().ErrorCounter, 4);
  QCOMPARE(s.state().LastAnswer.ErrorFlags, before.ErrorFlags);
  QCOMPARE(s.state().LastAnswer.StatusBytes[2], before.StatusBytes[2]);
  QVERIFY(Form4->LastAnswer.ErrorFlags & kFlagNoPaper);
}

KM_WINDOW_TEST_MAIN(TestInvalidState)
#include "test_invalidstate.moc"
