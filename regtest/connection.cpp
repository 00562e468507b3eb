#include "regtest/connection.h"

#include <QFile>

#include "driver/flags.h"
#include "driver/printer.h"

namespace regtest {

int OpenNamedPort(const QString& name, int baud) {
  return OpenPortByName(QFile::encodeName(name).constData(), baud);
}

QString PortOpenFailure(const QString& typed) {
  const QString first = QStringLiteral("Невозможно подключить порт\n");
  if (!typed.isNull() && typed.isEmpty()) return first + QStringLiteral("порт не выбран");
  const QString device = typed.isNull() ? QFile::decodeName(GetLastPortDevice()) : typed;
  return first + QStringLiteral("%1: %2").arg(device, QString::fromUtf8(GetLastPortErrorText(kPortTextRussian)));
}

void ApplySwitchSettings(const RetData& answer) {
  DiagnosticInfo info{};
  ParseDiagnosticInfo(answer, &info);  // no switch field: "", which never matches
  SetNoTranslation(SwitchesMeanNoTranslation(info.switches) ? 1 : 0);
}

QString RefusalText() {
  const char* why = RefusalMessage(GetLastRefusal());
  return QString::fromUtf8(why ? why : RefusalMessage(kRefusalBadData));
}

}  // namespace regtest
