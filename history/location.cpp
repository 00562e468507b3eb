#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include "history/location_internal.h"
#include "history/history.h"

namespace history {

QString DefaultSqlitePath() {
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#ifdef _WIN32
  return data + QStringLiteral("/KM4410R/history.sqlite");
#else
  return data + QStringLiteral("/km4410r/history.sqlite");
#endif
}

bool ParseServerUrl(const QString& url, ServerAddress* address, QString* refusal) {
  static const QRegularExpression form(QStringLiteral(
      "^postgresql://([^@/:?#\\s]+)(:[^@/]*)?@([A-Za-z0-9._-]+|\\[[0-9A-Fa-f:.]+\\])(?::([0-9]{1,5}))?/([^/?#\\s]+)$"));
  const QRegularExpressionMatch m = form.match(url);
  const auto refuse = [refusal](const QString& why) {
    if (refusal) *refusal = why;
    return false;
  };
  if (!m.hasMatch())
    return refuse(QStringLiteral("'%1' is not postgresql://USER@HOST[:PORT]/DB").arg(url));
  if (m.capturedLength(2) > 0)
    return refuse(QStringLiteral("'%1': a password does not go into the URL; PostgreSQL reads it from "
                                 "~/.pgpass (%APPDATA%\\postgresql\\pgpass.conf) or PGPASSWORD")
                      .arg(url.left(url.indexOf(QLatin1Char(':'), 13)) + QStringLiteral(":***@...")));
  const int port = m.captured(4).isEmpty() ? 5432 : m.captured(4).toInt();
  if (port < 1 || port > 65535) return refuse(QStringLiteral("'%1': the port is 1 to 65535").arg(url));
  if (address) {
    address->user = m.captured(1);
    address->host = m.captured(3);
    if (address->host.startsWith(QLatin1Char('['))) address->host = address->host.mid(1, address->host.size() - 2);
    address->port = port;
    address->database = m.captured(5);
  }
  return true;
}

bool ParseLocation(const QString& where, Location* location, QString* refusal) {
  const auto refuse = [refusal](const QString& why) {
    if (refusal) *refusal = QStringLiteral("history: ") + why;
    return false;
  };
  Location l;
  if (where == QLatin1String("none")) {
    *location = l;
    return true;
  }
  if (where.trimmed().isEmpty()) return refuse(QStringLiteral("an empty WHERE (none, a file or postgresql://USER@HOST[:PORT]/DB)"));
  if (where.contains(QStringLiteral("://"))) {
    QString why;
    if (!where.startsWith(QLatin1String("postgresql://")))
      return refuse(QStringLiteral("'%1': only a file or postgresql://USER@HOST[:PORT]/DB").arg(where));
    if (!ParseServerUrl(where, nullptr, &why)) return refuse(why);
    l.localPath = DefaultSqlitePath();
    l.remoteUrl = where;
  } else {
    const QFileInfo info(where);
    if (info.isDir()) return refuse(QStringLiteral("%1 is a folder, not a file").arg(QDir::toNativeSeparators(where)));
    l.localPath = info.absoluteFilePath();
  }
  *location = l;
  return true;
}

bool ChooseLocation(const QString& option, const QString& saved, Location* location, QString* refusal) {
  if (!option.isEmpty()) return ParseLocation(option, location, refusal);
  const QString env = qEnvironmentVariable(kEnvironmentVariable);
  if (!env.isEmpty()) return ParseLocation(env, location, refusal);
  if (!saved.isEmpty()) return ParseLocation(saved, location, refusal);
  location->localPath = DefaultSqlitePath();
  location->remoteUrl.clear();
  return true;
}

}  // namespace history
