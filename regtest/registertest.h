// The register test: an unattended acceptance test of the register, a fixed
// scenario of commands repeated for a number of passes, written step by step
// to the log of the page "Тест РРО" (TabSheet1), failures counted.
//
// A run is one call of TForm1::Button3Click on the user-interface thread; it
// pauses between steps and notices Stop only when it lets the window process
// its pending messages (the stop checks).
#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>

class TForm1;
struct RetData;

namespace regtest {

// The 240-character display sample (the 120-character series twice) and its
// window i (0..119): the 20 characters from position i.
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

// The timer check's wait between its two clock readings (60 s). Tests and
// benchmarks shorten it; ms <= 0 restores the minute.
void SetTimerWaitForTests(int ms);

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

// A watcher of the register test (the run without a screen sets one): every
// line as it is appended to the log, each step as it starts, and the end of
// the run with the run's error total at that moment. The window does not
// depend on it; without one nothing is reported.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void LogLine(const QString& line) = 0;
  // pass 1..passes; the title as the page's progress line shows it.
  virtual void StepStarted(int pass, int passes, const QString& title) = 0;
  virtual void RunEnded(RunEnd end, int errors) = 0;
};
// Sets the watcher (nullptr: none); returns the previous one.
RunObserver* SetRunObserver(RunObserver* observer);
// The watcher set, or nullptr.
RunObserver* CurrentRunObserver();

class Run {
 public:
  explicit Run(TForm1& form) : f_(form) {}
  // The whole run: checks, header, passes, summary (or a stop or an abort).
  void Start();

 private:
  enum class After { Scroll, BlankLine, Nothing };
  // One step of the common pattern. `logAnswer`: the answer text goes to the
  // log before the success text. False when the run ended at the stop check.
  bool Step(const QString& title, const std::function<int()>& send, bool logAnswer,
            const QString& success, const QString& failure, After after);
  bool Pass();
  bool PhaseOne();
  bool PhaseTwo();
  bool NonFiscalReceipt();
  bool LowerDisplayRow();
  bool UpperDisplayRow();
  // The fiscal and the return receipt: the same steps with their own values
  // and texts.
  struct ReceiptSteps {
    QString title;
    int (*open)(void* window, void (*handler)(RetData&), int param, uint32_t op,
                const char* password, uint32_t till);
    double quantity, percent, amount;  // of the sale
    bool subtotal;                     // with a subtotal before the payment
    double payment;
    QString openFailure, saleFailure, closeFailure, success;
  };
  bool Receipt(const ReceiptSteps& steps);
  bool FiscalReceipt();
  bool ReturnReceipt();
  bool TimerCheck();
  void Summary();

  // Sends with the error counter reset first; true when the command succeeded.
  bool Command(const std::function<int()>& send);
  // Appends to the log and keeps its last line in view.
  void Log(const QString& line);
  void Scroll();
  void RepaintAndScroll();
  void Pause();
  void Fail();
  // Processes pending messages; when Stop was pressed, logs it and ends the run.
  bool StopCheck();
  // Ends the run after a failure that leaves a receipt unfinished.
  bool Abort();
  void Refuse();
  void Progress(const QString& title);
  void Ended(RunEnd end);

  TForm1& f_;
  int passes_ = 0;
  int pause_ = 0;
  int pass_ = 0;
  QByteArray date_;  // "dd-mm-yy" of the pass
  QByteArray time_;  // "hh:mm" of the pass
};

}  // namespace regtest
