// The status-byte viewer: which box shows which bit, where the groups stand,
// showing the last answer on every activation, and the refresh.
#include <QCheckBox>
#include <QGroupBox>

#include "tests/app/harness.h"

using namespace km::test;

namespace {

// Status byte -> number of the check box of its bit 0x01.
constexpr int kFirstBox[6] = {1, 17, 33, 9, 25, 41};

// Numbers of the ticked check boxes, ascending.
QList<int> ticked() {
  QList<int> on;
  for (int n = 1; n <= 48; ++n) {
    // The viewer's own boxes (the main window has a CheckBox1 too).
    auto* box = Form5->findChild<QCheckBox*>(QStringLiteral("CheckBox%1").arg(n));
    if (!box) QTest::qFail(qPrintable(QStringLiteral("no CheckBox%1 in the viewer").arg(n)), __FILE__, __LINE__);
    else if (box->isChecked()) on << n;
  }
  return on;
}

const QList<int> kAlwaysSet = {8, 16, 24, 32, 40, 48};

QList<int> withAlwaysSet(QList<int> boxes) {
  boxes += kAlwaysSet;
  std::sort(boxes.begin(), boxes.end());
  return boxes;
}

}  // namespace

class TestStatusViewer : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void eachBitHasItsBox();
  void groupsStandInTwoColumns();
  void captionsKeepTheirBlanksAndQuotes();
  void showsTheLastAnswerOnEveryActivation();
  void refreshAsksForTheStatus();
  void refreshWithoutAnswer();
};

void TestStatusViewer::eachBitHasItsBox() {
  Session s({.simulator = false});
  QList<int> seen;
  s.whileOpen("TForm5", [&](QDialog&) { seen = ticked(); });
  for (int byte = 0; byte < 6; ++byte) {
    for (int bit = 0; bit < 7; ++bit) {
      RetData& last = s.state().LastAnswer;
      last = RetData{};
      last.StatusBytes[byte] = uint8_t(1u << bit);
      seen.clear();
      QVERIFY(!s.form().Button25->isEnabled());  // disabled while disconnected
      Form5->ShowModal();
      QCOMPARE(seen, withAlwaysSet({kFirstBox[byte] + bit}));
    }
  }
  // Byte 2 with 0x08 and 0x20: CheckBox36 and CheckBox38.
  s.state().LastAnswer = RetData{};
  s.state().LastAnswer.StatusBytes[2] = 0x28;
  Form5->ShowModal();
  QCOMPARE(seen, withAlwaysSet({36, 38}));
  // No status at all: only the boxes of bit 0x80.
  s.state().LastAnswer = RetData{};
  Form5->ShowModal();
  QCOMPARE(seen, kAlwaysSet);
}

void TestStatusViewer::groupsStandInTwoColumns() {
  Session s({.simulator = false});
  s.whileOpen("TForm5", [](QDialog&) {
    auto at = [](int n) {
      auto* g = Form5->findChild<QGroupBox*>(QStringLiteral("GroupBox%1").arg(n));
      return g->mapTo(Form5, QPoint(0, 0));
    };
    // Left column bytes 0, 1, 2; right column bytes 3, 4, 5.
    QVERIFY(at(1).x() < at(2).x() && at(1).y() == at(2).y());
    QVERIFY(at(3).x() < at(4).x() && at(3).y() == at(4).y());
    QVERIFY(at(5).x() < at(6).x() && at(5).y() == at(6).y());
    QVERIFY(at(1).y() < at(3).y() && at(3).y() < at(5).y());
    QVERIFY(Form5->findChild<QGroupBox*>("GroupBox2")->title().contains("байт 3"));
    QVERIFY(!Form5->findChild<QGroupBox*>("GroupBox1")->isEnabled());
    // Every caption fits its box.
    for (QCheckBox* box : Form5->findChildren<QCheckBox*>())
      QVERIFY2(box->width() >= box->sizeHint().width(), qPrintable(box->objectName()));
  });
  Form5->ShowModal();
  QCOMPARE(s.ui.dialogsShown, QStringList{"TForm5"});
}

