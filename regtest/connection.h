// Connecting to the register, as the main window's "Подключить" does and the
// run without a screen does the same way: the port opened by its name, the
// failure told in the window's words.
#pragma once
#include <QString>

#include "driver/printer.h"

namespace regtest {

// Opens the port named as the user gives it: "COMn", a device path or a
// network port (tcp://HOST:PORT, rfc2217://HOST:PORT).
// The port handle, or -1 (the reason in the driver's last port error).
int OpenNamedPort(const QString& name, int baud);

// The message for a port that did not open: "Невозможно подключить порт",
// the device and the reason. `typed` names a typed text that is no port name
// (null otherwise).
QString PortOpenFailure(const QString& typed = QString());

// The register's switch settings (field 4 of a diagnostic answer) decide
// whether texts are translated; an answer without them means translation.
void ApplySwitchSettings(const RetData& diagnosticAnswer);

// Why the driver refused the last command (nothing went on the line): the
// port is not open, another exchange runs, or the data are invalid or too long.
QString RefusalText();

}  // namespace regtest
