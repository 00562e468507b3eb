// The customer display page: the scrolling test (its frames, verdict, Stop,
// a stale stop request, a disconnection mid-run), the character and line
// output, with and without translation, against the register simulator.
#include <QApplication>
#include <QLabel>

#include "base/cp1251text.h"
#include "tests/app/harness.h"

using namespace km::test;

class TestDisplay : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void pageAtStart();
  void scrollingTestSendsEveryWindowOfBothRows();
  void scrollingTestPassCount();
  void verdictFollowsTheLastUpperRow();
  void stopDuringTheLowerAndTheUpperRow();
  void staleStopRequestAndDisconnection();
  void characterOutput();
  void lineOutput();
};

namespace {

constexpr int kDisplayPage = 1;

const QString kSuccess = QStringLiteral("Тест индикаторов клиента - успешно");
const QString kFailure = QStringLiteral("Ошибка теста индикаторов клиента");
const QString kStopped = QStringLiteral("Тест остановлен");

QStringList commands(const Session& s) {
  QStringList out;
  for (const auto& f : s.frames()) out << QString::asprintf("%02X", f.cmd);
  return out;
}

void later(std::function<void()> action) {
  QMetaObject::invokeMethod(qApp, std::move(action), Qt::QueuedConnection);
}

// Connected (the register's switches as given), on the display page,
// nothing recorded yet.
void openPage(Session& s, const std::string& switches = "00101100") {
  s.model([&](km4410r::sim::RegisterModel& m) { m.setSwitches(switches); });
  km::test::openPage(s, kDisplayPage);
}

// Both rows as a person reads them: "upper|lower".
QString rows(Session& s) {
  std::string upper, lower;
  s.model([&](km4410r::sim::RegisterModel& m) {
    upper = m.displayText(0);
    lower = m.displayText(1);
  });
  return QString::fromStdString(upper) + "|" + QString::fromStdString(lower);
}

// Button7 disabled, Button11 enabled, groups 1 enabled and 2, 3 disabled
// as "7-11+1+2-3-".
QString states(Ui::TabSheet2& t) {
  // As set on the page (the page control is disabled while disconnected).
  QWidget* const page = t.GroupBox1->parentWidget();
  auto mark = [page](QWidget* w) {
    return w->isEnabledTo(page) ? QStringLiteral("+") : QStringLiteral("-");
  };
  return "7" + mark(t.Button7) + "11" + mark(t.Button11) + "1" + mark(t.GroupBox1) + "2" +
         mark(t.GroupBox2) + "3" + mark(t.GroupBox3);
}

const QString kIdle = QStringLiteral("7+11-1+2+3+");
const QString kRunning = QStringLiteral("7-11+1+2-3-");

}  // namespace

void TestDisplay::pageAtStart() {
  Session s;
  Ui::TabSheet2& t = s.main().tab2;
  QCOMPARE((QStringList{shown(t.Edit2), shown(t.Edit4), shown(t.Edit5), shown(t.Edit6)}),
           (QStringList{"1", "Ш", "", ""}));
  QCOMPARE((QList<int>{t.Edit4->maxLength(), t.Edit5->maxLength(), t.Edit6->maxLength()}),
           (QList<int>{1, 20, 20}));
  QCOMPARE(states(t), kIdle);

  // Entering the page puts an idle page's buttons back to their idle state.
  openPage(s);
  t.Button11->setEnabled(true);
  t.GroupBox3->setEnabled(false);
  clickTab(s.form().PageControl1, 0);
  clickTab(s.form().PageControl1, kDisplayPage);
  QCOMPARE(states(t), kIdle);
  QVERIFY(s.frames().empty());
}

