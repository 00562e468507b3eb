#include "history/clock.h"

#include <QDate>
#include <QStringList>
#include <QTime>

#include "base/cp1251text.h"

namespace history {

ClockRate RateOf(long long registerSeconds, double pcSeconds) {
  ClockRate r;
  if (!(pcSeconds > 0)) return r;
  r.valid = true;
  r.rate = (static_cast<double>(registerSeconds) - pcSeconds) / pcSeconds * 86400.0;
  r.resolution = 1.0 / pcSeconds * 86400.0;
  return r;
}

bool RegisterSeconds(const QString& text, long long* secs) {
  const QStringList parts = text.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (parts.size() != 2) return false;
  const QDate date = QDate::fromString(parts[0], QStringLiteral("dd-MM-yy"));
  const QTime time = QTime::fromString(parts[1], QStringLiteral("HH:mm:ss"));
  if (!date.isValid() || !time.isValid()) return false;
  *secs = date.toJulianDay() * 86400LL + time.msecsSinceStartOfDay() / 1000;
  return true;
}

ClockReading ReadClock(const RetData* answer, bool ok, qint64 pcMs) {
  ClockReading r;
  r.ok = ok && answer;
  r.text = r.ok ? fromCp1251(answer->AnswerText) : QString();
  r.parsed = r.ok && RegisterSeconds(r.text, &r.registerSecs);
  r.pc = QDateTime::fromMSecsSinceEpoch(pcMs);
  return r;
}

PassRate RateOfPass(const std::vector<ClockReading>& readings) {
  PassRate p;
  if (readings.size() != 2 || !readings[0].parsed || !readings[1].parsed) return p;
  p.pcSecs = readings[0].pc.msecsTo(readings[1].pc) / 1000.0;
  p.registerSecs = readings[1].registerSecs - readings[0].registerSecs;
  p.rate = RateOf(p.registerSecs, p.pcSecs);
  return p;
}

void RateSum::Add(const ClockRate& r) {
  if (!r.valid) return;
  rate += r.rate;
  resolution += r.resolution;
  ++measured;
}

ClockRate RateSum::Mean() const {
  ClockRate r;
  if (measured == 0) return r;
  r.valid = true;
  r.rate = rate / measured;
  r.resolution = resolution / measured;
  return r;
}

void ClockPasses::Add(int pass, const ClockReading& reading) {
  if (passes_.empty() || passes_.back().first != pass) passes_.push_back({pass, {}});
  passes_.back().second.push_back(reading);
}

ClockRate ClockPasses::Mean() const {
  RateSum sum;
  for (const auto& p : passes_) sum.Add(RateOfPass(p.second).rate);
  return sum.Mean();
}

}  // namespace history
