// The register's clock against the PC's: the timer check reads the
// register's date and time twice a pass; the rate is register seconds
// against PC seconds between the two readings, in seconds per day, with its
// resolution (the readings are whole seconds: ±1 s over the PC's interval).
// The run's record and its history both take it from here.
#pragma once
#include <QDateTime>
#include <QString>
#include <vector>

#include "driver/printer.h"

namespace history {

struct ClockRate {
  bool valid = false;
  double rate = 0;        // s/day, positive: the register's clock runs fast
  double resolution = 0;  // ± s/day
};

// The rate from register seconds against PC seconds; invalid when the PC's
// interval is not positive.
ClockRate RateOf(long long registerSeconds, double pcSeconds);

// Seconds of a register's clock text "DD-MM-YY HH:MM:SS" on a running count.
bool RegisterSeconds(const QString& text, long long* secs);

// One reading of the register's clock.
struct ClockReading {
  bool ok = false;
  QString text;                // the register's answer, DD-MM-YY HH:MM:SS
  long long registerSecs = 0;  // its seconds on a day count
  bool parsed = false;
  QDateTime pc;                // the PC's time when the answer had come
};
// The reading of a date-and-time answer that came at `pcMs` (UTC ms).
ClockReading ReadClock(const RetData* answer, bool ok, qint64 pcMs);

// A pass's rate from its readings (exactly two, both parsed), with the two
// intervals it was taken from.
struct PassRate {
  ClockRate rate;
  long long registerSecs = 0;
  double pcSecs = 0;
};
PassRate RateOfPass(const std::vector<ClockReading>& readings);

// The mean of the passes' rates; each is known to ±1 s over its interval,
// and so is their mean.
struct RateSum {
  double rate = 0, resolution = 0;
  int measured = 0;
  void Add(const ClockRate& r);
  ClockRate Mean() const;
};

// The readings of a run, pass by pass, and the run's rate.
class ClockPasses {
 public:
  void Add(int pass, const ClockReading& reading);
  ClockRate Mean() const;

 private:
  std::vector<std::pair<int, std::vector<ClockReading>>> passes_;
};

}  // namespace history