void TestDisplay::scrollingTestSendsEveryWindowOfBothRows() {
  Session s;
  Ui::TabSheet2& t = s.main().tab2;
  openPage(s);
  s.model([](km4410r::sim::RegisterModel& m) { m.execute(0x2F, "old text"); });

  QStringList whileRunning;
  s.ui.onProcess = [&] {
    if (whileRunning.isEmpty()) {
      whileRunning << states(t) + QString::number(s.state().BusyMark) + rows(s);
      // Leaving the page and coming back does not touch a running test.
      later([&] {
        clickTab(s.form().PageControl1, 0);
        clickTab(s.form().PageControl1, kDisplayPage);
        whileRunning << states(t);
      });
    }
  };
  click(t.Button7);
  // The display was cleared before the first row command.
  QCOMPARE(whileRunning, (QStringList{kRunning + "2|", kRunning}));

  const QStringList frames = sent(s);
  QCOMPARE(frames.size(), 1 + 120 + 120 + 1);
  QCOMPARE(frames.first(), QString("21[]"));
  QCOMPARE(frames.last(), QString("21[]"));
  // Windows 0, 45 and 119 of the alphabet written twice, lower row first.
  QCOMPARE(frames.at(1), QString("23[ABCDEFGHIJKLMNOPQRST]"));
  QCOMPARE(frames.at(1 + 45), QString("23[tuvwxyzАБВГДЕЖЗИЙКЛМ]"));
  QCOMPARE(frames.at(1 + 52), QString("23[АБВГДЕЖЗИЙКЛМНОПРСТУ]"));
  QCOMPARE(frames.at(1 + 78), QString("23[ьЫЪЭЮЯЄЇабвгдежзийкл]"));
  QCOMPARE(frames.at(1 + 100), QString("23[опрстуфхцчшщьыъэюяєї]"));
  QCOMPARE(frames.at(1 + 119), QString("23[їABCDEFGHIJKLMNOPQRS]"));
  QCOMPARE(frames.at(121), QString("2F[ABCDEFGHIJKLMNOPQRST]"));
  QCOMPARE(frames.at(121 + 119), QString("2F[їABCDEFGHIJKLMNOPQRS]"));
  for (int k = 0; k < 120; ++k) {
    QCOMPARE(frames.at(1 + k).left(3), QString("23["));
    QCOMPARE(frames.at(121 + k).mid(3), frames.at(1 + k).mid(3));
  }
  QCOMPARE(s.ui.messages, QStringList{kSuccess});
  QCOMPARE(states(t), kIdle);
  QCOMPARE(s.state().BusyMark, 0);
  QCOMPARE(rows(s), QString("|"));
}

void TestDisplay::scrollingTestPassCount() {
  Session s;
  Ui::TabSheet2& t = s.main().tab2;
  openPage(s);

  // No pass (0 or fewer): the display is cleared twice, and the test
  // succeeds. Not a number: refused, nothing sent, nothing changed.
  const QString badPasses = QStringLiteral("Некорректное количество проходов теста \n   исправьте!!!");
  const struct {
    const char* passes;
    QStringList sent;
    QString message;
  } cases[] = {{"0", {"21[]", "21[]"}, kSuccess},
               {"-3", {"21[]", "21[]"}, kSuccess},
               {"abc", {}, badPasses},
               {"99999999999", {}, badPasses}};
  for (const auto& c : cases) {
    forget(s);
    typeInto(t.Edit2, c.passes);
    click(t.Button7);
    QVERIFY2(sent(s) == c.sent, c.passes);
    QVERIFY2(s.ui.messages == QStringList{c.message}, c.passes);
    QCOMPARE(states(t), kIdle);
    QCOMPARE(s.state().BusyMark, 0);
  }

  // Two passes: 484 frames, each row's 120 windows per pass.
  forget(s);
  typeInto(t.Edit2, " 2 ");
  click(t.Button7);
  const QStringList c = commands(s);
  QCOMPARE(c.size(), 2 + 2 * 240);
  QCOMPARE(c.count("23"), 240);
  QCOMPARE(c.count("2F"), 240);
  QCOMPARE(c.mid(1, 240), QStringList(120, "23") + QStringList(120, "2F"));
  QCOMPARE(s.ui.messages, QStringList{kSuccess});
}

