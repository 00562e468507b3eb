#include "app/Mainform.h"

#include <QAbstractItemView>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>
#include <QPalette>
#include <QShowEvent>
#include <QTextOption>
#include <cstring>

#include "app/Unit5.h"
#include "app/controls.h"
#include "app/tracewindow.h"
#include "driver/flags.h"
#include "driver/portlist.h"
#include "history/history.h"
#include "regtest/connection.h"
#include "regtest/scenario.h"

TForm1* Form1 = nullptr;

QString FirstErrorMessage(uint32_t flags) {
  const FlagInfo* e = FirstError(flags);
  return e ? QString::fromUtf8(e->text) : QString();
}

void PrinterResults(RetData& data) {
  if (Form1) Form1->TakeAnswer(data, true);
}
void PrinterResultsx(RetData& data) {
  if (Form1) Form1->TakeAnswer(data, true);
}
void PrinterResultsy(RetData& data) {
  if (Form1) Form1->TakeAnswer(data, false);
}

void TForm1::TakeAnswer(const RetData& data, bool showMessage) {
  LastAnswer = data;
  const QString message = FirstErrorMessage(data.ErrorFlags);
  if (message.isEmpty()) return;
  if (showMessage) ui::showMessage(message);
  ErrorCounter++;
}

TForm1::Shared TForm1::shared() const {
  Shared s;
  s.cashier = ItemIndex(tab8.ComboBox8) + 1;
  s.cashierPassword = tab8.Edit21->text();
  s.programmingPassword = tab8.Edit22->text();
  s.reportsPassword = tab8.Edit23->text();
  s.connected = isConnected();
  s.busy = BusyMark;
  s.lastAnswer = LastAnswer;
  return s;
}

// ---- TForm1 ------------------------------------------------------------

