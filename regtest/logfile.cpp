#include "regtest/logfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include "base/cp1251text.h"

namespace regtest {

namespace {

LogWriter gWriter = nullptr;

ssize_t WriteSome(int fd, const char* data, size_t size) {
  return gWriter ? gWriter(fd, data, size) : ::write(fd, data, size);
}

QString Reason(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT: return QStringLiteral("на диске нет места");
    case EACCES:
    case EPERM: return QStringLiteral("нет прав на запись в эту папку");
    case EROFS: return QStringLiteral("диск доступен только для чтения");
    case ENOENT: return QStringLiteral("папка не существует");
    case ENOTDIR: return QStringLiteral("путь к файлу неверен");
    case EISDIR: return QStringLiteral("это папка, а не файл");
    case EIO: return QStringLiteral("ошибка ввода-вывода");
    case ENAMETOOLONG: return QStringLiteral("слишком длинное имя файла");
    default: return QString::fromLocal8Bit(strerror(error));
  }
}

}  // namespace

void SetLogWriterForTests(LogWriter writer) { gWriter = writer; }

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
  const auto fail = [reason](int error) {
    if (reason) *reason = Reason(error);
    return false;
  };
  if (path.isEmpty()) return fail(ENOENT);
  // A link is followed, so that the file it names is replaced, not the link.
  QString target = path;
  const QFileInfo info(path);
  if (info.isSymLink() && info.exists()) target = info.canonicalFilePath();
  if (QFileInfo(target).isDir()) return fail(EISDIR);

  const QByteArray finalName = QFile::encodeName(target);
  QByteArray tempName = finalName + ".XXXXXX";
  const int fd = ::mkstemp(tempName.data());
  if (fd < 0) return fail(errno);

  // The new file gets the old one's permissions, or the usual ones.
  struct stat st;
  mode_t mode;
  if (::stat(finalName.constData(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }

  int error = 0;
  size_t done = 0;
  while (done < static_cast<size_t>(bytes.size())) {
    const ssize_t n = WriteSome(fd, bytes.constData() + done, static_cast<size_t>(bytes.size()) - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      error = n < 0 ? errno : ENOSPC;  // a write that takes nothing: the disk is full
      break;
    }
  }
  if (error == 0 && ::fchmod(fd, mode) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(tempName.constData(), finalName.constData()) != 0) error = errno;
  if (error != 0) {
    ::unlink(tempName.constData());
    return fail(error);
  }
  return true;
}

}  // namespace regtest