void TestDisplay::verdictFollowsTheLastUpperRow() {
  Session s;
  Ui::TabSheet2& t = s.main().tab2;
  openPage(s);
  typeInto(t.Edit2, "2");

  // Upper-row errors in pass 1 and lower-row errors in pass 2: every
  // failure has its box, the verdict is still success.
  s.simulator->addFault(refusal(0x2F, 3));
  s.simulator->addFault(refusal(0x23, 2, 130));
  click(t.Button7);
  QCOMPARE(s.ui.messages, QStringList(5, kNotAllowed) + QStringList{kSuccess});

  // One error on the last window of the last upper row: failure.
  QCOMPARE(messagesWith(s, refusal(0x2F, 1, 239), t.Button7), (QStringList{kNotAllowed, kFailure}));
  QCOMPARE(states(t), kIdle);
  QCOMPARE(s.state().BusyMark, 0);
  QCOMPARE(s.state().StopFlag, uint8_t(0));
}

void TestDisplay::stopDuringTheLowerAndTheUpperRow() {
  Session s;
  Ui::TabSheet2& t = s.main().tab2;
  openPage(s);

  // Processing: 1 at the pass's start, then two per lower window (before
  // and after it). Stop pressed before window 4 is sent: window 4 still
  // goes out, the check after it ends the test.
  int processed = 0;
  QStringList atStopBox;
  s.ui.onProcess = [&] {
    if (++processed == 10) later([&] { click(t.Button11); });
  };
  s.ui.onMessage = [&](const QString&) {
    atStopBox << states(t) + QString::number(s.state().StopFlag) + QString::number(s.state().BusyMark);
  };
  click(t.Button7);
  QCOMPARE(sent(s), (QStringList{"21[]", "23[ABCDEFGHIJKLMNOPQRST]", "23[BCDEFGHIJKLMNOPQRSTU]",
                                 "23[CDEFGHIJKLMNOPQRSTUV]", "23[DEFGHIJKLMNOPQRSTUVW]",
                                 "23[EFGHIJKLMNOPQRSTUVWX]", "21[]"}));
  QCOMPARE(s.ui.messages, QStringList{kStopped});
  QCOMPARE(atStopBox, QStringList{kRunning + "12"});  // the box comes first
  QCOMPARE(states(t), kIdle);
  QCOMPARE(s.state().StopFlag, uint8_t(0));
  QCOMPARE(s.state().BusyMark, 0);
  QCOMPARE(rows(s), QString("|"));

  // In the upper row (one processing per window, after 241 in the lower
  // row) Stop pressed before window 3: that window still goes out.
  forget(s);
  processed = 0;
  s.ui.onProcess = [&] {
    if (++processed == 241 + 4) later([&] { click(t.Button11); });
  };
  click(t.Button7);
  const QStringList c = commands(s);
  QCOMPARE(c, QStringList{"21"} + QStringList(120, "23") + QStringList(4, "2F") + QStringList{"21"});
  QCOMPARE(sent(s).at(124), QString("2F[DEFGHIJKLMNOPQRSTUVW]"));
  QCOMPARE(s.ui.messages, QStringList{kStopped});
  QCOMPARE(states(t), kIdle);
  QCOMPARE(s.state().StopFlag, uint8_t(0));
}

void TestDisplay::staleStopRequestAndDisconnection() {
  Session s;
  Ui::TabSheet2& t = s.main().tab2;
  openPage(s);

  // A stop request left over stops the test at its first check.
  s.state().StopFlag = 1;
  click(t.Button7);
  QCOMPARE(sent(s), (QStringList{"21[]", "21[]"}));
  QCOMPARE(s.ui.messages, QStringList{kStopped});
  QCOMPARE(s.state().StopFlag, uint8_t(0));

  // Disconnecting in the middle of the upper row stops the test; nothing
  // more is tried on the closed port, so no refusal is reported.
  forget(s);
  int processed = 0;
  s.ui.onProcess = [&] {
    if (++processed == 241 + 10) later([&] { s.disconnect(); });
  };
  click(t.Button7);
  QVERIFY(!s.main().isConnected());
  const QStringList c = commands(s);
  QCOMPARE(c, QStringList{"21"} + QStringList(120, "23") + QStringList(9, "2F"));
  QCOMPARE(s.ui.messages, QStringList{kStopped});
  QCOMPARE(states(t), kIdle);
  QCOMPARE(s.state().BusyMark, 0);
}

