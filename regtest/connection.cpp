#include "regtest/connection.h"

#include <QFile>
#include <QRegularExpression>
#include <cerrno>

#include "driver/printer.h"

namespace regtest {

namespace {

// Why the virtual port folder is not used, for the connection failure message.
QString PortFolderProblem(int check) {
  switch (check) {
    case kFolderNotADirectory:
      return QStringLiteral("папка виртуальных портов является ссылкой или не папкой; удалите её");
    case kFolderNotOwned:
      return QStringLiteral(
          "папка виртуальных портов принадлежит другому пользователю; удалите её "
          "или задайте XDG_RUNTIME_DIR");
    case kFolderOpenToOthers:
      return QStringLiteral(
          "в папку виртуальных портов могут писать другие пользователи; выполните chmod 700");
    default:
      return QStringLiteral("папку виртуальных портов нельзя открыть");
  }
}

}  // namespace

int OpenNamedPort(const QString& name, int baud) {
  if (name.startsWith(QLatin1Char('/'))) return OpenPortPath(QFile::encodeName(name).constData(), baud);
  static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,2})$"));
  const QRegularExpressionMatch m = com.match(name);
  return OpenPort(m.hasMatch() ? m.captured(1).toInt() : 0, baud);
}

QString PortOpenFailure(const QString& typed) {
  const QString first = QStringLiteral("Невозможно подключить порт\n");
  // A typed text that is neither an item nor a path is named as typed (the
  // driver knows it only as port 0).
  if (!typed.isNull() && typed.isEmpty()) return first + QStringLiteral("порт не выбран");
  const int error = GetLastPortError();
  const QString device = typed.isNull() ? QFile::decodeName(GetLastPortDevice()) : typed;
  QString reason;
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      reason = QStringLiteral("устройство не найдено");
      break;
    case EACCES:
    case EPERM:
      reason = QStringLiteral(
          "нет прав доступа. Добавьте пользователя в группу dialout "
          "(sudo usermod -aG dialout $USER) и войдите в систему заново");
      break;
    case EBUSY:
    case EWOULDBLOCK:
      reason = QStringLiteral("порт занят другой программой");
      break;
    case kPortErrorFolder:
      reason = PortFolderProblem(GetLastPortFolderCheck());
      break;
    default:
      reason = QString::fromLocal8Bit(GetLastPortErrorText());
      break;
  }
  return first + QStringLiteral("%1: %2").arg(device, reason);
}

}  // namespace regtest
