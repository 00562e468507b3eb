// Saving the test log: one line per log line, CP1251, CR LF after every line.
// The file is written beside the target under a temporary name and put in
// place of the target only when every byte is written and flushed to the
// disk, so a failure (a full disk above all) never leaves a damaged or empty
// file in place of the old one. One source per platform does the writing.
#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace regtest {

// The bytes of the saved log: each line in CP1251 ('?' for a character CP1251
// lacks) followed by CR LF; no lines, no bytes.
QByteArray LogFileBytes(const QStringList& lines);

// The same lines in UTF-8, CR LF after every line.
QByteArray LogFileBytesUtf8(const QStringList& lines);

// Writes `lines` to `path`, replacing an existing file. False with a reason
// in Russian when it could not be done; the old file is then as it was.
bool SaveLogFile(const QString& path, const QStringList& lines, QString* reason);
// The same safe write for bytes already encoded (the record of a run, a UTF-8
// log, the exchange trace).
bool SaveFileBytes(const QString& path, const QByteArray& bytes, QString* reason);

// Why a save failed, whatever the platform said.
enum class SaveError { None, NoSpace, NoRights, ReadOnly, NoFolder, BadPath, IsFolder, Io, NameTooLong, Other };
// The Russian words for it ("на диске нет места", ...); `other` for Other.
QString SaveErrorText(SaveError error, const QString& other = QString());

}  // namespace regtest
