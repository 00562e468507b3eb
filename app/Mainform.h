// The main window (TForm1): the page control with the service pages, the
// connection row at the bottom, the window state every operation works with,
// and the result handlers that bring answers into it.
#pragma once
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>

#include "app/uiservices.h"
#include "driver/printer.h"
#include "driver/trace.h"
#include "ui_Mainform.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet10.h"
#include "ui_TabSheet11.h"
#include "ui_TabSheet12.h"
#include "ui_TabSheet2.h"
#include "ui_TabSheet3.h"
#include "ui_TabSheet4.h"
#include "ui_TabSheet5.h"
#include "ui_TabSheet6.h"
#include "ui_TabSheet7.h"
#include "ui_TabSheet8.h"
#include "ui_TabSheet9.h"

class QAbstractButton;
class QShowEvent;
class QTableWidget;
class QTabWidget;
class HistoryPlot;
class TraceWindow;
struct HistoryTable;
namespace history {
class RunWriter;
class ServiceJournal;
class Store;
}

// The history the user chose on the history page last time (empty: none chosen).
QString SavedHistoryWhere();

// The history page (TabSheet13), built in code: where the history is kept
// and what waits for the shared server, the register chosen, its header,
// its runs, faults and service journal, and its two plots.
struct HistoryPageUi {
  QWidget* TabSheet13 = nullptr;
  QLabel* LabelHistoryWhere = nullptr;    // the file or server the history is kept in
  QLineEdit* EditHistoryWhere = nullptr;  // none, an SQLite file or postgresql://...
  QPushButton* ButtonHistoryWhere = nullptr;
  QLabel* LabelHistoryQueue = nullptr;    // runs waiting for the shared server, and why
  QPushButton* ButtonHistorySync = nullptr;
  QComboBox* ComboBoxHistory = nullptr;   // the registers seen, newest first; a serial may be typed
  QPushButton* ButtonHistoryShow = nullptr;
  QPushButton* ButtonHistoryReport = nullptr;
  QLabel* LabelHistoryHeader = nullptr;
  QTabWidget* PageControlHistory = nullptr;
  QTableWidget* TableHistoryRuns = nullptr;
  QTableWidget* TableHistoryFaults = nullptr;
  QTableWidget* TableHistoryJournal = nullptr;
  HistoryPlot* PlotHistoryClock = nullptr;
  HistoryPlot* PlotHistoryErrors = nullptr;
};

// The busy mark's codes: which long operation runs (0 none).
enum BusyCode : int32_t {
  kBusyNone = 0,
  kBusyRegisterTest = 1,
  kBusyLoop = 2,          // the customer display test, the cut and beep loops
  kBusyDrawer = 3,        // cash drawer and service cash
  kBusyReports = 5,       // print test, reports and cancellation
};

class TForm1 : public QWidget, public ui::Activatable {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The frame, the page control and the bottom row; each page has a layout
  // of its own (tabN for TabSheetN).
  Ui::TForm1 ui;
  Ui::TabSheet1 tab1;
  Ui::TabSheet2 tab2;
  Ui::TabSheet3 tab3;
  Ui::TabSheet4 tab4;
  Ui::TabSheet5 tab5;
  Ui::TabSheet6 tab6;
  Ui::TabSheet7 tab7;
  Ui::TabSheet8 tab8;
  Ui::TabSheet9 tab9;
  Ui::TabSheet10 tab10;
  Ui::TabSheet11 tab11;
  Ui::TabSheet12 tab12;
  HistoryPageUi tab13;
  // The page TabSheetN (1 to 13).
  QWidget* TabSheet(int n) const { return sheets_.at(static_cast<size_t>(n - 1)); }

  static constexpr QRgb kRed = 0xFF0000;    // disconnected
  static constexpr QRgb kGreen = 0x00FF00;  // connected
  static constexpr QRgb kAmber = 0xFFC000;  // connected, the link gone (until an exchange opens it again)
  // The indicator is not red: the port is open (its link may be gone).
  bool isConnected() const;

