// A register's history: every register test (the window's, --run-test, each
// register of --ports) and every service visit, kept in a database through Qt
// SQL. One code path, two drivers: an SQLite file on every PC, written first
// and always; a PostgreSQL server shared by a line of stations, to which an
// uploader copies what is not yet there, one transaction per run, idempotent
// by the run's id.
//
// A failure of the history never fails or stops a register test: it is said
// once (the problem handler) and the run goes on.
//
// A Store and the writers on it belong to the thread that made the Store
// (Qt SQL's connections are per thread).
#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "driver/trace.h"
#include "history/clock.h"
#include "regtest/scenario.h"

namespace history {

// ---- where -------------------------------------------------------------------------------

// Where the history is kept.
struct Location {
  QString localPath;  // the SQLite file; empty: nothing is kept
  QString remoteUrl;  // postgresql://USER@HOST[:PORT]/DB, the shared server; empty: none
  bool none() const { return localPath.isEmpty(); }
};

// The environment variable that overrides the window's setting for one run.
inline constexpr char kEnvironmentVariable[] = "KM4410R_HISTORY";

// The SQLite file when nothing else is said: the user's data folder,
// ~/.local/share/km4410r/history.sqlite, %LOCALAPPDATA%\KM4410R\history.sqlite.
QString DefaultSqlitePath();

// WHERE as --history, KM4410R_HISTORY and the window's setting give it:
// "none", a path to an SQLite file, or postgresql://USER@HOST[:PORT]/DB (the
// default file as the local store and that server as the shared one). False
// with a one-line refusal for anything else (a password in the URL above all).
bool ParseLocation(const QString& where, Location* location, QString* refusal);

// The location of one run: `option` (--history's WHERE; empty when not
// given), else KM4410R_HISTORY, else `saved` (the window's setting), else
// the default file.
bool ChooseLocation(const QString& option, const QString& saved, Location* location, QString* refusal);

// ---- what is kept --------------------------------------------------------------------------

// A run's verdict as kept.
inline constexpr char kVerdictPassed[] = "passed";
inline constexpr char kVerdictFailed[] = "failed";
inline constexpr char kVerdictAborted[] = "aborted";  // also a run cut short (its end never written)
inline constexpr char kVerdictNotReady[] = "not ready";
inline constexpr char kVerdictLinkLost[] = "link lost";

// The verdict of a scenario's end with its error total.
const char* VerdictOf(regtest::RunEnd end, int errors);

// The machine name of a step's kind ("timer", "fiscal_receipt", ...), as
// the run's record and the history write it.
const char* StepKindName(regtest::StepKind kind);

// Who runs the test where.
struct StationInfo {
  QString host;         // the PC's host name
  QString toolVersion;  // "km4410r 1.0.0"
  QString port;         // as the user named it
  int speed = 0;
  QString login;        // the person's login
};
// This PC's host name and the person's login, with the tool's version, the port and speed.
StationInfo ThisStation(const QString& toolVersion, const QString& port, int speed);

enum class RunKind { Window, RunTest, Ports };
const char* RunKindName(RunKind kind);  // "window", "run-test", "ports"

// The register's identity from the answers the tool reads anyway: the first
// good diagnostic answer (0x5A) and the tax number (0x63).
struct Identity {
  QString serial;
  QString fiscalNumber;
  QString taxNumber;
  QString firmware;
  QString firmwareDate;
};
// Fields 0 (firmware), 1 (its date), 6 (serial) and 7 (fiscal number) of a
// diagnostic answer; false when it carries an error or no serial.
bool ReadDiagnosticIdentity(const RetData& answer, Identity* identity);

// ---- the store -----------------------------------------------------------------------------

struct StoreImpl;

class Store {
 public:
  explicit Store(const Location& location);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Opens the local file: made with its folder on first use, its schema
  // migrated. False when it cannot be used (problem() says why, naming the
  // file); a location of none opens nothing and is false without a problem.
  bool Open();
  bool usable() const;
  const Location& location() const;

  // The first failure, in a sentence naming the file or the server; empty
  // when none. The handler hears each failure once, as it happens.
  QString problem() const;
  void SetProblemHandler(std::function<void(const QString&)> handler);

  // The store the window and the station use, when one is set (not owned).
  static Store* Shared();
  static void SetShared(Store* store);

  // ---- the shared server ----
  struct Waiting {
    int runs = 0;          // ended runs not yet sent
    int events = 0;        // service events not yet sent
    QString lastFailure;   // why the last upload failed, the server named; empty when it did not
  };
  Waiting Queue() const;