namespace {

// Builds page n from its layout and puts it in the page control.
template <class Page>
QWidget* AddPage(PageControl* pages, Page& page) {
  auto* sheet = new QWidget;
  page.setupUi(sheet);
  pages->addTab(sheet, sheet->windowTitle());
  return sheet;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  ui.setupUi(this);
  PageControl* pages = ui.PageControl1;
  sheets_ = {AddPage(pages, tab1),  AddPage(pages, tab2),  AddPage(pages, tab3),
             AddPage(pages, tab4),  AddPage(pages, tab5),  AddPage(pages, tab6),
             AddPage(pages, tab7),  AddPage(pages, tab8),  AddPage(pages, tab9),
             AddPage(pages, tab10), AddPage(pages, tab11), AddPage(pages, tab12),
             MakeHistoryPage()};
  // A title bar without buttons: Закрыть is the way to close the window.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  ui.Shape1->setBrushColor(QColor::fromRgb(kRed));
  ui.Shape1->setAccessibleDescription(QStringLiteral("отключено"));
  for (QComboBox* box : {static_cast<QComboBox*>(ui.ComboBox1), tab1.ComboBox2, tab8.ComboBox8})
    box->setInsertPolicy(QComboBox::NoInsert);  // typed texts stay texts
  tab8.ComboBox8->setEditText(QStringLiteral("<Выберите кассира>"));
  // The listed COM ports and the register's speeds.
  for (int n = 1; n <= kListedComPorts; ++n) ui.ComboBox1->addItem(QStringLiteral("COM%1").arg(n));
  for (int baud : kLineSpeeds) ui.ComboBox3->addItem(QStringLiteral("%1 бод").arg(baud));
  // The register test's pause and the article deletion's password start at
  // the register's defaults.
  tab1.Edit1->setText(QString::fromLatin1(regtest::kDefaultPause));
  tab3.Edit18->setText(QString::fromLatin1(regtest::kDefaultPassword));
  tab12.StringGrid2->setFixed(1, 1);

  tab6.Memo1->document()->setDefaultTextOption(QTextOption(Qt::AlignHCenter));
  tab6.Memo1->setPlainText(QStringLiteral(
      "\n\nТест регистратора расчетных операций KM4410R\n\n"
      "Сервисная программа для проверки регистратора\nи выполнения служебных операций\n\n"
      "Версия " KM_VERSION "\n"
      "Дата: 07.12.2026"));

  // The list is found anew each time it opens, so that an adapter plugged in
  // meanwhile is in it.
  connect(ui.ComboBox1, &PortBox::aboutToShowPopup, this, &TForm1::RefreshPortBox);
  // The box is as narrow as "COM20": a longer port (a device path, a network
  // address) is shown whole in its tool tip.
  connect(ui.ComboBox1, &QComboBox::editTextChanged, this, [this](const QString& text) {
    const QFontMetrics metrics(ui.ComboBox1->font());
    ui.ComboBox1->setToolTip(metrics.horizontalAdvance(text) > ui.ComboBox1->lineEdit()->width() ? text
                                                                                                 : QString());
  });
  ConnectClicks({{ui.Button2, &TForm1::Button2Click},
                 {ui.Button25, &TForm1::Button25Click},
                 {ui.Button1, &TForm1::Button1Click},
                 {ui.Button38, &TForm1::Button38Click}});
  connect(ui.PageControl1, &PageControl::currentChanged, this, &TForm1::PageControl1Change);

  SetUpDisplayPage();
  SetUpDrawerPage();
  SetUpInfoPage();
  SetUpReportsPage();
  SetUpNetworkPages();
  SetUpClockAndTaxesPage();

  // The test log: light text on the dark frame colour.
  QPalette logColours = tab1.RichEdit1->palette();
  logColours.setColor(QPalette::Base, QColor(0, 0, 0));
  logColours.setColor(QPalette::Text, QColor(255, 255, 255));
  tab1.RichEdit1->setPalette(logColours);
  // Lines are only appended by the program: no undo steps to keep.
  tab1.RichEdit1->setUndoRedoEnabled(false);

  ConnectClicks({{tab1.Button3, &TForm1::Button3Click},
                 {tab1.Button4, &TForm1::Button4Click},
                 {tab1.Button6, &TForm1::Button6Click},
                 {tab1.Button5, &TForm1::Button5Click},
                 {tab7.Button16, &TForm1::Button16Click},
                 {tab7.Button17, &TForm1::Button17Click},
                 {tab7.Button19, &TForm1::Button19Click},
                 {tab7.Button18, &TForm1::Button18Click},
                 {tab8.Button22, &TForm1::Button22Click},
                 {tab8.Button23, &TForm1::Button23Click},
                 {tab12.Button34, &TForm1::Button34Click},
                 {tab12.Button32, &TForm1::Button32Click}});
  connect(tab8.ComboBox7, &QComboBox::currentIndexChanged, this, &TForm1::ComboBox7Change);
  connect(tab8.ComboBox9, &QComboBox::currentIndexChanged, this, &TForm1::ComboBox9Change);
  tab12.StringGrid2->setSelectCellHandler(
      [this](int col, int row, bool& canSelect) { StringGrid2SelectCell(col, row, canSelect); });
  exchangeHook_.Attach(&TForm1::ObserveExchange, this);
}

void TForm1::ConnectClicks(std::initializer_list<std::pair<QAbstractButton*, void (TForm1::*)()>> table) {
  for (const auto& [button, handler] : table) connect(button, &QAbstractButton::clicked, this, handler);
}

void TForm1::SendAndTell(const std::function<int()>& send, const QString& success, const QString& failure) {
  ErrorCounter = 0;
  SendChecked(send);
  ui::processMessages();
  ui::showMessage(ErrorCounter == 0 ? success : failure);
}

void TForm1::SendChecked(const std::function<int()>& send) {
  if (send() != 0) {
    // Nothing went on the line: the operation fails as with an erroneous
    // answer, and the message says why the driver refused.
    ErrorCounter++;
    ui::showMessage(regtest::RefusalText());
  }
}

TForm1::~TForm1() {
  // The trace window hooked itself after this window: it goes first, so
  // that the chain is taken back in the order it was made.
  delete traceWindow_;
  traceWindow_ = nullptr;
  exchangeHook_.Detach();
}

void TForm1::ObserveExchange(const ExchangeTrace& trace, void* context) {
  auto* form = static_cast<TForm1*>(context);
  if (form->runWriter_) form->runWriter_->Observe(trace);
  else if (form->journal_) form->journal_->Observe(trace);
  form->exchangeHook_.Forward(trace);
  if (trace.linkDropped || trace.linkReturned || trace.linkError != PortError::kNone) form->ShowLink();
}

void TForm1::ShowLink() {
  if (!isConnected()) return;
  const bool up = GetLinkStatus().up;
  ui.Shape1->setBrushColor(QColor::fromRgb(up ? kGreen : kAmber));
  ui.Shape1->setAccessibleDescription(up ? QStringLiteral("подключено") : QStringLiteral("связь потеряна"));
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shownOnce_ && !event->spontaneous()) {
    shownOnce_ = true;
    FormActivate();
  }
}

bool TForm1::isConnected() const {
  return ui.Shape1->brushColor().rgb() != QColor::fromRgb(kRed).rgb();
}

QString TForm1::SaveDialog1Execute() {
  return ui::chooseSaveFile(this, QString(), QStringLiteral("Все файлы (*)"));
}

void TForm1::FormActivate() {
  // The defaults are set when the window first appears; later activations
  // (after a message box or a dialog closed) keep what the user has chosen.
  if (defaultsRestored_) return;
  defaultsRestored_ = true;
  RestoreDefaults();
}

