// The record of one register's test run (JSON) and the JUnit XML made from
// records: what a station operator or a CI server keeps of a run.
#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>
#include <vector>

#include "driver/trace.h"
#include "history/clock.h"
#include "history/history.h"
#include "regtest/scenario.h"
#include "station/options.h"

namespace station {

// Collects a run: the steps from the scenario, the commands and the
// register's identity from the driver's exchange observer (which it holds,
// passing every exchange on to the observer set before it, from Attach to
// Detach).
class Recorder {
 public:
  explicit Recorder(const RunOptions& options) : o_(options) {}
  ~Recorder() { Detach(); }
  void Attach();
  void Detach();

  void StepBegun(const regtest::StepInfo& step);
  void StepEnded(const regtest::StepInfo& step, int errorsAfter);
  void RunEnded(regtest::RunEnd end, int errors);
  void Link(const regtest::LinkEvent& event);
  // The drop the link did not come back from within its pass, if any.
  const std::optional<regtest::LinkEvent>& linkLost() const { return linkLost_; }
  void Message(const QString& text) { messages_ << text; }

  std::optional<regtest::RunEnd> end() const { return end_; }
  int errors() const { return errors_; }
  void setDevice(const QString& device) { device_ = device; }
  void setEnded() { ended_ = QDateTime::currentDateTime(); }
  // The run's id in the history and the station that ran it.
  void setHistory(const QString& runId, const QString& station) {
    runId_ = runId;
    station_ = station;
  }

  QJsonObject Json(const QString& verdict, int exitStatus) const;

 private:
  using SteadyClock = std::chrono::steady_clock;
  struct CommandRecord {
    int code = 0;
    uint32_t flags = 0;
    int durationMs = 0;
  };
  struct StepRecord {
    regtest::StepKind kind = regtest::StepKind::Status;
    QString title;
    SteadyClock::time_point started;
    qint64 durationMs = 0;
    int errorsBefore = 0;
    int errorsAfter = 0;
    bool ended = false;
    std::vector<CommandRecord> commands;
  };
  using Reading = history::ClockReading;
  struct PassRecord {
    int number = 0;
    bool completed = false;
    std::vector<StepRecord> steps;
    std::vector<Reading> readings;
  };

  static void OnExchange(const ExchangeTrace& t, void* context);
  void Exchange(const ExchangeTrace& t);
  StepRecord* OpenStep();
  static QJsonArray Commands(const std::vector<CommandRecord>& commands);
  QJsonArray Steps(const PassRecord& pass) const;
  // The pass's clock readings and rate; a rate is added to `sum`.
  static QJsonObject PassClock(const PassRecord& pass, history::RateSum* sum);

  const RunOptions& o_;
  ExchangeHook hook_;  // from Attach to Detach
  QJsonObject identity_;
  bool identityDiagnostic_ = false;
  bool identityTax_ = false;
  std::vector<CommandRecord> startCommands_;
  std::vector<PassRecord> passes_;
  struct Drop {
    regtest::LinkEvent went;
    QDateTime back;  // null: it did not come back
    int failedCommands = 0;
  };
  std::vector<Drop> drops_;
  std::optional<regtest::LinkEvent> linkLost_;
  std::optional<regtest::RunEnd> end_;
  int errors_ = 0;
  QStringList messages_;
  QDateTime started_ = QDateTime::currentDateTime();
  QDateTime ended_;
  QString device_;
  QString runId_;
  QString station_;
};

// The machine name of a step's kind ("timer", "fiscal_receipt", ...).
inline const char* StepKindName(regtest::StepKind kind) { return history::StepKindName(kind); }

// JUnit XML of the records: a test suite per register (named after its
// port), a test case per step of every pass that ran (classname
// "km4410r.PORT", name "pass N: TITLE") with its duration and, for a failed
// step, a failure naming the first error of its commands. A run that
// reached no step is one failed test case "connection and start".
QByteArray JUnitXml(const QList<QJsonObject>& records);

}  // namespace station
