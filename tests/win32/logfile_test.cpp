// The log's safe save in its Windows form, run under Wine: a new file, an
// existing target replaced, a write that fails half way (the old file kept,
// no temporary file left), a missing folder, a folder as the target.
// km_win32_logfile_test FOLDER; exit status 0 when every check passed.
#include <QDir>
#include <QFile>
#include <cstdio>

#include "regtest/logfile.h"
#include "regtest/testing.h"

namespace {

int gFailures = 0;

void Check(bool ok, const char* what, const QString& detail = QString()) {
  if (ok) return;
  ++gFailures;
  std::fprintf(stderr, "km_win32_logfile_test: FAIL: %s %s\n", what, detail.toUtf8().constData());
}

QByteArray Read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

long long FullDisk(const char*, long long size, regtest::SaveError* error) {
  static long long total = 0;  // the first bytes go, then the disk is full
  if (total >= 4) {
    *error = regtest::SaveError::NoSpace;
    return -1;
  }
  total += size < 4 ? size : 4;
  return size < 4 ? size : 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: km_win32_logfile_test FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  const QString path = dir.filePath(QStringLiteral("log.txt"));
  QFile::remove(path);
  QString reason;
  const QStringList lines = {QStringLiteral("Тест Vantor KM4410R"), QStringLiteral("Общее количество ошибок: 0")};

  Check(regtest::SaveLogFile(path, lines, &reason), "a new file", reason);
  Check(Read(path) == regtest::LogFileBytes(lines), "the new file's bytes");
  Check(Read(path).startsWith("\xD2\xE5\xF1\xF2 Vantor KM4410R\r\n"), "CP1251 with CR LF");

  Check(regtest::SaveFileBytes(path, "second\r\n", &reason), "an existing target", reason);
  Check(Read(path) == "second\r\n", "the existing target replaced");

  regtest::SetLogWriterForTests(FullDisk);
  Check(!regtest::SaveFileBytes(path, "third, longer than the disk takes\r\n", &reason), "a full disk fails");
  regtest::SetLogWriterForTests(nullptr);
  Check(reason == QStringLiteral("на диске нет места"), "the full disk's reason", reason);
  Check(Read(path) == "second\r\n", "the old file kept after a failed write");
  Check(dir.entryList(QDir::Files) == QStringList{QStringLiteral("log.txt")}, "no temporary file left",
        dir.entryList(QDir::Files).join(QLatin1Char(' ')));

  Check(!regtest::SaveFileBytes(dir.filePath(QStringLiteral("missing/log.txt")), "x", &reason), "a missing folder");
  Check(reason == QStringLiteral("папка не существует"), "the missing folder's reason", reason);
  Check(!regtest::SaveFileBytes(dir.path(), "x", &reason), "a folder as the target");
  Check(reason == QStringLiteral("это папка, а не файл"), "the folder's reason", reason);

  QFile::remove(path);
  if (gFailures == 0) std::printf("km_win32_logfile_test: all checks passed\n");
  return gFailures == 0 ? 0 : 1;
}
