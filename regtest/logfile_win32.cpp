// The log's safe write with Win32 calls: a new file beside the target, every
// WriteFile checked, FlushFileBuffers, then ReplaceFileW over an existing
// target (which keeps its attributes and security) or MoveFileExW with
// write-through for a new one.
#include <windows.h>

#include <QDir>
#include <QRandomGenerator>
#include <algorithm>
#include <string>

#include "regtest/logfile_platform.h"

namespace regtest::detail {

namespace {

SaveError FromWin32(DWORD error) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return SaveError::NoSpace;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return SaveError::NoRights;
    case ERROR_WRITE_PROTECT: return SaveError::ReadOnly;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_DRIVE: return SaveError::NoFolder;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY: return SaveError::BadPath;
    case ERROR_FILENAME_EXCED_RANGE: return SaveError::NameTooLong;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_GEN_FAILURE: return SaveError::Io;
    default: return SaveError::Other;
  }
}

QString SystemText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  QString out = n ? QString::fromWCharArray(text, static_cast<int>(n)).trimmed()
                  : QStringLiteral("Win32 error %1").arg(error);
  if (text) LocalFree(text);
  return out;
}

std::wstring Native(const QString& path) { return QDir::toNativeSeparators(path).toStdWString(); }

}  // namespace

bool WriteReplacing(const QString& target, const QByteArray& bytes, SaveError* error, QString* other) {
  DWORD code = 0;
  SaveError kind = SaveError::None;
  const auto fail = [&](DWORD c) {
    if (kind == SaveError::None) {
      code = c;
      kind = FromWin32(c);
    }
  };

  // A new file of our own beside the target (never an existing one).
  std::wstring temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temp = Native(target + QStringLiteral(".%1.tmp").arg(QRandomGenerator::global()->generate() & 0xFFFFFF, 6, 16,
                                                         QLatin1Char('0')));
    file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    fail(GetLastError());
    *error = kind;
    *other = SystemText(code);
    return false;
  }

  WriteAll(bytes,
           [&](const char* data, long long size, SaveError* e) -> long long {
             DWORD written = 0;
             if (WriteFile(file, data, static_cast<DWORD>(std::min<long long>(size, 1 << 20)), &written, nullptr))
               return written;
             code = GetLastError();
             *e = FromWin32(code);
             return -1;
           },
           &kind);
  if (kind == SaveError::None && !FlushFileBuffers(file)) fail(GetLastError());
  if (!CloseHandle(file)) fail(GetLastError());
  if (kind == SaveError::None) {
    const std::wstring final = Native(target);
    const DWORD attributes = GetFileAttributesW(final.c_str());
    bool placed;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      placed = ReplaceFileW(final.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                            nullptr) ||
               MoveFileExW(temp.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    } else {
      placed = MoveFileExW(temp.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!placed) fail(GetLastError());
  }
  if (kind != SaveError::None) {
    DeleteFileW(temp.c_str());
    *error = kind;
    if (code != 0) *other = SystemText(code);
    return false;
  }
  return true;
}

}  // namespace regtest::detail
