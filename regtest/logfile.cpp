#include "regtest/logfile.h"

#include <QFileInfo>

#include "base/cp1251text.h"
#include "regtest/logfile_platform.h"
#include "regtest/testing.h"

namespace regtest {

namespace {
LogWriter gWriter = nullptr;
}  // namespace

void SetLogWriterForTests(LogWriter writer) { gWriter = writer; }

bool detail::WriteAll(const QByteArray& bytes, const PlatformWrite& write, SaveError* error) {
  long long done = 0;
  const long long size = bytes.size();
  while (done < size) {
    const long long n = gWriter ? gWriter(bytes.constData() + done, size - done, error)
                                : write(bytes.constData() + done, size - done, error);
    if (n <= 0) {
      if (*error == SaveError::None) *error = SaveError::NoSpace;
      return false;
    }
    done += n;
  }
  return true;
}

QString SaveErrorText(SaveError error, const QString& other) {
  switch (error) {
    case SaveError::None: return QString();
    case SaveError::NoSpace: return QStringLiteral("на диске нет места");
    case SaveError::NoRights: return QStringLiteral("нет прав на запись в эту папку");
    case SaveError::ReadOnly: return QStringLiteral("диск доступен только для чтения");
    case SaveError::NoFolder: return QStringLiteral("папка не существует");
    case SaveError::BadPath: return QStringLiteral("путь к файлу неверен");
    case SaveError::IsFolder: return QStringLiteral("это папка, а не файл");
    case SaveError::Io: return QStringLiteral("ошибка ввода-вывода");
    case SaveError::NameTooLong: return QStringLiteral("слишком длинное имя файла");
    case SaveError::Other: break;
  }
  return other.isEmpty() ? QStringLiteral("ошибка записи") : other;
}

QByteArray LogFileBytes(const QStringList& lines) {
  QByteArray bytes;
  for (const QString& line : lines) {
    bytes += toCp1251(line);
    bytes += "\r\n";
  }
  return bytes;
}

QByteArray LogFileBytesUtf8(const QStringList& lines) {
  QByteArray bytes;
  for (const QString& line : lines) {
    bytes += line.toUtf8();
    bytes += "\r\n";
  }
  return bytes;
}

bool SaveLogFile(const QString& path, const QStringList& lines, QString* reason) {
  return SaveFileBytes(path, LogFileBytes(lines), reason);
}

bool SaveFileBytes(const QString& path, const QByteArray& bytes, QString* reason) {
  SaveError error = SaveError::None;
  QString other;
  if (path.isEmpty()) {
    error = SaveError::NoFolder;
  } else {
    // A link is followed, so that the file it names is replaced, not the link.
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink() && info.exists()) target = info.canonicalFilePath();
    if (QFileInfo(target).isDir())
      error = SaveError::IsFolder;
    else if (detail::WriteReplacing(target, bytes, &error, &other))
      return true;
  }
  if (reason) *reason = SaveErrorText(error, other);
  return false;
}

}  // namespace regtest
