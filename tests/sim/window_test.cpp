// The simulator's window (offscreen): its fault buttons change the next
// answers the driver gets, and its tape and display follow what the register
// prints and shows. The second case leaves a screenshot, sim-window.png, in
// the working folder.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>

#include "common/cp1251.h"
#include "sim/simwindow.h"
#include "tests/sim/driver_on_sim.h"

using namespace km4410r::sim;

class SimWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<Simulator> sim_;

  template <typename T>
  static T* Find(SimWindow& w, const char* name) {
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    if (!c) qFatal("no control %s", name);
    return c;
  }
  static QString Text(SimWindow& w, const char* label) { return Find<QLabel>(w, label)->text(); }

 private slots:
  void init() {
    sim_ = std::make_unique<Simulator>(Unpaced());
    sim_->withModel([](RegisterModel& m) { m.setPcClock([] { return std::time_t(1700000000); }); });
    const std::string error = OpenThroughDriver(*sim_);
    QVERIFY2(error.empty(), error.c_str());
    km_driver::SetSilenceWaitForTests(2);  // a silent register: 200 ms, not 5 s
  }
  void cleanup() {
    CloseThroughDriver();
    sim_.reset();
  }

  void faultButtonsChangeTheNextAnswers() {
    SimWindow w(*sim_);
    w.show();
    QCOMPARE(Text(w, "PaperState"), QStringLiteral("Бумага: есть"));

    QTest::mouseClick(Find<QPushButton>(w, "PaperOutButton"), Qt::LeftButton);
    QCOMPARE(Text(w, "PaperState"), QStringLiteral("Бумага: кончилась"));
    QCOMPARE(OpenNonFiscalReceipt(LEAD), 0);
    QVERIFY(DriverRetData().ErrorFlags & kFlagNoPaper);
    QTest::mouseClick(Find<QPushButton>(w, "PaperOutButton"), Qt::LeftButton);
    QCOMPARE(OpenNonFiscalReceipt(LEAD), 0);
    QVERIFY(!(DriverRetData().ErrorFlags & kFlagNoPaper));
    w.refresh();
    QCOMPARE(Text(w, "ReceiptState"), QStringLiteral("Открытый чек: нефискальный"));

    QTest::mouseClick(Find<QPushButton>(w, "CoverOpenButton"), Qt::LeftButton);
    QCOMPARE(Text(w, "CoverState"), QStringLiteral("Крышка: открыта"));
    QCOMPARE(GetStatus(LEAD, 0), 0);
    QVERIFY(DriverRetData().ErrorFlags & kFlagCoverOpen);
    QTest::mouseClick(Find<QPushButton>(w, "CoverOpenButton"), Qt::LeftButton);

    // Two silent answers, then the register answers again.
    Find<QSpinBox>(w, "SilentAnswers")->setValue(2);
    QTest::mouseClick(Find<QPushButton>(w, "SilenceButton"), Qt::LeftButton);
    QCOMPARE(Text(w, "SilenceState"), QStringLiteral("Молчание: осталось 2"));
    for (int i = 0; i < 2; ++i) {
      QCOMPARE(GetStatus(LEAD, 0), 0);
      QCOMPARE(DriverRetData().ErrorFlags, uint32_t(kFlagTimeout));
    }
    QCOMPARE(GetStatus(LEAD, 0), 0);
    QVERIFY(!(DriverRetData().ErrorFlags & (kFlagTimeout | kFlagCoverOpen)));
    w.refresh();
    QCOMPARE(Text(w, "SilenceState"), QStringLiteral("Молчание: нет"));
  }

  void tapeAndDisplayFollowTheRegister() {
    SimWindow w(*sim_);
    w.resize(w.sizeHint());
    w.show();
    // A register test's pass, in short: header, clock, X report, a non-fiscal
    // receipt, the display rows, a fiscal receipt.
    const char* header[] = {CP1251(u8"У К Р А Ї Н А"), CP1251(u8"м. К и ї в"),
                            CP1251(u8"АТ \"ВАНТОР УКРАЇНА\""), CP1251(u8"тел. (044) 123-45-67")};
    for (int line = 0; line < 8; ++line) QCOMPARE(SetHeaderFooter(LEAD, line, line < 4 ? header[line] : ""), 0);
    QCOMPARE(SetDateTime(LEAD, "05-03-02", "14:07"), 0);
    QCOMPARE(PrintDailyReport(LEAD, "9162", '2'), 0);
    QCOMPARE(OpenNonFiscalReceipt(LEAD), 0);
    QCOMPARE(PrintNonFiscalText(LEAD, CP1251(u8"НеФиСкАлЬнЫй  Текст")), 0);
    QCOMPARE(CloseNonFiscalReceipt(LEAD), 0);
    QCOMPARE(DisplayLowerLine(LEAD, "KLMNOPQRSTUVWXYZabcd"), 0);
    QCOMPARE(DisplayUpperLine(LEAD, CP1251(u8"ЭЮЯЄЇабвгдежзийклмн")), 0);
    QCOMPARE(ProgramArticle(LEAD, '\xC0', 100, 1, 1.25, "9162", CP1251(u8"Кулебяка")), 0);
    QCOMPARE(OpenFiscalReceipt(LEAD, 1, "9162", 1), 0);
    QCOMPARE(PrintFiscalText(LEAD, CP1251(u8"Фискальный  ТеКсТ")), 0);
    QCOMPARE(RegisterSale(LEAD, 1, 100, 4, -5, 0), 0);
    QCOMPARE(Subtotal(LEAD, 1, 1, 0, -1), 0);
    QCOMPARE(ReceiptTotal(LEAD, "", 'P', 10), 0);
    w.refresh();
    QCOMPARE(Text(w, "ReceiptState"), QStringLiteral("Открытый чек: фискальный"));
    QCOMPARE(Text(w, "DisplayLower"), QStringLiteral("                3.75"));  // the subtotal shown
    QCOMPARE(CloseFiscalReceipt(LEAD), 0);
    QCOMPARE(DisplayUpperLine(LEAD, CP1251(u8"ЭЮЯЄЇабвгдежзийклмн")), 0);
    QCOMPARE(DisplayLowerLine(LEAD, CP1251(u8"Сдача           6.25")), 0);
    QTRY_COMPARE(Text(w, "DisplayLower"), QStringLiteral("Сдача           6.25"));  // the window's own timer
    QCOMPARE(Text(w, "DisplayUpper"), QStringLiteral("ЭЮЯЄЇабвгдежзийклмн "));
    QCOMPARE(Text(w, "DisplayTime"), QStringLiteral("Изменён: 14:07:00"));
    QCOMPARE(Text(w, "ReceiptState"), QStringLiteral("Открытый чек: нет"));

    // The tape ends with the fiscal receipt and its cut, newest at the bottom.
    auto* tape = Find<QPlainTextEdit>(w, "Tape");
    const QStringList lines = tape->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.mid(lines.size() - 4), (QStringList{
        QStringLiteral("----------------------------------------"),
        QStringLiteral("ЗН VT00012345              ФН 3000123456"),
        QStringLiteral("             ФИСКАЛЬНЫЙ ЧЕК"),
        QStringLiteral("- - - - - - - - - 8< - - - - - - - - - -")}));
    QVERIFY(lines.contains(QStringLiteral("СДАЧА                             6.25")));
    QCOMPARE(tape->verticalScrollBar()->value(), tape->verticalScrollBar()->maximum());

    w.grab().save(QStringLiteral("sim-window.png"));
  }
};

QTEST_MAIN(SimWindowTest)
#include "window_test.moc"