void TestDisplay::characterOutput() {
  Session s;
  Ui::TabSheet2& t = s.main().tab2;
  openPage(s);
  const QString row20 = QString(20, QChar(0x0428));  // Ш

  click(t.Button8);
  QCOMPARE(sent(s), (QStringList{"23[" + row20 + "]", "2F[" + row20 + "]"}));
  QCOMPARE(rows(s), row20 + "|" + row20);
  QCOMPARE(s.ui.messages, QStringList{kSuccess});

  // Only the upper row decides.
  QCOMPARE(messagesWith(s, refusal(0x23, 1), t.Button8), (QStringList{kNotAllowed, kSuccess}));
  QCOMPARE(messagesWith(s, refusal(0x2F, 1), t.Button8), (QStringList{kNotAllowed, kFailure}));

  // A blank is a character; an empty edit is refused before anything goes out.
  forget(s);
  typeInto(t.Edit4, " ");
  click(t.Button8);
  QCOMPARE(sent(s), (QStringList{"23[" + QString(20, ' ') + "]", "2F[" + QString(20, ' ') + "]"}));
  forget(s);
  typeInto(t.Edit4, "");
  click(t.Button8);
  QVERIFY(s.frames().empty());
  QCOMPARE(s.ui.messages, QStringList{QStringLiteral("Введите символ для вывода на индикатор")});

  // A character CP1251 lacks goes as '?'.
  s.ui.messages.clear();
  t.Edit4->setText(QString(QChar(0x263A)));
  click(t.Button8);
  QCOMPARE(rows(s), QString(20, '?') + "|" + QString(20, '?'));
}

void TestDisplay::lineOutput() {
  {
    Session s;
    Ui::TabSheet2& t = s.main().tab2;
    openPage(s);
    typeInto(t.Edit6, "ABC");
    click(t.Button9);
    QCOMPARE(sent(s), (QStringList{"23[ABC]", "2F[]"}));
    QCOMPARE(rows(s), QString("|ABC"));
    QCOMPARE(s.ui.messages, QStringList{kSuccess});

    forget(s);
    t.Edit5->setText(QStringLiteral("Ґанок Єва і Їжак"));
    t.Edit6->setText(QStringLiteral("Сума: 12,50 грн"));
    click(t.Button9);
    QCOMPARE(sent(s), (QStringList{"23[Сума: 12,50 грн]", "2F[Ґанок Єва і Їжак]"}));
    QCOMPARE(rows(s), QStringLiteral("Ґанок Єва і Їжак|Сума: 12,50 грн"));

    QCOMPARE(messagesWith(s, refusal(0x2F, 1), t.Button9), (QStringList{kNotAllowed, kFailure}));
  }
  {
    // With translation: control sequences (0x64) for each row, glyphs for Ґ
    // and Є loaded first; the display shows capitals.
    Session s;
    Ui::TabSheet2& t = s.main().tab2;
    openPage(s, "00000000");
    t.Edit5->setText(QStringLiteral("Ґанок Єва"));
    t.Edit6->setText(QStringLiteral("Шум"));
    click(t.Button9);
    QCOMPARE(commands(s), (QStringList{"64", "64", "64", "64", "64", "64"}));
    QCOMPARE(rows(s), QStringLiteral("ҐAHOK ЄBA|ШУM"));
    QCOMPARE(s.ui.messages, QStringList{kSuccess});

    // A refusal of any piece of the upper row fails the output.
    QCOMPARE(messagesWith(s, refusal(0x64, 1, 3), t.Button9), (QStringList{kNotAllowed, kFailure}));

    forget(s);
    click(t.Button8);
    QCOMPARE(commands(s), (QStringList{"64", "64", "64", "64"}));
    QCOMPARE(rows(s), QString(20, QChar(0x0428)) + "|" + QString(20, QChar(0x0428)));
    QCOMPARE(s.ui.messages, QStringList{kSuccess});
  }
}

KM_WINDOW_TEST_MAIN(TestDisplay)
#include "test_display.moc"