  // What the pages and the other windows share, each kept where it belongs:
  // the cashier and the test passwords of the passwords page, the connection,
  // the busy mark of the running long operation and the last answer.
  struct Shared {
    int cashier = 0;              // ComboBox8's item index + 1 (0: none chosen)
    QString cashierPassword;      // Edit21
    QString programmingPassword;  // Edit22
    QString reportsPassword;      // Edit23
    bool connected = false;
    int32_t busy = kBusyNone;
    RetData lastAnswer{};         // a plain copy of the record last delivered here
  };
  Shared shared() const;

  // The result handlers' way in: keeps a copy of the answer; an erroneous
  // one adds 1 to the error count and, when `showMessage`, says its first
  // error in a message box.
  void TakeAnswer(const RetData& data, bool showMessage);
  // The save-file dialog of the test log (SaveDialog1); empty when cancelled.
  QString SaveDialog1Execute();

  // ---- event handlers, connected in the constructor ----
  void FormActivate() override;
  void Button2Click();
  void Button25Click();
  void Button1Click();
  void PageControl1Change();
  // The port box: COM1..COM20, then the ports found on this machine with
  // their descriptions (each item's data is its path), found anew whenever
  // the box is opened.
  void RefreshPortBox();
  // Opens the exchange trace window (Button38, Ctrl+T); it is made at the
  // first press and then kept, recording, until the main window goes.
  void Button38Click();
  TraceWindow* traceWindow() const { return traceWindow_; }

  // The register test page (TabSheet1): Start, Stop, Clear, Save.
  void Button3Click();
  void Button4Click();
  void Button6Click();
  void Button5Click();
  // Cut and beep tests (TabSheet7): single and looped.
  void Button16Click();
  void Button17Click();
  void Button19Click();
  void Button18Click();
  // Passwords (TabSheet8) and cashiers (TabSheet12).
  void ComboBox7Change();
  void ComboBox9Change();
  void Button22Click();
  void Button23Click();
  void StringGrid2SelectCell(int col, int row, bool& canSelect);
  void Button34Click();
  void Button32Click();

  // Customer display (TabSheet2).
  void Button7Click();
  void Button11Click();
  void TabSheet2Enter();
  void Button8Click();
  void Button9Click();
  // Cash drawer, service cash, article deletion (TabSheet3).
  void Button10Click();
  void Button20Click();
  void Button21Click();
  // Print test, zero receipt, reports, cancellation (TabSheet5).
  void Button12Click();
  void Button13Click();
  void Button14Click();
  void ComboBox10Change();
  void Button15Click();
  void RadioGroup3Click();
  void RadioGroup3Exit();
  void Button24Click();
  // Network settings (TabSheet9), modem and ID_DEV (TabSheet10).
  void Button26Click();
  void Button27Click();
  void Button37Click();
  void Button28Click();
  void Button29Click();
  // Date, time and taxes (TabSheet11).
  void Button31Click();
  void Button30Click();
  void RxClock1GetTime(QDateTime& time);
  void RxClock1Click();
  void DateEdit3AcceptDate(QDate& date, bool& accept);
  void Edit39Change();
  void StringGrid1SelectCell(int col, int row, bool& canSelect);
  void Button36Click();
  void Button33Click();
  void Button35Click();
  // The register's history (TabSheet13).
  void HistoryPageEnter();
  void ButtonHistoryWhereClick();
  void ButtonHistorySyncClick();
  void ButtonHistoryShowClick();
  void ButtonHistoryReportClick();

  // ---- the test log (RichEdit1) ----
  // Appends one line; the log keeps its newest line in view.
  void AppendLog(const QString& line);
  void ScrollLogToEnd();
  // The log's lines (none for an empty log).
  QStringList LogLines() const;

  // Runs one command operation. A command the driver refuses to send (data
  // it cannot frame, rc != 0) counts as an erroneous answer and says so.
  void SendChecked(const std::function<int()>& send);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  friend class BusyScope;
  friend struct MainWindowProbe;  // the window tests' view of the state below
  // The register test page's adapter to the scenario (pages/testpage.cpp).
  class TestPageAdapter;

  // ---- window state, read and written by the pages and the handlers ----
  RetData LastAnswer{};      // plain copy of the record last delivered here
  int32_t ErrorCounter = 0;  // erroneous answers since the operation reset it
  uint8_t StopFlag = 0;      // 1: a running loop operation should end
  int32_t BusyMark = 0;      // code of the running long operation, 0 when idle
  uint8_t DateChosenMark = 0;  // a date was accepted in DateEdit3
  uint8_t TimeEditedMark = 0;  // Edit39 was changed

