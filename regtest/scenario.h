// The register test: an unattended acceptance test of the register, a fixed
// scenario of commands repeated for a number of passes, written step by step
// to a log, failures counted.
//
// The scenario knows no window. It reads what the user chose through a
// Source (when Start is pressed and again when a step needs it, so that a
// change during the run takes effect from the next step that reads it) and
// reports everything through an Output: the page "Тест РРО" is one adapter,
// the run without a screen another.
//
// A run is one call of Scenario::Run on the thread that owns the port; it
// pauses between steps and notices Stop only at its stop checks.
#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

#include "driver/printer.h"

namespace regtest {

// What a run starts with when nobody says otherwise: the pause between steps
// in ms and the cashier's, programming and reports passwords (the register's
// own defaults).
inline constexpr char kDefaultPause[] = "1500";
inline constexpr char kDefaultPassword[] = "9162";

// What the user chose, as one value: the page's inputs as typed and the
// cashier with the test passwords.
struct Inputs {
  QString passesText;          // ComboBox2, as typed
  QString pauseText;           // Edit1, as typed
  bool secondPhase = false;    // CheckBox1 not ticked: fiscal receipts, reports, Z reports
  int cashier = 1;             // 1..13 (0: none chosen)
  QString cashierPassword;     // of the receipts
  QString programmingPassword; // of the article programming
  QString reportsPassword;     // of the X, Z and article reports
};

// Where the inputs come from; read at Start and by each step that needs them.
class Source {
 public:
  virtual ~Source() = default;
  virtual Inputs Read() = 0;
};

// The steps of a pass, in their order. A step is data: the record, the
// progress lines and JUnit read its kind and title, never match its text.
enum class StepKind {
  Status,            // the register status at the start of every pass
  SetTime,
  PrintDiagnostics,
  GetDiagnostics,
  GetDateTime,
  GetTaxNumber,
  XReport,
  NonFiscalReceipt,
  DisplayLowerRow,
  DisplayUpperRow,
  ZReport,           // twice in the second phase
  ServiceCashIn,
  ServiceCashOut,
  ProgramArticle,
  FiscalReceipt,
  ReturnReceipt,
  ArticleReport,
  ZReportClosing,    // the second Z report of the second phase
  Timer,             // the clock check, every pass's last step
};

struct StepInfo {
  StepKind kind = StepKind::Status;
  QString title;   // as the progress line shows it
  int pass = 0;    // 1..passes
  int passes = 0;
  int errorsBefore = 0;  // the run's error total when the step began
};

// The link to the register as a run saw it change (the driver's
// GetLinkStatus after each command).
struct LinkEvent {
  enum Kind {
    Dropped,   // a command found the link gone
    Returned,  // a command opened the port again
    Lost,      // a pass (or the run) ended with the link still gone: once a run
  };
  Kind kind = Dropped;
  QDateTime at;              // when the run saw it
  int pass = 0;              // the pass and step of the command (for Lost: where the link went)
  StepKind step = StepKind::Status;
  QString stepTitle;
  QString reason;            // Dropped, Lost: why, in Russian
  int failedCommands = 0;    // Returned: the commands that failed while it was gone
};

// How a run ended.
enum class RunEnd {
  Completed,      // the summary was written
  Stopped,        // Stop was seen at a stop check
  Aborted,        // a receipt could not be completed
  NoInformation,  // the first diagnostic request failed; nothing ran
  NotReady,       // the register's state forbids the test; nothing ran
  BadInput,       // the number of passes or the pause broke the page's rules
  HeaderRefused,  // a receipt header line was refused; no pass ran
};

// Whether a run that ended so, its link gone to the end of a pass (a Lost
// event), takes the verdict "link lost": every end but a stop, which stays
// the user's.
inline bool LinkLostDecides(RunEnd end) { return end != RunEnd::Stopped; }

// Everything a run tells and needs from its surroundings.
class Output {
 public:
  virtual ~Output() = default;
  // One command, the error count reset first: `send` calls the command
  // function with the result handler to use (the silent one, which shows no
  // message, when `silent`). True when the answer had no error flag. A
  // command that could not be sent counts as an erroneous answer.
  virtual bool Command(const std::function<int(ResultHandler)>& send, bool silent) = 0;
  // The copy of the answer the last command brought.
  virtual const RetData& LastAnswer() const = 0;

