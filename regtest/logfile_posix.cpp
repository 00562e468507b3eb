// The log's safe write with POSIX calls: mkstemp beside the target, every
// write checked, fchmod to the old file's mode, fsync, rename over it.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "regtest/logfile_platform.h"

namespace regtest::detail {

namespace {

SaveError FromErrno(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT: return SaveError::NoSpace;
    case EACCES:
    case EPERM: return SaveError::NoRights;
    case EROFS: return SaveError::ReadOnly;
    case ENOENT: return SaveError::NoFolder;
    case ENOTDIR: return SaveError::BadPath;
    case EISDIR: return SaveError::IsFolder;
    case EIO: return SaveError::Io;
    case ENAMETOOLONG: return SaveError::NameTooLong;
    default: return SaveError::Other;
  }
}

}  // namespace

bool WriteReplacing(const QString& target, const QByteArray& bytes, SaveError* error, QString* other) {
  int code = 0;
  SaveError kind = SaveError::None;
  const QByteArray finalName = QFile::encodeName(target);
  QByteArray tempName = finalName + ".XXXXXX";
  const int fd = ::mkstemp(tempName.data());
  if (fd < 0) {
    code = errno;
    *error = FromErrno(code);
    *other = QString::fromLocal8Bit(strerror(code));
    return false;
  }

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

  WriteAll(bytes,
           [&](const char* data, long long size, SaveError* e) -> long long {
             for (;;) {
               const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
               if (n < 0 && errno == EINTR) continue;
               if (n < 0) *e = FromErrno(code = errno);
               return n;
             }
           },
           &kind);
  const auto check = [&](bool ok) {
    if (!ok && kind == SaveError::None) {
      code = errno;
      kind = FromErrno(code);
    }
  };
  if (kind == SaveError::None) check(::fchmod(fd, mode) == 0);
  if (kind == SaveError::None) check(::fsync(fd) == 0);
  check(::close(fd) == 0);
  if (kind == SaveError::None) check(::rename(tempName.constData(), finalName.constData()) == 0);
  if (kind != SaveError::None) {
    ::unlink(tempName.constData());
    *error = kind;
    if (code != 0) *other = QString::fromLocal8Bit(strerror(code));
    return false;
  }
  return true;
}

}  // namespace regtest::detail
