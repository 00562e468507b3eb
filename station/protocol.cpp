#include "station/protocol.h"

#include <QStringList>

namespace station {

namespace {
const QString kProgressTag = QStringLiteral("@progress");
}

QString ProgressLine(int pass, int passes, int errors, const QString& title) {
  QString oneLine = title;
  oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return QStringLiteral("%1 %2 %3 %4 %5").arg(kProgressTag).arg(pass).arg(passes).arg(errors).arg(oneLine);
}

bool ParseProgressLine(const QString& line, Progress* p) {
  const QStringList parts = line.split(QLatin1Char(' '));
  if (parts.size() < 5 || parts[0] != kProgressTag) return false;
  bool ok1 = false, ok2 = false, ok3 = false;
  Progress out;
  out.pass = parts[1].toInt(&ok1);
  out.passes = parts[2].toInt(&ok2);
  out.errors = parts[3].toInt(&ok3);
  if (!ok1 || !ok2 || !ok3) return false;
  out.title = parts.mid(4).join(QLatin1Char(' '));
  *p = out;
  return true;
}

}  // namespace station
