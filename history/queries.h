// What the history tells of a register: the registers seen, one register's
// header, its runs, the faults that recur across its visits, its service
// journal; and over all registers the failure rate per firmware per week.
// Read from the local file or from the shared server.
#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "history/history.h"

namespace history {

struct RegisterSeen {
  QString serial, fiscalNumber, firmware;
  qint64 lastSeenMs = 0;
};

struct RegisterHeader {
  bool found = false;
  QString serial, fiscalNumber, taxNumber, firmware, firmwareDate;
  qint64 firstSeenMs = 0, lastSeenMs = 0;
  int visits = 0;        // its runs and the days with service events
  QStringList stations;  // the host names, as first seen
};

struct RunRow {
  QString id, serial, station, port, kind, firmware, firmwareDate, verdict;
  int speed = 0;
  qint64 startMs = 0, endMs = 0;  // endMs 0: never ended (the run was cut short)
  int utcOffsetMin = 0;
  int passesAsked = 0, passesDone = 0, errors = 0;
  std::optional<double> clockRate, clockResolution;
  qint64 flagsStart = 0, flagsEnd = 0;
  bool firmwareChanged = false;  // its firmware differs from the run before it
};

// A fault of a register's runs: an error flag or a command that failed.
struct Fault {
  bool command = false;  // a command (code) or an error flag (flag)
  int code = 0;
  uint32_t flag = 0;
  QString name;          // the command's name or the flag's machine name
  int runs = 0;          // the runs it happened in
  int times = 0;         // how often in all
  bool lastRun = false;     // it happened in the newest run
  bool asLastTime = false;  // in the newest run and in the one before it
};

struct ServiceEvent {
  QString id, station, command, data, outcome, message;
  qint64 atMs = 0;
  int utcOffsetMin = 0;
  int code = 0;
  qint64 flags = 0;
};

struct FirmwareWeek {
  QString firmware;
  qint64 weekStartMs = 0;  // Thursday 1 January 1970 plus whole weeks, UTC
  int runs = 0, failed = 0;
};

struct ReaderImpl;

class Reader {
 public:
  explicit Reader(Store& store);             // the local file of an opened store
  explicit Reader(const QString& serverUrl);  // the shared server, its schema checked
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  bool ok() const;
  // The last failure, naming the file or the server; empty when none.
  QString error() const;

  QList<RegisterSeen> Registers(int limit = 500);  // newest first
  RegisterHeader Header(const QString& serial);
  QList<RunRow> Runs(const QString& serial, int limit = 0);  // newest first; 0: all
  // The newest run of the register that started before `runId` did, other than it.
  std::optional<RunRow> RunBefore(const QString& serial, const QString& runId);
  QList<Fault> Faults(const QString& serial);  // most runs first
  QList<ServiceEvent> Journal(const QString& serial);  // newest first
  QList<FirmwareWeek> FailureRates(qint64 sinceMs);  // by firmware, then week

 private:
  std::unique_ptr<ReaderImpl> d_;
};

// The shared server's history when the store names one and it answers, else
// the store's own file; `fallback` then says why the server was not read
// (empty when it was, or when there is none).
std::unique_ptr<Reader> OpenReader(Store& store, QString* fallback);

}  // namespace history
