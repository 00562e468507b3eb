// The page "История" (TabSheet13): where the register's history is kept and
// what waits for the shared server, a register chosen (the connected one, one
// of those seen, or a serial number typed), its header, runs, recurring
// faults, service journal and plots, and its report. The service journal
// follows the connection.
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/Mainform.h"
#include "app/historyplot.h"
#include "app/historyview.h"
#include "history/history.h"
#include "history/queries.h"

namespace {

// The window's own choice of the history, kept where the platform keeps a
// program's settings.
constexpr char kWhereKey[] = "history/where";

QTableWidget* MakeTable(const char* name, const QString& spoken) {
  auto* table = new QTableWidget;
  table->setObjectName(QLatin1String(name));
  table->setAccessibleName(spoken);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->verticalHeader()->setVisible(false);
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

template <class W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

QString WhereText(const history::Store* store) {
  if (!store || store->location().none()) return QStringLiteral("История не ведётся");
  QString text = QStringLiteral("История: %1").arg(QDir::toNativeSeparators(store->location().localPath));
  if (!store->location().remoteUrl.isEmpty())
    text += QStringLiteral("; общий сервер %1").arg(store->location().remoteUrl);
  return text;
}

}  // namespace

QString SavedHistoryWhere() { return QSettings().value(QLatin1String(kWhereKey)).toString(); }

QWidget* TForm1::MakeHistoryPage() {
  HistoryPageUi& h = tab13;
  h.TabSheet13 = Named(new QWidget, "TabSheet13");
  h.TabSheet13->setWindowTitle(QStringLiteral("История"));
  auto* page = new QVBoxLayout(h.TabSheet13);

  auto* where = new QHBoxLayout;
  h.LabelHistoryWhere = Named(new QLabel, "LabelHistoryWhere");
  h.LabelHistoryWhere->setWordWrap(true);
  h.EditHistoryWhere = Named(new QLineEdit, "EditHistoryWhere");
  h.EditHistoryWhere->setPlaceholderText(QStringLiteral("none, файл SQLite или postgresql://USER@HOST/DB"));
  h.EditHistoryWhere->setAccessibleName(QStringLiteral("Где вести историю"));
  h.ButtonHistoryWhere = Named(new QPushButton(QStringLiteral("Применить")), "ButtonHistoryWhere");
  where->addWidget(h.EditHistoryWhere, 1);
  where->addWidget(h.ButtonHistoryWhere);
  page->addWidget(h.LabelHistoryWhere);
  page->addLayout(where);

  auto* queue = new QHBoxLayout;
  h.LabelHistoryQueue = Named(new QLabel, "LabelHistoryQueue");
  h.LabelHistoryQueue->setWordWrap(true);
  h.ButtonHistorySync = Named(new QPushButton(QStringLiteral("Отправить")), "ButtonHistorySync");
  queue->addWidget(h.LabelHistoryQueue, 1);
  queue->addWidget(h.ButtonHistorySync);
  page->addLayout(queue);

  auto* chosen = new QHBoxLayout;
  auto* serialLabel = new QLabel(QStringLiteral("Заводской номер:"));
  h.ComboBoxHistory = Named(new QComboBox, "ComboBoxHistory");
  h.ComboBoxHistory->setEditable(true);
  h.ComboBoxHistory->setInsertPolicy(QComboBox::NoInsert);
  h.ComboBoxHistory->setMinimumContentsLength(14);
  serialLabel->setBuddy(h.ComboBoxHistory);
  h.ButtonHistoryShow = Named(new QPushButton(QStringLiteral("Показать")), "ButtonHistoryShow");
  h.ButtonHistoryReport = Named(new QPushButton(QStringLiteral("Отчёт…")), "ButtonHistoryReport");
  chosen->addWidget(serialLabel);
  chosen->addWidget(h.ComboBoxHistory, 1);
  chosen->addWidget(h.ButtonHistoryShow);
  chosen->addWidget(h.ButtonHistoryReport);
  page->addLayout(chosen);

  h.LabelHistoryHeader = Named(new QLabel, "LabelHistoryHeader");
  h.LabelHistoryHeader->setWordWrap(true);
  // The register's texts as they stand, never read as markup.
  for (QLabel* label : {h.LabelHistoryWhere, h.LabelHistoryQueue, h.LabelHistoryHeader})
    label->setTextFormat(Qt::PlainText);
  h.LabelHistoryHeader->setTextInteractionFlags(Qt::TextSelectableByMouse);
  page->addWidget(h.LabelHistoryHeader);

  h.PageControlHistory = Named(new QTabWidget, "PageControlHistory");
  h.PageControlHistory->setAccessibleName(QStringLiteral("История регистратора"));
  h.TableHistoryRuns = MakeTable("TableHistoryRuns", QStringLiteral("Прогоны регистратора"));
  h.TableHistoryFaults = MakeTable("TableHistoryFaults", QStringLiteral("Повторяющиеся сбои"));
  h.TableHistoryJournal = MakeTable("TableHistoryJournal", QStringLiteral("Журнал обслуживания"));
  auto* plots = new QWidget;
  auto* plotRow = new QHBoxLayout(plots);
  h.PlotHistoryClock = Named(new HistoryPlot, "PlotHistoryClock");
  h.PlotHistoryErrors = Named(new HistoryPlot, "PlotHistoryErrors");
  plotRow->addWidget(h.PlotHistoryClock);
  plotRow->addWidget(h.PlotHistoryErrors);
  h.PageControlHistory->addTab(h.TableHistoryRuns, QStringLiteral("Прогоны"));
  h.PageControlHistory->addTab(h.TableHistoryFaults, QStringLiteral("Сбои"));
  h.PageControlHistory->addTab(h.TableHistoryJournal, QStringLiteral("Журнал"));
  h.PageControlHistory->addTab(plots, QStringLiteral("Графики"));
  page->addWidget(h.PageControlHistory, 1);

  ConnectClicks({{h.ButtonHistoryWhere, &TForm1::ButtonHistoryWhereClick},
                 {h.ButtonHistorySync, &TForm1::ButtonHistorySyncClick},
                 {h.ButtonHistoryShow, &TForm1::ButtonHistoryShowClick},
                 {h.ButtonHistoryReport, &TForm1::ButtonHistoryReportClick}});
  connect(h.ComboBoxHistory, &QComboBox::activated, this, [this](int) { ButtonHistoryShowClick(); });
  ui.PageControl1->addTab(h.TabSheet13, h.TabSheet13->windowTitle());
  return h.TabSheet13;
}

void TForm1::HistoryPageEnter() {
  HistoryPageUi& h = tab13;
  history::Store* store = history::Store::Shared();
  h.LabelHistoryWhere->setText(WhereText(store));
  if (h.EditHistoryWhere->text().isEmpty()) h.EditHistoryWhere->setText(SavedHistoryWhere());
  ShowHistoryQueue();
  if (!store || !store->usable()) return;
  // The registers seen, newest first; a typed serial stays as typed.
  const QString typed = h.ComboBoxHistory->currentText();
  {
    const QSignalBlocker quiet(h.ComboBoxHistory);
    h.ComboBoxHistory->clear();
    history::Reader reader(*store);
    for (const history::RegisterSeen& r : reader.Registers()) {
      h.ComboBoxHistory->addItem(r.serial);
      h.ComboBoxHistory->setItemData(h.ComboBoxHistory->count() - 1,
                                     QStringLiteral("%1, прошивка %2, последний раз %3")
                                         .arg(r.serial, r.firmware, LocalTimeText(r.lastSeenMs, 0)),
                                     Qt::ToolTipRole);
    }
  }
  const QString connected = journal_ ? connectedSerial_ : QString();
  h.ComboBoxHistory->setEditText(!connected.isEmpty() ? connected : typed);
  if (!h.ComboBoxHistory->currentText().trimmed().isEmpty()) ButtonHistoryShowClick();
}

void TForm1::FillHistoryTable(QTableWidget* table, const HistoryTable& rows) {
  table->clear();
  table->setColumnCount(static_cast<int>(rows.columns.size()));
  table->setHorizontalHeaderLabels(rows.columns);
  table->setRowCount(static_cast<int>(rows.rows.size()));
  for (int r = 0; r < rows.rows.size(); ++r) {
    for (int c = 0; c < rows.rows[r].size(); ++c) {
      auto* item = new QTableWidgetItem(rows.rows[r][c]);
      if (rows.marked.value(r)) item->setBackground(QColor(0xFF, 0xF2, 0xCC));
      table->setItem(r, c, item);
    }
  }
  table->resizeColumnsToContents();
}

void TForm1::ButtonHistoryShowClick() {
  HistoryPageUi& h = tab13;
  const QString serial = h.ComboBoxHistory->currentText().trimmed();
  history::Store* store = history::Store::Shared();
  if (!store || !store->usable()) {
    h.LabelHistoryHeader->setText(store ? store->problem() : QStringLiteral("История не ведётся"));
    return;
  }
  if (serial.isEmpty()) {
    h.LabelHistoryHeader->setText(QStringLiteral("Укажите заводской номер регистратора"));
    return;
  }
  history::Reader reader(*store);
  const HistoryView view = LoadHistoryView(reader, serial);
  QStringList header;
  if (!view.error.isEmpty()) header << view.error;
  else if (!view.found) header << QStringLiteral("Регистратор %1 в истории не найден").arg(serial);
  for (const auto& [label, value] : view.header) header << QStringLiteral("%1: %2").arg(label, value);
  h.LabelHistoryHeader->setText(header.join(QLatin1Char('\n')));
  FillHistoryTable(h.TableHistoryRuns, view.runs);
  FillHistoryTable(h.TableHistoryFaults, view.faults);
  FillHistoryTable(h.TableHistoryJournal, view.journal);
  h.PlotHistoryClock->setData(view.clock);
  h.PlotHistoryErrors->setData(view.errors);
}

void TForm1::ButtonHistoryReportClick() {
  const QString serial = tab13.ComboBoxHistory->currentText().trimmed();
  history::Store* store = history::Store::Shared();
  if (!store || !store->usable() || serial.isEmpty()) {
    ui::showMessage(QStringLiteral("Нет истории для отчёта: укажите заводской номер регистратора"));
    return;
  }
  const QString path =
      ui::chooseSaveFile(this, QStringLiteral("Отчёт об истории регистратора"),
                         QStringLiteral("Документ PDF (*.pdf);;Страница HTML (*.html)"));
  if (path.isEmpty()) return;
  history::Reader reader(*store);
  const HistoryView view = LoadHistoryView(reader, serial);
  QString error;
  if (!view.error.isEmpty()) error = view.error;
  else if (!view.found) error = QStringLiteral("регистратор %1 в истории не найден").arg(serial);
  else if (WriteHistoryReport(view, path, &error)) return;
  ui::showMessage(QStringLiteral("Отчёт не составлен: %1").arg(error));
}

void TForm1::ButtonHistoryWhereClick() {
  const QString where = tab13.EditHistoryWhere->text().trimmed();
  history::Location location;
  QString refusal;
  if (!history::ParseLocation(where.isEmpty() ? history::DefaultSqlitePath() : where, &location, &refusal)) {
    ui::showMessage(QStringLiteral("История: %1").arg(refusal));
    return;
  }
  auto store = std::make_unique<history::Store>(location);
  if (!location.none() && !store->Open()) {
    ui::showMessage(store->problem());
    return;
  }
  QSettings().setValue(QLatin1String(kWhereKey), where);
  const bool connected = journal_ != nullptr;
  JournalDisconnected();
  ownedStore_ = std::move(store);
  history::Store::SetShared(ownedStore_.get());
  if (connected) JournalConnected(connectedPort_, connectedBaud_);
  HistoryPageEnter();
}

void TForm1::ButtonHistorySyncClick() {
  SyncHistory(10000);
  ShowHistoryQueue();
}

void TForm1::SyncHistory(int deadlineMs) {
  history::Store* store = history::Store::Shared();
  if (!store || !store->usable() || store->location().remoteUrl.isEmpty()) return;
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  store->Sync(deadlineMs);
  QGuiApplication::restoreOverrideCursor();
}

void TForm1::ShowHistoryQueue() {
  history::Store* store = history::Store::Shared();
  QLabel* label = tab13.LabelHistoryQueue;
  const bool shared = store && store->usable() && !store->location().remoteUrl.isEmpty();
  tab13.ButtonHistorySync->setEnabled(shared);
  if (store && !store->usable() && !store->location().none()) {
    label->setText(store->problem());
    return;
  }
  if (!shared) {
    label->setText(QStringLiteral("Общий сервер не задан: история только на этом ПК"));
    return;
  }
  const history::Store::Waiting waiting = store->Queue();
  QString text = QStringLiteral("Ждут отправки на %1: прогонов %2, записей журнала %3")
                     .arg(store->location().remoteUrl, QString::number(waiting.runs),
                          QString::number(waiting.events));
  if (!waiting.lastFailure.isEmpty()) text += QStringLiteral(" (%1)").arg(waiting.lastFailure);
  label->setText(text);
}

// ---- the service journal ---------------------------------------------------------------------

void TForm1::JournalConnected(const QString& port, int baud) {
  connectedPort_ = port;
  connectedBaud_ = baud;
  history::Identity identity;
  connectedSerial_ = history::ReadDiagnosticIdentity(LastAnswer, &identity) ? identity.serial : QString();
  journal_.reset();
  history::Store* store = history::Store::Shared();
  if (!store || !store->usable()) return;
  journal_ = std::make_unique<history::ServiceJournal>(
      store, history::ThisStation(QStringLiteral("km4410r " KM_VERSION), port, baud));
  if (!connectedSerial_.isEmpty()) journal_->SetRegister(identity);
}

void TForm1::JournalDisconnected() {
  journal_.reset();
  connectedSerial_.clear();
}