void TForm1::RestoreDefaults() {
  ui.ComboBox3->setCurrentIndex(
      static_cast<int>(std::find(std::begin(kLineSpeeds), std::end(kLineSpeeds), kDefaultLineSpeed) -
                       std::begin(kLineSpeeds)));
  ui.ComboBox1->setCurrentIndex(0);
  tab8.ComboBox8->setCurrentIndex(0);
  tab5.ComboBox10->setCurrentIndex(0);
  for (QLineEdit* password : {tab8.Edit21, tab8.Edit22, tab8.Edit23})
    password->setText(QString::fromLatin1(regtest::kDefaultPassword));
  ui.PageControl1->setCurrentIndex(ui.PageControl1->indexOf(TabSheet(1)));
  RestoreClockAndTaxesDefaults();

  StringGrid* cashiers = tab12.StringGrid2;
  cashiers->setColumnCount(4);
  cashiers->setRowCount(14);
  cashiers->setCells(0, 0, QStringLiteral("№ кассира"));
  cashiers->setCells(1, 0, QStringLiteral("Пароль"));
  cashiers->setCells(2, 0, QStringLiteral("Имя"));
  cashiers->setCells(3, 0, QStringLiteral("Запись"));
  for (int r = 1; r <= 13; ++r) {
    cashiers->setCells(0, r, QString::number(r));
    cashiers->setCells(1, r, QString::fromLatin1(regtest::kDefaultPassword));
    cashiers->setCells(2, r, QStringLiteral("Оператор %1").arg(r));
    cashiers->setCells(3, r, QStringLiteral("выполнить"));
  }
}

void TForm1::Button2Click() {
  if (!isConnected()) {
    const int speedIndex = ui.ComboBox3->currentIndex();
    if (speedIndex < 0 || speedIndex >= kLineSpeedCount) return;
    const int baud = kLineSpeeds[speedIndex];

    // An item of the list (COM1..COM20) or a port name typed as it stands
    // (COMn, a device path), by the one rule every port box follows.
    const QString typed = ui.ComboBox1->currentText();
    const int portIndex = ItemIndex(ui.ComboBox1);
    // A port found on this machine carries its path beside its description.
    const QString found = portIndex >= 0 ? ui.ComboBox1->itemData(portIndex).toString() : QString();
    const QString name = !found.isEmpty() ? found : portIndex >= 0 ? ui.ComboBox1->itemText(portIndex) : typed;
    // A network port may take up to 5 s to answer or fail: the wait cursor
    // says so meanwhile.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const int opened = regtest::OpenNamedPort(name, baud);
    QGuiApplication::restoreOverrideCursor();
    if (opened == -1) {
      // A typed text that is no port name is named as typed.
      const bool typedName = portIndex < 0 && !ParsePortName(QFile::encodeName(typed).constData(), nullptr);
      ui::showMessage(regtest::PortOpenFailure(typedName ? typed : QString()));
      return;
    }

    ui.Button25->setEnabled(true);
    ui.Shape1->setBrushColor(QColor::fromRgb(kGreen));
    ui.Shape1->setAccessibleDescription(QStringLiteral("подключено"));
    ui.Button2->setText(QStringLiteral("Отключить"));
    ui.PageControl1->setEnabled(true);
    tab1.ComboBox2->setCurrentIndex(0);
    ui.ComboBox1->setEnabled(false);
    ui.ComboBox3->setEnabled(false);
    StopFlag = 0;
    ErrorCounter = 0;

    GetDiagnosticInfo(nullptr, PrinterResults, 0, 1);
    // The service journal names the register of this answer.
    JournalConnected(name, baud);
    if (ErrorCounter > 0) {
      ui::showMessage(regtest::InfoErrorText());
      return;
    }
    CheckSwitches();
    return;
  }

  if (ClosePort() == 0) return;
  JournalDisconnected();
  ui.Shape1->setBrushColor(QColor::fromRgb(kRed));
  ui.Shape1->setAccessibleDescription(QStringLiteral("отключено"));
  ui.Button2->setText(QStringLiteral("Подключить"));
  ui.PageControl1->setEnabled(false);
  ui.Button25->setEnabled(false);
  ui.ComboBox1->setEnabled(true);
  ui.ComboBox3->setEnabled(true);
  StopFlag = 1;
}

void TForm1::CheckSwitches() { regtest::ApplySwitchSettings(LastAnswer); }

void TForm1::RefreshPortBox() {
  // COM1..COM20 stay as they are; the ports found follow them, found anew.
  QComboBox* box = ui.ComboBox1;
  const QString text = box->currentText();
  const QSignalBlocker quiet(box);
  while (box->count() > kListedComPorts) box->removeItem(box->count() - 1);
  PortInfo ports[64];
  const int count = std::min(ListPorts(ports, 64), 64);
  for (int i = 0; i < count; ++i) {
    char line[512];
    DescribePort(ports[i], line, sizeof line);
    box->addItem(QString::fromUtf8(line), QFile::decodeName(ports[i].path));
  }
  // The list is as wide as its longest description.
  QAbstractItemView* list = box->view();
  list->setMinimumWidth(list->sizeHintForColumn(0) + list->verticalScrollBar()->sizeHint().width());
  const int again = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (again >= 0) box->setCurrentIndex(again);
  else box->setEditText(text);
}

void TForm1::Button25Click() {
  if (Form5) Form5->ShowModal();
}

void TForm1::Button1Click() { close(); }

void TForm1::Button38Click() {
  if (!traceWindow_) traceWindow_ = new TraceWindow(this);
  traceWindow_->show();
  traceWindow_->raise();
  traceWindow_->activateWindow();
}


