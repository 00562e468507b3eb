// The register's history in the window: the register test and the service
// visits kept, the history page, its report, and the exchange observers of
// the window, the journal and the trace window in their order.
#include <QFile>
#include <QLabel>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>

#include "app/historyplot.h"
#include "app/tracewindow.h"
#include "harness.h"
#include "history/history.h"
#include "history/queries.h"

using namespace km::test;

class TestHistory : public QObject {
  Q_OBJECT
 private slots:
  void runsAndServiceVisitsAreKeptAndShown();
  void reportIsWrittenAsPdfAndHtml();
  void traceWindowKeepsRecordingAroundTheJournal();
};

namespace {

// A session whose history is an SQLite file of its own.
struct HistorySession {
  QTemporaryDir dir;
  std::unique_ptr<history::Store> store;
  Session s;
  explicit HistorySession(const std::string& serial = "VT00012345") {
    history::Location where;
    where.localPath = dir.filePath(QStringLiteral("history.sqlite"));
    store = std::make_unique<history::Store>(where);
    QVERIFY(store->Open());
    history::Store::SetShared(store.get());
    s.model([&](RegisterModel& m) {
      m.setSwitches("00101100");
      m.setSerialNumber(serial);
    });
  }
  ~HistorySession() { history::Store::SetShared(nullptr); }
  HistoryPageUi& page() { return s.main().tab13; }
  void runOnePass() {
    s.main().ui.PageControl1->setCurrentIndex(0);
    typeInto(s.main().tab1.ComboBox2, QStringLiteral("1"));
    s.main().tab1.CheckBox1->setChecked(true);  // without fiscal receipts and Z reports
    click(s.main().tab1.Button3);
  }
  void openHistoryPage() { clickTab(s.main().ui.PageControl1, 12); }
};

}  // namespace

void TestHistory::runsAndServiceVisitsAreKeptAndShown() {
  // Quotes, an SQL statement, markup and a placeholder in the serial: kept and shown as they are.
  const std::string serial = "VT'0\"1; DROP TABLE runs;--<b>%2";
  HistorySession h(serial);
  const QString expected = QString::fromUtf8(serial.c_str());
  QVERIFY(h.s.connect());
  h.runOnePass();
  // A service visit: the cash drawer opened from its page.
  clickTab(h.s.form().PageControl1, 2);
  click(h.s.main().tab3.Button10);

  history::Reader reader(*h.store);
  const QList<history::RunRow> runs = reader.Runs(expected);
  QCOMPARE(runs.size(), 1);
  QCOMPARE(runs[0].kind, QStringLiteral("window"));
  QVERIFY2(runs[0].verdict == QLatin1String("passed") || runs[0].verdict == QLatin1String("failed"),
           qPrintable(runs[0].verdict));
  QCOMPARE(runs[0].passesDone, 1);
  QVERIFY(runs[0].endMs >= runs[0].startMs);
  const QList<history::ServiceEvent> journal = reader.Journal(expected);
  QVERIFY(!journal.isEmpty());
  QCOMPARE(journal[0].code, 0x6A);

  h.openHistoryPage();
  QCOMPARE(h.page().ComboBoxHistory->currentText(), expected);
  QVERIFY2(h.page().LabelHistoryHeader->text().contains(QStringLiteral("Заводской номер: ") + expected),
           qPrintable(h.page().LabelHistoryHeader->text()));
  QCOMPARE(h.page().LabelHistoryHeader->textFormat(), Qt::PlainText);
  QCOMPARE(h.page().TableHistoryRuns->rowCount(), 1);
  QCOMPARE(h.page().TableHistoryJournal->rowCount(), static_cast<int>(journal.size()));
  QVERIFY(h.page().PlotHistoryErrors->accessibleDescription().contains(QStringLiteral("прогонов 1")));
  QVERIFY(h.page().LabelHistoryWhere->text().contains(QStringLiteral("history.sqlite")));

  // A serial typed that the history has not seen.
  typeInto(h.page().ComboBoxHistory, QStringLiteral("NOBODY"));
  click(h.page().ButtonHistoryShow);
  QCOMPARE(h.page().LabelHistoryHeader->text(), QStringLiteral("Регистратор NOBODY в истории не найден"));
  QCOMPARE(h.page().TableHistoryRuns->rowCount(), 0);
}

void TestHistory::reportIsWrittenAsPdfAndHtml() {
  HistorySession h;
  QVERIFY(h.s.connect());
  h.runOnePass();
  h.openHistoryPage();
  struct Case {
    const char* file;
    QByteArray starts;
  } const cases[] = {{"report.pdf", "%PDF"}, {"report.html", "<html>"}};
  for (const Case& c : cases) {
    const QString path = h.dir.filePath(QLatin1String(c.file));
    h.s.ui.saveFileAnswer = path;
    click(h.page().ButtonHistoryReport);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), c.file);
    const QByteArray bytes = file.readAll();
    QVERIFY2(bytes.startsWith(c.starts), c.file);
    QVERIFY2(bytes.size() > 2000, c.file);  // the plots are in it
  }
  QFile html(h.dir.filePath(QStringLiteral("report.html")));
  QVERIFY(html.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(html.readAll());
  QVERIFY(text.contains(QStringLiteral("История регистратора VT00012345")));
  QVERIFY(text.contains(QStringLiteral("data:image/png;base64,")));
  // A file that cannot be written: said, nothing else happens.
  h.s.ui.saveFileAnswer = h.dir.filePath(QStringLiteral("no/such/folder/report.pdf"));
  h.s.ui.messages.clear();
  click(h.page().ButtonHistoryReport);
  QCOMPARE(h.s.ui.messages.size(), 1);
  QVERIFY(h.s.ui.messages[0].startsWith(QStringLiteral("Отчёт не составлен: ")));
}

void TestHistory::traceWindowKeepsRecordingAroundTheJournal() {
  HistorySession h;
  QVERIFY(h.s.connect());
  click(h.s.main().ui.Button38);  // the trace window hooks itself after the window
  TraceWindow* trace = h.s.main().traceWindow();
  QVERIFY(trace);
  h.s.disconnect();  // the journal goes; the trace window stays on the chain
  trace->flush();
  const int before = trace->model()->rowCount();
  QVERIFY(h.s.connect());
  trace->flush();
  QVERIFY(trace->model()->rowCount() > before);
}

KM_WINDOW_TEST_MAIN(TestHistory)
#include "test_history.moc"
