// The exchange trace window: opened from the main window's bottom row, a row
// per exchange with the simulator, the raw bytes, pause, clear, the bound on
// the rows kept, saving as UTF-8, and the observer it takes over and gives
// back.
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>

#include "app/tracewindow.h"
#include "driver/testing.h"
#include "driver/trace.h"
#include "tests/app/harness.h"

using namespace km::test;

class TestTrace : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void openedFromTheBottomRowShowsEachExchange();
  void pauseClearAndTheBoundOnRows();
  void savesEveryRowAsUtf8();
};

namespace {

QString cell(const TraceModel* m, int row, int column) {
  return m->data(m->index(row, column), Qt::DisplayRole).toString();
}

QString hex(const std::vector<uint8_t>& bytes) {
  QString out;
  for (uint8_t b : bytes) out += QString::asprintf(" %02X", b);
  return out;
}

int gOtherCalls = 0;
void OtherObserver(const ExchangeTrace&, void*) { ++gOtherCalls; }

void status(int times) {
  for (int i = 0; i < times; ++i) GetStatus(nullptr, PrinterResults, 0, 0);  // "W"
}

}  // namespace

void TestTrace::openedFromTheBottomRowShowsEachExchange() {
  Session s;
  auto* button = control<QPushButton>("Button38");
  QCOMPARE(shown(button), QString("Протокол обмена"));
  QCOMPARE(button->accessibleName(), QString("Протокол обмена"));
  // Every control of the bottom row shows its whole caption, connected or not.
  QVERIFY(s.connect());
  const Ui::TForm1& f = s.form();
  for (QWidget* w : std::initializer_list<QWidget*>{f.ComboBox1, f.ComboBox3, f.Button25, f.Button38,
                                                    f.Button2, f.Button1})
    QVERIFY2(w->width() >= w->sizeHint().width(), qPrintable(w->objectName()));
  // Ctrl+T presses the button (the window comes after the button's short
  // press), wherever the focus is in the main window.
  QVERIFY(!s.main().traceWindow());
  QVERIFY(QTest::qWaitForWindowActive(&s.main()));
  QWidget* focus = QApplication::focusWidget();
  QTest::keyClick(focus ? focus : &s.main(), Qt::Key_T, Qt::ControlModifier);
  QTRY_VERIFY(s.main().traceWindow());
  TraceWindow* w = s.main().traceWindow();
  QVERIFY(w && w->isVisible() && !w->isModal());
  QCOMPARE(w->windowTitle(), QString("Протокол обмена — KM4410R"));
  TraceModel* m = w->model();
  QStringList captions;
  for (int c = 0; c < m->columnCount(); ++c) captions << m->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  QCOMPARE(captions, (QStringList{"Время", "Напр.", "SEQ", "Команда", "Данные", "Ответ", "Флаги", "мс"}));

  // The connection's request came before the window: not in it. The button
  // brings back the same window.
  QCOMPARE(m->rowCount(), 0);
  s.clearFrames();
  click(button);
  QCOMPARE(s.main().traceWindow(), w);
  status(1);
  QTRY_COMPARE(m->rowCount(), 1);
  QVERIFY(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$").match(cell(m, 0, TraceModel::kTime)).hasMatch());
  QCOMPARE(cell(m, 0, TraceModel::kDirection), QString("→←"));
  QCOMPARE(cell(m, 0, TraceModel::kCommand), QString("4A Получить состояние регистратора"));
  QCOMPARE(cell(m, 0, TraceModel::kData), QString("\"W\""));
  QVERIFY(cell(m, 0, TraceModel::kAnswer).startsWith("ответ \""));

  // The raw bytes of the selected exchange: the frame as the simulator got it.
  auto* bytes = control<QPlainTextEdit>("TraceBytesView");
  QVERIFY(!bytes->isVisible());
  click(control<QPushButton>("TraceBytes"));
  QVERIFY(bytes->isVisible());
  const auto frames = s.frames();
  QCOMPARE(frames.size(), size_t(1));
  const QStringList lines = bytes->toPlainText().split('\n');
  QVERIFY(lines.size() >= 4);
  QCOMPARE(lines[1], "    →" + hex(frames[0].raw));
  QVERIFY(lines[2].startsWith("    ← +"));

  // A silent register: an unanswered row.
  s.simulator->injectFault({km4410r::sim::Fault::Silence});
  km_driver::SetSilenceWaitForTests(1);
  status(1);
  QTRY_COMPARE(m->rowCount(), 2);
  QCOMPARE(cell(m, 1, TraceModel::kDirection), QString("→"));
  QCOMPARE(cell(m, 1, TraceModel::kAnswer), QString("тишина"));
  QCOMPARE(cell(m, 1, TraceModel::kFlags), QString("Таймаут"));
}

void TestTrace::pauseClearAndTheBoundOnRows() {
  Session s;
  QVERIFY(s.connect());
  // Another user of the trace keeps getting every exchange and gets the hook
  // back when the window goes.
  SetExchangeObserver(OtherObserver, &gOtherCalls);
  gOtherCalls = 0;
  {
    TraceWindow w(nullptr, 3);
    TraceModel* m = w.model();
    status(2);
    w.flush();
    status(2);  // a third and a fourth row: the oldest goes
    w.flush();
    QCOMPARE(m->rowCount(), 3);
    QStringList seqs;
    for (int r = 0; r < 3; ++r) seqs << cell(m, r, TraceModel::kSeq);
    QCOMPARE(seqs, (QStringList{"23", "24", "25"}));  // 22 was the first here (21: connecting)
    status(7);  // more than the window holds between two flushes
    w.flush();
    seqs.clear();
    for (int r = 0; r < 3; ++r) seqs << cell(m, r, TraceModel::kSeq);
    QCOMPARE(seqs, (QStringList{"2A", "2B", "2C"}));

    w.show();
    click(w.findChild<QPushButton*>("TracePause"));
    status(1);
    w.flush();
    QCOMPARE(cell(m, 2, TraceModel::kSeq), QString("2C"));
    click(w.findChild<QPushButton*>("TracePause"));
    status(1);
    w.flush();
    QCOMPARE(cell(m, 2, TraceModel::kSeq), QString("2E"));
    click(w.findChild<QPushButton*>("TraceClear"));
    QCOMPARE(m->rowCount(), 0);
    status(1);
    w.flush();
    QCOMPARE(m->rowCount(), 1);
    QCOMPARE(cell(m, 0, TraceModel::kSeq), QString("2F"));
    QCOMPARE(gOtherCalls, 14);  // paused or not
  }
  void* context = nullptr;
  QVERIFY(GetExchangeObserver(&context) == &OtherObserver);
  QCOMPARE(context, static_cast<void*>(&gOtherCalls));
  SetExchangeObserver(nullptr, nullptr);
}

void TestTrace::savesEveryRowAsUtf8() {
  Session s;
  QVERIFY(s.connect());
  click(control<QPushButton>("Button38"));
  TraceWindow* w = s.main().traceWindow();
  s.clearFrames();
  status(1);
  GetDiagnosticInfo(nullptr, PrinterResults, 0, 1);
  QTemporaryDir dir;
  const QString path = dir.filePath("trace.txt");
  s.ui.saveFileAnswer = path;
  click(control<QPushButton>("TraceSave"));  // shows what is queued too
  QCOMPARE(s.ui.messages, QStringList());
  QFile f(path);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  QCOMPARE(QString::fromUtf8(bytes).toUtf8(), bytes);
  const QStringList lines = QString::fromUtf8(bytes).split('\n');
  QCOMPARE(lines.last(), QString());  // every line ends
  const auto frames = s.frames();
  QCOMPARE(frames.size(), size_t(2));
  // Two rows, each followed by its bytes; the rows are those on show.
  QStringList rows;
  for (const QString& l : lines)
    if (!l.isEmpty() && !l.startsWith("    ")) rows << l;
  QCOMPARE(rows.size(), 2);
  QCOMPARE(w->model()->rowCount(), 2);
  QVERIFY(rows[1].contains(" | 5A Запрос диагностической информации | \"1\" | ответ \""));
  QCOMPARE(lines[lines.indexOf(rows[1]) + 1], "    →" + hex(frames[1].raw));
  QCOMPARE(lines.filter(QRegularExpression("^    флаги 0x[0-9A-F]{8}$")).size(), 2);

  // A file that cannot be written: said so, nothing else changes.
  s.ui.saveFileAnswer = dir.filePath("missing/trace.txt");
  click(control<QPushButton>("TraceSave"));
  QCOMPARE(s.ui.messages.size(), 1);
  QVERIFY(s.ui.messages[0].startsWith("Не удалось сохранить протокол обмена в файл"));
  QCOMPARE(w->model()->rowCount(), 2);
}

KM_WINDOW_TEST_MAIN(TestTrace)
#include "test_trace.moc"