  struct SyncResult {
    bool ok = false;     // everything waiting was sent
    int runsSent = 0;
    int eventsSent = 0;
    int runsWaiting = 0;
    QString failure;     // the server named and why; empty when ok
  };
  // Sends the runs and service events not yet on the shared server, oldest
  // first, one transaction per run, until all are sent or `deadlineMs` (0:
  // none) has passed. Nothing to do without a shared server.
  SyncResult Sync(int deadlineMs = 0);

  StoreImpl* impl() const { return d_.get(); }

 private:
  std::unique_ptr<StoreImpl> d_;
};

// Creates or migrates the history's schema on a shared server (the one step
// that needs CREATE rights). False with the reason; `message` says what was done.
bool InitServer(const QString& url, QString* message);

// A line of text for the user about an upload's outcome ("sent 3 runs ...").
QString SyncText(const Store::SyncResult& result, const QString& url);

// ---- a run ---------------------------------------------------------------------------------

// Writes one register test as it goes: its row at Start (as "aborted" until
// its end is written, so that a run cut short stays aborted), the register's
// identity when its answers come, each step as it ends with its failed
// commands, the end. Holds the driver's exchange observer from Attach to
// Detach, passing every exchange on to the observer set before it.
class RunWriter {
 public:
  explicit RunWriter(Store* store);  // null or unusable: nothing is written
  ~RunWriter();
  RunWriter(const RunWriter&) = delete;
  RunWriter& operator=(const RunWriter&) = delete;

  void Start(const StationInfo& station, int passesAsked, RunKind kind);
  void Attach();
  void Detach();
  void StepBegun(const regtest::StepInfo& step);
  void StepEnded(const regtest::StepInfo& step, int errorsAfter);
  // A link that stayed away to the end of a pass makes the verdict "link
  // lost" (regtest::LinkLostDecides).
  void Link(const regtest::LinkEvent& event) {
    if (event.kind == regtest::LinkEvent::Lost) linkLost_ = true;
  }
  void Ended(regtest::RunEnd end, int errors);
  // The end of a run that never reached the scenario (the port not opened,
  // no answer): one of the verdicts above.
  void EndedWith(const char* verdict, int errors);

  const QString& runId() const { return runId_; }
  const Identity& identity() const { return identity_; }
  // One exchange, from an observer of the caller's own instead of Attach.
  void Observe(const ExchangeTrace& t) { Exchange(t); }

 private:
  struct Step;
  static void OnExchange(const ExchangeTrace& t, void* context);
  void Exchange(const ExchangeTrace& t);
  void WriteStep(int errors);
  void Finish(const char* verdict, int errors, int passesDone);

  Store* store_;
  QString runId_;
  qint64 startMs_ = 0;
  ExchangeHook hook_;  // from Attach to Detach
  Identity identity_;
  bool identityRead_ = false;
  bool taxRead_ = false;
  bool flagsStartSeen_ = false;
  uint32_t flagsEnd_ = 0;
  int pass_ = 0;
  int stepIndex_ = 0;
  bool stepOpen_ = false;
  regtest::StepKind stepKind_ = regtest::StepKind::Status;
  int stepErrorsBefore_ = 0;
  qint64 stepStartedMs_ = 0;  // steady clock
  struct Failed {
    int code;
    uint32_t flags;
    QString message;
  };
  std::vector<Failed> failed_;  // the open step's failed commands
  int failedSeq_ = 0;
  ClockPasses clock_;
  bool ended_ = false;
  bool linkLost_ = false;
};

// ---- a service visit -----------------------------------------------------------------------

// The register's service journal: from Attach to Detach (while a register is
// connected and no test runs) every command that changes the register (its
// date and time, tax rates, passwords and cashiers, network settings, the
// drawer and service cash, articles programmed or deleted, a receipt
// cancelled, the Z report and the periodic reports) with its outcome,
// attributed to the serial number of the connection's diagnostic answer.
// Passwords in the data sent are kept as "***".
class ServiceJournal {
 public:
  ServiceJournal(Store* store, const StationInfo& station);
  ~ServiceJournal();
  ServiceJournal(const ServiceJournal&) = delete;
  ServiceJournal& operator=(const ServiceJournal&) = delete;

  void Attach();
  void Detach();
  // The connected register, when its diagnostic answer came before Attach
  // (a good diagnostic answer seen while attached sets it too).
  void SetRegister(const Identity& identity);

  // One exchange, from an observer of the caller's own instead of Attach.
  void Observe(const ExchangeTrace& t) { Exchange(t); }

  // Whether a command with the data sent changes the register.
  static bool Changes(int code, const QString& sentData);
  // The data as kept: passwords replaced by "***".
  static QString Redacted(int code, const QString& sentData);

 private:
  static void OnExchange(const ExchangeTrace& t, void* context);
  void Exchange(const ExchangeTrace& t);

  Store* store_;
  StationInfo station_;
  QString serial_;
  ExchangeHook hook_;  // from Attach to Detach
};

}  // namespace history