void TestStatusViewer::captionsKeepTheirBlanksAndQuotes() {
  Session s({.simulator = false});
  QCOMPARE(Form5->windowTitle(), QString("Байты состояния регистратора"));
  QCOMPARE(shown(Form5->findChild<QCheckBox*>("CheckBox18")),
           QString("(2) Команда не разрешена для текущего фискального режима "));
  QCOMPARE(shown(Form5->findChild<QCheckBox*>("CheckBox26")), QString("(2) Ошибка данных  в фискальной памяти"));
  QCOMPARE(shown(Form5->findChild<QCheckBox*>("CheckBox12")), QString("(8) Перекл. Sw4 ON -режим \"прозрачный дисплей\""));
  QCOMPARE(shown(Form5->findChild<QCheckBox*>("CheckBox43")), QString("(4) *Последняя фискальная запись ошибочна"));
}

void TestStatusViewer::showsTheLastAnswerOnEveryActivation() {
  Session s;
  s.model([](sim::RegisterModel& m) { m.setExtraStatus(2, 0x20); });  // non-fiscal receipt
  QVERIFY(s.connect());
  QList<int> first, second;
  s.whileOpen("TForm5", [&](QDialog&) { first = ticked(); });
  click(s.form().Button25);
  QVERIFY(first.contains(38));  // S2 0x20
  s.whileOpen("TForm5", [&](QDialog&) { second = ticked(); });
  click(s.form().Button25);
  QCOMPARE(second, first);  // nothing sent in between: the same boxes
  QCOMPARE(s.frames().size(), size_t(1));  // opening sends nothing

  // Another answer of the main window in between changes what it shows.
  s.model([](sim::RegisterModel& m) { m.clearExtraStatus(); });
  s.state().ErrorCounter = 0;
  GetDiagnosticInfo(nullptr, PrinterResults, 0, 1);
  QList<int> third;
  s.whileOpen("TForm5", [&](QDialog&) { third = ticked(); });
  click(s.form().Button25);
  QVERIFY(!third.isEmpty() && !third.contains(38));
}

void TestStatusViewer::refreshAsksForTheStatus() {
  Session s;
  QVERIFY(s.connect());
  s.clearFrames();
  s.state().ErrorCounter = 5;
  QList<int> before, after;
  QStringList messagesWhenAfter;
  s.whileOpen("TForm5", [&](QDialog&) {
    before = ticked();
    s.model([](sim::RegisterModel& m) { m.setPaperOut(true); });
    click(Form5->ui.Button2);
    after = ticked();
    messagesWhenAfter = s.ui.messages;
  });
  click(s.form().Button25);

  const auto frames = s.frames();
  QCOMPARE(frames.size(), size_t(1));
  QCOMPARE(frames[0].cmd, uint8_t(0x4A));
  QCOMPARE(frames[0].data, std::string("W"));
  QCOMPARE(messagesWhenAfter, QStringList{"Нет бумаги"});
  QVERIFY(!before.contains(33));
  QVERIFY(after.contains(33));  // S2 0x01: paper out
  QCOMPARE(s.state().ErrorCounter, 6);  // counted, never reset by the viewer
  QCOMPARE(s.state().LastAnswer.Command, 0x4A);
}

void TestStatusViewer::refreshWithoutAnswer() {
  Session s;
  QVERIFY(s.connect());
  QList<int> afterFirstBox, atEnd;
  s.whileOpen("TForm5", [&](QDialog&) {
    s.simulator->stop();  // the register is switched off
    s.ui.onMessage = [&](const QString& text) {
      if (text != "Таймаут") afterFirstBox = ticked();  // when the second box opens
    };
    click(Form5->ui.Button2);
    atEnd = ticked();
  });
  click(s.form().Button25);
  QCOMPARE(s.ui.messages, (QStringList{"Таймаут", "Таймаут - фискальный регистратор не отвечает!"}));
  // The activation after the first box already showed the empty status.
  QCOMPARE(afterFirstBox, kAlwaysSet);
  QCOMPARE(atEnd, kAlwaysSet);
}

KM_WINDOW_TEST_MAIN(TestStatusViewer)
#include "test_statusviewer.moc"