  virtual void Log(const QString& line) = 0;
  virtual void Scroll() {}   // keep the newest log line in view
  virtual void Repaint() {}  // repaint the log now and keep its newest line in view
  virtual void Message(const QString& text) = 0;  // a message box
  // The register is not ready for the test: tell the user why (the
  // invalid-state dialog, which asks the register again).
  virtual void ShowInvalidState() = 0;

  // Processes what the user did since the last check; true when Stop was
  // pressed (the request is then taken).
  virtual bool StopRequested() = 0;
  virtual void Sleep(int ms) = 0;
  virtual QDateTime Now() = 0;

  virtual void Busy(bool) {}  // a run is under way (from Start to its end)
  virtual void Running() {}   // the inputs were accepted: Start off, Stop on
  virtual void StepBegun(const StepInfo&) {}
  virtual void StepEnded(const StepInfo&, int errorsAfter) { (void)errorsAfter; }
  // The link went, came back, or stayed away to the end of a pass; the log
  // has its line already.
  virtual void Link(const LinkEvent&) {}
  // The end: `errors` is the run's total, `passes` the number asked for.
  virtual void Ended(RunEnd end, int errors, int passes) = 0;
};

class Scenario {
 public:
  Scenario(Source& source, Output& output) : in_(source), out_(output) {}
  // The whole run: checks, header, passes, summary (or a stop or an abort).
  RunEnd Run();

 private:
  enum class After { Scroll, BlankLine, Nothing };
  // One step of the common pattern. `logAnswer`: the answer text goes to the
  // log before the success text. False when the run ended at the stop check.
  bool Step(StepKind kind, const QString& title, const std::function<int(ResultHandler)>& send,
            bool logAnswer, const QString& success, const QString& failure, After after);
  bool Pass();
  bool PhaseOne();
  bool PhaseTwo();
  bool NonFiscalReceipt();
  bool LowerDisplayRow();
  bool UpperDisplayRow();
  struct ReceiptSteps;
  bool Receipt(const ReceiptSteps& steps);
  bool FiscalReceipt();
  bool ReturnReceipt();
  bool TimerCheck();
  void Summary();

  bool Command(const std::function<int(ResultHandler)>& send, bool silent = false);
  void WatchLink();
  void CheckLinkKept();
  void Pause();
  void Fail();
  bool StopCheck();
  bool Abort();
  void Begin(StepKind kind, const QString& title);
  void EndStep();
  RunEnd Ended(RunEnd end);

  Source& in_;
  Output& out_;
  int passes_ = 0;
  int pause_ = 0;
  int pass_ = 0;
  int errors_ = 0;
  bool stepOpen_ = false;
  RunEnd end_ = RunEnd::Completed;
  StepInfo step_;
  LinkStatus link_;       // the link as the last command left it
  LinkEvent drop_;        // the last drop, while the link is gone
  bool lostTold_ = false; // a Lost event was given
  QByteArray date_;  // "dd-mm-yy" of the pass
  QByteArray time_;  // "hh:mm" of the pass
};

// The 240-character display sample (the 120-character series twice) and its
// window i (0..119): the 20 characters from position i. The customer display
// page sends the same sample.
const QString& DisplaySample();
QString DisplayWindow(int i);

// The date and time of the log's header and summary: the PC locale's short
// date and the time to the second; "dd.MM.yyyy hh:mm:ss" under the C locale.
QString DateTimeText(const QDateTime& when);

// The lines of the receipt header programmed at every start (0 to 7).
QString HeaderLine(int line);

// The page's rules for its inputs: the number of passes (a whole number, at
// least 1) and the pause in ms (a whole number, at least 0). False with the
// page's own message when the text breaks them.
bool ReadPasses(const QString& text, int* passes, QString* message);
bool ReadPause(const QString& text, int* pause, QString* message);

// Why the register's state forbids the test, a line per reason as the
// invalid-state dialog shows them; none when the test may run.
QStringList ReadinessProblems(uint32_t errorFlags);
// The invalid-state dialog's title.
QString InvalidStateTitle();
// The message when the register's diagnostic answer could not be had.
QString InfoErrorText();

}  // namespace regtest