  // Connects each button's click to its handler.
  void ConnectClicks(std::initializer_list<std::pair<QAbstractButton*, void (TForm1::*)()>> table);
  // One command of a page: the error count reset, the command sent, the
  // user's input taken, then a message box with `success` or `failure`.
  void SendAndTell(const std::function<int()>& send, const QString& success, const QString& failure);
  // A read of the network pages: true when the answer came without error;
  // otherwise the page's message (the timeout's, or `failure`) has been shown.
  bool NetworkRead(const std::function<int()>& send, const QString& failure);
  // The date and time edits follow the PC clock again from now on; they show
  // its time, which is returned.
  QDateTime FollowPcClock();
  // The service cash choice of the drawer page back at "cash in".
  void ResetServiceCashChoice();

  // The register's switch settings decide whether texts are translated.
  void CheckSwitches();
  void RestoreDefaults();

  // A single cut or beep test, and the looped one with its group's controls.
  void SingleTest(QLabel* result, int (*send)(WindowHandle, ResultHandler, int),
                  const QString& success, const QString& failure);
  void LoopTest(QLabel* result, QLabel* count, QComboBox* passes, QLineEdit* pause,
                int (*send)(WindowHandle, ResultHandler, int), const QString& success,
                const QString& failure);

  // Each page group connects its controls and sets what its layout cannot
  // say; called once from the constructor.
  void SetUpDisplayPage();         // TabSheet2
  void SetUpDrawerPage();          // TabSheet3
  void SetUpInfoPage();            // TabSheet4
  void SetUpReportsPage();         // TabSheet5
  void SetUpNetworkPages();        // TabSheet9, TabSheet10
  void SetUpClockAndTaxesPage();   // TabSheet11
  QWidget* MakeHistoryPage();      // TabSheet13
  // The service journal follows the connection: from the connection's
  // diagnostic answer to the disconnection (a register test's exchanges go
  // to the test's history instead).
  void JournalConnected(const QString& port, int baud);
  void JournalDisconnected();
  // The shared server gets what waits; the page says what still does.
  void SyncHistory(int deadlineMs);
  void ShowHistoryQueue();
  void FillHistoryTable(QTableWidget* table, const HistoryTable& rows);
  // The clock edits and the tax grid as the window's first activation sets them.
  void RestoreClockAndTaxesDefaults();

  std::array<QWidget*, 13> sheets_{};
  // The window's one place on the driver's exchange observer chain, from its
  // making to its end: the exchanges go to the running test's history or to
  // the service journal, then on to the observer set before.
  static void ObserveExchange(const ExchangeTrace& trace, void* context);
  ExchangeHook exchangeHook_;
  // The indicator after an exchange: green while the link is up, amber while
  // it is gone.
  void ShowLink();
  history::RunWriter* runWriter_ = nullptr;     // the register test's, while it runs
  std::unique_ptr<history::Store> ownedStore_;  // a history chosen on the page
  std::unique_ptr<history::ServiceJournal> journal_;
  QString connectedSerial_;
  QString connectedPort_;
  int connectedBaud_ = 0;
  bool shownOnce_ = false;
  bool defaultsRestored_ = false;
  TraceWindow* traceWindow_ = nullptr;
};

// Holds the busy mark of an operation for its duration. An operation started
// from within a running loop (between its steps) hands the loop's own mark
// back when it ends, so that the loop's page still knows it is running.
class BusyScope {
 public:
  BusyScope(TForm1& form, int32_t code) : form_(form), previous_(form.BusyMark) {
    form_.BusyMark = code;
  }
  ~BusyScope() { form_.BusyMark = previous_; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  TForm1& form_;
  int32_t previous_;
};

// The main window, created at program start.
extern TForm1* Form1;

// Message for the first error flag set in `flags`, in the order the handlers
// test them; an empty text when no error flag is set.
QString FirstErrorMessage(uint32_t flags);

// Result handlers of the main window: hand the answer to Form1->TakeAnswer,
// which shows an erroneous answer's first error (all but PrinterResultsy).
void PrinterResults(RetData& data);
void PrinterResultsx(RetData& data);
void PrinterResultsy(RetData& data);

